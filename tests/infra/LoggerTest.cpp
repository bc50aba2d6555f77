#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <regex>
#include <thread>

#include "infra/CLogger.h"
#include "support/TempDir.h"

namespace {

std::string onlyFile(const TempDir& dir) {
    const auto files = dir.files();
    return files.size() == 1 ? files.front().string() : std::string();
}

}  // namespace

TEST(Logger, WritesBannersAndOneFormattedLinePerCallToATimeNamedFile) {
    TempDir dir;
    {
        CLogger logger(dir.str());
        logger.setDebugOutput(nullptr);
        logger.log(LogLevel::Debug, "CImplementation::initialize(): Agent:[%s]", "4711");
        logger.log(LogLevel::Normal, "level %d", 0);
        logger.log(LogLevel::Error, "no placeholders");
        logger.log(LogLevel::Warning, "100%% sure");
    }
    const std::string file = onlyFile(dir);
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(std::regex_match(std::filesystem::path(file).filename().string(),
                                 std::regex(R"(Orvane\.20\d\d\.\d\d\.\d\d\.\d\d\.\d\d\.\d\d\.log)")));

    const auto lines = TempDir::readLines(file);
    ASSERT_EQ(lines.size(), 7u);
    const std::regex layout(R"((\d\d-\d\d-\d\d\.\d{3}) \[(NORMAL|DEBUG|ERROR|WARNING)\] \[(\d+)\] (.*))");
    const std::pair<const char*, const char*> expected[] = {
        {"NORMAL", "Starting Orvane..."},
        {"NORMAL", "--------------------------------------------------------------------------"},
        {"DEBUG", "CImplementation::initialize(): Agent:[4711]"},
        {"NORMAL", "level 0"},
        {"ERROR", "no placeholders"},
        {"WARNING", "100% sure"},
        {"NORMAL", "Orvane Terminate."},
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, layout)) << lines[i];
        EXPECT_EQ(match[2], expected[i].first);
        EXPECT_EQ(match[4], expected[i].second);
    }
    EXPECT_EQ(std::string(74, '-'), expected[1].second);
}

TEST(Logger, LongLinesAreNeverTruncated) {
    TempDir dir;
    const std::string big(200000, 'x');
    {
        CLogger logger(dir.str());
        logger.setDebugOutput(nullptr);
        logger.log(LogLevel::Debug, "[%s]", big.c_str());
    }
    const auto lines = TempDir::readLines(onlyFile(dir));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[2].find("[" + big + "]"), std::string::npos);
}

TEST(Logger, MirrorsEveryLineToTheDebuggerChannelAndRetriesAFileThatCouldNotBeOpened) {
    TempDir dir;
    const std::string missing = dir.str() + "/not-yet";
    std::vector<std::string> mirrored;
    CLogger logger(missing);
    logger.setDebugOutput([&](std::string_view line) { mirrored.emplace_back(line); });
    EXPECT_EQ(logger.fileName(), "");

    logger.log(LogLevel::Debug, "while the folder is missing");
    logger.flush();
    ASSERT_EQ(mirrored.size(), 1u);
    EXPECT_NE(mirrored[0].find("[DEBUG]"), std::string::npos);
    EXPECT_EQ(mirrored[0].back(), '\n');

    std::filesystem::create_directory(missing);
    logger.log(LogLevel::Debug, "after the folder appeared");
    logger.flush();
    EXPECT_FALSE(logger.fileName().empty());
    const auto lines = TempDir::readLines(logger.fileName());
    ASSERT_EQ(lines.size(), 1u);  // the banners went only to the debugger channel
    EXPECT_NE(lines[0].find("after the folder appeared"), std::string::npos);
    EXPECT_EQ(mirrored.size(), 2u);
}

TEST(Logger, LinesFromManyThreadsStayWholeAndCarryTheirThreadIds) {
    TempDir dir;
    {
        CLogger logger(dir.str());
        logger.setDebugOutput(nullptr);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&logger, t] {
                for (int i = 0; i < 500; ++i) logger.log(LogLevel::Debug, "thread %d line %d %s", t, i, "payload");
            });
        for (auto& thread : threads) thread.join();
    }
    const auto lines = TempDir::readLines(onlyFile(dir));
    ASSERT_EQ(lines.size(), 2003u);
    const std::regex whole(R"(\d\d-\d\d-\d\d\.\d{3} \[DEBUG\] \[(\d+)\] thread (\d) line \d+ payload)");
    std::map<std::string, std::string> threadIdOf;
    for (std::size_t i = 2; i < 2002; ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, whole)) << lines[i];
        auto [it, inserted] = threadIdOf.emplace(match[2], match[1]);
        EXPECT_EQ(it->second, match[1]);
    }
    EXPECT_EQ(threadIdOf.size(), 4u);
}

