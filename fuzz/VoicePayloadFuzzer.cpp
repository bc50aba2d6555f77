// Voice payloads from a peer: any bytes, for any codec, decode or are refused without harm,
// and whatever decodes goes through a jitter buffer that stays within its bounds.

#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "voice/engine/media/Codec.h"
#include "voice/engine/media/JitterBuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    constexpr std::array<int, 4> formats{iax_format::Ulaw, iax_format::Alaw, iax_format::Gsm, iax_format::Speex};
    auto codec = makeCodec(formats[data[0] % formats.size()]);
    JitterBuffer buffer;
    std::array<std::int16_t, 240> block;
    // The rest is payloads: a length byte, a timestamp step byte, then the payload.
    std::uint32_t timestamp = 0;
    for (std::size_t at = 1; at + 2 <= size;) {
        const std::size_t length = data[at];
        timestamp += static_cast<std::uint32_t>(static_cast<std::int8_t>(data[at + 1])) * 10u;
        at += 2;
        const std::size_t taken = length < size - at ? length : size - at;
        std::vector<std::int16_t> samples{7};
        if (codec->decode(data + at, taken, samples)) {
            buffer.push(timestamp, samples.data() + 1, static_cast<int>(samples.size() - 1));
        } else if (samples.size() != 1) {
            std::abort();  // a refused payload appended samples
        }
        buffer.pull(block.data(), data[0] & 0x80 ? 240 : 160);
        if (buffer.delayMs() > JitterBuffer::kMaxDelayUnits * JitterBuffer::kUnitMs) std::abort();
        at += taken;
    }
    return 0;
}
