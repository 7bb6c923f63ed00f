#include "control_id.h"

#include <QVariant>
#include <QWidget>

namespace {
constexpr const char* kIdProperty = "vorurControlId";
}

void SetControlId(QWidget* w, int id) {
    if (w)
        w->setProperty(kIdProperty, id);
}

int GetControlId(const QWidget* w) {
    if (!w)
        return -1;
    bool ok = false;
    const int id = w->property(kIdProperty).toInt(&ok);
    return ok ? id : -1;
}

QWidget* FindControl(QWidget* parent, int id) {
    if (!parent)
        return nullptr;
    // Direct children first, like a dialog's own item lookup; then deeper ones.
    const auto direct = parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* w : direct)
        if (GetControlId(w) == id)
            return w;
    const auto all = parent->findChildren<QWidget*>();
    for (QWidget* w : all)
        if (GetControlId(w) == id)
            return w;
    return nullptr;
}
