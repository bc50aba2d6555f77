#include "voice/engine/iax/IaxWire.h"
#include "voice/engine/iax/Registrations.h"
#include "voice/iax/IaxEngineFixture.h"

using namespace std::chrono_literals;

namespace {
bool isRegistrationResult(const VoiceEvent& event) {
    return event.type == VoiceEvent::Result && (event.resultCode == 1 || event.resultCode == 2);
}

// The registrations' own datagrams, as the registrar would see them.
struct RegistrarSide : DatagramSender {
    std::vector<iax::FullFrame> frames;
    std::vector<std::vector<std::uint8_t>> bytes;
    void send(const PeerAddress&, std::span<const std::uint8_t> datagram) override {
        bytes.emplace_back(datagram.begin(), datagram.end());
        frames.push_back(iax::parseDatagram(bytes.back()).full);
    }
};
}  // namespace

// A registration that was accepted and then stops being refreshed is reported lost once, asked
// for again after 1, 2, 4 ... 60 s (production intervals, on a simulated clock), and reported
// accepted when the registrar takes it again; the next loss starts the waits afresh.
TEST(RegistrationRetries, ALostRegistrationIsReportedOnceAndAskedForAgainWithGrowingWaits) {
    using namespace iax;
    Timing::setScale(1.0);
    RegistrarSide registrar;
    Outbox outbox;
    LogThrottle throttle;
    DialogTable dialogs(0);
    Registrations registrations(dialogs, registrar, outbox, throttle);
    const PeerAddress switchAddress = *PeerAddress::resolve("127.0.0.1", 4569);
    Clock::time_point now{std::chrono::hours(1)};
    std::vector<int> results;
    const auto collectResults = [&] {
        while (auto item = outbox.take())
            if (const auto* event = std::get_if<VoiceEvent>(&*item)) results.push_back(event->resultCode);
    };
    // The exchange the last request opened, as the registrar answers or drops it.
    const auto exchange = [&]() -> Dialog& { return *dialogs.find(registrar.frames.back().sourceCall); };
    const auto answer = [&](std::uint32_t command) {
        FullFrame frame;
        frame.type = kIax;
        frame.subclass = command;
        ASSERT_TRUE(registrations.handle(exchange(), frame, ElementList{}, now));
    };

    registrations.add("1001", "pw1001", switchAddress, now);
    answer(kRegAck);
    collectResults();
    EXPECT_EQ(results, std::vector<int>{VoiceEvent::RegistrationAccepted});
    ASSERT_TRUE(registrations.nextDue());
    EXPECT_EQ(*registrations.nextDue() - now, 54s);  // nine tenths of the 60 s granted

    const std::chrono::seconds waits[] = {1s, 2s, 4s, 8s, 16s, 32s, 60s, 60s};
    for (const auto wait : waits) {
        now = *registrations.nextDue();
        const std::size_t sent = registrar.frames.size();
        registrations.refresh(now);
        ASSERT_EQ(registrar.frames.size(), sent + 1);
        EXPECT_EQ(registrar.frames.back().subclass, kRegReq);
        registrations.lost(exchange(), now);  // its resends gave up
        dialogs.forget(registrar.frames.back().sourceCall);
        ASSERT_TRUE(registrations.nextDue());
        EXPECT_EQ(*registrations.nextDue() - now, wait);
    }
    collectResults();
    EXPECT_EQ(results, (std::vector<int>{VoiceEvent::RegistrationAccepted, VoiceEvent::RegistrationRejected}));

    now = *registrations.nextDue();
    registrations.refresh(now);
    answer(kRegAck);
    collectResults();
    EXPECT_EQ(results.back(), VoiceEvent::RegistrationAccepted);
    EXPECT_EQ(*registrations.nextDue() - now, 54s);

    now = *registrations.nextDue();
    registrations.refresh(now);
    answer(kRegRej);  // a registrar that refuses is asked again as well
    EXPECT_EQ(*registrations.nextDue() - now, 1s);
    collectResults();
    EXPECT_EQ(results.back(), VoiceEvent::RegistrationRejected);
}

