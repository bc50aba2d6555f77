#include "support/LogCapture.h"
#include "voice/iax/IaxEngineFixture.h"

using namespace std::chrono_literals;

TEST_F(IaxEngineTest, EachCodecIsTheOnlyOneOfferedAndIlbcFallsBackToUlawInItsBlockSize) {
    const std::pair<int, std::uint8_t> codecs[] = {{iax_format::Ulaw, 4}, {iax_format::Alaw, 8},
                                                   {iax_format::Gsm, 2}, {iax_format::Speex, 0x89}};
    for (const auto& [format, wireSubclass] : codecs) {
        engine_->iaxc_set_codec(format);
        ASSERT_EQ(engine_->iaxc_call_on_line(dialString("X"), 0), 0);
        const auto request = peer_.expect(Peer::Iax, Peer::New);
        ASSERT_TRUE(request);
        EXPECT_EQ(request->number(Peer::Format), static_cast<std::uint32_t>(format));
        EXPECT_EQ(request->number(Peer::Capability), static_cast<std::uint32_t>(format));
        const std::uint16_t call = peer_.reply(*request, Peer::Iax, Peer::Accept, Peer::element32(Peer::Format, format));
        peer_.sendOn(call, Peer::Control, Peer::Answer);
        EXPECT_TRUE(waitForMedia("open 0 " + std::to_string(format)));
        media_->produce(0, 0, Bytes(20, 1));
        EXPECT_TRUE(peer_.expect(Peer::Voice, wireSubclass)) << format;
        engine_->iaxc_dump_call();
        ASSERT_TRUE(peer_.expect(Peer::Iax, Peer::Hangup));
    }
    EXPECT_EQ(media_->count("samples 160"), 4);

    engine_->iaxc_set_codec(iax_format::Ilbc);
    EXPECT_TRUE(waitForMedia("samples 240"));
    ASSERT_EQ(engine_->iaxc_call_on_line(dialString("X"), 0), 0);
    const auto request = peer_.expect(Peer::Iax, Peer::New);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->number(Peer::Format), static_cast<std::uint32_t>(iax_format::Ulaw));
    // A switch that insists on a format never offered loses the call.
    peer_.reply(*request, Peer::Iax, Peer::Accept, Peer::element32(Peer::Format, iax_format::Gsm));
    EXPECT_TRUE(peer_.expect(Peer::Iax, Peer::Hangup));
    EXPECT_TRUE(events_.waitFor(EventLog::state(0, 0)));
}

TEST_F(IaxEngineTest, PingLagAndPokeAreAnsweredWithTheirOwnTimestamps) {
    const std::uint16_t call = placeAnsweredCall(0);
    peer_.sendAt(call, 5000, Peer::Iax, Peer::Ping);
    const auto pong = peer_.expect(Peer::Iax, Peer::Pong);
    ASSERT_TRUE(pong);
    EXPECT_EQ(pong->timestamp, 5000u);
    peer_.sendAt(call, 6000, Peer::Iax, Peer::LagRq);
    const auto lag = peer_.expect(Peer::Iax, Peer::LagRp);
    ASSERT_TRUE(lag);
    EXPECT_EQ(lag->timestamp, 6000u);

    peer_.sendRaw(Peer::encode(555, 0, 1234, 0, 0, Peer::Iax, Peer::Poke, Peer::element(Peer::CallTokenElement, "")));
    const auto poked = peer_.expect(Peer::Iax, Peer::Pong);
    ASSERT_TRUE(poked);
    EXPECT_EQ(poked->destination, 555);
    EXPECT_EQ(poked->timestamp, 1234u);
    EXPECT_EQ(poked->iseq, 1);
}

