#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "desktop/HeadsetDevice.h"
#include "desktop/HidrawDevices.h"

// The call buttons and lights of the agent's telephony headsets: the hook switch answers a
// ringing line or hangs up the call, mute holds and resumes the call as the window's hold
// pair does, and the lights follow the calls. Headsets are found at start and when plugged
// in; one thread reads them all.
class HeadsetControls {
public:
    // What the headset sees of the calls; read afresh for every press and every light.
    struct CallView {
        int ringingLine = -1;  // an incoming line still ringing (engine call 0..2), or -1
        bool inCall = false;   // the agent has a call the Hang Up button ends
        bool held = false;     // the window's hold is on
        std::array<bool, 3> lineUp{};
    };
    // What the headset asks of the agent: the same operations the window's buttons run.
    class Agent {
    public:
        virtual ~Agent() = default;
        virtual CallView headsetCallView() = 0;
        virtual void answerLine(int line) = 0;  // selecting a ringing line answers it
        virtual void dropLine(int line) = 0;
        virtual void hangUp() = 0;      // the Hang Up button
        virtual void toggleHold() = 0;  // the hold pair
    };

    explicit HeadsetControls(Agent& agent, std::unique_ptr<HidrawDevices> system = std::make_unique<HidrawDevices>());
    ~HeadsetControls();
    HeadsetControls(const HeadsetControls&) = delete;
    HeadsetControls& operator=(const HeadsetControls&) = delete;

    // Opens the headsets present, listens for headsets plugged in and starts the thread.
    void start();
    void stop();
    // Takes a headset on an open descriptor (it is closed when the headset goes), from any
    // thread; false, with the descriptor closed, when its report descriptor names no hook switch.
    bool addDevice(int fd, std::span<const std::uint8_t> reportDescriptor, const std::string& name);
    std::size_t deviceCount() const { return deviceCount_; }

private:
    void wakeThread();
    void run();
    void waitForActivity();
    void takeAddedDevices();
    void readSystemChange();
    // A hidraw device that is a headset is opened; false while it cannot be.
    bool openSystemDevice(const std::string& name, bool lastAttempt);
    void adopt(int fd, const HidReportLayout& layout, const std::string& name);
    void retryPendingOpens();
    void readDevice(std::size_t index);
    void onPress(HeadsetPress press, const std::string& device);
    void answer(const CallView& view);
    void hangUp(const CallView& view);
    void showLights();
    void forgetEndedAnswer(const CallView& view);
    bool answeredLineUp(const CallView& view) const;

    Agent& agent_;
    const std::unique_ptr<HidrawDevices> system_;
    int wake_ = -1;  // an eventfd: stop, or a device added
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> deviceCount_{0};
    std::mutex addedLock_;
    std::vector<std::unique_ptr<HeadsetDevice>> added_;
    // Owned by the thread.
    std::vector<std::unique_ptr<HeadsetDevice>> devices_;
    std::map<std::string, int> pendingOpens_;  // plugged in, not yet openable: attempts left
    int answeredLine_ = -1;                    // the line the hook switch answered
    bool answeredSeenUp_ = false;
};
