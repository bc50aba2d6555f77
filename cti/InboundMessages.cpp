#include "cti/InboundMessages.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

#include "AgentVocabulary.h"
#include "call/AgentProfile.h"
#include "call/Call.h"
#include "core/AgentStatus.h"
#include "cti/CTIConnection.h"
#include "cti/CtiAgent.h"
#include "cti/CtiSession.h"
#include "wire/KVSet.h"
#include "wire/LoggedText.h"
#include "cti/StringTokenizer.h"
#include "infra/CLogger.h"
#include "infra/LeadingInt.h"

namespace {

constexpr int kDefaultSwitchPort = 4569;

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// "#RRGGBB": the three pairs of hexadecimal digits after the first character; 0 when absent.
unsigned colourPart(const std::string& colour, std::size_t at) {
    if (colour.size() < at + 2) return 0;
    unsigned value = 0;
    return std::sscanf(colour.substr(at, 2).c_str(), "%x", &value) == 1 ? value : 0;
}

bool wellFormedColour(const std::string& colour) {
    return colour.size() == 7 && colour.front() == '#' &&
           std::all_of(colour.begin() + 1, colour.end(), [](unsigned char c) { return std::isxdigit(c); });
}

}  // namespace

InboundMessages::InboundMessages(CtiSession& session, Call& call, AgentProfile& profile, AgentStatus& status,
                                 const CtiAgent& agent)
    : session_(session), call_(call), profile_(profile), status_(status), agent_(agent) {}

void InboundMessages::handle(const std::string& message, CTIConnection& link) {
    KVSet set;
    if (!set.parse(message)) {
        logMessage(LogLevel::Error, "CTIConnection::processInfo() - Invalid XML message received[%s]",
                   loggedText(message).c_str());
        return;
    }
    using Handler = void (InboundMessages::*)(const KVSet&);
    static const std::pair<const char*, Handler> kHandlers[] = {
        {"MSG_TYPE_AGENT_DIALING", &InboundMessages::handleAgentDialing},
        {"MSG_TYPE_PERSONAL_DIAL", &InboundMessages::handlePersonalDial},
        {"MSG_TYPE_QUEUE_DISTRIBUTE", &InboundMessages::handleQueueDistribute},
        {"MSG_TYPE_TERMINATE_CALL", &InboundMessages::handleTerminateCall},
        {"MSG_TYPE_AGENT_NOT_READY", &InboundMessages::handleAgentNotReady},
        {"MSG_TYPE_AGENT_LOGOUT", &InboundMessages::handleAgentLogout},
        {"MSG_TYPE_HOLD_AGENT", &InboundMessages::handleHoldAgent},
        {"MSG_TYPE_DIAL_PREVIEW", &InboundMessages::handleDialPreview},
        {"MSG_TYPE_LOGIN_RESPONSE", &InboundMessages::handleLoginResponse},
        {"MSG_ORVANE_UPDATE_RECORDING", &InboundMessages::handleUpdateRecording},
        {"MSG_TYPE_SET_MSG_CENTER_INFO", &InboundMessages::handleMessageCenterData},
        {"MSG_TYPE_GET_NOTREADYREASON", &InboundMessages::handleNotReadyReason},
        {"MSG_TYPE_GET_GRP_SOFTPHONE", &InboundMessages::handleGroupSettings},
        {"MSG_TYPE_GET_SWITCH", &InboundMessages::handleSwitch},
        {"MSG_TYPE_LOGOUT_AGENT", &InboundMessages::handleLogoutAgent},
        {"MSG_TYPE_GET_RECORD_SERVER", &InboundMessages::handleRecordServer},
        {"MSG_TYPE_CTI_DATETIME", &InboundMessages::handleCtiDateTime},
        {"MSG_TYPE_GET_ORVANE_AUTO_UPDATE", &InboundMessages::handleAutoUpdate},
        {"MSG_TYPE_GET_VELMORA_TRACKNUM", &InboundMessages::handleTrackNumber},
        {"MSG_TYPE_CONSULT_CALL_REQUEST", &InboundMessages::handleConsultCallRequest},
        {"MSG_TYPE_GET_ALL_ATTACHED_DATA", &InboundMessages::handleAllAttachedData},
        {"MSG_TYPE_SUBMIT_NOTIFY", &InboundMessages::handleSubmitNotify},
    };
    for (const auto& [name, handler] : kHandlers) {
        if (set.getName() != name) continue;
        link_ = &link;
        (this->*handler)(set);
        link_ = nullptr;
        return;
    }
    logMessage(LogLevel::Warning, "Unknown message received, dont't know what to do with[%s]",
               loggedText(message).c_str());
}

