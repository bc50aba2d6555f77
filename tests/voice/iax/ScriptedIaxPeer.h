#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// One datagram the engine sent, decoded by the peer's own reading of the wire format.
struct PeerFrame {
    bool full = false;
    std::uint16_t source = 0;
    std::uint16_t destination = 0;
    bool retransmitted = false;
    std::uint32_t timestamp = 0;  // 16 bits in a mini frame
    std::uint8_t oseq = 0;
    std::uint8_t iseq = 0;
    std::uint8_t type = 0;
    std::uint8_t subclass = 0;  // as on the wire
    Bytes payload;
    std::map<std::uint8_t, Bytes> elements;  // of an IAX frame (type 6)

    bool is(std::uint8_t frameType, std::uint8_t wireSubclass) const {
        return full && type == frameType && subclass == wireSubclass;
    }
    bool has(std::uint8_t id) const { return elements.count(id) > 0; }
    std::string text(std::uint8_t id) const {
        const auto found = elements.find(id);
        return found == elements.end() ? std::string() : std::string(found->second.begin(), found->second.end());
    }
    std::uint32_t number(std::uint8_t id) const {
        std::uint32_t value = 0;
        if (const auto found = elements.find(id); found != elements.end())
            for (std::uint8_t byte : found->second) value = value << 8 | byte;
        return value;
    }
};

// A scripted IAX2 peer on 127.0.0.1 with its own bytes (no engine code), standing in for the
// switch. It acknowledges every reliable frame the engine sends on a call it has answered,
// unless silenced, and queues what it receives for the test to expect.
class ScriptedIaxPeer {
public:
    // Wire numbers, written out here on purpose.
    enum : std::uint8_t { Dtmf = 1, Voice = 2, Control = 4, Iax = 6, Text = 7 };
    enum : std::uint8_t {
        New = 1, Ping = 2, Pong = 3, Ack = 4, Hangup = 5, Reject = 6, Accept = 7, AuthReq = 8, AuthRep = 9,
        Inval = 10, LagRq = 11, LagRp = 12, RegReq = 13, RegAuth = 14, RegAck = 15, RegRej = 16, RegRel = 17,
        Vnak = 18, Quelch = 28, Unquelch = 29, Poke = 30, CallToken = 40,
    };
    enum : std::uint8_t { Ringing = 3, Answer = 4 };
    enum : std::uint8_t {
        CalledNumber = 1, CallingNumber = 2, CallingName = 4, Username = 6, Capability = 8, Format = 9,
        AuthMethods = 14, Challenge = 15, Md5Result = 16, Refresh = 19, Cause = 22, MusicOnHold = 26,
        CallTokenElement = 54,
    };

