#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "infra/Timing.h"
#include "lab/LabTestWaits.h"
#include "lab/switch/IaxTestPhone.h"
#include "lab/switch/LabSwitch.h"
#include "lab/switch/LabWav.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using namespace testiax;

constexpr auto kSwitchQuiet = 150ms;  // for what must not

LabSwitchOptions labOptions() {
    LabSwitchOptions options;
    options.users = {{"1001", "pw1001"}, {"1002", "pw1002"}};
    options.ringTime = 2000ms;  // 20 ms at the test scale
    return options;
}

LabCallRoute route(const std::string& prefix, LabCallAnswer answer) {
    LabCallRoute route;
    route.prefix = prefix;
    route.answer = answer;
    return route;
}

class LabSwitchTest : public ::testing::Test {
protected:
    void SetUp() override {
        Timing::setScale(0.01);
        ASSERT_TRUE(lab.start());
        ASSERT_NE(lab.port(), 0);
        phone.setSwitchPort(lab.port());
    }
    void TearDown() override {
        lab.stop();
        Timing::setScale(1.0);
    }

    // REGREQ → REGAUTH → REGREQ with the digest; returns the switch's answer (ACKed).
    std::optional<Frame> registerWith(const std::string& user, const std::string& secret, Elements extra = {}) {
        Leg leg = phone.leg();
        Elements request = {{kUsername, user}, {kRefresh, u16(60)}};
        request.insert(request.end(), extra.begin(), extra.end());
        phone.sendIax(leg, kRegReq, request);
        const auto challenge = phone.expectOn(leg, kIax, kRegAuth, kWait);
        if (!challenge) return std::nullopt;
        EXPECT_EQ(challenge->element(kAuthMethods), u16(2));
        EXPECT_EQ(challenge->element(kUsername), user);
        phone.sendIax(leg, kRegReq,
                      {{kUsername, user}, {kMd5, md5Hex(challenge->element(kChallenge) + secret)}, {kRefresh, u16(60)}});
        auto answer = phone.next(kWait);
        if (answer) {
            phone.take(leg, *answer);
            phone.ack(leg, *answer);
        }
        return answer;
    }

    // NEW → AUTHREQ → AUTHREP; returns the switch's answer (ACCEPT or REJECT) on `leg`.
    std::optional<Frame> placeCall(Leg& leg, const std::string& called, std::uint32_t format = kUlaw,
                                   std::uint32_t capability = kUlaw | kAlaw | kGsm, const std::string& secret = "pw1001") {
        phone.sendIax(leg, kNew,
                      {{kVersion, u16(2)}, {kCalled, called}, {kCallingNumber, "1001"}, {kCallingName, "Agent 1001"},
                       {kFormat, u32(format)}, {kCapability, u32(capability)}, {kUsername, "1001"}});
        const auto challenge = phone.expectOn(leg, kIax, kAuthReq, kWait);
        if (!challenge) return std::nullopt;
        phone.sendIax(leg, kAuthRep, {{kMd5, md5Hex(challenge->element(kChallenge) + secret)}});
        auto answer = phone.next(kWait);
        if (answer) phone.take(leg, *answer);
        return answer;
    }

    // A call from the phone that the switch has answered; the call's id.
    std::optional<int> answeredCall(Leg& leg, const std::string& called) {
        const auto accept = placeCall(leg, called);
        if (!accept || !accept->is(kIax, kAccept)) return std::nullopt;
        phone.ack(leg, *accept);
        for (std::uint8_t control : {kRinging, kAnswer}) {
            const auto frame = phone.expectOn(leg, kControl, control, kWait);
            if (!frame) return std::nullopt;
            phone.ack(leg, *frame);
        }
        phone.acknowledgeVoiceOn(&leg);
        const auto call = lab.waitForCall([&](const LabCallInfo& info) { return info.called == called; }, kWait);
        return call ? std::optional<int>(call->id) : std::nullopt;
    }

