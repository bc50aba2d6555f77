#include <gtest/gtest.h>

#include "voice/engine/iax/CodecPolicy.h"
#include "voice/engine/iax/IaxAuth.h"
#include "voice/engine/iax/IaxDialString.h"
#include "voice/engine/iax/IaxElements.h"
#include "voice/engine/iax/IaxFrame.h"
#include "voice/engine/iax/IaxWire.h"
#include "voice/engine/media/Codec.h"
#include "voice/iax/PcapReader.h"

using namespace iax;

namespace {
std::vector<std::vector<std::uint8_t>> captureDatagrams() {
    auto payloads = readUdpPayloads(ORVANE_IAX_CAPTURE);
    EXPECT_TRUE(payloads.has_value()) << ORVANE_IAX_CAPTURE;
    return payloads.value_or(std::vector<std::vector<std::uint8_t>>{});
}
}  // namespace

TEST(IaxFrame, FullFrameRoundTripKeepsEveryHeaderFieldAndCompressesLargeSubclasses) {
    const std::uint8_t payload[] = {1, 2, 3};
    for (std::uint32_t subclass : {4u, 0x7Fu, 0xFFu, 512u, 1024u, 0x80000000u}) {
        FullFrame frame;
        frame.sourceCall = 0x7FFF;
        frame.destinationCall = 12345;
        frame.retransmitted = true;
        frame.timestamp = 0xDEADBEEF;
        frame.oseq = 255;
        frame.iseq = 7;
        frame.type = kVoice;
        frame.subclass = subclass;
        frame.payload = payload;
        const auto bytes = encodeFullFrame(frame);
        const Datagram parsed = parseDatagram(bytes);
        ASSERT_EQ(parsed.kind, Datagram::Kind::Full);
        EXPECT_EQ(parsed.full.sourceCall, 0x7FFF);
        EXPECT_EQ(parsed.full.destinationCall, 12345);
        EXPECT_TRUE(parsed.full.retransmitted);
        EXPECT_EQ(parsed.full.timestamp, 0xDEADBEEF);
        EXPECT_EQ(parsed.full.oseq, 255);
        EXPECT_EQ(parsed.full.iseq, 7);
        EXPECT_EQ(parsed.full.subclass, subclass);
        EXPECT_EQ(std::vector<std::uint8_t>(parsed.full.payload.begin(), parsed.full.payload.end()),
                  std::vector<std::uint8_t>(std::begin(payload), std::end(payload)));
    }
    EXPECT_EQ(compressSubclass(512), 0x89);
    EXPECT_EQ(compressSubclass(1024), 0x8A);
}

TEST(IaxFrame, MiniMetaAndMalformedDatagramsAreToldApart) {
    const std::uint8_t voice[] = {0xAA, 0xBB};
    const auto mini = encodeMiniFrame(300, 0xFFFE, voice);
    const Datagram parsed = parseDatagram(mini);
    ASSERT_EQ(parsed.kind, Datagram::Kind::Mini);
    EXPECT_EQ(parsed.mini.sourceCall, 300);
    EXPECT_EQ(parsed.mini.timestamp, 0xFFFE);
    EXPECT_EQ(parsed.mini.payload.size(), 2u);

    const std::uint8_t meta[] = {0, 0, 0x80, 1, 0, 0};
    EXPECT_EQ(parseDatagram(meta).kind, Datagram::Kind::Meta);
    const std::uint8_t tooShort[] = {0x80, 1, 0};
    EXPECT_EQ(parseDatagram(tooShort).kind, Datagram::Kind::Malformed);
    const std::uint8_t shortFull[] = {0x80, 1, 0, 0, 0, 0, 0, 0, 0, 0, 6};
    EXPECT_EQ(parseDatagram(shortFull).kind, Datagram::Kind::Malformed);
    const std::uint8_t hugeShift[] = {0x80, 1, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0xA0};
    EXPECT_EQ(parseDatagram(hugeShift).kind, Datagram::Kind::Malformed);
}

TEST(IaxElements, RoundTripRejectTruncationAndCheckNumberLengths) {
    ElementWriter writer;
    writer.text(kUsername, "1001").u16(kRefresh, 60).u32(kFormat, 4).byte(kCauseCode, 16).empty(kCallTokenElement);
    writer.text(kCause, std::string(300, 'x'));
    auto list = ElementList::parse(writer.bytes());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->text(kUsername), "1001");
    EXPECT_EQ(list->u16(kRefresh), 60);
    EXPECT_EQ(list->u32(kFormat), 4u);
    EXPECT_EQ(list->byte(kCauseCode), 16);
    EXPECT_EQ(list->text(kCallTokenElement), "");
    EXPECT_EQ(list->text(kCause)->size(), 255u);
    EXPECT_FALSE(list->u32(kRefresh));  // two bytes are not a 32-bit number
    EXPECT_FALSE(list->has(kChallenge));

    std::vector<std::uint8_t> truncated = writer.bytes();
    truncated.resize(truncated.size() - 1);
    EXPECT_FALSE(ElementList::parse(truncated));
    const std::uint8_t loneId[] = {kUsername};
    EXPECT_FALSE(ElementList::parse(loneId));
}

