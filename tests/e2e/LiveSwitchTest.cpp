// The whole phone against a lab switch that misbehaves the way a real one does mid-shift: it
// goes away under a logged-in, ready agent and comes back on the same port; it is released at
// logout through its call token and challenge; it is flooded with datagrams.

#include <algorithm>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "LivePhoneFixture.h"

namespace {

constexpr auto kSwitchOutage = 75s;  // production length; the fixture's scale applies

// A peer of the test's own on loopback, sending raw datagrams to the phone's IAX2 port.
class RawIaxPeer {
public:
    explicit RawIaxPeer(int phonePort) : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        phone_.sin_family = AF_INET;
        phone_.sin_port = htons(static_cast<std::uint16_t>(phonePort));
        phone_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    ~RawIaxPeer() { ::close(fd_); }
    RawIaxPeer(const RawIaxPeer&) = delete;
    RawIaxPeer& operator=(const RawIaxPeer&) = delete;

    void send(const std::vector<std::uint8_t>& datagram, int times = 1) const {
        for (int i = 0; i < times; ++i)
            ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&phone_),
                     sizeof phone_);
    }
    // Pokes the phone until it answers with a PONG: everything sent before has been read.
    bool pokedAndAnswered() const {
        const std::vector<std::uint8_t> poke = {0x83, 0xE7, 0, 0, 0, 0, 0, 5, 0, 0, 6, 30, 54, 0};
        for (int attempt = 0; attempt < 50; ++attempt) {
            send(poke);
            pollfd readable{fd_, POLLIN, 0};
            std::uint8_t answer[64];
            while (::poll(&readable, 1, 200) > 0) {
                const ssize_t size = ::recv(fd_, answer, sizeof answer, 0);
                if (size >= 12 && answer[10] == 6 && answer[11] == 3) return true;  // IAX PONG
            }
        }
        return false;
    }

private:
    const int fd_;
    sockaddr_in phone_{};
};

class LiveSwitchTest : public LivePhoneFixture {
protected:
    static std::chrono::milliseconds scaled(std::chrono::milliseconds production) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Timing::scaled(production));
    }
};

}  // namespace

// The switch vanishes under a ready agent: the agent channel's keep-alive goes unanswered, the
// engine gives the call up and the agent is no longer shown Ready; the failed refresh shows on
// the ticker while the loop keeps running. The switch comes back on the same port, without
// its registrations: the phone registers again within one refresh period, says so, and the
// next Ready works.
TEST_F(LiveSwitchTest, TheSwitchRestartedUnderAReadyAgentIsRegisteredWithAgainAndTheNextReadyWorks) {
    loginNotReady();
    const int channel = goReady();
    ASSERT_GE(channel, 0);
    const std::uint16_t port = switchboard.port();

    const auto stopped = std::chrono::steady_clock::now();
    switchboard.stop();
    ASSERT_TRUE(waitForState(agent::AgentNotReady, kWait + scaled(intervals::kIaxCallPing)))
        << "the agent is still shown Ready on a dead line";
    EXPECT_FALSE(core->lines().lineIsUp(0));
    EXPECT_TRUE(log.contains("Set line 1 status DOWN"));
    EXPECT_TRUE(log.waitFor("Ticker text was change for [Switch registration lost, retrying...]",
                            kWait + scaled(intervals::kIaxRegistrationRefresh)));
    EXPECT_TRUE(log.contains("SwitchRegistration::registrationRejected(): Registration with the switch [127.0.0.1:" +
                             std::to_string(port) + "] lost, registering again"));
    EXPECT_FALSE(log.contains("Registration rejected from switch !"));
    std::this_thread::sleep_until(stopped + scaled(kSwitchOutage));

    ASSERT_TRUE(switchboard.start());
    ASSERT_EQ(switchboard.port(), port);
    const auto restarted = std::chrono::steady_clock::now();
    // One refresh period, and some room for a loaded machine.
    ASSERT_TRUE(switchboard.waitForRegistration(kAgent, scaled(intervals::kIaxRegistrationRefresh) + 3s));
    const auto reRegistered = std::chrono::duration<double>(std::chrono::steady_clock::now() - restarted).count();
    RecordProperty("seconds_to_register_again", std::to_string(reRegistered));
    EXPECT_TRUE(log.waitFor("Ticker text was change for [Switch registration restored]", kWait));
    EXPECT_TRUE(log.contains("SwitchRegistration::registrationAccepted(): Registered with the switch [127.0.0.1:" +
                             std::to_string(port) + "] again"));

    EXPECT_GE(goReady(), 0);
}

// Logout releases the registration through the switch's call token and MD5 challenge, and
// the switch forgets the agent: it no longer has an address to send calls to.
TEST_F(LiveSwitchTest, AfterLogoutTheSwitchNoLongerHasTheAgentRegistered) {
    loginNotReady();
    buttons->OnBnClickedButtonLogout();
    ASSERT_TRUE(waitForState(agent::AgentLoggedOut));
    ASSERT_TRUE(switchboard.waitForUnregistration(kAgent, kWait));
    EXPECT_TRUE(switchboard.waitFor("REGREL username=" + kAgent + " md5=", kWait))
        << "the release did not answer the challenge";
    EXPECT_FALSE(switchboard.originate(kAgent, "5551234"));
    EXPECT_TRUE(eventually([&] { return log.contains("1505 !!!!!!!!! iaxc_stop_processing_thread !!!!!!!!!!"); }));
}

// A peer floods the phone's IAX2 port with well-formed frames for no call: what reaches the
// log stays at a few lines a second, and the agent's registration and state are untouched.
TEST_F(LiveSwitchTest, AFloodOfFramesForNoCallCostsTheLogAFewLinesASecond) {
    loginNotReady();
    const RawIaxPeer peer(voice->boundPort());
    const std::size_t linesBefore = log.lines().size();
    const auto start = std::chrono::steady_clock::now();
    // A REGREQ from call 600 to call 0: well formed, and nothing the phone takes.
    peer.send({0x82, 0x58, 0, 0, 0, 0, 0, 1, 0, 0, 6, 13, 6, 1, 'x'}, 5000);
    ASSERT_TRUE(peer.pokedAndAnswered());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // What the datagrams cost is what the engine's receiving thread logged meanwhile; other
    // threads (the lab, the ticker's idle clearing) go on with their own lines.
    const std::vector<std::string> all = log.lines();
    const auto flood = all.begin() + static_cast<std::ptrdiff_t>(linesBefore);
    const auto result = std::find_if(flood, all.end(), [](const std::string& line) {
        return LogCapture::messageOf(line) ==
               "iaxc_callback(): Type: IAXC_EVENT_RESULT: 258, data[0] message [] on call[-1]";
    });
    ASSERT_NE(result, all.end());
    const std::string receiver = LogCapture::threadOf(*result);
    std::string shown;
    std::size_t lines = 0;
    for (std::size_t line = linesBefore; line < all.size(); ++line) {
        if (LogCapture::threadOf(all[line]) != receiver) continue;
        ++lines;
        shown += all[line];
    }
    RecordProperty("log_lines_under_flood", std::to_string(lines));
    EXPECT_LE(static_cast<double>(lines), 4 * (seconds + 1))
        << lines << " log lines in " << seconds << " s:\n" << shown;
    EXPECT_TRUE(switchboard.registered(kAgent));
    EXPECT_EQ(core->stateMachine().state(), agent::AgentNotReady);
}
