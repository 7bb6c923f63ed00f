#include "rud_slider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>

#include "focus_ring.h"

CRudSliderCtrl::CRudSliderCtrl(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setTickPosition(QSlider::NoTicks);
    // The background is the palette's window colour, filled by paintEvent before
    // the style draws groove and handle. Not by Qt: a widget it fills counts as
    // opaque, and the window under it would then be painted in pieces around it
    // instead of in one copy.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kBackground);
    // Text-coloured details drawn by a style (focus marks, ticks) in pure blue.
    pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
    setPalette(pal);
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(false);
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

void CRudSliderCtrl::paintEvent(QPaintEvent*) {
    // The style's drawing is kept and copied while nothing it depends on changes:
    // a repaint of the window repaints the sliders too.
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    opt.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    if (tickPosition() != NoTicks)
        opt.subControls |= QStyle::SC_SliderTickmarks;
    const qreal dpr = devicePixelRatioF();
    const PaintKey key{size(),
                       dpr,
                       static_cast<int>(opt.state),
                       static_cast<int>(opt.activeSubControls),
                       opt.minimum,
                       opt.maximum,
                       opt.sliderPosition,
                       hasFocus(),
                       palette().cacheKey(),
                       style()};
    if (m_painted.isNull() || !(key == m_paintedKey)) {
        m_painted = QImage(qMax(1, qRound(width() * dpr)), qMax(1, qRound(height() * dpr)),
                           QImage::Format_ARGB32_Premultiplied);
        m_painted.setDevicePixelRatio(dpr);
        QPainter p(&m_painted);
        p.fillRect(rect(), palette().brush(backgroundRole()));
        style()->drawComplexControl(QStyle::CC_Slider, &opt, &p, this);
        if (hasFocus())
            DrawFocusRing(p, rect());
        m_paintedKey = key;
    }
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(QPointF(0, 0), m_painted);
}
