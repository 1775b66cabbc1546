#include "playback/panel.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWheelEvent>
#include <cmath>

#include "core/diag.h"
#include "media/fileinfo.h"
#include "media/riff.h"
#include "platform/help/help.h"
#include "platform/qtui/qtui.h"
#include "platform/screensaver/screensaver.h"
#include "playback/host.h"
#include "playback/loops.h"
#include "playback/playwindow.h"
#include "playback/transport.h"
#include "settings/settings.h"
#include "ui/access.h"
#include "ui/artwork.h"
#include "ui/buttons.h"
#include "ui/controls.h"
#include "ui/tooltips.h"
#include "ui/windows.h"

namespace {

struct ControlPlace {
    int32_t id;
    int32_t x, y, w, h;
    bool range;
};

constexpr ControlPlace kPlaces[] = {
    {kCmdFirstFrame, 16, 51, 39, 12, false},      {kCmdPlayForward, 55, 51, 41, 12, false},
    {kCmdLastFrame, 96, 51, 39, 12, false},       {kCmdPlayReverse, 16, 70, 39, 12, false},
    {kCmdPause, 55, 70, 41, 12, false},           {kCmdPingPong, 96, 70, 39, 12, false},
    {kCmdPanelFileInfo, 106, 116, 29, 12, false}, {kCmdRangeStart, 16, 89, 25, 12, true},
    {kCmdRangeFirst, 41, 89, 25, 12, true},       {kCmdPlayRange, 66, 89, 19, 12, true},
    {kCmdRangeLast, 85, 89, 25, 12, true},        {kCmdRangeEnd, 110, 89, 25, 12, true},
    {kCmdPowerOff, 263, 9, 16, 6, false},         {kCmdHelpPanel, 262, 144, 16, 6, false},
};

const TooltipEntry kPanelTips[] = {
    {kCmdFirstFrame, "Go To First Frame Of File\n(Home)"},
    {kCmdPlayForward, "Play File Forward (with Audio)\n(Space or L; L again plays faster)"},
    {kCmdLastFrame, "Go To Last Frame Of File\n(End)"},
    {kCmdPlayReverse, "Play File In Reverse\n(J; J again plays faster)"},
    {kCmdPause, "Pause Playback\n(Space or K)"},
    {kCmdPingPong, "Alternatively Play File Forwards/Backwards"},
    {kCmdPanelFileInfo, "Display Information On File"},
    {kCmdRangeStart, "Set The Range Start Point To Current Frame\n(I)"},
    {kCmdRangeFirst, "Go To The First Frame Of The Range"},
    {kCmdPlayRange, "Play The Frame Range Without Audio"},
    {kCmdRangeLast, "Go To The Last Frame Of The Range"},
    {kCmdRangeEnd, "Set The Range End Point To Current Frame\n(O)"},
    {kCmdHelpPanel, "HELP For This Control Panel"},
    {0, nullptr},
};

// The LCD's texts: the state word and time code above the progress bar, the information line below
// it, which reaches past the bar's well to y 38 (28 + its 10-pixel cell).
constexpr QRect kDisplayRect(5, 7, 139, 31);
constexpr int kJogMarkerRadius = 7;
constexpr int kShuttleMarkerRadius = 3;

QColor Rgb(uint32_t bgr) {
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

int32_t VirtualKey(const QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Escape:
            return VK_ESCAPE;
        case Qt::Key_Space:
            return VK_SPACE;
        case Qt::Key_Left:
            return VK_LEFT;
        case Qt::Key_Right:
            return VK_RIGHT;
        case Qt::Key_Home:
            return VK_HOME;
        case Qt::Key_End:
            return VK_END;
        default:
            if (e->key() >= Qt::Key_A && e->key() <= Qt::Key_Z) return 'A' + (e->key() - Qt::Key_A);
            return 0;
    }
}

bool ShiftDown() {
    return QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier;
}

}  // namespace

