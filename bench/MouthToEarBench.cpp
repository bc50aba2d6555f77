// Mouth to ear, measured: a call through the lab switch on virtual devices, production
// intervals, both clocks in real time. The microphone file says a tone every two seconds; the
// far party does the same. One way is the time from a tone's onset as the agent speaks it to
// its onset as the far party hears it, the other from the far party's mouth to the agent's
// speaker; neither counts the sound system's own buffers (the virtual devices have none).
//
// Where each sample is in time: a captured block is read once its last sample is spoken (so
// sample k of 160 was spoken 159-k samples before); a played block or received frame starts
// playing when it is there (sample k is heard k samples after). The phone's side is timed
// by the recorder tap, which sees every block; the far party's by the switch's capture file,
// which stamps every datagram it receives or sends.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <numbers>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "infra/CLogger.h"
#include "lab/switch/LabSwitch.h"
#include "voice/engine/iax/IaxVoiceEngine.h"
#include "voice/engine/media/Codec.h"
#include "voice/engine/media/G711.h"
#include "voice/engine/media/MediaEngine.h"
#include "voice/engine/media/WavFile.h"

namespace {

using namespace std::chrono_literals;
using Wall = std::chrono::system_clock;

constexpr int kRate = 8000;
constexpr int kFrame = 160;                 // 20 ms
constexpr std::size_t kPeriod = 2 * kRate;  // a tone every two seconds, in both directions
constexpr std::size_t kToneLength = kRate / 2;
constexpr double kLoud = 2000;              // a sample this loud is the tone
constexpr std::size_t kQuietBefore = kRate / 4;  // an onset follows this much quiet
constexpr auto kCallLength = 12s;

// `lead` samples of silence, half a second of 1 kHz, silence to the end of the period.
std::vector<std::int16_t> toneEveryPeriod(std::size_t lead) {
    std::vector<std::int16_t> samples(kPeriod);
    for (std::size_t n = 0; n < kToneLength; ++n)
        samples[lead + n] = static_cast<std::int16_t>(8000 * std::sin(2 * std::numbers::pi * 1000 * static_cast<double>(n) / kRate));
    return samples;
}

// Samples with the wall time at which each is spoken or heard; finds where tones begin.
class Timeline {
public:
    // A captured block read at `at`: its samples were spoken just before.
    void captured(Wall::time_point at, const std::int16_t* samples, int count) {
        add(at - sampleTime(count - 1), samples, count);
    }
    // A played block or frame that arrived at `at`: its samples are heard from then on.
    void played(Wall::time_point at, const std::int16_t* samples, int count) { add(at, samples, count); }

    const std::vector<Wall::time_point>& onsets() const { return onsets_; }

private:
    static Wall::duration sampleTime(int samples) {
        return std::chrono::duration_cast<Wall::duration>(std::chrono::duration<double>(static_cast<double>(samples) / kRate));
    }
    void add(Wall::time_point first, const std::int16_t* samples, int count) {
        for (int k = 0; k < count; ++k) {
            if (std::abs(samples[k]) < kLoud) {
                ++quiet_;
                continue;
            }
            if (quiet_ >= kQuietBefore) onsets_.push_back(first + sampleTime(k));
            quiet_ = 0;
        }
    }

