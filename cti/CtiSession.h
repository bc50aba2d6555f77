#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "cti/AttachedData.h"
#include "infra/Guarded.h"

// What only the CTI link keeps: the server's address, this computer's identity, the
// acknowledgements it waits for, and the current call's attached data.
struct CtiSession {
    Guarded<std::string> host;
    std::atomic<int> port{0};
    Guarded<std::string> hostName{"NotAvailable"};
    Guarded<std::string> version;

    Guarded<std::string> logoutReason;
    Guarded<std::string> agentGroupDbid;
    std::atomic<bool> m_sendNotReady{false};  // a not-ready waits for its acknowledgement

    // The call data of the current call, under its own lock.
    void setCallData(std::shared_ptr<CallData> data) {
        std::lock_guard guard(callDataLock);
        callData = std::move(data);
    }
    template <class F>
    void withCallData(F&& use) {
        std::lock_guard guard(callDataLock);
        if (callData) use(*callData);
    }

private:
    std::mutex callDataLock;
    std::shared_ptr<CallData> callData;
};
