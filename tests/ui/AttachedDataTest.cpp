#include "BarFixture.h"

#include <QMessageBox>

#include "ui/CExt.h"

namespace {

class AttachedDataTest : public BarFixture {
protected:
    // Ready, with a call whose data has a withdrawn record, a fixed one and an editable one.
    void callWithData() {
        loginNotReady();
        goReady();
        server.push(labcti::queueDistribute(
            {"T5", "2026.12.08.10.00.00", "5551234", "", std::nullopt,
             {{{"Zone", "North", "crm", "STRINGDATA", "false"}, {"Account", "AC-1", "crm", "STRINGDATA", "true"}}}}));
        ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
        ASSERT_TRUE(eventuallyOnScreen([&] { return ext().isVisible() && ext().grid().rowCount() == 2; }));
    }
    CExt& ext() { return bar->attachedDataWindow(); }
    QTableWidgetItem* cell(int row, int column) { return ext().grid().item(row, column); }
    static bool editable(const QTableWidgetItem* item) { return item->flags() & Qt::ItemIsEditable; }
    std::vector<AttachedData> records() {
        std::vector<AttachedData> all;
        core().withCallData([&](CallData& data) { all = data.attachedData().items(); });
        return all;
    }
};

}  // namespace

TEST_F(AttachedDataTest, RowsComeInKeyOrderWithFixedValuesReadOnly) {
    callWithData();
    EXPECT_EQ(cell(0, 0)->text(), QStringLiteral("Account"));
    EXPECT_EQ(cell(1, 0)->text(), QStringLiteral("Zone"));
    EXPECT_FALSE(editable(cell(0, 1))) << "a read-only record's value";
    EXPECT_TRUE(editable(cell(1, 1)));
    EXPECT_FALSE(editable(cell(1, 0))) << "a key from the server stays what it is";
    EXPECT_TRUE(ext().saveButton().isVisible());
}

// Withdrawn records are not shown (the view the window is filled from leaves them out).
TEST_F(AttachedDataTest, WithdrawnRecordsAreNotShown) {
    callWithData();
    core().withCallData([](CallData& data) {
        AttachedData gone;
        gone.key = "Old";
        gone.value = "x";
        gone.deleted = true;
        data.attachedData().set(gone);
    });
    const auto view = bar->buttons()->attachedData();
    ASSERT_TRUE(view.has_value());
    EXPECT_EQ(view->rows, (std::vector<AttachedDataRow>{{"Account", "AC-1", true}, {"Zone", "North", false}}));
}

// Add's untouched "KeyN"/"ValueN" rows and real keys starting with "Key" are not written;
// an edited value and an edited new row are, and the data goes to the server (321).
TEST_F(AttachedDataTest, SaveWritesEditedRowsSkipsUntouchedOnesAndSends) {
    callWithData();
    ext().OnBnClickedAdd();
    ext().OnBnClickedAdd();
    ext().OnBnClickedAdd();
    EXPECT_EQ(cell(2, 0)->text(), QStringLiteral("Key2"));
    EXPECT_EQ(cell(3, 1)->text(), QStringLiteral("Value3"));
    EXPECT_TRUE(editable(cell(2, 0)) && editable(cell(2, 1)));
    cell(1, 1)->setText("South");                   // Zone edited
    cell(3, 0)->setText("Callback");                // a new pair
    cell(3, 1)->setText("tomorrow 9:00");
    cell(4, 0)->setText("KeyAccount");              // a real key that looks like an untouched one
    cell(4, 1)->setText("K-9");
    server.clearReceived();
    QTest::mouseClick(&ext().saveButton(), Qt::LeftButton);
    EXPECT_FALSE(ext().isVisible());
    const std::optional<std::string> sent = server.waitFor("321,", 5s);
    ASSERT_TRUE(sent.has_value());
    std::map<std::string, AttachedData> byKey;
    for (const AttachedData& record : records()) byKey[record.key] = record;
    EXPECT_EQ(byKey["Zone"].value, "South");
    EXPECT_EQ(byKey["Callback"].value, "tomorrow 9:00");
    EXPECT_EQ(byKey["Callback"].type, AttachedData::Other);
    EXPECT_EQ(byKey.count("Key2"), 0u);
    EXPECT_EQ(byKey.count("KeyAccount"), 0u);
    EXPECT_NE(sent->find("tomorrow 9:00"), std::string::npos);
}

TEST_F(AttachedDataTest, SavedRowsCannotBeRemovedNewOnesCanUntilSaved) {
    callWithData();
    ext().grid().selectRow(0);
    ext().OnBnClickedRemove();
    EXPECT_EQ(ext().grid().rowCount(), 2);
    auto* refusal = ext().findChild<QMessageBox*>();
    ASSERT_NE(refusal, nullptr);
    EXPECT_EQ(refusal->text(), QStringLiteral("You cannot remove an already saved key/value"));
    refusal->accept();

    ext().OnBnClickedAdd();
    ext().grid().selectRow(2);
    ext().OnBnClickedRemove();
    EXPECT_EQ(ext().grid().rowCount(), 2) << "a row just added goes";

    ext().OnBnClickedAdd();
    ext().OnBnClickedSave();
    ext().grid().selectRow(2);
    ext().OnBnClickedRemove();
    EXPECT_EQ(ext().grid().rowCount(), 3) << "once saved it stays";
}

// After the server ends the call its data can be read but not changed.
TEST_F(AttachedDataTest, AnEndedCallsDataIsReadOnlyWithoutAddOrSave) {
    callWithData();
    server.push(labcti::terminateCall("T5"));
    ASSERT_TRUE(eventuallyOnScreen([&] { return !ext().saveButton().isVisibleTo(&ext()); }));
    EXPECT_FALSE(ext().addButton().isVisibleTo(&ext()));
    EXPECT_TRUE(ext().removeButton().isVisibleTo(&ext()));
    for (int row = 0; row < ext().grid().rowCount(); ++row) EXPECT_FALSE(editable(cell(row, 1))) << row;
    screenshot(ext(), "attached-data-ended-call");
}
