#pragma once

#include <QFont>
#include <QRect>

// Places controls laid out in dialog units: a quarter of the dialog font's average character
// width across, an eighth of its height down, so the window keeps its proportions with any
// font size or screen scale.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int x(int units) const;
    int y(int units) const;
    QRect rect(int x, int y, int width, int height) const;

    // The font dialogs are laid out with: a plain 8-point sans-serif face.
    static QFont dialogFont();

private:
    double charWidth_;
    double charHeight_;
};
