#include "voice/engine/media/DeviceStream.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "infra/CLogger.h"

namespace {

constexpr int kEngineRate = 8000;
// Device callbacks of up to this many times the block length are converted in one go.
constexpr int kMaxCallbackBlocks = 4;

PaStreamParameters parametersFor(int device, bool input) {
    PaStreamParameters parameters{};
    parameters.device = device;
    parameters.channelCount = 1;
    parameters.sampleFormat = paInt16;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    parameters.suggestedLatency = info ? (input ? info->defaultLowInputLatency : info->defaultLowOutputLatency) : 0.05;
    return parameters;
}

double defaultRateOf(int device) {
    const PaDeviceInfo* info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
    return info ? info->defaultSampleRate : 0;
}

}  // namespace

std::unique_ptr<DeviceStream> DeviceStream::open(int input, int output, int frames, int preferredRate,
                                                 AudioStreamClient& client) {
    const PaStreamParameters outputParameters = parametersFor(output, false);
    const std::optional<PaStreamParameters> inputParameters =
        input >= 0 ? std::optional(parametersFor(input, true)) : std::nullopt;
    const PaStreamParameters* in = inputParameters ? &*inputParameters : nullptr;

    std::vector<double> rates;
    for (double rate : {static_cast<double>(preferredRate), double{kEngineRate}, defaultRateOf(output), defaultRateOf(input)})
        if (rate > 0 && std::find(rates.begin(), rates.end(), rate) == rates.end()) rates.push_back(rate);
    for (double rate : rates) {
        if (Pa_IsFormatSupported(in, &outputParameters, rate) != paFormatIsSupported) continue;
        std::unique_ptr<DeviceStream> stream(new DeviceStream(input, static_cast<int>(rate), frames, client));
        const PaError error = Pa_OpenStream(&stream->stream_, in, &outputParameters, rate,
                                            static_cast<unsigned long>(stream->deviceFrames_), paNoFlag, &DeviceStream::onAudio,
                                            stream.get());
        if (error != paNoError) {
            logMessage(LogLevel::Warning, "Media: PortAudio stream on input[%d] output[%d] at %.0f Hz failed: %s", input,
                       output, rate, Pa_GetErrorText(error));
            stream->stream_ = nullptr;
            continue;
        }
        const PaStreamInfo* info = Pa_GetStreamInfo(stream->stream_);
        logMessage(LogLevel::Debug, "Media: PortAudio stream on input[%d] output[%d] at %.0f Hz, latency in %.0f ms out %.0f ms",
                   input, output, rate, info ? info->inputLatency * 1000 : 0.0, info ? info->outputLatency * 1000 : 0.0);
        return stream;
    }
    logMessage(LogLevel::Error, "Media: no sample rate works for input[%d] output[%d]", input, output);
    return nullptr;
}

DeviceStream::DeviceStream(int input, int rate, int frames, AudioStreamClient& client)
    : duplex_(input >= 0), rate_(rate), frames_(frames),
      deviceFrames_(static_cast<int>(std::lround(static_cast<double>(frames) * rate / kEngineRate))), client_(client),
      captured_(static_cast<std::size_t>(frames * (kMaxCallbackBlocks + 2))),
      playback_(static_cast<std::size_t>(deviceFrames_ * (kMaxCallbackBlocks + 3))) {
    if (rate_ != kEngineRate) {
        fromDevice_.emplace(rate_, kEngineRate, deviceFrames_ * kMaxCallbackBlocks);
        toDeviceRate_.emplace(kEngineRate, rate_, frames_);
        playback_.pushSilence(static_cast<std::size_t>(deviceFrames_));
    }
}

DeviceStream::~DeviceStream() {
    if (!stream_) return;
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
    const int frames = static_cast<int>(count);
    if (stream->duplex_)
        stream->duplex(static_cast<const std::int16_t*>(input), static_cast<std::int16_t*>(output), frames);
    else
        stream->ringOnly(static_cast<std::int16_t*>(output), frames);
    return paContinue;
}

void DeviceStream::duplex(const std::int16_t* input, std::int16_t* output, int count) {
    if (!input) {
        captured_.pushSilence(static_cast<std::size_t>(count * frames_ / deviceFrames_));
    } else if (fromDevice_) {
        fromDevice_->process(input, count, captured_);
    } else {
        captured_.push(input, static_cast<std::size_t>(count));
    }
    while (captured_.size() >= static_cast<std::size_t>(frames_)) {
        captured_.pop(microphone_.data(), static_cast<std::size_t>(frames_));
        client_.processBlock(microphone_.data(), speaker_.data(), frames_);
        toDevice(speaker_.data());
    }
    const std::size_t played = playback_.pop(output, static_cast<std::size_t>(count));
    std::fill(output + played, output + count, 0);
}

void DeviceStream::ringOnly(std::int16_t* output, int count) {
    for (int block = 0; block <= kMaxCallbackBlocks && playback_.size() < static_cast<std::size_t>(count); ++block) {
        client_.produceRingBlock(speaker_.data(), frames_);
        toDevice(speaker_.data());
    }
    const std::size_t played = playback_.pop(output, static_cast<std::size_t>(count));
    std::fill(output + played, output + count, 0);
}

void DeviceStream::toDevice(const std::int16_t* block) {
    if (toDeviceRate_)
        toDeviceRate_->process(block, frames_, playback_);
    else
        playback_.push(block, static_cast<std::size_t>(frames_));
}
