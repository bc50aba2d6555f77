#include "voice/engine/media/ConferenceMixer.h"

#include <algorithm>

namespace {
std::int16_t saturate(std::int32_t value) { return static_cast<std::int16_t>(std::clamp<std::int32_t>(value, -32768, 32767)); }
}  // namespace

void ConferenceMixer::mix(const std::int16_t* microphone, const std::int16_t* ring, int parties, int frames,
                          std::int16_t* speaker) {
    for (int i = 0; i < frames; ++i) {
        std::int32_t far = 0;
        for (int party = 0; party < parties; ++party) far += received_[party][i];
        speaker[i] = saturate(far + (ring ? ring[i] : 0));
        everyone_[i] = far + microphone[i];
    }
    for (int party = 0; party < parties; ++party)
        for (int i = 0; i < frames; ++i) heard_[party][i] = saturate(everyone_[i] - received_[party][i]);
}