void InboundMessages::handleAgentDialing(const KVSet& message) {
    call_.setPendingDialTrackNumber(message.getValue("TrackNumber"));
}

void InboundMessages::handlePersonalDial(const KVSet& message) {
    const std::string trackNumber = message.getValue("VelmoraTracknum");
    call_.start(trackNumber);
    agent_.lines.setLineTrackNum(trackNumber, CtiLines::kSelectedLine);
    logMessage(LogLevel::Debug, "Received ack to DIAL and a tracknum[%s]", trackNumber.c_str());
    if (!call_.takeRemoteDial()) agent_.screen.openDialPad();
}

void InboundMessages::handleQueueDistribute(const KVSet& message) {
    agent_.lines.selectIaxLine(0);
    agent_.lines.unquelchAllCalls();

    const std::string trackNumber = message.getValue("TrackNumber");
    const std::string ani = message.getValue("Ani");
    call_.startDistributed(trackNumber, message.getValue("CurrentDateTime"), ani);

    agent_.lines.clearCallHeldFlags();
    session_.m_sendNotReady = false;
    agent_.screen.showTicker({"", 0x0000FF, 0x000000, 2, 1});

    logMessage(LogLevel::Debug, "ANI received from VelmoraCTI : %s", ani.c_str());
    agent_.lines.setLineTrackNum(trackNumber, CtiLines::kSelectedLine);

    session_.setCallData(std::make_shared<CallData>(trackNumber, ani, message.toString("EXTRADATA")));
    agent_.screen.refreshAttachedData();

    const std::string url = message.getValue("Url");
    agent_.control.QueuePhoneEvent(agent::InCallEvent);

    const std::string consultCall = message.getValue("ConsultCall");
    if (!consultCall.empty()) {
        logMessage(LogLevel::Debug, "Consult Call Request  : [%s]", consultCall.c_str());
        status_.consultCall = consultCall == "true";
    }
    if (!url.empty()) openDistributedCallUrl(url);
}

void InboundMessages::openDistributedCallUrl(std::string url) {
    if (contains(url, "?") && contains(url, "ANI=")) {
        const auto start = url.find("ANI=") + 4;
        const std::string ani = url.substr(start, url.find('&', start) - start);
        if (call_.setAniIfUnknown(ani))
            logMessage(LogLevel::Debug, "%s: ANI from URL: %s", "handleQueueDistribute", ani.c_str());
    }
    const auto dataAt = url.find("data:");
    if (dataAt == std::string::npos) {
        url += contains(url, "?") ? "&" : "?";
        url += "AGENT_ID=" + profile_.agentId.get();
        agent_.screen.openScreenPop(url);
        return;
    }
    const std::string data = url.substr(dataAt + 5);
    logMessage(LogLevel::Debug, "data = [%s]", data.c_str());
    call_.setDialDestination("");
    call_.tagInbound(profile_.defaultClient.get());
    agent_.screen.showTicker({data.substr(0, data.find('?')), 0x0000FF, 0x000000, 0, 3});
}

