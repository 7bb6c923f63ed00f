// The package fetch: progress reports, the pump, byte-exact files and the
// promise that a failed fetch leaves nothing behind.
#include "url_fetch.h"
#include "net_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

using nettest::LessonServer;
using testsupport::TempDir;

namespace {

using Clock = std::chrono::steady_clock;

struct Report {
    uint64_t progress, maximum;
    uint32_t status;
};

class Recorder : public IFetchProgress {
public:
    std::vector<Report> reports;
    std::vector<Clock::time_point> pumps;
    int stopAfterPumps = -1;

    void OnProgress(uint64_t progress, uint64_t maximum, uint32_t statusCode) override {
        reports.push_back({progress, maximum, statusCode});
    }
    bool Pump() override {
        pumps.push_back(Clock::now());
        return stopAfterPumps < 0 || static_cast<int>(pumps.size()) < stopAfterPumps;
    }
    long LongestPumpGapMs() const {
        long gap = 0;
        for (size_t i = 1; i < pumps.size(); ++i)
            gap = std::max<long>(gap, std::chrono::duration_cast<std::chrono::milliseconds>(pumps[i] - pumps[i - 1]).count());
        return gap;
    }
};

// Nothing at all in the folder but what was there before.
std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A served folder with one package in it.
struct Site {
    TempDir root, uploads, local;
    std::string package = nettest::Pattern(700 * 1024 + 17, 7);
    Site() { testsupport::WriteFile(root.file("unit01.viz"), package); }
};

void ExpectProgressFor(const std::vector<Report>& reports, uint64_t size, uint64_t maximum) {
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front().status, kFetchBeginData);
    for (size_t i = 1; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].status, kFetchData);
        EXPECT_GT(reports[i].progress, reports[i - 1].progress);
    }
    for (const auto& r : reports)
        EXPECT_EQ(r.maximum, maximum);
    EXPECT_EQ(reports.back().progress, size);
}

}  // namespace

TEST(UrlFetch, KnownSizeIsReportedAndTheFileIsExact) {
    Site site;
    LessonServer server(site.root.path(), site.uploads.path());
    ASSERT_TRUE(server.started());
    Recorder rec;
    std::string error;
    const std::string local = site.local.file("unit01.viz");
    ASSERT_TRUE(FetchUrlToFile(server.base() + "unit01.viz", local, &rec, &error)) << error;
    EXPECT_EQ(testsupport::ReadFile(local), site.package);
    ExpectProgressFor(rec.reports, site.package.size(), site.package.size());
    EXPECT_FALSE(rec.pumps.empty());
    EXPECT_EQ(Listing(site.local.path()), std::vector<std::string>{"unit01.viz"});
}

TEST(UrlFetch, UnknownSizeGivesMaximumZero) {
    Site site;
    LessonServer server(site.root.path(), site.uploads.path(), {"--chunked"});
    ASSERT_TRUE(server.started());
    Recorder rec;
    std::string error;
    const std::string local = site.local.file("unit01.viz");
    ASSERT_TRUE(FetchUrlToFile(server.base() + "unit01.viz", local, &rec, &error)) << error;
    EXPECT_EQ(testsupport::ReadFile(local), site.package);
    ExpectProgressFor(rec.reports, site.package.size(), 0);
}

TEST(UrlFetch, LocalFileUrl) {
    Site site;
    Recorder rec;
    const std::string local = site.local.file("copy.viz");
    ASSERT_TRUE(FetchUrlToFile("file://" + site.root.file("unit01.viz"), local, &rec));
    EXPECT_EQ(testsupport::ReadFile(local), site.package);
    ASSERT_FALSE(rec.reports.empty());
    EXPECT_EQ(rec.reports.back().progress, site.package.size());
    EXPECT_FALSE(FetchUrlToFile("file://" + site.root.file("missing.viz"), local, &rec));
    EXPECT_FALSE(testsupport::Exists(local));
}

TEST(UrlFetch, FailuresLeaveNoFile) {
    Site site;
    LessonServer plain(site.root.path(), site.uploads.path());
    LessonServer status500(site.root.path(), site.uploads.path(), {"--status", "500"});
    LessonServer dropping(site.root.path(), site.uploads.path(), {"--close-mid-request"});
    LessonServer stalling(site.root.path(), site.uploads.path(), {"--delay-ms", "20000"});
    LessonServer stallingMidBody(site.root.path(), site.uploads.path(), {"--mid-body-delay-ms", "20000"});
    for (auto* s : {&plain, &status500, &dropping, &stalling, &stallingMidBody})
        ASSERT_TRUE(s->started());

    FetchOptions quick;
    quick.connectTimeoutMs = 5000;
    quick.stallTimeoutMs = 400;
    struct Case {
        const char* what;
        std::string url;
        bool bodySeen;  // some of the body arrives before it fails
    } cases[] = {
        {"not found", plain.base() + "nothing.viz", false},
        {"status 500", status500.base() + "unit01.viz", false},
        {"connection dropped halfway", dropping.base() + "unit01.viz", true},
        {"no answer", stalling.base() + "unit01.viz", false},
        {"stalls halfway", stallingMidBody.base() + "unit01.viz", true},
        {"connection refused", "http://127.0.0.1:" + std::to_string(nettest::UnusedPort()) + "/unit01.viz", false},
        {"unknown host", "http://lesson-server.invalid/unit01.viz", false},
        {"unsupported scheme", "ftp://127.0.0.1/unit01.viz", false},
    };
    const std::string local = site.local.file("unit01.viz");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // A stale package from an earlier run must not survive a failed fetch either.
        ASSERT_TRUE(testsupport::WriteFile(local, "stale"));
        Recorder rec;
        std::string error;
        const auto start = Clock::now();
        EXPECT_FALSE(FetchUrlToFile(c.url, local, &rec, quick, &error));
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(8));
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(Listing(site.local.path()).empty());
        EXPECT_EQ(!rec.reports.empty(), c.bodySeen);
    }
}

