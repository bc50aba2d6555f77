#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include <portaudio.h>

#include "voice/engine/media/AudioBackend.h"
#include "voice/engine/media/Resampler.h"
#include "voice/engine/media/SampleFifo.h"

// One PortAudio stream: full duplex (input and output device) feeding the engine's blocks, or
// output only on the ring device. At a device rate other than 8 kHz the audio is converted
// both ways, with one block of extra playback buffering against the uneven block boundaries.
class DeviceStream {
public:
    // Opens the stream at the first rate the devices take: `preferredRate`, 8000, then their own.
    // `input` is -1 for the ring stream. Null, logged, when no rate works.
    static std::unique_ptr<DeviceStream> open(int input, int output, int frames, int preferredRate, AudioStreamClient& client);
    ~DeviceStream();
    DeviceStream(const DeviceStream&) = delete;
    DeviceStream& operator=(const DeviceStream&) = delete;

    bool start();

private:
    DeviceStream(int input, int rate, int frames, AudioStreamClient& client);
    static int onAudio(const void* input, void* output, unsigned long count, const PaStreamCallbackTimeInfo* time,
                       PaStreamCallbackFlags flags, void* self);
    void duplex(const std::int16_t* input, std::int16_t* output, int count);
    void ringOnly(std::int16_t* output, int count);
    void toDevice(const std::int16_t* block);

    PaStream* stream_ = nullptr;
    const bool duplex_;
    const int rate_;
    const int frames_;
    const int deviceFrames_;
    AudioStreamClient& client_;
    std::optional<Resampler> fromDevice_;  // only when the device rate is not 8 kHz
    std::optional<Resampler> toDeviceRate_;
    SampleFifo captured_;
    SampleFifo playback_;
    std::array<std::int16_t, 240> microphone_{};
    std::array<std::int16_t, 240> speaker_{};
};
