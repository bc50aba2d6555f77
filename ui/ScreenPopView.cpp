#include "ui/ScreenPopView.h"

#include <QCloseEvent>

void ScreenPopView::closeEvent(QCloseEvent* event) {
    Q_EMIT closedByAgent();
    QWebEngineView::closeEvent(event);
}
