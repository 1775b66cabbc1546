// The storyboard's client area: drawing, the mouse and the keyboard.
#include <QAccessible>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <vector>

#include "core/diag.h"
#include "settings/settings.h"
#include "studio/storyboard.h"
#include "studio/storyboard_canvas.h"
#include "studio/storyboard_ids.h"
#include "ui/access.h"
#include "ui/controls.h"
#include "ui/splash.h"
#include "ui/tooltips.h"

namespace {

// COLORREF values (0x00BBGGRR).
constexpr uint32_t kBackground = 0xDEDEDE;
constexpr uint32_t kSelectionColour = 0x0000FF;
constexpr uint32_t kTitleColour = 0x00FFFF;
constexpr uint32_t kUnderlayColour = 0xFF0000;
constexpr uint32_t kTitleTick = 0x00FF00;
constexpr uint32_t kDroppedTick = 0x00C0C0;
constexpr uint32_t kStripColour = 0x804040;
constexpr uint32_t kThumbColour = 0xFFC0C0;
constexpr uint32_t kInfoTextColour = 0x00FF00;
constexpr uint32_t kShadow[kShadowLines] = {0x000000, 0x585858, 0x808080, 0x909090,
                                            0xA0A0A0, 0xB0B0B0, 0xBBBBBB};

QColor Colour(uint32_t c) {
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

QRect ToQRect(const RECT& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// Cell times and the panel text are small: a narrow sans face stands in for "Small Fonts".
void SubstituteSmallFonts() {
    static bool done = false;
    if (done) return;
    done = true;
    QFont::insertSubstitutions(
        kSmallFace, {"Liberation Sans Narrow", "DejaVu Sans Condensed", "DejaVu Sans", "Liberation Sans"});
}

// The title box of a cell for the title's placement.
QRect TitleBox(const QRect& cell, const TitleRecord* t) {
    const int w = cell.width(), h = cell.height();
    const int bw = w / 5, bh = h / 10;
    int vertical = t ? t->vertical : 0, horizontal = t ? t->horizontal : 0;
    int y = vertical == 1   ? cell.top() + h / 10
            : vertical == 2 ? cell.top() + h - 2 * (h / 10)
                            : cell.top() + h / 2 - bh / 2;
    int x = horizontal == 1   ? cell.left() + w / 10
            : horizontal == 2 ? cell.left() + w - w / 10 - bw
                              : cell.left() + w / 2 - bw / 2;
    return QRect(x, y, bw, bh);
}

// The state bits of frame (0-based) from the per-frame states.
uint32_t StateOf(int32_t frame) {
    const std::vector<uint8_t>& states = FrameStates();
    return frame >= 0 && static_cast<size_t>(frame) < states.size() ? states[static_cast<size_t>(frame)] : 0;
}

// Title boxes, the underlay line and the inactive mark of frame (0-based) over its cell.
void DrawCellMarks(QPainter& p, const QRect& cell, int32_t frame, bool withUnderlay) {
    const uint32_t state = StateOf(frame);
    const int w = cell.width(), h = cell.height(), x = cell.left(), y = cell.top();
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    // Pictures that show the edits need no marks standing for them.
    const bool marks = !gSettings.ShowEdits;
    if (marks && withUnderlay && (state & kStateUnderlaid)) {
        p.setPen(QPen(Colour(kUnderlayColour), 2));
        p.drawLine(x + 2, y + h - 2, x + w - 2, y + 2);
    }
    if (marks && (state & kStateTitled))
        for (const Revision* r : OverlaysAt(frame + 1))
            if (r->type == kRevTitle) p.fillRect(TitleBox(cell, TitleOf(r)), Colour(kTitleColour));
    if (state & kStateInactive) {
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(Colour(kSelectionColour), 2));
        p.setBrush(Qt::NoBrush);
        QRectF inset = QRectF(cell).adjusted(3, 3, -3, -3);
        p.drawEllipse(inset);
        p.drawLine(QPointF(inset.left(), inset.top()), QPointF(inset.right(), inset.bottom()));
    }
    p.restore();
}

void DrawCellTime(QPainter& p, const QRect& cell, int32_t frame) {
    p.setPen(Qt::black);
    std::string t = CellTimeText(frame, gProject.frameRate);
    MyShowTextPoints(&p, cell.left(), cell.top() + cell.height() + 1, t.c_str(), kSmallFace, kSmallPoints, 0);
}

}  // namespace

uint32_t MyShowTextPoints(QPainter* p, int32_t x, int32_t y, const char* text, const char* face,
                          int32_t points, int32_t boxWidth) {
    if (!text) {
        NotifyBox("MyShowText - error");
        return 0;
    }
    if (!p || !p->isActive()) return 0;
    SubstituteSmallFonts();
    const int dpi = p->device() ? p->device()->logicalDpiY() : 96;
    QFont font(QString::fromUtf8(face ? face : ""));
    font.setPixelSize(std::clamp(MulDiv(points, dpi, 72), 1, 200));
    font.setWeight(QFont::Normal);
    QFont saved = p->font();
    p->setFont(font);
    QFontMetrics fm(font);
    QString s = QString::fromUtf8(text, Mystrlen(text));
    int width = fm.horizontalAdvance(s);
    const int height = fm.height();
    if (boxWidth > 0) {
        while (boxWidth < width && s.size() >= 2) {
            s.chop(1);
            width = fm.horizontalAdvance(s);
        }
        p->fillRect(QRect(x, y, boxWidth, height), p->brush());
    }
    p->drawText(QPoint(x, y + fm.ascent()), s);
    p->setFont(saved);
    return (static_cast<uint32_t>(std::min(height, 0xFFFF)) << 16) |
           static_cast<uint32_t>(std::min(width, 0xFFFF));
}

StoryboardCanvas::StoryboardCanvas(StoryboardWindow* window) : QWidget(window), window_(window) {
    InstallStoryboardAccessibility();
    setObjectName("storyboardCanvas");
    setAccessibleName("Storyboard");
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
    setFocusPolicy(Qt::StrongFocus);
    auto* timeline = new QWidget(this);
    SetControlId(timeline, kTimelinePanelId);
    timeline->hide();
    auto* info = new QWidget(this);
    SetControlId(info, kInfoPanelId);
    info->hide();
}

StoryboardCanvas::~StoryboardCanvas() {
    ForgetStoryboardAccessibility(this);
}

void StoryboardCanvas::LayoutPanels() {
    const int w = width(), h = height();
    QWidget* info = FindControl(this, kInfoPanelId);
    QWidget* timeline = FindControl(this, kTimelinePanelId);
    if (info) info->setGeometry(kInfoPanelLeft, kPanelTop, kInfoPanelWidth, kPanelHeight);
    const int timelineLeft = kInfoPanelLeft + kInfoPanelWidth + kPanelGap;
    if (timeline)
        timeline->setGeometry(timelineLeft, kPanelTop, std::max(w - timelineLeft - 4, 8), kPanelHeight);
    gView.storyRect = RECT{0, kGridTop, w, std::max(h, kGridTop)};
    if (timeline) {
        QRect g = timeline->geometry();
        gView.stripRect = RECT{g.left() + 1, g.top() + 1, g.right(), g.bottom()};
    }
}

void StoryboardCanvas::resizeEvent(QResizeEvent*) {
    LayoutPanels();
}

QRect StoryboardCanvas::ProgressRect(int32_t frame) const {
    const RECT& s = gView.stripRect;
    const int wide = frame < 0 ? 0 : ProgressWidth(s.right - s.left, frame, gProject.totalFrames);
    return QRect(s.left, s.bottom - 13, wide, 4);
}

void StoryboardCanvas::SetProgress(int32_t frame) {
    const QRect before = ProgressRect(progress_), after = ProgressRect(frame);
    progress_ = frame;
    // A growing bar needs only its new pixels drawn; anything else redraws the strip under it.
    if (frame >= 0 && after.contains(before)) {
        if (after.width() > before.width())
            repaint(QRect(before.right() + 1, after.top(), after.width() - before.width(), after.height()));
    } else {
        update(ToQRect(gView.stripRect));
    }
}

QRegion StoryboardCanvas::SelectionRegion(int32_t oldStart, int32_t oldEnd, bool all) const {
    const RECT& s = gView.stripRect;
    QRegion dirty(QRect(s.left, s.bottom - 13, s.right - s.left, 2));
    auto in = [](int32_t frame, int32_t a, int32_t b) {
        return a >= 0 && b >= 0 && frame >= a && frame <= b;
    };
    for (const CellRecord* rec = ThumbnailCache(); rec; rec = rec->next) {
        if (rec->left == kOutOfSight) continue;
        if (!all && in(rec->frame, oldStart, oldEnd) == in(rec->frame, gProject.selStart, gProject.selEnd))
            continue;
        const QRect cell(rec->left, rec->top, rec->right - rec->left, rec->bottom - rec->top);
        dirty += QRegion(cell.adjusted(-2, -2, 2, 2)) - QRegion(cell);  // the two outlines
    }
    return dirty;
}

void StoryboardCanvas::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    Paint(p, event->region());
}

