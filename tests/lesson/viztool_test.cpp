// viztool, run as a program: what authors see on the terminal and in exit codes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cfg_file.h"
#include "test_support.h"
#include "zip_builder.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

ToolRun Viztool(const TempDir& dir, const std::vector<std::string>& args) {
    std::string tool = testsupport::BinDir() + "/viztool";
    std::string outPath = dir.file(".stdout"), errPath = dir.file(".stderr");
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(tool.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(tool.c_str(), argv.data());
        dprintf(2, "cannot run %s: %s\n", tool.c_str(), strerror(errno));
        _exit(127);
    }
    ToolRun r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadFile(outPath);
    r.err = ReadFile(errPath);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return r;
}

void Put16(std::string& s, uint16_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>(v >> 8));
}
void Put32(std::string& s, uint32_t v) {
    Put16(s, static_cast<uint16_t>(v));
    Put16(s, static_cast<uint16_t>(v >> 16));
}

// A 4 x 2 24-bit BMP.
std::string Bitmap() {
    std::string pixels;
    for (int row = 0; row < 2; ++row)
        pixels += std::string(12, static_cast<char>(row ? 0x20 : 0xE0));
    std::string s = "BM";
    Put32(s, 54 + static_cast<uint32_t>(pixels.size()));
    Put32(s, 0);
    Put32(s, 54);
    Put32(s, 40);
    Put32(s, 4);
    Put32(s, 2);
    Put16(s, 1);
    Put16(s, 24);
    Put32(s, 0);
    Put32(s, static_cast<uint32_t>(pixels.size()));
    Put32(s, 2835);
    Put32(s, 2835);
    Put32(s, 0);
    Put32(s, 0);
    return s + pixels;
}

// A tenth of a second of a 16-bit mono tone.
std::string Wave() {
    std::string samples;
    for (int i = 0; i < 2205; ++i)
        Put16(samples, static_cast<uint16_t>((i % 40 < 20) ? 8000 : -8000));
    std::string s = "RIFF";
    Put32(s, 36 + static_cast<uint32_t>(samples.size()));
    s += "WAVEfmt ";
    Put32(s, 16);
    Put16(s, 1);
    Put16(s, 1);
    Put32(s, 22050);
    Put32(s, 44100);
    Put16(s, 2);
    Put16(s, 16);
    s += "data";
    Put32(s, static_cast<uint32_t>(samples.size()));
    return s + samples;
}

const char kManifest[] = R"({
  "textBesidePicture": 0,
  "pages": [
    {
      "soundFile": "01.wav",
      "pictureFile": "01.bmp",
      "questionText": "무엇이 보이나요?",
      "answerText": "A red square.",
      "waitSeconds": 3,
      "fontSize": 20
    },
    null,
    {
      "soundFile": "02.wav",
      "pictureFile": "02.bmp",
      "questionText": "",
      "answerText": "",
      "waitSeconds": 5,
      "fontSize": 24
    }
  ]
}
)";

class VizTool : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WriteFile(dir.file("01.bmp"), Bitmap()));
        ASSERT_TRUE(WriteFile(dir.file("02.bmp"), Bitmap()));
        ASSERT_TRUE(WriteFile(dir.file("01.wav"), Wave()));
        ASSERT_TRUE(WriteFile(dir.file("02.wav"), Wave()));
        ASSERT_TRUE(WriteFile(dir.file("lesson.json"), kManifest));
    }
    TempDir dir;
};

TEST_F(VizTool, PackThenDumpGivesTheManifestBack) {
    ToolRun pack = Viztool(dir, {"pack", dir.file("lesson.json"), dir.file("lesson.viz")});
    ASSERT_EQ(pack.status, 0) << pack.err << pack.out;
    ToolRun dump = Viztool(dir, {"dump", dir.file("lesson.viz")});
    ASSERT_EQ(dump.status, 0) << dump.err;
    EXPECT_EQ(dump.out, kManifest);
    EXPECT_EQ(dump.err, "");

    // A bare config.cfg gives the same.
    ToolRun extract = Viztool(dir, {"extract", dir.file("lesson.viz"), dir.file("out")});
    ASSERT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(ReadFile(dir.file("out/01.bmp")), Bitmap());
    ToolRun bare = Viztool(dir, {"dump", dir.file("out/config.cfg")});
    ASSERT_EQ(bare.status, 0) << bare.err;
    EXPECT_EQ(bare.out, kManifest);
}

