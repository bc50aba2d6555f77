#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "RecordingDoubles.h"
#include "infra/Timing.h"
#include "lab/recorder/LabRecordServer.h"
#include "recording/CSADirRead.h"
#include "recording/QMS.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

void writeFile(const fs::path& path, std::size_t size) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
}

class StoredRecordingsTest : public ::testing::Test {
protected:
    StoredRecordingsTest() { Timing::setScale(0.1); }
    ~StoredRecordingsTest() override { Timing::setScale(previousScale_); }

    fs::path kept(const std::string& name) const { return folder.path() / "kept" / name; }
    std::vector<std::string> uploadedNames() const {
        std::vector<std::string> names;
        for (const auto& upload : server.uploads()) names.push_back(upload.name);
        return names;
    }
    void resend() {
        QMS qms({"127.0.0.1", server.port(), false, {}}, store);
        const std::atomic<bool> stopping{false};
        qms.localRecordingSender(stopping);
    }

    const double previousScale_ = Timing::scale();
    TempDir folder;
    RecordingsFolder recordings{(folder.path() / "kept").string()};
    LogCapture log;
    RecordingStore store;
    LabRecordServer server{{0, false, {}, {}, (folder.path() / "server").string()}};
};

}  // namespace

TEST_F(StoredRecordingsTest, AWrittenRecordingAppearsWholeAndNeverReplacesAnother) {
    const std::vector<std::uint8_t> first(1000, 1), second(500, 2);
    ASSERT_TRUE(store.write("a.wav", first));
    ASSERT_TRUE(store.write("a.wav", second));
    EXPECT_EQ(readBytes(kept("a.wav").string()), first);
    EXPECT_EQ(readBytes(kept("a-1.wav").string()), second);
    for (const auto& entry : fs::directory_iterator(folder.path() / "kept"))
        EXPECT_NE(entry.path().filename().string().front(), '.') << "a temporary file was left behind";
}

TEST_F(StoredRecordingsTest, ARecordingThatCannotBeWrittenIsHeldAndWrittenLater) {
    writeFile(folder.path() / "blocker", 1);
    RecordingStore::useFolder((folder.path() / "blocker" / "sub").string());
    EXPECT_FALSE(store.write("a.wav", std::vector<std::uint8_t>(10, 1)));
    EXPECT_TRUE(log.contains("Recording [a.wav] could not be written to [" + (folder.path() / "blocker" / "sub").string() +
                             "]: All or part of the path is invalid. (Not a directory)"));
    store.hold("a.wav", std::vector<std::uint8_t>(10, 1));
    store.writeHeld();
    EXPECT_EQ(store.heldCount(), 1u) << "still nowhere to write it";

    RecordingStore::useFolder(kept("").string());
    store.writeHeld();
    EXPECT_EQ(store.heldCount(), 0u);
    EXPECT_EQ(readBytes(kept("a.wav").string()).size(), 10u);
}

TEST_F(StoredRecordingsTest, TheScannerTakesMatchingFilesOfTheFolderOnlyAndSortsThemBySize) {
    writeFile(kept("big.wav"), 300);
    writeFile(kept("small.MP3"), 100);
    writeFile(kept("mid.wav"), 200);
    writeFile(kept("notes.txt"), 10);
    writeFile(kept("sub") / "deep.wav", 1);
    CSADirRead scanner;
    scanner.scanFolder(kept("").string() + "/", false);
    scanner.collectFiles("*.wav", true, false);
    scanner.collectFiles("*.mp3", true, false);
    scanner.sortFiles();
    std::vector<std::string> found;
    for (const auto& entry : scanner.files()) found.push_back(fs::path(entry.path).filename().string());
    EXPECT_EQ(found, (std::vector<std::string>{"small.MP3", "mid.wav", "big.wav"}));
    EXPECT_EQ(scanner.files().front().size, 100u);
}

TEST_F(StoredRecordingsTest, ARemovalThatFailsNamesItsCause) {
    EXPECT_FALSE(CSADirRead::removeFile(kept("gone.wav").string()));
    EXPECT_TRUE(log.contains("Error happened while trying to delete the file[" + kept("gone.wav").string() +
                             "], id[2] description[The file could not be located.]"));
    EXPECT_EQ(CSADirRead::causeOf(ENOSPC), 13);
    EXPECT_EQ(CSADirRead::causeOf(EACCES), 5);
    EXPECT_STREQ(CSADirRead::causeDescription(15), "");
}

TEST_F(StoredRecordingsTest, AReSendRunSendsSmallestFirstAndRemovesOnlyWhatWasAcknowledged) {
    ASSERT_TRUE(server.start());
    writeFile(kept("big.wav"), 3000);
    writeFile(kept("small.mp3"), 1000);
    writeFile(kept("mid.wav"), 2000);
    writeFile(kept("sub") / "deep.wav", 10);
    store.hold("held.wav", std::vector<std::uint8_t>(1500, 7));
    server.answerNext(LabRecorderAnswer::Failed);  // the first, smallest, is refused
    resend();
    EXPECT_TRUE(log.contains("Found [4] local recording files"));
    EXPECT_EQ(uploadedNames(), (std::vector<std::string>{"small.mp3", "held.wav", "mid.wav", "big.wav"}));
    EXPECT_TRUE(fs::exists(kept("small.mp3"))) << "refused: kept for the next run";
    EXPECT_FALSE(fs::exists(kept("mid.wav")));
    EXPECT_FALSE(fs::exists(kept("big.wav")));
    EXPECT_TRUE(fs::exists(kept("sub") / "deep.wav")) << "subfolders are not scanned";
    EXPECT_EQ(store.heldCount(), 0u);

    server.clearUploads();
    resend();
    EXPECT_EQ(uploadedNames(), std::vector<std::string>{"small.mp3"});
    EXPECT_FALSE(fs::exists(kept("small.mp3")));
}

TEST_F(StoredRecordingsTest, AnEmptyFolderEndsTheRunAtOnce) {
    ASSERT_TRUE(server.start());
    resend();
    EXPECT_TRUE(log.contains("Found [0] local recording files"));
    EXPECT_EQ(server.connections(), 0);
}
