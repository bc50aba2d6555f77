#pragma once

#include <chrono>

// Every interval the program waits on lives here with its production value. Tests and lab
// runs scale all of them down at once (ORVANE_TIME_SCALE, or Timing::setScale) instead of
// sleeping real seconds. Counts (retries, polls) are not intervals and are not scaled.
namespace intervals {
using namespace std::chrono_literals;

inline constexpr std::chrono::milliseconds kEventQueueDrainPoll = 500ms; // clean close, queue size polls
inline constexpr int kEventQueueDrainPolls = 60;                         // polls before giving up (61 sleeps)

// Log
inline constexpr std::chrono::milliseconds kLogWriterGathering = 10ms;    // lines gathered before a write to the file

// Clean close
inline constexpr std::chrono::milliseconds kClosePopupPoll = 600ms;         // waiting for a screen pop's submit
inline constexpr std::chrono::milliseconds kCloseFinalPause = 300ms;

// The agent's window
inline constexpr std::chrono::milliseconds kTickerTick = 40ms;             // one step of the ticker's scrolling
inline constexpr std::chrono::milliseconds kDialPadClosePause = 100ms;     // before a dial window closed from elsewhere ends
inline constexpr std::chrono::milliseconds kViewSettle = 20ms;             // the headless view prints once a burst of changes is over

// CTI link
inline constexpr int kCtiConnectAttempts = 10;
inline constexpr std::chrono::milliseconds kCtiConnectRetryPause = 2000ms;
inline constexpr std::chrono::milliseconds kCtiConnectTimeout = 5000ms;    // one connection attempt
inline constexpr std::chrono::milliseconds kCtiHelloPause = 100ms;         // after connecting, before the hello
inline constexpr std::chrono::milliseconds kCtiHeartbeatIdle = 5000ms;     // idle wait before a heartbeat
inline constexpr int kCtiHeartbeatMisses = 6;                              // unanswered heartbeats that end the link
inline constexpr int kCtiSendRetries = 30;                                 // sends that would block
inline constexpr std::chrono::milliseconds kCtiSendRetryPause = 100ms;
inline constexpr std::chrono::milliseconds kCtiReceivePause = 10ms;        // between receive passes

// Wrap-up and the call timer
inline constexpr std::chrono::milliseconds kWrapUpCheckPause = 1000ms;     // between checker passes
inline constexpr std::chrono::milliseconds kCallTimerTick = 1000ms;

// Headsets
inline constexpr std::chrono::milliseconds kHeadsetLightsRefresh = 200ms;  // lights follow the calls while a headset is in
inline constexpr std::chrono::milliseconds kHeadsetOpenRetry = 500ms;      // a headset just plugged in, not yet openable
inline constexpr int kHeadsetOpenAttempts = 10;

// Local client listener
inline constexpr std::chrono::milliseconds kClientGreeting = 2000ms;       // then a client that has said nothing gives way
inline constexpr std::chrono::milliseconds kClientSilence = 30000ms;       // a silent client is dropped
inline constexpr std::chrono::milliseconds kClientStopWait = 10000ms;      // stop() waits this long for the listening thread
inline constexpr std::chrono::milliseconds kClientAnswerPause = 500ms;     // before a forced hang-up or ready
inline constexpr int kRemoteDialTrackNumberWaits = 9;
inline constexpr std::chrono::milliseconds kRemoteDialTrackNumberWait = 1000ms;

// Screen pop
inline constexpr std::chrono::milliseconds kBrowserCheck = 5ms;            // browser thread's pass while no window exists
inline constexpr std::chrono::milliseconds kBrowserBusyPoll = 50ms;        // after a failed navigation, until the page is idle
inline constexpr std::chrono::milliseconds kBrowserBusyLimit = 5000ms;     // ... but no longer than this
inline constexpr std::chrono::milliseconds kFirefoxWindowPause = 1000ms;   // between Firefox's two new windows
inline constexpr std::chrono::milliseconds kScreenPopLoadLimit = 30s;      // a page still loading this long is looked at
inline constexpr std::chrono::milliseconds kScreenPopScriptAnswer = 5000ms; // a live page answers a script within this

// Message centre
inline constexpr std::chrono::milliseconds kMessageCenterStatistic = 3000ms; // each part of a statistics text
inline constexpr std::chrono::milliseconds kMessageCenterAlert = 10000ms;    // each alert
inline constexpr std::chrono::milliseconds kMessageCenterIdle = 5000ms;      // after the ticker is cleared

// Voice lines
inline constexpr int kReadyDialPolls = 10;                                 // waits for the agent channel's answer
inline constexpr std::chrono::milliseconds kReadyDialPoll = 1000ms;
inline constexpr std::chrono::milliseconds kConsultResponseWait = 2000ms;   // for the CTI server's consult answer

// Voice engine (IAX2)
inline constexpr std::chrono::milliseconds kIaxRetransmitFirst = 500ms;     // first resend of an unacknowledged frame
inline constexpr std::chrono::milliseconds kIaxRetransmitLongest = 4000ms;  // the resend interval doubles up to this
inline constexpr std::chrono::milliseconds kIaxRetransmitGiveUp = 10s;      // unacknowledged this long: the peer is gone
inline constexpr std::chrono::seconds kIaxRegistrationRefresh = 60s;        // asked of the registrar; renewed at 9/10 of the grant
inline constexpr std::chrono::milliseconds kIaxRegistrationRetryFirst = 1s;    // a lost registration: asked again after,
inline constexpr std::chrono::milliseconds kIaxRegistrationRetryLongest = 60s; // doubled each time up to this
inline constexpr std::chrono::milliseconds kIaxCallPing = 20s;              // keep-alive PING on a call, so a vanished peer is noticed
inline constexpr std::chrono::milliseconds kIaxFailedPassPause = 100ms;     // after a loop pass that threw
inline constexpr std::chrono::milliseconds kIaxEndedCallLinger = 10s;       // an ended call still re-acknowledges the peer's resends
inline constexpr std::chrono::milliseconds kNetworkSettle = 300ms;          // quiet after a burst of address and route changes
inline constexpr std::chrono::milliseconds kRouteLookupLimit = 1000ms;      // the kernel's answer to a route request

// Audio devices
inline constexpr std::chrono::milliseconds kAudioDeviceCheck = 1000ms;      // between looks for sound cards that came or went
inline constexpr std::chrono::milliseconds kAudioRestartPause = 1000ms;     // a stream lost again this soon after a restart waits this long

// Call recording
inline constexpr std::chrono::milliseconds kRecordingEncoderPoll = 100ms;   // the encoder looks for new audio
inline constexpr std::chrono::milliseconds kRecordingRoomPoll = 1000ms;     // pages ahead of the tap are made ready
inline constexpr int kQmsConnectRetries = 10;                               // connection tries after the first
inline constexpr std::chrono::milliseconds kQmsConnectRetryPause = 100ms;
inline constexpr std::chrono::milliseconds kQmsConnectFailPause = 10ms;     // after a try that failed
inline constexpr std::chrono::milliseconds kQmsConnectTimeout = 5000ms;     // one connection try
inline constexpr std::chrono::milliseconds kQmsSendTimeout = 30000ms;       // a send the recording server does not take
inline constexpr std::chrono::milliseconds kQmsAckTimeout = 10000ms;        // the recording server's acknowledgement
inline constexpr int kQmsUploadAttempts = 3;                                // then the recording goes to disk
inline constexpr std::chrono::milliseconds kResendStartPause = 1500ms;      // before a re-send run scans the folder
inline constexpr std::chrono::milliseconds kResendFilePause = 250ms;        // between two re-sent files

// Crash dump and self-update
inline constexpr std::chrono::milliseconds kCrashDumpWait = 30s;            // the crashing thread waits for the helper's dump
inline constexpr std::chrono::milliseconds kUpdateConnectTimeout = 10s;     // connecting to the update web server
inline constexpr std::chrono::milliseconds kUpdateStallTimeout = 30s;       // a download that receives nothing this long fails

// Lab peers (lab/), the simulated outside world.
inline constexpr std::chrono::milliseconds kLabAppletHeartbeat = 10s;     // the applet's "58", well inside the 30 s rule
inline constexpr std::chrono::milliseconds kLabNotReadyPairWindow = 1s;   // a reasonless not-ready may still get its copy with a reason
inline constexpr std::chrono::milliseconds kLabRecorderLateAnswer = 12s;  // a late acknowledgement, past the phone's 10 s
inline constexpr std::chrono::milliseconds kLabWebIdle = 60s;             // a web client that sends no request is closed

// Lab switch (lab/switch/), the stand-in for the Asterisk PBX. Its audio runs in real time.
inline constexpr std::chrono::milliseconds kLabSwitchRingTime = 1000ms;          // ringing before the answer
inline constexpr std::chrono::milliseconds kLabSwitchRetransmit = 500ms;         // first retransmission, doubled for each next
inline constexpr int kLabSwitchRetransmissions = 4;                              // then the exchange is given up
inline constexpr std::chrono::milliseconds kLabSwitchPing = 20s;                 // PING on every call
inline constexpr std::chrono::milliseconds kLabSwitchCallTokenLifetime = 30s;    // a call token is accepted this long
inline constexpr std::chrono::milliseconds kLabSwitchLinger = 2s;                // an ended exchange still answers retransmissions
}  // namespace intervals

class Timing {
public:
    // The interval to wait in this run: the production value times the scale.
    static std::chrono::microseconds scaled(std::chrono::microseconds production);
    // 1.0 is production; 0.01 makes a 30 s wait last 300 ms.
    static void setScale(double scale);
    static double scale();
    // Reads ORVANE_TIME_SCALE from the environment when set to a number in (0, 1].
    static void setScaleFromEnvironment();
};
