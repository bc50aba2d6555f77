#include "cti/OutboundMessages.h"

#include <ctime>

#include "AgentVocabulary.h"
#include "call/AgentProfile.h"
#include "call/Call.h"
#include "core/AgentStatus.h"
#include "cti/CTIConnection.h"
#include "cti/CtiAgent.h"
#include "cti/CtiSession.h"
#include "infra/CLogger.h"

namespace {

constexpr std::size_t kConferenceTrackNumberLength = 100;

void logEntry(const char* line) { logMessage(LogLevel::Debug, "%s", line); }

}  // namespace

OutboundMessages::OutboundMessages(CTIConnection& link, CtiSession& session, const Call& call,
                                   const AgentProfile& profile, AgentStatus& status, const CtiAgent& agent)
    : link_(link), session_(session), call_(call), profile_(profile), status_(status), agent_(agent) {}

const char* OutboundMessages::transferTypeName(int transferType) {
    if (transferType == ToAgent) return "AGENT";
    if (transferType == ToQueue) return "QUEUE";
    return "PHONE_NUMBER";
}

std::string OutboundMessages::agentReport(int code) const {
    return std::to_string(code) + ",0^" + profile_.agentId.get();
}

bool OutboundMessages::send(const std::string& message) { return link_.sendInfo(message); }

void OutboundMessages::SendLoginToCti() {
    logEntry("CImplementation::SendLoginToCti()");
    session_.m_sendNotReady = false;  // a not-ready sent on an earlier connection is no longer awaited
    const std::string head = agentReport(34) + "^";
    const std::string tail = "^" + session_.hostName.get() + "^" + session_.version.get();
    link_.sendInfo(head + profile_.password.get() + tail, head + "****" + tail);
    status_.setNotReadyReason("");
}

void OutboundMessages::SendLogoutToCti() {
    send("35," + call_.snapshot().trackNumber + "^" + profile_.agentId.get() + "^" + session_.logoutReason.get());
}

void OutboundMessages::SendReadyToCti() {
    logEntry("CImplementation::SendReadyToCti()");
    send(agentReport(36));
    status_.setNotReadyReason("");
}

void OutboundMessages::SendNotReadyToCti() {
    logEntry("CImplementation::SendNotReadyToCti()");
    if (session_.m_sendNotReady) return;  // the previous one waits for its acknowledgement
    // Set before the send, since the acknowledgement may come back at once; a message that
    // did not go out awaits nothing.
    session_.m_sendNotReady = true;
    const std::string trackNumber = call_.snapshot().trackNumber;
    std::string message = trackNumber.empty() ? agentReport(37) : "37," + trackNumber + "^" + profile_.agentId.get();
    const std::string reason = status_.notReadyReason();
    if (!send(message)) session_.m_sendNotReady = false;
    if (!reason.empty()) {
        agent_.control.resetCallTimer();
        send(message + "^" + reason);
    }
    status_.setNotReadyReason("");
}

void OutboundMessages::SendTerminateCallToCti() {
    send("41," + std::to_string(static_cast<long long>(std::time(nullptr))) + "^" + call_.snapshot().trackNumber +
         "^0^0^");
}

void OutboundMessages::SendCallAnsweredToCti() {
    logEntry("CImplementation::SendCallAnsweredToCti()");
    const Call::Snapshot call = call_.snapshot();
    send("43,0^" + call.trackNumber + "^" + call.dialledNumber + "^" + call.recordId);
}

void OutboundMessages::SendCallNoAnswerToCti() {
    logEntry("CImplementation::SendCallNoAnswerToCti()");
    const Call::Snapshot call = call_.snapshot();
    send("47,0^" + call.trackNumber + "^" + call.dialledNumber + "^" + call.recordId);
}

void OutboundMessages::SendAgentDialingToCti() {
    logEntry("CImplementation::SendAgentDialingToCti()");
    send(agentReport(64));
}

void OutboundMessages::SendAgentInCallToCti() {
    logEntry("CImplementation::SendAgentInCallToCti()");
    const Call::Snapshot call = call_.snapshot();
    send("65," + call.dialledNumber + "^" + profile_.agentId.get() + "^" + call.trackNumber);
}

void OutboundMessages::SendAgentCancelDialingToCti() {
    logEntry("CImplementation::SendAgentCancelDialingToCti()");
    send(agentReport(66) + "^" + status_.notReadyReason());
    agent_.lines.setLineTrackNum("", CtiLines::kSelectedLine);
}

void OutboundMessages::SendTransferToCti(int transferType) {
    const Call::Snapshot call = call_.snapshot();
    agent_.control.QueuePhoneEvent(agent::TransferEvent);
    agent_.lines.RemoveHold();
    const std::string destination = call.dialDestination;
    send("77," + profile_.agentId.get() + "^" + destination + "^" + agent_.lines.getVelmoraTrackNum(CtiLines::kSelectedLine) + "^" +
         call.trackNumber + "^" + transferTypeName(transferType));
    agent_.lines.clearLineTrackNums();
    logMessage(LogLevel::Debug, "Transfer to [%s]", destination.c_str());
}