VcrPanel::VcrPanel(QWidget* parent, PlayWindow* playWindow) : QDialog(parent), playWindow_(playWindow) {
    setObjectName("vcrPanel");
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setWindowTitle("VCR");
    setFixedSize(kPanelWidth, kPanelHeight);
    setFocusPolicy(Qt::StrongFocus);
    const HWND self = HWNDFromWidget(this);
    for (const ControlPlace& c : kPlaces) {
        auto* b = new OwnerDrawButton(c.id, this);
        b->setGeometry(c.x, c.y, c.w, c.h);
        b->setFocusPolicy(Qt::TabFocus);
        for (const ArtworkButton& a : kVcrPanelButtons)
            if (a.controlId == c.id)
                buttons_ =
                    AddBitmapButton(buttons_, nullptr, c.id, kVcrBitmapName, a.face.x, a.face.y, c.w, c.h);
        b->setDrawFunction(BitmapButtonDrawer(self, &buttons_));
        b->setVisible(!c.range || gPlayer.rangeControls);
        const int32_t id = c.id;
        connect(b, &QAbstractButton::clicked, this, [this, id] {
            const Qt::KeyboardModifiers m = QGuiApplication::queryKeyboardModifiers();
            Command(id, m & Qt::ShiftModifier, m & Qt::ControlModifier);
        });
        controls_[id] = b;
    }
    // The buttons loaded the artwork into the shared list, which owns it for the program's life.
    art_ = FindLoadedBitmap(kVcrBitmapName);
    InstallTooltipTable(this, kPanelTips);
    if (OwnerDrawButton* power = button(kCmdPowerOff)) {
        power->setAccessibleName("Power Off");
        power->setAccessibleDescription("Close This Control Panel");
    }
    MakeControlAreas();
    HoldOffScreenSaverWhileActive(this, ScreenSaverHoldWanted);
    timer_ = startTimer(kVcrPanelTimerMs);
    if (playWindow_) {
        const QRect g = playWindow_->frameGeometry();
        move(g.center().x() - kPanelWidth / 2, g.bottom() + 1);
        PlaceBelow(self, HWNDFromWidget(playWindow_));
    }
    SetMessageOwner(self);

    PlaybackHost host;
    host.setState = [this](int32_t s) { SetState(s); };
    host.postCommand = [this](int32_t id) { QTimer::singleShot(0, this, [this, id] { Command(id); }); };
    host.keyDown = [this](int32_t key) { Key(key, ShiftDown()); };
    SetPlaybackHost(host);
    qApp->installEventFilter(this);

    SetState(kStateStop);
    PlayPicture* picture = playWindow_ ? &playWindow_->pictureControl()->picture() : nullptr;
    opened_ = OpenPlayer(picture, playWindow_ ? playWindow_->pictureRect() : RECT{});
    SetState(kStateStop);
}

VcrPanel::~VcrPanel() {
    qApp->removeEventFilter(this);
    SetPlaybackHost(PlaybackHost{});
    ClearLoopKeys();
    ClosePlayer();
    FreeButtonList(buttons_);
    buttons_ = nullptr;
}

void VcrPanel::MakeControlAreas() {
    auto* display = new ControlArea(this, kDisplayRect, QAccessible::StaticText, "Display");
    display->setText([this] { return displayText(); });
    auto* slider = new ControlArea(
        this, QRect(QPoint(kSliderLeft - 1, kSliderTop - 1), QPoint(kSliderRight + 1, kSliderBottom + 1)),
        QAccessible::Slider, "Frame Position");
    slider->setRange({[] { return std::max(gPlayer.position, 1); }, [] { return 1; },
                      [] { return std::max(gPlayer.N, 1); },
                      [this](int32_t p) {
                          if (!gLoop.playing) Show(p);
                      }});
    auto* jog = new ControlArea(
        this, QRect(kDialX - kJogRadius, kDialY - kJogRadius, 2 * kJogRadius + 1, 2 * kJogRadius + 1),
        QAccessible::Dial, "Jog Dial");
    jog->setAccessibleDescription("Left or Right: one frame; with Shift: ten");
    jog->setRange({[] { return gSettings.angJogPlay; }, [] { return 0; }, [] { return 360; }, {}});
    auto* shuttle = new ControlArea(this,
                                    QRect(kDialX - kShuttleRadius, kDialY - kShuttleRadius,
                                          2 * kShuttleRadius + 1, 2 * kShuttleRadius + 1),
                                    QAccessible::Dial, "Shuttle Ring");
    shuttle->setAccessibleDescription("While playing, L and J: faster forwards and backwards");
    shuttle->setRange({[] { return gLoop.shuttleIndex; },
                       [] { return -kShuttleMaxIndex; },
                       [] { return kShuttleMaxIndex; },
                       {}});
    areas_ = {display, slider, jog, shuttle};
    // Tab goes through the buttons row by row, then the display and the dials, then power and help.
    QWidget* previous = nullptr;
    auto chain = [&](QWidget* w) {
        if (previous && w) setTabOrder(previous, w);
        if (w) previous = w;
    };
    for (int32_t id :
         {kCmdFirstFrame, kCmdPlayForward, kCmdLastFrame, kCmdPlayReverse, kCmdPause, kCmdPingPong,
          kCmdRangeStart, kCmdRangeFirst, kCmdPlayRange, kCmdRangeLast, kCmdRangeEnd, kCmdPanelFileInfo})
        chain(button(id));
    for (ControlArea* a : areas_) chain(a);
    chain(button(kCmdPowerOff));
    chain(button(kCmdHelpPanel));
    // The panel's keys work at once: the display passes them on.
    display->setFocus();
}

