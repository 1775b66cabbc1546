// Keyboards and screen readers on hand-drawn windows: transparent control areas over the drawn
// parts (a slider, a dial, a meter, a display) that take the focus and carry a name, a role and a
// value, the dotted outline a focused part is drawn with, and names for owner-drawn buttons.
#pragma once

#include <QAccessible>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "ui/tooltip_text.h"

// A part of a hand-drawn window as keyboards and screen readers see it: a transparent child over the
// part, reached with Tab and drawn with a dotted outline while it has the focus. Mouse presses and
// the keys it does not take go on to the window, which goes on drawing the part itself.
class ControlArea : public QWidget {
    Q_OBJECT
  public:
    ControlArea(QWidget* window, const QRect& place, QAccessible::Role role, const QString& name);
    QAccessible::Role role() const { return role_; }

    // A ranged part: its value and bounds, read whenever asked; set, when given, moves the part.
    struct Range {
        std::function<int32_t()> value;
        std::function<int32_t()> minimum;
        std::function<int32_t()> maximum;
        std::function<void(int32_t)> set;
    };
    void setRange(Range range) { range_ = std::move(range); }
    const Range* range() const { return range_.value ? &range_ : nullptr; }
    // What a display shows now; screen readers hear it after the name.
    void setText(std::function<QString()> text) { text_ = std::move(text); }
    QString text() const { return text_ ? text_() : QString(); }
    // Tells screen readers when the value or the text is no longer what they last heard.
    void Refresh();

  protected:
    // Outlined while it has the focus, once the focus came from the keyboard.
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

  private:
    QAccessible::Role role_;
    bool keyboardFocus_ = false;
    Range range_;
    std::function<QString()> text_;
    int32_t heardValue_ = 0;
    QString heardText_;
};

// The focus outline of a part drawn by hand: a dotted rectangle inside r that shows on any colour.
void DrawFocusOutline(QPainter& p, const QRect& r);

// Names each control of the dialog that has a row in the tooltip table and no name yet after its
// tooltip: the first line is the name, the lines after it the description.
void NameControlsAfterTooltips(QWidget* dialog, const TooltipEntry* table);
