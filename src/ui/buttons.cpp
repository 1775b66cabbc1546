#include "ui/buttons.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <map>

#include "platform/qtui/qtui.h"
#include "ui/access.h"
#include "ui/controls.h"

namespace {

// Every pixel of the bitmap as RGB; indices beyond the colour table come out black.
QImage ToImage(const BitmapRecord& b) {
    const int32_t w = b.header.biWidth, h = b.height;
    QImage img(w, h, QImage::Format_RGB32);
    if (img.isNull()) return img;
    auto tableColour = [&](uint32_t index) -> QRgb {
        if (!b.table || index >= static_cast<uint32_t>(b.colours)) return qRgb(0, 0, 0);
        const uint8_t* q = b.table + index * 4;
        return qRgb(q[2], q[1], q[0]);
    };
    for (int32_t row = 0; row < h; row++) {
        const uint8_t* src = b.bits + static_cast<size_t>(h - 1 - row) * static_cast<size_t>(b.stride);
        auto* dst = reinterpret_cast<QRgb*>(img.scanLine(row));
        for (int32_t x = 0; x < w; x++) {
            switch (b.header.biBitCount) {
                case 1:
                    dst[x] = tableColour((src[x >> 3] >> (7 - (x & 7))) & 1);
                    break;
                case 4:
                    dst[x] = tableColour((x & 1) ? (src[x >> 1] & 0xF) : (src[x >> 1] >> 4));
                    break;
                case 8:
                    dst[x] = tableColour(src[x]);
                    break;
                case 24:
                    dst[x] = qRgb(src[x * 3 + 2], src[x * 3 + 1], src[x * 3]);
                    break;
                default:
                    dst[x] = qRgb(src[x * 4 + 2], src[x * 4 + 1], src[x * 4]);
                    break;
            }
        }
    }
    return img;
}

}  // namespace

OwnerDrawButton::OwnerDrawButton(int32_t controlId, QWidget* parent) : QAbstractButton(parent) {
    SetControlId(this, controlId);
}

int32_t OwnerDrawButton::controlId() const {
    return GetDlgCtrlID(const_cast<OwnerDrawButton*>(this));
}

uint32_t OwnerDrawButton::itemState() const {
    uint32_t state = 0;
    if (isDown()) state |= ODS_SELECTED;
    if (!isEnabled()) state |= ODS_DISABLED;
    if (hasFocus()) state |= ODS_FOCUS;
    return state;
}

QSize OwnerDrawButton::sizeHint() const {
    return QSize(40, 12).expandedTo(size());
}

void OwnerDrawButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = static_cast<uint32_t>(controlId());
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = itemState();
    item.hwndItem = HWNDFromWidget(this);
    item.hDC = HDCFromPainter(&painter);
    item.rcItem = RECT{0, 0, width(), height()};
    painter.setFont(font());
    if (draw_ && draw_(item)) {
        if (hasFocus()) DrawFocusOutline(painter, rect().adjusted(1, 1, -1, -1));
        return;
    }
    painter.end();
    QStylePainter style(this);
    QStyleOptionButton option;
    option.initFrom(this);
    option.text = text();
    option.icon = icon();
    if (isDown()) option.state |= QStyle::State_Sunken;
    style.drawControl(QStyle::CE_PushButton, option);
}

void OwnerDrawButton::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !event->isAutoRepeat()) {
        event->accept();
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

OwnerDrawButton::DrawFunction BitmapButtonDrawer(HWND dialog, ButtonRecord* const* list) {
    return [dialog, list](DRAWITEMSTRUCT& item) {
        return DrawBitmapButton(list ? *list : nullptr, dialog, WM_DRAWITEM, static_cast<int32_t>(item.CtlID),
                                &item) == 1;
    };
}

const QImage& BitmapRecordImage(const BitmapRecord* bitmap) {
    static std::map<const BitmapRecord*, QImage> images;
    static const QImage none;
    if (!bitmap) return none;
    auto it = images.find(bitmap);
    if (it == images.end()) it = images.emplace(bitmap, ToImage(*bitmap)).first;
    return it->second;
}

int StretchBitmapRecord(HDC dc, int32_t dx, int32_t dy, int32_t dw, int32_t dh, const BitmapRecord* bitmap,
                        int32_t sx, int32_t sy, int32_t sw, int32_t sh) {
    QPainter* p = PainterFromHDC(dc);
    if (!p || !p->isActive() || !bitmap || dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return 0;
    const QImage& img = BitmapRecordImage(bitmap);
    if (img.isNull()) return 0;
    int64_t top = static_cast<int64_t>(bitmap->height) - sy - sh;
    if (top < INT32_MIN || top > INT32_MAX) return 0;
    p->drawImage(QRect(dx, dy, dw, dh), img, QRect(sx, static_cast<int32_t>(top), sw, sh));
    return sh;
}

int DrawBitmapButton(ButtonRecord* list, HWND, uint32_t, int32_t controlId, DRAWITEMSTRUCT* item) {
    ButtonRecord* b = FindButtonRecord(list, controlId);
    if (!b) return 0;
    b->pressed = 0;
    if (b->state < 0 || !item) return 1;
    uint32_t state = item->itemState;
    if (state & ODS_SELECTED) b->pressed = 1;
    int32_t top = ButtonImageTop(*b, state);
    int32_t sy = b->bitmap->height - top - b->height;  // StretchDIBits counts rows from the bottom
    StretchBitmapRecord(item->hDC, item->rcItem.left, item->rcItem.top, item->rcItem.right,
                        item->rcItem.bottom, b->bitmap, b->sourceX, sy, b->width, b->height);
    QPainter* p = PainterFromHDC(item->hDC);
    if (b->caption[0] && p && p->isActive()) {
        QRect r(item->rcItem.left, item->rcItem.top, item->rcItem.right - item->rcItem.left,
                item->rcItem.bottom - item->rcItem.top);
        QString caption = QString::fromUtf8(b->caption);
        p->save();
        if (state & ODS_DISABLED) {
            p->setPen(Qt::white);
            p->drawText(r.translated(1, 1), Qt::AlignCenter | Qt::TextSingleLine, caption);
            p->setPen(QColor(0x80, 0x80, 0x80));
        } else {
            p->setPen(Qt::black);
        }
        p->drawText(r, Qt::AlignCenter | Qt::TextSingleLine, caption);
        p->restore();
    }
    return 1;
}
