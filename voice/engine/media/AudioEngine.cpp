#include "voice/engine/media/AudioEngine.h"

#include <algorithm>
#include <utility>

#include "infra/CLogger.h"
#include "infra/ThreadGroup.h"
#include "infra/Timing.h"

namespace {

constexpr long kStrayPayloadLogEvery = 500;
constexpr std::size_t kMaxDetail = 255;  // an engine event's text

// The id of the device called `name` that offers `capability`, else `fallback`.
int idOf(const std::vector<AudioDevice>& devices, const std::string& name, int capability, int fallback) {
    const auto found = std::find_if(devices.begin(), devices.end(), [&](const AudioDevice& device) {
        return device.name == name && (device.capabilities & capability);
    });
    return found == devices.end() ? fallback : found->id;
}

bool sameDevices(const std::vector<AudioDevice>& a, const std::vector<AudioDevice>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const AudioDevice& x, const AudioDevice& y) {
        return x.name == y.name && x.capabilities == y.capabilities;
    });
}

std::string describe(const std::vector<AudioDevice>& devices) {
    std::string text = std::to_string(devices.size()) + " devices";
    for (std::size_t i = 0; i < devices.size(); ++i) text += (i == 0 ? ": " : ", ") + devices[i].name;
    return text.substr(0, kMaxDetail);
}

}  // namespace

AudioEngine::AudioEngine(std::unique_ptr<AudioBackend> backend) : backend_(std::move(backend)) {}

AudioEngine::~AudioEngine() {
    {
        std::lock_guard guard(watchLock_);
        watchStopping_ = true;
    }
    watchWake_.notify_all();
    if (watch_.joinable()) watch_.join();
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
    initialized_ = true;
    int input = -1, output = -1, ring = -1;
    backend_->defaultDevices(input, output, ring);
    logMessage(LogLevel::Debug, "Media: audio devices ready, defaults input[%d] output[%d] ring[%d]", input, output, ring);
    watch_ = std::thread([this] { watchDevices(); });
    return true;
}

std::vector<AudioDevice> AudioEngine::devices() {
    std::lock_guard guard(streamLock_);
    if (!initialized_) return {};
    return backend_->devices();
}

void AudioEngine::currentDevices(int& input, int& output, int& ring) {
    std::lock_guard guard(streamLock_);
    input = output = ring = -1;
    if (!initialized_) return;
    const auto list = backend_->devices();
    backend_->defaultDevices(input, output, ring);
    input = idOf(list, input_, AudioDevice::Capture, input);
    output = idOf(list, output_, AudioDevice::Play, output);
    ring = idOf(list, ring_, AudioDevice::Ring, ring);
}

// A default device is kept as "the default", so it follows the sound system's choice; any
// other by its name.
void AudioEngine::setDevices(int input, int output, int ring) {
    std::lock_guard guard(streamLock_);
    int defaultInput = -1, defaultOutput = -1, defaultRing = -1;
    backend_->defaultDevices(defaultInput, defaultOutput, defaultRing);
    const auto chosen = [&](int id, int defaultId, const char* role) {
        if (id == defaultId) return std::string();
        std::string name = deviceName(id);
        if (name.empty()) logMessage(LogLevel::Warning, "Media: no %s device %d, the default %d serves", role, id, defaultId);
        return name;
    };
    input_ = chosen(input, defaultInput, "input");
    output_ = chosen(output, defaultOutput, "output");
    ring_ = chosen(ring, defaultRing, "ring");
}

void AudioEngine::setDeviceEvents(DeviceEvents events) { deviceEvents_.set(std::move(events)); }

std::string AudioEngine::deviceName(int id) const {
    const auto list = backend_->devices();
    const auto found =
        std::find_if(list.begin(), list.end(), [&](const AudioDevice& device) { return device.id == id; });
    return found == list.end() ? "" : found->name;
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
    if (!needed) fallenBack_ = false;  // the chosen devices again from the next stream on
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
    streaming_ = startStream();
    return streaming_;
}

bool AudioEngine::startStream() {
    const StreamFormat format = chooseStream();
    ringOnSpeaker_.store(format.ring < 0);
    if (!backend_->start(format, *this)) {
        logMessage(LogLevel::Error, "Media: audio stream failed to start (input[%d] output[%d] ring[%d])", format.input,
                   format.output, format.ring);
        return false;
    }
    running_ = format;
    logMessage(LogLevel::Debug, "Media: audio stream started, input[%d] output[%d] ring[%d], %d samples a block",
               format.input, format.output, format.ring, format.frames);
    return true;
}

