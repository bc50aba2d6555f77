#pragma once

#include <string>

#include "cti/CtiAgent.h"

class AgentStatus;
class Call;
class CTIConnection;
struct AgentProfile;
struct CtiSession;

// Every status report the phone makes to the CTI server: one field message each,
// "code,field^field...", built from the agent's current values and one snapshot of the call.
class OutboundMessages {
public:
    // How a transfer or consult call reaches its destination.
    enum TransferType : int { ToAgent = 1, ToQueue = 2, ToPhoneNumber = 3 };

    OutboundMessages(CTIConnection& link, CtiSession& session, const Call& call, const AgentProfile& profile,
                     AgentStatus& status, const CtiAgent& agent);

    void SendLoginToCti();                  // 34
    void SendLogoutToCti();                 // 35
    void SendReadyToCti();                  // 36
    void SendNotReadyToCti();               // 37, twice with a reason
    void SendTerminateCallToCti();          // 41
    void SendCallAnsweredToCti();           // 43
    void SendCallNoAnswerToCti();           // 47
    void SendAgentDialingToCti();           // 64
    void SendAgentInCallToCti();            // 65
    void SendAgentCancelDialingToCti();     // 66
    void SendTransferToCti(int transferType);  // 77
    void SendConferenceCompletedToCti();    // 78
    void SendAgentPersonnalDialToCti();     // 99
    void SendOnHoldToCti();                 // 100
    void SendUnHoldToCti();                 // 101
    void SendAgentReallyDialingToCti();     // 131
    void sendLineDown(const std::string& lineTrackNumber);  // 137
    void SendCancelPreviewToCti();          // 217
    void GetCtiTime();                      // 275 when the call's date and time is not known
    void sendRecordingNotice(const std::string& trackNumber, const std::string& fileNameWithoutExtension);  // 279
    void SendAttachedDataToCti();           // 321
    void SendConsultCallRequestToCti(int transferType);  // 324
    void SendConsultCallCanceledToCti();    // 325
    void SendAgentHangUpToCti();            // 405
    void SendAgentClickNotReadyToCti();     // 406
    void SendNotReadyReasonSetToCti();      // 408
    void SendNotReadyAfterWrapUpToCti();    // 409
    void SendInitiateTransferToCti();       // 411
    void SendCompletedTransferToCti(int transferType);  // 412
    void SendCancelTransferToCti();         // 413

    static const char* transferTypeName(int transferType);

private:
    // "code," then "0^" and the agent ID: the layout most reports share.
    std::string agentReport(int code) const;
    bool send(const std::string& message);

    CTIConnection& link_;
    CtiSession& session_;
    const Call& call_;
    const AgentProfile& profile_;
    AgentStatus& status_;
    const CtiAgent agent_;  // four references, held by value
};
