#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <map>
#include <sstream>
#include <string>

#include "agent/HeadlessAgentWindow.h"
#include "ui/CExt.h"
#include "ui/COrvaneDlg.h"
#include "ui/CTicker.h"

// What the agent sees on the bar, read the same way from the headless window and from the Qt
// window, so both are held to one truth.
struct ShownView {
    struct Look {
        bool visible = false;
        bool enabled = false;
        bool operator==(const Look&) const = default;
    };
    std::map<Control, Look> controls;
    std::string status;
    std::string caption;
    std::string ticker;
    bool attachedDataOpen = false;
    bool operator==(const ShownView&) const = default;

    static constexpr Control kShown[] = {Control::Login,  Control::Logout,     Control::Ready,    Control::NotReady,
                                         Control::NotReadyReason, Control::HangUp, Control::Dial, Control::Conference,
                                         Control::Transfer, Control::Hold,     Control::Unhold,   Control::AttachedData,
                                         Control::SecondConference};

    std::string describe() const {
        std::ostringstream text;
        text << "caption \"" << caption << "\", status \"" << status << "\", ticker \"" << ticker << "\", attached data "
             << (attachedDataOpen ? "open" : "closed") << "\n";
        for (const auto& [id, look] : controls)
            text << "  " << static_cast<int>(id) << (look.visible ? " shown" : " hidden")
                 << (look.enabled ? " enabled" : " disabled") << "\n";
        return text.str();
    }
};

inline ShownView viewOf(const HeadlessAgentWindow& window) {
    ShownView view;
    for (Control id : ShownView::kShown) {
        const auto state = window.control(id);
        view.controls[id] = {state.visible, state.enabled};
    }
    view.status = window.statusText();
    view.caption = window.caption();
    view.ticker = window.ticker().text;
    view.attachedDataOpen = window.attachedDataWindowOpen();
    return view;
}

inline ShownView viewOf(const COrvaneDlg& bar) {
    ShownView view;
    for (Control id : ShownView::kShown) {
        const QWidget* widget = bar.control(id);
        view.controls[id] = {widget->isVisibleTo(&bar), widget->isEnabled()};
    }
    view.status = bar.statusLine().text().toStdString();
    view.caption = bar.windowTitle().toStdString();
    view.ticker = bar.ticker().text().toStdString();
    view.attachedDataOpen = bar.attachedDataWindow().isVisible();
    return view;
}

// Lets the window's thread run until `done` holds or `timeout` passes; its last answer.
template <class Done>
bool eventuallyOnScreen(Done done, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QTest::qWait(2);
    }
    return true;
}

// The Qt window shows what the headless window holds (once the queued calls have arrived).
inline void expectShowsSame(const HeadlessAgentWindow& model, const COrvaneDlg& bar, const char* step) {
    if (eventuallyOnScreen([&] { return viewOf(bar) == viewOf(model); })) return;
    ADD_FAILURE() << "at " << step << " the window shows\n"
                  << viewOf(bar).describe() << "while the headless window holds\n"
                  << viewOf(model).describe();
}
