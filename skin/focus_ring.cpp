#include "focus_ring.h"

#include <QPainter>
#include <QPen>

void DrawFocusRing(QPainter& painter, const QRect& controlRect) {
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setRenderHint(QPainter::Antialiasing, true);
    // A dark line outside the amber keeps it apart from amber faces and lamps.
    const QRectF r = QRectF(controlRect).adjusted(0.75, 0.75, -0.75, -0.75);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0, 0, 0, 160), 1.5));
    painter.drawRoundedRect(r, 4, 4);
    painter.setPen(QPen(kFocusRingColour, 1.5));
    painter.drawRoundedRect(r.adjusted(1, 1, -1, -1), 3, 3);
    painter.restore();
}
