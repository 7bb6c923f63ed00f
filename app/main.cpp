#include <cstdio>
#include <cstring>

#include "diagnostics.h"
#include "sdl_memory.h"
#include "vorur_app.h"

int main(int argc, char** argv) {
    // Before anything opens a file, socket or display connection.
    OpenClosedStandardFiles();
    // Before any thread of ours can use SDL.
    LimitSdlAllocations();
    // Before the application connects to a display: the usage needs none.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(CVorur_OzudizApp::Usage().c_str(), stdout);
        return 0;
    }
    CVorur_OzudizApp app(argc, argv);
    app.InitInstance();
    return app.ExitInstance();
}
