#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "RecordingDoubles.h"
#include "infra/Timing.h"
#include "lab/common/LabTone.h"
#include "lab/recorder/LabRecordServer.h"
#include "recording/CallRecorder.h"
#include "support/Eventually.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr double kAgentHertz = 1000;
constexpr double kCustomerHertz = 440;
const std::string kUntaggedName = "DefClient.DefCampaign.1001.2026.12.08.10.00.00.5551234.10-0-0-5.T1.000";

// An encoder that fails where a test wants it to.
class FailingStream : public Mp3Stream {
public:
    explicit FailingStream(bool failOpen) : failOpen_(failOpen) {}
    unsigned long open(const Mp3Settings&, int& inputSamples, int& outputBytes) override {
        inputSamples = 576;
        outputBytes = 8000;
        return failOpen_ ? 5 : 0;
    }
    int encode(const std::int16_t*, int, std::uint8_t* out, int) override {
        out[0] = 0xFF;
        return 1;
    }
    int flush(std::uint8_t*, int) override { return -1; }
    std::vector<std::uint8_t> vbrTag() override { return {}; }

private:
    bool failOpen_;
};

// The recorder with a test playing the audio thread, the lab recording server on loopback and
// every interval a tenth of its production length (the acknowledgement is awaited 1 s: a loaded
// machine answers within that).
class CallRecorderTest : public ::testing::Test {
protected:
    static constexpr auto kWait = 10s;

    CallRecorderTest() {
        Timing::setScale(0.1);
        EXPECT_TRUE(server.start());
        announce(server);
    }
    ~CallRecorderTest() override {
        recorder.reset();
        Timing::setScale(previousScale_);
    }

    void announce(const LabRecordServer& lab) { config.setServer({"127.0.0.1", lab.port(), lab.tls()}); }
    void settings(const std::function<void(RecordingSettings&)>& change) {
        RecordingSettings chosen = config.recording();
        change(chosen);
        config.set(chosen);
    }
    // A call of `seconds` with the agent and the customer each saying a tone, then hung up.
    void call(double seconds, const std::string& trackNumber = "T1") {
        agent.change([&](RecordingFacts& facts) {
            facts.trackNumber = trackNumber;
            facts.callTime = "2026.12.08.10.00.00";
        });
        recorder->StartRecording();
        voice.play(labtone::make(kAgentHertz, seconds), labtone::make(kCustomerHertz, seconds));
        recorder->StopRecording();
        recorder->SendCalltoQms();
    }
    std::optional<LabRecordServer::Upload> uploaded(const std::string& prefix) {
        return server.waitForUpload(prefix, kWait);
    }
    bool noRecordingsLeft() {
        return eventually([&] { return recorder->numRecordings() == 0; }, kWait);
    }
    fs::path kept(const std::string& name) const { return folder.path() / "kept" / name; }

    const double previousScale_ = Timing::scale();
    TempDir folder;
    RecordingsFolder recordings{(folder.path() / "kept").string()};
    LogCapture log;
    LabRecordServer server{{0, false, {}, {}, (folder.path() / "server").string(), LabRecorderAnswer::Success, kMuchLater}};
    TapVoiceEngine voice;
    FakeRecordingAgent agent;
    FakeRecordingConfig config;
    std::unique_ptr<CallRecorder> recorder = std::make_unique<CallRecorder>(CallRecorder::Seams{voice, agent, config});
};

}  // namespace

TEST_F(CallRecorderTest, ACallIsUploadedOnceWrapUpEndsUnderANameCarryingTheWrapUpsTagging) {
    call(1.5);
    EXPECT_EQ(agent.notices(), std::vector<std::string>{"279,T1^" + kUntaggedName});
    // The worker has the complete WAV and waits for the end of wrap-up.
    ASSERT_TRUE(eventually([&] { return log.contains("Length of file [24000]"); }, kWait));
    EXPECT_EQ(server.connections(), 0);
    agent.change([](RecordingFacts& facts) { facts.tagging = {true, "ACME", "Spring", "SOLD-TODAY-LONG"}; });
    recorder->releaseEndOfWrapUp();

    const auto upload = uploaded("ACME.");
    ASSERT_TRUE(upload);
    EXPECT_EQ(upload->name, "ACME.Spring.1001.2026.12.08.10.00.00.5551234.10-0-0-5.T1.SOLD-TODAY.wav");
    const auto samples = wavSamples(readBytes(upload->storedAs));
    EXPECT_EQ(samples.size(), 12000u);
    EXPECT_TRUE(labtone::present(samples, kAgentHertz, 700));
    EXPECT_TRUE(labtone::present(samples, kCustomerHertz, 700));
    EXPECT_TRUE(noRecordingsLeft());
    EXPECT_EQ(agent.notices().back(), "279,T1^ACME.Spring.1001.2026.12.08.10.00.00.5551234.10-0-0-5.T1.SOLD-TODAY");
    EXPECT_TRUE(log.contains("Recording buffer successfully sent"));
}