TEST_F(IaxEngineTest, TextAndUnhandledFramesBecomeResultEvents) {
    const std::uint16_t call = placeAnsweredCall(0);
    const std::string text = "hello agent";
    peer_.sendOn(call, Peer::Text, 0, Bytes(text.begin(), text.end()));
    EXPECT_TRUE(events_.waitFor(EventLog::result(VoiceEvent::TextReceived, text)));
    peer_.sendOn(call, Peer::Control, 0xFF);  // "stop sounds"
    EXPECT_TRUE(events_.waitFor([](const VoiceEvent& e) {
        return e.type == VoiceEvent::Result && e.resultCode == VoiceEvent::UnhandledOnCall && e.callNo == 0;
    }));
    peer_.sendRaw(Peer::encode(600, 0, 1, 0, 0, Peer::Iax, Peer::RegReq, Peer::element(Peer::Username, "x")));
    EXPECT_TRUE(events_.waitFor(EventLog::result(VoiceEvent::UnhandledNoCall)));
}

TEST_F(IaxEngineTest, AudioDevicesThatComeAndGoBecomeResultEvents) {
    media_->tellDevices(MediaEngine::DeviceChange::Lost, "input [Plantronics] output [Plantronics]");
    EXPECT_TRUE(events_.waitFor(EventLog::result(VoiceEvent::AudioDeviceLost, "input [Plantronics] output [Plantronics]")));
    media_->tellDevices(MediaEngine::DeviceChange::ListChanged, "2 devices: default, Plantronics");
    EXPECT_TRUE(events_.waitFor(EventLog::result(VoiceEvent::AudioDevicesChanged, "2 devices: default, Plantronics")));
}

// A peer floods the port with frames for no call, frames no call takes and garbage: each kind
// costs at most a line and an event a second, and the engine keeps answering.
TEST_F(IaxEngineTest, AFloodOfDatagramsCostsAFewLogLinesAndEventsASecond) {
    const std::uint16_t call = placeAnsweredCall(0);
    LogCapture log;
    const std::size_t eventsBefore = events_.all().size();
    const auto start = std::chrono::steady_clock::now();
    constexpr int kEachKind = 3000;
    for (int i = 0; i < kEachKind; ++i) {
        peer_.sendRaw(Peer::encode(static_cast<std::uint16_t>(600 + i % 100), 0, 1, 0, 0, Peer::Iax, Peer::RegReq,
                                   Peer::element(Peer::Username, "x")));
        peer_.sendOn(call, Peer::Control, 0xFF);
        peer_.sendRaw({0x80, 1});
    }
    // A POKE answered proves the flood before it was read (the kernel may have dropped some).
    bool answered = false;
    for (int attempt = 0; attempt < 50 && !answered; ++attempt) {
        peer_.sendRaw(Peer::encode(999, 0, 5, 0, 0, Peer::Iax, Peer::Poke, Peer::element(Peer::CallTokenElement, "")));
        answered =
            peer_.next([](const PeerFrame& f) { return f.is(Peer::Iax, Peer::Pong) && f.destination == 999; }, 200ms)
                .has_value();
    }
    ASSERT_TRUE(answered);
    const double windows = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() + 1;
    const auto events = events_.all();
    const auto resultsOf = [&](int code) {
        return std::count_if(
            events.begin() + static_cast<std::ptrdiff_t>(eventsBefore), events.end(),
            [code](const VoiceEvent& e) { return e.type == VoiceEvent::Result && e.resultCode == code; });
    };
    EXPECT_GE(resultsOf(VoiceEvent::UnhandledNoCall), 1);
    EXPECT_LE(resultsOf(VoiceEvent::UnhandledNoCall), windows);
    EXPECT_GE(resultsOf(VoiceEvent::UnhandledOnCall), 1);
    EXPECT_LE(resultsOf(VoiceEvent::UnhandledOnCall), windows);
    EXPECT_LE(static_cast<double>(log.lines().size()), 3 * windows + 2) << log.lines().size() << " lines";
    EXPECT_EQ(events_.lastState(0), kActiveOutgoing | VoiceEvent::Complete | kSelected);
}

