// The anchor of the start-up, idle and memory benchmarks: a minimal Qt program
// that shows an 800 x 600 window and waits.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bench_anchor_window"));
    window.resize(800, 600);
    window.show();
    return app.exec();
}
