#pragma once

#include <string>

// The tagging the agent's web page gives a call, carried into its recording's name.
struct RecordingTagging {
    bool tagged = false;
    std::string client;
    std::string campaign;
    std::string status;
};

// What a recording's name is made of, as the agent knows it when the recording starts and
// when it is sent.
struct RecordingFacts {
    std::string trackNumber;
    std::string ani;
    std::string callTime;  // "year.month.day.hour.min.sec"
    RecordingTagging tagging;
    std::string defaultClient;
    std::string defaultCampaign;
    std::string agentId;
    std::string switchHost;
};

// What the recorder asks of the agent: the call's facts, the call timer, the line mode, the
// ticker and the CTI server.
class RecordingAgent {
public:
    virtual RecordingFacts recordingFacts() = 0;
    // A recorded call begins: the call's time, ANI, track number and tagging become these.
    virtual void beginRecordedCall(const RecordingFacts& facts) = 0;
    // The recorded call ends: the call timer stops, the lines go back to two, the call time is forgotten.
    virtual void endRecordedCall() = 0;
    // Asks the CTI server for the call's time unless it is known.
    virtual void requestCtiTime() = 0;
    virtual void startCallTimer() = 0;
    // Clears the ticker unless the screen pop still waits for its submit.
    virtual void clearTickerAfterCall() = 0;
    // Tells the CTI server the name (without its extension) of a call's recording.
    virtual void sendRecordingNotice(const std::string& trackNumber, const std::string& nameWithoutExtension) = 0;

protected:
    ~RecordingAgent() = default;
};