    LabSwitch lab{labOptions()};
    Phone phone{0};
};

// ---- registration ----

TEST_F(LabSwitchTest, RegistersAUserWithAnMd5ChallengeAndRemembersItsAddress) {
    const auto answer = registerWith("1001", "pw1001");
    ASSERT_TRUE(answer);
    ASSERT_TRUE(answer->is(kIax, kRegAck));
    EXPECT_EQ(answer->element(kUsername), "1001");
    EXPECT_EQ(answer->element(kRefresh), u16(60));
    const std::string apparent = answer->element(kApparentAddress);
    ASSERT_EQ(apparent.size(), 16u);
    EXPECT_EQ(apparent.substr(2, 6), u16(phone.port()) + std::string("\x7f\x00\x00\x01", 4));

    ASSERT_TRUE(lab.waitForRegistration("1001", kWait));
    EXPECT_EQ(lab.registration("1001")->address, LabUdpAddress::loopback(phone.port()));
    EXPECT_FALSE(lab.registered("1002"));
    ASSERT_TRUE(lab.waitFor("ACK", kWait));
    const auto lines = lab.frames();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "REGREQ username=1001 refresh=60");
    EXPECT_TRUE(lines[1].starts_with("REGREQ username=1001 md5="));
}

TEST_F(LabSwitchTest, CapsTheRefreshAskedFor) {
    lab.configure([](LabSwitchOptions& options) { options.maxRefresh = 30; });
    const auto answer = registerWith("1001", "pw1001");
    ASSERT_TRUE(answer && answer->is(kIax, kRegAck));
    EXPECT_EQ(answer->element(kRefresh), u16(30));
    EXPECT_EQ(lab.registration("1001")->refresh, 30);
}

TEST_F(LabSwitchTest, RefusesAWrongSecretAndAnUnknownUser) {
    const auto wrong = registerWith("1001", "not-the-secret");
    ASSERT_TRUE(wrong);
    EXPECT_TRUE(wrong->is(kIax, kRegRej));
    EXPECT_EQ(wrong->element(kCause), "Registration Refused");

    Leg leg = phone.leg();
    phone.sendIax(leg, kRegReq, {{kUsername, "9999"}, {kRefresh, u16(60)}});
    EXPECT_TRUE(phone.expect(kIax, kRegRej, kWait));
    EXPECT_TRUE(lab.registrations().empty());
}

TEST_F(LabSwitchTest, RejectModeRefusesAndSilentModeAnswersNothingUntilSwitchedBack) {
    lab.configure([](LabSwitchOptions& options) { options.registrationMode = LabRegistrationMode::Reject; });
    Leg refused = phone.leg();
    phone.sendIax(refused, kRegReq, {{kUsername, "1001"}, {kRefresh, u16(60)}});
    EXPECT_TRUE(phone.expect(kIax, kRegRej, kWait));

    lab.configure([](LabSwitchOptions& options) { options.registrationMode = LabRegistrationMode::Silent; });
    Leg ignored = phone.leg();
    phone.sendIax(ignored, kRegReq, {{kUsername, "1001"}, {kRefresh, u16(60)}});
    phone.sendIax(ignored, kPing);
    EXPECT_TRUE(phone.drain(kSwitchQuiet).empty());
    EXPECT_EQ(lab.frames().back(), "PING");

    lab.configure([](LabSwitchOptions& options) { options.registrationMode = LabRegistrationMode::Accept; });
    const auto answer = registerWith("1001", "pw1001");
    EXPECT_TRUE(answer && answer->is(kIax, kRegAck));
}

