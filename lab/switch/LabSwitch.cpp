#include "lab/switch/LabSwitch.h"

#include <poll.h>

#include <cerrno>

#include "lab/common/LabPollTimeout.h"

namespace {
constexpr std::size_t kLargestDatagram = 65536;
constexpr int kDatagramsPerWake = 256;  // then timers get their turn, even under a flood
}  // namespace

LabSwitch::LabSwitch(LabSwitchOptions options, LabLog log) : log_(std::move(log)), startOptions_(std::move(options)) {}

LabSwitch::~LabSwitch() { stop(); }

bool LabSwitch::start() {
    if (thread_.joinable()) return false;
    std::string listening;
    {
        std::lock_guard guard(lock_);
        const std::uint16_t wanted = port_ ? port_ : startOptions_.port;
        socket_ = LabUdpSocket::bindTo({startOptions_.host, wanted});
        if (!socket_.valid()) {
            log_("cannot bind " + LabUdpAddress{startOptions_.host, wanted}.toString());
            return false;
        }
        port_ = socket_.localPort();
        listening = LabUdpAddress{startOptions_.host, port_}.toString();
        if (!startOptions_.captureFile.empty() && !capture_.open(startOptions_.captureFile))
            log_("cannot write the capture file " + startOptions_.captureFile);
        engine_.reset();
        engine_.emplace(
            startOptions_,
            [this](const LabUdpAddress& to, const std::string& bytes, const std::string& line) { transmit(to, bytes, line); },
            log_, frames_);
        frames_.clear();
        running_ = true;
    }
    stopSignal_.consume();
    log_("listening on " + listening);
    thread_ = std::thread(&LabSwitch::serve, this);
    return true;
}

void LabSwitch::stop() {
    if (!thread_.joinable()) return;
    stopSignal_.raise();
    thread_.join();
    std::lock_guard guard(lock_);
    running_ = false;
    startOptions_ = engine_->options();
    engine_->calls().closeRecordings();
}

std::uint16_t LabSwitch::port() const {
    std::lock_guard guard(lock_);
    return port_;
}

void LabSwitch::configure(const std::function<void(LabSwitchOptions&)>& change) {
    {
        std::lock_guard guard(lock_);
        change(running_ ? engine_->options() : startOptions_);
    }
    wakeSignal_.raise();
}

LabSwitchOptions LabSwitch::options() const {
    std::lock_guard guard(lock_);
    return running_ ? engine_->options() : startOptions_;
}

template <class Work>
auto LabSwitch::withEngine(Work&& work) {
    decltype(work(*engine_)) result{};
    {
        std::lock_guard guard(lock_);
        if (running_) result = work(*engine_);
    }
    wakeSignal_.raise();
    changed_.notify_all();
    return result;
}

template <class Predicate>
bool LabSwitch::waitUntil(std::chrono::milliseconds timeout, Predicate&& predicate) const {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, timeout, [&] { return engine_ && predicate(*engine_); });
}

bool LabSwitch::registered(const std::string& user) const { return registration(user).has_value(); }

std::optional<LabRegistration> LabSwitch::registration(const std::string& user) const {
    std::lock_guard guard(lock_);
    return engine_ ? engine_->registrar().find(user) : std::nullopt;
}

std::vector<LabRegistration> LabSwitch::registrations() const {
    std::lock_guard guard(lock_);
    return engine_ ? engine_->registrar().all() : std::vector<LabRegistration>{};
}

bool LabSwitch::waitForRegistration(const std::string& user, std::chrono::milliseconds timeout) const {
    return waitUntil(timeout, [&](const LabSwitchEngine& engine) { return engine.registrar().find(user).has_value(); });
}

bool LabSwitch::waitForUnregistration(const std::string& user, std::chrono::milliseconds timeout) const {
    return waitUntil(timeout, [&](const LabSwitchEngine& engine) { return !engine.registrar().find(user); });
}

std::vector<LabCallInfo> LabSwitch::calls() const {
    std::lock_guard guard(lock_);
    return engine_ ? engine_->calls().snapshot() : std::vector<LabCallInfo>{};
}

std::optional<LabCallInfo> LabSwitch::call(int id) const {
    for (const LabCallInfo& call : calls())
        if (call.id == id) return call;
    return std::nullopt;
}

std::optional<LabCallInfo> LabSwitch::waitForCall(const CallMatch& match, std::chrono::milliseconds timeout) const {
    std::optional<LabCallInfo> found;
    waitUntil(timeout, [&](const LabSwitchEngine& engine) {
        for (const LabCallInfo& call : engine.calls().snapshot())
            if (match(call)) {
                found = call;
                return true;
            }
        return false;
    });
    return found;
}

