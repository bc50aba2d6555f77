#include "recording/RecorderTap.h"

#include <thread>

#include "infra/CLogger.h"
#include "recording/CallParam.h"
#include "voice/engine/VoiceEngine.h"

RecorderTap::~RecorderTap() {
    if (recorderActive()) recorderStop();
}

void RecorderTap::recorderStart(int minSeconds, int maxSeconds, std::shared_ptr<CallParam> recording) {
    std::lock_guard guard(lock_);
    if (std::shared_ptr<CallParam> previous = detach()) previous->samples().stop();
    if (minSeconds >= maxSeconds) return;
    if (!recording->samples().prepare(minSeconds, maxSeconds)) {
        logMessage(LogLevel::Error, "recorderStart(): no memory for a recording of %d seconds", maxSeconds);
        return;
    }
    fed_ = std::move(recording);
    target_.store(fed_.get(), std::memory_order_seq_cst);
    voice_.setRecorderTap([this](const std::int16_t* microphone, const std::int16_t* speaker, int frames) {
        feed(microphone, speaker, frames);
    });
}

std::shared_ptr<CallParam> RecorderTap::recorderStop() {
    std::lock_guard guard(lock_);
    std::shared_ptr<CallParam> stopped = detach();
    if (stopped) stopped->samples().stop();
    return stopped;
}

bool RecorderTap::recorderActive() const {
    std::lock_guard guard(lock_);
    return fed_ != nullptr;
}

std::shared_ptr<CallParam> RecorderTap::detach() {
    if (!fed_) return nullptr;
    voice_.setRecorderTap({});
    target_.store(nullptr, std::memory_order_seq_cst);
    // A block already under way finishes before the recording counts as stopped.
    while (feeding_.load(std::memory_order_seq_cst)) std::this_thread::yield();
    return std::move(fed_);
}

void RecorderTap::feed(const std::int16_t* microphone, const std::int16_t* speaker, int frames) {
    feeding_.store(true, std::memory_order_seq_cst);
    if (CallParam* recording = target_.load(std::memory_order_seq_cst))
        recording->samples().append(microphone, speaker, frames);
    feeding_.store(false, std::memory_order_seq_cst);
}