TEST(UrlFetch, WriteFailureIntoMissingFolder) {
    Site site;
    LessonServer server(site.root.path(), site.uploads.path());
    ASSERT_TRUE(server.started());
    std::string error;
    const std::string local = site.local.file("no/such/folder/unit01.viz");
    EXPECT_FALSE(FetchUrlToFile(server.base() + "unit01.viz", local, nullptr, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(testsupport::Exists(local));
}

TEST(UrlFetch, PumpKeepsComingWhileNothingArrivesAndCanAbort) {
    Site site;
    LessonServer slow(site.root.path(), site.uploads.path(), {"--delay-ms", "600"});
    ASSERT_TRUE(slow.started());
    const std::string local = site.local.file("unit01.viz");
    {
        Recorder rec;
        ASSERT_TRUE(FetchUrlToFile(slow.base() + "unit01.viz", local, &rec));
        EXPECT_GE(rec.pumps.size(), 10u);
        // At least every 50 ms; the margin is for a busy test machine.
        EXPECT_LE(rec.LongestPumpGapMs(), 150);
    }
    {
        Recorder rec;
        rec.stopAfterPumps = 3;
        std::string error;
        const auto start = Clock::now();
        EXPECT_FALSE(FetchUrlToFile(slow.base() + "unit01.viz", local, &rec, &error));
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
        EXPECT_FALSE(testsupport::Exists(local));
        EXPECT_TRUE(Listing(site.local.path()).empty());
    }
}

TEST(UrlFetch, AsksPastEveryCacheAndStaysOffTheLocalDisk) {
    TempDir local;
    {
        nettest::RawServer server({nettest::HttpReply("PK-package")});
        ASSERT_TRUE(FetchUrlToFile(server.Url("unit01.viz"), local.file("a.viz"), nullptr));
        nettest::RawRequest req;
        ASSERT_TRUE(server.WaitRequest(req));
        EXPECT_EQ(nettest::HeaderValue(req.head, "Cache-Control"), "no-cache");
        EXPECT_EQ(nettest::HeaderValue(req.head, "Pragma"), "no-cache");
        EXPECT_EQ(testsupport::ReadFile(local.file("a.viz")), "PK-package");
    }
    {
        // A redirect may lead to another server, never to a file on this machine.
        TempDir secret;
        testsupport::WriteFile(secret.file("secret.txt"), "secret");
        nettest::RawServer server({"HTTP/1.1 302 Found\r\nLocation: file://" + secret.file("secret.txt") +
                                   "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"});
        EXPECT_FALSE(FetchUrlToFile(server.Url("unit01.viz"), local.file("b.viz"), nullptr));
        EXPECT_FALSE(testsupport::Exists(local.file("b.viz")));
    }
}

// Spaces and CP949 bytes in a launcher's address: curl refuses them or sends them
// raw, so they go as %XX; nothing else is touched.
TEST(UrlFetch, AddressesAreEncodedOnlyWhereCurlWouldRefuse) {
    struct Case {
        const char* url;
        const char* sent;
    } cases[] = {
        {"http://h/data/unit 01.viz", "http://h/data/unit%2001.viz"},
        {"http://h/\xB0\xAD\xC1\xC2.viz", "http://h/%B0%AD%C1%C2.viz"},
        {"http://h/get.asp?f=a b&g=%20#x", "http://h/get.asp?f=a%20b&g=%20#x"},
        {"http://h/already%20encoded.viz", "http://h/already%20encoded.viz"},
        {"http://h\xB0:80/x", "http://h\xB0:80/x"},  // the host is curl's to judge
        {"http://h", "http://h"},
        {"file:///tmp/a b.viz", "file:///tmp/a%20b.viz"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EncodeUrlForFetch(c.url), c.sent) << c.url;

    TempDir local;
    const std::string name = "\xB0\xAD \xC1\xC2.viz";  // "강 좌.viz" in CP949
    nettest::RawServer server({nettest::HttpReply("PK-package")});
    ASSERT_TRUE(FetchUrlToFile(server.Url(name), local.file("a.viz"), nullptr));
    nettest::RawRequest req;
    ASSERT_TRUE(server.WaitRequest(req));
    EXPECT_EQ(req.head.rfind("GET /%B0%AD%20%C1%C2.viz HTTP/1.1\r\n", 0), 0u) << req.head;
    // A local file of that name, through a file:// address.
    ASSERT_TRUE(testsupport::WriteFile(local.file(name), "local package"));
    ASSERT_TRUE(FetchUrlToFile("file://" + local.file(name), local.file("b.viz"), nullptr));
    EXPECT_EQ(testsupport::ReadFile(local.file("b.viz")), "local package");
}
