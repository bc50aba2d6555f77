#include "ui/COrvaneDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QWindow>
#include <exception>

#include "agent/CImplementation.h"
#include "infra/CLogger.h"
#include "infra/SettingsStore.h"
#include "ui/CCompleteConferenceDlg.h"
#include "ui/CDialPadDlg.h"
#include "ui/CExt.h"
#include "ui/CPreferencesDlg.h"
#include "ui/CTicker.h"
#include "ui/DialogUnits.h"
#include "ui/ImageButton.h"
#include "ui/ModalRuns.h"

namespace {

// The bar's controls in dialog units (x, y, width, height), with their glyphs and tooltips.
struct Place {
    Control id;
    int x, y, width, height;
    const char* glyph;  // nullptr: not a button
    const char* name;
    const char* tip;
};

const Place kPlaces[] = {
    {Control::Login, 2, 13, 23, 20, "login", "Login", "Login"},
    {Control::Logout, 2, 13, 23, 20, "logout", "Logout", "Logout"},
    {Control::Ready, 27, 13, 23, 20, "ready", "Ready", "Ready"},
    {Control::NotReady, 27, 13, 23, 20, "notready", "Not Ready", "Not Ready"},
    {Control::NotReadyReason, 51, 13, 6, 20, "reason", "Not ready reason", "Not ready reason"},
    {Control::HangUp, 57, 13, 23, 20, "hangup", "Hangup", "Hang Up"},
    {Control::Dial, 83, 13, 23, 20, "dial", "Dial", "Dial"},
    {Control::Conference, 109, 13, 23, 20, "conference", "Conference", "Conference"},
    {Control::Transfer, 135, 13, 23, 20, "transfer", "Transfer", "Transfer"},
    {Control::Hold, 161, 13, 23, 20, "resume", "Hold", "Unhold"},
    {Control::Unhold, 161, 13, 23, 20, "hold", "Muted", "Hold"},
    {Control::SecondConference, 52, 17, 6, 6, "conference", "Conference", "Conference"},
    {Control::Close, 182, 1, 10, 9, "close", "Close", "Close"},
    {Control::StatusLine, 45, 0, 113, 10, nullptr, "Status", nullptr},
    {Control::Ticker, 28, 35, 146, 9, nullptr, "Messages", nullptr},
    {Control::StateTimer, 3, 35, 24, 8, nullptr, "Call time", nullptr},
    {Control::AttachedData, 181, 35, 10, 10, "attached", "Attached Data", "Attached Data"},
};

// The buttons disabled together when the voice engine cannot start.
const Control kAgentButtons[] = {Control::Login,    Control::Logout,     Control::Ready,
                                 Control::NotReady, Control::NotReadyReason, Control::HangUp,
                                 Control::Dial,     Control::Conference, Control::Transfer,
                                 Control::Hold,     Control::Unhold,     Control::AttachedData};

bool isConferenceControl(Control id) {
    switch (id) {
    case Control::CompleteConference:
    case Control::ConferenceLine1:
    case Control::ConferenceLine2:
    case Control::ConferenceLine1Selected:
    case Control::ConferenceLine1Unselected:
    case Control::ConferenceLine2Selected:
    case Control::ConferenceLine2Unselected: return true;
    default: return false;
    }
}

QColor rgb(std::uint32_t colour) { return QColor((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF); }

// The status line's colours tell the agent's state at a glance: (text, background).
std::pair<QColor, QColor> statusColours(const QString& status) {
    if (status.contains(QLatin1String("Submit Required"))) return {QColor(0xFF, 0xFF, 0xFF), QColor(0xC8, 0x5A, 0x1E)};
    if (status.startsWith(QLatin1String("[Ready"))) return {QColor(0xFF, 0xFF, 0xFF), QColor(0x2E, 0x8B, 0x57)};
    if (status.startsWith(QLatin1String("[In Call"))) return {QColor(0xFF, 0xFF, 0xFF), QColor(0x1D, 0x5A, 0x8C)};
    if (status.startsWith(QLatin1String("[Not Ready"))) return {QColor(0x3B, 0x2A, 0x00), QColor(0xF2, 0xC1, 0x4E)};
    if (status.startsWith(QLatin1String("[Preview"))) return {QColor(0xFF, 0xFF, 0xFF), QColor(0x6C, 0x4F, 0xA3)};
    return {QColor(0x33, 0x3D, 0x46), QColor(0xD4, 0xDB, 0xE1)};
}

const char* const kPositionValue = "Window position";

}  // namespace

COrvaneDlg::COrvaneDlg(CoreFactory makeCore, const std::string& titlePrefix)
    : QDialog(nullptr, Qt::Window | Qt::FramelessWindowHint), makeCore_(std::move(makeCore)),
      titlePrefix_(titlePrefix.substr(0, 100)) {
    setObjectName(QStringLiteral("Orvane"));
    setWindowTitle(QString::fromStdString(titlePrefix_));
    setWindowIcon(programIcon());
    setFont(DialogUnits::dialogFont());
    createControls();
    connectButtons();
    restorePosition();
}

COrvaneDlg::~COrvaneDlg() {
    logMessage(LogLevel::Debug, "Entering the destructor... ~COrvaneDlg");
    cancelModalRuns();
    clicks_.stop();
    modalThreads_.join();
    buttons_.reset();
    core_.reset();
    logMessage(LogLevel::Debug, "Leaving the destructor... ~COrvaneDlg");
}

void COrvaneDlg::createControls() {
    const DialogUnits units(font());
    setFixedSize(units.x(194), units.y(47));
    for (const Place& place : kPlaces) {
        QWidget* widget = nullptr;
        if (place.id == Control::StatusLine) {
            statusLine_ = new QLabel(this);
            statusLine_->setFrameStyle(QFrame::Panel | QFrame::Raised);
            statusLine_->setAlignment(Qt::AlignCenter);
            QFont bold = font();
            bold.setBold(true);
            statusLine_->setFont(bold);
            statusLine_->setAutoFillBackground(true);
            widget = statusLine_;
        } else if (place.id == Control::Ticker) {
            ticker_ = new CTicker(this);
            widget = ticker_;
        } else if (place.id == Control::StateTimer) {
            callTimer_ = new QLabel(this);
            QFont clock;
            clock.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
            clock.setPixelSize(10);
            callTimer_->setFont(clock);
            callTimer_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            widget = callTimer_;
        } else {
            auto* button = new ImageButton(QString::fromLatin1(place.glyph), this);
            button->setToolTip(QString::fromLatin1(place.tip));
            widget = button;
        }
        widget->setObjectName(QString::number(static_cast<int>(place.id)));
        widget->setAccessibleName(QString::fromLatin1(place.name));
        widget->setGeometry(units.rect(place.x, place.y, place.width, place.height));
        controls_.insert(place.id, widget);
    }
    controls_[Control::SecondConference]->hide();
    applyStatusText(QString());
    ext_ = new CExt(this, [this](const CExt::Rows& rows) {
        onWorker("attached data save", [this, rows] { buttons_->OnBnClickedButtonSaveAttachedData(rows); });
    });
    ext_->hide();
}

void COrvaneDlg::connectButtons() {
    auto onClick = [this](Control id, std::function<void()> handler) {
        connect(static_cast<QAbstractButton*>(controls_[id]), &QAbstractButton::clicked, this,
                [this, handler = std::move(handler)] {
                    if (buttons_) handler();
                });
    };
    onClick(Control::Login, [this] { OnBnClickedButtonLogin(); });
    onClick(Control::Logout, [this] { onWorker("logout", [this] { buttons_->OnBnClickedButtonLogout(); }); });
    onClick(Control::Ready, [this] { onWorker("ready", [this] { buttons_->OnBnClickedButtonReady(); }); });
    onClick(Control::NotReady, [this] { onWorker("not ready", [this] { buttons_->OnBnClickedButtonNotReady(); }); });
    onClick(Control::HangUp, [this] { onWorker("hang up", [this] { buttons_->OnBnClickedButtonHangup(); }); });
    onClick(Control::Dial, [this] { onOwnThread("dial", [this] { buttons_->OnBnClickedButtonDial(); }); });
    onClick(Control::Transfer, [this] { onOwnThread("transfer", [this] { core_->OnBnClickedButtonTransfer(); }); });
    onClick(Control::Conference, [this] { onOwnThread("conference", [this] { core_->OnBnClickedButtonConference(); }); });
    onClick(Control::SecondConference, [this] { onOwnThread("conference", [this] { core_->OnBnClickedButtonConference(); }); });
    onClick(Control::Hold, [this] { onWorker("hold", [this] { core_->OnBnClickedButtonHold(); }); });
    onClick(Control::Unhold, [this] { onWorker("unhold", [this] { core_->OnBnClickedButtonUnHold(); }); });
    onClick(Control::AttachedData, [this] { toggleAttachedData(); });
    onClick(Control::Close, [this] { requestCleanClose(); });
    onClick(Control::NotReadyReason, [this] {
        QWidget* button = controls_[Control::NotReadyReason];
        reasonMenu_.popup(button->mapToGlobal(QPoint(0, button->height())));
    });
    connect(&reasonMenu_, &QMenu::triggered, this, [this](QAction* action) {
        const int command = action->data().toInt();
        if (buttons_) onWorker("not ready reason", [this, command] { buttons_->OnNotReadyReasonChosen(command); });
    });
}

void COrvaneDlg::OnInitDialog() {
    windowClosing_ = false;
    core_ = makeCore_(*this);
    buttons_ = std::make_unique<AgentButtons>(core_->buttonServices(), *this);
    core_->initialize();
    core_->UnsetUseOnlytt();
}

template <class F>
void COrvaneDlg::post(F&& work) {
    {
        std::lock_guard guard(postedLock_);
        posted_.emplace_back(std::forward<F>(work));
    }
    QMetaObject::invokeMethod(this, "runPosted", Qt::QueuedConnection);
}

void COrvaneDlg::runPosted() {
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard guard(postedLock_);
            if (posted_.empty()) return;
            work = std::move(posted_.front());
            posted_.pop_front();
        }
        work();
    }
}

