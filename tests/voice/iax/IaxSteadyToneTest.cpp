// A steady tone from the lab switch through the engine, its jitter buffer and mixer to the
// speaker, for a minute of audio. The test drives both clocks in turn, one 20 ms block from
// the switch, then one block of the audio device, so the path has no jitter and no loss and
// runs as fast as the machine allows: every sample of the tone must come out in its place.

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>

#include "infra/Timing.h"
#include "lab/switch/LabSwitch.h"
#include "support/TempDir.h"
#include "voice/engine/iax/IaxVoiceEngine.h"
#include "voice/engine/media/AudioEngine.h"
#include "voice/engine/media/VirtualAudioBackend.h"
#include "voice/engine/media/WavFile.h"

using namespace std::chrono_literals;

namespace {

constexpr auto kToneWait = 10s;  // bounds a failure only
// A slip of one 10 ms unit turns this tone by a quarter turn, far above what mu-law's
// rounding leaves in the prediction.
constexpr double kToneHertz = 1025;
constexpr double kToneAmplitude = 8000;
constexpr double kLargestRounding = 0.25 * kToneAmplitude;
constexpr int kToneBlocks = 60 * 50;  // a minute of 20 ms blocks

// The real media engine, counting the voice payloads that reach it per call.
class CountingMediaEngine final : public MediaEngine {
public:
    explicit CountingMediaEngine(std::unique_ptr<MediaEngine> media) : media_(std::move(media)) {}

    bool waitForVoice(int callNo, int payloads) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, kToneWait, [&] { return received_[callNo] >= payloads; });
    }

    bool initialize() override { return media_->initialize(); }
    std::vector<AudioDevice> devices() override { return media_->devices(); }
    void currentDevices(int& input, int& output, int& ring) override { media_->currentDevices(input, output, ring); }
    void setDevices(int input, int output, int ring) override { media_->setDevices(input, output, ring); }
    void setDeviceEvents(DeviceEvents events) override { media_->setDeviceEvents(std::move(events)); }
    void setFrameSamples(int samples) override { media_->setFrameSamples(samples); }
    void setSendVoice(SendVoice send) override { media_->setSendVoice(std::move(send)); }
    bool openChannel(int callNo, int format) override { return media_->openChannel(callNo, format); }
    void closeChannel(int callNo) override { media_->closeChannel(callNo); }
    void setQuelched(int callNo, bool quelched) override { media_->setQuelched(callNo, quelched); }
    void receiveVoice(int callNo, std::uint32_t timestampMs, const std::uint8_t* payload, std::size_t size) override {
        media_->receiveVoice(callNo, timestampMs, payload, size);
        std::lock_guard guard(lock_);
        ++received_[callNo];
        changed_.notify_all();
    }
    void startRingTone() override { media_->startRingTone(); }
    void stopRingTone() override { media_->stopRingTone(); }
    void setRecorderTap(VoiceEngine::RecorderTap tap) override { media_->setRecorderTap(std::move(tap)); }

private:
    const std::unique_ptr<MediaEngine> media_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::map<int, int> received_;
};

// Where a sample of the tone is not what the two before it predict (s[n] = 2 cos(w) s[n-1] - s[n-2]):
// the times in seconds into the tone. The tone starts at the first loud sample.
std::vector<double> discontinuities(const std::vector<std::int16_t>& samples, std::size_t& toneSamples) {
    const double twoCos = 2 * std::cos(2 * std::numbers::pi * kToneHertz / 8000);
    std::size_t start = 0;
    while (start < samples.size() && std::abs(samples[start]) < kToneAmplitude / 2) ++start;
    std::vector<double> jumps;
    for (std::size_t n = start + 2; n < samples.size(); ++n) {
        const double predicted = twoCos * samples[n - 1] - samples[n - 2];
        if (std::abs(samples[n] - predicted) > kLargestRounding) jumps.push_back(static_cast<double>(n - start) / 8000);
    }
    toneSamples = samples.size() - std::min(start, samples.size());
    return jumps;
}

}  // namespace

TEST(IaxSteadyTone, AMinuteOfToneFromTheSwitchReachesTheSpeakerWithoutASlip) {
    TempDir folder;
    const std::string speakerFile = (folder.path() / "speaker.wav").string();
    LabSwitchOptions options;
    options.users = {{"1001", "pw1001"}};
    options.ringTime = 0ms;
    options.farParty = LabAudioSource::tone(kToneHertz, static_cast<std::int16_t>(kToneAmplitude));
    options.audioByHand = true;
    LabSwitch lab(options);
    ASSERT_TRUE(lab.start());

    auto backend = std::make_unique<VirtualAudioBackend>("", speakerFile, "", VirtualAudioBackend::Pace::Driven);
    VirtualAudioBackend& device = *backend;
    auto counting = std::make_unique<CountingMediaEngine>(std::make_unique<AudioEngine>(std::move(backend)));
    CountingMediaEngine& media = *counting;
    IaxVoiceEngine engine({"127.0.0.1", 0, iax_format::Ulaw}, std::move(counting));
    ASSERT_EQ(engine.iaxc_initialize(3), 0);
    ASSERT_EQ(engine.iaxc_start_processing_thread(), 0);
    ASSERT_EQ(engine.iaxc_call("1001:pw1001@127.0.0.1:" + std::to_string(lab.port()) + "/ZQ1001"), 0);
    ASSERT_TRUE(
        lab.waitForCall([](const LabCallInfo& call) { return call.state == LabCallState::Answered; }, kToneWait));
    const auto deadline = std::chrono::steady_clock::now() + kToneWait;
    while (!device.streaming() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(device.streaming());

    for (int block = 0; block < kToneBlocks; ++block) {
        ASSERT_EQ(lab.sendAudioBlocks(1), 1);
        ASSERT_TRUE(media.waitForVoice(0, block + 1)) << "block " << block << " did not arrive";
        ASSERT_TRUE(device.runBlocks(1));
    }
    engine.iaxc_dump_all_calls();
    lab.stop();

    std::string problem;
    const auto speaker = readVoiceWav(speakerFile, problem);
    ASSERT_TRUE(speaker) << problem;
    std::size_t toneSamples = 0;
    const auto jumps = discontinuities(*speaker, toneSamples);
    EXPECT_GE(toneSamples, static_cast<std::size_t>(kToneBlocks - 5) * 160);
    EXPECT_TRUE(jumps.empty()) << jumps.size() << " discontinuities, the first " << jumps.front() << " s into the tone";
}
