#pragma once

#include <optional>
#include <string>
#include <vector>

// The texts VelmoraCCS sends to the phone, without the "~": one builder per message type,
// each writing the children the phone reads, in a fixed order. Values are texts, as on the
// wire, so a test can send an empty or malformed one.
namespace labcti {

struct SwitchInfo {
    std::string host = "127.0.0.1";  // empty: the server has no switch for the agent
    std::string port = "4569";
    std::string codec = "CODEC_ULAW";
    std::string iaxPassword = "lab";
};

struct GroupSettings {
    std::string buttonDialState = "1";
    std::string buttonTransferState = "1";
    std::string buttonConfState = "1";
    std::string readyAfterLogin = "0";
    std::string addPrefixToCall = "0";
    std::string callPrefix;
    std::string recDefaultClient = "LabClient";
    std::string recDefaultCampaign = "LabCampaign";
};

struct RecordServer {
    std::string host = "127.0.0.1";
    std::string port;
    std::string sslConnection = "0";
};

struct AutoUpdateSettings {
    std::string autoUpdate = "0";
    std::string updateUrl = "127.0.0.1";
    std::string updatePort = "80";
    std::string updatePath = "/velmoraccs/orvane/";
};

struct RecordingSettings {
    std::string recordings = "1";
    std::string mp3Encoding = "0";
    std::string localRecording = "0";
    std::string minRecordingTime = "1";
    std::string maxRecordingTime = "300";
    std::string sslConnection = "0";
    std::string encodingQuality = "high";
};

struct WrapUpSettings {
    std::string actionAfterTimeOut = "READY";
    std::string maxWrapUp = "10";
    std::string wrapUpTimeOut = "1";
};

struct LoginSettings {
    AutoUpdateSettings autoUpdate;
    RecordingSettings recording;
    WrapUpSettings wrapUp;
    std::string groupDbid = "1";
};

struct DateTime {
    std::string year, month, day, hour, min, sec;
    // The local time now, month to second with two digits.
    static DateTime now();
    // "YYYY.MM.DD.hh.mm.ss", the form of a distributed call's CurrentDateTime.
    std::string dotted() const;
};

// One item of attached data; TYPE and READ_ONLY are left out when empty.
struct AttachedItem {
    std::string key, value, author;
    std::string type = "STRINGDATA";
    std::string readOnly = "true";
};
// The children of one EXTRADATA element.
using AttachedGroup = std::vector<AttachedItem>;

struct QueueDistribute {
    std::string trackNumber;
    std::string currentDateTime;
    std::string ani;
    std::string url;
    std::optional<std::string> consultCall;  // left out unless set
    std::vector<AttachedGroup> extraData;    // one EXTRADATA child per group
};

struct DialPreview {
    std::string url;
    std::string numberToDial;
    std::string recordId;
    std::string tableName;
    std::string campaignName;
    std::string callIdName;
    std::string callIdNum;
    std::string velmoraTracknum;
};

struct MessageCenterItem {
    std::string message;
    std::string color = "#FF0000";  // "#RRGGBB"
    std::string mode = "1";
    std::string type = "ALERT";     // "ALERT", "STAT" or anything else (dropped by the phone)
};

struct SubmitNotify {
    std::string agentId;
    std::string clientName;
    std::string campaignName;
    std::string submitStatus;  // "submit_required", "submit_sent" or anything else
    std::string sellResult;
};

std::string getSwitch(const SwitchInfo& info);
std::string groupSoftphone(const GroupSettings& settings);
// Reason is the list joined with "^".
std::string notReadyReasons(const std::vector<std::string>& reasons);
std::string recordServer(const RecordServer& server);
std::string loginSuccess(const LoginSettings& settings);
// Response and Reason are left out when empty.
std::string loginRefusal(const std::string& response, const std::string& reason);
std::string agentNotReady(const std::string& reason);
std::string agentLogout();
std::string personalDial(const std::string& velmoraTracknum);
// The track number of the dial the agent started.
std::string agentDialing(const std::string& trackNumber);
std::string ctiDateTime(const DateTime& dateTime);
std::string queueDistribute(const QueueDistribute& call);
std::string terminateCall(const std::string& trackNumber);
std::string dialPreview(const DialPreview& preview);
std::string messageCenterInfo(const MessageCenterItem& item);
std::string logoutAgent(const std::string& message, const std::string& reason);
std::string submitNotify(const SubmitNotify& notify);
std::string autoUpdate(const AutoUpdateSettings& settings);
// The answer to a consult-call request: response "success" accepts.
std::string consultCallAnswer(const std::string& response, const std::string& reason);
std::string holdAgent(const std::string& message);
std::string velmoraTracknum(const std::string& trackNumber, const std::string& channel);
std::string allAttachedData(const std::string& trackNumber, const std::vector<AttachedGroup>& extraData);
std::string updateRecording(const RecordingSettings& recording, const WrapUpSettings& wrapUp);

}  // namespace labcti
