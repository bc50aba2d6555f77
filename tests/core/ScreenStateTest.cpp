#include <gtest/gtest.h>

#include "AgentVocabulary.h"
#include "agent/CImplementation.h"
#include "agent/HeadlessAgentWindow.h"
#include "support/FakeBrowserView.h"
#include "infra/Timing.h"
#include "support/FakeVoiceEngine.h"
#include "support/LogCapture.h"
#include "support/TimeScale.h"

void PrintTo(const HeadlessAgentWindow::ControlState& s, std::ostream* out) {
    *out << "{exists " << s.exists << ", enabled " << s.enabled << ", visible " << s.visible << "}";
}

namespace {

using State = HeadlessAgentWindow::ControlState;

const State kEnabled{true, true, true};
const State kDisabled{true, false, true};
const State kHidden{true, true, false};
const State kHiddenDisabled{true, false, false};

// The agent core with a headless window; events are dispatched at once, without the queue.
class ScreenTest : public ::testing::Test {
protected:
    explicit ScreenTest(std::string titlePrefix = {}) : window(std::move(titlePrefix)) {}

    void dispatch(std::initializer_list<int> events) {
        for (int event : events) core.dispatchEvent(event);
    }

    ScopedTimeScale timeScale{0.001};
    LogCapture log;
    HeadlessAgentWindow window;
    EventQueue queue;
    FakeVoiceEngine voice;
    FakeBrowserView browser;
    CImplementation core{{window, queue, voice, browser, 0}};
};

}  // namespace

TEST_F(ScreenTest, StartScreenIsTheLoggedOutButtonSet) {
    dispatch({agent::OkEvent});
    EXPECT_EQ(window.control(Control::Login), kEnabled);
    EXPECT_EQ(window.control(Control::Logout), kHidden);
    EXPECT_EQ(window.control(Control::Ready), kDisabled);
    EXPECT_EQ(window.control(Control::NotReady), kHidden);
    EXPECT_EQ(window.control(Control::NotReadyReason), kDisabled);
    for (Control c : {Control::HangUp, Control::Dial, Control::Transfer, Control::Conference, Control::Unhold})
        EXPECT_EQ(window.control(c), kDisabled) << static_cast<int>(c);
    EXPECT_EQ(window.control(Control::Hold), kHiddenDisabled);
    EXPECT_EQ(window.control(Control::AttachedData), kHidden);
    EXPECT_EQ(window.statusText(), "[Logged Out]");
    EXPECT_EQ(window.caption(), "  Orvane [Logged Out]");
    EXPECT_EQ(core.status().agentState(), "AgentLoggedOut");
    EXPECT_TRUE(log.contains("CImplementation::SetInitialStateButton()"));
    EXPECT_TRUE(log.contains("CImplementation::ShowUnHold()"));
}

TEST_F(ScreenTest, LoginThroughRegistrationShowsTheGoingReadyScreen) {
    core.status().dialAllowed = true;
    dispatch({agent::OkEvent, agent::ConnectedEvent, agent::LoginEvent});
    EXPECT_EQ(core.status().agentState(), "AgentLoggedIn");
    EXPECT_EQ(window.control(Control::Login), kDisabled);
    dispatch({agent::LoginDoneEvent});
    EXPECT_EQ(core.status().agentState(), "AgentGoingReady");
    EXPECT_EQ(window.control(Control::Login), kHiddenDisabled);
    EXPECT_EQ(window.control(Control::Logout), kDisabled);
    EXPECT_EQ(window.control(Control::Ready), kDisabled);
    EXPECT_EQ(window.control(Control::NotReady), kDisabled);
    EXPECT_EQ(window.control(Control::NotReadyReason), kEnabled);
    EXPECT_EQ(window.control(Control::Dial), kEnabled);
    EXPECT_EQ(window.caption(), "  [Not Ready]");
}

TEST_F(ScreenTest, EnableRefusesWhatThePermissionsForbid) {
    dispatch({agent::OkEvent});
    core.screenActions().EnableTransfer();
    core.screenActions().EnableConference();
    EXPECT_EQ(window.control(Control::Transfer), kDisabled);
    EXPECT_EQ(window.control(Control::Conference), kDisabled);
    EXPECT_TRUE(log.contains("TransferButtonState false"));
    EXPECT_TRUE(log.contains("ConferenceButtonState false"));

    window.enableControl(Control::Dial, true);
    core.screenActions().EnableDial();  // without the permission Dial is actively disabled
    EXPECT_EQ(window.control(Control::Dial), kDisabled);
    EXPECT_TRUE(log.contains("getDialingButtonState false"));

    core.status().dialAllowed = core.status().transferAllowed = core.status().conferenceAllowed = true;
    core.screenActions().EnableDial();
    core.screenActions().EnableTransfer();
    core.screenActions().EnableConference();
    EXPECT_EQ(window.control(Control::Dial), kEnabled);
    EXPECT_EQ(window.control(Control::Transfer), kEnabled);
    EXPECT_EQ(window.control(Control::Conference), kEnabled);
    EXPECT_TRUE(log.contains("getDialingButtonState true"));
}

