// The player's state table walked on a real dialog: commands, ticks, enable rules.
#include <sys/stat.h>

#include <QImage>
#include <functional>
#include <map>

#include "diagnostics.h"

#include "main_dlg_fixture.h"
#include "unzipper.h"
#include "zip_builder.h"

namespace {

std::vector<PageSpec> Pages(int n, uint32_t wait = 2) {
    std::vector<PageSpec> pages;
    for (int i = 0; i < n; ++i) {
        PageSpec p;
        p.sound = "s" + std::to_string(i) + ".wav";
        p.picture = "p" + std::to_string(i) + ".png";
        p.question = "Q" + std::to_string(i);
        p.answer = "A" + std::to_string(i);
        p.wait = wait;
        pages.push_back(p);
    }
    return pages;
}

const int kPlayerButtons[] = {IDC_STOP, IDC_PREV, IDC_PLAY, IDC_NEXT, IDC_AUTONEXT,
                              IDC_SHOW_QUESTION, IDC_SHOW_ANSWER, IDC_PRAC, IDC_TEST};

TEST_F(MainDlgTest, WithoutALessonEveryPlayerButtonIsDisabled) {
    Start("");
    EXPECT_FALSE(m_dlg->m_bLessonLoaded);
    EXPECT_EQ(m_dlg->m_nCurPage, -1);
    for (int id : kPlayerButtons)
        EXPECT_FALSE(Enabled(id)) << id;
    for (int id : {IDC_MINIMIZE, IDC_MAXIMIZE, IDC_CLOSE})
        EXPECT_TRUE(Enabled(id)) << id;
    Tick();  // ticks do nothing without a lesson
    EXPECT_EQ(Check(IDC_PRAC), 1);
    EXPECT_EQ(Check(IDC_TEST), 0);
}

TEST_F(MainDlgTest, LaunchPackageOpensAtPageZeroAndIsDeleted) {
    std::string package = MakePackage("unit01.viz", Pages(3));
    Start(package);
    EXPECT_TRUE(m_dlg->m_bLessonLoaded);
    EXPECT_EQ(m_dlg->m_nCurPage, 0);
    EXPECT_FALSE(testsupport::Exists(package));
    EXPECT_TRUE(testsupport::Exists(TempFolder() + "/config.cfg"));
    EXPECT_FALSE(m_dlg->IsPlaying());  // shown, not played
    // The first page's sound is read when it is first played, not while the window opens.
    EXPECT_TRUE(m_sound.Log().empty());
    Click(IDC_PLAY);
    EXPECT_EQ(m_sound.Log(), (std::vector<std::string>{"open s0.wav", "play s0.wav"}));
}

TEST_F(MainDlgTest, PreviousAndNextFollowThePage) {
    Start(MakePackage("a.viz", Pages(3)));
    EXPECT_FALSE(Enabled(IDC_PREV));
    EXPECT_TRUE(Enabled(IDC_NEXT));
    Click(IDC_NEXT);
    EXPECT_EQ(m_dlg->m_nCurPage, 1);
    EXPECT_TRUE(Enabled(IDC_PREV));
    Click(IDC_NEXT);
    EXPECT_EQ(m_dlg->m_nCurPage, 2);
    EXPECT_FALSE(Enabled(IDC_NEXT));
    Click(IDC_NEXT);  // nothing past the last page
    EXPECT_EQ(m_dlg->m_nCurPage, 2);
    Click(IDC_PREV);
    EXPECT_EQ(m_dlg->m_nCurPage, 1);
}

TEST_F(MainDlgTest, OnePageDisablesBothPreviousAndNext) {
    Start(MakePackage("a.viz", Pages(1)));
    EXPECT_FALSE(Enabled(IDC_PREV));
    EXPECT_FALSE(Enabled(IDC_NEXT));
    EXPECT_TRUE(Enabled(IDC_PLAY));
}

TEST_F(MainDlgTest, EmptyLessonEnablesPlayButPlaysNothing) {
    Start(MakePackage("a.viz", {}));
    EXPECT_TRUE(m_dlg->m_bLessonLoaded);
    EXPECT_EQ(m_dlg->m_nCurPage, -1);
    EXPECT_TRUE(Enabled(IDC_PLAY));
    Click(IDC_PLAY);
    EXPECT_FALSE(m_dlg->IsPlaying());
    EXPECT_FALSE(Enabled(IDC_NEXT));
    Tick();
}

TEST_F(MainDlgTest, SinglePlayEndsAtExactlyTheLengthAndRewinds) {
    m_sound.SetLength("s0.wav", 1200);
    Start(MakePackage("a.viz", Pages(2)));
    Click(IDC_PLAY);
    EXPECT_TRUE(m_dlg->IsPlaying());  // SinglePlay
    EXPECT_FALSE(Enabled(IDC_PLAY));
    EXPECT_TRUE(Enabled(IDC_STOP));
    EXPECT_TRUE(Enabled(IDC_NEXT));
    Tick(500);
    EXPECT_TRUE(m_dlg->IsPlaying());
    Tick(800);  // at its end: position == length
    EXPECT_FALSE(m_dlg->IsPlaying());
    EXPECT_EQ(m_dlg->m_player.GetPosition(), 0u);  // rewound
    EXPECT_EQ(m_dlg->m_nCurPage, 0);  // a single play never moves on
    Tick(5000);
    EXPECT_EQ(m_dlg->m_nCurPage, 0);
}

TEST_F(MainDlgTest, StopDuringSinglePlayRewinds) {
    Start(MakePackage("a.viz", Pages(2)));
    Click(IDC_PLAY);
    Tick(700);
    Click(IDC_STOP);
    EXPECT_FALSE(m_dlg->IsPlaying());
    EXPECT_EQ(m_dlg->m_player.GetPosition(), 0u);
    EXPECT_TRUE(Enabled(IDC_PLAY));
    EXPECT_FALSE(Enabled(IDC_STOP));
}

TEST_F(MainDlgTest, AutomaticRunGoesThroughEveryPageWithItsPause) {
    m_sound.SetDefaultLength(1000);
    Start(MakePackage("a.viz", Pages(3, 2)));
    Click(IDC_AUTONEXT);  // switching ">>" on plays at once
    EXPECT_EQ(Check(IDC_AUTONEXT), 1);
    EXPECT_TRUE(m_dlg->m_bAutoPlaying);
    EXPECT_TRUE(m_dlg->IsPlaying());
    for (int id : {IDC_STOP, IDC_PLAY, IDC_PREV, IDC_NEXT})
        EXPECT_FALSE(Enabled(id)) << id;

    Tick(1000);  // sound over: the pause begins
    EXPECT_FALSE(m_dlg->IsPlaying());
    EXPECT_NE(m_dlg->m_dwWaitStart, 0u);
    Tick(1500);
    EXPECT_EQ(m_dlg->m_nCurPage, 0);  // 1.5 s of a 2 s pause
    Tick(500);
    EXPECT_EQ(m_dlg->m_nCurPage, 1);
    EXPECT_TRUE(m_dlg->IsPlaying());
    Tick(1000);
    Tick(2000);
    EXPECT_EQ(m_dlg->m_nCurPage, 2);
    Tick(1000);
    Tick(2000);  // after the last page's pause the run ends
    EXPECT_EQ(m_dlg->m_nCurPage, 2);
    EXPECT_FALSE(m_dlg->m_bAutoPlaying);
    EXPECT_FALSE(m_dlg->IsPlaying());
    EXPECT_EQ(Check(IDC_AUTONEXT), 1);  // ">>" stays on
    EXPECT_TRUE(Enabled(IDC_PLAY));
}

TEST_F(MainDlgTest, PlayWithAutoNextOnStartsARun) {
    m_sound.SetDefaultLength(1000);
    Start(MakePackage("a.viz", Pages(2, 0)));
    Click(IDC_AUTONEXT);
    Tick(1000);
    Tick(500);  // pause 0: the next tick moves on
    EXPECT_EQ(m_dlg->m_nCurPage, 1);
    Tick(1000);
    Tick(500);
    EXPECT_FALSE(m_dlg->m_bAutoPlaying);
    Click(IDC_PREV);
    Click(IDC_PLAY);  // ">>" still on: Play starts an automatic run
    EXPECT_TRUE(m_dlg->m_bAutoPlaying);
    EXPECT_EQ(m_dlg->m_dwWaitStart, 0u);
}

TEST_F(MainDlgTest, SwitchingAutoNextOffLetsTheSoundFinish) {
    m_sound.SetDefaultLength(1000);
    Start(MakePackage("a.viz", Pages(3)));
    Click(IDC_AUTONEXT);
    Tick(500);
    Click(IDC_AUTONEXT);  // off mid-sound: SinglePlay
    EXPECT_EQ(Check(IDC_AUTONEXT), 0);
    EXPECT_FALSE(m_dlg->m_bAutoPlaying);
    EXPECT_TRUE(m_dlg->IsPlaying());
    Tick(500);  // the end of the sound rewinds, nothing advances
    EXPECT_FALSE(m_dlg->IsPlaying());
    Tick(5000);
    EXPECT_EQ(m_dlg->m_nCurPage, 0);
}

TEST_F(MainDlgTest, AutoNextSwitchedOnDuringSinglePlayContinuesTheSound) {
    m_sound.SetDefaultLength(1000);
    Start(MakePackage("a.viz", Pages(2)));
    Click(IDC_PLAY);
    Tick(500);
    Click(IDC_AUTONEXT);
    EXPECT_TRUE(m_dlg->m_bAutoPlaying);
    EXPECT_EQ(m_dlg->m_player.GetPosition(), 500u);  // goes on, not restarted
}

// The pulse runs only while something moves on by itself, so a player left on a page
// never wakes: a sound to its end, an automatic run with its pauses. (A test run's
// ticks are in main_dlg_test_run_test.cpp.)
TEST_F(MainDlgTest, TheTickRunsOnlyWhileSomethingMovesOnByItself) {
    m_sound.SetDefaultLength(1000);
    Start(MakePackage("a.viz", Pages(2, 1)));
    struct Step {
        const char* what;
        std::function<void()> act;
        bool ticking;
    } steps[] = {
        {"a lesson open on a page", [] {}, false},
        {"Play", [this] { Click(IDC_PLAY); }, true},
        {"the sound at its end", [this] { Tick(1000); }, false},
        {"an automatic run", [this] { Click(IDC_AUTONEXT); }, true},
        {"its pause", [this] { Tick(1000); }, true},
        {"the next page", [this] { Tick(1000); }, true},
        {"the run at the last page's end", [this] { Tick(1000), Tick(1000); }, false},
        {"Test mode", [this] { Click(IDC_TEST); }, false},
    };
    for (const Step& step : steps) {
        step.act();
        EXPECT_EQ(m_dlg->TickRunning(), step.ticking) << step.what;
    }
    EXPECT_FALSE(m_dlg->m_bAutoPlaying);
}

TEST_F(MainDlgTest, TestSuspendsAnAutomaticRunAndPracResumesIt) {
    m_sound.SetDefaultLength(1000);
    Start(MakePackage("a.viz", Pages(3, 3)));
    Click(IDC_NEXT);
    Click(IDC_AUTONEXT);
    Tick(1000);  // AutoPause on page 1
    Click(IDC_TEST);
    EXPECT_TRUE(m_dlg->m_bTestMode);
    EXPECT_EQ(m_dlg->m_nCurPage, 0);
    EXPECT_EQ(m_dlg->m_dwWaitStart, 0u);
    EXPECT_EQ(Check(IDC_TEST), 1);
    EXPECT_EQ(Check(IDC_PRAC), 0);
    EXPECT_TRUE(m_dlg->m_bAutoPlaying);  // kept, but ticks ignore it in test mode
    for (int id : {IDC_PREV, IDC_NEXT, IDC_AUTONEXT, IDC_SHOW_QUESTION, IDC_SHOW_ANSWER})
        EXPECT_FALSE(Enabled(id)) << id;
    Tick(10000);
    EXPECT_EQ(m_dlg->m_nCurPage, 0);
    Click(IDC_TEST);  // pressing Test again does nothing
    EXPECT_TRUE(m_dlg->m_bTestMode);

    Click(IDC_PRAC);
    EXPECT_FALSE(m_dlg->m_bTestMode);
    EXPECT_EQ(Check(IDC_PRAC), 1);
    EXPECT_EQ(m_dlg->m_dwWaitStart, 0u);
    Tick();  // the pause counts as elapsed: the run moves on at once
    EXPECT_EQ(m_dlg->m_nCurPage, 1);
    EXPECT_TRUE(m_dlg->IsPlaying());
}

TEST_F(MainDlgTest, PracticeOnlyLaunchKeepsTestDisabled) {
    Start(MakePackage("a.viz", Pages(2)), true);
    EXPECT_FALSE(Enabled(IDC_TEST));
    EXPECT_TRUE(Enabled(IDC_PRAC));
}

TEST_F(MainDlgTest, QuestionAndAnswerTogglesCarryCheckMarks) {
    Start(MakePackage("a.viz", Pages(2)));
    Click(IDC_SHOW_QUESTION);
    EXPECT_TRUE(m_dlg->m_bShowQuestion);
    EXPECT_EQ(Check(IDC_SHOW_QUESTION), 1);
    Click(IDC_SHOW_ANSWER);
    Click(IDC_SHOW_ANSWER);
    EXPECT_FALSE(m_dlg->m_bShowAnswer);
    EXPECT_EQ(Check(IDC_SHOW_ANSWER), 0);
}

// A page shows with whatever of it opens, says on stderr what did not, and never
// holds up the learner: Next gets past it and an automatic run gives a silent page
// its pause, then moves on. The first page too: the lesson opens on it.
TEST_F(MainDlgTest, PagesThatDoNotOpenShowWhatTheyCanAndRunsGetPastThem) {
    struct Case {
        const char* what;
        int page;  // the faulty one
        std::function<void(PageSpec&)> fault;
        bool picture, sound;  // what of it opens
        const char* line;     // what stderr says of it
        uint32_t pause = 2000;
    } cases[] = {
        {"a damaged picture", 1, [](PageSpec& p) { p.pictureIsBroken = true; }, false, true,
         "page 2 of the lesson shows without its picture: picture \"p1.png\" does not decode (damaged, or too large)"},
        {"a damaged first picture", 0, [](PageSpec& p) { p.pictureIsBroken = true; }, false, true,
         "page 1 of the lesson shows without its picture: picture \"p0.png\" does not decode (damaged, or too large)"},
        {"a missing picture", 1, [](PageSpec& p) { p.omitPicture = true; }, false, true,
         "page 2 of the lesson shows without its picture: picture \"p1.png\" is missing from the lesson"},
        {"a sound that does not decode", 1, [this](PageSpec&) { m_sound.FailOpen("s1.wav"); }, true, false,
         "page 2 of the lesson shows silent: sound \"s1.wav\" cannot be played (damaged, too large, or no sound "
         "output)"},
        {"a missing first sound", 0, [](PageSpec& p) { p.omitSound = true; }, true, false,
         "page 1 of the lesson shows silent: sound \"s0.wav\" is missing from the lesson"},
        {"neither", 1, [](PageSpec& p) { p.pictureIsBroken = p.omitSound = true; }, false, false,
         "page 2 of the lesson shows silent and without its picture: picture \"p1.png\" does not decode (damaged, "
         "or too large); sound \"s1.wav\" is missing from the lesson"},
        {"an empty slot", 1, [](PageSpec& p) { p.emptySlot = true; }, false, false,
         "page 2 of the lesson is an empty slot: it shows nothing", 0},
    };
    m_sound.SetDefaultLength(1000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto pages = Pages(3, 2);
        c.fault(pages[c.page]);
        testing::internal::CaptureStderr();
        Start(MakePackage("a.viz", pages));
        if (c.page > 0)
            Click(IDC_NEXT);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(m_dlg->m_nCurPage, c.page);
        EXPECT_EQ(m_dlg->m_picture.IsLoaded(), c.picture);
        EXPECT_EQ(m_dlg->m_player.m_nDeviceID != -1, c.sound);
        EXPECT_EQ(said, ProgramName() + ": " + c.line + "\n");
        Click(IDC_NEXT);
        EXPECT_EQ(m_dlg->m_nCurPage, c.page + 1);

        // An automatic run from the faulty page: a silent one keeps its pause.
        testing::internal::CaptureStderr();
        Click(IDC_PREV);
        Click(IDC_AUTONEXT);
        if (c.sound)
            Tick(1000);  // the sound ends
        if (c.pause > 0) {
            Tick(c.pause - 500);
            EXPECT_EQ(m_dlg->m_nCurPage, c.page) << "the pause was cut short";
        }
        Tick(500);
        EXPECT_EQ(m_dlg->m_nCurPage, c.page + 1);
        EXPECT_TRUE(m_dlg->IsPlaying());
        Click(IDC_AUTONEXT);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), said) << "once per visit";
        m_dlg.reset();
        m_sound = CSimSoundOutput(m_clock, 1000);
    }
}

