#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "infra/CAutoUpdater.h"
#include "infra/FileVersion.h"
#include "lab/web/LabWebServer.h"
#include "support/ChildProgram.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kPublished = "velmoraccs/orvane";  // as stored: no slashes yet

std::string bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int countOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// An installed probe program ("orvane" in its own folder) and the update server's folder, served
// by the lab web server on loopback.
class UpdateTest : public ::testing::Test {
protected:
    UpdateTest() {
        fs::create_directories(installed);
        fs::create_directories(published);
        install(UPDATE_PROBE);
        server.start();
    }

    void install(const char* build) {
        fs::copy_file(build, program, fs::copy_options::overwrite_existing);
        fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
    }
    void publish(const char* build, const std::string& name = "orvane") {
        fs::copy_file(build, published / name, fs::copy_options::overwrite_existing);
    }

    // What a run printed, and its log: the files the program (and a restarted one) wrote.
    struct Check {
        ChildRun::Result run;
        std::string log;
    };

    // `timeScale` shortens the stall limit (30 s in production) for the stall tests only.
    Check check(bool unprivileged = false, std::vector<std::string> wrapper = {},
                const std::string& timeScale = "1") {
        const fs::path logs = dir.path() / ("logs-" + std::to_string(++runs));
        fs::create_directories(logs);
        fs::permissions(logs, fs::perms::all);  // an unprivileged run writes there too
        ChildRun child;
        child.arguments = std::move(wrapper);
        for (const std::string& argument :
             {program.string(), std::string("127.0.0.1"), std::to_string(server.port()), std::string(kPublished)})
            child.arguments.push_back(argument);
        child.workingDirectory = logs.string();
        child.environment = {"ORVANE_TIME_SCALE=" + timeScale, "ORVANE_LOG_DIR=" + logs.string()};
        child.unset = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"};
        child.asUnprivilegedUser = unprivileged;
        Check result{child.run(), {}};
        EXPECT_FALSE(result.run.killedAtLimit);
        for (const auto& file : fs::directory_iterator(logs)) result.log += bytesOf(file.path());
        if (countOf(result.run.output, "version ") == 1) {  // not restarted
            EXPECT_EQ(countOf(result.log, "[WARNING]"), result.run.output.find("result 1\n") == std::string::npos)
                << "one warning per check that downloads are not authenticated:\n" << result.log;
        }
        return result;
    }

    int runs = 0;
    TempDir dir;
    const fs::path installed = dir.path() / "bin";
    const fs::path program = installed / "orvane";
    const fs::path served = dir.path() / "www";
    const fs::path published = served / kPublished;
    LabWebServer server{{0, served.string()}, [](const std::string&) {}};
};

}  // namespace

TEST(UpdateLocationTest, PathGetsItsSlashesAndTheLocationIsBuiltFromHostPortAndPath) {
    std::string path = "velmoraccs/orvane";
    EXPECT_EQ(CAutoUpdater::updateLocation("192.168.X.X", 80, path), "http://192.168.X.X:80/velmoraccs/orvane/");
    EXPECT_EQ(path, "/velmoraccs/orvane/");
    for (auto [stored, used] : {std::pair{"/a", "/a/"}, {"b/", "/b/"}, {"", "/"}, {"/c/", "/c/"}}) {
        std::string text = stored;
        CAutoUpdater::updateLocation("h", 8080, text);
        EXPECT_EQ(text, used) << stored;
    }
    std::string longPath(300, 'p');
    CAutoUpdater::updateLocation("h", 80, longPath);
    EXPECT_EQ(longPath, "/" + std::string(254, 'p') + "/");  // cut to 255 with its leading slash
}