    ScriptedIaxPeer() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address = loopback(0);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        reader_ = std::thread([this] { readLoop(); });
    }
    ~ScriptedIaxPeer() {
        stop_ = true;
        reader_.join();
        ::close(fd_);
    }
    ScriptedIaxPeer(const ScriptedIaxPeer&) = delete;
    ScriptedIaxPeer& operator=(const ScriptedIaxPeer&) = delete;

    std::string hostPort() const { return "127.0.0.1:" + std::to_string(port_); }
    void setEnginePort(int port) { enginePort_ = port; }
    // A vanished peer: no more acknowledgements.
    void setSilent(bool silent) { silent_ = silent; }

    static Bytes element(std::uint8_t id, const std::string& value) {
        Bytes out(2 + value.size());
        out[0] = id;
        out[1] = static_cast<std::uint8_t>(value.size());
        std::copy(value.begin(), value.end(), out.begin() + 2);
        return out;
    }
    static Bytes element32(std::uint8_t id, std::uint32_t value) {
        return {id, 4, static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
                static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    }
    static Bytes element16(std::uint8_t id, std::uint16_t value) {
        return {id, 2, static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    }
    template <class... More>
    static Bytes join(const Bytes& first, const More&... more) {
        Bytes out;
        out.reserve(first.size() + (more.size() + ... + 0));
        for (const Bytes* part : {&first, &more...}) std::copy(part->begin(), part->end(), std::back_inserter(out));
        return out;
    }

    // The next frame that `match` takes (those before it are dropped), or nothing.
    template <class Match>
    std::optional<PeerFrame> next(Match match, std::chrono::milliseconds timeout) {
        std::unique_lock guard(lock_);
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            while (!queue_.empty()) {
                PeerFrame frame = std::move(queue_.front());
                queue_.pop_front();
                if (match(frame)) return frame;
            }
            if (arrived_.wait_until(guard, deadline) == std::cv_status::timeout && queue_.empty()) return std::nullopt;
        }
    }

    // The next full frame of this type and wire subclass (resends skipped), or nothing.
    std::optional<PeerFrame> expect(std::uint8_t type, std::uint8_t subclass,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
        return next([&](const PeerFrame& f) { return f.is(type, subclass) && !f.retransmitted; }, timeout);
    }
    std::optional<PeerFrame> expectMini(std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
        return next([](const PeerFrame& f) { return !f.full; }, timeout);
    }
    // Everything received so far, in order.
    std::vector<PeerFrame> history() const {
        std::lock_guard guard(lock_);
        return history_;
    }
    void forgetReceived() {
        std::lock_guard guard(lock_);
        queue_.clear();
        history_.clear();
    }

    // Answers an engine frame; the first answer to a request for call 0 opens a call here.
    // Returns this side's call number.
    std::uint16_t reply(const PeerFrame& to, std::uint8_t type, std::uint8_t subclass, const Bytes& payload = {}) {
        std::lock_guard guard(lock_);
        auto found = calls_.find(to.destination);
        if (to.destination == 0 || found == calls_.end()) {
            const std::uint16_t mine = nextCall_++;
            found = calls_.emplace(mine, Call{to.source, 0, static_cast<std::uint8_t>(to.oseq + 1)}).first;
        }
        sendLocked(found->first, found->second, type, subclass, payload);
        return found->first;
    }
    // Answers from call number 1 without keeping any state, as a token-checking switch does.
    void replyStateless(const PeerFrame& to, std::uint8_t type, std::uint8_t subclass, const Bytes& payload = {}) {
        std::lock_guard guard(lock_);
        sendRaw(encode(1, to.source, clock(), 0, static_cast<std::uint8_t>(to.oseq + 1), type, subclass, payload));
    }
    void sendOn(std::uint16_t call, std::uint8_t type, std::uint8_t subclass, const Bytes& payload = {}) {
        std::lock_guard guard(lock_);
        sendLocked(call, calls_.at(call), type, subclass, payload);
    }
    // As sendOn, with a chosen timestamp.
    void sendAt(std::uint16_t call, std::uint32_t timestamp, std::uint8_t type, std::uint8_t subclass,
                const Bytes& payload = {}) {
        std::lock_guard guard(lock_);
        Call& state = calls_.at(call);
        sendRaw(encode(call, state.engine, timestamp, state.oseq++, state.iseq, type, subclass, payload));
    }
    // Starts a call to the engine with a NEW carrying `elements`.
    std::uint16_t originate(const Bytes& elements) {
        std::lock_guard guard(lock_);
        const std::uint16_t mine = nextCall_++;
        Call& call = calls_.emplace(mine, Call{}).first->second;
        sendLocked(mine, call, Iax, New, elements);
        return mine;
    }
    void sendMini(std::uint16_t call, std::uint16_t timestamp, const Bytes& payload) {
        Bytes datagram(4 + payload.size());
        datagram[0] = static_cast<std::uint8_t>(call >> 8 & 0x7F);
        datagram[1] = static_cast<std::uint8_t>(call);
        datagram[2] = static_cast<std::uint8_t>(timestamp >> 8);
        datagram[3] = static_cast<std::uint8_t>(timestamp);
        std::copy(payload.begin(), payload.end(), datagram.begin() + 4);
        sendRaw(datagram);
    }
    void sendRaw(const Bytes& datagram) const {
        const sockaddr_in engine = loopback(enginePort_);
        ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&engine), sizeof engine);
    }
    static Bytes encode(std::uint16_t source, std::uint16_t destination, std::uint32_t timestamp, std::uint8_t oseq,
                        std::uint8_t iseq, std::uint8_t type, std::uint8_t subclass, const Bytes& payload = {}) {
        const std::uint8_t header[] = {static_cast<std::uint8_t>(0x80 | source >> 8), static_cast<std::uint8_t>(source),
                                       static_cast<std::uint8_t>(destination >> 8 & 0x7F),
                                       static_cast<std::uint8_t>(destination), static_cast<std::uint8_t>(timestamp >> 24),
                                       static_cast<std::uint8_t>(timestamp >> 16),
                                       static_cast<std::uint8_t>(timestamp >> 8), static_cast<std::uint8_t>(timestamp),
                                       oseq, iseq, type, subclass};
        Bytes out(sizeof header + payload.size());
        std::copy(std::begin(header), std::end(header), out.begin());
        std::copy(payload.begin(), payload.end(), out.begin() + sizeof header);
        return out;
    }
    // The engine's call number on this side's call.
    std::uint16_t engineCall(std::uint16_t call) const {
        std::lock_guard guard(lock_);
        return calls_.at(call).engine;
    }

