#pragma once

#include <poll.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

// Runs a program to its end and collects what it prints, for tests of programs that crash,
// replace themselves or restart. Output is read until every writer (the program and anything it
// left running with the same output) has closed it.
struct ChildRun {
    std::vector<std::string> arguments;           // the program first
    std::vector<std::string> environment;         // NAME=VALUE added to (or replacing) the test's own
    std::vector<std::string> unset;               // names removed from the environment
    bool asUnprivilegedUser = false;              // when the test runs as root: run as "nobody"
    std::chrono::milliseconds limit{120000};      // a program still running then is killed

    struct Result {
        int status = -1;  // as waitpid reports it
        bool killedAtLimit = false;
        std::string output;
        std::string errors;
        bool signalled(int signal) const { return WIFSIGNALED(status) && WTERMSIG(status) == signal; }
        bool exitedWith(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
    };

    Result run() const {
        Result result;
        int out[2];
        int err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0) return result;
        std::vector<char*> argv;
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        const passwd* nobody = unprivilegedUser();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            ::close(out[0]);
            ::close(err[0]);
            ::close(out[1]);
            ::close(err[1]);
            for (const std::string& name : unset) ::unsetenv(name.c_str());
            for (const std::string& pair : environment) ::putenv(const_cast<char*>(pair.c_str()));
            if (nobody && (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
                           ::setuid(nobody->pw_uid) != 0))
                ::_exit(126);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        const auto deadline = std::chrono::steady_clock::now() + limit;
        pollfd streams[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        std::string* texts[2] = {&result.output, &result.errors};
        for (int open = 2; open > 0;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                result.killedAtLimit = true;
                ::kill(pid, SIGKILL);
                break;
            }
            if (::poll(streams, 2, static_cast<int>(left.count())) <= 0) continue;
            for (int i = 0; i < 2; ++i) {
                if (streams[i].fd < 0 || !(streams[i].revents & (POLLIN | POLLHUP))) continue;
                char buffer[4096];
                const ssize_t got = ::read(streams[i].fd, buffer, sizeof buffer);
                if (got > 0) {
                    texts[i]->append(buffer, static_cast<std::size_t>(got));
                } else {
                    ::close(streams[i].fd);
                    streams[i].fd = -1;
                    --open;
                }
            }
        }
        for (const pollfd& stream : streams)
            if (stream.fd >= 0) ::close(stream.fd);
        ::waitpid(pid, &result.status, 0);
        return result;
    }

    // The user to run as (none: stay as we are).
    const passwd* unprivilegedUser() const {
        if (!asUnprivilegedUser || ::geteuid() != 0) return nullptr;
        return ::getpwnam("nobody");
    }
};
