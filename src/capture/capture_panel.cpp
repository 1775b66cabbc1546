// The "Video Capture Window" and the capture panel, and the launcher that runs them.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <map>
#include <vector>

#include "capture/capfile.h"
#include "capture/capsettings.h"
#include "capture/capture_gui.h"
#include "capture/capture_ui.h"
#include "capture/panel.h"
#include "capture/session.h"
#include "core/diag.h"
#include "core/pump.h"
#include "media/fileinfo.h"
#include "platform/capwin/camera.h"
#include "platform/capwin/capview.h"
#include "platform/help/help.h"
#include "platform/notify/notify.h"
#include "platform/qtui/qtui.h"
#include "platform/screensaver/screensaver.h"
#include "settings/settings.h"
#include "ui/access.h"
#include "ui/artwork.h"
#include "ui/buttons.h"
#include "ui/controls.h"
#include "ui/tooltips.h"
#include "ui/windows.h"

namespace {

constexpr int32_t kFrameMargin = 10;
constexpr int32_t kPreviewRateMs = 66;
constexpr int32_t kHelpContext = 21;
// How often the panel looks for lines and levels that the capture thread left.
constexpr int32_t kDisplayPollMs = 40;
constexpr int32_t kCommandDriverBase = 8000;
// The template's buttons that are never shown.
constexpr int32_t kHiddenButtons[] = {1459, 1530, 1861, 1596};

const TooltipEntry kPanelTips[] = {
    {kPanelStart, "Start Video Capture"},
    {kPanelInfo, "Show Information On Current Contents Of Capture File"},
    {kPanelCapFile, "Change Capture File Name And/Or Size"},
    {kPanelPalette,
     "Capture A Color Palette For 256-Color Captures (off: this driver's format has no palette)"},
    {kPanelDetails, "Change Settings For Streaming Capture"},
    {kPanelPower, "Close This Control Panel"},
    {2, "CLOSE THIS CONTROL PANEL"},
    {kPanelHelp, "HELP For This Control Panel"},
    {0, nullptr}};

// Where each button sits on the panel.
struct ButtonPlace {
    int32_t id, x, y, width, height;
};
constexpr ButtonPlace kButtonPlaces[] = {{kPanelStart, 15, 105, 40, 12},    {kPanelDetails, 55, 105, 40, 12},
                                         {kPanelPalette, 95, 105, 40, 12},  {kPanelInfo, 290, 105, 40, 12},
                                         {kPanelCapFile, 330, 105, 40, 12}, {kPanelHelp, 370, 105, 15, 12},
                                         {kPanelPower, 370, 14, 16, 6}};

QPointer<QWidget> gVideoWindow;
QPointer<QWidget> gPanelWindow;
PanelDisplay* gPanelDisplay = nullptr;

void Fill(QPainter& p, uint32_t colour, int32_t x, int32_t y, int32_t w, int32_t h) {
    p.fillRect(x, y, w, h, ColorRefColour(colour));
}

void Bevel(QPainter& p, uint32_t c1, uint32_t c2, int32_t left, int32_t top, int32_t right, int32_t bottom,
           int32_t k) {
    p.setPen(ColorRefColour(c1));
    p.drawLine(left + k, top + k, right - k, top + k);
    p.setPen(ColorRefColour(c2));
    p.drawLine(right - k, top + k, right - k, bottom - k);
    p.drawLine(right - k, bottom - k, left + k, bottom - k);
    p.setPen(ColorRefColour(c1));
    p.drawLine(left + k, bottom - k, left + k, top + k);
}

// The three sunken bevels of the display and of the button well.
void Sunken(QPainter& p, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    Bevel(p, 0x808080, 0xFFFFFF, left, top, right, bottom, 0);
    Bevel(p, 0xA0A0A0, 0xE7E7E7, left, top, right, bottom, 1);
    Bevel(p, 0xB0B0B0, 0xD0D0D0, left, top, right, bottom, 2);
}

class VideoCaptureWindow : public QDialog {
  public:
    explicit VideoCaptureWindow(QWidget* owner) : QDialog(owner) {
        setWindowTitle("Video Capture Window");
        frame_ = new QWidget(this);
        SetControlId(frame_, kPictureFrameId);
        FitFrame(kCapturePictureWidth, kCapturePictureHeight);
        CenterOnDesktop(HWNDFromWidget(this));
    }
    QWidget* frame() const { return frame_; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), ColorRefColour(0xC0C0C0));
        BITMAPINFOHEADER f{};
        if (!ghWndCap || !ReadVideoFormat(f)) return;
        // A picture larger than the frame gets a larger frame, so none of it is cut off.
        if (f.biWidth > frame_->width() || f.biHeight > frame_->height()) {
            FitFrame(std::max(f.biWidth, frame_->width()), std::max(f.biHeight, frame_->height()));
            return;
        }
        PanelRect place = gPictureRect;
        if (gSettings.overlaymode) {
            place = {(width() - f.biWidth) / 2 + gPictureRect.x, (height() - f.biHeight) / 2 + gPictureRect.y,
                     f.biWidth, f.biHeight};
            SendCap(WM_CAP_SET_PREVIEWRATE, kPreviewRateMs);
            SendCap(WM_CAP_SET_PREVIEW, 1);
            SendCap(WM_CAP_SET_OVERLAY, 0);
            p.fillRect(place.x + 1, place.y + 1, place.width + 4, place.height + 4, Qt::black);
            // The capture window lives in the picture frame.
            place.x -= frame_->x();
            place.y -= frame_->y();
        } else {
            SendCap(WM_CAP_SET_PREVIEW, 0);
            SendCap(WM_CAP_SET_OVERLAY, 1);
        }
        capMoveWindow(ghWndCap, place.x, place.y, place.width, place.height, true);
        gLastPlacement = place;
    }
    void moveEvent(QMoveEvent* event) override {
        QDialog::moveEvent(event);
        if (gLastPlacement.width != 0)
            capMoveWindow(ghWndCap, gLastPlacement.x, gLastPlacement.y, gLastPlacement.width,
                          gLastPlacement.height, true);
    }

  private:
    void FitFrame(int32_t width, int32_t height) {
        frame_->setGeometry(kFrameMargin, kFrameMargin, width, height);
        setFixedSize(width + 2 * kFrameMargin, height + 2 * kFrameMargin);
    }
    QWidget* frame_;
};

