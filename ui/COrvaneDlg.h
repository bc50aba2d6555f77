#pragma once

#include <QDialog>
#include <QLabel>
#include <QMap>
#include <QMenu>
#include <QPointer>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "agent/AgentButtons.h"
#include "agent/LoginEntries.h"
#include "core/AgentWindow.h"
#include "infra/SerialWorker.h"
#include "infra/ThreadGroup.h"

class CCompleteConferenceDlg;
class CDialPadDlg;
class CExt;
class CImplementation;
class CPreferencesDlg;
class CTicker;
class ConferenceRun;
struct ConferenceLook;
class DialRun;

// The agent's bar: a small frameless window dragged by its body, with the agent's buttons, the
// status line, the call timer, the ticker and the Attached Data button, laid out in dialog
// units. It is the agent core's window: every call the core makes, from whatever thread, is
// carried to the window's thread in order; the modal windows block only the thread that asks
// for them. Clicks that may wait on the network or the voice engine run on a worker thread,
// so the bar always paints and answers.
class COrvaneDlg : public QDialog, public AgentWindow {
    Q_OBJECT
public:
    // Builds the agent core with the window it is to use (this bar, or one that watches it).
    using CoreFactory = std::function<std::unique_ptr<CImplementation>(AgentWindow& window)>;

    explicit COrvaneDlg(CoreFactory makeCore, const std::string& titlePrefix = "Orvane");
    ~COrvaneDlg() override;

    // Starts the agent core: its settings, voice engine and event queue.
    void OnInitDialog();
    // The Login button: the login dialog, then the login with what the agent confirmed.
    void OnBnClickedButtonLogin();
    // Logs in with entries given elsewhere (the command line), as if confirmed in the dialog.
    void loginWith(const LoginEntries& entries);
    // Any request to close the window: the clean close, on its own thread.
    void requestCleanClose();
    void OnOK();
    void OnCancel();

    CImplementation* core() const { return core_.get(); }
    AgentButtons* buttons() const { return buttons_.get(); }
    // The bar's controls by id, and its other windows while they are open.
    QWidget* control(Control id) const { return controls_.value(id); }
    CTicker& ticker() const { return *ticker_; }
    QLabel& statusLine() const { return *statusLine_; }
    QLabel& callTimerLabel() const { return *callTimer_; }
    QMenu& reasonMenu() { return reasonMenu_; }
    CExt& attachedDataWindow() const { return *ext_; }
    CDialPadDlg* dialWindow() const;
    CCompleteConferenceDlg* conferenceWindow() const;
    CPreferencesDlg* loginDialog() const;

    // AgentWindow
    bool controlExists(Control control) const override;
    void enableControl(Control control, bool enabled) override;
    void showControl(Control control, bool visible) override;
    bool windowClosing() const override { return windowClosing_; }
    void setWindowClosing() override { windowClosing_ = true; }
    std::string titlePrefix() const override { return titlePrefix_; }
    void setStatusText(const std::string& text) override;
    void setCaption(const std::string& caption) override;
    void disableAllButtons() override;
    void hideAttachedDataWindow() override;
    void refreshAttachedDataWindow() override;
    void showTicker(const TickerText& text) override;
    void showCallTimer(const std::string& text, std::uint32_t colour) override;
    void openDialPad() override;
    void openPreviewDial() override;
    void closeDialWindow() override;
    bool dialWindowOpen() const override;
    void closeCompleteConferenceWindow() override;
    using AgentWindow::runDialWindow;
    DialWindowResult runDialWindow(const std::string& title, const std::string& number) override;
    bool runCompleteConferenceDialog(ConferenceButtons& buttons, int consultationLine) override;
    void setNotReadyReasons(const std::vector<std::string>& reasons) override;
    void showMessageBox(const std::string& text, const std::string& caption) override;
    void closeWindow() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }

private:
    void createControls();
    void connectButtons();
    // Work for the worker thread (in order) or for a thread of its own (it may run a modal window).
    void onWorker(const char* name, std::function<void()> work);
    void onOwnThread(const char* name, std::function<void()> work);
    // Work for the window's thread, run there in the order posted.
    template <class F>
    void post(F&& work);
    Q_INVOKABLE void runPosted();
    void applyStatusText(const QString& text);
    void openDialWindow(const std::shared_ptr<DialRun>& run);
    void openConferenceWindow(const std::shared_ptr<ConferenceRun>& run);
    void changeConferenceLook(Control control, const std::function<void(ConferenceLook&)>& change);
    void applyConferenceLooks(const std::shared_ptr<ConferenceRun>& run);
    void showAttachedData();
    void toggleAttachedData();
    void cancelModalRuns();
    void endWindow();
    void restorePosition();
    void savePosition() const;
    QStringList dialHistory() const;
    std::function<void(char)> toneSender();

    const CoreFactory makeCore_;
    const std::string titlePrefix_;
    std::unique_ptr<CImplementation> core_;
    std::unique_ptr<AgentButtons> buttons_;

    QMap<Control, QWidget*> controls_;
    QLabel* statusLine_ = nullptr;
    QLabel* callTimer_ = nullptr;
    CTicker* ticker_ = nullptr;
    CExt* ext_ = nullptr;
    QMenu reasonMenu_;
    QPointer<CPreferencesDlg> loginDialog_;

    std::atomic<bool> windowClosing_{false};
    bool ended_ = false;
    QPoint dragOffset_;
    bool dragging_ = false;

    // What worker threads read at once, without waiting for the window's thread.
    mutable std::mutex lock_;
    std::string tickerText_;
    std::shared_ptr<DialRun> dialRun_;
    std::shared_ptr<ConferenceRun> conferenceRun_;
    bool modalRunsCancelled_ = false;

    // Work posted for the window's thread. Handed over under a lock of ours rather than inside
    // Qt's event, so the hand-over is plain to every reader (and to ThreadSanitizer).
    std::mutex postedLock_;
    std::deque<std::function<void()>> posted_;

    SerialWorker clicks_;
    ThreadGroup modalThreads_;
};