void COrvaneDlg::onWorker(const char* name, std::function<void()> work) {
    clicks_.post([name, work = std::move(work)] {
        try {
            work();
        } catch (const std::exception& error) {
            logMessage(LogLevel::Error, "Unhandled exception in %s: %s", name, error.what());
        }
    });
}

void COrvaneDlg::onOwnThread(const char* name, std::function<void()> work) {
    modalThreads_.start([name, work = std::move(work)] {
        try {
            work();
        } catch (const std::exception& error) {
            logMessage(LogLevel::Error, "Unhandled exception in %s: %s", name, error.what());
        }
    });
}

// --- The agent's ways in --------------------------------------------------------------------

void COrvaneDlg::OnBnClickedButtonLogin() {
    if (!core_ || loginDialog_) return;
    const StoredSettings& stored = core_->storedSettings();
    CPreferencesDlg::Current current;
    current.agentId = QString::fromStdString(core_->profile().agentId.get());
    current.port = static_cast<int>(stored.ctiPort.load());
    current.host = QString::fromStdString(stored.ctiHost.get());
    for (const std::string& host : stored.ctiHosts.get()) current.hosts << QString::fromStdString(host);
    loginDialog_ = new CPreferencesDlg(current, this);
    loginDialog_->setAttribute(Qt::WA_DeleteOnClose);
    loginDialog_->setWindowModality(Qt::WindowModal);
    connect(loginDialog_, &QDialog::accepted, this, [this, dialog = loginDialog_] { loginWith(dialog->entries()); });
    loginDialog_->open();
}

