// Package writing and the JSON form of lessons.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cfg_file.h"
#include "manifest.h"
#include "package_writer.h"
#include "test_support.h"
#include "unzipper.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

const char kManifest[] = R"({
  "textBesidePicture": 1,
  "pages": [
    {"soundFile": "01.mp3", "pictureFile": "01.jpg", "questionText": "사과는 무슨 색인가요?",
     "answerText": "The apple is red.", "waitSeconds": 3, "fontSize": 20},
    null,
    {"soundFile": "02.wav", "pictureFile": "01.jpg", "waitSeconds": 4294967295, "fontSize": 0}
  ]
})";

TEST(LessonJson, ManifestIntoTheModelAndBack) {
    CCfgFile cfg;
    std::string error;
    ASSERT_TRUE(LessonFromJson(kManifest, cfg, &error)) << error;
    EXPECT_EQ(cfg.textBesidePicture, 1u);
    ASSERT_EQ(cfg.GetPackCount(), 3);
    EXPECT_EQ(cfg.GetPack(1), nullptr);
    const CCfgPack* first = cfg.GetPack(0);
    ASSERT_NE(first, nullptr);
    // Texts are held as CP949: "사과" is BB E7 B0 FA.
    EXPECT_EQ(first->questionText.substr(0, 4), "\xBB\xE7\xB0\xFA");
    EXPECT_EQ(first->answerText, "The apple is red.");
    EXPECT_EQ(cfg.GetPack(2)->waitSeconds, 4294967295u);
    EXPECT_EQ(cfg.GetPack(2)->questionText, "");

    std::string json;
    std::vector<std::string> warnings;
    ASSERT_TRUE(LessonToJson(cfg, json, &warnings));
    EXPECT_TRUE(warnings.empty());
    EXPECT_NE(json.find("\"questionText\": \"사과는 무슨 색인가요?\""), std::string::npos) << json;
    // The JSON keeps the field order of the manifest form.
    EXPECT_LT(json.find("textBesidePicture"), json.find("pages"));
    EXPECT_LT(json.find("soundFile"), json.find("pictureFile"));

    CCfgFile again;
    ASSERT_TRUE(LessonFromJson(json, again, &error)) << error;
    std::string a, b;
    ASSERT_TRUE(cfg.SaveToBytes(a));
    ASSERT_TRUE(again.SaveToBytes(b));
    EXPECT_EQ(a, b);

    // Bytes that are not CP949 come out replaced, and are named.
    cfg.GetPack(0)->answerText = "ok\xFF";
    EXPECT_FALSE(LessonToJson(cfg, json, &warnings));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("pages[0].answerText"), std::string::npos);
    EXPECT_NE(json.find("ok\xEF\xBF\xBD"), std::string::npos);
}

