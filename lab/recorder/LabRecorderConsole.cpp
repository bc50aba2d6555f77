#include "lab/recorder/LabRecorderConsole.h"

#include <chrono>
#include <thread>

#include "infra/Timing.h"
#include "lab/common/LabCommandLine.h"
#include "lab/recorder/LabRecordServer.h"

namespace {

const char* const kAnswers = "success|failed|wrong-name|split|silent|late|drop";

}  // namespace

std::string LabRecorderConsole::help() {
    return "commands:\n"
           "  answer MODE                    answer every upload so from now on\n"
           "  answer-next MODE [COUNT]       answer the next COUNT uploads so, then as before\n"
           "     MODE: success (name^SUCCESS), failed (name^FAILED), wrong-name, split (the answer in\n"
           "           two pieces), silent (no answer), late (after the phone's 10 s), drop (close\n"
           "           after the header)\n"
           "  uploads                        list the uploads received\n"
           "  clear                          forget them\n"
           "  wait-upload PREFIX [SECONDS]   wait for an upload whose name starts so\n"
           "  sleep MILLISECONDS             pause (production time, scaled like every interval)";
}

std::string LabRecorderConsole::execute(const std::string& text) {
    const LabCommandLine line(text);
    const std::string& command = line.command();
    if (command.empty()) return {};

    if (command == "answer" || command == "answer-next") {
        const auto answer = LabRecordServer::answerNamed(line.argument(0));
        if (!answer) return LabCommandLine::usage(command + " " + kAnswers + (command == "answer" ? "" : " [COUNT]"));
        if (command == "answer") {
            server_.setAnswer(*answer);
        } else {
            const long count = line.number(1).value_or(1);
            if (count <= 0) return LabCommandLine::usage(command + " MODE [COUNT]");
            server_.answerNext(*answer, static_cast<int>(count));
        }
    } else if (command == "uploads") {
        std::string list;
        for (const auto& upload : server_.uploads())
            list += (list.empty() ? "" : "\n") + upload.name + " " + std::to_string(upload.size) + " bytes, " +
                    LabRecordServer::nameOf(upload.answer) + (upload.storedAs.empty() ? "" : ", " + upload.storedAs);
        return list.empty() ? "no uploads" : list;
    } else if (command == "clear") {
        server_.clearUploads();
    } else if (command == "wait-upload") {
        if (line.argumentCount() < 1) return LabCommandLine::usage("wait-upload PREFIX [SECONDS]");
        const auto upload = server_.waitForUpload(line.argument(0), line.waitLimit(1));
        return upload ? "ok: " + upload->name : "error: no upload starting with " + line.argument(0);
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