void StoryboardCanvas::Paint(QPainter& p) {
    Paint(p, QRegion(rect()));
}

void StoryboardCanvas::Paint(QPainter& p, const QRegion& dirty) {
    LayoutPanels();
    if (progress_ >= 0 && ProgressRect(progress_).contains(dirty.boundingRect())) {
        // The render's bar grew: nothing under it changed.
        p.fillRect(ProgressRect(progress_), Colour(kSelectionColour));
        return;
    }
    p.fillRect(rect(), Colour(kBackground));
    DrawCells(p, dirty);
    if (QWidget* info = FindControl(this, kInfoPanelId); info && dirty.intersects(info->geometry()))
        DrawInfoPanel(p);
    if (QWidget* timeline = FindControl(this, kTimelinePanelId);
        timeline && dirty.intersects(timeline->geometry()))
        DrawTimeline(p);
    for (int i = 0; i < kShadowLines; i++)
        p.fillRect(QRect(0, gView.storyRect.top - 1 - i, width(), 1), Colour(kShadow[i]));
    DrawBand(p);
    if (progress_ >= 0) p.fillRect(ProgressRect(progress_), Colour(kSelectionColour));
    if (drag_ == Drag::Scrolling) {
        const RECT& t = gView.thumbRect;
        p.save();
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.setPen(QPen(Qt::white, 1, Qt::DotLine));
        p.drawRect(QRect(outlineLeft_, t.top, t.right - t.left - 1, t.bottom - t.top - 1));
        p.restore();
        if (previewFrame_ >= 0) DrawFrameCell(p, previewFrame_);
    }
}

