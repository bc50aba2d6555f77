#pragma once

#include <memory>

#include "voice/engine/VoiceEngine.h"

// The voice engine the program runs with.
std::unique_ptr<VoiceEngine> makeVoiceEngine();
