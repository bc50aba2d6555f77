#include "voice/AudioDeviceSelection.h"

#include <string>
#include <vector>

#include "core/AgentWindow.h"
#include "infra/CLogger.h"
#include "voice/VoiceAgent.h"
#include "voice/engine/VoiceEngine.h"

namespace {

bool isHeadset(const std::string& name) {
    return name.find("Plantronics") != std::string::npos || name.find("PLTDA60") != std::string::npos;
}

}  // namespace

bool selectAudioDevices(VoiceEngine& engine) {
    logMessage(LogLevel::Debug, "-------------------------------- Audio Devices -------------------------------");
    std::vector<AudioDevice> devices;
    int input = 0;
    int output = 0;
    int ring = 0;
    engine.iaxc_audio_devices_get(devices, input, output, ring);

    struct Role {
        int capability;
        const char* name;
        int& chosen;
    };
    Role roles[] = {{AudioDevice::Capture, "Input", input},
                    {AudioDevice::Play, "Output", output},
                    {AudioDevice::Ring, "Ring", ring}};
    bool headset = false;
    for (const AudioDevice& device : devices) {
        for (Role& role : roles) {
            if (!(device.capabilities & role.capability)) continue;
            if (isHeadset(device.name)) {
                role.chosen = device.id;
                headset = true;
                logMessage(LogLevel::Debug, "Plantronic %s device found: ID:[%d] [%s]", role.name, device.id,
                           device.name.c_str());
            } else {
                logMessage(LogLevel::Debug, "%s device found: ID:[%d] [%s]", role.name, device.id, device.name.c_str());
            }
        }
    }
    logMessage(LogLevel::Debug, "Device selected : input[%d] output[%d] ring[%d]", input, output, ring);
    engine.iaxc_audio_devices_set(input, output, ring);
    logMessage(LogLevel::Debug, "%s", std::string(78, '-').c_str());
    return headset;
}

AudioDeviceChanges::AudioDeviceChanges(VoiceEngine& engine, VoiceAgent& agent) : engine_(engine), agent_(agent) {}

void AudioDeviceChanges::deviceLost(const std::string& devices) {
    logMessage(LogLevel::Error, "AudioDeviceChanges::deviceLost(): Audio device lost mid-call, %s; the call goes on with the default devices",
               devices.c_str());
    lost_ = true;
    agent_.showTicker(TickerText::alert("Audio device lost, using the default device"));
}

void AudioDeviceChanges::devicesChanged(const std::string& devices) {
    logMessage(LogLevel::Normal, "AudioDeviceChanges::devicesChanged(): Audio devices changed, %s", devices.c_str());
    if (!selectAudioDevices(engine_) || !lost_.exchange(false)) return;
    logMessage(LogLevel::Normal, "AudioDeviceChanges::devicesChanged(): The headset is back, used from the next call");
    agent_.showTicker(TickerText::alert("Headset back, used from the next call"));
}
