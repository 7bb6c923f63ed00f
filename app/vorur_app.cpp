#include "vorur_app.h"

#include <unistd.h>

#include <QApplication>
#include <cstdio>

#include "codec_binding.h"
#include "download_dlg.h"
#include "main_dlg.h"
#include "paths.h"
#include "qt_services.h"
#include "resources.h"
#include "single_exec.h"

CVorur_OzudizApp* CVorur_OzudizApp::s_current = nullptr;

namespace {
constexpr const char* kMutexName = "Vorur_Ozudiz2_Mutex";

std::string FormatMessage(const char* format, const char* arg) {
    char text[512];
    std::snprintf(text, sizeof text, format, arg);
    return text;
}
}  // namespace

CVorur_OzudizApp::CVorur_OzudizApp(int argc, char** argv) {
    s_current = this;
    m_programName = argc > 0 && argv[0] ? argv[0] : "Vorur_Ozudiz";
    for (int i = 1; i < argc; ++i)
        m_rawArgs.emplace_back(argv[i]);
    m_qtArgv.push_back(m_programName.data());
    m_qtArgv.push_back(nullptr);
    m_qtArgc = 1;
    m_qapp = std::make_unique<QApplication>(m_qtArgc, m_qtArgv.data());
    m_messageBox = std::make_unique<CQtMessageBox>();
}

CVorur_OzudizApp::~CVorur_OzudizApp() {
    m_qapp.reset();
    if (s_current == this)
        s_current = nullptr;
}

BOOL CVorur_OzudizApp::InitInstance() {
    InitSkinResources();
    InstallFontSubstitutions();

    if (!CKtSingleExec::Acquire(kMutexName))
        return 0;

    if (!LoadCodecLibrary()) {
        m_messageBox->Show(FormatMessage("%s 파일을 찾을 수 없습니다.", CodecLibraryFileName()), MB_OK);
        return 0;
    }

    if (!ReadLaunchArgs())
        return 0;

    {
        CMainDlg dlg(m_args);
        dlg.DoModal();
    }
    return 0;
}

int CVorur_OzudizApp::ExitInstance() { return 0; }

BOOL CVorur_OzudizApp::ReadLaunchArgs() {
    std::string moduleFolder;
    GetModuleFolder(moduleFolder);

    LaunchArgsCheck check = ParseLaunchArgs(m_rawArgs, moduleFolder, m_args);
    if (check == LaunchArgsCheck::WrongCount || check == LaunchArgsCheck::NoSlash)
        return 0;
    if (check == LaunchArgsCheck::BadPackageName) {
        m_messageBox->Show("강좌파일의 경로가 잘못되었습니다.", MB_OK);
        return 0;
    }

    // A stale package from an earlier run must never pass for a fresh download.
    unlink(m_args.packagePath.c_str());

    CDownloadDlg dlg;
    dlg.m_strUrl = m_args.url;
    dlg.m_strLocalPath = m_args.packagePath;
    if (dlg.DoModal() != IDOK)
        return 0;

    return FileExists(m_args.packagePath) ? 1 : 0;
}
