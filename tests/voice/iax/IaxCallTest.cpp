#include <atomic>
#include <stdexcept>

#include "support/LogCapture.h"
#include "voice/iax/IaxEngineFixture.h"

using namespace std::chrono_literals;

namespace {
constexpr int kRinging = VoiceEvent::Active | VoiceEvent::Ringing;
const Bytes kBlock(160, 0x55);

Bytes incomingNew(const std::string& number, int format, int capability) {
    using Peer = ScriptedIaxPeer;
    return Peer::join(Peer::element16(11, 2), Peer::element(Peer::CallingNumber, number),
                      Peer::element(Peer::CallingName, "Customer"), Peer::element(Peer::CalledNumber, "1001"),
                      Peer::element32(Peer::Format, format), Peer::element32(Peer::Capability, capability));
}
}  // namespace

// The agent side failing on one event costs that event only: the loop goes on with the call.
TEST_F(IaxEngineTest, AnEventTheAgentSideFailsOnIsLoggedAndTheLoopGoesOn) {
    LogCapture log;
    std::atomic<bool> failed{false};
    engine_->iaxc_set_event_callback([this, &failed](const VoiceEvent& event) {
        if (!failed.exchange(true)) throw std::runtime_error("agent side failed");
        events_.add(event);
    });
    placeAnsweredCall(0);
    EXPECT_TRUE(log.contains("Unhandled exception in IaxVoiceEngine::deliver: agent side failed"));
    EXPECT_EQ(log.levelOf("Unhandled exception in IaxVoiceEngine::deliver: agent side failed"), "ERROR");
}

TEST_F(IaxEngineTest, CallsOnEachLineRingAnswerAndEndFromEitherSide) {
    engine_->iaxc_set_callerid("Agent", "1001");
    std::uint16_t calls[3];
    for (int line = 0; line < 3; ++line) {
        const std::uint16_t call = calls[line] = placeAcceptedCall(line);
        const VoiceEvent placed = events_.all().back();
        EXPECT_EQ(placed.remote, "ZQ1001");
        EXPECT_EQ(placed.remoteName, dialString("ZQ1001"));
        EXPECT_EQ(placed.local, "Agent");
        EXPECT_EQ(placed.localContext, "default");
        EXPECT_EQ(engine_->iaxc_selected_call(), line);
        peer_.sendOn(call, Peer::Control, Peer::Ringing);
        if (line == 2) {  // refused while ringing
            peer_.sendOn(call, Peer::Iax, Peer::Reject, Peer::element(Peer::Cause, "No such context/extension"));
            ASSERT_TRUE(events_.waitFor(EventLog::state(line, 0)));
            EXPECT_EQ(media_->count("open 2 4"), 0);
            continue;
        }
        peer_.sendOn(call, Peer::Control, Peer::Answer);
        ASSERT_TRUE(events_.waitFor(EventLog::state(line, kActiveOutgoing | VoiceEvent::Complete | kSelected)));
        EXPECT_TRUE(waitForMedia("open " + std::to_string(line) + " 4"));
    }
    // Line 1 (call 0) is hung up by the switch, line 2 (call 1) by the agent.
    EXPECT_EQ(engine_->iaxc_select_call(1), 0);
    peer_.forgetReceived();
    engine_->iaxc_dump_call();
    const auto hangup = peer_.expect(Peer::Iax, Peer::Hangup);
    ASSERT_TRUE(hangup);
    EXPECT_EQ(hangup->text(Peer::Cause), "Dumped Call");
    EXPECT_TRUE(events_.waitFor(EventLog::state(1, 0)));
    EXPECT_TRUE(waitForMedia("close 1"));

    peer_.sendOn(calls[0], Peer::Iax, Peer::Hangup, Peer::element(Peer::Cause, "Normal Clearing"));
    ASSERT_TRUE(events_.waitFor(EventLog::state(0, 0)));
    EXPECT_TRUE(waitForMedia("close 0"));
    EXPECT_TRUE(peer_.expect(Peer::Iax, Peer::Ack));
}

