#include <gtest/gtest.h>

#include "cti/AttachedData.h"
#include "wire/FrameAssembler.h"
#include "wire/KVSet.h"
#include "wire/LoggedText.h"
#include "cti/StringTokenizer.h"

TEST(KVSet, ParsesRootAndChildrenKeepingRepeatedKeysInOrder) {
    KVSet set;
    ASSERT_TRUE(set.parse("<MSG_TYPE_X><A>1</A><B>x</B><A>2</A></MSG_TYPE_X>"));
    EXPECT_EQ(set.getName(), "MSG_TYPE_X");
    EXPECT_EQ(set.getValue("A"), "1");
    EXPECT_EQ(set.getValues("A"), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(set.getValue("missing"), "");
    EXPECT_EQ(set.size(), 3u);

    KVSet empty;
    ASSERT_TRUE(empty.parse("<MSG_TYPE_X></MSG_TYPE_X>"));
    EXPECT_EQ(empty.getName(), "MSG_TYPE_X");
    EXPECT_EQ(empty.size(), 0u);
}

TEST(KVSet, ChildValuesStayRawAndOuterBlanksAreTrimmed) {
    KVSet nested;
    ASSERT_TRUE(nested.parse("<M><D><K>1</K></D></M>"));
    EXPECT_EQ(nested.getValue("D"), "<K>1</K>");

    KVSet padded;
    ASSERT_TRUE(padded.parse("  \t<M><A>x</A>junk<B>y</B></M>\n"));
    EXPECT_EQ(padded.getName(), "M");
    EXPECT_EQ(padded.getValue("A"), "x");
    EXPECT_EQ(padded.getValue("B"), "y");
}

TEST(KVSet, RejectsUnclosedElementsAndPlainTextLeavingTheSetUnchanged) {
    for (const char* text : {"<M><A>1</A><B>2</M>", "<M><A>1</A>", "3,abc", "<M>", "</>"}) {
        KVSet set("KEEP");
        set.add("k", "v");
        EXPECT_FALSE(set.parse(text)) << text;
        EXPECT_EQ(set.getName(), "KEEP");
        EXPECT_EQ(set.size(), 1u);
    }
    KVSet blank;
    EXPECT_TRUE(blank.parse("   "));
    EXPECT_EQ(blank.getName(), "XML");
}

TEST(KVSet, WritesEntriesInKeyOrderAndSingleKeysWithoutTheRoot) {
    KVSet set("M");
    set.add("B", "2");
    set.add("A", "1");
    set.add("B", "3");
    EXPECT_EQ(set.toString(), "<M><A>1</A><B>2</B><B>3</B></M>");
    EXPECT_EQ(set.toString("B"), "<B>2</B><B>3</B>");
    set.remove("B");
    EXPECT_EQ(set.toString(), "<M><A>1</A></M>");
    set.clear();
    EXPECT_EQ(set.toString(), "<XML></XML>");

    KVSet roundTrip;
    ASSERT_TRUE(roundTrip.parse(set.toString()));
}

TEST(StringTokenizer, SplitsAtEveryDelimiterKeepingEmptyPieces) {
    auto all = [](const std::string& text) {
        std::vector<std::string> tokens;
        for (StringTokenizer t(text, "^"); t.hasMoreTokens();) tokens.push_back(t.nextToken());
        return tokens;
    };
    EXPECT_EQ(all("a^b^^c"), (std::vector<std::string>{"a", "b", "", "c"}));
    EXPECT_EQ(all("^"), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(all("abc"), std::vector<std::string>{"abc"});
    EXPECT_TRUE(all("").empty());

    StringTokenizer tokens("a^b^c", "^");
    EXPECT_EQ(tokens.nextToken(), "a");
    EXPECT_EQ(tokens.remainingString(), "b^c^");
    tokens.nextToken();
    tokens.nextToken();
    EXPECT_EQ(tokens.nextToken(), "");
}

TEST(AttachedData, ReadsTypeAndReadOnlyAndWritesOnlyKeyValueAuthor) {
    const AttachedData record = AttachedData::parse(
        "<ATTACHED_DATA><KEY>k</KEY><VALUE>v</VALUE><AUTHOR>a</AUTHOR><TYPE>URL</TYPE><READ_ONLY>true</READ_ONLY>"
        "</ATTACHED_DATA>");
    EXPECT_EQ(record.type, AttachedData::Url);
    EXPECT_TRUE(record.readOnly);
    EXPECT_EQ(record.toString(), "<ATTACHED_DATA><KEY>k</KEY><VALUE>v</VALUE><AUTHOR>a</AUTHOR></ATTACHED_DATA>");

    for (const char* flag : {"false", "TRUE", ""}) {
        const std::string text = std::string("<ATTACHED_DATA><KEY>k</KEY>") +
                                 (*flag ? std::string("<READ_ONLY>") + flag + "</READ_ONLY>" : "") + "</ATTACHED_DATA>";
        EXPECT_FALSE(AttachedData::parse(text).readOnly) << flag;
    }
    EXPECT_EQ(AttachedData::typeFromText("url"), AttachedData::Other);

    const AttachedData broken = AttachedData::parse("<ATTACHED_DATA><KEY>k");
    EXPECT_EQ(broken.key, "");
    EXPECT_EQ(broken.type, AttachedData::Other);
    EXPECT_TRUE(broken.readOnly);

    AttachedData deleted = record;
    deleted.deleted = true;
    EXPECT_EQ(deleted.toString(), "");
}

TEST(AttachedData, ListLoadsEveryExtraDataElementAndLaterKeysReplaceEarlierOnes) {
    const std::string extra =
        "<EXTRADATA><ATTACHED_DATA><KEY>b</KEY><VALUE>1</VALUE></ATTACHED_DATA>"
        "<ATTACHED_DATA><KEY>a</KEY><VALUE>2</VALUE></ATTACHED_DATA></EXTRADATA>"
        "<EXTRADATA><ATTACHED_DATA><KEY>b</KEY><VALUE>3</VALUE></ATTACHED_DATA></EXTRADATA>";
    CallData call("T1", "555", extra);
    const auto items = call.attachedData().items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].key, "a");
    EXPECT_EQ(items[1].value, "3");
    EXPECT_EQ(call.toString(),
              "<MSG_TYPE_ADD_ATTACHED_DATA><TRACKNUM>T1</TRACKNUM>"
              "<ATTACHED_DATA><KEY>a</KEY><VALUE>2</VALUE><AUTHOR></AUTHOR></ATTACHED_DATA>"
              "<ATTACHED_DATA><KEY>b</KEY><VALUE>3</VALUE><AUTHOR></AUTHOR></ATTACHED_DATA>"
              "</MSG_TYPE_ADD_ATTACHED_DATA>");

    call.attachedData().load("not an element");
    EXPECT_TRUE(call.attachedData().items().empty());
}

