#pragma once

#include <array>
#include <cstdint>

// Mixes one audio block of a conversation: the agent's speaker gets every party (and the ring
// tone, when it plays there); each party hears the agent's microphone and every other party.
// Sums saturate at the 16-bit limits instead of wrapping.
class ConferenceMixer {
public:
    static constexpr int kMaxParties = 8;
    static constexpr int kMaxFrames = 240;

    // Where party `party` puts what it received for this block, before mix().
    std::int16_t* received(int party) { return received_[party].data(); }
    // `ring` may be null.
    void mix(const std::int16_t* microphone, const std::int16_t* ring, int parties, int frames, std::int16_t* speaker);
    // After mix(): what party `party` hears.
    const std::int16_t* heardBy(int party) const { return heard_[party].data(); }

private:
    using Block = std::array<std::int16_t, kMaxFrames>;
    std::array<Block, kMaxParties> received_{};
    std::array<Block, kMaxParties> heard_{};
    std::array<std::int32_t, kMaxFrames> everyone_{};
};
