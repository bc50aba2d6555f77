// Datagrams of routing messages as a broken or hostile kernel interface might hand them over:
// whatever comes, the reading stops inside the datagram, never reads past it, and says why it
// stopped when it stops early.

#include <cstdint>
#include <cstdlib>

#include "voice/network/NetlinkMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto batch = netlink::parseNetlinkBatch(std::span(data, size));
    // Each message read whole takes at least a header's 16 bytes.
    if (static_cast<std::size_t>(batch.messages) * 16 > size) std::abort();
    if (batch.removedAddresses.size() > static_cast<std::size_t>(batch.messages)) std::abort();
    if (batch.route) (void)batch.route->text();
    return 0;
}
