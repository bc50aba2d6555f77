#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace {

using Mode = ProgramOptions::Mode;

CommandLine parse(std::vector<std::string> arguments, std::optional<std::string> environmentPassword = std::nullopt) {
    return parseCommandLine(arguments, environmentPassword);
}

std::string refusal(std::vector<std::string> arguments) {
    const CommandLine result = parse(std::move(arguments));
    EXPECT_FALSE(result.options.has_value());
    return result.error;
}

}  // namespace

TEST(CommandLineTest, TheWindowIsTheDefaultAndEachModeHasItsOption) {
    const CommandLine plain = parse({});
    ASSERT_TRUE(plain.options);
    EXPECT_EQ(plain.options->mode, Mode::Windowed);
    EXPECT_FALSE(plain.options->loginAtStart) << "the login dialog asks";
    EXPECT_EQ(plain.options->clientPort, 8767);
    EXPECT_EQ(plain.options->iaxPort, 4569);
    EXPECT_EQ(parse({"--headless"}).options->mode, Mode::Headless);
    EXPECT_TRUE(parse({"--headless"}).options->loginAtStart) << "headless logs in with the stored settings";
    EXPECT_EQ(parse({"--dump-transitions"}).options->mode, Mode::DumpTransitions);
    EXPECT_EQ(parse({"--version"}).options->mode, Mode::Version);
    EXPECT_EQ(parse({"-h"}).options->mode, Mode::Help);
    EXPECT_EQ(parse({"--headless", "--help"}).options->mode, Mode::Help);
}

TEST(CommandLineTest, ALoginGivenOnTheCommandLineIsMadeAtStart) {
    const CommandLine given = parse({"--agent", "1001", "--cti", "cti.example:9000", "--client-port", "18767",
                                     "--iax-port", "0"});
    ASSERT_TRUE(given.options) << given.error;
    EXPECT_TRUE(given.options->loginAtStart);
    EXPECT_EQ(given.options->login.agentId, "1001");
    EXPECT_EQ(given.options->login.host, "cti.example");
    EXPECT_EQ(given.options->login.port, "9000");
    EXPECT_EQ(given.options->clientPort, 18767);
    EXPECT_EQ(given.options->iaxPort, 0);
    const CommandLine hostOnly = parse({"--cti", "cti.example"});
    ASSERT_TRUE(hostOnly.options);
    EXPECT_EQ(hostOnly.options->login.port, "") << "the stored port is kept";
}

// Bad values are refused before the phone starts, so nothing wrong is ever stored.
TEST(CommandLineTest, BadValuesAreRefusedWithTheirReason) {
    EXPECT_EQ(refusal({"--bogus"}), "Unknown option 'bogus'.");
    EXPECT_EQ(refusal({"extra"}), "unexpected argument 'extra'");
    EXPECT_EQ(refusal({"--agent", ""}), "the agent ID given with --agent is empty");
    EXPECT_NE(refusal({"--agent", "10"}).find("is not valid"), std::string::npos);
    EXPECT_NE(refusal({"--agent", "10^01"}).find("is not valid"), std::string::npos);
    EXPECT_EQ(refusal({"--cti", ":8765"}), "--cti ':8765' names no host");
    EXPECT_EQ(refusal({"--cti", "  :8765"}), "--cti '  :8765' names no host");
    for (const char* port : {"0", "65536", "87a5", "", "-1"})
        EXPECT_EQ(refusal({"--cti", std::string("host:") + port}),
                  "--cti 'host:" + std::string(port) + "': the port must be a number from 1 to 65535");
    EXPECT_EQ(refusal({"--client-port", "0"}), "--client-port must be a number from 1 to 65535");
    EXPECT_EQ(refusal({"--iax-port", "70000"}), "--iax-port must be a number from 0 to 65535");
    EXPECT_EQ(refusal({"--agent"}), "Missing value after '--agent'.");
}

// A password on the command line shows in the process list; the environment and standard
// input keep it private.
TEST(CommandLineTest, ThePasswordComesFromTheOptionTheEnvironmentOrStandardInput) {
    EXPECT_EQ(parse({}, "secret").options->login.password, "secret");
    EXPECT_FALSE(parse({}, "secret").options->loginAtStart) << "a password alone does not log in";
    EXPECT_EQ(parse({"--password", "given"}, "secret").options->login.password, "given");
    const CommandLine fromInput = parse({"--password-stdin"}, "secret");
    ASSERT_TRUE(fromInput.options);
    EXPECT_TRUE(fromInput.options->passwordFromInput);
    EXPECT_EQ(fromInput.options->login.password, "") << "read later, from the input, not the environment";
    EXPECT_EQ(refusal({"--password", "a", "--password-stdin"}), "--password and --password-stdin both give the password");
    EXPECT_NE(refusal({"--password", "pass word"}).find("password is not valid"), std::string::npos);
    EXPECT_FALSE(parse({}, std::string(19, 'p')).options.has_value()) << "a 19-character password";
}