class CapturePanel : public QDialog {
  public:
    CapturePanel(QWidget* owner, VideoCaptureWindow* video, PanelDisplay* display)
        : QDialog(owner, Qt::FramelessWindowHint | Qt::Dialog), video_(video), display_(display) {
        setWindowTitle("Capture Control");
        setFixedSize(kCapturePanelWidth, kCapturePanelHeight);
        const HWND self = HWNDFromWidget(this);
        for (const ArtworkButton& art : kCapturePanelButtons) {
            auto* b = new OwnerDrawButton(art.controlId, this);
            for (const ButtonPlace& place : kButtonPlaces)
                if (place.id == art.controlId) b->setGeometry(place.x, place.y, place.width, place.height);
            b->setFocusPolicy(Qt::TabFocus);
            buttons_ = AddBitmapButton(buttons_, nullptr, art.controlId, kVcrBitmapName, art.face.x,
                                       art.face.y, art.face.width, art.face.height);
            b->setDrawFunction(BitmapButtonDrawer(self, &buttons_));
            const int32_t id = art.controlId;
            connect(b, &QAbstractButton::clicked, this, [this, id] { Command(id); });
            widgets_[id] = b;
        }
        for (int32_t id : kHiddenButtons) {
            auto* hidden = new QWidget(this);
            SetControlId(hidden, id);
            hidden->hide();
            hidden->setEnabled(false);
        }
        InstallTooltipTable(this, kPanelTips);
        MakeControlAreas();
        HoldOffScreenSaverWhileActive(this, ScreenSaverHoldWanted);
        connect(&poll_, &QTimer::timeout, this, [this] {
            if (!display_->TakeChanged()) return;
            update();
            for (ControlArea* a : areas_) a->Refresh();
        });
        poll_.start(kDisplayPollMs);
    }
    ~CapturePanel() override { FreeButtonList(buttons_); }

