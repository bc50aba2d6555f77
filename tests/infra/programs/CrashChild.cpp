// A program that crashes on request, for the crash dump tests:
//   crash_child null | abort | thread | overflow | two-threads | crash-in-handler | abort-in-handler |
//               fork-then-abort | exit
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "infra/CrashDumper.h"

namespace {

volatile std::uintptr_t nowhere = 0;
std::atomic<int> arrived{0};

// The fault is the point: the sanitizers are not to report it first (as a null store, or as two
// threads racing on the same address) and end the program some other way.
__attribute__((noinline, no_sanitize("null"), no_sanitize("thread"))) void crashByNullWrite() {
    *reinterpret_cast<volatile int*>(nowhere) = 1;
    std::puts("still alive");
}

__attribute__((noinline)) void crashByAbort() {
    std::abort();
}

__attribute__((noinline)) void crashOnWorker() {
    std::thread worker([] { crashByNullWrite(); });
    worker.join();
}

volatile int neverReached = -1;

__attribute__((noinline)) int recurseForever(int depth) {
    if (depth == neverReached) return 0;
    volatile int frame[128];
    frame[0] = depth;
    frame[1] = recurseForever(depth + 1);  // the frame stays alive across the call
    return frame[0] + frame[1];
}

__attribute__((noinline)) void crashByStackOverflowOnWorker() {
    std::thread worker([] { std::printf("%d\n", recurseForever(0)); });
    worker.join();
}

// Two threads fault at about the same time: one writes the dump, the other must not hang it.
__attribute__((noinline)) void crashOnTwoThreads() {
    auto both = [] {
        ++arrived;
        while (arrived.load() < 2) {
        }
        crashByNullWrite();
    };
    std::thread first(both);
    std::thread second(both);
    first.join();
    second.join();
}

// A child forked without exec crashes first; then the program itself.
__attribute__((noinline)) void crashAfterForkedChild() {
    const pid_t child = fork();
    if (child == 0) crashByNullWrite();
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) crashByAbort();
}

}  // namespace

int main(int argc, char** argv) {
    if (CrashDumper::isHelperCommand(argc, argv)) return CrashDumper::runHelper(argc, argv);
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (argc != 2) return 2;
    const std::string mode = argv[1];
    CrashDumper dumper("CrashChild");
    if (!dumper.installed()) return 3;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::printf("crash at %lld.%09ld\n", static_cast<long long>(now.tv_sec), now.tv_nsec);  // for the benchmark
    std::fflush(stdout);
    if (mode == "null") crashByNullWrite();
    if (mode == "abort") crashByAbort();
    if (mode == "thread") crashOnWorker();
    if (mode == "overflow") crashByStackOverflowOnWorker();
    if (mode == "two-threads") crashOnTwoThreads();
    if (mode == "fork-then-abort") crashAfterForkedChild();
    if (mode == "crash-in-handler") {
        CrashDumper::setBeforeDump([] { crashByNullWrite(); });
        crashByNullWrite();
    }
    if (mode == "abort-in-handler") {
        CrashDumper::setBeforeDump([] { crashByAbort(); });
        crashByNullWrite();
    }
    return mode == "exit" ? 0 : 4;
}
