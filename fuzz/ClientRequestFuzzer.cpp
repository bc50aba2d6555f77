// Requests of the agent's applet: any text handed to the listener's decoder is answered or
// refused without harm, whatever the agent answers.

#include <cstdint>
#include <string>

#include "desktop/ClientListener.h"
#include "infra/CLogger.h"
#include "infra/Timing.h"

namespace {

class IdleAgent : public ClientListener::Agent {
public:
    std::string forceReady() override { return "3,Force Ready done!"; }
    void unconditionalReady(const std::stop_token&) override {}
    std::string forceHangup(const std::stop_token&) override { return "10,Force hang up done "; }
    bool remoteDial(const std::string&, const std::string&, const std::stop_token&) override { return inState; }
    void screenPopTitleChanged(const std::string&) override {}
    bool inState = true;
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
    static ClientListener listener(agent, 0);
    const std::string text(reinterpret_cast<const char*>(data), size);
    agent.inState = size % 2 == 0;
    listener.processInfo(text);
    return 0;
}
