#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "voice/engine/media/AudioBackend.h"

// A sound system that the test clocks: each block() runs one block of the stream at once.
class FakeAudioBackend final : public AudioBackend {
public:
    bool initialize() override { return usable; }
    std::vector<AudioDevice> devices() const override {
        return {{"Fake Microphone", AudioDevice::Capture, 0},
                {"Fake Speaker", AudioDevice::Play | AudioDevice::Ring, 1},
                {"Fake Ringer", AudioDevice::Play | AudioDevice::Ring, 2}};
    }
    void defaultDevices(int& input, int& output, int& ring) const override {
        input = 0;
        output = 1;
        ring = 1;
    }
    bool start(const StreamFormat& streamFormat, AudioStreamClient& streamClient) override {
        ++starts;
        format = streamFormat;
        client = &streamClient;
        return true;
    }
    void stop() override { client = nullptr; }

    bool running() const { return client != nullptr; }
    // One block with this microphone input (silence when empty); the speaker's samples.
    std::vector<std::int16_t> block(const std::vector<std::int16_t>& microphone = {}) {
        std::vector<std::int16_t> input = microphone;
        input.resize(static_cast<std::size_t>(format.frames));
        std::vector<std::int16_t> speaker(static_cast<std::size_t>(format.frames));
        client->processBlock(input.data(), speaker.data(), format.frames);
        return speaker;
    }
    std::vector<std::int16_t> ringBlock() {
        std::vector<std::int16_t> ring(static_cast<std::size_t>(format.frames));
        client->produceRingBlock(ring.data(), format.frames);
        return ring;
    }

    bool usable = true;
    int starts = 0;
    StreamFormat format;
    AudioStreamClient* client = nullptr;
};
