#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

// The playout buffer of one call's received audio. Decoded audio goes in with the sender's
// timestamps at whatever pace the network delivers it; the audio clock takes it out one block
// at a time. Audio is kept in 10 ms units on a ring indexed by timestamp, so reordered frames
// fall into place, and duplicate and late ones are dropped.
//
// The delay adapts to the network: when the buffer runs dry the playout waits (a frame that is
// merely late then still plays), and when a frame comes after later ones have played the
// playout waits that long once; both are learnt as a safety margin. When every frame of
// a two-second window arrived with more slack than the margin, surplus units are dropped
// (quiet ones first) and the margin relaxes, but never below one block of the audio clock:
// frames and pulls of a steady stream take turns in an order that scheduling may swap, and a
// thinner margin would run dry at each swap. Lost units are concealed by repeating the last
// one with a fade to silence. A timestamp jump, or audio after a pause, restarts the playout
// at the margin. The buffer never holds more than kMaxDelayUnits of audio ahead of the
// playout point, and never more memory than its ring.
class JitterBuffer {
public:
    static constexpr int kUnitSamples = 80;   // 10 ms at 8 kHz
    static constexpr int kUnitMs = 10;
    static constexpr int kCapacityUnits = 64;  // ring size
    static constexpr int kMaxDelayUnits = 30;  // audio ahead of the playout point, at most
    static constexpr int kMinMarginUnits = 1;
    static constexpr int kMaxMarginUnits = 20;
    static constexpr int kWindowBlocks = 100;  // blocks per adaptation window

    struct Stats {
        long played = 0;     // units played as received
        long concealed = 0;  // units made up for missing audio
        long late = 0;       // frames that came after their time
        long duplicate = 0;  // frames whose units were all there already
        long dropped = 0;    // units thrown away to shorten the delay
        long resyncs = 0;    // playout restarts on a timestamp jump
    };

    JitterBuffer();

    // Audio received from the network: `count` samples starting at the sender's `timestampMs`.
    void push(std::uint32_t timestampMs, const std::int16_t* samples, int count);
    // The next `count` samples of playout (a multiple of kUnitSamples).
    void pull(std::int16_t* out, int count);
    // Forgets everything; the next frame starts a new playout.
    void reset();

    // Received audio held ahead of the playout point.
    int delayMs() const;
    int marginMs() const { return margin_ * kUnitMs; }
    const Stats& stats() const { return stats_; }

private:
    struct Slot {
        std::int64_t unit = -1;  // -1 while empty
        std::array<std::int16_t, kUnitSamples> samples{};
    };

    std::int64_t unitOf(std::uint32_t timestampMs) const;
    void startPlayout(std::int64_t unit);
    void learnLateness(int units);
    // The least margin: one block of the audio clock.
    int marginFloor() const { return std::max(kMinMarginUnits, blockUnits_); }
    void store(std::int64_t unit, const std::int16_t* samples, int count);
    void playUnit(std::int16_t* out);
    void conceal(std::int16_t* out);
    bool dropSurplusUnit();
    void trimToMaxDelay();
    void endWindow();
    Slot& slotOf(std::int64_t unit) { return ring_[static_cast<std::size_t>(unit % kCapacityUnits)]; }
    bool holds(std::int64_t unit) const {
        return unit >= 0 && ring_[static_cast<std::size_t>(unit % kCapacityUnits)].unit == unit;
    }

    std::array<Slot, kCapacityUnits> ring_;
    std::array<std::int16_t, kUnitSamples> lastPlayed_{};
    bool started_ = false;
    std::uint32_t baseTimestamp_ = 0;
    std::int64_t playUnit_ = 0;  // next unit to play; unit numbers are kept positive
    std::int64_t endUnit_ = 0;   // one past the newest unit held
    int margin_ = kMinMarginUnits + 1;
    int blockUnits_ = 2;   // units the audio clock takes at a time
    int concealRun_ = 0;   // units concealed in a row
    int waitRun_ = 0;      // units waited for while the buffer was dry
    int stretchPending_ = 0;  // units still to wait, after a frame came too late
    int dropPending_ = 0;  // surplus units still to drop
    int dropWaitBlocks_ = 0;
    // The current adaptation window.
    int windowBlocks_ = 0;
    int windowFrames_ = 0;
    int windowMinSlack_ = kCapacityUnits;
    bool windowTroubled_ = false;  // a late frame or a learnt wait
    int calmWindows_ = 0;
    Stats stats_;
};
