#include "voice/engine/media/Channel.h"

#include <algorithm>

#include "infra/CLogger.h"

namespace {
constexpr int kSamplesPerMs = 8;
// A peer that keeps sending garbage is logged at its first payload and then at most this often.
constexpr auto kMalformedLogPause = std::chrono::seconds(1);
}  // namespace

Channel::Channel(int callNo, std::unique_ptr<Codec> encoder, std::unique_ptr<Codec> decoder)
    : callNo_(callNo), encoder_(std::move(encoder)), opened_(std::chrono::steady_clock::now()),
      decoder_(std::move(decoder)) {}

void Channel::receive(std::uint32_t timestampMs, const std::uint8_t* payload, std::size_t size) {
    if (quelched()) return;
    std::lock_guard decodeGuard(decodeLock_);
    decoded_.clear();
    if (!decoder_->decode(payload, size, decoded_)) {
        const auto now = std::chrono::steady_clock::now();
        if (malformed_++ == 0 || now - lastMalformedLog_ >= kMalformedLogPause) {
            lastMalformedLog_ = now;
            logMessage(LogLevel::Warning, "Media: call %d: malformed voice payload of %zu bytes (format %d) dropped, %ld so far",
                       callNo_, size, decoder_->format(), malformed_);
        }
        return;
    }
    std::lock_guard jitterGuard(jitterLock_);
    jitter_.push(timestampMs, decoded_.data(), static_cast<int>(decoded_.size()));
}

bool Channel::beginBlock(int frames) {
    if (!clockStarted_) {
        clockStarted_ = true;
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - opened_);
        sampleClock_ = elapsed.count() * kSamplesPerMs;
    } else {
        sampleClock_ += frames;
    }
    const bool quelched = quelched_.load();
    if (quelched != wasQuelched_) {
        // Both directions start afresh: nothing of the time before the change carries over.
        wasQuelched_ = quelched;
        unsentCount_ = 0;
        std::lock_guard guard(jitterLock_);
        jitter_.reset();
    }
    return !quelched;
}

void Channel::pullReceived(std::int16_t* out, int frames) {
    std::lock_guard guard(jitterLock_);
    jitter_.pull(out, frames);
}

std::optional<Channel::Payload> Channel::encodeHeard(const std::int16_t* block, int frames) {
    std::copy(block, block + frames, unsent_.begin() + unsentCount_);
    unsentCount_ += frames;
    const int frameSamples = encoder_->frameSamples();
    if (unsentCount_ < frameSamples) return std::nullopt;

    Payload payload;
    payload.timestampMs = timestampOf(sampleClock_ + frames - unsentCount_);
    int consumed = 0;
    for (; unsentCount_ - consumed >= frameSamples; consumed += frameSamples)
        encoder_->encode(unsent_.data() + consumed, payload.bytes);
    std::copy(unsent_.begin() + consumed, unsent_.begin() + unsentCount_, unsent_.begin());
    unsentCount_ -= consumed;
    return payload;
}

std::uint32_t Channel::timestampOf(std::int64_t sampleClock) const {
    return static_cast<std::uint32_t>(sampleClock / kSamplesPerMs);
}