TEST_F(IaxEngineTest, GarbageReplaysAndGapsAreSurvivedAndTheCallGoesOn) {
    const std::uint16_t call = placeAnsweredCall(0);
    const std::uint16_t engineCall = peer_.engineCall(call);
    peer_.forgetReceived();
    peer_.sendRaw({0x80});
    peer_.sendRaw({0x80, 1, 0, 5, 0, 0});
    peer_.sendRaw(Bytes(5000, 0xAB));
    peer_.sendRaw({0, 0, 0x80, 1, 0, 0, 0, 0});  // a meta frame
    peer_.sendRaw(Peer::encode(call, engineCall, 9, 0, 0, Peer::Iax, Peer::New, {Peer::CalledNumber, 40, 'x'}));
    peer_.sendRaw(Peer::encode(call, 31000, 9, 0, 0, Peer::Control, Peer::Answer));  // an unknown call
    peer_.sendRaw(Peer::encode(call + 7, engineCall, 9, 5, 0, Peer::Iax, Peer::Hangup));  // not this call's peer
    for (int i = 0; i < 200; ++i) peer_.sendRaw(Bytes{static_cast<std::uint8_t>(i | 0x80), 3, 9, 9, 9, 9, 9, 9, 9, 9, 6, 5});

    // A replay of the ACCEPT (its number is behind) is acknowledged again and changes nothing.
    peer_.sendRaw(Peer::encode(call, engineCall, 10, 0, 0, Peer::Iax, Peer::Accept, Peer::element32(Peer::Format, 4)));
    EXPECT_TRUE(peer_.next([](const PeerFrame& f) { return f.is(Peer::Iax, Peer::Ack) && f.timestamp == 10; }, 3s));
    // A frame from beyond a gap is answered with a VNAK that asks for the missing one.
    peer_.sendRaw(Peer::encode(call, engineCall, 11, 9, 0, Peer::Iax, Peer::Hangup));
    const auto vnak = peer_.expect(Peer::Iax, Peer::Vnak);
    ASSERT_TRUE(vnak);
    EXPECT_EQ(vnak->iseq, 2);
    EXPECT_EQ(events_.lastState(0), kActiveOutgoing | VoiceEvent::Complete | kSelected);

    // A VNAK from the switch brings back at once what it has not acknowledged (the resend
    // timer alone would wait 500 ms at full scale).
    Timing::setScale(1.0);
    peer_.setSilent(true);
    engine_->iaxc_send_dtmf('1');
    const auto digit = peer_.expect(Peer::Dtmf, '1');
    ASSERT_TRUE(digit);
    peer_.sendRaw(Peer::encode(call, engineCall, 12, 2, digit->oseq, Peer::Iax, Peer::Vnak));
    const auto resent = peer_.next([](const PeerFrame& f) { return f.is(Peer::Dtmf, '1') && f.retransmitted; }, 300ms);
    EXPECT_TRUE(resent);
    peer_.setSilent(false);
    Timing::setScale(scale());

    peer_.sendOn(call, Peer::Iax, Peer::Hangup);
    EXPECT_TRUE(events_.waitFor(EventLog::state(0, 0)));
}

TEST_F(IaxEngineTest, NothingIsReadWhileTheLoopIsStoppedAndARestartPicksUpWhatWaited) {
    const std::uint16_t call = placeAnsweredCall(0);
    EXPECT_EQ(engine_->iaxc_start_processing_thread(), 0);  // already running
    engine_->iaxc_stop_processing_thread();
    std::this_thread::sleep_for(50ms);
    peer_.sendOn(call, Peer::Iax, Peer::Ping);
    EXPECT_FALSE(peer_.expect(Peer::Iax, Peer::Pong, 150ms));
    ASSERT_EQ(engine_->iaxc_start_processing_thread(), 0);
    EXPECT_TRUE(peer_.expect(Peer::Iax, Peer::Pong));
}

