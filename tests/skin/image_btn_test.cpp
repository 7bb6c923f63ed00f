#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

#include "image_btn.h"
#include "resources.h"

namespace {

const QColor kRowColours[4] = {QColor(200, 0, 0), QColor(0, 200, 0), QColor(0, 0, 200), QColor(90, 90, 90)};

// A 26 x 104 strip: rows 0, 26, 52 and 78 start pictures of one colour each.
QImage FourColourStrip(int w = 26, int h = 26) {
    QImage strip(w, h * 4, QImage::Format_RGB32);
    for (int k = 0; k < 4; ++k)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                strip.setPixelColor(x, k * h + y, kRowColours[k]);
    return strip;
}

QColor Shown(CImageBtn& btn, QPoint at = QPoint(-1, -1)) {
    const QImage img = btn.grab().toImage();
    if (at.x() < 0)
        at = QPoint(img.width() / 2, img.height() / 2);
    return img.pixelColor(at);
}

// A shown top-level window with one button at (20, 20), driven through the
// window system layer so enter, leave and double clicks arise as they do live.
class ImageBtnTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_parent.resize(200, 120);
        m_btn = new CImageBtn(&m_parent);
        ASSERT_TRUE(m_btn->LoadStripImage(FourColourStrip(), 1));
        m_btn->SizeToFrame();
        m_btn->move(20, 20);
        m_parent.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_parent));
        m_window = m_parent.windowHandle();
        Move(QPoint(150, 100));  // start well away from the button
    }

    QPoint InWindow(QPoint buttonPos) const { return m_btn->mapTo(&m_parent, buttonPos); }
    void Move(QPoint windowPos) {
        QTest::mouseMove(m_window, windowPos);
        QCoreApplication::processEvents();
    }
    void MoveOnButton(QPoint p = QPoint(13, 13)) { Move(InWindow(p)); }
    void Press(QPoint windowPos) { QTest::mousePress(m_window, Qt::LeftButton, {}, windowPos); }
    void Release(QPoint windowPos) { QTest::mouseRelease(m_window, Qt::LeftButton, {}, windowPos); }

    QWidget m_parent;
    CImageBtn* m_btn = nullptr;
    QWindow* m_window = nullptr;
};

TEST_F(ImageBtnTest, StripIsSplitIntoFourPicturesInStripOrder) {
    EXPECT_EQ(m_btn->GetFrameSize(), QSize(26, 26));
    EXPECT_EQ(m_btn->size(), QSize(26, 26));
    EXPECT_EQ(m_btn->GetStatePicture(CImageBtn::STATE_NORMAL).pixelColor(0, 0), kRowColours[0]);
    EXPECT_EQ(m_btn->GetStatePicture(CImageBtn::STATE_HOVER).pixelColor(25, 25), kRowColours[1]);
    // Pressed shows the picture from row 52, disabled the one from row 78.
    EXPECT_EQ(m_btn->GetStatePicture(CImageBtn::STATE_PRESSED).pixelColor(0, 0), kRowColours[2]);
    EXPECT_EQ(m_btn->GetStatePicture(CImageBtn::STATE_DISABLED).pixelColor(0, 0), kRowColours[3]);
    EXPECT_EQ(Shown(*m_btn), kRowColours[0]);

    // Side by side: a quarter of the width each.
    CImageBtn wide;
    QImage strip(104, 26, QImage::Format_RGB32);
    for (int k = 0; k < 4; ++k)
        for (int y = 0; y < 26; ++y)
            for (int x = 0; x < 26; ++x)
                strip.setPixelColor(k * 26 + x, y, kRowColours[k]);
    ASSERT_TRUE(wide.LoadStripImage(strip, 0));
    EXPECT_EQ(wide.GetFrameSize(), QSize(26, 26));
    EXPECT_EQ(wide.GetStatePicture(CImageBtn::STATE_PRESSED).pixelColor(0, 0), kRowColours[2]);

    // A strip drawn for a screen at 2 or 1.5 (pictures of 52 or 39 pixels) keeps
    // the button at 26 x 26 device-independent pixels, its pictures at their own.
    for (qreal scale : {2.0, 1.5}) {
        QImage fine = FourColourStrip(int(26 * scale), int(26 * scale));
        fine.setDevicePixelRatio(scale);
        CImageBtn scaled;
        ASSERT_TRUE(scaled.LoadStripImage(fine, 1));
        EXPECT_EQ(scaled.GetFrameSize(), QSize(26, 26)) << scale;
        const QImage& pressed = scaled.GetStatePicture(CImageBtn::STATE_PRESSED);
        EXPECT_EQ(pressed.size(), QSize(int(26 * scale), int(26 * scale))) << scale;
        EXPECT_EQ(pressed.devicePixelRatio(), scale);
        EXPECT_EQ(pressed.pixelColor(pressed.width() - 1, pressed.height() - 1), kRowColours[2]) << scale;
    }
}

