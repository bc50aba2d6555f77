#include "ui/CCompleteConferenceDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>

#include "infra/CLogger.h"
#include "infra/Timing.h"
#include "ui/DialogUnits.h"

CCompleteConferenceDlg::CCompleteConferenceDlg(const QStringList& history, std::function<void(char)> sendTone,
                                               QWidget* parent)
    : QDialog(parent), pad_(history, std::move(sendTone)), complete_(QStringLiteral("conference")),
      cancel_(QStringLiteral("cancel")), line1_(QStringLiteral("line")), line2_(QStringLiteral("line")) {
    setWindowTitle(tr("Conference"));
    setFont(DialogUnits::dialogFont());
    complete_.setText(tr("Complete"));
    cancel_.setText(tr("Cancel"));
    line1_.setText(tr("Line 1"));
    line2_.setText(tr("Line 2"));
    complete_.setToolTip(QStringLiteral("Complete Conference"));
    line1_.setToolTip(QStringLiteral("Select client line 1 "));
    line2_.setToolTip(QStringLiteral("Select client line 2"));
    cancel_.setToolTip(tr("Cancel the conference"));
    controls_ = {{Control::CompleteConference, &complete_},
                 {Control::ConferenceLine1, &line1_},
                 {Control::ConferenceLine2, &line2_}};

    // Each line's selected mark (green) and unselected mark (grey) share one place.
    auto* lines = new QGridLayout;
    lines->addWidget(&line1_, 0, 0);
    lines->addWidget(&line2_, 1, 0);
    for (int row = 0; row < 2; ++row) {
        auto* marks = new QWidget;
        auto* stack = new QGridLayout(marks);
        stack->setContentsMargins(0, 0, 0, 0);
        const Control selected = row == 0 ? Control::ConferenceLine1Selected : Control::ConferenceLine2Selected;
        const Control unselected = row == 0 ? Control::ConferenceLine1Unselected : Control::ConferenceLine2Unselected;
        stack->addWidget(addMark(selected, QStringLiteral("#2e8b57")), 0, 0);
        stack->addWidget(addMark(unselected, QStringLiteral("#b8c2cb")), 0, 0);
        lines->addWidget(marks, row, 1);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(&complete_);
    buttons->addWidget(&cancel_);
    auto* column = new QVBoxLayout(this);
    column->addWidget(&pad_);
    column->addLayout(lines);
    column->addLayout(buttons);

    connect(&line1_, &QAbstractButton::clicked, this, [this] { Q_EMIT clicked(Click::Line1); });
    connect(&line2_, &QAbstractButton::clicked, this, [this] { Q_EMIT clicked(Click::Line2); });
    connect(&complete_, &QAbstractButton::clicked, this, [this] { Q_EMIT clicked(Click::Complete); });
    connect(&cancel_, &QAbstractButton::clicked, this, [this] { Q_EMIT clicked(Click::Cancel); });
    pad_.numberField().setFocus();
}

QLabel* CCompleteConferenceDlg::addMark(Control id, const QString& colour) {
    auto* mark = new QLabel;
    mark->setFixedSize(12, 12);
    mark->setStyleSheet(QStringLiteral("background:%1; border-radius:6px;").arg(colour));
    mark->setAccessibleName(id == Control::ConferenceLine1Selected || id == Control::ConferenceLine2Selected
                                ? tr("selected")
                                : tr("not selected"));
    controls_.insert(id, mark);
    return mark;
}

// Escape or the window's close: the agent cancels the conference.
void CCompleteConferenceDlg::reject() { Q_EMIT clicked(Click::Cancel); }

void CCompleteConferenceDlg::callCloseDialPad() {
    logMessage(LogLevel::Debug, "CDialPadDlg : callCloseDialPad()");
    for (QWidget* control : controls_) control->setEnabled(false);
    cancel_.setEnabled(false);
    const auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(Timing::scaled(intervals::kDialPadClosePause));
    QTimer::singleShot(static_cast<int>(pause.count()), this, [this] { Q_EMIT clicked(Click::Cancel); });
}