void StoryboardCanvas::DrawCells(QPainter& p, const QRegion& dirty) {
    const CellSize cell = NormalisedCellSize(gSettings.cellW, gSettings.cellH);
    const RECT& story = gView.storyRect;
    GridLayout grid =
        ComputeGridLayout(story.right - story.left, story.bottom - story.top, cell.width, cell.height);
    gView.visibleCells = grid.columns * grid.rows;
    const int32_t first = FirstShownFrame(gProject.frameRate, gView.position);
    const CellRecord* head = ThumbnailCache();
    if (!(head && head->imageWidth == cell.width && head->imageHeight == cell.height &&
          head->frame == first && head->image))
        FreeThumbnails();
    int32_t used = 0;
    bool stale = false;  // a cell outside the dirty region changed: the whole grid is drawn next
    // The cells whose picture is missing or out of date are made together.
    std::vector<ThumbnailRequest> missing;
    for (int32_t index = 0; index < grid.rows * grid.columns; index++) {
        const int32_t frame = CellFrame(first, index, gView.step);
        if (frame < 0 || frame >= gProject.totalFrames) continue;
        CellRecord* rec = CacheRecordAt(index);
        if (!rec || ThumbnailCurrent(*rec, frame, cell.width, cell.height)) continue;
        missing.push_back({rec, frame});
        const RECT rc =
            GridCellRect(story, grid, index / grid.columns, index % grid.columns, cell.width, cell.height);
        stale = stale || !dirty.intersects(ToQRect(rc).adjusted(-2, -2, 2, kCellGapY));
    }
    FillThumbnails(missing, cell.width, cell.height);
    for (int32_t r = 0; r < grid.rows; r++) {
        for (int32_t c = 0; c < grid.columns; c++) {
            const int32_t index = r * grid.columns + c;
            const RECT rc = GridCellRect(story, grid, r, c, cell.width, cell.height);
            const QRect q = ToQRect(rc);
            const int32_t frame = CellFrame(first, index, gView.step);
            if (frame < 0 || frame >= gProject.totalFrames) {
                p.fillRect(q, Qt::black);
                continue;
            }
            CellRecord* rec = CacheRecordAt(index);
            if (!rec) {  // no memory: draw it plainly, uncached
                p.fillRect(q, Qt::white);
                continue;
            }
            used = index + 1;
            // A cell with its time and outlines below and around it.
            const bool visible = dirty.intersects(q.adjusted(-2, -2, 2, kCellGapY));
            if (!visible && rec->left == rc.left && rec->top == rc.top) continue;
            rec->left = rc.left;
            rec->top = rc.top;
            rec->right = rc.right;
            rec->bottom = rc.bottom;
            rec->frame = frame;
            QImage picture = ThumbnailPicture(*rec);
            const uint32_t state = StateOf(frame);
            if (picture.isNull()) {
                p.fillRect(q, (state & kStateDropped) ? Qt::black : Qt::white);
            } else {
                if (state & kStateDropped) picture.invertPixels();
                p.drawImage(q.topLeft(), picture);
            }
            DrawCellMarks(p, q, frame, true);
            DrawCellTime(p, q, frame);
        }
    }
    int32_t i = 0;
    for (CellRecord* rec = ThumbnailCache(); rec; rec = rec->next, i++)
        if (i >= used) rec->left = rec->right = kOutOfSight;
    if (stale) update(ToQRect(story));
}

