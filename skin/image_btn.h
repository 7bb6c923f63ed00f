// A push button drawn from a strip of four equal pictures: normal, hover,
// pressed (also the face of a checked button) and disabled, top to bottom (or
// left to right). It follows the pointer and the left button itself; the check
// state is the owner's to set. Clicks reach the owner as clicked().
#pragma once

#include <QAbstractButton>
#include <QImage>

#include "wintypes.h"

class CImageBtn : public QAbstractButton {
    Q_OBJECT
public:
    // Visual states (m_nState).
    enum { STATE_NORMAL = 0, STATE_HOVER = 1, STATE_DISABLED = 2, STATE_PRESSED = 3 };

    explicit CImageBtn(QWidget* parent = nullptr);
    ~CImageBtn() override;

    // Loads bitmap resource `resourceId` as the strip (vertical: pictures stacked
    // top to bottom), drawn for the button's screen scale. Forgets any press in
    // progress and the old frame size but keeps hover and check state. 0 when the
    // resource does not load; the button then has no pictures and paints nothing.
    BOOL LoadStrip(int resourceId, BOOL vertical);
    // The same from an image already in memory. A strip drawn for a scale (its
    // device pixel ratio) gives pictures of its own pixels, and a frame size in
    // device-independent pixels.
    BOOL LoadStripImage(const QImage& strip, BOOL vertical);
    // Resizes the button to one picture, without moving it.
    void SizeToFrame();
    // The check state: 1 checked, 0 unchecked; any other value is ignored. A
    // checkable button also reports it to screen readers; only the owner sets it.
    void SetCheck(int check);
    int GetCheck() const { return m_nCheck; }

    QSize GetFrameSize() const { return QSize(m_nFrameWidth, m_nFrameHeight); }
    // The state the next paint shows (checked and disabled taken into account).
    int GetDrawState() const;
    // The picture for a state (STATE_*); null when none is loaded.
    const QImage& GetStatePicture(int state) const;
    // Where the picture is drawn: centred, truncating toward zero.
    QPoint GetFrameOrigin() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // State, readable for tests and the owner.
    BOOL m_bCaptured = 0;     // the button tracks the pointer beyond its edges
    BOOL m_bLButtonDown = 0;  // the left button went down here and is still down
    int m_nCheck = 0;
    BOOL m_bHover = 0;
    int m_nState = STATE_NORMAL;
    int m_nFrameWidth = 0;
    int m_nFrameHeight = 0;

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void changeEvent(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool hitButton(const QPoint& pos) const override;
    void nextCheckState() override {}

private:
    void FreeImages();
    void SplitStrip(const QImage& strip, BOOL vertical);
    void UpdateState(const QPoint& pt);
    void HandleMove(const QPoint& pt);
    void OnMouseEnter(const QPoint& pt);
    void OnMouseLeave(const QPoint& pt);

    QImage m_bmpNormal;
    QImage m_bmpHover;
    QImage m_bmpDisabled;
    QImage m_bmpPressed;
};
