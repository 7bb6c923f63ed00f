// The upload request as the lesson server receives it, the body hooks, the URL
// rules, the bounded reply read and the ways an upload fails.
#include "http_file_up.h"
#include "net_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>

using nettest::HttpReply;
using nettest::RawRequest;
using nettest::RawScript;
using nettest::RawServer;

namespace {

const std::string kName = "A01_L03_D5_SP_kim7.mp3";

// The body the server script has always been sent, spelled out here on its own.
std::string ExpectedBody(const std::string& field, const std::string& name, const std::string& file) {
    return "-----------------------------7d16d3Dorev\r\n"
           "Content-Disposition: form-data; name=\"" +
           field + "\"; filename=\"" + name +
           "\"\r\n"
           "Content-Type: image/jpeg\r\n"
           "\r\n" +
           file + "\r\n-----------------------------7d16d3Dorev--\r\n";
}

// Records the hook calls.
class RecordingUp : public CKtHttpFileUp {
public:
    std::vector<std::string> calls;
    int stopAtProgress = -1;  // OnSendProgress call (from 0) that answers false

    void OnSendBegin(size_t total) override { calls.push_back("begin " + std::to_string(total)); }
    bool OnSendProgress(size_t sent, size_t total) override {
        calls.push_back("progress " + std::to_string(sent) + "/" + std::to_string(total));
        return static_cast<int>(calls.size()) - 2 != stopAtProgress;
    }
    void OnSendEnd(size_t total) override { calls.push_back("end " + std::to_string(total)); }
};

int Post(CKtHttpFileUp& up, const std::string& url, const std::string& file, std::string& reply,
         const std::string& name = kName) {
    return up.PostFile(reinterpret_cast<const unsigned char*>(file.data()), file.size(), url, "upload", name, reply);
}

}  // namespace

TEST(HttpFileUp, RequestOnTheWireIsExact) {
    testsupport::TempDir dir;
    const std::string file = nettest::Pattern(5000);
    ASSERT_TRUE(testsupport::WriteFile(dir.file("rec.mp3"), file));
    RawServer server({HttpReply("OK")});

    std::string reply;
    ASSERT_EQ(UploadFile(server.Url(nettest::kUploadPath), kName, dir.file("rec.mp3"), reply), 1);
    EXPECT_EQ(reply, "OK");

    RawRequest req;
    ASSERT_TRUE(server.WaitRequest(req));
    EXPECT_EQ(req.head.substr(0, req.head.find("\r\n")), "POST /RozevaDevur_O2_Veve/sprec_upload2.asp HTTP/1.1");
    EXPECT_EQ(nettest::HeaderValue(req.head, "User-Agent"), "HttpFileUp");
    EXPECT_EQ(nettest::HeaderValue(req.head, "Accept"),
              "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-powerpoint, "
              "application/vnd.ms-excel, application/msword, */*");
    EXPECT_EQ(nettest::HeaderValue(req.head, "Accept-Language"), "ko");
    EXPECT_EQ(nettest::HeaderValue(req.head, "Content-Type"),
              "multipart/form-data; boundary=---------------------------7d16d3Dorev");
    EXPECT_EQ(nettest::HeaderValue(req.head, "Accept-Encoding"), "gzip, deflate");
    for (const char* once : {"User-Agent", "Accept", "Accept-Language", "Content-Type", "Accept-Encoding",
                             "Content-Length", "Host"})
        EXPECT_EQ(nettest::HeaderCount(req.head, once), 1) << once;
    EXPECT_EQ(nettest::HeaderCount(req.head, "Transfer-Encoding"), 0);
    EXPECT_EQ(nettest::HeaderCount(req.head, "Expect"), 0);
    // The three added headers keep their order.
    EXPECT_LT(req.head.find("Accept-Language:"), req.head.find("Content-Type:"));
    EXPECT_LT(req.head.find("Content-Type:"), req.head.find("Accept-Encoding:"));

    const size_t total = 130 + kName.size() + file.size() + 46;
    EXPECT_EQ(nettest::HeaderValue(req.head, "Content-Length"), std::to_string(total));
    EXPECT_EQ(req.body.size(), total);
    EXPECT_EQ(req.body, ExpectedBody("upload", kName, file));
}

TEST(HttpFileUp, BodyGoesOutInChunksWithHooks) {
    RawServer server({HttpReply("OK")});
    struct Case {
        size_t size;
        std::vector<std::string> calls;
    } cases[] = {
        {0, {"begin 0", "end 0"}},
        {8192, {"begin 8192", "progress 4096/8192", "progress 8192/8192", "end 8192"}},
        {8193, {"begin 8193", "progress 4096/8193", "progress 8192/8193", "progress 8193/8193", "end 8193"}},
    };
    for (const auto& c : cases) {
        RecordingUp up;
        EXPECT_EQ(up.m_nChunkSize, 4096);
        std::string reply;
        EXPECT_EQ(Post(up, server.Url(nettest::kUploadPath), nettest::Pattern(c.size), reply), 1) << c.size;
        EXPECT_EQ(up.calls, c.calls) << c.size;
        EXPECT_EQ(reply, "OK");
    }
    // The empty file went first: part header straight followed by the trailer.
    RawRequest first;
    ASSERT_TRUE(server.WaitRequest(first));
    EXPECT_EQ(first.body, ExpectedBody("upload", kName, ""));
}

