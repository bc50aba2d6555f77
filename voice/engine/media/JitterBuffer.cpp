#include "voice/engine/media/JitterBuffer.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {

// Unit number of the first frame of a playout; far enough from 0 that earlier units stay positive.
constexpr std::int64_t kOriginUnit = std::int64_t{1} << 32;
// A frame this far behind the playout point means the sender restarted its clock.
constexpr int kRestartUnits = 100;
// After a dry spell, audio this far beyond the margin restarts the playout instead of being waited for.
constexpr int kRealignUnits = 4;
// Waits longer than this are pauses of the sender, not lateness to learn from.
constexpr int kMaxLearntWaitUnits = 10;
// Repeated audio fades to silence over this many units.
constexpr int kFadeUnits = 4;
// Mean magnitude under which a unit is quiet enough to drop unnoticed.
constexpr int kQuietMagnitude = 300;
// Calm windows before the margin relaxes by one unit.
constexpr int kCalmWindowsPerRelax = 2;

bool isQuiet(const std::array<std::int16_t, JitterBuffer::kUnitSamples>& samples) {
    long sum = 0;
    for (std::int16_t sample : samples) sum += std::abs(static_cast<int>(sample));
    return sum < static_cast<long>(kQuietMagnitude) * JitterBuffer::kUnitSamples;
}

}  // namespace

JitterBuffer::JitterBuffer() = default;

void JitterBuffer::reset() {
    for (Slot& slot : ring_) slot.unit = -1;
    lastPlayed_.fill(0);
    started_ = false;
    margin_ = kMinMarginUnits + 1;
    concealRun_ = waitRun_ = stretchPending_ = dropPending_ = dropWaitBlocks_ = 0;
    windowBlocks_ = windowFrames_ = calmWindows_ = 0;
    windowMinSlack_ = kCapacityUnits;
    windowTroubled_ = false;
}

int JitterBuffer::delayMs() const {
    if (!started_) return 0;
    return static_cast<int>(std::max<std::int64_t>(0, endUnit_ - playUnit_)) * kUnitMs;
}

std::int64_t JitterBuffer::unitOf(std::uint32_t timestampMs) const {
    const auto elapsed = static_cast<std::int32_t>(timestampMs - baseTimestamp_);  // wraps with the sender's clock
    const std::int64_t rounded = elapsed >= 0 ? (elapsed + kUnitMs / 2) / kUnitMs : -((-elapsed + kUnitMs / 2) / kUnitMs);
    return kOriginUnit + rounded;
}

void JitterBuffer::startPlayout(std::int64_t unit) {
    for (Slot& slot : ring_) slot.unit = -1;
    margin_ = std::max(margin_, marginFloor());
    playUnit_ = unit - margin_;
    endUnit_ = playUnit_;
    waitRun_ = stretchPending_ = dropPending_ = 0;
}

void JitterBuffer::push(std::uint32_t timestampMs, const std::int16_t* samples, int count) {
    if (count <= 0) return;
    if (!started_) {
        started_ = true;
        baseTimestamp_ = timestampMs;
        startPlayout(kOriginUnit);
    }
    std::int64_t unit = unitOf(timestampMs);
    const int units = (count + kUnitSamples - 1) / kUnitSamples;
    const bool jumped = unit >= playUnit_ + kCapacityUnits || unit + units <= playUnit_ - kRestartUnits;
    const bool afterPause = endUnit_ <= playUnit_ && unit - playUnit_ > margin_ + kRealignUnits;
    if (jumped || afterPause) {
        if (jumped) ++stats_.resyncs;
        baseTimestamp_ = timestampMs;
        unit = kOriginUnit;
        startPlayout(unit);
    }
    if (unit + units <= playUnit_) {
        // Overtaken by later audio: lost already. Unless it is a stray from long ago, wait that
        // much longer from now on.
        ++stats_.late;
        const int lateness = static_cast<int>(playUnit_ - unit);
        if (lateness <= kMaxLearntWaitUnits) {
            learnLateness(lateness);
            stretchPending_ = std::min(kMaxLearntWaitUnits, stretchPending_ + lateness);
        }
        return;
    }
    if (waitRun_ > 0 && unit <= playUnit_ && waitRun_ <= kMaxLearntWaitUnits) learnLateness(waitRun_);
    waitRun_ = 0;
    ++windowFrames_;
    windowMinSlack_ = std::min<std::int64_t>(windowMinSlack_, std::max<std::int64_t>(0, unit - playUnit_));
    store(unit, samples, count);
}

