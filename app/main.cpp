#include <fontconfig/fontconfig.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "diagnostics.h"
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
    std::thread fonts([] { FcInit(); });
    CVorur_OzudizApp app(argc, argv);
    fonts.join();
    app.InitInstance();
    return app.ExitInstance();
}
