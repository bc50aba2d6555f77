#include <gtest/gtest.h>

#include <map>
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
    ASSERT_EQ(mirrored.size(), 1u);
    EXPECT_NE(mirrored[0].find("[DEBUG]"), std::string::npos);
    EXPECT_EQ(mirrored[0].back(), '\n');

    std::filesystem::create_directory(missing);
    logger.log(LogLevel::Debug, "after the folder appeared");
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
