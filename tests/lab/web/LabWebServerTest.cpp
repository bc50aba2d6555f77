#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "lab/LabTestWaits.h"
#include "lab/RawPeer.h"
#include "lab/common/LabHttp.h"
#include "lab/web/LabCustomerForm.h"
#include "lab/web/LabWebConsole.h"
#include "lab/web/LabWebServer.h"
#include "support/TempDir.h"

namespace {

using Result = LabHttpRequestReader::Result;

// What a raw client saw of one answer: the head (status line and headers) and the body.
struct Answer {
    std::string head;
    std::string body;
    bool closed = false;

    std::string statusLine() const { return head.substr(0, head.find("\r\n")); }
    bool hasHeader(const std::string& line) const { return head.find("\r\n" + line + "\r\n") != std::string::npos; }
};

Answer split(std::string bytes, bool closed) {
    const auto end = bytes.find("\r\n\r\n");
    if (end == std::string::npos) return {bytes, "", closed};
    return {bytes.substr(0, end + 2), bytes.substr(end + 4), closed};
}

class LabWebServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(folder.path() / "orvane", std::ios::binary) << std::string(4000, 'x') << "end";
        std::filesystem::create_directories(folder.path() / "sub");
        ASSERT_TRUE(server.start());
    }

    RawConnection send(const std::string& request) {
        RawConnection client = RawConnection::connectTo(server.port());
        client.send(request);
        return client;
    }
    // Sends a request and reads until the server closes the connection.
    Answer exchange(const std::string& request) {
        RawConnection client = send(request);
        const bool closed = client.closedWithin(kWait);
        return split(client.bytesFor(std::chrono::milliseconds(0)), closed);
    }
    Answer get(const std::string& target) { return exchange("GET " + target + " HTTP/1.1\r\nHost: lab\r\n\r\n"); }

    TempDir folder;
    LabWebServer server{{0, folder.str()}};
    LabWebConsole console{server};
};

TEST(LabHttpRequestReader, AssemblesRequestsFromPiecesWithTheirBodies) {
    LabHttpRequestReader reader;
    EXPECT_EQ(reader.add("POST /submit?a=%41+b&c=%G1&flag HTTP/1.1\r\nContent-"), Result::Incomplete);
    EXPECT_EQ(reader.add("Length: 5\r\nX-Note:  padded \r\n\r\nkin"), Result::Incomplete);
    ASSERT_EQ(reader.add("d=1"), Result::Complete);
    const LabHttpRequest& request = reader.request();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/submit");
    EXPECT_EQ(request.body, "kind=");  // only Content-Length bytes belong to it
    EXPECT_EQ(request.headers.at("x-note"), "padded");
    EXPECT_EQ(request.parameter("a"), "A b");
    EXPECT_EQ(request.parameter("c"), "%G1");  // a malformed escape stays as sent
    EXPECT_EQ(request.parameter("flag"), "");
    EXPECT_EQ(request.parameter("missing"), std::nullopt);
}

TEST(LabHttpRequestReader, RefusesWhatItCannotServe) {
    const auto statusFor = [](const std::string& bytes) {
        LabHttpRequestReader reader;
        return reader.add(bytes) == Result::Bad ? reader.errorStatus() : 0;
    };
    EXPECT_EQ(statusFor("GET /\r\n\r\n"), 400);
    EXPECT_EQ(statusFor("GET  / HTTP/1.1\r\n\r\n"), 400);
    EXPECT_EQ(statusFor("GET http://x/ HTTP/1.1\r\n\r\n"), 400);
    EXPECT_EQ(statusFor("GET / HTTP/1.1\r\nno colon\r\n\r\n"), 400);
    EXPECT_EQ(statusFor("GET / HTTP/2.0\r\n\r\n"), 505);
    EXPECT_EQ(statusFor("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"), 501);
    EXPECT_EQ(statusFor("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n"), 400);
    EXPECT_EQ(statusFor("POST / HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n"), 413);
    EXPECT_EQ(statusFor("GET / HTTP/1.1\r\nX: " + std::string(LabHttpRequestReader::kHeadLimit, 'a')), 431);
}

TEST_F(LabWebServerTest, ServesTheCustomerFormWithItsTitleScriptAndEscapedValues) {
    const Answer answer = get("/form?client=C42&campaign=Winter&status=%3Cb%3E&submit-after=250&AGENT_ID=1001");
    EXPECT_EQ(answer.statusLine(), "HTTP/1.1 200 OK");
    EXPECT_TRUE(answer.hasHeader("Content-Length: " + std::to_string(answer.body.size())));
    EXPECT_TRUE(answer.hasHeader("Connection: close"));
    EXPECT_NE(answer.body.find("document.title = \"submit:required\""), std::string::npos);
    EXPECT_NE(answer.body.find("\".submit:sent\""), std::string::npos);
    EXPECT_NE(answer.body.find("const submitAfter = 250;"), std::string::npos);
    EXPECT_NE(answer.body.find("value=\"&lt;b&gt;\""), std::string::npos);
    EXPECT_EQ(answer.body.find("<b>"), std::string::npos);
    EXPECT_EQ(server.waitForRequest("GET /form?client=C42", kWait),
              "GET /form?client=C42&campaign=Winter&status=%3Cb%3E&submit-after=250&AGENT_ID=1001");

    EXPECT_EQ(exchange("POST /submit HTTP/1.1\r\nContent-Length: 11\r\n\r\nkind=submit").statusLine(), "HTTP/1.1 200 OK");
    EXPECT_EQ(server.waitForRequest("POST /submit", kWait), "POST /submit kind=submit");
    EXPECT_EQ(get("/submit").statusLine(), "HTTP/1.1 405 Method Not Allowed");
}

