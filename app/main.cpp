#include <fontconfig/fontconfig.h>

#include <cstdio>
#include <cstring>
#include <future>
#include <thread>

#include "codec_binding.h"
#include "curl_lazy.h"
#include "diagnostics.h"
#include "mixer.h"
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
    std::thread preload([&fontsRead] {
        // (The codec library first: once loaded, the start's own check of it
        // takes no loader lock, which the loads below hold for a while.)
        LoadCodecLibrary();
        FcInit();
        fontsRead.set_value();
        // Then the libraries the download and the mixer will need.
        PreloadCurl();
        PreloadMixerLibrary();
    });
    int status;
    {
        CVorur_OzudizApp app(argc, argv);
        fontsReady.wait();
        app.InitInstance();
        status = app.ExitInstance();
    }
    // A start that ends early must not leave the process while a library is
    // still being loaded: its exit would unload what the load is using.
    preload.join();
    return status;
}
