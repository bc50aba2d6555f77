#pragma once

#include <cstdint>
#include <vector>

#include "voice/engine/VoiceEngine.h"

// What the engine asks of a stream: device ids and the block size in samples at 8 kHz.
struct StreamFormat {
    int input = -1;
    int output = -1;
    int ring = -1;  // -1: no ring stream of its own (the ring tone, if any, plays on the output)
    int frames = 160;
};

// The engine's side of a running stream, called on the stream's audio threads.
class AudioStreamClient {
public:
    virtual ~AudioStreamClient() = default;
    // One block of the conversation: the captured microphone samples in, the speaker samples out.
    virtual void processBlock(const std::int16_t* microphone, std::int16_t* speaker, int frames) = 0;
    // One block for the ring device's own stream.
    virtual void produceRingBlock(std::int16_t* ring, int frames) = 0;
    // A stream ended by itself: its device went away or the sound system failed. Called on a
    // sound-system thread; the stream must not be stopped from inside.
    virtual void streamLost() = 0;
};

// A sound system: its devices and one stream at a time, 8 kHz mono 16-bit towards the engine.
class AudioBackend {
public:
    virtual ~AudioBackend() = default;
    // False when no device can be used.
    virtual bool initialize() = 0;
    virtual std::vector<AudioDevice> devices() const = 0;
    // The sound system's own choice of input, output and ring device.
    virtual void defaultDevices(int& input, int& output, int& ring) const = 0;
    // Starts capture on format.input and playback on format.output, and the ring stream when
    // format.ring is a device; blocks of format.frames samples reach `client` until stop(). False
    // when the streams cannot run.
    virtual bool start(const StreamFormat& format, AudioStreamClient& client) = 0;
    // Stops the streams and returns once no call into the client is running.
    virtual void stop() = 0;
    // Reads the device list again, so devices that came or went show; only while no stream
    // runs, and device ids may change. False when no device can be used now. A sound system
    // whose devices never change keeps its list.
    virtual bool rescan() { return true; }
    // Cheap and never blocking: whether sound cards or the sound configuration may have changed
    // since the last call, so that a rescan() would find another list.
    virtual bool devicesMayHaveChanged() { return false; }
};
