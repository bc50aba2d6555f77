#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "voice/engine/media/MediaEngine.h"

// The media side as the IAX2 engine sees it: records what it is told ("open 0 4",
// "close 0", "quelch 0 1", "voice 0 160 bytes" ...) and lets a test produce encoded voice.
class FakeMediaEngine : public MediaEngine {
public:
    bool initializeResult = true;

    std::vector<std::string> operations() const {
        std::lock_guard guard(lock_);
        return operations_;
    }
    int count(const std::string& operation) const {
        const auto all = operations();
        return static_cast<int>(std::count(all.begin(), all.end(), operation));
    }
    int countStartingWith(const std::string& prefix) const {
        const auto all = operations();
        return static_cast<int>(std::count_if(all.begin(), all.end(), [&](const std::string& operation) {
            return operation.rfind(prefix, 0) == 0;
        }));
    }
    // As the audio thread would: hands the engine a block of encoded voice for a call.
    void produce(int callNo, std::uint32_t timestampMs, std::vector<std::uint8_t> payload) {
        SendVoice send;
        {
            std::lock_guard guard(lock_);
            send = send_;
        }
        if (send) send(callNo, timestampMs, std::move(payload));
    }

    // As the device watch would: tells the engine what happened to the devices.
    void tellDevices(DeviceChange change, const std::string& detail) {
        DeviceEvents events;
        {
            std::lock_guard guard(lock_);
            events = deviceEvents_;
        }
        if (events) events(change, detail);
    }

    bool initialize() override { return record("initialize"), initializeResult; }
    std::vector<AudioDevice> devices() override { return {{"Plantronics headset", 7, 3}}; }
    void currentDevices(int& input, int& output, int& ring) override { input = output = ring = 3; }
    void setDevices(int input, int output, int ring) override {
        record("devices " + std::to_string(input) + " " + std::to_string(output) + " " + std::to_string(ring));
    }
    void setDeviceEvents(DeviceEvents events) override {
        std::lock_guard guard(lock_);
        deviceEvents_ = std::move(events);
    }
    void setFrameSamples(int samples) override { record("samples " + std::to_string(samples)); }
    void setSendVoice(SendVoice send) override {
        std::lock_guard guard(lock_);
        send_ = std::move(send);
    }
    bool openChannel(int callNo, int format) override {
        return record("open " + std::to_string(callNo) + " " + std::to_string(format)), true;
    }
    void closeChannel(int callNo) override { record("close " + std::to_string(callNo)); }
    void setQuelched(int callNo, bool quelched) override {
        record("quelch " + std::to_string(callNo) + " " + std::to_string(quelched));
    }
    void receiveVoice(int callNo, std::uint32_t timestampMs, const std::uint8_t*, std::size_t size) override {
        record("voice " + std::to_string(callNo) + " " + std::to_string(timestampMs) + " " + std::to_string(size));
    }
    void startRingTone() override { record("ring on"); }
    void stopRingTone() override { record("ring off"); }
    void setRecorderTap(VoiceEngine::RecorderTap tap) override { record(tap ? "tap on" : "tap off"); }

private:
    void record(const std::string& operation) {
        std::lock_guard guard(lock_);
        operations_.push_back(operation);
    }

    mutable std::mutex lock_;
    std::vector<std::string> operations_;
    SendVoice send_;
    DeviceEvents deviceEvents_;
};
