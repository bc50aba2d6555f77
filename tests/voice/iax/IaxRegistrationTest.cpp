#include "voice/iax/IaxEngineFixture.h"

using namespace std::chrono_literals;

namespace {
bool isRegistrationResult(const VoiceEvent& event) {
    return event.type == VoiceEvent::Result && (event.resultCode == 1 || event.resultCode == 2);
}
}  // namespace

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

TEST_F(IaxEngineTest, UnregisterReleasesTheUsersRegistrationsAnsweringTheChallenge) {
    registerAccepted(2);
    ASSERT_EQ(engine_->iaxc_unregister_user("1001", "pw1001", "127.0.0.1"), 0);  // port 4569: not this switch
    ASSERT_EQ(engine_->iaxc_unregister_user("1001", "pw1001", peer_.hostPort()), 0);
    auto release = peer_.expect(Peer::Iax, Peer::RegRel);
    ASSERT_TRUE(release);
    EXPECT_EQ(release->text(Peer::Username), "1001");
    peer_.reply(*release, Peer::Iax, Peer::RegAuth,
                Peer::join(Peer::element16(Peer::AuthMethods, 2), Peer::element(Peer::Challenge, "777")));
    release = peer_.expect(Peer::Iax, Peer::RegRel);
    ASSERT_TRUE(release);
    EXPECT_EQ(release->text(Peer::Md5Result), md5Hex("777pw1001"));
    peer_.reply(*release, Peer::Iax, Peer::RegAck);
    // Forgotten: no refresh follows, and no event either way.
    EXPECT_FALSE(peer_.expect(Peer::Iax, Peer::RegReq, 400ms));
    EXPECT_EQ(events_.count(isRegistrationResult), 1);
    EXPECT_EQ(engine_->iaxc_unregister_user("1001", "pw1001", "no-such-host.invalid"), -1);
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