// The same on the wire: the refresh goes unanswered until its resends give up, the loss is
// reported, and the next request, answered, brings the registration back.
TEST_F(IaxEngineTest, ARefreshThatGoesUnansweredIsReportedAndTheRegistrationAskedForAgain) {
    registerAccepted(2);
    const auto refresh = peer_.expect(Peer::Iax, Peer::RegReq, 2s);
    ASSERT_TRUE(refresh);
    ASSERT_TRUE(events_.waitFor(EventLog::result(VoiceEvent::RegistrationRejected, "Registration rejected")));
    const auto retry = peer_.next(
        [&](const PeerFrame& f) {
            return f.is(Peer::Iax, Peer::RegReq) && !f.retransmitted && f.source != refresh->source;
        },
        2s);
    ASSERT_TRUE(retry);
    peer_.reply(*retry, Peer::Iax, Peer::RegAck, Peer::element16(Peer::Refresh, 60));
    ASSERT_TRUE(events_.waitFor(EventLog::result(VoiceEvent::RegistrationAccepted, "Registration accepted"), 2));
    EXPECT_EQ(events_.count(EventLog::result(VoiceEvent::RegistrationRejected, "Registration rejected")), 1);
}

TEST_F(IaxEngineTest, RegistrationIsAcceptedOnceAndRefreshedBeforeTheGrantRunsOut) {
    registerAccepted(2);  // refreshed after 9/10 of 2 s, scaled: 90 ms
    auto refresh = peer_.expect(Peer::Iax, Peer::RegReq, 2s);
    ASSERT_TRUE(refresh);
    EXPECT_EQ(refresh->destination, 0);  // a new exchange, with its own token round
    EXPECT_TRUE(refresh->has(Peer::CallTokenElement));
    peer_.reply(*refresh, Peer::Iax, Peer::RegAck, Peer::element16(Peer::Refresh, 60));
    ASSERT_TRUE(peer_.expect(Peer::Iax, Peer::Ack));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(events_.count(isRegistrationResult), 1);
    EXPECT_EQ(events_.all().back().callNo, -1);
}

TEST_F(IaxEngineTest, RegistrationRejectedOrUnansweredIsReportedAsRejected) {
    ASSERT_GT(engine_->iaxc_register("1001", "wrong", peer_.hostPort()), 0);
    auto request = peer_.expect(Peer::Iax, Peer::RegReq);
    ASSERT_TRUE(request);
    peer_.replyStateless(*request, Peer::Iax, Peer::RegRej, Peer::element(Peer::Cause, "Registration Refused"));
    ASSERT_TRUE(events_.waitFor(EventLog::result(VoiceEvent::RegistrationRejected, "Registration rejected")));
    ASSERT_TRUE(peer_.expect(Peer::Iax, Peer::Ack));  // the REGREJ was acknowledged

    ASSERT_GT(engine_->iaxc_register("1002", "pw", peer_.hostPort()), 0);
    ASSERT_TRUE(peer_.expect(Peer::Iax, Peer::RegReq));
    // No answer: the retransmissions give up after 10 s (500 ms here).
    EXPECT_TRUE(events_.waitFor(EventLog::result(VoiceEvent::RegistrationRejected, "Registration rejected"), 2));

    EXPECT_EQ(engine_->iaxc_register("1003", "pw", "no-such-host.invalid:4569"), -1);
    EXPECT_EQ(engine_->iaxc_register("1003", "pw", "127.0.0.1:notaport"), -1);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(events_.count(isRegistrationResult), 2);
}

