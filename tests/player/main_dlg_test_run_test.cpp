// The recorded test run on a real dialog: the recorder on SDL's dummy capture, the
// simulated mixer, scripted answers, a recorded upload and the outbox it leaves.
#include <sys/stat.h>

#include "main_dlg_fixture.h"
#include "codec_binding.h"
#include "mixer_sim.h"
#include "qt_services.h"
#include "review_dlg.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <thread>

namespace {

// A click on a button as the window system delivers it, through the application's filters.
void ClickButton(QWidget* button) {
    const QPointF at(button->width() / 2.0, button->height() / 2.0);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, button->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(button, &event);
    }
}

std::vector<PageSpec> TwoPages() {
    std::vector<PageSpec> pages(2);
    pages[0].sound = "a.wav";
    pages[0].picture = "a.png";
    pages[0].wait = 1;
    pages[1].sound = "b.wav";
    pages[1].picture = "b.png";
    pages[1].wait = 1;
    return pages;
}

class TestRunTest : public MainDlgTest {
protected:
    void SetUp() override {
        MainDlgTest::SetUp();
        ASSERT_TRUE(LoadCodecLibrary());
        m_sound.SetDefaultLength(500);
        ClearSimMixerLog();
    }
    // Play in test mode, then ticks until the question has been answered.
    void RunToTheEnd() {
        Click(IDC_TEST);
        Click(IDC_PLAY);
        ASSERT_TRUE(m_dlg->m_bTestRunning);
        EXPECT_TRUE(m_dlg->TickRunning());  // the run moves on by itself
        // A level posted by the capture thread that the window has not taken yet, as
        // while the recorder closes.
        QCoreApplication::postEvent(m_dlg.get(), new CWindowMessageEvent(WM_RECORD_LEVEL, 900, 0));
        for (int i = 0; i < 20 && m_dlg->m_bTestRunning; ++i)
            Tick(500);
        ASSERT_FALSE(m_dlg->m_bTestRunning);
        EXPECT_FALSE(m_dlg->TickRunning());
    }
    bool Recording() const { return testsupport::Exists(RecordingPath()); }
    // The outbox's copies: "waiting" or "refused" with their bytes.
    std::vector<std::string> OutboxState() const {
        std::vector<std::string> state;
        for (const OutboxEntry& e : COutbox(CMainDlg::OutboxFolder()).Entries())
            state.push_back(e.name + (e.refused ? " refused " : " waiting ") + testsupport::ReadFile(e.path));
        return state;
    }
};

