// The '~' framing of both links: any stream cut at any points gives back exactly its messages,
// and the text waiting for its end never passes the bound.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "wire/FrameAssembler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t chunk = 1 + data[0] % 64;  // the first byte chooses the cut
    const std::string stream(reinterpret_cast<const char*>(data + 1), size - 1);
    FrameAssembler frames(4096);
    std::string rebuilt;
    bool overflowed = false;
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
        const std::string piece = stream.substr(at, chunk);
        if (!frames.append(piece.data(), piece.size())) {
            overflowed = true;
            break;
        }
        while (frames.hasMessage()) rebuilt += frames.nextMessage() + FrameAssembler::kTerminator;
        if (frames.pendingSize() > 4096) std::abort();
    }
    if (!overflowed && rebuilt + frames.pending() != stream) std::abort();
    return 0;
}
