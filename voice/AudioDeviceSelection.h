#pragma once

#include <atomic>
#include <string>

class VoiceAgent;
class VoiceEngine;

// Chooses the agent's headset for capture, play and ring when one is listed ("Plantronics"
// or "PLTDA60" in its name; the last one listed wins), else keeps the engine's defaults.
// True when a headset was chosen for a role.
bool selectAudioDevices(VoiceEngine& engine);

// Audio devices that come and go, as the engine reports them. A device lost mid-call is told
// to the agent (the engine carries the call on the default devices). When the devices change
// between calls the headset rule runs again, so a headset plugged back in, or plugged in for
// the first time, serves from the next call on.
class AudioDeviceChanges {
public:
    AudioDeviceChanges(VoiceEngine& engine, VoiceAgent& agent);

    void deviceLost(const std::string& devices);
    void devicesChanged(const std::string& devices);

private:
    VoiceEngine& engine_;
    VoiceAgent& agent_;
    std::atomic<bool> lost_{false};  // the agent was told of a loss, not yet of the headset's return
};
