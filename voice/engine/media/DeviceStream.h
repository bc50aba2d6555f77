#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include <portaudio.h>

#include "voice/engine/media/Resampler.h"
#include "voice/engine/media/SampleFifo.h"

// Captured audio at 8 kHz, handed from the capture stream's thread to the playback stream's.
// Capture and playback run on clocks of their own: the queue keeps at most a few blocks, and
// gives silence while capture has not caught up.
class CaptureQueue {
public:
    explicit CaptureQueue(int frames);
    void push(SampleFifo& captured);
    // The oldest block captured, or silence.
    void popBlock(std::int16_t* out);

private:
    const int frames_;
    std::mutex lock_;
    SampleFifo queue_;
};

// Where a playback stream gets its 8 kHz blocks.
class BlockSource {
public:
    virtual ~BlockSource() = default;
    virtual void nextBlock(std::int16_t* out, int frames) = 0;
};

// One PortAudio stream in one direction on one device, converting to or from 8 kHz when the
// device runs at another rate.
class DeviceStream {
public:
    // Called on PortAudio's thread when the stream ends by itself (its device went away).
    using Lost = std::function<void()>;

    // Each opens at the first rate the device takes: `preferredRate`, 8000, then its own. Null,
    // logged, when none works.
    static std::unique_ptr<DeviceStream> openCapture(int device, int frames, int preferredRate, CaptureQueue& sink,
                                                     Lost lost);
    static std::unique_ptr<DeviceStream> openPlayback(int device, int frames, int preferredRate, BlockSource& source,
                                                      Lost lost);
    ~DeviceStream();
    DeviceStream(const DeviceStream&) = delete;
    DeviceStream& operator=(const DeviceStream&) = delete;

    bool start();

private:
    DeviceStream(int device, int rate, int frames, CaptureQueue* sink, BlockSource* source, Lost lost);
    static std::unique_ptr<DeviceStream> open(int device, int frames, int preferredRate, CaptureQueue* sink,
                                              BlockSource* source, Lost lost);
    static int onAudio(const void* input, void* output, unsigned long count, const PaStreamCallbackTimeInfo* time,
                       PaStreamCallbackFlags flags, void* self);
    static void onFinished(void* self);
    void capture(const std::int16_t* input, int count);
    void play(std::int16_t* output, int count);

    PaStream* stream_ = nullptr;
    const int device_;
    const Lost lost_;
    std::atomic<bool> stopping_{false};  // a stream we stop is not lost
    const int frames_;
    const int deviceFrames_;
    CaptureQueue* const sink_;
    BlockSource* const source_;
    std::optional<Resampler> resampler_;  // only when the device rate is not 8 kHz
    SampleFifo converted_;
    std::array<std::int16_t, 240> block_{};
};
