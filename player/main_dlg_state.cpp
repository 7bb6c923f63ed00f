// The player's commands, enable rules and 500 ms pulse.
#include <QMetaObject>
#include <future>
#include <system_error>

#include "codepage.h"
#include "diagnostics.h"
#include "image_btn.h"
#include "main_dlg.h"
#include "paths.h"

namespace {

// A lesson's file name for a diagnostic: its CP949 bytes as UTF-8, quoted.
std::string Shown(const std::string& name) {
    std::string utf8;
    Cp949ToUtf8(name, utf8);
    return "\"" + utf8 + "\"";
}

// Why a page's file did not open, for a diagnostic.
std::string WhyNotOpened(const char* kind, const std::string& name, const std::string& path, const char* otherwise) {
    if (name.empty())
        return std::string("no ") + kind + " named";
    if (path.empty() || !FileExists(path))
        return std::string(kind) + " " + Shown(name) + " is missing from the lesson";
    return std::string(kind) + " " + Shown(name) + " " + otherwise;
}

constexpr const char* kSoundUnplayable = "cannot be played (damaged, too large, or no sound output)";

std::string PageName(int index) { return "page " + std::to_string(index + 1) + " of the lesson"; }

}  // namespace

int CMainDlg::GetPageCount() const { return m_cfg.GetPackCount(); }

void CMainDlg::OnCommand(int id) {
    switch (id) {
    case IDC_PLAY:
        if (m_bTestMode) {
            StartTest();
        } else {
            m_dwWaitStart = 0;
            PlayCurrent();
            if (m_bAutoNext && IsPlaying()) {
                m_bAutoPlaying = 1;
            } else if (m_bAutoNext && m_bLessonLoaded && m_nCurPage >= 0) {
                // A silent page: the run starts with its pause.
                m_bAutoPlaying = 1;
                m_dwWaitStart = Now();
            }
        }
        break;
    case IDC_STOP:
        if (m_bTestMode) {
            EndTest(1);
        } else {
            StopSound();
            m_bAutoPlaying = 0;
        }
        break;
    case IDC_PREV:
        if (m_bLessonLoaded && m_nCurPage > 0)
            GoToPage(m_nCurPage - 1);
        break;
    case IDC_NEXT:
        if (m_bLessonLoaded && m_nCurPage < GetPageCount() - 1)
            GoToPage(m_nCurPage + 1);
        break;
    case IDC_AUTONEXT:
        m_bAutoNext = !m_bAutoNext;
        Button(IDC_AUTONEXT)->SetCheck(m_bAutoNext);
        if (m_bAutoNext) {
            PlayCurrent();
            m_bAutoPlaying = 1;
            if (!IsPlaying())
                m_dwWaitStart = Now();  // a silent page: its pause begins now
        } else {
            m_bAutoPlaying = 0;
        }
        break;
    case IDC_SHOW_QUESTION:
        m_bShowQuestion = !m_bShowQuestion;
        Button(IDC_SHOW_QUESTION)->SetCheck(m_bShowQuestion);
        Repaint();
        break;
    case IDC_SHOW_ANSWER:
        m_bShowAnswer = !m_bShowAnswer;
        Button(IDC_SHOW_ANSWER)->SetCheck(m_bShowAnswer);
        Repaint();
        break;
    case IDC_TEST:
        if (!m_bTestMode) {
            StopSound();
            m_bTestMode = 1;
            Button(IDC_TEST)->SetCheck(1);
            Button(IDC_PRAC)->SetCheck(0);
            m_dwWaitStart = 0;
            if (m_nCurPage != 0)
                GoToPage(0);
            Repaint();
        }
        break;
    case IDC_PRAC:
        if (m_bTestMode) {
            EndTest(1);
            m_bTestMode = 0;
            Button(IDC_TEST)->SetCheck(0);
            Button(IDC_PRAC)->SetCheck(1);
            m_dwWaitStart = 0;
            Repaint();
        }
        break;
    case IDC_MINIMIZE:
        showMinimized();
        break;
    case IDC_MAXIMIZE:
        SetMaximized(!m_bMaximized);
        m_bMaximized = !m_bMaximized;
        break;
    case IDC_CLOSE:
        done(IDOK);
        break;
    default:
        break;
    }
    UpdateDialogControls();
}

