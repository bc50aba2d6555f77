#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "core/AgentTables.h"
#include "core/TransitionDump.h"
#include "support/MachinePaths.h"

namespace {

int cell(int state, int event) { return state * agent::kEventCount + event; }

std::vector<std::string> actionList(int vector) {
    std::vector<std::string> names;
    for (int slot = 0; agent::ActionVectorTable[vector][slot] != agent::kVectorEnd; ++slot)
        names.push_back(agent::ActionNames[agent::ActionVectorTable[vector][slot]]);
    return names;
}

std::vector<std::string> entry(int state, int event) {
    return actionList(agent::ActionVectorIndexTable[cell(state, event)]);
}

}  // namespace

TEST(AgentTables, HaveTheDimensionsAndNamesOfTheVocabulary) {
    EXPECT_EQ(agent::kStateCount, 62);
    EXPECT_EQ(agent::kEventCount, 42);
    EXPECT_EQ(agent::kActionCount, 136);
    EXPECT_EQ(agent::kVectorCount, 172);
    EXPECT_STREQ(agent::StateNames[0], "After-Init");
    EXPECT_STREQ(agent::StateNames[2], "Agent-Logging-In-Whith-Not-Ready");
    EXPECT_STREQ(agent::StateNames[48], "Agent-Preview-Transfering");
    EXPECT_STREQ(agent::StateNames[61], "Defaults");
    EXPECT_STREQ(agent::EventNames[0], "Browser-Closed-Event");
    EXPECT_STREQ(agent::EventNames[29], "Ok-Event");
    EXPECT_STREQ(agent::EventNames[31], "Ready-Event");
    EXPECT_STREQ(agent::EventNames[41], "Unconditional-Logout-Event");
    EXPECT_STREQ(agent::ActionNames[0], "Close-Conference-Window");
    EXPECT_STREQ(agent::ActionNames[59], "Send-Callto-Qms");
    EXPECT_STREQ(agent::ActionNames[135], "Unset-Use-Onlytt");
}

TEST(AgentTables, Hold318EntriesSharing171DistinctVectors) {
    int entries = 0;
    std::set<int> vectorsUsed;
    for (int i = 0; i < agent::kStateCount * agent::kEventCount; ++i) {
        if (agent::ActionVectorIndexTable[i] == agent::kNoEntry) {
            EXPECT_EQ(agent::NextStateTable[i], 0);
            continue;
        }
        ++entries;
        vectorsUsed.insert(agent::ActionVectorIndexTable[i]);
    }
    EXPECT_EQ(entries, 318);
    EXPECT_EQ(vectorsUsed.size(), 171u);
    EXPECT_EQ(*vectorsUsed.begin(), 1);
    EXPECT_EQ(*vectorsUsed.rbegin(), 171);

    for (int slot = 0; slot < agent::kVectorSlots; ++slot) EXPECT_EQ(agent::ActionVectorTable[0][slot], 0);
    EXPECT_EQ(agent::ActionVectorTable[10][0], agent::kVectorEnd);

    std::set<std::vector<std::string>> distinct;
    std::size_t longest = 0;
    for (int v = 1; v < agent::kVectorCount; ++v) {
        const auto list = actionList(v);
        longest = std::max(longest, list.size());
        EXPECT_TRUE(distinct.insert(list).second) << "vector " << v << " repeats another";
    }
    EXPECT_EQ(longest, 21u);
}

TEST(AgentTables, DefaultsRowHas37EntriesOfWhichFourActAndFiveEventsWithout) {
    int ignored = 0;
    std::vector<std::string> withoutEntry;
    for (int event = 0; event < agent::kEventCount; ++event) {
        const int vector = agent::ActionVectorIndexTable[cell(agent::Defaults, event)];
        if (vector == agent::kNoEntry) {
            withoutEntry.push_back(agent::EventNames[event]);
            continue;
        }
        if (vector == 10) {
            ++ignored;
            EXPECT_EQ(agent::NextStateTable[cell(agent::Defaults, event)], agent::Defaults);
        }
    }
    EXPECT_EQ(ignored, 33);  // of its 37 entries, four act
    EXPECT_EQ(withoutEntry, (std::vector<std::string>{"Connected-Event", "Dialing-In-Progress-Event",
                                                      "First-Line-Hangup-Event", "Login-Whith-Not-Ready-Event",
                                                      "Preview-Dialing-Event"}));
    EXPECT_EQ(entry(agent::Defaults, agent::ConferenceCanceledEvent), std::vector<std::string>{"Set-Use-Onlytt"});
    EXPECT_EQ(entry(agent::Defaults, agent::InitiateConferenceEvent), std::vector<std::string>{"Unset-Use-Onlytt"});

    const auto unconditional = entry(agent::Defaults, agent::UnconditionalLogoutEvent);
    EXPECT_EQ(unconditional.size(), 17u);
    EXPECT_NE(std::find(unconditional.begin(), unconditional.end(), "Unregister-Channels"), unconditional.end());
    EXPECT_EQ(std::find(unconditional.begin(), unconditional.end(), "Hide-Attached-Data-Button"), unconditional.end());
    EXPECT_EQ(agent::NextStateTable[cell(agent::Defaults, agent::UnconditionalLogoutEvent)], agent::AgentLoggedOut);

    const auto noHangup = entry(agent::Defaults, agent::LogoutNoHangupEvent);
    EXPECT_EQ(noHangup.front(), "Hide-Attached-Data-Button");
    EXPECT_EQ(noHangup.back(), "Set-State-Agent-Logged-Out");  // a lost link leaves no stale agent state behind
    EXPECT_EQ(std::find(noHangup.begin(), noHangup.end(), "Unregister-Channels"), noHangup.end());
    EXPECT_EQ(agent::NextStateTable[cell(agent::Defaults, agent::LogoutNoHangupEvent)], agent::AgentLoggedOut);
}