void StoryboardCanvas::DrawFrameCell(QPainter& p, int32_t frame) {
    const CellRecord* first = ThumbnailCache();
    if (!first || first->left == kOutOfSight) return;
    QRect q(first->left, first->top, first->right - first->left, first->bottom - first->top);
    const QImage picture = ThumbnailOfFrame(frame, q.width(), q.height());
    if (!picture.isNull())
        p.drawImage(q, picture);
    else
        p.fillRect(q, Qt::white);
    DrawCellMarks(p, q, frame, false);
    p.fillRect(QRect(q.left(), q.bottom() + 1, q.width(), kCellGapY - 1), Colour(kBackground));
    DrawCellTime(p, q, frame);
}

void StoryboardCanvas::DrawInfoPanel(QPainter& p) {
    QWidget* info = FindControl(this, kInfoPanelId);
    if (!info) return;
    const QRect r = info->geometry();
    p.save();
    p.fillRect(r, Qt::black);
    p.setPen(Colour(kInfoTextColour));
    p.setBrush(Qt::black);
    const std::vector<std::string> lines = InfoPanelLines();
    for (size_t i = 0; i < lines.size(); i++) {
        const int x = r.left() + (i == 0 ? 2 : 6);
        const int y = r.top() + (i == 0 ? 2 : 10 + 8 * static_cast<int>(i - 1));
        MyShowTextPoints(&p, x, y, lines[i].c_str(), kSmallFace, kSmallPoints, r.right() - x - 1);
    }
    p.setPen(Qt::white);
    p.drawLine(r.right(), r.top(), r.right(), r.bottom());
    p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    p.restore();
}