    std::size_t quiet_ = 0;
    std::vector<Wall::time_point> onsets_;
};

std::uint32_t little32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

// The µ-law voice of the datagrams in the switch's capture file (raw IPv4), by direction.
struct WireTimelines {
    Timeline fromPhone;  // as the far party hears it
    Timeline toPhone;    // as the far party says it
};

WireTimelines readCapture(const std::string& path, std::uint16_t switchPort) {
    std::ifstream in(path, std::ios::binary);
    const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    WireTimelines wire;
    for (std::size_t at = 24; at + 16 <= file.size();) {  // after the file header, one record each
        const Wall::time_point stamp{std::chrono::duration_cast<Wall::duration>(
            std::chrono::seconds(little32(file, at)) + std::chrono::microseconds(little32(file, at + 4)))};
        const std::size_t length = little32(file, at + 8);
        const std::string packet = file.substr(at + 16, length);
        at += 16 + length;
        if (packet.size() < 28) continue;
        const auto port = [&](std::size_t offset) {
            return static_cast<std::uint16_t>(static_cast<std::uint8_t>(packet[offset]) << 8 | static_cast<std::uint8_t>(packet[offset + 1]));
        };
        const bool toSwitch = port(22) == switchPort;
        const std::string iax = packet.substr(28);
        std::size_t voiceAt = 0;
        if (iax.size() > 4 && !(static_cast<std::uint8_t>(iax[0]) & 0x80)) voiceAt = 4;  // a mini frame
        else if (iax.size() > 12 && iax[10] == 2) voiceAt = 12;                            // a full voice frame
        if (voiceAt == 0) continue;
        std::vector<std::int16_t> samples;
        for (std::size_t n = voiceAt; n < iax.size(); ++n) samples.push_back(g711::ulawToLinear(static_cast<std::uint8_t>(iax[n])));
        if (toSwitch)
            wire.fromPhone.played(stamp, samples.data(), static_cast<int>(samples.size()));
        else
            wire.toPhone.captured(stamp, samples.data(), static_cast<int>(samples.size()));
    }
    return wire;
}

// For each onset of `from`, the time to the first onset of `to` after it (within a second).
std::vector<double> delaysMs(const std::vector<Wall::time_point>& from, const std::vector<Wall::time_point>& to) {
    std::vector<double> delays;
    for (const auto& start : from) {
        const auto found = std::find_if(to.begin(), to.end(), [&](const Wall::time_point& end) { return end >= start; });
        if (found == to.end() || *found - start > 1s) continue;
        delays.push_back(std::chrono::duration<double, std::milli>(*found - start).count());
    }
    return delays;
}

void report(benchmark::State& state, const std::string& name, const std::vector<double>& delays) {
    if (delays.empty()) {
        state.SkipWithError((name + ": no tone came through").c_str());
        return;
    }
    state.counters[name + "_mean_ms"] = std::accumulate(delays.begin(), delays.end(), 0.0) / static_cast<double>(delays.size());
    state.counters[name + "_max_ms"] = *std::max_element(delays.begin(), delays.end());
    state.counters[name + "_tones"] = static_cast<double>(delays.size());
}

void MouthToEarThroughTheLabSwitch(benchmark::State& state) {
    CLogger::getInstance()->setDebugOutput(nullptr);
    const auto folder = std::filesystem::temp_directory_path() / ("orvane-mouth-to-ear-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string microphoneFile = (folder / "microphone.wav").string();
    const std::string captureFile = (folder / "switch.pcap").string();
    {
        WavWriter microphone;
        microphone.open(microphoneFile);
        const auto samples = toneEveryPeriod(kRate / 2);
        microphone.append(samples.data(), static_cast<int>(samples.size()));
    }

    for (auto _ : state) {
        LabSwitchOptions options;
        options.users = {{"1001", "pw1001"}};
        options.ringTime = 0ms;
        options.farParty = LabAudioSource::samples(toneEveryPeriod(kRate + kRate / 4));
        options.captureFile = captureFile;
        LabSwitch lab(options, [](const std::string&) {});
        lab.start();

        std::mutex lock;
        Timeline microphone, speaker;
        IaxVoiceEngine engine({"127.0.0.1", 0, iax_format::Ulaw},
                              makeMediaEngine({AudioConfig::Backend::Virtual, microphoneFile, "", ""}));
        engine.iaxc_initialize(3);
        engine.setRecorderTap([&](const std::int16_t* heard, const std::int16_t* played, int frames) {
            const auto now = Wall::now();
            std::lock_guard guard(lock);
            microphone.captured(now, heard, frames);
            speaker.played(now, played, frames);
        });
        engine.iaxc_start_processing_thread();
        engine.iaxc_call("1001:pw1001@127.0.0.1:" + std::to_string(lab.port()) + "/ZQ1001");
        lab.waitForCall([](const LabCallInfo& call) { return call.state == LabCallState::Answered; }, 10s);
        std::this_thread::sleep_for(kCallLength);
        engine.iaxc_dump_all_calls();
        engine.setRecorderTap({});
        const std::uint16_t port = lab.port();
        lab.stop();

        const WireTimelines wire = readCapture(captureFile, port);
        std::lock_guard guard(lock);
        const auto out = delaysMs(microphone.onsets(), wire.fromPhone.onsets());
        const auto back = delaysMs(wire.toPhone.onsets(), speaker.onsets());
        state.SetIterationTime(out.empty() ? 0 : std::accumulate(out.begin(), out.end(), 0.0) / static_cast<double>(out.size()) / 1000);
        report(state, "agent_to_far", out);
        report(state, "far_to_agent", back);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}
BENCHMARK(MouthToEarThroughTheLabSwitch)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
