// Datagrams from a hostile IAX2 peer: the input is a run of datagrams, each behind a 16-bit
// big-endian length, fed to the engine's protocol side with a registration and a call on
// line 0 under way (local call numbers 2 and 3). Whatever comes, nothing may crash, read out
// of bounds or grow without bound, and every parsed frame must encode back to what it says.

#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>

#include "infra/CLogger.h"
#include "voice/engine/iax/FrameRouter.h"
#include "voice/engine/media/Codec.h"

using namespace iax;

namespace {
struct Discard : DatagramSender {
    void send(const PeerAddress&, std::span<const std::uint8_t>) override {}
};

PeerAddress switchAddress() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(4569);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return PeerAddress(address);
}

void checkRoundTrip(std::span<const std::uint8_t> datagram) {
    const Datagram parsed = parseDatagram(datagram);
    if (parsed.kind != Datagram::Kind::Full) return;
    const auto bytes = encodeFullFrame(parsed.full);
    const Datagram again = parseDatagram(bytes);
    if (again.kind != Datagram::Kind::Full || again.full.subclass != parsed.full.subclass ||
        again.full.timestamp != parsed.full.timestamp || again.full.payload.size() != parsed.full.payload.size())
        std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        CLogger::getInstance()->setDebugOutput([](std::string_view) {});
        return true;
    }();
    (void)quiet;
    Discard out;
    Outbox outbox;
    LogThrottle throttle;
    DialogTable dialogs(0);
    CodecPolicy codecs(iax_format::Ulaw | iax_format::Alaw | iax_format::Gsm);
    Registrations registrations(dialogs, out, outbox, throttle);
    Lines lines(dialogs, out, outbox, registrations, codecs, throttle);
    FrameRouter router(dialogs, lines, registrations, out, outbox, throttle);
    lines.setCount(3);
    const PeerAddress peer = switchAddress();
    Clock::time_point now{std::chrono::hours(1)};
    registrations.add("1001", "pw1001", peer, now);
    lines.place(0, *parseDialString("1001@127.0.0.1/ZQ1001"), "1001@127.0.0.1/ZQ1001", peer, now);

    while (size >= 2) {
        const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(data[0] << 8 | data[1]), size - 2);
        const std::span<const std::uint8_t> datagram(data + 2, length);
        checkRoundTrip(datagram);
        router.receive(datagram, peer, now);
        now += std::chrono::milliseconds(700);
        router.tick(now);
        data += 2 + length;
        size -= 2 + length;
    }
    while (outbox.take()) {
    }
    return 0;
}
