#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "instance_lock.h"
#include "launch_link.h"
#include "test_support.h"

namespace {

const std::vector<std::string> kHosts = ParseHostList(" School.Example. , [::1],127.0.0.1,,");

std::string Link(const std::string& url, const std::string& rest = "&id=kim7&class=C1&tag1=A01&tag2=L03&tag3=D5&times=1") {
    return "vorur-ozudiz://launch?url=" + url + rest;
}

struct Case {
    const char* name;
    std::string link;
    LaunchLinkFault fault;
    std::string key = {};     // the key a fault names
    std::string detail = {};  // the host or scheme a fault names
};

TEST(LaunchLink, ReadsOnlyWhatTheHostListAllowsAndNamesEveryFault) {
    const std::string full = "&id=kim7&class=C1&tag1=A01&tag2=L03&tag3=D5&times=1";
    const Case cases[] = {
        {"plain", Link("http://school.example/les/u1.viz"), LaunchLinkFault::None},
        {"https, port, upper case, trailing dot", Link("HTTPS://SCHOOL.example.:8443/u1.viz"), LaunchLinkFault::None},
        {"IPv6 literal on the list", Link("http://[::1]:8080/u1.viz"), LaunchLinkFault::None},
        {"encoded URL", Link("http%3A%2F%2Fschool.example%2Fu1.viz"), LaunchLinkFault::None},
        {"any key order, unknown keys, a fragment",
         "vorur-ozudiz://launch/?times=1&tag3=D5&x=%00&url=http://school.example/u1.viz&tag2=L03&tag1=A01&class=C1&"
         "id=kim7#frag",
         LaunchLinkFault::None},
        // Host list bypasses.
        {"user info before an allowed host", Link("http://school.example@evil.example/u1.viz"),
         LaunchLinkFault::UserInfo, "url"},
        {"user info after", Link("http://evil.example%40school.example/u1.viz"), LaunchLinkFault::UserInfo, "url"},
        {"allowed host in the query", Link("http://evil.example/?school.example"), LaunchLinkFault::HostNotAllowed,
         "url", "evil.example"},
        {"allowed host in the fragment", Link("http://evil.example/%23school.example"),
         LaunchLinkFault::HostNotAllowed, "url", "evil.example"},
        {"allowed name as a subdomain", Link("http://school.example.evil.example/u1.viz"),
         LaunchLinkFault::HostNotAllowed, "url", "school.example.evil.example"},
        {"IPv6 literal not on the list", Link("http://[::2]/u1.viz"), LaunchLinkFault::HostNotAllowed, "url", "::2"},
        {"IPv6 with a zone", Link("http://[::1%25lo]/u1.viz"), LaunchLinkFault::BadHost, "url"},
        {"backslash in the host", Link("http://evil.example\\school.example/u1.viz"), LaunchLinkFault::BadHost, "url"},
        {"encoded host", Link("http://%2573chool.example/u1.viz"), LaunchLinkFault::BadHost, "url"},
        {"port that is no port", Link("http://school.example:80x/u1.viz"), LaunchLinkFault::BadHost, "url"},
        {"empty port", Link("http://school.example:/u1.viz"), LaunchLinkFault::BadHost, "url"},
        {"no host", Link("http:///u1.viz"), LaunchLinkFault::BadHost, "url"},
        {"file URL", Link("file:///etc/passwd"), LaunchLinkFault::Scheme, "url", "file"},
        {"other scheme", Link("ftp://school.example/u1.viz"), LaunchLinkFault::Scheme, "url", "ftp"},
        {"no scheme", Link("school.example/u1.viz"), LaunchLinkFault::Scheme, "url"},
        // Keys and values.
        {"missing key", "vorur-ozudiz://launch?url=http://school.example/u.viz&id=k&class=C&tag1=1&tag2=2&times=1",
         LaunchLinkFault::MissingKey, "tag3"},
        {"repeated key", Link("http://school.example/u.viz", full + "&id=other"), LaunchLinkFault::RepeatedKey, "id"},
        {"NUL in a value", Link("http://school.example/u.viz", "&id=ki%00m" + full.substr(8)),
         LaunchLinkFault::ControlByte, "id"},
        {"line break in a value", Link("http://school.example/u.viz%0A", full), LaunchLinkFault::ControlByte, "url"},
        {"DEL in a value", Link("http://school.example/u.viz", "&id=a%7F" + full.substr(8)),
         LaunchLinkFault::ControlByte, "id"},
        {"bad escape", Link("http://school.example/u.viz%G1"), LaunchLinkFault::BadEscape},
        {"cut escape", Link("http://school.example/u.viz", full + "%4"), LaunchLinkFault::BadEscape},
        {"too long", Link("http://school.example/u.viz", full + "&pad=" + std::string(4096, 'x')),
         LaunchLinkFault::TooLong},
        {"not a launch link", "vorur-ozudiz://open?url=http://school.example/u.viz", LaunchLinkFault::NotLaunchLink},
        {"no query", "vorur-ozudiz://launch", LaunchLinkFault::NotLaunchLink},
        {"other program's scheme", "other://launch?url=x", LaunchLinkFault::NotLaunchLink},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LaunchLinkResult r = ParseLaunchLink(c.link, kHosts);
        EXPECT_EQ(r.fault, c.fault);
        if (c.fault == LaunchLinkFault::None) {
            ASSERT_EQ(r.args.size(), 7u);
            EXPECT_EQ(r.args[1], "kim7");
            EXPECT_EQ(r.args[6], "1");
            EXPECT_TRUE(LaunchLinkMessage(r).empty());
        } else {
            EXPECT_TRUE(r.args.empty());
            EXPECT_EQ(r.key, c.key);
            EXPECT_EQ(r.detail, c.detail);
            // Korean for the learner, one English line for support staff.
            EXPECT_NE(LaunchLinkMessage(r).find("강좌"), std::string::npos);
            const std::string line = LaunchLinkDiagnostic(r);
            EXPECT_NE(line.find("launch link refused"), std::string::npos);
            EXPECT_EQ(line.find('\n'), std::string::npos);
            if (!c.detail.empty()) {
                EXPECT_NE(LaunchLinkMessage(r).find(c.detail), std::string::npos);
                EXPECT_NE(line.find(c.detail), std::string::npos);
            }
        }
    }
    // The link stays at most 4096 bytes; exactly that many is accepted.
    std::string edge = Link("http://school.example/u.viz", full + "&pad=");
    edge += std::string(kMaxLaunchLinkBytes - edge.size(), 'x');
    EXPECT_EQ(ParseLaunchLink(edge, kHosts).fault, LaunchLinkFault::None);
}

TEST(LaunchLink, ValuesArriveAsTheBytesThatWereEncoded) {
    // "김" in CP949 (B1 E8), a plus kept as a plus, an encoded plus, a leading dash,
    // shell characters: every value reaches the player as these bytes, in order.
    const std::string link =
        "vorur-ozudiz://launch?url=http://127.0.0.1:8080/%B1%E8.viz&id=-%B1%E8&class=a+b&tag1=%2B&tag2=--help"
        "&tag3=%24(touch%20x)%3B%60y%60&times=PRACTICE";
    LaunchLinkResult r = ParseLaunchLink(link, kHosts);
    ASSERT_EQ(r.fault, LaunchLinkFault::None);
    const std::vector<std::string> expected = {"http://127.0.0.1:8080/\xB1\xE8.viz", "-\xB1\xE8", "a+b", "+", "--help",
                                               "$(touch x);`y`", "PRACTICE"};
    EXPECT_EQ(r.args, expected);
}

TEST(LaunchLink, HostListsAndUploadHosts) {
    EXPECT_EQ(ParseHostList(" School.Example. , [::1],127.0.0.1,,"),
              (std::vector<std::string>{"school.example", "::1", "127.0.0.1"}));
    EXPECT_EQ(ParseHostList(std::string(10000, ',') + "a").size(), 1u);
    std::string many;
    for (int i = 0; i < 1000; ++i)
        many += "h" + std::to_string(i) + ",";
    EXPECT_EQ(ParseHostList(many).size(), kMaxLaunchHosts);
    EXPECT_EQ(HostOfHostPort("127.0.0.1:8080"), "127.0.0.1");
    EXPECT_EQ(HostOfHostPort("Lessons.School.Example"), "lessons.school.example");
    EXPECT_EQ(HostOfHostPort("[::1]:8080"), "::1");
    EXPECT_EQ(HostOfHostPort("::1"), "::1");
}

TEST(LaunchLink, LessonFilesOpenAsPracticeFromTheirFileUrl) {
    testsupport::TempDir dir;
    const std::string folder = dir.path() + "/a b\xB1\xE8";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string file = folder + "/-u1#.viz";
    close(open(file.c_str(), O_CREAT | O_WRONLY, 0600));
    char* real = realpath(folder.c_str(), nullptr);
    ASSERT_NE(real, nullptr);
    std::string encodedFolder;
    for (unsigned char c : std::string(real)) {
        static const char hex[] = "0123456789ABCDEF";
        if (isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~')
            encodedFolder += static_cast<char>(c);
        else
            encodedFolder += std::string("%") + hex[c >> 4] + hex[c & 15];
    }
    free(real);
    const std::string expectedUrl = "file://" + encodedFolder + "/-u1%23.viz";

    for (const std::string& arg : {file, "file://" + encodedFolder + "/-u1%23.viz",
                                   "file://localhost" + encodedFolder + "/-u1%23.viz", std::string("-u1#.viz")}) {
        SCOPED_TRACE(arg);
        std::vector<std::string> args;
        ASSERT_TRUE(LessonFileArgs(arg, folder, args));
        ASSERT_EQ(args.size(), 7u);
        EXPECT_EQ(args[0], expectedUrl);
        EXPECT_EQ(args[6], "PRACTICE");
    }
    std::vector<std::string> args;
    for (const std::string& arg : {folder, folder + "/missing.viz", "file://other.host" + encodedFolder + "/-u1%23.viz",
                                   std::string("file:relative.viz"), std::string()})
        EXPECT_FALSE(LessonFileArgs(arg, folder, args)) << arg;
}

}  // namespace

namespace {

// A later start reaches the running copy through the channel beside its lock: the
// tokens its launcher gave it arrive, anything that is no token does not, a socket
// left by a killed copy is replaced, and with no copy running the send fails at once.
TEST(InstanceChannel, LaterStartsReachTheRunningCopy) {
    testsupport::TempDir runtime;
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    std::string error;
    EXPECT_FALSE(SendRaiseRequest("ChannelTest", {"t", ""}, error));
    EXPECT_FALSE(error.empty());
    const pid_t killed = fork();
    if (killed == 0) {
        CInstanceChannel gone;
        _exit(gone.Listen("ChannelTest") ? 0 : 1);  // ends without removing its socket
    }
    int status = -1;
    waitpid(killed, &status, 0);
    ASSERT_EQ(status, 0);
    struct stat st;
    ASSERT_EQ(stat(runtime.file("ChannelTest.sock").c_str(), &st), 0);
    CInstanceChannel channel;
    ASSERT_TRUE(channel.Listen("ChannelTest"));
    ASSERT_EQ(stat(runtime.file("ChannelTest.sock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);

    const struct {
        RaiseRequest sent, received;
    } cases[] = {
        {{"wayland-token_1.2", "host-123_TIME456"}, {"wayland-token_1.2", "host-123_TIME456"}},
        {{"", ""}, {"", ""}},
        {{"two words", "line\nbreak=1"}, {"", ""}},
        {{std::string(513, 'x'), std::string(512, 'y')}, {"", std::string(512, 'y')}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(SendRaiseRequest("ChannelTest", c.sent, error)) << error;
        RaiseRequest got;
        ASSERT_TRUE(channel.Accept(got));
        EXPECT_EQ(got.activationToken, c.received.activationToken);
        EXPECT_EQ(got.startupId, c.received.startupId);
    }
    RaiseRequest none;
    EXPECT_FALSE(channel.Accept(none));  // nothing waits: no block
    if (old)
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
