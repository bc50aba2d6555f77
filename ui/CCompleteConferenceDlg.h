#pragma once

#include <QDialog>
#include <QLabel>
#include <QMap>
#include <functional>

#include "core/AgentWindow.h"
#include "ui/ImageButton.h"
#include "ui/NumberPad.h"

// The window shown while a consultation call is up: keys for touch tones into the
// consultation, Complete, Cancel, and a button per line that puts the agent on the customer
// or on the consultation, each with its selected and unselected marks. The clicks are handed
// to whoever runs the window; the window does nothing to the calls itself.
class CCompleteConferenceDlg : public QDialog {
    Q_OBJECT
public:
    enum class Click { Line1, Line2, Complete, Cancel };

    CCompleteConferenceDlg(const QStringList& history, std::function<void(char)> sendTone, QWidget* parent = nullptr);

    // The window's controls by the ids the agent core uses.
    QWidget* control(Control id) const { return controls_.value(id); }
    NumberPad& pad() { return pad_; }
    // Closes the window as cancelled from elsewhere, after a short pause.
    void callCloseDialPad();

Q_SIGNALS:
    void clicked(CCompleteConferenceDlg::Click click);

protected:
    void reject() override;

private:
    QLabel* addMark(Control id, const QString& colour);

    NumberPad pad_;
    ImageButton complete_;
    ImageButton cancel_;
    ImageButton line1_;
    ImageButton line2_;
    QMap<Control, QWidget*> controls_;
};