void InboundMessages::handleTerminateCall(const KVSet& message) {
    const std::string trackNumber = message.getValue("TrackNumber");
    switch (call_.terminate(trackNumber)) {
    case Call::Terminate::WrongCall:
        logMessage(LogLevel::Error, "Incorrect TrackNumber !!!");
        return;
    case Call::Terminate::AlreadyReceived:
        logMessage(LogLevel::Warning, "Already received the good Terminate Call !!!");
        return;
    case Call::Terminate::Accepted:
        agent_.control.ReceivedTerminateCall(trackNumber);
        return;
    }
}

void InboundMessages::handleAgentNotReady(const KVSet& message) {
    logMessage(LogLevel::Debug, "Received ack to NOT READY");
    const std::string reason = message.getValue("Reason");
    if (status_.agentState() != "AgentReady" && status_.notReadyReason().empty()) {
        logMessage(LogLevel::Warning, "Wrong state to go in Not Ready");
        if (session_.m_sendNotReady) {
            logMessage(LogLevel::Debug, "m_sendNotReady TRUE");
            status_.setNotReadyReason(reason);
            session_.m_sendNotReady = false;
        }
        return;
    }
    status_.setNotReadyReason(reason);
    agent_.control.doAgentNotReady();
    session_.m_sendNotReady = false;
}

void InboundMessages::handleAgentLogout(const KVSet&) {
    logMessage(LogLevel::Debug, "Received ack to Logout");
    agent_.control.startAgentLogout();
}

void InboundMessages::handleHoldAgent(const KVSet& message) {
    agent_.screen.showTicker(TickerText::alert(message.getValue("Message")));
    logMessage(LogLevel::Debug, "***handleHoldAgent: AgentID[%s], TrackNum[%s]", profile_.agentId.get().c_str(),
               call_.snapshot().trackNumber.c_str());
    agent_.lines.holdCurrentCall();
}

void InboundMessages::handleDialPreview(const KVSet& message) {
    const PreviewRequest preview{message.getValue("VelmoraTracknum"), message.getValue("NumberToDial"),
                                 message.getValue("callIdName"),      message.getValue("callIdNum"),
                                 message.getValue("CampaignName"),    message.getValue("RecordId"),
                                 message.getValue("TableName")};
    call_.startPreview(preview);

    std::string url = message.getValue("Url");
    if (!contains(url, "ANI=")) url += (contains(url, "?") ? "&ANI=" : "?ANI=") + preview.numberToDial;
    url += "&AGENT_ID=" + profile_.agentId.get() + "&RECORD_ID=" + preview.recordId;

    agent_.screen.openScreenPop(url);
    logMessage(LogLevel::Debug, "Received a request for preview mode [%s], Screen pop URL is[%s]",
               preview.numberToDial.c_str(), url.c_str());
    agent_.control.QueuePhoneEvent(agent::PreviewDialingEvent);
}

void InboundMessages::handleLoginResponse(const KVSet& message) {
    if (message.getValue("Response") != "success") {
        const std::string reason = message.getValue("Reason");
        const std::string text =
            reason.empty() ? "Unknown Error" : "Registration rejected from VelmoraCCS, reason : " + reason;
        agent_.screen.showTicker(TickerText::loginFailure(text));
        logMessage(LogLevel::Warning, "%s", text.c_str());
        agent_.control.QueuePhoneEvent(agent::UnconditionalLogoutEvent);
        link_->close();
        return;
    }
    logMessage(LogLevel::Debug, "Successfully logged in with CTI, trying to register with switch");
    agent_.settings.applyVoiceFormat();
    agent_.settings.setAutoUpdateSettings(message.getValue("AutoUpdate"), message.getValue("UpdateUrl"),
                                 message.getValue("UpdatePort"), message.getValue("UpdatePath"));
    handleUpdateRecording(message);
    session_.agentGroupDbid.set(message.getValue("GroupDBID"));
    if (agent_.control.isClosing()) return;
    agent_.control.QueuePhoneEvent(profile_.readyAfterLogin ? agent::LoginEvent : agent::LoginWhithNotReadyEvent);
    // Shown first: the switch's answer, which replaces this text, can come back before
    // registerWithSwitch returns.
    agent_.screen.showTicker(TickerText::alert("Registering with switch, please wait..."));
    agent_.settings.registerWithSwitch();
}