TEST_F(ImageBtnTest, HoverFollowsThePointerInAndOut) {
    MoveOnButton();
    EXPECT_TRUE(m_btn->m_bHover);
    EXPECT_EQ(m_btn->m_nState, CImageBtn::STATE_HOVER);
    EXPECT_EQ(Shown(*m_btn), kRowColours[1]);
    MoveOnButton(QPoint(3, 20));  // still inside: nothing changes
    EXPECT_EQ(m_btn->m_nState, CImageBtn::STATE_HOVER);
    Move(QPoint(150, 100));
    EXPECT_FALSE(m_btn->m_bHover);
    EXPECT_EQ(m_btn->m_nState, CImageBtn::STATE_NORMAL);
    EXPECT_EQ(Shown(*m_btn), kRowColours[0]);
}

TEST_F(ImageBtnTest, PressedPictureOnlyWhileThePointerIsInside) {
    QSignalSpy clicks(m_btn, &QAbstractButton::clicked);
    MoveOnButton();
    Press(InWindow({13, 13}));
    EXPECT_TRUE(m_btn->m_bLButtonDown);
    EXPECT_EQ(m_btn->m_nState, CImageBtn::STATE_PRESSED);
    EXPECT_EQ(Shown(*m_btn), kRowColours[2]);

    Move(QPoint(150, 100));  // held and dragged out
    EXPECT_EQ(m_btn->m_nState, CImageBtn::STATE_NORMAL);
    EXPECT_EQ(Shown(*m_btn), kRowColours[0]);
    MoveOnButton({5, 5});  // and back in, still held
    EXPECT_EQ(m_btn->m_nState, CImageBtn::STATE_PRESSED);

    Release(InWindow({5, 5}));
    EXPECT_FALSE(m_btn->m_bLButtonDown);
    EXPECT_EQ(m_btn->m_nState, CImageBtn::STATE_HOVER);
    EXPECT_EQ(clicks.count(), 1);

    // Released outside: no click, normal picture.
    Press(InWindow({13, 13}));
    Move(QPoint(150, 100));
    Release(QPoint(150, 100));
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_FALSE(m_btn->m_bLButtonDown);
    EXPECT_EQ(m_btn->m_nState, CImageBtn::STATE_NORMAL);
}

TEST_F(ImageBtnTest, CheckedButtonShowsPressedExceptWhileHoveredOrDisabled) {
    m_btn->SetCheck(1);
    EXPECT_EQ(m_btn->m_nCheck, 1);
    EXPECT_EQ(m_btn->GetDrawState(), CImageBtn::STATE_PRESSED);
    EXPECT_EQ(Shown(*m_btn), kRowColours[2]);
    MoveOnButton();
    EXPECT_EQ(Shown(*m_btn), kRowColours[1]);
    Move(QPoint(150, 100));
    EXPECT_EQ(Shown(*m_btn), kRowColours[2]);

    m_btn->SetCheck(2);  // not a check state: ignored
    EXPECT_EQ(m_btn->m_nCheck, 1);
    m_btn->SetCheck(-1);
    EXPECT_EQ(m_btn->m_nCheck, 1);

    m_btn->setEnabled(false);
    EXPECT_EQ(Shown(*m_btn), kRowColours[3]);
    m_btn->setEnabled(true);
    m_btn->SetCheck(0);
    EXPECT_EQ(m_btn->m_nCheck, 0);
    EXPECT_EQ(Shown(*m_btn), kRowColours[0]);
}