TEST_F(IaxEngineTest, UnregisterReleasesTheUsersRegistrationsThroughTheTokenAndTheChallenge) {
    registerAccepted(2);
    ASSERT_EQ(engine_->iaxc_unregister_user("1001", "pw1001", "127.0.0.1"), 0);  // port 4569: not this switch
    ASSERT_EQ(engine_->iaxc_unregister_user("1001", "pw1001", peer_.hostPort()), 1);
    auto release = peer_.expect(Peer::Iax, Peer::RegRel);
    ASSERT_TRUE(release);
    EXPECT_EQ(release->text(Peer::Username), "1001");
    EXPECT_TRUE(release->has(Peer::CallTokenElement));
    peer_.replyStateless(*release, Peer::Iax, Peer::CallToken, Peer::element(Peer::CallTokenElement, "token-9"));
    release = peer_.expect(Peer::Iax, Peer::RegRel);
    ASSERT_TRUE(release);
    EXPECT_EQ(release->text(Peer::CallTokenElement), "token-9");
    peer_.reply(*release, Peer::Iax, Peer::RegAuth,
                Peer::join(Peer::element16(Peer::AuthMethods, 2), Peer::element(Peer::Challenge, "777")));
    release = peer_.expect(Peer::Iax, Peer::RegRel);
    ASSERT_TRUE(release);
    EXPECT_EQ(release->text(Peer::Md5Result), md5Hex("777pw1001"));
    EXPECT_FALSE(
        events_.waitFor(EventLog::result(VoiceEvent::RegistrationReleased, "Registration released: REGACK"), 1, 50ms));
    peer_.reply(*release, Peer::Iax, Peer::RegAck);
    EXPECT_TRUE(events_.waitFor(EventLog::result(VoiceEvent::RegistrationReleased, "Registration released: REGACK")));
    // Forgotten: no refresh follows, and no registration result either way.
    EXPECT_FALSE(peer_.expect(Peer::Iax, Peer::RegReq, 400ms));
    EXPECT_EQ(events_.count(isRegistrationResult), 1);
    EXPECT_EQ(engine_->iaxc_unregister_user("1001", "pw1001", "no-such-host.invalid"), -1);
}

TEST_F(IaxEngineTest, AReleaseTheSwitchNeverAnswersEndsAfterTheGiveUp) {
    registerAccepted();
    ASSERT_EQ(engine_->iaxc_unregister_user("1001", "pw1001", peer_.hostPort()), 1);
    ASSERT_TRUE(peer_.expect(Peer::Iax, Peer::RegRel));
    EXPECT_TRUE(
        events_.waitFor(EventLog::result(VoiceEvent::RegistrationReleased, "Registration released: no answer")));
    EXPECT_EQ(engine_->iaxc_unregister_user("1001", "pw1001", peer_.hostPort()), 0);  // nothing left to release
}

TEST_F(IaxEngineTest, DialWithoutSecretAnswersTheChallengeWithTheRegistrationsSecretAfterTheTokenRound) {
    registerAccepted();
    ASSERT_EQ(engine_->iaxc_call(dialString("ZQ1001", "1001")), 0);
    auto request = peer_.expect(Peer::Iax, Peer::New);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->text(Peer::CalledNumber), "ZQ1001");
    EXPECT_EQ(request->text(Peer::Username), "1001");
    EXPECT_EQ(request->text(Peer::CallingNumber), "1000");
    EXPECT_EQ(request->text(Peer::CallTokenElement), "");
    peer_.replyStateless(*request, Peer::Iax, Peer::CallToken, Peer::element(Peer::CallTokenElement, "t2"));
    request = peer_.expect(Peer::Iax, Peer::New);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->text(Peer::CallTokenElement), "t2");
    EXPECT_EQ(request->oseq, 0);
    const std::uint16_t call = peer_.reply(*request, Peer::Iax, Peer::AuthReq,
                                           Peer::join(Peer::element16(Peer::AuthMethods, 2),
                                                      Peer::element(Peer::Challenge, "99")));
    const auto reply = peer_.expect(Peer::Iax, Peer::AuthRep);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->text(Peer::Md5Result), md5Hex("99pw1001"));
    peer_.sendOn(call, Peer::Iax, Peer::Accept, Peer::element32(Peer::Format, 4));
    EXPECT_TRUE(events_.waitFor(EventLog::state(0, kActiveOutgoing | VoiceEvent::Ringing | kSelected)));
}