void JitterBuffer::learnLateness(int units) {
    margin_ = std::min(kMaxMarginUnits, margin_ + units);
    windowTroubled_ = true;
}

void JitterBuffer::store(std::int64_t unit, const std::int16_t* samples, int count) {
    bool added = false;
    for (int offset = 0; offset < count && unit < playUnit_ + kCapacityUnits; offset += kUnitSamples, ++unit) {
        if (unit < playUnit_ || holds(unit)) continue;
        Slot& slot = slotOf(unit);
        const int taken = std::min(kUnitSamples, count - offset);
        std::copy(samples + offset, samples + offset + taken, slot.samples.begin());
        std::fill(slot.samples.begin() + taken, slot.samples.end(), 0);
        slot.unit = unit;
        endUnit_ = std::max(endUnit_, unit + 1);
        added = true;
    }
    if (!added) ++stats_.duplicate;
}

void JitterBuffer::pull(std::int16_t* out, int count) {
    const int blockUnits = std::max(1, count / kUnitSamples);
    if (blockUnits != blockUnits_) {
        // Playout started before the audio clock's block was known: wait the missing margin now.
        blockUnits_ = blockUnits;
        if (started_ && margin_ < marginFloor())
            stretchPending_ += marginFloor() - std::exchange(margin_, marginFloor());
    }
    if (++windowBlocks_ >= kWindowBlocks) endWindow();
    if (!started_) {
        std::fill(out, out + count, 0);
        return;
    }
    trimToMaxDelay();
    bool droppedThisBlock = false;
    for (int offset = 0; offset < count; offset += kUnitSamples) {
        if (!droppedThisBlock) droppedThisBlock = dropSurplusUnit();
        playUnit(out + offset);
    }
}

void JitterBuffer::playUnit(std::int16_t* out) {
    if (stretchPending_ > 0 && endUnit_ - playUnit_ < kMaxDelayUnits) {
        --stretchPending_;
        conceal(out);
        return;
    }
    if (holds(playUnit_)) {
        Slot& slot = slotOf(playUnit_);
        std::copy(slot.samples.begin(), slot.samples.end(), out);
        lastPlayed_ = slot.samples;
        slot.unit = -1;
        ++playUnit_;
        ++stats_.played;
        concealRun_ = 0;
        return;
    }
    conceal(out);
    if (endUnit_ > playUnit_) {
        ++playUnit_;  // later audio is here: this unit is lost
    } else {
        ++waitRun_;  // dry: wait, so that a late frame still plays
    }
}

void JitterBuffer::conceal(std::int16_t* out) {
    const double from = std::max(0.0, 1.0 - static_cast<double>(concealRun_) / kFadeUnits);
    ++concealRun_;
    const double to = std::max(0.0, 1.0 - static_cast<double>(concealRun_) / kFadeUnits);
    for (int i = 0; i < kUnitSamples; ++i) {
        const double gain = from + (to - from) * i / kUnitSamples;
        out[i] = static_cast<std::int16_t>(lastPlayed_[i] * gain);
    }
    ++stats_.concealed;
}

// Drops the unit at the playout point when a drop is due and the unit is quiet (or the wait
// for a quiet one has lasted a window).
bool JitterBuffer::dropSurplusUnit() {
    if (dropPending_ == 0 || !holds(playUnit_)) return false;
    Slot& slot = slotOf(playUnit_);
    if (!isQuiet(slot.samples) && ++dropWaitBlocks_ < kWindowBlocks) return false;
    slot.unit = -1;
    ++playUnit_;
    ++stats_.dropped;
    --dropPending_;
    dropWaitBlocks_ = 0;
    return true;
}

void JitterBuffer::trimToMaxDelay() {
    while (endUnit_ - playUnit_ > kMaxDelayUnits) {
        if (holds(playUnit_)) {
            slotOf(playUnit_).unit = -1;
            ++stats_.dropped;
        }
        ++playUnit_;
    }
}

// Every frame of a calm window came with slack beyond the margin: that much delay is surplus.
void JitterBuffer::endWindow() {
    const bool calm = windowFrames_ > 0 && !windowTroubled_;
    if (calm) {
        margin_ = std::max(margin_, marginFloor());
        dropPending_ = std::max(0, windowMinSlack_ - margin_);
        if (++calmWindows_ >= kCalmWindowsPerRelax) {
            margin_ = std::max(marginFloor(), margin_ - 1);
            calmWindows_ = 0;
        }
    } else {
        calmWindows_ = 0;
    }
    windowBlocks_ = windowFrames_ = 0;
    windowMinSlack_ = kCapacityUnits;
    windowTroubled_ = false;
}
