// The config.cfg format, on hand-built byte buffers.
#include <gtest/gtest.h>

#include <string>

#include "cfg_file.h"
#include "codepage.h"
#include "test_support.h"

namespace {

using testsupport::TempDir;

// Little helpers to spell files byte by byte.
std::string U16(uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string U32(uint32_t v) { return U16(static_cast<uint16_t>(v)) + U16(static_cast<uint16_t>(v >> 16)); }
std::string Str(const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; }
std::string NewClass(uint16_t schema = 1, const std::string& name = "CCfgPack") {
    return U16(0xFFFF) + U16(schema) + U16(static_cast<uint16_t>(name.size())) + name;
}
std::string Body(const std::string& sound, const std::string& picture, uint32_t wait = 3, uint32_t font = 20,
                 const std::string& question = "", const std::string& answer = "") {
    return Str(sound) + Str(picture) + Str(question) + Str(answer) + U32(wait) + U32(font);
}

// The two-page example: flag 1, 01/02 sounds and pictures, 3 s, 20 pt.
const unsigned char kExample[70] = {
    0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0xFF, 0xFF, 0x01, 0x00, 0x08, 0x00, 0x43, 0x43,
    0x66, 0x67, 0x50, 0x61, 0x63, 0x6B, 0x06, 0x30, 0x31, 0x2E, 0x6D, 0x70, 0x33, 0x06,
    0x30, 0x31, 0x2E, 0x6A, 0x70, 0x67, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x14, 0x00,
    0x00, 0x00, 0x01, 0x80, 0x06, 0x30, 0x32, 0x2E, 0x6D, 0x70, 0x33, 0x06, 0x30, 0x32,
    0x2E, 0x6A, 0x70, 0x67, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00};

std::string Example() { return std::string(reinterpret_cast<const char*>(kExample), sizeof(kExample)); }

bool Load(CCfgFile& cfg, const std::string& bytes) { return cfg.LoadFromBytes(bytes.data(), bytes.size()); }

CCfgPack* MakePack(const std::string& sound, const std::string& picture, uint32_t wait, uint32_t font) {
    auto* p = new CCfgPack;
    p->soundFile = sound;
    p->pictureFile = picture;
    p->waitSeconds = wait;
    p->fontSize = font;
    return p;
}

TEST(CfgFile, NewAndResetModelHoldTwentyEmptyPages) {
    CCfgFile cfg;
    ASSERT_EQ(cfg.GetPackCount(), 20);
    for (int i = 0; i < 20; ++i) {
        CCfgPack* p = cfg.GetPack(i);
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(p->soundFile.empty() && p->pictureFile.empty() && p->questionText.empty() &&
                    p->answerText.empty());
        EXPECT_EQ(p->waitSeconds, 0u);
        EXPECT_EQ(p->fontSize, 0u);
    }
    EXPECT_EQ(cfg.textBesidePicture, 0u);
    EXPECT_EQ(cfg.GetPack(-1), nullptr);
    EXPECT_EQ(cfg.GetPack(20), nullptr);

    ASSERT_TRUE(Load(cfg, Example()));
    cfg.Reset();
    EXPECT_EQ(cfg.GetPackCount(), 20);
    EXPECT_EQ(cfg.textBesidePicture, 0u);
    EXPECT_TRUE(cfg.GetPack(0)->soundFile.empty());
}

TEST(CfgFile, ExampleReadsAndWritesByteForByte) {
    CCfgFile cfg;
    ASSERT_TRUE(Load(cfg, Example()));
    EXPECT_EQ(cfg.textBesidePicture, 1u);
    ASSERT_EQ(cfg.GetPackCount(), 2);
    for (int i = 0; i < 2; ++i) {
        const CCfgPack* p = cfg.GetPack(i);
        ASSERT_NE(p, nullptr);
        std::string n = i == 0 ? "01" : "02";
        EXPECT_EQ(p->soundFile, n + ".mp3");
        EXPECT_EQ(p->pictureFile, n + ".jpg");
        EXPECT_EQ(p->questionText, "");
        EXPECT_EQ(p->answerText, "");
        EXPECT_EQ(p->waitSeconds, 3u);
        EXPECT_EQ(p->fontSize, 20u);
    }
    EXPECT_EQ(cfg.GetPack(2), nullptr);
    EXPECT_EQ(cfg.GetPack(-1), nullptr);

    CCfgFile built;
    built.packs.RemoveAll();
    built.textBesidePicture = 1;
    built.packs.Add(MakePack("01.mp3", "01.jpg", 3, 20));
    built.packs.Add(MakePack("02.mp3", "02.jpg", 3, 20));
    std::string bytes;
    ASSERT_TRUE(built.SaveToBytes(bytes));
    EXPECT_EQ(bytes, Example());

    // The same through a file, both directions.
    TempDir dir;
    ASSERT_TRUE(built.Save(dir.file("config.cfg")));
    EXPECT_EQ(testsupport::ReadFile(dir.file("config.cfg")), Example());
    CCfgFile fromFile;
    ASSERT_TRUE(fromFile.Load(dir.file("config.cfg")));
    EXPECT_EQ(fromFile.GetPackCount(), 2);
    EXPECT_EQ(fromFile.GetPack(1)->pictureFile, "02.jpg");
}

TEST(CfgFile, EmptyLessonAndTrailingBytes) {
    CCfgFile cfg;
    ASSERT_TRUE(Load(cfg, U32(0) + U16(0)));
    EXPECT_EQ(cfg.GetPackCount(), 0);
    EXPECT_EQ(cfg.GetPack(0), nullptr);

    // Bytes after the last pack are not looked at.
    ASSERT_TRUE(Load(cfg, Example() + "garbage after the end"));
    EXPECT_EQ(cfg.GetPackCount(), 2);
}

TEST(CfgFile, StringLengthForms) {
    struct Case {
        size_t length;
        std::string prefix;
    } cases[] = {
        {0, std::string("\x00", 1)},
        {254, "\xFE"},
        {255, std::string("\xFF\xFF\x00", 3)},
        {0xFFFD, "\xFF\xFD\xFF"},
        {0xFFFE, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
        {0x10000, std::string("\xFF\xFF\xFF\x00\x00\x01\x00", 7)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        CCfgFile cfg;
        cfg.packs.RemoveAll();
        std::string text(c.length, 'x');
        cfg.packs.Add(MakePack("a.wav", "a.png", 1, 2));
        cfg.GetPack(0)->questionText = text;
        std::string bytes;
        ASSERT_TRUE(cfg.SaveToBytes(bytes));
        // flag, count, new-class record, sound and picture strings, then the question.
        size_t at = 4 + 2 + 14 + 6 + 6;
        EXPECT_EQ(bytes.substr(at, c.prefix.size()), c.prefix);
        EXPECT_EQ(bytes.size(), at + c.prefix.size() + c.length + 1 + 8);

        CCfgFile back;
        ASSERT_TRUE(Load(back, bytes));
        EXPECT_EQ(back.GetPack(0)->questionText, text);
        EXPECT_EQ(back.GetPack(0)->answerText, "");
    }

    // Longer forms than needed are read too (other writers may use them).
    CCfgFile cfg;
    std::string longForm = std::string("\xFF\x03\x00", 3) + "abc";
    ASSERT_TRUE(Load(cfg, U32(0) + U16(1) + NewClass() + longForm + Str("p") + Str("") + Str("") + U32(1) + U32(2)));
    EXPECT_EQ(cfg.GetPack(0)->soundFile, "abc");
}

TEST(CfgFile, Utf16StringsBecomeCp949) {
    // "가" U+AC00, "A", and a character outside CP949 (U+1F600 as a surrogate pair).
    std::string units = std::string("\x00\xAC", 2) + std::string("A\x00", 2) + std::string("\x3D\xD8\x00\xDE", 4);
    std::string marked = std::string("\xFF\xFE\xFF", 3) + std::string(1, 4) + units;
    CCfgFile cfg;
    ASSERT_TRUE(Load(cfg, U32(0) + U16(1) + NewClass() + Str("s") + Str("p") + marked + Str("") + U32(1) + U32(2)));
    EXPECT_EQ(cfg.GetPack(0)->questionText, "\xB0\xA1" "A?");
    EXPECT_EQ(cfg.GetPack(0)->fontSize, 2u);

    // Long length form after the marker: 0xFF, then 16 bits.
    std::string longMarked = std::string("\xFF\xFE\xFF\xFF\x01\x00", 6) + std::string("B\x00", 2);
    ASSERT_TRUE(Load(cfg, U32(0) + U16(1) + NewClass() + longMarked + Str("p") + Str("") + Str("") + U32(1) + U32(2)));
    EXPECT_EQ(cfg.GetPack(0)->soundFile, "B");

    // A UTF-16 string that ends after an odd number of bytes is a truncated file.
    std::string odd = std::string("\xFF\xFE\xFF\x02", 4) + std::string("A\x00" "B", 3);
    EXPECT_FALSE(Load(cfg, U32(0) + U16(1) + NewClass() + Str("s") + Str("p") + odd));
    // Two markers in a row are no length form at all.
    std::string twice = std::string("\xFF\xFE\xFF\xFF\xFE\xFF\x00", 7);
    EXPECT_FALSE(Load(cfg, U32(0) + U16(1) + NewClass() + twice + Str("p") + Str("") + Str("") + U32(1) + U32(2)));
}

TEST(CfgFile, NullSlotsBothWays) {
    CCfgFile cfg;
    std::string bytes = U32(0) + U16(3) + U16(0) + NewClass() + Body("a.mp3", "a.jpg") + U16(0);
    ASSERT_TRUE(Load(cfg, bytes));
    ASSERT_EQ(cfg.GetPackCount(), 3);
    EXPECT_EQ(cfg.GetPack(0), nullptr);
    ASSERT_NE(cfg.GetPack(1), nullptr);
    EXPECT_EQ(cfg.GetPack(1)->soundFile, "a.mp3");
    EXPECT_EQ(cfg.GetPack(2), nullptr);

    std::string again;
    ASSERT_TRUE(cfg.SaveToBytes(again));
    EXPECT_EQ(again, bytes);
}

TEST(CfgFile, LongCountForm) {
    // 0xFFFF slots need the long count; all of them null here.
    CCfgFile cfg;
    cfg.packs.RemoveAll();
    cfg.packs.SetSize(0xFFFF);
    std::string bytes;
    ASSERT_TRUE(cfg.SaveToBytes(bytes));
    ASSERT_EQ(bytes.size(), 4u + 6u + 2u * 0xFFFF);
    EXPECT_EQ(bytes.substr(4, 6), U16(0xFFFF) + U32(0xFFFF));
    CCfgFile back;
    ASSERT_TRUE(Load(back, bytes));
    EXPECT_EQ(back.GetPackCount(), 0xFFFF);

    // A long count may also carry a small number.
    ASSERT_TRUE(Load(back, U32(0) + U16(0xFFFF) + U32(1) + NewClass() + Body("x", "y")));
    EXPECT_EQ(back.GetPackCount(), 1);
}

TEST(CfgFile, ClassRecordsAndTags) {
    CCfgFile cfg;
    std::string head = U32(0) + U16(2) + NewClass() + Body("a", "b");
    // The long form of the class-index tag names the same class.
    EXPECT_TRUE(Load(cfg, head + U16(0x7FFF) + U32(0x80000001u) + Body("c", "d")));
    EXPECT_EQ(cfg.GetPack(1)->soundFile, "c");
    // A second new-class record of the same class is allowed; it takes the next index.
    EXPECT_TRUE(Load(cfg, head + NewClass() + Body("c", "d")));

    struct Bad {
        const char* what;
        std::string bytes;
    } bad[] = {
        {"schema 2", U32(0) + U16(1) + NewClass(2) + Body("a", "b")},
        {"name in other case", U32(0) + U16(1) + NewClass(1, "CCFGPACK") + Body("a", "b")},
        {"unregistered name", U32(0) + U16(1) + NewClass(1, "CSomething") + Body("a", "b")},
        {"registered but not a pack", U32(0) + U16(1) + NewClass(1, "CCfgFile") + Body("a", "b")},
        {"name of 64 bytes", U32(0) + U16(1) + NewClass(1, std::string(64, 'C'))},
        {"class index before any class", U32(0) + U16(1) + U16(0x8001) + Body("a", "b")},
        {"class index naming an object", head + U16(0x8002) + Body("c", "d")},
        {"class index past the map", head + U16(0x8009) + Body("c", "d")},
        {"class index 0", head + U16(0x8000) + Body("c", "d")},
        {"back reference to the first pack", head + U16(0x0002)},
        {"back reference not read yet", head + U16(0x0005)},
        {"long-form object reference", head + U16(0x7FFF) + U32(2)},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.what);
        EXPECT_FALSE(Load(cfg, b.bytes));
    }
}

TEST(CfgFile, TruncatedFilesFailAtEveryByte) {
    std::string whole = Example();
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        CCfgFile cfg;
        cfg.textBesidePicture = 7;
        EXPECT_FALSE(Load(cfg, whole.substr(0, cut)));
        // The flag changes only once the file supplied all four bytes of it.
        EXPECT_EQ(cfg.textBesidePicture, cut < 4 ? 7u : 1u);
        // Once the count is read, its slots exist, unless the bytes left could never
        // hold that many (two bytes a slot at least).
        if (cut >= 10) {
            ASSERT_EQ(cfg.GetPackCount(), 2);
            EXPECT_EQ(cfg.GetPack(0) != nullptr, cut >= 44);  // the first pack ends at 44
            EXPECT_EQ(cfg.GetPack(1), nullptr);
        } else {
            EXPECT_EQ(cfg.GetPackCount(), 0);
        }
    }
}

TEST(CfgFile, SizesThatCannotFitFailWithoutAllocating) {
    CCfgFile cfg;
    // 0xFFFFFFFF slots in a file of a dozen bytes: refused before any slot is made.
    EXPECT_FALSE(Load(cfg, U32(0) + U16(0xFFFF) + U32(0xFFFFFFFFu) + U16(0)));
    EXPECT_EQ(cfg.GetPackCount(), 0);
    EXPECT_FALSE(Load(cfg, U32(0) + U16(0xFFFE) + U16(0)));

    // Lengths that point past the end, in each form.
    std::string head = U32(0) + U16(1) + NewClass();
    EXPECT_FALSE(Load(cfg, head + "\x10" + "short"));
    EXPECT_FALSE(Load(cfg, head + std::string("\xFF\x00\x10", 3) + "short"));
    EXPECT_FALSE(Load(cfg, head + std::string("\xFF\xFF\xFF\xFE\xFF\xFF\xFF", 7) + "short"));
    // 0xFFFFFFFF is no valid length.
    EXPECT_FALSE(Load(cfg, head + std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 7) + "short"));
    EXPECT_EQ(cfg.GetPack(0), nullptr);

    // A file of null pages up to the size limit loads; one byte more is refused
    // unread, from bytes and from a file alike.
    const uint32_t slots = static_cast<uint32_t>((CCfgFile::kMaxFileBytes - 10) / 2);
    std::string nulls = U32(0) + U16(0xFFFF) + U32(slots) + std::string(2 * slots, '\0');
    ASSERT_EQ(nulls.size(), CCfgFile::kMaxFileBytes);
    ASSERT_TRUE(Load(cfg, nulls));
    EXPECT_EQ(cfg.GetPackCount(), static_cast<int>(slots));
    nulls.push_back('\0');
    EXPECT_FALSE(Load(cfg, nulls));
    EXPECT_EQ(cfg.GetLastFault(), ArchiveFault::TooLarge);
    EXPECT_EQ(cfg.GetPackCount(), 0);
    TempDir dir;
    ASSERT_TRUE(testsupport::WriteFile(dir.file("config.cfg"), nulls));
    EXPECT_FALSE(cfg.Load(dir.file("config.cfg")));
    EXPECT_EQ(cfg.GetLastFault(), ArchiveFault::TooLarge);
}

TEST(CfgFile, SecondLoadReplacesOrClearsTheFirst) {
    TempDir dir;
    ASSERT_TRUE(testsupport::WriteFile(dir.file("a.cfg"), Example()));
    std::string one = U32(0) + U16(1) + NewClass() + Body("z.wav", "z.png", 5, 30);
    ASSERT_TRUE(testsupport::WriteFile(dir.file("b.cfg"), one));
    ASSERT_TRUE(testsupport::WriteFile(dir.file("bad.cfg"), one.substr(0, one.size() - 3)));

    CCfgFile cfg;
    ASSERT_TRUE(cfg.Load(dir.file("a.cfg")));
    ASSERT_TRUE(cfg.Load(dir.file("b.cfg")));
    EXPECT_EQ(cfg.textBesidePicture, 0u);
    ASSERT_EQ(cfg.GetPackCount(), 1);
    EXPECT_EQ(cfg.GetPack(0)->soundFile, "z.wav");
    EXPECT_EQ(cfg.GetPack(0)->waitSeconds, 5u);

    ASSERT_TRUE(cfg.Load(dir.file("a.cfg")));
    EXPECT_FALSE(cfg.Load(dir.file("bad.cfg")));
    ASSERT_EQ(cfg.GetPackCount(), 1);
    EXPECT_EQ(cfg.GetPack(0), nullptr);  // the pack that broke off is gone, nothing of a.cfg is left

    ASSERT_TRUE(cfg.Load(dir.file("a.cfg")));
    EXPECT_FALSE(cfg.Load(dir.file("missing.cfg")));
    EXPECT_EQ(cfg.GetPackCount(), 0);
    EXPECT_EQ(cfg.textBesidePicture, 1u);  // the file supplied nothing new
    EXPECT_FALSE(cfg.Load(dir.path()));     // a folder is no file
}

TEST(Codepage, ConversionsBothWays) {
    std::string cp949;
    ASSERT_TRUE(Utf8ToCp949("사과 apple", cp949));
    EXPECT_EQ(cp949, "\xBB\xE7\xB0\xFA apple");
    std::string utf8;
    ASSERT_TRUE(Cp949ToUtf8(cp949, utf8));
    EXPECT_EQ(utf8, "사과 apple");

    // Outside CP949, or not UTF-8 at all.
    EXPECT_FALSE(Utf8ToCp949("smile \xF0\x9F\x98\x80", cp949));
    EXPECT_TRUE(cp949.empty());
    EXPECT_FALSE(Utf8ToCp949("\xC3", cp949));

    // Stray bytes are replaced and the rest still comes through.
    EXPECT_FALSE(Cp949ToUtf8("a\xFF" "b\xB0", utf8));
    EXPECT_EQ(utf8, "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_TRUE(Cp949ToUtf8("", utf8));
    EXPECT_EQ(utf8, "");
}

}  // namespace
