#include "voice/engine/media/AudioEngine.h"

#include <algorithm>

#include "infra/CLogger.h"

namespace {

constexpr long kStrayPayloadLogEvery = 500;

bool offers(const std::vector<AudioDevice>& devices, int id, int capability) {
    return std::any_of(devices.begin(), devices.end(),
                       [&](const AudioDevice& device) { return device.id == id && (device.capabilities & capability); });
}

}  // namespace

AudioEngine::AudioEngine(std::unique_ptr<AudioBackend> backend) : backend_(std::move(backend)) {}

AudioEngine::~AudioEngine() {
    std::lock_guard guard(streamLock_);
    if (streaming_) backend_->stop();
}

bool AudioEngine::initialize() {
    std::lock_guard guard(streamLock_);
    if (initialized_) return true;
    if (!backend_->initialize()) {
        logMessage(LogLevel::Error, "Media: no usable audio device");
        return false;
    }
    backend_->defaultDevices(input_, output_, ring_);
    initialized_ = true;
    logMessage(LogLevel::Debug, "Media: audio devices ready, defaults input[%d] output[%d] ring[%d]", input_, output_, ring_);
    return true;
}

std::vector<AudioDevice> AudioEngine::devices() {
    std::lock_guard guard(streamLock_);
    if (!initialized_) return {};
    return backend_->devices();
}

void AudioEngine::currentDevices(int& input, int& output, int& ring) {
    std::lock_guard guard(streamLock_);
    input = input_;
    output = output_;
    ring = ring_;
}

void AudioEngine::setDevices(int input, int output, int ring) {
    std::lock_guard guard(streamLock_);
    input_ = input;
    output_ = output;
    ring_ = ring;
}

void AudioEngine::setFrameSamples(int samples) {
    if (samples != 160 && samples != 240) {
        logMessage(LogLevel::Warning, "Media: block size of %d samples refused (160 or 240)", samples);
        return;
    }
    std::lock_guard guard(streamLock_);
    frameSamples_ = samples;
}

void AudioEngine::setSendVoice(SendVoice send) { send_.set(std::move(send)); }

void AudioEngine::setRecorderTap(VoiceEngine::RecorderTap tap) { tap_.set(std::move(tap)); }

bool AudioEngine::openChannel(int callNo, int format) {
    auto encoder = makeCodec(format);
    auto decoder = makeCodec(format);
    if (!encoder || !decoder) {
        logMessage(LogLevel::Error, "Media: call %d: no codec for format %d", callNo, format);
        return false;
    }
    {
        std::lock_guard guard(channelsLock_);
        if (channels_.size() >= kMaxChannels && !channels_.count(callNo)) {
            logMessage(LogLevel::Error, "Media: call %d: no channel left (%d open)", callNo, kMaxChannels);
            return false;
        }
        channels_[callNo] = std::make_shared<Channel>(callNo, std::move(encoder), std::move(decoder));
    }
    logMessage(LogLevel::Debug, "Media: call %d: channel open, format %d", callNo, format);
    if (updateStream()) return true;
    closeChannel(callNo);
    return false;
}

void AudioEngine::closeChannel(int callNo) {
    {
        std::lock_guard guard(channelsLock_);
        if (channels_.erase(callNo) == 0) return;
    }
    logMessage(LogLevel::Debug, "Media: call %d: channel closed", callNo);
    updateStream();
}

void AudioEngine::setQuelched(int callNo, bool quelched) {
    if (auto found = channel(callNo)) found->setQuelched(quelched);
}

void AudioEngine::receiveVoice(int callNo, std::uint32_t timestampMs, const std::uint8_t* payload, std::size_t size) {
    if (auto found = channel(callNo)) {
        found->receive(timestampMs, payload, size);
        return;
    }
    const long stray = ++strayPayloads_;
    if (stray % kStrayPayloadLogEvery == 1)
        logMessage(LogLevel::Debug, "Media: voice for call %d without a channel dropped, %ld so far", callNo, stray);
}

std::shared_ptr<Channel> AudioEngine::channel(int callNo) {
    std::lock_guard guard(channelsLock_);
    const auto found = channels_.find(callNo);
    return found == channels_.end() ? nullptr : found->second;
}

