#pragma once

#include <string>

#include "desktop/ClientListener.h"

class AgentStatus;
class AgentWindow;
class CImplementation;
class CTimer;
class Call;
class Dialer;
class LineControl;
class OutboundMessages;

// What the agent's applet asks of the phone through the local listener: forced ready and
// hang-up, the remote dial, and the screen pop's title reports.
class AppletRequests : public ClientListener::Agent {
public:
    struct Services {
        CImplementation& core;
        AgentWindow& window;
        AgentStatus& status;
        CTimer& callTimer;
        OutboundMessages& outbound;
        Dialer& dialer;
        LineControl& lines;
        Call& call;
    };

    explicit AppletRequests(Services services) : services_(services) {}

    std::string forceReady() override;
    void unconditionalReady(const std::stop_token& stop) override;
    std::string forceHangup(const std::stop_token& stop) override;
    bool remoteDial(const std::string& number, const std::string& trackNumber, const std::stop_token& stop) override;
    void screenPopTitleChanged(const std::string& title) override;

private:
    Services services_;
};
