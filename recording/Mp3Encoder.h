#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CallParam;

// The encoder settings a recording's quality text gives: "high" (exactly) is VBR quality 4
// with a 32 kbit/s floor, anything else quality 9 with 8 kbit/s.
struct Mp3Settings {
    int vbrQuality = 9;
    int minBitrateKbps = 8;

    static Mp3Settings forQuality(const std::string& encodingQuality);
};

// One MP3 encoding stream of 8 kHz mono 16-bit audio, in memory.
class Mp3Stream {
public:
    virtual ~Mp3Stream() = default;
    // 0 on success, else an error code. Gives the samples to feed per call and the output
    // room each call needs.
    virtual unsigned long open(const Mp3Settings& settings, int& inputSamples, int& outputBytes) = 0;
    // The bytes made from `count` samples, or a negative value on error.
    virtual int encode(const std::int16_t* samples, int count, std::uint8_t* out, int room) = 0;
    // The last bytes, or a negative value on error.
    virtual int flush(std::uint8_t* out, int room) = 0;
    // The VBR (Xing/LAME) tag of the finished stream, as long as the first frame it replaces.
    virtual std::vector<std::uint8_t> vbrTag() = 0;
};

using Mp3StreamFactory = std::function<std::unique_ptr<Mp3Stream>()>;

// LAME's encoder.
std::unique_ptr<Mp3Stream> makeLameStream();

// Encodes the recording while its tap fills it, one input block at a time, and makes the MP3
// its file image: the size in bytes, or -1 when the stream could not be opened, the flush
// failed or nothing came out.
int encodeRecordingToMp3(CallParam& recording, Mp3Stream& stream);
