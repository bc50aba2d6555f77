#include "call/Call.h"

#include <utility>
#include <vector>

#include "infra/CLogger.h"

Call::Snapshot Call::snapshot() const {
    std::lock_guard guard(lock_);
    return call_;
}

void Call::startLocked(const std::string& trackNumber) {
    logMessage(LogLevel::Debug, "%s - [%s]", "CImplementation::setTrackNumber", trackNumber.c_str());
    call_.trackNumber = trackNumber;
    call_.terminateReceived = false;
}

void Call::start(const std::string& trackNumber) {
    std::lock_guard guard(lock_);
    startLocked(trackNumber);
}

void Call::startDistributed(const std::string& trackNumber, const std::string& dateTime, const std::string& ani) {
    std::lock_guard guard(lock_);
    startLocked(trackNumber);
    setCallDateTimeLocked(dateTime);
    call_.ani = ani;
}

void Call::startPreview(const PreviewRequest& request) {
    std::lock_guard guard(lock_);
    call_.callerIdName = request.callerIdName;
    call_.callerIdNumber = request.callerIdNumber;
    startLocked(request.trackNumber);
    call_.campaignName = request.campaignName;
    call_.dialledNumber = request.numberToDial.substr(0, kDialledNumberLength);
    call_.ani = request.numberToDial;
    call_.recordId = request.recordId;
    call_.tableName = request.tableName;
}

Call::Terminate Call::terminate(const std::string& trackNumber) {
    std::lock_guard guard(lock_);
    if (trackNumber != call_.trackNumber) return Terminate::WrongCall;
    if (call_.terminateReceived) return Terminate::AlreadyReceived;
    call_.terminateReceived = true;
    return Terminate::Accepted;
}

void Call::setAni(const std::string& ani) {
    std::lock_guard guard(lock_);
    call_.ani = ani;
}

bool Call::setAniIfUnknown(const std::string& ani) {
    std::lock_guard guard(lock_);
    if (!call_.ani.empty()) return false;
    call_.ani = ani;
    return true;
}

void Call::setCallDateTime(const CallDateTime& parts) {
    std::lock_guard guard(lock_);
    call_.callDateTimeParts = parts;
    call_.callDateTime =
        parts.year + "." + parts.month + "." + parts.day + "." + parts.hour + "." + parts.minute + "." + parts.second;
}

void Call::setCallDateTime(const std::string& dotted) {
    std::lock_guard guard(lock_);
    setCallDateTimeLocked(dotted);
}

void Call::setCallDateTimeLocked(const std::string& dotted) {
    std::vector<std::string> parts;
    for (std::size_t at = 0; parts.size() <= 6;) {  // a seventh part is enough to refuse it
        const std::size_t dot = dotted.find('.', at);
        parts.push_back(dotted.substr(at, dot == std::string::npos ? std::string::npos : dot - at));
        if (dot == std::string::npos) break;
        at = dot + 1;
    }
    call_.callDateTimeParts = parts.size() == 6
                                  ? CallDateTime{parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]}
                                  : CallDateTime{};
    call_.callDateTime = dotted;
}

void Call::beginRecording(const std::string& dateTime, const std::string& ani, const std::string& trackNumber,
                          const CallTags& tags) {
    std::lock_guard guard(lock_);
    setCallDateTimeLocked(dateTime);
    call_.tags = tags;
    call_.ani = ani;
    logMessage(LogLevel::Debug, "%s - [%s]", "CImplementation::setTrackNumber", trackNumber.c_str());
    call_.trackNumber = trackNumber;
}

void Call::setDialledNumber(const std::string& number) {
    std::lock_guard guard(lock_);
    call_.dialledNumber = number.substr(0, kDialledNumberLength);
}

std::string Call::setDialDestination(const std::string& destination) {
    std::lock_guard guard(lock_);
    call_.dialDestination = destination.substr(0, kDialDestinationLength);
    return call_.dialDestination;
}

void Call::prefixDialDestination(const std::string& prefix) {
    std::lock_guard guard(lock_);
    call_.dialDestination = prefix + call_.dialDestination;
}

void Call::setPendingDialTrackNumber(const std::string& trackNumber) {
    std::lock_guard guard(lock_);
    call_.pendingDialTrackNumber = trackNumber;
}

void Call::beginRemoteDial(const std::string& number) {
    std::lock_guard guard(lock_);
    call_.dialDestination = number.substr(0, kDialDestinationLength);
    call_.dialledNumber = number.substr(0, kDialledNumberLength);
    call_.remoteDial = true;
}

void Call::endRemoteDial() {
    std::lock_guard guard(lock_);
    call_.remoteDial = false;
}

bool Call::takeRemoteDial() {
    std::lock_guard guard(lock_);
    return std::exchange(call_.remoteDial, false);
}

void Call::setSubmitPending(bool pending) {
    std::lock_guard guard(lock_);
    call_.submitPending = pending;
}

bool Call::takeSubmitPending() {
    std::lock_guard guard(lock_);
    return std::exchange(call_.submitPending, false);
}

void Call::tag(const std::string& client, const std::string& campaign, const std::string& status) {
    std::lock_guard guard(lock_);
    call_.tags = {true, client.substr(0, kTagTextLength), campaign.substr(0, kTagTextLength),
                  status.substr(0, kTagStatusLength)};
}

void Call::untag() {
    std::lock_guard guard(lock_);
    call_.tags.tagged = false;
}

void Call::tagInbound(const std::string& defaultClient) {
    std::lock_guard guard(lock_);
    call_.tags = {true, defaultClient, "Inbound", "000"};
}