TEST(UpdateLocationTest, VersionTextsCompareByNumberAndUnreadableOnesSayWhichSide) {
    EXPECT_EQ(CAutoUpdater::compareVersionTexts("3.0", "3.0.0.0", true), 0);
    EXPECT_EQ(CAutoUpdater::compareVersionTexts("3.0.0.0", "3", false), 0);
    EXPECT_EQ(CAutoUpdater::compareVersionTexts("1.2.3.4", "1.2.3.10", false), 1);
    EXPECT_EQ(CAutoUpdater::compareVersionTexts("1.10", "1.9", false), -1);
    EXPECT_EQ(CAutoUpdater::compareVersionTexts("1.10", "1.9", true), 1);  // an older build replaces too
    EXPECT_EQ(CAutoUpdater::compareVersionTexts("007", "7", true), 0);
    EXPECT_EQ(CAutoUpdater::compareVersionTexts("99999999999999999999", "99999999999999999998", false), -1);
    EXPECT_EQ(CAutoUpdater::compareVersionTexts("1.2.3.4.5", "1.2", true), -21);
    EXPECT_EQ(CAutoUpdater::compareVersionTexts("1.2", "1.x", true), -22);
    EXPECT_EQ(CAutoUpdater::compareVersionTexts("1..2", "1.2", true), -21);
    EXPECT_EQ(CAutoUpdater::compareVersionTexts("", "", true), -21);
}

TEST_F(UpdateTest, SameVersionDeletesTheDownloadAndStoresThePathWithItsSlashes) {
    publish(UPDATE_PROBE);
    const auto result = check();
    EXPECT_EQ(result.run.output, "version 2.5.0.1\nresult 6\npath /velmoraccs/orvane/\n") << result.log;
    EXPECT_NE(result.log.find("This is currently the last version available"), std::string::npos);
    EXPECT_NE(result.log.find("AutoUpdate enabled[127.0.0.1:" + std::to_string(server.port()) +
                                 "/velmoraccs/orvane/], check if it is needed"),
              std::string::npos);
    EXPECT_EQ(namesIn(installed), std::vector<std::string>{"orvane"});
    EXPECT_EQ(server.requests(), std::vector<std::string>{"GET /velmoraccs/orvane/orvane"});
    const auto headers = server.lastRequestHeaders();
    EXPECT_EQ(headers.at("user-agent"), "AutoUpdateAgent");
    EXPECT_EQ(headers.at("cache-control"), "no-cache");
}