TEST_F(LabSwitchTest, ReleaseRemovesTheRegistration) {
    ASSERT_TRUE(registerWith("1001", "pw1001"));
    ASSERT_TRUE(lab.waitForRegistration("1001", kWait));
    Leg leg = phone.leg();
    phone.sendIax(leg, kRegRel, {{kUsername, "1001"}, {kCause, "Exiting"}});
    const auto challenge = phone.expectOn(leg, kIax, kRegAuth, kWait);
    ASSERT_TRUE(challenge);
    phone.sendIax(leg, kRegRel, {{kUsername, "1001"}, {kMd5, md5Hex(challenge->element(kChallenge) + "pw1001")}});
    EXPECT_TRUE(phone.expect(kIax, kRegAck, kWait));
    EXPECT_TRUE(lab.waitForUnregistration("1001", kWait));
    EXPECT_TRUE(lab.waitFor("REGREL username=1001 md5=", kWait));
}

// As Asterisk does: a release needs a call token and answers the challenge, and afterwards the
// switch has no address for the user any more.
TEST_F(LabSwitchTest, AReleaseWithCallTokensGoesThroughTheTokenAndTheChallengeAndForgetsTheUser) {
    lab.configure([](LabSwitchOptions& options) { options.callTokens = true; });
    Leg first = phone.leg();
    phone.sendIax(first, kRegReq, {{kUsername, "1001"}, {kRefresh, u16(60)}, {kToken, ""}});
    const auto token = phone.expect(kIax, kCallToken, kWait);
    ASSERT_TRUE(token);
    ASSERT_TRUE(registerWith("1001", "pw1001", {{kToken, token->element(kToken)}}));
    ASSERT_TRUE(lab.waitForRegistration("1001", kWait));

    Leg bare = phone.leg();
    phone.sendIax(bare, kRegRel, {{kUsername, "1001"}});
    EXPECT_TRUE(phone.expect(kIax, kRegRej, kWait));
    EXPECT_TRUE(lab.registered("1001"));

    Leg leg = phone.leg();
    phone.sendIax(leg, kRegRel, {{kUsername, "1001"}, {kToken, ""}});
    const auto releaseToken = phone.expect(kIax, kCallToken, kWait);
    ASSERT_TRUE(releaseToken);
    Leg again{leg.local, 0, 0, 0};
    phone.sendIax(again, kRegRel, {{kUsername, "1001"}, {kToken, releaseToken->element(kToken)}});
    const auto challenge = phone.expectOn(again, kIax, kRegAuth, kWait);
    ASSERT_TRUE(challenge);
    phone.sendIax(again, kRegRel, {{kUsername, "1001"}, {kMd5, md5Hex(challenge->element(kChallenge) + "pw1001")}});
    EXPECT_TRUE(phone.expect(kIax, kRegAck, kWait));
    EXPECT_TRUE(lab.waitForUnregistration("1001", kWait));
    EXPECT_FALSE(lab.originate("1001", "5551234"));
}

TEST_F(LabSwitchTest, CallTokensMustComeBackBeforeARequestIsServed) {
    lab.configure([](LabSwitchOptions& options) { options.callTokens = true; });
    // Without the element the request is refused outright, as Asterisk does.
    Leg bare = phone.leg();
    phone.sendIax(bare, kRegReq, {{kUsername, "1001"}, {kRefresh, u16(60)}});
    EXPECT_TRUE(phone.expect(kIax, kRegRej, kWait));

    // An empty token is answered with a token; the request comes again carrying it.
    Leg leg = phone.leg();
    phone.sendIax(leg, kRegReq, {{kUsername, "1001"}, {kRefresh, u16(60)}, {kToken, ""}});
    const auto token = phone.expect(kIax, kCallToken, kWait);
    ASSERT_TRUE(token);
    EXPECT_EQ(token->destination, leg.local);
    const std::string value = token->element(kToken);
    ASSERT_FALSE(value.empty());
    phone.sendIax(leg, kRegReq, {{kUsername, "1001"}, {kRefresh, u16(60)}, {kToken, "1?forged"}});
    EXPECT_TRUE(phone.expect(kIax, kCallToken, kWait));

    const auto answer = registerWith("1001", "pw1001", {{kToken, value}});
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->is(kIax, kRegAck));

    // NEW too.
    Leg call = phone.leg();
    phone.sendIax(call, kNew, {{kVersion, u16(2)}, {kCalled, "ZQ1001"}, {kUsername, "1001"}, {kToken, ""}});
    const auto callToken = phone.expect(kIax, kCallToken, kWait);
    ASSERT_TRUE(callToken);
    Leg again{call.local, 0, 0, 0};
    phone.sendIax(again, kNew, {{kVersion, u16(2)}, {kCalled, "ZQ1001"}, {kUsername, "1001"},
                                 {kFormat, u32(kUlaw)}, {kCapability, u32(kUlaw)}, {kToken, callToken->element(kToken)}});
    EXPECT_TRUE(phone.expect(kIax, kAuthReq, kWait));
}

