#include "ui/ImageButton.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QStyleOptionFocusRect>

// The icons are compiled into the library; a static library needs its resources named once.
static void loadIcons() {
    static const bool loaded = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    (void)loaded;
}

QString iconPath(const QString& name) {
    loadIcons();
    return QStringLiteral(":/orvane/") + name + QStringLiteral(".svg");
}

QIcon programIcon() {
    QSvgRenderer renderer(iconPath(QStringLiteral("orvane")));
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

ImageButton::ImageButton(const QString& glyph, QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    setGlyph(glyph);
}

void ImageButton::setGlyph(const QString& glyph) {
    renderer_.load(iconPath(glyph));
    cache_[0] = cache_[1] = QPixmap();
    update();
}

QSize ImageButton::sizeHint() const {
    const int side = fontMetrics().height() * 2;
    if (text().isEmpty()) return {side, side};
    return {side + fontMetrics().horizontalAdvance(text()) + side / 2, side};
}

QPixmap ImageButton::glyphPixmap(const QSize& size, bool greyed) {
    QPixmap& cached = cache_[greyed ? 1 : 0];
    const qreal ratio = devicePixelRatioF();
    if (!cached.isNull() && cached.deviceIndependentSize().toSize() == size) return cached;
    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer_.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    }
    if (greyed) {
        // Grey, lighter and half transparent: readable, plainly unavailable.
        for (int row = 0; row < image.height(); ++row) {
            auto* pixel = reinterpret_cast<QRgb*>(image.scanLine(row));
            for (int column = 0; column < image.width(); ++column) {
                const int alpha = qAlpha(pixel[column]);
                if (alpha == 0) continue;
                const QColor colour = QColor::fromRgba(qUnpremultiply(pixel[column]));
                const int grey = 120 + qGray(colour.rgb()) / 3;
                pixel[column] = qPremultiply(qRgba(grey, grey, grey, alpha / 2));
            }
        }
    }
    cached = QPixmap::fromImage(image);
    return cached;
}

void ImageButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool enabled = isEnabled();
    const bool pressed = isDown() || isChecked();
    const QRectF face = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);

    QLinearGradient fill(face.topLeft(), face.bottomLeft());
    if (!enabled) {
        fill.setColorAt(0, QColor(0xEC, 0xEF, 0xF1));
        fill.setColorAt(1, QColor(0xE3, 0xE7, 0xEA));
    } else if (pressed) {
        fill.setColorAt(0, QColor(0xB4, 0xCF, 0xE6));
        fill.setColorAt(1, QColor(0xCC, 0xE0, 0xF0));
    } else {
        fill.setColorAt(0, underMouse() ? QColor(0xFF, 0xFF, 0xFF) : QColor(0xF8, 0xFB, 0xFE));
        fill.setColorAt(1, underMouse() ? QColor(0xE4, 0xF0, 0xF9) : QColor(0xD9, 0xE8, 0xF4));
    }
    painter.setPen(enabled ? QColor(0x7A, 0xA2, 0xC0) : QColor(0xC2, 0xCA, 0xD1));
    painter.setBrush(fill);
    const qreal radius = qMin(face.width(), face.height()) < 14 ? 2 : 4;
    painter.drawRoundedRect(face, radius, radius);

    const int margin = qMax(2, qMin(width(), height()) / 7);
    QRect content = rect().adjusted(margin, margin, -margin, -margin);
    if (pressed) content.translate(1, 1);
    const QSizeF natural = renderer_.defaultSize().isEmpty() ? QSizeF(24, 24) : QSizeF(renderer_.defaultSize());
    const QSize box = text().isEmpty() ? content.size() : QSize(content.height(), content.height());
    const QSize glyphSize = natural.scaled(QSizeF(box), Qt::KeepAspectRatio).toSize();
    const int textWidth = text().isEmpty() ? 0 : fontMetrics().horizontalAdvance(text()) + margin;
    const int left = content.left() + (content.width() - glyphSize.width() - textWidth) / 2;
    const QPoint glyphAt(left, content.top() + (content.height() - glyphSize.height()) / 2);
    painter.drawPixmap(glyphAt, glyphPixmap(glyphSize, !enabled));
    if (!text().isEmpty()) {
        painter.setPen(enabled ? palette().color(QPalette::ButtonText) : QColor(0x9A, 0xA3, 0xAB));
        const QRect textRect(glyphAt.x() + glyphSize.width() + margin, content.top(), textWidth, content.height());
        painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, text());
    }
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(2, 2, -2, -2);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}
