// The outbox of recordings still to be delivered: one newest copy per name, kept
// for the user alone and whole through a crash, bounded, and sent in rounds
// against lesson-server that lose nothing and send nothing twice.
#include "outbox.h"
#include "net_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using nettest::LessonServer;
using testsupport::TempDir;

namespace {

const std::string kName = "A01_L03_D5_SP_kim7.mp3";
const std::string kOther = "A01_L04_D5_SP_kim7.mp3";

std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Name, refused, content of every entry, in the outbox's order.
std::vector<std::string> State(const COutbox& outbox) {
    std::vector<std::string> out;
    for (const OutboxEntry& e : outbox.Entries())
        out.push_back(e.name + (e.refused ? " refused " : " ") + testsupport::ReadFile(e.path));
    return out;
}

void SetAge(const std::string& path, time_t secondsAgo) {
    const timespec times[2] = {{time(nullptr) - secondsAgo, 0}, {time(nullptr) - secondsAgo, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

int Mode(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        usleep(10000);
    }
    return true;
}

// An outbox in a data folder, with source recordings beside it.
struct Box {
    TempDir dir;
    std::string folder = dir.file("Outbox");
    COutbox outbox{folder};

    std::string Source(const std::string& bytes, const std::string& file = "rec.mp3") {
        testsupport::WriteFile(dir.file(file), bytes);
        return dir.file(file);
    }
    bool Put(const std::string& name, const std::string& bytes) { return outbox.Put(name, Source(bytes)); }
};

}  // namespace

TEST(Outbox, KeepsTheNewestCopyPerNameForTheUserAlone) {
    Box box;
    ASSERT_TRUE(box.Put(kName, "first"));
    EXPECT_EQ(Mode(box.folder), 0700);
    EXPECT_EQ(Mode(box.folder + "/" + kName), 0600);
    ASSERT_TRUE(box.Put(kName, "second"));
    EXPECT_EQ(State(box.outbox), std::vector<std::string>{kName + " second"});
    ASSERT_TRUE(box.outbox.MarkRefused(kName));
    EXPECT_EQ(State(box.outbox), std::vector<std::string>{kName + " refused second"});
    EXPECT_EQ(Mode(box.folder + "/refused"), 0700);
    // A new run's copy supersedes the refused one.
    ASSERT_TRUE(box.Put(kName, "third"));
    ASSERT_TRUE(box.Put(kOther, "other"));
    EXPECT_EQ(State(box.outbox), (std::vector<std::string>{kName + " third", kOther + " other"}));
    box.outbox.Drop(kName);
    EXPECT_EQ(State(box.outbox), std::vector<std::string>{kOther + " other"});
    EXPECT_EQ(Listing(box.folder), (std::vector<std::string>{".lock", kOther, "refused"}));

    // Any upload name is one file name and back.
    struct Name {
        std::string upload, file;
    } names[] = {
        {kName, kName},
        {"a/b%c.mp3", "a%2Fb%25c.mp3"},
        {"../up.mp3", "%2E.%2Fup.mp3"},
        {"refused", "%72efused"},
        {"a\r\nb.mp3", "a%0D%0Ab.mp3"},
        {"\xb1\xe8\xc3\xb6.mp3", "\xb1\xe8\xc3\xb6.mp3"},  // CP949 stays as it is
    };
    Box named;
    for (const Name& n : names) {
        EXPECT_EQ(OutboxFileName(n.upload), n.file);
        EXPECT_EQ(OutboxUploadName(n.file), n.upload);
        ASSERT_TRUE(named.Put(n.upload, "x")) << n.file;
        EXPECT_TRUE(testsupport::Exists(named.folder + "/" + n.file)) << n.file;
    }
    EXPECT_EQ(named.outbox.Entries().size(), std::size(names));
    EXPECT_EQ(Listing(box.dir.path()).size(), 2u);  // the outbox and the source, nothing outside

    // What cannot be taken in whole leaves the outbox as it was.
    Box failing;
    ASSERT_TRUE(failing.Put(kName, "kept"));
    EXPECT_FALSE(failing.outbox.Put(kName, failing.dir.file("missing.mp3")));
    EXPECT_FALSE(failing.outbox.Put(kName, failing.dir.path()));
    EXPECT_FALSE(failing.Put(std::string(250, 'n'), "x"));
    EXPECT_FALSE(failing.Put("", "x"));
    EXPECT_EQ(State(failing.outbox), std::vector<std::string>{kName + " kept"});
    EXPECT_EQ(Listing(failing.folder), std::vector<std::string>{kName});
}

TEST(Outbox, StaysWithinItsLimitsAndMendsWhatACrashLeft) {
    Box box;
    const std::string f = box.folder + "/";
    // A full outbox: the oldest beyond the count go, and so does anything too old.
    for (size_t i = 0; i < COutbox::kMaxEntries; ++i) {
        const std::string name = "n" + std::to_string(i) + ".mp3";
        ASSERT_TRUE(box.Put(name, "x"));
        SetAge(f + name, 1000 + static_cast<time_t>(i));  // n0 newest
    }
    SetAge(f + "n7.mp3", COutbox::kMaxAgeSeconds + 100);
    ASSERT_TRUE(box.Put(kName, "new"));
    ASSERT_TRUE(box.Put(kOther, "new"));
    auto entries = box.outbox.Entries();
    EXPECT_EQ(entries.size(), COutbox::kMaxEntries);
    EXPECT_FALSE(testsupport::Exists(f + "n7.mp3"));                                  // too old
    EXPECT_FALSE(testsupport::Exists(f + "n" + std::to_string(COutbox::kMaxEntries - 1) + ".mp3"));  // oldest
    EXPECT_TRUE(testsupport::Exists(f + "n" + std::to_string(COutbox::kMaxEntries - 2) + ".mp3"));
    EXPECT_EQ(entries.back().name, kOther);  // oldest first
    EXPECT_TRUE(testsupport::Exists(f + kName));

    // What a process killed at any moment leaves behind.
    Box crashed;
    const std::string c = crashed.folder + "/";
    ASSERT_TRUE(crashed.Put(kName, "newer"));
    ASSERT_TRUE(crashed.Put(kOther, "x"));
    ASSERT_TRUE(crashed.outbox.MarkRefused(kOther));
    std::filesystem::rename(c + kName, c + ".sending." + kName);  // killed mid-send
    ASSERT_TRUE(crashed.Put(kName, "newest"));                    // a newer run meanwhile
    ASSERT_TRUE(testsupport::WriteFile(c + ".sending.half.mp3", "half sent"));
    ASSERT_TRUE(testsupport::WriteFile(c + "refused/.sending." + kOther + "2", "staff's send"));
    ASSERT_TRUE(testsupport::WriteFile(c + ".tmp-OLD", "half copied"));
    SetAge(c + ".tmp-OLD", 7200);
    ASSERT_TRUE(testsupport::WriteFile(c + ".tmp-NEW", "being copied"));
    ASSERT_TRUE(testsupport::WriteFile(c + "refused/" + kName, "older refusal"));  // killed between two steps
    SetAge(c + "refused/" + kName, 100);
    std::filesystem::create_symlink(box.dir.file("rec.mp3"), c + "link.mp3");

    // A round against nobody: everything is put back, nothing sent or lost.
    const auto round = crashed.outbox.SendAll("http://127.0.0.1:" + std::to_string(nettest::UnusedPort()) + "/x.asp");
    EXPECT_EQ(round.failed, 1);
    EXPECT_EQ(State(crashed.outbox), (std::vector<std::string>{kName + " newest", "half.mp3 half sent",
                                                               kOther + " refused x",
                                                               kOther + "2 refused staff's send"}));
    EXPECT_EQ(Listing(crashed.folder),
              (std::vector<std::string>{".lock", ".tmp-NEW", kName, "half.mp3", "link.mp3", "refused"}));
}

TEST(Outbox, RoundsAgainstTheLessonServer) {
    TempDir root, uploads, logs;
    const std::string recording = nettest::Pattern(300000, 4);

    {
        SCOPED_TRACE("a refused port, then the server back: delivered at the next round, once");
        Box box;
        ASSERT_TRUE(box.Put(kName, recording));
        ASSERT_TRUE(box.Put(kOther, "other"));
        const std::string away = "http://127.0.0.1:" + std::to_string(nettest::UnusedPort()) + "/" + nettest::kUploadPath;
        auto round = box.outbox.SendAll(away);
        EXPECT_EQ(round.failed, 1);
        EXPECT_EQ(round.left, 1);  // one attempt per round while the server is away
        EXPECT_EQ(box.outbox.Entries().size(), 2u);

        const std::string log = logs.file("back.log");
        LessonServer server(root.path(), uploads.path(), {}, log);
        ASSERT_TRUE(server.started());
        std::vector<std::string> events;
        round = box.outbox.SendAll(server.UploadUrl(), false, [&](const OutboxEvent& e) {
            if (e.kind != OutboxEvent::Progress)
                events.push_back(e.entry->name + (e.kind == OutboxEvent::Begin ? " begin" : " end " + e.detail));
        });
        EXPECT_EQ(round.delivered, 2);
        EXPECT_EQ(events, (std::vector<std::string>{kName + " begin", kName + " end OK", kOther + " begin",
                                                    kOther + " end OK"}));
        EXPECT_EQ(testsupport::ReadFile(uploads.file(kName)), recording);
        EXPECT_TRUE(box.outbox.Entries().empty());
        round = box.outbox.SendAll(server.UploadUrl());
        EXPECT_EQ(round.delivered + round.failed + round.refused, 0);
        EXPECT_EQ(nettest::StoredCount(log, kName), 1);
        EXPECT_EQ(nettest::StoredCount(log, kOther), 1);
        EXPECT_EQ(Listing(box.folder), std::vector<std::string>{".lock"});
    }

    struct Case {
        std::vector<std::string> options;
        OutboxResult result;
        std::vector<std::string> left;  // the outbox afterwards
    } cases[] = {
        {{"--close-mid-request"}, OutboxResult::Failed, {kName}},
        {{"--reply", "FAIL"}, OutboxResult::Refused, {kName + " refused"}},
        {{"--status", "500"}, OutboxResult::Refused, {kName + " refused"}},
        // "OK" only in the second piece, a second after the first.
        {{"--reply", "SAVED: OK", "--reply-pause-ms", "1000"}, OutboxResult::Delivered, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options[0]);
        Box box;
        ASSERT_TRUE(box.Put(kName, recording));
        const std::string log = logs.file("case.log");
        std::filesystem::remove(log);
        LessonServer server(root.path(), uploads.path(), c.options, log);
        ASSERT_TRUE(server.started());
        OutboxResult result = OutboxResult::Skipped;
        box.outbox.SendAll(server.UploadUrl(), false, [&](const OutboxEvent& e) {
            if (e.kind == OutboxEvent::End)
                result = e.result;
        });
        EXPECT_EQ(result, c.result);
        std::vector<std::string> left;
        for (const OutboxEntry& e : box.outbox.Entries()) {
            left.push_back(e.name + (e.refused ? " refused" : ""));
            EXPECT_EQ(testsupport::ReadFile(e.path), recording);
        }
        EXPECT_EQ(left, c.left);
        // The server has spoken: a refusal is never sent again by itself.
        const int stored = nettest::StoredCount(log, kName);
        box.outbox.SendAll(server.UploadUrl());
        if (c.result == OutboxResult::Refused) {
            EXPECT_EQ(nettest::StoredCount(log, kName), stored);
        }
    }
}

TEST(Outbox, EndingMidSendLosesNothingAndSendsNothingTwice) {
    TempDir root, uploads, logs;
    const std::string log = logs.file("server.log");
    // Large enough that the sender is still writing the body when the server
    // pauses halfway, whatever the sockets buffer.
    const std::string recording = nettest::Pattern(32 << 20, 6);
    LessonServer server(root.path(), uploads.path(), {"--mid-body-delay-ms", "1500"}, log);
    ASSERT_TRUE(server.started());
    Box box;
    ASSERT_TRUE(box.Put(kName, recording));
    const std::string sending = box.folder + "/.sending." + kName;

    {
        SCOPED_TRACE("the player closes mid-send");
        COutbox outbox(box.folder);
        outbox.StartSending(server.UploadUrl());
        ASSERT_TRUE(WaitFor([&] { return testsupport::Exists(sending); }));
        usleep(300000);
        const auto start = std::chrono::steady_clock::now();
        outbox.StopSending();
        // Given up at once, not when the server goes on or a limit runs out.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(State(box.outbox).size(), 1u);
        // The process holds the outbox: support staff's tool keeps off it.
        const auto busy = nettest::RunProgram("vorur-upload", {"--outbox", box.folder, server.UploadUrl()});
        EXPECT_EQ(busy.status, 1);
        EXPECT_NE(busy.err.find("in use"), std::string::npos) << busy.err;
    }
    {
        SCOPED_TRACE("the sender is killed mid-send");
        const pid_t pid = nettest::StartProgram("vorur-upload", {"--outbox", box.folder, server.UploadUrl()});
        ASSERT_TRUE(WaitFor([&] { return testsupport::Exists(sending); }));
        usleep(300000);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        EXPECT_TRUE(testsupport::Exists(sending));
    }
    // The server got neither body whole.
    usleep(1700000);
    EXPECT_FALSE(testsupport::Exists(uploads.file(kName)));

    // The next start: delivered whole, once, and the outbox is empty.
    const auto round = box.outbox.SendAll(server.UploadUrl());
    EXPECT_EQ(round.delivered, 1);
    EXPECT_EQ(testsupport::ReadFile(uploads.file(kName)), recording);
    EXPECT_EQ(nettest::StoredCount(log, kName), 1);
    EXPECT_EQ(Listing(box.folder), std::vector<std::string>{".lock"});
}

// The one slow case: a server that takes 40 s to store a recording before it answers.
TEST(Outbox, ServerThatTakesFortySecondsToAnswerIsWaitedFor) {
    TempDir root, uploads;
    LessonServer server(root.path(), uploads.path(), {"--delay-ms", "40000"});
    ASSERT_TRUE(server.started());
    Box box;
    ASSERT_TRUE(box.Put(kName, "rec"));
    const auto round = box.outbox.SendAll(server.UploadUrl());
    EXPECT_EQ(round.delivered, 1);
    EXPECT_TRUE(box.outbox.Entries().empty());
    EXPECT_EQ(testsupport::ReadFile(uploads.file(kName)), "rec");
}
