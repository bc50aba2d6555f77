#include "lab/switch/LabSwitchConsole.h"

#include <chrono>
#include <thread>

#include "infra/Timing.h"
#include "lab/common/LabCommandLine.h"
#include "lab/switch/LabSwitch.h"

namespace {

std::optional<LabCallAnswer> answerNamed(const std::string& name) {
    if (name == "answer") return LabCallAnswer::Answer;
    if (name == "never") return LabCallAnswer::Never;
    if (name == "reject") return LabCallAnswer::Reject;
    if (name == "busy") return LabCallAnswer::Busy;
    return std::nullopt;
}

std::optional<LabRegistrationMode> modeNamed(const std::string& name) {
    if (name == "accept") return LabRegistrationMode::Accept;
    if (name == "reject") return LabRegistrationMode::Reject;
    if (name == "silent") return LabRegistrationMode::Silent;
    return std::nullopt;
}

}  // namespace

std::string LabSwitchConsole::help() {
    return "commands:\n"
           "  users                                  configured users and where they registered\n"
           "  calls                                  every call: id, direction, user, number, state, format\n"
           "  originate USER NUMBER [NAME...]        call the registered user from NUMBER\n"
           "  answer ID                              answer a ringing call from the phone\n"
           "  hangup ID [CAUSE...]                   hang up a call\n"
           "  route PREFIX answer|never|reject|busy [MS]  how calls to numbers starting so are answered\n"
           "  register-mode accept|reject|silent     how registrations are answered (silent: nothing at all)\n"
           "  call-tokens on|off                     require call tokens on REGREQ and NEW\n"
           "  clear                                  forget the frames the phone sent so far\n"
           "  wait-for PREFIX [SECONDS]              wait until the phone sent a frame whose line starts so\n"
           "  wait-registered USER [SECONDS]         wait until the user is registered\n"
           "  sleep MILLISECONDS                     pause (production time, scaled like every interval)";
}

std::string LabSwitchConsole::execute(const std::string& text) {
    const LabCommandLine line(text);
    const std::string& command = line.command();
    if (command.empty()) return {};

    if (command == "users") return users();
    if (command == "calls") return calls();
    if (command == "originate") {
        if (line.argumentCount() < 2) return LabCommandLine::usage("originate USER NUMBER [NAME...]");
        const auto id = switch_.originate(line.argument(0), line.argument(1), line.restFrom(2));
        return id ? "ok: call " + std::to_string(*id) : "error: " + line.argument(0) + " is not registered";
    }
    if (command == "answer" || command == "hangup") {
        const auto id = line.number(0);
        if (!id) return LabCommandLine::usage(command + " ID");
        const int call = static_cast<int>(*id);
        const std::string cause = line.restFrom(1);
        const bool done = command == "answer" ? switch_.answer(call)
                                              : switch_.hangUp(call, cause.empty() ? LabSwitch::kDefaultHangUpCause : cause);
        return done ? "ok" : "error: no call " + std::to_string(call) + " to " + command;
    }
    if (command == "route") {
        if (line.argumentCount() < 2) return LabCommandLine::usage("route PREFIX answer|never|reject|busy [MS]");
        return route(line);
    }
    if (command == "register-mode") {
        const auto mode = modeNamed(line.argument(0));
        if (!mode) return LabCommandLine::usage("register-mode accept|reject|silent");
        switch_.configure([&](LabSwitchOptions& options) { options.registrationMode = *mode; });
    } else if (command == "call-tokens") {
        if (line.argument(0) != "on" && line.argument(0) != "off") return LabCommandLine::usage("call-tokens on|off");
        switch_.configure([&](LabSwitchOptions& options) { options.callTokens = line.argument(0) == "on"; });
    } else if (command == "clear") {
        switch_.clearFrames();
    } else if (command == "wait-for") {
        if (line.argumentCount() < 1) return LabCommandLine::usage("wait-for PREFIX [SECONDS]");
        const auto found = switch_.waitFor(line.argument(0), line.waitLimit(1));
        return found ? "ok: " + *found : "error: nothing starting with " + line.argument(0);
    } else if (command == "wait-registered") {
        if (line.argumentCount() < 1) return LabCommandLine::usage("wait-registered USER [SECONDS]");
        return switch_.waitForRegistration(line.argument(0), line.waitLimit(1)) ? "ok"
                                                                                 : "error: " + line.argument(0) + " did not register";
    } else if (command == "sleep") {
        const auto milliseconds = line.number(0);
        if (!milliseconds || *milliseconds < 0) return LabCommandLine::usage("sleep MILLISECONDS");
        std::this_thread::sleep_for(Timing::scaled(std::chrono::milliseconds(*milliseconds)));
    } else if (command == "help") {
        return help();
    } else {
        return "error: unknown command " + command + " (try help)";
    }
    return "ok";
}

std::string LabSwitchConsole::users() const {
    const LabSwitchOptions options = switch_.options();
    if (options.users.empty()) return "no users configured";
    std::string list;
    for (const auto& [user, secret] : options.users) {
        const auto registration = switch_.registration(user);
        if (!list.empty()) list += "\n";
        list += user + (registration ? " registered at " + registration->address.toString() + ", refresh " +
                                           std::to_string(registration->refresh) + " s"
                                     : " not registered");
    }
    return list;
}

std::string LabSwitchConsole::calls() const {
    const auto calls = switch_.calls();
    if (calls.empty()) return "no calls";
    std::string list;
    for (const LabCallInfo& call : calls) list += (list.empty() ? "" : "\n") + call.summary();
    return list;
}

std::string LabSwitchConsole::route(const LabCommandLine& line) {
    const auto answer = answerNamed(line.argument(1));
    const auto ring = line.number(2);
    if (!answer || (line.argumentCount() > 2 && (!ring || *ring < 0)))
        return LabCommandLine::usage("route PREFIX answer|never|reject|busy [MS]");
    const std::string prefix = line.argument(0);
    LabCallRoute route;
    route.prefix = prefix;
    route.answer = *answer;
    if (ring) route.ringTime = std::chrono::milliseconds(*ring);
    switch_.configure([&](LabSwitchOptions& options) {
        std::erase_if(options.routes, [&](const LabCallRoute& known) { return known.prefix == prefix; });
        options.routes.push_back(route);
    });
    return "ok";
}
