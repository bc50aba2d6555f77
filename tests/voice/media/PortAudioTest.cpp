// The PortAudio path on a machine without a sound card: each test runs its own PulseAudio
// server with a null sink and a null source, reached through ALSA's pulse plugin. With the
// sink's monitor as the default source, what is played comes back as the microphone.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "AudioSignals.h"
#include "PulseAudioLab.h"
#include "voice/engine/media/AudioEngine.h"
#include "voice/engine/media/G711.h"
#include "voice/engine/media/PortAudioBackend.h"

// The PulseAudio client library is not built for ThreadSanitizer, which cannot see how its
// threads hand data over (through memory shared with the server); its reports are not ours.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libpulsecommon\n"
           "race:libpulse.so\n"
           "race:libasound_module_pcm_pulse\n";
}

namespace {

using namespace std::chrono_literals;
using namespace pulse_lab;

class PortAudio : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.readyAsLoopback()) << "pulseaudio did not start:\n" << readAll(home.path() + "/pulse.log");
    }

    // An engine over PortAudio whose device tries `rate` first; every payload it sends is
    // decoded into `sent`, and each call receives a 440 Hz tone in step with the audio clock.
    std::unique_ptr<AudioEngine> engineAt(int rate) {
        auto engine = std::make_unique<AudioEngine>(std::make_unique<PortAudioBackend>(rate));
        AudioEngine* media = engine.get();
        engine->setSendVoice([this, media](int callNo, std::uint32_t, std::vector<std::uint8_t> payload) {
            std::vector<std::uint8_t> far;
            if (farTone) {
                for (std::int16_t sample : signals::tone(440, 8000, 160, 8000, farClock * 160)) far.push_back(g711::linearToUlaw(sample));
                media->receiveVoice(callNo, static_cast<std::uint32_t>(farClock * 20), far.data(), far.size());
            }
            ++farClock;
            std::lock_guard guard(lock);
            for (std::uint8_t code : payload) sent.push_back(g711::ulawToLinear(code));
            changed.notify_all();
        });
        return engine;
    }
    // A µ-law call that lasts until the last quarter second sent back holds each of `tones` at
    // `amplitude` (the first block can take seconds to come), or 20 s have passed.
    bool callUntilHeard(MediaEngine& engine, const std::vector<double>& tones, double amplitude) {
        if (!engine.initialize() || !engine.openChannel(0, iax_format::Ulaw)) return false;
        std::unique_lock guard(lock);
        const bool heard = changed.wait_for(guard, 20s, [&] {
            return sent.size() >= 2000 && std::all_of(tones.begin(), tones.end(), [&](double hertz) {
                       return signals::amplitudeAt(sent.data() + sent.size() - 2000, 2000, hertz) > amplitude;
                   });
        });
        guard.unlock();
        engine.closeChannel(0);
        return heard;
    }
    // The quarter second of sent audio where `hertz` is strongest (a loaded machine may drop
    // blocks elsewhere).
    std::vector<std::int16_t> strongestQuarter(double hertz) {
        std::lock_guard guard(lock);
        std::vector<std::int16_t> best;
        double bestAmplitude = -1;
        for (std::size_t at = 0; at + 2000 <= sent.size(); at += 400) {
            const double amplitude = signals::amplitudeAt(sent.data() + at, 2000, hertz);
            if (amplitude <= bestAmplitude) continue;
            bestAmplitude = amplitude;
            best.assign(sent.begin() + static_cast<std::ptrdiff_t>(at), sent.begin() + static_cast<std::ptrdiff_t>(at + 2000));
        }
        return best;
    }

    SoundHome home;
    PulseServer server{home.path() + "/pulse.log"};
    bool farTone = true;
    int farClock = 0;  // audio thread
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::int16_t> sent;
};

TEST_F(PortAudio, ListsThePulseDevicesWithTheirCapabilities) {
    auto engine = engineAt(8000);
    ASSERT_TRUE(engine->initialize());
    const auto devices = engine->devices();
    const auto named = [&](const std::string& name) {
        return std::find_if(devices.begin(), devices.end(), [&](const AudioDevice& device) { return device.name == name; });
    };
    ASSERT_NE(named("pulse"), devices.end());
    ASSERT_NE(named("default"), devices.end());
    EXPECT_EQ(named("pulse")->capabilities, AudioDevice::Capture | AudioDevice::Play | AudioDevice::Ring);
    int input = -1, output = -1, ring = -1;
    engine->currentDevices(input, output, ring);
    EXPECT_EQ(input, named("default")->id);
    EXPECT_EQ(output, named("default")->id);
    EXPECT_EQ(ring, output);
}

TEST_F(PortAudio, PlaysAReceivedToneThatTheLoopbackMicrophoneSendsBack) {
    EXPECT_TRUE(callUntilHeard(*engineAt(8000), {440}, 4000));
}

TEST_F(PortAudio, ConvertsRatesWhenTheDeviceRunsAt48kHz) {
    ASSERT_TRUE(callUntilHeard(*engineAt(48000), {440}, 4000));
    EXPECT_LT(signals::amplitudeAt(strongestQuarter(440), 3000), 300);  // no images of the conversion
}

// The ring device differs from the output device, so the ring plays on a stream of its own;
// the loopback microphone hears it.
TEST_F(PortAudio, RingsOnAStreamOfItsOwn) {
    farTone = false;
    auto engine = engineAt(8000);
    ASSERT_TRUE(engine->initialize());
    int input = -1, output = -1, ring = -1;
    engine->currentDevices(input, output, ring);
    const auto devices = engine->devices();
    const auto other = std::find_if(devices.begin(), devices.end(), [&](const AudioDevice& device) {
        return device.id != output && (device.capabilities & AudioDevice::Ring);
    });
    ASSERT_NE(other, devices.end());
    engine->setDevices(input, output, other->id);
    engine->startRingTone();
    EXPECT_TRUE(callUntilHeard(*engine, {440, 480}, 2000));
    engine->stopRingTone();
}

TEST(PortAudioWithoutSoundSystem, InitializeFails) {
    SoundHome home;  // no server behind it, and no sound card
    AudioEngine engine(std::make_unique<PortAudioBackend>());
    EXPECT_FALSE(engine.initialize());
    EXPECT_FALSE(engine.openChannel(0, iax_format::Ulaw));
}

}  // namespace
