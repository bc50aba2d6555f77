#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "AudioSignals.h"
#include "FakeAudioBackend.h"
#include "support/LogCapture.h"
#include "voice/engine/media/AudioEngine.h"
#include "voice/engine/media/G711.h"

namespace {

constexpr double kLevel = 4000;  // each tone's amplitude
constexpr double kHeard = 3000;  // a tone at least this strong is heard
constexpr double kAbsent = 200;  // and one under this is not

struct Sent {
    std::uint32_t timestampMs;
    std::vector<std::uint8_t> payload;
};

// An engine over a fake sound system that the test clocks block by block; calls send µ-law.
class Mixing : public ::testing::Test {
protected:
    Mixing() {
        auto fake = std::make_unique<FakeAudioBackend>();
        backend = fake.get();
        engine = std::make_unique<AudioEngine>(std::move(fake));
        EXPECT_TRUE(engine->initialize());
        engine->setSendVoice([this](int callNo, std::uint32_t timestampMs, std::vector<std::uint8_t> payload) {
            sent[callNo].push_back({timestampMs, std::move(payload)});
        });
    }

    // Runs `blocks` blocks: before each, every call in `farTones` receives its next 20 ms of its
    // tone (µ-law); the microphone plays `microphoneTone` (0: silence).
    void run(int blocks, const std::map<int, double>& farTones, double microphoneTone = 0) {
        for (int n = 0; n < blocks; ++n, ++clock) {
            for (const auto& [callNo, hertz] : farTones) {
                const auto audio = signals::tone(hertz, kLevel, 160, 8000, clock * 160);
                std::vector<std::uint8_t> payload;
                for (std::int16_t sample : audio) payload.push_back(g711::linearToUlaw(sample));
                engine->receiveVoice(callNo, static_cast<std::uint32_t>(clock * 20), payload.data(), payload.size());
            }
            const auto microphone = microphoneTone > 0 ? signals::tone(microphoneTone, kLevel, 160, 8000, clock * 160)
                                                       : std::vector<std::int16_t>(160);
            const auto block = backend->block(microphone);
            speaker.insert(speaker.end(), block.begin(), block.end());
        }
    }

    // What was sent to a call, decoded; its second half, where the jitter buffer has settled.
    std::vector<std::int16_t> heardBy(int callNo) const {
        std::vector<std::int16_t> decoded;
        if (!sent.count(callNo)) return decoded;
        for (const Sent& each : sent.at(callNo))
            for (std::uint8_t code : each.payload) decoded.push_back(g711::ulawToLinear(code));
        return secondHalf(decoded);
    }
    static std::vector<std::int16_t> secondHalf(const std::vector<std::int16_t>& samples) {
        return {samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2), samples.end()};
    }

    FakeAudioBackend* backend = nullptr;
    std::unique_ptr<AudioEngine> engine;
    std::map<int, std::vector<Sent>> sent;
    std::vector<std::int16_t> speaker;
    int clock = 0;
};

TEST_F(Mixing, TwoCallsHearTheAgentAndEachOther) {
    ASSERT_TRUE(engine->openChannel(0, iax_format::Ulaw));
    ASSERT_TRUE(engine->openChannel(1, iax_format::Ulaw));
    run(50, {{0, 500}, {1, 700}}, 300);

    const auto agent = secondHalf(speaker);
    EXPECT_GT(signals::amplitudeAt(agent, 500), kHeard);
    EXPECT_GT(signals::amplitudeAt(agent, 700), kHeard);
    EXPECT_LT(signals::amplitudeAt(agent, 300), kAbsent);  // no sidetone of the agent's own voice

    const auto first = heardBy(0);
    EXPECT_GT(signals::amplitudeAt(first, 300), kHeard);
    EXPECT_GT(signals::amplitudeAt(first, 700), kHeard);
    EXPECT_LT(signals::amplitudeAt(first, 500), kAbsent);  // no echo of itself
    const auto second = heardBy(1);
    EXPECT_GT(signals::amplitudeAt(second, 300), kHeard);
    EXPECT_GT(signals::amplitudeAt(second, 500), kHeard);
    EXPECT_LT(signals::amplitudeAt(second, 700), kAbsent);
}

TEST_F(Mixing, ThreeWayConferenceEachPartyHearsTheOtherTwoAndTheAgent) {
    for (int callNo : {0, 1, 2}) ASSERT_TRUE(engine->openChannel(callNo, iax_format::Ulaw));
    const std::map<int, double> tones{{0, 500}, {1, 700}, {2, 1100}};
    run(50, tones, 300);
    for (const auto& [callNo, own] : tones) {
        const auto heard = heardBy(callNo);
        EXPECT_GT(signals::amplitudeAt(heard, 300), kHeard) << callNo;
        EXPECT_LT(signals::amplitudeAt(heard, own), kAbsent) << callNo;
        for (const auto& [other, tone] : tones) {
            if (other == callNo) continue;
            EXPECT_GT(signals::amplitudeAt(heard, tone), kHeard) << callNo << " hears " << other;
        }
    }
    for (const auto& [callNo, tone] : tones) EXPECT_GT(signals::amplitudeAt(secondHalf(speaker), tone), kHeard);
}

