#include "ui/NumberPad.h"

#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "infra/CLogger.h"

NumberPad::NumberPad(const QStringList& history, std::function<void(char)> sendTone, QWidget* parent)
    : QWidget(parent), sendTone_(std::move(sendTone)) {
    numberField_.setEditable(true);
    numberField_.setInsertPolicy(QComboBox::NoInsert);
    numberField_.addItems(history);
    numberField_.setCurrentIndex(-1);
    numberField_.setEditText(QString());
    numberField_.lineEdit()->setPlaceholderText(tr("Number"));

    auto* keys = new QGridLayout;
    keys->setSpacing(3);
    const char* const labels[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "*", "0", "#"};
    for (int index = 0; index < 12; ++index) {
        const QString label = QString::fromLatin1(labels[index]);
        auto* button = new QPushButton(label, this);
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::TabFocus);
        button->setMinimumSize(34, 26);
        connect(button, &QPushButton::clicked, this, [this, label] { addNumberToDial(label); });
        keys->addWidget(button, index / 3, index % 3);
        keys_.insert(label, button);
    }
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(&numberField_);
    column->addLayout(keys);
}

void NumberPad::addNumberToDial(const QString& key) {
    numberField_.setEditText(numberField_.currentText() + key);
    const QByteArray text = key.toUtf8();
    logMessage(LogLevel::Debug, "CDialPadDlg:addNumberToDial(%s)", text.constData());
    if (!text.isEmpty() && sendTone_) sendTone_(text.at(0));
}
