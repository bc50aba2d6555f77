#include "voice/LineControl.h"

#include "AgentVocabulary.h"
#include "call/Call.h"
#include "infra/CLogger.h"
#include "infra/ThreadGroup.h"
#include "voice/VoiceAgent.h"
#include "voice/engine/VoiceEngine.h"

LineControl::LineControl(VoiceEngine& engine, const Call& call, VoiceAgent& agent, ThreadGroup& threads)
    : engine_(engine), call_(call), agent_(agent), threads_(threads) {}

bool LineControl::selectIaxLine(int callNo) {
    logMessage(LogLevel::Debug, "IAX Select line %d", callNo);
    return engine_.iaxc_select_call(callNo) == 0;
}

int LineControl::selectedCall() { return engine_.iaxc_selected_call(); }

void LineControl::SelectFirstLine() {
    logMessage(LogLevel::Debug, "CImplementation::SelectFirstLine()");
    threads_.start("SelectFirstLine", [this] { selectIaxLine(0); });
}

void LineControl::SelectSecondLine() {
    logMessage(LogLevel::Debug, "CImplementation::SelectSecondLine()");
    threads_.start("SelectSecondLine", [this] { selectIaxLine(1); });
}

void LineControl::selectThirdLine() { selectIaxLine(2); }

void LineControl::setLineStatusUp(int line) {
    if (line < 0 || line >= kLines) return;
    logMessage(LogLevel::Debug, "Set line %d status UP", line + 1);
    lineUp_[static_cast<std::size_t>(line)] = true;
}

void LineControl::setLineStatusDown(int line) {
    if (line < 0 || line >= kLines) return;
    logMessage(LogLevel::Debug, "Set line %d status DOWN", line + 1);
    lineUp_[static_cast<std::size_t>(line)] = false;
    const std::string trackNumber = getVelmoraTrackNum(line);
    if (trackNumber.empty()) return;
    agent_.reportLineDown(trackNumber);
    setLineTrackNum("", line);
}

bool LineControl::lineIsUp(int line) const {
    return line >= 0 && line < kLines && lineUp_[static_cast<std::size_t>(line)];
}

bool LineControl::anyLineUp() const { return lineIsUp(0) || lineIsUp(1) || lineIsUp(2); }

void LineControl::setLineTrackNum(const std::string& trackNumber, int line) {
    logMessage(LogLevel::Debug, "Received a new tracknum[%s] for line[%d]", trackNumber.c_str(), line);
    engine_.iaxc_set_call_tag(line < 0 ? selectedCall() : line, trackNumber);
}

std::string LineControl::getVelmoraTrackNum(int line) {
    const std::string trackNumber = engine_.iaxc_get_call_tag(line < 0 ? selectedCall() : line).value_or("");
    logMessage(LogLevel::Debug, "getVelmoraTrackNum will return tracknum[%s] for line[%d]", trackNumber.c_str(), line);
    return trackNumber;
}

void LineControl::clearLineTrackNums() {
    for (int line = 0; line < kLines; ++line) engine_.iaxc_set_call_tag(line, "");
}

void LineControl::selectAndDrop(int callNo) {
    if (selectIaxLine(callNo)) engine_.iaxc_dump_call();
}

void LineControl::HangUpLine1() {
    logMessage(LogLevel::Debug, "CImplementation::HangUpLine1()");
    threads_.start("HangUpLine1", [this] {
        std::lock_guard guard(hangUpLock_);
        selectAndDrop(0);
    });
}

void LineControl::HangUpLine2() {
    logMessage(LogLevel::Debug, "CImplementation::HangUpLine2()");
    threads_.start("HangUpLine2", [this] {
        logMessage(LogLevel::Debug, "doHangUpLine2 line_2_status[%d]", lineIsUp(1) ? 1 : 0);
        std::lock_guard guard(hangUpLock_);
        selectAndDrop(1);
    });
}

void LineControl::doHangUpMadeCall() {
    logMessage(LogLevel::Debug, "doHangUpMadeCall()");
    threads_.start("doHangUpMadeCall", [this] {
        selectAndDrop(0);
        selectAndDrop(1);
    });
}

void LineControl::doHangUpPrevCall() {
    logMessage(LogLevel::Debug, "doHangUpPrevCall() second_line");
    threads_.start("doHangUpPrevCall", [this] {
        selectAndDrop(0);
        selectAndDrop(1);
    });
}

void LineControl::HangUpCalls() {
    if (onHold_) RemoveHold();
    threads_.start("HangUpCalls", [this] { engine_.iaxc_dump_all_calls(); });
}

void LineControl::dropAllLines() {
    for (int callNo = 0; callNo < kLines; ++callNo) selectAndDrop(callNo);
}

void LineControl::dropBusyLines() {
    for (int callNo = 0; callNo < kLines; ++callNo)
        if (lineIsUp(callNo)) selectAndDrop(callNo);
}

