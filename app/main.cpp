#include <fontconfig/fontconfig.h>

#include <cstdio>
#include <cstring>
#include <future>
#include <thread>

#include <QAccessible>
#include <QGuiApplication>
#include <QScreen>

#include "codec_binding.h"
#include "curl_lazy.h"
#include "diagnostics.h"
#include "main_dlg.h"
#include "mixer.h"
#include "picture.h"
#include "resources.h"
#include "vorur_app.h"

int main(int argc, char** argv) {
    // Before anything opens a file, socket or display connection.
    OpenClosedStandardFiles();
    // Before the application connects to a display: the usage needs none.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(CVorur_OzudizApp::Usage().c_str(), stdout);
        return 0;
    }
    // Reading the font configuration and cache is the longest step before the first
    // dialog can paint text; it runs beside the display connection set up here.
    std::promise<void> fontsRead;
    std::future<void> fontsReady = fontsRead.get_future();
    std::promise<void> appUp;
    std::future<void> appReady = appUp.get_future();
    std::thread preload([&fontsRead, &appReady] {
        // (The codec library first: once loaded, the start's own check of it
        // takes no loader lock, which the loads below hold for a while.)
        LoadCodecLibrary();
        FcInit();
        fontsRead.set_value();
        // Not before the display connection is made: the libraries loaded below
        // would hold the loader's lock that its plugins wait for. Then what the
        // download, the first page and the window will need, while the first
        // dialog is made and shown.
        appReady.wait();
        PreloadCurl();
        CPicture::LoadJpegReader();
        DecodeAheadResources();
        PreloadMixerLibrary();
    });
    int status;
    {
        CVorur_OzudizApp app(argc, argv);
        // The first text set on a widget starts the accessibility bridge, and the
        // bridge a thread for its bus connection; started here, that thread does not
        // wait for the loads of the preload thread, which hold the loader's lock
        // that every new thread takes.
        (void)QAccessible::isActive();
        QScreen* screen = QGuiApplication::primaryScreen();
        CMainDlg::AnnounceStartResources(screen ? screen->devicePixelRatio() : 1.0);
        appUp.set_value();
        fontsReady.wait();
        app.InitInstance();
        status = app.ExitInstance();
    }
    // A start that ends early must not leave the process while a library is
    // still being loaded: its exit would unload what the load is using.
    preload.join();
    return status;
}
