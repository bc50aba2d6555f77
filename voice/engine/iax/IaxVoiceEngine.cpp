#include "voice/engine/iax/IaxVoiceEngine.h"

#include <array>
#include <random>
#include <utility>

#include "infra/CLogger.h"
#include "infra/ThreadGroup.h"
#include "infra/Timing.h"
#include "voice/engine/iax/IaxDialString.h"

namespace {
using iax::Clock;

constexpr int kMaxCalls = 16;
// Datagrams read in one pass of the loop; the rest wait for the next pass, so one pass's
// work (and what it queues for delivery) stays bounded.
constexpr int kDatagramsPerPass = 256;

// "host" or "host:port", looked up (before any lock is taken: it may block).
std::optional<PeerAddress> resolveHost(const std::string& host) {
    const auto hostPort = iax::parseHostPort(host);
    auto address = hostPort ? PeerAddress::resolve(hostPort->host, hostPort->port) : std::nullopt;
    if (!address) logMessage(LogLevel::Error, "IaxVoiceEngine: Cannot resolve [%s]", host.c_str());
    return address;
}

// The engine this thread is delivering for, so a callback that calls back in leaves its
// events to the delivery already running.
thread_local const void* deliveringFor = nullptr;
}  // namespace

IaxVoiceEngine::IaxVoiceEngine(IaxEngineConfig config, std::unique_ptr<MediaEngine> media)
    : config_(std::move(config)),
      media_(std::move(media)),
      dialogs_(std::random_device{}()),
      codecs_(config_.supportedFormats),
      registrations_(dialogs_, socket_, outbox_, throttle_),
      lines_(dialogs_, socket_, outbox_, registrations_, codecs_, throttle_),
      router_(dialogs_, lines_, registrations_, socket_, outbox_, throttle_) {}

IaxVoiceEngine::~IaxVoiceEngine() {
    iaxc_stop_processing_thread();
    if (loop_.joinable()) loop_.join();
    if (media_) {
        media_->setSendVoice({});
        media_->setDeviceEvents({});
    }
    media_.reset();
}

template <class Work>
auto IaxVoiceEngine::locked(Work&& work) {
    struct DeliverAfter {
        IaxVoiceEngine* engine;
        ~DeliverAfter() { engine->deliver(); }
    } deliverAfter{this};
    std::lock_guard guard(lock_);
    struct WakeLoopAfter {  // still under the lock
        IaxVoiceEngine* engine;
        ~WakeLoopAfter() { engine->wakeLoopIfDueSooner(); }
    } wakeLoopAfter{this};
    return work();
}

void IaxVoiceEngine::wakeLoopIfDueSooner() {
    const auto due = router_.nextDue();
    if (!due || (sleepUntil_ && *sleepUntil_ <= *due)) return;
    sleepUntil_ = due;
    socket_.wake();
}

int IaxVoiceEngine::boundPort() const {
    std::lock_guard guard(lock_);
    return initialized_ ? socket_.localPort() : 0;
}

int IaxVoiceEngine::iaxc_initialize(int calls) {
    logMessage(LogLevel::Debug, "IaxVoiceEngine::iaxc_initialize(%d)", calls);
    {
        std::lock_guard guard(lock_);
        if (initializeTried_ || calls < 1 || calls > kMaxCalls) return -1;
        initializeTried_ = true;
        if (!socket_.open(config_.bindAddress, config_.port)) return 1;
    }
    if (!media_ || !media_->initialize()) {
        logMessage(LogLevel::Error, "IaxVoiceEngine::iaxc_initialize(): The audio devices cannot be used");
        return 2;
    }
    media_->setSendVoice([this](int callNo, std::uint32_t timestampMs, std::vector<std::uint8_t> payload) {
        std::lock_guard guard(lock_);
        lines_.sendVoice(callNo, timestampMs, payload, Clock::now());
        wakeLoopIfDueSooner();  // a full voice frame waits for its acknowledgement
    });
    media_->setDeviceEvents([this](MediaEngine::DeviceChange change, const std::string& detail) {
        const int code = change == MediaEngine::DeviceChange::Lost ? VoiceEvent::AudioDeviceLost
                                                                   : VoiceEvent::AudioDevicesChanged;
        locked([&] { outbox_.postResult(-1, code, detail); });
    });
    std::lock_guard guard(lock_);
    lines_.setCount(calls);
    initialized_ = true;
    return 0;
}

void IaxVoiceEngine::iaxc_set_event_callback(EventCallback callback) {
    std::lock_guard guard(callbackLock_);
    callback_ = std::move(callback);
}

