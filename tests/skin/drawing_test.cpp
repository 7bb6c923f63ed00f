#include <QBuffer>
#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <zlib.h>

#include "auto_font.h"
#include "kt_bitmap.h"
#include "mem_dc.h"
#include "picture.h"
#include "test_support.h"

using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// Left half red, right half blue.
QImage TwoColour(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::blue);
    QPainter p(&img);
    p.fillRect(0, 0, w / 2, h, Qt::red);
    return img;
}

std::string Encode(const QImage& img, const char* format) {
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, format);
    return bytes.toStdString();
}

// A 1 x 1 GIF (Qt reads GIF but does not write it).
const std::string kGif1x1("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00"
                          "!\xf9\x04\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02"
                          "D\x01\x00;",
                          43);

// A black-and-white PNG of side x side pixels, all white, compressed row by row: a
// file of some kilobytes that would decode to gigabytes.
std::string HugePng(uint32_t side) {
    auto be = [](uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    auto chunk = [&](const std::string& type, const std::string& data) {
        const std::string body = type + data;
        return be(static_cast<uint32_t>(data.size())) + body +
               be(static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
    };
    std::string idat;
    z_stream z{};
    deflateInit(&z, 9);
    std::string row(1 + (side + 7) / 8, '\0');
    unsigned char out[65536];
    for (uint32_t y = 0; y <= side; ++y) {
        z.next_in = reinterpret_cast<Bytef*>(row.data());
        z.avail_in = y < side ? static_cast<uInt>(row.size()) : 0;
        do {
            z.next_out = out;
            z.avail_out = sizeof out;
            deflate(&z, y < side ? Z_NO_FLUSH : Z_FINISH);
            idat.append(reinterpret_cast<char*>(out), sizeof out - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    const std::string header = be(side) + be(side) + std::string("\x01\x00\x00\x00\x00", 5);
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", idat) + chunk("IEND", "");
}

QImage SurfaceAtDpi(int dpi) {
    QImage img(10, 10, QImage::Format_ARGB32_Premultiplied);
    img.setDotsPerMeterX(qRound(dpi / 0.0254));
    img.setDotsPerMeterY(qRound(dpi / 0.0254));
    return img;
}

TEST(Picture, FormatIsTakenFromTheBytesNotTheName) {
    TempDir dir;
    struct Case {
        std::string name;
        std::string bytes;
        QSize size;
    };
    const std::vector<Case> cases = {
        {"photo.bmp", Encode(TwoColour(64, 48), "JPG"), {64, 48}},  // a JPEG called .bmp
        {"page.jpg", Encode(TwoColour(30, 20), "PNG"), {30, 20}},
        {"noextension", Encode(TwoColour(17, 9), "BMP"), {17, 9}},
        {"anim.png", kGif1x1, {1, 1}},
        // A CP949 name (not valid UTF-8) is opened by its bytes.
        {"\xc7\xd0\xbd\xc0.jpg", Encode(TwoColour(8, 8), "PNG"), {8, 8}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFile(dir.file(c.name), c.bytes));
        CPicture pic;
        EXPECT_TRUE(pic.Load(dir.file(c.name))) << c.name;
        EXPECT_TRUE(pic.IsLoaded()) << c.name;
        EXPECT_EQ(pic.GetImage().size(), c.size) << c.name;
    }
    CPicture mem;
    const std::string png = Encode(TwoColour(5, 4), "PNG");
    EXPECT_TRUE(mem.LoadFromMemory(png.data(), png.size()));
    EXPECT_EQ(mem.GetImage().size(), QSize(5, 4));
}

TEST(Picture, AFailedLoadLeavesTheObjectEmpty) {
    TempDir dir;
    const std::string png = Encode(TwoColour(30, 20), "PNG");
    ASSERT_TRUE(WriteFile(dir.file("good.png"), png));
    ASSERT_TRUE(WriteFile(dir.file("text.jpg"), "this is not a picture at all"));
    ASSERT_TRUE(WriteFile(dir.file("empty.png"), ""));
    ASSERT_TRUE(WriteFile(dir.file("cut.png"), png.substr(0, 40)));
    ASSERT_TRUE(WriteFile(dir.file("huge.png"), HugePng(30000)));

    CPicture pic;
    for (const char* bad : {"text.jpg", "empty.png", "missing.png", "cut.png", "huge.png", ""}) {
        ASSERT_TRUE(pic.Load(dir.file("good.png")));
        EXPECT_FALSE(pic.Load(dir.file(bad))) << bad;
        EXPECT_FALSE(pic.IsLoaded()) << bad;  // the earlier picture is gone too
        EXPECT_EQ(pic.GetSizeInPixels(nullptr), QSize(0, 0));
    }
    EXPECT_FALSE(pic.Load(dir.path()));  // a folder
    EXPECT_FALSE(pic.LoadFromMemory(nullptr, 10));
    EXPECT_FALSE(pic.LoadFromMemory(png.data(), 0));

    QImage target(10, 10, QImage::Format_RGB32);
    target.fill(Qt::green);
    QPainter p(&target);
    EXPECT_FALSE(pic.Draw(p, 0, 0, 10, 10));
    p.end();
    EXPECT_EQ(target.pixelColor(5, 5), QColor(Qt::green));
}

TEST(Picture, SizeIsInPixelsOfTheTargetSurface) {
    const std::string png = Encode(TwoColour(96, 48), "PNG");
    CPicture pic;
    ASSERT_TRUE(pic.LoadFromMemory(png.data(), png.size()));
    // 96 pixels at 96 per inch is one inch: 2540 hundredths of a millimetre.
    EXPECT_EQ(pic.GetHimetricSize(), QSize(2540, 1270));
    const QImage at96 = SurfaceAtDpi(96), at192 = SurfaceAtDpi(192), at72 = SurfaceAtDpi(72);
    EXPECT_EQ(pic.GetSizeInPixels(&at96), QSize(96, 48));
    EXPECT_EQ(pic.GetSizeInPixels(&at192), QSize(192, 96));
    EXPECT_EQ(pic.GetSizeInPixels(&at72), QSize(72, 36));
    EXPECT_EQ(pic.GetSizeInPixels(nullptr), QSize(96, 48));

    // Odd sizes come back exactly at 96 per inch.
    const std::string odd = Encode(TwoColour(199, 158), "PNG");
    ASSERT_TRUE(pic.LoadFromMemory(odd.data(), odd.size()));
    EXPECT_EQ(pic.GetSizeInPixels(&at96), QSize(199, 158));
}

TEST(Picture, DrawStretchesIntoTheRectangleAndReusesTheScaledCopy) {
    const std::string png = Encode(TwoColour(40, 20), "PNG");
    CPicture pic;
    ASSERT_TRUE(pic.LoadFromMemory(png.data(), png.size()));
    QImage target(200, 100, QImage::Format_RGB32);
    target.fill(Qt::black);
    {
        QPainter p(&target);
        EXPECT_TRUE(pic.Draw(p, 10, 10, 160, 80));
        EXPECT_TRUE(pic.Draw(p, 10, 10, 160, 80));  // repaint: same size
    }
    EXPECT_EQ(pic.GetScaleCount(), 1);
    EXPECT_EQ(target.pixelColor(20, 50), QColor(Qt::red));
    EXPECT_EQ(target.pixelColor(160, 50), QColor(Qt::blue));
    EXPECT_EQ(target.pixelColor(5, 5), QColor(Qt::black));     // outside
    EXPECT_EQ(target.pixelColor(175, 95), QColor(Qt::black));  // outside
    {
        QPainter p(&target);
        EXPECT_TRUE(pic.Draw(p, 0, 0, 100, 50));
    }
    EXPECT_EQ(pic.GetScaleCount(), 2);
    // A new picture starts a new cache.
    ASSERT_TRUE(pic.LoadFromMemory(png.data(), png.size()));
    {
        QPainter p(&target);
        EXPECT_TRUE(pic.Draw(p, 0, 0, 100, 50));
    }
    EXPECT_EQ(pic.GetScaleCount(), 3);
}

TEST(Picture, DecodedAtTheShownSizeKeepsOneCopyAndDecodesAgainFromItsFile) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir.file("page.jpg"), Encode(TwoColour(400, 200), "JPG")));
    CPicture pic;
    QSize askedFor;
    ASSERT_TRUE(pic.Load(dir.file("page.jpg"), [&](const QSize& himetric) {
        askedFor = himetric;
        return QSize(100, 50);
    }));
    // Sized by what is stored, kept at what is shown.
    EXPECT_EQ(askedFor, pic.GetHimetricSize());
    EXPECT_EQ(pic.GetSizeInPixels(nullptr), QSize(400, 200));
    EXPECT_EQ(pic.GetImage().size(), QSize(100, 50));

    QImage target(200, 100, QImage::Format_RGB32);
    auto draw = [&](int w, int h) {
        target.fill(Qt::green);
        QPainter p(&target);
        return pic.Draw(p, 0, 0, w, h);
    };
    auto colours = [&](int w, int h) {
        return target.pixelColor(w / 8, h / 2).red() > 200 && target.pixelColor(w * 7 / 8, h / 2).blue() > 200;
    };
    struct Step {
        const char* what;
        std::function<void()> before;
        QSize size;
        int scaleCount;  // after drawing
        bool drawn;
    };
    const std::vector<Step> steps = {
        {"at the shown size: the kept copy", [] {}, {100, 50}, 0, true},
        {"released: decoded again", [&] { pic.ReleasePixels(); }, {100, 50}, 1, true},
        {"larger: decoded again, not scaled up", [] {}, {200, 100}, 2, true},
        {"the file gone: scaled from the copy", [&] { std::remove(dir.file("page.jpg").c_str()); }, {60, 30}, 3, true},
        {"the file gone and released: nothing to draw", [&] { pic.ReleasePixels(); }, {100, 50}, 4, false},
    };
    for (const Step& step : steps) {
        step.before();
        EXPECT_TRUE(pic.IsLoaded()) << step.what;
        EXPECT_TRUE(draw(step.size.width(), step.size.height())) << step.what;
        EXPECT_EQ(pic.GetScaleCount(), step.scaleCount) << step.what;
        EXPECT_EQ(colours(step.size.width(), step.size.height()), step.drawn) << step.what;
        if (step.drawn)
            EXPECT_EQ(pic.GetImage().size(), step.size) << step.what;  // one copy, at the size drawn
    }
}

TEST(MemDC, PaintsOffscreenAndCopiesTheClipBoxOnceAtTheEnd) {
    QImage screen(200, 100, QImage::Format_ARGB32_Premultiplied);
    screen.fill(Qt::white);
    QPainter target(&screen);
    {
        CKtMemDC dc(&target, QRect(QPoint(10, 20), QPoint(109, 69)));  // (10, 20)-(110, 70)
        EXPECT_TRUE(dc.IsOffscreen());
        EXPECT_EQ(dc.GetOffscreenImage().size(), QSize(100, 50));
        // Drawing uses the target's coordinates.
        dc->fillRect(QRect(10, 20, 100, 50), Qt::red);
        dc->fillRect(QRect(100, 60, 50, 50), Qt::blue);  // partly outside the box
        dc->fillRect(QRect(0, 0, 5, 5), Qt::green);      // wholly outside
        target.end();
        EXPECT_EQ(screen.pixelColor(50, 40), QColor(Qt::white));  // nothing shown yet
        target.begin(&screen);
    }
    target.end();
    EXPECT_EQ(screen.pixelColor(10, 20), QColor(Qt::red));
    EXPECT_EQ(screen.pixelColor(109, 69), QColor(Qt::blue));
    EXPECT_EQ(screen.pixelColor(99, 59), QColor(Qt::red));
    EXPECT_EQ(screen.pixelColor(110, 69), QColor(Qt::white));
    EXPECT_EQ(screen.pixelColor(9, 20), QColor(Qt::white));
    EXPECT_EQ(screen.pixelColor(10, 70), QColor(Qt::white));
    EXPECT_EQ(screen.pixelColor(2, 2), QColor(Qt::white));
}

TEST(MemDC, ClipBoxComesFromThePainter) {
    QImage screen(200, 100, QImage::Format_ARGB32_Premultiplied);
    screen.fill(Qt::white);
    {
        QPainter target(&screen);
        target.setClipRect(QRect(30, 40, 20, 10));
        CKtMemDC dc(&target);
        EXPECT_EQ(dc.GetArea(), QRect(30, 40, 20, 10));
        dc->fillRect(QRect(0, 0, 200, 100), Qt::red);
    }
    EXPECT_EQ(screen.pixelColor(30, 40), QColor(Qt::red));
    EXPECT_EQ(screen.pixelColor(29, 40), QColor(Qt::white));
    {
        QPainter target(&screen);
        CKtMemDC dc(&target);  // no clip: the whole surface
        EXPECT_EQ(dc.GetArea(), QRect(0, 0, 200, 100));
    }
}

TEST(KtBitmap, CopiesWholeOrInPartAndNothingWhenEmpty) {
    CKtBitmap bmp;
    QImage target(50, 50, QImage::Format_RGB32);
    target.fill(Qt::white);
    QPainter p(&target);
    EXPECT_EQ(bmp.GetSize(), QSize(0, 0));
    EXPECT_EQ(bmp.Draw(p, 0, 0), 0);
    EXPECT_FALSE(bmp.Attach(QImage()));
    ASSERT_TRUE(bmp.Attach(TwoColour(20, 10)));
    EXPECT_EQ(bmp.GetSize(), QSize(20, 10));
    EXPECT_EQ(bmp.Draw(p, 0, 0), 1);
    // The right half only (blue), cut to the bitmap where asked for more.
    EXPECT_EQ(bmp.DrawPart(p, 0, 20, 30, 10, 10, 0), 1);
    p.end();
    EXPECT_EQ(target.pixelColor(2, 2), QColor(Qt::red));
    EXPECT_EQ(target.pixelColor(18, 2), QColor(Qt::blue));
    EXPECT_EQ(target.pixelColor(0, 20), QColor(Qt::blue));
    EXPECT_EQ(target.pixelColor(9, 29), QColor(Qt::blue));
    EXPECT_EQ(target.pixelColor(10, 20), QColor(Qt::white));

    // Drawn for a screen at 2 or 1.5: sizes and places stay device-independent,
    // and the bitmap's own pixels land one for one (no enlarging blur).
    for (qreal scale : {2.0, 1.5}) {
        QImage pixels = TwoColour(int(std::ceil(20 * scale)), int(std::ceil(10 * scale)));
        pixels.setDevicePixelRatio(scale);
        ASSERT_TRUE(bmp.Attach(pixels));
        EXPECT_EQ(bmp.GetSize(), QSize(20, 10)) << scale;
        QImage screen(int(50 * scale), int(50 * scale), QImage::Format_RGB32);
        screen.setDevicePixelRatio(scale);
        screen.fill(Qt::white);
        QPainter sp(&screen);
        EXPECT_EQ(bmp.Draw(sp, 10, 10), 1);
        EXPECT_EQ(bmp.DrawPart(sp, 10, 30, 10, 10, 10, 0), 1);  // the right half
        sp.end();
        const auto at = [&](int x, int y) { return screen.pixelColor(int(x * scale), int(y * scale)); };
        EXPECT_EQ(at(11, 11), QColor(Qt::red)) << scale;
        EXPECT_EQ(at(28, 18), QColor(Qt::blue)) << scale;
        EXPECT_EQ(at(9, 9), QColor(Qt::white)) << scale;
        EXPECT_EQ(at(10, 30), QColor(Qt::blue)) << scale;
        EXPECT_EQ(at(21, 35), QColor(Qt::white)) << scale;
        if (scale == 2.0)  // a picture line one device pixel wide stays one wide
            EXPECT_EQ(screen.pixelColor(20 + 19, 25), QColor(Qt::red));
    }
}

TEST(AutoFont, DefaultsHeightsAndFaceNames) {
    CAutoFont font;
    EXPECT_EQ(font.GetHeight(), -12);
    EXPECT_EQ(font.GetFaceName(), "Times New Roman");
    EXPECT_EQ(font.font().pixelSize(), 12);
    EXPECT_EQ(font.SetHeight(-16), -12);
    EXPECT_EQ(font.font().pixelSize(), 16);
    EXPECT_EQ(font.SetHeight(-20), -16);

    // A positive height is the cell height: ascent + descent.
    font.SetHeight(30);
    const QFontMetrics fm(font.font());
    EXPECT_NEAR(fm.ascent() + fm.descent(), 30, 2);

    EXPECT_EQ(font.SetFaceName("굴림"), "굴림");
    EXPECT_EQ(font.font().family(), QString::fromUtf8("굴림"));
    // At most 31 bytes, never half a character: 11 three-byte characters are 33.
    const std::string eleven = "가나다라마바사아자차카";
    EXPECT_EQ(font.SetFaceName(eleven), "가나다라마바사아자차");
    EXPECT_EQ(font.SetFaceName(std::string(40, 'x')), std::string(31, 'x'));
}

TEST(AutoFont, FaceNamesResolveToInstalledLookAlikes) {
    InstallFontSubstitutions();
    InstallFontSubstitutions();  // twice is harmless
    EXPECT_TRUE(QFont::substitutes("Times New Roman").contains("Liberation Serif", Qt::CaseInsensitive));
    CAutoFont font;
    EXPECT_EQ(QFontInfo(font.font()).family(), "Liberation Serif");
    font.SetFaceName("굴림");
    EXPECT_EQ(QFontInfo(font.font()).family(), "NanumGothic");
}

}  // namespace
