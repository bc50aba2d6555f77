#pragma once

#include <atomic>
#include <memory>
#include <mutex>

class CallParam;
class VoiceEngine;

// Feeds the recording of the call in hand from the voice engine's audio callback. The audio
// thread finds the recording through one atomic pointer and marks itself busy while it
// writes, so stopping never waits on a lock the audio thread holds and never frees what it
// is writing to.
class RecorderTap {
public:
    explicit RecorderTap(VoiceEngine& voice) : voice_(voice) {}
    ~RecorderTap();
    RecorderTap(const RecorderTap&) = delete;
    RecorderTap& operator=(const RecorderTap&) = delete;

    // Starts feeding `recording` (stopping any other first) with its limits; nothing is
    // captured when the minimum is not below the maximum or the room cannot be had.
    void recorderStart(int minSeconds, int maxSeconds, std::shared_ptr<CallParam> recording);
    // Stops feeding; the recording that was fed (marked stopped), or none.
    std::shared_ptr<CallParam> recorderStop();
    bool recorderActive() const;

private:
    void feed(const std::int16_t* microphone, const std::int16_t* speaker, int frames);
    std::shared_ptr<CallParam> detach();

    VoiceEngine& voice_;
    mutable std::mutex lock_;  // start and stop; never taken by the audio thread
    std::shared_ptr<CallParam> fed_;
    std::atomic<CallParam*> target_{nullptr};
    std::atomic<bool> feeding_{false};
};
