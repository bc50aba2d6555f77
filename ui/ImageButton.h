#pragma once

#include <QAbstractButton>
#include <QIcon>
#include <QPixmap>
#include <QSvgRenderer>

// A button drawn from one of our vector glyphs: a light face with the glyph (and an optional
// caption) in its normal look, a darker face with the glyph shifted when pressed, a flat grey
// face with a greyed glyph when disabled, and a focus mark for keyboard use.
class ImageButton : public QAbstractButton {
    Q_OBJECT
public:
    // `glyph`: the name of an icon of the program, e.g. "ready".
    explicit ImageButton(const QString& glyph, QWidget* parent = nullptr);

    void setGlyph(const QString& glyph);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap glyphPixmap(const QSize& size, bool greyed);

    QSvgRenderer renderer_;
    QPixmap cache_[2];
};

// The path of one of the program's icons in its resources.
QString iconPath(const QString& name);
// The program's own icon, drawn at the usual sizes.
QIcon programIcon();