TEST(LessonJson, BadManifestsAreRefusedWithTheField) {
    struct Case {
        const char* json;
        const char* mentions;
    } cases[] = {
        {"{", "JSON"},
        {"[]", "object"},
        {R"({"pages": []})", "textBesidePicture"},
        {R"({"textBesidePicture": 0})", "pages"},
        {R"({"textBesidePicture": -1, "pages": []})", "textBesidePicture"},
        {R"({"textBesidePicture": 1.5, "pages": []})", "textBesidePicture"},
        {R"({"textBesidePicture": 0, "pages": [], "extra": 1})", "extra"},
        {R"({"textBesidePicture": 0, "pages": {}})", "pages"},
        {R"({"textBesidePicture": 0, "pages": [3]})", "pages[0]"},
        {R"({"textBesidePicture": 0, "pages": [{"pictureFile": "a", "waitSeconds": 1, "fontSize": 1}]})",
         "pages[0].soundFile"},
        {R"({"textBesidePicture": 0, "pages": [null, {"soundFile": "a", "pictureFile": "b", "waitSeconds": 4294967296, "fontSize": 1}]})",
         "pages[1].waitSeconds"},
        {R"({"textBesidePicture": 0, "pages": [{"soundFile": 1, "pictureFile": "b", "waitSeconds": 1, "fontSize": 1}]})",
         "pages[0].soundFile"},
        {R"({"textBesidePicture": 0, "pages": [{"soundFile": "a", "pictureFile": "b", "waitSeconds": 1, "fontSize": 1, "font": 2}]})",
         "font"},
        {R"({"textBesidePicture": 0, "pages": [{"soundFile": "a", "pictureFile": "b", "questionText": "😀", "waitSeconds": 1, "fontSize": 1}]})",
         "pages[0].questionText"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        CCfgFile cfg;
        std::string error;
        EXPECT_FALSE(LessonFromJson(c.json, cfg, &error));
        EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
        EXPECT_EQ(cfg.GetPackCount(), 20);  // left as it was
    }
}

TEST(PackageWriter, WritesAPackageThePlayerExtracts) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir.file("01.jpg"), std::string(20000, 'j')));
    CCfgFile cfg;
    std::string error;
    ASSERT_TRUE(LessonFromJson(kManifest, cfg, &error)) << error;
    std::vector<PackageFile> files = {PackageFile::FromPath("01.jpg", dir.file("01.jpg")),
                                      PackageFile::FromBytes("01.mp3", "mp3 bytes"),
                                      PackageFile::FromBytes("02.wav", std::string(50000, 'w'))};
    std::string out = dir.file("lesson.viz");
    ASSERT_TRUE(WritePackage(out, cfg, files, &error)) << error;

    CUnzipper unz(out.c_str());
    ZipEntryInfo info;
    std::vector<std::string> names;
    std::vector<uint32_t> methods;
    for (bool more = unz.FirstEntry(); more; more = unz.NextEntry()) {
        ASSERT_TRUE(unz.ReadEntryInfo(info));
        names.push_back(info.name);
        methods.push_back(info.compressionMethod);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"config.cfg", "01.jpg", "01.mp3", "02.wav"}));
    // Pictures and MP3 are stored, the rest deflated.
    EXPECT_EQ(methods, (std::vector<uint32_t>{8, 0, 0, 8}));

    std::string folder = dir.file("temp");
    ASSERT_TRUE(ExtractPackage(out, folder));
    EXPECT_EQ(ReadFile(folder + "/01.jpg"), std::string(20000, 'j'));
    EXPECT_EQ(ReadFile(folder + "/02.wav"), std::string(50000, 'w'));
    CCfgFile loaded;
    ASSERT_TRUE(loaded.Load(folder + "/config.cfg"));
    std::string a, b;
    ASSERT_TRUE(cfg.SaveToBytes(a));
    ASSERT_TRUE(loaded.SaveToBytes(b));
    EXPECT_EQ(a, b);
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(PackageWriter, FailuresLeaveTheOldPackageAlone) {
    TempDir dir;
    std::string out = dir.file("lesson.viz");
    ASSERT_TRUE(WriteFile(out, "the previous package"));
    CCfgFile cfg;
    std::string error;

    EXPECT_FALSE(WritePackage(out, cfg, {PackageFile::FromPath("01.jpg", dir.file("missing.jpg"))}, &error));
    EXPECT_NE(error.find("missing.jpg"), std::string::npos) << error;
    EXPECT_FALSE(WritePackage(out, cfg, {PackageFile::FromBytes("a", "1"), PackageFile::FromBytes("a", "2")}, &error));
    EXPECT_NE(error.find("twice"), std::string::npos) << error;
    EXPECT_FALSE(WritePackage(out, cfg, {PackageFile::FromBytes("config.cfg", "x")}, &error));
    EXPECT_FALSE(WritePackage(out, cfg, {PackageFile::FromBytes("", "x")}, &error));
    EXPECT_FALSE(WritePackage(out, cfg, {PackageFile::FromPath("dir", dir.path())}, &error));
    EXPECT_FALSE(WritePackage(dir.file("no/such/folder/x.viz"), cfg, {}, &error));

    EXPECT_EQ(ReadFile(out), "the previous package");
    // Nothing half-written is left beside it.
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"lesson.viz"});
}

TEST(PackageWriter, ManifestFilesMustBePlainNames) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir.file("m.json"),
                          R"({"textBesidePicture": 0, "pages": [{"soundFile": "sounds/01.mp3", "pictureFile": "01.jpg", "waitSeconds": 1, "fontSize": 1}]})"));
    std::string error;
    EXPECT_FALSE(PackManifest(dir.file("m.json"), dir.file("out.viz"), &error));
    EXPECT_NE(error.find("sounds/01.mp3"), std::string::npos) << error;
    EXPECT_FALSE(testsupport::Exists(dir.file("out.viz")));

    // Files named by several pages are packed once; empty names pack nothing.
    ASSERT_TRUE(WriteFile(dir.file("a.wav"), "a"));
    ASSERT_TRUE(WriteFile(dir.file("한글.png"), "p"));
    ASSERT_TRUE(WriteFile(dir.file("m.json"),
                          R"({"textBesidePicture": 0, "pages": [
                              {"soundFile": "a.wav", "pictureFile": "한글.png", "waitSeconds": 1, "fontSize": 1},
                              {"soundFile": "a.wav", "pictureFile": "", "waitSeconds": 1, "fontSize": 1}]})"));
    ASSERT_TRUE(PackManifest(dir.file("m.json"), dir.file("out.viz"), &error)) << error;
    CUnzipper unz(dir.file("out.viz").c_str());
    EXPECT_EQ(unz.CountEntries(), 3);
    // The entry name is the CP949 spelling, as the lesson names it.
    ASSERT_TRUE(ExtractPackage(dir.file("out.viz"), dir.file("x")));
    EXPECT_EQ(ReadFile(dir.file("x/\xC7\xD1\xB1\xDB.png")), "p");
}

}  // namespace
