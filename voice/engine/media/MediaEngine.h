#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "voice/engine/VoiceEngine.h"

// The audio side of the voice engine: devices, the audio clock, one channel per call with
// its codec and jitter buffer, the mixing of all calls into one conversation, the ring tone
// and the recorder tap. It knows nothing of IAX2: the protocol side hands it received voice
// payloads and takes the encoded payloads it produces.
//
// Mixing: every open channel that is not quelched is in one conversation. The agent hears
// all of them; each hears the agent and the others. A quelched channel neither hears nor is
// heard (no payloads are produced for it, received ones are dropped).
class MediaEngine {
public:
    // Encoded audio for one call, produced on the audio thread once per block: the payload
    // of one or more whole codec frames and the call's media timestamp in milliseconds.
    // The send function and the recorder tap run on the audio thread; from inside them only
    // receiveVoice may be called (anything else could wait for the audio thread itself).
    using SendVoice = std::function<void(int callNo, std::uint32_t timestampMs, std::vector<std::uint8_t> payload)>;
    // What happened to the devices, told on the engine's device-watch thread (never under a
    // lock of the engine, so the receiver may call back in).
    enum class DeviceChange {
        // A stream's device went away while a channel was open: the conversation goes on with
        // the sound system's default devices until the stream stops. `detail` names the devices.
        Lost,
        // Between calls, the list of devices changed (a sound card came or went). `detail` says how many.
        ListChanged,
    };
    using DeviceEvents = std::function<void(DeviceChange change, const std::string& detail)>;

    virtual ~MediaEngine() = default;

    // Opens the device layer; false when no audio device can be used.
    virtual bool initialize() = 0;
    virtual std::vector<AudioDevice> devices() = 0;
    virtual void currentDevices(int& input, int& output, int& ring) = 0;
    // Takes effect for the next audio stream, never for one that runs. The devices are kept by
    // name: one that goes away is replaced by the default, and used again once it is back.
    virtual void setDevices(int input, int output, int ring) = 0;
    virtual void setDeviceEvents(DeviceEvents events) = 0;
    // Block size in samples: 160, or 240 when the iLBC frame is chosen.
    virtual void setFrameSamples(int samples) = 0;

    virtual void setSendVoice(SendVoice send) = 0;
    // A call's channel: opened when its audio starts flowing (answered), closed when it ends.
    // The audio stream runs while at least one channel is open.
    virtual bool openChannel(int callNo, int format) = 0;
    virtual void closeChannel(int callNo) = 0;
    virtual void setQuelched(int callNo, bool quelched) = 0;
    // A voice payload received for a call, with its media timestamp in milliseconds.
    virtual void receiveVoice(int callNo, std::uint32_t timestampMs, const std::uint8_t* payload, std::size_t size) = 0;

    virtual void startRingTone() = 0;
    virtual void stopRingTone() = 0;
    virtual void setRecorderTap(VoiceEngine::RecorderTap tap) = 0;
};

// Where the phone's audio goes: the sound system through PortAudio, or virtual devices for
// machines without a sound card and for tests.
struct AudioConfig {
    enum class Backend { PortAudio, Virtual };
    Backend backend = Backend::PortAudio;
    // Virtual devices only: the microphone plays this WAV file (silence when empty); the
    // speaker and the ring device write what they play to these files (nothing when empty).
    std::string microphoneWav;
    std::string speakerWav;
    std::string ringWav;

    // The configuration the environment asks for (PortAudio unless it selects the virtual devices).
    static AudioConfig fromEnvironment();
};

std::unique_ptr<MediaEngine> makeMediaEngine(const AudioConfig& config);