// ---- calls from the phone ----

TEST_F(LabSwitchTest, AnswersTheAgentChannelAfterTheRingTimeAndCarriesAudioBothWays) {
    Leg leg = phone.leg();
    const auto accept = placeCall(leg, "ZQ1001");
    ASSERT_TRUE(accept);
    ASSERT_TRUE(accept->is(kIax, kAccept));
    EXPECT_EQ(accept->element(kFormat), u32(kUlaw));
    phone.ack(leg, *accept);
    const auto ringing = phone.expectOn(leg, kControl, kRinging, kWait);
    ASSERT_TRUE(ringing);
    phone.ack(leg, *ringing);
    const auto ringingCall = lab.waitForCall([](const LabCallInfo& call) { return call.state == LabCallState::Ringing; }, kWait);
    ASSERT_TRUE(ringingCall);
    EXPECT_EQ(ringingCall->called, "ZQ1001");
    EXPECT_EQ(ringingCall->user, "1001");
    EXPECT_EQ(ringingCall->callerNumber, "1001");
    EXPECT_EQ(ringingCall->callerName, "Agent 1001");
    const auto answer = phone.expectOn(leg, kControl, kAnswer, kWait);
    ASSERT_TRUE(answer);
    phone.ack(leg, *answer);
    EXPECT_TRUE(lab.waitFor("NEW called=ZQ1001 username=1001 calling_number=1001 format=4 capability=14", kWait));

    phone.sendUlawTone(leg, 1000, 25, 100);
    phone.drain(400ms);
    const auto far = phone.takeUlawVoice();
    EXPECT_TRUE(hasTone(far, LabSwitchOptions::kFarPartyToneHertz, 1000)) << far.size() << " samples";
    ASSERT_FALSE(phone.fullVoiceFrames().empty() && far.empty());
    EXPECT_TRUE(hasTone(lab.receivedAudio(ringingCall->id), 1000, LabSwitchOptions::kFarPartyToneHertz));
    EXPECT_TRUE(hasTone(lab.heardAudio(ringingCall->id), 1000, LabSwitchOptions::kMusicOnHoldHertz));

    phone.sendIax(leg, kHangup, {{kCause, "Dumped Call"}});
    EXPECT_TRUE(phone.expect(kIax, kAck, kWait));
    const auto ended = lab.waitForCall([](const LabCallInfo& call) { return call.state == LabCallState::Ended; }, kWait);
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->endCause, "Dumped Call");
    EXPECT_TRUE(lab.waitFor("HANGUP cause=Dumped Call", kWait));
}

TEST_F(LabSwitchTest, TheFirstVoiceFrameIsFullAndTheRestAreMini) {
    Leg leg = phone.leg();
    ASSERT_TRUE(answeredCall(leg, "MCALL5551234^77"));
    const auto frames = phone.drain(200ms);
    ASSERT_EQ(phone.fullVoiceFrames().size(), 1u);
    EXPECT_EQ(phone.fullVoiceFrames().front().subclass, kUlaw);
    EXPECT_EQ(phone.fullVoiceFrames().front().payload.size(), 160u);
    EXPECT_GE(phone.voiceCount(), 6u);
    (void)frames;
}