TEST_F(CallRecorderTest, ACallShorterThanTheMinimumIsNeverSentButItsWorkerWaitsForWrapUp) {
    call(0.5);
    EXPECT_TRUE(log.contains("SendCalltoQms(): Recording too small, not saving"));
    EXPECT_EQ(recorder->numRecordings(), 1) << "waiting for the end of wrap-up";
    recorder->releaseEndOfWrapUp();
    EXPECT_TRUE(noRecordingsLeft());
    EXPECT_EQ(server.connections(), 0);
    EXPECT_FALSE(fs::exists(folder.path() / "kept")) << "nothing stored";
}

TEST_F(CallRecorderTest, ALongCallIsCappedAtTheMaximumAndAThousandSamples) {
    settings([](RecordingSettings& chosen) { chosen.maxRecordingTime = 2; });
    call(3.0);
    recorder->releaseEndOfWrapUp();
    const auto upload = uploaded(kUntaggedName);
    ASSERT_TRUE(upload);
    EXPECT_EQ(wavSamples(readBytes(upload->storedAs)).size(), 17000u);
}

TEST_F(CallRecorderTest, TheMp3IsMadeWhileTheCallRunsAndDecodesToBothVoices) {
    settings([](RecordingSettings& chosen) { chosen.mp3Encoding = true; });
    call(2.0);
    recorder->releaseEndOfWrapUp();
    const auto upload = uploaded(kUntaggedName);
    ASSERT_TRUE(upload);
    EXPECT_EQ(upload->name, kUntaggedName + ".mp3");
    const std::vector<std::uint8_t> image = readBytes(upload->storedAs);
    const std::string firstFrame(image.begin(), image.begin() + 288);
    EXPECT_NE(firstFrame.find("Xing"), std::string::npos) << "the VBR tag is written over the first frame";
    const auto samples = mp3Samples(image);
    EXPECT_GE(samples.size(), 16000u);
    EXPECT_LE(samples.size(), 16000u + 3 * 576) << "the encoder's delay and padding at most";
    EXPECT_TRUE(labtone::present(samples, kAgentHertz, 700));
    EXPECT_TRUE(labtone::present(samples, kCustomerHertz, 700));
}

TEST_F(CallRecorderTest, AnEncoderThatFailsLeavesTheWholeCallAsWav) {
    for (const bool failOpen : {true, false}) {
        recorder = std::make_unique<CallRecorder>(CallRecorder::Seams{
            voice, agent, config, [failOpen] { return std::make_unique<FailingStream>(failOpen); }});
        settings([](RecordingSettings& chosen) { chosen.mp3Encoding = true; });
        server.clearUploads();
        call(1.2);
        recorder->releaseEndOfWrapUp();
        const auto upload = uploaded(kUntaggedName);
        ASSERT_TRUE(upload) << (failOpen ? "open" : "flush") << " failed";
        EXPECT_EQ(upload->name, kUntaggedName + ".wav") << "a WAV image is named as one";
        EXPECT_EQ(wavSamples(readBytes(upload->storedAs)).size(), 9600u);
        EXPECT_TRUE(log.contains("Encoding didn't work... falling back to WAV"));
        EXPECT_TRUE(noRecordingsLeft());
    }
}

TEST_F(CallRecorderTest, FailedAndLateAcknowledgementsAreRetriedAndTheThirdAttemptCounts) {
    server.answerNext(LabRecorderAnswer::Failed);
    server.answerNext(LabRecorderAnswer::Late);
    server.answerNext(LabRecorderAnswer::Split);
    call(1.2);
    recorder->releaseEndOfWrapUp();
    ASSERT_TRUE(server.waitForUploadCount(3, kWait));
    EXPECT_TRUE(noRecordingsLeft());
    EXPECT_TRUE(log.contains("Error while sending recording... trying again 1 attempts"));
    EXPECT_TRUE(log.contains("Error while sending recording... trying again 2 attempts"));
    EXPECT_FALSE(log.contains("Error while sending recording... trying again 3 attempts"));
    EXPECT_FALSE(fs::exists(folder.path() / "kept")) << "sent, so not kept";
}

TEST_F(CallRecorderTest, WithTheServerDownItGoesToDiskAndIsReSentAndDeletedOnTheNextAnnouncement) {
    server.stop();
    call(1.2);
    recorder->releaseEndOfWrapUp();
    ASSERT_TRUE(noRecordingsLeft());
    EXPECT_EQ(log.count("Error while sending recording... trying again 3 attempts"), 1);
    EXPECT_TRUE(log.contains("Could not send recording to server, writing " + kUntaggedName + ".wav [19244 bytes] to disk."));
    ASSERT_TRUE(fs::exists(kept(kUntaggedName + ".wav")));

    LabRecordServer back{{0, false, {}, {}, (folder.path() / "back").string()}};
    ASSERT_TRUE(back.start());
    announce(back);
    recorder->startResend();
    const auto upload = back.waitForUpload(kUntaggedName, kWait);
    ASSERT_TRUE(upload);
    EXPECT_EQ(upload->size, 19244u);
    EXPECT_TRUE(eventually([&] { return !fs::exists(kept(kUntaggedName + ".wav")); }, kWait));
}