OwnerDrawButton* VcrPanel::button(int32_t id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void VcrPanel::SetState(int32_t state) {
    state_ = state;
    const bool stop = state == kStateStop;
    for (int32_t id : {kCmdFirstFrame, kCmdPlayForward, kCmdLastFrame, kCmdPingPong, kCmdPlayReverse,
                       kCmdPanelFileInfo, kCmdRangeFirst, kCmdRangeLast, kCmdPlayRange})
        if (OwnerDrawButton* b = button(id)) b->setEnabled(stop && opened_);
    if (OwnerDrawButton* b = button(kCmdPanelFileInfo)) b->setEnabled(stop && opened_);
    if (OwnerDrawButton* b = button(kCmdPause)) b->setEnabled(!stop);
    for (int32_t id : {kCmdRangeStart, kCmdRangeEnd})
        if (OwnerDrawButton* b = button(id)) b->setEnabled(stop && opened_ && gPlayer.inOutMarking);
    if (OwnerDrawButton* b = button(kCmdHelpPanel)) b->setEnabled(stop && gSettings.HelpFile[0]);
    update(kDisplayRect);
}

void VcrPanel::Show(int32_t position) {
    if (!opened_) return;
    ShowPosition(position);
    UpdateDisplay();
}

void VcrPanel::UpdateDisplay() {
    update(kDisplayRect);
    for (ControlArea* a : areas_) a->Refresh();
}

void VcrPanel::Close() {
    if (gLoop.playing) {
        gLoop.stopRequest = true;  // the loop ends and sends the close again
        return;
    }
    ClosePlayer();
    done(0);
}

void VcrPanel::Command(int32_t id, bool shift, bool ctrl) {
    if (id == kCmdPowerOff) return Close();
    if (!opened_) return;
    if (id == kCmdPanelFileInfo)
        ShowFileInfo(HWNDFromWidget(this), gPlayer.fileName, &gPlayer.display.header, nullptr);
    else if (id == kCmdHelpPanel && !gLoop.playing)
        WinHelpA(HWNDFromWidget(this), gSettings.HelpFile, HELP_CONTEXT, 2);
    else
        TransportCommand(id, shift, ctrl);
    UpdateDisplay();
}

void VcrPanel::Key(int32_t key, bool shift) {
    if (key == VK_ESCAPE && !gLoop.playing) return Close();
    if (opened_) TransportKey(key, shift);
    UpdateDisplay();
}

bool VcrPanel::eventFilter(QObject* watched, QEvent* event) {
    // While a loop plays, key presses go to the loop (as PumpMessagesForKey takes them).
    if (gLoop.playing && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        if (event->type() == QEvent::KeyPress) {
            auto* k = static_cast<QKeyEvent*>(event);
            if (!k->isAutoRepeat() || k->key() != Qt::Key_Escape) PostLoopKey(VirtualKey(k));
        }
        event->accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void VcrPanel::keyPressEvent(QKeyEvent* event) {
    const int32_t key = VirtualKey(event);
    if (!key) return QDialog::keyPressEvent(event);
    Key(key, event->modifiers() & Qt::ShiftModifier);
}

void VcrPanel::reject() {
    Key(VK_ESCAPE, false);
}

QString VcrPanel::stateWord() const {
    return QString::fromStdString(StateWord(state_, gLoop.shuttleIndex, gLoop.shuttleHeld));
}

QString VcrPanel::displayText() const {
    const PlayedFormat& f = gPlayer.played;
    QString text = stateWord() + " " +
                   QString::fromStdString(TimeCodeText(std::max(gPlayer.position, 1) - 1, f.rate, f.scale));
    if (state_ != kStatePlay)
        text +=
            " " + QString::fromStdString(InfoLine(f.compression, f.width, f.height, f.bits, f.rate, f.scale));
    return text;
}

void VcrPanel::PaintDisplay(QPainter& p) {
    const HDC dc = HDCFromPainter(&p);
    p.setPen(QColor(0, 255, 0));
    p.setBackgroundMode(Qt::TransparentMode);
    MyShowText(dc, 10, 9, stateWord().toUtf8().constData(), "Arial", 14, 44);
    const int32_t pos = std::max(gPlayer.position, 1);
    // The time code is never cut: where the 16-pixel face would not fit the box, a smaller one is used.
    const PlayedFormat& f = gPlayer.played;
    const std::string timeCode = TimeCodeText(pos - 1, f.rate, f.scale);
    int32_t timeCodeHeight = 16;
    while (timeCodeHeight > 10 && QFontMetrics(CellHeightFont("Arial", timeCodeHeight))
                                          .horizontalAdvance(QString::fromStdString(timeCode)) > 86)
        --timeCodeHeight;
    p.fillRect(QRect(57, 7, 86, 16), Qt::black);
    MyShowText(dc, 57, 7 + (16 - timeCodeHeight) / 2, timeCode.c_str(), "Arial", timeCodeHeight, 86);
    std::string info;
    if (state_ != kStatePlay)
        info = InfoLine(f.compression, f.width, f.height, f.bits, f.rate, f.scale);
    else if (!gLoop.shuttleHeld)
        info = CountersLine(gLoop.framesShown, std::max(gSkippedFrames, 0));
    MyShowText(dc, 10, 28, info.c_str(), "Small Fonts", 10, 133);
    const int32_t n = gPlayer.N;
    const int32_t x = ProgressX(pos, n);
    const bool dragged = drag_ == Drag::Slider;
    p.fillRect(QRect(QPoint(8, 20), QPoint(141, 25)), Rgb(dragged ? 0x0080FF : 0x008000));
    p.fillRect(QRect(QPoint(8, 20), QPoint(x, 25)), Rgb(dragged ? 0x00FFFF : 0x00FF00));
    if (gPlayer.rangeControls && n > 1) {
        const int32_t s = RangeMarkX(gPlayer.rangeStart, n), e = RangeMarkX(gPlayer.rangeEnd, n);
        p.fillRect(QRect(QPoint(7, 25), QPoint(141, 27)), Qt::black);
        p.fillRect(QRect(QPoint(std::min(s, e), 22), QPoint(std::max(s, e), 23)), Rgb(0x0000FF));
        for (int32_t m : {s, e})
            for (int row = 0; row < 3; row++)
                p.fillRect(QRect(m - row, 25 + row, 2 * row + 1, 1), Rgb(0x00FF00));
    }
}

void VcrPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const HDC dc = HDCFromPainter(&p);
    const int32_t h = art_ ? art_->height : kVcrBitmapHeight;
    StretchBitmapRecord(dc, 0, 0, kPanelWidth, kPanelHeight, art_, 0, 100, kPanelWidth, kPanelHeight);
    for (int y : {47, 66, 85}) {
        if (y == 85 && !gPlayer.rangeControls) continue;
        StretchBitmapRecord(dc, 12, y, 126, 19, art_, 280, StretchSourceY(h, kVcrRowWell.y, 19), 126, 19);
    }
    StretchBitmapRecord(dc, 102, 112, 36, 19, art_, 280, StretchSourceY(h, kVcrInfoWell.y, 19), 36, 19);
    // The markers: a dimple on the jog dial, a notch on the shuttle ring.
    p.setRenderHint(QPainter::Antialiasing);
    const POINT j = JogMarkerCentre(gSettings.angJogPlay);
    p.setPen(QColor(0x60, 0x60, 0x60));
    p.setBrush(QColor(0x90, 0x90, 0x90));
    p.drawEllipse(QPoint(j.x, j.y), kJogMarkerRadius, kJogMarkerRadius);
    const POINT s = ShuttleMarkerCentre(shuttleAngle_);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xE0, 0xE0, 0xE0));
    p.drawEllipse(QPoint(s.x, s.y), kShuttleMarkerRadius, kShuttleMarkerRadius);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::black);
    p.setFont(CellHeightFont("Small Fonts", 8));
    const QFontMetrics fm(p.font());
    p.drawText(QPoint(4, 145 + fm.ascent()), "QUILLORY - AVI PLAYBACK");
    p.drawText(QPoint(261, 136 + fm.ascent()), "HELP");
    PaintDisplay(p);
}

