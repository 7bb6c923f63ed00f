#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "paths.h"
#include "test_support.h"

using testsupport::Exists;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

TEST(Paths, CreateDirectoriesMakesTheMissingChainOnly) {
    TempDir tmp;
    EXPECT_TRUE(CreateDirectories(tmp.path()));
    ASSERT_EQ(mkdir(tmp.file("A").c_str(), 0700), 0);
    EXPECT_TRUE(CreateDirectories(tmp.file("A/B/C")));
    EXPECT_TRUE(Exists(tmp.file("A/B/C")));
    // A trailing separator stops at it.
    EXPECT_TRUE(CreateDirectories(tmp.file("X/Y/")));
    EXPECT_TRUE(Exists(tmp.file("X/Y")));
    EXPECT_TRUE(CreateDirectories(""));
}

TEST(Paths, CreateDirectoriesReportsAFileInTheWay) {
    TempDir tmp;
    ASSERT_TRUE(WriteFile(tmp.file("F"), "x"));
    EXPECT_FALSE(CreateDirectories(tmp.file("F/G")));
}

TEST(Paths, ClearFolderFilesKeepsSubfoldersAndTheirFiles) {
    TempDir tmp;
    ASSERT_TRUE(WriteFile(tmp.file("a.jpg"), "1"));
    ASSERT_TRUE(WriteFile(tmp.file(".hidden"), "2"));
    ASSERT_TRUE(CreateDirectories(tmp.file("sub")));
    ASSERT_TRUE(WriteFile(tmp.file("sub/kept.mp3"), "3"));
    ASSERT_EQ(symlink(tmp.file("sub").c_str(), tmp.file("link").c_str()), 0);
    ASSERT_TRUE(WriteFile(tmp.file(kOwnFolderMark), "mine"));
    ClearFolderFiles(tmp.path());
    EXPECT_TRUE(Exists(tmp.file(kOwnFolderMark)));  // the folder stays the player's
    EXPECT_FALSE(Exists(tmp.file("a.jpg")));
    EXPECT_FALSE(Exists(tmp.file(".hidden")));
    EXPECT_FALSE(Exists(tmp.file("link")));
    EXPECT_TRUE(Exists(tmp.file("sub/kept.mp3")));
    ClearFolderFiles(tmp.file("missing"));  // nothing happens
}

TEST(Paths, ModuleFolderIsTheExecutablesFolderWhenWritable) {
    testsupport::ScopedEnv noOverride("VORUR_DATA_DIR", "");
    ResetModuleFolderForTesting();
    std::string module, exe;
    ASSERT_TRUE(GetExecutableFolder(exe));
    ASSERT_TRUE(GetModuleFolder(module));
    if (IsPortableFolder(exe)) {
        EXPECT_EQ(module, exe);
    }
    ResetModuleFolderForTesting();
}

