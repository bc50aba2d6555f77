#pragma once

#include <QPointer>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "core/AgentWindow.h"
#include "ui/CCompleteConferenceDlg.h"
#include "ui/CDialPadDlg.h"

// A modal window asked for by a worker thread: the worker waits on the run while the GUI
// thread shows the window and reports back, so only the worker is blocked.

// One dial window: ends once, with the agent's choice or cancelled.
class DialRun {
public:
    DialRun(std::string title, std::string number) : title(std::move(title)), number(std::move(number)) {}

    // The first end wins; later ones are ignored.
    void finish(const DialWindowResult& result);
    bool finished() const;
    // Blocks until the run has ended.
    DialWindowResult wait();

    const std::string title;
    const std::string number;
    QPointer<CDialPadDlg> dialog;  // GUI thread only
    bool okEnabled = true;         // under the window's lock, until the dialog exists

private:
    mutable std::mutex lock_;
    std::condition_variable ended_;
    bool finished_ = false;
    DialWindowResult result_;
};

// How one control of the complete-conference window looks.
struct ConferenceLook {
    bool enabled = true;
    bool visible = true;
};

// One complete-conference window: the agent's clicks, queued for the worker, which runs the
// buttons' work; a close from elsewhere counts as Cancel.
class ConferenceRun {
public:
    using Click = CCompleteConferenceDlg::Click;

    explicit ConferenceRun(bool secondLineEnabled);

    void click(Click click);
    bool hasClick() const;
    // Blocks until there is a click and takes it.
    Click next();

    QPointer<CCompleteConferenceDlg> dialog;  // GUI thread only
    std::map<Control, ConferenceLook> looks;  // under the window's lock

private:
    mutable std::mutex lock_;
    std::condition_variable clicked_;
    std::deque<Click> clicks_;
};
