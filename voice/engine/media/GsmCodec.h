#pragma once

#include <memory>

#include "voice/engine/media/Codec.h"

// GSM 06.10 full rate through libgsm: 160 samples in 33 bytes.
std::unique_ptr<Codec> makeGsmCodec();
