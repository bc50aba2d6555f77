#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The samples of an 8 kHz mono 16-bit PCM WAV file; nothing, with the reason in `problem`,
// for any other file.
std::optional<std::vector<std::int16_t>> readVoiceWav(const std::string& path, std::string& problem);
// The same for the bytes of a file.
std::optional<std::vector<std::int16_t>> parseVoiceWav(const std::vector<std::uint8_t>& file, std::string& problem);

// Writes an 8 kHz mono 16-bit WAV file as audio arrives. The header's sizes are brought up to
// date after every append, so the file is valid whenever the process stops.
class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Creates (or empties) the file; false, logged, when it cannot be written.
    bool open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    void append(const std::int16_t* samples, int count);

private:
    bool writeAt(std::size_t offset, const std::uint8_t* bytes, std::size_t size);
    void close();

    int fd_ = -1;
    std::string path_;
    std::uint32_t dataBytes_ = 0;
};
