// Flicker-free painting: everything of one paint is drawn into an off-screen
// image the size of the area being painted, and copied onto the target in one
// step when this object goes away. Drawing uses the target's own coordinates.
// A printer target is drawn on directly.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>
#include <memory>

#include "wintypes.h"

class CKtMemDC {
public:
    // `area` is the part of the target to paint (its clip box, e.g. the paint
    // event's rectangle), in the target painter's coordinates.
    CKtMemDC(QPainter* target, const QRect& area);
    // The clip box is taken from the painter: its clip when it has one, else
    // its whole device.
    explicit CKtMemDC(QPainter* target);
    ~CKtMemDC();
    CKtMemDC(const CKtMemDC&) = delete;
    CKtMemDC& operator=(const CKtMemDC&) = delete;

    // The painter to draw on for the rest of this object's life.
    QPainter* painter() { return m_pDraw; }
    QPainter* operator->() { return m_pDraw; }
    QPainter& operator*() { return *m_pDraw; }

    const QRect& GetArea() const { return m_rcArea; }
    BOOL IsOffscreen() const { return m_bOffscreen; }
    // The off-screen image (null for a direct target).
    const QImage& GetOffscreenImage() const { return m_bmpOffscreen; }

private:
    void Setup();

    QImage m_bmpOffscreen;
    QPainter* m_pTargetDC = nullptr;
    QRect m_rcArea;
    BOOL m_bOffscreen = 0;
    std::unique_ptr<QPainter> m_offscreenPainter;
    QPainter* m_pDraw = nullptr;
};
