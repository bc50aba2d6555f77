#include "voice/VoiceEvents.h"

#include <cstring>

#include "AgentVocabulary.h"
#include "call/Call.h"
#include "infra/CLogger.h"
#include "voice/AudioDeviceSelection.h"
#include "voice/LineControl.h"
#include "voice/SwitchRegistration.h"
#include "voice/VoiceAgent.h"
#include "voice/engine/VoiceEngine.h"

namespace {

constexpr const char* kTag = "iaxc_callback()";

// Per line: the events of a line going down and of a line answered.
constexpr int kHangUpEvents[] = {agent::FirstLineHangUpEvent, agent::SecondLineHangUpEvent,
                                 agent::ThirdLineHangUpEvent};
constexpr int kCompletedEvents[] = {agent::FirstLineCompletedEvent, agent::SecondLineCompletedEvent,
                                    agent::ThirdLineCompletedEvent};

}  // namespace

VoiceEvents::VoiceEvents(LineControl& lines, SwitchRegistration& switchRegistration,
                         AudioDeviceChanges& audioDevices, const Call& call, VoiceAgent& agent)
    : lines_(lines), switch_(switchRegistration), audioDevices_(audioDevices), call_(call), agent_(agent) {}

void VoiceEvents::clearPreviousStates() {
    for (auto& state : previousState_) state = 0;
}

int VoiceEvents::ringingIncomingLine() const {
    for (int callNo = 0; callNo < LineControl::kLines; ++callNo) {
        const int state = previousState_[static_cast<std::size_t>(callNo)];
        if ((state & VoiceEvent::Active) && (state & VoiceEvent::Ringing) && !(state & VoiceEvent::Outgoing))
            return callNo;
    }
    return -1;
}

int VoiceEvents::iaxc_callback(const VoiceEvent& event) {
    switch (event.type) {
    case VoiceEvent::Text:
        logMessage(LogLevel::Debug, "%s: Type: IAXC_EVENT_TEXT: %s", kTag, event.message.c_str());
        if (event.message == "Incoming call on line 1") agent_.QueuePhoneEvent(agent::InCallEvent);
        return 1;
    case VoiceEvent::Levels:
        return 1;
    case VoiceEvent::State:
        handleState(event);
        return 0;
    case VoiceEvent::Result:
        handleResult(event);
        return 0;
    default:
        logMessage(LogLevel::Debug, "%s: Type: [%d]. Unknown", kTag, event.type);
        return 0;
    }
}

void VoiceEvents::handleState(const VoiceEvent& event) {
    const int callNo = event.callNo;
    if (callNo < 0 || callNo >= LineControl::kLines) return;
    const int state = event.state;
    const int changed = state ^ previousState_[static_cast<std::size_t>(callNo)];
    logMessage(LogLevel::Debug,
               "%s: Type: IAXC_EVENT_STATE: CallNo:[%d]. State:[%#x]. active:[%#x]. outgoing:[%#x]. ringing:[%#x]. "
               "completed:[%#x]. selected:[%#x]. busy[%#x]. transfer[%#x]",
               kTag, callNo, state, state & VoiceEvent::Active, state & VoiceEvent::Outgoing,
               state & VoiceEvent::Ringing, state & VoiceEvent::Complete, state & VoiceEvent::Selected, 0, 0);
    const Call::Snapshot call = call_.snapshot();
    logMessage(LogLevel::Debug, "iaxc_callback()-- Local[%s] CallerIdName[%s] CallerIdNum[%s]", event.local.c_str(),
               call.callerIdName.c_str(), call.callerIdNumber.c_str());
    if ((changed & VoiceEvent::Active) && !(state & VoiceEvent::Active)) {
        lines_.setLineStatusDown(callNo);
        agent_.QueuePhoneEvent(kHangUpEvents[callNo]);
    }
    if ((changed & VoiceEvent::Complete) && (state & VoiceEvent::Complete)) {
        lines_.setLineStatusUp(callNo);
        agent_.QueuePhoneEvent(kCompletedEvents[callNo]);
    }
    previousState_[static_cast<std::size_t>(callNo)] = state;
}

void VoiceEvents::handleResult(const VoiceEvent& event) {
    int data = 0;
    std::memcpy(&data, event.message.c_str(), std::min<std::size_t>(sizeof data, event.message.size() + 1));
    logMessage(LogLevel::Debug, "%s: Type: IAXC_EVENT_RESULT: %d, data[%d] message [%s] on call[%d]", kTag,
               event.resultCode, data, event.message.c_str(), event.callNo);
    if (event.resultCode == VoiceEvent::RegistrationAccepted) {
        if (!switch_.registrationAccepted()) return;
        agent_.showTicker(TickerText::alert(""));
        agent_.QueuePhoneEvent(agent::LoginDoneEvent);
    } else if (event.resultCode == VoiceEvent::RegistrationRejected) {
        if (!switch_.registrationRejected()) return;
        switch_.stopProcessingAfterRejection();
        agent_.showTicker(TickerText::alert("Registration rejected from switch !"));
        agent_.QueuePhoneEvent(agent::FailedEvent);
    } else if (event.resultCode == VoiceEvent::RegistrationReleased) {
        switch_.releaseFinished();
    } else if (event.resultCode == VoiceEvent::AudioDeviceLost) {
        audioDevices_.deviceLost(event.message);
    } else if (event.resultCode == VoiceEvent::AudioDevicesChanged) {
        audioDevices_.devicesChanged(event.message);
    }
}