TEST_F(LabSwitchTest, QuelchStopsTheAudioAndTheFarPartyHearsMusicOnHoldUntilUnquelch) {
    Leg leg = phone.leg();
    const auto id = answeredCall(leg, "ZQ1001");
    ASSERT_TRUE(id);
    phone.sendIax(leg, kQuelch, {{kMusicOnHold, ""}});
    ASSERT_TRUE(phone.expect(kIax, kAck, kWait));
    ASSERT_TRUE(lab.waitForCall([](const LabCallInfo& call) { return call.quelched && call.musicOnHold; }, kWait));
    phone.drain(60ms);
    phone.forgetVoice();
    const std::size_t heardBefore = lab.heardAudio(*id).size();
    phone.drain(300ms);
    EXPECT_EQ(phone.voiceCount(), 0u);
    const auto heard = lab.heardAudio(*id);
    const std::vector<std::int16_t> held(heard.begin() + static_cast<long>(heardBefore), heard.end());
    EXPECT_TRUE(hasTone(held, LabSwitchOptions::kMusicOnHoldHertz, LabSwitchOptions::kFarPartyToneHertz));

    phone.sendIax(leg, kUnquelch);
    ASSERT_TRUE(lab.waitForCall([](const LabCallInfo& call) { return !call.quelched && call.state == LabCallState::Answered; }, kWait));
    phone.drain(200ms);
    EXPECT_GT(phone.voiceCount(), 3u);
    EXPECT_TRUE(lab.waitFor("QUELCH moh", kWait));
    EXPECT_TRUE(lab.waitFor("UNQUELCH", kWait));
}

TEST_F(LabSwitchTest, RecordsDtmfAndTextOnceEvenWhenRetransmitted) {
    Leg leg = phone.leg();
    const auto id = answeredCall(leg, "ZQ1001");
    ASSERT_TRUE(id);
    phone.send(leg, kDtmf, '5');
    // The same frame again, as a retransmission: acknowledged, not counted twice.
    phone.sendBytes(Phone::full(leg.local, leg.remote, 5, static_cast<std::uint8_t>(leg.oseqno - 1), leg.iseqno, kDtmf, '5', {}));
    phone.send(leg, kDtmf, '#');
    phone.send(leg, kText, 0, std::string("hello switch\0", 13));
    const auto call = lab.waitForCall([](const LabCallInfo& info) { return info.texts.size() == 1; }, kWait);
    ASSERT_TRUE(call);
    EXPECT_EQ(call->dtmf, "5#");
    EXPECT_EQ(call->texts.front(), "hello switch");
    EXPECT_TRUE(lab.waitFor("DTMF 5", kWait));
    EXPECT_TRUE(lab.waitFor("TEXT hello switch", kWait));
}

TEST_F(LabSwitchTest, NeverAnsweredCallRingsUntilAnsweredOrHungUpOnCommand) {
    lab.configure([](LabSwitchOptions& options) {
        options.routes.push_back(route("MCALL", LabCallAnswer::Never));
    });
    Leg leg = phone.leg();
    const auto accept = placeCall(leg, "MCALL5551234^77");
    ASSERT_TRUE(accept && accept->is(kIax, kAccept));
    phone.ack(leg, *accept);
    ASSERT_TRUE(phone.expectOn(leg, kControl, kRinging, kWait));
    EXPECT_FALSE(phone.expect(kControl, kAnswer, kSwitchQuiet));
    const auto call = lab.waitForCall([](const LabCallInfo& info) { return info.state == LabCallState::Ringing; }, kWait);
    ASSERT_TRUE(call);
    EXPECT_FALSE(lab.hangUp(call->id + 100));
    ASSERT_TRUE(lab.answer(call->id));
    ASSERT_TRUE(phone.expectOn(leg, kControl, kAnswer, kWait));
    EXPECT_FALSE(lab.answer(call->id));

    ASSERT_TRUE(lab.hangUp(call->id));
    const auto hangup = phone.expectOn(leg, kIax, kHangup, kWait);
    ASSERT_TRUE(hangup);
    EXPECT_EQ(hangup->element(kCause), "Normal Clearing");
    phone.ack(leg, *hangup);
    EXPECT_EQ(lab.call(call->id)->state, LabCallState::Ended);
}

