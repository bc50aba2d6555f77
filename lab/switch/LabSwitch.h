#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "lab/common/LabLog.h"
#include "lab/common/LabRecorder.h"
#include "lab/common/LabUdpSocket.h"
#include "lab/common/LabWakeSignal.h"
#include "lab/switch/LabPcap.h"
#include "lab/switch/LabSwitchCall.h"
#include "lab/switch/LabSwitchEngine.h"
#include "lab/switch/LabSwitchOptions.h"
#include "lab/switch/LabSwitchRegistrar.h"

// A stand-in for the Asterisk PBX on 127.0.0.1 (or LabSwitchOptions::host) that the phone registers with and calls
// through, speaking IAX2 with frames of its own making:
//  - registrar for LabSwitchOptions::users (MD5 challenge, optional call tokens; accept,
//    reject or stay silent, switchable while running); REGREL removes a registration;
//  - calls from the phone: MD5 challenge, ACCEPT in a format both have (µ-law, A-law, GSM,
//    Speex), then per called-number route: RINGING and ANSWER after the ring time, ringing
//    forever, REJECT, or BUSY;
//  - calls to the phone on command (originate), hang-up of any call on command;
//  - audio of answered calls in real time, 20 ms blocks: the far party's WAV or tone goes to
//    the phone (a full voice frame first and on timestamp wrap, mini frames between, nothing
//    while the phone has quelched the call); what the phone sends is decoded, kept per call
//    and written to <recordDirectory>/call-<id>.wav; what the far party hears is kept too
//    (music on hold instead while the call is quelched with music on hold);
//  - DTMF and TEXT per call, and every full frame the phone sent as one readable line
//    (see describeLabIaxFrame), in order, for waitFor().
// Bad datagrams are logged and dropped; memory stays bounded (sessions, kept calls, kept audio
// and recorded lines all have limits).
//
// One thread owns the socket and does all the protocol work; start() and stop() belong to the
// switch's owner, every other operation may be called from any thread.
class LabSwitch {
public:
    using CallMatch = std::function<bool(const LabCallInfo& call)>;
    static constexpr std::size_t kMaxRecordedFrames = 100000;
    static inline const std::string kDefaultHangUpCause = "Normal Clearing";

    explicit LabSwitch(LabSwitchOptions options = {}, LabLog log = labLogToFile("LabSwitch"));
    ~LabSwitch();
    LabSwitch(const LabSwitch&) = delete;
    LabSwitch& operator=(const LabSwitch&) = delete;

    // Binds the UDP port and starts serving. After a stop it starts again on the same port
    // (with its registrations, calls and records forgotten). False when the port cannot be
    // bound or the switch is already running.
    bool start();
    void stop();
    std::uint16_t port() const;

    // Changes the options while running (users, mode, routes, audio ...); `change` runs under
    // the switch's lock, so it must not call back into the switch.
    void configure(const std::function<void(LabSwitchOptions&)>& change);
    LabSwitchOptions options() const;

    bool registered(const std::string& user) const;
    std::optional<LabRegistration> registration(const std::string& user) const;
    std::vector<LabRegistration> registrations() const;
    bool waitForRegistration(const std::string& user, std::chrono::milliseconds timeout) const;
    bool waitForUnregistration(const std::string& user, std::chrono::milliseconds timeout) const;

    // Every call since start (the oldest ended ones forgotten past a limit), in id order.
    std::vector<LabCallInfo> calls() const;
    std::optional<LabCallInfo> call(int id) const;
    // The first call that matches, waiting up to `timeout` for one to.
    std::optional<LabCallInfo> waitForCall(const CallMatch& match, std::chrono::milliseconds timeout) const;
    // Answers a call from the phone that is ringing; false when there is none of that id.
    bool answer(int id);
    // Sends HANGUP with `cause`; false when the call is unknown or over.
    bool hangUp(int id, const std::string& cause = kDefaultHangUpCause);
    // A call to the registered user: NEW with the caller's number and name. The new call's
    // id; nothing when the user is not registered or the switch is not running.
    std::optional<int> originate(const std::string& user, const std::string& callerNumber,
                                 const std::string& callerName = {});
    // A call to a phone at `address`, registered or not.
    std::optional<int> originateTo(const LabUdpAddress& address, const std::string& user,
                                   const std::string& callerNumber, const std::string& callerName = {});

    // With LabSwitchOptions::audioByHand: sends the next `blocks` 20 ms blocks of every
    // answered call now; how many calls sent them.
    int sendAudioBlocks(int blocks);

    // What the phone sent on the call, decoded (8 kHz samples), and what the far party heard.
    std::vector<std::int16_t> receivedAudio(int id) const;
    std::vector<std::int16_t> heardAudio(int id) const;

    // The readable line of every full frame that arrived, in order.
    std::vector<std::string> frames() const;
    std::optional<std::string> waitFor(const std::string& prefix, std::chrono::milliseconds timeout) const;
    std::optional<std::string> waitFor(const LabRecorder::Match& match, std::chrono::milliseconds timeout) const;
    bool waitForCount(const LabRecorder::Match& match, std::size_t count, std::chrono::milliseconds timeout) const;
    void clearFrames();

    // Sends these bytes to `address` from the switch's port, for tests of a peer's bad input.
    void sendRaw(const LabUdpAddress& address, const std::string& bytes);

private:
    using Clock = LabSwitchEngine::Clock;

    void serve();
    void receiveDatagrams();
    void transmit(const LabUdpAddress& to, const std::string& bytes, const std::string& line);
    int msUntilDue() const;
    // Runs `work` on the engine under the lock, then wakes the serving thread and the waiters.
    template <class Work>
    auto withEngine(Work&& work);
    template <class Predicate>
    bool waitUntil(std::chrono::milliseconds timeout, Predicate&& predicate) const;

    const LabLog log_;
    LabRecorder frames_{kMaxRecordedFrames};
    LabWakeSignal stopSignal_;
    LabWakeSignal wakeSignal_;

    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    LabSwitchOptions startOptions_;
    std::optional<LabSwitchEngine> engine_;  // while running
    LabUdpSocket socket_;                    // opened by start(), closed by the serving thread
    LabPcapWriter capture_;
    std::uint16_t port_ = 0;
    bool running_ = false;
    std::thread thread_;
};
