// Dialog controls on Qt widgets: every control keeps its numeric id as the "controlId" property,
// so dialogs, tooltip tables and tests find controls by the ids the system uses.
#pragma once

#include <cstdint>

#include "core/wintypes.h"

class QWidget;

void SetControlId(QWidget* control, int32_t id);
// The control's id; 0 for a null handle or a widget without one.
int32_t GetDlgCtrlID(HWND control);
// The first descendant of the dialog with that id, or null.
HWND GetDlgItem(HWND dialog, int32_t id);
QWidget* FindControl(QWidget* dialog, int32_t id);
// The widget itself or its nearest ancestor below the dialog that carries an id; the dialog
// itself when none does.
QWidget* ControlOf(QWidget* dialog, QWidget* widget);
