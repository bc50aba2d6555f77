#include "voice/engine/media/GsmCodec.h"

#include <gsm.h>

#include <array>

namespace {

constexpr std::size_t kFrameBytes = sizeof(gsm_frame);  // 33
constexpr int kGsmFrameSamples = 160;
// Every GSM 06.10 frame starts with this signature in its high nibble.
constexpr std::uint8_t kSignature = 0xD0;

class GsmCodec final : public Codec {
public:
    GsmCodec() : state_(gsm_create()) {}
    ~GsmCodec() override { gsm_destroy(state_); }
    GsmCodec(const GsmCodec&) = delete;
    GsmCodec& operator=(const GsmCodec&) = delete;

    int format() const override { return iax_format::Gsm; }
    int frameSamples() const override { return kGsmFrameSamples; }

    void encode(const std::int16_t* samples, std::vector<std::uint8_t>& out) override {
        std::array<gsm_signal, kGsmFrameSamples> input;
        std::copy(samples, samples + kGsmFrameSamples, input.begin());
        gsm_frame frame;
        gsm_encode(state_, input.data(), frame);
        out.insert(out.end(), frame, frame + kFrameBytes);
    }

    bool decode(const std::uint8_t* payload, std::size_t size, std::vector<std::int16_t>& out) override {
        if (size == 0 || size % kFrameBytes != 0) return false;
        for (std::size_t offset = 0; offset < size; offset += kFrameBytes)
            if ((payload[offset] & 0xF0) != kSignature) return false;
        const std::size_t start = out.size();
        out.resize(start + size / kFrameBytes * kGsmFrameSamples);
        gsm_signal* target = out.data() + start;
        for (std::size_t offset = 0; offset < size; offset += kFrameBytes, target += kGsmFrameSamples) {
            gsm_frame frame;
            std::copy(payload + offset, payload + offset + kFrameBytes, frame);
            if (gsm_decode(state_, frame, target) != 0) {
                out.resize(start);
                return false;
            }
        }
        return true;
    }

private:
    gsm state_;
};

}  // namespace

std::unique_ptr<Codec> makeGsmCodec() { return std::make_unique<GsmCodec>(); }