private:
    struct Call {
        std::uint16_t engine = 0;
        std::uint8_t oseq = 0;
        std::uint8_t iseq = 0;
    };

    static sockaddr_in loopback(int port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    std::uint32_t clock() {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
        lastTimestamp_ = std::max(lastTimestamp_ + 1, static_cast<std::uint32_t>(elapsed.count()));
        return lastTimestamp_;
    }
    void sendLocked(std::uint16_t mine, Call& call, std::uint8_t type, std::uint8_t subclass, const Bytes& payload) {
        sendRaw(encode(mine, call.engine, clock(), call.oseq++, call.iseq, type, subclass, payload));
    }

    static std::optional<PeerFrame> decode(const Bytes& bytes) {
        PeerFrame frame;
        if (bytes.size() < 4) return std::nullopt;
        frame.full = bytes[0] & 0x80;
        frame.source = static_cast<std::uint16_t>((bytes[0] & 0x7F) << 8 | bytes[1]);
        if (!frame.full) {
            frame.timestamp = static_cast<std::uint32_t>(bytes[2] << 8 | bytes[3]);
            frame.payload.assign(bytes.begin() + 4, bytes.end());
            return frame;
        }
        if (bytes.size() < 12) return std::nullopt;
        frame.retransmitted = bytes[2] & 0x80;
        frame.destination = static_cast<std::uint16_t>((bytes[2] & 0x7F) << 8 | bytes[3]);
        frame.timestamp = static_cast<std::uint32_t>(bytes[4]) << 24 | bytes[5] << 16 | bytes[6] << 8 | bytes[7];
        frame.oseq = bytes[8];
        frame.iseq = bytes[9];
        frame.type = bytes[10];
        frame.subclass = bytes[11];
        frame.payload.assign(bytes.begin() + 12, bytes.end());
        if (frame.type == Iax)
            for (std::size_t at = 0; at + 2 <= frame.payload.size();) {
                const std::size_t length = frame.payload[at + 1];
                if (at + 2 + length > frame.payload.size()) return std::nullopt;
                frame.elements[frame.payload[at]].assign(frame.payload.begin() + static_cast<long>(at + 2),
                                                         frame.payload.begin() + static_cast<long>(at + 2 + length));
                at += 2 + length;
            }
        return frame;
    }

    void readLoop() {
        Bytes buffer(65536);
        while (!stop_) {
            pollfd watched{fd_, POLLIN, 0};
            if (::poll(&watched, 1, 5) <= 0) continue;
            const ssize_t size = ::recv(fd_, buffer.data(), buffer.size(), 0);
            if (size <= 0) continue;
            const auto frame = decode(Bytes(buffer.begin(), buffer.begin() + size));
            if (!frame) continue;
            std::lock_guard guard(lock_);
            acknowledge(*frame);
            history_.push_back(*frame);
            queue_.push_back(*frame);
            arrived_.notify_all();
        }
    }

    void acknowledge(const PeerFrame& frame) {
        const bool unsequenced = frame.type == Iax && (frame.subclass == Ack || frame.subclass == Inval || frame.subclass == Vnak);
        const auto found = calls_.find(frame.destination);
        if (!frame.full || unsequenced || frame.destination == 0 || found == calls_.end()) return;
        Call& call = found->second;
        if (call.engine == 0) call.engine = frame.source;
        if (frame.oseq == call.iseq) ++call.iseq;
        if (!silent_) sendRaw(encode(found->first, frame.source, frame.timestamp, call.oseq, call.iseq, Iax, Ack));
    }

    int fd_ = -1;
    int port_ = 0;
    std::atomic<int> enginePort_{0};
    std::atomic<bool> silent_{false};
    std::atomic<bool> stop_{false};
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::uint32_t lastTimestamp_ = 0;
    mutable std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<PeerFrame> queue_;
    std::vector<PeerFrame> history_;
    std::map<std::uint16_t, Call> calls_;
    std::uint16_t nextCall_ = 100;
    std::thread reader_;
};
