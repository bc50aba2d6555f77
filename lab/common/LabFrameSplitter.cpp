#include "lab/common/LabFrameSplitter.h"

LabFrameSplitter::Result LabFrameSplitter::add(std::string_view bytes) {
    Result result;
    pending_.append(bytes);
    std::size_t start = 0;
    for (auto end = pending_.find('~'); end != std::string::npos; end = pending_.find('~', start)) {
        result.messages.push_back(pending_.substr(start, end - start));
        start = end + 1;
    }
    pending_.erase(0, start);
    if (pending_.size() > kMaxPendingBytes) {
        result.discardedBytes = pending_.size();
        pending_.clear();
    }
    return result;
}
