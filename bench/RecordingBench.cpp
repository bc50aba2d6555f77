// Call recording: MP3 encoding in the phone against LAME's command-line tool on the same 8 kHz
// audio and settings, the recorder tap's cost per 20 ms block (and its allocations on the audio
// thread), upload throughput on loopback over TCP and TLS, and the memory a recorded minute takes.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <numbers>
#include <vector>

#include "infra/CLogger.h"
#include "infra/Timing.h"
#include "lab/recorder/LabRecordServer.h"
#include "recording/CallParam.h"
#include "recording/Mp3Encoder.h"
#include "recording/QMS.h"
#include "recording/RecorderTap.h"
#include "support/FakeVoiceEngine.h"

// The replaced operator new takes its memory from malloc, so free is the matching release.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

// Allocations made by the thread that counts them (the one playing the audio thread).
thread_local bool countAllocations = false;
std::atomic<long> allocations{0};

}  // namespace

void* operator new(std::size_t size) {
    if (countAllocations) ++allocations;
    if (void* memory = std::malloc(size ? size : 1)) return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

constexpr int kBlock = 160;
constexpr int kSeconds = 60;

// Speech-like audio: two tones and a little noise, as each side of a call.
std::vector<std::int16_t> speechLike(int samples, double low, double high) {
    std::vector<std::int16_t> audio(static_cast<std::size_t>(samples));
    unsigned noise = 12345;
    for (int n = 0; n < samples; ++n) {
        noise = noise * 1103515245 + 12345;
        const double t = n / 8000.0;
        audio[n] = static_cast<std::int16_t>(5000 * std::sin(2 * std::numbers::pi * low * t) +
                                             2500 * std::sin(2 * std::numbers::pi * high * t) +
                                             static_cast<int>(noise >> 22) - 512);
    }
    return audio;
}

class TapEngine : public FakeVoiceEngine {
public:
    void setRecorderTap(RecorderTap tap) override { tap_ = std::move(tap); }
    RecorderTap tap_;
};

std::shared_ptr<CallParam> newRecording(bool mp3) {
    return std::make_shared<CallParam>(RecordingFacts{"T1", "555", "2026.01.01.00.00.00", {}, "", "", "1", "h"},
                                       CallParam::Plan{mp3, "high", 1, 300, 0});
}

// A finished recording of `seconds` of both sides of a call, as the tap leaves it.
std::shared_ptr<CallParam> recordedCall(int seconds, bool mp3) {
    TapEngine voice;
    RecorderTap tap(voice);
    auto recording = newRecording(mp3);
    tap.recorderStart(1, 300, recording);
    const auto agent = speechLike(seconds * 8000, 310, 1270);
    const auto customer = speechLike(seconds * 8000, 190, 2100);
    for (int at = 0; at < seconds * 8000; at += kBlock) voice.tap_(agent.data() + at, customer.data() + at, kBlock);
    tap.recorderStop();
    return recording;
}

// The phone's encoder on a minute of call audio.
void BM_Mp3EncodeInThePhone(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto recording = recordedCall(kSeconds, true);
        state.ResumeTiming();
        auto stream = makeLameStream();
        benchmark::DoNotOptimize(encodeRecordingToMp3(*recording, *stream));
    }
    state.counters["x_real_time"] =
        benchmark::Counter(kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel("60 s of call audio");
}

// LAME's command-line tool on the same samples and settings, from a raw file to an MP3 file.
void BM_Mp3EncodeLameCommandLine(benchmark::State& state) {
    const auto recording = recordedCall(kSeconds, false);
    const std::string folder = std::filesystem::temp_directory_path() / ("orvane-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    {
        std::ofstream raw(folder + "/in.raw", std::ios::binary);
        raw.write(reinterpret_cast<const char*>(recording->samples().data()),
                  static_cast<std::streamsize>(recording->samples().count()) * 2);
    }
    const std::string command = "lame --quiet --noreplaygain -r -s 8 --bitwidth 16 --signed --little-endian -m m -V 4 "
                                "-b 32 --nores " + folder + "/in.raw " + folder + "/out.mp3 2>/dev/null";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("lame failed");
    std::filesystem::remove_all(folder);
    state.counters["x_real_time"] =
        benchmark::Counter(kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel("60 s of call audio, process included");
}

// One 20 ms block through the tap into a recording with room for 300 s, as the audio thread
// runs it, over whole recordings. With 1, the pages ahead are made ready by another thread, as
// the phone's recorder does; with 0, the tap faults in every page past the first minute itself.
void BM_TapPerBlock(benchmark::State& state) {
    const bool keptReady = state.range(0) != 0;
    TapEngine voice;
    RecorderTap tap(voice);
    const auto agent = speechLike(kBlock, 310, 1270);
    const auto customer = speechLike(kBlock, 190, 2100);
    auto recording = newRecording(false);
    tap.recorderStart(1, 300, recording);
    long blocks = 0;
    allocations = 0;
    for (auto _ : state) {
        if (recording->samples().stopped() || (keptReady && blocks % 500 == 0)) {
            state.PauseTiming();
            if (recording->samples().stopped()) {
                recording = newRecording(false);
                tap.recorderStart(1, 300, recording);
            }
            recording->samples().prepareAhead(RecordedSamples::kReadySeconds);
            state.ResumeTiming();
        }
        countAllocations = true;
        voice.tap_(agent.data(), customer.data(), kBlock);
        countAllocations = false;
        ++blocks;
    }
    tap.recorderStop();
    state.counters["allocations_per_block"] = static_cast<double>(allocations) / static_cast<double>(blocks);
    state.SetLabel(keptReady ? "per 20 ms block, pages made ready ahead" : "per 20 ms block, pages faulted by the tap");
}

// The memory a recorded call takes while it lasts (the pages written, and the minute ahead
// made ready for the tap), and the file images it becomes.
void BM_MemoryPerRecordedMinute(benchmark::State& state) {
    const int minutes = static_cast<int>(state.range(0));
    double megabytes = 0;
    std::size_t mp3Bytes = 0;
    for (auto _ : state) {
        auto recording = recordedCall(minutes * 60, true);
        megabytes = static_cast<double>(recording->samples().residentBytes()) / 1e6;
        auto stream = makeLameStream();
        mp3Bytes = static_cast<std::size_t>(encodeRecordingToMp3(*recording, *stream));
    }
    state.counters["MB_during_call"] = megabytes;
    state.counters["MB_wav_image"] = (RecordedSamples::kWavHeaderBytes + minutes * 60 * 16000.0) / 1e6;
    state.counters["MB_mp3_image"] = static_cast<double>(mp3Bytes) / 1e6;
    state.SetLabel(std::to_string(minutes) + " min recorded, 5 min of room set aside");
}

// A 300 s WAV recording (4.8 MB) uploaded to the lab recording server on loopback.
void BM_Upload(benchmark::State& state) {
    const bool tls = state.range(0) != 0;
    const std::string folder = std::filesystem::temp_directory_path() / ("orvane-bench-" + std::to_string(::getpid()));
    LabRecorderOptions options;
    options.tls = tls;
    if (tls) options.folder = folder;  // for the certificate only
    LabRecordServer server(options, [](const std::string&) {});
    if (!server.start()) {
        state.SkipWithError("the lab recording server did not start");
        return;
    }
    RecordingStore store;
    std::vector<std::uint8_t> file(RecordedSamples::kWavHeaderBytes + 300 * 16000, 0x55);
    for (auto _ : state) {
        QMS qms({"127.0.0.1", server.port(), tls, {}}, store);
        if (!qms.sendRecordingToQMS("bench.wav", file)) state.SkipWithError("upload failed");
    }
    server.stop();
    std::filesystem::remove_all(folder);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
    state.SetLabel(tls ? "TLS, 4.8 MB" : "TCP, 4.8 MB");
}

BENCHMARK(BM_Mp3EncodeInThePhone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Mp3EncodeLameCommandLine)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TapPerBlock)->Arg(1)->Arg(0);
BENCHMARK(BM_MemoryPerRecordedMinute)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Upload)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    // The log goes to its file only.
    CLogger::getInstance()->setDebugOutput([](std::string_view) {});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CLogger::destroyInstance();
    return 0;
}