int IaxVoiceEngine::iaxc_audio_devices_get(std::vector<AudioDevice>& devices, int& input, int& output, int& ring) {
    if (!media_) return -1;
    devices = media_->devices();
    media_->currentDevices(input, output, ring);
    return 0;
}

int IaxVoiceEngine::iaxc_audio_devices_set(int input, int output, int ring) {
    if (!media_) return -1;
    media_->setDevices(input, output, ring);
    return 0;
}

int IaxVoiceEngine::iaxc_start_processing_thread() {
    if (loopThread_.load() == std::this_thread::get_id()) {  // from a callback on the loop itself
        stopRequested_ = false;
        return 0;
    }
    std::lock_guard loopGuard(loopLock_);
    {
        std::lock_guard guard(lock_);
        if (!initialized_) return -1;
    }
    if (loop_.joinable()) {
        if (!stopRequested_) return 0;
        loop_.join();
    }
    stopRequested_ = false;
    loop_ = std::thread([this] { runLoop(); });
    return 0;
}

int IaxVoiceEngine::iaxc_stop_processing_thread() {
    stopRequested_ = true;
    std::lock_guard guard(lock_);
    socket_.wake();
    return 0;
}

// Each pass reads what arrived and runs the timers that are due, then sleeps until the next
// timer, a datagram, or an operation that brings a timer forward. A pass that throws is logged
// and the loop goes on after a short pause: the agent keeps the calls and the registration.
void IaxVoiceEngine::runLoop() {
    loopThread_ = std::this_thread::get_id();
    while (!stopRequested_) {
        std::optional<std::chrono::milliseconds> sleep =
            std::chrono::ceil<std::chrono::milliseconds>(Timing::scaled(intervals::kIaxFailedPassPause));
        runGuarded("IaxVoiceEngine::runLoop", [&] {
            {
                std::lock_guard guard(lock_);
                const auto now = Clock::now();
                restartNetworkNow(now);
                readNetwork(now);
                router_.tick(now);
                sleepUntil_ = router_.nextDue();
                sleep.reset();
                if (sleepUntil_)
                    sleep = std::max(std::chrono::milliseconds(0),
                                     std::chrono::ceil<std::chrono::milliseconds>(*sleepUntil_ - now));
            }
            deliver();
        });
        if (stopRequested_) break;
        socket_.wait(sleep);
    }
    loopThread_ = std::thread::id();
}

void IaxVoiceEngine::restartNetwork(bool keepCalls) {
    logMessage(LogLevel::Debug, "IaxVoiceEngine::restartNetwork(%s)", keepCalls ? "keeping the calls" : "ending the calls");
    std::lock_guard guard(lock_);
    // Ending the calls wins over keeping them when both were asked for before the loop came round.
    if (networkRestart_ != NetworkRestart::DropCalls)
        networkRestart_ = keepCalls ? NetworkRestart::KeepCalls : NetworkRestart::DropCalls;
    socket_.wake();
}

// The socket is the loop's to wait on, so only the loop replaces it.
void IaxVoiceEngine::restartNetworkNow(Clock::time_point now) {
    const NetworkRestart restart = std::exchange(networkRestart_, NetworkRestart::None);
    if (restart == NetworkRestart::None || !initialized_) return;
    if (!socket_.reopen())
        logMessage(LogLevel::Error, "IaxVoiceEngine::restartNetwork(): The socket cannot be opened again");
    if (restart == NetworkRestart::DropCalls) lines_.abandonAll(now);
    registrations_.renew(now);
}

void IaxVoiceEngine::readNetwork(Clock::time_point now) {
    std::array<std::uint8_t, iax::kMaxDatagramBytes> buffer;
    PeerAddress from;
    for (int read = 0; read < kDatagramsPerPass; ++read) {
        const auto size = socket_.receive(buffer, from);
        if (!size) return;
        if (*size > buffer.size())
            router_.dropOversized(*size, from, now);
        else
            router_.receive(std::span(buffer.data(), *size), from, now);
    }
}

void IaxVoiceEngine::deliver() {
    if (deliveringFor == this) return;
    const void* outer = deliveringFor;
    for (;;) {
        // Whoever holds the delivery lock takes our items too; after letting go it looks again.
        if (!deliveryLock_.try_lock()) break;
        deliveringFor = this;
        for (;;) {
            std::optional<iax::Outbox::Item> item;
            {
                std::lock_guard guard(lock_);
                item = outbox_.take();
            }
            if (!item) break;
            run(*item);
        }
        deliveringFor = outer;
        deliveryLock_.unlock();
        std::lock_guard guard(lock_);
        if (outbox_.empty()) break;
    }
}

