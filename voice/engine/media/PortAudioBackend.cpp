#include "voice/engine/media/PortAudioBackend.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <portaudio.h>

#include <array>
#include <atomic>
#include <memory>

#include "infra/CLogger.h"
#include "voice/engine/media/DeviceStream.h"
#include "voice/engine/media/SoundCardWatch.h"

namespace {

// ALSA and JACK print their probing of absent cards and servers on standard error.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
void quietJack(const char*) {}

void silenceSoundLibraries() {
    snd_lib_error_set_handler(quietAlsa);
    jack_set_error_function(quietJack);
    jack_set_info_function(quietJack);
}

// The speaker's blocks: each one is a block of the engine, with the oldest captured audio.
class SpeakerSource final : public BlockSource {
public:
    SpeakerSource(AudioStreamClient& client, CaptureQueue& microphone) : client_(client), microphone_(microphone) {}
    void nextBlock(std::int16_t* out, int frames) override {
        microphone_.popBlock(block_.data());
        client_.processBlock(block_.data(), out, frames);
    }

private:
    AudioStreamClient& client_;
    CaptureQueue& microphone_;
    std::array<std::int16_t, 240> block_{};
};

class RingSource final : public BlockSource {
public:
    explicit RingSource(AudioStreamClient& client) : client_(client) {}
    void nextBlock(std::int16_t* out, int frames) override { client_.produceRingBlock(out, frames); }

private:
    AudioStreamClient& client_;
};

int firstWith(const std::vector<AudioDevice>& devices, int capability) {
    for (const AudioDevice& device : devices)
        if (device.capabilities & capability) return device.id;
    return -1;
}

}  // namespace

PortAudioBackend::PortAudioBackend(int preferredRate) : preferredRate_(preferredRate) {}

PortAudioBackend::~PortAudioBackend() {
    stop();
    if (initialized_) Pa_Terminate();
}

bool PortAudioBackend::initialize() {
    if (initialized_) return true;
    silenceSoundLibraries();
    if (!watch_) watch_ = std::make_unique<SoundCardWatch>();
    const PaError error = Pa_Initialize();
    if (error != paNoError) {
        logMessage(LogLevel::Error, "Media: PortAudio failed to initialise: %s", Pa_GetErrorText(error));
        return false;
    }
    initialized_ = true;
    return listDevices();
}

bool PortAudioBackend::rescan() {
    if (capture_ || playback_ || ring_) return false;
    if (initialized_) Pa_Terminate();
    initialized_ = false;
    devices_.clear();
    defaultInput_ = defaultOutput_ = -1;
    return initialize();
}

bool PortAudioBackend::devicesMayHaveChanged() { return watch_ && watch_->changed(); }

bool PortAudioBackend::listDevices() {
    const int count = Pa_GetDeviceCount();
    for (int id = 0; id < count; ++id) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(id);
        if (!info) continue;
        int capabilities = 0;
        if (info->maxInputChannels > 0) capabilities |= AudioDevice::Capture;
        if (info->maxOutputChannels > 0) capabilities |= AudioDevice::Play | AudioDevice::Ring;
        devices_.push_back({info->name ? info->name : "", capabilities, id});
        logMessage(LogLevel::Debug, "Media: PortAudio device %d [%s] in %d out %d, %.0f Hz", id, info->name,
                   info->maxInputChannels, info->maxOutputChannels, info->defaultSampleRate);
    }
    defaultInput_ = Pa_GetDefaultInputDevice();
    defaultOutput_ = Pa_GetDefaultOutputDevice();
    if (defaultInput_ == paNoDevice) defaultInput_ = firstWith(devices_, AudioDevice::Capture);
    if (defaultOutput_ == paNoDevice) defaultOutput_ = firstWith(devices_, AudioDevice::Play);
    if (defaultInput_ < 0 || defaultOutput_ < 0) {
        logMessage(LogLevel::Error, "Media: PortAudio has no device to capture and play with (%d devices)", count);
        return false;
    }
    return true;
}

void PortAudioBackend::defaultDevices(int& input, int& output, int& ring) const {
    input = defaultInput_;
    output = defaultOutput_;
    ring = defaultOutput_;
}

bool PortAudioBackend::start(const StreamFormat& format, AudioStreamClient& client) {
    stop();
    microphone_ = std::make_unique<CaptureQueue>(format.frames);
    speakerSource_ = std::make_unique<SpeakerSource>(client, *microphone_);
    // The capture and the playback of a device that goes away both end: one loss to tell.
    const auto lost = [&client, told = std::make_shared<std::atomic<bool>>(false)] {
        if (!told->exchange(true)) client.streamLost();
    };
    capture_ = DeviceStream::openCapture(format.input, format.frames, preferredRate_, *microphone_, lost);
    playback_ = DeviceStream::openPlayback(format.output, format.frames, preferredRate_, *speakerSource_, lost);
    if (format.ring >= 0) {
        ringSource_ = std::make_unique<RingSource>(client);
        ring_ = DeviceStream::openPlayback(format.ring, format.frames, preferredRate_, *ringSource_, lost);
    }
    const bool running = capture_ && playback_ && (format.ring < 0 || ring_) && capture_->start() &&
                         playback_->start() && (format.ring < 0 || ring_->start());
    if (!running) stop();
    return running;
}

void PortAudioBackend::stop() {
    ring_.reset();
    playback_.reset();
    capture_.reset();
    ringSource_.reset();
    speakerSource_.reset();
    microphone_.reset();
}