// The first page's sound is read at its first Play: one that does not decode says so
// then, as a page change would, and the page is silent with its pause.
TEST_F(MainDlgTest, AFirstSoundThatDoesNotDecodeIsFoundAtItsPlayAndKeepsThePause) {
    m_sound.SetDefaultLength(1000);
    m_sound.FailOpen("s0.wav");
    testing::internal::CaptureStderr();
    Start(MakePackage("a.viz", Pages(2, 2)));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    testing::internal::CaptureStderr();
    Click(IDC_AUTONEXT);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              ProgramName() + ": page 1 of the lesson shows silent: sound \"s0.wav\" cannot be played (damaged, "
                              "too large, or no sound output)\n");
    EXPECT_FALSE(m_dlg->IsPlaying());
    EXPECT_EQ(m_dlg->m_player.m_nDeviceID, -1);
    Tick(1500);
    EXPECT_EQ(m_dlg->m_nCurPage, 0) << "the pause was cut short";
    Tick(500);
    EXPECT_EQ(m_dlg->m_nCurPage, 1);
    EXPECT_TRUE(m_dlg->IsPlaying());
}

TEST_F(MainDlgTest, PageFilesOutsideTheTempFolderAreNeverOpened) {
    auto pages = Pages(2);
    pages[1].picture = "../outside.png";
    pages[1].omitPicture = true;
    Start(MakePackage("a.viz", pages));
    // A picture that would load, one folder above the Temp folder.
    QImage(8, 8, QImage::Format_RGB32).save(QString::fromStdString(m_tmp.file("data/outside.png")), "PNG");
    testing::internal::CaptureStderr();
    Click(IDC_NEXT);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(m_dlg->m_nCurPage, 1);  // shown without that picture
    EXPECT_FALSE(m_dlg->m_picture.IsLoaded());
}

