#include "voice/engine/iax/CodecPolicy.h"

#include <bit>

#include "infra/CLogger.h"
#include "voice/engine/media/Codec.h"

namespace iax {
namespace {
constexpr int kBlockSamples = 160;
constexpr int kIlbcBlockSamples = 240;

int lowestBit(int bits) { return bits & -bits; }
}  // namespace

CodecPolicy::CodecPolicy(int supportedFormats)
    : supported_(supportedFormats),
      preferred_(supportedFormats & iax_format::Ulaw ? iax_format::Ulaw : lowestBit(supportedFormats)),
      allowed_(supportedFormats) {}

int CodecPolicy::choose(int format) {
    const int samples = format == iax_format::Ilbc ? kIlbcBlockSamples : kBlockSamples;
    if (std::has_single_bit(static_cast<unsigned>(format)) && (format & supported_)) {
        preferred_ = allowed_ = format;
        return samples;
    }
    logMessage(LogLevel::Warning,
               "CodecPolicy::choose(): No codec for format %d here; calls offer u-law (format %d) in blocks of %d samples",
               format, iax_format::Ulaw, samples);
    preferred_ = allowed_ = iax_format::Ulaw;
    return samples;
}

bool CodecPolicy::accepts(int format) const {
    return std::has_single_bit(static_cast<unsigned>(format)) && (format & allowed_);
}

int CodecPolicy::pick(int candidates) const {
    return candidates & preferred_ ? preferred_ : lowestBit(candidates);
}

int CodecPolicy::negotiate(int peerPreferred, int peerCapability) const {
    if (const int format = pick(peerPreferred & allowed_)) return format;
    return pick(peerCapability & allowed_);
}

}  // namespace iax
