#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <fstream>

#include "infra/InstanceGuard.h"
#include "infra/LeadingInt.h"
#include "infra/SettingsStore.h"
#include "infra/SocketErrorText.h"
#include "support/TempDir.h"

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    SettingsStoreTest() { SettingsStore::useFolder(dir.str()); }

    TempDir dir;
    std::vector<std::pair<std::string, std::string>> reports;
    SettingsStore store{[this](const std::string& text, const std::string& caption) {
        reports.emplace_back(text, caption);
    }};
};

}  // namespace

TEST_F(SettingsStoreTest, FirstRunReadsNothingAndReportsNothing) {
    std::string text = "previous";
    std::uint32_t number = 7;
    EXPECT_FALSE(store.readRegistryValue("Switch host", text));
    EXPECT_FALSE(store.readRegistryValue("Switch port", number));
    EXPECT_EQ(text, "");
    EXPECT_EQ(number, 7u);
    EXPECT_TRUE(reports.empty());
}

TEST_F(SettingsStoreTest, KeepsStringsAndNumbersUnderTheirNames) {
    store.writeRegistryValue("Switch host", std::string("cti.example"));
    store.writeRegistryValue("Switch port", std::uint32_t{8765});
    store.writeRegistryValue("Dial String 1", std::string("0612 34"));
    std::string host;
    std::uint32_t port = 0;
    std::string dial;
    EXPECT_TRUE(store.readRegistryValue("Switch host", host));
    EXPECT_TRUE(store.readRegistryValue("Switch port", port));
    EXPECT_TRUE(store.readRegistryValue("Dial String 1", dial));
    EXPECT_EQ(host, "cti.example");
    EXPECT_EQ(port, 8765u);
    EXPECT_EQ(dial, "0612 34");
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "Brennic" / "Orvane.conf"));
    EXPECT_FALSE(store.readRegistryValue("Agent identification", host));
    EXPECT_TRUE(reports.empty());
}

TEST_F(SettingsStoreTest, ValuesTooLongOrNotNumbersAreReportedAndEmptied) {
    store.writeRegistryValue("Switch host", std::string(120, 'h'));
    store.writeRegistryValue("Switch port", std::string("eighty"));
    std::string host = "kept?";
    std::uint32_t port = 1;
    EXPECT_FALSE(store.readRegistryValue("Switch host", host));
    EXPECT_EQ(host, "");
    EXPECT_FALSE(store.readRegistryValue("Switch port", port));
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].first, "RegQueryValueEx [Switch host] failed. Error:[234].");
    EXPECT_EQ(reports[0].second, "Registry Error");
}

TEST(InstanceGuard, OnlyOneHolderOfTheLockAtATime) {
    TempDir dir;
    const std::string file = dir.str() + "/Orvane.lock";
    {
        InstanceGuard first(file);
        InstanceGuard second(file);
        EXPECT_EQ(first.acquire(), InstanceGuard::Result::FirstInstance);
        EXPECT_EQ(second.acquire(), InstanceGuard::Result::AlreadyRunning);
    }
    InstanceGuard later(file);
    EXPECT_EQ(later.acquire(), InstanceGuard::Result::FirstInstance);
    InstanceGuard nowhere(dir.str() + "/missing/Orvane.lock");
    EXPECT_EQ(nowhere.acquire(), InstanceGuard::Result::Unavailable);
}

TEST(SocketErrorText, UsesTheWindowsSocketsCodesAndSentences) {
    EXPECT_EQ(socketErrorText(ECONNRESET).rfind("Error:[10054]. The virtual circuit was reset", 0), 0u);
    EXPECT_EQ(socketErrorText(EAGAIN),
              "Error:[10035]. The socket is marked as nonblocking and the receive operation would block.");
    EXPECT_EQ(socketErrorText(EPIPE), "Error:[32]. Unknown error.");
    EXPECT_EQ(socketErrorCode(ETIMEDOUT), 10060);
}

TEST(LeadingInt, ReadsLikeAtoiWithoutOverflow) {
    EXPECT_EQ(leadingInt("58"), 58);
    EXPECT_EQ(leadingInt("58abc"), 58);
    EXPECT_EQ(leadingInt("  -12x"), -12);
    EXPECT_EQ(leadingInt("abc"), 0);
    EXPECT_EQ(leadingInt(""), 0);
    EXPECT_EQ(leadingInt("99999999999999999999"), INT_MAX);
    EXPECT_EQ(leadingInt("-99999999999999999999"), INT_MIN);
}
