#pragma once

#include <array>
#include <atomic>
#include <mutex>
#include <string>

#include "infra/Guarded.h"

class AgentStatus;
class ThreadGroup;
class VoiceAgent;
class VoiceEngine;
class Call;

// The agent's three lines (engine calls 0, 1, 2): which one is selected, which are up, the
// track number each carries, hold, hang-ups, caller id, ringing and the small per-call state
// the state machine's actions set.
class LineControl {
public:
    static constexpr int kLines = 3;
    static constexpr int kSelectedLine = -1;

    LineControl(VoiceEngine& engine, const Call& call, VoiceAgent& agent, ThreadGroup& threads);

    bool selectIaxLine(int callNo);
    int selectedCall();
    void SelectFirstLine();   // on a thread of its own
    void SelectSecondLine();  // on a thread of its own
    void selectThirdLine();

    // From the voice events; `line` is the engine call number 0..2.
    void setLineStatusUp(int line);
    void setLineStatusDown(int line);
    bool lineIsUp(int line) const;
    bool anyLineUp() const;

    // Track numbers live in the engine's per-call tags; line -1 is the selected line.
    void setLineTrackNum(const std::string& trackNumber, int line);
    std::string getVelmoraTrackNum(int line);
    void clearLineTrackNums();

    // Hang-ups run on threads of their own.
    void HangUpLine1();
    void HangUpLine2();
    void doHangUpMadeCall();
    void doHangUpPrevCall();
    void HangUpCalls();
    // Selects a call and drops it, on the calling thread.
    void selectAndDrop(int callNo);
    // Selects and drops lines 1, 2, 3 in turn (logout and close), on the calling thread.
    void dropAllLines();
    // Selects and drops each line that is up, on the calling thread (login).
    void dropBusyLines();
    // Drops the lines from the last to the first, on a thread of its own.
    void LeaveConference();

    void PutCallHold();
    void RemoveHold();
    bool onHold() const { return onHold_; }
    bool muted() const { return muted_; }
    // The main window's hold button shows the call held.
    void setHoldButtonOn(bool on) { holdButtonOn_ = on; }
    bool holdButtonOn() const { return holdButtonOn_; }
    void clearCallHeldFlags();
    void MuteClient();
    void unquelchAllCalls();
    void sendDTMF(char digit);

    void SetCallerId(const std::string& name, const std::string& number);
    void StartRinging();
    void StopRinging();

    void SetCallState();
    // A dial the engine could not place (no free line, the engine down): said in the log as
    // `operation`'s and on the ticker.
    void reportDialFailure(const char* operation, const std::string& destination);
    // The agent event of line `callNo` (engine call 0..2) going down.
    static int lineDownEvent(int callNo);
    void setCallType(const char* type);
    std::string callType() const { return callType_.get(); }
    void SetUsing3lines();
    void setUsing2lines();
    bool threeLineMode() const { return threeLineMode_; }
    void setUseOnlytt(bool set) { useOnlytt_ = set; }
    bool useOnlytt() const { return useOnlytt_; }
    void setAgentMode(int mode) { agentMode_ = mode; }
    int agentMode() const { return agentMode_; }

private:
    // The customer line: call 0 in two-line mode, call 1 in three-line mode.
    int customerLine() const { return threeLineMode_ ? 1 : 0; }


    VoiceEngine& engine_;
    const Call& call_;
    VoiceAgent& agent_;
    ThreadGroup& threads_;
    std::mutex hangUpLock_;  // two line hang-ups never interleave their select and drop
    std::array<std::atomic<bool>, kLines> lineUp_{};
    std::atomic<bool> threeLineMode_{false};
    std::atomic<bool> onHold_{false};
    std::atomic<bool> muted_{false};
    std::atomic<bool> holdButtonOn_{false};
    std::atomic<bool> useOnlytt_{false};
    std::atomic<int> agentMode_{1};
    Guarded<std::string> callType_;
};
