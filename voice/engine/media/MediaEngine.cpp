#include "voice/engine/media/MediaEngine.h"

#include <cstdlib>

#include "voice/engine/media/AudioEngine.h"
#include "voice/engine/media/PortAudioBackend.h"
#include "voice/engine/media/VirtualAudioBackend.h"

namespace {
std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}
}  // namespace

// ORVANE_AUDIO=virtual selects the virtual devices, with ORVANE_AUDIO_MIC, ORVANE_AUDIO_SPEAKER
// and ORVANE_AUDIO_RING naming their files.
AudioConfig AudioConfig::fromEnvironment() {
    AudioConfig config;
    if (environment("ORVANE_AUDIO") != "virtual") return config;
    config.backend = Backend::Virtual;
    config.microphoneWav = environment("ORVANE_AUDIO_MIC");
    config.speakerWav = environment("ORVANE_AUDIO_SPEAKER");
    config.ringWav = environment("ORVANE_AUDIO_RING");
    return config;
}

std::unique_ptr<MediaEngine> makeMediaEngine(const AudioConfig& config) {
    if (config.backend == AudioConfig::Backend::Virtual)
        return std::make_unique<AudioEngine>(
            std::make_unique<VirtualAudioBackend>(config.microphoneWav, config.speakerWav, config.ringWav));
    return std::make_unique<AudioEngine>(std::make_unique<PortAudioBackend>());
}
