#include "recording/RecordedSamples.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "infra/CLogger.h"

namespace {

// Samples are stored as the machine holds them and sent as a WAV file, which is little-endian.
static_assert(std::endian::native == std::endian::little);

void putLittleEndian(std::uint8_t* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::int64_t RecordedSamples::minSamplesFor(int minSeconds) {
    return static_cast<std::int64_t>(std::clamp(minSeconds, 0, kLongestSeconds)) * kSampleRate;
}

std::int64_t RecordedSamples::maxSamplesFor(int minSeconds, int maxSeconds) {
    const int seconds = maxSeconds > 0 ? maxSeconds : minSeconds;
    return static_cast<std::int64_t>(std::clamp(seconds, 0, kLongestSeconds)) * kSampleRate + 1000;
}

bool RecordedSamples::prepare(int minSeconds, int maxSeconds) {
    minSamples_ = static_cast<int>(minSamplesFor(minSeconds));
    maxSamples_ = static_cast<int>(maxSamplesFor(minSeconds, maxSeconds));
    count_.store(0, std::memory_order_relaxed);
    reachedMinimum_.store(false, std::memory_order_relaxed);
    stopped_.store(false, std::memory_order_release);
    // The kernel hands out the pages only as the tap writes them.
    const std::size_t bytes = kWavHeaderBytes + 2 * static_cast<std::size_t>(maxSamples_);
    void* room = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    {
        std::lock_guard guard(roomLock_);
        if (room == MAP_FAILED) {
            room_.reset();
            return false;
        }
        room_ = std::unique_ptr<std::int16_t[], RecordingRoomRelease>(static_cast<std::int16_t*>(room),
                                                                      RecordingRoomRelease{bytes});
    }
    prepareAhead(kReadySeconds);
    return true;
}

void RecordedSamples::append(const std::int16_t* microphone, const std::int16_t* speaker, int frames) {
    const int have = count_.load(std::memory_order_relaxed);
    const int take = std::min(frames, maxSamples_ - have);
    if (have >= minSamples_) reachedMinimum_.store(true, std::memory_order_release);
    if (take <= 0) return;
    std::int16_t* out = room_.get() + kWavHeaderBytes / 2 + have;
    for (int i = 0; i < take; ++i)
        out[i] = mixRecordedSample(microphone ? microphone[i] : 0, speaker ? speaker[i] : 0);
    count_.store(have + take, std::memory_order_release);
    if (have + take == maxSamples_) stopped_.store(true, std::memory_order_release);
}

void RecordedSamples::stop() {
    {
        std::lock_guard guard(waitLock_);
        stopped_.store(true, std::memory_order_release);
    }
    stoppedSignal_.notify_all();
}

void RecordedSamples::waitForSamples(int wanted, std::chrono::microseconds timeout) {
    std::unique_lock guard(waitLock_);
    // The audio thread does not signal: new samples are noticed when the wait ends.
    stoppedSignal_.wait_for(guard, timeout, [&] { return stopped() || count() >= wanted; });
}

std::span<const std::uint8_t> RecordedSamples::wavImage() {
    if (!room_) return {};
    const auto samples = static_cast<std::uint32_t>(count());
    auto* bytes = reinterpret_cast<std::uint8_t*>(room_.get());
    writeWavHeader(bytes, samples);
    return {bytes, kWavHeaderBytes + 2 * static_cast<std::size_t>(samples)};
}

void RecordedSamples::release() {
    std::lock_guard guard(roomLock_);
    room_.reset();
}

void RecordedSamples::prepareAhead(int seconds) {
    std::lock_guard guard(roomLock_);
    if (!room_) return;
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t bytes = room_.get_deleter().bytes;
    const std::size_t from = (kWavHeaderBytes + 2 * static_cast<std::size_t>(count())) / page * page;
    const std::size_t to = std::min(bytes, from + 2 * static_cast<std::size_t>(seconds) * kSampleRate);
    // A kernel without it leaves the faults to the tap: slower, never wrong.
    if (to > from) ::madvise(reinterpret_cast<char*>(room_.get()) + from, to - from, MADV_POPULATE_WRITE);
}

std::size_t RecordedSamples::residentBytes() const {
    std::lock_guard guard(roomLock_);
    if (!room_) return 0;
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t bytes = room_.get_deleter().bytes;
    std::vector<unsigned char> pages((bytes + page - 1) / page);
    if (::mincore(room_.get(), bytes, pages.data()) != 0) return 0;
    std::size_t resident = 0;
    for (const unsigned char state : pages) resident += (state & 1) ? page : 0;
    return resident;
}

void RecordingRoomRelease::operator()(std::int16_t* room) const { ::munmap(room, bytes); }

void writeWavHeader(std::uint8_t* header, std::uint32_t samples) {
    logMessage(LogLevel::Debug, "Entering writing of WAV header in CImplementation");
    const std::uint32_t dataBytes = samples * 2;
    logMessage(LogLevel::Debug, "Length of file [%d]", static_cast<int>(dataBytes));
    std::memcpy(header, "RIFF", 4);
    putLittleEndian(header + 4, dataBytes + 36, 4);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    putLittleEndian(header + 16, 16, 4);
    putLittleEndian(header + 20, 1, 2);      // PCM
    putLittleEndian(header + 22, 1, 2);      // mono
    constexpr auto rate = static_cast<std::uint32_t>(RecordedSamples::kSampleRate);
    putLittleEndian(header + 24, rate, 4);
    putLittleEndian(header + 28, rate * 2, 4);
    putLittleEndian(header + 32, 2, 2);      // block align
    putLittleEndian(header + 34, 16, 2);     // bits per sample
    std::memcpy(header + 36, "data", 4);
    putLittleEndian(header + 40, dataBytes, 4);
}
