// The storyboard window: construction, toolbar, menus, popups and the functions other code calls.
#include "studio/storyboard.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QStyleOptionMenuItem>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cstring>

#include "capture/capture_gui.h"
#include "capture/session.h"
#include "core/appstate.h"
#include "core/diag.h"
#include "platform/filemanager/filemanager.h"
#include "platform/notify/notify.h"
#include "platform/qtui/qtui.h"
#include "platform/screensaver/screensaver.h"
#include "playback/playwindows.h"
#include "project/projectfile.h"
#include "render/compressor.h"
#include "render/render.h"
#include "settings/settings.h"
#include "studio/conversion_window.h"
#include "studio/storyboard_canvas.h"
#include "studio/storyboard_ids.h"
#include "studio/thumbnails.h"
#include "ui/artwork.h"
#include "ui/buttons.h"
#include "ui/controls.h"
#include "ui/layout.h"
#include "ui/splash.h"
#include "ui/tooltips.h"
#include "ui/windows.h"

namespace {

QPointer<StoryboardWindow> gStoryboard;
PopupChooser gChooser;

// The program's caption, which the render also gives back when it ends.
constexpr const char* kMainCaption = "Quillory";
constexpr int32_t kDefaultWidth = 620;
constexpr int32_t kDefaultHeight = 460;
constexpr int32_t kMinimumWidth = 612;
constexpr int32_t kMinimumHeight = 240;

const TooltipEntry kToolbarTips[] = {
    {kCmdNewProject, "Clear the Project"},
    {kCmdOpenProject, "Open Project From Disk"},
    {kCmdSaveProject, "Save Project To Disk"},
    {kCmdOpenAVI, "Insert Existing AVI Into Project"},
    {kCmdRender, "Render To New AVI File"},
    {kCmdPlayAVI, "Play AVI File"},
    {kCmdCapture, "Capture Video to Project"},
    {kCmdPreview, "Preview Project with revisions"},
    {kCmdSend, "Send Clipgram"},
    {kCmdLargerSpan, "Show Larger Time Span"},
    {kCmdSmallerSpan, "Show Smaller Time Span"},
    {kCmdActivate, "Activate Selected Frame(s)"},
    {kCmdInactivate, "Inactivate Selected Frame(s)"},
    {kCmdAddTitle, "Add Title Overlay To Frame(s)"},
    {kCmdUndo, "Undo Last Action"},
    {kCmdPreferences, "Program Preferences and Options..."},
    {kCmdViewFrame, "View selected frame actual size with titles"},
    {kCmdFileInfo, "Show Information On Current AVI File Loaded"},
    {kCmdHelp, "Invoke Help System\nSHIFT-Click To See ABOUT Window"},
    {0, nullptr},
};

// The toolbar's order; a gap before a button opens a new group.
struct ToolbarSlot {
    int32_t id;
    int32_t gapBefore;
};
constexpr ToolbarSlot kToolbarOrder[] = {
    {kCmdNewProject, 0},  {kCmdOpenProject, 0}, {kCmdSaveProject, 0}, {kCmdOpenAVI, 10}, {kCmdRender, 0},
    {kCmdPlayAVI, 0},     {kCmdCapture, 10},    {kCmdPreview, 0},     {kCmdSend, 0},     {kCmdLargerSpan, 10},
    {kCmdSmallerSpan, 0}, {kCmdActivate, 10},   {kCmdInactivate, 0},  {kCmdAddTitle, 0}, {kCmdUndo, 0},
    {kCmdViewFrame, 30},  {kCmdFileInfo, 0},    {kCmdHelp, 30},
};

bool ShiftHeld() {
    return QGuiApplication::keyboardModifiers() & Qt::ShiftModifier;
}

// Menu texts show '&' as a mnemonic; a title's own '&' must stay visible.
QString PlainMenuText(const std::string& text) {
    return QString::fromUtf8(text.c_str()).replace("&", "&&");
}

constexpr const char* kMissingProperty = "quillory-missing";

// A menu whose items marked missing are drawn greyed yet can still be chosen.
class RecentMenu : public QMenu {
  public:
    using QMenu::QMenu;

  protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override {
        QMenu::initStyleOption(option, action);
        if (!action->property(kMissingProperty).toBool()) return;
        // The text in the greyed colour; the highlight still shows which item the keyboard is on.
        const QColor grey = option->palette.color(QPalette::Disabled, QPalette::Text);
        for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
            option->palette.setColor(role, grey);
    }
};

int32_t ShowPopup(QWidget* owner, const std::vector<PopupItem>& items, QPoint at) {
    if (gChooser) return gChooser(items, at);
    QMenu menu(owner);
    for (const PopupItem& item : items) {
        if (item.id == 0) {
            menu.addSeparator();
            continue;
        }
        bool titleItem = item.id >= kPopEditTitle && item.id < kPopEditTitle + kMaxTitleEditItems;
        QAction* a =
            menu.addAction(titleItem ? PlainMenuText(item.text) : QString::fromUtf8(item.text.c_str()));
        a->setData(item.id);
        a->setEnabled(!item.grayed);
        if (item.checked) {
            a->setCheckable(true);
            a->setChecked(true);
        }
    }
    QAction* chosen = menu.exec(at);
    return chosen ? chosen->data().toInt() : 0;
}

}  // namespace

StoryboardWindow::StoryboardWindow(QWidget* parent) : QDialog(parent) {
    gStoryboard = this;
    setObjectName("storyboard");
    SetControlId(this, kStoryboardDialogId);
    setWindowTitle(kMainCaption);
    setAcceptDrops(true);
    setSizeGripEnabled(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    menuBar_ = new QMenuBar(this);
    layout->setMenuBar(menuBar_);
    canvas_ = new StoryboardCanvas(this);
    layout->addWidget(canvas_, 1);
    BuildMenus();
    BuildToolbar();
    setMinimumSize(kMinimumWidth, kMinimumHeight + menuBar_->sizeHint().height());
    resize(kDefaultWidth, kDefaultHeight + menuBar_->sizeHint().height());
    InstallTooltipTable(this, kToolbarTips);
    HoldOffScreenSaverWhileActive(this, ScreenSaverHoldWanted);

    ProjectCallbacks callbacks;
    callbacks.repaint = [this] { canvas_->update(); };
    callbacks.releaseThumbnails = [] {
        FreeThumbnails();
        ForgetThumbnailPictures();
    };
    callbacks.enableUndo = [this](bool on) {
        if (OwnerDrawButton* b = button(kCmdUndo)) b->setEnabled(on);
        if (QAction* a = menuAction(kCmdUndo)) a->setEnabled(on);
    };
    callbacks.resetView = [] {
        gView.step = 1;
        gView.position = 0;
    };
    callbacks.closeTooltip = [] { CloseTooltip(); };
    callbacks.conformClip = [this](const char* name, bool mismatched, std::string* clip, std::string* why) {
        return ConformClip(name, mismatched, clip, why);
    };
    SetProjectCallbacks(callbacks);

    RenderCallbacks render;
    // The render's progress shows in the caption; its own main caption gives the project's back.
    render.setCaption = [this](const char* caption) {
        if (caption && std::strcmp(caption, kMainCaption) == 0)
            ShowCaption();
        else
            setWindowTitle(QString::fromUtf8(caption ? caption : ""));
    };
    render.progress = [this](int32_t frame, int32_t) { DrawRenderProgress(HWNDFromWidget(this), frame); };
    render.waitCursor = [](bool busy) {
        if (busy)
            SetWaitCursor();
        else
            RestoreCursor();
    };
    render.viewFile = [this](const char* name) { DoPlayWindowX(HWNDFromWidget(this), name); };
    render.showInFolder = [](const char* name) { ShowInFolder(name); };
    render.ended = [this](int64_t elapsedMs, const std::string& summary, const std::string& detail) {
        NotifyWhenUnattended(this, elapsedMs, summary, detail);
    };
    SetRenderCallbacks(render);
}

StoryboardWindow::~StoryboardWindow() {
    SetRenderCallbacks(RenderCallbacks{});
    SetProjectCallbacks(ProjectCallbacks{});
    CompressorEnd();  // the last render's compressor stays open until the window goes
    FreeThumbnails();
    CloseThumbnailDecoder();
    FreeButtonList(buttonList_);
    buttonList_ = nullptr;
    if (MessageOwner() == HWNDFromWidget(this)) SetMessageOwner(nullptr);
}

void StoryboardWindow::BuildToolbar() {
    const HWND self = HWNDFromWidget(this);
    for (int32_t id : kToolbarControlIds) {
        ArtworkRect face{};
        if (!ToolbarFace(id, face)) continue;
        auto* b = new OwnerDrawButton(id, canvas_);
        b->setGeometry(kToolbarLeft, kToolbarTop, face.width, face.height);
        b->setFocusPolicy(Qt::TabFocus);
        buttonList_ = AddBitmapButton(buttonList_, nullptr, id, kToolbarBitmapName, face.x, face.y,
                                      face.width, face.height);
        b->setDrawFunction(BitmapButtonDrawer(self, &buttonList_));
        connect(b, &QAbstractButton::clicked, this, [this, id] { Command(id, ShiftHeld()); });
        buttons_[id] = b;
    }
    if (OwnerDrawButton* set = button(kCmdPreferences)) set->hide();
    BeginLayout(0, 0);
    int32_t previous = 0;
    for (const ToolbarSlot& slot : kToolbarOrder) {
        ArtworkRect face{};
        ToolbarFace(slot.id, face);
        if (previous == 0)
            LayoutControl(self, slot.id, 0, 0, 0, face.width, face.height, kLayoutMinimum, kLayoutMinimum);
        else
            LayoutControl(self, slot.id, previous, slot.gapBefore, 0, face.width, face.height,
                          kLayoutRightOf | kLayoutMinimum, kLayoutAlignTop | kLayoutMinimum);
        previous = slot.id;
    }
    ApplyLayout(self, 0, 0);
    EndLayout();
    if (OwnerDrawButton* undo = button(kCmdUndo)) undo->setEnabled(false);
    // Tab goes along the toolbar from left to right, then into the cells.
    QWidget* before = nullptr;
    for (const ToolbarSlot& slot : kToolbarOrder) {
        if (OwnerDrawButton* b = button(slot.id)) {
            if (before) setTabOrder(before, b);
            before = b;
        }
    }
    if (before) setTabOrder(before, canvas_);
}

void StoryboardWindow::BuildMenus() {
    for (const MenuDefinition& definition : MenuBarDefinition()) {
        QMenu* menu = menuBar_->addMenu(QString::fromUtf8(definition.title));
        if (std::string(definition.title) == "&Drivers") {
            // Its items are the capture drivers, added at start-up with their command ids as data.
            driversMenu_ = menu;
            connect(menu, &QMenu::triggered, this, [this](QAction* a) {
                const int32_t id = a->data().toInt();
                if (id >= kCmdFirstDriver && id <= kCmdLastDriver) Command(id, false);
            });
        }
        connect(menu, &QMenu::aboutToShow, this, [this] { InitMenus(); });
        if (std::string(definition.title) == "&Project") {
            // Recent Projects goes between Save Project and Exit; its items are made as it opens.
            recentMenu_ = new RecentMenu(menu);
            recentMenu_->setTitle("&Recent Projects");
            connect(recentMenu_, &QMenu::aboutToShow, this, [this] { FillRecentMenu(); });
            connect(recentMenu_, &QMenu::triggered, this, [this](QAction* a) {
                const int32_t id = a->data().toInt();
                if (id >= kCmdFirstRecent && id <= kCmdLastRecent) Command(id, false);
            });
        }
        for (const MenuItemDefinition& item : definition.items) {
            if (item.id == 0) {
                menu->addSeparator();
                continue;
            }
            QAction* a = menu->addAction(QString::fromUtf8(item.text));
            a->setData(item.id);
            if (*item.shortcut) a->setShortcut(QKeySequence(QString::fromUtf8(item.shortcut)));
            addAction(a);  // shortcuts work whether or not a menu is open
            const int32_t id = item.id;
            connect(a, &QAction::triggered, this, [this, id] { Command(id, ShiftHeld()); });
            actions_[id] = a;
        }
        if (recentMenu_ && recentMenu_->parentWidget() == menu) {
            QAction* exit = actions_[kCmdExit];
            menu->insertMenu(exit, recentMenu_);
            menu->insertSeparator(exit);
        }
    }
}

void StoryboardWindow::FillRecentMenu() {
    recentMenu_->clear();
    const std::vector<std::string>& recent = RecentProjects();
    for (size_t i = 0; i < recent.size() && i <= static_cast<size_t>(kCmdLastRecent - kCmdFirstRecent); i++) {
        const QString path = QString::fromStdString(recent[i]);
        QAction* a =
            recentMenu_->addAction(QString("&%1 %2").arg(i + 1).arg(QString(path).replace("&", "&&")));
        a->setData(kCmdFirstRecent + static_cast<int32_t>(i));
        // A project that is gone is shown greyed; choosing it takes it off the list.
        a->setProperty(kMissingProperty, !QFileInfo(path).isFile());
    }
    recentMenu_->menuAction()->setEnabled(!recent.empty());
}

QAction* StoryboardWindow::menuAction(int32_t id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

OwnerDrawButton* StoryboardWindow::button(int32_t id) const {
    auto it = buttons_.find(id);
    return it == buttons_.end() ? nullptr : it->second;
}

void StoryboardWindow::InitDialog() {
    SetMessageOwner(HWNDFromWidget(this));
    CenterOnDesktop(HWNDFromWidget(this));
    QTimer::singleShot(kSplashTimerMs, this, [] { CloseSplash(); });
    gSettings.cellW = NormalisedCellSize(gSettings.cellW, gSettings.cellH).width;
    gSettings.cellH = NormalisedCellSize(gSettings.cellW, gSettings.cellH).height;
    // Files named on the command line take the remembered project's place: projects first, then
    // every other file as a clip. Nothing named there is saved over unless it was read as a project;
    // the remembered name stays for the next start.
    if (gCommandLine.empty()) {
        // Nothing remembered (a first start): nothing was asked for, so nothing is reported.
        projectNamed_ = gSettings.ProjectFileName[0] && ReadProject(HWNDFromWidget(this)) == 1;
    } else {
        projectNamed_ = false;
        ConversionBatch batch(*this);
        std::vector<std::string> clips;
        for (const std::string& arg : gCommandLine) {
            const std::string path = QFileInfo(QString::fromStdString(arg)).absoluteFilePath().toStdString();
            if (IsProjectFileName(path))
                OpenProjectFile(path);
            else
                clips.push_back(path);
        }
        for (const std::string& clip : clips) {
            if (ConversionCancelled()) break;
            InsertAVIFile(clip);
        }
    }
    FreeThumbnails();
    UpdateToolbar();
    ShowCaption();
    EnumCaptureGuys(HWNDFromWidget(this));
    canvas_->setFocus();  // no button starts out drawn with the focus
}

void StoryboardWindow::UpdateToolbar() {
    const CommandStates s = CurrentCommandStates();
    for (auto& [id, b] : buttons_) b->setEnabled(ToolbarButtonEnabled(id, s));
    if (OwnerDrawButton* set = button(kCmdPreferences)) set->hide();
    InitMenus();
}

void StoryboardWindow::ShowCaption() {
    const char* name = gSettings.ProjectFileName;
    if (projectNamed_ && *name)
        setWindowTitle(QFileInfo(QString::fromUtf8(name)).fileName() + " - " + kMainCaption);
    else
        setWindowTitle(kMainCaption);
}

void StoryboardWindow::InitMenus() {
    const CommandStates s = CurrentCommandStates();
    if (recentMenu_) recentMenu_->menuAction()->setEnabled(!RecentProjects().empty());
    if (driversMenu_) {
        const int32_t selected = kCmdFirstDriver + (gwIndex == kNoDriver ? kNoDriver : gwIndex);
        for (QAction* a : driversMenu_->actions()) a->setChecked(a->data().toInt() == selected);
    }
    for (auto& [id, a] : actions_) {
        a->setEnabled(MenuItemEnabled(id, s));
        const bool checkable = id == kCmdSmallImages || id == kCmdMediumImages || id == kCmdLargeImages ||
                               (id >= kCmdEveryFrame && id <= kCmdEvery60th) || id == kCmdTooltipsHelp ||
                               id == kCmdShowEdits;
        a->setCheckable(checkable);
        if (checkable) a->setChecked(MenuItemChecked(id, gSettings.cellW, gView.step, gSettings.useToolTips));
    }
}

void StoryboardWindow::BackgroundPopup(QPoint at) {
    CloseSplash();
    if (busy()) return;
    int32_t id = ShowPopup(this, BackgroundPopupItems(), at);
    if (id > 0) Command(id, false);
}

void StoryboardWindow::RangePopup(QPoint at) {
    if (busy()) return;
    int32_t id = ShowPopup(this, RangePopupItems(), at);
    if (id > 0) Command(id, false);
}

void StoryboardWindow::reject() {
    Command(kCmdExit, false);
}

void StoryboardWindow::closeEvent(QCloseEvent* event) {
    event->ignore();  // Exit ends the dialog itself, or keeps it open
    if (!isVisible()) return;
    Command(kCmdExit, false);
}

void StoryboardWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!busy() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void StoryboardWindow::dropEvent(QDropEvent* event) {
    std::vector<std::string> files;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) files.push_back(url.toLocalFile().toStdString());
    if (files.empty() || busy()) return;
    event->acceptProposedAction();
    DropFiles(files);
}

StoryboardWindow* Storyboard() {
    return gStoryboard.data();
}

HWND StoryboardHandle() {
    return HWNDFromWidget(gStoryboard.data());
}

int RunStoryboardDialog() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return 0;
    auto* window = new StoryboardWindow;
    window->InitDialog();
    window->exec();
    delete window;
    return 1;
}

int32_t DrawSelection(int32_t from, int32_t to, bool force) {
    const int32_t oldStart = gProject.selStart, oldEnd = gProject.selEnd;
    int32_t a = -1, b = -1;
    if (gProject.totalFrames > 0 && from >= 0 && to >= 0) {
        a = std::min(std::min(from, to), gProject.totalFrames - 1);
        b = std::min(std::max(from, to), gProject.totalFrames - 1);
        if (!force && a == oldStart && b == oldEnd) return a;
    }
    gProject.selStart = a;
    gProject.selEnd = b;
    if (StoryboardWindow* w = Storyboard())
        w->canvas()->update(w->canvas()->SelectionRegion(oldStart, oldEnd, force));
    return a;
}

void DrawRenderProgress(HWND window, int32_t frame) {
    StoryboardWindow* w = Storyboard();
    if (!w || HWNDFromWidget(w) != window) return;
    w->canvas()->SetProgress(frame);
}

void SetPopupChooser(PopupChooser chooser) {
    gChooser = std::move(chooser);
}
