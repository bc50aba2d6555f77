#include "lab/demo/LabDemoDay.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "lab/applet/LabAppletRequests.h"
#include "lab/common/LabSocket.h"
#include "lab/common/LabTone.h"
#include "lab/switch/LabWav.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kStepWait = 30s;
constexpr auto kCloseWait = 60s;  // the phone's clean close may wait 30 s for its queue
constexpr int kWrapUpSeconds = 5;
constexpr auto kLookingTime = 1500ms;  // between steps, so each state can be seen
// The customer form the screen pop shows; the agent submits it two seconds into the call.
constexpr const char* kCustomerCase = "client=C42&campaign=Winter&status=SOLD&submit-after=2000";

// A free TCP port on the loopback interface for the phone's local listener.
std::uint16_t freeLoopbackPort() {
    const LabSocket probe = LabSocket::listenOnLoopback(0);
    return probe.valid() ? probe.localPort() : 0;
}

LabCtiOptions ctiOptions(const LabDemoOptions& options) {
    LabCtiOptions cti;
    cti.agents[options.agentId] = options.password;
    cti.loginSettings.wrapUp = {"READY", std::to_string(kWrapUpSeconds), "1"};
    cti.loginSettings.recording.mp3Encoding = "1";
    return cti;
}

LabSwitchOptions switchOptions(const LabDemoOptions& options) {
    LabSwitchOptions lab;
    lab.users[options.agentId] = options.password;
    lab.callTokens = true;  // as a stock Asterisk
    lab.ringTime = 300ms;
    return lab;
}

}  // namespace

LabDemoDay::LabDemoDay(LabDemoOptions options, LabLog narrate, LabLog phoneOutput)
    : options_(std::move(options)),
      narrate_(std::move(narrate)),
      phoneOutput_(std::move(phoneOutput)),
      switch_(switchOptions(options_), labLogToFile("LabSwitch")),
      cti_(ctiOptions(options_), labLogToFile("LabCtiServer")),
      recorder_({0, false, {}, {}, options_.folder + "/recording-server"}, labLogToFile("LabRecordServer")),
      web_({}, labLogToFile("LabWebServer")) {}

std::string LabDemoDay::file(const std::string& name) const { return options_.folder + "/" + name; }

bool LabDemoDay::expect(const std::string& what, const std::function<bool()>& happened) {
    if (happened()) {
        narrate_(what);
        return true;
    }
    narrate_("the day stopped: " + what + " did not happen");
    return false;
}

int LabDemoDay::run() {
    if (!startPeers() || !startPhone()) return 1;
    bool good = expect("the phone registered with the switch as agent " + options_.agentId,
                       [&] { return switch_.waitForRegistration(options_.agentId, kStepWait); });
    good = good && expect("the applet is connected to the phone's local listener", [&] { return connectApplet(); });
    if (good) {
        std::this_thread::sleep_for(kLookingTime);
        narrate_("the applet asks the phone to make the agent ready");
        applet_->send(labapplet::forceReady());
    }
    std::optional<int> channel;
    good = good && expect("the phone opened the agent channel and the switch answered it",
                          [&] { return (channel = waitForAgentChannel()).has_value(); });
    good = good && expect("the CTI server was told the agent is ready", [&] {
        return cti_.waitFor("36,0^" + options_.agentId, kStepWait).has_value();
    });
    if (good) {
        std::this_thread::sleep_for(kLookingTime);
        narrate_("the CTI server distributes a customer call (track number 5001) with the CRM's customer form");
        labcti::QueueDistribute call{"5001", labcti::DateTime::now().dotted(), "5551234",
                                     cti_.options().screenPopUrl, std::nullopt, {}};
        cti_.push(labcti::queueDistribute(call));
        good = expect("the phone popped the customer form up: the lab CRM served it",
                      [&] { return web_.waitForRequest("GET /form?" + std::string(kCustomerCase), kStepWait).has_value(); });
    }
    if (good) {
        narrate_("the customer and the agent talk for " + std::to_string(options_.conversation.count()) + " s");
        std::this_thread::sleep_for(options_.conversation);
        good = expect("the agent submitted the form (client C42, campaign Winter, outcome SOLD)",
                      [&] { return web_.waitForRequest("POST /submit kind=submit&client=C42", kStepWait).has_value(); });
        good = good && expect("the phone read the submit from the page title and tagged the call for its recording",
                              [&] { return phoneLogged("Found infos : Client[C42] Campaign[Winter] Status[SOLD]"); });
        good = good && checkConversation(*channel);
    }
    if (good) {
        std::this_thread::sleep_for(kLookingTime);
        narrate_("the applet asks the phone to hang up");
        applet_->send(labapplet::forceHangup());
    }
    good = good && expect("the phone reported the hang-up and the end of the call to the CTI server", [&] {
        return cti_.waitFor("405,0^" + options_.agentId, kStepWait) && cti_.waitFor("37,5001^", kStepWait);
    });
    good = good && expect("the switch saw the agent channel hung up", [&] {
        return switch_.waitForCall([&](const LabCallInfo& c) { return c.id == *channel && c.state == LabCallState::Ended; },
                                   kStepWait).has_value();
    });
    if (good) {
        cti_.clearReceived();
        narrate_("the agent is in wrap-up; it times out after " + std::to_string(kWrapUpSeconds) + " s into ready");
    }
    good = good && expect("the agent is ready again", [&] {
        return cti_.waitFor("36,0^" + options_.agentId, kStepWait).has_value() && waitForAgentChannel().has_value();
    });
    good = good && checkRecording();
    if (good) std::this_thread::sleep_for(kLookingTime);
    const bool closed = closePhone();
    good = good && closed;
    narrate_(good ? "the day went as it should" : "the day did not go as it should");
    return good ? 0 : 1;
}

