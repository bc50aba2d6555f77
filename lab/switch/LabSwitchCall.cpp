#include "lab/switch/LabSwitchCall.h"

#include "lab/switch/LabIaxProtocol.h"

std::string labCallStateName(LabCallState state) {
    switch (state) {
        case LabCallState::Calling: return "calling";
        case LabCallState::Ringing: return "ringing";
        case LabCallState::Answered: return "answered";
        case LabCallState::Ended: return "ended";
    }
    return "?";
}

namespace {

std::string formatName(std::uint32_t format) {
    switch (format) {
        case labiax::format::Ulaw: return "ulaw";
        case labiax::format::Alaw: return "alaw";
        case labiax::format::Gsm: return "gsm";
        case labiax::format::Speex: return "speex";
        case 0: return "-";
        default: return "format" + std::to_string(format);
    }
}

}  // namespace

std::string LabCallInfo::summary() const {
    std::string line = std::to_string(id) + (toPhone ? " to-phone " : " from-phone ") + user + " " + called + " " +
                       labCallStateName(state) + " " + formatName(format);
    if (!callerNumber.empty()) line += " caller=" + callerNumber;
    if (quelched) line += musicOnHold ? " quelched+moh" : " quelched";
    if (!dtmf.empty()) line += " dtmf=" + dtmf;
    if (!texts.empty()) line += " texts=" + std::to_string(texts.size());
    if (!endCause.empty()) line += " cause=" + endCause;
    return line;
}
