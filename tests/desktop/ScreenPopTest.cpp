#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "AgentVocabulary.h"
#include "call/AgentProfile.h"
#include "call/Call.h"
#include "desktop/BrowserHandler.h"
#include "desktop/ScreenPopTarget.h"
#include "desktop/ScreenPopTitle.h"
#include "infra/Timing.h"
#include "support/Eventually.h"
#include "support/FakeBrowserView.h"
#include "support/FakeScreenPopAgent.h"
#include "support/LogCapture.h"

namespace {

using namespace std::chrono_literals;
using Report = ScreenPopTitle::Report;
using Form = ScreenPopTarget::Form;
using Strings = std::vector<std::string>;

constexpr auto kHandlerWait = 5s;

std::string callTags(const Call& call) {
    const CallTags tags = call.snapshot().tags;
    return tags.client + "|" + tags.campaign + "|" + tags.status;
}

TEST(ScreenPopTitle, ReadsTheReportAndTheOutcomeLayout) {
    const ScreenPopTitle sold = ScreenPopTitle::read("C42-Winter-SOLD.submit:sent");
    EXPECT_EQ(sold.report, Report::SubmitSent);
    EXPECT_TRUE(sold.conform);
    EXPECT_EQ(sold.client + "|" + sold.campaign + "|" + sold.status, "C42|Winter|SOLD");

    EXPECT_EQ(ScreenPopTitle::read("submit:required C42-Winter-SOLD.submit:sent").report, Report::SubmitRequired);
    EXPECT_EQ(ScreenPopTitle::read("a.transfer:sent.submit:sent").report, Report::SubmitSent);
    EXPECT_EQ(ScreenPopTitle::read("Lab CRM - customer case").report, Report::None);
    EXPECT_EQ(ScreenPopTitle::read("").report, Report::None);

    for (const char* title : {"submit:sent", "x.submit:sent", "C42-Winter.submit:sent", "C42-Winter-SOLD submit:sent"})
        EXPECT_FALSE(ScreenPopTitle::read(title).conform) << title;
    const ScreenPopTitle empty = ScreenPopTitle::read("--.submit:sent");
    EXPECT_TRUE(empty.conform);
    EXPECT_EQ(empty.client + empty.campaign + empty.status, "");
}

TEST(ScreenPopTitle, TakesTheTransferNumberAfterTheStatus) {
    EXPECT_EQ(ScreenPopTitle::read("C42-Winter-SOLD.5551234.transfer:sent").transferNumber, "5551234");
    EXPECT_EQ(ScreenPopTitle::read("C42-Winter-SOLD..transfer:sent").transferNumber, "");
    EXPECT_EQ(ScreenPopTitle::read("C42-Winter-SOLD.0612 transfer:sent").transferNumber, "0612 ");
    // The report's own text is never dialled.
    EXPECT_EQ(ScreenPopTitle::read("C42-Winter-SOLD.transfer:sent").transferNumber, "");
    EXPECT_EQ(ScreenPopTitle::read("C42-Winter-SOLD.transfer:sent5551234").transferNumber, "5551234");
    EXPECT_EQ(ScreenPopTitle::read("x.transfer:sent").transferNumber, "");  // no layout, no number
}

TEST(ScreenPopTitle, TagsTheCallCutAsRecordingNamesNeed) {
    Call call;
    const std::string longText(150, 'c');
    ScreenPopTitle::read(longText + "-" + longText + "-STATUS_TOO_LONG.submit:sent").tagCall(call);
    EXPECT_TRUE(call.snapshot().tags.tagged);
    EXPECT_EQ(call.snapshot().tags.client, std::string(100, 'c'));
    EXPECT_EQ(call.snapshot().tags.campaign, std::string(100, 'c'));
    EXPECT_EQ(call.snapshot().tags.status, "STATUS_TOO");
    ScreenPopTitle::read("x.submit:sent").tagCall(call);
    EXPECT_FALSE(call.snapshot().tags.tagged);
}

TEST(ScreenPopTarget, ReadsEveryAddressForm) {
    const auto read = [](const std::string& address) { return ScreenPopTarget::read(address); };
    EXPECT_EQ(read("firefox:new_tab:http://a/1 http://b/2").pages, (Strings{"http://a/1", "http://b/2"}));
    EXPECT_EQ(read("firefox:new_tab:http://a/1 http://b/2").form, Form::FirefoxTabs);
    EXPECT_EQ(read("firefox:new_win:http://a/1 https://b/2").pages, (Strings{"http://a/1", "https://b/2"}));
    EXPECT_EQ(read("firefox:new_win:http://a/1 https://b/2").form, Form::FirefoxWindows);
    EXPECT_EQ(read("firefox:http://crm/case?id=7").pages, Strings{"http://crm/case?id=7"});
    EXPECT_EQ(read("default:https://crm/case").form, Form::DefaultBrowser);
    EXPECT_EQ(read("http://crm/case?id=7&AGENT_ID=1001").pages, Strings{"http://crm/case?id=7&AGENT_ID=1001"});
    EXPECT_EQ(read(" HTTPS://crm/x\n").pages, Strings{"HTTPS://crm/x"});
    EXPECT_EQ(read("crm.example.com/case?id=7").pages, Strings{"http://crm.example.com/case?id=7"});
    EXPECT_EQ(read("localhost:8080/case").pages, Strings{"http://localhost:8080/case"});
    EXPECT_EQ(read("").form, Form::Nothing);
}

TEST(ScreenPopTarget, RefusesWhatIsNotAWebPage) {
    for (const char* address : {"javascript:alert(1)", "JavaScript:alert(1)", " java\tscript:alert(1)", "file:///etc/passwd",
                                "data:text/html,<b>x</b>", "view-source:file:///etc/passwd", "//crm/case", "crm:case",
                                "firefox:file:///etc/passwd", "firefox:new_tab:http://a/1 file:///etc/passwd",
                                "firefox:new_win:http://a/1", "firefox:new_tab:", "default:javascript:alert(1)",
                                "default:crm.example.com", " \t "})
        EXPECT_EQ(ScreenPopTarget::read(address).form, Form::Refused) << address;
}

class BrowserHandlerTest : public ::testing::Test {
protected:
    BrowserHandlerTest() {
        Timing::setScale(0.01);
        profile.callPrefix.set("9");
    }
    ~BrowserHandlerTest() override { Timing::setScale(1.0); }

