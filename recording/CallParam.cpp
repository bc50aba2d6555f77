#include "recording/CallParam.h"

CallParam::CallParam(const RecordingFacts& facts, Plan plan)
    : plan_(std::move(plan)),
      trackNumber_(facts.trackNumber.substr(0, kTrackNumberLength)),
      callTime_(facts.callTime),
      ani_(facts.ani) {}

std::string CallParam::ani() const {
    std::lock_guard guard(lock_);
    return ani_;
}

void CallParam::setAni(std::string ani) {
    std::lock_guard guard(lock_);
    ani_ = std::move(ani);
}

std::string CallParam::fileName() const {
    std::lock_guard guard(lock_);
    return fileName_;
}

void CallParam::setFileName(std::string name) {
    std::lock_guard guard(lock_);
    fileName_ = std::move(name);
}

std::string CallParam::fileNameWithoutExtension() const {
    const std::string name = fileName();
    return name.substr(0, name.rfind('.'));
}

void CallParam::freezeTagging(const RecordingTagging& tagging) {
    std::lock_guard guard(lock_);
    if (!frozenTagging_) frozenTagging_ = tagging;
}

std::optional<RecordingTagging> CallParam::frozenTagging() const {
    std::lock_guard guard(lock_);
    return frozenTagging_;
}

void CallParam::setMp3Image(std::vector<std::uint8_t> image) {
    std::lock_guard guard(lock_);
    mp3_ = std::move(image);
    image_ = mp3_;
}

void CallParam::assembleWav() {
    std::lock_guard guard(lock_);
    mp3_.clear();
    image_ = samples_.wavImage();
}

bool CallParam::holdsMp3() const {
    std::lock_guard guard(lock_);
    return !mp3_.empty();
}

std::span<const std::uint8_t> CallParam::fileImage() const {
    std::lock_guard guard(lock_);
    return image_;
}

std::string CallParam::extension() const {
    std::lock_guard guard(lock_);
    // Before the image exists, the one the settings will make.
    if (image_.empty()) return plan_.mp3 ? "mp3" : "wav";
    return mp3_.empty() ? "wav" : "mp3";
}

void CallParam::completeImage() {
    semEncoding_.store(true, std::memory_order_release);
    semEncoding_.notify_all();
}

void CallParam::waitForImage() const { semEncoding_.wait(false, std::memory_order_acquire); }

void CallParam::release() {
    std::lock_guard guard(lock_);
    image_ = {};
    std::vector<std::uint8_t>().swap(mp3_);
    samples_.release();
}