void IaxVoiceEngine::run(iax::Outbox::Item& item) {
    runGuarded("IaxVoiceEngine::deliver", [&] {  // a failing event loses only itself
        if (auto* work = std::get_if<iax::Outbox::MediaWork>(&item)) {
            if (media_) (*work)(*media_);
            return;
        }
        EventCallback callback;
        {
            std::lock_guard guard(callbackLock_);
            callback = callback_;
        }
        if (callback) callback(std::get<VoiceEvent>(item));
    });
}

int IaxVoiceEngine::iaxc_register(const std::string& user, const std::string& secret, const std::string& host) {
    logMessage(LogLevel::Debug, "IaxVoiceEngine::iaxc_register([%s], [%s])", user.c_str(), host.c_str());
    const auto registrar = resolveHost(host);
    if (!registrar) return -1;
    return locked([&] { return initialized_ ? registrations_.add(user, secret, *registrar, Clock::now()) : -1; });
}

int IaxVoiceEngine::iaxc_unregister_user(const std::string& user, const std::string& secret, const std::string& host) {
    logMessage(LogLevel::Debug, "IaxVoiceEngine::iaxc_unregister_user([%s], [%s])", user.c_str(), host.c_str());
    const auto registrar = resolveHost(host);
    if (!registrar) return -1;
    return locked([&] { return registrations_.release(user, secret, *registrar, Clock::now()); });
}

void IaxVoiceEngine::iaxc_set_callerid(const std::string& name, const std::string& number) {
    locked([&] { lines_.setCallerId(name, number); });
}

int IaxVoiceEngine::iaxc_call(const std::string& dialString) { return dial(dialString, -1); }

int IaxVoiceEngine::iaxc_call_on_line(const std::string& dialString, int callNo) {
    return callNo < 0 ? -1 : dial(dialString, callNo);
}

int IaxVoiceEngine::dial(const std::string& dialString, int callNo) {
    logMessage(LogLevel::Debug, "IaxVoiceEngine::dial([%s], %d)", dialString.c_str(), callNo);
    const auto dial = iax::parseDialString(dialString);
    const auto peer = dial ? PeerAddress::resolve(dial->peer.host, dial->peer.port) : std::nullopt;
    if (!peer) {
        logMessage(LogLevel::Error, "IaxVoiceEngine::dial(): Cannot dial [%s]", dialString.c_str());
        return -1;
    }
    return locked([&] {
        const int line = callNo < 0 ? lines_.idleLine() : callNo;
        return lines_.place(line, *dial, dialString, *peer, Clock::now());
    });
}

int IaxVoiceEngine::iaxc_select_call(int callNo) {
    return locked([&] { return lines_.select(callNo, Clock::now()); });
}

int IaxVoiceEngine::iaxc_selected_call() {
    return locked([&] { return lines_.selected(); });
}

void IaxVoiceEngine::iaxc_dump_call() {
    locked([&] { lines_.hangUp(lines_.selected(), Clock::now()); });
}

void IaxVoiceEngine::iaxc_dump_all_calls() {
    locked([&] {
        for (int line = 0; line < lines_.count(); ++line) lines_.hangUp(line, Clock::now());
    });
}

void IaxVoiceEngine::iaxc_send_dtmf(char digit) {
    locked([&] { lines_.sendDtmf(digit, Clock::now()); });
}

int IaxVoiceEngine::iaxc_quelch(int callNo, int musicOnHold) {
    return locked([&] { return lines_.quelch(callNo, musicOnHold == 1, Clock::now()); });
}

int IaxVoiceEngine::iaxc_unquelch(int callNo) {
    return locked([&] { return lines_.unquelch(callNo, Clock::now()); });
}

void IaxVoiceEngine::iaxc_set_codec(int format) {
    logMessage(LogLevel::Debug, "IaxVoiceEngine::iaxc_set_codec(%d)", format);
    locked([&] {
        const int samples = codecs_.choose(format);
        outbox_.media([samples](MediaEngine& media) { media.setFrameSamples(samples); });
    });
}

int IaxVoiceEngine::iaxc_set_call_tag(int callNo, const std::string& tag) {
    return locked([&] { return lines_.setTag(callNo, tag); });
}

std::optional<std::string> IaxVoiceEngine::iaxc_get_call_tag(int callNo) {
    return locked([&] { return lines_.tag(callNo); });
}

void IaxVoiceEngine::startRingTone() {
    if (media_) media_->startRingTone();
}

void IaxVoiceEngine::stopRingTone() {
    if (media_) media_->stopRingTone();
}

void IaxVoiceEngine::setRecorderTap(RecorderTap tap) {
    if (media_) media_->setRecorderTap(std::move(tap));
}
