#include "BarFixture.h"

#include "ui/CExt.h"

namespace {

using WindowTruthTest = BarFixture;

// A call's attached data as the CTI server sends it: one editable value, one fixed.
std::vector<labcti::AttachedGroup> customerData() {
    return {{{"Customer", "Ada Lovelace", "crm", "STRINGDATA", "false"},
             {"Account", "AC-1815", "crm", "STRINGDATA", "true"},
             {"Reason", "Billing question", "ivr", "STRINGDATA", "false"}}};
}

}  // namespace

// Through a working day, after every step the bar shows exactly what the headless window holds.
TEST_F(WindowTruthTest, TheBarShowsWhatTheAgentCoreSetAtEveryStep) {
    startBar();
    expectShowsSame(model, *bar, "logged out");
    screenshot(*bar, "bar-logged-out");

    bar->loginWith({"1001", "pw", "127.0.0.1", std::to_string(server.port())});
    ASSERT_TRUE(waitForState(agent::AgentLoggingInWhithNotReady));
    ASSERT_TRUE(eventuallyOnScreen([&] { return voice.has("register 1001 pw 127.0.0.1:4569"); }));
    expectShowsSame(model, *bar, "registering");
    voice.emitResult(VoiceEvent::RegistrationAccepted, "Registration accepted");
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
    expectShowsSame(model, *bar, "not ready");

    goReady();
    expectShowsSame(model, *bar, "ready");
    screenshot(*bar, "bar-ready");

    takeCall("T1", customerData());
    expectShowsSame(model, *bar, "in call");
    EXPECT_TRUE(bar->attachedDataWindow().isVisible()) << "a call's data is shown when it arrives";
    screenshot(*bar, "bar-in-call");
    screenshot(bar->attachedDataWindow(), "attached-data");

    click(Control::Unhold);  // the button shown while the call is not held puts it on hold
    ASSERT_TRUE(eventuallyOnScreen([&] { return core().lines().onHold(); }));
    expectShowsSame(model, *bar, "on hold");
    EXPECT_TRUE(bar->control(Control::Hold)->isVisible());
    screenshot(*bar, "bar-on-hold");
    click(Control::Hold);
    ASSERT_TRUE(eventuallyOnScreen([&] { return !core().lines().onHold(); }));
    expectShowsSame(model, *bar, "taken off hold");

    core().QueuePhoneEvent(agent::SubmitReqEvent);  // the screen pop's form asks for a submit
    ASSERT_TRUE(waitForState(agent::AgentReadySubmitReqInCall));
    expectShowsSame(model, *bar, "submit required");
    EXPECT_EQ(bar->statusLine().text(), QStringLiteral("[In Call-Submit Required]"));
    screenshot(*bar, "bar-submit-required");

    core().QueuePhoneEvent(agent::SubmitSentEvent);
    ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    click(Control::HangUp);
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
    expectShowsSame(model, *bar, "after the call");

    click(Control::Logout);
    ASSERT_TRUE(waitForState(agent::AgentLoggedOut));
    expectShowsSame(model, *bar, "logged out again");
}

// The voice engine cannot start: "Audio device error." stays on the ticker and no button works.
TEST_F(WindowTruthTest, AVoiceEngineThatCannotStartLeavesEveryButtonDisabled) {
    voice.initializeResult = -1;
    startBar();
    expectShowsSame(model, *bar, "voice engine failed");
    ASSERT_TRUE(log.waitFor("Ticker keeps [Audio device error.] until another text replaces it", std::chrono::seconds(10)));
    EXPECT_TRUE(eventuallyOnScreen([&] { return bar->ticker().text() == "Audio device error."; }));
    EXPECT_FALSE(bar->control(Control::Login)->isEnabled());
}
