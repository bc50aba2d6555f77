// The PortAudio path on a machine without a sound card: each test runs its own PulseAudio
// server with a null sink and a null source, reached through ALSA's pulse plugin. With the
// sink's monitor as the default source, what is played comes back as the microphone.

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "AudioSignals.h"
#include "voice/engine/media/AudioEngine.h"
#include "voice/engine/media/G711.h"
#include "voice/engine/media/PortAudioBackend.h"

extern char** environ;

// The PulseAudio client library is not built for ThreadSanitizer, which cannot see how its
// threads hand data over (through memory shared with the server); its reports are not ours.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libpulsecommon\n"
           "race:libpulse.so\n"
           "race:libasound_module_pcm_pulse\n";
}

namespace {

using namespace std::chrono_literals;

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// ALSA unloads the plugins it probed when PortAudio ends, leaving what their static data held
// unreachable, which LeakSanitizer takes for leaks. Loaded here first, they stay resident.
void keepAlsaPluginsLoaded() {
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(ALSA_PLUGIN_DIR, missing))
        dlopen(entry.path().c_str(), RTLD_LAZY | RTLD_NODELETE);
}

// Points HOME and XDG_RUNTIME_DIR of this process (and so of PortAudio and of the server) into
// a scratch folder of its own under /tmp: the server's socket path must stay short.
class SoundHome {
public:
    SoundHome() {
        keepAlsaPluginsLoaded();
        char pattern[] = "/tmp/orvane-sound-XXXXXX";
        path_ = ::mkdtemp(pattern) ? pattern : "";
        const std::string home = path_ + "/home", runtime = path_ + "/run";
        ::mkdir(home.c_str(), 0700);
        ::mkdir(runtime.c_str(), 0700);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    ~SoundHome() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    SoundHome(const SoundHome&) = delete;
    SoundHome& operator=(const SoundHome&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A PulseAudio server of this test's own, stopped and reaped at the end.
class PulseServer {
public:
    explicit PulseServer(const std::string& logFile) {
        const char* argv[] = {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--log-target=stderr",
                              "-L", "module-null-sink sink_name=vsink rate=8000 channels=1",
                              "-L", "module-null-source source_name=vsrc rate=8000 channels=1",
                              "-L", "module-native-protocol-unix", nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const int error = posix_spawnp(&pid_, "pulseaudio", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) pid_ = -1;
    }
    ~PulseServer() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        for (int wait = 0; wait < 100; ++wait) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
            std::this_thread::sleep_for(20ms);
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // Waits until the server answers, then makes the sink's monitor the default source.
    bool readyAsLoopback() const {
        if (pid_ <= 0) return false;
        for (int attempt = 0; attempt < 200; ++attempt) {
            if (std::system("pactl info >/dev/null 2>&1") == 0)
                return std::system("pactl set-default-sink vsink && pactl set-default-source vsink.monitor") == 0;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

private:
    pid_t pid_ = -1;
};

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
