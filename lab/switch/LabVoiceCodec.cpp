#include "lab/switch/LabVoiceCodec.h"

#include <algorithm>
#include <array>

extern "C" {
#include <gsm.h>
#include <speex/speex.h>
}

#include "lab/switch/LabG711.h"
#include "lab/switch/LabIaxProtocol.h"

namespace {

constexpr std::array kPreference = {labiax::format::Ulaw, labiax::format::Alaw, labiax::format::Gsm,
                                    labiax::format::Speex};
constexpr std::size_t kGsmFrameBytes = 33;
constexpr int kSpeexQuality = 8;
constexpr std::size_t kSpeexMaxFrameBytes = 200;
constexpr int kSpeexMaxFramesPerPayload = 16;

template <std::uint8_t (*Encode)(std::int16_t), std::int16_t (*Decode)(std::uint8_t)>
class G711Codec : public LabVoiceCodec {
public:
    std::string encode(const std::int16_t* samples) override {
        std::string bytes(kFrameSamples, '\0');
        for (std::size_t index = 0; index < kFrameSamples; ++index) bytes[index] = static_cast<char>(Encode(samples[index]));
        return bytes;
    }
    bool decode(std::string_view payload, std::vector<std::int16_t>& out) override {
        for (const char byte : payload) out.push_back(Decode(static_cast<std::uint8_t>(byte)));
        return true;
    }
};

using UlawCodec = G711Codec<labg711::linearToUlaw, labg711::ulawToLinear>;
using AlawCodec = G711Codec<labg711::linearToAlaw, labg711::alawToLinear>;

class GsmCodec : public LabVoiceCodec {
public:
    GsmCodec() : state_(gsm_create()) {}
    ~GsmCodec() override { gsm_destroy(state_); }
    GsmCodec(const GsmCodec&) = delete;
    GsmCodec& operator=(const GsmCodec&) = delete;

    std::string encode(const std::int16_t* samples) override {
        std::array<gsm_signal, kFrameSamples> input;
        std::copy(samples, samples + kFrameSamples, input.begin());
        std::array<gsm_byte, kGsmFrameBytes> frame{};
        gsm_encode(state_, input.data(), frame.data());
        return std::string(reinterpret_cast<const char*>(frame.data()), frame.size());
    }
    bool decode(std::string_view payload, std::vector<std::int16_t>& out) override {
        if (payload.empty() || payload.size() % kGsmFrameBytes != 0) return false;
        std::vector<std::int16_t> decoded;
        std::array<gsm_signal, kFrameSamples> samples;
        for (std::size_t at = 0; at < payload.size(); at += kGsmFrameBytes) {
            std::array<gsm_byte, kGsmFrameBytes> frame;
            std::copy_n(payload.data() + at, kGsmFrameBytes, reinterpret_cast<char*>(frame.data()));
            if (gsm_decode(state_, frame.data(), samples.data()) != 0) return false;
            decoded.insert(decoded.end(), samples.begin(), samples.end());
        }
        out.insert(out.end(), decoded.begin(), decoded.end());
        return true;
    }

private:
    gsm state_;
};

class SpeexCodec : public LabVoiceCodec {
public:
    SpeexCodec()
        : encoder_(speex_encoder_init(&speex_nb_mode)), decoder_(speex_decoder_init(&speex_nb_mode)) {
        int quality = kSpeexQuality;
        speex_encoder_ctl(encoder_, SPEEX_SET_QUALITY, &quality);
        speex_bits_init(&bits_);
    }
    ~SpeexCodec() override {
        speex_bits_destroy(&bits_);
        speex_encoder_destroy(encoder_);
        speex_decoder_destroy(decoder_);
    }
    SpeexCodec(const SpeexCodec&) = delete;
    SpeexCodec& operator=(const SpeexCodec&) = delete;

    std::string encode(const std::int16_t* samples) override {
        std::array<spx_int16_t, kFrameSamples> input;
        std::copy(samples, samples + kFrameSamples, input.begin());
        speex_bits_reset(&bits_);
        speex_encode_int(encoder_, input.data(), &bits_);
        std::array<char, kSpeexMaxFrameBytes> frame;
        const int size = speex_bits_write(&bits_, frame.data(), static_cast<int>(frame.size()));
        return std::string(frame.data(), static_cast<std::size_t>(size));
    }
    bool decode(std::string_view payload, std::vector<std::int16_t>& out) override {
        if (payload.empty()) return false;
        std::string bytes(payload);
        speex_bits_read_from(&bits_, bytes.data(), static_cast<int>(bytes.size()));
        std::vector<std::int16_t> decoded;
        std::array<spx_int16_t, kFrameSamples> samples;
        for (int frames = 0; frames < kSpeexMaxFramesPerPayload && speex_bits_remaining(&bits_) > 0; ++frames) {
            const int result = speex_decode_int(decoder_, &bits_, samples.data());
            if (result == -1) break;  // the payload's end
            if (result != 0) return false;
            decoded.insert(decoded.end(), samples.begin(), samples.end());
        }
        if (decoded.empty()) return false;
        out.insert(out.end(), decoded.begin(), decoded.end());
        return true;
    }

private:
    void* encoder_;
    void* decoder_;
    SpeexBits bits_{};
};

}  // namespace

std::unique_ptr<LabVoiceCodec> makeLabVoiceCodec(std::uint32_t format) {
    switch (format) {
        case labiax::format::Ulaw: return std::make_unique<UlawCodec>();
        case labiax::format::Alaw: return std::make_unique<AlawCodec>();
        case labiax::format::Gsm: return std::make_unique<GsmCodec>();
        case labiax::format::Speex: return std::make_unique<SpeexCodec>();
        default: return nullptr;
    }
}

std::uint32_t labSupportedFormats() {
    std::uint32_t formats = 0;
    for (const std::uint32_t format : kPreference) formats |= format;
    return formats;
}

std::uint32_t chooseLabFormat(std::uint32_t preferred, std::uint32_t capability) {
    const std::uint32_t common = capability & labSupportedFormats();
    if (preferred & common && (preferred & (preferred - 1)) == 0) return preferred;
    for (const std::uint32_t format : kPreference)
        if (common & format) return format;
    return 0;
}