TEST_F(LabSwitchTest, RoutesRejectAndBusyByTheLongestPrefix) {
    lab.configure([](LabSwitchOptions& options) {
        options.routes.push_back({"9", LabCallAnswer::Reject, std::nullopt, "No such context/extension", 3});
        options.routes.push_back(route("95", LabCallAnswer::Busy));
    });
    Leg rejected = phone.leg();
    const auto reject = placeCall(rejected, "9123");
    ASSERT_TRUE(reject);
    EXPECT_TRUE(reject->is(kIax, kReject));
    EXPECT_EQ(reject->element(kCause), "No such context/extension");

    Leg busy = phone.leg();
    const auto accept = placeCall(busy, "9555");
    ASSERT_TRUE(accept && accept->is(kIax, kAccept));
    phone.ack(busy, *accept);
    ASSERT_TRUE(phone.expectOn(busy, kControl, kBusy, kWait));
    const auto calls = lab.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].state, LabCallState::Ended);
    EXPECT_EQ(calls[0].endCause, "No such context/extension");
    EXPECT_EQ(calls[1].endCause, "Busy");
}

TEST_F(LabSwitchTest, RejectsAWrongCallSecretAndAnUnusableFormat) {
    Leg wrong = phone.leg();
    const auto refused = placeCall(wrong, "ZQ1001", kUlaw, kUlaw, "wrong");
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->is(kIax, kReject));
    EXPECT_EQ(refused->element(kCause), "No authority found");

    Leg linear = phone.leg();
    const auto noCodec = placeCall(linear, "ZQ1001", 0x40, 0x40);
    ASSERT_TRUE(noCodec);
    EXPECT_TRUE(noCodec->is(kIax, kReject));
    EXPECT_EQ(noCodec->element(kCause), "Unable to negotiate codec");
}

TEST_F(LabSwitchTest, AcceptsEachCodecThePhoneOffers) {
    for (const std::uint32_t format : {kUlaw, kAlaw, kGsm, kSpeex}) {
        Leg leg = phone.leg();
        const auto accept = placeCall(leg, "5551234", format, kUlaw | kAlaw | kGsm | kSpeex);
        ASSERT_TRUE(accept && accept->is(kIax, kAccept));
        EXPECT_EQ(accept->element(kFormat), u32(format));
        phone.sendIax(leg, kHangup, {{kCause, "Dumped Call"}});
    }
    Leg fallback = phone.leg();
    const auto accept = placeCall(fallback, "5551234", 0x40, 0x40 | kGsm);
    ASSERT_TRUE(accept && accept->is(kIax, kAccept));
    EXPECT_EQ(accept->element(kFormat), u32(kGsm));
}

TEST_F(LabSwitchTest, AnswersPingAndLagRequestsWithTheirTimestamps) {
    Leg leg = phone.leg();
    ASSERT_TRUE(answeredCall(leg, "ZQ1001"));
    phone.send(leg, kIax, kPing, {}, 4242);
    const auto pong = phone.expectOn(leg, kIax, kPong, kWait);
    ASSERT_TRUE(pong);
    EXPECT_EQ(pong->timestamp, 4242u);
    phone.send(leg, kIax, kLagRq, {}, 4343);
    const auto lag = phone.expectOn(leg, kIax, kLagRp, kWait);
    ASSERT_TRUE(lag);
    EXPECT_EQ(lag->timestamp, 4343u);
    // The switch pings every call too (every 200 ms at this scale).
    EXPECT_TRUE(phone.expect(kIax, kPing, kWait));
}