TEST_F(ScreenTest, WhileTheWindowClosesNothingIsEnabledButDisableStillActs) {
    dispatch({agent::OkEvent});
    window.setWindowClosing();
    log.clear();
    core.screenActions().EnableReady();
    EXPECT_EQ(window.control(Control::Ready), kDisabled);
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"CImplementation::EnableReady()", "Orvane closing "}));
    EXPECT_EQ(log.levelOf("Orvane closing "), "DEBUG");
    core.screenActions().DisableLogin();
    core.screenActions().HideLogin();
    EXPECT_EQ(window.control(Control::Login), kHiddenDisabled);
}

TEST_F(ScreenTest, TitlesSetStatusLineAndCaption) {
    core.screenActions().SetTitleReady();
    EXPECT_EQ(window.statusText(), "[Ready]");
    EXPECT_EQ(window.caption(), "  Orvane [Ready]");

    core.screenActions().SetTitleNotReady();
    EXPECT_EQ(window.caption(), "  [Not Ready]");
    core.status().setNotReadyReason("Lunch");
    core.screenActions().SetTitleNotReady();
    EXPECT_EQ(window.statusText(), "[Not Ready : Lunch]");
    EXPECT_EQ(window.caption(), "  [Not Ready : Lunch]");

    EXPECT_FALSE(core.status().inCall);
    core.screenActions().SetTitleInCall();
    EXPECT_TRUE(core.status().inCall);
    EXPECT_EQ(window.caption(), "  Orvane [In Call]");

    const std::pair<void (ScreenActions::*)(), const char*> others[] = {
        {&ScreenActions::SetTitleLoggedOut, "[Logged Out]"},
        {&ScreenActions::SetTitleInCallSubmitReq, "[In Call-Submit Required]"},
        {&ScreenActions::SetTitleNotReadySubmitReq, "[Not Ready-Submit Required]"},
        {&ScreenActions::SetTitlePreviewDialing, "[Preview Dialing]"},
        {&ScreenActions::SetTitlePreviewDialingSubmitReq, "[Preview Dialing-Submit Required]"},
    };
    for (const auto& [title, text] : others) {
        (core.screenActions().*title)();
        EXPECT_EQ(window.statusText(), text);
        EXPECT_EQ(window.caption(), std::string("  Orvane ") + text);
    }
}

class PrefixedScreenTest : public ScreenTest {
protected:
    PrefixedScreenTest() : ScreenTest(std::string(120, 'P')) {}
};

TEST_F(PrefixedScreenTest, CaptionStartsWithTheWindowsOwnCaptionCutTo100Characters) {
    core.screenActions().SetTitleReady();
    EXPECT_EQ(window.caption(), std::string(100, 'P') + "  Orvane [Ready]");
}

TEST_F(ScreenTest, AgentStateNamesAndTheirSideEffects) {
    core.screenActions().SetStateAgentNotReadyInitiatingConference();
    EXPECT_EQ(core.status().agentState(), "gentNotReadyInitiatingConference");

    core.status().inCall = true;
    core.screenActions().SetStateAgentReadyInCall();  // keeps inCall
    EXPECT_TRUE(core.status().inCall);
    core.screenActions().SetStateAgentReady();
    EXPECT_FALSE(core.status().inCall);
    EXPECT_TRUE(core.status().agentReady);
    EXPECT_EQ(core.status().agentState(), "AgentReady");

    core.status().inCall = true;
    core.screenActions().SetStateAgentNotReady();
    EXPECT_FALSE(core.status().inCall);
    EXPECT_FALSE(core.status().agentReady);

    for (auto clears : {&ScreenActions::SetStateAgentNotReadySubmitReq, &ScreenActions::SetStateAgentGoingReady,
                        &ScreenActions::SetStateAgentGoingNotReady,
                        &ScreenActions::SetStateAgentReadySubmitReqEndingCall}) {
        core.status().inCall = true;
        (core.screenActions().*clears)();
        EXPECT_FALSE(core.status().inCall);
    }
    core.screenActions().SetStateAgentReadySubmitReqInitiatingConferenceInProgress();
    EXPECT_EQ(core.status().agentState(), "AgentReadySubmitReqInitiatingConferenceInProgress");
    EXPECT_EQ(core.status().agentState().size(), 49u);
}

