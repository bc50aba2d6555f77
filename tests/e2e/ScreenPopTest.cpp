#include "PhoneFixture.h"

#include "lab/cti/LabCtiMessages.h"

namespace {

class ScreenPopTest : public PhoneFixture {
protected:
    ScreenPopTest() {
        server.configure([](LabCtiOptions& options) {
            options.group->addPrefixToCall = "1";
            options.group->callPrefix = "9";
        });
    }
};

TEST_F(ScreenPopTest, TheFormsTitleMovesTheAgentTagsTheCallAndItsTransferReachesTheServer) {
    loginNotReady();
    goReady();
    server.push(labcti::queueDistribute({"T1", "2026.12.08.10.00.00", "555", "http://crm/popup?case=7", std::nullopt, {}}));
    ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    ASSERT_TRUE(eventually([&] { return browser.has("navigate http://crm/popup?case=7&AGENT_ID=1001"); }));

    browser.title("submit:required");
    ASSERT_TRUE(waitForState(agent::AgentReadySubmitReqInCall));
    EXPECT_EQ(window.caption(), "Orvane  Orvane [In Call-Submit Required]");

    server.clearReceived();
    browser.title("C42-Winter-SOLD.5551234.transfer:sent");
    EXPECT_EQ(sent("77,"), "77,1001^95551234^T1^T1^PHONE_NUMBER");
    const CallTags tags = core.call().snapshot().tags;
    EXPECT_EQ(tags.client + "|" + tags.campaign + "|" + tags.status, "C42|Winter|SOLD");
    EXPECT_FALSE(core.browserHandler().popupInProgress());
}

TEST_F(ScreenPopTest, ClosingTheBrowserEndsTheWaitForTheSubmit) {
    loginNotReady();
    goReady();
    server.push(labcti::queueDistribute({"T2", "2026.12.08.10.00.00", "555", "http://crm/popup?case=8", std::nullopt, {}}));
    ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    browser.title("submit:required");
    ASSERT_TRUE(waitForState(agent::AgentReadySubmitReqInCall));
    browser.agentCloses();
    ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    EXPECT_FALSE(core.browserHandler().popupInProgress());
}

}  // namespace
