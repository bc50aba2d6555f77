#include "desktop/Ticker.h"

#include "infra/CLogger.h"

void Ticker::setTickerText(const TickerText& text) {
    std::lock_guard guard(lock_);
    if (text.idleClear && standing_) {
        if (!keptLogged_)
            logMessage(LogLevel::Debug, "Ticker keeps [%s] until another text replaces it", shown_.c_str());
        keptLogged_ = true;
        return;
    }
    if (text.text == shown_) {
        logMessage(LogLevel::Normal, "Ticker text was change for [%s]", text.text.c_str());
        return;
    }
    if (!window_.controlExists(Control::Ticker)) {
        logMessage(LogLevel::Error, "m_sTicker does not exist");
        return;
    }
    window_.showTicker(text);
    shown_ = text.text;
    standing_ = text.standing;
    keptLogged_ = false;
    logMessage(LogLevel::Normal, "Ticker text was change for [%s]", text.text.c_str());
}
