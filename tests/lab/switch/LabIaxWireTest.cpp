#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <map>

#include "lab/switch/IaxTestPhone.h"
#include "infra/Timing.h"
#include "lab/switch/LabCallAudio.h"
#include "lab/switch/LabCallTokens.h"
#include "lab/switch/LabIaxSessions.h"
#include "lab/switch/LabG711.h"
#include "lab/switch/LabIaxDescription.h"
#include "lab/switch/LabIaxFrame.h"
#include "lab/switch/LabIaxProtocol.h"
#include "lab/switch/LabPcap.h"
#include "lab/switch/LabVoiceCodec.h"
#include "lab/switch/LabWav.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

std::string file(const TempDir& dir, const std::string& name) { return (dir.path() / name).string(); }

std::vector<std::int16_t> tone(double hertz, std::size_t count) {
    std::vector<std::int16_t> samples(count);
    for (std::size_t index = 0; index < count; ++index)
        samples[index] = static_cast<std::int16_t>(8000 * std::sin(2 * 3.14159265358979 * hertz * static_cast<double>(index) / 8000));
    return samples;
}

// ---- real bytes: the Asterisk capture ----

TEST(LabIaxWire, ParsesEveryDatagramOfTheAsteriskCapture) {
    const LabPcapContents capture = readLabPcapUdp(ORVANE_IAX2_CAPTURE);
    ASSERT_EQ(capture.error, "");
    EXPECT_EQ(capture.otherPackets, 0u);
    ASSERT_EQ(capture.datagrams.size(), 4506u);
    std::map<std::string, int> names;
    std::size_t mini = 0;
    for (const LabPcapDatagram& datagram : capture.datagrams) {
        EXPECT_EQ(datagram.source.host, 0x7f000001u);
        const LabIaxParseResult parsed = parseLabIaxDatagram(datagram.payload);
        ASSERT_TRUE(parsed.datagram) << parsed.error;
        if (const auto* full = std::get_if<LabIaxFullFrame>(&*parsed.datagram)) {
            ++names[labIaxFrameName(*full)];
            EXPECT_EQ(full->encode(), datagram.payload) << describeLabIaxFrame(*full);
        } else if (std::holds_alternative<LabIaxMiniFrame>(*parsed.datagram)) {
            EXPECT_EQ(std::get<LabIaxMiniFrame>(*parsed.datagram).encode(), datagram.payload);
            ++mini;
        }
    }
    EXPECT_EQ(names["REGREQ"], 11);
    EXPECT_EQ(names["REGAUTH"], 7);
    EXPECT_EQ(names["CALLTOKEN"], 12);
    EXPECT_EQ(names["NEW"], 29);
    EXPECT_EQ(names["HANGUP"], 14);
    EXPECT_EQ(names["DTMF"], 12);
    EXPECT_EQ(names["DTMF-BEGIN"], 12);
    EXPECT_GT(mini, 4000u);
}

TEST(LabIaxWire, DescribesTheCapturedRegistrationAndCallAsReadableLines) {
    const LabPcapContents capture = readLabPcapUdp(ORVANE_IAX2_CAPTURE);
    std::vector<std::string> lines;
    for (const LabPcapDatagram& datagram : capture.datagrams) {
        const auto parsed = parseLabIaxDatagram(datagram.payload);
        if (const auto* full = std::get_if<LabIaxFullFrame>(&*parsed.datagram)) lines.push_back(describeLabIaxFrame(*full));
    }
    ASSERT_GT(lines.size(), 20u);
    EXPECT_EQ(lines[0], "REGREQ username=1001 refresh=60");
    EXPECT_EQ(lines[1], "REGAUTH username=1001 auth_methods=2 challenge=168223765");
    EXPECT_EQ(lines[2], "REGREQ username=1001 md5=3a822abf5441004403b0b2def0c68a9a refresh=60");
    EXPECT_TRUE(lines[4].starts_with("REGACK username=1001 calling_number=1001 calling_name=Agent 1001 refresh=60 "
                                     "apparent_address=127.0.0.1:4570 datetime="));
    EXPECT_EQ(lines[9], "NEW called=600 username=1001 calling_number=1001 format=4 capability=76 calling_name=iaxmodem 1001 "
                        "dnid=600 version=2");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "DTMF 1"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "REJECT cause=No authority found cause_code=50"), lines.end());
}

// ---- the pcap file itself ----