TEST_F(TestRunTest, PlayStartsRecordingFromPageZero) {
    Start(MakePackage("a.viz", TwoPages()));
    Click(IDC_NEXT);
    Click(IDC_TEST);
    EXPECT_EQ(m_dlg->m_nCurPage, 0);
    Click(IDC_NEXT);  // disabled in test mode; the command itself still steps
    Click(IDC_PLAY);
    EXPECT_EQ(m_dlg->m_nCurPage, 0);
    EXPECT_TRUE(m_dlg->m_bTestRunning);
    EXPECT_TRUE(m_dlg->IsPlaying());
    EXPECT_TRUE(m_dlg->m_recorder.IsCapturing());
    EXPECT_TRUE(Recording());
    struct stat st;
    ASSERT_EQ(stat(RecordingPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // the learner's voice is theirs alone
    EXPECT_TRUE(Enabled(IDC_STOP));
    EXPECT_FALSE(Enabled(IDC_PLAY));
    Click(IDC_STOP);
}

TEST_F(TestRunTest, YesWithOkKeepsTheRecordingAndUploadsIt) {
    m_box.answers = {IDYES};
    m_uploadReply = "OK";
    WriteSetting("UploadHost=lessons.test:8081");
    Start(MakePackage("a.viz", TwoPages()));
    RunToTheEnd();
    ASSERT_EQ(m_uploads.size(), 1u);
    EXPECT_EQ(m_uploads[0].url, "http://lessons.test:8081/RozevaDevur_O2_Veve/sprec_upload2.asp");
    EXPECT_EQ(m_uploads[0].name, "A01_L03_D5_SP_kim7.mp3");
    EXPECT_EQ(m_uploads[0].path, RecordingPath());
    EXPECT_EQ(m_box.shown, (std::vector<std::string>{"학습한 내용을 서버로 전송하시겠습니까?", "전송이 완료 되었습니다."}));
    EXPECT_TRUE(Recording());
    QCoreApplication::processEvents();
    EXPECT_EQ(m_dlg->m_nLevel, 0) << "no level of the run is applied after it has ended";
    EXPECT_TRUE(Enabled(IDC_PLAY));  // TestIdle
}

TEST_F(TestRunTest, RepliesDecideTheMessageAndTheFile) {
    struct Case {
        std::string reply;
        int result;
        bool kept;
        std::string message;
        const char* outbox;  // what the outbox holds of the run afterwards: nothing, "waiting" or "refused"
    };
    const std::string accepted = "전송이 완료 되었습니다.";
    const std::string refused = "녹음파일을 전송했으나 실패 응답을 받았습니다.\n잠시후 다시 시도하세요";
    const std::string failed = "녹음파일을 전송하지 못했습니다.\n잠시후 다시 시도하세요";
    // One run after another under the same upload name: each run's copy
    // supersedes the one before it, and an accepted run drops it.
    const Case cases[] = {
        {"NOT OK", 1, true, accepted, nullptr},
        {"ok", 1, false, refused, "refused"},
        {"", 1, false, refused, "refused"},
        {"OK", 0, false, failed, "waiting"},
        {"OK", 0, false, failed, "waiting"},
        {"OK", 1, true, accepted, nullptr},
    };
    Start(MakePackage("a.viz", TwoPages()));
    for (const Case& c : cases) {
        m_box.shown.clear();
        m_box.answers = {IDYES};
        m_uploadReply = c.reply;
        m_uploadResult = c.result;
        RunToTheEnd();
        ASSERT_EQ(m_box.shown.size(), 2u) << c.reply;
        EXPECT_EQ(m_box.shown[1], c.message) << c.reply;
        EXPECT_EQ(Recording(), c.kept) << c.reply;
        std::vector<std::string> outbox;
        if (c.outbox)
            outbox.push_back("A01_L03_D5_SP_kim7.mp3 " + std::string(c.outbox) + " " + m_uploads.back().bytes);
        EXPECT_EQ(OutboxState(), outbox) << c.reply;
        Click(IDC_PRAC);  // back to practice; a kept file is deleted by the abort
        EXPECT_FALSE(Recording());
        EXPECT_EQ(OutboxState(), outbox) << c.reply;  // the outbox is not the learner's file
    }
}

// A server may keep the learner waiting for minutes. Meanwhile the window is
// served, clicks on the player are dropped rather than queued, and its close
// button gives the upload up at once: no message, the recording in the outbox.
TEST_F(TestRunTest, WhileTheUploadWaitsTheWindowLivesAndCanBeClosed) {
    using namespace std::chrono_literals;
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "closed during the upload" : "the server answers");
        m_box.shown.clear();
        m_box.answers = {IDYES};
        Start(MakePackage("a.viz", TwoPages()));
        std::atomic<bool> served{false};
        // Answers once the window has been served while it waited; when closed,
        // only a stop ends the wait (else, after 5 s, it "answers" and the checks fail).
        m_uploadWait = [&](const std::atomic<bool>& stop) {
            for (int i = 0; i < 500; ++i) {
                if (stop)
                    return false;
                if (served && !close)
                    return true;
                std::this_thread::sleep_for(10ms);
            }
            return true;
        };
        QTimer::singleShot(50, m_dlg.get(), [&] {
            ClickButton(m_dlg->Button(IDC_PRAC));  // dropped: the run's verdict is still to come
            served = true;
            if (close)
                ClickButton(m_dlg->Button(IDC_CLOSE));
        });
        RunToTheEnd();
        EXPECT_TRUE(served);
        EXPECT_TRUE(m_dlg->m_bTestMode) << "a click during the upload was not dropped";
        const std::string question = "학습한 내용을 서버로 전송하시겠습니까?";
        if (!close) {
            EXPECT_EQ(m_box.shown, (std::vector<std::string>{question, "전송이 완료 되었습니다."}));
            EXPECT_TRUE(OutboxState().empty());
            ClickButton(m_dlg->Button(IDC_PRAC));  // the same click, now taken
            EXPECT_FALSE(m_dlg->m_bTestMode);
        } else {
            EXPECT_EQ(m_box.shown, std::vector<std::string>{question});
            EXPECT_EQ(m_dlg->result(), IDOK);  // ended as the close button ends it
            EXPECT_EQ(OutboxState(), std::vector<std::string>{"A01_L03_D5_SP_kim7.mp3 waiting " + m_uploads.back().bytes});
            EXPECT_FALSE(Recording());
        }
    }
}

