#pragma once

#include <cstdint>

// Numbers of the IAX2 wire format (RFC 5456, and the call-token exchange Asterisk added).
namespace iax {

inline constexpr int kDefaultPort = 4569;
inline constexpr std::uint16_t kProtocolVersion = 2;

// Frame types of a full frame that the engine sends or takes.
enum FrameType : std::uint8_t {
    kDtmf = 1,  // the digit's end; the type a stock Asterisk takes for a digit
    kVoice = 2,
    kControl = 4,
    kIax = 6,
    kText = 7,
};

// Subclasses of an IAX frame.
enum IaxCommand : std::uint32_t {
    kNew = 1,
    kPing = 2,
    kPong = 3,
    kAck = 4,
    kHangup = 5,
    kReject = 6,
    kAccept = 7,
    kAuthReq = 8,
    kAuthRep = 9,
    kInval = 10,
    kLagRq = 11,
    kLagRp = 12,
    kRegReq = 13,
    kRegAuth = 14,
    kRegAck = 15,
    kRegRej = 16,
    kRegRel = 17,
    kVnak = 18,
    kTxCnt = 23,
    kTxAcc = 24,
    kQuelch = 28,
    kUnquelch = 29,
    kPoke = 30,
    kCallToken = 40,
};

// Subclasses of a control frame.
enum ControlCommand : std::uint32_t {
    kControlHangup = 1,
    kControlRinging = 3,
    kControlAnswer = 4,
};

// Information element identifiers.
enum Element : std::uint8_t {
    kCalledNumber = 1,
    kCallingNumber = 2,
    kCallingName = 4,
    kUsername = 6,
    kPassword = 7,
    kCapability = 8,
    kFormat = 9,
    kVersion = 11,
    kAuthMethods = 14,
    kChallenge = 15,
    kMd5Result = 16,
    kRefresh = 19,
    kCause = 22,
    kMusicOnHold = 26,
    kCauseCode = 42,
    kCallTokenElement = 54,
};

// Authentication methods (bits of kAuthMethods).
inline constexpr std::uint16_t kAuthPlaintext = 1;
inline constexpr std::uint16_t kAuthMd5 = 2;

// Q.931 cause codes carried in kCauseCode.
inline constexpr std::uint8_t kCauseNormalClearing = 16;
inline constexpr std::uint8_t kCauseUserBusy = 17;
inline constexpr std::uint8_t kCauseBearerNotAvailable = 58;

// Frames that do not advance the sequence numbers and are never acknowledged.
inline bool isUnsequenced(std::uint8_t type, std::uint32_t subclass) {
    return type == kIax && (subclass == kAck || subclass == kInval || subclass == kVnak || subclass == kTxCnt ||
                            subclass == kTxAcc);
}

}  // namespace iax