void VcrPanel::MoveMarker(int32_t& angle, int32_t degrees, bool jog) {
    if (angle == degrees) return;
    const POINT before = jog ? JogMarkerCentre(angle) : ShuttleMarkerCentre(angle);
    angle = degrees;
    const POINT after = jog ? JogMarkerCentre(angle) : ShuttleMarkerCentre(angle);
    const int r = (jog ? kJogMarkerRadius : kShuttleMarkerRadius) + 2;
    update(QRect(before.x - r, before.y - r, 2 * r + 1, 2 * r + 1));
    update(QRect(after.x - r, after.y - r, 2 * r + 1, 2 * r + 1));
}

void VcrPanel::SetShuttle(int32_t index, int32_t degrees) {
    gLoop.shuttleIndex = index;
    MoveMarker(shuttleAngle_, degrees, false);
    UpdateDisplay();
}

void VcrPanel::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || drag_ != Drag::None) return;
    const int32_t x = event->position().toPoint().x(), y = event->position().toPoint().y();
    if (x >= kSliderLeft && x <= kSliderRight && y >= kSliderTop && y <= kSliderBottom) {
        drag_ = Drag::Slider;
        gLoop.sliderDrag = true;
        Show(SliderPosition(x, gPlayer.N));
        return;
    }
    const DialPart part = DialHit(x, y);
    if (part == DialPart::Jog) {
        drag_ = Drag::Jog;
        gLoop.jogDrag = true;
        MoveMarker(gSettings.angJogPlay, jog_.Begin(x, y), true);
        return;
    }
    if (part == DialPart::Shuttle) {
        if (state_ != kStatePlay) return;
        drag_ = Drag::Shuttle;
        gLoop.shuttleHeld = true;
        int32_t degrees = 0;
        const int32_t index = ShuttleIndexAt(x, y, &degrees);
        SetShuttle(index, degrees);
        return;
    }
    drag_ = Drag::Move;
    moveOffset_ = pos() - event->globalPosition().toPoint();
}

