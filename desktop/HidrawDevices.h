#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Where the system's hidraw devices are, and the kernel's news of them coming and going.
class HidrawDevices {
public:
    // A hidraw device added or removed ("hidraw3").
    struct Change {
        bool added = false;
        std::string name;
    };

    // `sysfsClass` lists the devices (/sys/class/hidraw), `deviceFolder` holds their nodes (/dev).
    explicit HidrawDevices(std::string sysfsClass = "/sys/class/hidraw", std::string deviceFolder = "/dev");
    ~HidrawDevices();
    HidrawDevices(const HidrawDevices&) = delete;
    HidrawDevices& operator=(const HidrawDevices&) = delete;

    // The devices present now, by name.
    std::vector<std::string> present() const;
    // The device's report descriptor; empty when it cannot be read.
    std::vector<std::uint8_t> reportDescriptor(const std::string& name) const;
    std::string nodePath(const std::string& name) const { return deviceFolder_ + "/" + name; }

    // Starts listening for the kernel's device messages; false (logged) when it cannot.
    bool listen();
    // The socket to wait on for a change, or -1 when not listening.
    int fd() const { return socket_; }
    // Reads one kernel message: the hidraw change it reports, if any.
    std::optional<Change> readChange();

    // A kernel device message ("add@/devices/...\0ACTION=add\0SUBSYSTEM=hidraw\0DEVNAME=hidraw3\0...").
    static std::optional<Change> parseUevent(std::span<const char> message);

private:
    const std::string sysfsClass_;
    const std::string deviceFolder_;
    int socket_ = -1;
};