BOOL CMainDlg::IsCommandEnabled(int id) const {
    const bool loaded = m_bLessonLoaded;
    const bool practice = !m_bTestMode;
    const bool playing = m_player.m_bPlaying;
    switch (id) {
    case IDC_STOP:
        return m_bTestMode ? (loaded && m_bTestRunning) : (!m_bAutoPlaying && loaded && playing);
    case IDC_PLAY:
        return m_bTestMode ? (loaded && !m_bTestRunning) : (!m_bAutoPlaying && loaded && !playing);
    case IDC_PREV:
        return practice && !m_bAutoPlaying && loaded && m_nCurPage > 0;
    case IDC_NEXT:
        return practice && !m_bAutoPlaying && loaded && m_nCurPage < GetPageCount() - 1;
    case IDC_AUTONEXT:
    case IDC_SHOW_QUESTION:
    case IDC_SHOW_ANSWER:
        return practice && loaded;
    case IDC_PRAC:
        return loaded;
    case IDC_TEST:
        return loaded && !m_args.practiceMode;
    default:
        return 1;  // window buttons and sliders have no rule
    }
}

void CMainDlg::UpdateDialogControls() {
    if (m_bDestroyed)
        return;
    // The window's focus, also while a box over it is the active window.
    int focusedId = 0;
    for (auto& [id, button] : m_buttons)
        if (button == focusWidget())
            focusedId = id;
    for (auto& [id, button] : m_buttons) {
        bool enable = IsCommandEnabled(id);
        if (button->isEnabled() != enable)
            button->setEnabled(enable);
    }
    KeepFocusOnTheRun(focusedId);
    UpdateTimer();
}

void CMainDlg::PlayCurrent() {
    if (m_player.m_nDeviceID != -1)
        PlayPageSound();
}

void CMainDlg::PlayPageSound() {
    OpenDeferredSound();
    m_player.Play(0);
}

// The sound a page took without reading it is read at its first Play; one that does not
// open then makes the page silent, and says so as a page change would have.
void CMainDlg::OpenDeferredSound() {
    if (!m_player.IsOpenPending() || m_player.OpenNow())
        return;
    CCfgPack* pack = m_cfg.GetPack(m_nCurPage);
    const std::string name = pack ? pack->soundFile : std::string();
    Diagnose(PageName(m_nCurPage) + " shows silent", WhyNotOpened("sound", name, TempPath(name), kSoundUnplayable));
}

void CMainDlg::StopSound() {
    if (m_player.m_bPlaying) {
        m_player.Stop();
        m_player.SeekToStart();
    }
}

// A page shows with whatever of it opens: without its picture the view is empty,
// without its sound the page is silent and keeps its pause. It becomes the current
// page either way, so that Next, an automatic run and a test run get past it.
// soundLater: a sound file that is there is read at the first Play, not now.
void CMainDlg::GoToPage(int index, bool soundLater) {
    CCfgPack* pack = m_cfg.GetPack(index);
    StopSound();
    if (index < 0 || index >= GetPageCount())
        return;
    const std::string page = PageName(index);
    if (!pack) {
        // An empty slot: nothing to show or play, and no pause.
        m_picture.FreePicture();
        m_player.Close();
        Diagnose(page + " is an empty slot: it shows nothing");
    } else {
        std::string failed;
        const std::string picture = TempPath(pack->pictureFile);
        const std::string sound = TempPath(pack->soundFile);
        // The picture decodes on a second core while the sound opens, at the size
        // the view shows it: a large picture never sits in memory whole.
        const CPicture::ShownSize shown = ShownPictureSize();
        std::future<bool> decoding;
        try {
            decoding = std::async(std::launch::async, [this, picture, shown] { return m_picture.Load(picture, shown); });
        } catch (const std::system_error&) {
            // No thread to be had: decoded here, after the sound.
        }
        // The first page's sound is only named here and read at its first Play, off
        // the start's critical path.
        const bool soundOpened = soundLater && !sound.empty() && FileExists(sound) ? m_player.OpenLater(sound)
                                                                                   : m_player.Open(sound);
        const bool pictureOpened = decoding.valid() ? decoding.get() : m_picture.Load(picture, shown);
        if (!pictureOpened)
            failed = WhyNotOpened("picture", pack->pictureFile, picture, "does not decode (damaged, or too large)");
        if (!soundOpened)
            failed += (failed.empty() ? "" : "; ") + WhyNotOpened("sound", pack->soundFile, sound, kSoundUnplayable);
        if (!failed.empty())
            Diagnose(page + " shows " +
                         (pictureOpened ? "silent" : soundOpened ? "without its picture" : "silent and without its picture"),
                     failed);
    }
    m_nCurPage = index;
    Repaint();
}

