#include "ui/ModalRuns.h"

void DialRun::finish(const DialWindowResult& result) {
    {
        std::lock_guard guard(lock_);
        if (finished_) return;
        finished_ = true;
        result_ = result;
    }
    ended_.notify_all();
}

bool DialRun::finished() const {
    std::lock_guard guard(lock_);
    return finished_;
}

DialWindowResult DialRun::wait() {
    std::unique_lock guard(lock_);
    ended_.wait(guard, [this] { return finished_; });
    return result_;
}

ConferenceRun::ConferenceRun(bool secondLineEnabled) {
    for (Control control : {Control::CompleteConference, Control::ConferenceLine1, Control::ConferenceLine2,
                            Control::ConferenceLine1Unselected, Control::ConferenceLine2Unselected})
        looks[control] = {true, true};
    looks[Control::ConferenceLine1Selected] = {true, false};
    looks[Control::ConferenceLine2Selected] = {true, false};
    looks[Control::ConferenceLine2].enabled = secondLineEnabled;
}

void ConferenceRun::click(Click click) {
    {
        std::lock_guard guard(lock_);
        clicks_.push_back(click);
    }
    clicked_.notify_all();
}

bool ConferenceRun::hasClick() const {
    std::lock_guard guard(lock_);
    return !clicks_.empty();
}

ConferenceRun::Click ConferenceRun::next() {
    std::unique_lock guard(lock_);
    clicked_.wait(guard, [this] { return !clicks_.empty(); });
    const Click click = clicks_.front();
    clicks_.pop_front();
    return click;
}