TEST_F(ScreenTest, InCallButtonsOnAConsultationCallKeepTransferConferenceAndHoldDisabled) {
    dispatch({agent::OkEvent});
    core.status().transferAllowed = core.status().conferenceAllowed = true;
    core.status().consultCall = true;
    core.screenActions().SetInCallStateButton();
    EXPECT_EQ(window.control(Control::Transfer), kDisabled);
    EXPECT_EQ(window.control(Control::Conference), kDisabled);
    EXPECT_EQ(window.control(Control::Hold), kHiddenDisabled);
    EXPECT_EQ(window.control(Control::Unhold), kDisabled);
    EXPECT_EQ(window.control(Control::HangUp), kEnabled);
    EXPECT_EQ(window.control(Control::AttachedData), kEnabled);
    EXPECT_TRUE(log.contains("CImplementation::StartRecording()"));
    EXPECT_EQ(core.status().agentState(), "AgentReadyInCall");
    EXPECT_EQ(window.statusText(), "[In Call]");

    core.status().consultCall = false;
    core.screenActions().SetInCallStateButton();
    EXPECT_EQ(window.control(Control::Transfer), kEnabled);
    EXPECT_EQ(window.control(Control::Conference), kEnabled);
    EXPECT_EQ(window.control(Control::Unhold), kEnabled);
    EXPECT_EQ(window.control(Control::Hold), kHidden);
}

TEST_F(ScreenTest, ButtonSetsForNotReadyAndSubmitRequired) {
    dispatch({agent::OkEvent});
    core.status().dialAllowed = true;
    core.screenActions().SetNotReadyStateButton();
    EXPECT_EQ(window.control(Control::Ready), kEnabled);
    EXPECT_EQ(window.control(Control::NotReady), kHidden);
    EXPECT_EQ(window.control(Control::Dial), kEnabled);
    EXPECT_EQ(core.status().agentState(), "AgentNotReady");

    core.screenActions().SetSubmitRequiredStateButton();
    EXPECT_EQ(window.control(Control::Login), kHiddenDisabled);
    EXPECT_EQ(window.control(Control::Logout), kEnabled);  // disabled, then enabled again
    EXPECT_EQ(window.control(Control::Dial), kDisabled);
    EXPECT_EQ(core.status().agentState(), "AgentNotReadySubmitReq");
    EXPECT_EQ(window.statusText(), "[Not Ready-Submit Required]");

    core.screenActions().SetNotReadySubmitReqStateButton();
    EXPECT_EQ(window.control(Control::Logout), kDisabled);
    EXPECT_EQ(window.control(Control::Ready), kDisabled);
    EXPECT_EQ(core.status().agentState(), "AgentNotReady");
    EXPECT_EQ(window.statusText(), "[Not Ready]");
}

TEST_F(ScreenTest, DialogControlsActOnlyWhileTheirWindowIsOpen) {
    log.clear();
    core.screenActions().EnableCompleteConference();
    core.screenActions().ShowLine1SelectedConference();
    core.screenActions().DisableOkDial();  // no dial pad: nothing to disable, nothing missing
    EXPECT_TRUE(log.contains("CImplementation::DisableOkDial()"));
    EXPECT_FALSE(log.contains("Button does not exist"));

    window.openCompleteConferenceWindow();
    core.screenActions().DisableCompleteConference();
    core.screenActions().DisableLine2Conference();
    core.screenActions().ShowLine1SelectedConference();
    core.screenActions().HideLine2SelectedConference();
    EXPECT_FALSE(window.control(Control::CompleteConference).enabled);
    EXPECT_FALSE(window.control(Control::ConferenceLine2).enabled);
    EXPECT_TRUE(window.control(Control::ConferenceLine1Selected).visible);
    EXPECT_FALSE(window.control(Control::ConferenceLine1Unselected).visible);
    EXPECT_FALSE(window.control(Control::ConferenceLine2Selected).visible);
    EXPECT_TRUE(window.control(Control::ConferenceLine2Unselected).visible);
    EXPECT_TRUE(log.contains("CImplementation::Disable Line 2 in complete conference()"));
    EXPECT_TRUE(log.contains("CImplementation::Show Line 1 selected for conference"));

    window.showDialPad();
    core.screenActions().DisableOkDial();
    EXPECT_FALSE(window.control(Control::DialPadOk).enabled);
}

TEST_F(ScreenTest, ClosingTheDialAndConferenceWindowsLogsTheirEntryOpenOrNot) {
    core.CloseDialWindow();
    core.CloseConferenceWindow();
    EXPECT_EQ(log.count("CloseDialWindow()"), 1);
    EXPECT_EQ(log.count("CloseConferenceWindow()"), 1);
    EXPECT_FALSE(log.contains("Closing dial window"));
    window.showDialPad();
    core.CloseDialWindow();
    EXPECT_EQ(log.count("CloseDialWindow()"), 2);
    EXPECT_TRUE(log.contains("Closing dial window"));
}

TEST_F(ScreenTest, HidingTheAttachedDataButtonClosesItsWindow) {
    window.setAttachedDataWindowOpen(true);
    core.screenActions().HideAttachedDataButton();
    EXPECT_FALSE(window.control(Control::AttachedData).visible);
    EXPECT_FALSE(window.attachedDataWindowOpen());
}
