#include "ui/DialogUnits.h"

#include <QFontMetricsF>
#include <QString>
#include <cmath>

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetricsF metrics(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    charWidth_ = metrics.horizontalAdvance(alphabet) / alphabet.size();
    charHeight_ = metrics.height();
}

int DialogUnits::x(int units) const { return static_cast<int>(std::lround(units * charWidth_ / 4.0)); }

int DialogUnits::y(int units) const { return static_cast<int>(std::lround(units * charHeight_ / 8.0)); }

QRect DialogUnits::rect(int left, int top, int width, int height) const {
    return QRect(x(left), y(top), x(left + width) - x(left), y(top + height) - y(top));
}

QFont DialogUnits::dialogFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Microsoft Sans Serif"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setPointSize(8);
    return font;
}
