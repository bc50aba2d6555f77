// The dying process's side of the crash dump: the signal handlers, the alternate signal stacks and
// the start of the helper. Everything that runs in a handler is async-signal-safe.
#include "infra/CrashDumper.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include <dlfcn.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include "infra/CLogger.h"
#include "infra/CrashRecord.h"
#include "infra/FileVersion.h"
#include "infra/Timing.h"

extern char** environ;

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::size_t kSignalStackSize = 64 * 1024;
constexpr std::size_t kApplicationNameLength = 100;

std::atomic<bool> dumperExists{false};
std::atomic<pid_t> dumpedProcess{0};  // the process the helper watches
std::atomic<int> helperSocket{-1};
std::atomic<pid_t> dumpingThread{0};
std::atomic<bool> dumpDone{false};
std::atomic<void (*)()> beforeDump{nullptr};
long long helperWaitMilliseconds = 0;
char applicationName[kApplicationNameLength] = "Application";
struct sigaction previousActions[std::size(kFatalSignals)];

pid_t currentThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

void writeStandardError(const char* text) {
    for (std::size_t left = std::strlen(text); left > 0;) {
        const ssize_t written = ::write(STDERR_FILENO, text, left);
        if (written <= 0) return;
        text += written;
        left -= static_cast<std::size_t>(written);
    }
}

void reportWithoutDump(const char* reason) {
    writeStandardError(applicationName);
    writeStandardError(": ");
    writeStandardError(reason);
    writeStandardError("; no dump was written.\n");
}

long long monotonicMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void copyRegisters(const void* context, CrashRecord& record) {
    const auto* user = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    record.registerCount = NGREG;
    for (int i = 0; i < NGREG; ++i) record.registers[i] = static_cast<std::uint64_t>(user->uc_mcontext.gregs[i]);
#elif defined(__aarch64__)
    record.registerCount = 34;
    for (int i = 0; i < 31; ++i) record.registers[i] = user->uc_mcontext.regs[i];
    record.registers[31] = user->uc_mcontext.sp;
    record.registers[32] = user->uc_mcontext.pc;
    record.registers[33] = user->uc_mcontext.pstate;
#else
    (void)user;
    record.registerCount = 0;
#endif
}

// Wakes the helper and waits, bounded, for its answer: the dump is written.
void dumpThroughHelper(int signal, const siginfo_t* info, const void* context) {
    if (void (*hook)() = beforeDump.load()) hook();
    const int socket = helperSocket.load();
    if (socket < 0) return reportWithoutDump("the crash dump helper is not running");
    CrashRecord record;
    record.pid = ::getpid();
    record.tid = currentThreadId();
    record.signal = signal;
    record.code = info->si_code;
    record.faultAddress = reinterpret_cast<std::uintptr_t>(info->si_addr);
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    record.seconds = now.tv_sec;
    record.nanoseconds = now.tv_nsec;
    if (context) copyRegisters(context, record);
    if (::send(socket, &record, sizeof record, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof record))
        return reportWithoutDump("the crash dump helper is gone");

    const long long deadline = monotonicMilliseconds() + helperWaitMilliseconds;
    for (;;) {
        const long long left = deadline - monotonicMilliseconds();
        if (left <= 0) return reportWithoutDump("the crash dump helper did not answer in time");
        pollfd answer{socket, POLLIN, 0};
        const int ready = ::poll(&answer, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;  // the helper's ptrace stops interrupt the wait
        char done = 0;
        if (ready > 0 && ::recv(socket, &done, 1, 0) == 1) return;
        if (ready != 0) return reportWithoutDump("the crash dump helper stopped");
    }
}

void waitForOtherThreadsDump() {
    const long long deadline = monotonicMilliseconds() + helperWaitMilliseconds;
    const timespec pause{0, 10 * 1000 * 1000};
    while (!dumpDone.load() && monotonicMilliseconds() < deadline) ::nanosleep(&pause, nullptr);
}

// Hands the signal to the default handling: a fault comes back when the handler returns and now
// ends the process; a signal that was sent (abort(), kill()) is sent again.
void dieOfSignal(int signal, const siginfo_t* info) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    if (info->si_code <= 0 || signal == SIGABRT) ::syscall(SYS_tgkill, ::getpid(), currentThreadId(), signal);
}

void onFatalSignal(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    const pid_t self = currentThreadId();
    pid_t first = 0;
    const bool dumped = ::getpid() == dumpedProcess.load();  // not in a child forked without exec
    if (dumped && dumpingThread.compare_exchange_strong(first, self)) {
        dumpThroughHelper(signal, info, context);
        dumpDone.store(true);
    } else if (dumped && first != self) {
        waitForOtherThreadsDump();  // another thread crashed first and is being dumped
    }
    // first == self: a crash inside this thread's own handler; nothing more is tried.
    dieOfSignal(signal, info);
    errno = savedErrno;
}

