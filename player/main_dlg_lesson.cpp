// Opening and closing lessons, and the clean-up when the window goes away.
#include <unistd.h>

#include <QCoreApplication>

#include "diagnostics.h"
#include "file_chooser.h"
#include "main_dlg.h"
#include "paths.h"
#include "qt_services.h"
#include "unzipper.h"

BOOL CMainDlg::OpenLesson(const std::string& packagePath) {
    if (m_bLessonLoaded)
        CloseLesson();
    // No page sound may keep a file of the Temp folder open.
    m_player.Close();

    std::string folder = GetTempFolder();
    ClearFolderFiles(folder);
    CreateDirectories(folder);

    // Without a lesson neither Stop nor Prac can be pressed: a test run that loses its
    // lesson here ends as Stop would end it, so no recording outlives it.
    auto endTestRun = [this] {
        if (m_bTestRunning || m_recorder.IsCapturing())
            EndTest(1);
    };
    std::string reason;
    if (!ExtractPackage(packagePath, folder, &reason)) {
        Diagnose("cannot extract the lesson package " + packagePath, reason);
        endTestRun();
        ShowMessage("압축해제실패!");
        return 0;
    }
    // Packages made where file names ignore letter case may spell it differently.
    if (!m_cfg.Load(FindFileIgnoringCase(folder, "config.cfg"))) {
        Diagnose("cannot load config.cfg of " + packagePath, DescribeArchiveFault(m_cfg.GetLastFault()));
        ClearFolderFiles(folder);
        endTestRun();
        return 0;
    }
    m_bLessonLoaded = 1;
    // The first page's sound is read when it is first played: the window shows sooner.
    GoToPage(0, true);
    InvalidateControls();
    m_nLevel = 0;
    return 1;
}

void CMainDlg::CloseLesson() {
    if (!m_bLessonLoaded)
        return;
    StopSound();
    m_picture.FreePicture();
    ClearFolderFiles(GetTempFolder());
    m_cfg.Reset();
    m_bLessonLoaded = 0;
    m_nCurPage = -1;
}

void CMainDlg::OnFileOpen() {
    std::string path;
    if (m_services.fileChooser->ChooseOpenFile("강좌 파일 (*.viz)", path))
        OpenLesson(path);
    UpdateDialogControls();
}

void CMainDlg::PostNcDestroy() {
    if (m_bDestroyed)
        return;
    if (m_nTimerId) {
        killTimer(m_nTimerId);
        m_nTimerId = 0;
    }
    // The Stop command: aborts a test run and deletes its recording.
    if (m_bTestMode) {
        EndTest(1);
    } else {
        StopSound();
        m_bAutoPlaying = 0;
    }
    CloseLesson();
    ReleaseWaveInDevices();
    if (m_levelTarget)
        m_levelTarget->Detach();
    QObject::disconnect(m_idleConnection);
    m_bDestroyed = true;
}