TEST_F(CallRecorderTest, RecordingsAreKeptLocallyWhileNoServerIsKnownAndHeldInMemoryWhenTheDiskFails) {
    config.setServer({});
    fs::create_directories(folder.path());
    std::ofstream(folder.path() / "blocker") << "x";
    RecordingStore::useFolder((folder.path() / "blocker" / "kept").string());
    call(1.2);
    recorder->releaseEndOfWrapUp();
    ASSERT_TRUE(noRecordingsLeft());
    EXPECT_TRUE(log.contains("writeRecordingToDisk() - Can't create file on disk"));
    EXPECT_EQ(recorder->store().heldCount(), 1u);
    EXPECT_EQ(server.connections(), 0);

    RecordingStore::useFolder(kept("").string());
    announce(server);
    recorder->startResend();
    EXPECT_TRUE(uploaded(kUntaggedName));
    EXPECT_EQ(recorder->store().heldCount(), 0u);
}

TEST_F(CallRecorderTest, AShortCallFollowedAtOnceByAnotherLosesNeither) {
    call(1.2, "T1");
    agent.change([](RecordingFacts& facts) { facts.tagging = {true, "ACME", "Spring", "SOLD"}; });
    // The next call starts before the first one's wrap-up ended: its start lets the first go,
    // with the tagging the first call had.
    call(1.2, "T2");
    const auto first = uploaded("ACME.Spring.1001.2026.12.08.10.00.00.5551234.10-0-0-5.T1.SOLD");
    EXPECT_TRUE(first);
    recorder->releaseEndOfWrapUp();
    EXPECT_TRUE(uploaded("DefClient.DefCampaign.1001.2026.12.08.10.00.00.5551234.10-0-0-5.T2.000"));
    EXPECT_TRUE(noRecordingsLeft());
    EXPECT_EQ(server.uploads().size(), 2u);
}

TEST_F(CallRecorderTest, TheCleanCloseReturnsOnlyOnceEveryUploadIsDone) {
    server.answerNext(LabRecorderAnswer::Late);  // the first attempt times out
    call(1.2);
    recorder->releaseEndOfWrapUp();
    auto close = std::async(std::launch::async, [&] { recorder->waitForRecordings(); });
    ASSERT_EQ(close.wait_for(kWait), std::future_status::ready);
    EXPECT_EQ(recorder->numRecordings(), 0);
    ASSERT_EQ(server.uploads().size(), 2u) << "the retry had been acknowledged before the close went on";
    EXPECT_EQ(server.uploads().back().answer, LabRecorderAnswer::Success);
}

TEST_F(CallRecorderTest, AMaximumOfZeroRecordsNothingAndTheCloseDoesNotHang) {
    settings([](RecordingSettings& chosen) {
        chosen.mp3Encoding = true;
        chosen.maxRecordingTime = 0;
    });
    call(1.2);
    recorder->releaseEndOfWrapUp();
    auto close = std::async(std::launch::async, [&] { recorder->waitForRecordings(); });
    EXPECT_EQ(close.wait_for(kWait), std::future_status::ready);
    EXPECT_EQ(server.connections(), 0);
}

TEST_F(CallRecorderTest, RecordingTurnedOffDuringACallStillEndsItsTap) {
    recorder->StartRecording();
    ASSERT_TRUE(voice.tapInstalled());
    settings([](RecordingSettings& chosen) { chosen.active = false; });
    recorder->StopRecording();
    EXPECT_FALSE(voice.tapInstalled());
    EXPECT_TRUE(log.contains("out of Stop recording: no recording wanted"));
    recorder->SendCalltoQms();
    EXPECT_TRUE(log.contains("SendCalltoQms(): Nothing to send recording not wanted"));
    EXPECT_EQ(recorder->numRecordings(), 0);
}

TEST_F(CallRecorderTest, EndingWithoutACleanCloseMidCallKeepsTheRecordingOnDisk) {
    recorder->StartRecording();
    voice.play(labtone::make(kAgentHertz, 1.5), {});
    recorder.reset();
    EXPECT_TRUE(fs::exists(kept(kUntaggedName + ".wav")));
    EXPECT_EQ(server.connections(), 0);
}

TEST_F(CallRecorderTest, AnAnnouncementWhileRecordingsAreKeptLocallyReSendsNothing) {
    settings([](RecordingSettings& chosen) { chosen.localRecording = true; });
    call(1.2);
    recorder->releaseEndOfWrapUp();
    ASSERT_TRUE(noRecordingsLeft());
    ASSERT_TRUE(fs::exists(kept(kUntaggedName + ".wav")));
    recorder->startResend();
    recorder.reset();  // joins every thread it started
    EXPECT_EQ(server.connections(), 0);
    EXPECT_TRUE(fs::exists(kept(kUntaggedName + ".wav")));
}
