// The engine against the lab switch, an IAX2 peer written separately: both sides' reading of
// the protocol must agree (call tokens, MD5, calls both ways, DTMF, hold, voice, release).

#include <gtest/gtest.h>

#include <thread>

#include "infra/Timing.h"
#include "lab/switch/LabSwitch.h"
#include "voice/engine/iax/IaxVoiceEngine.h"
#include "voice/iax/FakeMediaEngine.h"
#include "voice/iax/IaxEngineFixture.h"

using namespace std::chrono_literals;

namespace {
constexpr auto kWait = 3s;

class IaxLabSwitchTest : public ::testing::Test {
protected:
    void SetUp() override {
        Timing::setScale(0.05);
        LabSwitchOptions options;
        options.users = {{"1001", "pw1001"}};
        options.callTokens = true;
        options.ringTime = 1000ms;
        LabCallRoute refused;
        refused.prefix = "REFUSE";
        refused.answer = LabCallAnswer::Reject;
        options.routes.push_back(refused);
        lab_ = std::make_unique<LabSwitch>(options);
        ASSERT_TRUE(lab_->start());
        auto media = std::make_unique<FakeMediaEngine>();
        media_ = media.get();
        engine_ = std::make_unique<IaxVoiceEngine>(IaxEngineConfig{"127.0.0.1", 0, iax_format::Ulaw | iax_format::Gsm},
                                                   std::move(media));
        engine_->iaxc_set_event_callback([this](const VoiceEvent& event) { events_.add(event); });
        ASSERT_EQ(engine_->iaxc_initialize(3), 0);
        ASSERT_EQ(engine_->iaxc_start_processing_thread(), 0);
    }
    void TearDown() override {
        engine_.reset();
        lab_->stop();
        Timing::setScale(1.0);
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(lab_->port()); }
    bool registered() {
        return engine_->iaxc_register("1001", "pw1001", host()) > 0 &&
               events_.waitFor(EventLog::result(VoiceEvent::RegistrationAccepted, "Registration accepted"));
    }
    template <class Condition>
    bool eventually(Condition condition) {
        for (int i = 0; i < 300 && !condition(); ++i) std::this_thread::sleep_for(10ms);
        return condition();
    }

    EventLog events_;
    FakeMediaEngine* media_ = nullptr;
    std::unique_ptr<LabSwitch> lab_;
    std::unique_ptr<IaxVoiceEngine> engine_;
};
}  // namespace

TEST_F(IaxLabSwitchTest, RegistersCallsHoldsSendsDigitsAndVoiceHangsUpAndReleases) {
    ASSERT_TRUE(registered());
    ASSERT_TRUE(lab_->waitForRegistration("1001", kWait));
    ASSERT_EQ(engine_->iaxc_call("1001@" + host() + "/ZQ1001"), 0);
    const int answered = VoiceEvent::Active | VoiceEvent::Outgoing | VoiceEvent::Complete | VoiceEvent::Selected;
    ASSERT_TRUE(events_.waitFor(EventLog::state(0, answered)));
    const auto call = lab_->waitForCall([](const LabCallInfo& c) { return c.state == LabCallState::Answered; }, kWait);
    ASSERT_TRUE(call);
    EXPECT_EQ(call->called, "ZQ1001");

    for (char digit : std::string("12#")) engine_->iaxc_send_dtmf(digit);
    ASSERT_EQ(engine_->iaxc_quelch(0, 1), 0);
    EXPECT_TRUE(eventually([&] {
        const auto now = lab_->call(call->id);
        return now && now->dtmf == "12#" && now->quelched && now->musicOnHold;
    }));
    ASSERT_EQ(engine_->iaxc_unquelch(0), 0);
    EXPECT_TRUE(eventually([&] { return !lab_->call(call->id)->quelched; }));

    for (std::uint32_t block = 0; block < 10; ++block) media_->produce(0, block * 20, Bytes(160, 0x7F));
    EXPECT_TRUE(eventually([&] { return lab_->receivedAudio(call->id).size() >= 1600; }));
    EXPECT_TRUE(eventually([&] { return media_->countStartingWith("voice 0 ") > 0; }));  // the far party's tone

    engine_->iaxc_dump_call();
    EXPECT_TRUE(eventually([&] { return lab_->call(call->id)->state == LabCallState::Ended; }));
    EXPECT_EQ(lab_->call(call->id)->endCause, "Dumped Call");

    ASSERT_EQ(engine_->iaxc_unregister_user("1001", "pw1001", host()), 1);
    EXPECT_TRUE(lab_->waitForUnregistration("1001", kWait));
    EXPECT_TRUE(events_.waitFor(EventLog::result(VoiceEvent::RegistrationReleased, "Registration released: REGACK")));
}

