#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "voice/engine/media/Codec.h"
#include "voice/engine/media/JitterBuffer.h"

// The media of one call: the decoder and jitter buffer of what it receives, the encoder of
// what it is sent, and its quelch. The network thread calls receive(); the audio thread calls
// the rest once per block.
class Channel {
public:
    static constexpr int kMaxBlockSamples = 240;

    struct Payload {
        std::uint32_t timestampMs = 0;
        std::vector<std::uint8_t> bytes;
    };

    Channel(int callNo, std::unique_ptr<Codec> encoder, std::unique_ptr<Codec> decoder);

    int callNo() const { return callNo_; }

    // Network thread: a received payload; dropped while quelched, logged when malformed.
    void receive(std::uint32_t timestampMs, const std::uint8_t* payload, std::size_t size);
    void setQuelched(bool quelched) { quelched_.store(quelched); }
    bool quelched() const { return quelched_.load(); }

    // Audio thread, once per block. Starts the block: notices a quelch change, advances the clock.
    // Returns whether the call takes part in this block.
    bool beginBlock(int frames);
    // The far end's audio for this block.
    void pullReceived(std::int16_t* out, int frames);
    // Encodes what the call hears in this block; a payload once whole codec frames are ready.
    std::optional<Payload> encodeHeard(const std::int16_t* block, int frames);

private:
    std::uint32_t timestampOf(std::int64_t sampleClock) const;

    const int callNo_;
    const std::unique_ptr<Codec> encoder_;
    const std::chrono::steady_clock::time_point opened_;
    std::atomic<bool> quelched_{false};

    // Receiving side (network thread).
    std::mutex decodeLock_;
    std::unique_ptr<Codec> decoder_;
    std::vector<std::int16_t> decoded_;
    long malformed_ = 0;
    std::chrono::steady_clock::time_point lastMalformedLog_;

    std::mutex jitterLock_;
    JitterBuffer jitter_;

    // Sending side (audio thread).
    bool wasQuelched_ = false;
    bool clockStarted_ = false;
    std::int64_t sampleClock_ = 0;  // samples since the channel opened, at the start of the block
    std::array<std::int16_t, kMaxBlockSamples * 2> unsent_{};
    int unsentCount_ = 0;
};