TEST(LabPcap, WritesWhatItReadsAndRefusesOtherFiles) {
    TempDir dir;
    const std::string path = file(dir, "out.pcap");
    {
        LabPcapWriter writer;
        ASSERT_TRUE(writer.open(path));
        writer.add(LabUdpAddress::loopback(4569), LabUdpAddress::loopback(4570), "first");
        writer.add(LabUdpAddress::loopback(4570), LabUdpAddress::loopback(4569), std::string("\0second", 7));
    }
    const LabPcapContents contents = readLabPcapUdp(path);
    ASSERT_EQ(contents.error, "");
    ASSERT_EQ(contents.datagrams.size(), 2u);
    EXPECT_EQ(contents.datagrams[0].payload, "first");
    EXPECT_EQ(contents.datagrams[1].payload, std::string("\0second", 7));
    EXPECT_EQ(contents.datagrams[1].source, LabUdpAddress::loopback(4570));

    std::ofstream(file(dir, "text.pcap")) << "not a capture at all, just some text";
    EXPECT_EQ(readLabPcapUdp(file(dir, "text.pcap")).error, "not a libpcap file");
    const std::string header = std::string("\xd4\xc3\xb2\xa1\x02\x00\x04\x00", 8) + std::string(8, '\0') +
                               std::string("\x00\x00\x04\x00\x69\x00\x00\x00", 8);
    std::ofstream(file(dir, "usb.pcap"), std::ios::binary) << header;  // link type 105, IEEE 802.11
    EXPECT_EQ(readLabPcapUdp(file(dir, "usb.pcap")).error, "unsupported link type 105");
    EXPECT_NE(readLabPcapUdp(file(dir, "missing.pcap")).error, "");
}

// ---- frames and elements ----

TEST(LabIaxWire, RefusesMalformedDatagramsWithAReason) {
    EXPECT_EQ(parseLabIaxDatagram("").error, "datagram of 0 bytes, shorter than any frame");
    EXPECT_EQ(parseLabIaxDatagram(std::string("\x80\x01\x00\x00\x00", 5)).error,
              "full frame of 5 bytes, shorter than its header");
    const std::string header = testiax::Phone::full(1, 0, 0, 0, 0, 6, 1, {});
    EXPECT_EQ(parseLabIaxDatagram(header + "\x06\x05" "10").error, "IAX frame with a truncated information element");
    std::string badSubclass = testiax::Phone::full(1, 0, 0, 0, 0, 2, 0xa0, {});  // voice
    EXPECT_EQ(parseLabIaxDatagram(badSubclass).error, "subclass exponent 32 out of range");
    EXPECT_EQ(parseLabIaxDatagram(std::string("\0\0\x05\x00", 4)).error, "meta frame with unknown command 5");
    EXPECT_TRUE(parseLabIaxDatagram(std::string("\0\0\x80\x01\0\0", 6)).datagram);  // a video mini frame
}

TEST(LabIaxWire, EncodesLargeSubclassesAsExponentsAndOrdersElementsInTheLine) {
    EXPECT_EQ(encodeLabIaxSubclass(labiax::format::Speex), 0x89);
    EXPECT_EQ(encodeLabIaxSubclass(0x7f), 0x7f);
    EXPECT_FALSE(encodeLabIaxSubclass(0x300));

    LabIaxFullFrame voice;
    voice.type = labiax::frame::Voice;
    voice.subclass = labiax::format::Speex;
    const auto parsed = parseLabIaxDatagram(voice.encode());
    ASSERT_TRUE(parsed.datagram);
    EXPECT_EQ(std::get<LabIaxFullFrame>(*parsed.datagram).subclass, labiax::format::Speex);

    LabIaxFullFrame quelch;
    quelch.type = labiax::frame::Iax;
    quelch.subclass = labiax::iax::Quelch;
    quelch.payload = LabIaxElements().addEmpty(labiax::ie::MusicOnHold).encode();
    EXPECT_EQ(describeLabIaxFrame(quelch), "QUELCH moh");
    LabIaxFullFrame hangup;
    hangup.type = labiax::frame::Iax;
    hangup.subclass = labiax::iax::Hangup;
    hangup.payload = LabIaxElements().addU8(0x2a, 16).add(0x16, "Dumped Call").add(0x77, "\x01").encode();
    EXPECT_EQ(describeLabIaxFrame(hangup), "HANGUP cause=Dumped Call cause_code=16 ie119=01");
    LabIaxFullFrame digit;
    digit.type = labiax::frame::DtmfEnd;
    digit.subclass = '5';
    EXPECT_EQ(describeLabIaxFrame(digit), "DTMF 5");

    LabIaxElements elements;
    elements.add(1, std::string(300, 'x'));
    EXPECT_EQ(elements.text(1)->size(), 255u);
    EXPECT_EQ(LabIaxElements::parse(elements.encode())->text(1), elements.text(1));
}

