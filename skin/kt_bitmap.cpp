#include "kt_bitmap.h"

#include <QPainter>

#include "resources.h"

bool CKtBitmap::Attach(const QImage& image) {
    if (image.isNull()) {
        m_image = QImage();
        return false;
    }
    // The painters' own formats: copies are plain blits, no per-draw conversion.
    m_image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                            : QImage::Format_RGB32);
    return true;
}

BOOL CKtBitmap::LoadBitmap(int id) { return Attach(LoadBitmapResource(id)) ? 1 : 0; }

BOOL CKtBitmap::Draw(QPainter& dc, int x, int y) const {
    if (m_image.isNull())
        return 0;
    return DrawPart(dc, x, y, m_image.width(), m_image.height(), 0, 0);
}

BOOL CKtBitmap::DrawPart(QPainter& dc, int x, int y, int w, int h, int sx, int sy) const {
    if (m_image.isNull() || !dc.isActive())
        return 0;
    // Clip the source to the bitmap and move the destination along with it.
    QRect src(sx, sy, w, h);
    const QRect clipped = src.intersected(m_image.rect());
    if (clipped.isEmpty())
        return 1;
    const QPoint dst(x + (clipped.x() - sx), y + (clipped.y() - sy));
    // A copy, not a blend: the bitmap replaces the destination pixels.
    const QPainter::CompositionMode old = dc.compositionMode();
    dc.setCompositionMode(QPainter::CompositionMode_Source);
    dc.drawImage(dst, m_image, clipped);
    dc.setCompositionMode(old);
    return 1;
}