void StoryboardCanvas::DrawTimeline(QPainter& p) {
    QWidget* timeline = FindControl(this, kTimelinePanelId);
    if (!timeline) return;
    const QRect panel = timeline->geometry();
    p.fillRect(panel, Colour(kBackground));
    p.setPen(Qt::white);
    p.drawLine(panel.right(), panel.top(), panel.right(), panel.bottom());
    p.drawLine(panel.left(), panel.bottom(), panel.right(), panel.bottom());
    p.setPen(Qt::black);
    p.drawLine(panel.left(), panel.top(), panel.right(), panel.top());
    p.drawLine(panel.left(), panel.top(), panel.left(), panel.bottom());

    RECT& s = gView.stripRect;
    const QRect strip = ToQRect(s);
    const int32_t span = ShownSpanMs(gView.visibleCells, gView.step, gProject.frameRate);
    gView.position = ClampedPosition(gView.position, span, gProject.duration);
    p.fillRect(strip, Colour(kStripColour));
    int32_t left = 0, right = 0;
    ThumbExtent(s, gView.position, span, gProject.duration, left, right);
    gView.thumbRect = RECT{left, s.top, right, s.bottom};
    p.fillRect(ToQRect(gView.thumbRect), Colour(kThumbColour));
    p.fillRect(QRect(s.left, s.top, strip.width(), 4), Qt::black);
    p.fillRect(QRect(s.left, s.bottom - 4, strip.width(), 4), Qt::black);
    const std::vector<uint8_t>& states = FrameStates();
    for (int32_t f = 0; f < gProject.totalFrames && static_cast<size_t>(f) < states.size(); f++) {
        int32_t a = 0, b = 0;
        FrameShare(s, f, gProject.totalFrames, a, b);
        if (b <= a) continue;  // a frame narrower than a pixel leaves no tick of its own
        const uint32_t state = states[static_cast<size_t>(f)];
        const uint32_t tick = (state & kStateInactive)  ? kSelectionColour
                              : (state & kStateDropped) ? kDroppedTick
                                                        : kTitleColour;
        p.fillRect(QRect(a, s.top + 11, b - a, 5), Colour(tick));
        if (state & kStateTitled) p.fillRect(QRect(a, s.top + 7, b - a, 3), Colour(kTitleTick));
        if (state & kStateUnderlaid) p.fillRect(QRect(a, s.top + 17, b - a, 3), Colour(kUnderlayColour));
    }
}

void StoryboardCanvas::DrawBand(QPainter& p) {
    const RECT& s = gView.stripRect;
    p.fillRect(QRect(s.left, s.bottom - 13, s.right - s.left, 2), Colour(kBackground));
    const bool selected = gProject.selStart >= 0 && gProject.selEnd >= 0 && gProject.totalFrames > 0;
    if (selected) {
        int32_t a = 0, b = 0;
        BandExtent(s, gProject.selStart, gProject.selEnd, gProject.totalFrames, a, b);
        p.fillRect(QRect(a, s.bottom - 13, std::max(b - a, 1), 2), Colour(kSelectionColour));
    }
    p.save();
    p.setBrush(Qt::NoBrush);
    for (const CellRecord* rec = ThumbnailCache(); rec; rec = rec->next) {
        if (rec->left == kOutOfSight) continue;
        const bool in = selected && rec->frame >= gProject.selStart && rec->frame <= gProject.selEnd;
        p.setPen(Colour(in ? kSelectionColour : kBackground));
        QRect q(rec->left, rec->top, rec->right - rec->left, rec->bottom - rec->top);
        p.drawRect(q.adjusted(-1, -1, 0, 0));
        p.drawRect(q.adjusted(-2, -2, 1, 1));
        if (rec->frame == focus_ && hasFocus() && keyboardFocus_)
            DrawFocusOutline(p, q.adjusted(2, 2, -2, -2));
    }
    p.restore();
}

QRegion StoryboardCanvas::DragRegion() const {
    QRegion dirty(ToQRect(gView.stripRect));
    if (const CellRecord* first = ThumbnailCache(); first && first->left != kOutOfSight)
        dirty += QRect(first->left, first->top, first->right - first->left,
                       first->bottom - first->top + kCellGapY);
    return dirty;
}

CellRecord* StoryboardCanvas::CellAt(QPoint pt) const {
    for (CellRecord* rec = ThumbnailCache(); rec; rec = rec->next) {
        if (rec->left == kOutOfSight || rec->frame < 0 || rec->frame >= gProject.totalFrames) continue;
        if (pt.x() >= rec->left && pt.x() < rec->right && pt.y() >= rec->top && pt.y() < rec->bottom)
            return rec;
    }
    return nullptr;
}