void COrvaneDlg::loginWith(const LoginEntries& entries) {
    onWorker("login", [this, entries] { buttons_->OnBnClickedButtonLogin(entries); });
}

void COrvaneDlg::requestCleanClose() {
    if (!buttons_) {
        endWindow();
        return;
    }
    onWorker("close", [this] { buttons_->OnBnClickedButtonClose(); });
}

void COrvaneDlg::OnOK() { logMessage(LogLevel::Debug, "COrvaneDlg::OnOK()"); }

void COrvaneDlg::OnCancel() {
    if (core_ && !core_->isClosing()) {
        logMessage(LogLevel::Debug, "COrvaneDlg::OnCancel(), Received message to close window, closing properly.");
        requestCleanClose();
        return;
    }
    logMessage(LogLevel::Debug, "COrvaneDlg::OnCancel()");
    endWindow();
}

void COrvaneDlg::endWindow() {
    if (ended_) return;
    ended_ = true;
    savePosition();
    cancelModalRuns();
    ext_->hide();
    if (loginDialog_) loginDialog_->reject();
    QDialog::done(0);
}

// Escape does nothing; Enter and space click the button that has the keyboard focus, and
// anywhere else only reach OnOK, which never closes the bar.
void COrvaneDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape: return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space: {
        auto* button = qobject_cast<QAbstractButton*>(focusWidget());
        if (button && button->isEnabled() && button->isVisible() && button->window() == this)
            button->animateClick();
        else
            OnOK();
        return;
    }
    default: QDialog::keyPressEvent(event);
    }
}

