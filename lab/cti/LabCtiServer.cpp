#include "lab/cti/LabCtiServer.h"

#include <poll.h>

#include <cerrno>

#include "infra/Timing.h"
#include "lab/common/LabPollTimeout.h"

namespace {

constexpr std::size_t kReceiveBufferBytes = 51200;
constexpr std::size_t kLoggedTextBytes = 300;

constexpr int kHeartbeat = 58;
constexpr int kHello = 0;
constexpr int kLogin = 34;
constexpr int kLogout = 35;
constexpr int kNotReady = 37;
constexpr int kPersonalDial = 99;
constexpr int kDateTimeRequest = 275;
constexpr int kConsultCallRequest = 324;

const std::string kGarbage = "\x01garbage<<not an element";

// Long texts (a flood) are cut in the log; the record keeps them whole.
std::string shown(const std::string& text) {
    if (text.size() <= kLoggedTextBytes) return text;
    return text.substr(0, kLoggedTextBytes) + "... (" + std::to_string(text.size()) + " bytes)";
}

std::chrono::steady_clock::duration scaled(std::chrono::milliseconds production) {
    return Timing::scaled(production);
}

}  // namespace

LabCtiServer::LabCtiServer(LabCtiOptions options, LabLog log) : log_(std::move(log)), options_(std::move(options)) {}

LabCtiServer::~LabCtiServer() { stop(); }

bool LabCtiServer::start() {
    if (thread_.joinable()) return false;
    const std::uint16_t wanted = port() ? port() : options().port;
    listener_ = LabSocket::listenOnLoopback(wanted);
    if (!listener_.valid()) {
        log_("cannot listen on 127.0.0.1:" + std::to_string(wanted));
        return false;
    }
    {
        std::lock_guard guard(stateLock_);
        port_ = listener_.localPort();
    }
    stopSignal_.consume();
    log_("listening on 127.0.0.1:" + std::to_string(port()));
    thread_ = std::thread(&LabCtiServer::serve, this);
    return true;
}

void LabCtiServer::stop() {
    if (!thread_.joinable()) return;
    stopSignal_.raise();
    thread_.join();
}

std::uint16_t LabCtiServer::port() const {
    std::lock_guard guard(stateLock_);
    return port_;
}

void LabCtiServer::configure(const std::function<void(LabCtiOptions&)>& change) {
    std::lock_guard guard(optionsLock_);
    change(options_);
}

LabCtiOptions LabCtiServer::options() const {
    std::lock_guard guard(optionsLock_);
    return options_;
}

void LabCtiServer::push(const std::string& message) { enqueue({Command::Kind::Send, message + "~"}); }

void LabCtiServer::push(const LabElement& message) { push(message.toString()); }

void LabCtiServer::pushBytes(const std::string& bytes) { enqueue({Command::Kind::Send, bytes}); }

void LabCtiServer::pushGarbage() { push(kGarbage); }

void LabCtiServer::pushUnterminated(std::size_t byteCount) { pushBytes(std::string(byteCount, 'x')); }

void LabCtiServer::setSilent(bool silent) {
    silent_ = silent;
    log_(silent ? "falling silent" : "answering again");
}

void LabCtiServer::dropConnection() { enqueue({Command::Kind::Drop, {}}); }

std::vector<LabReceived> LabCtiServer::received() const { return recorder_.all(); }

std::vector<std::string> LabCtiServer::receivedTexts() const { return recorder_.texts(); }

std::optional<std::string> LabCtiServer::waitFor(const LabRecorder::Match& match,
                                                 std::chrono::milliseconds timeout) const {
    return recorder_.waitFor(match, timeout);
}

std::optional<std::string> LabCtiServer::waitFor(const std::string& prefix, std::chrono::milliseconds timeout) const {
    return recorder_.waitFor(prefix, timeout);
}

bool LabCtiServer::waitForCount(const LabRecorder::Match& match, std::size_t count,
                                std::chrono::milliseconds timeout) const {
    return recorder_.waitForCount(match, count, timeout);
}

void LabCtiServer::clearReceived() { recorder_.clear(); }

int LabCtiServer::connections() const {
    std::lock_guard guard(stateLock_);
    return connections_;
}

bool LabCtiServer::connected() const {
    std::lock_guard guard(stateLock_);
    return connected_;
}

bool LabCtiServer::waitForConnection(std::chrono::milliseconds timeout) const {
    std::unique_lock guard(stateLock_);
    return stateChanged_.wait_for(guard, timeout, [this] { return connected_; });
}