TEST(IaxCapture, EveryDatagramOfTheAsteriskCaptureParsesAndReencodesToTheSameBytes) {
    const auto datagrams = captureDatagrams();
    ASSERT_EQ(datagrams.size(), 4506u);
    int full = 0;
    int mini = 0;
    for (const auto& bytes : datagrams) {
        const Datagram parsed = parseDatagram(bytes);
        ASSERT_NE(parsed.kind, Datagram::Kind::Malformed) << parsed.problem;
        ASSERT_NE(parsed.kind, Datagram::Kind::Meta);
        if (parsed.kind == Datagram::Kind::Mini) {
            ++mini;
            continue;
        }
        ++full;
        if (parsed.full.type == kIax) {
            EXPECT_TRUE(ElementList::parse(parsed.full.payload));
        }
        EXPECT_EQ(encodeFullFrame(parsed.full), bytes);
    }
    EXPECT_EQ(full, 349);
    EXPECT_EQ(mini, 4157);
}

TEST(IaxCapture, ChallengeResponsesInTheCaptureMatchOurMd5) {
    // Each REGAUTH or AUTHREQ challenge is answered in the client's next frame on that call.
    const auto datagrams = captureDatagrams();
    int checked = 0;
    std::map<std::uint16_t, std::string> challengeFor;  // by the client's call number
    for (const auto& bytes : datagrams) {
        const Datagram parsed = parseDatagram(bytes);
        if (parsed.kind != Datagram::Kind::Full || parsed.full.type != kIax) continue;
        const auto elements = ElementList::parse(parsed.full.payload);
        if (parsed.full.subclass == kRegAuth || parsed.full.subclass == kAuthReq)
            challengeFor[parsed.full.destinationCall] = elements->text(kChallenge).value_or("");
        if (const auto answer = elements->text(kMd5Result); answer && challengeFor.count(parsed.full.sourceCall)) {
            const std::string& challenge = challengeFor[parsed.full.sourceCall];
            if (md5ChallengeResponse(challenge, "pw1001") == *answer) ++checked;
        }
    }
    EXPECT_GE(checked, 10);
    EXPECT_EQ(md5ChallengeResponse("168223765", "pw1001"), "3a822abf5441004403b0b2def0c68a9a");
}

TEST(IaxDialString, ParsesUserSecretHostPortAndExtension) {
    auto dial = parseDialString("1001:pw@switch:4570/MCALL555^12/x");
    ASSERT_TRUE(dial);
    EXPECT_EQ(dial->user, "1001");
    EXPECT_EQ(dial->secret, "pw");
    EXPECT_EQ(dial->peer.host, "switch");
    EXPECT_EQ(dial->peer.port, 4570);
    EXPECT_EQ(dial->extension, "MCALL555^12/x");

    dial = parseDialString("1001@switch/ZQ1001");
    ASSERT_TRUE(dial);
    EXPECT_EQ(dial->secret, "");
    EXPECT_EQ(dial->peer.port, kDefaultPort);
    EXPECT_EQ(dial->extension, "ZQ1001");

    EXPECT_FALSE(parseDialString("1001@/ZQ"));
    EXPECT_FALSE(parseDialString("1001@switch:port/ZQ"));
    EXPECT_FALSE(parseDialString("1001@switch:70000/ZQ"));
    EXPECT_EQ(parseHostPort("10.0.0.1")->port, kDefaultPort);
    EXPECT_EQ(parseHostPort("10.0.0.1:4570")->host, "10.0.0.1");
}

TEST(CodecPolicy, AsksForOneCodecAndOffersUlawWhenThereIsNoCodecForIlbc) {
    CodecPolicy codecs(iax_format::Ulaw | iax_format::Alaw | iax_format::Gsm);
    EXPECT_EQ(codecs.preferred(), iax_format::Ulaw);
    EXPECT_EQ(codecs.negotiate(iax_format::Gsm, iax_format::Gsm | iax_format::Ulaw), iax_format::Gsm);

    EXPECT_EQ(codecs.choose(iax_format::Alaw), 160);
    EXPECT_EQ(codecs.allowed(), iax_format::Alaw);
    EXPECT_EQ(codecs.negotiate(iax_format::Gsm, iax_format::Gsm | iax_format::Alaw), iax_format::Alaw);
    EXPECT_EQ(codecs.negotiate(iax_format::Gsm, iax_format::Gsm), 0);

    EXPECT_EQ(codecs.choose(iax_format::Ilbc), 240);
    EXPECT_EQ(codecs.preferred(), iax_format::Ulaw);
    EXPECT_EQ(codecs.allowed(), iax_format::Ulaw);
    EXPECT_FALSE(codecs.accepts(iax_format::Ilbc));
    EXPECT_FALSE(codecs.accepts(iax_format::Ulaw | iax_format::Alaw));
}
