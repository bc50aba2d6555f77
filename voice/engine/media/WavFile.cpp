#include "voice/engine/media/WavFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>

#include "infra/CLogger.h"

namespace {

constexpr std::uint32_t kWavRate = 8000;
constexpr std::uint16_t kBitsPerSample = 16;
constexpr std::size_t kHeaderBytes = 44;
constexpr std::size_t kMaxFileBytes = 64u << 20;  // about 70 minutes of audio
constexpr std::uint16_t kPcmFormat = 1;

std::uint32_t readLe32(const std::uint8_t* bytes) {
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}
std::uint16_t readLe16(const std::uint8_t* bytes) { return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)); }
void writeLe32(std::uint8_t* bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void writeLe16(std::uint8_t* bytes, std::uint16_t value) {
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

// The header of a file without samples yet.
std::array<std::uint8_t, kHeaderBytes> emptyHeader() {
    std::array<std::uint8_t, kHeaderBytes> header{};
    std::memcpy(header.data(), "RIFF", 4);
    writeLe32(header.data() + 4, 36);
    std::memcpy(header.data() + 8, "WAVEfmt ", 8);
    writeLe32(header.data() + 16, 16);
    writeLe16(header.data() + 20, kPcmFormat);
    writeLe16(header.data() + 22, 1);
    writeLe32(header.data() + 24, kWavRate);
    writeLe32(header.data() + 28, kWavRate * kBitsPerSample / 8);
    writeLe16(header.data() + 32, kBitsPerSample / 8);
    writeLe16(header.data() + 34, kBitsPerSample);
    std::memcpy(header.data() + 36, "data", 4);
    return header;
}

// Checks the "fmt " chunk; empty when it describes 8 kHz mono 16-bit PCM.
std::string formatProblem(const std::uint8_t* chunk, std::uint32_t size) {
    if (size < 16) return "its format chunk is too short";
    const auto format = readLe16(chunk), channels = readLe16(chunk + 2), bits = readLe16(chunk + 14);
    const auto rate = readLe32(chunk + 4);
    if (format != kPcmFormat || channels != 1 || rate != kWavRate || bits != kBitsPerSample)
        return "it is format " + std::to_string(format) + ", " + std::to_string(channels) + " channel(s), " +
               std::to_string(rate) + " Hz, " + std::to_string(bits) + " bits, not 8000 Hz mono 16-bit PCM";
    return {};
}

}  // namespace

std::optional<std::vector<std::int16_t>> readVoiceWav(const std::string& path, std::string& problem) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problem = "it cannot be opened";
        return std::nullopt;
    }
    std::vector<std::uint8_t> file;
    std::array<char, 65536> buffer;
    while (in.read(buffer.data(), buffer.size()) || in.gcount() > 0) {
        file.insert(file.end(), buffer.begin(), buffer.begin() + in.gcount());
        if (file.size() > kMaxFileBytes) {
            problem = "it is larger than " + std::to_string(kMaxFileBytes >> 20) + " MB";
            return std::nullopt;
        }
    }
    return parseVoiceWav(file, problem);
}

std::optional<std::vector<std::int16_t>> parseVoiceWav(const std::vector<std::uint8_t>& file, std::string& problem) {
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 || std::memcmp(file.data() + 8, "WAVE", 4) != 0) {
        problem = "it is not a RIFF WAVE file";
        return std::nullopt;
    }
    bool formatSeen = false;
    for (std::size_t offset = 12; offset + 8 <= file.size();) {
        const std::uint8_t* chunk = file.data() + offset;
        const std::size_t available = file.size() - offset - 8;
        const std::size_t size = std::min<std::size_t>(readLe32(chunk + 4), available);  // a cut-off file keeps what it has
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            problem = formatProblem(chunk + 8, static_cast<std::uint32_t>(size));
            if (!problem.empty()) return std::nullopt;
            formatSeen = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!formatSeen) break;
            std::vector<std::int16_t> samples(size / 2);
            for (std::size_t i = 0; i < samples.size(); ++i)
                samples[i] = static_cast<std::int16_t>(readLe16(chunk + 8 + 2 * i));
            return samples;
        }
        offset += 8 + size + (size & 1);
    }
    problem = formatSeen ? "it has no data chunk" : "it has no format chunk before its data";
    return std::nullopt;
}

WavWriter::~WavWriter() { close(); }

bool WavWriter::open(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        logMessage(LogLevel::Error, "Media: cannot write %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    path_ = path;
    dataBytes_ = 0;
    const auto header = emptyHeader();
    return writeAt(0, header.data(), header.size());
}

void WavWriter::append(const std::int16_t* samples, int count) {
    if (fd_ < 0 || count <= 0) return;
    const std::size_t bytes = static_cast<std::size_t>(count) * 2;
    if (dataBytes_ > std::numeric_limits<std::uint32_t>::max() - kHeaderBytes - bytes) return;  // RIFF size limit
    std::vector<std::uint8_t> little(bytes);
    for (int i = 0; i < count; ++i) writeLe16(little.data() + 2 * i, static_cast<std::uint16_t>(samples[i]));
    if (!writeAt(kHeaderBytes + dataBytes_, little.data(), bytes)) return;
    dataBytes_ += static_cast<std::uint32_t>(bytes);
    // The sizes follow the data, so a reader never finds a size beyond what was written.
    std::array<std::uint8_t, 4> size;
    writeLe32(size.data(), 36 + dataBytes_);
    if (!writeAt(4, size.data(), size.size())) return;
    writeLe32(size.data(), dataBytes_);
    writeAt(40, size.data(), size.size());
}

bool WavWriter::writeAt(std::size_t offset, const std::uint8_t* bytes, std::size_t size) {
    if (::pwrite(fd_, bytes, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size)) return true;
    logMessage(LogLevel::Error, "Media: writing %s failed: %s", path_.c_str(), std::strerror(errno));
    close();
    return false;
}

void WavWriter::close() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}