TEST_F(MainDlgTest, BrokenPackageShowsTheExtractionMessageOnce) {
    testsupport::WriteFile(m_tmp.file("bad.viz"), "not a zip at all");
    Start(m_tmp.file("bad.viz"));
    EXPECT_EQ(m_box.shown, (std::vector<std::string>{"압축해제실패!"}));
    EXPECT_FALSE(m_dlg->m_bLessonLoaded);
    EXPECT_FALSE(testsupport::Exists(m_tmp.file("bad.viz")));  // deleted whatever the result
    for (int id : kPlayerButtons)
        EXPECT_FALSE(Enabled(id)) << id;
}

TEST_F(MainDlgTest, PackageWithoutConfigOpensNothingSilently) {
    ASSERT_TRUE(WriteZip(m_tmp.file("nocfg.viz"), {{"readme.txt", "hello"}}));
    Start(m_tmp.file("nocfg.viz"));
    EXPECT_TRUE(m_box.shown.empty());
    EXPECT_FALSE(m_dlg->m_bLessonLoaded);
    EXPECT_FALSE(testsupport::Exists(TempFolder() + "/readme.txt"));
}

// A package made where file names ignore letter case: config.cfg and the page files
// are found whatever case the archive gives them.
TEST_F(MainDlgTest, LessonFilesAreFoundIgnoringLetterCase) {
    // The entries of a sound package, each renamed as the case says.
    auto repack = [this](const std::string& package, const std::map<std::string, std::string>& names) {
        CUnzipper unz(package.c_str());
        std::vector<std::pair<std::string, std::string>> entries;
        for (bool more = unz.FirstEntry(); more; more = unz.NextEntry()) {
            ZipEntryInfo info;
            std::string bytes;
            EXPECT_TRUE(unz.ReadEntryInfo(info) && unz.ExtractEntryToMemory(bytes));
            auto renamed = names.find(info.name);
            entries.emplace_back(renamed == names.end() ? info.name : renamed->second, bytes);
        }
        std::string path = m_tmp.file("foreign.viz");
        EXPECT_TRUE(WriteZip(path, entries));
        return path;
    };
    struct Case {
        std::map<std::string, std::string> names;
        bool loaded;
        const char* soundOpened;
    } cases[] = {
        {{{"config.cfg", "CONFIG.CFG"}, {"p0.png", "P0.PNG"}, {"s0.wav", "S0.Wav"}}, true, "open S0.Wav"},
        {{{"config.cfg", "Config.Cfg"}}, true, "open s0.wav"},
        {{{"config.cfg", "config.cfg.bak"}}, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names.begin()->second);
        Start(repack(MakePackage("a.viz", Pages(2)), c.names));
        EXPECT_EQ(m_dlg->m_bLessonLoaded, c.loaded);
        if (!c.loaded)
            continue;
        EXPECT_EQ(m_dlg->m_nCurPage, 0);
        EXPECT_TRUE(m_dlg->m_picture.IsLoaded());
        Click(IDC_PLAY);
        ASSERT_GE(m_sound.Log().size(), 2u);
        EXPECT_EQ(m_sound.Log()[m_sound.Log().size() - 2], c.soundOpened);
    }
}

