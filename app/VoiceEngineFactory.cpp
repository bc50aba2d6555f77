#include "app/VoiceEngineFactory.h"

#include "voice/engine/iax/IaxVoiceEngine.h"
#include "voice/engine/media/Codec.h"
#include "voice/engine/media/MediaEngine.h"

std::unique_ptr<VoiceEngine> makeVoiceEngine(int iaxPort) {
    IaxEngineConfig config;
    config.port = iaxPort;
    config.supportedFormats = supportedFormats();
    return std::make_unique<IaxVoiceEngine>(config, makeMediaEngine(AudioConfig::fromEnvironment()));
}
