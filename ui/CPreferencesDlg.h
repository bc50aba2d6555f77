#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>

#include "agent/LoginEntries.h"
#include "ui/ImageButton.h"

// The login dialog shown before every login: agent identification, password, the CTI
// server's host (from the history of earlier hosts) and port. OK is usable only while the
// entries are valid; the entries are checked at every keystroke.
class CPreferencesDlg : public QDialog {
    Q_OBJECT
public:
    struct Current {
        QString agentId;
        int port = 0;
        QString host;
        QStringList hosts;  // most recent first
    };

    explicit CPreferencesDlg(const Current& current, QWidget* parent = nullptr);

    // Sets OK's look from the entries and tells whether they may be confirmed.
    bool validate();
    void OnBnClickedOk();
    // The entries as typed (valid once the dialog was confirmed).
    LoginEntries entries() const;

    QLineEdit& agentField() { return agent_; }
    QLineEdit& passwordField() { return password_; }
    QComboBox& hostField() { return host_; }
    QLineEdit& portField() { return port_; }
    ImageButton& okButton() { return ok_; }
    ImageButton& cancelButton() { return cancel_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void setOkLook(bool valid);

    QLabel agentLabel_;
    QLineEdit agent_;
    QLabel passwordLabel_;
    QLineEdit password_;
    QLabel hostLabel_;
    QComboBox host_;
    QLabel portLabel_;
    QLineEdit port_;
    ImageButton ok_;
    ImageButton cancel_;
};
