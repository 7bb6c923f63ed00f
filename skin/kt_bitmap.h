// A skin piece: one bitmap with its size, copied whole or in part onto a painter.
#pragma once

#include <QImage>
#include <QSize>

#include "wintypes.h"

class QPainter;

class CKtBitmap {
public:
    CKtBitmap() = default;
    virtual ~CKtBitmap() = default;

    // Takes `image` as the bitmap, replacing any earlier one. False (and empty)
    // for a null image.
    bool Attach(const QImage& image);
    // Loads bitmap resource `id` (see resources.h).
    BOOL LoadBitmap(int id);
    void Detach() { m_image = QImage(); }
    bool IsEmpty() const { return m_image.isNull(); }

    // Width and height in device-independent pixels; 0 x 0 when empty. A bitmap
    // drawn for a scale of 1.5 may hold up to one pixel more than 1.5 times that.
    QSize GetSize() const;
    const QImage& GetImage() const { return m_image; }

    // Copies the whole bitmap to (x, y), replacing what is there. Positions and
    // sizes are device-independent; a bitmap drawn for the screen's scale lands
    // pixel for pixel.
    BOOL Draw(QPainter& dc, int x, int y) const;
    // Copies the w x h rectangle at (sx, sy) of the bitmap to (x, y); the part
    // of that rectangle outside the bitmap is not drawn.
    BOOL DrawPart(QPainter& dc, int x, int y, int w, int h, int sx, int sy) const;

private:
    QImage m_image;
};
