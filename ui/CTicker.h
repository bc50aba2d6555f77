#pragma once

#include <QColor>
#include <QFrame>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QTimer>

// The bar's one-line ticker: status texts and the message centre's statistics and alerts,
// scrolled, fixed or rising by mode, on a light blue background with a sunken edge.
//   1  one text in the first colour at height 1, moving left from the right edge and starting
//      again there once it has left the control
//   2  like 1 for a list of "|"-enclosed parts, alternately in the first colour at height 0 and
//      in the second colour at height 3
//   3  fixed at x 3, height 1, in the first colour
//   4  fixed at x 3 in the first colour from height 0; from tick 100 it rises one pixel per tick
//      and at tick 220 it is cleared
//   5  like 2 with every part at height 0
// The step timer only runs while a step changes what is shown, so an idle ticker costs nothing.
class CTicker : public QFrame {
    Q_OBJECT
public:
    static inline const QColor kBackground{216, 241, 252};

    explicit CTicker(QWidget* parent = nullptr);

    // Colours, face name (recorded; the drawing font stays the control's own), pixels per
    // step and mode; the text starts again from the right edge at height 3.
    void configure(const QColor& first, const QColor& second, const QString& faceName, int speed, int mode);
    void setText(const QString& text);
    // One step of the timer: moves the text and repaints.
    void tick();

    QString text() const { return text_; }
    QString faceName() const { return faceName_; }
    QColor firstColour() const { return first_; }
    int mode() const { return mode_; }
    int speed() const { return speed_; }
    int textX() const { return x_; }
    int textY() const { return y_; }
    int tickCount() const { return ticks_; }
    bool stepping() const { return timer_.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool scrolls() const;
    bool stepChangesView() const;
    QStringList parts() const;
    int drawnWidth() const;
    void restartFromRightWhenGone();
    void updateTimer();
    // The scrolling text drawn once into a strip, so each step only copies it.
    const QPixmap& strip();

    QTimer timer_;
    QPixmap strip_;
    QString text_;
    QString faceName_;
    QColor first_{Qt::black};
    QColor second_{Qt::black};
    int speed_ = 0;
    int mode_ = 1;
    int x_ = 0;
    int y_ = 3;
    int ticks_ = 0;
};