TEST_F(Mixing, QuelchedCallNeitherHearsNorIsHeard) {
    for (int callNo : {0, 1}) ASSERT_TRUE(engine->openChannel(callNo, iax_format::Ulaw));
    engine->setQuelched(1, true);
    run(50, {{0, 500}, {1, 700}}, 300);

    EXPECT_EQ(sent.count(1), 0u);  // nothing produced for it
    const auto agent = secondHalf(speaker);
    EXPECT_GT(signals::amplitudeAt(agent, 500), kHeard);
    EXPECT_LT(signals::amplitudeAt(agent, 700), kAbsent);
    const auto first = heardBy(0);
    EXPECT_GT(signals::amplitudeAt(first, 300), kHeard);
    EXPECT_LT(signals::amplitudeAt(first, 700), kAbsent);

    // Back from hold it takes part again, with nothing of what came while it was quelched.
    engine->setQuelched(1, false);
    sent.clear();
    speaker.clear();
    run(50, {{0, 500}, {1, 700}}, 300);
    EXPECT_GT(signals::amplitudeAt(secondHalf(speaker), 700), kHeard);
    EXPECT_GT(signals::amplitudeAt(heardBy(1), 300), kHeard);
    EXPECT_GT(signals::amplitudeAt(heardBy(0), 700), kHeard);
}

TEST_F(Mixing, SumsSaturateInsteadOfWrapping) {
    for (int callNo : {0, 1}) ASSERT_TRUE(engine->openChannel(callNo, iax_format::Ulaw));
    const std::vector<std::uint8_t> loud(160, g711::linearToUlaw(30000));
    const std::vector<std::uint8_t> quiet(160, g711::linearToUlaw(-30000));
    for (int n = 0; n < 10; ++n) {
        engine->receiveVoice(0, static_cast<std::uint32_t>(n * 20), loud.data(), loud.size());
        engine->receiveVoice(1, static_cast<std::uint32_t>(n * 20), loud.data(), loud.size());
        speaker = backend->block(std::vector<std::int16_t>(160, 30000));
    }
    for (std::int16_t sample : speaker) EXPECT_EQ(sample, 32767);
    for (std::uint8_t code : sent[0].back().payload) EXPECT_EQ(g711::ulawToLinear(code), g711::ulawToLinear(g711::linearToUlaw(32767)));

    for (int n = 10; n < 20; ++n) {
        engine->receiveVoice(0, static_cast<std::uint32_t>(n * 20), quiet.data(), quiet.size());
        engine->receiveVoice(1, static_cast<std::uint32_t>(n * 20), quiet.data(), quiet.size());
        speaker = backend->block(std::vector<std::int16_t>(160, -30000));
    }
    for (std::int16_t sample : speaker) EXPECT_EQ(sample, -32768);
}

TEST_F(Mixing, PayloadsCarryWholeFramesWithTimestampsFollowingTheAudio) {
    ASSERT_TRUE(engine->openChannel(4, iax_format::Gsm));
    run(5, {});
    ASSERT_EQ(sent[4].size(), 5u);
    for (std::size_t i = 1; i < sent[4].size(); ++i) {
        EXPECT_EQ(sent[4][i].payload.size(), 33u);
        EXPECT_EQ(sent[4][i].timestampMs - sent[4][i - 1].timestampMs, 20u);
    }
    EXPECT_LT(sent[4][0].timestampMs, 1000u);  // milliseconds since the channel opened

    // 30 ms blocks (the iLBC block size) with a 20 ms codec: one or two frames a block.
    engine->closeChannel(4);
    engine->setFrameSamples(240);
    ASSERT_TRUE(engine->openChannel(5, iax_format::Gsm));
    ASSERT_EQ(backend->format.frames, 240);
    run(4, {});
    ASSERT_EQ(sent[5].size(), 4u);
    const std::vector<std::size_t> sizes{33, 66, 33, 66};
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(sent[5][i].payload.size(), sizes[i]) << i;
    EXPECT_EQ(sent[5][1].timestampMs - sent[5][0].timestampMs, 20u);
    EXPECT_EQ(sent[5][2].timestampMs - sent[5][1].timestampMs, 40u);
    EXPECT_EQ(sent[5][3].timestampMs - sent[5][2].timestampMs, 20u);
}

