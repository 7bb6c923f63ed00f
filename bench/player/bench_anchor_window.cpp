// The anchor of the start-up, idle and memory benchmarks: the least a Qt program that
// shows an 800 x 600 window does.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(800, 600);
    window.show();
    return app.exec();
}