// The recording and wrap-up settings, as at login.
void InboundMessages::handleUpdateRecording(const KVSet& message) {
    agent_.settings.setRecordingSettings(message.getValue("Recordings"), message.getValue("Mp3Encoding"),
                                message.getValue("LocalRecording"), message.getValue("MinRecordingTime"),
                                message.getValue("MaxRecordingTime"), message.getValue("SSLConnection"),
                                message.getValue("EncodingQuality"));
    agent_.settings.setWrapUpSettings(message.getValue("ActionAfterTimeOut"), message.getValue("MaxWrapUp"),
                             message.getValue("WrapUpTimeOut"));
}

void InboundMessages::handleMessageCenterData(const KVSet& message) {
    const std::string text = message.getValue("Message");
    if (text.empty()) {
        logMessage(LogLevel::Error, "handleMessageCenterData - Message empty");
        return;
    }
    const std::string colour = message.getValue("Color");
    if (!wellFormedColour(colour))
        logMessage(LogLevel::Warning, "handleMessageCenterData - Color [%s] is not #RRGGBB", colour.c_str());
    const CtiScreen::MessageCenterItem item{text, colourPart(colour, 1), colourPart(colour, 3), colourPart(colour, 5),
                                           leadingInt(message.getValue("Mode"))};
    const std::string type = message.getValue("Type");
    if (type == "ALERT")
        agent_.screen.queueAlert(item);
    else if (type == "STAT")
        agent_.screen.queueStatistic(item);
}

void InboundMessages::handleNotReadyReason(const KVSet& message) {
    const std::string reasons = message.getValue("Reason");
    if (reasons.empty()) {
        agent_.screen.setNotReadyReasons({});
        logMessage(LogLevel::Debug, "Error message empty");
        return;
    }
    std::vector<std::string> list;
    for (StringTokenizer tokens(reasons, "^"); tokens.hasMoreTokens();) list.push_back(tokens.nextToken());
    agent_.screen.setNotReadyReasons(list);
}

void InboundMessages::handleGroupSettings(const KVSet& message) {
    const std::string dial = message.getValue("ButtonDialState");
    const std::string transfer = message.getValue("ButtonTransferState");
    const std::string conference = message.getValue("ButtonConfState");
    const std::string readyAfterLogin = message.getValue("ReadyAfterLogin");
    logMessage(LogLevel::Debug, "Allow Dial[%s] Allow Transfer[%s] Allow Conference[%s] Auto Ready At Login[%s]",
               dial.c_str(), transfer.c_str(), conference.c_str(), readyAfterLogin.c_str());
    agent_.settings.setPermissions(dial == "1", transfer == "1", conference == "1");
    profile_.readyAfterLogin = readyAfterLogin == "1";
    profile_.callPrefix.set(message.getValue("AddPrefixToCall") == "1" ? message.getValue("CallPrefix") : "");
    profile_.defaultClient.set(message.getValue("RecDefaultClient"));
    profile_.defaultCampaign.set(message.getValue("RecDefaultCampaign"));
}

void InboundMessages::handleSwitch(const KVSet& message) {
    const std::string host = message.getValue("Switch");
    if (host.empty()) {
        logMessage(LogLevel::Warning, "No Asterisk switch received ");
        agent_.settings.setAsteriskHost("NotAvailable");
        agent_.screen.showTicker(TickerText::alert("No switch available"));
        agent_.control.QueuePhoneEvent(agent::UnconditionalLogoutEvent);
        agent_.control.CloseConnection();
        return;
    }
    const std::string codec = message.getValue("Codec");
    const std::string portText = message.getValue("Port");
    const int port = portText.empty() ? kDefaultSwitchPort : leadingInt(portText);
    agent_.settings.setAsteriskHost(host);
    agent_.settings.setAsteriskCodec(codec);
    agent_.settings.setAsteriskPort(port);
    agent_.settings.setAsteriskIaxPassword(message.getValue("IaxPassword"));
    logMessage(LogLevel::Debug, "Asterisk switch/port received : [%s][%d] Codec : [%s] IaxPassword : [%s]",
               host.c_str(), port, codec.c_str(), "****");
    agent_.screen.showTicker({"Waiting for an answer from VelmoraCCS", 0x646464, 0x000000, 2, 1});
}