TEST_F(IaxEngineTest, DialPicksTheSelectedIdleLineElseTheFirstIdleAndFailsWhenAllAreBusy) {
    EXPECT_EQ(engine_->iaxc_selected_call(), -1);
    EXPECT_EQ(engine_->iaxc_select_call(2), 0);
    EXPECT_EQ(engine_->iaxc_select_call(3), -1);
    EXPECT_EQ(engine_->iaxc_call(dialString("A")), 2);
    EXPECT_EQ(engine_->iaxc_call(dialString("B")), 0);  // the selected line 2 is busy now
    EXPECT_EQ(engine_->iaxc_call_on_line(dialString("C"), 0), -1);
    EXPECT_EQ(engine_->iaxc_call_on_line(dialString("C"), -1), -1);
    EXPECT_EQ(engine_->iaxc_call_on_line(dialString("C"), 1), 1);
    EXPECT_EQ(engine_->iaxc_call(dialString("D")), -1);
    EXPECT_EQ(engine_->iaxc_call("not a dial string@:x"), -1);
    EXPECT_TRUE(events_.waitFor(EventLog::state(2, kActiveOutgoing)));
    EXPECT_TRUE(events_.waitFor(EventLog::state(2, kActiveOutgoing | kSelected)));
    EXPECT_EQ(engine_->iaxc_selected_call(), 1);

    engine_->iaxc_dump_all_calls();
    for (int line = 0; line < 3; ++line) EXPECT_TRUE(events_.waitFor(EventLog::state(line, 0)));
    // Calls dropped before the switch named its call send no HANGUP, and no NEW is resent.
    std::this_thread::sleep_for(30ms);  // what was on its way before the drop
    peer_.forgetReceived();
    std::this_thread::sleep_for(150ms);
    for (const PeerFrame& frame : peer_.history()) EXPECT_FALSE(frame.is(Peer::Iax, Peer::New));
}

TEST_F(IaxEngineTest, IncomingCallRingsIsAnsweredBySelectingAndBusyOrCodeclessCallsAreRefused) {
    const std::uint16_t call = peer_.originate(incomingNew("5551234", iax_format::Gsm, iax_format::Gsm | iax_format::Ulaw));
    const auto accept = peer_.expect(Peer::Iax, Peer::Accept);
    ASSERT_TRUE(accept);
    EXPECT_EQ(accept->number(Peer::Format), static_cast<std::uint32_t>(iax_format::Gsm));
    ASSERT_TRUE(peer_.expect(Peer::Control, Peer::Ringing));
    ASSERT_TRUE(events_.waitFor(EventLog::state(0, kRinging)));
    ASSERT_TRUE(events_.waitFor(EventLog::result(VoiceEvent::IncomingCall, "5551234")));
    ASSERT_TRUE(events_.waitFor([](const VoiceEvent& e) {
        return e.type == VoiceEvent::Text && e.message == "Incoming call on line 1" && e.callNo == 0;
    }));
    const auto all = events_.all();
    const auto ringing = std::find_if(all.begin(), all.end(), EventLog::state(0, kRinging));
    EXPECT_EQ(ringing->remote, "5551234");
    EXPECT_EQ(ringing->remoteName, "Customer");

    EXPECT_EQ(engine_->iaxc_select_call(0), 0);
    ASSERT_TRUE(peer_.expect(Peer::Control, Peer::Answer));
    EXPECT_TRUE(events_.waitFor(EventLog::state(0, VoiceEvent::Active | VoiceEvent::Complete | kSelected)));
    EXPECT_TRUE(waitForMedia("open 0 2"));

    peer_.originate(incomingNew("2", iax_format::Ilbc, iax_format::Ilbc));  // no codec in common
    auto reject = peer_.expect(Peer::Iax, Peer::Reject);
    ASSERT_TRUE(reject);
    EXPECT_EQ(reject->text(Peer::Cause), "Unable to negotiate codec");
    peer_.originate(incomingNew("3", iax_format::Ulaw, iax_format::Ulaw));
    peer_.originate(incomingNew("4", iax_format::Ulaw, iax_format::Ulaw));
    ASSERT_TRUE(events_.waitFor(EventLog::state(2, kRinging)));
    peer_.originate(incomingNew("5", iax_format::Ulaw, iax_format::Ulaw));
    reject = peer_.expect(Peer::Iax, Peer::Reject);
    ASSERT_TRUE(reject);
    EXPECT_EQ(reject->text(Peer::Cause), "User busy");

    peer_.sendOn(call, Peer::Iax, Peer::Hangup);
    EXPECT_TRUE(events_.waitFor(EventLog::state(0, 0)));
}