TEST_F(Mixing, StreamRunsWhileACallIsOpenOrTheRingPlays) {
    EXPECT_FALSE(backend->running());
    ASSERT_TRUE(engine->openChannel(0, iax_format::Ulaw));
    ASSERT_TRUE(engine->openChannel(1, iax_format::Alaw));
    EXPECT_TRUE(backend->running());
    engine->closeChannel(0);
    EXPECT_TRUE(backend->running());
    engine->closeChannel(1);
    EXPECT_FALSE(backend->running());
    engine->closeChannel(1);  // again: nothing happens

    engine->startRingTone();
    EXPECT_TRUE(backend->running());
    engine->stopRingTone();
    EXPECT_FALSE(backend->running());
    EXPECT_EQ(backend->starts, 2);
}

TEST_F(Mixing, RingToneRingsOnTheSpeakerOrOnItsOwnDevice) {
    // The ring device is the output device: the ring is mixed into the speaker.
    engine->startRingTone();
    EXPECT_EQ(backend->format.ring, -1);
    run(25, {});
    EXPECT_GT(signals::amplitudeAt(speaker, 440), kHeard);
    EXPECT_GT(signals::amplitudeAt(speaker, 480), kHeard);
    engine->stopRingTone();

    // A ring device of its own gets a stream of its own, and the speaker stays quiet.
    engine->setDevices(0, 1, 2);
    engine->startRingTone();
    EXPECT_EQ(backend->format.ring, 2);
    speaker.clear();
    run(5, {});
    std::vector<std::int16_t> ring;
    for (int n = 0; n < 25; ++n) {
        const auto block = backend->ringBlock();
        ring.insert(ring.end(), block.begin(), block.end());
    }
    EXPECT_EQ(signals::rms(speaker), 0.0);
    EXPECT_GT(signals::amplitudeAt(ring, 440), kHeard);
}

TEST_F(Mixing, RecorderTapSeesTheMicrophoneAndTheSpeakerOfEveryBlock) {
    ASSERT_TRUE(engine->openChannel(0, iax_format::Ulaw));
    std::vector<std::int16_t> tappedMicrophone, tappedSpeaker;
    engine->setRecorderTap([&](const std::int16_t* microphone, const std::int16_t* speakerSamples, int frames) {
        tappedMicrophone.insert(tappedMicrophone.end(), microphone, microphone + frames);
        tappedSpeaker.insert(tappedSpeaker.end(), speakerSamples, speakerSamples + frames);
    });
    run(50, {{0, 500}}, 300);
    EXPECT_EQ(tappedSpeaker, speaker);
    EXPECT_GT(signals::amplitudeAt(secondHalf(tappedMicrophone), 300), kHeard);
    EXPECT_GT(signals::amplitudeAt(secondHalf(tappedSpeaker), 500), kHeard);

    engine->setRecorderTap({});
    run(5, {{0, 500}}, 300);
    EXPECT_EQ(tappedSpeaker.size(), 50u * 160);
}

TEST_F(Mixing, BadRequestsAreRefusedAndLogged) {
    LogCapture log;
    EXPECT_FALSE(engine->openChannel(0, iax_format::Ilbc));
    EXPECT_FALSE(backend->running());
    ASSERT_TRUE(engine->openChannel(0, iax_format::Gsm));
    const std::vector<std::uint8_t> garbage(20, 0x11);
    engine->receiveVoice(0, 0, garbage.data(), garbage.size());
    engine->receiveVoice(9, 0, garbage.data(), garbage.size());  // no such call
    engine->setQuelched(9, true);
    engine->closeChannel(9);
    engine->setFrameSamples(100);
    run(3, {});
    EXPECT_EQ(backend->format.frames, 160);
    EXPECT_TRUE(log.contains("Media: call 0: no codec for format 1024"));
    EXPECT_TRUE(log.contains("Media: call 0: malformed voice payload of 20 bytes (format 2) dropped, 1 so far"));
    EXPECT_TRUE(log.contains("Media: block size of 100 samples refused (160 or 240)"));

    // A peer that keeps it up costs a line a second, not a line a payload.
    for (int payload = 0; payload < 1000; ++payload) engine->receiveVoice(0, 0, garbage.data(), garbage.size());
    const auto messages = log.messages();
    EXPECT_LE(
        std::count_if(messages.begin(), messages.end(),
                      [](const std::string& m) { return m.rfind("Media: call 0: malformed voice payload", 0) == 0; }),
        2);
}

TEST(MediaEngineStart, WithoutAUsableDeviceNothingStarts) {
    auto fake = std::make_unique<FakeAudioBackend>();
    fake->usable = false;
    FakeAudioBackend* backend = fake.get();
    AudioEngine engine(std::move(fake));
    EXPECT_FALSE(engine.initialize());
    EXPECT_TRUE(engine.devices().empty());
    EXPECT_FALSE(engine.openChannel(0, iax_format::Ulaw));
    EXPECT_FALSE(backend->running());
}

}  // namespace