TEST_F(IaxEngineTest, CallTagsAreKeptPerLineCutAndOutliveTheCall) {
    const std::uint16_t call = placeAnsweredCall(1);
    EXPECT_EQ(engine_->iaxc_set_call_tag(1, "TRACK-7"), 0);
    EXPECT_EQ(engine_->iaxc_set_call_tag(3, "x"), -1);
    EXPECT_FALSE(engine_->iaxc_get_call_tag(-1));
    peer_.sendOn(call, Peer::Iax, Peer::Hangup);
    ASSERT_TRUE(events_.waitFor(EventLog::state(1, 0)));
    EXPECT_EQ(engine_->iaxc_get_call_tag(1), "TRACK-7");
    engine_->iaxc_set_call_tag(1, std::string(300, 'z'));
    EXPECT_EQ(engine_->iaxc_get_call_tag(1)->size(), 255u);
    EXPECT_EQ(engine_->iaxc_get_call_tag(0), "");
}

TEST_F(IaxEngineTest, DevicesRingToneAndTapGoToTheMediaSide) {
    std::vector<AudioDevice> devices;
    int input = -1, output = -1, ring = -1;
    EXPECT_EQ(engine_->iaxc_audio_devices_get(devices, input, output, ring), 0);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(ring, 3);
    engine_->iaxc_audio_devices_set(1, 2, 3);
    engine_->startRingTone();
    engine_->stopRingTone();
    engine_->setRecorderTap([](const std::int16_t*, const std::int16_t*, int) {});
    for (const char* operation : {"devices 1 2 3", "ring on", "ring off", "tap on"}) EXPECT_EQ(media_->count(operation), 1);
}

TEST(IaxEngineStart, FailsWithoutAudioAndFallsBackToAnEphemeralPortWhenTheGivenOneIsTaken) {
    auto failing = std::make_unique<FakeMediaEngine>();
    failing->initializeResult = false;
    IaxVoiceEngine withoutAudio(IaxEngineConfig{"127.0.0.1", 0, iax_format::Ulaw}, std::move(failing));
    EXPECT_NE(withoutAudio.iaxc_initialize(3), 0);
    EXPECT_EQ(withoutAudio.iaxc_start_processing_thread(), -1);
    EXPECT_EQ(withoutAudio.iaxc_call("1@127.0.0.1/x"), -1);

    IaxVoiceEngine first(IaxEngineConfig{"127.0.0.1", 0, iax_format::Ulaw}, std::make_unique<FakeMediaEngine>());
    ASSERT_EQ(first.iaxc_initialize(3), 0);
    IaxVoiceEngine second(IaxEngineConfig{"127.0.0.1", first.boundPort(), iax_format::Ulaw},
                          std::make_unique<FakeMediaEngine>());
    ASSERT_EQ(second.iaxc_initialize(3), 0);
    EXPECT_NE(second.boundPort(), first.boundPort());
    EXPECT_NE(second.boundPort(), 0);
    EXPECT_EQ(second.iaxc_initialize(3), -1);  // once only
}

// A peer that vanishes mid-call: its silence is noticed by the keep-alive PING, whose
// resends give up, and the call ends. Intervals at 1/50: PING after 400 ms, give-up 200 ms.
class IaxVanishingPeerTest : public IaxEngineTest {
    double scale() const override { return 0.02; }
};

TEST_F(IaxVanishingPeerTest, ACallWhosePeerStopsAnsweringEndsAfterTheGiveUp) {
    placeAnsweredCall(2);
    peer_.setSilent(true);
    const auto ping = peer_.expect(Peer::Iax, Peer::Ping, 2s);
    ASSERT_TRUE(ping);
    ASSERT_TRUE(events_.waitFor(EventLog::state(2, 0)));
    EXPECT_TRUE(waitForMedia("close 2"));
    const auto history = peer_.history();
    EXPECT_TRUE(std::any_of(history.begin(), history.end(),
                            [](const PeerFrame& f) { return f.is(Peer::Iax, Peer::Ping) && f.retransmitted; }));
}