TEST_F(LabSwitchTest, RetransmitsUnacknowledgedFramesThenGivesTheCallUp) {
    lab.configure([](LabSwitchOptions& options) { options.routes.push_back(route("ZQ", LabCallAnswer::Never)); });
    Leg leg = phone.leg();
    const auto accept = placeCall(leg, "ZQ1001");
    ASSERT_TRUE(accept && accept->is(kIax, kAccept));
    // Nothing is acknowledged from here on.
    const auto again = phone.expect(kControl, kRinging, kWait);
    ASSERT_TRUE(again);
    const auto retransmitted = phone.expect(kControl, kRinging, kWait);
    ASSERT_TRUE(retransmitted);
    EXPECT_TRUE(retransmitted->retransmission);
    const auto lost = lab.waitForCall([](const LabCallInfo& call) { return call.state == LabCallState::Ended; }, 5s);
    ASSERT_TRUE(lost);
    EXPECT_EQ(lost->endCause, "no answer to retransmissions");
}

TEST_F(LabSwitchTest, HangupByThePhoneWhileRinging) {
    lab.configure([](LabSwitchOptions& options) { options.defaultAnswer = LabCallAnswer::Never; });
    Leg leg = phone.leg();
    const auto accept = placeCall(leg, "AGTCALL1002");
    ASSERT_TRUE(accept && accept->is(kIax, kAccept));
    phone.ack(leg, *accept);
    ASSERT_TRUE(phone.expectOn(leg, kControl, kRinging, kWait));
    phone.sendIax(leg, kHangup, {{kCause, "Dumped Call"}});
    const auto ended = lab.waitForCall([](const LabCallInfo& call) { return call.state == LabCallState::Ended; }, kWait);
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->called, "AGTCALL1002");
    EXPECT_EQ(ended->endCause, "Dumped Call");
}

TEST_F(LabSwitchTest, WritesWhatThePhoneSentToAWavFilePerCall) {
    TempDir dir;
    lab.configure([&](LabSwitchOptions& options) { options.recordDirectory = dir.path().string(); });
    Leg leg = phone.leg();
    const auto id = answeredCall(leg, "ZQ1001");
    ASSERT_TRUE(id);
    phone.sendUlawTone(leg, 1000, 20, 100);
    ASSERT_TRUE(lab.waitForCall([](const LabCallInfo& call) { return call.state == LabCallState::Answered; }, kWait));
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(lab.hangUp(*id));
    const std::string file = lab.call(*id)->recordFile;
    EXPECT_EQ(file, (dir.path() / ("call-" + std::to_string(*id) + ".wav")).string());
    std::string error;
    const auto samples = labwav::read(file, error);
    ASSERT_TRUE(samples) << error;
    EXPECT_EQ(samples->size(), 20u * 160u);
    EXPECT_TRUE(hasTone(*samples, 1000, LabSwitchOptions::kFarPartyToneHertz));
}

// ---- calls to the phone ----

