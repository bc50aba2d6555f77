#pragma once

#include <memory>
#include <vector>

#include "voice/engine/media/AudioBackend.h"

class DeviceStream;

// The sound system through PortAudio: its devices (capture where a device has input channels,
// play and ring where it has output channels), a full-duplex stream on the input and output
// devices and an output stream of its own on the ring device. A device that cannot run at
// 8 kHz runs at its own rate, converted both ways.
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
    bool start(const StreamSpec& spec, AudioStreamClient& client) override;
    void stop() override;

private:
    const int preferredRate_;
    bool initialized_ = false;
    std::vector<AudioDevice> devices_;
    int defaultInput_ = -1;
    int defaultOutput_ = -1;
    std::unique_ptr<DeviceStream> duplex_;
    std::unique_ptr<DeviceStream> ring_;
};