    bool eventuallyEvents(const std::vector<int>& events) {
        return eventually([&] { return agent.events() == events; }, kHandlerWait);
    }
    bool eventuallyDone(const std::string& operation) {
        return eventually([&] { return view.has(operation); }, kHandlerWait);
    }

    LogCapture log;
    FakeBrowserView view;
    FakeScreenPopAgent agent;
    Call call;
    AgentProfile profile;
    BrowserHandler handler{agent, call, profile, view};
};

TEST_F(BrowserHandlerTest, KeepsAHiddenWindowAndShowsEachPageInIt) {
    handler.start();
    ASSERT_TRUE(eventuallyDone("create"));
    handler.setUrl("http://crm/case?id=7");
    ASSERT_TRUE(eventuallyDone("show"));
    EXPECT_EQ(view.operations(), (Strings{"create", "navigate http://crm/case?id=7", "show"}));
    EXPECT_TRUE(log.contains("Browser started 5"));

    handler.shutdown();
    EXPECT_EQ(view.operations().back(), "close");
    EXPECT_FALSE(handler.running());
    handler.setUrl("http://crm/case?id=8");  // a page after shutdown starts the thread again
    ASSERT_TRUE(eventuallyDone("navigate http://crm/case?id=8"));
}

TEST_F(BrowserHandlerTest, OutsideBrowsersNeverTouchTheWindow) {
    handler.start();
    ASSERT_TRUE(eventuallyDone("create"));
    handler.setUrl("default:http://crm/a");
    ASSERT_TRUE(eventuallyDone("default http://crm/a"));
    handler.setUrl("firefox:new_tab:http://crm/a http://crm/b");
    ASSERT_TRUE(eventuallyDone("program firefox http://crm/a http://crm/b"));
    handler.setUrl("firefox:new_win:http://crm/a http://crm/b");
    ASSERT_TRUE(eventuallyDone("program firefox -new-window http://crm/b"));
    EXPECT_TRUE(view.has("program firefox -new-window http://crm/a"));

    view.programsStart = false;  // no Firefox: the default browser takes each page
    view.clear();
    handler.setUrl("firefox:new_tab:http://crm/c http://crm/d");
    ASSERT_TRUE(eventuallyDone("default http://crm/d"));
    handler.setUrl("firefox:http://crm/e");
    ASSERT_TRUE(eventuallyDone("default http://crm/e"));
    EXPECT_EQ(view.operations(), (Strings{"program firefox http://crm/c http://crm/d", "default http://crm/c",
                                          "default http://crm/d", "program firefox http://crm/e", "default http://crm/e"}));
    EXPECT_EQ(log.count("Error in starting Firefox, will now open the default browser"), 2);
}

TEST_F(BrowserHandlerTest, RefusesAddressesThatAreNotWebPages) {
    handler.setUrl("javascript:document.title='submit:sent'");
    ASSERT_TRUE(eventually([&] { return log.mentions("refused, not a screen pop"); }, kHandlerWait));
    EXPECT_EQ(log.levelOf("BrowserHandler::navigate(javascript:document.title='submit:sent') refused, not a screen pop: "
                          "[javascript:document.title='submit:sent'] is not an http or https page"),
              "WARNING");
    EXPECT_TRUE(view.pages().empty());
}

TEST_F(BrowserHandlerTest, TriesTenTimesAndRecreatesAWindowThatLostItsDocument) {
    view.navigateResult = BrowserView::BadAddress;
    view.keepsDocument = false;
    view.stuckBusy = true;  // each failure waits for an idle window, but not for ever
    handler.setUrl("http://crm/never");
    ASSERT_TRUE(eventually([&] { return log.mentions("the browser is still busy, going on"); }, kHandlerWait));
    view.stuckBusy = false;
    ASSERT_TRUE(eventually([&] { return log.mentions("Trying one more time to navigate [9]"); }, kHandlerWait));
    EXPECT_EQ(view.pages().size(), 10u);
    EXPECT_EQ(log.count("Browser stopped 1"), 10);
    EXPECT_EQ(log.levelOf("A problem (error number[2]) was encountered while navigating to[http://crm/never]"), "ERROR");
}

TEST_F(BrowserHandlerTest, NavigationWaitsHoldNeitherTheCallerNorTheShutdown) {
    Timing::setScale(1.0);  // a busy window is waited for 5 s
    view.navigateResult = BrowserView::BadAddress;
    view.stuckBusy = true;
    handler.setUrl("http://crm/never");  // returns at once: the browser thread does the waiting
    ASSERT_TRUE(eventually([&] { return view.pages().size() == 1; }, kHandlerWait));
    const auto before = std::chrono::steady_clock::now();
    handler.shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 4s);
    EXPECT_EQ(view.pages().size(), 1u);
}