// A package as other zip tools lay it out opens as any other.
TEST_F(MainDlgTest, PackagesOfOtherZipToolsOpen) {
    testzip::Layout zip64, shortDirectory;
    zip64.zip64Local = zip64.dataDescriptor = zip64.zip64Central = true;
    shortDirectory.centralSizeError = -3;
    for (const testzip::Layout& layout : {zip64, shortDirectory}) {
        SCOPED_TRACE(layout.zip64Central ? "ZIP64" : "central directory size short");
        CUnzipper unz(MakePackage("a.viz", Pages(2)).c_str());
        std::vector<testzip::Entry> entries;
        for (bool more = unz.FirstEntry(); more; more = unz.NextEntry()) {
            ZipEntryInfo info;
            std::string bytes;
            ASSERT_TRUE(unz.ReadEntryInfo(info) && unz.ExtractEntryToMemory(bytes));
            entries.push_back(testzip::File(info.name, bytes));
        }
        ASSERT_TRUE(testsupport::WriteFile(m_tmp.file("foreign.viz"), testzip::BuildLayout(entries, layout)));
        Start(m_tmp.file("foreign.viz"));
        EXPECT_TRUE(m_box.shown.empty());
        EXPECT_TRUE(m_dlg->m_bLessonLoaded);
        EXPECT_EQ(m_dlg->m_nCurPage, 0);
        EXPECT_TRUE(m_dlg->m_picture.IsLoaded());
        EXPECT_NE(m_dlg->m_player.m_nDeviceID, -1);
    }
}

