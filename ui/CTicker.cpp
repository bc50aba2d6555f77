#include "ui/CTicker.h"

#include <QPainter>
#include <algorithm>
#include <chrono>

#include "infra/Timing.h"

namespace {

constexpr int kRiseFromTick = -99;    // below this count a mode-4 text rises
constexpr int kClearAfterTick = -219; // below this count a mode-4 text is cleared

QFont tickerFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Comic Sans MS"), QStringLiteral("Comic Neue"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(13);
    return font;
}

}  // namespace

CTicker::CTicker(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setFont(tickerFont());
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(&timer_, &QTimer::timeout, this, &CTicker::tick);
}

void CTicker::configure(const QColor& first, const QColor& second, const QString& faceName, int speed, int mode) {
    first_ = first;
    second_ = second;
    faceName_ = faceName;
    speed_ = speed;
    mode_ = mode;
    strip_ = QPixmap();
    x_ = width();
    y_ = 3;
    const auto interval = std::chrono::duration_cast<std::chrono::milliseconds>(Timing::scaled(intervals::kTickerTick));
    timer_.setInterval(std::max<int>(1, static_cast<int>(interval.count())));
    updateTimer();
    update();
}

void CTicker::setText(const QString& text) {
    text_ = text;
    strip_ = QPixmap();
    if (mode_ == 4) {
        ticks_ = 0;
        y_ = 0;
    }
    updateTimer();
    update();
}

void CTicker::tick() {
    x_ -= speed_;
    --ticks_;
    if (mode_ == 4 && ticks_ < kClearAfterTick) {
        ticks_ = 0;
        y_ = 2;
        text_.clear();
        strip_ = QPixmap();
    }
    if (ticks_ < kRiseFromTick) --y_;
    restartFromRightWhenGone();
    updateTimer();
    update();
}

// Modes 1, 2 and 5 (and any mode the server invents) scroll; 3 and 4 stand at x 3.
bool CTicker::scrolls() const { return mode_ != 3 && mode_ != 4; }

bool CTicker::stepChangesView() const {
    if (text_.isEmpty()) return false;
    if (mode_ == 4) return true;
    return scrolls() && speed_ != 0;
}

void CTicker::updateTimer() {
    if (stepChangesView()) {
        if (!timer_.isActive()) timer_.start();
    } else {
        timer_.stop();
    }
}

QStringList CTicker::parts() const { return text_.split(QLatin1Char('|'), Qt::SkipEmptyParts); }

int CTicker::drawnWidth() const {
    const QFontMetrics metrics = fontMetrics();
    if (mode_ != 2 && mode_ != 5) return metrics.horizontalAdvance(text_);
    int total = 0;
    for (const QString& part : parts()) total += metrics.horizontalAdvance(part);
    return total;
}

void CTicker::restartFromRightWhenGone() {
    if (scrolls() && drawnWidth() <= -x_) x_ = width();
}

const QPixmap& CTicker::strip() {
    const qreal ratio = devicePixelRatioF();
    if (!strip_.isNull() && strip_.devicePixelRatio() == ratio) return strip_;
    strip_ = QPixmap(QSize(std::max(1, drawnWidth()), height()) * ratio);
    strip_.setDevicePixelRatio(ratio);
    strip_.fill(Qt::transparent);
    QPainter painter(&strip_);
    painter.setFont(font());
    const int ascent = fontMetrics().ascent();
    if (mode_ == 2 || mode_ == 5) {
        int left = 0;
        bool firstLook = true;
        for (const QString& part : parts()) {
            painter.setPen(firstLook ? first_ : second_);
            painter.drawText(QPoint(left, ((mode_ == 2 && !firstLook) ? 3 : 0) + ascent), part);
            left += fontMetrics().horizontalAdvance(part);
            firstLook = !firstLook;
        }
    } else {
        painter.setPen(first_);
        painter.drawText(QPoint(0, 1 + ascent), text_);
    }
    return strip_;
}

void CTicker::paintEvent(QPaintEvent*) {
    restartFromRightWhenGone();
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    if (scrolls()) {
        if (!text_.isEmpty()) painter.drawPixmap(x_, 0, strip());
    } else if (!text_.isEmpty()) {
        painter.setFont(font());
        painter.setPen(first_);
        painter.drawText(QPoint(3, (mode_ == 3 ? 1 : y_) + fontMetrics().ascent()), text_);
    }
    drawFrame(&painter);
}