bool LabDemoDay::startPeers() {
    ::mkdir(options_.folder.c_str(), 0755);
    if (!switch_.start() || !cti_.start() || !recorder_.start() || !web_.start()) {
        narrate_("the lab could not open its ports");
        return false;
    }
    cti_.configure([&](LabCtiOptions& cti) {
        cti.switchInfo = labcti::SwitchInfo{"127.0.0.1", std::to_string(switch_.port())};
        cti.recordServer = labcti::RecordServer{"127.0.0.1", std::to_string(recorder_.port()), "0"};
        cti.screenPopUrl = web_.formUrl(kCustomerCase);
    });
    listenerPort_ = freeLoopbackPort();
    narrate_("lab switch on UDP 127.0.0.1:" + std::to_string(switch_.port()) + ", lab CTI server on TCP 127.0.0.1:" +
             std::to_string(cti_.port()) + ", lab recording server on TCP 127.0.0.1:" + std::to_string(recorder_.port()) +
             ", lab CRM on " + web_.url("/"));
    return listenerPort_ != 0;
}

bool LabDemoDay::startPhone() {
    // The agent's microphone says one steady tone; the customer answers with another.
    if (!labwav::write(file("microphone.wav"), labtone::make(kAgentVoiceHertz, 3.0))) {
        narrate_("cannot write " + file("microphone.wav"));
        return false;
    }
    const std::string runtime = file("runtime");
    ::mkdir(runtime.c_str(), 0700);
    std::vector<std::string> arguments{options_.phoneProgram, "--agent", options_.agentId, "--cti",
                                       "127.0.0.1:" + std::to_string(cti_.port()), "--client-port",
                                       std::to_string(listenerPort_), "--iax-port", "0"};
    if (!options_.windowed) arguments.insert(arguments.begin() + 1, "--headless");
    // The password goes in the environment: on the command line every user could read it.
    const std::map<std::string, std::string> environment{
        {"ORVANE_AUDIO", "virtual"},         {"ORVANE_AUDIO_MIC", file("microphone.wav")},
        {"ORVANE_AUDIO_SPEAKER", file("speaker.wav")}, {"ORVANE_AUDIO_RING", file("ring.wav")},
        {"XDG_CONFIG_HOME", file("config")}, {"XDG_RUNTIME_DIR", runtime},
        {"ORVANE_PASSWORD", options_.password}, {"ORVANE_RECORDINGS_DIR", file("recordings")},
        {"ORVANE_LOG_DIR", options_.folder}};
    phoneStarted_ = std::filesystem::file_time_type::clock::now();
    narrate_("starting the phone: " + options_.phoneProgram + (options_.windowed ? " with its window" : " --headless") +
             " (virtual audio, files in " + options_.folder + ")");
    if (!phone_.start(arguments, environment, options_.folder, file("stderr.txt"), phoneOutput_)) {
        narrate_("cannot start " + options_.phoneProgram);
        return false;
    }
    return true;
}

bool LabDemoDay::connectApplet() {
    LabAppletOptions options;
    options.port = listenerPort_;
    applet_.emplace(options, labLogToFile("LabAppletClient"));
    const auto deadline = std::chrono::steady_clock::now() + kStepWait;
    while (std::chrono::steady_clock::now() < deadline && phone_.running()) {
        if (applet_->connect()) return true;
        std::this_thread::sleep_for(200ms);
    }
    return false;
}

std::optional<int> LabDemoDay::waitForAgentChannel() {
    const std::string called = "ZQ" + options_.agentId;
    const auto found = switch_.waitForCall(
        [&](const LabCallInfo& call) { return call.called == called && call.state == LabCallState::Answered; },
        kStepWait);
    if (!found) return std::nullopt;
    return found->id;
}

bool LabDemoDay::checkConversation(int channel) {
    const std::vector<std::int16_t> heardBySwitch = switch_.receivedAudio(channel);
    return expect("the customer heard the agent (" + std::to_string(static_cast<int>(kAgentVoiceHertz)) +
                      " Hz in what the switch received)",
                  [&] { return labtone::present(heardBySwitch, kAgentVoiceHertz, kCustomerVoiceHertz); });
}

bool LabDemoDay::checkRecording() {
    const auto upload = recorder_.waitForUpload("", kStepWait);
    return expect(upload ? "the recording server acknowledged the call's recording " + upload->name + " (" +
                               std::to_string(upload->size) + " bytes, MP3), stored as " + upload->storedAs
                         : "the recording server received the call's recording",
                  [&] { return upload.has_value(); });
}

bool LabDemoDay::phoneLogged(const std::string& text) const {
    const auto deadline = std::chrono::steady_clock::now() + kStepWait;
    do {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(options_.folder, error)) {
            if (!entry.path().filename().string().starts_with("Orvane.") ||
                entry.last_write_time(error) < phoneStarted_)
                continue;
            std::ifstream log(entry.path());
            for (std::string line; std::getline(log, line);)
                if (line.find(text) != std::string::npos) return true;
        }
        std::this_thread::sleep_for(200ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

bool LabDemoDay::closePhone() {
    narrate_("the agent closes the phone");
    const int status = phone_.stop(kCloseWait);
    const bool loggedOut = cti_.waitFor("35,", 5s).has_value();
    std::string error;
    const auto speaker = labwav::read(file("speaker.wav"), error);
    const bool heard = speaker && labtone::present(*speaker, kCustomerVoiceHertz, kAgentVoiceHertz);
    return expect("the phone logged the agent out and closed cleanly", [&] { return status == 0 && loggedOut; }) &&
           expect("the agent heard the customer (" + std::to_string(static_cast<int>(kCustomerVoiceHertz)) +
                      " Hz in the phone's speaker)",
                  [&] { return heard; });
}
