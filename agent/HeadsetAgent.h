#pragma once

#include "agent/AgentButtons.h"
#include "desktop/HeadsetControls.h"

class AgentWindow;
class CImplementation;

// The headset's buttons as the agent's own: the hook switch hangs up with the window's Hang
// Up button and answers a ringing line by selecting it, mute is the window's hold pair.
class HeadsetAgent : public HeadsetControls::Agent {
public:
    HeadsetAgent(CImplementation& core, AgentWindow& window);

    HeadsetControls& controls() { return controls_; }

    HeadsetControls::CallView headsetCallView() override;
    void answerLine(int line) override;
    void dropLine(int line) override;
    void hangUp() override { buttons_.OnBnClickedButtonHangup(); }
    void toggleHold() override;

private:
    CImplementation& core_;
    AgentButtons buttons_;
    HeadsetControls controls_;  // last: its thread ends before the rest goes
};
