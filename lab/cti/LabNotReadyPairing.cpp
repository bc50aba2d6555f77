#include "lab/cti/LabNotReadyPairing.h"

namespace {

std::string senderOf(const LabFieldMessage& message) {
    if (message.fields.size() < 2) return message.fieldsFrom(0);
    return message.fields[0] + "^" + message.fields[1];
}

}  // namespace

std::vector<std::string> LabNotReadyPairing::onMessage(const LabFieldMessage& message, LabNotReadyAck rule,
                                                       Clock::time_point now, Clock::duration window) {
    std::vector<std::string> reasons;
    if (rule == LabNotReadyAck::Never) return reasons;
    const std::string sender = senderOf(message);
    const bool hasReason = message.fields.size() > 2;

    if (waiting_ && (!hasReason || waiting_->sender != sender)) {
        // The earlier reasonless message got no copy: it stands alone.
        acknowledgedAlone_ = waiting_->sender;
        waiting_.reset();
        reasons.emplace_back();
    }
    if (!hasReason) {
        if (rule == LabNotReadyAck::AfterFirst) {
            acknowledgedAlone_ = sender;
            reasons.emplace_back();
        } else {
            waiting_ = Waiting{sender, now + window};
        }
        return reasons;
    }
    if (waiting_) {  // the copy of the waiting message
        waiting_.reset();
        reasons.push_back(message.fieldsFrom(2));
        return reasons;
    }
    if (acknowledgedAlone_ == sender) {  // a copy after its first was acknowledged
        acknowledgedAlone_.reset();
        return reasons;
    }
    reasons.push_back(message.fieldsFrom(2));
    return reasons;
}

std::optional<std::string> LabNotReadyPairing::onTime(Clock::time_point now) {
    if (!waiting_ || now < waiting_->due) return std::nullopt;
    acknowledgedAlone_ = waiting_->sender;
    waiting_.reset();
    return std::string();
}

std::optional<LabNotReadyPairing::Clock::time_point> LabNotReadyPairing::nextDue() const {
    if (!waiting_) return std::nullopt;
    return waiting_->due;
}
