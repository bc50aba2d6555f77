#pragma once

#include <QComboBox>
#include <QMap>
#include <QStringList>
#include <QWidget>
#include <functional>

class QAbstractButton;

// The number field with the dialled-number history as its list, and the twelve keys below
// it. A key appends its text to the field, logs it and sends it as a touch tone.
class NumberPad : public QWidget {
    Q_OBJECT
public:
    // `sendTone` sends one key's tone on the current call.
    NumberPad(const QStringList& history, std::function<void(char)> sendTone, QWidget* parent = nullptr);

    QComboBox& numberField() { return numberField_; }
    QString number() const { return numberField_.currentText(); }
    void setNumber(const QString& number) { numberField_.setEditText(number); }
    QAbstractButton* key(const QString& text) const { return keys_.value(text); }

    // The key's text appended to the field, logged, and its first character sent as a tone.
    void addNumberToDial(const QString& key);

private:
    QComboBox numberField_;
    QMap<QString, QAbstractButton*> keys_;
    std::function<void(char)> sendTone_;
};
