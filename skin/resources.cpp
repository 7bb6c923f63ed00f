#include "resources.h"

#include <QFile>
#include <QPixmap>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <iterator>
#include <map>
#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitCompiledResources() { Q_INIT_RESOURCE(vorur_res); }

void InitSkinResources() {
    static const bool done = (InitCompiledResources(), true);
    (void)done;
}

namespace {

// The images decoded ahead, by the name their loader asks for.
struct Ahead {
    std::mutex lock;
    std::condition_variable decoded;
    bool pending = false;
    std::vector<int> bitmaps;
    qreal ratio = 1.0;
    int icon = 0;
    std::map<QString, QImage> images;
};

Ahead& AheadImages() {
    static Ahead ahead;
    return ahead;
}

// The decode ahead is a few milliseconds; a thread that never comes to it must not
// hold the window up for longer than this.
constexpr auto kAheadWait = std::chrono::seconds(2);

QString BitmapKey(int id, qreal scale) { return QStringLiteral("bitmap %1 %2").arg(id).arg(scale); }

// The image decoded ahead under `key`, taken out; null when there is none.
QImage TakeAhead(const QString& key) {
    Ahead& ahead = AheadImages();
    std::unique_lock<std::mutex> hold(ahead.lock);
    if (!ahead.decoded.wait_for(hold, kAheadWait, [&] { return !ahead.pending; })) {
        ahead.pending = false;  // no later loader waits either
        return QImage();
    }
    auto it = ahead.images.find(key);
    if (it == ahead.images.end()) {
        ahead.images.clear();  // decoded for another ratio: none of it will be asked for
        return QImage();
    }
    QImage image = std::move(it->second);
    ahead.images.erase(it);
    return image;
}

QImage ReadPng(const QString& path) {
    // The format named: no image plugin is asked whether it can read the file.
    return QFile::exists(path) ? QImage(path, "PNG") : QImage();
}

QImage ReadBitmap(int id) { return ReadPng(QStringLiteral(":/bitmaps/%1.png").arg(id)); }

QImage ReadBitmap(int id, qreal scale) {
    if (scale == 1.0)
        return ReadBitmap(id);
    QImage img = ReadPng(QStringLiteral(":/bitmaps/%1@%2x.png").arg(id).arg(scale));
    if (img.isNull())
        return ReadBitmap(id);  // drawn at 1 only: scaled, but there
    img.setDevicePixelRatio(scale);
    return img;
}

QString IconFile(int id, int size) {
    return size ? QStringLiteral(":/icons/%1-%2.png").arg(id).arg(size) : QStringLiteral(":/icons/%1.png").arg(id);
}

// The large picture plus hand-drawn small sizes, which stay crisp in task bars.
constexpr int kIconSizes[] = {0, 16, 24, 32, 48, 64};

}  // namespace

QImage LoadBitmapResource(int id) {
    InitSkinResources();
    QImage ahead = TakeAhead(BitmapKey(id, 1.0));
    return ahead.isNull() ? ReadBitmap(id) : ahead;
}

qreal SkinScaleFor(qreal devicePixelRatio) {
    for (qreal scale : kSkinScales)
        if (scale + 0.01 >= devicePixelRatio)
            return scale;
    return kSkinScales[std::size(kSkinScales) - 1];
}

QImage LoadBitmapResource(int id, qreal devicePixelRatio) {
    const qreal scale = SkinScaleFor(devicePixelRatio);
    InitSkinResources();
    QImage ahead = TakeAhead(BitmapKey(id, scale));
    return ahead.isNull() ? ReadBitmap(id, scale) : ahead;
}

QIcon LoadIconResource(int id) {
    InitSkinResources();
    QIcon icon;
    for (int size : kIconSizes) {
        const QString file = IconFile(id, size);
        QImage image = TakeAhead(file);
        if (image.isNull())
            image = ReadPng(file);
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(std::move(image)));
    }
    return icon;
}

void AnnounceAheadResources(const std::vector<int>& bitmaps, qreal devicePixelRatio, int icon) {
    Ahead& ahead = AheadImages();
    std::lock_guard<std::mutex> hold(ahead.lock);
    ahead.pending = true;
    ahead.images.clear();
    ahead.bitmaps = bitmaps;
    ahead.ratio = devicePixelRatio;
    ahead.icon = icon;
}

void DecodeAheadResources() {
    Ahead& ahead = AheadImages();
    std::vector<int> bitmaps;
    qreal scale;
    int icon;
    {
        std::lock_guard<std::mutex> hold(ahead.lock);
        if (!ahead.pending)
            return;
        bitmaps = ahead.bitmaps;
        scale = SkinScaleFor(ahead.ratio);
        icon = ahead.icon;
    }
    InitSkinResources();
    std::map<QString, QImage> images;
    for (int id : bitmaps)
        images[BitmapKey(id, scale)] = ReadBitmap(id, scale);
    if (icon)
        for (int size : kIconSizes)
            images[IconFile(icon, size)] = ReadPng(IconFile(icon, size));
    {
        std::lock_guard<std::mutex> hold(ahead.lock);
        if (!ahead.pending)
            return;  // the window gave up waiting and read its own
        ahead.images = std::move(images);
        ahead.pending = false;
    }
    ahead.decoded.notify_all();
}