// ---- media ----

TEST(LabVoiceCodecs, G711RoundTripsWithinItsStepSize) {
    for (int sample = -32768; sample <= 32767; sample += 7) {
        const auto value = static_cast<std::int16_t>(sample);
        const int ulaw = labg711::ulawToLinear(labg711::linearToUlaw(value));
        const int alaw = labg711::alawToLinear(labg711::linearToAlaw(value));
        const int allowed = std::max(16, std::abs(sample) / 16);
        EXPECT_LE(std::abs(ulaw - sample), allowed) << sample;
        EXPECT_LE(std::abs(alaw - sample), allowed) << sample;
    }
    // The textbook code points: silence and full scale.
    EXPECT_EQ(labg711::linearToUlaw(0), 0xff);
    EXPECT_EQ(labg711::linearToUlaw(32767), 0x80);
    EXPECT_EQ(labg711::linearToAlaw(0), 0xd5);
    EXPECT_EQ(testiax::fromUlaw(labg711::linearToUlaw(1000)), labg711::ulawToLinear(labg711::linearToUlaw(1000)));
}

TEST(LabVoiceCodecs, EveryCodecCarriesAToneThrough) {
    for (const std::uint32_t format : {labiax::format::Ulaw, labiax::format::Alaw, labiax::format::Gsm, labiax::format::Speex}) {
        auto encoder = makeLabVoiceCodec(format);
        auto decoder = makeLabVoiceCodec(format);
        ASSERT_TRUE(encoder && decoder);
        const auto input = tone(440, 160 * 25);
        std::vector<std::int16_t> output;
        for (std::size_t at = 0; at < input.size(); at += 160) ASSERT_TRUE(decoder->decode(encoder->encode(&input[at]), output));
        ASSERT_EQ(output.size(), input.size()) << format;
        const std::vector<std::int16_t> settled(output.begin() + 800, output.end());
        EXPECT_TRUE(testiax::hasTone(settled, 440, 1000)) << format;
    }
    EXPECT_FALSE(makeLabVoiceCodec(labiax::format::Gsm)->decode("short", *std::make_unique<std::vector<std::int16_t>>()));
    EXPECT_FALSE(makeLabVoiceCodec(0x40));
    EXPECT_EQ(chooseLabFormat(0x40, 0x20e), labiax::format::Ulaw);
    EXPECT_EQ(chooseLabFormat(labiax::format::Speex, 0x200), labiax::format::Speex);
    EXPECT_EQ(chooseLabFormat(0x40, 0x40), 0u);
}

TEST(LabCallAudio, SendsAFullVoiceFrameFirstAndWhenTheMiniTimestampWraps) {
    LabCallAudio audio(labiax::format::Ulaw, LabAudioSource::tone(440), 600, {});
    EXPECT_TRUE(audio.needsFullFrame(40));
    EXPECT_FALSE(audio.needsFullFrame(60));
    EXPECT_FALSE(audio.needsFullFrame(65520));
    EXPECT_TRUE(audio.needsFullFrame(65540));
    EXPECT_FALSE(audio.needsFullFrame(65560));
    EXPECT_EQ(audio.nextFrame().size(), 160u);
}

TEST(LabIaxSessions, OpenNoMoreThanTheirLimitAndAnswerStatelessRequestsInTheirOwnName) {
    std::vector<std::string> sent;
    LabIaxSessions sessions([&](const LabUdpAddress&, const std::string&, const std::string& line) { sent.push_back(line); });
    const auto now = std::chrono::steady_clock::now();
    for (std::size_t index = 0; index < LabIaxSessions::kMaxSessions; ++index)
        ASSERT_TRUE(sessions.open(LabIaxSession::Purpose::Call, LabUdpAddress::loopback(4570), static_cast<std::uint16_t>(index + 1), now));
    EXPECT_FALSE(sessions.open(LabIaxSession::Purpose::Call, LabUdpAddress::loopback(4570), 9999, now));
    EXPECT_EQ(sessions.find(LabIaxSessions::kStatelessCall), nullptr);

    LabIaxFullFrame request;
    request.sourceCall = 77;
    request.timestamp = 123;
    sessions.sendStateless(LabUdpAddress::loopback(4570), request, labiax::iax::RegRej, LabIaxElements::cause("No", 29));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent.back(), "REGREJ cause=No cause_code=29");
}

