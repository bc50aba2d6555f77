#pragma once

#include <lame.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "recording/RecordingAgent.h"
#include "recording/RecordingSettings.h"
#include "recording/RecordingStore.h"
#include "support/FakeVoiceEngine.h"

// How late the lab recording server's late answer comes in these tests: long past the phone's
// time limit however slowly the phone's upload thread (the lowest priority) gets to wait for it.
inline constexpr std::chrono::milliseconds kMuchLater = std::chrono::minutes(10);

// A voice engine whose recorder tap the test calls, as the audio thread would.
class TapVoiceEngine : public FakeVoiceEngine {
public:
    void setRecorderTap(RecorderTap tap) override {
        std::lock_guard guard(tapLock_);
        tap_ = std::move(tap);
    }
    bool tapInstalled() const {
        std::lock_guard guard(tapLock_);
        return static_cast<bool>(tap_);
    }
    // Plays into the tap in blocks of 160 (20 ms): the microphone says `microphone`,
    // the speaker `speaker` (either may be empty: silence).
    void play(const std::vector<std::int16_t>& microphone, const std::vector<std::int16_t>& speaker) {
        const std::size_t total = std::max(microphone.size(), speaker.size());
        for (std::size_t at = 0; at < total; at += kBlock) {
            const int frames = static_cast<int>(std::min(kBlock, total - at));
            // Called outside the lock: a block may still be under way after the tap is removed.
            RecorderTap tap;
            {
                std::lock_guard guard(tapLock_);
                tap = tap_;
            }
            if (tap) tap(microphone.empty() ? nullptr : microphone.data() + at,
                         speaker.empty() ? nullptr : speaker.data() + at, frames);
        }
    }
    static constexpr std::size_t kBlock = 160;

private:
    mutable std::mutex tapLock_;
    RecorderTap tap_;
};

// The agent side of the recorder: the call's facts as a test sets them, and what was asked.
class FakeRecordingAgent : public RecordingAgent {
public:
    RecordingFacts recordingFacts() override {
        std::lock_guard guard(lock_);
        return facts_;
    }
    void beginRecordedCall(const RecordingFacts& facts) override {
        std::lock_guard guard(lock_);
        facts_ = facts;
    }
    void endRecordedCall() override {
        std::lock_guard guard(lock_);
        facts_.callTime.clear();
    }
    void requestCtiTime() override {}
    void startCallTimer() override {}
    void clearTickerAfterCall() override {}
    void sendRecordingNotice(const std::string& trackNumber, const std::string& name) override {
        std::lock_guard guard(lock_);
        notices_.push_back("279," + trackNumber + "^" + name);
    }

    void change(const std::function<void(RecordingFacts&)>& edit) {
        std::lock_guard guard(lock_);
        edit(facts_);
    }
    std::vector<std::string> notices() const {
        std::lock_guard guard(lock_);
        return notices_;
    }

private:
    mutable std::mutex lock_;
    RecordingFacts facts_{"T1", "5551234", "2026.12.08.10.00.00", {}, "DefClient", "DefCampaign", "1001", "10.0.0.5"};
    std::vector<std::string> notices_;
};

class FakeRecordingConfig : public RecordingConfig {
public:
    RecordingSettings recording() const override {
        std::lock_guard guard(lock_);
        return settings_;
    }
    RecordServer recordServer() const override {
        std::lock_guard guard(lock_);
        return server_;
    }
    std::string recordingServerCaFile() const override {
        std::lock_guard guard(lock_);
        return caFile_;
    }
    void set(RecordingSettings settings) {
        std::lock_guard guard(lock_);
        settings_ = std::move(settings);
    }
    void setServer(RecordServer server) {
        std::lock_guard guard(lock_);
        server_ = std::move(server);
    }
    void setCaFile(std::string file) {
        std::lock_guard guard(lock_);
        caFile_ = std::move(file);
    }

private:
    mutable std::mutex lock_;
    RecordingSettings settings_{true, false, false, 1, 3, false, "high"};
    RecordServer server_;
    std::string caFile_;
};

// Points the recordings folder at `folder` while it lives.
class RecordingsFolder {
public:
    explicit RecordingsFolder(const std::string& folder) { RecordingStore::useFolder(folder); }
    ~RecordingsFolder() { RecordingStore::useFolder({}); }
    RecordingsFolder(const RecordingsFolder&) = delete;
    RecordingsFolder& operator=(const RecordingsFolder&) = delete;
};

inline std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The samples of a WAV file image of 8 kHz mono 16-bit audio (the header skipped).
inline std::vector<std::int16_t> wavSamples(const std::vector<std::uint8_t>& image) {
    std::vector<std::int16_t> samples;
    for (std::size_t at = 44; at + 1 < image.size(); at += 2)
        samples.push_back(static_cast<std::int16_t>(image[at] | image[at + 1] << 8));
    return samples;
}

// The samples of an MP3 image, decoded by LAME's own decoder. It trims neither the encoder's
// delay nor the padding: a little more than went in comes out.
inline std::vector<std::int16_t> mp3Samples(std::vector<std::uint8_t> image) {
    hip_t decoder = hip_decode_init();
    std::vector<std::int16_t> samples;
    std::vector<short> left(8 * 1152), right(8 * 1152);
    constexpr std::size_t kPiece = 512;
    for (std::size_t at = 0; at < image.size(); at += kPiece) {
        const std::size_t length = std::min(kPiece, image.size() - at);
        for (int decoded = hip_decode1(decoder, image.data() + at, length, left.data(), right.data()); decoded > 0;
             decoded = hip_decode1(decoder, nullptr, 0, left.data(), right.data()))
            samples.insert(samples.end(), left.begin(), left.begin() + decoded);
    }
    hip_decode_exit(decoder);
    return samples;
}
