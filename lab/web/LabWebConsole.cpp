#include "lab/web/LabWebConsole.h"

#include <chrono>
#include <thread>

#include "infra/Timing.h"
#include "lab/common/LabCommandLine.h"
#include "lab/web/LabWebServer.h"

std::string LabWebConsole::help() {
    return "commands:\n"
           "  not-found [COUNT] [PATH]        the next requests (for PATH only, when given) answer 404\n"
           "  stall [COUNT] [PATH]            ... are accepted and never answered\n"
           "  stall-after-headers [COUNT] [PATH]  ... get their headers, then nothing\n"
           "  drop [COUNT] [PATH]             ... get half their body, then the connection closes\n"
           "  normal                          forget the faults not yet played\n"
           "  form-url [QUERY]                the customer form's address\n"
           "  clear                           forget the requests so far\n"
           "  wait-request PREFIX [SECONDS]   wait until a request starting so arrived (\"GET /form\")\n"
           "  sleep MILLISECONDS              pause (production time, scaled like every interval)";
}

std::string LabWebConsole::execute(const std::string& text) {
    const LabCommandLine line(text);
    const std::string& command = line.command();
    if (command.empty()) return {};

    const auto fault = [&](LabWebFault kind) {
        const auto count = line.argumentCount() == 0 ? std::optional<long>(1) : line.number(0);
        if (!count || *count <= 0) return LabCommandLine::usage(command + " [COUNT] [PATH]");
        server_.failNext(kind, static_cast<int>(*count), line.argument(1));
        return std::string("ok");
    };
    if (command == "not-found") return fault(LabWebFault::NotFound);
    if (command == "stall") return fault(LabWebFault::Stall);
    if (command == "stall-after-headers") return fault(LabWebFault::StallAfterHeaders);
    if (command == "drop") return fault(LabWebFault::DropMidFile);
    if (command == "normal") {
        server_.clearFaults();
    } else if (command == "form-url") {
        return server_.formUrl(line.restFrom(0));
    } else if (command == "clear") {
        server_.clearRequests();
    } else if (command == "wait-request") {
        if (line.argumentCount() < 1) return LabCommandLine::usage("wait-request PREFIX [SECONDS]");
        const auto found = server_.waitForRequest(line.argument(0), line.waitLimit(1));
        return found ? "ok: " + *found : "error: no request starting with " + line.argument(0);
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
