// Repaint of the 800 x 600 player showing a 3000 x 2000 JPEG page, and the page change
// to that page (picture decode plus sound open), each beside its anchor in the same
// run: a plain copy of one 800 x 600 frame for the repaint, a plain decode of the same
// JPEG for the page change.
//   bench_player_paint [iterations]
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QSettings>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cfg_file.h"
#include "main_dlg.h"
#include "message_box.h"
#include "package_writer.h"
#include "paths.h"
#include "resources.h"

namespace {

class CSilentBox : public IMessageBox {
public:
    int Show(const std::string&, UINT) override { return IDOK; }
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::string JpegBytes(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, w, h);
    g.setColorAt(0, QColor(30, 90, 160));
    g.setColorAt(1, QColor(220, 180, 60));
    p.fillRect(image.rect(), g);
    for (int i = 0; i < 400; ++i)
        p.fillRect((i * 7919) % w, (i * 104729) % h, 60, 40, QColor::fromHsv(i % 360, 200, 220));
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes.toStdString();
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    setenv("VORUR_MIXER", "sim", 0);
    int iterations = argc > 1 ? std::atoi(argv[1]) : 200;

    std::string work = std::filesystem::temp_directory_path() / "vorur-bench-paint";
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work + "/config");
    setenv("VORUR_DATA_DIR", (work + "/data").c_str(), 1);

    QApplication app(argc, argv);
    InitSkinResources();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(work + "/config"));

    // A 5 s MP3 made by sox when it is there; otherwise a WAV of the same length.
    std::string sound = work + "/page.mp3";
    std::string cmd = "sox -n -r 44100 -c 2 '" + sound + "' synth 5 sine 440 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) {
        sound = work + "/page.wav";
        std::system(("sox -n -r 44100 -c 2 '" + sound + "' synth 5 sine 440").c_str());
    }
    std::string jpeg = JpegBytes(3000, 2000);

    CCfgFile cfg;
    cfg.packs.RemoveAll();
    for (int i = 0; i < 2; ++i) {
        auto* pack = new CCfgPack;
        pack->soundFile = std::filesystem::path(sound).filename();
        pack->pictureFile = "big.jpg";
        pack->questionText = "What color is the sky at noon on a clear day?";
        pack->answerText = "It is blue.";
        pack->waitSeconds = 3;
        pack->fontSize = 20;
        cfg.packs.Add(pack);
    }
    std::string package = work + "/bench.viz";
    std::string error;
    if (!WritePackage(package, cfg,
                      {PackageFile::FromBytes("big.jpg", jpeg),
                       PackageFile::FromPath(std::filesystem::path(sound).filename(), sound)},
                      &error)) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return 1;
    }

    CSilentBox box;
    MainDlgServices services;
    services.messageBox = &box;
    LaunchArgs args;
    args.packagePath = package;
    CMainDlg dlg(args, services);
    if (!dlg.OnInitDialog() || !dlg.m_bLessonLoaded) {
        std::fprintf(stderr, "bench: the lesson did not open\n");
        return 1;
    }
    dlg.m_bShowQuestion = dlg.m_bShowAnswer = 1;
    dlg.show();
    app.processEvents();

    // Repaint, beside a plain copy of one frame.
    std::vector<double> paint, copy;
    QImage frame(800, 600, QImage::Format_RGB32);
    frame.fill(Qt::gray);
    QImage target(800, 600, QImage::Format_RGB32);
    for (int i = 0; i < iterations; ++i) {
        QElapsedTimer t;
        t.start();
        dlg.repaint();
        paint.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        {
            QPainter p(&target);
            p.drawImage(0, 0, frame);
        }
        copy.push_back(t.nsecsElapsed() / 1e6);
    }

    // Page change, beside a plain decode of the same JPEG.
    std::vector<double> change, decode;
    QByteArray jpegBytes = QByteArray::fromStdString(jpeg);
    int pages = std::max(10, iterations / 10);
    for (int i = 0; i < pages; ++i) {
        QElapsedTimer t;
        t.start();
        dlg.GoToPage(i % 2 ? 0 : 1);
        change.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        QImage decoded;
        decoded.loadFromData(jpegBytes, "JPEG");
        decode.push_back(t.nsecsElapsed() / 1e6);
    }

    std::printf("%-44s %10s %10s %8s\n", "measure (median)", "ours ms", "anchor ms", "ratio");
    std::printf("%-44s %10.3f %10.3f %8.2f\n", "repaint 800x600 (anchor: copy one frame)", Median(paint),
                Median(copy), Median(paint) / Median(copy));
    std::printf("%-44s %10.3f %10.3f %8.2f\n", "GoToPage 3000x2000 JPEG (anchor: decode)", Median(change),
                Median(decode), Median(change) / Median(decode));
    std::printf("targets: repaint <= 4 ms, page change <= 60 ms\n");
    dlg.PostNcDestroy();
    std::filesystem::remove_all(work);
    return 0;
}
