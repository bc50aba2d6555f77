#pragma once

#include <array>
#include <atomic>

class LineControl;
class SwitchRegistration;
class VoiceAgent;
class Call;
struct VoiceEvent;

// The voice engine's callback: call-state changes on the three lines become line status and
// agent events, registration results become Login-Done-Event or Failed-Event.
class VoiceEvents {
public:
    VoiceEvents(LineControl& lines, SwitchRegistration& switchRegistration, const Call& call, VoiceAgent& agent);

    int iaxc_callback(const VoiceEvent& event);
    void clearPreviousStates();

private:
    void handleState(const VoiceEvent& event);
    void handleResult(const VoiceEvent& event);

    LineControl& lines_;
    SwitchRegistration& switch_;
    const Call& call_;
    VoiceAgent& agent_;
    std::array<std::atomic<int>, 3> previousState_{};
};
