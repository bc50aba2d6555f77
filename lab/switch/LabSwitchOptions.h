#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "infra/Timing.h"
#include "lab/switch/LabAudioSource.h"
#include "lab/switch/LabIaxProtocol.h"

// How the registrar treats every REGREQ and REGREL.
enum class LabRegistrationMode {
    Accept,  // challenge, then accept the right secret of a configured user
    Reject,  // refuse every one
    Silent,  // the whole switch answers nothing, not even ACKs: it only records what arrives
};

// What the switch does with a call the phone places.
enum class LabCallAnswer {
    Answer,  // ACCEPT, RINGING, ANSWER after the ring time
    Never,   // ACCEPT, RINGING, then ringing until someone hangs up (or answer(id))
    Reject,  // REJECT with the route's cause instead of ACCEPT
    Busy,    // ACCEPT, then BUSY; the phone hangs up
};

// The behaviour for called numbers that start with `prefix` (the longest matching prefix wins).
struct LabCallRoute {
    std::string prefix;
    LabCallAnswer answer = LabCallAnswer::Answer;
    std::optional<std::chrono::milliseconds> ringTime;  // production time; the switch's ringTime when empty
    std::string rejectCause = "Call rejected";
    std::uint8_t rejectCauseCode = labiax::cause::CallRejected;
};

// How the lab switch plays the Asterisk PBX. Durations are production values: the switch
// waits Timing::scaled(duration).
struct LabSwitchOptions {
    std::uint16_t port = 0;                     // 0: an ephemeral port
    std::uint32_t host = 0x7F000001;            // the address to listen on, host byte order; 127.0.0.1
    std::map<std::string, std::string> users;   // user name to secret
    bool callTokens = false;                    // require call tokens on REGREQ and NEW
    LabRegistrationMode registrationMode = LabRegistrationMode::Accept;
    std::uint16_t maxRefresh = 3600;            // seconds; a longer refresh asked for is cut to this

    std::chrono::milliseconds ringTime = intervals::kLabSwitchRingTime;
    LabCallAnswer defaultAnswer = LabCallAnswer::Answer;
    std::vector<LabCallRoute> routes;

    LabAudioSource farParty = LabAudioSource::tone(kFarPartyToneHertz);
    double musicOnHoldHertz = kMusicOnHoldHertz;
    std::uint32_t originateFormat = labiax::format::Ulaw;  // preferred format of calls to the phone
    // Tests: answered calls send audio only when LabSwitch::sendAudioBlocks() asks, each block
    // stamped 20 ms after the one before, however fast they are asked for.
    bool audioByHand = false;

    std::string recordDirectory;  // one WAV per call of what the phone sent; empty: none written
    std::string captureFile;      // a pcap file of every datagram sent and received; empty: none

    static constexpr double kFarPartyToneHertz = 440;
    static constexpr double kMusicOnHoldHertz = 600;
};
