#pragma once

#include <cstddef>
#include <mutex>
#include <string>

// The server's date and time of a call, in the six parts a recording's name is made of.
struct CallDateTime {
    std::string year, month, day, hour, minute, second;
    bool operator==(const CallDateTime&) const = default;
};

// The tags a recording's name carries, set from the screen pop.
struct CallTags {
    bool tagged = false;
    std::string client;    // at most 100 characters
    std::string campaign;  // at most 100 characters
    std::string status;    // at most 10 characters
};

// The preview call the CTI server asks the agent to make.
struct PreviewRequest {
    std::string trackNumber;
    std::string numberToDial;
    std::string callerIdName;
    std::string callerIdNumber;
    std::string campaignName;
    std::string recordId;
    std::string tableName;
};

// The agent's current call: the CTI server's track number and what came with it, the number
// dialled, the remote dial in progress, the screen pop's submit and tags. It is the only
// writer of these facts and keeps their rules (the cuts, the terminate flag a new track
// number clears); every other part reads a snapshot copied under its one lock, so a message
// built from one snapshot never mixes two calls.
class Call {
public:
    static constexpr std::size_t kDialledNumberLength = 20;
    static constexpr std::size_t kDialDestinationLength = 100;
    static constexpr std::size_t kTagStatusLength = 10;
    static constexpr std::size_t kTagTextLength = 100;

    struct Snapshot {
        std::string trackNumber;
        bool terminateReceived = false;  // the server ended this track number's call
        std::string ani;
        std::string callDateTime;  // "year.month.day.hour.min.sec" from the server
        CallDateTime callDateTimeParts;
        std::string dialledNumber;    // at most 20 characters
        std::string dialDestination;  // a transfer's or consultation's destination
        std::string pendingDialTrackNumber;
        bool remoteDial = false;     // a dial asked by the local client is in progress
        bool submitPending = false;  // the agent's web page must still submit the result
        std::string callerIdName;
        std::string callerIdNumber;
        std::string campaignName;
        std::string recordId;
        std::string tableName;
        CallTags tags;
    };

    Snapshot snapshot() const;

    // A new call's track number: it becomes the current one, and no terminate has come for it yet.
    void start(const std::string& trackNumber);
    // A distributed call: its track number, the server's date and time ("year.month.day.hour.min.sec") and ANI.
    void startDistributed(const std::string& trackNumber, const std::string& dateTime, const std::string& ani);
    void startPreview(const PreviewRequest& request);

    enum class Terminate { WrongCall, AlreadyReceived, Accepted };
    // The server's terminate for `trackNumber`: accepted once for the current call.
    Terminate terminate(const std::string& trackNumber);

    void setAni(const std::string& ani);
    // The ANI, unless one is known already; true when it was taken.
    bool setAniIfUnknown(const std::string& ani);
    void setCallDateTime(const CallDateTime& parts);
    // The text form; its parts are kept when it has six of them, and left empty otherwise.
    void setCallDateTime(const std::string& dotted);
    // A recorded call begins with these facts.
    void beginRecording(const std::string& dateTime, const std::string& ani, const std::string& trackNumber,
                        const CallTags& tags);

    // Cut to 20 characters.
    void setDialledNumber(const std::string& number);
    // Cut to 100 characters; returns the destination kept.
    std::string setDialDestination(const std::string& destination);
    // A consultation's destination as the switch routes it: `prefix` before the chosen one.
    void prefixDialDestination(const std::string& prefix);
    void setPendingDialTrackNumber(const std::string& trackNumber);

    // The local client's dial: its destination and dialled number, and the dial in progress.
    void beginRemoteDial(const std::string& number);
    void endRemoteDial();
    // Whether a remote dial was in progress; it is not any more.
    bool takeRemoteDial();

    void setSubmitPending(bool pending);
    // Whether a submit was pending; it is not any more.
    bool takeSubmitPending();

    // The screen pop's report: status cut to 10 characters, campaign and client to 100.
    void tag(const std::string& client, const std::string& campaign, const std::string& status);
    void untag();
    // A data: screen pop: the call is tagged as inbound, for the group's default client.
    void tagInbound(const std::string& defaultClient);

private:
    void startLocked(const std::string& trackNumber);
    void setCallDateTimeLocked(const std::string& dotted);

    mutable std::mutex lock_;
    Snapshot call_;
};
