#include "ui/CExt.h"

#include <QHeaderView>
#include <QMessageBox>

#include "ui/DialogUnits.h"

namespace {

constexpr int kSavedRole = Qt::UserRole;

}  // namespace

CExt::CExt(QWidget* bar, std::function<void(const Rows&)> save)
    : QFrame(bar, Qt::Tool | Qt::FramelessWindowHint), add_(QStringLiteral("add")), remove_(QStringLiteral("remove")),
      save_(QStringLiteral("save")), saveRows_(std::move(save)) {
    setObjectName(QStringLiteral("AttachedData"));
    setWindowTitle(tr("Attached Data"));
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setStyleSheet(QStringLiteral("CExt { background: #eef5fb; color: #7aa2c0; }"));
    setFont(DialogUnits::dialogFont());
    const DialogUnits units(font());
    const QRect gridRect(QPoint(5, 5), QPoint(285, 133));
    const int buttonTop = gridRect.bottom() + 6;
    setFixedSize(qMax(units.x(193), gridRect.right() + 6), qMax(units.y(112), buttonTop + units.y(16) + 6));

    grid_.setParent(this);
    grid_.setGeometry(gridRect);
    grid_.setColumnCount(2);
    grid_.setHorizontalHeaderLabels({QStringLiteral("Key"), QStringLiteral("Value")});
    grid_.setColumnWidth(0, 124);
    grid_.setColumnWidth(1, 152);
    grid_.verticalHeader()->hide();
    grid_.setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_.setSelectionMode(QAbstractItemView::SingleSelection);
    grid_.setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed);

    // The buttons keep their places across, just below the grid.
    struct Place {
        ImageButton* button;
        int x;
        QString text, tip;
    };
    for (const Place& place : {Place{&add_, 9, tr("Add"), tr("Add a key and value")},
                               Place{&remove_, 70, tr("Remove"), tr("Remove the selected row")},
                               Place{&save_, 131, tr("Save"), tr("Save and send to the server")}}) {
        place.button->setParent(this);
        place.button->setGeometry(QRect(units.x(place.x), buttonTop, units.x(50), units.y(16)));
        place.button->setText(place.text);
        place.button->setToolTip(place.tip);
    }
    connect(&add_, &QAbstractButton::clicked, this, &CExt::OnBnClickedAdd);
    connect(&remove_, &QAbstractButton::clicked, this, &CExt::OnBnClickedRemove);
    connect(&save_, &QAbstractButton::clicked, this, &CExt::OnBnClickedSave);
    placeUnder(*bar);
}

void CExt::placeUnder(const QWidget& bar) {
    const QRect frame = bar.frameGeometry();
    move(frame.left(), frame.bottom() + 1);
}

bool CExt::rowSaved(int row) const {
    const QTableWidgetItem* key = grid_.item(row, 0);
    return key && key->data(kSavedRole).toBool();
}

void CExt::appendRow(const QString& key, const QString& value, bool saved, bool valueEditable) {
    const int row = grid_.rowCount();
    grid_.insertRow(row);
    auto* keyCell = new QTableWidgetItem(key);
    keyCell->setData(kSavedRole, saved);
    if (saved) keyCell->setFlags(keyCell->flags() & ~Qt::ItemIsEditable);  // a saved key stays what it is
    auto* valueCell = new QTableWidgetItem(value);
    if (!valueEditable) {
        valueCell->setFlags(valueCell->flags() & ~Qt::ItemIsEditable);
        valueCell->setForeground(QColor(0x5F, 0x6B, 0x75));
    }
    grid_.setItem(row, 0, keyCell);
    grid_.setItem(row, 1, valueCell);
}

void CExt::showList(const AttachedDataView& view) {
    grid_.setRowCount(0);
    for (const AttachedDataRow& row : view.rows)
        appendRow(QString::fromStdString(row.key), QString::fromStdString(row.value), true, !row.readOnly);
    add_.setVisible(!view.callEnded);
    save_.setVisible(!view.callEnded);
    show();
}

void CExt::OnBnClickedAdd() {
    const int rows = grid_.rowCount();
    appendRow(QStringLiteral("Key%1").arg(rows), QStringLiteral("Value%1").arg(rows), false, true);
    show();
    save_.setEnabled(true);
}

void CExt::OnBnClickedRemove() {
    const int row = grid_.currentRow();
    if (row < 0 || grid_.selectedItems().isEmpty()) return;
    if (rowSaved(row)) {
        auto* box = new QMessageBox(QMessageBox::NoIcon, tr("Attached Data"),
                                    QStringLiteral("You cannot remove an already saved key/value"), QMessageBox::Ok,
                                    this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return;
    }
    grid_.removeRow(row);
}

void CExt::OnBnClickedSave() {
    Rows rows;
    for (int row = 0; row < grid_.rowCount(); ++row) {
        QTableWidgetItem* key = grid_.item(row, 0);
        const QTableWidgetItem* value = grid_.item(row, 1);
        key->setData(kSavedRole, true);
        rows.emplace_back(key->text().toStdString(), value ? value->text().toStdString() : std::string());
    }
    if (saveRows_) saveRows_(rows);
    hide();
}
