#include <gtest/gtest.h>

#include "launch_args.h"

namespace {

std::vector<std::string> Args(const std::string& url, const std::string& times = "1") {
    return {url, "kim7", "C9", "A01", "L03", "D5", times};
}

TEST(LaunchArgs, DerivesPackageRecordingAndUploadNames) {
    LaunchArgs a;
    ASSERT_EQ(ParseLaunchArgs(Args("http://host/data/unit01.viz"), "/opt/player", a), LaunchArgsCheck::Accepted);
    EXPECT_EQ(a.url, "http://host/data/unit01.viz");
    EXPECT_EQ(a.id, "kim7");
    EXPECT_EQ(a.classId, "C9");
    EXPECT_EQ(a.packageName, "unit01.viz");
    EXPECT_EQ(a.packagePath, "");  // set once the run's download folder is made
    EXPECT_EQ(a.uploadFileName, "A01_L03_D5_SP_kim7.mp3");
    EXPECT_EQ(a.recordingPath, "/opt/player/A01_L03_D5_SP_kim7.mp3");
    EXPECT_EQ(a.practiceMode, 0);
}

TEST(LaunchArgs, CountOtherThanSevenIsRefused) {
    LaunchArgs a;
    auto six = Args("http://h/a.viz");
    six.pop_back();
    EXPECT_EQ(ParseLaunchArgs(six, "/p", a), LaunchArgsCheck::WrongCount);
    auto eight = Args("http://h/a.viz");
    eight.push_back("x");
    EXPECT_EQ(ParseLaunchArgs(eight, "/p", a), LaunchArgsCheck::WrongCount);
    EXPECT_EQ(ParseLaunchArgs({}, "/p", a), LaunchArgsCheck::WrongCount);
}

TEST(LaunchArgs, PackageNameRules) {
    LaunchArgs a;
    EXPECT_EQ(ParseLaunchArgs(Args("lesson.viz"), "/p", a), LaunchArgsCheck::NoSlash);
    EXPECT_EQ(ParseLaunchArgs(Args("http://host/dir/"), "/p", a), LaunchArgsCheck::BadPackageName);
    // The dot must lie after the last slash.
    EXPECT_EQ(ParseLaunchArgs(Args("http://host/x.y/file"), "/p", a), LaunchArgsCheck::BadPackageName);
    EXPECT_EQ(ParseLaunchArgs(Args("http://host/get.asp?f=a/b"), "/p", a), LaunchArgsCheck::BadPackageName);
    // A bare "." or ".." names a folder, never a package file.
    EXPECT_EQ(ParseLaunchArgs(Args("http://host/.."), "/p", a), LaunchArgsCheck::BadPackageName);
    EXPECT_EQ(ParseLaunchArgs(Args("http://host/."), "/p", a), LaunchArgsCheck::BadPackageName);
    // A query string stays part of the name.
    ASSERT_EQ(ParseLaunchArgs(Args("http://host/get?f=a.viz"), "/p", a), LaunchArgsCheck::Accepted);
    EXPECT_EQ(a.packageName, "get?f=a.viz");
}

TEST(LaunchArgs, PracticeTokenIgnoresCase) {
    for (const char* token : {"PRACTICE", "practice", "Practice"}) {
        LaunchArgs a;
        ASSERT_EQ(ParseLaunchArgs(Args("http://h/a.viz", token), "/p", a), LaunchArgsCheck::Accepted);
        EXPECT_EQ(a.practiceMode, 1) << token;
    }
    for (const char* token : {"PRACTICE1", "", "PRACTIC", "1"}) {
        LaunchArgs a;
        ASSERT_EQ(ParseLaunchArgs(Args("http://h/a.viz", token), "/p", a), LaunchArgsCheck::Accepted);
        EXPECT_EQ(a.practiceMode, 0) << token;
    }
}

TEST(LaunchArgs, Cp949BytesAreKeptAsTheyAre) {
    LaunchArgs a;
    const std::string name = "\xB0\xAD\xC1\xC2.viz";  // a Korean file name in CP949
    ASSERT_EQ(ParseLaunchArgs(Args("http://h/" + name), "/p", a), LaunchArgsCheck::Accepted);
    EXPECT_EQ(a.packageName, name);
}

// Whatever the id and tags hold, the recording stays one file in the data folder,
// while the server still gets the name it expects.
TEST(LaunchArgs, RecordingStaysInTheDataFolder) {
    struct Case {
        std::vector<std::string> args;
        const char* upload;
        const char* local;
    } cases[] = {
        {{"http://h/a.viz", "kim7", "C", "A01", "L03", "D5", "1"}, "A01_L03_D5_SP_kim7.mp3", "A01_L03_D5_SP_kim7.mp3"},
        {{"http://h/a.viz", "../../../etc/x", "C", "A", "B", "C", "1"}, "A_B_C_SP_../../../etc/x.mp3",
         "A_B_C_SP_..%2F..%2F..%2Fetc%2Fx.mp3"},
        {{"http://h/a.viz", "kim", "C", "/tmp", "..", "x/", "1"}, "/tmp_.._x/_SP_kim.mp3", "%2Ftmp_.._x%2F_SP_kim.mp3"},
        // "%" is escaped too, so two different names never share a file.
        {{"http://h/a.viz", "a%2Fb", "C", "A", "B", "C", "1"}, "A_B_C_SP_a%2Fb.mp3", "A_B_C_SP_a%252Fb.mp3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.upload);
        LaunchArgs a;
        ASSERT_EQ(ParseLaunchArgs(c.args, "/data", a), LaunchArgsCheck::Accepted);
        EXPECT_EQ(a.uploadFileName, c.upload);
        EXPECT_EQ(a.recordingPath, std::string("/data/") + c.local);
        EXPECT_EQ(a.recordingPath.find('/', 6), std::string::npos);
    }
}

}  // namespace
