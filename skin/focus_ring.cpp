#include "focus_ring.h"

#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QPen>
#include <map>
#include <tuple>

namespace {

void DrawRing(QPainter& painter, const QRect& controlRect) {
    painter.setRenderHint(QPainter::Antialiasing, true);
    // A dark line outside the amber keeps it apart from amber faces and lamps.
    const QRectF r = QRectF(controlRect).adjusted(0.75, 0.75, -0.75, -0.75);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0, 0, 0, 160), 1.5));
    painter.drawRoundedRect(r, 4, 4);
    painter.setPen(QPen(kFocusRingColour, 1.5));
    painter.drawRoundedRect(r.adjusted(1, 1, -1, -1), 3, 3);
}

}  // namespace

void DrawFocusRing(QPainter& painter, const QRect& controlRect) {
    // Antialiased curves cost more than all the rest of a control's paint: the
    // ring is drawn once per size and scale, and copied over the control.
    static std::map<std::tuple<int, int, qreal>, QImage> rings;
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    QImage& ring = rings[{controlRect.width(), controlRect.height(), dpr}];
    if (ring.isNull()) {
        ring = QImage(qMax(1, qRound(controlRect.width() * dpr)), qMax(1, qRound(controlRect.height() * dpr)),
                      QImage::Format_ARGB32_Premultiplied);
        ring.setDevicePixelRatio(dpr);
        ring.fill(Qt::transparent);
        QPainter p(&ring);
        DrawRing(p, QRect(QPoint(0, 0), controlRect.size()));
    }
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(controlRect.topLeft(), ring);
    painter.restore();
}
