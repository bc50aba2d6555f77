// The protocol side's timers, on a simulated clock with production intervals: the processing
// loop sleeps until nextDue(), so after every tick nothing may be left due at that instant
// (the loop would spin), and a quiet engine must have few wake-ups.

#include <gtest/gtest.h>

#include "infra/Timing.h"
#include "voice/engine/iax/FrameRouter.h"
#include "voice/engine/iax/IaxDialString.h"
#include "voice/iax/ScriptedIaxPeer.h"

using namespace std::chrono_literals;

namespace {

using iax::Clock;

// The engine's datagrams: the call number each came from and its wire subclass.
struct EngineDatagrams : DatagramSender {
    std::vector<Bytes> sent;
    void send(const PeerAddress&, std::span<const std::uint8_t> datagram) override {
        sent.emplace_back(datagram.begin(), datagram.end());
    }
    std::uint16_t lastSource() const {
        return static_cast<std::uint16_t>((sent.back()[0] & 0x7F) << 8 | sent.back()[1]);
    }
};

class IaxTimers : public ::testing::Test {
protected:
    IaxTimers() {
        Timing::setScale(1.0);
        lines.setCount(3);
    }

    // Runs the timers as the loop would until `end`; how many times the loop woke.
    int runUntil(Clock::time_point end) {
        int wakeUps = 0;
        for (auto due = router.nextDue(); due && *due <= end && wakeUps < 1000; due = router.nextDue()) {
            EXPECT_GT(*due, now) << "due again at the instant it last ran";
            now = std::max(now, *due);
            router.tick(now);
            ++wakeUps;
        }
        now = end;
        return wakeUps;
    }
    // A frame from the switch on the exchange the engine's last datagram belongs to.
    void answer(std::uint8_t type, std::uint8_t subclass, std::uint8_t oseq, std::uint8_t iseq, const Bytes& payload = {}) {
        router.receive(ScriptedIaxPeer::encode(700, out.lastSource(), 5, oseq, iseq, type, subclass, payload), peer, now);
    }
    std::vector<int> results() {
        std::vector<int> codes;
        while (auto item = outbox.take())
            if (const auto* event = std::get_if<VoiceEvent>(&*item); event && event->type == VoiceEvent::Result)
                codes.push_back(event->resultCode);
        return codes;
    }

    Clock::time_point now{std::chrono::hours(1)};
    const PeerAddress peer = *PeerAddress::resolve("127.0.0.1", 4569);
    EngineDatagrams out;
    iax::Outbox outbox;
    iax::LogThrottle throttle;
    iax::DialogTable dialogs{0};
    iax::CodecPolicy codecs{iax_format::Ulaw};
    iax::Registrations registrations{dialogs, out, outbox, throttle};
    iax::Lines lines{dialogs, out, outbox, registrations, codecs, throttle};
    iax::FrameRouter router{dialogs, lines, registrations, out, outbox, throttle};
};

}  // namespace

TEST_F(IaxTimers, AnIdleRegistrationWakesForItsRefreshAndALostOneForItsRetries) {
    EXPECT_FALSE(router.nextDue());  // nothing to do: sleep until a datagram
    registrations.add("1001", "pw1001", peer, now);
    answer(ScriptedIaxPeer::Iax, ScriptedIaxPeer::RegAck, 0, 1, ScriptedIaxPeer::element16(ScriptedIaxPeer::Refresh, 60));
    EXPECT_EQ(results(), std::vector<int>{VoiceEvent::RegistrationAccepted});
    // The ended exchange lingers 10 s, then the refresh is due at 54 s.
    EXPECT_EQ(runUntil(now + 53s), 1);

    // From here the switch is silent for ten minutes: a refresh, resends, a give-up, retries.
    const int wakeUps = runUntil(now + 10min);
    EXPECT_LE(wakeUps, 200);
    EXPECT_EQ(results(), std::vector<int>{VoiceEvent::RegistrationRejected});
}

TEST_F(IaxTimers, ACallWakesForItsKeepAliveAndEndsWhenTheSwitchStopsAnswering) {
    const auto dial = iax::parseDialString("1001:pw@127.0.0.1/ZQ1001");
    ASSERT_EQ(lines.place(0, *dial, "1001:pw@127.0.0.1/ZQ1001", peer, now), 0);
    answer(ScriptedIaxPeer::Iax, ScriptedIaxPeer::Accept, 0, 1, ScriptedIaxPeer::element32(ScriptedIaxPeer::Format, 4));
    answer(ScriptedIaxPeer::Control, ScriptedIaxPeer::Answer, 1, 1);
    // PINGs every 20 s, each acknowledged, for a minute.
    for (int ping = 0; ping < 3; ++ping) {
        runUntil(now + 20s);
        ASSERT_EQ(out.sent.back()[11], ScriptedIaxPeer::Ping);
        const std::uint8_t pingSequence = out.sent.back()[8];
        router.receive(ScriptedIaxPeer::encode(700, out.lastSource(), 5, 2, static_cast<std::uint8_t>(pingSequence + 1),
                                               ScriptedIaxPeer::Iax, ScriptedIaxPeer::Ack),
                       peer, now);
    }
    // Silence: the next PING's resends give up, the call ends, and nothing is left to wake for.
    EXPECT_LE(runUntil(now + 2min), 20);
    bool ended = false;
    while (auto item = outbox.take())
        if (const auto* event = std::get_if<VoiceEvent>(&*item); event && event->type == VoiceEvent::State)
            ended = event->state == 0;
    EXPECT_TRUE(ended);
    EXPECT_FALSE(router.nextDue());
}
