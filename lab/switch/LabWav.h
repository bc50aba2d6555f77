#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// WAV files of 8 kHz mono 16-bit PCM, the only kind the lab switch plays and records.
namespace labwav {
inline constexpr std::uint32_t kSampleRate = 8000;

// The samples of a file; nothing, with the reason in `error`, when it is unreadable or of
// another kind.
std::optional<std::vector<std::int16_t>> read(const std::string& path, std::string& error);
bool write(const std::string& path, const std::vector<std::int16_t>& samples);
}  // namespace labwav

// Writes a WAV file as samples come; the header's sizes are set when it closes.
class LabWavWriter {
public:
    LabWavWriter() = default;
    ~LabWavWriter() { close(); }
    LabWavWriter(const LabWavWriter&) = delete;
    LabWavWriter& operator=(const LabWavWriter&) = delete;

    bool open(const std::string& path);
    bool isOpen() const { return file_ != nullptr; }
    void append(const std::int16_t* samples, std::size_t count);
    void close();

private:
    std::FILE* file_ = nullptr;
    std::uint32_t samples_ = 0;
};