TEST_F(IaxEngineTest, HoldQuelchesTheCallBothWaysWithOrWithoutMusicOnHold) {
    EXPECT_EQ(engine_->iaxc_quelch(0, 1), -1);  // no call
    EXPECT_EQ(engine_->iaxc_unquelch(0), -1);
    const std::uint16_t call = placeAnsweredCall(0);
    ASSERT_EQ(engine_->iaxc_quelch(0, 1), 0);
    auto quelch = peer_.expect(Peer::Iax, Peer::Quelch);
    ASSERT_TRUE(quelch);
    EXPECT_TRUE(quelch->has(Peer::MusicOnHold));
    EXPECT_TRUE(waitForMedia("quelch 0 1"));
    peer_.forgetReceived();
    media_->produce(0, 0, kBlock);  // a quelched call sends nothing
    EXPECT_FALSE(peer_.expect(Peer::Voice, 4, 100ms));

    ASSERT_EQ(engine_->iaxc_unquelch(0), 0);
    ASSERT_TRUE(peer_.expect(Peer::Iax, Peer::Unquelch));
    EXPECT_TRUE(waitForMedia("quelch 0 0"));
    ASSERT_EQ(engine_->iaxc_quelch(0, 0), 0);
    quelch = peer_.expect(Peer::Iax, Peer::Quelch);
    ASSERT_TRUE(quelch);
    EXPECT_FALSE(quelch->has(Peer::MusicOnHold));
    peer_.sendOn(call, Peer::Iax, Peer::Hangup);
}

TEST_F(IaxEngineTest, DtmfGoesOnTheSelectedActiveCall) {
    engine_->iaxc_send_dtmf('5');  // nothing selected
    placeAnsweredCall(1);
    engine_->iaxc_send_dtmf('#');
    engine_->iaxc_send_dtmf('x');  // not a digit
    engine_->iaxc_send_dtmf('7');
    ASSERT_TRUE(peer_.expect(Peer::Dtmf, '#'));
    ASSERT_TRUE(peer_.expect(Peer::Dtmf, '7'));
    int digits = 0;
    for (const PeerFrame& frame : peer_.history()) digits += frame.full && frame.type == Peer::Dtmf && !frame.retransmitted;
    EXPECT_EQ(digits, 2);
}

TEST_F(IaxEngineTest, VoiceGoesOutInMiniFramesAfterAFullOneAndReceivedVoiceReachesTheMediaSide) {
    const std::uint16_t call = placeAnsweredCall(0);
    media_->produce(0, 0, kBlock);
    const auto first = peer_.expect(Peer::Voice, 4);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->payload, kBlock);
    media_->produce(0, 20, kBlock);
    const auto mini = peer_.expectMini();
    ASSERT_TRUE(mini);
    EXPECT_EQ(mini->timestamp, (first->timestamp + 20) & 0xFFFF);
    EXPECT_EQ(mini->source, first->source);
    // Crossing a 16-bit boundary of the timestamp takes a full frame again.
    media_->produce(0, 0x10000 - (first->timestamp & 0xFFFF) + 5, kBlock);
    const auto wrapped = peer_.expect(Peer::Voice, 4);
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(wrapped->timestamp >> 16, 1u);

    peer_.sendAt(call, 0x1FFE0, Peer::Voice, 4, Bytes(160, 0xFF));
    ASSERT_TRUE(waitForMedia("voice 0 131040 160"));
    peer_.sendMini(call, 0xFFF0, Bytes(160, 1));
    peer_.sendMini(call, 0x0010, Bytes(160, 1));  // the 16 bits wrapped
    peer_.sendMini(4242, 0, Bytes(160, 1));       // an unknown call's voice is dropped
    ASSERT_TRUE(waitForMedia("voice 0 131088 160"));
    EXPECT_EQ(media_->count("voice 0 131056 160"), 1);
}
