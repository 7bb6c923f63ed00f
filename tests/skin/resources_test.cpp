#include <QImage>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>
#include <map>
#include <gtest/gtest.h>
#include <thread>
#include <utility>

#include "resources.h"

namespace {

struct Expected {
    int id;
    int w, h;
};

// The sizes the window's drawing and button placement are built around.
const Expected kBitmaps[] = {
    {137, 32, 2},   {141, 9, 2},    {144, 15, 2},   {139, 3, 53},   {142, 3, 56},  {138, 38, 43},
    {140, 248, 43}, {143, 133, 43}, {153, 113, 22}, {155, 193, 29}, {163, 60, 5},  {130, 26, 104},
    {136, 24, 104}, {135, 31, 120}, {134, 25, 104}, {148, 26, 104}, {151, 24, 60}, {152, 24, 56},
    {156, 38, 120}, {147, 37, 120}, {133, 20, 96},  {132, 21, 96},  {131, 26, 116},
};

const int kStrips[] = {130, 131, 132, 133, 134, 135, 136, 147, 148, 151, 152, 156};

bool SameColumn(const QImage& a, int xa, const QImage& b, int xb, int rowB0 = 0, int rows = -1) {
    if (rows < 0)
        rows = a.height();
    for (int y = 0; y < rows; ++y)
        if (a.pixel(xa, y) != b.pixel(xb, rowB0 + y))
            return false;
    return true;
}

// Pixels of a length drawn at a scale: whole pixels, rounded up.
int Scaled(int logical, qreal scale) { return int(std::ceil(logical * scale - 1e-9)); }

TEST(SkinResources, EveryBitmapIsPresentOpaqueAndOfItsSize) {
    for (const Expected& e : kBitmaps) {
        const QImage img = LoadBitmapResource(e.id);
        ASSERT_FALSE(img.isNull()) << e.id;
        EXPECT_EQ(img.size(), QSize(e.w, e.h)) << e.id;
        EXPECT_FALSE(img.hasAlphaChannel()) << e.id;
        // Drawn anew for each scale; a strip's four pictures are whole pixels each.
        const bool strip = std::find(std::begin(kStrips), std::end(kStrips), e.id) != std::end(kStrips);
        for (qreal scale : kSkinScales) {
            const QImage at = LoadBitmapResource(e.id, scale);
            ASSERT_FALSE(at.isNull()) << e.id << " at " << scale;
            EXPECT_EQ(at.devicePixelRatio(), scale) << e.id;
            const QSize expected(Scaled(e.w, scale), strip ? 4 * Scaled(e.h / 4, scale) : Scaled(e.h, scale));
            EXPECT_EQ(at.size(), expected) << e.id << " at " << scale;
            EXPECT_FALSE(at.hasAlphaChannel()) << e.id;
        }
    }
    // A screen's ratio takes the nearest drawing that is not coarser.
    for (auto [ratio, scale] : {std::pair{1.0, 1.0}, {1.25, 1.5}, {1.5, 1.5}, {1.75, 2.0}, {2.0, 2.0}, {3.0, 2.0}})
        EXPECT_EQ(SkinScaleFor(ratio), scale) << ratio;
    EXPECT_TRUE(LoadBitmapResource(129).isNull());
    EXPECT_TRUE(LoadBitmapResource(-1).isNull());
    const QIcon icon = LoadIconResource(128);
    EXPECT_FALSE(icon.isNull());
    EXPECT_GE(icon.availableSizes().size(), 2);
    EXPECT_TRUE(LoadIconResource(127).isNull());
}

TEST(SkinResources, TiledPiecesJoinWithoutSeams) {
    for (qreal scale : kSkinScales) {
        // Repeated sideways: every column alike (the level track repeats every 6).
        for (int id : {137, 138}) {
            const QImage img = LoadBitmapResource(id, scale);
            for (int x = 1; x < img.width(); ++x)
                ASSERT_TRUE(SameColumn(img, 0, img, x)) << id << " column " << x << " at " << scale;
        }
        const QImage level = LoadBitmapResource(163, scale);
        const int period = int(6 * scale);
        for (int x = 0; x < level.width(); ++x)
            ASSERT_TRUE(SameColumn(level, x, level, (x + period) % level.width())) << x << " at " << scale;
        // Repeated downward: every row alike.
        for (int id : {139, 142}) {
            const QImage img = LoadBitmapResource(id, scale);
            for (int y = 1; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    ASSERT_EQ(img.pixel(x, y), img.pixel(x, 0)) << id << " row " << y << " at " << scale;
        }
    }
}

TEST(SkinResources, PiecesOnTheBarRepeatTheBarBehindThem) {
    const QImage bar = LoadBitmapResource(138);
    // Plain stretches of the panels, the logo's edge, the volume panel's left end.
    EXPECT_TRUE(SameColumn(LoadBitmapResource(140), 60, bar, 0));
    EXPECT_TRUE(SameColumn(LoadBitmapResource(140), 247, bar, 0));
    EXPECT_TRUE(SameColumn(LoadBitmapResource(143), 10, bar, 0));
    EXPECT_TRUE(SameColumn(LoadBitmapResource(153), 0, bar, 0, 13));
    EXPECT_TRUE(SameColumn(LoadBitmapResource(155), 0, bar, 0, 8));
    // Every button picture starts on the bar row it is placed at (bar top is 557).
    const struct {
        int id, y, frameH;
    } buttons[] = {{130, 567, 26}, {136, 567, 26}, {135, 565, 30}, {134, 567, 26}, {148, 567, 26},
                   {151, 566, 15}, {152, 581, 14}, {156, 565, 30}, {147, 565, 30}, {133, 569, 24},
                   {132, 569, 24}, {131, 566, 29}};
    for (const auto& b : buttons) {
        const QImage strip = LoadBitmapResource(b.id);
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(strip.pixel(0, k * b.frameH), bar.pixel(0, b.y - 557)) << b.id << " picture " << k;
    }
}

TEST(SkinResources, TheFourPicturesOfAStripDiffer) {
    for (qreal scale : kSkinScales)
        for (int id : kStrips) {
            const QImage strip = LoadBitmapResource(id, scale);
            const int h = strip.height() / 4;
            for (int a = 0; a < 4; ++a)
                for (int b = a + 1; b < 4; ++b)
                    EXPECT_NE(strip.copy(0, a * h, strip.width(), h), strip.copy(0, b * h, strip.width(), h))
                        << id << ": pictures " << a << " and " << b << " at " << scale;
        }
}

// A larger scale is drawn, not enlarged: the picture at 2 holds more than the
// picture at 1 with every pixel doubled.
TEST(SkinResources, LargerScalesAddDetail) {
    for (int id : {135, 153, 156}) {
        const QImage one = LoadBitmapResource(id).convertToFormat(QImage::Format_RGB32);
        QImage two = LoadBitmapResource(id, 2.0).convertToFormat(QImage::Format_RGB32);
        two.setDevicePixelRatio(1);
        EXPECT_NE(one.scaled(one.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation), two) << id;
    }
}

}  // namespace

// Decoded ahead on another thread, a bitmap or icon is the one a direct read gives,
// whether the window asks before the decode has finished or after, at the ratio
// announced or at another.
TEST(SkinResources, ImagesDecodedAheadAreThoseReadDirectly) {
    std::map<qreal, QImage> piece, strip;  // read directly, nothing announced
    for (qreal ratio : kSkinScales) {
        piece[ratio] = LoadBitmapResource(137, ratio);
        strip[ratio] = LoadBitmapResource(130, ratio);
    }
    const auto iconSizes = LoadIconResource(128).availableSizes();
    struct Case {
        qreal announced, asked;
        bool askBeforeDecode;
    };
    for (const Case& c : {Case{1.0, 1.0, false}, Case{1.0, 1.0, true}, Case{1.5, 1.5, true}, Case{1.0, 2.0, false},
                          Case{2.0, 1.0, true}}) {
        AnnounceAheadResources({137, 130}, c.announced, 128);
        std::thread decoder;
        if (c.askBeforeDecode)
            decoder = std::thread([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                DecodeAheadResources();
            });
        else
            DecodeAheadResources();
        EXPECT_EQ(LoadIconResource(128).availableSizes(), iconSizes) << c.announced;
        const QImage got = LoadBitmapResource(137, c.asked);
        EXPECT_EQ(got, piece[c.asked]) << c.announced << " " << c.asked;
        EXPECT_EQ(got.devicePixelRatio(), c.asked);
        EXPECT_EQ(LoadBitmapResource(130, c.asked), strip[c.asked]) << c.announced << " " << c.asked;
        // Handed out once: a second ask reads the same image again.
        EXPECT_EQ(LoadBitmapResource(137, c.asked), got);
        if (decoder.joinable())
            decoder.join();
    }
}
