// Requests of the agent's applet: any text handed to the listener's dispatcher is answered or
// refused without harm, whatever the agent's state.

#include <cstdint>
#include <string>

#include "core/AgentStatus.h"
#include "call/AgentProfile.h"
#include "call/Call.h"
#include "desktop/ClientListener.h"
#include "infra/CLogger.h"
#include "infra/Timing.h"

namespace {

class IdleAgent : public ClientListener::Agent {
public:
    void QueuePhoneEvent(int) override {}
    void showTicker(const TickerText&) override {}
    void clickReady() override {}
    bool doAgentReady() override { return true; }
    bool dialWindowOpen() override { return false; }
    bool callTimerRunning() override { return false; }
    void SendAgentHangUpToCti() override {}
    void SendAgentPersonnalDialToCti() override {}
    void SendAgentReallyDialingToCti() override {}
    void CloseDialWindow() override {}
    bool selectIaxLine(int) override { return true; }
    std::string getVelmoraTrackNum(int) override { return "T1"; }
    void dial(const std::string&, const std::string&) override {}
    void setAgentMode(int) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        CLogger::getInstance()->setDebugOutput(nullptr);
        Timing::setScale(0.0001);
        return true;
    }();
    (void)quiet;
    static IdleAgent agent;
    static AgentStatus status;
    static Call call;
    static AgentProfile profile;
    static ClientListener listener(agent, status, call, profile, 0);
    const std::string text(reinterpret_cast<const char*>(data), size);
    status.setAgentState(size % 2 ? "AgentNotReady" : "AgentReady");
    status.inCall = size % 3 == 0;
    listener.processInfo(text);
    return 0;
}
