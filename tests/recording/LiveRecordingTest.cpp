#include "e2e/LivePhoneFixture.h"

#include "RecordingDoubles.h"
#include "lab/recorder/LabRecordServer.h"

namespace {

// Whole phones recording real calls: the lab switch plays the customer's tone, the virtual
// microphone the agent's, and the lab recording server takes the recording. A call lasts a
// little longer than the maximum recording time, so the recording's length is exact.
class LiveRecordingTest : public LivePhoneFixture {
protected:
    static constexpr int kMaxSeconds = 2;
    static constexpr std::size_t kRecordedSamples = kMaxSeconds * 8000 + 1000;

    void startRecorder(bool tls, bool mp3) {
        LabRecorderOptions options;
        options.tls = tls;
        options.folder = file("server");
        options.lateAnswer = kMuchLater;
        recorder = std::make_unique<LabRecordServer>(options);
        ASSERT_TRUE(recorder->start());
        cti.configure([&](LabCtiOptions& cti) {
            cti.recordServer = labcti::RecordServer{"127.0.0.1", std::to_string(recorder->port()), tls ? "1" : "0"};
            cti.loginSettings.recording.mp3Encoding = mp3 ? "1" : "0";
            cti.loginSettings.recording.maxRecordingTime = std::to_string(kMaxSeconds);
        });
    }
    // A distributed call that lasts past the maximum recording time, hung up by the agent.
    void talkAndHangUp() {
        goReady();
        cti.clearReceived();
        cti.push(labcti::queueDistribute({"T1", "2026.12.08.10.00.00", "555", "", std::nullopt, {}}));
        ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
        std::this_thread::sleep_for(std::chrono::milliseconds(kMaxSeconds * 1000 + 800));
        buttons->OnBnClickedButtonHangup();
        ASSERT_TRUE(waitForState(agent::AgentNotReady));
    }
    std::vector<std::int16_t> storedSamples(const LabRecordServer::Upload& upload) {
        const std::vector<std::uint8_t> image = readBytes(upload.storedAs);
        return upload.name.ends_with(".mp3") ? mp3Samples(image) : wavSamples(image);
    }

    static inline const std::string kName = "LabClient.LabCampaign.1001.2026.12.08.10.00.00.555.127-0-0-1.T1.000";
    std::unique_ptr<LabRecordServer> recorder;
};

}  // namespace

TEST_F(LiveRecordingTest, ARecordedCallIsUploadedAfterWrapUpAndHoldsBothVoices) {
    startRecorder(false, false);
    loginNotReady();
    talkAndHangUp();
    EXPECT_EQ(sent("279,"), "279,T1^" + kName);
    buttons->OnBnClickedButtonReady();  // wrap-up ends
    const auto upload = recorder->waitForUpload(kName, kWait);
    ASSERT_TRUE(upload);
    EXPECT_EQ(upload->name, kName + ".wav");
    const auto samples = storedSamples(*upload);
    EXPECT_EQ(samples.size(), kRecordedSamples);
    EXPECT_TRUE(labtone::present(samples, kAgentHertz, 700)) << "the agent is not in the recording";
    EXPECT_TRUE(labtone::present(samples, kCustomerHertz, 700)) << "the customer is not in the recording";
    EXPECT_TRUE(cti.waitForCount([](const std::string& text) { return text == "279,T1^" + kName; }, 2, kWait))
        << "the notice goes again once wrap-up is over";
}

TEST_F(LiveRecordingTest, AnMp3RecordingGoesOverTlsAndDecodesToBothVoices) {
    startRecorder(true, true);
    loginNotReady();
    talkAndHangUp();
    buttons->OnBnClickedButtonReady();
    const auto upload = recorder->waitForUpload(kName, kWait);
    ASSERT_TRUE(upload);
    EXPECT_EQ(upload->name, kName + ".mp3");
    const auto samples = storedSamples(*upload);
    EXPECT_GE(samples.size(), kRecordedSamples);
    EXPECT_LE(samples.size(), kRecordedSamples + 3 * 576) << "the encoder's delay and padding at most";
    EXPECT_TRUE(labtone::present(samples, kAgentHertz, 700));
    EXPECT_TRUE(labtone::present(samples, kCustomerHertz, 700));
    EXPECT_EQ(log.levelOf("QMS::sendRecordingToQMS - The certificate of the recording server [127.0.0.1:" +
                          std::to_string(recorder->port()) + "] is not verified: no RecordingServerCaFile is set"),
              "WARNING");
}

TEST_F(LiveRecordingTest, TheCleanCloseWaitsForTheUploadOfTheCallInHand) {
    startRecorder(false, false);
    recorder->answerNext(LabRecorderAnswer::Late);  // the first attempt times out
    loginNotReady();
    goReady();
    cti.push(labcti::queueDistribute({"T1", "2026.12.08.10.00.00", "555", "", std::nullopt, {}}));
    ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    std::this_thread::sleep_for(1500ms);
    core->doWaitforCleanClose();  // mid-call
    ASSERT_TRUE(eventually([&] { return window.closed(); }, 30s));
    const auto uploads = recorder->uploads();
    ASSERT_EQ(uploads.size(), 2u) << "the window closed before the recording was acknowledged";
    EXPECT_EQ(uploads.back().answer, LabRecorderAnswer::Success);
    EXPECT_EQ(uploads.back().name, kName + ".wav");
    EXPECT_TRUE(log.contains("Recording buffer successfully sent"));
}