void COrvaneDlg::closeEvent(QCloseEvent* event) {
    if (ended_) {
        event->accept();
        return;
    }
    event->ignore();
    OnCancel();
}

// --- Dragged by its body --------------------------------------------------------------------

void COrvaneDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QDialog::mousePressEvent(event);
    if (windowHandle() && windowHandle()->startSystemMove()) return;
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void COrvaneDlg::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton)) move(event->globalPosition().toPoint() - dragOffset_);
}

void COrvaneDlg::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = false;
    QDialog::mouseReleaseEvent(event);
}

void COrvaneDlg::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    if (ext_ && ext_->isVisible()) ext_->placeUnder(*this);
}

void COrvaneDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient body(0, 0, 0, height());
    body.setColorAt(0, QColor(0xF4, 0xF8, 0xFC));
    body.setColorAt(1, QColor(0xD8, 0xE6, 0xF2));
    painter.fillRect(rect(), body);
    painter.setPen(QColor(0x6F, 0x93, 0xB0));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void COrvaneDlg::restorePosition() {
    std::string text;
    QPoint place;
    bool known = false;
    if (SettingsStore().readRegistryValue(kPositionValue, text)) {
        const QStringList parts = QString::fromStdString(text).split(QLatin1Char(','));
        bool xRead = false, yRead = false;
        if (parts.size() == 2) place = QPoint(parts[0].toInt(&xRead), parts[1].toInt(&yRead));
        known = xRead && yRead && QGuiApplication::screenAt(place + QPoint(width() / 2, height() / 2));
    }
    if (!known) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
        place = QPoint(area.center().x() - width() / 2, area.top() + 8);
    }
    move(place);
}

void COrvaneDlg::savePosition() const {
    const QPoint place = pos();
    SettingsStore().writeRegistryValue(kPositionValue, std::to_string(place.x()) + "," + std::to_string(place.y()));
}

// --- What the agent core asks of the window -------------------------------------------------

bool COrvaneDlg::controlExists(Control control) const {
    if (control == Control::DialPadOk) return dialWindowOpen();
    if (isConferenceControl(control)) {
        std::lock_guard guard(lock_);
        return conferenceRun_ != nullptr;
    }
    return controls_.contains(control);
}

void COrvaneDlg::enableControl(Control control, bool enabled) {
    if (control == Control::DialPadOk) {
        std::shared_ptr<DialRun> run;
        {
            std::lock_guard guard(lock_);
            run = dialRun_;
            if (run) run->okEnabled = enabled;
        }
        if (run) post([run, enabled] {
                if (run->dialog) run->dialog->okButton().setEnabled(enabled);
            });
        return;
    }
    if (isConferenceControl(control)) {
        changeConferenceLook(control, [enabled](ConferenceLook& look) { look.enabled = enabled; });
        return;
    }
    if (QWidget* widget = controls_.value(control)) post([widget, enabled] { widget->setEnabled(enabled); });
}

void COrvaneDlg::showControl(Control control, bool visible) {
    if (isConferenceControl(control)) {
        changeConferenceLook(control, [visible](ConferenceLook& look) { look.visible = visible; });
        return;
    }
    if (QWidget* widget = controls_.value(control)) post([widget, visible] { widget->setVisible(visible); });
}

void COrvaneDlg::setStatusText(const std::string& text) {
    post([this, text = QString::fromStdString(text)] { applyStatusText(text); });
}

void COrvaneDlg::applyStatusText(const QString& text) {
    statusLine_->setText(text);
    const auto [foreground, background] = statusColours(text);
    QPalette palette = statusLine_->palette();
    palette.setColor(QPalette::WindowText, foreground);
    palette.setColor(QPalette::Window, background);
    statusLine_->setPalette(palette);
}

void COrvaneDlg::setCaption(const std::string& caption) {
    post([this, caption = QString::fromStdString(caption)] { setWindowTitle(caption); });
}

void COrvaneDlg::disableAllButtons() {
    post([this] {
        for (Control id : kAgentButtons) controls_[id]->setEnabled(false);
    });
}

void COrvaneDlg::hideAttachedDataWindow() {
    post([this] { ext_->hide(); });
}