TEST_F(BrowserHandlerTest, TitlesBecomeSubmitEventsWithTheCallsTags) {
    handler.start();
    ASSERT_TRUE(eventuallyDone("create"));
    view.title("submit:required");
    ASSERT_TRUE(eventuallyEvents({agent::SubmitReqEvent}));
    EXPECT_TRUE(handler.popupInProgress());

    view.title("Lab CRM - customer case");  // only logged
    view.title("C42-Winter-SOLD.submit:sent");
    ASSERT_TRUE(eventuallyEvents({agent::SubmitReqEvent, agent::SubmitSentEvent}));
    EXPECT_FALSE(handler.popupInProgress());
    EXPECT_EQ(callTags(call), "C42|Winter|SOLD");
    EXPECT_TRUE(call.snapshot().tags.tagged);
    EXPECT_EQ(agent.mode(), 3);
    EXPECT_TRUE(log.contains("Found infos : Client[C42] Campaign[Winter] Status[SOLD]"));

    view.title("no layout here.submit:sent");
    ASSERT_TRUE(eventually([&] { return agent.events().size() == 3; }, kHandlerWait));
    EXPECT_FALSE(call.snapshot().tags.tagged);
    EXPECT_EQ(log.levelOf("New title not conform to client-campaign-status.submit:sent"), "WARNING");
}

