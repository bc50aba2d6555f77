#include "voice/engine/media/SpeexCodec.h"

#include <speex/speex.h>

#include <array>

namespace {

constexpr int kSpeexFrameSamples = 160;
constexpr int kQuality = 8;
constexpr int kMaxFrameBytes = 200;
// A payload never carries more audio than this (1 s); more is taken for garbage.
constexpr int kMaxFramesPerPayload = 50;
// Fewer bits than a frame header cannot start another frame.
constexpr int kFrameHeaderBits = 5;

class SpeexCodec final : public Codec {
public:
    SpeexCodec()
        : encoder_(speex_encoder_init(speex_lib_get_mode(SPEEX_MODEID_NB))),
          decoder_(speex_decoder_init(speex_lib_get_mode(SPEEX_MODEID_NB))) {
        int quality = kQuality;
        speex_encoder_ctl(encoder_, SPEEX_SET_QUALITY, &quality);
        speex_bits_init(&encodeBits_);
        speex_bits_init(&decodeBits_);
    }
    ~SpeexCodec() override {
        speex_bits_destroy(&encodeBits_);
        speex_bits_destroy(&decodeBits_);
        speex_encoder_destroy(encoder_);
        speex_decoder_destroy(decoder_);
    }
    SpeexCodec(const SpeexCodec&) = delete;
    SpeexCodec& operator=(const SpeexCodec&) = delete;

    int format() const override { return iax_format::Speex; }
    int frameSamples() const override { return kSpeexFrameSamples; }

    void encode(const std::int16_t* samples, std::vector<std::uint8_t>& out) override {
        std::array<spx_int16_t, kSpeexFrameSamples> input;
        std::copy(samples, samples + kSpeexFrameSamples, input.begin());
        speex_bits_reset(&encodeBits_);
        speex_encode_int(encoder_, input.data(), &encodeBits_);
        std::array<char, kMaxFrameBytes> bytes;
        const int size = speex_bits_write(&encodeBits_, bytes.data(), kMaxFrameBytes);
        out.insert(out.end(), bytes.begin(), bytes.begin() + size);
    }

    // A payload holds frames packed back to back, or each padded to a whole byte with the
    // terminator pattern (what speex_bits_write produces); both are read.
    bool decode(const std::uint8_t* payload, std::size_t size, std::vector<std::int16_t>& out) override {
        if (size == 0 || size > kMaxFramesPerPayload * kMaxFrameBytes) return false;
        speex_bits_read_from(&decodeBits_, reinterpret_cast<const char*>(payload), static_cast<int>(size));
        const std::size_t start = out.size();
        int frames = 0;
        while (speex_bits_remaining(&decodeBits_) >= kFrameHeaderBits) {
            std::array<spx_int16_t, kSpeexFrameSamples> frame;
            const int result = speex_decode_int(decoder_, &decodeBits_, frame.data());
            if (result == -1) break;  // terminator
            if (result != 0 || speex_bits_remaining(&decodeBits_) < 0 || ++frames > kMaxFramesPerPayload) {
                out.resize(start);
                return false;
            }
            out.insert(out.end(), frame.begin(), frame.end());
            skipBytePadding();
        }
        return frames > 0;
    }

private:
    // Skips the rest of the current byte when it holds the terminator pattern (a 0, then 1s).
    void skipBytePadding() {
        const int padding = (8 - decodeBits_.bitPtr) % 8;
        if (padding == 0 || speex_bits_remaining(&decodeBits_) < padding) return;
        const unsigned terminator = (1u << (padding - 1)) - 1;
        if (speex_bits_peek_unsigned(&decodeBits_, padding) == terminator) speex_bits_advance(&decodeBits_, padding);
    }

    void* encoder_;
    void* decoder_;
    SpeexBits encodeBits_;
    SpeexBits decodeBits_;
};

}  // namespace

std::unique_ptr<Codec> makeSpeexCodec() { return std::make_unique<SpeexCodec>(); }
