#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "desktop/HidReportDescriptor.h"

// What the agent pressed on a headset.
enum class HeadsetPress {
    OffHook,    // the hook switch reports the headset picked up
    OnHook,     // ... and put down
    HookPress,  // a hook switch that reports presses, not a position
    Mute,
    Flash,
};
const char* headsetPressName(HeadsetPress press);

// The lights a headset shows.
struct HeadsetLights {
    bool offHook = false;
    bool ring = false;
    bool mute = false;
    bool operator==(const HeadsetLights&) const = default;
};

// One telephony headset on an open file descriptor (a hidraw node, or one end of a test's
// socket pair): reads its input reports into presses and writes its lights as output
// reports. Closes the descriptor when destroyed.
class HeadsetDevice {
public:
    HeadsetDevice(int fd, std::string name, HidReportLayout layout);
    ~HeadsetDevice();
    HeadsetDevice(const HeadsetDevice&) = delete;
    HeadsetDevice& operator=(const HeadsetDevice&) = delete;

    int fd() const { return fd_; }
    const std::string& name() const { return name_; }

    // Reads one input report and appends the presses it carries; false when the device is
    // gone (end of file, or an error other than an interruption).
    bool readPresses(std::vector<HeadsetPress>& presses);
    // The presses one input report carries, as the report id and bytes the device sent.
    std::vector<HeadsetPress> decode(std::span<const std::uint8_t> report);
    // Writes the output reports whose lights differ from what the device shows.
    void show(const HeadsetLights& lights);

private:
    // The controls one report sets, each on or off.
    std::map<std::uint32_t, bool> levelsIn(std::uint8_t reportId, std::span<const std::uint8_t> payload) const;
    void pressesFromLevel(std::uint32_t usage, bool on, bool relative, std::vector<HeadsetPress>& presses);
    std::vector<std::uint8_t> outputReport(std::uint8_t reportId, const HeadsetLights& lights) const;

    const int fd_;
    const std::string name_;
    const HidReportLayout layout_;
    std::map<std::uint32_t, bool> levels_;  // last level of each absolute control
    bool lightsShown_ = false;
    HeadsetLights shown_;
};
