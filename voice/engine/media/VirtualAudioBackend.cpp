#include "voice/engine/media/VirtualAudioBackend.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "infra/CLogger.h"
#include "infra/ThreadGroup.h"

namespace {

constexpr int kMaxFrames = 240;
// A clock this many blocks late (a stalled machine) starts again from now instead of catching up.
constexpr int kMaxCatchUpBlocks = 10;

}  // namespace

VirtualAudioBackend::VirtualAudioBackend(std::string microphoneWav, std::string speakerWav, std::string ringWav,
                                         Pace pace)
    : microphoneWav_(std::move(microphoneWav)),
      speakerWav_(std::move(speakerWav)),
      ringWav_(std::move(ringWav)),
      pace_(pace) {}

VirtualAudioBackend::~VirtualAudioBackend() { stop(); }

bool VirtualAudioBackend::initialize() {
    if (!microphoneWav_.empty()) {
        std::string problem;
        if (auto samples = readVoiceWav(microphoneWav_, problem)) {
            microphone_ = std::move(*samples);
        } else {
            logMessage(LogLevel::Error, "Media: virtual microphone file %s refused, %s; the microphone is silent",
                       microphoneWav_.c_str(), problem.c_str());
        }
    }
    if (!speakerWav_.empty()) speaker_.open(speakerWav_);
    if (!ringWav_.empty()) ring_.open(ringWav_);
    logMessage(LogLevel::Debug, "Media: virtual devices, microphone [%s] (%zu samples), speaker [%s], ring [%s]",
               microphoneWav_.c_str(), microphone_.size(), speakerWav_.c_str(), ringWav_.c_str());
    return true;
}

std::vector<AudioDevice> VirtualAudioBackend::devices() const {
    return {
        {"Virtual Microphone", AudioDevice::Capture, 0},
        {"Virtual Speaker", AudioDevice::Play, 1},
        {"Virtual Ringer", AudioDevice::Ring, 2},
        {"Plantronics Virtual Headset", AudioDevice::Capture | AudioDevice::Play | AudioDevice::Ring, 3},
    };
}

void VirtualAudioBackend::defaultDevices(int& input, int& output, int& ring) const {
    input = 0;
    output = 1;
    ring = 2;
}

bool VirtualAudioBackend::start(const StreamFormat& format, AudioStreamClient& client) {
    if (format.frames <= 0 || format.frames > kMaxFrames) return false;
    stop();
    if (pace_ == Pace::Driven) {
        std::lock_guard guard(lock_);
        drivenFormat_ = format;
        drivenClient_ = &client;
        return true;
    }
    stopping_ = false;
    clock_ = std::thread([this, format, &client] { run(format, &client); });
    return true;
}

void VirtualAudioBackend::stop() {
    if (pace_ == Pace::Driven) {
        std::lock_guard guard(lock_);  // waits for a block that is playing
        drivenFormat_.reset();
        drivenClient_ = nullptr;
        return;
    }
    if (!clock_.joinable()) return;
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    clock_.join();
}

void VirtualAudioBackend::run(StreamFormat format, AudioStreamClient* client) {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::microseconds(format.frames * 125);  // 125 µs a sample at 8 kHz
    auto next = Clock::now();
    std::unique_lock guard(lock_);
    for (;;) {
        next += period;
        if (wake_.wait_until(guard, next, [this] { return stopping_; })) return;
        guard.unlock();
        if (Clock::now() - next > kMaxCatchUpBlocks * period) next = Clock::now();
        runGuarded("VirtualAudioBackend clock", [&] { runBlock(format, *client); });  // a failing block is skipped
        guard.lock();
    }
}

bool VirtualAudioBackend::runBlocks(int count) {
    std::lock_guard guard(lock_);
    if (!drivenFormat_) return false;
    for (int block = 0; block < count; ++block) runBlock(*drivenFormat_, *drivenClient_);
    return true;
}

bool VirtualAudioBackend::streaming() const {
    std::lock_guard guard(lock_);
    return drivenFormat_.has_value();
}

void VirtualAudioBackend::runBlock(const StreamFormat& format, AudioStreamClient& client) {
    std::array<std::int16_t, kMaxFrames> microphone;
    std::array<std::int16_t, kMaxFrames> speaker;
    readMicrophone(microphone.data(), format.frames);
    client.processBlock(microphone.data(), speaker.data(), format.frames);
    speaker_.append(speaker.data(), format.frames);
    if (format.ring < 0) return;
    std::array<std::int16_t, kMaxFrames> ring;
    client.produceRingBlock(ring.data(), format.frames);
    ring_.append(ring.data(), format.frames);
}

void VirtualAudioBackend::readMicrophone(std::int16_t* out, int frames) {
    if (microphone_.empty()) {
        std::fill(out, out + frames, 0);
        return;
    }
    for (int i = 0; i < frames; ++i) {
        out[i] = microphone_[microphonePosition_];
        microphonePosition_ = (microphonePosition_ + 1) % microphone_.size();
    }
}
