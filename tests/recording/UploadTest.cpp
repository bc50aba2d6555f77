#include <gtest/gtest.h>

#include <numeric>

#include "RecordingDoubles.h"
#include "infra/SocketErrorText.h"
#include "infra/Timing.h"
#include "lab/common/LabSocket.h"
#include "lab/recorder/LabRecordServer.h"
#include "lab/recorder/LabTls.h"
#include "recording/QMS.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

// The upload client against the lab recording server on loopback, every interval a tenth
// of its production length.
class UploadTest : public ::testing::Test {
protected:
    static constexpr auto kWait = 5s;

    UploadTest() { Timing::setScale(0.1); }
    ~UploadTest() override { Timing::setScale(previousScale_); }

    LabRecordServer& startServer(bool tls) {
        LabRecorderOptions options;
        options.tls = tls;
        options.folder = folder.str() + "/server";
        options.lateAnswer = kMuchLater;
        server = std::make_unique<LabRecordServer>(options);
        EXPECT_TRUE(server->start());
        return *server;
    }
    bool upload(const std::string& caFile = {}) {
        QMS qms({"127.0.0.1", server->port(), server->tls(), caFile}, store);
        return qms.sendRecordingToQMS(kName, file);
    }

    static inline const std::string kName = "C.K.1001.2026.12.08.10.00.00.555.127-0-0-1.T1.000.wav";
    const double previousScale_ = Timing::scale();
    TempDir folder;
    LogCapture log;
    RecordingStore store;
    std::unique_ptr<LabRecordServer> server;
    std::vector<std::uint8_t> file = [] {
        std::vector<std::uint8_t> bytes(10001);  // more than two 4000-byte packets
        std::iota(bytes.begin(), bytes.end(), 0);
        return bytes;
    }();
};

}  // namespace

TEST_F(UploadTest, TheServerReceivesTheNameAndEveryByteAndAcknowledges) {
    startServer(false);
    EXPECT_TRUE(upload());
    const auto received = server->waitForUpload(kName, kWait);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->size, file.size());
    EXPECT_EQ(readBytes(received->storedAs), file);
    EXPECT_TRUE(log.contains("QMS::receiveQMS_ACK MSG RECEIVED FROM RECS[" + kName + "^SUCCESS]"));
    EXPECT_EQ(log.count("QMS::sendData() sending first packet..."), 2) << "the header and the file";
}

TEST_F(UploadTest, OnlyTheNamedSuccessCountsEvenInPieces) {
    startServer(false);
    server->answerNext(LabRecorderAnswer::Failed);
    EXPECT_FALSE(upload());
    EXPECT_TRUE(log.contains("received from recordServer[FAILED]"));
    EXPECT_EQ(log.levelOf("receiveQMS_ACK return FALSE"), "DEBUG");

    server->answerNext(LabRecorderAnswer::WrongName);
    EXPECT_FALSE(upload());

    server->answerNext(LabRecorderAnswer::Split);
    EXPECT_TRUE(upload()) << "an acknowledgement in two pieces is read whole";
}

TEST_F(UploadTest, NoAnswerALateOneOrADroppedConnectionFailsTheAttempt) {
    startServer(false);
    server->answerNext(LabRecorderAnswer::Silent);
    EXPECT_FALSE(upload());
    EXPECT_TRUE(log.contains("QMS::receiveQMS_ACK - Timeout on select() "));

    server->answerNext(LabRecorderAnswer::Late);
    EXPECT_FALSE(upload());

    log.clear();
    server->answerNext(LabRecorderAnswer::Drop);
    EXPECT_FALSE(upload());
    EXPECT_TRUE(server->waitForConnections(3, kWait));
    EXPECT_EQ(server->uploads().size(), 2u) << "the dropped upload never arrived whole";
}

TEST_F(UploadTest, AServerThatIsDownIsTriedElevenTimes) {
    startServer(false);
    const std::uint16_t port = server->port();
    server->stop();
    QMS qms({"127.0.0.1", port, false, {}}, store);
    EXPECT_FALSE(qms.sendRecordingToQMS(kName, file));
    EXPECT_EQ(log.count("!connectedToQMS, Cannot connect to QMS"), 10);
    EXPECT_TRUE(log.contains("Network Connection Error: Error:[10061]. No connection could be made because the target "
                             "machine actively refused it."));
}

TEST_F(UploadTest, AServerThatNeverReadsCannotHoldTheUploadForEver) {
    const LabSocket deaf = LabSocket::listenOnLoopback(0);  // connections wait, unread, in its backlog
    ASSERT_TRUE(deaf.valid());
    QMS qms({"127.0.0.1", deaf.localPort(), false, {}}, store);
    const std::vector<std::uint8_t> big(64 << 20, 1);  // far more than the socket buffers hold
    EXPECT_FALSE(qms.sendRecordingToQMS(kName, big));
    EXPECT_EQ(log.levelOf("ERROR Got a socket error in QMS : " + socketErrorText(EAGAIN)), "ERROR");
}

TEST_F(UploadTest, TlsWithoutACaFileUploadsAndWarnsThatTheServerIsNotVerified) {
    startServer(true);
    EXPECT_TRUE(upload());
    EXPECT_TRUE(server->waitForUpload(kName, kWait));
    const std::string warning = "QMS::sendRecordingToQMS - The certificate of the recording server [127.0.0.1:" +
                                std::to_string(server->port()) + "] is not verified: no RecordingServerCaFile is set";
    EXPECT_EQ(log.count(warning), 1);
    EXPECT_EQ(log.levelOf(warning), "WARNING");
}

TEST_F(UploadTest, TlsWithACaFileAcceptsOnlyACertificateItVouchesFor) {
    startServer(true);
    EXPECT_TRUE(upload(server->certificateFile()));
    EXPECT_EQ(server->uploads().size(), 1u);

    const std::string otherCa = folder.str() + "/other.pem";
    ASSERT_TRUE(labtls::writeSelfSigned(otherCa, folder.str() + "/other-key.pem"));
    log.clear();
    EXPECT_FALSE(upload(otherCa));
    EXPECT_TRUE(log.contains("Cannot connect to Encryption Server via SSL connection"));
    EXPECT_FALSE(upload(folder.str() + "/missing.pem"));
    EXPECT_TRUE(log.contains("Could not create new CONTEXT for SSL transaction with ENCRYPTION SERVER..."));
    EXPECT_EQ(server->uploads().size(), 1u) << "nothing reached a server the phone could not verify";
}
