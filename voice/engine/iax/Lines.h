#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "voice/engine/iax/CodecPolicy.h"
#include "voice/engine/iax/DialogTable.h"
#include "voice/engine/iax/IaxDialString.h"
#include "voice/engine/iax/IaxElements.h"
#include "voice/engine/iax/LogThrottle.h"
#include "voice/engine/iax/Outbox.h"
#include "voice/engine/iax/Registrations.h"

namespace iax {

// The phone's lines (call numbers 0..count-1) and the call each carries: placing and taking
// calls, selection, hang-up, hold by quelch, DTMF, voice frames, and the state events.
class Lines {
public:
    Lines(DialogTable& dialogs, DatagramSender& out, Outbox& outbox, const Registrations& registrations,
          CodecPolicy& codecs, LogThrottle& throttle);

    void setCount(int count);
    int count() const { return static_cast<int>(calls_.size()); }

    // The selected line when it is idle, else the first idle line; -1 when all are busy.
    int idleLine() const;
    // Dials on `line`, which must be idle, and selects it; the line or -1.
    int place(int line, const DialString& dial, const std::string& dialText, const PeerAddress& peer,
              Clock::time_point now);
    int select(int line, Clock::time_point now);
    int selected() const { return selected_; }
    void hangUp(int line, Clock::time_point now);
    void sendDtmf(char digit, Clock::time_point now);
    int quelch(int line, bool musicOnHold, Clock::time_point now);
    int unquelch(int line, Clock::time_point now);
    void setCallerId(const std::string& name, const std::string& number);
    int setTag(int line, const std::string& tag);
    std::optional<std::string> tag(int line) const;
    // Encoded audio the media side produced for a line, sent as a mini frame or a full voice frame.
    void sendVoice(int line, std::uint32_t mediaTimestamp, std::span<const std::uint8_t> payload,
                   Clock::time_point now);

    // From the router: a NEW on a fresh dialog that nobody owns yet.
    void offer(Dialog& dialog, const ElementList& elements, Clock::time_point now);
    // A frame of a line's dialog, in order and acknowledged; `elements` are those of an IAX
    // frame. False when it is not one a call takes.
    bool handle(Dialog& dialog, const FullFrame& frame, const ElementList& elements, Clock::time_point now);
    void callToken(Dialog& dialog, const std::string& token, Clock::time_point now);
    void receiveMini(const Dialog& dialog, const MiniFrame& frame);
    // The peer stopped answering or no longer knows the call; the caller forgets the dialog.
    void lost(Dialog& dialog, Clock::time_point now);
    // The network path of every call is gone: each call ends here as one whose peer stopped
    // answering would, without a HANGUP that could no longer arrive.
    void abandonAll(Clock::time_point now);
    // Keep-alive PINGs that are due.
    void ping(Clock::time_point now);
    // When the next keep-alive is due.
    std::optional<Clock::time_point> nextDue() const;

private:
    struct Call {
        int bits = 0;  // VoiceEvent state bits without Selected
        std::uint16_t dialog = 0;
        bool incoming = false;
        std::string remote;      // outgoing: the extension called; incoming: the caller's number
        std::string remoteName;
        std::string local;       // the caller-id name
        // Outgoing: the rest of what the NEW carries, kept to send it again with a call token.
        std::string user;
        std::string secret;
        std::string callerNumber;
        int tokenRounds = 0;
        int format = 0;
        bool channelOpen = false;
        bool quelched = false;
        std::uint32_t mediaStart = 0;      // the call's clock when its audio started
        std::uint32_t lastVoiceSent = 0;
        int voiceFormatSent = 0;           // format of the last full voice frame, 0 before the first
        std::uint32_t lastVoiceHeard = 0;
        Clock::time_point nextPing;
    };
    bool valid(int line) const { return line >= 0 && line < count(); }
    int firstIdleLine() const;
    // The dialog of a line whose peer has named its call, or nullptr.
    Dialog* session(int line);
    void postState(int line);
    void setBits(int line, int bits);
    void sendNew(const Call& call, Dialog& dialog, const std::string& token, Clock::time_point now);
    void answer(int line, Dialog& dialog, Clock::time_point now);
    // The call is answered: its audio starts.
    void connect(int line, Dialog& dialog, Clock::time_point now);
    void openChannel(int line, Dialog& dialog, Clock::time_point now);
    void onAccept(int line, Dialog& dialog, const ElementList& elements, Clock::time_point now);
    void onAuthRequest(int line, Dialog& dialog, const ElementList& elements, Clock::time_point now);
    void onVoice(int line, const FullFrame& frame, Clock::time_point now);
    void deliverVoice(int line, std::uint32_t timestamp, std::span<const std::uint8_t> payload);
    // Ends a call from this side: HANGUP with `cause`, or, before the peer named its call, a
    // HANGUP as soon as it does.
    void endLocally(int line, const std::string& cause, Clock::time_point now);
    void clear(int line);

    DialogTable& dialogs_;
    DatagramSender& out_;
    Outbox& outbox_;
    const Registrations& registrations_;
    CodecPolicy& codecs_;
    LogThrottle& throttle_;
    std::vector<Call> calls_;
    std::vector<std::string> tags_;  // outlive the calls: the program reads a line's tag after it went down
    int selected_ = -1;
    std::string callerName_;
    std::string callerNumber_ = "1000";
};

// HANGUP or REJECT elements: the cause text and its Q.931 code.
std::vector<std::uint8_t> causeElements(const std::string& cause, std::uint8_t code);

}  // namespace iax
