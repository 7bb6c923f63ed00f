#include <gtest/gtest.h>

#include "draw_geometry.h"
#include "hit_test.h"

namespace {

const RectL kView{3, 2, 797, 557};  // 800 x 600 with the default skin's margins

TEST(DrawGeometry, PictureOverTheView) {
    RectL area = PictureArea(kView, false);
    EXPECT_EQ(area, (RectL{4, 3, 796, 556}));
    PictureFit fit = FitPicture(area, 198, 158);
    EXPECT_EQ(fit.dw, 693);
    EXPECT_EQ(fit.dh, 553);
    EXPECT_EQ(fit.x, 53);
    EXPECT_EQ(fit.y, 3);
    EXPECT_EQ(TextRect(kView, fit, false), (RectL{63, 13, 736, 546}));
}

TEST(DrawGeometry, PictureBesideTheTexts) {
    RectL area = PictureArea(kView, true);
    EXPECT_EQ(area, (RectL{398, 3, 796, 556}));
    PictureFit fit = FitPicture(area, 199, 158);
    EXPECT_EQ(fit.dw, 398);
    EXPECT_EQ(fit.dh, 316);
    EXPECT_EQ(fit.x, 398);
    EXPECT_EQ(fit.y, 121);
    EXPECT_EQ(TextRect(kView, fit, true), (RectL{14, 121, 392, 437}));
}

TEST(DrawGeometry, NoPictureGivesAnEmptyFit) {
    PictureFit fit = FitPicture(PictureArea(kView, false), 0, 0);
    EXPECT_EQ(fit.x, 0);
    EXPECT_EQ(fit.dw, 0);
    RectL tr = TextRect(kView, fit, false);
    EXPECT_LT(tr.Width(), 0);
}

TEST(DrawGeometry, TextPlacementOverThePicture) {
    RectL tr{63, 13, 736, 546};
    RectL q, a;
    PlaceTexts(tr, false, true, 40, true, 30, q, a);
    EXPECT_EQ(a, (RectL{63, 516, 736, 546}));  // the answer ends at the text rectangle's bottom
    EXPECT_EQ(q, (RectL{63, 471, 736, 511}));  // the question ends 5 above the answer
    PlaceTexts(tr, false, true, 40, false, 0, q, a);
    EXPECT_EQ(q.bottom, 546);
}

TEST(DrawGeometry, TextPlacementBesideThePicture) {
    RectL tr{14, 121, 392, 437};
    RectL q, a;
    PlaceTexts(tr, true, true, 40, true, 30, q, a);
    EXPECT_EQ(q, (RectL{14, 121, 392, 161}));
    EXPECT_EQ(a, (RectL{14, 186, 392, 216}));  // 25 below the question
    PlaceTexts(tr, true, false, 0, true, 30, q, a);
    EXPECT_EQ(a.top, 121);
}

TEST(DrawGeometry, FontHeightAndMulDivRounding) {
    EXPECT_EQ(FontHeightForPoints(12, 96), -16);
    EXPECT_EQ(FontHeightForPoints(20, 96), -27);  // 26.67 rounds to 27
    EXPECT_EQ(MulDiv(3, 1, 2), 2);
    EXPECT_EQ(MulDiv(-3, 1, 2), -2);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

TEST(DrawGeometry, LevelsFromMessages) {
    EXPECT_EQ(LevelFromMessage(0), 0);
    EXPECT_EQ(LevelFromMessage(20), 0);
    EXPECT_EQ(LevelFromMessage(23), 2);
    EXPECT_EQ(LevelFromMessage(170), 100);
    EXPECT_EQ(LevelFromMessage(320), 200);  // not capped
    RectL bar = LevelBar(800, 600, 5);
    EXPECT_EQ(bar, (RectL{5, 558, 795, 563}));  // 5 pixels in from either side
    EXPECT_EQ(LevelFillRight(0, bar), 5);
    EXPECT_EQ(LevelFillRight(50, bar), 5 + 395);
    EXPECT_EQ(LevelFillRight(100, bar), 795);
    EXPECT_EQ(LevelFillRight(200, bar), 795);  // never over the frame
}

TEST(DrawGeometry, CountdownCountsDownAcrossTheTickWrap) {
    EXPECT_EQ(CountdownSeconds(5, 1000, 1000), 5);
    EXPECT_EQ(CountdownSeconds(5, 1999, 1000), 5);
    EXPECT_EQ(CountdownSeconds(5, 2000, 1000), 4);
    EXPECT_EQ(CountdownSeconds(5, 5999, 1000), 1);
    EXPECT_EQ(CountdownSeconds(5, 100, 0xFFFFFF00u), 5);  // 356 ms across the wrap
    EXPECT_EQ(CountdownSeconds(5, 6000, 1000), 0);
    EXPECT_EQ(CountdownSeconds(5, 600000, 1000), 0);  // a late move on never shows below zero
}

TEST(HitTest, MoveStripCornersAndEdges) {
    const int W = 800, H = 600, C = 2;
    EXPECT_EQ(MainWindowHitTest(0, 0, W, H, C), HTCAPTION);  // the top rows only move
    EXPECT_EQ(MainWindowHitTest(799, 1, W, H, C), HTCAPTION);
    EXPECT_EQ(MainWindowHitTest(0, 2, W, H, C), HTTOPLEFT);
    EXPECT_EQ(MainWindowHitTest(6, 6, W, H, C), HTTOPLEFT);
    EXPECT_EQ(MainWindowHitTest(793, 2, W, H, C), HTTOPRIGHT);
    EXPECT_EQ(MainWindowHitTest(799, 599, W, H, C), HTBOTTOMRIGHT);
    EXPECT_EQ(MainWindowHitTest(0, 599, W, H, C), HTBOTTOMLEFT);
    EXPECT_EQ(MainWindowHitTest(0, 300, W, H, C), HTLEFT);
    EXPECT_EQ(MainWindowHitTest(400, 6, W, H, C), HTTOP);
    EXPECT_EQ(MainWindowHitTest(400, 7, W, H, C), HTCAPTION);
    EXPECT_EQ(MainWindowHitTest(793, 300, W, H, C), HTRIGHT);
    EXPECT_EQ(MainWindowHitTest(792, 300, W, H, C), HTCAPTION);
    EXPECT_EQ(MainWindowHitTest(400, 593, W, H, C), HTBOTTOM);
    EXPECT_EQ(MainWindowHitTest(400, 300, W, H, C), HTCAPTION);  // the picture moves the window too
}

}  // namespace