TEST(AgentTables, OnlyDefaultsUsesTheStayMarkerAndNoOtherStateLeadsIntoNotReadyEndingCall) {
    for (int state = 0; state < agent::Defaults; ++state)
        for (int event = 0; event < agent::kEventCount; ++event) {
            if (agent::ActionVectorIndexTable[cell(state, event)] == agent::kNoEntry) continue;
            EXPECT_NE(agent::NextStateTable[cell(state, event)], agent::Defaults);
            if (state != agent::AgentNotReadyEndingCall) {
                EXPECT_NE(agent::NextStateTable[cell(state, event)], agent::AgentNotReadyEndingCall)
                    << agent::StateNames[state] << " / " << agent::EventNames[event];
            }
        }
    // Its own entries exist all the same.
    EXPECT_FALSE(entry(agent::AgentNotReadyEndingCall, agent::NotReadyDoneEvent).empty());
}

TEST(AgentTables, EveryStateButNotReadyEndingCallIsReachableFromTheStart) {
    const auto paths = pathsToStates();
    std::vector<std::string> unreachable;
    for (int state = 0; state < agent::Defaults; ++state)
        if (!paths.count(state)) unreachable.push_back(agent::StateNames[state]);
    EXPECT_EQ(unreachable, std::vector<std::string>{"Agent-Not-Ready-Ending-Call"});
}

TEST(AgentTables, KeepTheListsExactlyAsWrittenIncludingRepeatedActions) {
    const auto cancelling = entry(agent::AgentNotReadyCompletingConference, agent::SecondLineHangUpEvent);
    EXPECT_EQ(std::count(cancelling.begin(), cancelling.end(), "Disable-Complete-Conference"), 2);
    EXPECT_EQ(agent::NextStateTable[cell(agent::AgentNotReadyCompletingConference, agent::SecondLineHangUpEvent)],
              agent::AgentNotReadyCancellingConference);

    const auto previewEnd = entry(agent::AgentPreviewSubmitReqEndingCall, agent::SubmitSentEvent);
    EXPECT_EQ(std::count(previewEnd.begin(), previewEnd.end(), "Enable-Dial"), 2);

    EXPECT_EQ(entry(agent::AgentNotReady, agent::NotReadyEvent), std::vector<std::string>{});
    EXPECT_EQ(agent::ActionVectorIndexTable[cell(agent::AgentNotReady, agent::NotReadyEvent)], 10);
    EXPECT_EQ(entry(agent::AgentReadyManualInCall, agent::FirstLineHangupEvent).size(), 7u);
}

TEST(TransitionDump, ListsEveryEntryInStateThenEventOrderWithTabs) {
    std::ostringstream out;
    writeTransitions(out);
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 318u);
    EXPECT_EQ(lines.front(), "After-Init\tOk-Event\tAgent-Logged-Out\tSet-Initial-State-Button");
    EXPECT_EQ(lines[1], "Agent-Logged-Out\tConnected-Event\tAgent-Logged-Out\tDisable-Login,Disable-Logout,Unset-Use-Onlytt");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Defaults\tHold-Event\tDefaults\t"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Agent-Not-Ready\tNot-Ready-Event\tAgent-Not-Ready\t"), lines.end());
    EXPECT_EQ(lines.back().rfind("Defaults\tUnconditional-Logout-Event\tAgent-Logged-Out\tDisable-Message-Center,", 0), 0u);
}
