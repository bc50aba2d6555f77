#include "ui/CPreferencesDlg.h"

#include <QKeyEvent>
#include <QRegularExpressionValidator>

#include "infra/CLogger.h"
#include "ui/DialogUnits.h"

namespace {

constexpr int kLongestPort = 65535;

}  // namespace

CPreferencesDlg::CPreferencesDlg(const Current& current, QWidget* parent)
    : QDialog(parent), agentLabel_(QStringLiteral("Agent ID :")), passwordLabel_(QStringLiteral("Password :")),
      hostLabel_(QStringLiteral("Velmora CCS IP :")), portLabel_(QStringLiteral("Velmora CCS port :")),
      ok_(QStringLiteral("ok")), cancel_(QStringLiteral("cancel")) {
    setWindowTitle(tr("Orvane login"));
    setFont(DialogUnits::dialogFont());
    const DialogUnits units(font());
    setFixedSize(units.x(148), units.y(91));
    struct Place {
        QWidget* widget;
        int x, y, width, height;
    };
    // The combo box's 55 units include its drop-down list; its field is as tall as the others.
    for (const Place& place : {Place{&agentLabel_, 4, 11, 42, 12}, Place{&agent_, 68, 10, 62, 12},
                               Place{&passwordLabel_, 4, 26, 42, 12}, Place{&password_, 68, 25, 62, 12},
                               Place{&hostLabel_, 4, 41, 59, 12}, Place{&host_, 68, 40, 75, 12},
                               Place{&portLabel_, 4, 57, 63, 12}, Place{&port_, 68, 56, 25, 12},
                               Place{&ok_, 19, 73, 43, 14}, Place{&cancel_, 83, 73, 42, 14}}) {
        place.widget->setParent(this);
        place.widget->setGeometry(units.rect(place.x, place.y, place.width, place.height));
    }
    agentLabel_.setBuddy(&agent_);
    passwordLabel_.setBuddy(&password_);
    hostLabel_.setBuddy(&host_);
    portLabel_.setBuddy(&port_);
    password_.setEchoMode(QLineEdit::Password);
    host_.setEditable(true);
    host_.setInsertPolicy(QComboBox::NoInsert);
    port_.setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")), &port_));
    ok_.setText(tr("OK"));
    cancel_.setText(tr("Cancel"));
    ok_.setToolTip(tr("Log in"));
    cancel_.setToolTip(tr("Cancel"));
    setTabOrder(&agent_, &password_);
    setTabOrder(&password_, &host_);
    setTabOrder(&host_, &port_);
    setTabOrder(&port_, &ok_);
    setTabOrder(&ok_, &cancel_);

    logMessage(LogLevel::Debug, "CImplementation::initialize(): Switch port:[%d]", current.port);
    setOkLook(true);
    agent_.setText(current.agentId);
    password_.clear();
    port_.setText(QString::number(current.port));
    if (!current.hosts.isEmpty()) {
        host_.addItems(current.hosts);
        host_.setEditText(current.host);
    } else {
        host_.setEditText(QStringLiteral("192.168.x.x"));
    }
    setOkLook(false);

    connect(&agent_, &QLineEdit::textChanged, this, &CPreferencesDlg::validate);
    connect(&password_, &QLineEdit::textChanged, this, &CPreferencesDlg::validate);
    connect(&port_, &QLineEdit::textChanged, this, &CPreferencesDlg::validate);
    connect(&ok_, &QAbstractButton::clicked, this, &CPreferencesDlg::OnBnClickedOk);
    connect(&cancel_, &QAbstractButton::clicked, this, &QDialog::reject);
    agent_.setFocus();
}

void CPreferencesDlg::setOkLook(bool valid) { ok_.setEnabled(valid); }

LoginEntries CPreferencesDlg::entries() const {
    return {agent_.text().toStdString(), password_.text().toStdString(), host_.currentText().toStdString(),
            port_.text().toStdString()};
}

// Besides the identification and the password, the port must be one a server can listen on:
// a port of 0 would be stored and every later login would fail.
bool CPreferencesDlg::validate() {
    bool portIsNumber = false;
    const int port = port_.text().toInt(&portIsNumber);
    const bool valid = entries().valid() && portIsNumber && port > 0 && port <= kLongestPort;
    setOkLook(valid);
    return valid;
}

void CPreferencesDlg::OnBnClickedOk() {
    if (!validate()) return;
    accept();
}

void CPreferencesDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        OnBnClickedOk();
        return;
    }
    QDialog::keyPressEvent(event);
}
