#include "kt_bitmap.h"

#include <QPainter>
#include <cmath>

#include "resources.h"

bool CKtBitmap::Attach(const QImage& image) {
    if (image.isNull()) {
        m_image = QImage();
        return false;
    }
    // The painters' own formats: copies are plain blits, no per-draw conversion.
    m_image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                            : QImage::Format_RGB32);
    m_image.setDevicePixelRatio(image.devicePixelRatio());
    return true;
}

QSize CKtBitmap::GetSize() const {
    if (m_image.isNull())
        return QSize(0, 0);
    const qreal dpr = m_image.devicePixelRatio();
    return QSize(static_cast<int>(std::floor(m_image.width() / dpr + 1e-6)),
                 static_cast<int>(std::floor(m_image.height() / dpr + 1e-6)));
}

BOOL CKtBitmap::LoadBitmap(int id) { return Attach(LoadBitmapResource(id)) ? 1 : 0; }

BOOL CKtBitmap::Draw(QPainter& dc, int x, int y) const {
    if (m_image.isNull() || !dc.isActive())
        return 0;
    // Whole, with the part of a pixel a scale of 1.5 may add: pieces overlap by
    // less than a pixel rather than leave a gap.
    const QPainter::CompositionMode old = dc.compositionMode();
    dc.setCompositionMode(QPainter::CompositionMode_Source);
    dc.drawImage(QPointF(x, y), m_image);
    dc.setCompositionMode(old);
    return 1;
}

BOOL CKtBitmap::DrawPart(QPainter& dc, int x, int y, int w, int h, int sx, int sy) const {
    if (m_image.isNull() || !dc.isActive())
        return 0;
    const qreal dpr = m_image.devicePixelRatio();
    // Clip the source to the bitmap and move the destination along with it, in
    // device-independent pixels; the source is then read in the bitmap's own.
    const QRectF logical(QPointF(0, 0), QSizeF(m_image.width() / dpr, m_image.height() / dpr));
    const QRectF clipped = QRectF(sx, sy, w, h).intersected(logical);
    if (clipped.isEmpty())
        return 1;
    const QRectF dst(x + (clipped.x() - sx), y + (clipped.y() - sy), clipped.width(), clipped.height());
    const QRectF src(clipped.x() * dpr, clipped.y() * dpr, clipped.width() * dpr, clipped.height() * dpr);
    // A copy, not a blend: the bitmap replaces the destination pixels.
    const QPainter::CompositionMode old = dc.compositionMode();
    dc.setCompositionMode(QPainter::CompositionMode_Source);
    dc.drawImage(dst, m_image, src);
    dc.setCompositionMode(old);
    return 1;
}
