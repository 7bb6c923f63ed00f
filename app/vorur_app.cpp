#include "vorur_app.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

#include "codec_binding.h"
#include "diagnostics.h"
#include "download_dlg.h"
#include "instance_lock.h"
#include "launch_link.h"
#include "main_dlg.h"
#include "paths.h"
#include "qt_services.h"
#include "resources.h"
#include "settings.h"
#include "single_exec.h"
#include "termination.h"

CVorur_OzudizApp* CVorur_OzudizApp::s_current = nullptr;

namespace {
constexpr const char* kMutexName = "Vorur_Ozudiz2_Mutex";

int g_signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    char c = 1;
    [[maybe_unused]] ssize_t n = write(g_signalPipe[1], &c, 1);
}

// SIGTERM (log-out, shutdown), SIGINT and SIGHUP close the windows as the close
// button would, so a test run is aborted and the Temp folder emptied on the way out.
void InstallTerminationHandler(QObject* owner) {
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char buf[16];
        while (read(g_signalPipe[0], buf, sizeof buf) > 0) {
        }
        RequestTermination();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible())
                w->close();
    });
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &action, nullptr);
}

// A later start asked to see the player: the window in front (a message box or
// dialog above the main window, if one is open) comes forward where the desktop
// lets it. On Wayland the later start's activation token is what lets it.
void ComeToFront(const RaiseRequest& request) {
    if (!request.activationToken.empty())
        qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(request.activationToken));
    QWidget* window = QApplication::activeModalWidget();
    if (!window)
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && !window)
                window = w;
    if (!window)
        return;
    if (window->windowState() & Qt::WindowMinimized)
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
}

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string FormatMessage(const char* format, const char* arg) {
    char text[512];
    std::snprintf(text, sizeof text, format, arg);
    return text;
}
}  // namespace

CVorur_OzudizApp::CVorur_OzudizApp(int argc, char** argv) {
    s_current = this;
    // Before Qt can take them for a window of its own.
    m_startToken.activationToken = EnvironmentValue("XDG_ACTIVATION_TOKEN");
    m_startToken.startupId = EnvironmentValue("DESKTOP_STARTUP_ID");
    m_programName = argc > 0 && argv[0] ? argv[0] : "Vorur_Ozudiz";
    for (int i = 1; i < argc; ++i)
        m_rawArgs.emplace_back(argv[i]);
    m_qtArgv.push_back(m_programName.data());
    m_qtArgv.push_back(nullptr);
    m_qtArgc = 1;
    m_qapp = std::make_unique<QApplication>(m_qtArgc, m_qtArgv.data());
    // Lets desktops match the window with its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("vorur-ozudiz"));
    InstallStandardDialogTexts();
    m_messageBox = std::make_unique<CQtMessageBox>();
    InstallTerminationHandler(m_qapp.get());
}

CVorur_OzudizApp::~CVorur_OzudizApp() {
    m_qapp.reset();
    if (s_current == this)
        s_current = nullptr;
}

BOOL CVorur_OzudizApp::InitInstance() {
    InitSkinResources();
    InstallFontSubstitutions();

    // A refused link ends before anything is written or fetched.
    if (!ResolveLaunchLink())
        return 0;

    if (!CKtSingleExec::Acquire(kMutexName)) {
        // The running copy keeps its lesson; this start only asks it to show itself.
        std::string error;
        if (SendRaiseRequest(kMutexName, m_startToken, error))
            Diagnose("another copy of the player is running in this login and keeps its lesson; "
                     "it was asked to come to the front, and this start opens nothing");
        else
            Diagnose("another copy of the player is running in this login and keeps its lesson; this start opens "
                     "nothing",
                     "lock " + UserRuntimeFolder() + "/" + kMutexName + ".lock; " + error);
        return 0;
    }
    if (m_channel.Listen(kMutexName)) {
        auto* notifier = new QSocketNotifier(m_channel.Fd(), QSocketNotifier::Read, m_qapp.get());
        QObject::connect(notifier, &QSocketNotifier::activated, [this] {
            RaiseRequest request;
            for (int i = 0; i < 8 && m_channel.Accept(request); ++i)
                ComeToFront(request);
        });
    }

    if (!LoadCodecLibrary()) {
        const char* reason = dlerror();
        Diagnose(std::string("cannot load the codec library ") + CodecLibraryFileName(), reason ? reason : "");
        m_messageBox->Show(FormatMessage("%s 파일을 찾을 수 없습니다.", CodecLibraryFileName()), MB_OK);
        return 0;
    }

    if (!ReadLaunchArgs() || TerminationRequested())
        return 0;

    // What earlier runs could not deliver goes out in the background meanwhile.
    COutbox outbox(CMainDlg::OutboxFolder());
    outbox.StartSending(CMainDlg::UploadUrl());
    {
        MainDlgServices services;
        services.outbox = &outbox;
        CMainDlg dlg(m_args, services);
        dlg.DoModal();
    }
    RemoveDownloadFolder(m_downloadFolder);  // the package in it is gone once opened
    return 0;
}

