// The IAX2 engine's protocol side: parsing and building frames, one pass of the processing
// loop with three answered calls (a voice mini frame in on each, the timer checks, the
// hand-over of the voice to the media side), and what an idle registered engine costs the
// machine (its threads' wake-ups and CPU time).

#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "ThreadUsage.h"
#include "infra/CLogger.h"
#include "lab/switch/LabSwitch.h"
#include "voice/engine/iax/FrameRouter.h"
#include "voice/engine/iax/IaxVoiceEngine.h"
#include "voice/engine/iax/IaxWire.h"
#include "voice/engine/media/Codec.h"
#include "voice/engine/media/MediaEngine.h"

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
    Registrations registrations(dialogs, out, outbox, throttle);
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

// An engine registered with the lab switch and doing nothing else, as the phone of an agent
// who is logged in and not ready: the wake-ups and CPU share of the engine's own threads
// (those that appeared when it started) over ten seconds.
void BM_IdleRegisteredEngine(benchmark::State& state) {
    using namespace std::chrono_literals;
    CLogger::getInstance()->setDebugOutput([](std::string_view) {});
    LabSwitchOptions options;
    options.users = {{"1001", "pw1001"}};
    options.callTokens = true;
    LabSwitch lab(options, [](const std::string&) {});
    lab.start();
    const std::set<int> before = runningThreads();

    IaxVoiceEngine engine({"127.0.0.1", 0, iax_format::Ulaw},
                          makeMediaEngine({AudioConfig::Backend::Virtual, "", "", ""}));
    std::mutex lock;
    std::condition_variable changed;
    bool registered = false;
    engine.iaxc_set_event_callback([&](const VoiceEvent& event) {
        if (event.type != VoiceEvent::Result || event.resultCode != VoiceEvent::RegistrationAccepted) return;
        std::lock_guard guard(lock);
        registered = true;
        changed.notify_all();
    });
    engine.iaxc_initialize(3);
    engine.iaxc_start_processing_thread();
    engine.iaxc_register("1001", "pw1001", "127.0.0.1:" + std::to_string(lab.port()));
    {
        std::unique_lock guard(lock);
        if (!changed.wait_for(guard, 5s, [&] { return registered; })) {
            state.SkipWithError("the lab switch did not accept the registration");
            return;
        }
    }
    std::this_thread::sleep_for(1s);  // the registration's exchanges settle

    constexpr auto kIdle = 10s;
    for (auto _ : state) {
        const IdleCost cost = idleCost(before, kIdle);
        state.counters["threads"] = static_cast<double>(cost.threads);
        state.counters["wakeups_per_s"] = cost.wakeupsPerSecond;
        state.counters["cpu_percent"] = cost.cpuPercent;
    }
}
BENCHMARK(BM_IdleRegisteredEngine)->Iterations(1)->Unit(benchmark::kSecond);
}  // namespace

BENCHMARK_MAIN();
