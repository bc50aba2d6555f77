#include "agent/AppletRequests.h"

#include "AgentVocabulary.h"
#include "agent/CImplementation.h"
#include "call/Call.h"
#include "core/AgentStatus.h"
#include "cti/OutboundMessages.h"
#include "desktop/CTimer.h"
#include "desktop/ScreenPopTitle.h"
#include "infra/CLogger.h"
#include "infra/StoppablePause.h"
#include "voice/Dialer.h"
#include "voice/LineControl.h"

std::string AppletRequests::forceReady() {
    const std::string state = services_.status.agentState();
    if (services_.window.dialWindowOpen()) return "3,Wrong state... agent is dialing";
    if (state != "AgentNotReady") return "3,Wrong state... agent state = " + state;
    services_.core.clickReady();
    return "3,Force Ready done!";
}

void AppletRequests::unconditionalReady(const std::stop_token& stop) {
    const std::string state = services_.status.agentState();
    if (services_.callTimer.running() && state == "AgentNotReady") {
        services_.core.doAgentReady();
    } else if (state == "AgentReadyInCall" || state == "AgentReadyInConference") {
        services_.core.QueuePhoneEvent(agent::HangUpEvent);
        services_.status.inCall = false;
        if (pauseUnlessStopped(stop, intervals::kClientAnswerPause)) services_.core.doAgentReady();
    }
}

std::string AppletRequests::forceHangup(const std::stop_token& stop) {
    logMessage(LogLevel::Debug, "Received the request to force agent hangup");
    if (!services_.status.inCall) {
        logMessage(LogLevel::Debug, "Wrong state to force agent hangup");
        return "10,Wrong state... agent state = " + services_.status.agentState();
    }
    services_.outbound.SendAgentHangUpToCti();
    services_.core.QueuePhoneEvent(agent::HangUpEvent);
    services_.status.inCall = false;
    if (!pauseUnlessStopped(stop, intervals::kClientAnswerPause)) return {};  // the client is being let go
    logMessage(LogLevel::Debug, "force agent hangup");
    return "10,Force hang up done ";
}

bool AppletRequests::remoteDial(const std::string& number, const std::string& trackNumber,
                                const std::stop_token& stop) {
    return services_.dialer.remoteDial(number, trackNumber, stop);
}

void AppletRequests::screenPopTitleChanged(const std::string& title) {
    const ScreenPopTitle report = ScreenPopTitle::read(title);
    if (report.report == ScreenPopTitle::Report::SubmitRequired) {
        logMessage(LogLevel::Debug, "Pop-up page requires a submit");
        services_.call.setSubmitPending(true);
        services_.core.QueuePhoneEvent(agent::SubmitReqEvent);
        return;
    }
    if (report.report != ScreenPopTitle::Report::SubmitSent) return;

    logMessage(LogLevel::Debug, "Submit has been pressed in the pop-up");
    if (report.conform)
        logMessage(LogLevel::Debug, "Found infos : Client[%s] Campaign[%s] Status[%s]", report.client.c_str(),
                   report.campaign.c_str(), report.status.c_str());
    else
        logMessage(LogLevel::Warning, "New title not conform to client-campaign-status.submit:sent");
    report.tagCall(services_.call);
    services_.lines.setAgentMode(3);
    services_.core.QueuePhoneEvent(agent::SubmitSentEvent);
}