TEST_F(ImageBtnTest, DisabledButtonShowsItsPictureAndIgnoresClicks) {
    QSignalSpy clicks(m_btn, &QAbstractButton::clicked);
    MoveOnButton();
    m_btn->setEnabled(false);
    EXPECT_EQ(m_btn->m_nState, CImageBtn::STATE_DISABLED);
    EXPECT_EQ(Shown(*m_btn), kRowColours[3]);
    QTest::mouseClick(m_window, Qt::LeftButton, {}, InWindow({13, 13}));
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_FALSE(m_btn->m_bLButtonDown);

    // Enabled again under the pointer: hover, not a stale press.
    m_btn->setEnabled(true);
    EXPECT_NE(m_btn->m_nState, CImageBtn::STATE_DISABLED);
    EXPECT_NE(m_btn->m_nState, CImageBtn::STATE_PRESSED);
    QTest::mouseClick(m_window, Qt::LeftButton, {}, InWindow({13, 13}));
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(ImageBtnTest, FastDoubleClickCountsAsOneClick) {
    QSignalSpy clicks(m_btn, &QAbstractButton::clicked);
    MoveOnButton();
    // Window-system events: press, release, press, release at once.
    QTest::mouseDClick(m_window, Qt::LeftButton, {}, InWindow({13, 13}));
    EXPECT_EQ(clicks.count(), 1);
    // Widget-level double click event, as some platforms deliver it.
    QTest::mouseClick(m_btn, Qt::LeftButton, {}, QPoint(13, 13));
    QTest::mouseDClick(m_btn, Qt::LeftButton, {}, QPoint(13, 13));
    QTest::mouseRelease(m_btn, Qt::LeftButton, {}, QPoint(13, 13));
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_FALSE(m_btn->m_bLButtonDown);
    // Two clicks far enough apart are two clicks.
    QTest::mouseClick(m_window, Qt::LeftButton, {}, InWindow({13, 13}));
    EXPECT_EQ(clicks.count(), 3);
}

TEST_F(ImageBtnTest, PictureIsCentredWithTruncation) {
    m_btn->resize(40, 40);  // 7 pixels either side
    EXPECT_EQ(m_btn->GetFrameOrigin(), QPoint(7, 7));
    const QImage img = m_btn->grab().toImage();
    EXPECT_EQ(img.pixelColor(7, 7), kRowColours[0]);
    EXPECT_EQ(img.pixelColor(32, 32), kRowColours[0]);
    EXPECT_NE(img.pixelColor(6, 20), kRowColours[0]);
    EXPECT_NE(img.pixelColor(33, 20), kRowColours[0]);

    m_btn->resize(27, 25);  // (1 / 2, -1 / 2) truncate to (0, 0)
    EXPECT_EQ(m_btn->GetFrameOrigin(), QPoint(0, 0));
    m_btn->resize(20, 20);  // smaller: the middle of the picture
    EXPECT_EQ(m_btn->GetFrameOrigin(), QPoint(-3, -3));
    EXPECT_EQ(Shown(*m_btn, QPoint(0, 0)), kRowColours[0]);
}

TEST_F(ImageBtnTest, NewStripForgetsPressAndSizeButKeepsCheck) {
    m_btn->SetCheck(1);
    MoveOnButton();
    Press(InWindow({13, 13}));
    ASSERT_TRUE(m_btn->m_bLButtonDown);
    ASSERT_TRUE(m_btn->LoadStripImage(FourColourStrip(30, 20), 1));
    EXPECT_FALSE(m_btn->m_bLButtonDown);
    EXPECT_FALSE(m_btn->m_bCaptured);
    EXPECT_EQ(m_btn->m_nState, CImageBtn::STATE_NORMAL);
    EXPECT_EQ(m_btn->GetFrameSize(), QSize(30, 20));
    EXPECT_EQ(m_btn->m_nCheck, 1);
    Release(InWindow({13, 13}));

    // A strip that does not exist leaves no pictures and nothing painted.
    EXPECT_EQ(m_btn->LoadStrip(99999, 1), 0);
    EXPECT_EQ(m_btn->GetFrameSize(), QSize(0, 0));
    EXPECT_TRUE(m_btn->GetStatePicture(CImageBtn::STATE_NORMAL).isNull());
    EXPECT_EQ(m_btn->m_nCheck, 1);
}

TEST_F(ImageBtnTest, LosingFocusDropsThePress) {
    MoveOnButton();
    Press(InWindow({13, 13}));
    ASSERT_EQ(m_btn->m_nState, CImageBtn::STATE_PRESSED);
    QWidget other(&m_parent);
    other.setFocusPolicy(Qt::StrongFocus);
    other.show();
    other.setFocus();
    QCoreApplication::processEvents();
    EXPECT_EQ(m_btn->m_nState, CImageBtn::STATE_NORMAL);
    EXPECT_FALSE(m_btn->m_bLButtonDown);
    QSignalSpy clicks(m_btn, &QAbstractButton::clicked);
    Release(InWindow({13, 13}));
    EXPECT_EQ(clicks.count(), 0);
}

TEST(ImageBtnResources, RealStripsLoadAtTheirPictureSizes) {
    CImageBtn btn;
    ASSERT_EQ(btn.LoadStrip(130, 1), 1);
    EXPECT_EQ(btn.GetFrameSize(), QSize(26, 26));
    ASSERT_EQ(btn.LoadStrip(131, 1), 1);
    EXPECT_EQ(btn.GetFrameSize(), QSize(26, 29));
    btn.SizeToFrame();
    EXPECT_EQ(btn.size(), QSize(26, 29));
    EXPECT_EQ(btn.sizeHint(), QSize(26, 29));
}

}  // namespace
