#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

// The phone's side of the lab switch in its tests: a UDP socket on loopback that writes and
// reads IAX2 bytes by hand, sharing no code with lab/, so a fault in the switch's frames cannot
// hide on both sides.
namespace testiax {

inline constexpr std::uint8_t kIax = 6, kControl = 4, kVoice = 2, kDtmf = 1, kText = 7;
inline constexpr std::uint8_t kNew = 1, kPing = 2, kPong = 3, kAck = 4, kHangup = 5, kReject = 6, kAccept = 7,
                              kAuthReq = 8, kAuthRep = 9, kInval = 10, kLagRq = 11, kLagRp = 12, kRegReq = 13,
                              kRegAuth = 14, kRegAck = 15, kRegRej = 16, kRegRel = 17, kQuelch = 28, kUnquelch = 29,
                              kCallToken = 40;
inline constexpr std::uint8_t kRinging = 3, kAnswer = 4, kBusy = 5;
inline constexpr std::uint8_t kCalled = 1, kCallingNumber = 2, kCallingName = 4, kUsername = 6, kCapability = 8,
                              kFormat = 9, kVersion = 11, kAuthMethods = 14, kChallenge = 15, kMd5 = 16,
                              kApparentAddress = 18, kRefresh = 19, kCause = 22, kMusicOnHold = 26, kToken = 54;
inline constexpr std::uint32_t kUlaw = 4, kGsm = 2, kAlaw = 8, kSpeex = 512;

using Elements = std::vector<std::pair<std::uint8_t, std::string>>;

inline std::string u16(std::uint16_t value) { return {static_cast<char>(value >> 8), static_cast<char>(value & 0xff)}; }
inline std::string u32(std::uint32_t value) { return u16(static_cast<std::uint16_t>(value >> 16)) + u16(static_cast<std::uint16_t>(value)); }

inline std::string md5Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    char pair[3];
    for (unsigned int index = 0; index < length; ++index) {
        std::snprintf(pair, sizeof pair, "%02x", digest[index]);
        hex += pair;
    }
    return hex;
}

// G.711 µ-law by the textbook formula, for tones the phone sends and the switch's audio.
inline std::uint8_t toUlaw(int sample) {
    const int sign = sample < 0 ? 0x80 : 0;
    int magnitude = std::min(std::abs(sample), 32635) + 0x84;
    int exponent = 7;
    for (int mask = 0x4000; !(magnitude & mask) && exponent > 0; mask >>= 1) --exponent;
    return static_cast<std::uint8_t>(~(sign | exponent << 4 | ((magnitude >> (exponent + 3)) & 0x0f)));
}
inline int fromUlaw(std::uint8_t code) {
    code = static_cast<std::uint8_t>(~code);
    const int magnitude = ((((code & 0x0f) << 3) + 0x84) << ((code >> 4) & 7)) - 0x84;
    return code & 0x80 ? -magnitude : magnitude;
}

// Power of one frequency in 8 kHz samples (Goertzel), normalised by the sample count.
inline double tonePower(const std::vector<std::int16_t>& samples, double hertz) {
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * hertz / 8000);
    double previous = 0, beforePrevious = 0;
    for (const std::int16_t sample : samples) {
        const double current = sample + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power = previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    return samples.empty() ? 0 : power / static_cast<double>(samples.size() * samples.size());
}
// True when `hertz` clearly dominates `other` in the samples.
inline bool hasTone(const std::vector<std::int16_t>& samples, double hertz, double other) {
    return samples.size() >= 800 && tonePower(samples, hertz) > 20 * tonePower(samples, other) &&
           tonePower(samples, hertz) > 1000;
}

struct Frame {
    bool full = false;
    bool retransmission = false;
    std::uint16_t source = 0;
    std::uint16_t destination = 0;
    std::uint32_t timestamp = 0;
    std::uint8_t oseqno = 0;
    std::uint8_t iseqno = 0;
    std::uint8_t type = 0;
    std::uint8_t subclass = 0;  // as on the wire
    std::string payload;