TEST(LabCustomerForm, TitlesFollowTheOutcomeLayout) {
    LabCustomerForm form;
    form.client = "C42";
    form.campaign = "Winter";
    form.status = "SOLD";
    EXPECT_EQ(form.submittedTitle(), "C42-Winter-SOLD.submit:sent");
    form.transferTo = "5551234";
    EXPECT_EQ(form.submittedTitle(), "C42-Winter-SOLD.5551234.transfer:sent");
    form.transferTo = "";
    EXPECT_EQ(form.submittedTitle(), "C42-Winter-SOLD..transfer:sent");
    form.transferTo = "\"</script>";
    EXPECT_EQ(form.html().find("\"</script>"), std::string::npos);
}

TEST_F(LabWebServerTest, ServesTheFolderFilesAndNothingOutsideIt) {
    const Answer file = get("/orvane");
    EXPECT_EQ(file.statusLine(), "HTTP/1.1 200 OK");
    EXPECT_TRUE(file.hasHeader("Content-Length: 4003"));
    EXPECT_TRUE(file.hasHeader("Content-Type: application/octet-stream"));
    EXPECT_EQ(file.body, std::string(4000, 'x') + "end");

    const Answer head = exchange("HEAD /orvane HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(head.hasHeader("Content-Length: 4003"));
    EXPECT_EQ(head.body, "");

    for (const char* missing : {"/absent", "/../orvane", "/sub", "/sub/", "/.hidden", "/"})
        EXPECT_EQ(get(missing).statusLine(), "HTTP/1.1 404 Not Found") << missing;
    EXPECT_EQ(exchange("DELETE /orvane HTTP/1.1\r\n\r\n").statusLine(), "HTTP/1.1 405 Method Not Allowed");
    EXPECT_EQ(exchange("GET / HTTP/3\r\n\r\n").statusLine(), "HTTP/1.1 505 HTTP Version Not Supported");
}

TEST_F(LabWebServerTest, PlaysEachFaultOnTheNextRequestsOnly) {
    ASSERT_EQ(console.execute("not-found 2"), "ok");
    EXPECT_EQ(get("/orvane").statusLine(), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(get("/orvane").statusLine(), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(get("/orvane").statusLine(), "HTTP/1.1 200 OK");

    ASSERT_EQ(console.execute("drop"), "ok");
    const Answer dropped = get("/orvane");
    EXPECT_TRUE(dropped.hasHeader("Content-Length: 4003"));
    EXPECT_EQ(dropped.body, std::string(2001, 'x'));
    EXPECT_TRUE(dropped.closed);

    ASSERT_EQ(console.execute("stall-after-headers"), "ok");
    RawConnection headersOnly = send("GET /orvane HTTP/1.1\r\n\r\n");
    const std::string head = headersOnly.bytes(20, kWait);
    EXPECT_TRUE(head.starts_with("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(headersOnly.bytesFor(kQuiet).find("xxxx"), std::string::npos);
    EXPECT_FALSE(headersOnly.closedWithin(kQuiet));

    ASSERT_EQ(console.execute("stall"), "ok");
    RawConnection unanswered = send("GET /orvane HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(server.waitForRequest("GET /orvane", kWait));
    EXPECT_EQ(unanswered.bytesFor(kQuiet), "");
    EXPECT_EQ(get("/orvane").statusLine(), "HTTP/1.1 200 OK");  // other clients are served meanwhile

    ASSERT_EQ(console.execute("not-found 1 /orvane"), "ok");  // for that path only
    EXPECT_EQ(get("/form").statusLine(), "HTTP/1.1 200 OK");
    EXPECT_EQ(get("/orvane").statusLine(), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(get("/orvane").statusLine(), "HTTP/1.1 200 OK");

    ASSERT_EQ(console.execute("stall 3"), "ok");
    ASSERT_EQ(console.execute("normal"), "ok");
    EXPECT_EQ(get("/orvane").statusLine(), "HTTP/1.1 200 OK");

    server.stop();  // ends the stalled connections too
    EXPECT_TRUE(unanswered.closedWithin(kWait));
    EXPECT_TRUE(headersOnly.closedWithin(kWait));
}

TEST_F(LabWebServerTest, AnswersBadRequestsAndKeepsServing) {
    EXPECT_EQ(exchange("NONSENSE\r\n\r\n").statusLine(), "HTTP/1.1 400 Bad Request");
    RawConnection silent = RawConnection::connectTo(server.port());  // holds its own thread only
    EXPECT_EQ(get("/form").statusLine(), "HTTP/1.1 200 OK");
}

TEST_F(LabWebServerTest, ConsoleCommandsAndTheirMistakes) {
    EXPECT_EQ(console.execute(""), "");
    EXPECT_EQ(console.execute("# a comment"), "");
    EXPECT_EQ(console.execute("form-url client=C42"), server.url("/form?client=C42"));
    EXPECT_EQ(console.execute("stall none"), "error: usage: stall [COUNT] [PATH]");
    EXPECT_EQ(console.execute("drop 0"), "error: usage: drop [COUNT] [PATH]");
    EXPECT_EQ(console.execute("wait-request"), "error: usage: wait-request PREFIX [SECONDS]");
    EXPECT_EQ(console.execute("wait-request GET 0"), "error: no request starting with GET");
    get("/form");
    EXPECT_EQ(console.execute("wait-request GET 2"), "ok: GET /form");
    EXPECT_EQ(console.execute("clear"), "ok");
    EXPECT_EQ(console.execute("wait-request GET 0"), "error: no request starting with GET");
    EXPECT_EQ(console.execute("dance"), "error: unknown command dance (try help)");
    EXPECT_NE(console.execute("help").find("stall-after-headers [COUNT]"), std::string::npos);
}

}  // namespace
