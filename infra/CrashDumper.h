#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

// Leaves evidence when the program dies of a fatal signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT)
// on any thread. The dump is written from outside the dying process: at start-up the program
// re-executes itself as a dump helper that waits on a socket; the crashing thread, running on its
// thread's alternate signal stack, wakes the helper and waits. The helper stops the process with
// ptrace, writes "<application>.YYYY.MM.DD.hh.mm.ss.dmp" (signal, fault address, the crashing
// thread's registers, every thread's symbolised backtrace, the memory map), lets the process go on
// to the default handling (it still dies of its signal) and tells the user.
class CrashDumper {
public:
    // Installs the handlers and starts the helper. `applicationName` names the dump files and
    // captions the messages ("Application" when empty). At most one exists in a process.
    explicit CrashDumper(const std::string& applicationName);
    // Restores the default handling and lets the helper go.
    ~CrashDumper();
    CrashDumper(const CrashDumper&) = delete;
    CrashDumper& operator=(const CrashDumper&) = delete;

    // The helper is running and the handlers are in place.
    bool installed() const { return helper_ > 0; }

    // Runs in the crashing thread before the helper is woken, e.g. to write out the log. It runs
    // inside a signal handler: it must not wait on locks another thread may hold for ever.
    static void setBeforeDump(void (*hook)());

    // The helper's side. The program's main() hands its arguments here first: when they ask for
    // the helper (isHelperCommand), runHelper does the whole job and gives main()'s exit code.
    enum class MessageIcon { Stop, Warning };
    using MessagePresenter =
        std::function<void(const std::string& caption, const std::string& text, MessageIcon icon)>;
    static bool isHelperCommand(int argc, char** argv);
    // The messages go to standard error, in order; `present`, when given, also shows each to the
    // user (a message box) and returns when the user has read it.
    static int runHelper(int argc, char** argv, const MessagePresenter& present = {});

    static constexpr const char* kHelperOption = "--crash-dump-helper";

private:
    pid_t helper_ = -1;
    int socket_ = -1;
};
