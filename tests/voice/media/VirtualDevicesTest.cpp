#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

#include "AudioSignals.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "voice/engine/media/G711.h"
#include "voice/engine/media/MediaEngine.h"
#include "voice/engine/media/WavFile.h"

namespace {

using namespace std::chrono_literals;

void writeWav(const std::string& path, const std::vector<std::int16_t>& samples) {
    WavWriter writer;
    ASSERT_TRUE(writer.open(path));
    writer.append(samples.data(), static_cast<int>(samples.size()));
}

std::vector<std::int16_t> readWav(const std::string& path) {
    std::string problem;
    auto samples = readVoiceWav(path, problem);
    EXPECT_TRUE(samples) << path << ": " << problem;
    return samples.value_or(std::vector<std::int16_t>{});
}

// Counts something happening on the audio thread and lets the test wait for it.
class Counter {
public:
    void add() {
        std::lock_guard guard(lock_);
        ++count_;
        changed_.notify_all();
    }
    bool waitFor(int count) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, 10s, [&] { return count_ >= count; });
    }
    int count() {
        std::lock_guard guard(lock_);
        return count_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    int count_ = 0;
};

class VirtualDevices : public ::testing::Test {
protected:
    VirtualDevices() {
        config.backend = AudioConfig::Backend::Virtual;
        config.speakerWav = dir.str() + "/speaker.wav";
        config.ringWav = dir.str() + "/ring.wav";
    }

    // The microphone plays this file from now on.
    void giveMicrophone(const std::vector<std::int16_t>& samples) {
        config.microphoneWav = dir.str() + "/microphone.wav";
        writeWav(config.microphoneWav, samples);
    }

    TempDir dir;
    AudioConfig config;
};

TEST_F(VirtualDevices, ListADevicePerRoleAndAPlantronicsHeadset) {
    auto engine = makeMediaEngine(config);
    ASSERT_TRUE(engine->initialize());
    const auto devices = engine->devices();
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[0].name, "Virtual Microphone");
    EXPECT_EQ(devices[0].capabilities, AudioDevice::Capture);
    EXPECT_EQ(devices[1].name, "Virtual Speaker");
    EXPECT_EQ(devices[1].capabilities, AudioDevice::Play);
    EXPECT_EQ(devices[2].name, "Virtual Ringer");
    EXPECT_EQ(devices[2].capabilities, AudioDevice::Ring);
    EXPECT_EQ(devices[3].name, "Plantronics Virtual Headset");
    EXPECT_EQ(devices[3].capabilities, AudioDevice::Capture | AudioDevice::Play | AudioDevice::Ring);
    int input = -1, output = -1, ring = -1;
    engine->currentDevices(input, output, ring);
    EXPECT_EQ(std::vector<int>({input, output, ring}), std::vector<int>({0, 1, 2}));
    engine->setDevices(3, 3, 3);
    engine->currentDevices(input, output, ring);
    EXPECT_EQ(std::vector<int>({input, output, ring}), std::vector<int>({3, 3, 3}));
}

// The microphone's tone goes out encoded; the tone the call receives comes out of the speaker.
TEST_F(VirtualDevices, CarryAToneEachWay) {
    giveMicrophone(signals::tone(600, 6000, 8000));
    auto engine = makeMediaEngine(config);
    ASSERT_TRUE(engine->initialize());
    MediaEngine* media = engine.get();

    std::mutex lock;
    std::vector<std::int16_t> sent;
    std::vector<std::uint32_t> timestamps;
    Counter payloads;
    int farClock = 0;
    engine->setSendVoice([&](int callNo, std::uint32_t timestampMs, std::vector<std::uint8_t> payload) {
        {
            std::lock_guard guard(lock);
            for (std::uint8_t code : payload) sent.push_back(g711::ulawToLinear(code));
            timestamps.push_back(timestampMs);
        }
        // The far end answers in step with the audio clock.
        std::vector<std::uint8_t> far;
        for (std::int16_t sample : signals::tone(440, 6000, 160, 8000, farClock * 160)) far.push_back(g711::linearToUlaw(sample));
        media->receiveVoice(callNo, static_cast<std::uint32_t>(farClock++ * 20), far.data(), far.size());
        payloads.add();
    });
    ASSERT_TRUE(engine->openChannel(0, iax_format::Ulaw));
    ASSERT_TRUE(payloads.waitFor(30));
    engine->closeChannel(0);
    engine.reset();

    std::lock_guard guard(lock);
    EXPECT_GT(signals::amplitudeAt(sent, 600), 5000);
    for (std::size_t i = 1; i < timestamps.size(); ++i) EXPECT_EQ(timestamps[i] - timestamps[i - 1], 20u);
    const auto speaker = readWav(config.speakerWav);
    ASSERT_GE(speaker.size(), 25u * 160);
    const std::vector<std::int16_t> settled(speaker.begin() + 5 * 160, speaker.end());
    EXPECT_GT(signals::amplitudeAt(settled, 440), 4000);
}

TEST_F(VirtualDevices, RingTheRingToneIntoTheRingFile) {
    auto engine = makeMediaEngine(config);
    ASSERT_TRUE(engine->initialize());
    Counter blocks;
    engine->setRecorderTap([&](const std::int16_t*, const std::int16_t*, int) { blocks.add(); });
    engine->startRingTone();
    ASSERT_TRUE(blocks.waitFor(15));
    engine->stopRingTone();
    engine.reset();

    const auto ring = readWav(config.ringWav);
    ASSERT_GE(ring.size(), 15u * 160);
    EXPECT_GT(signals::amplitudeAt(ring, 440), 5000);
    EXPECT_GT(signals::amplitudeAt(ring, 480), 5000);
    EXPECT_EQ(signals::rms(readWav(config.speakerWav)), 0.0);
}