    // The set-up once the panel is placed: texts, the audio check and the buttons' states.
    void SetUp() {
        PlaceBelow(HWNDFromWidget(this), HWNDFromWidget(video_));
        PumpPendingMessages();
        PanelSetUp(HWNDFromWidget(this));
        if (!ghWndCap)
            for (int32_t id : {kPanelPalette, kPanelCapFile, kPanelInfo, kPanelStart, kPanelDetails})
                Enable(id, false);
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const int32_t w = width();
        const int32_t h = height();
        Fill(p, 0xC0C0C0, 0, 0, w - 1, h - 11);
        Fill(p, 0x808080, 0, h - 11, w - 1, 10);
        Bevel(p, 0xFFFFFF, 0x000000, 0, 0, w - 1, h - 1, 0);
        Bevel(p, 0xCDCDCD, 0x808080, 0, 0, w - 1, h - 1, 1);
        const uint32_t raised[5][2] = {{0xFFFFFF, 0x000000},
                                       {0xF3F3F3, 0x808080},
                                       {0xE7E7E7, 0x909090},
                                       {0xDCDCDC, 0xA0A0A0},
                                       {0xD0D0D0, 0xB0B0B0}};
        for (int32_t k = 0; k < 5; k++) Bevel(p, raised[k][0], raised[k][1], 0, 0, w - 1, h - 11, k);
        Fill(p, 0x000000, 10, 10, 350, 80);
        Sunken(p, 10, 10, 360, 90);
        Sunken(p, 10, 100, 389, 120);
        Fill(p, 0x000000, 60, 93, 250, 5);
        display_->PaintMeter(p);
        p.setBackgroundMode(Qt::TransparentMode);
        const HDC dc = HDCFromPainter(&p);
        p.setPen(Qt::white);
        MyShowText(dc, 366, 7, "POWER", "Small Fonts", 8, 0);
        p.setPen(ColorRefColour(0x444444));
        MyShowText(dc, 365, 6, "POWER", "Small Fonts", 8, 0);
        PaintPanelCaption(p, w, h);
        display_->PaintLines(p);
    }
    // The panel has no caption: it is dragged by its face.
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton) return;
        dragging_ = true;
        dragOffset_ = e->globalPosition().toPoint() - pos();
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (dragging_) move(e->globalPosition().toPoint() - dragOffset_);
    }
    void mouseReleaseEvent(QMouseEvent*) override { dragging_ = false; }
    // Escape closes the panel like Power; a running capture is stopped first so its file is complete.
    void reject() override {
        if (gCapturing) Stop();
        QDialog::reject();
    }

  private:
    // The display and the two sides of the level meter for keyboards and screen readers, and the
    // tab order: the buttons left to right, the display, the meter, then power.
    void MakeControlAreas() {
        auto* lines = new ControlArea(this, QRect(10, 10, 351, 81), QAccessible::StaticText, "Display");
        lines->setText([this] {
            QStringList text;
            for (const std::string& line : display_->ShownText()) text << QString::fromStdString(line);
            return text.join("; ");
        });
        areas_.push_back(lines);
        for (int32_t side : {0, 1}) {
            auto* meter =
                new ControlArea(this, QRect(side == 0 ? 60 : 188, 92, 122, 7), QAccessible::ProgressBar,
                                side == 0 ? "Left Sound Level" : "Right Sound Level");
            meter->setRange({[this, side] { return std::clamp(display_->Level(side), 0, 100); },
                             [] { return 0; },
                             [] { return 100; },
                             {}});
            areas_.push_back(meter);
        }
        QWidget* previous = nullptr;
        auto chain = [&](QWidget* w) {
            if (previous && w) setTabOrder(previous, w);
            if (w) previous = w;
        };
        for (int32_t id : {kPanelStart, kPanelDetails, kPanelPalette, kPanelInfo, kPanelCapFile, kPanelHelp})
            chain(widgets_.count(id) ? widgets_[id] : nullptr);
        for (ControlArea* a : areas_) chain(a);
        chain(widgets_.count(kPanelPower) ? widgets_[kPanelPower] : nullptr);
    }
    void NameStart(bool capturing) {
        if (widgets_.count(kPanelStart))
            widgets_[kPanelStart]->setAccessibleName(capturing ? "Stop Video Capture"
                                                               : "Start Video Capture");
    }
    void Enable(int32_t id, bool enable) {
        auto it = widgets_.find(id);
        if (it != widgets_.end()) it->second->setEnabled(enable);
    }
    void SetImage(int32_t x, int32_t y) {
        SetButtonImage(buttons_, kPanelStart, x, y);
        InvalidateControl(HWNDFromWidget(this), kPanelStart, 1);
    }
    void Start() {
        if (!CaptureFileNamed()) return;
        Enable(kPanelDetails, false);
        SetImage(kCaptureStopFace.x, kCaptureStopFace.y);
        NameStart(true);
        for (int32_t id : {kPanelCapFile, kPanelInfo, kPanelHelp, kPanelPower}) Enable(id, false);
        running_.start();
        PanelStartCapture(HWNDFromWidget(this), HWNDFromWidget(video_));
        update();
    }
    void Stop() {
        PanelStopCapture(HWNDFromWidget(this), HWNDFromWidget(video_));
        const QString file = QFileInfo(QString::fromUtf8(gLastCapturedFile)).fileName();
        NotifyWhenUnattended(this, running_.elapsed(), "Capture finished: " + file.toStdString());
        Enable(kPanelDetails, true);
        SetImage(kCapturePanelButtons[0].face.x, kCapturePanelButtons[0].face.y);
        NameStart(false);
        for (int32_t id : {kPanelStart, kPanelCapFile, kPanelInfo, kPanelHelp, kPanelPower}) Enable(id, true);
        // The file now holds the capture: its content line says so.
        RefreshPanelLines(HWNDFromWidget(this));
        update();
    }
    void Command(int32_t id) {
        const HWND self = HWNDFromWidget(this);
        switch (id) {
            case kPanelStart:
                if (gCapturing)
                    Stop();
                else
                    Start();
                break;
            case kPanelDetails:
                CaptureSettingsDialog(self);
                RefreshPanelLines(self);
                break;
            case kPanelCapFile:
                CaptureFileDialog(self, gSettings.CapFile);
                RefreshPanelLines(self);
                break;
            case kPanelInfo:
                if (ReadCapFileContent() == 0)
                    NotifyBox("Capture File Empty");
                else
                    ShowFileInfo(self, gSettings.CapFile, nullptr, nullptr);
                break;
            case kPanelPalette:
                SendCap(WM_CAP_PAL_AUTOCREATE, 5, 256);
                break;
            case kPanelHelp:
                WinHelpA(self, gSettings.HelpFile, HELP_CONTEXT, kHelpContext);
                break;
            case kPanelPower:
                reject();
                break;
            default:
                break;
        }
        update();
    }

    VideoCaptureWindow* video_;
    PanelDisplay* display_;
    ButtonRecord* buttons_ = nullptr;
    std::map<int32_t, OwnerDrawButton*> widgets_;
    std::vector<ControlArea*> areas_;
    QTimer poll_;
    QElapsedTimer running_;  // since Start
    bool dragging_ = false;
    QPoint dragOffset_;
};

