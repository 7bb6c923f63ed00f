// The outbox of recordings still to be delivered: one newest copy per name, kept
// for the user alone and whole through a crash, bounded without losing what was
// never tried, changed by one process at a time, and sent in rounds against
// lesson-server that lose nothing, send nothing twice and never put an older
// take over a newer one.
#include "outbox.h"
#include "http_file_up.h"
#include "net_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
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
    std::unique_ptr<COutbox> outbox = std::make_unique<COutbox>(folder);

    std::string Source(const std::string& bytes, const std::string& file = "rec.mp3") {
        testsupport::WriteFile(dir.file(file), bytes);
        return dir.file(file);
    }
    bool Put(const std::string& name, const std::string& bytes) { return outbox->Put(name, Source(bytes)); }
    // The next start of the player: a new process takes the outbox, with the
    // wall clock `ahead` seconds off.
    void Restart(time_t ahead = 0) {
        outbox.reset();
        outbox = std::make_unique<COutbox>(folder);
        if (ahead)
            outbox->SetClockForTesting([ahead] { return time(nullptr) + ahead; });
    }
};

std::string Away() { return "http://127.0.0.1:" + std::to_string(nettest::UnusedPort()) + "/" + nettest::kUploadPath; }

}  // namespace

TEST(Outbox, KeepsTheNewestCopyPerNameForTheUserAlone) {
    Box box;
    ASSERT_TRUE(box.Put(kName, "first"));
    EXPECT_EQ(Mode(box.folder), 0700);
    EXPECT_EQ(Mode(box.folder + "/" + kName), 0600);
    ASSERT_TRUE(box.Put(kName, "second"));
    EXPECT_EQ(State(*box.outbox), std::vector<std::string>{kName + " second"});
    ASSERT_TRUE(box.outbox->MarkRefused(kName));
    EXPECT_EQ(State(*box.outbox), std::vector<std::string>{kName + " refused second"});
    EXPECT_EQ(Mode(box.folder + "/refused"), 0700);
    // A new run's copy supersedes the refused one.
    ASSERT_TRUE(box.Put(kName, "third"));
    ASSERT_TRUE(box.Put(kOther, "other"));
    EXPECT_EQ(State(*box.outbox), (std::vector<std::string>{kName + " third", kOther + " other"}));
    box.outbox->Drop(kName);
    EXPECT_EQ(State(*box.outbox), std::vector<std::string>{kOther + " other"});
    // The first copy made the folder the player's outbox: its mark, its lock, its record.
    EXPECT_EQ(Listing(box.folder), (std::vector<std::string>{".index", ".lock", ".vorur-outbox", kOther, "refused"}));

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
    EXPECT_EQ(named.outbox->Entries().size(), std::size(names));
    EXPECT_EQ(Listing(box.dir.path()).size(), 2u);  // the outbox and the source, nothing outside

    // What cannot be taken in whole leaves the outbox as it was.
    Box failing;
    ASSERT_TRUE(failing.Put(kName, "kept"));
    EXPECT_FALSE(failing.outbox->Put(kName, failing.dir.file("missing.mp3")));
    EXPECT_FALSE(failing.outbox->Put(kName, failing.dir.path()));
    EXPECT_FALSE(failing.Put(std::string(250, 'n'), "x"));
    EXPECT_FALSE(failing.Put("", "x"));
    EXPECT_EQ(State(*failing.outbox), std::vector<std::string>{kName + " kept"});
    EXPECT_EQ(Listing(failing.folder), (std::vector<std::string>{".index", ".lock", ".vorur-outbox", kName}));
}