// A copy of the player dropped among the user's files (~, ~/Downloads) must never
// take the user's Temp or Downloads folder for its own.
TEST(Paths, PortableOnlyWhereNoFolderOfTheUsersWouldBeTaken) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;  // name -> content; "/" ends a folder
        bool portable;
    } cases[] = {
        {"a folder of its own", {{"Vorur_Ozudiz", "elf"}}, true},
        {"the player's marked folders", {{"Temp/", ""}, {"Temp/.vorur-ozudiz", "m"}, {"Downloads/", ""},
                                         {"Downloads/.vorur-ozudiz", "m"}}, true},
        {"the user's Temp", {{"Temp/", ""}, {"Temp/notes.txt", "mine"}}, false},
        {"the user's empty Temp", {{"Temp/", ""}}, false},
        {"the user's Downloads", {{"Downloads/", ""}, {"Downloads/film.mkv", "mine"}}, false},
        {"a file named Temp", {{"Temp", "x"}}, false},
        {"a mark that is a folder", {{"Temp/", ""}, {"Temp/.vorur-ozudiz/", ""}}, false},
        {"the user's Outbox", {{"Outbox/", ""}, {"Outbox/letter.mp3", "mine"}}, false},
        {"the player's outbox", {{"Outbox/", ""}, {"Outbox/.vorur-outbox", "m"}, {"Outbox/A_B_C_SP_k.mp3", "r"}}, true},
        {"an earlier player's outbox", {{"Outbox/", ""}, {"Outbox/.lock", ""}, {"Outbox/A_B_C_SP_k.mp3", "r"}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        for (const auto& [name, content] : c.files) {
            if (name.back() == '/') {
                ASSERT_TRUE(CreateDirectories(tmp.file(name.substr(0, name.size() - 1))));
            } else {
                ASSERT_TRUE(WriteFile(tmp.file(name), content));
            }
        }
        EXPECT_EQ(IsPortableFolder(tmp.path()), c.portable);
    }
    EXPECT_FALSE(IsPortableFolder("/usr/lib"));
}

TEST(Paths, DataFolderTempAndDownloadsAreTheUsersAlone) {
    TempDir tmp;
    testsupport::ScopedEnv data("VORUR_DATA_DIR", tmp.file("data"));
    ResetModuleFolderForTesting();
    std::string module;
    ASSERT_TRUE(GetModuleFolder(module));
    std::string temp = GetTempFolder();
    EXPECT_TRUE(Exists(JoinPath(temp, kOwnFolderMark)));

    // Each run downloads into a fresh folder; what a killed run left goes first.
    std::string first, second;
    ASSERT_TRUE(MakeDownloadFolder(first));
    EXPECT_EQ(first.rfind(tmp.file("data/Downloads/run-"), 0), 0u) << first;
    ASSERT_TRUE(WriteFile(JoinPath(first, "unit01.viz"), "left by a killed run"));
    ASSERT_TRUE(MakeDownloadFolder(second));
    EXPECT_NE(first, second);
    EXPECT_FALSE(Exists(first));
    EXPECT_TRUE(Exists(tmp.file("data/Downloads/.vorur-ozudiz")));
    for (const std::string& folder : {module, temp, second}) {
        struct stat st;
        ASSERT_EQ(stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
    }
    ASSERT_TRUE(WriteFile(JoinPath(second, "unit01.viz"), "x"));
    RemoveDownloadFolder(second);
    EXPECT_FALSE(Exists(second));
    ResetModuleFolderForTesting();
}

TEST(Paths, FileNamesResolveIgnoringLetterCase) {
    TempDir tmp;
    for (const char* name : {"config.cfg", "01.JPG", "01.Jpg", "Sound.MP3", "\xB0\x41.png"})
        ASSERT_TRUE(WriteFile(tmp.file(name), name));
    struct Case {
        const char* asked;
        const char* found;
    } cases[] = {
        {"config.cfg", "config.cfg"},        // the exact name first
        {"CONFIG.CFG", "config.cfg"},
        {"01.jpg", "01.JPG"},                // several match: the first in byte order
        {"01.JPG", "01.JPG"},
        {"sound.mp3", "Sound.MP3"},
        {"\xB0\x41.PNG", "\xB0\x41.png"},    // the CP949 character itself stays as it is
        {"\xB0\x61.png", "\xB0\x61.png"},    // a different character: nothing found
        {"missing.wav", "missing.wav"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked);
        EXPECT_EQ(FindFileIgnoringCase(tmp.path(), c.asked), tmp.file(c.found));
    }
    EXPECT_TRUE(EqualsIgnoringCase("Practice", "PRACTICE"));
    EXPECT_FALSE(EqualsIgnoringCase("\xB0\x41", "\xB0\x61"));
    EXPECT_FALSE(EqualsIgnoringCase("PRACTICE1", "PRACTICE"));
}

TEST(Paths, ModuleFolderOverrideAndTempFolder) {
    TempDir tmp;
    testsupport::ScopedEnv data("VORUR_DATA_DIR", tmp.file("data/"));
    ResetModuleFolderForTesting();
    std::string module;
    ASSERT_TRUE(GetModuleFolder(module));
    EXPECT_EQ(module, tmp.file("data"));
    EXPECT_EQ(GetTempFolder(), tmp.file("data/Temp"));
    EXPECT_TRUE(Exists(tmp.file("data/Temp")));
    ResetModuleFolderForTesting();
}

TEST(Paths, JoinPathUsesOneSeparator) {
    EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
    EXPECT_EQ(JoinPath("/a/", "b"), "/a/b");
    EXPECT_EQ(JoinPath("", "b"), "b");
}

}  // namespace
