#pragma once

#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// Runs a program and collects what it prints, for tests of programs that crash, replace
// themselves or restart. Output is read until every writer (the program and anything it left
// running with the same output) has closed it.
struct ChildRun {
    std::vector<std::string> arguments;           // the program first
    std::vector<std::string> environment;         // NAME=VALUE added to (or replacing) the test's own
    std::vector<std::string> unset;               // names removed from the environment
    std::string workingDirectory;                 // empty: the test's own
    bool asUnprivilegedUser = false;              // when the test runs as root: run as "nobody"
    bool typedInput = false;                      // standard input comes from RunningChild::type
    std::chrono::milliseconds limit{120000};      // a program still running then is killed

    struct Result {
        int status = -1;  // as waitpid reports it
        bool killedAtLimit = false;
        std::string output;
        std::string errors;
        bool signalled(int signal) const { return WIFSIGNALED(status) && WTERMSIG(status) == signal; }
        bool exitedWith(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
    };

    // The whole run, start to end.
    Result run() const;
};

// A program started by ChildRun and still running: the test reads what it prints as it goes and
// may send it signals before collecting the rest.
class RunningChild {
public:
    explicit RunningChild(const ChildRun& how) : limit_(how.limit) {
        int out[2];
        int err[2];
        int in[2] = {-1, -1};  // a socket, so typing to a program that has ended raises no SIGPIPE
        if (::pipe(out) != 0 || ::pipe(err) != 0) return;
        if (how.typedInput && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) return;
        std::vector<char*> argv;
        for (const std::string& argument : how.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        const passwd* nobody = how.asUnprivilegedUser && ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
        pid_ = ::fork();
        if (pid_ == 0) {
            if (in[1] >= 0) ::dup2(in[1], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            for (int fd : {out[0], out[1], err[0], err[1]}) ::close(fd);
            if (!how.workingDirectory.empty() && ::chdir(how.workingDirectory.c_str()) != 0) ::_exit(125);
            for (const std::string& name : how.unset) ::unsetenv(name.c_str());
            for (const std::string& pair : how.environment) ::putenv(const_cast<char*>(pair.c_str()));
            if (nobody && (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
                           ::setuid(nobody->pw_uid) != 0))
                ::_exit(126);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        if (in[1] >= 0) ::close(in[1]);
        input_ = in[0];
        streams_[0] = {out[0], POLLIN, 0};
        streams_[1] = {err[0], POLLIN, 0};
        deadline_ = std::chrono::steady_clock::now() + limit_;
    }
    ~RunningChild() {
        if (pid_ > 0 && result_.status == -1) {
            ::kill(pid_, SIGKILL);
            finish();
        }
    }
    RunningChild(const RunningChild&) = delete;
    RunningChild& operator=(const RunningChild&) = delete;

    void signal(int number) const { ::kill(pid_, number); }

    // Types on the program's standard input (ChildRun::typedInput); false when it is gone.
    bool type(std::string_view text) const {
        while (!text.empty()) {
            const ssize_t sent = ::send(input_, text.data(), text.size(), MSG_NOSIGNAL);
            if (sent <= 0) return false;
            text.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }
    // What the program printed so far.
    const std::string& output() const { return result_.output; }
    const std::string& errors() const { return result_.errors; }

    // Keeps reading what the program prints until `done` holds (true) or `timeout` passes.
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        const auto until = std::min(deadline_, std::chrono::steady_clock::now() + timeout);
        while (!done()) {
            const auto slice = std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(20));
            if (std::chrono::steady_clock::now() >= until) return false;
            if (!readSome(slice) && open_ == 0) std::this_thread::sleep_until(slice);
        }
        return true;
    }

    // Reads everything to the end, kills the program if it outlives its limit, and reaps it.
    ChildRun::Result finish() {
        if (input_ >= 0) ::close(input_);  // the input ends with the run
        input_ = -1;
        while (readSome(deadline_)) {
        }
        if (open_ > 0) {
            result_.killedAtLimit = true;
            ::kill(pid_, SIGKILL);
        }
        for (pollfd& stream : streams_)
            if (stream.fd >= 0) ::close(stream.fd);
        open_ = 0;
        ::waitpid(pid_, &result_.status, 0);
        return result_;
    }

private:
    // One read from whichever stream is ready; false when both ended or `until` passed.
    bool readSome(std::chrono::steady_clock::time_point until) {
        while (open_ > 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            if (::poll(streams_, 2, static_cast<int>(left.count())) <= 0) continue;
            std::string* texts[2] = {&result_.output, &result_.errors};
            for (int i = 0; i < 2; ++i) {
                if (streams_[i].fd < 0 || !(streams_[i].revents & (POLLIN | POLLHUP))) continue;
                char buffer[4096];
                const ssize_t got = ::read(streams_[i].fd, buffer, sizeof buffer);
                if (got > 0) {
                    texts[i]->append(buffer, static_cast<std::size_t>(got));
                } else {
                    ::close(streams_[i].fd);
                    streams_[i].fd = -1;
                    --open_;
                }
            }
            return true;
        }
        return false;
    }

    std::chrono::milliseconds limit_;
    std::chrono::steady_clock::time_point deadline_;
    pid_t pid_ = -1;
    int input_ = -1;
    pollfd streams_[2] = {{-1, 0, 0}, {-1, 0, 0}};
    int open_ = 2;
    ChildRun::Result result_;
};

inline ChildRun::Result ChildRun::run() const { return RunningChild(*this).finish(); }
