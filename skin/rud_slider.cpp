#include "rud_slider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QWheelEvent>

#include "focus_ring.h"

CRudSliderCtrl::CRudSliderCtrl(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setTickPosition(QSlider::NoTicks);
    // The background is the palette's window colour, filled before the style
    // draws groove and handle.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kBackground);
    // Text-coloured details drawn by a style (focus marks, ticks) in pure blue.
    pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
    setPalette(pal);
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);
}

void CRudSliderCtrl::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton)
        m_bTracking = true;
    QSlider::mousePressEvent(e);
}

void CRudSliderCtrl::mouseReleaseEvent(QMouseEvent* e) {
    QSlider::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton && m_bTracking) {
        m_bTracking = false;
        emit endTrack(value());
    }
}

void CRudSliderCtrl::keyReleaseEvent(QKeyEvent* e) {
    QSlider::keyReleaseEvent(e);
    if (e->isAutoRepeat())
        return;
    switch (e->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        emit endTrack(value());
        break;
    default:
        break;
    }
}

void CRudSliderCtrl::wheelEvent(QWheelEvent* e) {
    const int before = value();
    QSlider::wheelEvent(e);
    if (e->isAccepted() || value() != before)
        emit endTrack(value());
}

void CRudSliderCtrl::paintEvent(QPaintEvent* e) {
    QSlider::paintEvent(e);
    if (hasFocus()) {
        QPainter p(this);
        DrawFocusRing(p, rect());
    }
}
