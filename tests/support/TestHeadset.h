#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

// A telephony headset as the HID Usage Tables describe one, on one end of a socket pair: the
// phone gets the other end. Input report 1: hook switch, phone mute (relative), flash, five
// bits of padding. Output report 2: the off-hook, mute and ring lights, five bits of padding.
// It builds and reads its report bytes itself.
class TestHeadset {
public:
    // Input report bits.
    static constexpr std::uint8_t kHook = 1, kMute = 2, kFlash = 4;
    // Output report bits.
    static constexpr std::uint8_t kOffHookLight = 1, kMuteLight = 2, kRingLight = 4;

    // With `relativeHook` the hook switch reports presses instead of its position.
    static std::vector<std::uint8_t> descriptor(bool relativeHook = false) {
        return {
            0x05, 0x0B,  // Usage Page (Telephony)
            0x09, 0x05,  // Usage (Headset)
            0xA1, 0x01,  // Collection (Application)
            0x85, 0x01,  //   Report ID (1)
            0x15, 0x00,  //   Logical Minimum (0)
            0x25, 0x01,  //   Logical Maximum (1)
            0x75, 0x01,  //   Report Size (1)
            0x95, 0x01,  //   Report Count (1)
            0x09, 0x20,  //   Usage (Hook Switch)
            0x81, static_cast<std::uint8_t>(relativeHook ? 0x06 : 0x02),  // Input (Data, Variable, Absolute/Relative)
            0x09, 0x2F,  //   Usage (Phone Mute)
            0x81, 0x06,  //   Input (Data, Variable, Relative)
            0x09, 0x21,  //   Usage (Flash)
            0x81, 0x02,  //   Input (Data, Variable, Absolute)
            0x95, 0x05,  //   Report Count (5)
            0x81, 0x03,  //   Input (Constant): padding
            0x85, 0x02,  //   Report ID (2)
            0x05, 0x08,  //   Usage Page (LEDs)
            0x95, 0x03,  //   Report Count (3)
            0x09, 0x17,  //   Usage (Off-Hook)
            0x09, 0x09,  //   Usage (Mute)
            0x09, 0x18,  //   Usage (Ring)
            0x91, 0x02,  //   Output (Data, Variable, Absolute)
            0x95, 0x05,  //   Report Count (5)
            0x91, 0x03,  //   Output (Constant): padding
            0xC0,        // End Collection
        };
    }

    TestHeadset() {
        int ends[2] = {-1, -1};
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) == 0) {
            own_ = ends[0];
            phone_ = ends[1];
        }
    }
    ~TestHeadset() {
        unplug();
        if (phone_ >= 0) ::close(phone_);
    }
    TestHeadset(const TestHeadset&) = delete;
    TestHeadset& operator=(const TestHeadset&) = delete;

    // The phone's end; the phone closes it.
    int takePhoneEnd() {
        const int fd = phone_;
        phone_ = -1;
        return fd;
    }
    // Sends input report 1 with these bits set.
    bool send(std::uint8_t bits) const {
        const std::uint8_t report[2] = {1, bits};
        return ::send(own_, report, sizeof report, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof report);
    }
    // A press of a relative control: its bit, then nothing.
    bool press(std::uint8_t bit) const { return send(bit) && send(0); }
    // Reads light reports until one shows exactly `lights`.
    bool waitForLights(std::uint8_t lights, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (lights_ != lights) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd readable{own_, POLLIN, 0};
            if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) return false;
            std::uint8_t report[16];
            const ssize_t size = ::recv(own_, report, sizeof report, 0);
            if (size <= 0) return false;
            if (size == 2 && report[0] == 2) lights_ = report[1];
            ++lightReports_;
        }
        return true;
    }
    std::optional<std::uint8_t> lights() const { return lights_; }
    int lightReports() const { return lightReports_; }
    void unplug() {
        if (own_ >= 0) ::close(own_);
        own_ = -1;
    }

private:
    int own_ = -1;
    int phone_ = -1;
    std::optional<std::uint8_t> lights_;
    int lightReports_ = 0;
};
