#include "ui/CDialPadDlg.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>

#include "infra/CLogger.h"
#include "infra/Timing.h"
#include "ui/DialogUnits.h"

namespace {

// Entries of the second list, by the transfer type each stands for.
const char* const kNumberKinds[] = {"Phone number", "Agent", "Queue"};

int pauseMilliseconds() {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Timing::scaled(intervals::kDialPadClosePause)).count());
}

}  // namespace

CDialPadDlg::CDialPadDlg(const Opening& opening, std::function<void(char)> sendTone, QWidget* parent)
    : QDialog(parent), pad_(opening.history, std::move(sendTone)), ok_(QStringLiteral("ok")),
      cancel_(QStringLiteral("cancel")) {
    setWindowTitle(opening.caption);
    setFont(DialogUnits::dialogFont());
    ok_.setText(tr("OK"));
    cancel_.setText(tr("Cancel"));
    ok_.setToolTip(tr("Dial"));
    cancel_.setToolTip(tr("Cancel"));
    for (const char* kind : kNumberKinds) secondList_.addItem(tr(kind));
    secondList_.setCurrentIndex(0);
    secondList_.setEnabled(opening.secondListEnabled);
    pad_.setNumber(opening.number);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(&ok_);
    buttons->addWidget(&cancel_);
    auto* column = new QVBoxLayout(this);
    column->addWidget(&pad_);
    column->addWidget(&secondList_);
    column->addLayout(buttons);
    connect(&ok_, &QAbstractButton::clicked, this, &CDialPadDlg::OnBnClickedOk);
    connect(&cancel_, &QAbstractButton::clicked, this, &CDialPadDlg::OnBnClickedCancel);
    pad_.numberField().setFocus();
}

void CDialPadDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (ok_.isEnabled()) OnBnClickedOk();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CDialPadDlg::OnBnClickedOk() {
    logMessage(LogLevel::Debug, "CDialPadDlg : OnBnClickedOk()");
    const QString number = pad_.number().trimmed();
    if (number.isEmpty()) {
        logMessage(LogLevel::Warning, "Dial String empty... cancelling dial");
        result_ = {};
        QDialog::reject();
        return;
    }
    result_ = {true, number.toStdString(), secondList_.currentIndex()};
    accept();
}

void CDialPadDlg::OnBnClickedCancel() {
    logMessage(LogLevel::Debug, "CDialPadDlg : OnBnClickedCancel()");
    result_ = {};
    QDialog::reject();
}

void CDialPadDlg::callCloseDialPad() {
    logMessage(LogLevel::Debug, "CDialPadDlg : callCloseDialPad()");
    result_ = {};
    ok_.setEnabled(false);
    QTimer::singleShot(pauseMilliseconds(), this, [this] {
        if (isVisible()) QDialog::reject();
    });
}