void VcrPanel::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    switch (drag_) {
        case Drag::Move:
            move(event->globalPosition().toPoint() + moveOffset_);
            break;
        case Drag::Slider:
            Show(SliderPosition(static_cast<int16_t>(at.x()), gPlayer.N));
            break;
        case Drag::Shuttle: {
            int32_t degrees = 0;
            const int32_t index = ShuttleIndexAt(at.x(), at.y(), &degrees);
            SetShuttle(index, degrees);
            break;
        }
        case Drag::Jog: {
            int32_t degrees = gSettings.angJogPlay;
            const Qt::KeyboardModifiers m = event->modifiers();
            const int32_t move =
                jog_.Move(at.x(), at.y(), m & Qt::ShiftModifier, m & Qt::ControlModifier, &degrees);
            MoveMarker(gSettings.angJogPlay, degrees, true);
            if (move) Show(gPlayer.position + move);
            break;
        }
        default:
            break;
    }
}

void VcrPanel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (drag_ == Drag::Shuttle) {
        gLoop.shuttleHeld = false;
        SetShuttle(0, 0);
    }
    gLoop.sliderDrag = gLoop.jogDrag = false;
    drag_ = Drag::None;
    UpdateDisplay();
}

void VcrPanel::wheelEvent(QWheelEvent* event) {
    const int dy = event->angleDelta().y();
    if (dy > 0 && gPlayer.position < gPlayer.N) Show(gPlayer.position + 1);
    if (dy < 0 && gPlayer.position > 1) Show(gPlayer.position - 1);
    event->accept();
}

void VcrPanel::timerEvent(QTimerEvent*) {
    UpdateDisplay();
}
