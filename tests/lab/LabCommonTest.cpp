#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "lab/common/LabCommandLine.h"
#include "lab/common/LabElement.h"
#include "lab/common/LabFieldMessage.h"
#include "lab/common/LabFrameSplitter.h"
#include "lab/common/LabPollTimeout.h"
#include "lab/common/LabRecorder.h"

namespace {

using namespace std::chrono_literals;

TEST(LabElement, WritesChildrenInTheOrderAddedWithRepeatsAndNothingBetween) {
    LabElement element("M");
    element.add("B", "2").add("A", "1").add("B", "3");
    EXPECT_EQ(element.toString(), "<M><B>2</B><A>1</A><B>3</B></M>");
    EXPECT_EQ(LabElement("EMPTY").toString(), "<EMPTY></EMPTY>");
}

TEST(LabElement, ReadsValuesUpToTheFirstClosingTagSoAValueMayHoldElements) {
    const auto element = LabElement::parse(" \t<M><D><K>1</K></D><A>x</A><A>y</A></M>\n");
    ASSERT_TRUE(element);
    EXPECT_EQ(element->name(), "M");
    EXPECT_EQ(element->value("D"), "<K>1</K>");
    EXPECT_EQ(element->values("A"), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(element->value("Z"), std::nullopt);
    EXPECT_EQ(LabElement::parse("<M></M>")->children().size(), 0u);
}

TEST(LabElement, RefusesTextThatIsNotOneClosedElementMessage) {
    EXPECT_FALSE(LabElement::parse(""));
    EXPECT_FALSE(LabElement::parse("3,abc"));
    EXPECT_FALSE(LabElement::parse("<M><A>1</A>"));         // root never closed
    EXPECT_FALSE(LabElement::parse("<M><A>1</A><B>2</M>"));  // child never closed
    EXPECT_FALSE(LabElement::parse("<M></M>trailing"));
    EXPECT_FALSE(LabElement::parse("<></>"));
}

TEST(LabFieldMessage, SplitsCodeAndCaretSeparatedFieldsKeepingEmptyOnes) {
    const auto login = LabFieldMessage::parse("34,0^1001^pw^host^1.0.0.1");
    EXPECT_EQ(login.code, 34);
    EXPECT_EQ(login.fields, (std::vector<std::string>{"0", "1001", "pw", "host", "1.0.0.1"}));
    EXPECT_EQ(LabFieldMessage::parse("41,17^5^0^0^").fields.back(), "");
    EXPECT_EQ(LabFieldMessage::parse("37,0^1001^Lunch^x").fieldsFrom(2), "Lunch^x");
}

TEST(LabFieldMessage, ReadsBareCodesAndRejectsTextWithoutLeadingDigits) {
    EXPECT_EQ(LabFieldMessage::parse("58").code, 58);
    EXPECT_TRUE(LabFieldMessage::parse("58").fields.empty());
    EXPECT_EQ(LabFieldMessage::parse("275^").code, 275);
    EXPECT_TRUE(LabFieldMessage::parse("275^").fields.empty());
    EXPECT_EQ(LabFieldMessage::parse("<MSG>").code, LabFieldMessage::kNoCode);
    EXPECT_EQ(LabFieldMessage::parse("").code, LabFieldMessage::kNoCode);
    EXPECT_EQ(LabFieldMessage::parse(" 58").code, LabFieldMessage::kNoCode);
    EXPECT_EQ(LabFieldMessage::parse("99999999999999999999").code, LabFieldMessage::kNoCode);
}

TEST(LabFrameSplitter, JoinsPiecesAndSplitsSeveralMessagesOfOneRead) {
    LabFrameSplitter splitter;
    EXPECT_TRUE(splitter.add("<MSG_T").messages.empty());
    EXPECT_EQ(splitter.add("YPE_X></MSG_TYPE_X>~58~3").messages,
              (std::vector<std::string>{"<MSG_TYPE_X></MSG_TYPE_X>", "58"}));
    EXPECT_EQ(splitter.pendingBytes(), 1u);
    EXPECT_EQ(splitter.add("4~~").messages, (std::vector<std::string>{"34", ""}));
    EXPECT_EQ(splitter.pendingBytes(), 0u);
}

TEST(LabFrameSplitter, ThrowsAwayAnUnfinishedTailPastTheCapAndCarriesOn) {
    LabFrameSplitter splitter;
    EXPECT_EQ(splitter.add(std::string(LabFrameSplitter::kMaxPendingBytes, 'x')).discardedBytes, 0u);
    const auto overflow = splitter.add("yy");
    EXPECT_EQ(overflow.discardedBytes, LabFrameSplitter::kMaxPendingBytes + 2);
    EXPECT_EQ(splitter.pendingBytes(), 0u);
    EXPECT_EQ(splitter.add("tail~58~").messages, (std::vector<std::string>{"tail", "58"}));
}

TEST(LabCommandLine, SplitsWordsAndKeepsFreeTextAsTyped) {
    const LabCommandLine line("  message ALERT #FF0000  Lunch  is   ready \n");
    EXPECT_EQ(line.command(), "message");
    EXPECT_EQ(line.argumentCount(), 5u);
    EXPECT_EQ(line.argument(1), "#FF0000");
    EXPECT_EQ(line.argument(9), "");
    EXPECT_EQ(line.restFrom(2), "Lunch  is   ready");
    EXPECT_EQ(line.restFrom(9), "");
    EXPECT_EQ(LabCommandLine("flood 2048").number(0), 2048);
    EXPECT_EQ(LabCommandLine("flood 20k").number(0), std::nullopt);
    EXPECT_EQ(LabCommandLine("   ").command(), "");
    EXPECT_EQ(LabCommandLine("# a comment").command(), "");
}

TEST(LabPollTimeout, IsZeroOncePassedAndNeverBeyondWhatPollTakes) {
    const auto now = std::chrono::steady_clock::now();
    EXPECT_EQ(pollTimeoutMs(now - 1s), 0);
    EXPECT_GT(pollTimeoutMs(now + 1s), 900);
    EXPECT_LE(pollTimeoutMs(now + 1s), 1000);
    EXPECT_EQ(pollTimeoutMs(now + std::chrono::hours(24 * 365)), INT_MAX);
}

TEST(LabRecorder, KeepsOrderAndTimesAndForgetsOnClear) {
    LabRecorder recorder;
    recorder.add("a");
    recorder.add("b");
    const auto all = recorder.all();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].text, "a");
    EXPECT_LE(all[0].at, all[1].at);
    recorder.clear();
    EXPECT_TRUE(recorder.texts().empty());
}

TEST(LabRecorder, WaitsForAMatchFromAnotherThreadAndGivesUpAtTheTimeout) {
    LabRecorder recorder;
    recorder.add("58");
    std::thread writer([&recorder] {
        std::this_thread::sleep_for(5ms);
        recorder.add("36,0^1001");
        recorder.add("36,0^1002");
    });
    EXPECT_EQ(recorder.waitFor("36,", 2s), "36,0^1001");
    EXPECT_TRUE(recorder.waitForCount([](const std::string& text) { return text.starts_with("36,"); }, 2, 2s));
    writer.join();
    EXPECT_EQ(recorder.waitFor("99,", 10ms), std::nullopt);
    EXPECT_FALSE(recorder.waitForCount([](const std::string&) { return true; }, 4, 10ms));
}

}  // namespace