TEST(HttpFileUp, ProgressHookCanAbandonTheUpload) {
    RawServer server({HttpReply("OK")});
    RecordingUp up;
    up.stopAtProgress = 1;
    std::string reply = "untouched";
    EXPECT_EQ(Post(up, server.Url(nettest::kUploadPath), nettest::Pattern(100000), reply), 0);
    EXPECT_EQ(up.m_strError, "");
    EXPECT_EQ(reply, "untouched");
    EXPECT_EQ(up.calls.back(), "progress 8192/100000");  // no end after an abandon
}

TEST(HttpFileUp, UrlIsTakenApartByItsOwnRules) {
    RawServer server({HttpReply("OK")});
    const std::string hostPort = "127.0.0.1:" + std::to_string(server.port());
    const std::string file = "abc";

    struct Good {
        std::string url;
        std::string requestLine;
    } goods[] = {
        {"HTTP://" + hostPort + "/up.asp", "POST /up.asp HTTP/1.1"},
        {"hTtP://" + hostPort + "/up.asp", "POST /up.asp HTTP/1.1"},
        {hostPort + "/up.asp", "POST /up.asp HTTP/1.1"},
        {"http://" + hostPort + "/dir/up.asp?id=7&x=a/b", "POST /dir/up.asp?id=7&x=a/b HTTP/1.1"},
        // The port is read from its leading digits.
        {"http://" + hostPort + "junk/up.asp", "POST /up.asp HTTP/1.1"},
    };
    for (const auto& g : goods) {
        RawServer one({HttpReply("OK")});
        std::string url = g.url;
        url.replace(url.find(hostPort), hostPort.size(), "127.0.0.1:" + std::to_string(one.port()));
        CKtHttpFileUp up;
        std::string reply;
        EXPECT_EQ(Post(up, url, file, reply), 1) << url;
        RawRequest req;
        ASSERT_TRUE(one.WaitRequest(req)) << url;
        EXPECT_EQ(req.head.substr(0, req.head.find("\r\n")), g.requestLine);
    }

    struct Bad {
        std::string url;
        std::string error;
    } bads[] = {
        {"http://" + hostPort, "Invalid server url"},
        {"http://127.0.0.1:0/up.asp", ""},
        {"http://127.0.0.1:abc/up.asp", ""},
        {"http://127.0.0.1:-8/up.asp", ""},
        {"https://" + hostPort + "/up.asp", ""},
        // One 16-bit port field would turn this into the server's port.
        {"http://127.0.0.1:" + std::to_string(server.port() + 65536) + "/up.asp", ""},
        {"http://127.0.0.1:99999999999999999999/up.asp", ""},
        {"http://" + hostPort + "/up.asp\r\nX-Injected: 1", ""},
    };
    for (const auto& b : bads) {
        CKtHttpFileUp up;
        std::string reply = "untouched";
        EXPECT_EQ(Post(up, b.url, file, reply), 0) << b.url;
        EXPECT_EQ(up.m_strError, b.error) << b.url;
        EXPECT_FALSE(up.FailureReason().empty()) << b.url;
        EXPECT_EQ(reply, "untouched");
    }
    EXPECT_EQ(server.connections(), 0);
}

TEST(HttpFileUp, ReplyIsOneBoundedRead) {
    std::string longReply(15000, 'x');
    longReply.replace(12000, 2, "OK");
    const std::string withNul("AB\0OK", 5);
    // "NOT OK" packed with gzip, as a server may send it after our Accept-Encoding.
    const std::string packed(
        "\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\xf3\xf3\x0f\x51\xf0\xf7\x06\x00\xe0\x10\xfe\xb4\x06\x00\x00\x00",
        26);
    struct Case {
        std::string wire;
        std::string reply;
        bool ends;  // the server ends the reply, though it holds the connection open
    } cases[] = {
        {HttpReply("OK"), "OK", true},
        {HttpReply("NOT OK"), "NOT OK", true},
        {HttpReply("ok"), "ok", true},
        {HttpReply(""), "", true},
        {HttpReply(longReply), longReply.substr(0, 10240), true},
        {HttpReply(withNul), "AB", true},
        {"HTTP/1.1 200 X\r\nContent-Encoding: gzip\r\nContent-Length: 26\r\n\r\n" + packed, "NOT OK", true},
        {"HTTP/1.1 200 X\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nNOT\r\n3\r\n OK\r\n0\r\n\r\n", "NOT OK", true},
        // The status is not looked at.
        {HttpReply("ERROR", 500), "ERROR", true},
        // No length and no close: the reply is what has come by the reply limit.
        {"HTTP/1.1 200 X\r\nContent-Type: text/plain\r\n\r\nOK", "OK", false},
        // A length that never fills up.
        {"HTTP/1.1 200 X\r\nContent-Length: 100\r\n\r\nNOT OK", "NOT OK", false},
    };
    constexpr long kLimitMs = 1500;
    for (const auto& c : cases) {
        RawServer server({c.wire, -1, true});
        CKtHttpFileUp up;
        EXPECT_GE(up.m_nReplyTimeoutMs, 120000);  // long enough for a server storing a long recording
        up.m_nReplyTimeoutMs = kLimitMs;
        std::string reply = "stale";
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(Post(up, server.Url(nettest::kUploadPath), "data", reply), 1) << c.reply;
        EXPECT_EQ(reply, c.reply);
        // A reply the server ends is taken at once; only one it never ends waits for the limit.
        const auto took = std::chrono::steady_clock::now() - start;
        if (c.ends)
            EXPECT_LT(took, std::chrono::milliseconds(kLimitMs)) << c.reply;
        else
            EXPECT_GE(took, std::chrono::milliseconds(kLimitMs)) << c.reply;
    }
}

