#pragma once

#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "voice/engine/media/AudioBackend.h"
#include "voice/engine/media/CallbackSlot.h"
#include "voice/engine/media/Channel.h"
#include "voice/engine/media/ConferenceMixer.h"
#include "voice/engine/media/MediaEngine.h"
#include "voice/engine/media/RingTone.h"

// The media engine over one sound system: opens the stream while a channel is open or the
// ring tone plays, and on each block mixes the conversation, feeds the codecs and the tap.
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

    bool updateStream();
    StreamFormat chooseStream() const;
    int openChannelCount();
    int takeChannels(ChannelList& list);
    void fillRing(std::int16_t* out, int frames);

    const std::unique_ptr<AudioBackend> backend_;

    // Device choice and the stream; never taken on an audio thread.
    mutable std::mutex streamLock_;
    bool initialized_ = false;
    bool streaming_ = false;
    int input_ = -1;
    int output_ = -1;
    int ring_ = -1;
    int frameSamples_ = 160;

    std::mutex channelsLock_;
    std::map<int, std::shared_ptr<Channel>> channels_;
    std::atomic<long> strayPayloads_{0};

    std::atomic<bool> ringing_{false};
    std::atomic<bool> ringRestart_{false};
    std::atomic<bool> ringOnSpeaker_{false};

    CallbackSlot<SendVoice> send_;
    CallbackSlot<VoiceEngine::RecorderTap> tap_;

    // Audio threads only.
    RingTone ringTone_;
    ConferenceMixer mixer_;
    std::array<std::int16_t, ConferenceMixer::kMaxFrames> ringBlock_{};
};