bool LabSwitch::answer(int id) {
    return withEngine([&](LabSwitchEngine& engine) { return engine.calls().answer(id, Clock::now()); });
}

bool LabSwitch::hangUp(int id, const std::string& cause) {
    return withEngine([&](LabSwitchEngine& engine) { return engine.calls().hangUp(id, cause, Clock::now()); });
}

std::optional<int> LabSwitch::originate(const std::string& user, const std::string& callerNumber,
                                        const std::string& callerName) {
    return withEngine([&](LabSwitchEngine& engine) -> std::optional<int> {
        const auto registration = engine.registrar().find(user);
        if (!registration) {
            log_("originate: " + user + " is not registered");
            return std::nullopt;
        }
        return engine.calls().originate(registration->address, user, callerNumber, callerName, Clock::now());
    });
}

std::optional<int> LabSwitch::originateTo(const LabUdpAddress& address, const std::string& user,
                                          const std::string& callerNumber, const std::string& callerName) {
    return withEngine([&](LabSwitchEngine& engine) {
        return engine.calls().originate(address, user, callerNumber, callerName, Clock::now());
    });
}

int LabSwitch::sendAudioBlocks(int blocks) {
    return withEngine([&](LabSwitchEngine& engine) { return engine.calls().sendAudioBlocks(blocks, Clock::now()); });
}

std::vector<std::int16_t> LabSwitch::receivedAudio(int id) const {
    std::lock_guard guard(lock_);
    if (!engine_) return {};
    return engine_->calls().received(id).value_or(std::vector<std::int16_t>{});
}

std::vector<std::int16_t> LabSwitch::heardAudio(int id) const {
    std::lock_guard guard(lock_);
    if (!engine_) return {};
    return engine_->calls().heard(id).value_or(std::vector<std::int16_t>{});
}

std::vector<std::string> LabSwitch::frames() const { return frames_.texts(); }

std::optional<std::string> LabSwitch::waitFor(const std::string& prefix, std::chrono::milliseconds timeout) const {
    return frames_.waitFor(prefix, timeout);
}

std::optional<std::string> LabSwitch::waitFor(const LabRecorder::Match& match, std::chrono::milliseconds timeout) const {
    return frames_.waitFor(match, timeout);
}

bool LabSwitch::waitForCount(const LabRecorder::Match& match, std::size_t count, std::chrono::milliseconds timeout) const {
    return frames_.waitForCount(match, count, timeout);
}

void LabSwitch::clearFrames() { frames_.clear(); }

void LabSwitch::sendRaw(const LabUdpAddress& address, const std::string& bytes) {
    std::lock_guard guard(lock_);
    if (running_) transmit(address, bytes, "raw " + std::to_string(bytes.size()) + " bytes");
}

// ---- serving thread ----

void LabSwitch::serve() {
    for (;;) {
        pollfd waits[] = {{stopSignal_.fd(), POLLIN, 0}, {wakeSignal_.fd(), POLLIN, 0}, {socket_.fd(), POLLIN, 0}};
        if (::poll(waits, 3, msUntilDue()) < 0 && errno != EINTR) break;
        if (waits[0].revents) break;
        if (waits[1].revents) wakeSignal_.consume();
        {
            std::lock_guard guard(lock_);
            if (waits[2].revents) receiveDatagrams();
            engine_->onTimer(Clock::now());
        }
        changed_.notify_all();
    }
    std::lock_guard guard(lock_);
    socket_.close();
    capture_.close();
    log_("stopped");
}

int LabSwitch::msUntilDue() const {
    std::lock_guard guard(lock_);
    const auto due = engine_->nextDue();
    return due ? pollTimeoutMs(*due) : -1;
}

void LabSwitch::receiveDatagrams() {
    char buffer[kLargestDatagram];
    for (int count = 0; count < kDatagramsPerWake; ++count) {
        LabUdpAddress from;
        bool truncated = false;
        const long size = socket_.receiveFrom(buffer, sizeof buffer, from, truncated);
        if (size < 0) return;
        const std::string_view bytes(buffer, static_cast<std::size_t>(size));
        capture_.add(from, LabUdpAddress::loopback(port_), bytes);
        if (truncated) {
            log_("<< datagram from " + from.toString() + " longer than " + std::to_string(sizeof buffer) + " bytes, dropped");
            continue;
        }
        engine_->onDatagram(bytes, from, Clock::now());
    }
}

void LabSwitch::transmit(const LabUdpAddress& to, const std::string& bytes, const std::string& line) {
    if (!socket_.valid()) return;
    if (!socket_.sendTo(to, bytes)) log_("cannot send to " + to.toString());
    capture_.add(LabUdpAddress::loopback(port_), to, bytes);
    if (!line.empty()) log_(">> " + line + "  [" + to.toString() + "]");
}
