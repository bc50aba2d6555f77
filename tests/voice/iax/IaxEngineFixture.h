#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "infra/Timing.h"
#include "voice/engine/iax/IaxVoiceEngine.h"
#include "voice/iax/FakeMediaEngine.h"
#include "voice/iax/ScriptedIaxPeer.h"

// The events the engine delivered, waited on by the tests.
class EventLog {
public:
    using Match = std::function<bool(const VoiceEvent&)>;

    void add(const VoiceEvent& event) {
        std::lock_guard guard(lock_);
        events_.push_back(event);
        changed_.notify_all();
    }
    // Waits until `times` events match.
    bool waitFor(const Match& match, int times = 1, std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, timeout, [&] {
            return std::count_if(events_.begin(), events_.end(), match) >= times;
        });
    }
    int count(const Match& match) const {
        std::lock_guard guard(lock_);
        return static_cast<int>(std::count_if(events_.begin(), events_.end(), match));
    }
    // The latest state bits posted for a call, -1 before any.
    int lastState(int callNo) const {
        std::lock_guard guard(lock_);
        for (auto e = events_.rbegin(); e != events_.rend(); ++e)
            if (e->type == VoiceEvent::State && e->callNo == callNo) return e->state;
        return -1;
    }
    std::vector<VoiceEvent> all() const {
        std::lock_guard guard(lock_);
        return events_;
    }

    static Match state(int callNo, int bits) {
        return [=](const VoiceEvent& e) { return e.type == VoiceEvent::State && e.callNo == callNo && e.state == bits; };
    }
    static Match result(int code, const std::string& message = "") {
        return [=](const VoiceEvent& e) { return e.type == VoiceEvent::Result && e.resultCode == code && e.message == message; };
    }

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<VoiceEvent> events_;
};

inline std::string md5Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

// An engine on 127.0.0.1 with three lines, the fake media side, its processing loop running,
// and a scripted switch. Intervals run at 1/20 (a 10 s give-up takes 500 ms).
class IaxEngineTest : public ::testing::Test {
protected:
    using Peer = ScriptedIaxPeer;
    static constexpr int kActiveOutgoing = VoiceEvent::Active | VoiceEvent::Outgoing;
    static constexpr int kSelected = VoiceEvent::Selected;

    void SetUp() override {
        Timing::setScale(scale());
        auto media = std::make_unique<FakeMediaEngine>();
        media_ = media.get();
        const int supported = iax_format::Ulaw | iax_format::Alaw | iax_format::Gsm | iax_format::Speex;
        engine_ = std::make_unique<IaxVoiceEngine>(IaxEngineConfig{"127.0.0.1", 0, supported}, std::move(media));
        // Like the program's callback, this one calls back into the engine.
        engine_->iaxc_set_event_callback([this, engine = engine_.get()](const VoiceEvent& event) {
            engine->iaxc_get_call_tag(event.callNo);
            events_.add(event);
        });
        ASSERT_EQ(engine_->iaxc_initialize(3), 0);
        peer_.setEnginePort(engine_->boundPort());
        ASSERT_EQ(engine_->iaxc_start_processing_thread(), 0);
    }
    void TearDown() override {
        engine_.reset();
        Timing::setScale(1.0);
    }
    virtual double scale() const { return 0.05; }

    std::string dialString(const std::string& extension, const std::string& credentials = "1001:pw1001") const {
        return credentials + "@" + peer_.hostPort() + "/" + extension;
    }

    // Registers 1001 through the call-token round and the MD5 challenge.
    void registerAccepted(std::uint16_t refreshSeconds = 60) {
        ASSERT_GT(engine_->iaxc_register("1001", "pw1001", peer_.hostPort()), 0);
        auto request = peer_.expect(Peer::Iax, Peer::RegReq);
        ASSERT_TRUE(request);
        EXPECT_TRUE(request->has(Peer::CallTokenElement));
        EXPECT_EQ(request->text(Peer::CallTokenElement), "");
        peer_.replyStateless(*request, Peer::Iax, Peer::CallToken, Peer::element(Peer::CallTokenElement, "token-1"));
        request = peer_.expect(Peer::Iax, Peer::RegReq);
        ASSERT_TRUE(request);
        EXPECT_EQ(request->text(Peer::CallTokenElement), "token-1");
        EXPECT_EQ(request->oseq, 0);
        peer_.reply(*request, Peer::Iax, Peer::RegAuth,
                    Peer::join(Peer::element16(Peer::AuthMethods, 2), Peer::element(Peer::Challenge, "424242"),
                               Peer::element(Peer::Username, "1001")));
        request = peer_.expect(Peer::Iax, Peer::RegReq);
        ASSERT_TRUE(request);
        EXPECT_EQ(request->text(Peer::Md5Result), md5Hex("424242pw1001"));
        EXPECT_EQ(request->text(Peer::Username), "1001");
        EXPECT_EQ(request->number(Peer::Refresh), 60u);
        peer_.reply(*request, Peer::Iax, Peer::RegAck,
                    Peer::join(Peer::element(Peer::Username, "1001"), Peer::element16(Peer::Refresh, refreshSeconds)));
        ASSERT_TRUE(events_.waitFor(EventLog::result(VoiceEvent::RegistrationAccepted, "Registration accepted")));
    }

    // Dials on `line` and lets the switch accept with `format`; this side's call number.
    std::uint16_t placeAcceptedCall(int line, int format = iax_format::Ulaw) {
        EXPECT_EQ(engine_->iaxc_call_on_line(dialString("ZQ1001"), line), line);
        const auto request = peer_.expect(Peer::Iax, Peer::New);
        EXPECT_TRUE(request);
        if (!request) return 0;
        const std::uint16_t call = peer_.reply(*request, Peer::Iax, Peer::Accept, Peer::element32(Peer::Format, format));
        EXPECT_TRUE(events_.waitFor(EventLog::state(line, kActiveOutgoing | VoiceEvent::Ringing | kSelected)));
        return call;
    }
    std::uint16_t placeAnsweredCall(int line, int format = iax_format::Ulaw) {
        const std::uint16_t call = placeAcceptedCall(line, format);
        peer_.sendOn(call, Peer::Control, Peer::Answer);
        EXPECT_TRUE(events_.waitFor(EventLog::state(line, kActiveOutgoing | VoiceEvent::Complete | kSelected)));
        return call;
    }
    bool waitForMedia(const std::string& operation) {
        for (int i = 0; i < 300; ++i) {
            if (media_->count(operation) > 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    ScriptedIaxPeer peer_;
    EventLog events_;
    FakeMediaEngine* media_ = nullptr;
    std::unique_ptr<IaxVoiceEngine> engine_;
};