// A take the server did not get and the outbox could not take is its only copy:
// no abort deletes it (Prac, closing the window, a later start's Prac) until the
// outbox holds it.
TEST_F(TestRunTest, RecordingTheOutboxCannotTakeStaysWhereItIs) {
    const std::string blocked = CMainDlg::OutboxFolder();
    ASSERT_TRUE(testsupport::WriteFile(blocked, "not a folder"));
    Start(MakePackage("a.viz", TwoPages()));
    for (const std::string reply : {"", "FAIL", ""}) {  // not delivered, refused
        m_box.answers = {IDYES};
        m_uploadResult = reply.empty() ? 0 : 1;
        m_uploadReply = reply;
        RunToTheEnd();
        EXPECT_EQ(m_box.shown.size(), 2u);
        EXPECT_TRUE(Recording()) << reply;  // its only copy
        m_box.shown.clear();
        if (m_uploads.size() == 3)
            break;  // the last one is closed with the window
        Click(IDC_PRAC);
        EXPECT_TRUE(Recording()) << reply;
        if (m_uploads.size() == 2) {
            // The outbox can take it now: the next abort moves it there, refused.
            std::filesystem::remove(blocked);
            Click(IDC_TEST);
            Click(IDC_PRAC);
            EXPECT_FALSE(Recording());
            EXPECT_EQ(OutboxState(),
                      std::vector<std::string>{"A01_L03_D5_SP_kim7.mp3 refused " + m_uploads.back().bytes});
            std::filesystem::remove_all(blocked);
            ASSERT_TRUE(testsupport::WriteFile(blocked, "not a folder"));
        }
    }
    m_dlg->PostNcDestroy();
    EXPECT_TRUE(Recording());
    Start(MakePackage("a.viz", TwoPages()));
    Click(IDC_TEST);
    Click(IDC_PRAC);
    EXPECT_TRUE(Recording());
}

// The question offers the take to be heard unless the school turned that off, in
// which case it is the plain two-button box.
TEST_F(TestRunTest, ReviewBeforeSendChoosesTheBoxTheQuestionComesIn) {
    struct Case {
        const char* setting;
        bool review;
    } cases[] = {
        {"", true},
        {"ReviewBeforeSend=0", false},
        {"ReviewBeforeSend=banana", true},  // unreadable: the default
        {"ReviewBeforeSend=1", true},
    };
    Start(MakePackage("a.viz", TwoPages()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting);
        ASSERT_TRUE(testsupport::WriteFile(m_tmp.file("config/Dazuzor/Vorur_Ozudiz2.conf"),
                                           std::string("[General]\n") + c.setting + "\n"));
        m_box.shown.clear();
        m_box.reviewed.clear();
        m_box.answers = {IDYES};
        RunToTheEnd();
        EXPECT_EQ(m_box.shown, (std::vector<std::string>{"학습한 내용을 서버로 전송하시겠습니까?", "전송이 완료 되었습니다."}));
        EXPECT_EQ(m_box.reviewed.size(), c.review ? 1u : 0u);
        EXPECT_TRUE(!c.review || m_box.reviewed[0] == RecordingPath());
        EXPECT_EQ(m_uploads.back().bytes, testsupport::ReadFile(RecordingPath()));
    }
}

