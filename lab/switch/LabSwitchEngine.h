#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "lab/common/LabLog.h"
#include "lab/common/LabRecorder.h"
#include "lab/switch/LabCallTokens.h"
#include "lab/switch/LabIaxSessions.h"
#include "lab/switch/LabSwitchCalls.h"
#include "lab/switch/LabSwitchOptions.h"
#include "lab/switch/LabSwitchRegistrar.h"

// The protocol side of the lab switch, single-threaded: every datagram that arrives and every
// timer goes through it. It records each full frame as its readable line, checks call tokens,
// finds the session a frame belongs to and hands it to the registrar or the calls; frames of
// unknown calls get INVAL, and anything unreadable is logged and dropped.
class LabSwitchEngine {
public:
    using Clock = LabIaxSession::Clock;

    LabSwitchEngine(LabSwitchOptions options, LabIaxTransmit transmit, LabLog log, LabRecorder& frames);

    void onDatagram(std::string_view bytes, const LabUdpAddress& from, Clock::time_point now);
    void onTimer(Clock::time_point now);
    std::optional<Clock::time_point> nextDue() const;

    LabSwitchOptions& options() { return options_; }
    const LabSwitchOptions& options() const { return options_; }
    const LabSwitchRegistrar& registrar() const { return registrar_; }
    LabSwitchCalls& calls() { return calls_; }
    const LabSwitchCalls& calls() const { return calls_; }

private:
    void onFullFrame(const LabIaxFullFrame& frame, const LabUdpAddress& from, Clock::time_point now);
    void onMiniFrame(const LabIaxMiniFrame& frame, const LabUdpAddress& from);
    void onSessionFrame(LabIaxSession& session, const LabIaxFullFrame& frame, Clock::time_point now);
    void openExchange(const LabIaxFullFrame& frame, const LabUdpAddress& from, Clock::time_point now);
    bool tokenAccepted(const LabIaxFullFrame& frame, const LabUdpAddress& from, Clock::time_point now);
    LabIaxSession* sessionFor(const LabIaxFullFrame& frame, const LabUdpAddress& from);

    LabSwitchOptions options_;
    LabLog log_;
    LabRecorder& frames_;
    LabIaxSessions sessions_;
    LabSwitchRegistrar registrar_;
    LabSwitchCalls calls_;
    LabCallTokens tokens_;
};
