#include "layout_mgr.h"

#include <QWidget>

#include "control_id.h"

CLdLayoutMgr::~CLdLayoutMgr() { m_anchors.clear(); }

void CLdLayoutMgr::Initialize(QWidget* parent) {
    m_pParent = parent;
    // The client size: for the frameless player it equals the window size, and
    // unlike a frame it is known before the window is mapped, so the reference
    // cannot shift when the window manager adds its decoration later.
    m_nInitWidth = parent ? parent->width() : 0;
    m_nInitHeight = parent ? parent->height() : 0;
}

BOOL CLdLayoutMgr::AddAnchor(int id, int left, int top, int right, int bottom) {
    if (!m_pParent)
        return 0;
    QWidget* child = FindControl(m_pParent, id);
    if (!child)
        return 0;
    const QPoint tl = child->parentWidget() == m_pParent ? child->pos()
                                                          : child->mapTo(m_pParent.data(), QPoint(0, 0));
    CAnchor a;
    a.m_rcInitial = {tl.x(), tl.y(), tl.x() + child->width(), tl.y() + child->height()};
    const LdFactors f = LdFactorsFromPercent(left, top, right, bottom);
    a.m_dLeft = f.left;
    a.m_dTop = f.top;
    a.m_dRight = f.right;
    a.m_dBottom = f.bottom;
    a.m_nID = id;
    m_anchors.push_back(a);
    return 1;
}

void CLdLayoutMgr::OnParentSized() {
    if (m_pParent)
        Reposition();
}

void CLdLayoutMgr::Reposition() {
    if (!m_pParent)
        return;
    const int dx = m_pParent->width() - m_nInitWidth;
    const int dy = m_pParent->height() - m_nInitHeight;
    for (const CAnchor& a : m_anchors) {
        QWidget* child = FindControl(m_pParent, a.m_nID);
        if (!child)
            continue;  // gone since it was anchored
        const LdRect r = LdAnchorRect(a.m_rcInitial, {a.m_dLeft, a.m_dTop, a.m_dRight, a.m_dBottom}, dx, dy);
        QPoint tl(r.left, r.top);
        if (child->parentWidget() && child->parentWidget() != m_pParent)
            tl = child->parentWidget()->mapFrom(m_pParent.data(), tl);
        // Edges that crossed give an empty control rather than a negative size.
        const int w = r.right > r.left ? r.right - r.left : 0;
        const int h = r.bottom > r.top ? r.bottom - r.top : 0;
        child->setGeometry(tl.x(), tl.y(), w, h);
        child->raise();
    }
}
