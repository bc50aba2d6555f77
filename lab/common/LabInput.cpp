#include "lab/common/LabInput.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace {

// The handler only writes a byte; the reading thread sees the pipe become readable.
int signalPipe[2] = {-1, -1};

void onStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

LabInput::LabInput() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

LabInput::~LabInput() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
}

std::optional<std::string> LabInput::nextLine() {
    for (;;) {
        const auto newline = pending_.find('\n');
        if (newline != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            return line;
        }
        if (endOfInput_) {
            if (pending_.empty()) return std::nullopt;
            return std::exchange(pending_, {});
        }
        if (!waitForInputOrSignal()) return std::nullopt;
        char buffer[4096];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0)
            endOfInput_ = true;
        else
            pending_.append(buffer, static_cast<std::size_t>(count));
    }
}

void LabInput::waitForSignal() {
    while (!interrupted_) {
        pollfd wait{signalPipe[0], POLLIN, 0};
        if (::poll(&wait, 1, -1) > 0) interrupted_ = true;
    }
}

bool LabInput::waitForInputOrSignal() {
    for (;;) {
        pollfd waits[] = {{STDIN_FILENO, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (waits[1].revents) {
            interrupted_ = true;
            return false;
        }
        return true;
    }
}

void runCommands(std::istream& script, LabInput& input, const std::function<std::string(const std::string&)>& execute,
                 const LabLog& print) {
    const auto handle = [&](const std::string& line) {
        if (line == "quit") return true;
        const std::string result = execute(line);
        if (!result.empty()) print(result);
        return false;
    };
    bool quit = false;
    for (std::string line; !quit && !input.interrupted() && std::getline(script, line);) {
        print("[script] " + line);
        quit = handle(line);
    }
    while (!quit && !input.interrupted()) {
        const auto line = input.nextLine();
        if (!line) break;
        quit = handle(*line);
    }
    if (!quit) input.waitForSignal();
}

bool openScript(const std::string& path, const char* program, std::ifstream& script) {
    if (path.empty()) return true;
    script.open(path);
    if (!script) std::fprintf(stderr, "%s: cannot read %s\n", program, path.c_str());
    return static_cast<bool>(script);
}
