#include "agent/HeadsetAgent.h"

#include "agent/CImplementation.h"

HeadsetAgent::HeadsetAgent(CImplementation& core, AgentWindow& window)
    : core_(core), buttons_(core.buttonServices(), window), controls_(*this) {}

HeadsetControls::CallView HeadsetAgent::headsetCallView() {
    HeadsetControls::CallView view;
    view.ringingLine = core_.ringingLine();
    view.inCall = core_.status().inCall;
    view.held = core_.lines().onHold();
    for (int line = 0; line < LineControl::kLines; ++line)
        view.lineUp[static_cast<std::size_t>(line)] = core_.lines().lineIsUp(line);
    return view;
}

void HeadsetAgent::answerLine(int line) { core_.lines().selectIaxLine(line); }

void HeadsetAgent::dropLine(int line) { core_.lines().selectAndDrop(line); }

void HeadsetAgent::toggleHold() {
    if (core_.lines().onHold())
        core_.OnBnClickedButtonHold();  // the call is held: take it off hold
    else
        core_.OnBnClickedButtonUnHold();
}