TEST(Outbox, StaysWithinItsLimitsAndMendsWhatACrashLeft) {
    // An entry expires only when it was tried on kMinTriesToExpire starts and is
    // older than kMaxAgeSeconds by the outbox's own record: no file time and no
    // clock that was wrong for a while loses a recording.
    const time_t day = 24 * 3600, year2000 = 946684800;
    struct Age {
        const char* what;
        time_t putAt;  // the clock when it came in (0: right)
        time_t mtime;  // the file's time set afterwards (0: left)
        int starts;    // starts on which it is sent to nobody, the last one `ahead` later
        time_t ahead;
        bool oneStart;  // all those rounds on one start
        bool dropped;
    } ages[] = {
        {"a file time 31 days old", 0, time(nullptr) - 31 * day, COutbox::kMinTriesToExpire, 0, false, false},
        {"a file time in the year 2000", 0, year2000, COutbox::kMinTriesToExpire, 0, false, false},
        {"put in under a clock in the year 2000", year2000, 0, COutbox::kMinTriesToExpire, 0, false, false},
        {"31 days later, tried on 4 starts", 0, 0, COutbox::kMinTriesToExpire - 1, 31 * day, false, false},
        {"31 days later, tried 5 times on one start", 0, 0, COutbox::kMinTriesToExpire, 31 * day, true, false},
        {"29 days later, tried on 5 starts", 0, 0, COutbox::kMinTriesToExpire, 29 * day, false, false},
        {"31 days later, tried on 5 starts", 0, 0, COutbox::kMinTriesToExpire, 31 * day, false, true},
    };
    for (const Age& c : ages) {
        SCOPED_TRACE(c.what);
        Box box;
        if (c.putAt)
            box.outbox->SetClockForTesting([&c] { return c.putAt; });
        ASSERT_TRUE(box.Put(kName, "rec"));
        if (c.mtime)
            SetAge(box.folder + "/" + kName, time(nullptr) - c.mtime);
        testing::internal::CaptureStderr();
        for (int i = 0; i < c.starts; ++i) {
            const bool last = i == c.starts - 1;
            if (!c.oneStart || i == 0)
                box.Restart(last ? c.ahead : 0);
            if (c.oneStart && last)
                box.outbox->SetClockForTesting([&c] { return time(nullptr) + c.ahead; });
            EXPECT_EQ(box.outbox->SendAll(Away()).failed, 1);
        }
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(State(*box.outbox).size(), c.dropped ? 0u : 1u);
        // What goes is named.
        EXPECT_EQ(err.find("dropped " + kName + " from the outbox") != std::string::npos, c.dropped) << err;
    }

    // A full outbox makes room by dropping the oldest refused entry, then the
    // oldest tried one; one never tried stays, and a new recording is not taken in.
    TempDir root, uploads;
    LessonServer breaking(root.path(), uploads.path(), {"--close-mid-request"});
    ASSERT_TRUE(breaking.started());
    Box box;
    const std::string f = box.folder + "/";
    for (size_t i = 0; i < COutbox::kMaxEntries; ++i)
        ASSERT_TRUE(box.Put("n" + std::to_string(i) + ".mp3", "x"));
    SetAge(f + "n1.mp3", 40 * day);  // no file time counts
    testing::internal::CaptureStderr();
    EXPECT_FALSE(box.Put(kName, "new"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("full of recordings not tried yet"), std::string::npos);
    EXPECT_EQ(box.outbox->Entries().size(), COutbox::kMaxEntries);
    EXPECT_TRUE(box.Put("n0.mp3", "a newer take"));  // a name it holds: replaced in its place
    ASSERT_TRUE(box.outbox->MarkRefused("n5.mp3"));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(box.Put(kName, "new"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("dropped n5.mp3 (refused)"), std::string::npos);
    EXPECT_FALSE(testsupport::Exists(f + "refused/n5.mp3"));
    // Every entry is tried, none delivered: the oldest tried one makes room.
    EXPECT_EQ(box.outbox->SendAll(breaking.UploadUrl()).failed, static_cast<int>(COutbox::kMaxEntries));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(box.Put(kOther, "new"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("dropped n1.mp3"), std::string::npos);
    auto entries = box.outbox->Entries();
    EXPECT_EQ(entries.size(), COutbox::kMaxEntries);
    EXPECT_EQ(entries.front().name, "n2.mp3");  // oldest first
    EXPECT_EQ(entries.back().name, kOther);

    // What a process killed at any moment leaves behind.
    Box crashed;
    const std::string c = crashed.folder + "/";
    ASSERT_TRUE(crashed.Put(kName, "newer"));
    ASSERT_TRUE(crashed.Put(kOther, "x"));
    ASSERT_TRUE(crashed.outbox->MarkRefused(kOther));
    std::filesystem::rename(c + kName, c + ".sending." + kName);  // killed mid-send
    ASSERT_TRUE(crashed.Put(kName, "newest"));                    // a newer run meanwhile
    ASSERT_TRUE(testsupport::WriteFile(c + ".sending.half.mp3", "half sent"));
    ASSERT_TRUE(testsupport::WriteFile(c + "refused/.sending." + kOther + "2", "staff's send"));
    ASSERT_TRUE(testsupport::WriteFile(c + ".tmp-OLD", "half copied"));
    SetAge(c + ".tmp-OLD", 7200);
    ASSERT_TRUE(testsupport::WriteFile(c + ".tmp-NEW", "being copied"));
    ASSERT_TRUE(testsupport::WriteFile(c + "refused/" + kName, "older refusal"));  // killed between two steps
    SetAge(c + "refused/" + kName, 100);
    std::filesystem::create_symlink(crashed.Source("elsewhere"), c + "link.mp3");
    // An index that lost its end and holds lines no outbox writes.
    {
        std::string index = testsupport::ReadFile(c + ".index");
        index += "entry 99999999999999999999999 1 1 1 0 x.mp3\nentry 7 1 1 1 0 ../up.mp3\nentry 8 -1 1 1 0 y.mp3\n";
        // Far beyond what it reads (the names have no files): cut, and forgotten.
        for (int i = 0; i < 20000; ++i)
            index += "entry " + std::to_string(100 + i) + " 1800000000 0 0 0 ghost" + std::to_string(i) + ".mp3\n";
        index += "garbage\nentry 9 1 1 1 0 half";
        ASSERT_TRUE(testsupport::WriteFile(c + ".index", index));
    }

    // A round against nobody: everything is put back, nothing sent or lost.
    crashed.Restart();
    const auto round = crashed.outbox->SendAll(Away());
    EXPECT_EQ(round.failed, 1);
    EXPECT_EQ(State(*crashed.outbox), (std::vector<std::string>{kName + " newest", "half.mp3 half sent",
                                                               kOther + " refused x",
                                                               kOther + "2 refused staff's send"}));
    EXPECT_EQ(Listing(crashed.folder),
              (std::vector<std::string>{".index", ".lock", ".tmp-NEW", ".vorur-outbox", kName, "half.mp3", "link.mp3",
                                        "refused"}));
    EXPECT_LT(testsupport::ReadFile(c + ".index").size(), 1000u);
}

TEST(Outbox, RoundsAgainstTheLessonServer) {
    TempDir root, uploads, logs;
    const std::string recording = nettest::Pattern(300000, 4);

    {
        SCOPED_TRACE("a refused port, then the server back: delivered at the next round, once");
        Box box;
        ASSERT_TRUE(box.Put(kName, recording));
        ASSERT_TRUE(box.Put(kOther, "other"));
        auto round = box.outbox->SendAll(Away());
        EXPECT_EQ(round.failed, 1);
        EXPECT_EQ(round.left, 1);  // one attempt per round while the server cannot be reached
        EXPECT_EQ(box.outbox->Entries().size(), 2u);

        const std::string log = logs.file("back.log");
        LessonServer server(root.path(), uploads.path(), {}, log);
        ASSERT_TRUE(server.started());
        std::vector<std::string> events;
        round = box.outbox->SendAll(server.UploadUrl(), false, [&](const OutboxEvent& e) {
            if (e.kind != OutboxEvent::Progress)
                events.push_back(e.entry->name + (e.kind == OutboxEvent::Begin ? " begin" : " end " + e.detail));
        });
        EXPECT_EQ(round.delivered, 2);
        // The one not tried yet goes first.
        EXPECT_EQ(events, (std::vector<std::string>{kOther + " begin", kOther + " end OK", kName + " begin",
                                                    kName + " end OK"}));
        EXPECT_EQ(testsupport::ReadFile(uploads.file(kName)), recording);
        EXPECT_TRUE(box.outbox->Entries().empty());
        round = box.outbox->SendAll(server.UploadUrl());
        EXPECT_EQ(round.delivered + round.failed + round.refused, 0);
        EXPECT_EQ(nettest::StoredCount(log, kName), 1);
        EXPECT_EQ(nettest::StoredCount(log, kOther), 1);
        EXPECT_EQ(Listing(box.folder), (std::vector<std::string>{".index", ".lock", ".vorur-outbox"}));
    }
    {
        SCOPED_TRACE("a recording refused before it was read, between two the server takes: each tried once");
        const std::string log = logs.file("early.log");
        LessonServer server(root.path(), uploads.path(), {"--max-upload-bytes", "100000"}, log);
        ASSERT_TRUE(server.started());
        Box box;
        const std::string large = "A01_L03_D9_SP_kim7.mp3";  // between the two by name and by time
        // Larger than what the sockets buffer: the answer comes while it goes out.
        const std::string tooLarge = nettest::Pattern(16 << 20, 5);
        ASSERT_TRUE(box.Put(kName, "first"));
        ASSERT_TRUE(box.Put(large, tooLarge));
        ASSERT_TRUE(box.Put(kOther, "third"));
        std::vector<std::string> ends;
        const auto round = box.outbox->SendAll(server.UploadUrl(), false, [&](const OutboxEvent& e) {
            if (e.kind == OutboxEvent::End)
                ends.push_back(e.entry->name + " " + std::to_string(static_cast<int>(e.result)) + " " + e.detail);
        });
        EXPECT_EQ(ends, (std::vector<std::string>{kName + " 0 OK",
                                                  large + " 1 HTTP 413 before the whole recording was sent",
                                                  kOther + " 0 OK"}));
        EXPECT_EQ(round.delivered, 2);
        EXPECT_EQ(round.refused, 1);
        EXPECT_EQ(State(*box.outbox), std::vector<std::string>{large + " refused " + tooLarge});
        EXPECT_EQ(testsupport::ReadFile(uploads.file(kOther)), "third");
        EXPECT_EQ(nettest::StoredCount(log, large), 0);
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
        box.outbox->SendAll(server.UploadUrl(), false, [&](const OutboxEvent& e) {
            if (e.kind == OutboxEvent::End)
                result = e.result;
        });
        EXPECT_EQ(result, c.result);
        std::vector<std::string> left;
        for (const OutboxEntry& e : box.outbox->Entries()) {
            left.push_back(e.name + (e.refused ? " refused" : ""));
            EXPECT_EQ(testsupport::ReadFile(e.path), recording);
        }
        EXPECT_EQ(left, c.left);
        // The server has spoken: a refusal is never sent again by itself.
        const int stored = nettest::StoredCount(log, kName);
        box.outbox->SendAll(server.UploadUrl());
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
    box.outbox.reset();  // the start that put it in has ended
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
        EXPECT_EQ(State(outbox).size(), 1u);
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
    box.Restart();
    const auto round = box.outbox->SendAll(server.UploadUrl());
    EXPECT_EQ(round.delivered, 1);
    // Not EXPECT_EQ: a mismatch would print 32 MiB.
    EXPECT_TRUE(testsupport::ReadFile(uploads.file(kName)) == recording) << "upload differs from the take";
    EXPECT_EQ(nettest::StoredCount(log, kName), 1) << testsupport::ReadFile(log);
    EXPECT_EQ(Listing(box.folder), (std::vector<std::string>{".index", ".lock", ".vorur-outbox"}));
}

// A newer take of a name, accepted by the server, while an older one of the
// same name is on its way from the outbox (sent by support staff's tool, or by
// the player's own round) and then fails: the server must end with the newer.
// The player ends a take as the test run does: into the outbox, then straight to
// the server when nothing older can overtake it; accepted, every copy goes.
TEST(Outbox, AnOlderTakeNeverReplacesANewerOne) {
    TempDir root, uploads, logs;
    const std::string older = nettest::Pattern(32 << 20, 7);  // still going out when the server pauses
    for (const bool byTool : {true, false}) {
        SCOPED_TRACE(byTool ? "the tool sends the older take" : "the player's own round sends it");
        std::filesystem::remove(uploads.file(kName));
        const std::string log = logs.file(byTool ? "tool.log" : "round.log");
        auto stalling = std::make_unique<LessonServer>(root.path(), uploads.path(),
                                                       std::vector<std::string>{"--mid-body-delay-ms", "20000"}, log);
        LessonServer server(root.path(), uploads.path(), {}, log);
        ASSERT_TRUE(stalling->started() && server.started());
        Box box;
        ASSERT_TRUE(box.Put(kName, older));
        const std::string newer = box.Source("the newer take", "newer.mp3");
        const std::string sending = box.folder + "/.sending." + kName;

        pid_t tool = -1;
        if (byTool) {
            box.outbox.reset();
            tool = nettest::StartProgram("vorur-upload", {"--outbox", box.folder, stalling->UploadUrl()});
        } else {
            box.outbox->StartSending(stalling->UploadUrl());
        }
        ASSERT_TRUE(WaitFor([&] { return testsupport::Exists(sending); }));
        usleep(300000);

        auto player = std::make_unique<COutbox>(box.folder);
        COutbox& mine = byTool ? *player : *box.outbox;
        const bool queued = mine.Put(kName, newer);
        EXPECT_EQ(queued, !byTool);  // the tool holds the outbox
        if (queued || mine.SafeToSendDirectly(kName)) {
            std::string reply;
            ASSERT_TRUE(UploadFile(server.UploadUrl(), kName, newer, reply));
            ASSERT_EQ(reply, "OK");
            mine.Drop(kName);
        }

        // The older send fails: the server goes away mid-body.
        stalling->Stop(SIGKILL);
        stalling.reset();
        if (byTool) {
            int status = 0;
            waitpid(tool, &status, 0);
            EXPECT_EQ(WEXITSTATUS(status), 3);
            // The player offers the take it kept to the outbox again (a new take,
            // Prac, the end).
            if (!queued)
                EXPECT_TRUE(player->Put(kName, newer));
        } else {
            box.outbox->StopSending();
        }
        player.reset();
        box.outbox.reset();

        // The next start sends what the outbox holds.
        COutbox next(box.folder);
        next.SendAll(server.UploadUrl());
        const std::string onServer = testsupport::ReadFile(uploads.file(kName));
        EXPECT_EQ(onServer == older ? "the older take" : onServer, "the newer take");
        EXPECT_TRUE(next.Entries().empty());
    }
}

// The one slow case: a server that takes 40 s to store a recording before it answers.
TEST(Outbox, ServerThatTakesFortySecondsToAnswerIsWaitedFor) {
    TempDir root, uploads;
    LessonServer server(root.path(), uploads.path(), {"--delay-ms", "40000"});
    ASSERT_TRUE(server.started());
    Box box;
    ASSERT_TRUE(box.Put(kName, "rec"));
    const auto round = box.outbox->SendAll(server.UploadUrl());
    EXPECT_EQ(round.delivered, 1);
    EXPECT_TRUE(box.outbox->Entries().empty());
    EXPECT_EQ(testsupport::ReadFile(uploads.file(kName)), "rec");
}