    bool is(std::uint8_t frameType, std::uint8_t frameSubclass) const {
        return full && type == frameType && subclass == frameSubclass;
    }
    std::map<std::uint8_t, std::string> elements() const {
        std::map<std::uint8_t, std::string> found;
        for (std::size_t at = 0; at + 2 <= payload.size() && at + 2 + static_cast<unsigned char>(payload[at + 1]) <= payload.size();
             at += 2 + static_cast<unsigned char>(payload[at + 1]))
            found.emplace(static_cast<std::uint8_t>(payload[at]), payload.substr(at + 2, static_cast<unsigned char>(payload[at + 1])));
        return found;
    }
    std::string element(std::uint8_t id) const {
        const auto all = elements();
        const auto found = all.find(id);
        return found == all.end() ? std::string() : found->second;
    }
    bool has(std::uint8_t id) const { return elements().count(id) != 0; }
};

// One call number pair as the phone keeps it.
struct Leg {
    std::uint16_t local = 0;
    std::uint16_t remote = 0;
    std::uint8_t oseqno = 0;
    std::uint8_t iseqno = 0;
};

class Phone {
public:
    explicit Phone(std::uint16_t switchPort) : switchPort_(switchPort) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address = loopback(0);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~Phone() { ::close(fd_); }
    Phone(const Phone&) = delete;
    Phone& operator=(const Phone&) = delete;

    std::uint16_t port() const { return port_; }
    void setSwitchPort(std::uint16_t port) { switchPort_ = port; }
    // Full voice frames that arrive are acknowledged on this leg, as a phone does.
    void acknowledgeVoiceOn(Leg* leg) { voiceLeg_ = leg; }
    Leg leg() { return Leg{nextCall_++, 0, 0, 0}; }

