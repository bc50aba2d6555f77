#include "wire/FrameAssembler.h"

bool FrameAssembler::append(const char* data, std::size_t size) {
    if (pendingSize() + size > limit_) {
        clear();
        return false;
    }
    if (start_ > 0 && start_ * 2 > text_.size()) {  // keep taking from the front cheap
        text_.erase(0, start_);
        start_ = 0;
    }
    text_.append(data, size);
    return true;
}

std::string FrameAssembler::nextMessage() {
    const auto end = text_.find(kTerminator, start_);
    if (end == std::string::npos) return {};
    std::string message = text_.substr(start_, end - start_);
    start_ = end + 1;
    if (start_ == text_.size()) clear();
    return message;
}

void FrameAssembler::clear() {
    text_.clear();
    start_ = 0;
}
