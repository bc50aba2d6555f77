#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "voice/engine/media/AudioBackend.h"
#include "voice/engine/media/CallbackSlot.h"
#include "voice/engine/media/Channel.h"
#include "voice/engine/media/ConferenceMixer.h"
#include "voice/engine/media/MediaEngine.h"
#include "voice/engine/media/RingTone.h"

// The media engine over one sound system: opens the stream while a channel is open or the
// ring tone plays, and on each block mixes the conversation, feeds the codecs and the tap.
//
// Devices that come and go: a thread of its own watches them. A stream that ends by itself
// while it is needed (its device went away) starts again at once on the sound system's default
// devices, so the call goes on, and stays there until the stream stops. Between calls, once the
// sound system says its cards or configuration changed, the device list is read again; the
// devices chosen by name are used again by the next stream once they are back. A running
// stream is never disturbed for this.
class AudioEngine final : public MediaEngine, private AudioStreamClient {
public:
    static constexpr int kMaxChannels = ConferenceMixer::kMaxParties;

    explicit AudioEngine(std::unique_ptr<AudioBackend> backend);
    ~AudioEngine() override;
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    bool initialize() override;
    std::vector<AudioDevice> devices() override;
    void currentDevices(int& input, int& output, int& ring) override;
    void setDevices(int input, int output, int ring) override;
    void setDeviceEvents(DeviceEvents events) override;
    void setFrameSamples(int samples) override;

    void setSendVoice(SendVoice send) override;
    bool openChannel(int callNo, int format) override;
    void closeChannel(int callNo) override;
    void setQuelched(int callNo, bool quelched) override;
    void receiveVoice(int callNo, std::uint32_t timestampMs, const std::uint8_t* payload, std::size_t size) override;

    void startRingTone() override;
    void stopRingTone() override;
    void setRecorderTap(VoiceEngine::RecorderTap tap) override;

private:
    using ChannelList = std::array<std::shared_ptr<Channel>, kMaxChannels>;

    // The channel of a call, or null.
    std::shared_ptr<Channel> channel(int callNo);
    void processBlock(const std::int16_t* microphone, std::int16_t* speaker, int frames) override;
    void produceRingBlock(std::int16_t* ring, int frames) override;
    void streamLost() override;

    bool updateStream();
    // Starts the stream on the chosen devices (the defaults after a loss). Under the stream lock.
    bool startStream();
    StreamFormat chooseStream() const;
    std::string deviceName(int id) const;
    void watchDevices();
    void restartLostStream();
    void rescanBetweenCalls();
    int openChannelCount();
    int takeChannels(ChannelList& list);
    void fillRing(std::int16_t* out, int frames);

    const std::unique_ptr<AudioBackend> backend_;

    // Device choice and the stream; never taken on an audio thread.
    mutable std::mutex streamLock_;
    bool initialized_ = false;
    bool streaming_ = false;
    // The chosen devices by name; empty: the sound system's default.
    std::string input_;
    std::string output_;
    std::string ring_;
    int frameSamples_ = 160;
    // The running stream was restarted on the default devices after its device went away.
    bool fallenBack_ = false;
    StreamFormat running_;  // while streaming
    // The sound system changed while a stream ran, or a device went away: the list is read
    // again once the stream stops, and after a loss it is told even when it looks the same
    // (the lost device came back meanwhile).
    bool rescanPending_ = false;
    bool tellListAfterLoss_ = false;

    // The device watch.
    std::mutex watchLock_;
    std::condition_variable watchWake_;
    bool watchStopping_ = false;
    bool streamLost_ = false;
    std::chrono::steady_clock::time_point lastRestart_{};  // the watch thread's
    std::thread watch_;

    std::mutex channelsLock_;
    std::map<int, std::shared_ptr<Channel>> channels_;
    std::atomic<long> strayPayloads_{0};

    std::atomic<bool> ringing_{false};
    std::atomic<bool> ringRestart_{false};
    std::atomic<bool> ringOnSpeaker_{false};

    CallbackSlot<SendVoice> send_;
    CallbackSlot<VoiceEngine::RecorderTap> tap_;
    CallbackSlot<DeviceEvents> deviceEvents_;

    // Audio threads only.
    RingTone ringTone_;
    ConferenceMixer mixer_;
    std::array<std::int16_t, ConferenceMixer::kMaxFrames> ringBlock_{};
};
