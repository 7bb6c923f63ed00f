#include "image_btn.h"

#include <QEnterEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "focus_ring.h"
#include "resources.h"

CImageBtn::CImageBtn(QWidget* parent) : QAbstractButton(parent) {
    // Move events without a button held tell hover apart from leaving.
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover, true);
    setFocusPolicy(Qt::StrongFocus);
}

CImageBtn::~CImageBtn() { FreeImages(); }

void CImageBtn::FreeImages() {
    m_bmpNormal = QImage();
    m_bmpHover = QImage();
    m_bmpDisabled = QImage();
    m_bmpPressed = QImage();
    m_bCaptured = 0;
    m_bLButtonDown = 0;
    m_nState = STATE_NORMAL;
    m_nFrameWidth = 0;
    m_nFrameHeight = 0;
    setDown(false);
}

BOOL CImageBtn::LoadStrip(int resourceId, BOOL vertical) {
    return LoadStripImage(LoadBitmapResource(resourceId, devicePixelRatioF()), vertical);
}

BOOL CImageBtn::LoadStripImage(const QImage& strip, BOOL vertical) {
    FreeImages();
    if (strip.isNull()) {
        update();
        return 0;
    }
    SplitStrip(strip, vertical);
    return 1;
}

void CImageBtn::SplitStrip(const QImage& strip, BOOL vertical) {
    const QImage src = strip.convertToFormat(strip.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                                     : QImage::Format_RGB32);
    const qreal dpr = strip.devicePixelRatio();
    const int frameWidth = vertical ? src.width() : src.width() / 4;
    const int frameHeight = vertical ? src.height() / 4 : src.height();
    // A picture drawn for 1.5 may be up to one pixel larger than 1.5 times its
    // size; the button keeps its size in device-independent pixels.
    m_nFrameWidth = static_cast<int>(std::floor(frameWidth / dpr + 1e-6));
    m_nFrameHeight = static_cast<int>(std::floor(frameHeight / dpr + 1e-6));
    QImage* pictures[4] = {&m_bmpNormal, &m_bmpHover, &m_bmpPressed, &m_bmpDisabled};
    for (int k = 0; k < 4; ++k) {
        const QPoint at = vertical ? QPoint(0, k * frameHeight) : QPoint(k * frameWidth, 0);
        *pictures[k] = src.copy(QRect(at, QSize(frameWidth, frameHeight)));
        pictures[k]->setDevicePixelRatio(dpr);
    }
    updateGeometry();
    update();
    // The owner loads its strips one after another; the last one loaded holds
    // the keyboard focus until something else takes it.
    setFocus(Qt::OtherFocusReason);
}

void CImageBtn::SizeToFrame() { resize(m_nFrameWidth, m_nFrameHeight); }

void CImageBtn::SetCheck(int check) {
    if (check != 0 && check != 1)
        return;
    if (check == m_nCheck)
        return;
    m_nCheck = check;
    if (isCheckable())
        setChecked(check == 1);
    update();
}

QSize CImageBtn::sizeHint() const { return QSize(m_nFrameWidth, m_nFrameHeight); }

void CImageBtn::UpdateState(const QPoint& pt) {
    int state;
    if (!isEnabled())
        state = STATE_DISABLED;
    else if (m_bLButtonDown)
        state = rect().contains(pt) ? STATE_PRESSED : STATE_NORMAL;
    else
        state = m_bHover ? STATE_HOVER : STATE_NORMAL;
    if (state != m_nState) {
        m_nState = state;
        update();
    }
}

int CImageBtn::GetDrawState() const {
    if (!isEnabled())
        return STATE_DISABLED;
    if (m_nCheck == 1 && m_nState == STATE_NORMAL)
        return STATE_PRESSED;
    return m_nState;
}

const QImage& CImageBtn::GetStatePicture(int state) const {
    switch (state) {
    case STATE_HOVER: return m_bmpHover;
    case STATE_DISABLED: return m_bmpDisabled;
    case STATE_PRESSED: return m_bmpPressed;
    default: return m_bmpNormal;
    }
}

QPoint CImageBtn::GetFrameOrigin() const {
    // C++ division truncates toward zero, so a smaller button shows the middle
    // of the picture at a negative offset.
    return QPoint((width() - m_nFrameWidth) / 2, (height() - m_nFrameHeight) / 2);
}

void CImageBtn::paintEvent(QPaintEvent*) {
    const QImage& pic = GetStatePicture(GetDrawState());
    if (pic.isNull())
        return;
    QPainter p(this);
    // An opaque copy; the rest of the button's area is left as it is.
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(GetFrameOrigin(), pic);
    if (hasFocus())
        DrawFocusRing(p, rect());
}