void COrvaneDlg::refreshAttachedDataWindow() {
    post([this] { showAttachedData(); });
}

void COrvaneDlg::showAttachedData() {
    if (!buttons_) return;
    ext_->placeUnder(*this);
    ext_->showList(buttons_->attachedData().value_or(AttachedDataView{}));
}

void COrvaneDlg::toggleAttachedData() {
    if (ext_->isVisible())
        ext_->hide();
    else
        showAttachedData();
}

// A text already shown changes nothing, so it does not start scrolling again.
void COrvaneDlg::showTicker(const TickerText& text) {
    {
        std::lock_guard guard(lock_);
        if (text.text != tickerText_) {
            tickerText_ = text.text;
            post([this, text] {
                ticker_->configure(rgb(text.firstColour), rgb(text.secondColour), QStringLiteral("Arial"), text.speed,
                                   text.mode);
                ticker_->setText(QString::fromStdString(text.text));
            });
        }
    }
    logMessage(LogLevel::Debug, "Ticker text was change for [%s]", text.text.c_str());
}

void COrvaneDlg::showCallTimer(const std::string& text, std::uint32_t colour) {
    post([this, text = QString::fromStdString(text), colour] {
        QPalette palette = callTimer_->palette();
        palette.setColor(QPalette::WindowText, rgb(colour));
        callTimer_->setPalette(palette);
        callTimer_->setText(text);
    });
}

void COrvaneDlg::openDialPad() {
    onOwnThread("dial pad", [this] {
        if (buttons_) buttons_->showDialPad();
    });
}

void COrvaneDlg::openPreviewDial() {
    onOwnThread("preview dial", [this] {
        if (buttons_) buttons_->showPreviewDial();
    });
}

bool COrvaneDlg::dialWindowOpen() const {
    std::lock_guard guard(lock_);
    return dialRun_ != nullptr;
}

CDialPadDlg* COrvaneDlg::dialWindow() const {
    std::lock_guard guard(lock_);
    return dialRun_ ? dialRun_->dialog.data() : nullptr;
}

CCompleteConferenceDlg* COrvaneDlg::conferenceWindow() const {
    std::lock_guard guard(lock_);
    return conferenceRun_ ? conferenceRun_->dialog.data() : nullptr;
}

CPreferencesDlg* COrvaneDlg::loginDialog() const { return loginDialog_.data(); }

QStringList COrvaneDlg::dialHistory() const {
    QStringList history;
    if (core_)
        for (const std::string& number : core_->storedSettings().dialList.get()) history << QString::fromStdString(number);
    return history;
}

std::function<void(char)> COrvaneDlg::toneSender() {
    return [this](char key) {
        onWorker("touch tone", [this, key] { core_->lines().sendDTMF(key); });
    };
}