void AudioEngine::startRingTone() {
    ringRestart_.store(true);
    ringing_.store(true);
    updateStream();
}

void AudioEngine::stopRingTone() {
    ringing_.store(false);
    updateStream();
}

int AudioEngine::openChannelCount() {
    std::lock_guard guard(channelsLock_);
    return static_cast<int>(channels_.size());
}

// Runs the stream exactly while something needs it; true when it runs as needed.
bool AudioEngine::updateStream() {
    std::lock_guard guard(streamLock_);
    const bool needed = ringing_.load() || openChannelCount() > 0;
    if (needed == streaming_) return true;
    if (!needed) {
        backend_->stop();
        streaming_ = false;
        logMessage(LogLevel::Debug, "Media: audio stream stopped");
        return true;
    }
    if (!initialized_) {
        logMessage(LogLevel::Error, "Media: audio stream cannot start before the devices are initialised");
        return false;
    }
    const StreamFormat format = chooseStream();
    ringOnSpeaker_.store(format.ring < 0);
    streaming_ = backend_->start(format, *this);
    if (!streaming_) {
        logMessage(LogLevel::Error, "Media: audio stream failed to start (input[%d] output[%d] ring[%d])", format.input,
                   format.output, format.ring);
        return false;
    }
    logMessage(LogLevel::Debug, "Media: audio stream started, input[%d] output[%d] ring[%d], %d samples a block",
               format.input, format.output, format.ring, format.frames);
    return true;
}

// The chosen devices, each replaced by the default when it cannot serve its role.
StreamFormat AudioEngine::chooseStream() const {
    const auto list = backend_->devices();
    int defaultInput = -1, defaultOutput = -1, defaultRing = -1;
    backend_->defaultDevices(defaultInput, defaultOutput, defaultRing);
    const auto pick = [&](int chosen, int capability, int fallback, const char* role) {
        if (offers(list, chosen, capability)) return chosen;
        logMessage(LogLevel::Warning, "Media: %s device %d cannot serve, default %d used", role, chosen, fallback);
        return fallback;
    };
    StreamFormat format;
    format.input = pick(input_, AudioDevice::Capture, defaultInput, "input");
    format.output = pick(output_, AudioDevice::Play, defaultOutput, "output");
    const int ring = pick(ring_, AudioDevice::Ring, defaultRing, "ring");
    format.ring = ring == format.output ? -1 : ring;
    format.frames = frameSamples_;
    return format;
}

int AudioEngine::takeChannels(ChannelList& list) {
    std::lock_guard guard(channelsLock_);
    int count = 0;
    for (const auto& [callNo, channel] : channels_) list[count++] = channel;
    return count;
}

void AudioEngine::fillRing(std::int16_t* out, int frames) {
    if (ringRestart_.exchange(false)) ringTone_.restart();
    if (ringing_.load())
        ringTone_.fill(out, frames);
    else
        std::fill(out, out + frames, 0);
}

void AudioEngine::processBlock(const std::int16_t* microphone, std::int16_t* speaker, int frames) {
    ChannelList channels;
    const int count = takeChannels(channels);
    std::array<Channel*, kMaxChannels> parties{};
    int partyCount = 0;
    for (int i = 0; i < count; ++i)
        if (channels[i]->beginBlock(frames)) parties[partyCount++] = channels[i].get();

    for (int party = 0; party < partyCount; ++party) parties[party]->pullReceived(mixer_.received(party), frames);
    const bool ringHere = ringOnSpeaker_.load();
    if (ringHere) fillRing(ringBlock_.data(), frames);
    mixer_.mix(microphone, ringHere ? ringBlock_.data() : nullptr, partyCount, frames, speaker);

    for (int party = 0; party < partyCount; ++party) {
        auto payload = parties[party]->encodeHeard(mixer_.heardBy(party), frames);
        if (payload) send_.call(parties[party]->callNo(), payload->timestampMs, std::move(payload->bytes));
    }
    tap_.call(microphone, speaker, frames);
}

void AudioEngine::produceRingBlock(std::int16_t* ring, int frames) { fillRing(ring, frames); }