// The chosen devices, each replaced by the default when it is not there or cannot serve its
// role; only the defaults after a device went away mid-call.
StreamFormat AudioEngine::chooseStream() const {
    const auto list = backend_->devices();
    int defaultInput = -1, defaultOutput = -1, defaultRing = -1;
    backend_->defaultDevices(defaultInput, defaultOutput, defaultRing);
    const auto pick = [&](const std::string& chosen, int capability, int fallback, const char* role) {
        if (chosen.empty() || fallenBack_) return fallback;
        const int id = idOf(list, chosen, capability, -1);
        if (id >= 0) return id;
        logMessage(LogLevel::Warning, "Media: %s device [%s] is not there or cannot serve, default %d used", role,
                   chosen.c_str(), fallback);
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

void AudioEngine::streamLost() {
    {
        std::lock_guard guard(watchLock_);
        streamLost_ = true;
    }
    watchWake_.notify_all();
}

void AudioEngine::watchDevices() {
    std::unique_lock guard(watchLock_);
    for (;;) {
        watchWake_.wait_for(guard, Timing::scaled(intervals::kAudioDeviceCheck),
                            [this] { return watchStopping_ || streamLost_; });
        if (watchStopping_) return;
        const bool lost = std::exchange(streamLost_, false);
        guard.unlock();
        runGuarded("AudioEngine device watch", [&] {
            if (lost)
                restartLostStream();
            else
                rescanBetweenCalls();
        });
        guard.lock();
    }
}

// The stream's device went away: the call goes on with the default devices. A stream lost
// again right after a restart waits a little before the next try, so a sound system that
// fails altogether is not hammered.
void AudioEngine::restartLostStream() {
    const auto pause = Timing::scaled(intervals::kAudioRestartPause);
    const auto since = std::chrono::steady_clock::now() - lastRestart_;
    if (since < pause) {
        std::unique_lock guard(watchLock_);
        if (watchWake_.wait_for(guard, pause - since, [this] { return watchStopping_; })) return;
        streamLost_ = false;  // what was lost meanwhile is restarted now
    }
    lastRestart_ = std::chrono::steady_clock::now();
    std::string lost;
    {
        std::lock_guard guard(streamLock_);
        if (!ringing_.load() && openChannelCount() == 0) return;  // no longer needed
        lost = "input [" + deviceName(running_.input) + "] output [" + deviceName(running_.output) + "]";
        if (streaming_) backend_->stop();
        const bool firstLoss = !fallenBack_;
        fallenBack_ = true;
        rescanPending_ = true;
        tellListAfterLoss_ = true;
        streaming_ = startStream();
        if (!streaming_) {
            logMessage(LogLevel::Error, "Media: audio device lost mid-call (%s); the default devices do not start, trying again",
                       lost.c_str());
            streamLost();
        } else {
            logMessage(LogLevel::Warning, "Media: audio device lost mid-call (%s); the call goes on with input[%d] output[%d]",
                       lost.c_str(), running_.input, running_.output);
        }
        if (!firstLoss) lost.clear();
    }
    if (!lost.empty()) deviceEvents_.call(DeviceChange::Lost, lost.substr(0, kMaxDetail));
}

// Between calls only: reads the device list again when the sound system says it changed.
void AudioEngine::rescanBetweenCalls() {
    std::string detail;
    {
        std::lock_guard guard(streamLock_);
        if (backend_->devicesMayHaveChanged()) rescanPending_ = true;
        if (!rescanPending_ || streaming_) return;
        rescanPending_ = false;
        const auto before = backend_->devices();
        if (!backend_->rescan()) logMessage(LogLevel::Warning, "Media: no usable audio device after the sound system changed");
        const auto after = backend_->devices();
        if (!std::exchange(tellListAfterLoss_, false) && sameDevices(before, after)) return;
        detail = describe(after);
        logMessage(LogLevel::Normal, "Media: audio devices changed, now %s", detail.c_str());
    }
    deviceEvents_.call(DeviceChange::ListChanged, detail);
}