// An alternate signal stack for the calling thread, so that a thread that overflowed its stack
// can still run the handler. A thread that already has one (a sanitizer's) keeps it.
class SignalStack {
public:
    SignalStack() {
        stack_t current{};
        if (::sigaltstack(nullptr, &current) != 0 || !(current.ss_flags & SS_DISABLE)) return;
        const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        const std::size_t size = std::max(kSignalStackSize, static_cast<std::size_t>(::sysconf(_SC_SIGSTKSZ)));
        void* memory = ::mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) return;
        ::mprotect(memory, page, PROT_NONE);  // a guard page below the stack
        stack_t stack{};
        stack.ss_sp = static_cast<char*>(memory) + page;
        stack.ss_size = size;
        if (::sigaltstack(&stack, nullptr) != 0) {
            ::munmap(memory, size + page);
            return;
        }
        memory_ = memory;
        length_ = size + page;
    }
    ~SignalStack() {
        if (!memory_) return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
        ::munmap(memory_, length_);
    }
    SignalStack(const SignalStack&) = delete;
    SignalStack& operator=(const SignalStack&) = delete;

private:
    void* memory_ = nullptr;
    std::size_t length_ = 0;
};

SignalStack* mainThreadStack = nullptr;

pid_t startHelper(int helperEnd, const std::string& name) {
    const std::string fd = std::to_string(helperEnd);
    const std::string program = "/proc/self/exe";  // this very file, even if replaced on disk since
    std::string shownName = runningProgramPath();
    std::string option = CrashDumper::kHelperOption;
    std::string caption = name;
    char* argv[] = {shownName.data(), option.data(), const_cast<char*>(fd.c_str()), caption.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, helperEnd, helperEnd);  // clears close-on-exec
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    // A session of its own: a Ctrl-C meant for the program does not end the helper first.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        logMessage(LogLevel::Error, "CrashDumper: cannot start the crash dump helper: %s", std::strerror(error));
        return -1;
    }
    return pid;
}

}  // namespace

CrashDumper::CrashDumper(const std::string& name) {
    if (dumperExists.exchange(true)) {
        logMessage(LogLevel::Error, "CrashDumper: a crash dump handler is installed already");
        return;
    }
    const std::string shown = name.empty() ? "Application" : name.substr(0, kApplicationNameLength - 1);
    std::memcpy(applicationName, shown.c_str(), shown.size() + 1);
    helperWaitMilliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(Timing::scaled(intervals::kCrashDumpWait)).count();

    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        logMessage(LogLevel::Error, "CrashDumper: cannot create the helper's socket: %s", std::strerror(errno));
        dumperExists = false;
        return;
    }
    helper_ = startHelper(ends[1], shown);
    ::close(ends[1]);
    if (helper_ <= 0) {
        ::close(ends[0]);
        dumperExists = false;
        return;
    }
    socket_ = ends[0];
    // Where ptrace is limited to ancestors (Yama), the helper, a child, must be named.
    ::prctl(PR_SET_PTRACER, static_cast<unsigned long>(helper_), 0, 0, 0);
    helperSocket = socket_;
    dumpedProcess = ::getpid();
    dumpingThread = 0;
    dumpDone = false;

    mainThreadStack = new SignalStack;
    struct sigaction action {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    // A fault inside the handler, with its signal blocked, ends the process at once.
    sigemptyset(&action.sa_mask);
    for (int signal : kFatalSignals) sigaddset(&action.sa_mask, signal);
    for (std::size_t i = 0; i < std::size(kFatalSignals); ++i)
        ::sigaction(kFatalSignals[i], &action, &previousActions[i]);
}

CrashDumper::~CrashDumper() {
    if (helper_ <= 0) return;
    for (std::size_t i = 0; i < std::size(kFatalSignals); ++i)
        ::sigaction(kFatalSignals[i], &previousActions[i], nullptr);
    helperSocket = -1;
    ::close(socket_);  // the helper sees the end of its input and ends
    while (::waitpid(helper_, nullptr, 0) < 0 && errno == EINTR) {
    }
    delete mainThreadStack;
    mainThreadStack = nullptr;
    dumperExists = false;
}

void CrashDumper::setBeforeDump(void (*hook)()) { beforeDump = hook; }

bool CrashDumper::isHelperCommand(int argc, char** argv) {
    return argc >= 2 && std::strcmp(argv[1], kHelperOption) == 0;
}

// Every thread started while a dumper exists gets its own alternate signal stack: the program's
// definition of pthread_create wraps the thread's start routine, whichever library starts it.
namespace {

struct ThreadStart {
    void* (*routine)(void*);
    void* argument;
};

void* startWithSignalStack(void* raw) {
    const ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    SignalStack stack;
    return start.routine(start.argument);
}

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
                              void* argument) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto create = reinterpret_cast<Create>(::dlsym(RTLD_NEXT, "pthread_create"));
    if (!dumperExists.load(std::memory_order_relaxed)) return create(thread, attributes, routine, argument);
    auto* start = new (std::nothrow) ThreadStart{routine, argument};
    if (!start) return create(thread, attributes, routine, argument);
    const int result = create(thread, attributes, startWithSignalStack, start);
    if (result != 0) delete start;
    return result;
}
