#include <gtest/gtest.h>

#include <cstdlib>

#include "AudioSignals.h"
#include "voice/engine/media/Codec.h"
#include "voice/engine/media/G711.h"

namespace {

// Encodes and decodes `samples` frame by frame with fresh codecs of `format`.
std::vector<std::int16_t> roundTrip(int format, const std::vector<std::int16_t>& samples) {
    auto encoder = makeCodec(format);
    auto decoder = makeCodec(format);
    std::vector<std::int16_t> decoded;
    for (std::size_t at = 0; at + 160 <= samples.size(); at += 160) {
        std::vector<std::uint8_t> payload;
        encoder->encode(samples.data() + at, payload);
        EXPECT_TRUE(decoder->decode(payload.data(), payload.size(), decoded));
    }
    return decoded;
}

TEST(G711, KnownCodesOfZeroAndFullScale) {
    EXPECT_EQ(g711::linearToUlaw(0), 0xFF);
    EXPECT_EQ(g711::linearToUlaw(32767), 0x80);
    EXPECT_EQ(g711::linearToUlaw(-32768), 0x00);
    EXPECT_EQ(g711::ulawToLinear(0xFF), 0);
    EXPECT_EQ(g711::ulawToLinear(0x7F), 0);
    EXPECT_EQ(g711::ulawToLinear(0x80), 32124);
    EXPECT_EQ(g711::ulawToLinear(0x00), -32124);

    EXPECT_EQ(g711::linearToAlaw(0), 0xD5);
    EXPECT_EQ(g711::linearToAlaw(-1), 0x55);
    EXPECT_EQ(g711::linearToAlaw(32767), 0xAA);
    EXPECT_EQ(g711::linearToAlaw(-32768), 0x2A);
    EXPECT_EQ(g711::alawToLinear(0xD5), 8);
    EXPECT_EQ(g711::alawToLinear(0x55), -8);
    EXPECT_EQ(g711::alawToLinear(0xAA), 32256);
    EXPECT_EQ(g711::alawToLinear(0x2A), -32256);
}

// Every 16-bit value comes back within half a quantisation step of its segment, decoding then
// encoding gives back every code, and the code order follows the sample order.
TEST(G711, RoundTripStaysWithinHalfAStepForEverySample) {
    for (int x = -32768; x <= 32767; ++x) {
        const auto sample = static_cast<std::int16_t>(x);
        const int magnitude = std::abs(x);
        const int ulawError = std::abs(g711::ulawToLinear(g711::linearToUlaw(sample)) - x);
        const int alawError = std::abs(g711::alawToLinear(g711::linearToAlaw(sample)) - x);
        ASSERT_LE(ulawError, magnitude > 32124 ? magnitude - 32124 + 512 : 4 + magnitude / 16) << x;
        ASSERT_LE(alawError, magnitude > 32256 ? magnitude - 32256 + 512 : 8 + magnitude / 16) << x;
    }
    for (int code = 0; code < 256; ++code) {
        const auto byte = static_cast<std::uint8_t>(code);
        if (code != 0x7F) {  // negative zero
            EXPECT_EQ(g711::linearToUlaw(g711::ulawToLinear(byte)), code);
        }
        EXPECT_EQ(g711::linearToAlaw(g711::alawToLinear(byte)), code);
    }
    for (int x = -32761; x <= 32767; x += 7) {
        EXPECT_LE(g711::ulawToLinear(g711::linearToUlaw(static_cast<std::int16_t>(x - 7))),
                  g711::ulawToLinear(g711::linearToUlaw(static_cast<std::int16_t>(x))));
        EXPECT_LE(g711::alawToLinear(g711::linearToAlaw(static_cast<std::int16_t>(x - 7))),
                  g711::alawToLinear(g711::linearToAlaw(static_cast<std::int16_t>(x))));
    }
}

TEST(Codecs, OfferG711GsmAndSpeexButNotIlbc) {
    EXPECT_EQ(supportedFormats(), iax_format::Ulaw | iax_format::Alaw | iax_format::Gsm | iax_format::Speex);
    EXPECT_EQ(makeCodec(iax_format::Ilbc), nullptr);
    EXPECT_EQ(makeCodec(0), nullptr);
    EXPECT_EQ(makeCodec(iax_format::Ulaw | iax_format::Alaw), nullptr);
    for (int format : {iax_format::Ulaw, iax_format::Alaw, iax_format::Gsm, iax_format::Speex}) {
        auto codec = makeCodec(format);
        ASSERT_NE(codec, nullptr);
        EXPECT_EQ(codec->format(), format);
        EXPECT_EQ(codec->frameSamples(), 160);
    }
}

TEST(Codecs, FrameSizesAreThoseOfTheWire) {
    const auto tone = signals::tone(440, 8000, 160);
    const std::vector<std::pair<int, std::size_t>> sizes{
        {iax_format::Ulaw, 160}, {iax_format::Alaw, 160}, {iax_format::Gsm, 33}, {iax_format::Speex, 38}};
    for (const auto& [format, bytes] : sizes) {
        std::vector<std::uint8_t> payload;
        makeCodec(format)->encode(tone.data(), payload);
        EXPECT_EQ(payload.size(), bytes) << format;
    }
}

TEST(Codecs, ToneSurvivesTheRoundTripOfEachCodec) {
    const auto tone = signals::tone(440, 8000, 8000);
    EXPECT_GT(signals::snrDb(tone, roundTrip(iax_format::Ulaw, tone), 0, 0), 35);
    EXPECT_GT(signals::snrDb(tone, roundTrip(iax_format::Alaw, tone), 0, 0), 35);
    EXPECT_GT(signals::snrDb(tone, roundTrip(iax_format::Gsm, tone), 10, 800), 15);
    EXPECT_GT(signals::snrDb(tone, roundTrip(iax_format::Speex, tone), 200, 800), 8);
}

// Several frames in one payload decode to all of their samples, back to back or padded.
TEST(Codecs, PayloadOfSeveralFramesDecodesWhole) {
    const auto tone = signals::tone(600, 6000, 480);
    for (int format : {iax_format::Ulaw, iax_format::Gsm, iax_format::Speex}) {
        auto encoder = makeCodec(format);
        std::vector<std::uint8_t> payload;
        for (int frame = 0; frame < 3; ++frame) encoder->encode(tone.data() + frame * 160, payload);
        std::vector<std::int16_t> decoded{1, 2};  // appended to, never replaced
        ASSERT_TRUE(makeCodec(format)->decode(payload.data(), payload.size(), decoded)) << format;
        EXPECT_EQ(decoded.size(), 2u + 480) << format;
    }
}

TEST(Codecs, MalformedPayloadsAreRefusedAndAppendNothing) {
    const auto tone = signals::tone(440, 8000, 160);
    std::vector<std::uint8_t> gsm;
    makeCodec(iax_format::Gsm)->encode(tone.data(), gsm);
    std::vector<std::uint8_t> speex;
    makeCodec(iax_format::Speex)->encode(tone.data(), speex);

    std::vector<std::uint8_t> gsmBadSignature = gsm;
    gsmBadSignature[0] = 0x12;
    std::vector<std::uint8_t> gsmTwoFramesSecondBad = gsm;
    gsmTwoFramesSecondBad.insert(gsmTwoFramesSecondBad.end(), gsm.begin(), gsm.end());
    gsmTwoFramesSecondBad[33] = 0x00;
    const std::vector<std::uint8_t> speexTruncated(speex.begin(), speex.begin() + 10);
    const std::vector<std::uint8_t> speexTerminatorOnly{0x7F};
    const std::vector<std::uint8_t> empty;

    const std::vector<std::pair<int, std::vector<std::uint8_t>>> cases{
        {iax_format::Ulaw, empty},
        {iax_format::Alaw, empty},
        {iax_format::Gsm, empty},
        {iax_format::Gsm, std::vector<std::uint8_t>(gsm.begin(), gsm.begin() + 32)},
        {iax_format::Gsm, gsmBadSignature},
        {iax_format::Gsm, gsmTwoFramesSecondBad},
        {iax_format::Speex, empty},
        {iax_format::Speex, speexTruncated},
        {iax_format::Speex, speexTerminatorOnly},
        {iax_format::Speex, std::vector<std::uint8_t>(20000, 0x55)},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::vector<std::int16_t> decoded{7};
        EXPECT_FALSE(makeCodec(cases[i].first)->decode(cases[i].second.data(), cases[i].second.size(), decoded)) << i;
        EXPECT_EQ(decoded, std::vector<std::int16_t>{7}) << i;
    }
}

// Random bytes never crash a decoder and never produce more than a payload's worth of audio.
TEST(Codecs, RandomPayloadsAreSurvived) {
    std::srand(7);
    for (int format : {iax_format::Gsm, iax_format::Speex, iax_format::Ulaw}) {
        auto decoder = makeCodec(format);
        for (int round = 0; round < 100; ++round) {
            std::vector<std::uint8_t> payload(static_cast<std::size_t>(std::rand() % 200 + 1));
            for (auto& byte : payload) byte = static_cast<std::uint8_t>(std::rand());
            std::vector<std::int16_t> decoded;
            if (decoder->decode(payload.data(), payload.size(), decoded)) {
                EXPECT_LE(decoded.size(), 50u * 160);
            }
        }
    }
}

}  // namespace