TEST_F(LabSwitchTest, OriginatesToARegisteredUserAndFollowsItsAnswer) {
    EXPECT_FALSE(lab.originate("1001", "5551234", "Customer"));
    ASSERT_TRUE(registerWith("1001", "pw1001"));
    ASSERT_TRUE(lab.waitForRegistration("1001", kWait));
    const auto id = lab.originate("1001", "5551234", "Customer");
    ASSERT_TRUE(id);

    Leg leg = phone.leg();
    const auto offer = phone.expectOn(leg, kIax, kNew, kWait);
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->destination, 0);
    EXPECT_EQ(offer->element(kCalled), "1001");
    EXPECT_EQ(offer->element(kCallingNumber), "5551234");
    EXPECT_EQ(offer->element(kCallingName), "Customer");
    EXPECT_EQ(offer->element(kFormat), u32(kUlaw));
    EXPECT_EQ(lab.call(*id)->state, LabCallState::Calling);

    phone.sendIax(leg, kAccept, {{kFormat, u32(kUlaw)}});
    phone.send(leg, kControl, kRinging);
    ASSERT_TRUE(lab.waitForCall([](const LabCallInfo& call) { return call.state == LabCallState::Ringing; }, kWait));
    phone.send(leg, kControl, kAnswer);
    ASSERT_TRUE(lab.waitForCall([](const LabCallInfo& call) { return call.state == LabCallState::Answered; }, kWait));
    phone.drain(300ms);
    EXPECT_TRUE(hasTone(phone.takeUlawVoice(), LabSwitchOptions::kFarPartyToneHertz, 1000));

    phone.sendIax(leg, kHangup, {{kCause, "Dumped Call"}});
    const auto ended = lab.waitForCall([](const LabCallInfo& call) { return call.state == LabCallState::Ended; }, kWait);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(ended->toPhone);
    EXPECT_TRUE(lab.waitFor("ACCEPT format=4", kWait));
    EXPECT_TRUE(lab.waitFor("RINGING", kWait));
}

TEST_F(LabSwitchTest, ARejectedOfferEndsTheCall) {
    const auto id = lab.originateTo(LabUdpAddress::loopback(phone.port()), "1001", "5551234");
    ASSERT_TRUE(id);
    Leg leg = phone.leg();
    ASSERT_TRUE(phone.expectOn(leg, kIax, kNew, kWait));
    phone.sendIax(leg, kReject, {{kCause, "Busy here"}});
    const auto ended = lab.waitForCall([](const LabCallInfo& call) { return call.state == LabCallState::Ended; }, kWait);
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->endCause, "Busy here");
}

// ---- bad input ----

TEST_F(LabSwitchTest, SurvivesGarbageTruncatedFramesUnknownCallsAndFloods) {
    phone.sendBytes("");
    phone.sendBytes("\x01");
    phone.sendBytes(std::string("\x80\x01\x00", 3));                                     // truncated full frame
    phone.sendBytes(Phone::full(5, 0, 0, 0, 0, kIax, kNew, std::string("\x06\x09" "10", 4)));  // element past the end
    phone.sendBytes(Phone::full(5, 0, 0, 0, 0, kIax, 0xff, {}));                          // subclass exponent 127
    phone.sendBytes(std::string(4, '\0'));                                                // meta frame, unknown command
    phone.sendBytes(std::string("\x12\x34\x00\x10", 4) + std::string(160, 'x'));          // mini frame of no call
    phone.sendBytes(Phone::full(7, 4321, 0, 0, 0, kIax, kHangup, {}));                    // unknown call
    std::optional<Frame> inval;
    while ((inval = phone.expect(kIax, kInval, kWait)) && inval->destination != 7) {
    }
    ASSERT_TRUE(inval);
    EXPECT_EQ(inval->source, 4321);
    for (int index = 0; index < 3000; ++index) phone.sendBytes(std::string(static_cast<std::size_t>(index % 300), static_cast<char>(index)));
    for (int index = 0; index < 100; ++index)
        phone.sendBytes(Phone::full(static_cast<std::uint16_t>(1000 + index), 0, 0, 0, 0, kIax, kNew,
                                    Phone::encode({{kUsername, "1001"}, {kCalled, "ZQ1001"}})));
    phone.drain(300ms);
    lab.sendRaw(LabUdpAddress::loopback(phone.port()), std::string("\x80\x01\x00\x00", 4) + std::string(8, '\0'));
    EXPECT_TRUE(phone.next(kWait));

    const auto answer = registerWith("1001", "pw1001");
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->is(kIax, kRegAck));
}

}  // namespace
