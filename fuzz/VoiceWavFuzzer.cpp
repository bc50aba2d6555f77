// The virtual microphone's WAV files: any bytes are read or refused with a reason.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "voice/engine/media/WavFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> file(data, data + size);
    std::string problem;
    const auto samples = parseVoiceWav(file, problem);
    if (!samples && problem.empty()) std::abort();
    if (samples && samples->size() * 2 > size) std::abort();
    return 0;
}
