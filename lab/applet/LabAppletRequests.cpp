#include "lab/applet/LabAppletRequests.h"

#include "lab/common/LabElement.h"

namespace labapplet {

std::string greeting() { return "0,orvaneApplet"; }

std::string heartbeat() { return "58"; }

std::string forceReady() { return LabElement("RM_MSG_TYPE_FORCE_READY").toString(); }

std::string unconditionalReady() { return LabElement("RM_MSG_TYPE_UNCONDITIONNAL_READY").toString(); }

std::string dial(const DialRequest& request) {
    LabElement element("RM_MSG_TYPE_DIAL");
    element.add("Number", request.number);
    if (request.tracknumber) element.add("Tracknumber", *request.tracknumber);
    if (request.trackNumber) element.add("TrackNumber", *request.trackNumber);
    return element.toString();
}

std::string dial(const std::string& number, const std::string& trackNumber) {
    if (trackNumber.empty()) return dial(DialRequest{number, std::nullopt, std::nullopt});
    return dial(DialRequest{number, trackNumber, trackNumber});
}

std::string titleChange(const std::string& title) {
    return LabElement("RM_MSG_TYPE_TITLE_CHANGE").add("Title", title).toString();
}

std::string connected() { return LabElement("RM_MSG_TYPE_CONNECTED").toString(); }

std::string forceHangup() { return LabElement("RM_MSG_TYPE_FORCE_HANGUP").toString(); }

}  // namespace labapplet