TEST(HttpFileUp, ReplyThatNeverComesLeavesTheStringAlone) {
    // The answer has begun (status and headers), its body never comes.
    RawServer server({"HTTP/1.1 200 X\r\nContent-Length: 10\r\n\r\n", -1, true});
    CKtHttpFileUp up;
    up.m_nReplyTimeoutMs = 300;
    std::string reply = "untouched";
    EXPECT_EQ(Post(up, server.Url(nettest::kUploadPath), "data", reply), 1);
    EXPECT_EQ(reply, "untouched");
}

TEST(HttpFileUp, FailuresReturnZeroWithAText) {
    const std::string big = nettest::Pattern(2 * 1024 * 1024);
    {
        SCOPED_TRACE("server drops the connection halfway through the body");
        RawServer server({HttpReply("OK"), 100000});
        CKtHttpFileUp up;
        std::string reply = "untouched";
        EXPECT_EQ(Post(up, server.Url(nettest::kUploadPath), big, reply), 0);
        EXPECT_FALSE(up.m_strError.empty());
        EXPECT_EQ(reply, "untouched");
    }
    {
        SCOPED_TRACE("server takes the whole body and closes without an answer");
        RawServer server({"", 1 << 30});
        CKtHttpFileUp up;
        std::string reply = "untouched";
        EXPECT_EQ(Post(up, server.Url(nettest::kUploadPath), "data", reply), 0);
        EXPECT_FALSE(up.m_strError.empty());
    }
    {
        SCOPED_TRACE("server never answers");
        RawServer server({"", -1, true});
        CKtHttpFileUp up;
        up.m_nReplyTimeoutMs = 300;
        std::string reply = "untouched";
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Post(up, server.Url(nettest::kUploadPath), "data", reply), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_FALSE(up.m_strError.empty());
    }
    {
        SCOPED_TRACE("connection refused");
        CKtHttpFileUp up;
        std::string reply = "untouched";
        EXPECT_EQ(Post(up, "http://127.0.0.1:" + std::to_string(nettest::UnusedPort()) + "/up.asp", "data", reply),
                  0);
        EXPECT_FALSE(up.m_strError.empty());
        EXPECT_EQ(reply, "untouched");
    }
}

TEST(HttpFileUp, NamesThatDoNotFitThePartHeaderAreRefused) {
    RawServer server({HttpReply("OK")});
    const std::string url = server.Url(nettest::kUploadPath);
    std::string reply;
    {
        CKtHttpFileUp up;  // "upload" plus 893 characters: exactly full
        ASSERT_EQ(Post(up, url, "x", reply, std::string(893, 'n')), 1);
        RawRequest req;
        ASSERT_TRUE(server.WaitRequest(req));
        EXPECT_EQ(req.body, ExpectedBody("upload", std::string(893, 'n'), "x"));
    }
    const int before = server.connections();
    for (const std::string& name : {std::string(894, 'n'), std::string(100000, 'n'), std::string("a\"b.mp3"),
                                    std::string("a.mp3\r\nContent-Type: text/html")}) {
        CKtHttpFileUp up;
        reply = "untouched";
        EXPECT_EQ(Post(up, url, "x", reply, name), 0);
        EXPECT_FALSE(up.m_strError.empty());
        EXPECT_EQ(reply, "untouched");
    }
    EXPECT_EQ(server.connections(), before);
}

TEST(HttpFileUp, UnreadableLocalFileSendsNothing) {
    testsupport::TempDir dir;
    RawServer server({HttpReply("OK")});
    std::string reply = "untouched";
    std::string error;
    EXPECT_EQ(UploadFile(server.Url(nettest::kUploadPath), kName, dir.file("missing.mp3"), reply, &error), 0);
    EXPECT_NE(error.find("missing.mp3"), std::string::npos);
    EXPECT_EQ(UploadFile(server.Url(nettest::kUploadPath), kName, dir.path(), reply, &error), 0);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(reply, "untouched");
    EXPECT_EQ(server.connections(), 0);
}
