#include "mem_dc.h"

#include <QPaintDevice>

namespace {

bool IsPrinting(QPainter* p) {
    if (!p || !p->isActive() || !p->device())
        return false;
    const int type = p->device()->devType();
    return type == QInternal::Printer;
}

QRect ClipBoxOf(QPainter* p) {
    if (!p || !p->isActive())
        return QRect();
    if (p->hasClipping())
        return p->clipBoundingRect().toAlignedRect();
    const QPaintDevice* d = p->device();
    return d ? QRect(0, 0, d->width(), d->height()) : QRect();
}

}  // namespace

CKtMemDC::CKtMemDC(QPainter* target, const QRect& area) : m_pTargetDC(target), m_rcArea(area.normalized()) {
    Setup();
}

CKtMemDC::CKtMemDC(QPainter* target) : m_pTargetDC(target), m_rcArea(ClipBoxOf(target)) { Setup(); }

void CKtMemDC::Setup() {
    m_bOffscreen = IsPrinting(m_pTargetDC) ? 0 : 1;
    if (!m_bOffscreen) {
        m_pDraw = m_pTargetDC;
        return;
    }
    const qreal dpr = (m_pTargetDC && m_pTargetDC->device()) ? m_pTargetDC->device()->devicePixelRatioF() : 1.0;
    // An empty area still gets a painter to draw on; nothing is copied back.
    const QSize logical = m_rcArea.isEmpty() ? QSize(1, 1) : m_rcArea.size();
    m_bmpOffscreen = QImage(qMax(1, qRound(logical.width() * dpr)), qMax(1, qRound(logical.height() * dpr)),
                            QImage::Format_ARGB32_Premultiplied);
    m_bmpOffscreen.setDevicePixelRatio(dpr);
    // A fresh off-screen bitmap is black, as a new screen-compatible one is.
    m_bmpOffscreen.fill(Qt::black);
    m_offscreenPainter = std::make_unique<QPainter>(&m_bmpOffscreen);
    // Drawing in the target's coordinates lands at the right place of the image.
    m_offscreenPainter->translate(-m_rcArea.topLeft());
    if (m_pTargetDC && m_pTargetDC->isActive()) {
        m_offscreenPainter->setFont(m_pTargetDC->font());
        m_offscreenPainter->setPen(m_pTargetDC->pen());
        m_offscreenPainter->setBrush(m_pTargetDC->brush());
        m_offscreenPainter->setRenderHints(m_pTargetDC->renderHints());
    }
    m_pDraw = m_offscreenPainter.get();
}

CKtMemDC::~CKtMemDC() {
    if (!m_bOffscreen)
        return;  // drew on the target itself
    m_offscreenPainter->end();
    if (m_pTargetDC && m_pTargetDC->isActive() && !m_rcArea.isEmpty()) {
        m_pTargetDC->save();
        m_pTargetDC->setCompositionMode(QPainter::CompositionMode_Source);
        m_pTargetDC->drawImage(m_rcArea.topLeft(), m_bmpOffscreen);
        m_pTargetDC->restore();
    }
}
