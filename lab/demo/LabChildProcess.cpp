#include "lab/demo/LabChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

LabChildProcess::~LabChildProcess() {
    stop(std::chrono::seconds(5));
    if (relay_.joinable()) relay_.join();
}

void LabChildProcess::relayOutput(int fd, OutputLine relay) {
    relay_ = std::thread([fd, relay = std::move(relay)] {
        std::string pending;
        char chunk[512];
        for (ssize_t count; (count = ::read(fd, chunk, sizeof chunk)) != 0;) {
            if (count < 0) {
                if (errno == EINTR) continue;
                break;
            }
            pending.append(chunk, static_cast<std::size_t>(count));
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
                relay(pending.substr(0, end));
        }
        if (!pending.empty()) relay(pending);
        ::close(fd);
    });
}

bool LabChildProcess::start(const std::vector<std::string>& arguments,
                            const std::map<std::string, std::string>& environment, const std::string& folder,
                            const std::string& errorFile, OutputLine relay) {
    if (arguments.empty() || pid_ > 0 || relay_.joinable()) return false;
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : environment) merged[name] = value;

    std::vector<std::string> environmentTexts;
    for (const auto& [name, value] : merged) environmentTexts.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    for (const std::string& text : environmentTexts) envp.push_back(const_cast<char*>(text.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    // The child gets the default signal handling back, whatever the lab blocks or ignores.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int output[2] = {-1, -1};
    if (relay) {
        if (::pipe2(output, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawnattr_setpgroup(&attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attributes, flags);
    pid_t started = -1;
    const int result = posix_spawn(&started, argv[0], &actions, &attributes, argv.data(), envp.data());
    pid_ = result == 0 ? started : -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (relay) {
        ::close(output[1]);
        if (result == 0)
            relayOutput(output[0], std::move(relay));
        else
            ::close(output[0]);
    }
    return result == 0;
}

bool LabChildProcess::reap(bool wait) {
    if (pid_ <= 0) return true;
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, wait ? 0 : WNOHANG);
    if (done != pid_) return false;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return true;
}

bool LabChildProcess::running() { return !reap(false); }

int LabChildProcess::stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0) return status_;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (std::chrono::steady_clock::now() < deadline) {
        if (reap(false)) return status_;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid_, SIGKILL);
    reap(true);
    status_ = -1;
    return status_;
}
