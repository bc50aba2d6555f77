#include "lab/switch/LabCallAudio.h"

#include <array>

LabCallAudio::LabCallAudio(std::uint32_t format, LabAudioSource farParty, double musicOnHoldHertz,
                           const std::string& recordPath)
    : format_(format),
      encoder_(makeLabVoiceCodec(format)),
      decoder_(makeLabVoiceCodec(format)),
      decoderFormat_(format),
      farParty_(std::move(farParty)),
      musicOnHold_(LabAudioSource::tone(musicOnHoldHertz)) {
    if (!recordPath.empty()) file_.open(recordPath);
}

std::string LabCallAudio::nextFrame() {
    std::array<std::int16_t, kBlockSamples> block;
    farParty_.next(block.data(), block.size());
    return encoder_ ? encoder_->encode(block.data()) : std::string();
}

bool LabCallAudio::needsFullFrame(std::uint32_t timestamp) {
    const bool wrapped = lastTimestamp_ && (timestamp & 0xffff0000u) != (*lastTimestamp_ & 0xffff0000u);
    const bool first = !lastTimestamp_;
    lastTimestamp_ = timestamp;
    return first || wrapped;
}

void LabCallAudio::receiveFormat(std::uint32_t format) {
    if (format == decoderFormat_) return;
    decoder_ = makeLabVoiceCodec(format);
    decoderFormat_ = format;
}

bool LabCallAudio::receive(std::string_view payload, bool held) {
    std::vector<std::int16_t> samples;
    if (!decoder_ || !decoder_->decode(payload, samples)) return false;
    keep(received_, samples.data(), samples.size());
    if (!held) keep(heard_, samples.data(), samples.size());
    file_.append(samples.data(), samples.size());
    return true;
}

void LabCallAudio::holdBlock(bool musicOnHold) {
    std::array<std::int16_t, kBlockSamples> block{};
    if (musicOnHold) musicOnHold_.next(block.data(), block.size());
    keep(heard_, block.data(), block.size());
}

void LabCallAudio::keep(std::vector<std::int16_t>& stream, const std::int16_t* samples, std::size_t count) {
    const std::size_t room = kMaxKeptSamples - std::min(stream.size(), kMaxKeptSamples);
    stream.insert(stream.end(), samples, samples + std::min(count, room));
}
