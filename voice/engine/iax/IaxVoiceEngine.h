#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "voice/engine/VoiceEngine.h"
#include "voice/engine/iax/CodecPolicy.h"
#include "voice/engine/iax/DialogTable.h"
#include "voice/engine/iax/FrameRouter.h"
#include "voice/engine/iax/Lines.h"
#include "voice/engine/iax/LogThrottle.h"
#include "voice/engine/iax/Outbox.h"
#include "voice/engine/iax/Registrations.h"
#include "voice/engine/iax/UdpSocket.h"
#include "voice/engine/media/Codec.h"
#include "voice/engine/media/MediaEngine.h"

struct IaxEngineConfig {
    std::string bindAddress = "0.0.0.0";
    int port = iax::kDefaultPort;  // an ephemeral port is used when it is taken
    // The formats the media side can encode and decode (supportedFormats() of the codecs).
    int supportedFormats = iax_format::Ulaw;
};

// The phone's IAX2 user agent over one UDP socket, with a MediaEngine for the audio.
//
// Threads: operations run on their callers' threads; the processing loop reads the network
// and runs the timers, sleeping until the next timer or datagram; the media engine's audio
// thread hands in encoded voice. All protocol
// state sits under one lock. Events and media work are queued under it and run after it is
// released, in order, by whichever thread is delivering, so the program's callback may call
// back into the engine.
class IaxVoiceEngine final : public VoiceEngine {
public:
    IaxVoiceEngine(IaxEngineConfig config, std::unique_ptr<MediaEngine> media);
    ~IaxVoiceEngine() override;
    IaxVoiceEngine(const IaxVoiceEngine&) = delete;
    IaxVoiceEngine& operator=(const IaxVoiceEngine&) = delete;

    // The UDP port in use, 0 before iaxc_initialize.
    int boundPort() const;

    int iaxc_initialize(int calls) override;
    void iaxc_set_event_callback(EventCallback callback) override;
    int iaxc_audio_devices_get(std::vector<AudioDevice>& devices, int& input, int& output, int& ring) override;
    int iaxc_audio_devices_set(int input, int output, int ring) override;
    int iaxc_start_processing_thread() override;
    int iaxc_stop_processing_thread() override;

    int iaxc_register(const std::string& user, const std::string& secret, const std::string& host) override;
    int iaxc_unregister_user(const std::string& user, const std::string& secret, const std::string& host) override;
    void iaxc_set_callerid(const std::string& name, const std::string& number) override;
    void restartNetwork(bool keepCalls) override;

    int iaxc_call(const std::string& dialString) override;
    int iaxc_call_on_line(const std::string& dialString, int callNo) override;
    int iaxc_select_call(int callNo) override;
    int iaxc_selected_call() override;
    void iaxc_dump_call() override;
    void iaxc_dump_all_calls() override;
    void iaxc_send_dtmf(char digit) override;
    int iaxc_quelch(int callNo, int musicOnHold) override;
    int iaxc_unquelch(int callNo) override;
    void iaxc_set_codec(int format) override;
    int iaxc_set_call_tag(int callNo, const std::string& tag) override;
    std::optional<std::string> iaxc_get_call_tag(int callNo) override;

    void startRingTone() override;
    void stopRingTone() override;
    void setRecorderTap(RecorderTap tap) override;

private:
    // Runs `work` on the protocol state under the lock, then delivers what it queued.
    template <class Work>
    auto locked(Work&& work);
    // `callNo` is -1 for any idle line.
    int dial(const std::string& dialString, int callNo);
    void runLoop();
    // An operation may have brought a timer before the loop's wake-up: wake it. Under the lock.
    void wakeLoopIfDueSooner();
    void readNetwork(iax::Clock::time_point now);
    // A restart asked for by restartNetwork(). Under the lock, on the loop.
    void restartNetworkNow(iax::Clock::time_point now);
    void deliver();
    void run(iax::Outbox::Item& item);

    const IaxEngineConfig config_;
    std::unique_ptr<MediaEngine> media_;

    mutable std::mutex lock_;  // everything below up to the delivery lock
    bool initializeTried_ = false;
    bool initialized_ = false;
    UdpSocket socket_;
    iax::Outbox outbox_;
    iax::LogThrottle throttle_;
    iax::DialogTable dialogs_;
    iax::CodecPolicy codecs_;
    iax::Registrations registrations_;
    iax::Lines lines_;
    iax::FrameRouter router_;
    std::optional<iax::Clock::time_point> sleepUntil_;  // the loop's next wake-up; none: a datagram's
    enum class NetworkRestart { None, KeepCalls, DropCalls };
    NetworkRestart networkRestart_ = NetworkRestart::None;  // asked for, done by the loop

    std::mutex deliveryLock_;  // one thread delivers at a time
    std::mutex callbackLock_;
    EventCallback callback_;

    std::mutex loopLock_;  // starts of the loop
    std::thread loop_;
    std::atomic<std::thread::id> loopThread_{};
    std::atomic<bool> stopRequested_{false};
};
