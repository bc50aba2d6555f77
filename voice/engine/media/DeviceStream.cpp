#include "voice/engine/media/DeviceStream.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "infra/CLogger.h"
#include "infra/ThreadGroup.h"

namespace {

constexpr int kEngineRate = 8000;
// Device callbacks of up to this many times the block length are converted in one go.
constexpr int kMaxCallbackBlocks = 4;
// Captured audio waiting for playback's clock, at most; more, after a burst of capture or when
// the clocks drift apart, is dropped, oldest first, to keep the microphone's delay down.
constexpr int kMaxCaptureBacklogBlocks = 2;

double defaultRateOf(int device) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    return info ? info->defaultSampleRate : 0;
}

}  // namespace

CaptureQueue::CaptureQueue(int frames) : frames_(frames), queue_(static_cast<std::size_t>(frames * (kMaxCaptureBacklogBlocks + 2))) {}

void CaptureQueue::push(SampleFifo& captured) {
    std::array<std::int16_t, 240> chunk;
    std::lock_guard guard(lock_);
    while (captured.size() > 0) {
        const std::size_t count = captured.pop(chunk.data(), chunk.size());
        if (queue_.space() < count) {
            std::array<std::int16_t, 240> dropped;
            queue_.pop(dropped.data(), count - queue_.space());
        }
        queue_.push(chunk.data(), count);
    }
}

void CaptureQueue::popBlock(std::int16_t* out) {
    std::lock_guard guard(lock_);
    const std::size_t backlog = static_cast<std::size_t>(frames_ * kMaxCaptureBacklogBlocks);
    std::array<std::int16_t, 240> dropped;
    while (queue_.size() > backlog) queue_.pop(dropped.data(), std::min(dropped.size(), queue_.size() - backlog));
    if (queue_.size() < static_cast<std::size_t>(frames_)) {
        std::fill(out, out + frames_, 0);
        return;
    }
    queue_.pop(out, static_cast<std::size_t>(frames_));
}

std::unique_ptr<DeviceStream> DeviceStream::openCapture(int device, int frames, int preferredRate, CaptureQueue& sink,
                                                        Lost lost) {
    return open(device, frames, preferredRate, &sink, nullptr, std::move(lost));
}

std::unique_ptr<DeviceStream> DeviceStream::openPlayback(int device, int frames, int preferredRate, BlockSource& source,
                                                         Lost lost) {
    return open(device, frames, preferredRate, nullptr, &source, std::move(lost));
}

std::unique_ptr<DeviceStream> DeviceStream::open(int device, int frames, int preferredRate, CaptureQueue* sink,
                                                 BlockSource* source, Lost lost) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (!info) {
        logMessage(LogLevel::Error, "Media: PortAudio has no device %d", device);
        return nullptr;
    }
    PaStreamParameters parameters{};
    parameters.device = device;
    parameters.channelCount = 1;
    parameters.sampleFormat = paInt16;
    parameters.suggestedLatency = sink ? info->defaultLowInputLatency : info->defaultLowOutputLatency;
    const PaStreamParameters* input = sink ? &parameters : nullptr;
    const PaStreamParameters* output = sink ? nullptr : &parameters;
    const char* direction = sink ? "capture" : "playback";

    std::vector<double> rates;
    for (double rate : {static_cast<double>(preferredRate), double{kEngineRate}, defaultRateOf(device)})
        if (rate > 0 && std::find(rates.begin(), rates.end(), rate) == rates.end()) rates.push_back(rate);
    for (double rate : rates) {
        if (Pa_IsFormatSupported(input, output, rate) != paFormatIsSupported) continue;
        std::unique_ptr<DeviceStream> stream(new DeviceStream(device, static_cast<int>(rate), frames, sink, source, lost));
        const PaError error = Pa_OpenStream(&stream->stream_, input, output, rate, static_cast<unsigned long>(stream->deviceFrames_),
                                            paNoFlag, &DeviceStream::onAudio, stream.get());
        if (error != paNoError) {
            logMessage(LogLevel::Warning, "Media: PortAudio %s on device %d at %.0f Hz failed: %s", direction, device, rate,
                       Pa_GetErrorText(error));
            stream->stream_ = nullptr;
            continue;
        }
        Pa_SetStreamFinishedCallback(stream->stream_, &DeviceStream::onFinished);
        const PaStreamInfo* opened = Pa_GetStreamInfo(stream->stream_);
        const double latency = opened ? (sink ? opened->inputLatency : opened->outputLatency) : 0.0;
        logMessage(LogLevel::Debug, "Media: PortAudio %s on device %d at %.0f Hz, latency %.0f ms", direction, device, rate,
                   latency * 1000);
        return stream;
    }
    logMessage(LogLevel::Error, "Media: no sample rate works for %s on device %d", direction, device);
    return nullptr;
}

