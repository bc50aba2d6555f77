#include "voice/AudioDeviceSelection.h"

#include <string>
#include <vector>

#include "infra/CLogger.h"
#include "voice/engine/VoiceEngine.h"

namespace {

bool isHeadset(const std::string& name) {
    return name.find("Plantronics") != std::string::npos || name.find("PLTDA60") != std::string::npos;
}

}  // namespace

void selectAudioDevices(VoiceEngine& engine) {
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
    for (const AudioDevice& device : devices) {
        for (Role& role : roles) {
            if (!(device.capabilities & role.capability)) continue;
            if (isHeadset(device.name)) {
                role.chosen = device.id;
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
}
