#include "ui/controls.h"

#include <QWidget>

namespace {
constexpr const char* kControlId = "controlId";
}

void SetControlId(QWidget* control, int32_t id) {
    if (control) control->setProperty(kControlId, id);
}

int32_t GetDlgCtrlID(HWND control) {
    auto* w = static_cast<QWidget*>(control);
    if (!w) return 0;
    bool ok = false;
    int id = w->property(kControlId).toInt(&ok);
    return ok ? id : 0;
}

QWidget* FindControl(QWidget* dialog, int32_t id) {
    if (!dialog || id == 0) return nullptr;
    const QList<QWidget*> all = dialog->findChildren<QWidget*>();
    for (QWidget* w : all)
        if (GetDlgCtrlID(w) == id) return w;
    return nullptr;
}

HWND GetDlgItem(HWND dialog, int32_t id) {
    return FindControl(static_cast<QWidget*>(dialog), id);
}

QWidget* ControlOf(QWidget* dialog, QWidget* widget) {
    for (QWidget* w = widget; w && w != dialog; w = w->parentWidget())
        if (GetDlgCtrlID(w) != 0) return w;
    return dialog;
}