void OutboundMessages::SendConferenceCompletedToCti() {
    const Call::Snapshot call = call_.snapshot();
    const std::string first = call.trackNumber.substr(0, kConferenceTrackNumberLength);
    const std::string second =
        agent_.lines.getVelmoraTrackNum(agent_.lines.lineIsUp(2) ? 2 : 1).substr(0, kConferenceTrackNumberLength);
    agent_.control.QueuePhoneEvent(agent::ConferenceCompletedEvent);
    send("78," + profile_.agentId.get() + "^" + call.dialDestination + "^" + first + "^" + second);
    agent_.lines.clearLineTrackNums();
}

void OutboundMessages::SendAgentPersonnalDialToCti() {
    logEntry("COrvaneDlg::SendAgentPersonnalDialToCti - Ask CTI if it is OK to make a manual dial");
    send(agentReport(99));
}

void OutboundMessages::SendOnHoldToCti() {
    logEntry("CImplementation::SendOnHoldToCti()");
    send(agentReport(100) + "^" + call_.snapshot().trackNumber);
}

void OutboundMessages::SendUnHoldToCti() {
    logEntry("CImplementation::SendUnHoldToCti()");
    send(agentReport(101) + "^" + call_.snapshot().trackNumber);
}

void OutboundMessages::SendAgentReallyDialingToCti() {
    logEntry("CImplementation::SendAgentReallyDialingToCti()");
    send("131," + call_.snapshot().campaignName + "^" + profile_.agentId.get() + "^" +
         std::to_string(agent_.lines.selectedCall()) + "^" + agent_.lines.getVelmoraTrackNum(CtiLines::kSelectedLine));
}

void OutboundMessages::sendLineDown(const std::string& lineTrackNumber) { send("137," + lineTrackNumber); }

void OutboundMessages::SendCancelPreviewToCti() {
    logEntry("CImplementation::SendCancelPreviewToCti()");
    const Call::Snapshot call = call_.snapshot();
    send(agentReport(217) + "^" + call.dialledNumber + "^" + call.tableName);
}

void OutboundMessages::GetCtiTime() {
    if (call_.snapshot().callDateTime.empty()) send("275^");
}

void OutboundMessages::sendRecordingNotice(const std::string& trackNumber, const std::string& fileNameWithoutExtension) {
    send("279," + trackNumber + "^" + fileNameWithoutExtension);
}

void OutboundMessages::SendAttachedDataToCti() {
    std::string element;
    session_.withCallData([&](CallData& data) { element = data.toString(); });
    if (!element.empty()) send("321," + element);
}

void OutboundMessages::SendConsultCallRequestToCti(int transferType) {
    const Call::Snapshot call = call_.snapshot();
    send("324,<MSG_TYPE_CONSULT_CALL_REQUEST><REQUEST_DATA>" + call.dialDestination +
         "</REQUEST_DATA><TRACKNUM>" + call.trackNumber + "</TRACKNUM><REQUESTING_AGENT_ID>" +
         profile_.agentId.get() + "</REQUESTING_AGENT_ID><REQUEST_TYPE>" + transferTypeName(transferType) +
         "</REQUEST_TYPE></MSG_TYPE_CONSULT_CALL_REQUEST>");
}

void OutboundMessages::SendConsultCallCanceledToCti() {
    send("325,<MSG_TYPE_CONSULT_CALL_CANCELED><TRACKNUM>" + call_.snapshot().trackNumber + "</TRACKNUM><AGENT_ID>" +
         profile_.agentId.get() + "</AGENT_ID></MSG_TYPE_CONSULT_CALL_CANCELED>");
}

void OutboundMessages::SendAgentHangUpToCti() {
    logEntry("CImplementation::SendAgentHangUpToCti()");
    send(agentReport(405));
}

void OutboundMessages::SendAgentClickNotReadyToCti() {
    logEntry("CImplementation::SendAgentClickNotReadyToCti()");
    send(agentReport(406));
}

void OutboundMessages::SendNotReadyReasonSetToCti() {
    logEntry("CImplementation::SendNotReadyReasonSetToCti()");
    std::string message = agentReport(408);
    const std::string reason = status_.notReadyReason();
    if (!reason.empty()) {
        agent_.control.resetCallTimer();
        message += "^" + reason;
    }
    send(message);
}

void OutboundMessages::SendNotReadyAfterWrapUpToCti() {
    logEntry("CImplementation::SendNotReadyAfterWrapUpToCti()");
    send(agentReport(409));
}

void OutboundMessages::SendInitiateTransferToCti() {
    logEntry("Agent initiate Transfer");
    send("411," + profile_.agentId.get() + "^" + call_.snapshot().trackNumber);
}

void OutboundMessages::SendCompletedTransferToCti(int transferType) {
    const Call::Snapshot call = call_.snapshot();
    agent_.control.QueuePhoneEvent(agent::TransferEvent);
    agent_.lines.RemoveHold();
    const std::string destination = call.dialDestination;
    const std::string target =
        transferType == ToAgent || transferType == ToQueue ? destination : profile_.callPrefix.get() + destination;
    agent_.lines.clearLineTrackNums();
    logMessage(LogLevel::Debug, "Completed Transfer to [%s]", destination.c_str());
    send("412," + profile_.agentId.get() + "^" + call.trackNumber + "^" + target + "^" +
         transferTypeName(transferType));
}

void OutboundMessages::SendCancelTransferToCti() {
    logEntry("Agent canceled Transfer");
    send("413," + profile_.agentId.get() + "^" + call_.snapshot().trackNumber);
}
