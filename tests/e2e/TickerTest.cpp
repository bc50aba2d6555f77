#include "PhoneFixture.h"

#include "lab/cti/LabCtiMessages.h"

namespace {

class TickerTest : public PhoneFixture {};

TEST_F(TickerTest, TheServersStatisticsAndAlertsPlayOnceLoggedInAndTheCloseWaitsForTheCentre) {
    loginNotReady();
    server.push(labcti::messageCenterInfo({"Queue 3^Longest wait 40 s", "#FF8000", "2", "STAT"}));
    EXPECT_TRUE(tickerShowed("Queue 3"));
    EXPECT_TRUE(tickerShowed("Longest wait 40 s"));

    // Colours that are not "#RRGGBB" are logged; the text still plays.
    server.push(labcti::messageCenterInfo({"Storm warning", "#GG0000", "1", "ALERT"}));
    server.push(labcti::messageCenterInfo({"Short colour", "#12", "1", "STAT"}));
    EXPECT_TRUE(tickerShowed("Storm warning"));
    EXPECT_TRUE(tickerShowed("Short colour"));
    EXPECT_EQ(log.levelOf("handleMessageCenterData - Color [#GG0000] is not #RRGGBB"), "WARNING");
    EXPECT_TRUE(log.contains("handleMessageCenterData - Color [#12] is not #RRGGBB"));

    buttons.OnBnClickedButtonClose();
    ASSERT_TRUE(eventually([&] { return window.closed(); }));
    EXPECT_TRUE(log.contains("Message center stopped"));
    EXPECT_TRUE(eventually([&] { return log.contains("Ending CImplementation::doMessageCenterThread() "); }));
}

}  // namespace
