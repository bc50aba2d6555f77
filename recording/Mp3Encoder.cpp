#include "recording/Mp3Encoder.h"

#include <lame.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "infra/CLogger.h"
#include "infra/Timing.h"
#include "recording/CallParam.h"

namespace {

class LameStream final : public Mp3Stream {
public:
    ~LameStream() override {
        if (flags_) lame_close(flags_);
    }

    unsigned long open(const Mp3Settings& settings, int& inputSamples, int& outputBytes) override {
        flags_ = lame_init();
        if (!flags_) return 1;
        lame_set_in_samplerate(flags_, RecordedSamples::kSampleRate);
        lame_set_num_channels(flags_, 1);
        lame_set_mode(flags_, MONO);
        lame_set_VBR(flags_, vbr_default);
        lame_set_VBR_q(flags_, settings.vbrQuality);
        lame_set_VBR_min_bitrate_kbps(flags_, settings.minBitrateKbps);
        lame_set_disable_reservoir(flags_, 1);
        lame_set_original(flags_, 1);
        lame_set_copyright(flags_, 0);
        lame_set_error_protection(flags_, 0);
        lame_set_extension(flags_, 0);
        lame_set_strict_ISO(flags_, 0);
        lame_set_bWriteVbrTag(flags_, 1);
        const int result = lame_init_params(flags_);
        if (result < 0) return static_cast<unsigned long>(-result);
        inputSamples = lame_get_framesize(flags_);
        // LAME's own worst case for one call: 1.25 bytes per sample and 7200 more.
        outputBytes = inputSamples * 5 / 4 + 7200;
        return 0;
    }

    int encode(const std::int16_t* samples, int count, std::uint8_t* out, int room) override {
        return lame_encode_buffer(flags_, samples, nullptr, count, out, room);
    }

    int flush(std::uint8_t* out, int room) override { return lame_encode_flush(flags_, out, room); }

    std::vector<std::uint8_t> vbrTag() override {
        std::vector<std::uint8_t> tag(2880);
        tag.resize(lame_get_lametag_frame(flags_, tag.data(), tag.size()));
        return tag;
    }

private:
    lame_global_flags* flags_ = nullptr;
};

}  // namespace

Mp3Settings Mp3Settings::forQuality(const std::string& encodingQuality) {
    if (encodingQuality == "high") return {4, 32};
    return {9, 8};
}

std::unique_ptr<Mp3Stream> makeLameStream() { return std::make_unique<LameStream>(); }

int encodeRecordingToMp3(CallParam& recording, Mp3Stream& stream) {
    int inputSamples = 0;
    int outputBytes = 0;
    const unsigned long error = stream.open(Mp3Settings::forQuality(recording.plan().encodingQuality), inputSamples,
                                            outputBytes);
    logMessage(LogLevel::Debug, "dwSamples %d dwMP3Buffer %d", inputSamples, outputBytes);
    if (error != 0 || inputSamples <= 0 || outputBytes <= 0) {
        std::fprintf(stderr, "Error opening encoding stream (%lu)\n", error);
        return -1;
    }
    RecordedSamples& samples = recording.samples();
    std::vector<std::uint8_t> output(static_cast<std::size_t>(outputBytes));
    std::vector<std::uint8_t> image;
    int consumed = 0;
    for (;;) {
        // Read the stop mark before the count, so no sample published before the stop is missed.
        const bool stopped = samples.stopped();
        const int available = samples.count() - consumed;
        if (available == 0 && stopped) break;
        if (available < inputSamples && !stopped) {
            samples.prepareAhead(RecordedSamples::kReadySeconds);
            samples.waitForSamples(consumed + inputSamples, Timing::scaled(intervals::kRecordingEncoderPoll));
            continue;
        }
        const int take = std::min(available, inputSamples);
        // An encoding error on one block is not fatal: its bytes, if any, are kept.
        const int made = stream.encode(samples.data() + consumed, take, output.data(), outputBytes);
        consumed += take;
        if (made > 0) image.insert(image.end(), output.begin(), output.begin() + made);
    }
    const int last = stream.flush(output.data(), outputBytes);
    if (last < 0) return -1;
    image.insert(image.end(), output.begin(), output.begin() + last);
    if (image.empty()) return -1;
    const std::vector<std::uint8_t> tag = stream.vbrTag();
    if (!tag.empty() && tag.size() <= image.size()) std::memcpy(image.data(), tag.data(), tag.size());
    const int size = static_cast<int>(image.size());
    recording.setMp3Image(std::move(image));
    return size;
}