// The real box over the player: what it plays is the file that is sent, let go
// before the upload starts; a take that cannot be heard is sent all the same.
TEST_F(TestRunTest, TheReviewBoxPlaysTheFileThatIsSentAndOneThatCannotBeHeardIsSentAllTheSame) {
    m_realReviewBox = true;
    for (bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "damaged" : "heard");
        m_sound = CSimSoundOutput(m_clock, 500);
        if (damaged)
            m_sound.FailOpen("A01_L03_D5_SP_kim7.mp3");
        m_uploads.clear();
        m_box.shown.clear();
        testing::internal::CaptureStderr();
        Start(MakePackage("a.viz", TwoPages()));
        std::string atTheBox;
        std::vector<std::string> heardBeforeUpload;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<CReviewDlg*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            poll.stop();
            EXPECT_EQ(box->parentWidget(), m_dlg.get());
            EXPECT_EQ(box->ListenButton()->isEnabled(), !damaged);
            atTheBox = testsupport::ReadFile(RecordingPath());
            QTest::mouseClick(box->ListenButton(), Qt::LeftButton);
            QTest::mouseClick(box->YesButton(), Qt::LeftButton);
        });
        poll.start(10);
        m_uploadWait = [&](const std::atomic<bool>&) {
            for (const SimSoundEvent& e : m_sound.Events())
                if (e.path == RecordingPath())
                    heardBeforeUpload.push_back(e.op);
            return true;
        };
        RunToTheEnd();
        testing::internal::GetCapturedStderr();
        ASSERT_EQ(m_uploads.size(), 1u);
        EXPECT_FALSE(atTheBox.empty());
        EXPECT_EQ(m_uploads[0].bytes, atTheBox);
        EXPECT_EQ(m_box.shown, std::vector<std::string>{"전송이 완료 되었습니다."});
        const std::vector<std::string> heard = {"open", "seek", "play", "stop", "close"};
        EXPECT_EQ(heardBeforeUpload, damaged ? std::vector<std::string>{"fail"} : heard);
        m_uploadWait = nullptr;
        m_dlg.reset();
    }
}

TEST_F(TestRunTest, NoDeletesTheRecordingAndSendsNothing) {
    // A copy an earlier run could not deliver stays for the next start.
    ASSERT_TRUE(testsupport::WriteFile(m_tmp.file("earlier.mp3"), "earlier"));
    ASSERT_TRUE(COutbox(CMainDlg::OutboxFolder()).Put("A01_L03_D5_SP_kim7.mp3", m_tmp.file("earlier.mp3")));
    m_box.answers = {IDNO};
    Start(MakePackage("a.viz", TwoPages()));
    RunToTheEnd();
    EXPECT_TRUE(m_uploads.empty());
    EXPECT_FALSE(Recording());
    EXPECT_EQ(OutboxState(), std::vector<std::string>{"A01_L03_D5_SP_kim7.mp3 waiting earlier"});
}

TEST_F(TestRunTest, StopPracAndClosingAbortWithoutAsking) {
    Start(MakePackage("a.viz", TwoPages()));
    for (int how = 0; how < 3; ++how) {
        Click(IDC_TEST);
        Click(IDC_PLAY);
        Tick(500);
        ASSERT_TRUE(Recording());
        if (how == 0)
            Click(IDC_STOP);
        else if (how == 1)
            Click(IDC_PRAC);
        else
            m_dlg->PostNcDestroy();
        EXPECT_FALSE(m_dlg->m_bTestRunning) << how;
        EXPECT_FALSE(m_dlg->m_recorder.IsCapturing()) << how;
        EXPECT_FALSE(Recording()) << how;
        EXPECT_TRUE(m_box.shown.empty()) << how;
        EXPECT_TRUE(m_uploads.empty()) << how;
    }
}