bool gLaunched = false;

}  // namespace

QWidget* CapturePanelWindow() {
    return gPanelWindow.data();
}

PanelDisplay* OpenPanelDisplay() {
    return gPanelWindow ? gPanelDisplay : nullptr;
}

QWidget* VideoCaptureWindowWidget() {
    return gVideoWindow.data();
}

void InstallCameraDrivers() {
    SetCaptureDriverTable(StandardCaptureDriverTable(CameraDriverTable()));
}

void DoCapture5x(HWND storyboard) {
    if (gLaunched) return;
    gLaunched = true;
    QPointer<QWidget> previousVideo = gVideoWindow;
    const HWND previousOwner = MessageOwner();
    PanelDisplay display;
    std::shared_ptr<CaptureUi> previousUi;
    if (!SetCaptureUi(std::make_shared<WidgetCaptureUi>(&display), &previousUi)) {
        gLaunched = false;
        return;
    }
    InstallCaptureWindowWidgets();
    QWidget* owner = LiveWidget(storyboard);
    auto* video = new VideoCaptureWindow(owner);
    gVideoWindow = video;
    video->show();
    if (ghWndCap) {
        NotifyBox("Whoops! Capture already open!");
    } else if (!OpenCaptureStuff(HWNDFromWidget(video->frame()), 0, 0, kCapturePictureWidth,
                                 kCapturePictureHeight)) {
        NotifyBox("Capture couldn't open");
    } else {
        gPictureRect = {0, 0, kCapturePictureWidth, kCapturePictureHeight};
        video->update();
        CapturePanel panel(owner, video, &display);
        gPanelWindow = &panel;
        gPanelDisplay = &display;
        SetMessageOwner(HWNDFromWidget(&panel));
        panel.setWindowModality(Qt::ApplicationModal);
        panel.show();
        panel.SetUp();
        panel.exec();
        gPanelWindow = nullptr;
        gPanelDisplay = nullptr;
        CloseCaptureStuff();
    }
    delete video;
    gLastPlacement = {0, 0, 0, 0};
    gVideoWindow = previousVideo;
    SetMessageOwner(previousOwner);
    SetCaptureUi(previousUi);
    gLaunched = false;
}

int32_t EnumCaptureGuys(HWND mainWindow) {
    QWidget* w = LiveWidget(mainWindow);
    QMenuBar* bar = w ? w->findChild<QMenuBar*>() : nullptr;
    const QList<QAction*> menus = bar ? bar->actions() : QList<QAction*>();
    QMenu* drivers = menus.size() > 4 ? menus[4]->menu() : nullptr;
    if (!drivers) return 0;
    std::vector<std::pair<int32_t, std::string>> items;
    if (!EnumCaptureDrivers(mainWindow, items)) return 0;
    for (const auto& [index, text] : items) {
        QAction* a = drivers->addAction(QString::fromStdString(text));
        a->setData(kCommandDriverBase + index);
        a->setCheckable(true);
        a->setChecked(index == gwIndex);
    }
    return 1;
}
