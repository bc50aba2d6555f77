#pragma once

#include <string>

#include "cti/CtiAgent.h"

class AgentStatus;
class Call;
class CTIConnection;
struct AgentProfile;
class KVSet;
struct CtiSession;

// Turns every element message of the CTI server into its effects on the agent: settings
// stored, agent events queued, lines tagged, the screen updated.
class InboundMessages {
public:
    InboundMessages(CtiSession& session, Call& call, AgentProfile& profile, AgentStatus& status, const CtiAgent& agent);

    // Parses one message (not a heartbeat answer) and runs its handler.
    void handle(const std::string& message, CTIConnection& link);

private:
    void handleAgentDialing(const KVSet& message);
    void handlePersonalDial(const KVSet& message);
    void handleQueueDistribute(const KVSet& message);
    void handleTerminateCall(const KVSet& message);
    void handleAgentNotReady(const KVSet& message);
    void handleAgentLogout(const KVSet& message);
    void handleHoldAgent(const KVSet& message);
    void handleDialPreview(const KVSet& message);
    void handleLoginResponse(const KVSet& message);
    void handleUpdateRecording(const KVSet& message);
    void handleMessageCenterData(const KVSet& message);
    void handleNotReadyReason(const KVSet& message);
    void handleGroupSettings(const KVSet& message);
    void handleSwitch(const KVSet& message);
    void handleLogoutAgent(const KVSet& message);
    void handleRecordServer(const KVSet& message);
    void handleCtiDateTime(const KVSet& message);
    void handleAutoUpdate(const KVSet& message);
    void handleTrackNumber(const KVSet& message);
    void handleConsultCallRequest(const KVSet& message);
    void handleAllAttachedData(const KVSet& message);
    void handleSubmitNotify(const KVSet& message);

    void openDistributedCallUrl(std::string url);

    CtiSession& session_;
    Call& call_;
    AgentProfile& profile_;
    AgentStatus& status_;
    const CtiAgent agent_;  // four references, held by value
    CTIConnection* link_ = nullptr;  // the link the message being handled came on
};