TEST_F(VizTool, CheckListsPagesWithMissingOrBrokenFiles) {
    ASSERT_EQ(Viztool(dir, {"pack", dir.file("lesson.json"), dir.file("good.viz")}).status, 0);
    ToolRun good = Viztool(dir, {"check", dir.file("good.viz")});
    EXPECT_EQ(good.status, 1);  // the null slot is reported
    EXPECT_EQ(good.out, "page 2: empty slot, the player cannot show it\n");

    // A lesson whose files all decode passes.
    CCfgFile cfg;
    cfg.packs.RemoveAll();
    auto* pack = new CCfgPack;
    pack->soundFile = "01.wav";
    pack->pictureFile = "01.bmp";
    cfg.packs.Add(pack);
    std::string config;
    ASSERT_TRUE(cfg.SaveToBytes(config));
    ASSERT_TRUE(testzip::Build(dir.file("one.viz"), {testzip::File("config.cfg", config),
                                                     testzip::File("01.wav", Wave()),
                                                     testzip::File("01.bmp", Bitmap())}));
    ToolRun one = Viztool(dir, {"check", dir.file("one.viz")});
    EXPECT_EQ(one.status, 0) << one.out << one.err;

    // Missing, broken and unnamed files, page by page.
    cfg.packs.RemoveAll();
    const char* files[][2] = {{"01.wav", "gone.bmp"}, {"noise.wav", "01.bmp"}, {"", "text.bmp"}, {"long.wav", "01.bmp"}};
    for (auto& f : files) {
        auto* p = new CCfgPack;
        p->soundFile = f[0];
        p->pictureFile = f[1];
        cfg.packs.Add(p);
    }
    ASSERT_TRUE(cfg.SaveToBytes(config));
    ASSERT_TRUE(testzip::Build(dir.file("bad.viz"), {testzip::File("config.cfg", config),
                                                     testzip::File("01.wav", Wave()),
                                                     testzip::File("01.bmp", Bitmap()),
                                                     testzip::File("noise.wav", "RIFF but nothing more"),
                                                     testzip::File("text.bmp", "not a picture"),
                                                     testzip::File("long.wav", testsupport::SilentWave(1800))}));
    ToolRun bad = Viztool(dir, {"check", dir.file("bad.viz")});
    EXPECT_EQ(bad.status, 1);
    std::vector<std::string> lines;
    for (size_t pos = 0; pos < bad.out.size();) {
        size_t nl = bad.out.find('\n', pos);
        lines.push_back(bad.out.substr(pos, nl - pos));
        pos = nl + 1;
    }
    ASSERT_EQ(lines.size(), 5u) << bad.out;
    EXPECT_EQ(lines[0], "page 1: picture \"gone.bmp\" is missing from the package");
    EXPECT_EQ(lines[1].rfind("page 2: sound \"noise.wav\" does not decode", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("page 3: picture \"text.bmp\" does not decode", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3], "page 3: no sound named");
    EXPECT_EQ(lines[4], "page 4: sound \"long.wav\" does not decode: it decodes to more than the player holds of "
                        "one sound, 128 MiB (about 12 minutes)");
}

TEST_F(VizTool, InputsThatDoNotLoadGiveOneLineAndStatusOne) {
    ASSERT_TRUE(WriteFile(dir.file("text.viz"), "PK but not really a zip archive"));
    ASSERT_TRUE(WriteFile(dir.file("short.cfg"), std::string("\x01\x00\x00\x00\x02\x00", 6)));
    ASSERT_TRUE(testzip::Build(dir.file("nocfg.viz"), {testzip::File("01.wav", "x")}));
    ASSERT_TRUE(WriteFile(dir.file("bad.json"), "{\"textBesidePicture\": 0, \"pages\": [{}]}"));
    ASSERT_TRUE(testzip::Build(dir.file("noname.viz"), {testzip::File("a/..", "x")}));
    // A config.cfg over the player's 16 MiB: a small package, refused before it fills
    // memory.
    std::string huge = std::string("\0\0\0\0\xFF\xFF\x00\x00\x80\x00", 10) + std::string(17 << 20, '\0');
    ASSERT_TRUE(testzip::Build(dir.file("huge.viz"), {testzip::File("config.cfg", huge)}));
    ASSERT_TRUE(WriteFile(dir.file("huge.cfg"), huge));

    struct Case {
        std::vector<std::string> args;
        const char* mentions;
    } cases[] = {
        {{"dump", dir.file("text.viz")}, "zip"},
        {{"dump", dir.file("short.cfg")}, "not a lesson configuration"},
        {{"dump", dir.file("absent.cfg")}, "no such file"},
        {{"dump", dir.file("nocfg.viz")}, "no config.cfg"},
        {{"check", dir.file("nocfg.viz")}, "no config.cfg"},
        {{"check", dir.file("text.viz")}, "zip"},
        {{"extract", dir.file("noname.viz"), dir.file("x")}, "no file name"},
        {{"dump", dir.file("huge.viz")}, "limit"},
        {{"check", dir.file("huge.viz")}, "too large"},
        {{"dump", dir.file("huge.cfg")}, "too large"},
        {{"pack", dir.file("bad.json"), dir.file("out.viz")}, "pages[0].soundFile"},
        {{"pack", dir.file("absent.json"), dir.file("out.viz")}, "absent.json"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        ToolRun r = Viztool(dir, c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
    }
    EXPECT_FALSE(testsupport::Exists(dir.file("out.viz")));
}

// Packages made where file names ignore letter case, and folder entries of hostile
// shapes: the tools read them as the player does.
TEST_F(VizTool, ForeignAndHostilePackagesReadAsThePlayerReadsThem) {
    auto lesson = [](const std::string& sound) {
        CCfgFile cfg;
        cfg.packs.RemoveAll();
        auto* pack = new CCfgPack;
        pack->soundFile = sound;
        pack->pictureFile = "01.bmp";
        cfg.packs.Add(pack);
        std::string bytes;
        cfg.SaveToBytes(bytes);
        return bytes;
    };
    std::string deep;
    for (int i = 0; i < 30000; ++i)
        deep += "a/";
    struct Case {
        const char* what;
        std::vector<testzip::Entry> entries;
        const char* sound;  // what dump shows as the first page's sound
    } cases[] = {
        {"upper-case names", {testzip::File("CONFIG.CFG", lesson("01.wav")), testzip::File("01.WAV", Wave()),
                              testzip::File("01.BMP", Bitmap())}, "01.wav"},
        {"two spellings: the first in byte order", {testzip::File("config.CFG", lesson("x.wav")),
                                                   testzip::File("Config.cfg", lesson("01.wav")),
                                                   testzip::File("01.wav", Wave()), testzip::File("01.bmp", Bitmap())},
         "01.wav"},
        {"the exact name wins", {testzip::File("CONFIG.CFG", lesson("x.wav")), testzip::File("config.cfg", lesson("01.wav")),
                                 testzip::File("01.wav", Wave()), testzip::File("01.Bmp", Bitmap())}, "01.wav"},
        {"folder entries 30,000 deep and named config.cfg", {testzip::Folder(deep), testzip::Folder("config.cfg/"),
                                                             testzip::File("config.cfg", lesson("01.wav")),
                                                             testzip::File("01.wav", Wave()),
                                                             testzip::File("01.bmp", Bitmap())}, "01.wav"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(testzip::Build(dir.file("p.viz"), c.entries));
        ToolRun check = Viztool(dir, {"check", dir.file("p.viz")});
        EXPECT_EQ(check.status, 0) << check.out << check.err;
        ToolRun dump = Viztool(dir, {"dump", dir.file("p.viz")});
        EXPECT_EQ(dump.status, 0) << dump.err;
        EXPECT_NE(dump.out.find(std::string("\"soundFile\": \"") + c.sound + "\""), std::string::npos) << dump.out;
        ToolRun extract = Viztool(dir, {"extract", dir.file("p.viz"), dir.file("out")});
        EXPECT_EQ(extract.status, 0) << extract.err;
    }
}

TEST_F(VizTool, HelpAndUsage) {
    for (const char* command : {"pack", "dump", "extract", "check"}) {
        SCOPED_TRACE(command);
        ToolRun help = Viztool(dir, {command, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind(std::string("usage: viztool ") + command, 0), 0u) << help.out;
        ToolRun wrong = Viztool(dir, {command});
        EXPECT_EQ(wrong.status, 2);
        EXPECT_NE(wrong.err.find("usage"), std::string::npos);
    }
    ToolRun top = Viztool(dir, {"--help"});
    EXPECT_EQ(top.status, 0);
    EXPECT_NE(top.out.find("check PACKAGE"), std::string::npos);
    EXPECT_EQ(Viztool(dir, {}).status, 2);
    EXPECT_EQ(Viztool(dir, {"unpack"}).status, 2);
}

}  // namespace
