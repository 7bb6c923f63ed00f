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
    EXPECT_EQ(a.packagePath, "/opt/player/unit01.viz");
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
    EXPECT_EQ(a.packagePath, "/p/get?f=a.viz");
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
    EXPECT_EQ(a.packagePath, "/p/" + name);
}

}  // namespace
