#pragma once

#include <QComboBox>
#include <QDialog>
#include <functional>

#include "core/AgentWindow.h"
#include "ui/ImageButton.h"
#include "ui/NumberPad.h"

// The dial window: a number field with the dialled-number history, twelve keys sending touch
// tones, OK and Cancel, and a second list for what the number is (a phone number, an agent or
// a queue) that only transfers and conferences enable.
class CDialPadDlg : public QDialog {
    Q_OBJECT
public:
    struct Opening {
        QString caption;        // "Dialpad", "Preview Dialing", "Transfer", ...
        QString number;         // the number the field starts with
        QStringList history;    // most recent first
        bool secondListEnabled = false;
    };

    CDialPadDlg(const Opening& opening, std::function<void(char)> sendTone, QWidget* parent = nullptr);

    void OnBnClickedOk();
    void OnBnClickedCancel();
    // Closes the window as cancelled from elsewhere, after a short pause.
    void callCloseDialPad();

    // What the agent chose; valid once the window has ended.
    DialWindowResult choice() const { return result_; }

    NumberPad& pad() { return pad_; }
    QComboBox& secondList() { return secondList_; }
    ImageButton& okButton() { return ok_; }
    ImageButton& cancelButton() { return cancel_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override { OnBnClickedCancel(); }

private:
    NumberPad pad_;
    QComboBox secondList_;
    ImageButton ok_;
    ImageButton cancel_;
    DialWindowResult result_;
};
