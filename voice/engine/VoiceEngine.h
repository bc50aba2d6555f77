#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// An audio device as the engine lists it.
struct AudioDevice {
    enum Capability : int { Capture = 1, Play = 2, Ring = 4 };
    std::string name;
    int capabilities = 0;  // Capability bits
    int id = 0;
};

// An event of the voice engine, delivered by value to the program's callback. Texts are at
// most 255 characters.
struct VoiceEvent {
    enum Type : int { Text = 1, Levels = 2, State = 3, Result = 100 };
    // Bits of a call's state.
    enum StateBit : int {
        Active = 2,
        Outgoing = 4,
        Ringing = 8,
        Complete = 0x10,
        Selected = 0x20,
        Busy = 0x40,
        Transfer = 0x80,
    };
    // Result codes.
    enum ResultCode : int {
        RegistrationAccepted = 1,
        RegistrationRejected = 2,
        IncomingCall = 3,
        RegistrationReleased = 4,  // a release is over: accepted, refused or unanswered
        AudioDeviceLost = 5,       // mid-call, the audio went over to the default devices; the message names the lost ones
        AudioDevicesChanged = 6,   // between calls, sound devices came or went; the message lists them
        TextReceived = 257,
        UnhandledNoCall = 258,
        UnhandledOnCall = 259,
    };

    int type = 0;
    int callNo = -1;         // Text, State, Result (-1 when no call)
    int textKind = 0;        // Text
    std::string message;     // Text, Result
    float inputLevel = 0;    // Levels, dB
    float outputLevel = 0;   // Levels, dB
    int state = 0;           // State: StateBit bits
    std::string remote;      // State
    std::string remoteName;  // State
    std::string local;       // State
    std::string localContext;  // State
    int resultCode = 0;      // Result
};

// The IAX2 user agent the phone drives: registration, three calls, hold, DTMF, audio devices,
// the ring tone and the recorder tap. Every operation may be called from any thread.
class VoiceEngine {
public:
    using EventCallback = std::function<void(const VoiceEvent& event)>;
    // Called on the audio thread once per audio block with the block's microphone and speaker
    // samples (8 kHz mono, 16-bit).
    using RecorderTap = std::function<void(const std::int16_t* microphone, const std::int16_t* speaker, int frames)>;

    virtual ~VoiceEngine() = default;

    // 0 on success; non-zero when the network or the audio could not be set up.
    virtual int iaxc_initialize(int calls) = 0;
    virtual void iaxc_set_event_callback(EventCallback callback) = 0;
    virtual int iaxc_audio_devices_get(std::vector<AudioDevice>& devices, int& input, int& output, int& ring) = 0;
    virtual int iaxc_audio_devices_set(int input, int output, int ring) = 0;
    // Starts the loop that reads the network as datagrams arrive, runs the protocol's timers
    // (resends, keep-alives, registration refreshes) and delivers events; 0 on success.
    // Stopping asks the loop to end and does not wait.
    virtual int iaxc_start_processing_thread() = 0;
    virtual int iaxc_stop_processing_thread() = 0;

    // Registers `user` at `host` ("name:port") with a 60 s refresh; the outcome arrives as a
    // result event. Returns a registration id, or -1. Once accepted, a registration whose
    // refresh fails is reported rejected and asked for again until it is accepted again.
    virtual int iaxc_register(const std::string& user, const std::string& secret, const std::string& host) = 0;
    // Releases every registration of `user` at `host` (port 4569 unless the host carries one);
    // each release ends with a RegistrationReleased result. How many releases went out, or -1.
    virtual int iaxc_unregister_user(const std::string& user, const std::string& secret, const std::string& host) = 0;
    virtual void iaxc_set_callerid(const std::string& name, const std::string& number) = 0;
    // The network changed under the engine (a new address, a new route, a wake from sleep): the
    // socket is opened again on its port and every registration is asked for again at once; an
    // accepted one reports its renewal as RegistrationAccepted, or its loss as RegistrationRejected.
    // Without `keepCalls` every call ends (state 0), as its path is gone. Done by the
    // processing loop, at once when it runs, else when it starts.
    virtual void restartNetwork(bool keepCalls) = 0;

    // Dials on the selected line if it is free, else on the first free line; the call number or -1.
    virtual int iaxc_call(const std::string& dialString) = 0;
    // Dials on exactly `callNo` and selects it; the call number or -1.
    virtual int iaxc_call_on_line(const std::string& dialString, int callNo) = 0;
    // Selects a line (answering it when it is an incoming call still ringing); 0, or -1 out of range.
    virtual int iaxc_select_call(int callNo) = 0;
    virtual int iaxc_selected_call() = 0;
    // Hangs up the selected call (cause "Dumped Call"), or every call.
    virtual void iaxc_dump_call() = 0;
    virtual void iaxc_dump_all_calls() = 0;
    virtual void iaxc_send_dtmf(char digit) = 0;
    // Stops the call's audio both ways (the switch plays music on hold when asked), and resumes it.
    virtual int iaxc_quelch(int callNo, int musicOnHold) = 0;
    virtual int iaxc_unquelch(int callNo) = 0;
    // One IAX2 format bit becomes the preferred and only allowed format.
    virtual void iaxc_set_codec(int format) = 0;
    // A text of up to 255 characters kept with each call; -1 / nothing for a number out of range.
    virtual int iaxc_set_call_tag(int callNo, const std::string& tag) = 0;
    virtual std::optional<std::string> iaxc_get_call_tag(int callNo) = 0;

    // The ring tone, looped on the ring device until stopped.
    virtual void startRingTone() = 0;
    virtual void stopRingTone() = 0;
    // Installs (or, with an empty function, removes) the recorder tap.
    virtual void setRecorderTap(RecorderTap tap) = 0;
};