void StoryboardCanvas::EndDrag() {
    drag_ = Drag::None;
    previewFrame_ = -1;
    SetTooltipsAllowed(true);
}

void StoryboardCanvas::mousePressEvent(QMouseEvent* event) {
    CloseSplash();
    if (keyboardFocus_ && hasFocus()) update(FocusOutlineRegion());
    keyboardFocus_ = false;
    const QPoint pt = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        if (drag_ == Drag::Selecting) {
            EndDrag();
            DrawSelection(-1, -1, true);
            window_->UpdateToolbar();
        } else if (drag_ == Drag::Scrolling) {
            EndDrag();  // the outline goes back to the thumb
            update();
        } else if (!window_->busy()) {
            window_->BackgroundPopup(event->globalPosition().toPoint());
        }
        return;
    }
    if (event->button() != Qt::LeftButton || drag_ != Drag::None || window_->busy()) return;
    const RECT& t = gView.thumbRect;
    if (gProject.totalFrames > 0 && pt.x() >= t.left && pt.x() < t.right && pt.y() >= t.top &&
        pt.y() < t.bottom) {
        drag_ = Drag::Scrolling;
        pressX_ = pt.x();
        outlineLeft_ = t.left;
        moved_ = false;
        previewFrame_ = -1;
        CloseTooltip();
        SetTooltipsAllowed(false);
        update(DragRegion());
        return;
    }
    if (CellRecord* rec = CellAt(pt)) {
        const bool shift = event->modifiers() & Qt::ShiftModifier;
        anchor_ = (shift && gProject.selStart >= 0) ? gProject.selStart : rec->frame;
        keyAnchor_ = anchor_;
        SetFocusFrame(rec->frame);
        drag_ = Drag::Selecting;
        CloseTooltip();
        SetTooltipsAllowed(false);
        DrawSelection(anchor_, rec->frame, false);
        return;
    }
    window_->UpdateToolbar();
}

void StoryboardCanvas::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pt = event->position().toPoint();
    if (drag_ == Drag::Selecting) {
        if (CellRecord* rec = CellAt(pt)) {
            DrawSelection(anchor_, rec->frame, false);
            SetFocusFrame(rec->frame);
        }
    } else if (drag_ == Drag::Scrolling) {
        const RECT& s = gView.stripRect;
        const RECT& t = gView.thumbRect;
        const int32_t thumbWidth = t.right - t.left;
        int32_t left = t.left + (pt.x() - pressX_);
        left =
            std::clamp(left, static_cast<int32_t>(s.left), std::max<int32_t>(s.left, s.right - thumbWidth));
        if (left != outlineLeft_) moved_ = true;
        outlineLeft_ = left;
        int32_t f = FrameAtStripOffset(left - s.left, s.right - s.left, gProject.totalFrames);
        previewFrame_ = FirstShownFrame(gProject.frameRate, PositionOfFrame(f, gProject.frameRate));
        if (gProject.frameRate == 0) previewFrame_ = f;
        update(DragRegion());
    }
}

void StoryboardCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (drag_ == Drag::Selecting) {
        EndDrag();
        window_->UpdateToolbar();
        window_->RangePopup(event->globalPosition().toPoint());
    } else if (drag_ == Drag::Scrolling) {
        const RECT& s = gView.stripRect;
        const bool moved = moved_;
        const int32_t left = outlineLeft_;
        EndDrag();
        if (moved) {
            int32_t f = FrameAtStripOffset(left - s.left, s.right - s.left, gProject.totalFrames);
            gView.position = PositionOfFrame(f, gProject.frameRate);
        }
        update();
        window_->UpdateToolbar();
    }
}

