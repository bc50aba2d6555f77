#include "app/VoiceEngineFactory.h"

#include <iostream>

#include "infra/CLogger.h"

namespace {

// The IAX2 engine is not part of this build yet: every operation fails, so the phone
// shows "Audio device error." and logs in no further than the switch registration.
class MissingVoiceEngine : public VoiceEngine {
public:
    int iaxc_initialize(int) override {
        logMessage(LogLevel::Error, "The voice engine is not built yet");
        std::cout << "The voice engine is not built yet: the phone stops at the switch registration." << std::endl;
        return -1;
    }
    void iaxc_set_event_callback(EventCallback) override {}
    int iaxc_audio_devices_get(std::vector<AudioDevice>& devices, int& input, int& output, int& ring) override {
        devices.clear();
        input = output = ring = -1;
        return -1;
    }
    int iaxc_audio_devices_set(int, int, int) override { return -1; }
    int iaxc_start_processing_thread() override { return -1; }
    int iaxc_stop_processing_thread() override { return -1; }
    int iaxc_register(const std::string&, const std::string&, const std::string&) override { return -1; }
    int iaxc_unregister_user(const std::string&, const std::string&, const std::string&) override { return -1; }
    void iaxc_set_callerid(const std::string&, const std::string&) override {}
    int iaxc_call(const std::string&) override { return -1; }
    int iaxc_call_on_line(const std::string&, int) override { return -1; }
    int iaxc_select_call(int) override { return -1; }
    int iaxc_selected_call() override { return -1; }
    void iaxc_dump_call() override {}
    void iaxc_dump_all_calls() override {}
    void iaxc_send_dtmf(char) override {}
    int iaxc_quelch(int, int) override { return -1; }
    int iaxc_unquelch(int) override { return -1; }
    void iaxc_set_codec(int) override {}
    int iaxc_set_call_tag(int, const std::string&) override { return -1; }
    std::optional<std::string> iaxc_get_call_tag(int) override { return std::nullopt; }
    void startRingTone() override {}
    void stopRingTone() override {}
    void setRecorderTap(RecorderTap) override {}
};

}  // namespace

std::unique_ptr<VoiceEngine> makeVoiceEngine() { return std::make_unique<MissingVoiceEngine>(); }
