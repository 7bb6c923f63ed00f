// The reference lesson server and the vorur-upload tool, run as programs:
// serving files, taking uploads, refusing what could escape its folders, the
// fault modes, a clean stop, and sending a kept recording or a whole outbox.
#include "http_file_up.h"
#include "launch_link.h"
#include "net_test_util.h"
#include "outbox.h"
#include "test_support.h"
#include "url_fetch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using nettest::LessonServer;
using testsupport::TempDir;

namespace {

const std::string kName = "A01_L03_D5_SP_kim7.mp3";

std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string StatusLine(const std::string& response) { return response.substr(0, response.find("\r\n")); }

}  // namespace

TEST(LessonServer, ServesFilesUnderItsRootOnly) {
    TempDir root, uploads, outside, local;
    const std::string package = nettest::Pattern(300000, 3);
    std::filesystem::create_directory(root.file("course"));
    ASSERT_TRUE(testsupport::WriteFile(root.file("course/unit01.viz"), package));
    ASSERT_TRUE(testsupport::WriteFile(outside.file("secret.txt"), "secret"));
    std::filesystem::create_symlink(outside.file("secret.txt"), root.file("link.txt"));
    std::filesystem::create_directory_symlink(outside.path(), root.file("linkdir"));

    LessonServer server(root.path(), uploads.path());
    ASSERT_TRUE(server.started());
    EXPECT_NE(server.port(), 0);

    ASSERT_TRUE(FetchUrlToFile(server.base() + "course/unit01.viz", local.file("u.viz"), nullptr));
    EXPECT_EQ(testsupport::ReadFile(local.file("u.viz")), package);

    const std::string outsideName = std::filesystem::path(outside.path()).filename().string();
    for (const std::string& target :
         {"/../" + outsideName + "/secret.txt", "/%2e%2e/" + outsideName + "/secret.txt",
          "/course/..%2f..%2f" + outsideName + "/secret.txt", std::string("/link.txt"),
          std::string("/linkdir/secret.txt"), std::string("/course")}) {
        const std::string response =
            nettest::RawExchange(server.port(), "GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(StatusLine(response).substr(0, 12), "HTTP/1.1 404") << target;
        EXPECT_EQ(response.find("secret"), std::string::npos) << target;
    }
}

// The demo portal lists the packages at the top of the root as launch links that
// the player accepts and that lead back to each package, one to practise and one to
// record, and nothing else.
TEST(LessonServer, PortalPageLinksEveryPackageForThePlayer) {
    TempDir root, uploads, local;
    const std::string first = nettest::Pattern(5000, 1), second = nettest::Pattern(7000, 2);
    const std::string oddName = "a&b \xB1\xE8.VIZ";
    ASSERT_TRUE(testsupport::WriteFile(root.file("unit01.viz"), first));
    ASSERT_TRUE(testsupport::WriteFile(root.file(oddName), second));
    ASSERT_TRUE(testsupport::WriteFile(root.file("notes.txt"), "x"));
    std::filesystem::create_directory(root.file("folder.viz"));
    LessonServer server(root.path(), uploads.path());
    ASSERT_TRUE(server.started());

    const std::string page = nettest::RawExchange(
        server.port(), "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(StatusLine(page), "HTTP/1.1 200 OK");
    EXPECT_NE(page.find("text/html; charset=utf-8"), std::string::npos);
    std::vector<std::string> links;
    for (size_t at = page.find("href=\""); at != std::string::npos; at = page.find("href=\"", at + 1)) {
        std::string link = page.substr(at + 6, page.find('"', at + 6) - at - 6);
        for (size_t amp; (amp = link.find("&amp;")) != std::string::npos;)
            link.replace(amp, 5, "&");
        links.push_back(link);
    }
    ASSERT_EQ(links.size(), 4u) << page;
    const std::vector<std::string> expected[] = {{oddName, second, "PRACTICE"}, {oddName, second, "1"},
                                                 {"unit01.viz", first, "PRACTICE"}, {"unit01.viz", first, "1"}};
    for (size_t i = 0; i < links.size(); ++i) {
        SCOPED_TRACE(links[i]);
        LaunchLinkResult r = ParseLaunchLink(links[i], {"127.0.0.1"});
        ASSERT_EQ(r.fault, LaunchLinkFault::None);
        EXPECT_EQ(r.args[6], expected[i][2]);
        EXPECT_EQ(r.args[1], "kim7");
        ASSERT_TRUE(FetchUrlToFile(r.args[0], local.file("p.viz"), nullptr));
        EXPECT_EQ(testsupport::ReadFile(local.file("p.viz")), expected[i][1]);
    }
    // A Host header that is no plain host does not reach the page.
    const std::string odd = nettest::RawExchange(
        server.port(), "GET / HTTP/1.1\r\nHost: <x>\"\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(odd.find("<x>"), std::string::npos);
    EXPECT_NE(odd.find("127.0.0.1%3A" + std::to_string(server.port())), std::string::npos);
}

TEST(LessonServer, StoresUploadsUnderTheirOwnName) {
    TempDir root, base, local;
    const std::string uploadsPath = base.file("uploads");  // created by the server
    struct {
        std::string path() const { return folder; }
        std::string file(const std::string& name) const { return folder + "/" + name; }
        std::string folder;
    } uploads{uploadsPath};
    LessonServer server(root.path(), uploads.path());
    ASSERT_TRUE(server.started());

    // A long test run's recording.
    const std::string recording = nettest::Pattern(21 * 1024 * 1024, 5);
    ASSERT_TRUE(testsupport::WriteFile(local.file("rec.mp3"), recording));
    std::string reply;
    ASSERT_EQ(UploadFile(server.UploadUrl(), kName, local.file("rec.mp3"), reply), 1);
    EXPECT_EQ(reply, "OK");
    EXPECT_EQ(testsupport::ReadFile(uploads.file(kName)), recording);

    // Folder parts of either kind are dropped; a second upload replaces the first.
    ASSERT_TRUE(testsupport::WriteFile(local.file("small.mp3"), "ID3 small"));
    for (const std::string name : {"sub/dir/a.mp3", "C:\\Rec\\b.mp3", "x/y\\a.mp3", "../../c.mp3", "..\\..\\c.mp3"}) {
        reply.clear();
        EXPECT_EQ(UploadFile(server.UploadUrl(), name, local.file("small.mp3"), reply), 1) << name;
        EXPECT_EQ(reply, "OK") << name;
    }
    EXPECT_EQ(Listing(uploads.path()), (std::vector<std::string>{kName, "a.mp3", "b.mp3", "c.mp3"}));
    EXPECT_EQ(testsupport::ReadFile(uploads.file("a.mp3")), "ID3 small");
    EXPECT_EQ(Listing(base.path()), std::vector<std::string>{"uploads"});
}

TEST(LessonServer, RefusesUnsafeUploadNames) {
    TempDir root, uploads, local;
    LessonServer server(root.path(), uploads.path());
    ASSERT_TRUE(server.started());
    ASSERT_TRUE(testsupport::WriteFile(local.file("rec.mp3"), "ID3 data"));
    for (const std::string name : {"", ".", "..", "a/..", "a\\..", "../", "..\\", "a/b/"}) {
        std::string reply;
        EXPECT_EQ(UploadFile(server.UploadUrl(), name, local.file("rec.mp3"), reply), 1) << name;
        EXPECT_EQ(reply.find("OK"), std::string::npos) << name << ": " << reply;
    }
    // Nothing stored, nothing left over.
    EXPECT_TRUE(Listing(uploads.path()).empty());

    // A POST without the file part is no upload either.
    const std::string body = "-----------------------------7d16d3Dorev\r\n"
                             "Content-Disposition: form-data; name=\"other\"; filename=\"x.mp3\"\r\n\r\n"
                             "data\r\n-----------------------------7d16d3Dorev--\r\n";
    const std::string response = nettest::RawExchange(
        server.port(), "POST /" + std::string(nettest::kUploadPath) +
                           " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Type: multipart/form-data; "
                           "boundary=---------------------------7d16d3Dorev\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_EQ(StatusLine(response).substr(0, 12), "HTTP/1.1 400");
    EXPECT_EQ(response.find("OK"), std::string::npos);
    EXPECT_TRUE(Listing(uploads.path()).empty());
}

TEST(LessonServer, FaultModes) {
    TempDir root, uploads, local;
    ASSERT_TRUE(testsupport::WriteFile(local.file("rec.mp3"), nettest::Pattern(3 * 1024 * 1024)));
    {
        LessonServer server(root.path(), uploads.path(), {"--reply", "NOT OK"});
        std::string reply;
        EXPECT_EQ(UploadFile(server.UploadUrl(), kName, local.file("rec.mp3"), reply), 1);
        EXPECT_EQ(reply, "NOT OK");
        EXPECT_TRUE(testsupport::Exists(uploads.file(kName)));
        std::filesystem::remove(uploads.file(kName));
    }
    {
        LessonServer server(root.path(), uploads.path(), {"--status", "500"});
        std::string reply;
        EXPECT_EQ(UploadFile(server.UploadUrl(), kName, local.file("rec.mp3"), reply), 1);
        EXPECT_EQ(reply, "ERROR");
    }
    {
        LessonServer server(root.path(), uploads.path(), {"--close-mid-request"});
        std::string reply = "untouched";
        EXPECT_EQ(UploadFile(server.UploadUrl(), kName, local.file("rec.mp3"), reply), 0);
        EXPECT_EQ(reply, "untouched");
    }
    {
        LessonServer server(root.path(), uploads.path(), {"--delay-ms", "300", "--reply", "ok"});
        std::string reply;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(UploadFile(server.UploadUrl(), kName, local.file("rec.mp3"), reply), 1);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
        EXPECT_EQ(reply, "ok");
        std::filesystem::remove(uploads.file(kName));
    }
    EXPECT_TRUE(Listing(uploads.path()).empty());
}

TEST(LessonServer, StopsCleanlyAndReportsABusyPort) {
    TempDir root, uploads;
    TempDir local;
    ASSERT_TRUE(testsupport::WriteFile(local.file("rec.mp3"), "ID3 data"));
    for (int sig : {SIGTERM, SIGINT}) {
        LessonServer server(root.path(), uploads.path(), {"--delay-ms", "20000"});
        ASSERT_TRUE(server.started());
        // Even with a client waiting for a slow answer.
        std::thread client([&] {
            std::string reply;
            UploadFile(server.UploadUrl(), kName, local.file("rec.mp3"), reply);
        });
        usleep(200000);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(server.Stop(sig), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        client.join();
    }
    for (int i = 0; i < 5; ++i) {
        // Told to stop the moment it is up.
        LessonServer server(root.path(), uploads.path());
        ASSERT_TRUE(server.started());
        EXPECT_EQ(server.Stop(SIGTERM, 3000), 0);
    }
    {
        LessonServer first(root.path(), uploads.path());
        ASSERT_TRUE(first.started());
        const auto result = nettest::RunProgram(
            "lesson-server",
            {"--root", root.path(), "--uploads", uploads.path(), "--port", std::to_string(first.port())});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_FALSE(result.err.empty());
    }
    {
        const auto result = nettest::RunProgram("lesson-server", {"--root", root.path()});
        EXPECT_NE(result.status, 0);
    }
}

TEST(VorurUpload, SendsAKeptRecording) {
    TempDir root, uploads, local;
    const std::string recording = nettest::Pattern(100000, 9);
    ASSERT_TRUE(testsupport::WriteFile(local.file("kept.mp3"), recording));
    LessonServer server(root.path(), uploads.path());
    ASSERT_TRUE(server.started());

    auto result = nettest::RunProgram("vorur-upload", {server.UploadUrl(), kName, local.file("kept.mp3")});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "OK\n");
    EXPECT_EQ(testsupport::ReadFile(uploads.file(kName)), recording);

    // A reply that turns the upload down is printed, and is no success: 2, as
    // for a refused recording of the outbox.
    LessonServer refusing(root.path(), uploads.path(), {"--reply", "FULL"});
    result = nettest::RunProgram("vorur-upload", {refusing.UploadUrl(), kName, local.file("kept.mp3")});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "FULL\n");
    EXPECT_NE(result.err.find("did not accept"), std::string::npos) << result.err;

    struct Failing {
        std::vector<std::string> args;
        std::string inError;
    } failing[] = {
        {{"http://127.0.0.1:" + std::to_string(nettest::UnusedPort()) + "/x.asp", kName, local.file("kept.mp3")},
         "connect"},
        {{server.UploadUrl(), kName, local.file("missing.mp3")}, "missing.mp3"},
        {{"http://127.0.0.1", kName, local.file("kept.mp3")}, "Invalid server url"},
        {{"http://127.0.0.1:0/x.asp", kName, local.file("kept.mp3")}, "port"},
        {{server.UploadUrl(), kName}, "usage"},
    };
    for (const auto& f : failing) {
        result = nettest::RunProgram("vorur-upload", f.args);
        EXPECT_EQ(result.status, 1) << f.inError;
        EXPECT_EQ(result.out, "") << f.inError;
        EXPECT_NE(result.err.find(f.inError), std::string::npos) << result.err;
    }
}

// Every file and folder under `folder` with its mode and bytes, for a before
// and after.
std::string Snapshot(const std::string& folder) {
    struct stat top {};
    stat(folder.c_str(), &top);
    std::vector<std::string> lines = {std::to_string(top.st_mode)};
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
        struct stat st {};
        lstat(e.path().c_str(), &st);
        lines.push_back(e.path().string() + " " + std::to_string(st.st_mode) + " " +
                        (S_ISREG(st.st_mode) ? testsupport::ReadFile(e.path().string()) : ""));
    }
    std::sort(lines.begin(), lines.end());
    std::string all;
    for (const std::string& line : lines)
        all += line + "\n";
    return all;
}

TEST(VorurUpload, SendsAWholeOutbox) {
    TempDir root, uploads, data, logs;
    LessonServer server(root.path(), uploads.path(), {}, logs.file("server.log"));
    LessonServer refusing(root.path(), uploads.path(), {"--reply", "FULL"});
    ASSERT_TRUE(server.started() && refusing.started());
    const std::string away = "http://127.0.0.1:" + std::to_string(nettest::UnusedPort()) + "/x.asp";
    const std::string other = "A01_L04_D5_SP_kim7.mp3";
    ASSERT_TRUE(testsupport::WriteFile(data.file("rec.mp3"), "ID3 rec"));

    struct Case {
        std::string url;
        int status;
        std::string out;
        size_t left;  // recordings still in the outbox
    } cases[] = {
        {server.UploadUrl(), 0, kName + ": accepted: OK\n" + other + ": accepted: OK\n", 0},
        {refusing.UploadUrl(), 2, kName + ": refused: FULL\n" + other + ": refused: FULL\n", 2},
        // A server that cannot be reached ends the run.
        {away, 3, kName + ": not sent: ", 2},
    };
    for (const Case& c : cases) {
        const std::string folder = data.file("Outbox");
        std::filesystem::remove_all(folder);
        {
            COutbox outbox(folder);  // the player, which has ended
            ASSERT_TRUE(outbox.Put(kName, data.file("rec.mp3")));
            ASSERT_TRUE(outbox.Put(other, data.file("rec.mp3")));
            ASSERT_TRUE(outbox.MarkRefused(other));  // refused ones go too
        }
        const auto result = nettest::RunProgram("vorur-upload", {"--outbox", folder, c.url});
        EXPECT_EQ(result.status, c.status) << c.url << result.err;
        EXPECT_EQ(result.out.substr(0, c.out.size()), c.out) << c.url;
        EXPECT_NE(result.err.find("sending " + kName), std::string::npos) << result.err;
        EXPECT_EQ(COutbox(folder).Entries().size(), c.left) << c.url;
    }
    EXPECT_EQ(testsupport::ReadFile(uploads.file(other)), "ID3 rec");
    EXPECT_EQ(nettest::RunProgram("vorur-upload", {"--outbox", data.file("none"), server.UploadUrl()}).status, 1);

    // A folder the player did not make as its outbox is left as it is: the data
    // folder named by a slip, and an outbox of a player before the mark (it gets
    // the mark at that player's next start).
    const int stored = nettest::StoredCount(logs.file("server.log"), "notes.txt");
    struct Foreign {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;  // "/" ends a folder
    } foreign[] = {
        {"a folder of the user's files",
         {{"notes.txt", "mine"}, {"photo.mp3", "mine too"}, {"refused/", ""}, {"refused/old.txt", "old"}}},
        {"an unmarked outbox", {{".lock", ""}, {kName, "ID3 rec"}}},
        {"the player's Temp folder", {{".vorur-ozudiz", "m"}, {"notes.txt", "page"}}},
    };
    for (const Foreign& f : foreign) {
        SCOPED_TRACE(f.what);
        TempDir user;
        for (const auto& [name, bytes] : f.files) {
            if (name.back() == '/')
                std::filesystem::create_directory(user.file(name));
            else
                ASSERT_TRUE(testsupport::WriteFile(user.file(name), bytes));
        }
        chmod(user.path().c_str(), 0755);
        chmod(user.file(f.files[0].first).c_str(), 0644);
        const std::string before = Snapshot(user.path());
        const auto result = nettest::RunProgram("vorur-upload", {"--outbox", user.path(), server.UploadUrl()});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find("is not an outbox the player made"), std::string::npos) << result.err;
        EXPECT_EQ(Snapshot(user.path()), before);
    }
    EXPECT_EQ(nettest::StoredCount(logs.file("server.log"), "notes.txt"), stored);
    EXPECT_EQ(nettest::StoredCount(logs.file("server.log"), kName), 1);  // only the real outbox's
}
