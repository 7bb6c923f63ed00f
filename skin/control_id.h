// Child controls are addressed by the numeric ids of the dialog they belong to.
// Qt widgets have no such id, so it is kept as a dynamic property.
#pragma once

class QWidget;

// Tags `w` with `id`. A widget carries one id; tagging it again replaces it.
void SetControlId(QWidget* w, int id);

// The id of `w`, or -1 when it has none.
int GetControlId(const QWidget* w);

// The first descendant of `parent` tagged with `id` (direct children first), or
// null when there is none.
QWidget* FindControl(QWidget* parent, int id);
