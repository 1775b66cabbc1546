// The play window, the colour-key picker and the entry points that run a play.
#include "playback/playwindow.h"

#include <QCloseEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cstring>

#include "core/diag.h"
#include "core/format.h"
#include "core/memory.h"
#include "media/riff.h"
#include "platform/mp4/mp4.h"
#include "platform/qtui/qtui.h"
#include "playback/loops.h"
#include "playback/panel.h"
#include "playback/pick.h"
#include "playback/playwindows.h"
#include "project/playmap.h"
#include "ui/controls.h"
#include "ui/tooltips.h"
#include "ui/windows.h"

namespace {

bool gBusy = false;
// A frame side beyond this is shown in a window of this size.
constexpr int32_t kMaxPictureSide = 4096;
constexpr int32_t kMargin = 8;

}  // namespace

PictureWidget::PictureWidget(QWidget* parent) : QWidget(parent) {
    SetControlId(this, kPictureControlId);
    setAttribute(Qt::WA_OpaquePaintEvent);
    picture_.changed = [this] { update(); };
}

void PictureWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    const BITMAPINFOHEADER& f = picture_.format;
    if (picture_.bits.empty() || f.biWidth <= 0 || f.biHeight <= 0) return;
    const qsizetype stride = DibRowBytes(f.biWidth, 24);
    if (static_cast<size_t>(stride) * f.biHeight > picture_.bits.size()) return;
    // Bottom-up BGR rows: mirrored the right way up as they are painted.
    const QImage frame(picture_.bits.data(), f.biWidth, f.biHeight, stride, QImage::Format_BGR888);
    const RECT& d = picture_.destination;
    p.drawImage(QRect(d.left, d.top, d.right - d.left, d.bottom - d.top), frame.mirrored(false, true));
}

PlayWindow::PlayWindow(QWidget* parent, int32_t width, int32_t height) : QDialog(parent) {
    setObjectName("playWindow");
    setWindowTitle(QString::fromUtf8(FormatMessageText("Play: %s", gPlayer.fileName).c_str()));
    setAttribute(Qt::WA_DeleteOnClose, false);
    picture_ = new PictureWidget(this);
    const int32_t w = std::clamp(width, 1, kMaxPictureSide), h = std::clamp(height, 1, kMaxPictureSide);
    picture_->setGeometry(kMargin, kMargin, w, h);
    setFixedSize(w + 2 * kMargin, h + 2 * kMargin);
    CenterOnDesktop(HWNDFromWidget(this));
}

RECT PlayWindow::pictureRect() const {
    const QRect g = picture_->geometry();
    return RECT{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
}

void PlayWindow::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    if (!dragging_) return;
    // The band is drawn over the picture as an inverted outline.
    QPainter p(this);
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    p.setPen(Qt::white);
    const QRect r = band();
    if (r.width() > 0 && r.height() > 0) p.drawRect(r.adjusted(0, 0, -1, -1));
}

void PlayWindow::mousePressEvent(QMouseEvent* event) {
    if (dragging_ && event->button() == Qt::RightButton) {  // right button cancels, silently
        dragging_ = false;
        releaseMouse();
        update();
        return;
    }
    if (event->button() != Qt::LeftButton || !gPlayer.picking || !gPlayer.savedFrame || !gPlayer.underlay)
        return;
    CloseTooltip();
    dragging_ = true;
    origin_ = current_ = event->position().toPoint();
    grabMouse();
}

void PlayWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return;
    current_ = QPoint(static_cast<int16_t>(event->position().toPoint().x()),
                      static_cast<int16_t>(event->position().toPoint().y()));
    update();
}

void PlayWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_ || event->button() != Qt::LeftButton) return;
    dragging_ = false;
    releaseMouse();
    update();
    const QRect r = QRect(origin_, current_).normalized();
    if (origin_.x() == current_.x() || origin_.y() == current_.y()) return;
    PickColourKey(RECT{r.left(), r.top(), r.right(), r.bottom()});
}

void PlayWindow::closeEvent(QCloseEvent* event) {
    event->ignore();  // the panel's power button ends a play
}

