#pragma once

#include <memory>

#include "voice/engine/VoiceEngine.h"

// The voice engine the program runs with: our IAX2 engine on UDP `iaxPort` (4569 by default;
// an ephemeral port when it is taken) over the audio devices the environment selects.
std::unique_ptr<VoiceEngine> makeVoiceEngine(int iaxPort);
