#include <gtest/gtest.h>

#include <sys/socket.h>

#include "lab/common/LabSocket.h"
#include "lab/recorder/LabRecordServer.h"
#include "lab/recorder/LabRecorderConsole.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

// An upload as the wire carries it, built here byte by byte.
std::string upload(const std::string& name, const std::string& file) {
    const auto following = static_cast<std::uint32_t>(name.size() + 2 + file.size());
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(following >> (8 * i));
    return bytes + static_cast<char>(name.size() + 2) + name + '\0' + file;
}

std::string answerTo(std::uint16_t port, const std::string& bytes) {
    LabSocket phone = LabSocket::connectToLoopback(port);
    if (!phone.valid() || !phone.sendAll(bytes, -1)) return "<not sent>";
    ::shutdown(phone.fd(), SHUT_WR);
    std::string answer;
    char buffer[256];
    for (ssize_t got; (got = phone.receive(buffer, sizeof buffer)) > 0;) answer.append(buffer, static_cast<std::size_t>(got));
    return answer;
}

}  // namespace

TEST(LabRecordServerTest, AMalformedUploadIsRefusedAndTheNextOneServed) {
    TempDir folder;
    LabRecordServer server({0, false, {}, {}, folder.str()});
    ASSERT_TRUE(server.start());
    EXPECT_EQ(answerTo(server.port(), std::string("\x05\x00\x00\x00\x09", 5) + "abc"), "") << "name longer than the count";
    EXPECT_EQ(answerTo(server.port(), std::string("\xff\xff\xff\x7f\x03x", 6)), "") << "a file larger than the lab takes";
    EXPECT_EQ(answerTo(server.port(), upload("../up.wav", "data")), "../up.wav^SUCCESS");
    ASSERT_EQ(server.uploads().size(), 1u);
    EXPECT_EQ(server.uploads()[0].storedAs, folder.str() + "/_.._up.wav") << "kept inside its folder";
}

TEST(LabRecordServerTest, TheConsoleChoosesTheAnswers) {
    LabRecordServer server({0, false, {}, {}, {}});
    ASSERT_TRUE(server.start());
    LabRecorderConsole console(server);
    EXPECT_EQ(console.execute("answer failed"), "ok");
    EXPECT_EQ(console.execute("answer-next split 1"), "ok");
    EXPECT_EQ(answerTo(server.port(), upload("a.wav", "x")), "a.wav^SUCCESS") << "split, read whole";
    EXPECT_EQ(answerTo(server.port(), upload("b.wav", "x")), "b.wav^FAILED");
    EXPECT_EQ(console.execute("uploads"), "a.wav 1 bytes, split\nb.wav 1 bytes, failed");
    EXPECT_EQ(console.execute("answer maybe").rfind("error: usage: answer", 0), 0u);
    EXPECT_EQ(console.execute("wait-upload c 0"), "error: no upload starting with c");
}
