// The media side of the voice engine: codec cost per 20 ms frame, the CPU of a call's block
// (jitter buffer, mixing, G.711 both ways) for one to three calls, and the delay the media side
// adds between microphone and payload and between payload and speaker.

#include <benchmark/benchmark.h>

#include <ctime>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "infra/CLogger.h"
#include "voice/engine/media/AudioEngine.h"
#include "voice/engine/media/Codec.h"
#include "voice/engine/media/G711.h"
#include "voice/media/FakeAudioBackend.h"

namespace {

constexpr int kFrame = 160;

std::vector<std::int16_t> speechLikeFrame(int index) {
    std::vector<std::int16_t> frame(kFrame);
    for (int n = 0; n < kFrame; ++n) {
        const double t = (index * kFrame + n) / 8000.0;
        frame[n] = static_cast<std::int16_t>(6000 * std::sin(2 * std::numbers::pi * 310 * t) +
                                             3000 * std::sin(2 * std::numbers::pi * 1270 * t));
    }
    return frame;
}

void BM_Encode(benchmark::State& state) {
    auto codec = makeCodec(static_cast<int>(state.range(0)));
    const auto frame = speechLikeFrame(0);
    std::vector<std::uint8_t> payload;
    for (auto _ : state) {
        payload.clear();
        codec->encode(frame.data(), payload);
        benchmark::DoNotOptimize(payload.data());
    }
    state.SetLabel("per 20 ms frame");
}

void BM_Decode(benchmark::State& state) {
    const int format = static_cast<int>(state.range(0));
    std::vector<std::uint8_t> payload;
    makeCodec(format)->encode(speechLikeFrame(0).data(), payload);
    auto codec = makeCodec(format);
    std::vector<std::int16_t> samples;
    for (auto _ : state) {
        samples.clear();
        codec->decode(payload.data(), payload.size(), samples);
        benchmark::DoNotOptimize(samples.data());
    }
    state.SetLabel("per 20 ms frame");
}

BENCHMARK(BM_Encode)->Arg(iax_format::Ulaw)->Arg(iax_format::Alaw)->Arg(iax_format::Gsm)->Arg(iax_format::Speex);
BENCHMARK(BM_Decode)->Arg(iax_format::Ulaw)->Arg(iax_format::Alaw)->Arg(iax_format::Gsm)->Arg(iax_format::Speex);

// An engine over the fake sound system with `calls` G.711 calls open.
struct Conversation {
    explicit Conversation(int calls) {
        auto fake = std::make_unique<FakeAudioBackend>();
        backend = fake.get();
        engine = std::make_unique<AudioEngine>(std::move(fake));
        engine->initialize();
        engine->setSendVoice([this](int, std::uint32_t, std::vector<std::uint8_t> payload) { sent.push_back(std::move(payload)); });
        for (int callNo = 0; callNo < calls; ++callNo) engine->openChannel(callNo, iax_format::Ulaw);
        for (std::int16_t sample : speechLikeFrame(1)) farPayload.push_back(g711::linearToUlaw(sample));
    }
    // One 20 ms block: every call's payload arrives, then the audio clock runs the block.
    std::vector<std::int16_t> block(int calls, std::uint32_t timestampMs, const std::vector<std::int16_t>& microphone) {
        for (int callNo = 0; callNo < calls; ++callNo)
            engine->receiveVoice(callNo, timestampMs, farPayload.data(), farPayload.size());
        return backend->block(microphone);
    }

    FakeAudioBackend* backend = nullptr;
    std::unique_ptr<AudioEngine> engine;
    std::vector<std::uint8_t> farPayload;
    std::vector<std::vector<std::uint8_t>> sent;
};

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void BM_CallBlock(benchmark::State& state) {
    const int calls = static_cast<int>(state.range(0));
    Conversation conversation(calls);
    const auto microphone = speechLikeFrame(2);
    std::uint32_t timestamp = 0;
    const double cpuBefore = threadCpuSeconds();
    for (auto _ : state) {
        benchmark::DoNotOptimize(conversation.block(calls, timestamp, microphone).data());
        timestamp += 20;
        conversation.sent.clear();
    }
    const double cpuPerBlock = (threadCpuSeconds() - cpuBefore) / static_cast<double>(state.iterations());
    state.counters["us_per_block"] = cpuPerBlock * 1e6;
    // Share of one core that one call's media takes in real time (a block every 20 ms).
    state.counters["core_pct_per_call"] = cpuPerBlock / 0.020 * 100 / calls;
    state.SetLabel("receive, jitter buffer, mix, encode; per 20 ms block");
}

BENCHMARK(BM_CallBlock)->Arg(1)->Arg(2)->Arg(3);

// Time from the microphone block holding a click to the payload that carries it, and from a
// payload holding a click to the speaker sample that plays it, on a steady network where each
// payload arrives just before a block: at the start of a call and after 10 s, once the jitter
// buffer has adapted. Measured in the audio clock, so beyond the 20 ms of the block itself and
// the sound system's own latency.
struct ClickDelays {
    int micToPayloadBlocks = -1;
    double payloadToSpeakerMs = -1;
};

// Runs `settleBlocks` blocks of silence and then a click each way; `block` counts the blocks run.
ClickDelays measureClick(Conversation& conversation, int& block, int settleBlocks) {
    const std::vector<std::uint8_t> silentPayload(kFrame, g711::linearToUlaw(0));
    std::vector<std::uint8_t> clickPayload = silentPayload;
    clickPayload[0] = g711::linearToUlaw(30000);
    const std::vector<std::int16_t> silence(kFrame, 0);
    std::vector<std::int16_t> click = silence;
    click[0] = 30000;

    ClickDelays delays;
    const int clickBlock = block + settleBlocks;
    for (const int end = clickBlock + 10; block < end; ++block) {
        const bool now = block == clickBlock;
        const auto& payload = now ? clickPayload : silentPayload;
        conversation.engine->receiveVoice(0, static_cast<std::uint32_t>(block * 20), payload.data(), payload.size());
        conversation.sent.clear();
        const auto speaker = conversation.backend->block(now ? click : silence);
        if (block < clickBlock) continue;
        for (const auto& sent : conversation.sent)
            for (std::uint8_t code : sent)
                if (delays.micToPayloadBlocks < 0 && g711::ulawToLinear(code) > 20000) delays.micToPayloadBlocks = block - clickBlock;
        for (int i = 0; i < kFrame; ++i)
            if (delays.payloadToSpeakerMs < 0 && speaker[i] > 20000) delays.payloadToSpeakerMs = (block - clickBlock) * 20 + i / 8.0;
    }
    return delays;
}

void BM_MediaDelay(benchmark::State& state) {
    ClickDelays atStart, adapted;
    for (auto _ : state) {
        Conversation conversation(1);
        int block = 0;
        atStart = measureClick(conversation, block, 0);
        adapted = measureClick(conversation, block, 500);
    }
    state.counters["mic_to_payload_blocks"] = atStart.micToPayloadBlocks;
    state.counters["payload_to_speaker_ms_at_start"] = atStart.payloadToSpeakerMs;
    state.counters["payload_to_speaker_ms_adapted"] = adapted.payloadToSpeakerMs;
    state.SetLabel("in the audio clock, beyond the block itself and the sound system");
}

BENCHMARK(BM_MediaDelay)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    // The engine logs; keep it out of the measurements' output.
    CLogger::getInstance()->setDebugOutput([](std::string_view) {});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