namespace {

struct PlayParams {
    const char* fileName = nullptr;
    bool project = false;
    int32_t start = 1;
    int32_t rangeStart = 0;
    int32_t rangeEnd = 0;
    bool rangeControls = false;
    bool inOut = false;
    bool picking = false;
    UnderlayRecord* underlay = nullptr;
    PlayMapView map;
};

// Sets up the player, opens the play window, runs the panel modally, and tears both down.
void RunPlay(HWND parent, const PlayParams& params) {
    if (gBusy) return;
    gBusy = true;
    const HWND owner = MessageOwner();
    ResetPlayer();
    ResetLoops();
    CopyCut(gPlayer.fileName, sizeof gPlayer.fileName, params.fileName ? params.fileName : "");
    gPlayer.useProjectList = params.project;
    gPlayer.projectMode = params.project;
    gPlayer.startPosition = params.start;
    gPlayer.rangeStart = params.rangeStart;
    gPlayer.rangeEnd = params.rangeEnd;
    gPlayer.rangeControls = params.rangeControls;
    gPlayer.inOutMarking = params.inOut;
    gPlayer.picking = params.picking;
    gPlayer.underlay = params.underlay;
    gPlayer.playMap = params.map.map;
    gPlayer.playMapWords = params.map.words;
    gPlayer.playPositions = params.map.positions;
    gPlayer.everyFrame = params.map.everyFrame;
    int32_t w = gProject.frameWidth, h = gProject.frameHeight;
    if (!params.project) {
        AVIinfoRecord info{};
        Mp4Info mp4;
        if (!ReadAVIInfo(gPlayer.fileName, info) && ReadMp4Info(gPlayer.fileName, &mp4)) {
            w = mp4.width;
            h = mp4.height;
        } else {
            w = info.width;
            h = info.height;
        }
    }
    QWidget* parentWidget = LiveWidget(parent);
    auto* window = new PlayWindow(parentWidget, w, h);
    window->show();
    {
        VcrPanel panel(parentWidget, window);
        // The panel runs modally, which blocks every window outside it: the play window hangs
        // below the panel while it runs, so that picking colour keys with the mouse reaches it.
        const QRect placed = window->geometry();
        window->setParent(&panel, window->windowFlags());
        window->setGeometry(placed);
        window->show();
        panel.exec();
        window->setParent(parentWidget, window->windowFlags());
    }
    delete window;  // CloseVCRpanel
    SetMessageOwner(owner);
    MyFree(gPlayer.savedFrame);
    gPlayer.savedFrame = nullptr;
    gPlayer.projectMode = gPlayer.rangeControls = gPlayer.picking = false;
    gPlayer.underlay = nullptr;
    gBusy = false;
}

// The play map given, or one built now (released by the holder).
struct MapHolder {
    PlayMapView view;
    uint32_t* owned = nullptr;
    explicit MapHolder(const PlayMapView& given) : view(given) {
        if (view.map) return;
        owned = BuildPlayMap(&view.positions);
        view.map = owned;
        view.words = owned ? gProject.totalFrames : 0;
    }
    ~MapHolder() { MyFree(owned); }
};

void PlayProjectRange(HWND parent, int32_t rangeStart, int32_t rangeEnd, int32_t startFrame,
                      UnderlayRecord* underlay, const PlayMapView& given) {
    if (!gProject.head) return;
    MapHolder map(given);
    if (!map.view.map) return;
    PlayParams p;
    p.fileName = gProject.head->name;
    p.project = true;
    p.start = startFrame + 1;
    p.rangeStart = rangeStart;
    p.rangeEnd = rangeEnd;
    p.rangeControls = true;
    p.picking = true;
    p.underlay = underlay;
    p.map = map.view;
    RunPlay(parent, p);
}

}  // namespace

bool PlayWindowBusy() {
    return gBusy;
}

void DoPlayWindow(HWND parent, const PlayMapView& given) {
    if (!gProject.head) return;
    MapHolder map(given);
    if (!map.view.map) return;
    PlayParams p;
    p.fileName = gProject.head->name;
    p.project = true;
    p.map = map.view;
    RunPlay(parent, p);
}

void DoPlayWindowX(HWND parent, const char* fileName) {
    PlayParams p;
    p.fileName = fileName;
    RunPlay(parent, p);
}

void DoPlayProjectRange(HWND parent, int32_t* rangeStart, int32_t* rangeEnd, int32_t startFrame) {
    if (!gProject.head || !rangeStart || !rangeEnd) return;
    PlayMapView view;
    uint32_t* map = BuildMarkingMap(&view.positions);
    if (!map) return;
    view.map = map;
    view.words = gProject.totalFrames;
    view.everyFrame = true;
    PlayParams p;
    p.fileName = gProject.head->name;
    p.project = true;
    p.start = startFrame + 1;
    p.rangeStart = *rangeStart;
    p.rangeEnd = *rangeEnd;
    p.rangeControls = true;
    p.inOut = true;
    p.map = view;
    RunPlay(parent, p);
    MyFree(map);
    *rangeStart = gPlayer.rangeStart;
    *rangeEnd = gPlayer.rangeEnd;
}

void DoPlayWindow3(HWND parent, const char*, int32_t rangeStart, int32_t rangeEnd, int32_t startFrame,
                   const PlayMapView& map) {
    PlayProjectRange(parent, rangeStart, rangeEnd, startFrame, nullptr, map);
}

void DoPlayWindow4(HWND parent, const char*, int32_t rangeStart, int32_t rangeEnd, int32_t startFrame,
                   UnderlayRecord* underlay, const PlayMapView& map) {
    PlayProjectRange(parent, rangeStart, rangeEnd, startFrame, underlay, map);
}
