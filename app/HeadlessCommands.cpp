#include "app/HeadlessCommands.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <sstream>
#include <vector>

#include "agent/AgentButtons.h"
#include "agent/CImplementation.h"
#include "agent/HeadlessAgentWindow.h"
#include "infra/CLogger.h"

namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

void runCaught(const char* name, const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& error) {
        logMessage(LogLevel::Error, "Unhandled exception in %s: %s", name, error.what());
    }
}

}  // namespace

HeadlessCommands::HeadlessCommands(CImplementation& core, AgentButtons& buttons, HeadlessAgentWindow& window,
                                   Print print)
    : core_(core), buttons_(buttons), window_(window), print_(std::move(print)) {}

HeadlessCommands::~HeadlessCommands() { finish(); }

void HeadlessCommands::finish() {
    clicks_.stop();
    modalThreads_.join();
}

const char* HeadlessCommands::help() {
    return "commands: ready | notready [REASON] | hangup | hold | unhold | dial [NUMBER] |\n"
           "          transfer NUMBER [agent|queue] | cancel | logout | quit | help\n"
           "  dial without a number takes the preview call offered; cancel closes an open dial window";
}

void HeadlessCommands::click(std::function<void()> work) {
    clicks_.post([work = std::move(work)] { runCaught("command", work); });
}

void HeadlessCommands::modal(std::function<void()> work) {
    modalThreads_.start([work = std::move(work)] { runCaught("command", work); });
}

bool HeadlessCommands::run(const std::string& line) {
    std::istringstream words(line);
    std::string command, argument, rest;
    words >> command >> argument;
    std::getline(words >> std::ws, rest);
    command = lowered(command);
    if (command.empty()) return true;
    if (command == "quit" || command == "exit") return false;
    if (command == "help") {
        print_(help());
    } else if (command == "ready") {
        click([this] { buttons_.OnBnClickedButtonReady(); });
    } else if (command == "notready") {
        notReady(argument + (rest.empty() ? "" : " " + rest));
    } else if (command == "hangup") {
        click([this] { buttons_.OnBnClickedButtonHangup(); });
    } else if (command == "hold") {
        click([this] { core_.OnBnClickedButtonUnHold(); });  // the "Muted" button puts the call on hold
    } else if (command == "unhold") {
        click([this] { core_.OnBnClickedButtonHold(); });    // the "Hold" button takes it off
    } else if (command == "dial") {
        dial(argument);
    } else if (command == "transfer") {
        transfer(argument, lowered(rest));
    } else if (command == "cancel") {
        cancel();
    } else if (command == "logout") {
        click([this] { buttons_.OnBnClickedButtonLogout(); });
    } else {
        print_("unknown command '" + command + "'; type help");
    }
    return true;
}

void HeadlessCommands::notReady(const std::string& reason) {
    if (reason.empty()) {
        click([this] { buttons_.OnBnClickedButtonNotReady(); });
        return;
    }
    const std::vector<std::string> reasons = core_.notReadyReasons();
    for (std::size_t index = 0; index < reasons.size(); ++index) {
        if (lowered(reasons[index]) != lowered(reason)) continue;
        const int command = AgentButtons::kFirstReasonCommand + static_cast<int>(index);
        // As the agent would: the reason from the menu, then Not Ready when still ready.
        click([this, command] {
            buttons_.OnNotReadyReasonChosen(command);
            if (core_.status().agentState() == "AgentReady") buttons_.OnBnClickedButtonNotReady();
        });
        return;
    }
    std::string offered;
    for (const std::string& known : reasons) offered += (offered.empty() ? "" : ", ") + known;
    print_("no not-ready reason '" + reason + "'; the server offers: " + (offered.empty() ? "none" : offered));
}

void HeadlessCommands::dial(const std::string& number) {
    if (!window_.openDialWindowTitle().empty()) {  // a dial window waits: this is its number
        const std::string chosen = number.empty() ? window_.openDialWindowNumber() : number;
        if (!chosen.empty()) {
            window_.answerDialWindow({true, chosen, 0});
            return;
        }
    }
    if (number.empty()) {
        print_("dial needs a number (without one it takes an offered preview call)");
        return;
    }
    {
        std::lock_guard guard(lock_);
        dialNumber_ = number;
    }
    modal([this] { buttons_.OnBnClickedButtonDial(); });
}

void HeadlessCommands::transfer(const std::string& number, const std::string& kind) {
    if (number.empty() || (!kind.empty() && kind != "agent" && kind != "queue")) {
        print_("usage: transfer NUMBER [agent|queue]");
        return;
    }
    {
        std::lock_guard guard(lock_);
        transferNumber_ = number;
        transferKind_ = kind == "agent" ? 1 : kind == "queue" ? 2 : 0;
    }
    modal([this] { core_.OnBnClickedButtonTransfer(); });
}

void HeadlessCommands::cancel() {
    if (window_.openDialWindowTitle().empty()) {
        print_("no dial window is open");
        return;
    }
    window_.answerDialWindow({});
}

void HeadlessCommands::windowChanged() {
    const int dialPads = window_.dialPadRequests();
    const int previews = window_.previewDialRequests();
    for (; dialPadsOpened_ < dialPads; ++dialPadsOpened_) modal([this] { buttons_.showDialPad(); });
    for (; previewsOpened_ < previews; ++previewsOpened_) modal([this] { buttons_.showPreviewDial(); });

    const auto boxes = window_.messageBoxes();
    for (; boxesShown_ < boxes.size(); ++boxesShown_)
        print_(boxes[boxesShown_].second + ": " + boxes[boxesShown_].first);

    const std::string open = window_.openDialWindowTitle();
    if (open == shownDialWindow_) return;
    shownDialWindow_ = open;
    if (open.empty()) return;
    std::lock_guard guard(lock_);
    if (open == "Dialpad" && !dialNumber_.empty()) {
        window_.answerDialWindow({true, dialNumber_, 0});
        dialNumber_.clear();
    } else if (open == "Transfer" && !transferNumber_.empty()) {
        window_.answerDialWindow({true, transferNumber_, transferKind_});
        transferNumber_.clear();
    } else if (open == "Preview Dialing") {
        print_("preview call offered: " + window_.openDialWindowNumber() + " (type dial to call it, cancel to refuse)");
    } else {
        print_("the " + open + " window is open (type dial NUMBER, or cancel)");
    }
}