void StoryboardCanvas::wheelEvent(QWheelEvent* event) {
    event->accept();
    if (drag_ != Drag::None || window_->busy() || gProject.totalFrames <= 0) return;
    constexpr int32_t kNotch = 120;
    wheelAngle_ += event->angleDelta().y();
    const int32_t notches = wheelAngle_ / kNotch;
    if (notches == 0) return;
    wheelAngle_ -= notches * kNotch;
    CloseTooltip();
    const CellSize cell = NormalisedCellSize(gSettings.cellW, gSettings.cellH);
    const RECT& story = gView.storyRect;
    const GridLayout grid =
        ComputeGridLayout(story.right - story.left, story.bottom - story.top, cell.width, cell.height);
    const int32_t span = ShownSpanMs(gView.visibleCells, gView.step, gProject.frameRate);
    // Turning the wheel towards the user moves on through the project, as in any scrolled list.
    gView.position = ClampedPosition(ScrolledPosition(gView.position, -notches, grid.columns, gView.step,
                                                      gProject.frameRate, gProject.totalFrames),
                                     span, gProject.duration);
    update();
}

std::vector<int32_t> StoryboardCanvas::ShownFrames() const {
    std::vector<int32_t> frames;
    for (const CellRecord* rec = ThumbnailCache(); rec; rec = rec->next)
        if (rec->left != kOutOfSight && rec->frame >= 0 && rec->frame < gProject.totalFrames)
            frames.push_back(rec->frame);
    return frames;
}

QRect StoryboardCanvas::CellRect(int32_t frame) const {
    for (const CellRecord* rec = ThumbnailCache(); rec; rec = rec->next)
        if (rec->left != kOutOfSight && rec->frame == frame)
            return QRect(rec->left, rec->top, rec->right - rec->left, rec->bottom - rec->top);
    return QRect();
}

QRegion StoryboardCanvas::FocusOutlineRegion() const {
    const QRect cell = CellRect(focus_);
    if (cell.isEmpty()) return {};
    return QRegion(cell.adjusted(2, 2, -2, -2)) - QRegion(cell.adjusted(3, 3, -3, -3));
}

void StoryboardCanvas::SetFocusFrame(int32_t frame) {
    if (frame == focus_) return;
    const bool outlined = hasFocus() && keyboardFocus_;
    if (outlined) update(FocusOutlineRegion());
    focus_ = frame;
    if (outlined) update(FocusOutlineRegion());
}

void StoryboardCanvas::AnnounceFocus() {
    if (!hasFocus() || !QAccessible::isActive()) return;
    if (QAccessibleInterface* cell = StoryboardCellInterface(this, focus_)) {
        QAccessibleEvent event(cell, QAccessible::Focus);
        QAccessible::updateAccessibility(&event);
    }
}

void StoryboardCanvas::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    // The focused cell is outlined once the keyboard is in use; the mouse takes the outline away.
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason)
        keyboardFocus_ = true;
    else if (event->reason() == Qt::MouseFocusReason || event->reason() == Qt::OtherFocusReason)
        keyboardFocus_ = false;
    if (focus_ < 0 || focus_ >= gProject.totalFrames) {
        const std::vector<int32_t> shown = ShownFrames();
        focus_ = gProject.selStart >= 0 ? gProject.selStart : shown.empty() ? -1 : shown.front();
    }
    if (keyboardFocus_) update(FocusOutlineRegion());
    AnnounceFocus();
}

void StoryboardCanvas::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    if (keyboardFocus_) update(FocusOutlineRegion());
}

int32_t StoryboardCanvas::ScrollTo(int32_t frame) {
    const CellSize cell = NormalisedCellSize(gSettings.cellW, gSettings.cellH);
    const RECT& story = gView.storyRect;
    const GridLayout grid =
        ComputeGridLayout(story.right - story.left, story.bottom - story.top, cell.width, cell.height);
    const int32_t cells = grid.rows * grid.columns, step = std::max(gView.step, 1), rate = gProject.frameRate;
    if (cells <= 0 || rate <= 0) return frame;
    const int64_t perRow = int64_t{grid.columns} * step;
    const int32_t span = ShownSpanMs(cells, step, rate);
    int32_t first = FirstShownFrame(rate, gView.position);
    const int64_t last = int64_t{first} + int64_t{cells - 1} * step;
    if (frame < first || frame > last) {
        const int64_t rows =
            frame < first ? -((first - frame + perRow - 1) / perRow) : (frame - last + perRow - 1) / perRow;
        gView.position = ClampedPosition(
            ScrolledPosition(gView.position,
                             static_cast<int32_t>(std::clamp<int64_t>(rows, INT32_MIN, INT32_MAX)),
                             grid.columns, step, rate, gProject.totalFrames),
            span, gProject.duration);
        first = FirstShownFrame(rate, gView.position);
        repaint();  // the cells take their places now, for the focus and for screen readers
    }
    // The shown cell nearest the frame, within the project.
    const int64_t index = std::clamp<int64_t>((int64_t{frame} - first + step / 2) / step, 0, cells - 1);
    int64_t nearest = first + index * step;
    while (nearest >= gProject.totalFrames && nearest - step >= first) nearest -= step;
    return static_cast<int32_t>(std::clamp<int64_t>(nearest, 0, gProject.totalFrames - 1));
}

