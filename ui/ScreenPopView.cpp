#include "ui/ScreenPopView.h"

#include <QCloseEvent>

void ScreenPopView::closeEvent(QCloseEvent* event) {
    emit closedByAgent();
    QWebEngineView::closeEvent(event);
}
