// The review box over a real main dialog: the take on the simulated output (or SDL's
// dummy one), answered by mouse and keyboard.
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <functional>

#include "main_dlg_fixture.h"
#include "qt_services.h"
#include "review_dlg.h"
#include "sound_sdl.h"

namespace {

const std::string kQuestion = "학습한 내용을 서버로 전송하시겠습니까?";

class ReviewDlgTest : public MainDlgTest {
protected:
    void SetUp() override {
        MainDlgTest::SetUp();
        Start("");
        m_take = m_tmp.file("take.mp3");
        ASSERT_TRUE(testsupport::WriteFile(m_take, "the take's bytes"));
        m_sound.SetLength("take.mp3", 3500);
    }
    std::unique_ptr<CReviewDlg> Open(ISoundOutput* output) {
        auto box = std::make_unique<CReviewDlg>(kQuestion, m_take, output, m_dlg.get());
        box->show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(box.get()));
        return box;
    }
    // The simulated sound's log since the last call.
    std::vector<std::string> Heard() {
        auto log = m_sound.Log();
        m_sound.ClearLog();
        return log;
    }
    std::string m_take;
};

TEST_F(ReviewDlgTest, TheTakeIsHeardFromItsStartStoppedAndTheAnswerStopsItFirst) {
    using V = std::vector<std::string>;
    struct Case {
        const char* answer;
        std::function<void(CReviewDlg&)> give;
        int result;
    } cases[] = {
        {"a click on 예", [](CReviewDlg& b) { QTest::mouseClick(b.YesButton(), Qt::LeftButton); }, QDialog::Accepted},
        {"a click on 아니요", [](CReviewDlg& b) { QTest::mouseClick(b.NoButton(), Qt::LeftButton); }, QDialog::Rejected},
        {"Enter on 예", [](CReviewDlg& b) {
             b.YesButton()->setFocus();
             QTest::keyClick(b.YesButton(), Qt::Key_Return);
         }, QDialog::Accepted},
        {"Space on 아니요", [](CReviewDlg& b) {
             b.NoButton()->setFocus();
             QTest::keyClick(b.NoButton(), Qt::Key_Space);
         }, QDialog::Rejected},
        {"Escape", [](CReviewDlg& b) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); }, QDialog::Rejected},
        {"the window's close", [](CReviewDlg& b) { b.close(); }, QDialog::Rejected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        m_sound.ClearLog();
        auto box = Open(&m_sound);
        EXPECT_EQ(Heard(), V{"open take.mp3"});
        EXPECT_EQ(box->parentWidget(), m_dlg.get());
        EXPECT_TRUE(box->isModal());
        EXPECT_EQ(box->windowTitle(), ApplicationTitle());
        EXPECT_TRUE(box->Unplayable().isEmpty());
        // Enter answers 예 until the learner moves; Tab visits the three buttons.
        EXPECT_EQ(QApplication::focusWidget(), box->YesButton());
        QPushButton* listen = box->ListenButton();
        std::vector<QString> names;
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            names.push_back(QApplication::focusWidget()->accessibleName());
        }
        EXPECT_EQ(names, (std::vector<QString>{"아니요", "들어보기", "예"}));
        EXPECT_EQ(listen->text(), "들어보기(&P)");
        EXPECT_EQ(box->TimeText(), "0:00 / 0:03");

        QTest::mouseClick(listen, Qt::LeftButton);
        EXPECT_EQ(Heard(), (V{"seek take.mp3", "play take.mp3"}));
        EXPECT_EQ(listen->text(), "멈춤(&P)");
        EXPECT_EQ(listen->accessibleName(), "멈춤");
        m_clock.Advance(1200);
        box->OnPoll();
        EXPECT_EQ(box->TimeText(), "0:01 / 0:03");
        EXPECT_EQ(box->ProgressValue(), 1200);
        // 멈춤 stops where it is; the box shows that the next play starts over.
        QTest::mouseClick(listen, Qt::LeftButton);
        EXPECT_EQ(Heard(), V{"stop take.mp3"});
        EXPECT_EQ(listen->accessibleName(), "들어보기");
        EXPECT_EQ(box->TimeText(), "0:00 / 0:03");
        // The mnemonic plays it again from the start, and it stops by itself at its end.
        QTest::keyClick(box.get(), Qt::Key_P, Qt::AltModifier);
        ASSERT_TRUE(QTest::qWaitFor([&] { return box->IsPlaying(); }, 2000));  // an animated click
        const auto again = m_sound.Events();
        ASSERT_EQ(again.size(), 2u);
        EXPECT_EQ(again[1].op, "play");
        EXPECT_EQ(again[1].positionMs, 0u);
        Heard();
        m_clock.Advance(4000);
        box->OnPoll();
        EXPECT_FALSE(box->IsPlaying());
        EXPECT_EQ(Heard(), V{"stop take.mp3"});
        EXPECT_EQ(listen->text(), "들어보기(&P)");
        // Enter and Space press the focused button.
        listen->setFocus();
        QTest::keyClick(listen, Qt::Key_Return);
        EXPECT_TRUE(box->IsPlaying());
        QTest::keyClick(listen, Qt::Key_Space);
        EXPECT_FALSE(box->IsPlaying());
        QTest::keyClick(listen, Qt::Key_Space);
        ASSERT_TRUE(box->IsPlaying());
        Heard();

        c.give(*box);
        EXPECT_FALSE(box->isVisible());
        EXPECT_EQ(box->result(), c.result);
        EXPECT_EQ(Heard(), (V{"stop take.mp3", "close take.mp3"}));
        EXPECT_EQ(testsupport::ReadFile(m_take), "the take's bytes");
    }
}

TEST_F(ReviewDlgTest, ATakeThatCannotBeHeardDisablesTheButtonSaysWhyAndTheAnswersStillWork) {
    struct Case {
        const char* what;
        std::function<void()> prepare;
        bool realOutput;
        QString why;
        std::string said;
    } cases[] = {
        {"no output device", [&] { m_sound.SetHasOutput(false); }, false,
         "소리를 낼 장치가 없어 들어볼 수 없습니다.", "no sound output device opens"},
        {"a damaged take", [&] { m_sound.FailOpen("take.mp3"); }, false, "녹음 파일이 손상되어 들어볼 수 없습니다.",
         "does not decode (16 bytes)"},
        {"a take of twelve minutes", [&] {
             m_sound.FailOpen("take.mp3");
             testsupport::WriteFile(m_take, std::string(12 * 60 * 4000, '\0'));
         }, false, "녹음이 너무 길어 들어볼 수 없습니다.", "about 12 minutes"},
        {"a damaged take decoded for real", [] {}, true, "녹음 파일이 손상되어 들어볼 수 없습니다.",
         "does not decode"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_sound = CSimSoundOutput(m_clock, 2000);
        ASSERT_TRUE(testsupport::WriteFile(m_take, "the take's bytes"));
        c.prepare();
        testing::internal::CaptureStderr();
        auto box = Open(c.realOutput ? &SdlSoundOutput() : &m_sound);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(box->Unplayable(), c.why);
        EXPECT_FALSE(box->ListenButton()->isEnabled());
        EXPECT_EQ(box->ListenButton()->toolTip(), c.why);
        EXPECT_EQ(box->TimeText(), c.why);
        EXPECT_NE(said.find("cannot be heard before it is sent: "), std::string::npos) << said;
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_EQ(box->result(), QDialog::Accepted);
    }
}

}  // namespace
