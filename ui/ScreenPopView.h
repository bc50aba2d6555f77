#pragma once

#include <QWebEngineView>

// The screen pop's top-level browser window. It tells a close by the agent (the window's close
// button, or the page closing itself) from its owner deleting it.
class ScreenPopView : public QWebEngineView {
    Q_OBJECT

public:
    using QWebEngineView::QWebEngineView;

Q_SIGNALS:
    void closedByAgent();

protected:
    void closeEvent(QCloseEvent* event) override;
};