DeviceStream::DeviceStream(int device, int rate, int frames, CaptureQueue* sink, BlockSource* source, Lost lost)
    : device_(device), lost_(std::move(lost)), frames_(frames),
      deviceFrames_(static_cast<int>(std::lround(static_cast<double>(frames) * rate / kEngineRate))),
      sink_(sink), source_(source),
      converted_(static_cast<std::size_t>((sink ? frames : deviceFrames_) * (kMaxCallbackBlocks + 2))) {
    if (rate == kEngineRate) return;
    if (sink_)
        resampler_.emplace(rate, kEngineRate, deviceFrames_ * kMaxCallbackBlocks);
    else
        resampler_.emplace(kEngineRate, rate, frames_);
}

DeviceStream::~DeviceStream() {
    if (!stream_) return;
    stopping_ = true;
    Pa_StopStream(stream_);
    Pa_CloseStream(stream_);
}

bool DeviceStream::start() {
    const PaError error = Pa_StartStream(stream_);
    if (error == paNoError) return true;
    logMessage(LogLevel::Error, "Media: PortAudio stream failed to start: %s", Pa_GetErrorText(error));
    return false;
}

int DeviceStream::onAudio(const void* input, void* output, unsigned long count, const PaStreamCallbackTimeInfo*,
                          PaStreamCallbackFlags, void* self) {
    auto* stream = static_cast<DeviceStream*>(self);
    runGuarded("PortAudio callback", [&] {  // nothing may escape into PortAudio
        if (stream->sink_)
            stream->capture(static_cast<const std::int16_t*>(input), static_cast<int>(count));
        else
            stream->play(static_cast<std::int16_t*>(output), static_cast<int>(count));
    });
    return paContinue;
}

// PortAudio ends a stream whose device fails (unplugged, its sound server gone) and says so here.
void DeviceStream::onFinished(void* self) {
    auto* stream = static_cast<DeviceStream*>(self);
    if (stream->stopping_) return;
    logMessage(LogLevel::Error, "Media: PortAudio %s on device %d ended by itself", stream->sink_ ? "capture" : "playback",
               stream->device_);
    runGuarded("PortAudio stream end", [&] {
        if (stream->lost_) stream->lost_();
    });
}

void DeviceStream::capture(const std::int16_t* input, int count) {
    if (!input) return;  // an overflow: nothing captured
    if (resampler_)
        resampler_->process(input, count, converted_);
    else
        converted_.push(input, static_cast<std::size_t>(count));
    sink_->push(converted_);
}

void DeviceStream::play(std::int16_t* output, int count) {
    for (int block = 0; block <= kMaxCallbackBlocks && converted_.size() < static_cast<std::size_t>(count); ++block) {
        source_->nextBlock(block_.data(), frames_);
        if (resampler_)
            resampler_->process(block_.data(), frames_, converted_);
        else
            converted_.push(block_.data(), static_cast<std::size_t>(frames_));
    }
    const std::size_t played = converted_.pop(output, static_cast<std::size_t>(count));
    std::fill(output + played, output + count, 0);
}
