#pragma once

#include <string>
#include <vector>

#include "core/AgentWindow.h"

// What the CTI link asks of the agent core, in four parts by who serves them, so a test
// fakes only the part a message touches.

// The agent's state and events, and the login the link drives.
class CtiAgentControl {
public:
    virtual void QueuePhoneEvent(int event) = 0;
    virtual bool isClosing() const = 0;
    // The state machine is in Agent-Ready.
    virtual bool inAgentReadyState() const = 0;
    virtual bool doAgentNotReady() = 0;
    virtual void doUnconditionalAgentLogout(bool hangUp) = 0;
    // Releases the screen pop, then logs the agent out on a thread of its own.
    virtual void startAgentLogout() = 0;
    virtual void ReceivedTerminateCall(const std::string& trackNumber) = 0;
    virtual void SendLoginToCti() = 0;
    virtual void SendLogoutToCti() = 0;
    virtual void resetCallTimer() = 0;
    // Close-Connection: stops the call timer and closes the link.
    virtual void CloseConnection() = 0;

protected:
    ~CtiAgentControl() = default;
};

// The switch and the other settings the server hands out.
class CtiSettings {
public:
    virtual void setAsteriskHost(const std::string& host) = 0;
    virtual void setAsteriskPort(int port) = 0;
    virtual void setAsteriskCodec(const std::string& codec) = 0;
    virtual void setAsteriskIaxPassword(const std::string& password) = 0;
    virtual void applyVoiceFormat() = 0;
    // Registers with the stored switch as the logged-in agent.
    virtual void registerWithSwitch() = 0;
    virtual void setAutoUpdateSettings(const std::string& status, const std::string& host, const std::string& port,
                                       const std::string& path) = 0;
    virtual void setRecordingSettings(const std::string& recordings, const std::string& mp3Encoding,
                                      const std::string& localRecording, const std::string& minRecordingTime,
                                      const std::string& maxRecordingTime, const std::string& sslConnection,
                                      const std::string& encodingQuality) = 0;
    virtual void setWrapUpSettings(const std::string& actionAfterTimeOut, const std::string& maxWrapUp,
                                   const std::string& wrapUpTimeOut) = 0;
    virtual void setPermissions(bool dial, bool transfer, bool conference) = 0;
    // The recording server; an empty host or a port of 0 keeps the recordings on disk.
    virtual void setRecordServer(const std::string& host, int port, bool ssl) = 0;

protected:
    ~CtiSettings() = default;
};

// The voice lines.
class CtiLines {
public:
    // Line kSelectedLine is the selected line.
    static constexpr int kSelectedLine = -1;

    virtual bool selectIaxLine(int callNo) = 0;
    virtual int selectedCall() = 0;
    virtual void unquelchAllCalls() = 0;
    virtual void setLineTrackNum(const std::string& trackNumber, int line) = 0;
    virtual std::string getVelmoraTrackNum(int line) = 0;
    virtual bool lineIsUp(int line) = 0;  // lines 0..2
    virtual void clearLineTrackNums() = 0;
    virtual void clearCallHeldFlags() = 0;
    virtual void RemoveHold() = 0;
    // The server holds the agent's call, as the window's hold button does.
    virtual void holdCurrentCall() = 0;

protected:
    ~CtiLines() = default;
};

// The agent's screen.
class CtiScreen {
public:
    // A message-centre item the server pushed for the ticker.
    struct MessageCenterItem {
        std::string text;
        unsigned red = 0;
        unsigned green = 0;
        unsigned blue = 0;
        int mode = 0;
    };

    virtual void showTicker(const TickerText& text) = 0;
    virtual void openScreenPop(const std::string& url) = 0;
    virtual void OnSubmitNotify(const std::string& text) = 0;
    virtual void openDialPad() = 0;
    virtual void refreshAttachedData() = 0;
    // Replaces the reasons offered; empty only hides the reason button, the reasons stay.
    virtual void setNotReadyReasons(const std::vector<std::string>& reasons) = 0;
    virtual void queueAlert(const MessageCenterItem& item) = 0;
    virtual void queueStatistic(const MessageCenterItem& item) = 0;
    // Wakes the transfer waiting for the answer to its consult-call request.
    virtual void signalConsultCallResult(bool accepted) = 0;

protected:
    ~CtiScreen() = default;
};

// The four parts together, as the agent core serves them.
struct CtiAgent {
    CtiAgentControl& control;
    CtiSettings& settings;
    CtiLines& lines;
    CtiScreen& screen;
};
