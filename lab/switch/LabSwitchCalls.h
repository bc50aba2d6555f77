#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "lab/common/LabLog.h"
#include "lab/switch/LabCallAudio.h"
#include "lab/switch/LabIaxSessions.h"
#include "lab/switch/LabSwitchCall.h"
#include "lab/switch/LabSwitchOptions.h"

// The calls of the switch, both ways: NEW from the phone (MD5 challenge, ACCEPT with a format
// both sides have, then the behaviour of the called number's route), NEW to the phone on
// command, the frames of established calls, and the real-time audio of answered ones.
class LabSwitchCalls {
public:
    using Clock = LabIaxSession::Clock;
    static constexpr std::size_t kMaxKeptCalls = 200;  // ended calls beyond this are forgotten, oldest first
    static constexpr std::size_t kMaxDigits = 1000;
    static constexpr std::size_t kMaxTexts = 200;

    LabSwitchCalls(LabIaxSessions& sessions, const LabSwitchOptions& options, const LabLog& log)
        : sessions_(sessions), options_(options), log_(log) {}

    // A NEW that opens an exchange (call tokens already checked).
    void onNew(const LabIaxFullFrame& frame, const LabUdpAddress& peer, Clock::time_point now);
    // A full frame on a call session.
    void onFrame(LabIaxSession& session, const LabIaxFullFrame& frame, Clock::time_point now);
    void onMini(const LabIaxSession& session, const LabIaxMiniFrame& frame);
    // The call's session gave up retransmitting: the call is over.
    void onSessionLost(int id);

    // A NEW to the phone at `peer`; the new call's id, nothing when no session is free.
    std::optional<int> originate(const LabUdpAddress& peer, const std::string& user, const std::string& callerNumber,
                                 const std::string& callerName, Clock::time_point now);
    // False when there is no such call in a state that allows it.
    bool answer(int id, Clock::time_point now);
    bool hangUp(int id, const std::string& cause, Clock::time_point now);

    void onTimer(Clock::time_point now);
    // Audio paced by hand: the next `blocks` blocks of every answered call; how many calls sent.
    int sendAudioBlocks(int blocks, Clock::time_point now);
    // Finishes the WAV files of calls still going, so they can be read while the switch is stopped.
    void closeRecordings();
    std::optional<Clock::time_point> nextDue() const;

    std::vector<LabCallInfo> snapshot() const;
    std::optional<std::vector<std::int16_t>> received(int id) const;
    std::optional<std::vector<std::int16_t>> heard(int id) const;

private:
    struct Call {
        LabCallInfo info;
        std::uint16_t localCall = 0;  // of its session
        std::optional<LabCallAudio> audio;
        std::optional<Clock::time_point> answerAt;
        std::optional<Clock::time_point> nextBlock;
        Clock::time_point nextPing;
    };

    void authenticate(LabIaxSession& session, const LabIaxFullFrame& frame, Clock::time_point now);
    void startCall(LabIaxSession& session, Clock::time_point now);
    void onCallFrame(Call& call, LabIaxSession& session, const LabIaxFullFrame& frame, Clock::time_point now);
    void onIaxFrame(Call& call, LabIaxSession& session, const LabIaxFullFrame& frame, Clock::time_point now);
    void onControlFrame(Call& call, LabIaxSession& session, const LabIaxFullFrame& frame, Clock::time_point now);
    void reject(LabIaxSession& session, const std::string& cause, std::uint8_t causeCode, Clock::time_point now);
    void answerCall(Call& call, LabIaxSession& session, Clock::time_point now);
    void startAudio(Call& call, Clock::time_point now);
    // Sends the blocks due by `until`, stamped with their own time.
    void sendAudio(Call& call, LabIaxSession& session, Clock::time_point until, Clock::time_point now);
    void end(Call& call, const std::string& cause);
    Call& add(LabCallInfo info, LabIaxSession& session);
    LabIaxSession* sessionOf(const Call& call);
    LabCallRoute route(const std::string& called) const;
    std::string recordPath(int id) const;

    LabIaxSessions& sessions_;
    const LabSwitchOptions& options_;
    const LabLog& log_;
    std::map<int, Call> calls_;
    int nextId_ = 1;
};
