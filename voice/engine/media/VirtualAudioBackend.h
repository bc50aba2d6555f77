#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "voice/engine/media/AudioBackend.h"
#include "voice/engine/media/WavFile.h"

// Sound devices for machines without a sound card, and for tests: a microphone that plays a
// WAV file (looped) or silence, and a speaker and a ring device that write what they play to
// WAV files. A thread of its own clocks the stream in real time, one block per block length.
//
// Devices: 0 "Virtual Microphone" (capture), 1 "Virtual Speaker" (play), 2 "Virtual Ringer"
// (ring), 3 "Plantronics Virtual Headset" (capture, play, ring). Whichever device is chosen
// for a role, the microphone file feeds the input, the speaker file records the output and the
// ring file records the ring device's own stream (when the ring shares the output device, the
// ring tone is in the speaker file).
//
// Tests may drive the clock themselves instead (Pace::Driven): then no thread runs, and each
// runBlocks() plays blocks on the caller's thread, as fast as the caller likes.
class VirtualAudioBackend final : public AudioBackend {
public:
    enum class Pace { RealTime, Driven };

    VirtualAudioBackend(std::string microphoneWav, std::string speakerWav, std::string ringWav,
                        Pace pace = Pace::RealTime);
    ~VirtualAudioBackend() override;
    VirtualAudioBackend(const VirtualAudioBackend&) = delete;
    VirtualAudioBackend& operator=(const VirtualAudioBackend&) = delete;

    bool initialize() override;
    std::vector<AudioDevice> devices() const override;
    void defaultDevices(int& input, int& output, int& ring) const override;
    bool start(const StreamFormat& format, AudioStreamClient& client) override;
    void stop() override;

    // Driven clock only: plays `count` blocks now; false when no stream runs.
    bool runBlocks(int count);
    // Driven clock only: whether a stream runs.
    bool streaming() const;

private:
    void run(StreamFormat format, AudioStreamClient* client);
    void runBlock(const StreamFormat& format, AudioStreamClient& client);
    void readMicrophone(std::int16_t* out, int frames);

    const std::string microphoneWav_;
    const std::string speakerWav_;
    const std::string ringWav_;
    const Pace pace_;

    // The clock thread's, while it runs.
    std::vector<std::int16_t> microphone_;
    std::size_t microphonePosition_ = 0;
    WavWriter speaker_;
    WavWriter ring_;

    mutable std::mutex lock_;  // held while a driven block plays
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread clock_;
    // The driven clock's stream, while one runs.
    std::optional<StreamFormat> drivenFormat_;
    AudioStreamClient* drivenClient_ = nullptr;
};