TEST(Logger, ProcessWideInstanceIsRecreatedAfterDestroy) {
    CLogger* first = CLogger::getInstance();
    EXPECT_EQ(first, CLogger::getInstance());
    CLogger::destroyInstance();
    logMessage(LogLevel::Debug, "logged after destroy");
    EXPECT_NE(CLogger::getInstance(), nullptr);
}

namespace {

// Sets or removes environment variables while it lives, then puts back what it found.
class ScopedEnvironment {
public:
    void set(const char* name, const char* value) {
        remember(name);
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_)
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
    }

private:
    void remember(const char* name) {
        if (saved_.count(name)) return;
        const char* value = std::getenv(name);
        saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

TEST(Logger, TheProgramsLogGoesToTheFolderOrvaneLogDirNamesAndIsCreated) {
    TempDir dir;
    ScopedEnvironment environment;
    environment.set("ORVANE_LOG_DIR", (dir.str() + "/nested/logs").c_str());
    CLogger::destroyInstance();
    logMessage(LogLevel::Debug, "where does this go");
    EXPECT_TRUE(startsWith(CLogger::getInstance()->fileName(), dir.str() + "/nested/logs/Orvane."))
        << CLogger::getInstance()->fileName();
    CLogger::destroyInstance();
}

TEST(Logger, WithoutOrvaneLogDirTheLogGoesToTheUsersDataFolder) {
    TempDir home;
    ScopedEnvironment environment;
    environment.set("HOME", home.str().c_str());
    environment.set("XDG_DATA_HOME", nullptr);
    environment.set("ORVANE_LOG_DIR", nullptr);
    CLogger::destroyInstance();
    logMessage(LogLevel::Debug, "where does this go");
    EXPECT_TRUE(startsWith(CLogger::getInstance()->fileName(), home.str() + "/.local/share/Brennic/Orvane/logs/Orvane."))
        << CLogger::getInstance()->fileName();
    CLogger::destroyInstance();
}

TEST(Logger, StandardErrorCarriesOnlyWarningsAndErrorsWhileTheFileKeepsEverything) {
    TempDir dir;
    std::stringstream captured;
    std::streambuf* const previous = std::cerr.rdbuf(captured.rdbuf());
    {
        CLogger logger(dir.str());
        logger.log(LogLevel::Debug, "a step");
        logger.log(LogLevel::Normal, "a milestone");
        logger.log(LogLevel::Warning, "a handled oddity");
        logger.log(LogLevel::Error, "a failure");
    }
    std::cerr.rdbuf(previous);
    const std::string text = captured.str();
    EXPECT_EQ(text.find("a step"), std::string::npos);
    EXPECT_EQ(text.find("a milestone"), std::string::npos);
    EXPECT_EQ(text.find("Starting Orvane..."), std::string::npos);
    EXPECT_NE(text.find("[WARNING]"), std::string::npos);
    EXPECT_NE(text.find("a handled oddity"), std::string::npos);
    EXPECT_NE(text.find("a failure"), std::string::npos);
    EXPECT_EQ(TempDir::readLines(onlyFile(dir)).size(), 7u);
}

TEST(Logger, FlushPutsEveryLineLoggedSoFarInTheFile) {
    TempDir dir;
    CLogger logger(dir.str());
    logger.setDebugOutput(nullptr);
    for (int i = 0; i < 1000; ++i) logger.log(LogLevel::Debug, "line %d", i);
    logger.flush();
    const auto lines = TempDir::readLines(logger.fileName());
    ASSERT_EQ(lines.size(), 1002u);
    for (int i = 0; i < 1000; ++i) EXPECT_TRUE(lines[static_cast<std::size_t>(i) + 2].ends_with("line " + std::to_string(i)));
}

TEST(Logger, ABurstFarLargerThanTheWritersQueueIsWrittenWholeAndInOrder) {
    TempDir dir;
    constexpr int kLines = 150000;
    const std::string payload(100, 'p');
    {
        CLogger logger(dir.str());
        logger.setDebugOutput(nullptr);
        for (int i = 0; i < kLines; ++i) logger.log(LogLevel::Debug, "%d %s", i, payload.c_str());
    }
    const auto lines = TempDir::readLines(onlyFile(dir));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kLines) + 3);
    for (int i = 0; i < kLines; i += 997)
        EXPECT_TRUE(lines[static_cast<std::size_t>(i) + 2].ends_with(std::to_string(i) + " " + payload)) << i;
    EXPECT_EQ(lines.back().substr(lines.back().size() - 17), "Orvane Terminate.");
}
