#include "lab/switch/LabWav.h"

#include "lab/switch/LabBytes.h"

#include <fstream>

namespace {

constexpr std::uint16_t kPcmFormat = 1;
constexpr std::uint16_t kBitsPerSample = 16;
constexpr std::size_t kLargestFileBytes = 256u << 20;

using labbytes::little16;
using labbytes::little32;

std::string header(std::uint32_t sampleCount) {
    const std::uint32_t dataBytes = sampleCount * 2;
    std::string bytes = "RIFF";
    labbytes::appendLittle32(bytes, 36 + dataBytes);
    bytes += "WAVEfmt ";
    labbytes::appendLittle32(bytes, 16);
    labbytes::appendLittle16(bytes, kPcmFormat);
    labbytes::appendLittle16(bytes, 1);
    labbytes::appendLittle32(bytes, labwav::kSampleRate);
    labbytes::appendLittle32(bytes, labwav::kSampleRate * 2);
    labbytes::appendLittle16(bytes, 2);
    labbytes::appendLittle16(bytes, kBitsPerSample);
    bytes += "data";
    labbytes::appendLittle32(bytes, dataBytes);
    return bytes;
}

std::string littleEndian(const std::int16_t* samples, std::size_t count) {
    std::string bytes;
    bytes.reserve(count * 2);
    for (std::size_t index = 0; index < count; ++index) labbytes::appendLittle16(bytes, static_cast<std::uint16_t>(samples[index]));
    return bytes;
}

// Checks the "fmt " chunk: PCM, mono, 8 kHz, 16 bits.
bool acceptableFormat(const std::string& bytes, std::size_t at, std::uint32_t size, std::string& error) {
    if (size < 16) {
        error = "fmt chunk too short";
        return false;
    }
    if (little16(bytes, at) != kPcmFormat || little16(bytes, at + 2) != 1 || little32(bytes, at + 4) != labwav::kSampleRate ||
        little16(bytes, at + 14) != kBitsPerSample) {
        error = "not 8 kHz mono 16-bit PCM";
        return false;
    }
    return true;
}

}  // namespace

namespace labwav {

std::optional<std::vector<std::int16_t>> read(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    std::string bytes;
    for (char chunk[65536]; file.read(chunk, sizeof chunk) || file.gcount() > 0;) {
        bytes.append(chunk, static_cast<std::size_t>(file.gcount()));
        if (bytes.size() > kLargestFileBytes) {
            error = "file larger than 256 MB";
            return std::nullopt;
        }
    }
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
        error = "not a RIFF WAVE file";
        return std::nullopt;
    }
    bool formatSeen = false;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        const std::uint32_t size = little32(bytes, at + 4);
        const std::size_t body = at + 8;
        if (size > bytes.size() - body) {
            error = "chunk " + id + " runs past the end of the file";
            return std::nullopt;
        }
        if (id == "fmt ") {
            if (!acceptableFormat(bytes, body, size, error)) return std::nullopt;
            formatSeen = true;
        } else if (id == "data") {
            if (!formatSeen) break;
            std::vector<std::int16_t> samples(size / 2);
            for (std::size_t index = 0; index < samples.size(); ++index)
                samples[index] = static_cast<std::int16_t>(little16(bytes, body + 2 * index));
            return samples;
        }
        at = body + size + (size & 1);
    }
    error = formatSeen ? "no data chunk" : "no fmt chunk before the data";
    return std::nullopt;
}

bool write(const std::string& path, const std::vector<std::int16_t>& samples) {
    LabWavWriter writer;
    if (!writer.open(path)) return false;
    writer.append(samples.data(), samples.size());
    writer.close();
    return true;
}

}  // namespace labwav

bool LabWavWriter::open(const std::string& path) {
    close();
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) return false;
    samples_ = 0;
    const std::string bytes = header(0);
    std::fwrite(bytes.data(), 1, bytes.size(), file_);
    return true;
}

void LabWavWriter::append(const std::int16_t* samples, std::size_t count) {
    if (!file_) return;
    const std::string bytes = littleEndian(samples, count);
    std::fwrite(bytes.data(), 1, bytes.size(), file_);
    samples_ += static_cast<std::uint32_t>(count);
}

void LabWavWriter::close() {
    if (!file_) return;
    const std::string bytes = header(samples_);
    std::fseek(file_, 0, SEEK_SET);
    std::fwrite(bytes.data(), 1, bytes.size(), file_);
    std::fclose(file_);
    file_ = nullptr;
}