// The tap is installed and removed over and over while the audio runs; once removed it is
// never called again.
TEST_F(VirtualDevices, RecorderTapComesAndGoesSafelyWhileAudioRuns) {
    giveMicrophone(signals::tone(600, 6000, 8000));
    auto engine = makeMediaEngine(config);
    ASSERT_TRUE(engine->initialize());
    engine->setDevices(0, 3, 3);
    ASSERT_TRUE(engine->openChannel(1, iax_format::Alaw));
    engine->startRingTone();  // on the speaker, since the headset plays and rings

    std::mutex lock;
    std::vector<std::int16_t> microphone, speaker;
    Counter calls;
    const auto tap = [&](const std::int16_t* mic, const std::int16_t* out, int frames) {
        {
            std::lock_guard guard(lock);
            microphone.insert(microphone.end(), mic, mic + frames);
            speaker.insert(speaker.end(), out, out + frames);
        }
        calls.add();
    };
    for (int round = 0; round < 5; ++round) {
        engine->setRecorderTap(tap);
        std::this_thread::sleep_for(15ms);
        engine->setRecorderTap({});
        std::this_thread::sleep_for(5ms);
    }
    engine->setRecorderTap(tap);
    ASSERT_TRUE(calls.waitFor(calls.count() + 15));
    engine->setRecorderTap({});
    const int afterRemoval = calls.count();
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(calls.count(), afterRemoval);
    engine.reset();

    std::lock_guard guard(lock);
    EXPECT_GT(signals::amplitudeAt(microphone, 600), 5000);
    EXPECT_GT(signals::amplitudeAt(speaker, 440), 3000);
}

// Read while the stream writes, the speaker file is always a valid WAV file holding all that
// was written so far.
TEST_F(VirtualDevices, SpeakerFileIsValidWhileBeingWritten) {
    auto engine = makeMediaEngine(config);
    ASSERT_TRUE(engine->initialize());
    EXPECT_TRUE(readWav(config.speakerWav).empty());  // valid, and empty, before any audio
    engine->startRingTone();
    for (int look = 0; look < 5; ++look) {
        std::this_thread::sleep_for(30ms);
        // The stream goes on writing while we look: the header read lies between the sizes
        // seen before and after, and lags the data by at most one block.
        struct stat before {}, after {};
        ASSERT_EQ(::stat(config.speakerWav.c_str(), &before), 0);
        const auto samples = readWav(config.speakerWav);
        ASSERT_EQ(::stat(config.speakerWav.c_str(), &after), 0);
        EXPECT_LE(44 + samples.size() * 2, static_cast<std::size_t>(after.st_size));
        EXPECT_GE(44 + samples.size() * 2 + 2 * 160, static_cast<std::size_t>(before.st_size));
    }
    engine->stopRingTone();
    const auto samples = readWav(config.speakerWav);
    struct stat info {};
    ASSERT_EQ(::stat(config.speakerWav.c_str(), &info), 0);
    EXPECT_EQ(44 + samples.size() * 2, static_cast<std::size_t>(info.st_size));
    EXPECT_GT(samples.size(), 0u);
}

TEST_F(VirtualDevices, MicrophoneFileOfAnotherFormatIsRefusedWithALogLine) {
    // A stereo 8 kHz header.
    config.microphoneWav = dir.str() + "/stereo.wav";
    std::ofstream out(config.microphoneWav, std::ios::binary);
    const unsigned char header[44] = {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2,
                                      0, 0x40, 0x1F, 0, 0, 0, 0x7D, 0, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    out.close();
    LogCapture log;
    auto engine = makeMediaEngine(config);
    EXPECT_TRUE(engine->initialize());
    EXPECT_TRUE(log.contains("Media: virtual microphone file " + config.microphoneWav +
                             " refused, it is format 1, 2 channel(s), 8000 Hz, 16 bits, not 8000 Hz mono 16-bit PCM; "
                             "the microphone is silent"));

    std::string problem;
    EXPECT_FALSE(readVoiceWav(dir.str() + "/missing.wav", problem));
    EXPECT_EQ(problem, "it cannot be opened");
    std::ofstream(dir.str() + "/text.wav") << "not audio at all";
    EXPECT_FALSE(readVoiceWav(dir.str() + "/text.wav", problem));
    EXPECT_EQ(problem, "it is not a RIFF WAVE file");
}

TEST(AudioConfiguration, EnvironmentChoosesTheVirtualDevicesAndTheirFiles) {
    ::unsetenv("ORVANE_AUDIO");
    EXPECT_EQ(AudioConfig::fromEnvironment().backend, AudioConfig::Backend::PortAudio);
    ::setenv("ORVANE_AUDIO", "virtual", 1);
    ::setenv("ORVANE_AUDIO_MIC", "/tmp/mic.wav", 1);
    ::setenv("ORVANE_AUDIO_SPEAKER", "/tmp/speaker.wav", 1);
    ::setenv("ORVANE_AUDIO_RING", "/tmp/ring.wav", 1);
    const AudioConfig config = AudioConfig::fromEnvironment();
    EXPECT_EQ(config.backend, AudioConfig::Backend::Virtual);
    EXPECT_EQ(config.microphoneWav, "/tmp/mic.wav");
    EXPECT_EQ(config.speakerWav, "/tmp/speaker.wav");
    EXPECT_EQ(config.ringWav, "/tmp/ring.wav");
    for (const char* name : {"ORVANE_AUDIO", "ORVANE_AUDIO_MIC", "ORVANE_AUDIO_SPEAKER", "ORVANE_AUDIO_RING"}) ::unsetenv(name);
}

}  // namespace