TEST_F(IaxLabSwitchTest, TakesTheSwitchsCallBySelectingItAndSeesEitherSideEndACall) {
    ASSERT_TRUE(registered());
    ASSERT_TRUE(lab_->waitForRegistration("1001", kWait));
    const auto id = lab_->originate("1001", "5551234", "Customer");
    ASSERT_TRUE(id);
    ASSERT_TRUE(events_.waitFor(EventLog::state(0, VoiceEvent::Active | VoiceEvent::Ringing)));
    ASSERT_TRUE(events_.waitFor(EventLog::result(VoiceEvent::IncomingCall, "5551234")));
    ASSERT_EQ(engine_->iaxc_select_call(0), 0);
    EXPECT_TRUE(eventually([&] { return lab_->call(*id)->state == LabCallState::Answered; }));
    ASSERT_TRUE(lab_->hangUp(*id));
    EXPECT_TRUE(events_.waitFor(EventLog::state(0, 0)));

    ASSERT_EQ(engine_->iaxc_call("1001@" + host() + "/REFUSE1"), 0);
    EXPECT_TRUE(events_.waitFor(EventLog::state(0, 0), 2));
}

TEST_F(IaxLabSwitchTest, AWrongSecretIsRejected) {
    ASSERT_GT(engine_->iaxc_register("1001", "wrong", host()), 0);
    EXPECT_TRUE(events_.waitFor(EventLog::result(VoiceEvent::RegistrationRejected, "Registration rejected")));
    EXPECT_FALSE(lab_->registered("1001"));
}

// A restart of the network keeps the port and asks the switch again at once; calls are kept
// when their path is, else they end here, and the next call works.
TEST_F(IaxLabSwitchTest, ARestartedNetworkRegistersAgainAndKeepsOrEndsTheCalls) {
    // Three registrations with call tokens: a token outlives a slow round trip on a loaded machine.
    Timing::setScale(0.2);
    ASSERT_TRUE(registered());
    const int port = engine_->boundPort();
    ASSERT_EQ(engine_->iaxc_call("1001@" + host() + "/ZQ1001"), 0);
    const int answered = VoiceEvent::Active | VoiceEvent::Outgoing | VoiceEvent::Complete | VoiceEvent::Selected;
    ASSERT_TRUE(events_.waitFor(EventLog::state(0, answered)));
    const auto accepted = EventLog::result(VoiceEvent::RegistrationAccepted, "Registration accepted");

    lab_->clearFrames();
    engine_->restartNetwork(true);
    EXPECT_TRUE(events_.waitFor(accepted, 2));
    EXPECT_TRUE(lab_->waitFor("REGREQ", kWait));
    EXPECT_EQ(engine_->boundPort(), port);
    EXPECT_EQ(events_.count(EventLog::state(0, 0)), 0);
    for (std::uint32_t block = 0; block < 5; ++block) media_->produce(0, block * 20, Bytes(160, 0x7F));
    const auto call = lab_->waitForCall([](const LabCallInfo& c) { return c.state == LabCallState::Answered; }, kWait);
    ASSERT_TRUE(call);
    EXPECT_TRUE(eventually([&] { return lab_->receivedAudio(call->id).size() >= 800; }));

    engine_->restartNetwork(false);
    EXPECT_TRUE(events_.waitFor(EventLog::state(0, 0)));
    EXPECT_TRUE(events_.waitFor(accepted, 3));
    ASSERT_EQ(engine_->iaxc_call("1001@" + host() + "/ZQ1002"), 0);
    EXPECT_TRUE(events_.waitFor(EventLog::state(0, answered), 2));
}