void CMainDlg::OnTimer(int id) {
    if (id != 1)
        return;
    OnTick();
    // Only the countdown changes from tick to tick; a page change repaints the page,
    // and a button whose state changes repaints itself.
    const bool countdown = CountdownShows();
    if (countdown || m_bCountdownShown)
        update(CountdownRect());
    m_bCountdownShown = countdown;
    UpdateDialogControls();
}

bool CMainDlg::CountdownShows() const {
    return (m_bTestRunning || m_bAutoPlaying) && !m_player.m_bPlaying && m_dwWaitStart != 0;
}

// The pulse runs only while something moves on by itself: a sound plays, an automatic
// run or a test run goes on (the countdown shows only then; an automatic run waits
// while the player is in test mode). A player left on a page has no timer, so it
// does not wake.
void CMainDlg::UpdateTimer() {
    const bool running = m_player.m_bPlaying || m_bTestRunning || (m_bAutoPlaying && !m_bTestMode);
    const bool wanted = !m_bDestroyed && m_bInitialized && running;
    if (wanted && !m_nTimerId) {
        m_nTimerId = startTimer(kTickMs);
    } else if (!wanted && m_nTimerId) {
        killTimer(m_nTimerId);
        m_nTimerId = 0;
        if (m_bCountdownShown) {
            update(CountdownRect());
            m_bCountdownShown = false;
        }
    }
}

void CMainDlg::OnTick() {
    if (!m_bLessonLoaded || m_nCurPage < 0)
        return;
    CCfgPack* pack = m_cfg.GetPack(m_nCurPage);
    const DWORD pauseMs = pack ? pack->waitSeconds * 1000u : 0;  // an empty slot has none

    if (m_bTestMode) {
        if (!m_bTestRunning)
            return;
        if (m_player.m_bPlaying) {
            if (m_player.GetPosition() != m_player.m_dwLength)
                return;
            StopSound();
            m_dwWaitStart = Now();
        }
        if (Now() - m_dwWaitStart < pauseMs)
            return;
        int next = m_nCurPage + 1;
        if (next >= GetPageCount()) {
            EndTest(0);
            return;
        }
        GoToPage(next);
        PlayPageSound();
        if (!IsPlaying())
            m_dwWaitStart = Now();  // a silent page: its pause begins now
        return;
    }

    if (!m_bAutoPlaying) {
        if (m_player.m_bPlaying && m_player.GetPosition() == m_player.m_dwLength)
            StopSound();
        return;
    }

    if (m_player.m_bPlaying) {
        if (m_player.m_dwLength > m_player.GetPosition())
            return;
        StopSound();
        m_dwWaitStart = Now();
    }
    if (Now() - m_dwWaitStart < pauseMs)
        return;
    int next = m_nCurPage + 1;
    if (next >= GetPageCount()) {
        StopSound();
        m_bAutoPlaying = 0;
        return;
    }
    GoToPage(next);
    PlayPageSound();
    if (!IsPlaying())
        m_dwWaitStart = Now();
}

std::string CMainDlg::TempPath(const std::string& name) {
    // Packages are extracted flat: a name with a folder part would reach outside the
    // Temp folder, so it names nothing.
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
        return std::string();
    return FindFileIgnoringCase(GetTempFolder(), name);
}