// Ctrl+O on a package that does not open takes the lesson away, and with it Stop and
// Prac: the run must end there, as Stop ends it, or its recording would go on.
TEST_F(TestRunTest, ALessonThatFailsToOpenEndsTheRunAsStopWould) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> entries;  // none: not a zip
        std::vector<std::string> shown;
    } cases[] = {
        {"not a zip", {}, {"압축해제실패!"}},
        {"no config.cfg", {{"readme.txt", "hello"}}, {}},
        {"a damaged config.cfg", {{"config.cfg", "\x01\x00"}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_box.shown.clear();
        Start(MakePackage("a.viz", TwoPages()));
        Click(IDC_TEST);
        Click(IDC_PLAY);
        Tick(500);
        ASSERT_TRUE(Recording());
        std::string broken = m_tmp.file("broken.viz");
        if (c.entries.empty())
            ASSERT_TRUE(testsupport::WriteFile(broken, "not a zip"));
        else
            ASSERT_TRUE(WriteZip(broken, c.entries));
        m_chooser.next = broken;
        m_dlg->OnFileOpen();
        EXPECT_FALSE(m_dlg->m_bLessonLoaded);
        EXPECT_FALSE(m_dlg->m_bTestRunning);
        EXPECT_FALSE(m_dlg->m_recorder.IsCapturing());
        EXPECT_FALSE(Recording());
        EXPECT_TRUE(m_dlg->m_bTestMode);  // as after Stop
        EXPECT_EQ(m_box.shown, c.shown);
        EXPECT_TRUE(m_uploads.empty());
    }
}

TEST_F(TestRunTest, MixerIsSwitchedForTheRunOnlyWhenSpeakerRecIsOn) {
    m_box.answers = {IDNO, IDNO};
    Start(MakePackage("a.viz", TwoPages()));
    ClearSimMixerLog();
    RunToTheEnd();  // the setting is missing: it counts as on
    // Switched to the playback mix for the run, then back to the microphone.
    int selects = 0;
    for (const std::string& line : SimMixerLog())
        selects += line.rfind("select|", 0) == 0;
    EXPECT_EQ(selects, 2);

    WriteSetting("SpeakerRec=0");
    ClearSimMixerLog();
    RunToTheEnd();
    for (const std::string& line : SimMixerLog())
        EXPECT_EQ(line.find("select"), std::string::npos) << line;
}

TEST_F(TestRunTest, RecordingFileThatCannotBeDeletedStopsTheRun) {
    Start(MakePackage("a.viz", TwoPages()));
    ASSERT_TRUE(CreateDirectories(RecordingPath() + "/busy"));  // a folder in the way
    Click(IDC_TEST);
    Click(IDC_PLAY);
    EXPECT_FALSE(m_dlg->m_bTestRunning);
    EXPECT_EQ(m_box.shown, (std::vector<std::string>{"녹음할 파일이 사용중입니다.\n모든 프로그램을 닫고 다시 시도하세요."}));
}

// Pages whose picture or sound does not open hold up no run: a silent page keeps
// its pause, and the run ends with the question as any other.
TEST_F(TestRunTest, ARunThroughPagesThatDoNotOpenEndsAndAsks) {
    struct Case {
        const char* what;
        int page;
        bool brokenPicture, failSound;
        int ticks;  // until the question: each sound 500 ms, each pause 1 s
    } cases[] = {
        {"a damaged first picture", 0, true, false, 6},
        {"a damaged picture", 1, true, false, 6},
        {"a silent first page", 0, false, true, 5},
        {"a silent page", 1, false, true, 5},
        {"neither on the last page", 1, true, true, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_sound = CSimSoundOutput(m_clock, 500);
        auto pages = TwoPages();
        pages[c.page].pictureIsBroken = c.brokenPicture;
        if (c.failSound)
            m_sound.FailOpen(pages[c.page].sound);
        m_box.shown.clear();
        m_box.answers = {IDYES};
        m_uploads.clear();
        testing::internal::CaptureStderr();
        Start(MakePackage("a.viz", pages));
        Click(IDC_TEST);
        Click(IDC_PLAY);
        int ticks = 0;
        for (; ticks < 20 && m_dlg->m_bTestRunning; ++ticks)
            Tick(500);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(m_dlg->m_bTestRunning);
        EXPECT_EQ(ticks, c.ticks);
        EXPECT_EQ(m_box.shown, (std::vector<std::string>{"학습한 내용을 서버로 전송하시겠습니까?", "전송이 완료 되었습니다."}));
        ASSERT_EQ(m_uploads.size(), 1u);
        EXPECT_FALSE(m_uploads[0].bytes.empty());
        EXPECT_NE(said.find("page " + std::to_string(c.page + 1) + " of the lesson shows"), std::string::npos) << said;
        m_dlg.reset();
    }
}

TEST_F(TestRunTest, OnePageRunAsksAfterItsPause) {
    auto pages = TwoPages();
    pages.pop_back();
    m_box.answers = {IDNO};
    Start(MakePackage("a.viz", pages));
    Click(IDC_TEST);
    Click(IDC_PLAY);
    Tick(500);  // the sound ends
    EXPECT_TRUE(m_dlg->m_bTestRunning);
    Tick(500);
    EXPECT_TRUE(m_dlg->m_bTestRunning);
    Tick(500);  // a second of pause has passed
    EXPECT_FALSE(m_dlg->m_bTestRunning);
    EXPECT_EQ(m_box.shown.size(), 1u);
}

}  // namespace
