// The keyboard focus of a skinned control: an amber ring, the colour of the skin's
// lit parts, along the control's edge, where it shows on the dark bar.
#pragma once

#include <QColor>
#include <QRect>

class QPainter;

inline constexpr QColor kFocusRingColour{255, 184, 77};

void DrawFocusRing(QPainter& painter, const QRect& controlRect);
