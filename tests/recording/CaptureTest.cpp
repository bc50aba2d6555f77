#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "RecordingDoubles.h"
#include "lab/common/LabTone.h"
#include "recording/CallParam.h"
#include "recording/RecorderTap.h"

namespace {

std::shared_ptr<CallParam> newRecording() {
    return std::make_shared<CallParam>(RecordingFacts{"T1", "555", "2026.01.01.00.00.00", {}, "", "", "1", "h"},
                                       CallParam::Plan{false, "high", 1, 2, 0});
}

}  // namespace

TEST(CaptureTest, TheMinimumDecidesTheLengthStateAndTheMaximumCapsTheSamples) {
    TapVoiceEngine voice;
    RecorderTap tap(voice);
    auto recording = newRecording();
    tap.recorderStart(1, 2, recording);
    EXPECT_TRUE(tap.recorderActive());
    voice.play(labtone::make(1000, 0.9), {});
    EXPECT_EQ(recording->lengthState(), 0) << "shorter than the minimum";
    voice.play(labtone::make(1000, 0.2), {});
    EXPECT_EQ(recording->lengthState(), 2);
    voice.play(labtone::make(1000, 2.0), {});
    EXPECT_EQ(recording->samples().count(), 2 * 8000 + 1000);
    EXPECT_TRUE(recording->samples().stopped()) << "a full recording is stopped while the tap still runs";
    voice.play(labtone::make(1000, 0.5), {});
    EXPECT_EQ(recording->samples().count(), 2 * 8000 + 1000) << "nothing added past the maximum";

    EXPECT_EQ(tap.recorderStop(), recording);
    EXPECT_FALSE(voice.tapInstalled());
    EXPECT_EQ(tap.recorderStop(), nullptr);
}

TEST(CaptureTest, MemoryGrowsWithTheRecordedMinutesNotWithTheRoomSetAside) {
    TapVoiceEngine voice;
    RecorderTap tap(voice);
    auto recording = newRecording();
    tap.recorderStart(1, 300, recording);
    // The first minute is made ready for the tap; the rest of the 4.8 MB is not taken.
    const std::size_t minute = RecordedSamples::kReadySeconds * 16000u;
    EXPECT_GE(recording->samples().residentBytes(), minute);
    EXPECT_LE(recording->samples().residentBytes(), minute + 2 * 4096);
    voice.play(labtone::make(1000, 2.0), {});
    recording->samples().prepareAhead(RecordedSamples::kReadySeconds);
    EXPECT_LE(recording->samples().residentBytes(), minute + 2 * 16000 + 2 * 4096);
    tap.recorderStop();
    recording->release();
    EXPECT_EQ(recording->samples().residentBytes(), 0u);
}

TEST(CaptureTest, NothingIsCapturedWhenTheMinimumIsNotBelowTheMaximum) {
    TapVoiceEngine voice;
    RecorderTap tap(voice);
    for (const auto& [min, max] : {std::pair{30, 0}, std::pair{5, 5}, std::pair{0, 0}}) {
        auto recording = newRecording();
        tap.recorderStart(min, max, recording);
        EXPECT_FALSE(tap.recorderActive());
        EXPECT_FALSE(voice.tapInstalled());
        EXPECT_EQ(recording->samples().count(), 0);
        EXPECT_EQ(recording->lengthState(), 0);
    }
    EXPECT_EQ(RecordedSamples::maxSamplesFor(30, 0), 30 * 8000 + 1000) << "a maximum of 0 falls back to the minimum";
    EXPECT_EQ(RecordedSamples::maxSamplesFor(1, 1 << 30), RecordedSamples::kLongestSeconds * 8000LL + 1000);
}

TEST(CaptureTest, BothDirectionsAreMixedAndAMissingOneIsSilence) {
    TapVoiceEngine voice;
    RecorderTap tap(voice);
    auto recording = newRecording();
    tap.recorderStart(0, 2, recording);
    voice.play(labtone::make(1000, 1.0), labtone::make(440, 1.0));
    voice.play({}, labtone::make(440, 0.5));
    tap.recorderStop();
    const std::vector<std::int16_t> both(recording->samples().data(), recording->samples().data() + 8000);
    const std::vector<std::int16_t> speakerOnly(recording->samples().data() + 8000,
                                                recording->samples().data() + 12000);
    EXPECT_TRUE(labtone::present(both, 1000, 700));
    EXPECT_TRUE(labtone::present(both, 440, 700));
    EXPECT_TRUE(labtone::present(speakerOnly, 440, 1000));
    EXPECT_FALSE(labtone::present(speakerOnly, 1000, 440));
}

// The audio thread keeps feeding while the call's thread starts and stops recordings: once
// recorderStop returns, the recording it gives back never grows again.
TEST(CaptureTest, AStoppedRecordingNeverGrowsAgainWhileTheAudioThreadRuns) {
    TapVoiceEngine voice;
    RecorderTap tap(voice);
    std::atomic<bool> running{true};
    std::thread audio([&] {
        const auto block = labtone::make(1000, 0.02);
        while (running) voice.play(block, block);
    });
    for (int call = 0; call < 50; ++call) {
        auto recording = newRecording();
        tap.recorderStart(0, 1, recording);
        std::this_thread::yield();
        ASSERT_EQ(tap.recorderStop(), recording);
        const int stoppedAt = recording->samples().count();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        EXPECT_EQ(recording->samples().count(), stoppedAt) << "call " << call;
        EXPECT_TRUE(recording->samples().stopped());
    }
    running = false;
    audio.join();
}
