#include <gtest/gtest.h>

#include <cstring>

#include "recording/Mp3Encoder.h"
#include "recording/QMS.h"
#include "recording/RecordedSamples.h"
#include "recording/RecordingFileName.h"

namespace {

RecordingNameParts parts(const std::string& ani, const std::string& host = "10.0.0.5") {
    return {"Client", "Campaign", "1001", "2026.12.08.10.00.00", ani, host, "T1", "000", "wav"};
}

std::uint32_t at32(const std::uint8_t* bytes) { return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24; }

}  // namespace

TEST(RecordingFileNameTest, NinePartsWithTheSwitchHostInDashes) {
    EXPECT_EQ(recordingFileName(parts("5551234")),
              "Client.Campaign.1001.2026.12.08.10.00.00.5551234.10-0-0-5.T1.000.wav");
}

TEST(RecordingFileNameTest, AnInternationalCallerNumberLeavesTheName) {
    EXPECT_EQ(recordingFileName(parts("+33123456789")),
              "Client.Campaign.1001.2026.12.08.10.00.00..10-0-0-5.T1.000.wav");
    // With no later dot, everything from the plus on goes.
    RecordingNameParts last = parts("5551234");
    last.extension = "+x";
    EXPECT_EQ(recordingFileName(last), "Client.Campaign.1001.2026.12.08.10.00.00.5551234.10-0-0-5.T1.000.");
}

TEST(RecordingFileNameTest, HostileFieldsCannotLeaveTheFolderOrHideTheFile) {
    const std::string name = recordingFileName(parts("../../etc/passwd\\x\n"));
    EXPECT_EQ(name.find('/'), std::string::npos);
    EXPECT_EQ(name.find('\\'), std::string::npos);
    EXPECT_EQ(name.find('\n'), std::string::npos);
    EXPECT_NE(name.find(".._.._etc_passwd_x_."), std::string::npos) << name;

    RecordingNameParts empty = parts("na");
    empty.client = "";  // no default client: the name would start with a dot
    EXPECT_EQ(recordingFileName(empty).front(), '_');

    RecordingNameParts withNul = parts(std::string("55\0" "5", 4));
    EXPECT_EQ(recordingFileName(withNul).find('\0'), std::string::npos);
}

TEST(RecordingFileNameTest, ALongNameIsCutToFitTheHeaderAndKeepsItsExtension) {
    RecordingNameParts long_ = parts(std::string(300, '7'));
    long_.extension = "mp3";
    const std::string name = recordingFileName(long_);
    EXPECT_EQ(name.size(), kLongestRecordingName);
    EXPECT_EQ(name.substr(name.size() - 4), ".mp3");
    EXPECT_EQ(qmsUploadHeader(name, 10).size(), name.size() + 6);

    // A cut never splits a character of UTF-8 text.
    RecordingNameParts accented = parts(std::string(200, 'a'));
    accented.campaign = "";
    for (int i = 0; i < 40; ++i) accented.campaign += "\xC3\xA9";  // é
    const std::string cut = recordingFileName(accented);
    EXPECT_LE(cut.size(), kLongestRecordingName);
    const std::string stem = cut.substr(0, cut.rfind('.'));
    EXPECT_NE(static_cast<unsigned char>(stem.back()) & 0xC0, 0xC0) << "ends inside a character";
}

TEST(RecordingFormatTest, WavHeaderIsTheCanonicalOneForEightKilohertzMono) {
    std::uint8_t header[44];
    writeWavHeader(header, 8000);
    EXPECT_EQ(std::memcmp(header, "RIFF", 4), 0);
    EXPECT_EQ(at32(header + 4), 16000u + 36);
    EXPECT_EQ(std::memcmp(header + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(at32(header + 16), 16u);
    EXPECT_EQ(header[20] | header[21] << 8, 1);  // PCM
    EXPECT_EQ(header[22] | header[23] << 8, 1);  // mono
    EXPECT_EQ(at32(header + 24), 8000u);
    EXPECT_EQ(at32(header + 28), 16000u);
    EXPECT_EQ(header[32] | header[33] << 8, 2);
    EXPECT_EQ(header[34] | header[35] << 8, 16);
    EXPECT_EQ(std::memcmp(header + 36, "data", 4), 0);
    EXPECT_EQ(at32(header + 40), 16000u);
}

TEST(RecordingFormatTest, MixingHalvesBothSidesRaisesByAFifthAndSaturates) {
    EXPECT_EQ(mixRecordedSample(1000, 1000), 1200);
    EXPECT_EQ(mixRecordedSample(-1001, 0), -600);  // halving truncates toward zero: -500 * 1.2
    EXPECT_EQ(mixRecordedSample(32767, 32767), 32767);
    EXPECT_EQ(mixRecordedSample(-32768, -32768), -32768);
    EXPECT_EQ(mixRecordedSample(30000, 20000), 30000);
}

TEST(RecordingFormatTest, OnlyHighInLowerCaseGivesTheHighQualityEncoder) {
    EXPECT_EQ(Mp3Settings::forQuality("high").vbrQuality, 4);
    EXPECT_EQ(Mp3Settings::forQuality("high").minBitrateKbps, 32);
    for (const char* other : {"HIGH", "", "low", "high "}) {
        EXPECT_EQ(Mp3Settings::forQuality(other).vbrQuality, 9) << other;
        EXPECT_EQ(Mp3Settings::forQuality(other).minBitrateKbps, 8) << other;
    }
}

TEST(RecordingFormatTest, UploadHeaderCountsTheNameFieldAndTheFile) {
    const std::string header = qmsUploadHeader("a.wav", 70000);
    ASSERT_EQ(header.size(), 11u);
    EXPECT_EQ(at32(reinterpret_cast<const std::uint8_t*>(header.data())), 7u + 70000u);
    EXPECT_EQ(header[4], 7);
    EXPECT_EQ(header.substr(5, 5), "a.wav");
    EXPECT_EQ(header[10], '\0');
    EXPECT_TRUE(qmsUploadHeader(std::string(254, 'x'), 1).empty()) << "the length byte would overflow";
}

TEST(RecordingFormatTest, AnAcknowledgementIsReadUntilItsStatusIsSettled) {
    EXPECT_FALSE(qmsReplyComplete("a.wav"));
    EXPECT_FALSE(qmsReplyComplete("a.wav^"));
    EXPECT_FALSE(qmsReplyComplete("a.wav^SUCC"));
    EXPECT_TRUE(qmsReplyComplete("a.wav^SUCCESS"));
    EXPECT_TRUE(qmsReplyComplete("a.wav^F"));
    EXPECT_TRUE(qmsReplyComplete("a.wav^SUCCESS^more"));

    std::string status;
    EXPECT_TRUE(qmsAcknowledges("a.wav^SUCCESS", "a.wav", status));
    EXPECT_TRUE(qmsAcknowledges("a.wav^SUCCESS^extra", "a.wav", status));
    EXPECT_FALSE(qmsAcknowledges("a.wav^FAILED", "a.wav", status));
    EXPECT_EQ(status, "FAILED");
    EXPECT_FALSE(qmsAcknowledges("b.wav^SUCCESS", "a.wav", status));
    EXPECT_FALSE(qmsAcknowledges("a.wav^SUCCESSFUL", "a.wav", status));
    EXPECT_FALSE(qmsAcknowledges("a.wav", "a.wav", status));
}
