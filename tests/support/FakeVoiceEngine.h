#pragma once

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "voice/engine/VoiceEngine.h"

// A scripted voice engine: records every operation as a line of text ("call a@b:1/x",
// "select 1", "quelch 0 1" ...), keeps the selected call and the call tags, and lets a
// test deliver events to the program's callback.
class FakeVoiceEngine : public VoiceEngine {
public:
    int initializeResult = 0;
    std::vector<AudioDevice> devices{{"default", AudioDevice::Capture | AudioDevice::Play | AudioDevice::Ring, 0}};
    int currentInput = 0;
    int currentOutput = 0;
    int currentRing = 0;
    // When set, the registration is answered with this result before iaxc_register returns,
    // as a switch on loopback can.
    std::optional<int> registrationAnswer;
    // iaxc_call answers `result` from now on instead of the call number (-1: no free line, engine down).
    void answerCallsWith(int result) {
        std::lock_guard guard(lock_);
        callResult_ = result;
    }
    // Every later operation whose text starts with `operation` throws instead of being done.
    void throwOn(const std::string& operation) {
        std::lock_guard guard(lock_);
        throwOn_ = operation;
    }
    // What iaxc_unregister_user answers: the releases that went out (their results come later).
    int releasesStarted = 0;

    std::vector<std::string> operations() const {
        std::lock_guard guard(lock_);
        return operations_;
    }
    bool has(const std::string& operation) const {
        const auto all = operations();
        return std::find(all.begin(), all.end(), operation) != all.end();
    }
    int count(const std::string& operation) const {
        const auto all = operations();
        return static_cast<int>(std::count(all.begin(), all.end(), operation));
    }
    void clearOperations() {
        std::lock_guard guard(lock_);
        operations_.clear();
    }

    void emit(const VoiceEvent& event) {
        EventCallback callback;
        {
            std::lock_guard guard(lock_);
            callback = callback_;
        }
        if (callback) callback(event);
    }
    void emitState(int callNo, int state) {
        VoiceEvent event;
        event.type = VoiceEvent::State;
        event.callNo = callNo;
        event.state = state;
        emit(event);
    }
    void emitResult(int code, const std::string& message = {}) {
        VoiceEvent event;
        event.type = VoiceEvent::Result;
        event.resultCode = code;
        event.message = message;
        emit(event);
    }
    void emitText(const std::string& message) {
        VoiceEvent event;
        event.type = VoiceEvent::Text;
        event.message = message;
        emit(event);
    }

    int iaxc_initialize(int calls) override { return record("initialize " + std::to_string(calls), initializeResult); }
    void iaxc_set_event_callback(EventCallback callback) override {
        std::lock_guard guard(lock_);
        callback_ = std::move(callback);
    }
    int iaxc_audio_devices_get(std::vector<AudioDevice>& list, int& input, int& output, int& ring) override {
        std::lock_guard guard(lock_);
        list = devices;
        input = currentInput;
        output = currentOutput;
        ring = currentRing;
        return 0;
    }
    int iaxc_audio_devices_set(int input, int output, int ring) override {
        return record("devices " + std::to_string(input) + " " + std::to_string(output) + " " + std::to_string(ring));
    }
    int iaxc_start_processing_thread() override { return record("start processing"); }
    int iaxc_stop_processing_thread() override { return record("stop processing"); }
    int iaxc_register(const std::string& user, const std::string& secret, const std::string& host) override {
        const int result = record("register " + user + " " + secret + " " + host);
        if (registrationAnswer) emitResult(*registrationAnswer);
        return result;
    }
    int iaxc_unregister_user(const std::string& user, const std::string& secret, const std::string& host) override {
        return record("unregister " + user + " " + secret + " " + host, releasesStarted);
    }
    void iaxc_set_callerid(const std::string& name, const std::string& number) override {
        record("callerid [" + name + "] [" + number + "]");
    }
    void restartNetwork(bool keepCalls) override {
        record(keepCalls ? "restart network keeping calls" : "restart network ending calls");
    }
    int iaxc_call(const std::string& dialString) override {
        const int result = [&] {
            std::lock_guard guard(lock_);
            return callResult_.value_or(selected_ < 0 ? 0 : selected_);
        }();
        return record("call " + dialString, result);
    }
    int iaxc_call_on_line(const std::string& dialString, int callNo) override {
        {
            std::lock_guard guard(lock_);
            selected_ = callNo;
        }
        return record("call_on_line " + std::to_string(callNo) + " " + dialString, callNo);
    }
    int iaxc_select_call(int callNo) override {
        if (callNo < 0 || callNo > 2) return record("select " + std::to_string(callNo), -1);
        {
            std::lock_guard guard(lock_);
            selected_ = callNo;
        }
        return record("select " + std::to_string(callNo));
    }
    int iaxc_selected_call() override {
        std::lock_guard guard(lock_);
        return selected_;
    }
    void iaxc_dump_call() override { record("dump " + std::to_string(iaxc_selected_call())); }
    void iaxc_dump_all_calls() override { record("dump all"); }
    void iaxc_send_dtmf(char digit) override { record(std::string("dtmf ") + digit); }
    int iaxc_quelch(int callNo, int musicOnHold) override {
        return record("quelch " + std::to_string(callNo) + " " + std::to_string(musicOnHold));
    }
    int iaxc_unquelch(int callNo) override { return record("unquelch " + std::to_string(callNo)); }
    void iaxc_set_codec(int format) override { record("codec " + std::to_string(format)); }
    int iaxc_set_call_tag(int callNo, const std::string& tag) override {
        if (callNo < 0 || callNo > 2) return -1;
        std::lock_guard guard(lock_);
        tags_[callNo] = tag.substr(0, 255);
        return 0;
    }
    std::optional<std::string> iaxc_get_call_tag(int callNo) override {
        if (callNo < 0 || callNo > 2) return std::nullopt;
        std::lock_guard guard(lock_);
        return tags_[callNo];
    }
    void startRingTone() override { record("ring on"); }
    void stopRingTone() override { record("ring off"); }
    void setRecorderTap(RecorderTap) override { record("recorder tap"); }

private:
    int record(const std::string& operation, int result = 0) {
        std::lock_guard guard(lock_);
        if (!throwOn_.empty() && operation.rfind(throwOn_, 0) == 0)
            throw std::runtime_error("scripted failure of " + operation);
        operations_.push_back(operation);
        return result;
    }

    mutable std::mutex lock_;
    std::vector<std::string> operations_;
    EventCallback callback_;
    std::map<int, std::string> tags_;
    std::string throwOn_;
    std::optional<int> callResult_;
    int selected_ = -1;
};