bool LabCtiServer::waitForConnections(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock guard(stateLock_);
    return stateChanged_.wait_for(guard, timeout, [this, count] { return connections_ >= count; });
}

bool LabCtiServer::waitForDisconnection(std::chrono::milliseconds timeout) const {
    std::unique_lock guard(stateLock_);
    return stateChanged_.wait_for(guard, timeout, [this] { return !connected_; });
}

void LabCtiServer::setConnected(bool connected) {
    {
        std::lock_guard guard(stateLock_);
        connected_ = connected;
        if (connected) ++connections_;
    }
    stateChanged_.notify_all();
}

void LabCtiServer::enqueue(Command command) {
    {
        std::lock_guard guard(commandsLock_);
        commands_.push_back(std::move(command));
    }
    commandSignal_.raise();
}

// ---- serving thread ----

void LabCtiServer::serve() {
    for (;;) {
        const bool servingPhone = connection_.has_value();
        pollfd waits[] = {{stopSignal_.fd(), POLLIN, 0},
                          {commandSignal_.fd(), POLLIN, 0},
                          {servingPhone ? connection_->socket.fd() : listener_.fd(), POLLIN, 0}};
        if (::poll(waits, 3, servingPhone ? msUntilNextAnswer() : -1) < 0 && errno != EINTR) break;
        if (waits[0].revents) break;
        // Commands first: a push made while no phone was connected never reaches the next one.
        if (waits[1].revents) runCommands();
        if (waits[2].revents) {
            if (!servingPhone)
                acceptPhone();
            else if (connection_)  // a drop command may have ended it
                readFromPhone();
        }
        if (connection_) sendDueAnswers();
    }
    if (connection_) endConnection("server stopped");
    listener_.close();
    log_("stopped");
}

void LabCtiServer::acceptPhone() {
    LabSocket socket = listener_.accept();
    if (!socket.valid()) return;
    connection_.emplace();
    connection_->socket = std::move(socket);
    setConnected(true);
    log_("phone connected");
}

int LabCtiServer::msUntilNextAnswer() const {
    std::optional<Clock::time_point> next = connection_->notReady.nextDue();
    for (const TimedAnswer& answer : connection_->timedAnswers)
        if (!next || answer.due < *next) next = answer.due;
    return next ? pollTimeoutMs(*next) : -1;
}

void LabCtiServer::readFromPhone() {
    char buffer[kReceiveBufferBytes];
    const ssize_t received = connection_->socket.receive(buffer, sizeof buffer);
    if (received <= 0) {
        endConnection(received == 0 ? "phone closed the link" : "receive failed");
        return;
    }
    auto frames = connection_->splitter.add({buffer, static_cast<std::size_t>(received)});
    if (frames.discardedBytes)
        log_("no \"~\" in " + std::to_string(frames.discardedBytes) + " bytes from the phone: discarded");
    for (const std::string& message : frames.messages) {
        if (!connection_) return;  // a handler's send failed
        handleMessage(message);
    }
}

void LabCtiServer::runCommands() {
    commandSignal_.consume();
    std::vector<Command> commands;
    {
        std::lock_guard guard(commandsLock_);
        commands.swap(commands_);
    }
    for (const Command& command : commands) {
        if (!connection_) {
            log_(command.kind == Command::Kind::Drop ? "drop: no phone connected"
                                                     : "no phone connected, not sent: " + shown(command.bytes));
            continue;
        }
        if (command.kind == Command::Kind::Drop)
            endConnection("dropping the link");
        else
            send(command.bytes);
    }
}

void LabCtiServer::sendDueAnswers() {
    const Clock::time_point now = Clock::now();
    std::vector<std::string> due;
    if (auto reason = connection_->notReady.onTime(now)) due.push_back(labcti::agentNotReady(*reason));
    auto& answers = connection_->timedAnswers;
    for (auto answer = answers.begin(); answer != answers.end();) {
        if (answer->due > now) {
            ++answer;
            continue;
        }
        due.push_back(std::move(answer->message));
        answer = answers.erase(answer);
    }
    for (const std::string& message : due) {
        if (!connection_ || silent_) return;
        send(message + "~");
    }
}

void LabCtiServer::endConnection(const std::string& why) {
    connection_.reset();
    setConnected(false);
    log_(why);
}