int CVorur_OzudizApp::ExitInstance() { return 0; }

std::string CVorur_OzudizApp::Usage() {
    return "usage: vorur-ozudiz URL ID CLASS TAG1 TAG2 TAG3 TIMES\n"
           "       vorur-ozudiz '" + std::string(kLaunchLinkScheme) + "://launch?url=...'\n"
           "       vorur-ozudiz LESSON.viz\n"
           "       vorur-ozudiz --help (or -h)\n"
           "A lesson launcher starts the player with seven arguments or a link; a lesson\n"
           "file opens for practice. --help prints this and exits.\n";
}

std::vector<std::string> CVorur_OzudizApp::LaunchHosts() {
    std::vector<std::string> hosts = ParseHostList(ReadSettingListAllScopes("LaunchHosts"));
    if (hosts.empty()) {
        // The school's own lesson server, the one recordings go to.
        std::string host, scheme;
        UrlHost(CMainDlg::UploadUrl(), host, scheme);
        if (!host.empty())
            hosts.push_back(host);
    }
    return hosts;
}

BOOL CVorur_OzudizApp::ResolveLaunchLink() {
    if (m_rawArgs.size() != 1)
        return 1;
    const std::string& arg = m_rawArgs[0];
    if (IsLaunchLink(arg)) {
        LaunchLinkResult result = ParseLaunchLink(arg, LaunchHosts());
        if (result.fault != LaunchLinkFault::None) {
            Diagnose(LaunchLinkDiagnostic(result));
            m_messageBox->Show(LaunchLinkMessage(result), MB_OK);
            return 0;
        }
        m_rawArgs = std::move(result.args);
        return 1;
    }
    // A lesson file from the file manager is practised, never recorded or sent.
    std::vector<std::string> args;
    char cwd[4096];
    if (LessonFileArgs(arg, getcwd(cwd, sizeof cwd) ? cwd : "/", args))
        m_rawArgs = std::move(args);
    return 1;
}

BOOL CVorur_OzudizApp::ReadLaunchArgs() {
    std::string moduleFolder;
    GetModuleFolder(moduleFolder);

    LaunchArgsCheck check = ParseLaunchArgs(m_rawArgs, moduleFolder, m_args);
    if (check == LaunchArgsCheck::WrongCount) {
        Diagnose(m_rawArgs.size() == 1
                     ? "the one argument is neither a " + std::string(kLaunchLinkScheme) + ": link nor a lesson file"
                     : std::to_string(m_rawArgs.size()) + " arguments given, 7 expected",
                 "usage: " + ProgramName() + " URL ID CLASS TAG1 TAG2 TAG3 TIMES, or " + ProgramName() + " '" +
                     kLaunchLinkScheme + "://launch?url=...', or " + ProgramName() + " LESSON.viz");
        return 0;
    }
    if (check == LaunchArgsCheck::NoSlash) {
        Diagnose("the lesson URL has no \"/\"", m_args.url);
        return 0;
    }
    if (check == LaunchArgsCheck::BadPackageName) {
        Diagnose("the lesson URL does not end in a package file name with a \".\"", m_args.url);
        m_messageBox->Show("강좌파일의 경로가 잘못되었습니다.", MB_OK);
        return 0;
    }

    // The package goes into a folder made for this run: no stale package from an
    // earlier run can pass for a fresh download, and no file of the user's or of the
    // player's folder lies at its path to be deleted or replaced.
    if (!MakeDownloadFolder(m_downloadFolder)) {
        Diagnose("cannot make a download folder", JoinPath(moduleFolder, "Downloads"));
        return 0;
    }
    m_args.packagePath = JoinPath(m_downloadFolder, m_args.packageName);

    CDownloadDlg dlg;
    // No window of the player is open yet: the dialog stands where it will open.
    PlaceOverArea(&dlg, CMainDlg::StartGeometry());
    dlg.m_strUrl = m_args.url;
    dlg.m_strLocalPath = m_args.packagePath;
    if (dlg.DoModal() != IDOK) {
        Diagnose("cannot download " + m_args.url, dlg.m_strError);
        RemoveDownloadFolder(m_downloadFolder);
        return 0;
    }
    if (!FileExists(m_args.packagePath)) {
        Diagnose("the download of " + m_args.url + " left no file", m_args.packagePath);
        RemoveDownloadFolder(m_downloadFolder);
        return 0;
    }
    return 1;
}
