#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include "control_id.h"
#include "layout_mgr.h"
#include "rud_slider.h"

namespace {

TEST(RudSlider, BackgroundIsTheSkinGreyWhateverTheWindowColour) {
    QWidget parent;
    QPalette pal = parent.palette();
    pal.setColor(QPalette::Window, QColor(240, 240, 240));
    parent.setPalette(pal);
    parent.resize(120, 60);
    CRudSliderCtrl slider(&parent);
    slider.setGeometry(10, 10, 44, 13);
    slider.setRange(0, 100);
    slider.setValue(50);
    parent.show();
    const QImage img = slider.grab().toImage();
    ASSERT_EQ(img.size(), QSize(44, 13));
    const QColor grey(66, 71, 74);
    for (QPoint p : {QPoint(0, 0), QPoint(43, 0), QPoint(0, 12), QPoint(43, 12)})
        EXPECT_EQ(img.pixelColor(p), grey) << p.x() << "," << p.y();
    // Most of the widget is background; groove and handle take only a part.
    int background = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            background += img.pixelColor(x, y) == grey;
    EXPECT_GT(background, img.width() * img.height() / 3);
}

TEST(RudSlider, EndOfTrackingComesFromTheUserNotFromTheOwner) {
    QWidget parent;
    parent.resize(200, 60);
    CRudSliderCtrl slider(&parent);
    slider.setGeometry(10, 10, 100, 20);
    slider.setRange(0, 100);
    slider.setPageStep(10);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    QSignalSpy ends(&slider, &CRudSliderCtrl::endTrack);

    slider.setValue(40);  // the owner's own setting
    EXPECT_EQ(ends.count(), 0);

    slider.setFocus();
    QTest::keyClick(&slider, Qt::Key_Right);
    ASSERT_EQ(ends.count(), 1);
    EXPECT_EQ(ends.last().at(0).toInt(), 41);
    QTest::keyClick(&slider, Qt::Key_PageUp);
    ASSERT_EQ(ends.count(), 2);
    EXPECT_EQ(ends.last().at(0).toInt(), 51);
    QTest::keyClick(&slider, Qt::Key_A);  // not a navigation key
    EXPECT_EQ(ends.count(), 2);

    // A click on the groove ends with the final position.
    QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(95, 10));
    ASSERT_EQ(ends.count(), 3);
    EXPECT_EQ(ends.last().at(0).toInt(), slider.value());
    EXPECT_GT(slider.value(), 51);
}

// The main dialog's situation: 800 x 600 with a few of its controls.
class LayoutMgrTest : public ::testing::Test {
protected:
    QWidget* Add(int id, QRect r) {
        auto* w = new QPushButton(&m_dlg);
        w->setGeometry(r);
        SetControlId(w, id);
        return w;
    }
    void SetUp() override { m_dlg.resize(800, 600); }
    QWidget m_dlg;
    CLdLayoutMgr m_layout;
};

TEST_F(LayoutMgrTest, ControlsKeepTheirDistanceToTheAnchoredEdges) {
    QWidget* play = Add(1003, QRect(63, 565, 31, 30));
    QWidget* stop = Add(1009, QRect(13, 567, 26, 26));
    QWidget* close = Add(1002, QRect(761, 566, 26, 29));
    QWidget* slider = Add(1007, QRect(672, 568, 44, 13));
    m_layout.Initialize(&m_dlg);
    EXPECT_EQ(m_layout.AddAnchor(1003, 0, 100, 0, 100), 1);
    EXPECT_EQ(m_layout.AddAnchor(1009, 0, 100, 0, 100), 1);
    EXPECT_EQ(m_layout.AddAnchor(1002, 100, 100, 100, 100), 1);
    EXPECT_EQ(m_layout.AddAnchor(1007, 100, 100, 100, 100), 1);

    m_dlg.resize(1000, 700);
    m_layout.OnParentSized();
    EXPECT_EQ(stop->geometry(), QRect(13, 667, 26, 26));
    EXPECT_EQ(play->geometry(), QRect(63, 665, 31, 30));
    EXPECT_EQ(close->geometry(), QRect(961, 666, 26, 29));
    EXPECT_EQ(slider->geometry(), QRect(872, 668, 44, 13));

    // Always from the recorded rectangles: a control moved by other code comes back.
    close->move(5, 5);
    m_dlg.resize(900, 650);
    m_layout.OnParentSized();
    EXPECT_EQ(close->geometry(), QRect(861, 616, 26, 29));
    m_dlg.resize(800, 600);
    m_layout.OnParentSized();
    EXPECT_EQ(close->geometry(), QRect(761, 566, 26, 29));
    EXPECT_EQ(play->geometry(), QRect(63, 565, 31, 30));
}

