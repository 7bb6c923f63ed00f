#include "resources.h"

#include <QFile>
#include <QString>
#include <iterator>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitCompiledResources() { Q_INIT_RESOURCE(vorur_res); }

void InitSkinResources() {
    static const bool done = (InitCompiledResources(), true);
    (void)done;
}

QImage LoadBitmapResource(int id) {
    InitSkinResources();
    const QString path = QStringLiteral(":/bitmaps/%1.png").arg(id);
    if (!QFile::exists(path))
        return QImage();
    QImage img(path, "PNG");
    return img;
}

qreal SkinScaleFor(qreal devicePixelRatio) {
    for (qreal scale : kSkinScales)
        if (scale + 0.01 >= devicePixelRatio)
            return scale;
    return kSkinScales[std::size(kSkinScales) - 1];
}

QImage LoadBitmapResource(int id, qreal devicePixelRatio) {
    const qreal scale = SkinScaleFor(devicePixelRatio);
    if (scale == 1.0)
        return LoadBitmapResource(id);
    InitSkinResources();
    const QString path = QStringLiteral(":/bitmaps/%1@%2x.png").arg(id).arg(scale);
    QImage img(path, "PNG");
    if (img.isNull())
        return LoadBitmapResource(id);  // drawn at 1 only: scaled, but there
    img.setDevicePixelRatio(scale);
    return img;
}

QIcon LoadIconResource(int id) {
    InitSkinResources();
    QIcon icon;
    // The large picture plus hand-drawn small sizes, which stay crisp in task bars.
    const QString base = QStringLiteral(":/icons/%1").arg(id);
    if (QFile::exists(base + ".png"))
        icon.addFile(base + ".png");
    for (int size : {16, 24, 32, 48, 64}) {
        const QString small = QStringLiteral("%1-%2.png").arg(base).arg(size);
        if (QFile::exists(small))
            icon.addFile(small, QSize(size, size));
    }
    return icon;
}
