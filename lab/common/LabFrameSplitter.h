#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Cuts a byte stream into "~"-terminated messages. A message may arrive in pieces over several
// reads and several may arrive in one read; the unfinished tail waits for the next read. A tail
// that grows past kMaxPendingBytes without a "~" is thrown away, so a flood cannot eat memory.
class LabFrameSplitter {
public:
    static constexpr std::size_t kMaxPendingBytes = 1 << 20;

    struct Result {
        std::vector<std::string> messages;  // complete messages in order, without the "~"
        std::size_t discardedBytes = 0;     // unfinished text thrown away by this call
    };

    Result add(std::string_view bytes);
    void clear() { pending_.clear(); }
    std::size_t pendingBytes() const { return pending_.size(); }

private:
    std::string pending_;
};
