// Keeps child controls at fixed shares of their parent's size change. Each child
// is recorded once with its rectangle and four factors; every resize recomputes
// all of them from the recorded rectangles, so nothing drifts.
#pragma once

#include <QPointer>
#include <vector>

#include "layout_core.h"
#include "wintypes.h"

class QWidget;

class CLdLayoutMgr {
public:
    struct CAnchor {
        LdRect m_rcInitial;  // in the parent's client coordinates
        double m_dLeft = 0.0;
        double m_dTop = 0.0;
        double m_dRight = 0.0;
        double m_dBottom = 0.0;
        int m_nID = 0;
    };

    CLdLayoutMgr() = default;
    virtual ~CLdLayoutMgr();
    CLdLayoutMgr(const CLdLayoutMgr&) = delete;
    CLdLayoutMgr& operator=(const CLdLayoutMgr&) = delete;

    // Takes `parent`'s present size as the reference of all later changes.
    void Initialize(QWidget* parent);
    // Records the child tagged `id` (see control_id.h) with whole percentages.
    // 0 when there is no parent yet or no such child.
    BOOL AddAnchor(int id, int left, int top, int right, int bottom);
    // For the parent's resize handler; does nothing once the parent is gone.
    void OnParentSized();
    // Lays out every recorded child for the parent's present size, in the order
    // they were added (a child anchored twice ends where its last record puts it).
    void Reposition();

    const std::vector<CAnchor>& GetAnchors() const { return m_anchors; }

private:
    QPointer<QWidget> m_pParent;
    int m_nInitWidth = 0;
    int m_nInitHeight = 0;
    std::vector<CAnchor> m_anchors;
};
