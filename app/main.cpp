#include "vorur_app.h"
#include "sdl_memory.h"

int main(int argc, char** argv) {
    // Before any thread of ours can use SDL.
    LimitSdlAllocations();
    CVorur_OzudizApp app(argc, argv);
    app.InitInstance();
    return app.ExitInstance();
}