TEST_F(UpdateTest, NewerOrOlderBuildReplacesTheProgramWhichRestartsAsTheNewVersion) {
    publish(UPDATE_PROBE_NEWER);
    const auto newer = check();
    // The restarted program prints its own version and finds itself up to date.
    EXPECT_EQ(newer.run.output, "version 2.5.0.1\nversion 9.1.0.7\nresult 6\npath /velmoraccs/orvane/\n") << newer.log;
    EXPECT_EQ(namesIn(installed), (std::vector<std::string>{"OldExecutable.bak", "orvane"}));
    EXPECT_EQ(readFileVersion((installed / "OldExecutable.bak").string()), "2.5.0.1");
    struct stat status {};
    ASSERT_EQ(::stat(program.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0755u);

    // An older build, published under the fixed second name only, replaces it all the same.
    fs::remove(published / "orvane");
    publish(UPDATE_PROBE_OLDER, CAutoUpdater::kSecondName);
    const auto older = check();
    // 1.0.0.0 has a zero low word: its text is "1.0".
    EXPECT_EQ(older.run.output, "version 9.1.0.7\nversion 1.0\nresult 6\npath /velmoraccs/orvane/\n") << older.log;
    EXPECT_EQ(readFileVersion((installed / "OldExecutable.bak").string()), "9.1.0.7");
    EXPECT_EQ(namesIn(installed), (std::vector<std::string>{"OldExecutable.bak", "orvane"}));
}

TEST_F(UpdateTest, UnversionedOrNonProgramFilesAreNeverInstalled) {
    const std::string before = bytesOf(program);
    publish(UPDATE_PROBE_UNVERSIONED);
    std::ofstream(published / CAutoUpdater::kSecondName) << "<html>Update server maintenance</html>";
    const auto result = check();
    EXPECT_EQ(result.run.output, "version 2.5.0.1\nresult 4\npath /velmoraccs/orvane/\n") << result.log;
    EXPECT_NE(result.log.find("File download error, will use current version"), std::string::npos);
    EXPECT_NE(result.log.find("The published 'orvane' carries no version"), std::string::npos);
    EXPECT_NE(result.log.find("The published 'VelmoraPhone.exe' is not an ELF file"), std::string::npos);
    EXPECT_EQ(server.requests(), (std::vector<std::string>{"GET /velmoraccs/orvane/orvane",
                                                           "GET /velmoraccs/orvane/VelmoraPhone.exe"}));
    EXPECT_EQ(bytesOf(program), before);
    EXPECT_EQ(namesIn(installed), std::vector<std::string>{"orvane"});

    // The running program without a version cannot be compared with anything.
    install(UPDATE_PROBE_UNVERSIONED);
    publish(UPDATE_PROBE_NEWER);
    const auto unversioned = check();
    EXPECT_EQ(unversioned.run.output, "version \nresult 5\npath /velmoraccs/orvane/\n");
    EXPECT_NE(unversioned.log.find("Error [5] while auto-updating"), std::string::npos);
    EXPECT_EQ(namesIn(installed), std::vector<std::string>{"orvane"});
}

TEST_F(UpdateTest, DownloadBrokenOffOrStalledLeavesTheProgramUntouched) {
    const std::string before = bytesOf(program);
    publish(UPDATE_PROBE_NEWER);
    publish(UPDATE_PROBE_NEWER, CAutoUpdater::kSecondName);
    for (LabWebFault fault : {LabWebFault::DropMidFile, LabWebFault::StallAfterHeaders, LabWebFault::NotFound}) {
        server.failNext(fault, 2);
        const auto result = check(false, {}, "0.05");
        EXPECT_EQ(result.run.output, "version 2.5.0.1\nresult 4\npath /velmoraccs/orvane/\n") << result.log;
        EXPECT_EQ(countOf(result.log, "CAutoUpdater::fetchToTemp(): Failed to download"), 2) << result.log;
        EXPECT_EQ(bytesOf(program), before);
        EXPECT_EQ(namesIn(installed), std::vector<std::string>{"orvane"});
    }
}

TEST_F(UpdateTest, NoRouteToTheServerGivesOne) {
    publish(UPDATE_PROBE_NEWER);
    // A network namespace of its own has no interface up, not even loopback.
    const auto result = check(false, {"/usr/bin/unshare", "--map-root-user", "--net"});
    EXPECT_EQ(result.run.output, "version 2.5.0.1\nresult 1\npath /velmoraccs/orvane/\n") << result.log;
    EXPECT_NE(result.log.find("Error [1] while auto-updating"), std::string::npos);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(UpdateTest, ProgramFolderTheUserCannotWriteGivesSevenUnlessThereIsNothingToInstall) {
    fs::permissions(installed, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    publish(UPDATE_PROBE);
    const auto same = check(true);
    EXPECT_EQ(same.run.output, "version 2.5.0.1\nresult 6\npath /velmoraccs/orvane/\n") << same.log;

    const std::string before = bytesOf(program);
    publish(UPDATE_PROBE_NEWER);
    const auto newer = check(true);
    fs::permissions(installed, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(newer.run.output, "version 2.5.0.1\nresult 7\npath /velmoraccs/orvane/\n") << newer.log;
    EXPECT_NE(newer.log.find("CAutoUpdater::replaceExecutable(): Cannot write in '" + installed.string() +
                                "': Permission denied"),
              std::string::npos)
        << newer.log;
    EXPECT_NE(newer.log.find("Error [7] while auto-updating"), std::string::npos);
    EXPECT_EQ(bytesOf(program), before);
    EXPECT_EQ(namesIn(installed), std::vector<std::string>{"orvane"});
}