void LabCtiServer::send(const std::string& bytes) {
    if (!connection_->socket.sendAll(bytes, stopSignal_.fd())) {
        endConnection("send failed");
        return;
    }
    log_(">> " + shown(bytes));
}

void LabCtiServer::handleMessage(const std::string& text) {
    recorder_.add(text);
    log_("<< " + shown(text));
    const LabFieldMessage message = LabFieldMessage::parse(text);
    if (message.code == LabFieldMessage::kNoCode) {
        log_("not a field message, ignored");
        return;
    }
    if (silent_) return;
    const LabCtiOptions options = this->options();
    switch (message.code) {
        case kHeartbeat:
            if (options.answerHeartbeat) send("58~");
            break;
        case kHello: answerHello(options); break;
        case kLogin: answerLogin(message, options); break;
        case kNotReady: answerNotReady(message, options); break;
        case kLogout:
            if (options.acknowledgeLogout) send(labcti::agentLogout() + "~");
            break;
        case kPersonalDial: answerPersonalDial(options); break;
        case kDateTimeRequest:
            send(labcti::ctiDateTime(options.dateTime.value_or(labcti::DateTime::now())) + "~");
            break;
        case kConsultCallRequest: answerConsultRequest(text, options); break;
        default: break;
    }
}

void LabCtiServer::answerHello(const LabCtiOptions& options) {
    std::vector<std::string> answers;
    if (options.switchInfo) answers.push_back(labcti::getSwitch(*options.switchInfo));
    if (options.group) answers.push_back(labcti::groupSoftphone(*options.group));
    if (options.notReadyReasons) answers.push_back(labcti::notReadyReasons(*options.notReadyReasons));
    if (options.recordServer) answers.push_back(labcti::recordServer(*options.recordServer));
    for (const std::string& answer : answers) {
        if (!connection_) return;
        send(answer + "~");
    }
}

void LabCtiServer::answerLogin(const LabFieldMessage& message, const LabCtiOptions& options) {
    if (options.loginAnswer == LabLoginAnswer::Ignore) return;
    if (options.loginAnswer == LabLoginAnswer::Refuse) {
        send(labcti::loginRefusal(options.refusalResponse, options.refusalReason) + "~");
        return;
    }
    if (!options.agents.empty()) {
        const std::string agent = message.fields.size() > 1 ? message.fields[1] : "";
        const std::string password = message.fields.size() > 2 ? message.fields[2] : "";
        const auto known = options.agents.find(agent);
        if (known == options.agents.end() || known->second != password) {
            send(labcti::loginRefusal(options.refusalResponse, "Unknown agent or wrong password") + "~");
            return;
        }
    }
    send(labcti::loginSuccess(options.loginSettings) + "~");
}

void LabCtiServer::answerNotReady(const LabFieldMessage& message, const LabCtiOptions& options) {
    const auto reasons = connection_->notReady.onMessage(message, options.notReadyAck, Clock::now(),
                                                         scaled(options.notReadyPairWindow));
    for (const std::string& reason : reasons) {
        if (!connection_) return;
        send(labcti::agentNotReady(reason) + "~");
    }
}

void LabCtiServer::answerPersonalDial(const LabCtiOptions& options) {
    if (!options.acknowledgePersonalDial) return;
    long trackNumber;
    {
        std::lock_guard guard(optionsLock_);
        trackNumber = options_.nextTrackNumber++;
    }
    answerLater(labcti::personalDial(std::to_string(trackNumber)), options.personalDialDelay);
}

void LabCtiServer::answerConsultRequest(const std::string& text, const LabCtiOptions& options) {
    const auto request = LabElement::parse(std::string_view(text).substr(text.find(',') + 1));
    if (!request || request->name() != "MSG_TYPE_CONSULT_CALL_REQUEST") {
        log_("consult-call request without its element, not answered");
        return;
    }
    switch (options.consultAnswer) {
        case LabConsultAnswer::Accept:
            answerLater(labcti::consultCallAnswer("success", ""), options.consultAnswerDelay);
            break;
        case LabConsultAnswer::Refuse:
            answerLater(labcti::consultCallAnswer("failure", options.consultRefusalReason), options.consultAnswerDelay);
            break;
        case LabConsultAnswer::Ignore: break;
    }
}

void LabCtiServer::answerLater(std::string message, std::chrono::milliseconds productionDelay) {
    if (productionDelay.count() <= 0) {
        send(message + "~");
        return;
    }
    connection_->timedAnswers.push_back({Clock::now() + scaled(productionDelay), std::move(message)});
}