TEST_F(LayoutMgrTest, UnknownIdsAndMissingParentRecordNothing) {
    Add(1003, QRect(63, 565, 31, 30));
    EXPECT_EQ(m_layout.AddAnchor(1003, 0, 100, 0, 100), 0);  // before Initialize
    m_layout.Initialize(&m_dlg);
    EXPECT_EQ(m_layout.AddAnchor(4242, 0, 100, 0, 100), 0);
    EXPECT_TRUE(m_layout.GetAnchors().empty());

    // A control deleted after anchoring is skipped; the others still move.
    QWidget* gone = Add(1010, QRect(94, 567, 25, 26));
    QWidget* next = Add(1013, QRect(119, 567, 26, 26));
    EXPECT_EQ(m_layout.AddAnchor(1010, 0, 100, 0, 100), 1);
    EXPECT_EQ(m_layout.AddAnchor(1013, 0, 100, 0, 100), 1);
    delete gone;
    m_dlg.resize(800, 650);
    m_layout.OnParentSized();
    EXPECT_EQ(next->geometry(), QRect(119, 617, 26, 26));

    // A parent that is gone makes resizing do nothing.
    CLdLayoutMgr orphan;
    {
        QWidget temp;
        temp.resize(100, 100);
        orphan.Initialize(&temp);
    }
    orphan.OnParentSized();
    orphan.Reposition();
}

TEST_F(LayoutMgrTest, AControlAnchoredTwiceEndsWhereTheLastRecordPutsIt) {
    QWidget* w = Add(1001, QRect(720, 569, 20, 24));
    m_layout.Initialize(&m_dlg);
    ASSERT_EQ(m_layout.AddAnchor(1001, 100, 100, 100, 100), 1);
    ASSERT_EQ(m_layout.AddAnchor(1001, 0, 0, 0, 0), 1);
    EXPECT_EQ(m_layout.GetAnchors().size(), 2u);
    m_dlg.resize(1000, 700);
    m_layout.OnParentSized();
    EXPECT_EQ(w->geometry(), QRect(720, 569, 20, 24));
}

TEST_F(LayoutMgrTest, ShrinkingPastTheEdgeClampsAtZero) {
    QWidget* w = Add(1015, QRect(672, 580, 44, 13));
    m_layout.Initialize(&m_dlg);
    ASSERT_EQ(m_layout.AddAnchor(1015, 100, 100, 100, 100), 1);
    m_dlg.resize(100, 20);
    m_layout.OnParentSized();
    // left 672 - 700 -> 0, right 716 - 700 = 16; top 580 - 580 = 0, bottom 13.
    EXPECT_EQ(w->geometry(), QRect(0, 0, 16, 13));
}

TEST(ControlId, ControlsAreFoundByTheirIdsAtAnyDepth) {
    QWidget dlg;
    auto* a = new QWidget(&dlg);
    auto* box = new QWidget(&dlg);
    auto* b = new QWidget(box);
    SetControlId(a, 1009);
    SetControlId(b, 1008);
    EXPECT_EQ(FindControl(&dlg, 1009), a);
    EXPECT_EQ(FindControl(&dlg, 1008), b);
    EXPECT_EQ(FindControl(&dlg, 1003), nullptr);
    EXPECT_EQ(FindControl(nullptr, 1009), nullptr);
    EXPECT_EQ(GetControlId(a), 1009);
    EXPECT_EQ(GetControlId(box), -1);
}

}  // namespace
