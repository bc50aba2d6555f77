#include "lab/cti/LabCtiConsole.h"

#include <chrono>
#include <thread>

#include "infra/Timing.h"
#include "lab/common/LabCommandLine.h"
#include "lab/cti/LabCtiMessages.h"
#include "lab/cti/LabCtiServer.h"

std::string LabCtiConsole::help() {
    return "commands:\n"
           "  distribute TRACK [URL [ANI]]          queue a call to the agent (URL: --screen-pop's by default)\n"
           "  terminate TRACK                       end the call\n"
           "  preview TRACK NUMBER URL [CAMPAIGN]   ask for a preview call\n"
           "  hold MESSAGE...                       put the agent's call on hold\n"
           "  message TYPE #RRGGBB TEXT...          message-centre item (TYPE ALERT or STAT)\n"
           "  logout-agent REASON MESSAGE...        log the agent out\n"
           "  submit AGENT STATUS                   submit notification (submit_required, submit_sent, ...)\n"
           "  tracknum TRACK CHANNEL                a track number for a line\n"
           "  record-server HOST PORT [SSL]         announce the recording server (SSL 1: over TLS)\n"
           "  datetime                              the server's date and time\n"
           "  raw TEXT...                           any text, followed by \"~\"\n"
           "  garbage | flood BYTES                 a frame that is no message | bytes without \"~\"\n"
           "  drop | silent on|off                  close the link | stop or resume answering\n"
           "  clear                                 forget what the phone sent so far\n"
           "  wait-for PREFIX [SECONDS]             wait until the phone sent a message starting so\n"
           "  wait-connection [SECONDS]             wait until a phone is connected\n"
           "  sleep MILLISECONDS                    pause (production time, scaled like every interval)";
}

std::string LabCtiConsole::execute(const std::string& text) {
    const LabCommandLine line(text);
    const std::string& command = line.command();
    if (command.empty()) return {};

    if (command == "distribute") {
        const std::string url = line.argumentCount() >= 2 ? line.argument(1) : server_.options().screenPopUrl;
        if (line.argumentCount() < 1 || url.empty()) return LabCommandLine::usage("distribute TRACK [URL [ANI]]");
        labcti::QueueDistribute call;
        call.trackNumber = line.argument(0);
        call.url = url;
        call.ani = line.argument(2);
        call.currentDateTime = labcti::DateTime::now().dotted();
        server_.push(labcti::queueDistribute(call));
    } else if (command == "terminate") {
        if (line.argumentCount() < 1) return LabCommandLine::usage("terminate TRACK");
        server_.push(labcti::terminateCall(line.argument(0)));
    } else if (command == "preview") {
        if (line.argumentCount() < 3) return LabCommandLine::usage("preview TRACK NUMBER URL [CAMPAIGN]");
        labcti::DialPreview preview;
        preview.velmoraTracknum = line.argument(0);
        preview.numberToDial = line.argument(1);
        preview.url = line.argument(2);
        preview.campaignName = line.argument(3);
        preview.recordId = "1";
        preview.tableName = "LabTable";
        preview.callIdName = "Lab Customer";
        preview.callIdNum = preview.numberToDial;
        server_.push(labcti::dialPreview(preview));
    } else if (command == "hold") {
        server_.push(labcti::holdAgent(line.restFrom(0)));
    } else if (command == "message") {
        if (line.argumentCount() < 3) return LabCommandLine::usage("message TYPE #RRGGBB TEXT...");
        server_.push(labcti::messageCenterInfo({line.restFrom(2), line.argument(1), "1", line.argument(0)}));
    } else if (command == "logout-agent") {
        if (line.argumentCount() < 1) return LabCommandLine::usage("logout-agent REASON MESSAGE...");
        server_.push(labcti::logoutAgent(line.restFrom(1), line.argument(0)));
    } else if (command == "submit") {
        if (line.argumentCount() < 2) return LabCommandLine::usage("submit AGENT STATUS");
        server_.push(labcti::submitNotify({line.argument(0), "LabClient", "LabCampaign", line.argument(1), ""}));
    } else if (command == "tracknum") {
        if (line.argumentCount() < 2) return LabCommandLine::usage("tracknum TRACK CHANNEL");
        server_.push(labcti::velmoraTracknum(line.argument(0), line.argument(1)));
    } else if (command == "record-server") {
        if (line.argumentCount() < 2) return LabCommandLine::usage("record-server HOST PORT [SSL]");
        const std::string ssl = line.argumentCount() > 2 ? line.argument(2) : "0";
        server_.push(labcti::recordServer({line.argument(0), line.argument(1), ssl}));
    } else if (command == "datetime") {
        server_.push(labcti::ctiDateTime(labcti::DateTime::now()));
    } else if (command == "raw") {
        server_.push(line.restFrom(0));
    } else if (command == "garbage") {
        server_.pushGarbage();
    } else if (command == "flood") {
        const auto bytes = line.number(0);
        if (!bytes || *bytes <= 0) return LabCommandLine::usage("flood BYTES");
        server_.pushUnterminated(static_cast<std::size_t>(*bytes));
    } else if (command == "drop") {
        server_.dropConnection();
    } else if (command == "silent") {
        if (line.argument(0) != "on" && line.argument(0) != "off") return LabCommandLine::usage("silent on|off");
        server_.setSilent(line.argument(0) == "on");
    } else if (command == "clear") {
        server_.clearReceived();
    } else if (command == "wait-for") {
        if (line.argumentCount() < 1) return LabCommandLine::usage("wait-for PREFIX [SECONDS]");
        const auto found = server_.waitFor(line.argument(0), line.waitLimit(1));
        return found ? "ok: " + *found : "error: nothing starting with " + line.argument(0);
    } else if (command == "wait-connection") {
        return server_.waitForConnection(line.waitLimit(0)) ? "ok" : "error: no phone connected";
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
