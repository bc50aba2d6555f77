#pragma once

#include <cstddef>
#include <string>

// Collects the bytes of a stream and cuts them into messages, each ended by '~'. The text
// waiting for its '~' is bounded: a peer that never ends its message is cut off.
class FrameAssembler {
public:
    static constexpr char kTerminator = '~';
    static constexpr std::size_t kDefaultLimit = 1 << 20;

    explicit FrameAssembler(std::size_t limit = kDefaultLimit) : limit_(limit) {}

    // Appends received bytes; false (and everything dropped) when the text would pass the limit.
    bool append(const char* data, std::size_t size);
    bool hasMessage() const { return text_.find(kTerminator, start_) != std::string::npos; }
    // The text before the first '~', removed together with it; "" when there is none.
    std::string nextMessage();
    // Everything received and not yet taken as a message.
    std::string pending() const { return text_.substr(start_); }
    std::size_t pendingSize() const { return text_.size() - start_; }
    void clear();

private:
    std::size_t limit_;
    std::string text_;
    std::size_t start_ = 0;  // messages already taken from the front
};
