// The IAX2 engine's protocol side: parsing and building frames, and one pass of the
// processing loop with three answered calls (a voice mini frame in on each, the timer
// checks, the hand-over of the voice to the media side).

#include <benchmark/benchmark.h>

#include <arpa/inet.h>

#include "infra/CLogger.h"
#include "voice/engine/iax/FrameRouter.h"
#include "voice/engine/iax/IaxWire.h"
#include "voice/engine/media/Codec.h"

using namespace iax;

namespace {
struct Discard : DatagramSender {
    void send(const PeerAddress&, std::span<const std::uint8_t> datagram) override {
        benchmark::DoNotOptimize(datagram.data());
    }
};

std::vector<std::uint8_t> frame(std::uint16_t source, std::uint16_t destination, std::uint8_t oseq, std::uint8_t type,
                                std::uint32_t subclass, const std::vector<std::uint8_t>& payload = {}) {
    FullFrame header;
    header.sourceCall = source;
    header.destinationCall = destination;
    header.timestamp = 1000;
    header.oseq = oseq;
    header.iseq = 1;
    header.type = type;
    header.subclass = subclass;
    header.payload = payload;
    return encodeFullFrame(header);
}

std::vector<std::uint8_t> registrationAck() {
    ElementWriter elements;
    elements.text(kUsername, "1001").u32(31, 898140928).u16(kRefresh, 60).text(kCallingNumber, "1001");
    elements.text(kCallingName, "Agent 1001");
    return frame(6949, 19493, 1, kIax, kRegAck, elements.bytes());
}

void BM_ParseRegistrationAck(benchmark::State& state) {
    const auto bytes = registrationAck();
    for (auto _ : state) {
        const Datagram parsed = parseDatagram(bytes);
        auto elements = ElementList::parse(parsed.full.payload);
        benchmark::DoNotOptimize(elements->u16(kRefresh));
    }
}
BENCHMARK(BM_ParseRegistrationAck);

void BM_BuildVoiceFrames(benchmark::State& state) {
    const std::vector<std::uint8_t> voice(160, 0x55);
    for (auto _ : state) {
        benchmark::DoNotOptimize(frame(1, 2, 3, kVoice, 4, voice));
        benchmark::DoNotOptimize(encodeMiniFrame(1, 20, voice));
    }
}
BENCHMARK(BM_BuildVoiceFrames);

void BM_LoopPassWithThreeCalls(benchmark::State& state) {
    CLogger::getInstance()->setDebugOutput([](std::string_view) {});
    Discard out;
    Outbox outbox;
    LogThrottle throttle;
    DialogTable dialogs(0);  // local call numbers from 2
    CodecPolicy codecs(iax_format::Ulaw);
    Registrations registrations(dialogs, out, outbox);
    Lines lines(dialogs, out, outbox, registrations, codecs, throttle);
    FrameRouter router(dialogs, lines, registrations, out, outbox, throttle);
    lines.setCount(3);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(4569);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const PeerAddress peer(address);
    auto now = Clock::now();
    const auto dial = parseDialString("1001@127.0.0.1/ZQ1001");
    for (int line = 0; line < 3; ++line) {
        lines.place(line, *dial, "1001@127.0.0.1/ZQ1001", peer, now);
        const auto local = static_cast<std::uint16_t>(2 + line);
        const auto remote = static_cast<std::uint16_t>(100 + line);
        ElementWriter format;
        format.u32(kFormat, 4);
        router.receive(frame(remote, local, 0, kIax, kAccept, format.bytes()), peer, now);
        router.receive(frame(remote, local, 1, kControl, kControlAnswer), peer, now);
    }
    while (outbox.take()) {
    }
    const std::vector<std::uint8_t> voice(160, 0x55);
    std::uint16_t timestamp = 0;
    for (auto _ : state) {
        timestamp = static_cast<std::uint16_t>(timestamp + 20);
        for (int line = 0; line < 3; ++line)
            router.receive(encodeMiniFrame(static_cast<std::uint16_t>(100 + line), timestamp, voice), peer, now);
        router.tick(now);  // the clock stands still: no timer is due, as in almost every pass
        while (auto item = outbox.take()) benchmark::DoNotOptimize(item);
    }
}
BENCHMARK(BM_LoopPassWithThreeCalls);
}  // namespace

BENCHMARK_MAIN();
