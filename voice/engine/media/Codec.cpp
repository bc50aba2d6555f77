#include "voice/engine/media/Codec.h"

#include "voice/engine/media/G711.h"
#include "voice/engine/media/GsmCodec.h"
#include "voice/engine/media/SpeexCodec.h"

std::unique_ptr<Codec> makeCodec(int format) {
    switch (format) {
    case iax_format::Ulaw:
    case iax_format::Alaw: return makeG711Codec(format);
    case iax_format::Gsm: return makeGsmCodec();
    case iax_format::Speex: return makeSpeexCodec();
    default: return nullptr;  // iLBC has no library on this platform
    }
}

int supportedFormats() { return iax_format::Ulaw | iax_format::Alaw | iax_format::Gsm | iax_format::Speex; }