void CImageBtn::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Enter presses the focused button as Space does.
        if (!e->isAutoRepeat() && isEnabled())
            click();
        e->accept();
        return;
    case Qt::Key_Left:
    case Qt::Key_Right:
        // Left and Right belong to the window (previous and next page), not to
        // moving the focus: Tab does that.
        e->ignore();
        return;
    default:
        QAbstractButton::keyPressEvent(e);
    }
}

bool CImageBtn::hitButton(const QPoint& pos) const { return rect().contains(pos); }

void CImageBtn::mousePressEvent(QMouseEvent* e) {
    // The second press of a double click arrives flagged; it is not a click.
    if (e->flags().testFlag(Qt::MouseEventCreatedDoubleClick)) {
        e->accept();
        return;
    }
    if (e->button() == Qt::LeftButton && m_nState != STATE_DISABLED) {
        m_bLButtonDown = 1;
        m_bCaptured = 1;  // the press grabs the pointer until release
        if (!hasFocus())
            setFocus(Qt::MouseFocusReason);
        const QPoint pt = e->position().toPoint();
        if (rect().contains(pt))
            m_bHover = 1;  // a press is proof the pointer is over the button
        UpdateState(pt);
    }
    QAbstractButton::mousePressEvent(e);
}

void CImageBtn::mouseReleaseEvent(QMouseEvent* e) {
    const QPoint pt = e->position().toPoint();
    if (e->button() == Qt::LeftButton) {
        m_bLButtonDown = 0;
        UpdateState(pt);
    }
    QAbstractButton::mouseReleaseEvent(e);  // clicked() goes out here
    if (e->button() == Qt::LeftButton) {
        HandleMove(pt);
        m_bCaptured = 0;
    }
}

void CImageBtn::mouseDoubleClickEvent(QMouseEvent* e) {
    // A fast second click is swallowed: a double click counts as one click. The
    // release that follows finds no press and clicks nothing.
    e->accept();
}

void CImageBtn::mouseMoveEvent(QMouseEvent* e) {
    QAbstractButton::mouseMoveEvent(e);
    HandleMove(e->position().toPoint());
}

void CImageBtn::HandleMove(const QPoint& pt) {
    if (!isEnabled() || m_nState == STATE_DISABLED)
        return;
    const bool inside = rect().contains(pt);
    if (m_bHover && !inside)
        OnMouseLeave(pt);
    else if (!m_bHover && inside)
        OnMouseEnter(pt);
    else if (m_bLButtonDown)
        UpdateState(pt);  // held down: pressed inside, normal outside
}

void CImageBtn::OnMouseEnter(const QPoint& pt) {
    m_bHover = 1;
    UpdateState(pt);
}

void CImageBtn::OnMouseLeave(const QPoint& pt) {
    m_bHover = 0;
    UpdateState(pt);
}

void CImageBtn::enterEvent(QEnterEvent* e) {
    QAbstractButton::enterEvent(e);
    if (isEnabled() && m_nState != STATE_DISABLED && !m_bHover)
        OnMouseEnter(e->position().toPoint());
}

void CImageBtn::leaveEvent(QEvent* e) {
    QAbstractButton::leaveEvent(e);
    if (!m_bHover)
        return;
    // While the button is held the pointer is still tracked; the next move or
    // the release settles the state. A point outside the button stands for
    // "somewhere else".
    if (m_bLButtonDown && m_bCaptured)
        return;
    if (isEnabled() && m_nState != STATE_DISABLED)
        OnMouseLeave(QPoint(-1, -1));
    else
        m_bHover = 0;
}

void CImageBtn::focusOutEvent(QFocusEvent* e) {
    if (m_nState != STATE_DISABLED)
        m_nState = STATE_NORMAL;
    m_bLButtonDown = 0;
    m_bCaptured = 0;
    QAbstractButton::focusOutEvent(e);
    update();
}

void CImageBtn::changeEvent(QEvent* e) {
    QAbstractButton::changeEvent(e);
    if (e->type() != QEvent::EnabledChange)
        return;
    // Keep the state in step with the enabled flag, so a button disabled under
    // the pointer does not come back showing a stale press or hover.
    if (!isEnabled()) {
        m_nState = STATE_DISABLED;
        m_bLButtonDown = 0;
        m_bCaptured = 0;
        m_bHover = 0;
    } else if (m_nState == STATE_DISABLED) {
        m_bHover = underMouse() ? 1 : 0;
        m_nState = m_bHover ? STATE_HOVER : STATE_NORMAL;
    }
    update();
}
