// What the self-update and the crash dump cost: the start-up update check against a server on
// loopback publishing the same version (a small program, and the orvane program as built and as
// packaged), and a crash until its dump is on disk, with the dump's size.

#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "infra/CAutoUpdater.h"
#include "infra/CLogger.h"
#include "lab/web/LabWebServer.h"
#include "support/ChildProgram.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// The check a start-up makes when the server publishes the running build again: the route, the
// download, both versions read, the download deleted.
void SameVersionCheck(benchmark::State& state, const char* build, bool packaged) {
    CLogger::getInstance()->setDebugOutput(nullptr);
    TempDir dir;
    const fs::path program = dir.path() / "bin" / "orvane";
    const fs::path published = dir.path() / "www" / "orvane" / "orvane";
    fs::create_directories(program.parent_path());
    fs::create_directories(published.parent_path());
    fs::copy_file(build, program);
    if (packaged && std::system(("strip --strip-debug '" + program.string() + "'").c_str()) != 0)
        return state.SkipWithError("strip failed");
    fs::copy_file(program, published);
    LabWebServer server({0, (dir.path() / "www").string()}, [](const std::string&) {});
    if (!server.start()) return state.SkipWithError("no lab web server");
    std::string path = "orvane";
    const std::string location = CAutoUpdater::updateLocation("127.0.0.1", server.port(), path);
    for (auto _ : state) {
        CAutoUpdater updater(program.string());
        if (updater.runUpdateCheck(location) != CAutoUpdater::SameVersion)
            return state.SkipWithError("the check did not find the same version");
    }
    state.counters["program_bytes"] = static_cast<double>(fs::file_size(program));
    server.stop();
}
BENCHMARK_CAPTURE(SameVersionCheck, small_program, UPDATE_PROBE, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SameVersionCheck, orvane_as_built, ORVANE_PROGRAM, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SameVersionCheck, orvane_as_packaged, ORVANE_PROGRAM, true)->Unit(benchmark::kMillisecond);

// From the faulting write (the time the program printed just before it) to the dump file's last
// write; the program's run as a whole (start, helper start, crash, dump, death) is not timed.
void CrashToDumpWritten(benchmark::State& state, const char* mode) {
    TempDir dir;
    double dumpBytes = 0;
    for (auto _ : state) {
        ChildRun child;
        child.arguments = {CRASH_CHILD, mode};
        child.environment = {"ORVANE_CRASH_DIR=" + dir.str()};
        child.unset = {"DISPLAY", "WAYLAND_DISPLAY"};
        const ChildRun::Result result = child.run();
        const auto files = dir.files();
        double crashed = 0;
        if (files.size() != 1 || std::sscanf(result.output.c_str(), "crash at %lf", &crashed) != 1)
            return state.SkipWithError("no dump");
        struct stat written {};
        ::stat(files.front().c_str(), &written);
        state.SetIterationTime(static_cast<double>(written.st_mtim.tv_sec) + written.st_mtim.tv_nsec / 1e9 - crashed);
        dumpBytes = static_cast<double>(written.st_size);
        fs::remove(files.front());
    }
    state.counters["dump_bytes"] = dumpBytes;
}
BENCHMARK_CAPTURE(CrashToDumpWritten, main_thread, "null")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CrashToDumpWritten, worker_thread, "thread")->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