TEST(FrameAssembler, CutsJoinedAndSplitMessagesAndBoundsTheWaitingText) {
    FrameAssembler frames;
    ASSERT_TRUE(frames.append("A~B~<MSG_T", 10));
    EXPECT_EQ(frames.nextMessage(), "A");
    EXPECT_EQ(frames.nextMessage(), "B");
    EXPECT_FALSE(frames.hasMessage());
    EXPECT_EQ(frames.pending(), "<MSG_T");
    const std::string rest = "YPE_X></MSG_TYPE_X>~";
    ASSERT_TRUE(frames.append(rest.data(), rest.size()));
    EXPECT_EQ(frames.nextMessage(), "<MSG_TYPE_X></MSG_TYPE_X>");
    EXPECT_EQ(frames.pendingSize(), 0u);

    FrameAssembler bounded(8);
    EXPECT_TRUE(bounded.append("12345", 5));
    EXPECT_FALSE(bounded.append("6789", 4));  // nine bytes without '~'
    EXPECT_EQ(bounded.pendingSize(), 0u);
    EXPECT_TRUE(bounded.append("ok~", 3));
    EXPECT_EQ(bounded.nextMessage(), "ok");
}

TEST(LoggedText, MasksEveryIaxPasswordAndCutsWhatIsTooLongToLog) {
    EXPECT_EQ(loggedText("58~"), "58~");
    EXPECT_EQ(loggedText("<MSG_TYPE_GET_SWITCH><IaxPassword>s1</IaxPassword><Port>1</Port></MSG_TYPE_GET_SWITCH>~"
                         "<X><IaxPassword>s2</IaxPassword></X>~"),
              "<MSG_TYPE_GET_SWITCH><IaxPassword>****</IaxPassword><Port>1</Port></MSG_TYPE_GET_SWITCH>~"
              "<X><IaxPassword>****</IaxPassword></X>~");
    EXPECT_EQ(loggedText("<X><IaxPassword>cut before its end"), "<X><IaxPassword>****");

    const std::string shown = loggedText(std::string(5000, 'a'));
    EXPECT_EQ(shown.size(), kLoggedTextLimit + 3);
    EXPECT_EQ(shown.substr(kLoggedTextLimit), "...");
    EXPECT_EQ(loggedText(std::string(kLoggedTextLimit, 'a')), std::string(kLoggedTextLimit, 'a'));
}