TEST(LabIaxSession, CountsAcknowledgesAndRetransmitsUntilItGivesUp) {
    const auto start = std::chrono::steady_clock::now();
    LabIaxSession session(LabIaxSession::Purpose::Call, 5, LabUdpAddress::loopback(4570), 9, start);
    LabIaxFullFrame request;
    request.type = labiax::frame::Iax;
    request.subclass = labiax::iax::New;
    EXPECT_EQ(session.receive(request), LabIaxSession::Arrival::InOrder);
    EXPECT_EQ(session.receive(request), LabIaxSession::Arrival::Duplicate);
    request.oseqno = 5;
    EXPECT_EQ(session.receive(request), LabIaxSession::Arrival::OutOfOrder);

    const LabIaxFullFrame first = session.send(labiax::frame::Iax, labiax::iax::AuthReq, {}, start);
    EXPECT_EQ(first.oseqno, 0);
    EXPECT_EQ(first.iseqno, 1);
    const LabIaxFullFrame ack = session.acknowledgement(request);
    EXPECT_EQ(ack.oseqno, 1);
    EXPECT_EQ(session.send(labiax::frame::Control, labiax::control::Ringing, {}, start).oseqno, 1);
    LabIaxFullFrame answer;
    answer.type = labiax::frame::Iax;
    answer.subclass = labiax::iax::Ack;
    answer.iseqno = 1;  // acknowledges the AUTHREQ only
    session.receive(answer);
    ASSERT_EQ(session.unacknowledged().size(), 1u);
    EXPECT_EQ(session.unacknowledged().front().subclass, labiax::control::Ringing);

    auto later = start;
    int retransmissions = 0;
    bool gaveUp = false;
    for (int step = 0; step < 100 && !gaveUp; ++step) {
        later += 1s;
        const auto due = session.due(later);
        retransmissions += static_cast<int>(due.frames.size());
        for (const auto& frame : due.frames) EXPECT_TRUE(frame.retransmission);
        gaveUp = due.gaveUp;
    }
    EXPECT_TRUE(gaveUp);
    EXPECT_EQ(retransmissions, intervals::kLabSwitchRetransmissions);
}

TEST(LabWav, WritesAndReadsEightKilohertzMonoAndRefusesOtherKinds) {
    TempDir dir;
    const auto samples = tone(300, 1234);
    ASSERT_TRUE(labwav::write(file(dir, "tone.wav"), samples));
    std::string error;
    EXPECT_EQ(labwav::read(file(dir, "tone.wav"), error), samples);

    std::ifstream in(file(dir, "tone.wav"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes[22] = 2;  // stereo
    std::ofstream(file(dir, "stereo.wav"), std::ios::binary) << bytes;
    EXPECT_FALSE(labwav::read(file(dir, "stereo.wav"), error));
    EXPECT_EQ(error, "not 8 kHz mono 16-bit PCM");
    bytes[22] = 1;
    std::ofstream(file(dir, "short.wav"), std::ios::binary) << bytes.substr(0, 50);
    EXPECT_FALSE(labwav::read(file(dir, "short.wav"), error));
    EXPECT_EQ(error, "chunk data runs past the end of the file");
}

TEST(LabCallTokens, AcceptsOnlyItsOwnFreshTokensFromTheSameAddress) {
    const LabCallTokens tokens;
    const auto now = std::chrono::steady_clock::now();
    const auto peer = LabUdpAddress::loopback(4570);
    const std::string token = tokens.issue(peer, now);
    EXPECT_TRUE(tokens.valid(token, peer, now + 1s, 10s));
    EXPECT_FALSE(tokens.valid(token, LabUdpAddress::loopback(4571), now + 1s, 10s));
    EXPECT_FALSE(tokens.valid(token, peer, now + 11s, 10s));
    EXPECT_FALSE(tokens.valid(token + "0", peer, now, 10s));
    EXPECT_FALSE(tokens.valid("", peer, now, 10s));
    EXPECT_FALSE(LabCallTokens().valid(token, peer, now, 10s));
}

}  // namespace
