#include "vorur_app.h"

int main(int argc, char** argv) {
    CVorur_OzudizApp app(argc, argv);
    app.InitInstance();
    return app.ExitInstance();
}
