#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

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
    ClearFolderFiles(tmp.path());
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
    if (access(exe.c_str(), W_OK) == 0)
        EXPECT_EQ(module, exe);
    ResetModuleFolderForTesting();
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
