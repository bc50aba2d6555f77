#pragma once

#include <memory>

#include "voice/engine/media/Codec.h"

// Speex narrowband through libspeex at quality 8: 160 samples in 38 bytes (15 kbit/s).
std::unique_ptr<Codec> makeSpeexCodec();
