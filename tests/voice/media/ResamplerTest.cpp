#include <gtest/gtest.h>

#include "AudioSignals.h"
#include "voice/engine/media/Resampler.h"

namespace {

std::vector<std::int16_t> convert(const std::vector<std::int16_t>& input, int from, int to, int chunk) {
    Resampler resampler(from, to, chunk);
    SampleFifo out(input.size() * static_cast<std::size_t>(to) / static_cast<std::size_t>(from) + 64);
    for (std::size_t at = 0; at < input.size(); at += static_cast<std::size_t>(chunk))
        resampler.process(input.data() + at, static_cast<int>(std::min<std::size_t>(chunk, input.size() - at)), out);
    std::vector<std::int16_t> samples(out.size());
    out.pop(samples.data(), samples.size());
    return samples;
}

TEST(Resampler, UpAndBackDownKeepsATelephoneBandTone) {
    const auto tone = signals::tone(1000, 10000, 8000);
    for (int rate : {48000, 44100, 16000}) {
        const auto device = convert(tone, 8000, rate, 160);
        EXPECT_NEAR(static_cast<double>(device.size()), rate, rate * 0.01) << rate;
        EXPECT_NEAR(signals::amplitudeAt(device, 1000, rate), 10000, 300) << rate;
        const auto back = convert(device, rate, 8000, rate / 50);
        EXPECT_GT(signals::snrDb(tone, back, 20, 400), 35) << rate;
    }
}

TEST(Resampler, FiltersWhatTheLowerRateCannotCarry) {
    // 6 kHz at 48 kHz would alias to 2 kHz at 8 kHz.
    const auto high = convert(signals::tone(6000, 10000, 48000, 48000), 48000, 8000, 960);
    EXPECT_LT(signals::rms(high.data() + 800, high.size() - 800), 100);
    // 8 kHz up to 48 kHz leaves no image of a 3 kHz tone at 5 kHz.
    const auto up = convert(signals::tone(3000, 10000, 8000), 8000, 48000, 160);
    EXPECT_GT(signals::amplitudeAt(up, 3000, 48000), 9000);
    EXPECT_LT(signals::amplitudeAt(up, 5000, 48000), 100);
}

}  // namespace