// Folder entries named like a lesson's files leave nothing in the Temp folder that
// could stand in a later lesson's way.
TEST_F(MainDlgTest, FolderEntriesNamedLikeLessonFilesBreakNoLaterLesson) {
    CUnzipper unz(MakePackage("a.viz", Pages(1)).c_str());
    std::vector<std::pair<std::string, std::string>> entries = {{"config.cfg/", ""}, {"s0.wav/", ""}};
    for (bool more = unz.FirstEntry(); more; more = unz.NextEntry()) {
        ZipEntryInfo info;
        std::string bytes;
        ASSERT_TRUE(unz.ReadEntryInfo(info) && unz.ExtractEntryToMemory(bytes));
        entries.emplace_back(info.name, bytes);
    }
    ASSERT_TRUE(WriteZip(m_tmp.file("folders.viz"), entries));
    Start(m_tmp.file("folders.viz"));
    EXPECT_TRUE(m_dlg->m_bLessonLoaded);
    EXPECT_EQ(m_dlg->m_nCurPage, 0);
    m_chooser.next = MakePackage("b.viz", Pages(2));
    m_dlg->OnFileOpen();
    EXPECT_TRUE(m_dlg->m_bLessonLoaded);
    EXPECT_EQ(m_dlg->GetPageCount(), 2);
    struct stat st;
    for (const char* name : {"config.cfg", "s0.wav"}) {
        ASSERT_EQ(lstat((TempFolder() + "/" + name).c_str(), &st), 0) << name;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
    }
}