TEST_F(BrowserHandlerTest, ATransferReportDialsThePrefixedNumberOnlyWhenThereIsOne) {
    handler.start();
    view.title("C42-Winter-SOLD.5551234.transfer:sent");
    ASSERT_TRUE(eventually([&] { return agent.transfers() == 1; }, kHandlerWait));
    EXPECT_EQ(call.snapshot().dialDestination, "95551234");
    EXPECT_EQ(agent.events(), std::vector<int>{agent::SubmitSentEvent});
    EXPECT_TRUE(log.contains("Found infos : Client[C42] Campaign[Winter] Status[SOLD] Transfer #[5551234]"));

    view.title("C42-Winter-SOLD..transfer:sent");
    ASSERT_TRUE(eventuallyEvents({agent::SubmitSentEvent, agent::SubmitSentEvent}));
    view.title("C42-Winter-SOLD.transfer:sent");
    ASSERT_TRUE(eventuallyEvents({agent::SubmitSentEvent, agent::SubmitSentEvent, agent::SubmitSentEvent}));
    EXPECT_EQ(agent.transfers(), 1);
}

TEST_F(BrowserHandlerTest, TheAgentClosingTheWindowOrALostPageGiveANewHiddenWindow) {
    handler.start();
    ASSERT_TRUE(eventuallyDone("create"));
    view.title("submit:required");
    ASSERT_TRUE(eventually([&] { return handler.popupInProgress(); }, kHandlerWait));
    view.clear();
    view.agentCloses();
    ASSERT_TRUE(eventuallyEvents({agent::SubmitReqEvent, agent::BrowserClosedEvent}));
    EXPECT_FALSE(handler.popupInProgress());
    ASSERT_TRUE(eventuallyDone("create"));
    EXPECT_EQ(view.operations(), Strings{"create"});  // nothing to close: the agent did

    view.clear();
    view.pageLost("its renderer crashed, code 11");  // no form was waiting: no event
    ASSERT_TRUE(eventually([&] { return view.operations() == Strings{"close", "create"}; }, kHandlerWait));
    EXPECT_EQ(agent.events().size(), 2u);
    view.title("submit:required");
    ASSERT_TRUE(eventually([&] { return handler.popupInProgress(); }, kHandlerWait));
    view.pageLost("it did not load within 30 s");
    ASSERT_TRUE(eventuallyEvents({agent::SubmitReqEvent, agent::BrowserClosedEvent, agent::SubmitReqEvent,
                                  agent::BrowserClosedEvent}));
    EXPECT_FALSE(handler.popupInProgress());
    EXPECT_TRUE(log.mentions("was lost (it did not load within 30 s), creating a new browser"));
}

TEST_F(BrowserHandlerTest, SubmitNotifyFromTheServerTagsTheCall) {
    call.setSubmitPending(true);
    handler.OnSubmitNotify("1001.ACME.Spring.submit_sent.SOLD");
    EXPECT_EQ(agent.events(), std::vector<int>{agent::SubmitSentEvent});
    EXPECT_EQ(callTags(call), "ACME|Spring|submit_sen");
    EXPECT_TRUE(call.snapshot().tags.tagged);
    EXPECT_FALSE(call.snapshot().submitPending);
    EXPECT_EQ(agent.mode(), 3);
    handler.OnSubmitNotify("1001");  // missing parts are empty
    EXPECT_EQ(call.snapshot().tags.client, "");
    EXPECT_FALSE(handler.running());  // the server's report needs no window
}

}  // namespace
