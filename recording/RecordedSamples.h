#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

// A recording's room is pages of its own, given back whole when released: memory grows with
// the recorded minutes, not with the room set aside, and nothing of one recording outlives it.
struct RecordingRoomRelease {
    std::size_t bytes = 0;
    void operator()(std::int16_t* room) const;
};

// The audio of one recorded call: both directions mixed into one 8 kHz mono 16-bit stream.
// Room for the longest allowed recording is set aside before the tap starts, so the audio
// thread only writes samples and then publishes their count: it never allocates, locks or
// waits. Other threads read the samples published so far. The room starts with the 44 bytes
// of a WAV header, so the finished WAV image is the store itself.
class RecordedSamples {
public:
    static constexpr std::size_t kWavHeaderBytes = 44;
    static constexpr int kSampleRate = 8000;
    // The longest recording there is room for, whatever the settings ask.
    static constexpr int kLongestSeconds = 4 * 3600;
    // How far ahead of the tap the pages are made ready.
    static constexpr int kReadySeconds = 60;

    // The limits in samples for a minimum and a maximum recording time in seconds: the
    // maximum falls back to the minimum when it is 0 or less, and gets 1000 samples more.
    static std::int64_t minSamplesFor(int minSeconds);
    static std::int64_t maxSamplesFor(int minSeconds, int maxSeconds);

    // Sets the limits and the room (untouched memory, filled as the tap goes); false when the
    // room cannot be had. Called before the tap starts feeding.
    bool prepare(int minSeconds, int maxSeconds);

    // Audio thread: mixes a block in, as far as the maximum allows.
    void append(const std::int16_t* microphone, const std::int16_t* speaker, int frames);
    // No more samples come (the tap no longer feeds this recording); wakes a waiting reader.
    void stop();

    bool stopped() const { return stopped_.load(std::memory_order_acquire); }
    // Samples published so far; they can be read from data().
    int count() const { return count_.load(std::memory_order_acquire); }
    // The minimum length was reached: only such a recording is stored or sent.
    bool reachedMinimum() const { return reachedMinimum_.load(std::memory_order_acquire); }
    int minSamples() const { return minSamples_; }
    int maxSamples() const { return maxSamples_; }
    const std::int16_t* data() const { return room_ ? room_.get() + kWavHeaderBytes / 2 : nullptr; }
    // Bytes of the room that hold memory now (pages written or made ready).
    std::size_t residentBytes() const;
    // Makes the pages of the next `seconds` past the samples so far ready, so the audio thread
    // does not fault them in. Called by other threads.
    void prepareAhead(int seconds);

    // Waits at most `timeout` until at least `wanted` samples are there or the recording stopped.
    void waitForSamples(int wanted, std::chrono::microseconds timeout);
    // The recording as a WAV file: the header is written in front of the samples.
    std::span<const std::uint8_t> wavImage();
    // Frees the room once the file image no longer needs it.
    void release();

private:
    std::unique_ptr<std::int16_t[], RecordingRoomRelease> room_;
    int minSamples_ = 0;
    int maxSamples_ = 0;
    std::atomic<int> count_{0};
    std::atomic<bool> stopped_{false};
    std::atomic<bool> reachedMinimum_{false};

    // Guards the room against release while another thread makes pages ready; never taken by
    // the audio thread, which only writes once the room is set and before it is released.
    mutable std::mutex roomLock_;
    std::mutex waitLock_;
    std::condition_variable stoppedSignal_;
};

// One mixed sample: the two halves, raised by a fifth, saturated to 16 bits.
inline std::int16_t mixRecordedSample(int microphone, int speaker) {
    const int mixed = (microphone / 2 + speaker / 2) * 6 / 5;
    if (mixed > INT16_MAX) return INT16_MAX;
    if (mixed < INT16_MIN) return INT16_MIN;
    return static_cast<std::int16_t>(mixed);
}

// The 44-byte header of a WAV file of `samples` 8 kHz mono 16-bit samples.
void writeWavHeader(std::uint8_t* header, std::uint32_t samples);
