#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>

#include "infra/FileVersion.h"
#include "infra/SettingsStore.h"
#include "lab/web/LabWebServer.h"
#include "support/ChildProgram.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;

// The orvane program, copied into a folder of the test's own (the update may replace it), run
// headless with a private home, settings and runtime folder.
class ProgramFileTest : public ::testing::Test {
protected:
    ProgramFileTest() {
        for (const fs::path& folder : {bin, home, config, runtime, crashes, logs}) fs::create_directories(folder);
        fs::copy_file(ORVANE_PROGRAM, program);
        fs::permissions(runtime, fs::perms::owner_all);
        SettingsStore::useFolder(config.string());
    }

    ChildRun headless() const {
        ChildRun phone;
        phone.arguments = {program.string(), "--headless", "--iax-port", "0"};
        phone.workingDirectory = logs.string();
        phone.environment = {"HOME=" + home.string(),           "XDG_CONFIG_HOME=" + config.string(),
                             "XDG_RUNTIME_DIR=" + runtime.string(), "ORVANE_CRASH_DIR=" + crashes.string(),
                             "ORVANE_LOG_DIR=" + logs.string(),    "ORVANE_AUDIO=virtual"};
        phone.unset = {"DISPLAY",    "WAYLAND_DISPLAY", "http_proxy",       "HTTP_PROXY",
                       "ORVANE_CTI", "ORVANE_AGENT",    "ORVANE_TIME_SCALE"};
        return phone;
    }

    // The phone's log files, as far as they are written.
    std::string log() const {
        std::string text;
        for (const auto& file : fs::directory_iterator(logs)) {
            std::ifstream in(file.path());
            text.append(std::istreambuf_iterator<char>(in), {});
        }
        return text;
    }

    // Waits until the phone's log holds `text`, reading what it prints meanwhile.
    bool logShows(RunningChild& phone, const std::string& text) const {
        return phone.waitUntil([&] { return log().find(text) != std::string::npos; }, 60s);
    }

    TempDir dir;
    const fs::path bin = dir.path() / "bin";
    const fs::path program = bin / "orvane";
    const fs::path home = dir.path() / "home";
    const fs::path config = dir.path() / "config";
    const fs::path runtime = dir.path() / "runtime";
    const fs::path crashes = dir.path() / "crashes";
    const fs::path logs = dir.path() / "logs";
};

}  // namespace

TEST_F(ProgramFileTest, VersionComesFromTheProgramFileItself) {
    EXPECT_EQ(readFileVersion(program.string()), ORVANE_PROJECT_VERSION);
    ChildRun version;
    version.arguments = {program.string(), "--version"};
    EXPECT_EQ(version.run().output, "Orvane " ORVANE_PROJECT_VERSION "\n");
}

TEST_F(ProgramFileTest, StartUpChecksForAnUpdateAndStoresTheUpdatePathWithItsSlashes) {
    LabWebServer server({0, (dir.path() / "www").string()}, [](const std::string&) {});
    ASSERT_TRUE(server.start());
    fs::create_directories(dir.path() / "www" / "updates");
    fs::copy_file(program, dir.path() / "www" / "updates" / "orvane");
    SettingsStore store;
    store.writeRegistryValue("AutoUpdate status", std::string("1"));
    store.writeRegistryValue("AutoUpdate host", std::string("127.0.0.1"));
    store.writeRegistryValue("AutoUpdate port", std::to_string(server.port()));
    store.writeRegistryValue("AutoUpdate path", std::string("updates"));

    RunningChild phone(headless());
    EXPECT_TRUE(logShows(phone, "This is currently the last version available"));
    EXPECT_TRUE(logShows(phone, "CImplementation::initialize(): End."));  // start-up goes on
    phone.signal(SIGKILL);
    phone.finish();
    EXPECT_NE(log().find("Current Orvane Version : " ORVANE_PROJECT_VERSION), std::string::npos);
    EXPECT_EQ(server.requests(), std::vector<std::string>{"GET /updates/orvane"});
    std::string path;
    EXPECT_TRUE(store.readRegistryValue("AutoUpdate path", path));
    EXPECT_EQ(path, "/updates/");
    EXPECT_EQ(fs::directory_iterator(bin)->path(), program);  // the download is gone
}

TEST_F(ProgramFileTest, RunningPhoneThatCrashesLeavesADumpOfEveryThreadAndDiesOfItsSignal) {
    RunningChild phone(headless());
    ASSERT_TRUE(logShows(phone, "CImplementation::initialize(): End."));
    phone.signal(SIGSEGV);
    const auto result = phone.finish();
    EXPECT_TRUE(result.signalled(SIGSEGV)) << result.status;
    std::vector<fs::path> dumps;
    for (const auto& entry : fs::directory_iterator(crashes)) dumps.push_back(entry.path());
    ASSERT_EQ(dumps.size(), 1u) << result.errors;
    EXPECT_TRUE(std::regex_match(dumps.front().filename().string(), std::regex(R"(Orvane\.\d{4}(\.\d\d){5}\.dmp)")));
    const std::string tail = "Orvane: An unhandled exception has happened, a dump file has been created\n"
                             "Please advise your admin\nOrvane: Saved dump file to '" +
                             dumps.front().string() + "'\n";
    EXPECT_TRUE(result.errors.ends_with(tail)) << result.errors;
    std::ifstream in(dumps.front());
    std::ostringstream dump;
    dump << in.rdbuf();
    EXPECT_NE(dump.str().find("Version: " ORVANE_PROJECT_VERSION "\n"), std::string::npos);
    EXPECT_NE(dump.str().find("Signal: 11 SIGSEGV (sent by kill)"), std::string::npos);
    int threads = 0;
    for (auto at = dump.str().find("\nThread "); at != std::string::npos; at = dump.str().find("\nThread ", at + 1))
        ++threads;
    EXPECT_GE(threads, 3) << dump.str();  // the window's, the event queue's, the voice engine's...
}