void InboundMessages::handleLogoutAgent(const KVSet& message) {
    agent_.screen.showTicker(TickerText::alert(message.getValue("Message")));
    session_.logoutReason.set(message.getValue("Reason"));
    // Sent first: the logout sequence ends with the link closed, and it runs on a thread of its own.
    agent_.control.SendLogoutToCti();
    agent_.control.startAgentLogout();
}

void InboundMessages::handleRecordServer(const KVSet& message) {
    const std::string host = message.getValue("Host");
    const int port = leadingInt(message.getValue("Port"));
    const bool ssl = leadingInt(message.getValue("SSLConnection")) != 0;
    if (!host.empty() && port != 0)
        logMessage(LogLevel::Debug, "New Recording server received successfully [%s:%d]", host.c_str(), port);
    else {
        logMessage(LogLevel::Warning, "New Recording server received is invalid [%s:%d]", host.c_str(), port);
        logMessage(LogLevel::Debug, "Will keep all recordings locally");
    }
    agent_.settings.setRecordServer(host, port, ssl);
}

void InboundMessages::handleCtiDateTime(const KVSet& message) {
    call_.setCallDateTime(CallDateTime{message.getValue("Year"), message.getValue("Month"), message.getValue("Day"),
                                       message.getValue("Hour"), message.getValue("Min"), message.getValue("Sec")});
}

void InboundMessages::handleAutoUpdate(const KVSet& message) {
    agent_.settings.setAutoUpdateSettings(message.getValue("AutoUpdate"), message.getValue("UpdateUrl"),
                                 message.getValue("UpdatePort"), message.getValue("UpdatePath"));
}

void InboundMessages::handleTrackNumber(const KVSet& message) {
    agent_.lines.setLineTrackNum(message.getValue("Tracknum"), leadingInt(message.getValue("Channel")));
}

void InboundMessages::handleConsultCallRequest(const KVSet& message) {
    const std::string reason = message.getValue("REASON");
    const std::string response = message.getValue("RESPONSE");
    logMessage(LogLevel::Debug, "Consult Call Confirmation - Response[%s] Reason[%s]", response.c_str(),
               reason.c_str());
    agent_.screen.signalConsultCallResult(response == "success");
}

void InboundMessages::handleAllAttachedData(const KVSet& message) {
    const std::string extraData = message.toString("EXTRADATA");
    bool reloaded = false;
    session_.withCallData([&](CallData& data) {
        data.attachedData().load(extraData);
        reloaded = true;
    });
    if (reloaded) agent_.screen.refreshAttachedData();
}

void InboundMessages::handleSubmitNotify(const KVSet& message) {
    const std::string status = message.getValue("SUBMIT_STATUS");
    const std::string text = message.getValue("AGENT_ID") + "." + message.getValue("CLIENT_NAME") + "." +
                             message.getValue("CAMPAIGN_NAME") + "." + status + "." + message.getValue("SELL_RESULT");
    if (status == "submit_required") {
        call_.setSubmitPending(true);
        agent_.control.QueuePhoneEvent(agent::SubmitReqEvent);
    } else if (status == "submit_sent") {
        agent_.screen.OnSubmitNotify(text);
    } else {
        agent_.control.QueuePhoneEvent(agent::BrowserClosedEvent);
        call_.setSubmitPending(false);
    }
}
