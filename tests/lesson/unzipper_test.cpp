// Package extraction over archives built here with minizip's writer.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"
#include "unzipper.h"
#include "zip_builder.h"

#include <zlib.h>

namespace {

using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
using testzip::Entry;

// Everything under root, as relative paths ("a", "a/b"), folders marked with "/".
std::set<std::string> Tree(const std::string& root, const std::string& prefix = "") {
    std::set<std::string> out;
    DIR* dir = opendir(root.c_str());
    if (!dir)
        return out;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st;
        std::string path = root + "/" + name;
        lstat(path.c_str(), &st);
        if (S_ISDIR(st.st_mode)) {
            out.insert(prefix + name + "/");
            for (const std::string& sub : Tree(path, prefix + name + "/"))
                out.insert(sub);
        } else {
            out.insert(prefix + name);
        }
    }
    closedir(dir);
    return out;
}

time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    struct tm tm = {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

time_t ModTime(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

std::string Compressible(size_t n) { return std::string(n, 'z'); }

// A deflated entry whose compressed bytes are no valid deflate stream.
Entry BrokenDeflate(const std::string& name) {
    Entry e = testzip::File(name, std::string(40, '\xFF'));
    e.raw = true;
    e.rawSize = 1000;
    e.rawCrc = 0x12345678;
    return e;
}


struct Sandbox {
    TempDir dir;
    std::string dest = dir.file("dest");
    std::string zip = dir.file("package.viz");
};

TEST(Unzipper, FlatPackageExtractsWithEntryTimes) {
    Sandbox s;
    Entry cfg = testzip::File("config.cfg", "cfg bytes");
    cfg.dosDateTime = testzip::DosTime(2020, 2, 29, 23, 59, 58);
    Entry jpg = testzip::File("01.jpg", std::string(5000, '\x11') + "jpeg", false);
    jpg.dosDateTime = testzip::DosTime(1999, 12, 31, 8, 7, 6);
    Entry mp3 = testzip::File("01.mp3", "ID3 and frames");
    ASSERT_TRUE(testzip::Build(s.zip, {cfg, jpg, mp3}));

    ASSERT_TRUE(ExtractPackage(s.zip, s.dest));
    EXPECT_EQ(Tree(s.dest), (std::set<std::string>{"config.cfg", "01.jpg", "01.mp3"}));
    EXPECT_EQ(ReadFile(s.dest + "/config.cfg"), "cfg bytes");
    EXPECT_EQ(ReadFile(s.dest + "/01.jpg"), std::string(5000, '\x11') + "jpeg");
    EXPECT_EQ(ReadFile(s.dest + "/01.mp3"), "ID3 and frames");
    EXPECT_EQ(ModTime(s.dest + "/config.cfg"), LocalTime(2020, 2, 29, 23, 59, 58));
    EXPECT_EQ(ModTime(s.dest + "/01.jpg"), LocalTime(1999, 12, 31, 8, 7, 6));
    EXPECT_EQ(ModTime(s.dest + "/01.mp3"), LocalTime(2021, 6, 15, 10, 20, 30));

    // Extracting again replaces the files silently.
    ASSERT_TRUE(WriteFile(s.dest + "/01.mp3", "old and longer content"));
    ASSERT_TRUE(ExtractPackage(s.zip, s.dest));
    EXPECT_EQ(ReadFile(s.dest + "/01.mp3"), "ID3 and frames");
}

TEST(Unzipper, NestedEntriesLandFlat) {
    Sandbox s;
    ASSERT_TRUE(testzip::Build(s.zip, {testzip::File("lesson/config.cfg", "c"),
                                       testzip::File("lesson/pics/01.jpg", "p"),
                                       testzip::File("lesson\\sounds\\01.wav", "w"),
                                       testzip::File("other/01.jpg", "later wins")}));
    ASSERT_TRUE(ExtractPackage(s.zip, s.dest));
    EXPECT_EQ(Tree(s.dest), (std::set<std::string>{"config.cfg", "01.jpg", "01.wav"}));
    EXPECT_EQ(ReadFile(s.dest + "/01.jpg"), "later wins");
    EXPECT_EQ(ReadFile(s.dest + "/01.wav"), "w");

    // Without flattening the folders are kept; "\" separates folders as "/" does.
    CUnzipper unz(s.zip.c_str());
    std::string keep = s.dir.file("keep");
    ASSERT_TRUE(unz.ExtractAll(keep.c_str(), false));
    EXPECT_EQ(Tree(keep), (std::set<std::string>{"lesson/", "lesson/config.cfg", "lesson/pics/", "lesson/pics/01.jpg",
                                                 "lesson/sounds/", "lesson/sounds/01.wav", "other/", "other/01.jpg"}));
}

TEST(Unzipper, EntryInfoAndWalking) {
    Sandbox s;
    Entry folder = testzip::Folder("pics/");
    Entry jpg = testzip::File("pics\\01.JPG", "picture", false);
    jpg.dosDateTime = testzip::DosTime(2010, 3, 4, 5, 6, 8);
    ASSERT_TRUE(testzip::Build(s.zip, {testzip::File("config.cfg", Compressible(3000)), folder, jpg,
                                       testzip::File("02.jpg", "x"), testzip::File("notes.txt", "n")}));
    CUnzipper unz;
    ASSERT_TRUE(unz.OpenArchive(s.zip.c_str()));
    EXPECT_EQ(unz.GetDestination(), s.dir.file("package"));
    EXPECT_EQ(unz.CountEntries(), 5);

    ZipEntryInfo info;
    ASSERT_TRUE(unz.FirstEntry());
    ASSERT_TRUE(unz.ReadEntryInfo(info));
    EXPECT_EQ(info.name, "config.cfg");
    EXPECT_EQ(info.compressionMethod, 8u);
    EXPECT_EQ(info.uncompressedSize, 3000u);
    EXPECT_LT(info.compressedSize, 3000u);
    EXPECT_FALSE(info.isFolder);

    ASSERT_TRUE(unz.NextEntry());
    ASSERT_TRUE(unz.ReadEntryInfo(info));
    EXPECT_EQ(info.name, "pics/");
    EXPECT_TRUE(info.isFolder);

    // By extension, ignoring case; the separators come out as "/".
    ASSERT_TRUE(unz.FirstEntry("jpg"));
    ASSERT_TRUE(unz.ReadEntryInfo(info));
    EXPECT_EQ(info.name, "pics/01.JPG");
    EXPECT_EQ(info.compressionMethod, 0u);
    EXPECT_EQ(info.dosDateTime, testzip::DosTime(2010, 3, 4, 5, 6, 8));
    EXPECT_EQ(info.uncompressedSize, 7u);
    EXPECT_NE(info.crc32, 0u);
    ASSERT_TRUE(unz.NextEntry("JPG"));
    ASSERT_TRUE(unz.ReadEntryInfo(info));
    EXPECT_EQ(info.name, "02.jpg");
    EXPECT_FALSE(unz.NextEntry("jpg"));
    EXPECT_TRUE(unz.AtEndOfList());
    EXPECT_FALSE(unz.FirstEntry("png"));

    // ExtractEntry without a folder uses the default destination.
    ASSERT_TRUE(unz.FirstEntry("txt"));
    ASSERT_TRUE(unz.ExtractEntry(nullptr, true));
    EXPECT_EQ(ReadFile(s.dir.file("package/notes.txt")), "n");

    // Flattening passes folder entries over: the run goes on and makes no folder.
    ASSERT_TRUE(unz.ExtractAll(s.dest.c_str(), true));
    EXPECT_EQ(Tree(s.dest), (std::set<std::string>{"config.cfg", "01.JPG", "02.jpg", "notes.txt"}));

    EXPECT_TRUE(unz.CloseArchive());
    EXPECT_EQ(unz.GetDestination(), "");
    EXPECT_EQ(unz.CountEntries(), 0);
    EXPECT_FALSE(unz.ReadEntryInfo(info));
    EXPECT_FALSE(unz.FirstEntry());
    EXPECT_FALSE(unz.ExtractAll(s.dest.c_str(), true));
}

TEST(Unzipper, ArchivesThatCannotBeExtracted) {
    Sandbox s;
    // No entries at all. minizip does not even open an archive that is nothing but
    // its end record; behind a few leading bytes it does, and then holds no entries.
    ASSERT_TRUE(testzip::Build(s.zip, {}));
    CUnzipper unz;
    EXPECT_FALSE(ExtractPackage(s.zip, s.dest));
    ASSERT_TRUE(WriteFile(s.zip, "lead" + ReadFile(s.zip)));
    ASSERT_TRUE(unz.OpenArchive(s.zip.c_str()));
    EXPECT_EQ(unz.CountEntries(), 0);
    EXPECT_FALSE(unz.FirstEntry());
    EXPECT_FALSE(unz.ExtractAll(s.dest.c_str(), true));
    EXPECT_FALSE(ExtractPackage(s.zip, s.dest));
    EXPECT_TRUE(Tree(s.dest).empty());

    // Not a zip; an empty file; a zip cut short; a folder; nothing at all.
    ASSERT_TRUE(WriteFile(s.dir.file("text.viz"), "this is not a zip archive, only text"));
    ASSERT_TRUE(WriteFile(s.dir.file("empty.viz"), ""));
    ASSERT_TRUE(testzip::Build(s.dir.file("whole.viz"), {testzip::File("config.cfg", Compressible(5000))}));
    std::string whole = ReadFile(s.dir.file("whole.viz"));
    ASSERT_TRUE(WriteFile(s.dir.file("cut.viz"), whole.substr(0, whole.size() / 2)));
    for (const char* name : {"text.viz", "empty.viz", "cut.viz", "dest", "absent.viz"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(unz.OpenArchive(s.dir.file(name).c_str()));
        EXPECT_FALSE(unz.GetError().empty());
        std::string error;
        EXPECT_FALSE(ExtractPackage(s.dir.file(name), s.dest, &error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_FALSE(unz.OpenArchive(nullptr));
    EXPECT_FALSE(unz.OpenArchive(""));
    EXPECT_TRUE(Tree(s.dest).empty());

    // A destination that is a file.
    ASSERT_TRUE(WriteFile(s.dir.file("file"), "x"));
    ASSERT_TRUE(unz.OpenArchive(s.dir.file("whole.viz").c_str()));
    EXPECT_FALSE(unz.SetDestination(s.dir.file("file").c_str()));
    EXPECT_EQ(unz.GetDestination(), s.dir.file("whole"));
    EXPECT_FALSE(unz.ExtractAll(s.dir.file("file").c_str(), true));
    EXPECT_FALSE(unz.ExtractAll(s.dir.file("file/sub").c_str(), true));
    EXPECT_FALSE(ExtractPackage(s.dir.file("whole.viz"), s.dir.file("file")));
    EXPECT_EQ(ReadFile(s.dir.file("file")), "x");
}

TEST(Unzipper, DamagedDataFailsAtThatEntryAndLeavesNoFile) {
    Sandbox s;
    ASSERT_TRUE(testzip::Build(s.zip, {testzip::File("01.jpg", "first"), BrokenDeflate("02.jpg"),
                                       testzip::File("03.jpg", "third")}));
    // A file that was there before and is not in the archive stays.
    ASSERT_TRUE(CUnzipper::EnsureFolder(s.dest.c_str()));
    ASSERT_TRUE(WriteFile(s.dest + "/before.txt", "b"));
    std::string error;
    EXPECT_FALSE(ExtractPackage(s.zip, s.dest, &error));
    EXPECT_NE(error.find("02.jpg"), std::string::npos) << error;
    // The failed extraction takes back the entries it had written.
    EXPECT_EQ(Tree(s.dest), (std::set<std::string>{"before.txt"}));

    // Data that inflates but does not match its CRC.
    Entry badCrc = testzip::File("02.wav", "stored bytes", false);
    badCrc.raw = true;
    badCrc.rawSize = badCrc.data.size();
    badCrc.rawCrc = 0xDEADBEEF;
    TempDir other;
    std::string zip = other.file("crc.viz");
    ASSERT_TRUE(testzip::Build(zip, {testzip::File("01.wav", "fine"), badCrc}));
    EXPECT_FALSE(ExtractPackage(zip, other.file("dest"), &error));
    EXPECT_NE(error.find("checksum"), std::string::npos) << error;
    EXPECT_TRUE(Tree(other.file("dest")).empty());

    // A complete deflate stream that stops short of the stated size: minizip reads it
    // as a clean end and skips the CRC check.
    Entry shortEntry = testzip::File("05.wav", testzip::Deflate("hello"));
    shortEntry.raw = true;
    shortEntry.rawSize = 10;
    shortEntry.rawCrc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>("hello"), 5));
    std::string shortZip = other.file("short.viz");
    ASSERT_TRUE(testzip::Build(shortZip, {shortEntry}));
    EXPECT_FALSE(ExtractPackage(shortZip, other.file("dest5"), &error));
    EXPECT_NE(error.find("stated size"), std::string::npos) << error;
    EXPECT_TRUE(Tree(other.file("dest5")).empty());
    // The same stream with its true size is fine.
    shortEntry.rawSize = 5;
    ASSERT_TRUE(testzip::Build(shortZip, {shortEntry}));
    EXPECT_TRUE(ExtractPackage(shortZip, other.file("dest6"), &error)) << error;
    EXPECT_EQ(ReadFile(other.file("dest6/05.wav")), "hello");

    CUnzipper unz(zip.c_str());
    std::string bytes;
    ASSERT_TRUE(unz.FirstEntry());
    ASSERT_TRUE(unz.ExtractEntryToMemory(bytes));
    EXPECT_EQ(bytes, "fine");
    ASSERT_TRUE(unz.NextEntry());
    EXPECT_FALSE(unz.ExtractEntryToMemory(bytes));
    EXPECT_EQ(bytes, "");

    // A compression method the reader cannot inflate (bzip2, 12) must not come out as
    // its compressed bytes.
    Entry bzip = testzip::File("03.jpg", "x", false);
    bzip.raw = true;
    bzip.rawSize = 1;
    ASSERT_TRUE(testzip::Build(zip, {bzip}));
    std::string bytesOnDisk = ReadFile(zip);
    bytesOnDisk[8] = 12;  // the local header's method
    size_t central = bytesOnDisk.find("PK\x01\x02");
    ASSERT_NE(central, std::string::npos);
    bytesOnDisk[central + 10] = 12;
    ASSERT_TRUE(WriteFile(zip, bytesOnDisk));
    EXPECT_FALSE(ExtractPackage(zip, other.file("dest3"), &error));
    EXPECT_NE(error.find("method"), std::string::npos) << error;
    EXPECT_TRUE(Tree(other.file("dest3")).empty());

    // An encrypted entry: there is no password to give.
    ASSERT_TRUE(testzip::Build(zip, {testzip::File("04.jpg", "plain", false)}));
    bytesOnDisk = ReadFile(zip);
    bytesOnDisk[6] |= 1;  // the local header's flags
    central = bytesOnDisk.find("PK\x01\x02");
    ASSERT_NE(central, std::string::npos);
    bytesOnDisk[central + 8] |= 1;
    ASSERT_TRUE(WriteFile(zip, bytesOnDisk));
    EXPECT_FALSE(ExtractPackage(zip, other.file("dest4"), &error));
    EXPECT_NE(error.find("encrypted"), std::string::npos) << error;
    EXPECT_TRUE(Tree(other.file("dest4")).empty());
}

TEST(Unzipper, NamesThatTryToEscapeStayInside) {
    Sandbox s;
    // Flattening reduces these to harmless names inside the destination.
    ASSERT_TRUE(testzip::Build(s.zip, {testzip::File("../../up.txt", "u"), testzip::File("/etc/abs.txt", "a"),
                                       testzip::File("..\\..\\back.txt", "b"),
                                       testzip::File("C:\\Windows\\drive.txt", "d")}));
    ASSERT_TRUE(ExtractPackage(s.zip, s.dest));
    EXPECT_EQ(Tree(s.dir.path()),
              (std::set<std::string>{"package.viz", "dest/", "dest/up.txt", "dest/abs.txt", "dest/back.txt",
                                     "dest/drive.txt"}));

    // Kept folders must not climb out or start at the root.
    CUnzipper unz(s.zip.c_str());
    std::string keep = s.dir.file("keep");
    EXPECT_FALSE(unz.ExtractAll(keep.c_str(), false));
    EXPECT_NE(unz.GetError().find("outside"), std::string::npos) << unz.GetError();

    struct Case {
        const char* what;
        std::vector<Entry> entries;
        bool flatOk;  // flattening passes folder entries over
        bool keptOk;
    } cases[] = {
        {"folder entry climbing out", {testzip::Folder("../outside/")}, true, false},
        {"folder entry climbing out through a subfolder", {testzip::Folder("a/../../outside/")}, true, false},
        {"absolute folder entry", {testzip::Folder("/tmp/outside/")}, true, false},
        {"folder named by a trailing slash only", {testzip::File("../outside/", "")}, true, false},
        {"flattened name ..", {testzip::File("a/..", "x")}, false, false},
        {"flattened name .", {testzip::File("a/.", "x")}, false, true},  // kept: the file "a"
        {"empty name", {testzip::File("", "x")}, false, false},
    };
    for (const Case& c : cases) {
        for (bool flatten : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (flatten ? ", flat" : ", keeping folders"));
            TempDir dir;
            std::string zip = dir.file("p.viz");
            ASSERT_TRUE(testzip::Build(zip, c.entries));
            std::string dest = dir.file("inner/dest");
            CUnzipper unz(zip.c_str());
            bool ok = unz.ExtractAll(dest.c_str(), flatten);
            // Whatever the verdict, nothing appears beside the destination.
            for (const std::string& path : Tree(dir.path()))
                EXPECT_TRUE(path == "p.viz" || path == "inner/" || path.rfind("inner/dest/", 0) == 0) << path;
            EXPECT_EQ(ok, flatten ? c.flatOk : c.keptOk);
        }
    }
}

// Folder entries of every hostile shape: no crash, no folder left where a later
// lesson's file must go, paths below PATH_MAX, letter-case variants kept apart.
TEST(Unzipper, HostileFolderEntriesLeaveNothingInTheWay) {
    std::string deep;
    for (int i = 0; i < 30000; ++i)
        deep += "a/";
    struct Case {
        const char* what;
        std::vector<Entry> entries;
        bool flatOk;
        std::set<std::string> flat;  // what flat extraction leaves
        bool keptOk;
        std::set<std::string> kept;  // the same without flattening
    } cases[] = {
        {"a folder 30,000 levels deep", {testzip::Folder(deep), testzip::File("config.cfg", "c")},
         true, {"config.cfg"}, false, {}},
        {"a file 30,000 levels deep", {testzip::File(deep + "01.jpg", "p")}, true, {"01.jpg"}, false, {}},
        {"a folder name of 60,000 bytes", {testzip::Folder(std::string(60000, 'x') + "/")}, true, {}, false, {}},
        {"folders named like page files",
         {testzip::Folder("config.cfg/"), testzip::File("config.cfg", "c"), testzip::Folder("01.png/sub/"),
          testzip::File("x/01.png", "p")},
         true, {"config.cfg", "01.png"},
         true, {"config.cfg", "01.png/", "01.png/sub/", "x/", "x/01.png"}},
        {"a folder attribute on a plain name", {testzip::Folder("config.cfg"), testzip::File("l/config.cfg", "c")},
         true, {"config.cfg"}, true, {"config.cfg/", "l/", "l/config.cfg"}},
        {"names differing in letter case", {testzip::File("01.jpg", "a"), testzip::File("01.JPG", "b")},
         true, {"01.jpg", "01.JPG"}, true, {"01.jpg", "01.JPG"}},
    };
    for (const Case& c : cases) {
        for (bool flatten : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (flatten ? ", flat" : ", keeping folders"));
            TempDir dir;
            std::string zip = dir.file("p.viz");
            ASSERT_TRUE(testzip::Build(zip, c.entries));
            std::string dest = dir.file("dest");
            CUnzipper unz(zip.c_str());
            EXPECT_EQ(unz.ExtractAll(dest.c_str(), flatten), flatten ? c.flatOk : c.keptOk) << unz.GetError();
            EXPECT_EQ(Tree(dest), flatten ? c.flat : c.kept);
        }
    }

    // What an older extraction left in the way: empty folders go, anything holding a
    // file stays, and the extraction then fails without leaving what it wrote.
    Sandbox s;
    ASSERT_TRUE(testzip::Build(s.zip, {testzip::File("config.cfg", "c"), testzip::File("01.png", "p")}));
    ASSERT_TRUE(CUnzipper::EnsureFolder((s.dest + "/config.cfg/a/b").c_str()));
    ASSERT_TRUE(ExtractPackage(s.zip, s.dest));
    EXPECT_EQ(Tree(s.dest), (std::set<std::string>{"config.cfg", "01.png"}));
    ASSERT_EQ(unlink((s.dest + "/01.png").c_str()), 0);
    ASSERT_TRUE(CUnzipper::EnsureFolder((s.dest + "/01.png/sub").c_str()));
    ASSERT_TRUE(WriteFile(s.dest + "/01.png/sub/keep.txt", "someone's"));
    EXPECT_FALSE(ExtractPackage(s.zip, s.dest));
    EXPECT_EQ(Tree(s.dest), (std::set<std::string>{"01.png/", "01.png/sub/", "01.png/sub/keep.txt"}));
}

TEST(Unzipper, LinksAreNeverCreatedOrFollowed) {
    Sandbox s;
    ASSERT_TRUE(WriteFile(s.dir.file("secret"), "keep me"));
    ASSERT_TRUE(testzip::Build(s.zip, {testzip::Symlink("link", s.dir.file("secret")),
                                       testzip::File("victim", "new content")}));
    // A link left in the destination at an output path is replaced, not written through.
    ASSERT_TRUE(CUnzipper::EnsureFolder(s.dest.c_str()));
    ASSERT_EQ(symlink(s.dir.file("secret").c_str(), (s.dest + "/victim").c_str()), 0);

    CUnzipper unz(s.zip.c_str());
    ZipEntryInfo info;
    ASSERT_TRUE(unz.FirstEntry());
    ASSERT_TRUE(unz.ReadEntryInfo(info));
    EXPECT_TRUE(info.isSymlink);

    ASSERT_TRUE(ExtractPackage(s.zip, s.dest));
    struct stat st;
    ASSERT_EQ(lstat((s.dest + "/link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadFile(s.dest + "/link"), s.dir.file("secret"));
    ASSERT_EQ(lstat((s.dest + "/victim").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadFile(s.dest + "/victim"), "new content");
    EXPECT_EQ(ReadFile(s.dir.file("secret")), "keep me");

    // A linked folder inside the destination is not entered when folders are kept.
    std::string outside = s.dir.file("outside");
    ASSERT_TRUE(CUnzipper::EnsureFolder(outside.c_str()));
    std::string keep = s.dir.file("keep");
    ASSERT_TRUE(CUnzipper::EnsureFolder(keep.c_str()));
    ASSERT_EQ(symlink(outside.c_str(), (keep + "/sub").c_str()), 0);
    ASSERT_TRUE(testzip::Build(s.zip, {testzip::File("sub/file", "x")}));
    CUnzipper nested(s.zip.c_str());
    EXPECT_FALSE(nested.ExtractAll(keep.c_str(), false));
    EXPECT_TRUE(Tree(outside).empty());
}

TEST(Unzipper, InflatedSizeLimits) {
    Sandbox s;
    // A small archive that inflates far beyond its size.
    ASSERT_TRUE(testzip::Build(s.zip, {testzip::File("a.bin", Compressible(600)),
                                       testzip::File("bomb.bin", Compressible(4 << 20))}));
    ASSERT_LT(ReadFile(s.zip).size(), 20000u);

    CUnzipper unz(s.zip.c_str());
    unz.SetLimits(1 << 20, 8 << 20);
    EXPECT_FALSE(unz.ExtractAll(s.dest.c_str(), true));
    EXPECT_NE(unz.GetError().find("limit"), std::string::npos) << unz.GetError();
    EXPECT_TRUE(Tree(s.dest).empty());

    // The whole archive is counted too.
    CUnzipper total(s.zip.c_str());
    total.SetLimits(8 << 20, 1 << 20);
    std::string dest2 = s.dir.file("dest2");
    EXPECT_FALSE(total.ExtractAll(dest2.c_str(), true));
    EXPECT_TRUE(Tree(dest2).empty());

    // Exactly at the limit is fine; the default limits let ordinary lessons through.
    CUnzipper exact(s.zip.c_str());
    exact.SetLimits(4 << 20, 600 + (4 << 20));
    std::string dest3 = s.dir.file("dest3");
    EXPECT_TRUE(exact.ExtractAll(dest3.c_str(), true));
    EXPECT_TRUE(ExtractPackage(s.zip, s.dir.file("dest4")));
}

// Archives as other packers lay them out open as Info-ZIP's unzip opens them, with
// the same files; what unzip refuses stays refused. unzip itself is asked too.
TEST(Unzipper, OtherPackersLayoutsOpenAsUnzipOpensThem) {
    const std::vector<Entry> entries = {testzip::File("config.cfg", Compressible(300)),
                                        testzip::File("01.jpg", "picture bytes", false),
                                        testzip::File("01.mp3", "sound bytes")};
    const std::set<std::string> all = {"config.cfg", "01.jpg", "01.mp3"};
    const std::string stub = "#!/bin/sh\nexit 0\n";  // as in front of a self-extractor
    struct Case {
        const char* what;
        bool zip64Local, dataDescriptor, zip64Central;
        int64_t centralSizeError;
        bool prefixed;
        bool opens;
    } cases[] = {
        {"ZIP64 sizes in the local headers", true, false, false, 0, false, true},
        {"data descriptors", false, true, false, 0, false, true},
        {"ZIP64 local headers and data descriptors", true, true, false, 0, false, true},
        {"ZIP64 in the central directory too", true, false, true, 0, false, true},
        {"ZIP64 everywhere, with data descriptors", true, true, true, 0, false, true},
        {"central directory size 3 bytes short", false, false, false, -3, false, true},
        {"central directory size 1 byte short", false, false, false, -1, false, true},
        {"ZIP64 end records, central directory size 40 bytes short", true, false, true, -40, false, true},
        {"bytes in front", false, false, false, 0, true, true},
        {"central directory size 3 bytes long", false, false, false, 3, false, false},
        {"bytes in front and the size short", false, false, false, -3, true, false},
    };
    const bool haveUnzip = std::system("command -v unzip >/dev/null 2>&1") == 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox s;
        testzip::Layout layout;
        layout.zip64Local = c.zip64Local;
        layout.dataDescriptor = c.dataDescriptor;
        layout.zip64Central = c.zip64Central;
        layout.centralSizeError = c.centralSizeError;
        layout.prefix = c.prefixed ? stub : "";
        const std::string bytes = testzip::BuildLayout(entries, layout);
        ASSERT_TRUE(WriteFile(s.zip, bytes));
        const std::set<std::string> expected = c.opens ? all : std::set<std::string>{};
        std::string error;
        EXPECT_EQ(ExtractPackage(s.zip, s.dest, &error), c.opens) << error;
        EXPECT_EQ(Tree(s.dest), expected);
        if (c.opens) {
            for (const Entry& e : entries)
                EXPECT_EQ(ReadFile(s.dest + "/" + e.name), e.data) << e.name;
        }

        CUnzipper memory;
        const std::string fromMemory = s.dir.file("memory");
        EXPECT_EQ(memory.OpenArchiveFromMemory(bytes.data(), bytes.size()) &&
                      memory.ExtractAll(fromMemory.c_str(), true),
                  c.opens);
        EXPECT_EQ(Tree(fromMemory), expected);

        if (haveUnzip) {
            const std::string byUnzip = s.dir.file("unzip");
            const std::string command = "unzip -qq -o '" + s.zip + "' -d '" + byUnzip + "' >/dev/null 2>&1";
            EXPECT_GE(std::system(command.c_str()), 0);
            EXPECT_EQ(Tree(byUnzip), expected) << "unzip sees it otherwise";
            for (const std::string& name : Tree(byUnzip))
                EXPECT_EQ(ReadFile(byUnzip + "/" + name), ReadFile(s.dest + "/" + name)) << name;
        }
    }

    // ZIP64 fields are taken from the extra field for as many entries as an archive
    // without ZIP64 can count, and no more.
    std::vector<Entry> many;
    for (int i = 0; i <= 0xFFFF; ++i)
        many.push_back(testzip::File(std::to_string(i), "d", false));
    testzip::Layout zip64;
    zip64.zip64Central = true;
    const std::string bytes = testzip::BuildLayout(many, zip64);
    CUnzipper unz;
    ASSERT_TRUE(unz.OpenArchiveFromMemory(bytes.data(), bytes.size()));
    EXPECT_EQ(unz.CountEntries(), 0x10000);
    ZipEntryInfo info;
    ASSERT_TRUE(unz.FirstEntry());
    for (int i = 0; i < 0xFFFF; ++i) {
        ASSERT_TRUE(unz.ReadEntryInfo(info));
        ASSERT_EQ(info.uncompressedSize, 1u) << info.name;
        ASSERT_TRUE(unz.NextEntry());
    }
    ASSERT_TRUE(unz.ReadEntryInfo(info));
    EXPECT_EQ(info.name, "65535");
    EXPECT_EQ(info.uncompressedSize, 0xFFFFFFFFu);
}

TEST(Unzipper, ArchiveInMemory) {
    std::string bytes = testzip::BuildBytes({testzip::File("x/config.cfg", "c"), testzip::File("01.png", "p")});
    ASSERT_FALSE(bytes.empty());
    TempDir dir;
    CUnzipper unz;
    ASSERT_TRUE(unz.OpenArchiveFromMemory(bytes.data(), bytes.size()));
    EXPECT_EQ(unz.GetDestination(), "");
    EXPECT_EQ(unz.CountEntries(), 2);
    ASSERT_TRUE(unz.ExtractAll(dir.path().c_str(), true));
    EXPECT_EQ(ReadFile(dir.file("config.cfg")), "c");
    EXPECT_EQ(ReadFile(dir.file("01.png")), "p");

    EXPECT_FALSE(unz.OpenArchiveFromMemory("PK", 2));
    EXPECT_FALSE(unz.OpenArchiveFromMemory(bytes.data(), bytes.size() / 2));
    EXPECT_FALSE(unz.OpenArchiveFromMemory(nullptr, 0));
}

TEST(Unzipper, FolderAndTimeHelpers) {
    TempDir dir;
    std::string deep = dir.file("a/b/c");
    EXPECT_TRUE(CUnzipper::EnsureFolder(deep.c_str()));
    EXPECT_TRUE(CUnzipper::EnsureFolder((deep + "/").c_str()));
    EXPECT_TRUE(Exists(deep));
    ASSERT_TRUE(WriteFile(dir.file("a/file"), "x"));
    EXPECT_FALSE(CUnzipper::EnsureFolder(dir.file("a/file").c_str()));
    EXPECT_FALSE(CUnzipper::EnsureFolder(dir.file("a/file/below").c_str()));
    EXPECT_FALSE(CUnzipper::EnsureFolder(""));
    EXPECT_FALSE(CUnzipper::EnsureFolder(nullptr));
    EXPECT_TRUE(CUnzipper::EnsureParentFolder(dir.file("x/y/name.txt").c_str()));
    EXPECT_TRUE(Exists(dir.file("x/y")));
    EXPECT_FALSE(CUnzipper::EnsureParentFolder("name.txt"));

    // A relative folder without any "/" is created too.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    bool created = CUnzipper::EnsureFolder("plain");
    bool exists = Exists(dir.file("plain"));
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_TRUE(created);
    EXPECT_TRUE(exists);

    ASSERT_TRUE(WriteFile(dir.file("t"), "x"));
    EXPECT_TRUE(CUnzipper::ApplyEntryTime(dir.file("t").c_str(), testzip::DosTime(2004, 7, 1, 12, 30, 44)));
    EXPECT_EQ(ModTime(dir.file("t")), LocalTime(2004, 7, 1, 12, 30, 44));
    EXPECT_FALSE(CUnzipper::ApplyEntryTime(dir.file("missing").c_str(), testzip::kDefaultDosTime));
}

}  // namespace
