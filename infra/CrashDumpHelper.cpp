// The dump helper: the program re-executed to wait for its parent's crash, then read the stopped
// parent with ptrace (through elfutils' libdwfl) and write the dump.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cxxabi.h>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <elfutils/libdwfl.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <ucontext.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include "infra/CrashDumper.h"
#include "infra/CrashRecord.h"
#include "infra/FileVersion.h"

namespace {

constexpr const char* kUnhandledText =
    "An unhandled exception has happened, a dump file has been created\nPlease advise your admin";
constexpr std::size_t kMostFramesPerThread = 256;  // a runaway recursion stops here
constexpr int kMostNameCollisions = 100;

#if defined(__x86_64__)
constexpr const char* kRegisterNames[] = {"r8",  "r9",  "r10", "r11", "r12",    "r13", "r14", "r15",
                                          "rdi", "rsi", "rbp", "rbx", "rdx",    "rax", "rcx", "rsp",
                                          "rip", "eflags", "csgsfs", "err", "trapno", "oldmask", "cr2"};
#elif defined(__aarch64__)
constexpr const char* kRegisterNames[] = {"x0",  "x1",  "x2",  "x3",  "x4",  "x5",  "x6",  "x7",  "x8",
                                          "x9",  "x10", "x11", "x12", "x13", "x14", "x15", "x16", "x17",
                                          "x18", "x19", "x20", "x21", "x22", "x23", "x24", "x25", "x26",
                                          "x27", "x28", "x29", "x30", "sp",  "pc",  "pstate"};
#else
constexpr const char* kRegisterNames[] = {""};
#endif

// Where the crashing thread was when the signal came, from its saved registers.
std::uint64_t faultingInstruction(const CrashRecord& record) {
#if defined(__x86_64__)
    return record.registerCount > REG_RIP ? record.registers[REG_RIP] : 0;
#elif defined(__aarch64__)
    return record.registerCount > 32 ? record.registers[32] : 0;
#else
    return 0;
#endif
}

std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatted(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string programPathOf(pid_t pid) {
    char path[4096];
    const ssize_t length = ::readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

// ORVANE_CRASH_DIR when set; otherwise the program's folder when it can be written, else the
// user's own data folder.
std::string dumpFolder(pid_t pid) {
    if (const char* chosen = std::getenv("ORVANE_CRASH_DIR"); chosen && *chosen) return chosen;
    const std::string program = programPathOf(pid);
    const auto slash = program.rfind('/');
    if (slash != std::string::npos) {
        const std::string folder = program.substr(0, slash);
        if (::access(folder.c_str(), W_OK) == 0) return folder;
    }
    QCoreApplication::setOrganizationName("Brennic");
    QCoreApplication::setApplicationName("Orvane");
    const QString crashes = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + "/crashes";
    QDir().mkpath(crashes);
    return crashes.toStdString();
}

// "<folder>/<application>.YYYY.MM.DD.hh.mm.ss" from the crash's local time.
std::string dumpNameStem(const std::string& folder, const std::string& application, const CrashRecord& record) {
    const std::time_t seconds = static_cast<std::time_t>(record.seconds);
    std::tm local{};
    localtime_r(&seconds, &local);
    return folder + "/" + application +
           formatted(".%04d.%02d.%02d.%02d.%02d.%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                     local.tm_hour, local.tm_min, local.tm_sec);
}

// Creates the dump file without replacing an older one: a second crash within the same second
// gets ".1.dmp", then ".2.dmp". Returns the descriptor (or -1, errno set) and the name used.
int createDumpFile(const std::string& stem, std::string& name) {
    name = stem + ".dmp";
    for (int collision = 1;; ++collision) {
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST || collision > kMostNameCollisions) return fd;
        name = stem + "." + std::to_string(collision) + ".dmp";
    }
}

std::string signalDescription(int signal, int code) {
    const char* abbreviation = sigabbrev_np(signal);
    std::string text = formatted("%d SIG%s", signal, abbreviation ? abbreviation : "?");
    struct Code {
        int signal;
        int code;
        const char* name;
    };
    static constexpr Code kCodes[] = {
        {SIGSEGV, SEGV_MAPERR, "SEGV_MAPERR, address not mapped"},
        {SIGSEGV, SEGV_ACCERR, "SEGV_ACCERR, access not permitted"},
        {SIGBUS, BUS_ADRALN, "BUS_ADRALN, misaligned address"},
        {SIGBUS, BUS_ADRERR, "BUS_ADRERR, no such physical address"},
        {SIGBUS, BUS_OBJERR, "BUS_OBJERR, object-specific hardware error"},
        {SIGILL, ILL_ILLOPC, "ILL_ILLOPC, illegal opcode"},
        {SIGILL, ILL_ILLOPN, "ILL_ILLOPN, illegal operand"},
        {SIGILL, ILL_PRVOPC, "ILL_PRVOPC, privileged opcode"},
        {SIGFPE, FPE_INTDIV, "FPE_INTDIV, integer divide by zero"},
        {SIGFPE, FPE_INTOVF, "FPE_INTOVF, integer overflow"},
        {SIGFPE, FPE_FLTDIV, "FPE_FLTDIV, floating-point divide by zero"},
    };
    for (const Code& known : kCodes)
        if (known.signal == signal && known.code == code) return text + " (" + known.name + ")";
    if (code == SI_USER) return text + " (sent by kill)";
    if (code == SI_TKILL) return text + " (raised by the process)";
    return text + formatted(" (code %d)", code);
}

struct Frame {
    Dwarf_Addr pc = 0;
    bool activation = false;  // the first frame, or one interrupted by a signal: pc is exact
};

struct ThreadStack {
    pid_t tid = 0;
    std::vector<Frame> frames;
    std::string stop;  // why unwinding ended early, if it did
};

int collectFrame(Dwfl_Frame* state, void* arg) {
    auto* stack = static_cast<ThreadStack*>(arg);
    Frame frame;
    if (!dwfl_frame_pc(state, &frame.pc, &frame.activation)) {
        stack->stop = dwfl_errmsg(-1);
        return DWARF_CB_ABORT;
    }
    stack->frames.push_back(frame);
    if (stack->frames.size() < kMostFramesPerThread) return DWARF_CB_OK;
    stack->stop = "too many frames";
    return DWARF_CB_ABORT;
}

int collectThread(Dwfl_Thread* thread, void* arg) {
    auto* stacks = static_cast<std::vector<ThreadStack>*>(arg);
    ThreadStack stack;
    stack.tid = dwfl_thread_tid(thread);
    if (dwfl_thread_getframes(thread, collectFrame, &stack) == -1 && stack.frames.empty())
        stack.stop = dwfl_errmsg(-1);
    stacks->push_back(std::move(stack));
    return DWARF_CB_OK;
}

std::string demangled(const char* name) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> readable(abi::__cxa_demangle(name, nullptr, nullptr, &status),
                                                         &std::free);
    return status == 0 && readable ? readable.get() : name;
}

std::string describeFrame(Dwfl* dwfl, int number, const Frame& frame) {
    // A return address points after the call: look up the call itself.
    const Dwarf_Addr address = frame.activation ? frame.pc : frame.pc - 1;
    std::string text = formatted("  #%-3d 0x%016llx", number, static_cast<unsigned long long>(frame.pc));
    Dwfl_Module* module = dwfl_addrmodule(dwfl, address);
    if (!module) return text + " ??";
    GElf_Off offset = 0;
    GElf_Sym symbol;
    const char* name = dwfl_module_addrinfo(module, address, &offset, &symbol, nullptr, nullptr, nullptr);
    text += name ? " " + demangled(name) + formatted("+0x%llx", static_cast<unsigned long long>(
                                                                     offset + (frame.activation ? 0 : 1)))
                 : std::string(" ??");
    const char* moduleName = dwfl_module_info(module, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (moduleName) text += formatted(" [%s]", moduleName);
    if (Dwfl_Line* line = dwfl_module_getsrc(module, address)) {
        int lineNumber = 0;
        if (const char* source = dwfl_lineinfo(line, nullptr, &lineNumber, nullptr, nullptr, nullptr))
            text += formatted(" %s:%d", source, lineNumber);
    }
    return text;
}

// Every thread's backtrace, the crashing thread first and from the frame that faulted (the
// handler's own frames above the signal frame are left out).
std::string backtraces(const CrashRecord& record) {
    static char* debugInfoPath = nullptr;
    static const Dwfl_Callbacks callbacks = {dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo, nullptr,
                                             &debugInfoPath};
    std::unique_ptr<Dwfl, decltype(&dwfl_end)> dwfl(dwfl_begin(&callbacks), &dwfl_end);
    if (!dwfl) return formatted("Backtraces not available: %s\n", dwfl_errmsg(-1));
    if (dwfl_linux_proc_report(dwfl.get(), record.pid) != 0 || dwfl_report_end(dwfl.get(), nullptr, nullptr) != 0)
        return formatted("Backtraces not available: %s\n", dwfl_errmsg(-1));
    if (const int error = dwfl_linux_proc_attach(dwfl.get(), record.pid, false); error != 0)
        return formatted("Backtraces not available: %s\n", error > 0 ? std::strerror(error) : dwfl_errmsg(-1));

    std::vector<ThreadStack> stacks;
    if (dwfl_getthreads(dwfl.get(), collectThread, &stacks) != 0 && stacks.empty())
        return formatted("Backtraces not available: %s\n", dwfl_errmsg(-1));
    std::stable_partition(stacks.begin(), stacks.end(),
                          [&](const ThreadStack& stack) { return stack.tid == record.tid; });

    std::string text;
    for (const ThreadStack& stack : stacks) {
        std::size_t first = 0;
        const bool crashed = stack.tid == record.tid;
        if (crashed) {
            const auto faulted = std::find_if(stack.frames.begin(), stack.frames.end(), [&](const Frame& frame) {
                return frame.pc == faultingInstruction(record);
            });
            if (faulted != stack.frames.end()) first = static_cast<std::size_t>(faulted - stack.frames.begin());
        }
        text += formatted("\nThread %d%s:\n", stack.tid, crashed ? " (crashed)" : "");
        for (std::size_t i = first; i < stack.frames.size(); ++i)
            text += describeFrame(dwfl.get(), static_cast<int>(i - first), stack.frames[i]) + "\n";
        if (!stack.stop.empty()) text += "  (unwinding stopped: " + stack.stop + ")\n";
    }
    return text;
}

std::string registers(const CrashRecord& record) {
    int named = 0;
    const char* const* names = crashRegisterNames(named);
    std::string text = formatted("\nRegisters of thread %d:\n", record.tid);
    const int count = std::min(record.registerCount, std::min(named, CrashRecord::kMostRegisters));
    for (int i = 0; i < count; ++i)
        text += formatted("  %-8s 0x%016llx%s", names[i], static_cast<unsigned long long>(record.registers[i]),
                          i % 3 == 2 || i + 1 == count ? "\n" : "");
    return text;
}

std::string dumpContent(const CrashRecord& record, const std::string& application) {
    const std::string program = programPathOf(record.pid);
    const std::time_t seconds = static_cast<std::time_t>(record.seconds);
    std::tm local{};
    localtime_r(&seconds, &local);
    char when[64];
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);

    std::string text = application + " crash dump\n";
    text += "Program: " + program + "\n";
    text += "Version: " + readFileVersion("/proc/" + std::to_string(record.pid) + "/exe") + "\n";
    text += formatted("Process: %d\n", record.pid);
    text += formatted("Time: %s.%03lld\n", when, static_cast<long long>(record.nanoseconds / 1000000));
    text += "Signal: " + signalDescription(record.signal, record.code) + "\n";
    text += formatted("Fault address: 0x%016llx\n", static_cast<unsigned long long>(record.faultAddress));
    text += formatted("Crashing thread: %d\n", record.tid);
    text += registers(record);
    text += backtraces(record);
    text += "\nMemory map:\n" + fileText("/proc/" + std::to_string(record.pid) + "/maps");
    return text;
}

bool writeAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// Writes the dump; the message that says how it went.
std::string writeDump(const CrashRecord& record, const std::string& application) {
    const std::string stem = dumpNameStem(dumpFolder(record.pid), application, record);
    std::string name;
    const int fd = createDumpFile(stem, name);
    if (fd < 0) {
        const int error = errno;
        return formatted("Failed to create dump file '%s' (error %d)", name.c_str(), error);
    }
    const bool saved = writeAll(fd, dumpContent(record, application));
    const int error = errno;
    ::close(fd);
    if (!saved) return formatted("Failed to save dump file to '%s' (error %d)", name.c_str(), error);
    return formatted("Saved dump file to '%s'", name.c_str());
}

bool receiveRecord(int socket, CrashRecord& record) {
    auto* bytes = reinterpret_cast<char*>(&record);
    for (std::size_t got = 0; got < sizeof record;) {
        const ssize_t read = ::recv(socket, bytes + got, sizeof record - got, 0);
        if (read < 0 && errno == EINTR) continue;
        if (read <= 0) return false;
        got += static_cast<std::size_t>(read);
    }
    return record.magic == CrashRecord::kMagic && record.pid == ::getppid();
}

}  // namespace

const char* const* crashRegisterNames(int& count) {
    count = static_cast<int>(std::size(kRegisterNames));
    return kRegisterNames;
}

int CrashDumper::runHelper(int argc, char** argv, const MessagePresenter& present) {
    if (argc < 4) return 2;
    const int socket = std::atoi(argv[2]);
    const std::string application = argv[3];
    ::prctl(PR_SET_NAME, "orvane-dumper", 0, 0, 0);
    std::signal(SIGINT, SIG_IGN);
    ::unsetenv("DEBUGINFOD_URLS");  // symbols come from the files on this machine, never the network

    CrashRecord record;
    if (!receiveRecord(socket, record)) return 0;  // the program ended without a crash
    const std::string outcome = writeDump(record, application);
    const char done = 1;
    ::send(socket, &done, 1, MSG_NOSIGNAL);  // the process goes on to die of its signal
    ::close(socket);

    for (const auto& [text, icon] : {std::pair{std::string(kUnhandledText), MessageIcon::Stop},
                                     std::pair{outcome, MessageIcon::Warning}}) {
        std::cerr << application << ": " << text << std::endl;
        if (present) present(application, text, icon);
    }
    return 0;
}
