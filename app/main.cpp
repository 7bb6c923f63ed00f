#include "diagnostics.h"
#include "sdl_memory.h"
#include "vorur_app.h"

int main(int argc, char** argv) {
    // Before anything opens a file, socket or display connection.
    OpenClosedStandardFiles();
    // Before any thread of ours can use SDL.
    LimitSdlAllocations();
    CVorur_OzudizApp app(argc, argv);
    app.InitInstance();
    return app.ExitInstance();
}
