#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "lab/applet/LabAppletClient.h"
#include "lab/common/LabLog.h"
#include "lab/cti/LabCtiServer.h"
#include "lab/demo/LabChildProcess.h"
#include "lab/recorder/LabRecordServer.h"
#include "lab/switch/LabSwitch.h"
#include "lab/web/LabWebServer.h"

struct LabDemoOptions {
    std::string phoneProgram;  // the orvane program
    std::string folder;        // the phone's working folder: log, settings, audio files
    std::string agentId = "1001";
    std::string password = "lab1001";
    std::chrono::seconds conversation{6};  // how long the customer and the agent talk
    bool windowed = false;                 // the phone shows its window instead of printing its view
};

// The built-in lab's demonstration: one agent's working day with a headless phone against the
// lab switch, the lab CTI server and the lab applet. The phone is started as a program of its
// own; the day is driven from the outside, as the CTI server, the switch and the applet would
// drive it, and narrated as it goes: login, registration, ready, a distributed call with audio
// both ways and its screen pop (the lab CRM's customer form, submitted with the call's outcome),
// the applet's hang-up, wrap-up ending in ready again with the call's recording uploaded, and
// the clean close.
class LabDemoDay {
public:
    // `phoneOutput` takes each line the phone prints.
    LabDemoDay(LabDemoOptions options, LabLog narrate, LabLog phoneOutput);

    // 0 when the whole day went as it should.
    int run();
    // The phone's process id while it runs (for a stop from another thread); -1 otherwise.
    pid_t phonePid() const { return phone_.pid(); }

    static constexpr double kAgentVoiceHertz = 1000;  // the agent's microphone
    static constexpr double kCustomerVoiceHertz = LabSwitchOptions::kFarPartyToneHertz;

private:
    bool startPeers();
    bool startPhone();
    bool connectApplet();
    std::optional<int> waitForAgentChannel();
    bool checkConversation(int channel);
    bool checkRecording();
    // The phone's log holds `text` (within the step's wait).
    bool phoneLogged(const std::string& text) const;
    bool closePhone();
    // Narrates a step and waits for it; false (and a narrated failure) when it never comes.
    bool expect(const std::string& what, const std::function<bool()>& happened);
    std::string file(const std::string& name) const;

    const LabDemoOptions options_;
    const LabLog narrate_;
    const LabLog phoneOutput_;
    LabSwitch switch_;
    LabCtiServer cti_;
    LabRecordServer recorder_;
    LabWebServer web_;
    std::optional<LabAppletClient> applet_;  // once the phone's listener port is chosen
    LabChildProcess phone_;
    std::uint16_t listenerPort_ = 0;
    std::filesystem::file_time_type phoneStarted_;  // older logs in the folder are other days'
};
