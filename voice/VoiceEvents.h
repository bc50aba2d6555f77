#pragma once

#include <array>
#include <atomic>

class AudioDeviceChanges;
class LineControl;
class SwitchRegistration;
class VoiceAgent;
class Call;
struct VoiceEvent;

// The voice engine's callback: call-state changes on the three lines become line status and
// agent events, registration results become Login-Done-Event or Failed-Event, audio device
// changes go to their owner.
class VoiceEvents {
public:
    VoiceEvents(LineControl& lines, SwitchRegistration& switchRegistration, AudioDeviceChanges& audioDevices,
                const Call& call, VoiceAgent& agent);

    int iaxc_callback(const VoiceEvent& event);
    void clearPreviousStates();
    // An incoming line still ringing (engine call 0..2), or -1.
    int ringingIncomingLine() const;

private:
    void handleState(const VoiceEvent& event);
    void handleResult(const VoiceEvent& event);

    LineControl& lines_;
    SwitchRegistration& switch_;
    AudioDeviceChanges& audioDevices_;
    const Call& call_;
    VoiceAgent& agent_;
    std::array<std::atomic<int>, 3> previousState_{};
};
