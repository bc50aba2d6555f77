#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "support/ChildProgram.h"
#include "support/TempDir.h"

namespace {

constexpr const char* kUnhandled =
    "CrashChild: An unhandled exception has happened, a dump file has been created\nPlease advise your admin\n";
const std::regex kDumpName(R"(CrashChild\.\d{4}(\.\d\d){5}(\.\d+)?\.dmp)");

std::string contentOf(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class CrashDumpTest : public ::testing::Test {
protected:
    ChildRun::Result crash(const std::string& mode, bool unprivileged = false) const {
        ChildRun child;
        child.arguments = {CRASH_CHILD, mode};
        child.environment = {"ORVANE_CRASH_DIR=" + folder.str()};
        child.unset = {"DISPLAY", "WAYLAND_DISPLAY"};
        child.asUnprivilegedUser = unprivileged;
        const ChildRun::Result result = child.run();
        EXPECT_FALSE(result.killedAtLimit) << mode << " hung";
        return result;
    }

    std::vector<std::filesystem::path> dumps() const {
        std::vector<std::filesystem::path> found;
        for (const auto& file : folder.files())
            if (std::regex_match(file.filename().string(), kDumpName)) found.push_back(file);
        return found;
    }

    // The one dump written, its messages checked: the warning first, then where it was saved.
    std::string onlyDump(const ChildRun::Result& result) const {
        const auto written = dumps();
        if (written.size() != 1) {
            ADD_FAILURE() << written.size() << " dumps; the program said: " << result.errors;
            return {};
        }
        EXPECT_EQ(result.errors, std::string(kUnhandled) + "CrashChild: Saved dump file to '" +
                                     written.front().string() + "'\n");
        return contentOf(written.front());
    }

    TempDir folder;
};

}  // namespace

TEST_F(CrashDumpTest, NullWriteIsDumpedWithSignalRegistersBacktraceAndMapAndTheProcessStillDiesOfIt) {
    const auto result = crash("null");
    EXPECT_TRUE(result.signalled(SIGSEGV)) << result.status;
    const std::string dump = onlyDump(result);
    EXPECT_NE(dump.find("Signal: 11 SIGSEGV (SEGV_MAPERR"), std::string::npos) << dump;
    EXPECT_NE(dump.find("Fault address: 0x0000000000000000"), std::string::npos);
    EXPECT_NE(dump.find("Registers of thread"), std::string::npos);
    EXPECT_NE(dump.find("(crashed):\n  #0 "), std::string::npos);
    // The crashing thread's backtrace starts in the function that faulted, not in the handler.
    const auto crashed = dump.find("(crashed):\n");
    const std::string firstFrame = dump.substr(crashed, dump.find('\n', crashed + 12) - crashed);
    EXPECT_NE(firstFrame.find("crashByNullWrite"), std::string::npos) << dump;
    EXPECT_NE(dump.find(" main+0x"), std::string::npos);
    EXPECT_NE(dump.find("Memory map:\n"), std::string::npos);
    EXPECT_NE(dump.find("crash_child\n"), std::string::npos);  // the program's own mapping
}

TEST_F(CrashDumpTest, AbortAndAWorkerThreadCrashNameTheirFunctionsAndShowEveryThread) {
    const auto aborted = crash("abort");
    EXPECT_TRUE(aborted.signalled(SIGABRT)) << aborted.status;
    const std::string abortDump = onlyDump(aborted);
    EXPECT_NE(abortDump.find("Signal: 6 SIGABRT"), std::string::npos) << abortDump;
    EXPECT_NE(abortDump.find("crashByAbort"), std::string::npos) << abortDump;
    std::filesystem::remove(dumps().front());

    const auto worker = crash("thread");
    EXPECT_TRUE(worker.signalled(SIGSEGV)) << worker.status;
    const std::string workerDump = onlyDump(worker);
    const auto crashed = workerDump.find("(crashed):\n");
    const auto other = workerDump.find("\nThread ", crashed);
    ASSERT_NE(crashed, std::string::npos) << workerDump;
    ASSERT_NE(other, std::string::npos) << "only one thread in\n" << workerDump;
    EXPECT_NE(workerDump.substr(crashed, other - crashed).find("crashByNullWrite"), std::string::npos);
    EXPECT_NE(workerDump.substr(other).find("crashOnWorker"), std::string::npos) << workerDump;
}

TEST_F(CrashDumpTest, StackOverflowOnAWorkerThreadIsDumpedFromItsAlternateSignalStack) {
    const auto result = crash("overflow");
    EXPECT_TRUE(result.signalled(SIGSEGV)) << result.status;
    EXPECT_NE(onlyDump(result).find("recurseForever"), std::string::npos);
}

TEST_F(CrashDumpTest, ReadOnlyFolderIsReportedAfterTheWarningAndTheProcessStillDiesOfItsSignal) {
    ::chmod(folder.str().c_str(), 0555);
    if (::geteuid() != 0 && ::access(folder.str().c_str(), W_OK) == 0) GTEST_SKIP() << "cannot make a read-only folder";
    const auto result = crash("null", true);
    ::chmod(folder.str().c_str(), 0755);
    EXPECT_TRUE(result.signalled(SIGSEGV)) << result.status;
    EXPECT_TRUE(dumps().empty());
    const std::regex expected(std::string(kUnhandled) + "CrashChild: Failed to create dump file '" + folder.str() +
                              R"(/CrashChild\.\d{4}(\.\d\d){5}\.dmp' \(error 13\)
)");
    EXPECT_TRUE(std::regex_match(result.errors, expected)) << result.errors;
}

TEST_F(CrashDumpTest, CrashesWithinOneSecondKeepEveryDump) {
    // Names the next seconds would take already exist, twice over: the crash must add a third.
    const std::time_t now = std::time(nullptr);
    std::vector<std::filesystem::path> older;
    for (std::time_t second = now - 1; second < now + 60; ++second) {
        std::tm local{};
        localtime_r(&second, &local);
        char stem[64];
        std::strftime(stem, sizeof stem, "CrashChild.%Y.%m.%d.%H.%M.%S", &local);
        for (const char* suffix : {".dmp", ".1.dmp"}) {
            older.push_back(folder.path() / (std::string(stem) + suffix));
            std::ofstream(older.back()) << "older dump";
        }
    }
    const auto result = crash("null");
    EXPECT_TRUE(result.signalled(SIGSEGV));
    const auto all = dumps();
    ASSERT_EQ(all.size(), older.size() + 1) << result.errors;
    for (const auto& file : older) EXPECT_EQ(contentOf(file), "older dump");
    std::filesystem::path added;
    for (const auto& file : all)
        if (std::find(older.begin(), older.end(), file) == older.end()) added = file;
    EXPECT_TRUE(added.string().ends_with(".2.dmp")) << added;
    EXPECT_NE(result.errors.find("Saved dump file to '" + added.string() + "'"), std::string::npos);
}

TEST_F(CrashDumpTest, SecondCrashOrACrashInsideTheHandlerNeverHangs) {
    const auto both = crash("two-threads");
    EXPECT_TRUE(both.signalled(SIGSEGV)) << both.status;
    onlyDump(both);
    std::filesystem::remove_all(folder.path());
    std::filesystem::create_directories(folder.path());

    const auto faulting = crash("crash-in-handler");
    EXPECT_TRUE(faulting.signalled(SIGSEGV)) << faulting.status;
    const auto aborting = crash("abort-in-handler");
    EXPECT_TRUE(aborting.signalled(SIGABRT)) << aborting.status;
    EXPECT_TRUE(dumps().empty());
}

TEST_F(CrashDumpTest, ChildForkedWithoutExecCrashingLeavesTheHelperToTheProgram) {
    const auto result = crash("fork-then-abort");
    EXPECT_TRUE(result.signalled(SIGABRT)) << result.status;
    EXPECT_NE(onlyDump(result).find("crashAfterForkedChild"), std::string::npos);
}

TEST_F(CrashDumpTest, ProgramEndingNormallyLetsTheHelperGoWithoutADump) {
    const auto result = crash("exit");
    EXPECT_TRUE(result.exitedWith(0)) << result.status;
    EXPECT_EQ(result.errors, "");
    EXPECT_TRUE(dumps().empty());
}
