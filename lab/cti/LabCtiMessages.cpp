#include "lab/cti/LabCtiMessages.h"

#include <cstdio>
#include <ctime>

#include "lab/common/LabElement.h"

namespace labcti {
namespace {

std::string twoDigits(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

void addRecording(LabElement& element, const RecordingSettings& recording) {
    element.add("Recordings", recording.recordings)
        .add("Mp3Encoding", recording.mp3Encoding)
        .add("LocalRecording", recording.localRecording)
        .add("MinRecordingTime", recording.minRecordingTime)
        .add("MaxRecordingTime", recording.maxRecordingTime)
        .add("SSLConnection", recording.sslConnection)
        .add("EncodingQuality", recording.encodingQuality);
}

void addWrapUp(LabElement& element, const WrapUpSettings& wrapUp) {
    element.add("ActionAfterTimeOut", wrapUp.actionAfterTimeOut)
        .add("MaxWrapUp", wrapUp.maxWrapUp)
        .add("WrapUpTimeOut", wrapUp.wrapUpTimeOut);
}

void addAutoUpdate(LabElement& element, const AutoUpdateSettings& settings) {
    element.add("AutoUpdate", settings.autoUpdate)
        .add("UpdateUrl", settings.updateUrl)
        .add("UpdatePort", settings.updatePort)
        .add("UpdatePath", settings.updatePath);
}

std::string attachedItem(const AttachedItem& item) {
    LabElement element("ATTACHED_DATA");
    element.add("KEY", item.key).add("VALUE", item.value).add("AUTHOR", item.author);
    if (!item.type.empty()) element.add("TYPE", item.type);
    if (!item.readOnly.empty()) element.add("READ_ONLY", item.readOnly);
    return element.toString();
}

void addExtraData(LabElement& element, const std::vector<AttachedGroup>& extraData) {
    for (const AttachedGroup& group : extraData) {
        std::string items;
        for (const AttachedItem& item : group) items += attachedItem(item);
        element.add("EXTRADATA", items);
    }
}

}  // namespace

DateTime DateTime::now() {
    const std::time_t seconds = std::time(nullptr);
    std::tm local{};
    localtime_r(&seconds, &local);
    return {std::to_string(local.tm_year + 1900), twoDigits(local.tm_mon + 1), twoDigits(local.tm_mday),
            twoDigits(local.tm_hour),             twoDigits(local.tm_min),     twoDigits(local.tm_sec)};
}

std::string DateTime::dotted() const { return year + "." + month + "." + day + "." + hour + "." + min + "." + sec; }

std::string getSwitch(const SwitchInfo& info) {
    return LabElement("MSG_TYPE_GET_SWITCH")
        .add("Switch", info.host)
        .add("Port", info.port)
        .add("Codec", info.codec)
        .add("IaxPassword", info.iaxPassword)
        .toString();
}

std::string groupSoftphone(const GroupSettings& settings) {
    return LabElement("MSG_TYPE_GET_GRP_SOFTPHONE")
        .add("ButtonDialState", settings.buttonDialState)
        .add("ButtonTransferState", settings.buttonTransferState)
        .add("ButtonConfState", settings.buttonConfState)
        .add("ReadyAfterLogin", settings.readyAfterLogin)
        .add("AddPrefixToCall", settings.addPrefixToCall)
        .add("CallPrefix", settings.callPrefix)
        .add("RecDefaultClient", settings.recDefaultClient)
        .add("RecDefaultCampaign", settings.recDefaultCampaign)
        .toString();
}

std::string notReadyReasons(const std::vector<std::string>& reasons) {
    std::string joined;
    for (const std::string& reason : reasons) joined += (joined.empty() ? "" : "^") + reason;
    return LabElement("MSG_TYPE_GET_NOTREADYREASON").add("Reason", joined).toString();
}

std::string recordServer(const RecordServer& server) {
    return LabElement("MSG_TYPE_GET_RECORD_SERVER")
        .add("Host", server.host)
        .add("Port", server.port)
        .add("SSLConnection", server.sslConnection)
        .toString();
}

std::string loginSuccess(const LoginSettings& settings) {
    LabElement element("MSG_TYPE_LOGIN_RESPONSE");
    element.add("Response", "success");
    addAutoUpdate(element, settings.autoUpdate);
    addRecording(element, settings.recording);
    addWrapUp(element, settings.wrapUp);
    element.add("GroupDBID", settings.groupDbid);
    return element.toString();
}

std::string loginRefusal(const std::string& response, const std::string& reason) {
    LabElement element("MSG_TYPE_LOGIN_RESPONSE");
    if (!response.empty()) element.add("Response", response);
    if (!reason.empty()) element.add("Reason", reason);
    return element.toString();
}

std::string agentNotReady(const std::string& reason) {
    return LabElement("MSG_TYPE_AGENT_NOT_READY").add("Reason", reason).toString();
}

std::string agentLogout() { return LabElement("MSG_TYPE_AGENT_LOGOUT").toString(); }

std::string personalDial(const std::string& velmoraTracknum) {
    return LabElement("MSG_TYPE_PERSONAL_DIAL").add("VelmoraTracknum", velmoraTracknum).toString();
}

std::string agentDialing(const std::string& trackNumber) {
    return LabElement("MSG_TYPE_AGENT_DIALING").add("TrackNumber", trackNumber).toString();
}

std::string ctiDateTime(const DateTime& dateTime) {
    return LabElement("MSG_TYPE_CTI_DATETIME")
        .add("Year", dateTime.year)
        .add("Month", dateTime.month)
        .add("Day", dateTime.day)
        .add("Hour", dateTime.hour)
        .add("Min", dateTime.min)
        .add("Sec", dateTime.sec)
        .toString();
}

std::string queueDistribute(const QueueDistribute& call) {
    LabElement element("MSG_TYPE_QUEUE_DISTRIBUTE");
    element.add("TrackNumber", call.trackNumber)
        .add("CurrentDateTime", call.currentDateTime)
        .add("Ani", call.ani)
        .add("Url", call.url);
    if (call.consultCall) element.add("ConsultCall", *call.consultCall);
    addExtraData(element, call.extraData);
    return element.toString();
}

std::string terminateCall(const std::string& trackNumber) {
    return LabElement("MSG_TYPE_TERMINATE_CALL").add("TrackNumber", trackNumber).toString();
}

std::string dialPreview(const DialPreview& preview) {
    return LabElement("MSG_TYPE_DIAL_PREVIEW")
        .add("Url", preview.url)
        .add("NumberToDial", preview.numberToDial)
        .add("RecordId", preview.recordId)
        .add("TableName", preview.tableName)
        .add("CampaignName", preview.campaignName)
        .add("callIdName", preview.callIdName)
        .add("callIdNum", preview.callIdNum)
        .add("VelmoraTracknum", preview.velmoraTracknum)
        .toString();
}

std::string messageCenterInfo(const MessageCenterItem& item) {
    return LabElement("MSG_TYPE_SET_MSG_CENTER_INFO")
        .add("Message", item.message)
        .add("Color", item.color)
        .add("Mode", item.mode)
        .add("Type", item.type)
        .toString();
}

std::string logoutAgent(const std::string& message, const std::string& reason) {
    return LabElement("MSG_TYPE_LOGOUT_AGENT").add("Message", message).add("Reason", reason).toString();
}

std::string submitNotify(const SubmitNotify& notify) {
    return LabElement("MSG_TYPE_SUBMIT_NOTIFY")
        .add("AGENT_ID", notify.agentId)
        .add("CLIENT_NAME", notify.clientName)
        .add("CAMPAIGN_NAME", notify.campaignName)
        .add("SUBMIT_STATUS", notify.submitStatus)
        .add("SELL_RESULT", notify.sellResult)
        .toString();
}

std::string autoUpdate(const AutoUpdateSettings& settings) {
    LabElement element("MSG_TYPE_GET_ORVANE_AUTO_UPDATE");
    addAutoUpdate(element, settings);
    return element.toString();
}

std::string consultCallAnswer(const std::string& response, const std::string& reason) {
    return LabElement("MSG_TYPE_CONSULT_CALL_REQUEST").add("REASON", reason).add("RESPONSE", response).toString();
}

std::string holdAgent(const std::string& message) {
    return LabElement("MSG_TYPE_HOLD_AGENT").add("Message", message).toString();
}

std::string velmoraTracknum(const std::string& trackNumber, const std::string& channel) {
    return LabElement("MSG_TYPE_GET_VELMORA_TRACKNUM").add("Tracknum", trackNumber).add("Channel", channel).toString();
}

std::string allAttachedData(const std::string& trackNumber, const std::vector<AttachedGroup>& extraData) {
    LabElement element("MSG_TYPE_GET_ALL_ATTACHED_DATA");
    element.add("TrackNumber", trackNumber);
    addExtraData(element, extraData);
    return element.toString();
}

std::string updateRecording(const RecordingSettings& recording, const WrapUpSettings& wrapUp) {
    LabElement element("MSG_ORVANE_UPDATE_RECORDING");
    addRecording(element, recording);
    addWrapUp(element, wrapUp);
    return element.toString();
}

}  // namespace labcti