void LineControl::LeaveConference() {
    threads_.start("doLeaveConferenceThread", [this] {
        logMessage(LogLevel::Debug, "doLeaveConferenceThread()");
        for (int callNo = threeLineMode_ ? 2 : 1; callNo >= 0; --callNo) selectAndDrop(callNo);
    });
}

void LineControl::PutCallHold() {
    logMessage(LogLevel::Debug, "CImplementation::PutCallHold()");
    const int callNo = selectedCall();
    logMessage(LogLevel::Debug, "COrvaneDlg::Put the call on Hold");
    logMessage(LogLevel::Debug, "COrvaneDlg:: bypass quelch channel [%d]", callNo);
    logMessage(LogLevel::Debug, "PutCallHold(): Will quelch line 1");
    const int result = engine_.iaxc_quelch(callNo, 1);
    logMessage(LogLevel::Debug, "COrvaneDlg::bypass quelch channel [%d] returns [%d]", callNo, result);
    logMessage(LogLevel::Debug, "PutCallhold current call %d", callNo);
    if (!onHold_ && callNo == customerLine()) {
        agent_.SendOnHoldToCti();
        onHold_ = true;
        muted_ = true;
    } else {
        logMessage(LogLevel::Warning, "COrvaneDlg::Already sent hold cant send it again");
    }
}

void LineControl::RemoveHold() {
    logMessage(LogLevel::Debug, "CImplementation::RemoveHold()");
    const int callNo = selectedCall();
    logMessage(LogLevel::Debug, "COrvaneDlg::Remove Hold on call");
    logMessage(LogLevel::Debug, "COrvaneDlg:: bypass Unquelch channel [%d]", callNo);
    const int result = engine_.iaxc_unquelch(callNo);
    logMessage(LogLevel::Debug, "COrvaneDlg::bypass Unquelch channel [%d] returns [%d]", callNo, result);
    if (onHold_ && callNo == customerLine()) {
        agent_.SendUnHoldToCti();
        onHold_ = false;
        muted_ = false;
    } else {
        logMessage(LogLevel::Warning, "COrvaneDlg::Already sent unhold cant send it again");
    }
}

void LineControl::clearCallHeldFlags() {
    onHold_ = false;
    muted_ = false;
}

void LineControl::MuteClient() {
    logMessage(LogLevel::Debug, "MuteClient(): Will quelch line 0");
    engine_.iaxc_quelch(selectedCall(), 0);
}

void LineControl::unquelchAllCalls() {
    for (int callNo = 0; callNo < kLines; ++callNo) engine_.iaxc_unquelch(callNo);
}

void LineControl::sendDTMF(char digit) {
    logMessage(LogLevel::Debug, "CImplementation::sendDTMF[%c]", digit);
    engine_.iaxc_send_dtmf(digit);
}

void LineControl::SetCallerId(const std::string& name, const std::string& number) {
    const std::string nameText = name.substr(0, 199);
    const std::string numberText = number.substr(0, 199);
    logMessage(LogLevel::Debug,
               "CImplementation::SetCallerId(std::string name, std::string number) caller id name_str[%s],number_str[%s] ",
               nameText.c_str(), numberText.c_str());
    engine_.iaxc_set_callerid(nameText, numberText);
}

void LineControl::StartRinging() {
    logMessage(LogLevel::Debug, "In StartRinging()");
    engine_.startRingTone();
}

void LineControl::StopRinging() {
    logMessage(LogLevel::Debug, "In StopRinging()");
    engine_.stopRingTone();
}

void LineControl::SetCallState() {
    logMessage(LogLevel::Debug, "Set Call State");
    const int line = selectedCall() != 0 ? 1 : 0;
    agent_.reportCallState("1," + call_.snapshot().dialDestination + "^" + getVelmoraTrackNum(line) +
                           (lineIsUp(line) ? "^SUCCESS" : "^FAILED"));
}

void LineControl::reportDialFailure(const char* operation, const std::string& destination) {
    logMessage(LogLevel::Error, "%s: iaxc_call failed for [%s]", operation, destination.c_str());
    agent_.showTicker(TickerText::alert("Dial failed !"));
}

int LineControl::lineDownEvent(int callNo) {
    if (callNo == 1) return agent::SecondLineHangUpEvent;
    return callNo == 2 ? agent::ThirdLineHangUpEvent : agent::FirstLineHangUpEvent;
}

void LineControl::setCallType(const char* type) {
    callType_.set(type);
    logMessage(LogLevel::Debug, "CImplementation::CallType [%s]", type);
}

void LineControl::SetUsing3lines() {
    logMessage(LogLevel::Debug, "Orvane is in 3 lines mode");
    threeLineMode_ = true;
}

void LineControl::setUsing2lines() {
    logMessage(LogLevel::Debug, "Orvane is in 2 lines mode");
    threeLineMode_ = false;
}
