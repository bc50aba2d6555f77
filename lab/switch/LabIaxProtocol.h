#pragma once

#include <cstdint>

// The numbers of IAX2 (RFC 5456) that the lab switch speaks, with the call-token addition
// that Asterisk makes: frame types, subclasses, information elements and media formats.
namespace labiax {

namespace frame {
inline constexpr std::uint8_t DtmfEnd = 0x01;
inline constexpr std::uint8_t Voice = 0x02;
inline constexpr std::uint8_t Video = 0x03;
inline constexpr std::uint8_t Control = 0x04;
inline constexpr std::uint8_t Null = 0x05;
inline constexpr std::uint8_t Iax = 0x06;
inline constexpr std::uint8_t Text = 0x07;
inline constexpr std::uint8_t Image = 0x08;
inline constexpr std::uint8_t Html = 0x09;
inline constexpr std::uint8_t ComfortNoise = 0x0a;
inline constexpr std::uint8_t DtmfBegin = 0x0c;
}  // namespace frame

// Subclasses of IAX frames.
namespace iax {
inline constexpr std::uint32_t New = 0x01;
inline constexpr std::uint32_t Ping = 0x02;
inline constexpr std::uint32_t Pong = 0x03;
inline constexpr std::uint32_t Ack = 0x04;
inline constexpr std::uint32_t Hangup = 0x05;
inline constexpr std::uint32_t Reject = 0x06;
inline constexpr std::uint32_t Accept = 0x07;
inline constexpr std::uint32_t AuthReq = 0x08;
inline constexpr std::uint32_t AuthRep = 0x09;
inline constexpr std::uint32_t Inval = 0x0a;
inline constexpr std::uint32_t LagRq = 0x0b;
inline constexpr std::uint32_t LagRp = 0x0c;
inline constexpr std::uint32_t RegReq = 0x0d;
inline constexpr std::uint32_t RegAuth = 0x0e;
inline constexpr std::uint32_t RegAck = 0x0f;
inline constexpr std::uint32_t RegRej = 0x10;
inline constexpr std::uint32_t RegRel = 0x11;
inline constexpr std::uint32_t Vnak = 0x12;
inline constexpr std::uint32_t TxCnt = 0x17;
inline constexpr std::uint32_t TxAcc = 0x18;
inline constexpr std::uint32_t Quelch = 0x1c;
inline constexpr std::uint32_t Unquelch = 0x1d;
inline constexpr std::uint32_t Poke = 0x1e;
inline constexpr std::uint32_t CallToken = 0x28;
}  // namespace iax

// Subclasses of control frames.
namespace control {
inline constexpr std::uint32_t Hangup = 0x01;
inline constexpr std::uint32_t Ringing = 0x03;
inline constexpr std::uint32_t Answer = 0x04;
inline constexpr std::uint32_t Busy = 0x05;
inline constexpr std::uint32_t Congestion = 0x08;
}  // namespace control

// Information elements.
namespace ie {
inline constexpr std::uint8_t CalledNumber = 0x01;
inline constexpr std::uint8_t CallingNumber = 0x02;
inline constexpr std::uint8_t CallingName = 0x04;
inline constexpr std::uint8_t Username = 0x06;
inline constexpr std::uint8_t Capability = 0x08;
inline constexpr std::uint8_t Format = 0x09;
inline constexpr std::uint8_t Version = 0x0b;
inline constexpr std::uint8_t AuthMethods = 0x0e;
inline constexpr std::uint8_t Challenge = 0x0f;
inline constexpr std::uint8_t Md5Result = 0x10;
inline constexpr std::uint8_t ApparentAddress = 0x12;
inline constexpr std::uint8_t Refresh = 0x13;
inline constexpr std::uint8_t Cause = 0x16;
inline constexpr std::uint8_t MusicOnHold = 0x1a;
inline constexpr std::uint8_t DateTime = 0x1f;
inline constexpr std::uint8_t CauseCode = 0x2a;
inline constexpr std::uint8_t CallToken = 0x36;
}  // namespace ie

inline constexpr std::uint16_t kAuthMd5 = 0x0002;
inline constexpr std::uint16_t kProtocolVersion = 2;

// Media format bits of the voice codecs the switch can encode and decode.
namespace format {
inline constexpr std::uint32_t Gsm = 0x002;
inline constexpr std::uint32_t Ulaw = 0x004;
inline constexpr std::uint32_t Alaw = 0x008;
inline constexpr std::uint32_t Speex = 0x200;
}  // namespace format

// Cause codes (Q.931) the switch puts beside its cause texts.
namespace cause {
inline constexpr std::uint8_t NormalClearing = 16;
inline constexpr std::uint8_t CallRejected = 21;
inline constexpr std::uint8_t FacilityRejected = 29;
inline constexpr std::uint8_t FacilityNotSubscribed = 50;
inline constexpr std::uint8_t IncompatibleDestination = 88;
}  // namespace cause

}  // namespace labiax