TEST_F(MainDlgTest, FileOpenReplacesTheLessonAndKeepsTheModes) {
    Start(MakePackage("a.viz", Pages(3)));
    std::string second = MakePackage("b.viz", Pages(2));
    Click(IDC_NEXT);
    Click(IDC_SHOW_QUESTION);
    Click(IDC_TEST);
    m_chooser.next = second;
    m_dlg->OnFileOpen();
    EXPECT_EQ(m_chooser.filter, "강좌 파일 (*.viz)");
    EXPECT_EQ(m_dlg->GetPageCount(), 2);
    EXPECT_EQ(m_dlg->m_nCurPage, 0);
    EXPECT_TRUE(m_dlg->m_bTestMode);
    EXPECT_TRUE(m_dlg->m_bShowQuestion);
    EXPECT_TRUE(testsupport::Exists(second));  // a chosen package is kept
    // The same package again works: the Temp folder is emptied and refilled.
    m_dlg->OnFileOpen();
    EXPECT_TRUE(m_dlg->m_bLessonLoaded);
    // Cancelled: nothing changes.
    m_chooser.next.clear();
    m_dlg->OnFileOpen();
    EXPECT_TRUE(m_dlg->m_bLessonLoaded);
    EXPECT_EQ(m_chooser.calls, 3);
}

TEST_F(MainDlgTest, ClosingEmptiesTheTempFolderOfFiles) {
    Start(MakePackage("a.viz", Pages(2)));
    m_dlg->PostNcDestroy();
    EXPECT_FALSE(m_dlg->m_bLessonLoaded);
    EXPECT_FALSE(testsupport::Exists(TempFolder() + "/config.cfg"));
    EXPECT_FALSE(testsupport::Exists(TempFolder() + "/p0.png"));
}

}  // namespace