void StoryboardCanvas::keyPressEvent(QKeyEvent* event) {
    const int32_t total = gProject.totalFrames;
    const Qt::KeyboardModifiers m = event->modifiers();
    const bool shift = m & Qt::ShiftModifier, ctrl = m & Qt::ControlModifier;
    const int key = event->key();
    const bool popup =
        key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Menu || (key == Qt::Key_F10 && shift);
    if (popup) {
        event->accept();
        if (drag_ != Drag::None || window_->busy()) return;
        const QRect cell = CellRect(focus_);
        const QPoint at = mapToGlobal(cell.isEmpty() ? rect().center() : cell.center());
        if (gProject.selStart >= 0 && total > 0)
            window_->RangePopup(at);
        else
            window_->BackgroundPopup(at);
        return;
    }
    const CellSize cellSize = NormalisedCellSize(gSettings.cellW, gSettings.cellH);
    const RECT& story = gView.storyRect;
    const GridLayout grid = ComputeGridLayout(story.right - story.left, story.bottom - story.top,
                                              cellSize.width, cellSize.height);
    const int64_t step = std::max(gView.step, 1), row = int64_t{std::max(grid.columns, 1)} * step;
    const int64_t page = row * std::max(grid.rows, 1);
    const int64_t from = focus_ >= 0 && focus_ < total ? focus_ : std::max(gProject.selStart, 0);
    int64_t to = -1;
    switch (key) {
        case Qt::Key_Left:
            to = from - step;
            break;
        case Qt::Key_Right:
            to = from + step;
            break;
        case Qt::Key_Up:
            to = from - row;
            break;
        case Qt::Key_Down:
            to = from + row;
            break;
        case Qt::Key_PageUp:
            to = from - page;
            break;
        case Qt::Key_PageDown:
            to = from + page;
            break;
        case Qt::Key_Home:
            to = 0;
            break;
        case Qt::Key_End:
            to = total - 1;
            break;
        case Qt::Key_Space:
            to = from;
            break;
        default:
            return QWidget::keyPressEvent(event);
    }
    event->accept();
    if (total <= 0 || drag_ != Drag::None || window_->busy()) return;
    CloseSplash();
    CloseTooltip();
    if (!keyboardFocus_) update(FocusOutlineRegion());
    keyboardFocus_ = true;
    // Before any key the focus is on the selection's start, or the first cell shown.
    if (focus_ < 0 || focus_ >= total) {
        const std::vector<int32_t> shown = ShownFrames();
        to = gProject.selStart >= 0 ? gProject.selStart : shown.empty() ? 0 : shown.front();
    }
    const int32_t frame = ScrollTo(static_cast<int32_t>(std::clamp<int64_t>(to, 0, total - 1)));
    if (shift) {
        if (keyAnchor_ < 0 || keyAnchor_ >= total)
            keyAnchor_ = gProject.selStart >= 0          ? gProject.selStart
                         : focus_ >= 0 && focus_ < total ? focus_
                                                         : frame;
    } else if (!ctrl || key == Qt::Key_Space) {
        keyAnchor_ = frame;
    }
    if (!ctrl || key == Qt::Key_Space) DrawSelection(keyAnchor_, frame, false);
    SetFocusFrame(frame);
    AnnounceFocus();
    window_->UpdateToolbar();
}