DialWindowResult COrvaneDlg::runDialWindow(const std::string& title, const std::string& number) {
    auto run = std::make_shared<DialRun>(title, number);
    {
        std::lock_guard guard(lock_);
        if (modalRunsCancelled_) return {};
        dialRun_ = run;
    }
    post([this, run] { openDialWindow(run); });
    if (QThread::currentThread() == thread()) {  // asked by the window's own thread: keep it painting
        while (!run->finished()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    const DialWindowResult result = run->wait();
    {
        std::lock_guard guard(lock_);
        if (dialRun_ == run) dialRun_.reset();
    }
    return result;
}

void COrvaneDlg::openDialWindow(const std::shared_ptr<DialRun>& run) {
    if (run->finished()) return;
    const QString title = QString::fromStdString(run->title);
    CDialPadDlg::Opening opening{title, QString::fromStdString(run->number), dialHistory(),
                                 title == QLatin1String("Transfer") || title == QLatin1String("Initiate conference")};
    auto* dialog = new CDialPadDlg(opening, toneSender(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    {
        std::lock_guard guard(lock_);
        dialog->okButton().setEnabled(run->okEnabled);
    }
    run->dialog = dialog;
    connect(dialog, &QDialog::finished, this, [run, dialog] { run->finish(dialog->choice()); });
    dialog->open();
}

void COrvaneDlg::closeDialWindow() {
    std::shared_ptr<DialRun> run;
    {
        std::lock_guard guard(lock_);
        run = dialRun_;
    }
    if (!run) return;
    post([run] {
        if (run->dialog)
            run->dialog->callCloseDialPad();
        else
            run->finish({});
    });
}

bool COrvaneDlg::runCompleteConferenceDialog(ConferenceButtons& buttons, int consultationLine) {
    auto run = std::make_shared<ConferenceRun>(core_ && core_->lines().lineIsUp(consultationLine));
    {
        std::lock_guard guard(lock_);
        if (modalRunsCancelled_) return false;
        conferenceRun_ = run;
    }
    post([this, run] { openConferenceWindow(run); });
    bool completed = false;
    for (bool open = true; open;) {
        if (QThread::currentThread() == thread())
            while (!run->hasClick()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        switch (run->next()) {  // the buttons' work runs here, on the thread that asked for the window
        case ConferenceRun::Click::Line1: buttons.OnBnClickedLine1(); break;
        case ConferenceRun::Click::Line2: buttons.OnBnClickedLine2(); break;
        case ConferenceRun::Click::Complete:
            buttons.OnBnClickedButtonCompleteConf();
            completed = true;
            open = false;
            break;
        case ConferenceRun::Click::Cancel:
            buttons.OnBnClickedCancel();
            open = false;
            break;
        }
    }
    {
        std::lock_guard guard(lock_);
        if (conferenceRun_ == run) conferenceRun_.reset();
    }
    post([run] {
        if (run->dialog) run->dialog->done(0);
    });
    return completed;
}

void COrvaneDlg::openConferenceWindow(const std::shared_ptr<ConferenceRun>& run) {
    {
        std::lock_guard guard(lock_);
        if (conferenceRun_ != run) return;  // over before it could open
    }
    auto* dialog = new CCompleteConferenceDlg(dialHistory(), toneSender(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    run->dialog = dialog;
    connect(dialog, &CCompleteConferenceDlg::clicked, this, [run](CCompleteConferenceDlg::Click click) { run->click(click); });
    applyConferenceLooks(run);
    dialog->open();
}

// A conference control's look changes in the run at once (the window may not be open yet) and
// reaches the window in order.
void COrvaneDlg::changeConferenceLook(Control control, const std::function<void(ConferenceLook&)>& change) {
    std::shared_ptr<ConferenceRun> run;
    {
        std::lock_guard guard(lock_);
        run = conferenceRun_;
        if (run) change(run->looks[control]);
    }
    if (run) post([this, run] { applyConferenceLooks(run); });
}

void COrvaneDlg::applyConferenceLooks(const std::shared_ptr<ConferenceRun>& run) {
    if (!run->dialog) return;
    std::lock_guard guard(lock_);
    for (const auto& [id, look] : run->looks) {
        if (QWidget* widget = run->dialog->control(id)) {
            widget->setEnabled(look.enabled);
            widget->setVisible(look.visible);
        }
    }
}

void COrvaneDlg::closeCompleteConferenceWindow() {
    std::shared_ptr<ConferenceRun> run;
    {
        std::lock_guard guard(lock_);
        run = conferenceRun_;
    }
    if (!run) return;
    logMessage(LogLevel::Debug, "Closing complete conference dial window");
    post([run] {
        if (run->dialog)
            run->dialog->callCloseDialPad();
        else
            run->click(ConferenceRun::Click::Cancel);
    });
}

// The window is going away: every modal run ends as cancelled, and none starts again.
void COrvaneDlg::cancelModalRuns() {
    std::shared_ptr<DialRun> dial;
    std::shared_ptr<ConferenceRun> conference;
    {
        std::lock_guard guard(lock_);
        modalRunsCancelled_ = true;
        dial = dialRun_;
        conference = conferenceRun_;
    }
    if (dial) dial->finish({});
    if (conference) conference->click(ConferenceRun::Click::Cancel);
}

void COrvaneDlg::setNotReadyReasons(const std::vector<std::string>& reasons) {
    post([this, reasons] {
        reasonMenu_.clear();
        int command = AgentButtons::kFirstReasonCommand;
        for (const std::string& reason : reasons)
            reasonMenu_.addAction(QString::fromStdString(reason))->setData(command++);
    });
}

void COrvaneDlg::showMessageBox(const std::string& text, const std::string& caption) {
    post([this, text = QString::fromStdString(text), caption = QString::fromStdString(caption)] {
        auto* box = new QMessageBox(QMessageBox::Warning, caption, text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::WindowModal);
        box->open();
    });
}

void COrvaneDlg::closeWindow() {
    post([this] { OnCancel(); });
}
