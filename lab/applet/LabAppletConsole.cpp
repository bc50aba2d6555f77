#include "lab/applet/LabAppletConsole.h"

#include <chrono>
#include <thread>

#include "infra/Timing.h"
#include "lab/applet/LabAppletClient.h"
#include "lab/applet/LabAppletRequests.h"
#include "lab/common/LabCommandLine.h"

std::string LabAppletConsole::help() {
    return "commands:\n"
           "  connect | disconnect           open (greeting included) or close the link to the phone\n"
           "  ready                          force the agent ready\n"
           "  unconditional-ready            make the agent ready, ending a call if needed\n"
           "  dial NUMBER [TRACK]            remote dial\n"
           "  title TEXT...                  report the web page's title\n"
           "  connected                      the applet's connected notice\n"
           "  hangup                         force the agent's call to hang up\n"
           "  raw TEXT...                    any text, followed by \"~\"\n"
           "  flood BYTES                    bytes without \"~\"\n"
           "  silent on|off                  stop or resume the heartbeat\n"
           "  clear                          forget the replies so far\n"
           "  wait-reply PREFIX [SECONDS]    wait until the phone replied something starting so\n"
           "  sleep MILLISECONDS             pause (production time, scaled like every interval)";
}

std::string LabAppletConsole::execute(const std::string& text) {
    const LabCommandLine line(text);
    const std::string& command = line.command();
    if (command.empty()) return {};

    if (command == "connect") {
        if (!client_.connect()) return "error: the phone's listener does not accept";
    } else if (command == "disconnect") {
        client_.disconnect();
    } else if (command == "ready") {
        client_.send(labapplet::forceReady());
    } else if (command == "unconditional-ready") {
        client_.send(labapplet::unconditionalReady());
    } else if (command == "dial") {
        if (line.argumentCount() < 1) return LabCommandLine::usage("dial NUMBER [TRACK]");
        client_.send(labapplet::dial(line.argument(0), line.argument(1)));
    } else if (command == "title") {
        if (line.argumentCount() < 1) return LabCommandLine::usage("title TEXT...");
        client_.send(labapplet::titleChange(line.restFrom(0)));
    } else if (command == "connected") {
        client_.send(labapplet::connected());
    } else if (command == "hangup") {
        client_.send(labapplet::forceHangup());
    } else if (command == "raw") {
        client_.send(line.restFrom(0));
    } else if (command == "flood") {
        const auto bytes = line.number(0);
        if (!bytes || *bytes <= 0) return LabCommandLine::usage("flood BYTES");
        client_.sendFlood(static_cast<std::size_t>(*bytes));
    } else if (command == "silent") {
        if (line.argument(0) != "on" && line.argument(0) != "off") return LabCommandLine::usage("silent on|off");
        client_.setSilent(line.argument(0) == "on");
    } else if (command == "clear") {
        client_.clearReplies();
    } else if (command == "wait-reply") {
        if (line.argumentCount() < 1) return LabCommandLine::usage("wait-reply PREFIX [SECONDS]");
        const auto found = client_.waitForReply(line.argument(0), line.waitLimit(1));
        return found ? "ok: " + *found : "error: no reply starting with " + line.argument(0);
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
