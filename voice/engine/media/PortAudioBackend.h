#pragma once

#include <memory>
#include <vector>

#include "voice/engine/media/AudioBackend.h"

class BlockSource;
class CaptureQueue;
class DeviceStream;
class SoundCardWatch;

// The sound system through PortAudio: its devices (capture where a device has input channels,
// play and ring where it has output channels), a capture stream on the input device, a
// playback stream on the output device that clocks the engine, and a playback stream of its
// own on the ring device. A device that cannot run at 8 kHz runs at its own rate, converted.
//
// Capture and playback are separate streams rather than one full-duplex stream: through
// ALSA's PulseAudio plugin a full-duplex stream takes about two seconds to deliver its first
// block, and on a loaded machine sometimes never starts, which would cost the start of every
// call. Played audio never waits for the microphone; until capture delivers, the engine hears
// silence.
//
// PortAudio reads the device list only when it starts: rescan() ends and starts it again, which
// takes a good half second through the PulseAudio plugin, so it runs only when the sound cards
// or the ALSA configuration changed, and never while a stream runs. A stream whose device goes
// away ends; PortAudio says so, and the client hears of it.
class PortAudioBackend final : public AudioBackend {
public:
    // `preferredRate` is the device rate tried first; 8000 needs no conversion.
    explicit PortAudioBackend(int preferredRate = 8000);
    ~PortAudioBackend() override;
    PortAudioBackend(const PortAudioBackend&) = delete;
    PortAudioBackend& operator=(const PortAudioBackend&) = delete;

    bool initialize() override;
    std::vector<AudioDevice> devices() const override { return devices_; }
    void defaultDevices(int& input, int& output, int& ring) const override;
    bool start(const StreamFormat& format, AudioStreamClient& client) override;
    void stop() override;
    bool rescan() override;
    bool devicesMayHaveChanged() override;

private:
    bool listDevices();

    const int preferredRate_;
    std::unique_ptr<SoundCardWatch> watch_;
    bool initialized_ = false;
    std::vector<AudioDevice> devices_;
    int defaultInput_ = -1;
    int defaultOutput_ = -1;
    // While a stream runs; the streams go first, since their callbacks use the rest.
    std::unique_ptr<CaptureQueue> microphone_;
    std::unique_ptr<BlockSource> speakerSource_;
    std::unique_ptr<BlockSource> ringSource_;
    std::unique_ptr<DeviceStream> capture_;
    std::unique_ptr<DeviceStream> playback_;
    std::unique_ptr<DeviceStream> ring_;
};
