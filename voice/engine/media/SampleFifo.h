#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

// A first-in first-out queue of samples with a capacity fixed at construction, so that audio
// callbacks never allocate. What does not fit is not taken.
class SampleFifo {
public:
    explicit SampleFifo(std::size_t capacity) : buffer_(capacity) {}

    std::size_t size() const { return size_; }
    std::size_t space() const { return buffer_.size() - size_; }
    void clear() { head_ = size_ = 0; }

    std::size_t push(const std::int16_t* samples, std::size_t count) {
        count = std::min(count, space());
        for (std::size_t i = 0; i < count; ++i) buffer_[(head_ + size_ + i) % buffer_.size()] = samples[i];
        size_ += count;
        return count;
    }
    std::size_t pushSilence(std::size_t count) {
        count = std::min(count, space());
        for (std::size_t i = 0; i < count; ++i) buffer_[(head_ + size_ + i) % buffer_.size()] = 0;
        size_ += count;
        return count;
    }
    std::size_t pop(std::int16_t* out, std::size_t count) {
        count = std::min(count, size_);
        for (std::size_t i = 0; i < count; ++i) out[i] = buffer_[(head_ + i) % buffer_.size()];
        head_ = (head_ + count) % buffer_.size();
        size_ -= count;
        return count;
    }

private:
    std::vector<std::int16_t> buffer_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};
