#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// One direction of one call's voice codec at 8 kHz mono: G.711 µ-law and A-law (the lab's
// own), GSM 06.10 (libgsm) and Speex narrowband (libspeex), all 20 ms frames.
class LabVoiceCodec {
public:
    static constexpr std::size_t kFrameSamples = 160;

    virtual ~LabVoiceCodec() = default;
    // Encodes exactly kFrameSamples samples.
    virtual std::string encode(const std::int16_t* samples) = 0;
    // Decodes a payload of one or more whole frames; false (nothing appended) when malformed.
    virtual bool decode(std::string_view payload, std::vector<std::int16_t>& out) = 0;
};

// Nothing for a format the switch cannot encode and decode.
std::unique_ptr<LabVoiceCodec> makeLabVoiceCodec(std::uint32_t format);
std::uint32_t labSupportedFormats();
// The format of a call: the preferred one when it is supported and among the capabilities,
// else the first of µ-law, A-law, GSM, Speex that both sides have; 0 when there is none.
std::uint32_t chooseLabFormat(std::uint32_t preferred, std::uint32_t capability);
