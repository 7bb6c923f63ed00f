// A page picture for the player benchmarks: a gradient with 400 coloured blocks, so
// that it compresses and decodes like a photograph rather than a flat fill.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <string>

inline std::string PageJpegBytes(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, w, h);
    g.setColorAt(0, QColor(30, 90, 160));
    g.setColorAt(1, QColor(220, 180, 60));
    p.fillRect(image.rect(), g);
    for (int i = 0; i < 400; ++i)
        p.fillRect((i * 7919) % w, (i * 104729) % h, w / 50, h / 50, QColor::fromHsv(i % 360, 200, 220));
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes.toStdString();
}