    void sendBytes(const std::string& bytes) const {
        const sockaddr_in address = loopback(switchPort_);
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    static std::string full(std::uint16_t source, std::uint16_t destination, std::uint32_t timestamp, std::uint8_t oseqno,
                            std::uint8_t iseqno, std::uint8_t type, std::uint8_t subclass, const std::string& payload) {
        return u16(static_cast<std::uint16_t>(0x8000 | source)) + u16(destination) + u32(timestamp) +
               static_cast<char>(oseqno) + static_cast<char>(iseqno) + static_cast<char>(type) + static_cast<char>(subclass) +
               payload;
    }
    static std::string encode(const Elements& elements) {
        std::string bytes;
        for (const auto& [id, data] : elements) bytes += std::string{static_cast<char>(id), static_cast<char>(data.size())} + data;
        return bytes;
    }
    // A counted frame on the leg: its sequence number goes up.
    void send(Leg& leg, std::uint8_t type, std::uint8_t subclass, const std::string& payload = {},
              std::optional<std::uint32_t> timestamp = {}) {
        sendBytes(full(leg.local, leg.remote, timestamp.value_or(clock()), leg.oseqno++, leg.iseqno, type, subclass, payload));
    }
    void sendIax(Leg& leg, std::uint8_t subclass, const Elements& elements = {}) { send(leg, kIax, subclass, encode(elements)); }
    void ack(const Leg& leg, const Frame& frame) {
        sendBytes(full(leg.local, leg.remote, frame.timestamp, leg.oseqno, leg.iseqno, kIax, kAck, {}));
    }
    void sendMini(const Leg& leg, std::uint16_t timestamp, const std::string& payload) {
        sendBytes(u16(leg.local) + u16(timestamp) + payload);
    }

    // The next datagram (mini frames are kept aside as voice, never returned).
    std::optional<Frame> next(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd wait{fd_, POLLIN, 0};
            if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
            char buffer[4096];
            const ssize_t size = ::recv(fd_, buffer, sizeof buffer, 0);
            if (size < 4) continue;
            const std::string bytes(buffer, static_cast<std::size_t>(size));
            const auto word = [&](std::size_t at) {
                return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) << 8 | static_cast<unsigned char>(bytes[at + 1]));
            };
            if (!(word(0) & 0x8000)) {
                miniPayloads_.push_back(bytes.substr(4));
                continue;
            }
            if (bytes.size() < 12) continue;
            Frame frame;
            frame.full = true;
            frame.source = word(0) & 0x7fff;
            frame.retransmission = word(2) & 0x8000;
            frame.destination = word(2) & 0x7fff;
            frame.timestamp = static_cast<std::uint32_t>(word(4)) << 16 | word(6);
            frame.oseqno = static_cast<std::uint8_t>(bytes[8]);
            frame.iseqno = static_cast<std::uint8_t>(bytes[9]);
            frame.type = static_cast<std::uint8_t>(bytes[10]);
            frame.subclass = static_cast<std::uint8_t>(bytes[11]);
            frame.payload = bytes.substr(12);
            if (frame.type == kVoice) {
                voiceFrames_.push_back(frame);
                if (voiceLeg_) {
                    take(*voiceLeg_, frame);
                    ack(*voiceLeg_, frame);
                }
            }
            return frame;
        }
    }
    // The next frame of that type and subclass, skipping others (ACKs, PINGs, voice).
    std::optional<Frame> expect(std::uint8_t type, std::uint8_t subclass, std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (auto frame = next(std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())))
            if (frame->is(type, subclass)) return frame;
        return std::nullopt;
    }
    // Takes the frame on the leg: learns the switch's call number, counts it.
    void take(Leg& leg, const Frame& frame) {
        leg.remote = frame.source;
        if (!(frame.type == kIax && (frame.subclass == kAck || frame.subclass == kInval))) leg.iseqno = static_cast<std::uint8_t>(frame.oseqno + 1);
    }
    std::optional<Frame> expectOn(Leg& leg, std::uint8_t type, std::uint8_t subclass, std::chrono::milliseconds timeout) {
        auto frame = expect(type, subclass, timeout);
        if (frame) take(leg, *frame);
        return frame;
    }
    // Every datagram that arrives within `period`.
    std::vector<Frame> drain(std::chrono::milliseconds period) {
        std::vector<Frame> frames;
        const auto end = std::chrono::steady_clock::now() + period;
        while (auto frame = next(std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())))
            frames.push_back(*frame);
        return frames;
    }

    // µ-law voice that arrived (full voice frames and mini frames), decoded, since the last call.
    std::vector<std::int16_t> takeUlawVoice() {
        std::vector<std::int16_t> samples;
        for (const Frame& frame : voiceFrames_)
            for (const char byte : frame.payload) samples.push_back(static_cast<std::int16_t>(fromUlaw(static_cast<std::uint8_t>(byte))));
        for (const std::string& payload : miniPayloads_)
            for (const char byte : payload) samples.push_back(static_cast<std::int16_t>(fromUlaw(static_cast<std::uint8_t>(byte))));
        voiceFrames_.clear();
        miniPayloads_.clear();
        return samples;
    }
    std::size_t voiceCount() const { return voiceFrames_.size() + miniPayloads_.size(); }
    const std::vector<Frame>& fullVoiceFrames() const { return voiceFrames_; }
    void forgetVoice() {
        voiceFrames_.clear();
        miniPayloads_.clear();
    }

    // `blocks` of 20 ms of a µ-law tone, as a full voice frame and then mini frames.
    void sendUlawTone(Leg& leg, double hertz, int blocks, std::uint32_t startTimestamp) {
        for (int block = 0; block < blocks; ++block) {
            std::string payload;
            for (int index = 0; index < 160; ++index) {
                const double t = (block * 160 + index) / 8000.0;
                payload += static_cast<char>(toUlaw(static_cast<int>(8000 * std::sin(2 * std::numbers::pi * hertz * t))));
            }
            const std::uint32_t timestamp = startTimestamp + 20u * static_cast<std::uint32_t>(block);
            if (block == 0)
                send(leg, kVoice, kUlaw, payload, timestamp);
            else
                sendMini(leg, static_cast<std::uint16_t>(timestamp), payload);
        }
    }

private:
    static sockaddr_in loopback(std::uint16_t port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    std::uint32_t clock() const {
        return static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count());
    }

    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::uint16_t switchPort_;
    std::uint16_t nextCall_ = 100;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::vector<Frame> voiceFrames_;
    std::vector<std::string> miniPayloads_;
    Leg* voiceLeg_ = nullptr;
};

}  // namespace testiax
