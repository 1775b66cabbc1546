// The storyboard window on the offscreen platform: toolbar and menus in each project state, the
// mouse's selection drags and popups, the commands that edit, open and save (and the caption that
// names the project), one command at a time, the steps, the wheel and the thumbnail cache, leaving
// the window, and a picture of it for a person to look at.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPaintEvent>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>
#include <deque>
#include <fstream>

#include "core/appstate.h"
#include "core/dialogs.h"
#include "core/format.h"
#include "media/riff.h"
#include "project/projectfile.h"
#include "render/compose.h"
#include "settings/settings.h"
#include "studio/compressor_choice.h"
#include "studio/storyboard.h"
#include "studio/storyboard_canvas.h"
#include "studio/storyboard_ids.h"
#include "studio/thumbnails.h"
#include "support/gui_test.h"
#include "support/modal.h"
#include "support/notifications.h"
#include "ui/artwork.h"
#include "ui/buttons.h"
#include "ui/controls.h"

namespace {

class Storyboard : public GuiTest {
  protected:
    void SetUp() override {
        ResetStoryboardView();
        GuiTest::SetUp();
        gMailAvailable = 0;
        gCommandLine.clear();
        gSettings.gDesktopWidth = 1280;
        gSettings.gDesktopHeight = 1024;
        SetPopupChooser([this](const std::vector<PopupItem>& items, QPoint) {
            popups.push_back(items);
            if (answers.empty()) return 0;
            int32_t id = answers.front();
            answers.pop_front();
            return id;
        });
        window = new StoryboardWindow;
    }
    void TearDown() override {
        delete window;
        SetPopupChooser({});
        GuiTest::TearDown();
    }

    // The window as the program opens it, shown and painted.
    void Open(int width = 700, int height = 460) {
        window->InitDialog();
        window->resize(width, height + window->menuBar()->sizeHint().height());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        Paint();
    }
    void Paint() {
        QCoreApplication::processEvents();
        window->canvas()->repaint();
    }
    void Insert(const std::string& clip) {
        dialogs->answers.push_back(MediaPath(clip));
        window->Command(kCmdOpenAVI);
        Paint();
    }
    void OpenWith(const std::string& clip) {
        Open();
        Insert(clip);
    }
    bool Enabled(int32_t id) { return window->button(id)->isEnabled(); }
    static std::pair<int32_t, int32_t> Sel() { return {gProject.selStart, gProject.selEnd}; }
    // The centre of the cell showing frame (0-based), as the cache has it.
    QPoint CellCentre(int32_t frame) {
        for (const CellRecord* r = ThumbnailCache(); r; r = r->next)
            if (r->frame == frame && r->left != kOutOfSight)
                return QPoint((r->left + r->right) / 2, (r->top + r->bottom) / 2);
        ADD_FAILURE() << "no cell shows frame " << frame;
        return QPoint(-1, -1);
    }
    // A client area of 8 x 3 large cells over a clip of 100 frames.
    void OpenGridOf100() {
        Open(700, kGridTop + 250);
        Insert("studio_100.avi");
        ASSERT_EQ(gProject.totalFrames, 100);
        ASSERT_EQ(gView.visibleCells, 24);
    }
    int32_t VisibleRecords() {
        int32_t n = 0;
        for (const CellRecord* r = ThumbnailCache(); r; r = r->next) n += r->left != kOutOfSight;
        return n;
    }
    void Drag(int32_t from, int32_t to, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QWidget* c = window->canvas();
        QTest::mousePress(c, Qt::LeftButton, mods, CellCentre(from));
        QTest::mouseMove(c, CellCentre(to));
        QTest::mouseRelease(c, Qt::LeftButton, mods, CellCentre(to));
    }

    std::vector<std::vector<PopupItem>> popups;
    std::deque<int32_t> answers;
    StoryboardWindow* window = nullptr;
};

}  // namespace

TEST_F(Storyboard, ToolbarAndMenusInEachProjectState) {
    Open();
    EXPECT_EQ(boxes->texts(), std::vector<std::string>{});  // a first start remembers no project: no message
    // The buttons stand in one row.
    EXPECT_EQ(window->button(kCmdHelp)->geometry().y(), window->button(kCmdNewProject)->geometry().y());
    EXPECT_FALSE(window->button(kCmdPreferences)->isVisible());

    // The buttons and menu items follow the project's state (the rules themselves are tested
    // without a window).
    EXPECT_FALSE(Enabled(kCmdNewProject) || Enabled(kCmdRender) || Enabled(kCmdUndo));
    EXPECT_TRUE(Enabled(kCmdOpenProject) && Enabled(kCmdOpenAVI));
    window->InitMenus();
    EXPECT_FALSE(window->menuAction(kCmdSelectAll)->isEnabled());
    EXPECT_TRUE(window->menuAction(kCmdLargeImages)->isChecked());
    EXPECT_EQ(window->menuAction(kCmdSaveProject)->shortcut(), QKeySequence("Ctrl+S"));
    EXPECT_FALSE(window->menuAction(kCmdFitAll)->isCheckable());

    Insert("studio_scene.avi");
    EXPECT_TRUE(Enabled(kCmdNewProject) && Enabled(kCmdRender) && !Enabled(kCmdActivate));
    Insert("studio_bars.avi");
    window->Command(kCmdLargerSpan);
    EXPECT_EQ(std::pair(gView.step, Enabled(kCmdSmallerSpan)), std::pair(2, true));
    window->Command(kCmdSelectAll);
    EXPECT_EQ(Sel(), std::pair(0, gProject.totalFrames - 1));  // every frame, not just the first file's
    EXPECT_TRUE(Enabled(kCmdActivate));
    window->Command(kCmdActivate);
    EXPECT_TRUE(Enabled(kCmdUndo));
    gMailAvailable = 1;
    window->UpdateToolbar();
    EXPECT_TRUE(Enabled(kCmdSend));
    window->Command(kCmdSmallImages);
    window->Command(kCmdTooltipsHelp);
    window->InitMenus();
    EXPECT_TRUE(window->menuAction(kCmdSmallImages)->isChecked() &&
                !window->menuAction(kCmdLargeImages)->isChecked());
    EXPECT_TRUE(window->menuAction(kCmdTooltipsHelp)->isChecked());
    EXPECT_TRUE(window->menuAction(148)->isChecked());  // step 2, though it came from a button
}

TEST_F(Storyboard, OpenedClipsFillTheInformationPanel) {
    Open();
    // A file that cannot be opened, and a cancelled dialog, change nothing.
    const std::string before = DumpProject();
    dialogs->answers.push_back("/no/such/clip.avi");
    window->Command(kCmdOpenAVI);
    EXPECT_TRUE(boxes->saw("Failed to open file </no/such/clip.avi>\nNo such file or directory"));
    window->Command(kCmdOpenAVI);  // empty queue: cancelled
    EXPECT_EQ(DumpProject(), before);

    Insert("studio_scene.avi");
    ASSERT_EQ(gProject.fileCount, 1);
    std::vector<std::string> info = InfoPanelLines();
    ASSERT_EQ(info.size(), 5u);
    EXPECT_EQ((std::vector{info[0], info[1], info[3], info[4]}),
              (std::vector<std::string>{"FILE: studio_scene.avi", "DURATION: 00h00m02s00 (30 FRMS)",
                                        "VIDEO: 160x120 15FPS <MJPG>", "AUDIO: 11025SPS 8BIT MONO"}));
    Insert("studio_bars.avi");
    EXPECT_EQ(InfoPanelLines()[0], "2 FILE(S) LOADED");
}

TEST_F(Storyboard, NewProjectAsksBeforeClearing) {
    OpenWith("studio_scene.avi");
    Insert("studio_bars.avi");
    window->Command(kCmdLargerSpan);
    window->Command(kCmdSelectAll);
    window->Command(kCmdActivate);
    // Cancel keeps everything; OK empties the project and resets the view.
    boxes->answers = {IDCANCEL};
    window->Command(kCmdNewProject);
    EXPECT_EQ(gProject.fileCount, 2);
    boxes->answers = {IDOK};
    window->Command(kCmdNewProject);
    EXPECT_TRUE(boxes->saw("This will eliminate all existing work"));
    EXPECT_EQ(std::tuple(gProject.fileCount, gView.step, Enabled(kCmdNewProject), Enabled(kCmdUndo)),
              std::tuple(0, 1, false, false));
}

TEST_F(Storyboard, SelectionDragsAndTheirPopups) {
    OpenWith("studio_scene.avi");
    ASSERT_GE(VisibleRecords(), 8);

    // A drag from the first cell to the fourth selects frames 0-3 and opens the range popup.
    answers = {kPopInactivate};
    Drag(0, 3);
    EXPECT_EQ(Sel(), std::pair(0, 3));
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(std::pair(popups[0].front().text, popups[0].back().id),
              std::pair(std::string("CANCEL"), kPopEditGrayed));
    ASSERT_NE(gProject.revisions, nullptr);
    const Revision* r = gProject.revisions;
    EXPECT_EQ(std::tuple(r->start, r->end, r->type), std::tuple(1, 4, kRevInactivate));
    EXPECT_EQ(std::pair(FrameState(2) & kStateInactive, Enabled(kCmdUndo)), std::pair(kStateInactive, true));

    // Dragging backwards orders the ends; Shift keeps the selection's start as the anchor.
    answers = {kPopCancel};
    Drag(6, 4);
    EXPECT_EQ(Sel(), std::pair(4, 6));
    answers = {kPopDrops};
    Drag(8, 8, Qt::ShiftModifier);
    EXPECT_EQ(Sel(), std::pair(4, 8));
    ASSERT_NE(r = gProject.revisions->next, nullptr);
    EXPECT_EQ(std::tuple(r->start, r->end, r->type), std::tuple(5, 9, kRevDrop));

    // The right button cancels a drag: no selection and no popup.
    const size_t shown = popups.size();
    QWidget* c = window->canvas();
    QTest::mousePress(c, Qt::LeftButton, Qt::NoModifier, CellCentre(1));
    QTest::mouseMove(c, CellCentre(2));
    QTest::mousePress(c, Qt::RightButton, Qt::NoModifier, CellCentre(2));
    QTest::mouseRelease(c, Qt::LeftButton, Qt::NoModifier, CellCentre(2));
    EXPECT_EQ(std::tuple(Sel(), popups.size(), Enabled(kCmdActivate)),
              std::tuple(std::pair(-1, -1), shown, false));

    // A range command without a selection says so and adds nothing.
    const std::string before = DumpRevisions();
    window->Command(kCmdActivate);
    window->Command(kPopDrops);
    EXPECT_EQ(std::pair(boxes->saw("You have to drag-select a range of frames to do this"), DumpRevisions()),
              std::pair(true, before));

    // The right button elsewhere opens the background popup with the current choices checked.
    answers = {kPopSmallImages + 1};
    QTest::mouseClick(c, Qt::RightButton, Qt::NoModifier, QPoint(5, c->height() - 3));
    ASSERT_EQ(popups.size(), shown + 1);
    EXPECT_EQ(std::pair(popups.back().front().id, gSettings.cellW), std::pair(kPopSmallImages, 60));
}

TEST_F(Storyboard, KeysAndTheEditMenuSelectAllAndUndo) {
    OpenWith("studio_scene.avi");
    DrawSelection(0, 3, true);
    window->Command(kCmdInactivate);
    DrawSelection(4, 8, true);
    window->Command(kPopDrops);
    DrawSelection(-1, -1, true);
    // Ctrl+A selects every frame; Ctrl+Z undoes, then the Edit menu's Undo (the button's command)
    // takes the revisions back one by one and disables itself and the button.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(Sel(), std::pair(0, gProject.totalFrames - 1));
    QTest::keyClick(window, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(gProject.revisions->next, nullptr);
    QAction* undo = window->menuBar()->actions().at(2)->menu()->actions().front();
    ASSERT_EQ(undo, window->menuAction(kCmdUndo));
    EXPECT_EQ(undo->text() + " " + undo->shortcut().toString(), "&Undo Ctrl+Z");
    EXPECT_TRUE(Enabled(kCmdUndo) && undo->isEnabled());
    undo->trigger();
    EXPECT_EQ(std::tuple(gProject.revisions == nullptr, Enabled(kCmdUndo), undo->isEnabled(),
                         FrameState(2) & kStateInactive),
              std::tuple(true, false, false, 0u));
}

// A file dialog that runs `meanwhile` while it is open, then is cancelled.
struct DialogMeanwhile : FileDialogProvider {
    std::function<void()> meanwhile;
    bool Choose(const FileDialogRequest&, std::string&) override {
        meanwhile();
        return false;
    }
};

TEST_F(Storyboard, ACommandRunsAloneAndEveryPathFreesTheWindow) {
    OpenWith("studio_scene.avi");

    SCOPED_TRACE("while a command waits in its dialog, commands, drops and popups are refused");
    auto meanwhile = std::make_shared<DialogMeanwhile>();
    bool busyInside = false;
    meanwhile->meanwhile = [&] {
        busyInside = window->busy();
        window->Command(kCmdLargerSpan);
        window->DropFiles({MediaPath("studio_bars.avi")});
        window->BackgroundPopup(QPoint(5, 5));
    };
    SetFileDialogProvider(meanwhile);
    window->Command(kCmdOpenAVI);
    SetFileDialogProvider(dialogs);
    EXPECT_EQ(std::tuple(busyInside, gView.step, gProject.fileCount, popups.size()),
              std::tuple(true, 1, 1, size_t{0}));

    SCOPED_TRACE("a drop, and leaving that keeps the window, free it again");
    window->DropFiles({MediaPath("studio_bars.avi")});
    EXPECT_EQ(gProject.fileCount, 2);
    boxes->answers = {IDYES};
    window->Command(kCmdExit);  // Yes, then the name is not given: the window stays
    ASSERT_TRUE(window->isVisible());
    window->Command(kCmdLargerSpan);
    EXPECT_EQ(gView.step, 2);

    SCOPED_TRACE("fine-tuning a range frees the window before the range popup opens on it");
    DrawSelection(2, 5, true);
    WhenOpen("vcrPanel", [](QWidget* panel) { qobject_cast<QDialog*>(panel)->reject(); });  // Escape
    window->Command(kPopFineTune);
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(std::pair(popups[0].front().text, window->busy()), std::pair(std::string("CANCEL"), false));
}

TEST_F(Storyboard, StepsFollowTheCommands) {
    OpenGridOf100();
    std::vector<int32_t> steps;
    for (int32_t command : {kCmdFitAll, 150, kCmdSmallerSpan, kCmdEveryFrame, kCmdSmallerSpan}) {
        window->Command(command);
        steps.push_back(gView.step);
    }
    EXPECT_EQ(std::pair(steps, Enabled(kCmdSmallerSpan)),
              std::pair(std::vector<int32_t>{5, 15, 7, 1, 1}, false));
}

TEST_F(Storyboard, TheThumbnailCacheLastsUntilTheCellSizeChanges) {
    OpenGridOf100();
    // Repaints use the cache; a new cell size discards it and the next paint decodes again.
    window->Command(kCmdFitAll);
    Paint();
    ASSERT_NE(ThumbnailCache(), nullptr);
    EXPECT_EQ(ThumbnailCache()->imageWidth, 80);
    const int64_t fed = ThumbnailFramesFed();
    Paint();
    EXPECT_EQ(ThumbnailFramesFed(), fed);
    window->Command(kCmdSmallImages);
    EXPECT_EQ(ThumbnailCache(), nullptr);
    Paint();
    ASSERT_NE(ThumbnailCache(), nullptr);
    EXPECT_EQ(ThumbnailCache()->imageWidth, 40);
    EXPECT_GT(ThumbnailFramesFed(), fed);

    // At step 5 the large grid shows frames 0..115: the last cells lie past the end, black and not
    // selectable.
    window->Command(kCmdLargeImages);
    Paint();
    EXPECT_EQ(VisibleRecords(), 20);
    const RECT& story = gView.storyRect;
    GridLayout grid = ComputeGridLayout(story.right - story.left, story.bottom - story.top, 80, 60);
    RECT past = GridCellRect(story, grid, 2, 7, 80, 60);
    QPoint inside((past.left + past.right) / 2, (past.top + past.bottom) / 2);
    QImage shot = window->canvas()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(inside), QColor(Qt::black));
    QTest::mouseClick(window->canvas(), Qt::LeftButton, Qt::NoModifier, inside);
    EXPECT_EQ(std::pair(gProject.selStart, popups.size()), std::pair(-1, size_t{0}));
}

TEST_F(Storyboard, TheWheelScrollsARowANotch) {
    OpenGridOf100();
    // A row is 8 cells; the scrolling stops at either end of the project.
    const QPoint inside = CellCentre(0);
    auto wheel = [&](int notches) {
        QWheelEvent e(QPointF(inside), window->canvas()->mapToGlobal(QPointF(inside)), QPoint(),
                      QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(window->canvas(), &e);
        Paint();
        return FirstShownFrame(gProject.frameRate, gView.position);
    };
    EXPECT_EQ((std::vector{wheel(-1), wheel(-2), ThumbnailCache()->frame, wheel(3), wheel(1)}),
              (std::vector{8, 24, 24, 0, 0}));
    const int32_t end = wheel(-20);
    EXPECT_GE(end + gView.visibleCells, 100);  // the last frame in sight
    EXPECT_EQ((std::vector{wheel(-1), wheel(1)}), (std::vector{end, end - 8}));
}

// Records the region of every paint the widget receives.
class PaintRegions : public QObject {
  public:
    explicit PaintRegions(QWidget* w) { w->installEventFilter(this); }
    QRegion all;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) all += static_cast<QPaintEvent*>(e)->region();
        return false;
    }
};

TEST_F(Storyboard, SelectionAndProgressRepaintOnlyWhatChanged) {
    Open();
    window->setSizeGripEnabled(false);  // it stands over the canvas on the screen
    Insert("studio_100.avi");
    Paint();
    QWidget* c = window->canvas();
    const RECT s = gView.stripRect;
    const QRect strip(s.left, s.top, s.right - s.left, s.bottom - s.top);
    auto screen = [&] { return window->screen()->grabWindow(window->winId()).toImage(); };
    {
        PaintRegions painted(c);
        Drag(0, 3);  // its popup closed without a choice
        DrawSelection(2, 6, false);
        DrawSelection(-1, -1, false);
        DrawSelection(1, 1, false);
        QCoreApplication::processEvents();
        EXPECT_TRUE(painted.all.intersects(strip));
        for (const CellRecord* r = ThumbnailCache(); r; r = r->next) {  // the outlines, never a picture
            const bool drawn =
                painted.all.intersects(QRect(r->left, r->top, r->right - r->left, r->bottom - r->top));
            EXPECT_FALSE(r->left != kOutOfSight && drawn) << r->frame;
        }
        EXPECT_FALSE(painted.all.intersects(FindControl(c, kInfoPanelId)->geometry()));
    }
    {
        PaintRegions painted(c);
        for (int32_t frame = 0; frame < 100; frame += 7) DrawRenderProgress(StoryboardHandle(), frame);
        EXPECT_TRUE(strip.contains(painted.all.boundingRect()));
    }
    // What is on the screen is what a whole paint draws.
    const QImage shown = screen();
    EXPECT_EQ(shown.copy(c->geometry()), c->grab().toImage().convertToFormat(shown.format()));
}

TEST_F(Storyboard, ThumbnailsDecodeARunOfDeltaFramesOnce) {
    Open();
    Insert("studio_gop10.avi");  // a key frame every 10 frames
    FreeThumbnails();
    ForgetThumbnailPictures();
    int64_t fed = ThumbnailFramesFed();
    Paint();
    const int32_t cells = VisibleRecords();
    ASSERT_GT(cells, 10);
    EXPECT_EQ(ThumbnailFramesFed() - fed, cells);  // every frame fed once, in order
    // Starting in the middle of a run feeds its key frame and the frames up to the first cell once.
    gView.position = 5 * 1000 / 15 + 1;  // frame 5
    ForgetThumbnailPictures();
    fed = ThumbnailFramesFed();
    Paint();
    ASSERT_EQ(ThumbnailCache()->frame, 5);
    EXPECT_EQ(ThumbnailFramesFed() - fed, VisibleRecords() + 5);
    // The pictures are real frames, not blank cells.
    QImage first = ThumbnailPicture(*ThumbnailCache());
    ASSERT_FALSE(first.isNull());
    EXPECT_NE(first.pixelColor(10, 10), first.pixelColor(70, 50));

    // A 256-colour clip is drawn with its whole palette: the colours the render composes.
    boxes->answers = {IDOK};
    window->Command(kCmdNewProject);
    Insert("media_pal8_15.avi");
    QImage thumb;
    ASSERT_TRUE(DecodeProjectFrame(3, thumb));
    FrameComposer render;
    ASSERT_TRUE(render.Open(gProject.head, 64, 48) && render.Decode(4));
    QImage rendered(render.pixels(), 64, 48, static_cast<int>(render.bytes() / 48), QImage::Format_BGR888);
    EXPECT_EQ(thumb, rendered.mirrored());
}

TEST_F(Storyboard, CellsShowTheEditsUntilTheViewMenuHidesThem) {
    OpenWith("studio_scene.avi");
    TitleRecord* t = NewTitleRecord();
    t->text = static_cast<char*>(MyCalloc(8, 1));
    std::strcpy(t->text, "EDITED");
    t->height = -24, t->weight = FW_BOLD, t->colour = RGB(255, 0, 0);
    std::strcpy(t->faceName, "Arial");
    AddRevision(kRevTitle, 1, 3, t);
    auto picture = [] { return ThumbnailPicture(*ThumbnailCache()); };
    Paint();
    const QImage titled = picture();
    t->text[0] = 'X';  // an edited title is drawn again
    Paint();
    const QImage retitled = picture();
    window->Command(kCmdShowEdits);
    EXPECT_EQ(gSettings.ShowEdits, 0);
    Paint();
    const QImage plain = picture();
    EXPECT_TRUE(titled != plain && retitled != plain && retitled != titled);
    window->Command(kCmdShowEdits);
    Paint();
    EXPECT_EQ(picture(), retitled);
}

TEST_F(Storyboard, OpenAndSaveProjectsThroughTheCommands) {
    Open();
    EXPECT_EQ(window->windowTitle(), "Quillory");
    Insert("studio_scene.avi");
    Insert("studio_bars.avi");
    DrawSelection(2, 7, true);
    window->Command(kCmdInactivate);
    DrawSelection(-1, -1, true);
    const std::string project = DumpProject();

    // A name without a dot gets ".CGP".
    dialogs->answers.push_back(dir.file("trip"));
    window->Command(kCmdSaveProject);
    EXPECT_EQ((std::vector<std::string>{dialogs->requests.back().title, gSettings.ProjectFileName,
                                        ReadWholeFile(dir.file("trip.CGP")).substr(0, 19),
                                        window->windowTitle().toStdString()}),
              (std::vector<std::string>{"Select Project File For Save", dir.file("trip.CGP"),
                                        "Corvane Project 00\n", "trip.CGP - Quillory"}));

    boxes->answers = {IDOK};
    window->Command(kCmdNewProject);
    ASSERT_EQ(gProject.fileCount, 0);
    dialogs->answers.push_back(dir.file("trip.CGP"));
    window->Command(kCmdOpenProject);
    EXPECT_EQ(std::pair(dialogs->requests.back().title, dialogs->requests.back().filters.front().second),
              std::pair(std::string("Select Project File For Open"), std::string("*.cgp")));
    EXPECT_EQ(DumpProject(), project);

    // A file that is not a project is refused, and never becomes the name the project is saved under.
    WriteWholeFile(dir.file("notes.txt"), "my own notes\n");
    dialogs->answers.push_back(dir.file("notes.txt"));
    window->Command(kCmdOpenProject);
    EXPECT_TRUE(boxes->saw("Illegal Project File <" + dir.file("notes.txt") + "> <my own notes>\n"));
    EXPECT_EQ(std::tuple(std::string(gSettings.ProjectFileName), DumpProject(),
                         ReadWholeFile(dir.file("notes.txt"))),
              std::tuple(dir.file("trip.CGP"), project, std::string("my own notes\n")));

    window->Command(kCmdOpenProject);  // cancelled: nothing changes
    EXPECT_EQ(DumpProject(), project);

    // Dropping a clip on the window adds it; dropping a project opens it (after asking to clear).
    auto drop = [&](const std::string& path) { window->DropFiles({path}); };
    drop(MediaPath("studio_scene.avi"));
    EXPECT_EQ(gProject.fileCount, 3);
    boxes->answers = {IDYES};
    drop(dir.file("trip.CGP"));
    EXPECT_EQ(std::pair(boxes->saw("Do You Want To Clear\nExisting Project First?"), DumpProject()),
              std::pair(true, project));
}

namespace {

// Counts the times the conversions' progress window is shown.
class ConversionWindowShows : public QObject {
  public:
    ConversionWindowShows() { qApp->installEventFilter(this); }
    ~ConversionWindowShows() override { qApp->removeEventFilter(this); }
    int shows = 0;

  protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        shows += e->type() == QEvent::Show && o->objectName() == "conversionWindow";
        return false;
    }
};

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const QString& n : QDir(QString::fromStdString(folder)).entryList(QDir::Files))
        names.push_back(n.toStdString());
    return names;
}

}  // namespace

TEST_F(Storyboard, OtherVideosAndMismatchedClipsJoinConverted) {
    CopyCut(gSettings.ClipsFolder, sizeof gSettings.ClipsFolder, dir.file("clips"));
    Open();
    SCOPED_TRACE("phone and camera files dropped together convert one after another in one window");
    ConversionWindowShows window1;
    window->DropFiles({MediaPath("import_portrait.mp4"), MediaPath("import_hevc.mov")});
    EXPECT_EQ(std::tuple(gProject.fileCount, gProject.frameWidth, gProject.frameHeight, window1.shows),
              std::tuple(2, 96, 160, 1));
    EXPECT_EQ(FilesIn(dir.file("clips")),
              (std::vector<std::string>{"import_hevc.avi", "import_portrait.avi"}));
    EXPECT_EQ(gSettings.LastAVIfileName, MediaPath("import_hevc.mov"));

    SCOPED_TRACE("a project naming a phone's file opens with the clip made of it before");
    WriteWholeFile(dir.file("phone.cgp"),
                   "Corvane Project 00\nF0: " + MediaPath("import_portrait.mp4") + "\n");
    boxes->answers = {IDYES};  // clear the project first
    window->DropFiles({dir.file("phone.cgp")});
    ASSERT_EQ(gProject.fileCount, 1);
    EXPECT_EQ(std::pair(std::string(gProject.head->name), FilesIn(dir.file("clips")).size()),
              std::pair(dir.file("clips/import_portrait.avi"), size_t{2}));

    SCOPED_TRACE("a clip of another rate: the mismatch with the offer; No leaves the project as it was");
    boxes->answers = {IDOK};
    window->Command(kCmdNewProject);
    Insert("studio_scene.avi");
    const std::string project = DumpProject();
    boxes->shown.clear();
    boxes->answers = {IDNO};
    Insert("studio_100.avi");
    const std::string mismatch = "File <" + MediaPath("studio_100.avi") +
                                 "> mismatches in rate, width, and/or height\n  rate 25 (15)\n  width 160 "
                                 "(160)\n  height 120 (120)\n\nConvert it to the project's format?";
    EXPECT_EQ(std::pair(boxes->texts(), DumpProject()),
              std::pair(std::vector<std::string>{mismatch}, project));

    SCOPED_TRACE("Yes: converted to the project's rate and appended");
    boxes->answers = {IDYES};
    Insert("studio_100.avi");
    ASSERT_EQ(gProject.fileCount, 2);
    EXPECT_EQ(
        std::tuple(std::string(gProject.head->next->name), gProject.head->next->frames, gProject.frameRate),
        std::tuple(dir.file("clips/studio_100.avi"), 60, 15));
}

TEST_F(Storyboard, ACancelledConversionLeavesNoClipAndTheProjectAsItWas) {
    CopyCut(gSettings.ClipsFolder, sizeof gSettings.ClipsFolder, dir.file("clips"));
    OpenWith("studio_scene.avi");
    const std::string project = DumpProject();
    std::string file, frames;
    WhenShown(
        "frames done in the conversion window",
        [] {
            QWidget* w = ShownWindow("conversionWindow");
            auto* done = w ? w->findChild<QLabel*>("frames") : nullptr;
            return done && !done->text().isEmpty() ? w : nullptr;
        },
        [&](QWidget* w) {
            file = w->findChild<QLabel*>("file")->text().toStdString();
            frames = w->findChild<QLabel*>("frames")->text().toStdString();
            QTest::keyClick(w, Qt::Key_Escape);
        });
    boxes->answers = {IDYES};  // convert the clip of another size
    Insert("render_minute.avi");
    EXPECT_EQ(file, "render_minute.avi");
    EXPECT_NE(frames.find(" of 900 frames done"), std::string::npos) << frames;
    EXPECT_EQ(std::tuple(boxes->texts().size(), DumpProject(), FilesIn(dir.file("clips"))),
              std::tuple(size_t{1}, project, std::vector<std::string>{}));
}

TEST_F(Storyboard, RecentProjectsOpenAsOpenProjectDoesAndForgetWhatIsGone) {
    const std::string data = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    const std::shared_ptr<void> restore(nullptr, [&](void*) { setenv("XDG_DATA_HOME", data.c_str(), 1); });
    setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
    const std::string first = dir.file("first.cgp"), second = dir.file("second.cgp");
    OpenWith("studio_scene.avi");
    dialogs->answers.push_back(first);
    window->Command(kCmdSaveProject);
    const std::string firstProject = DumpProject();
    Insert("studio_bars.avi");
    dialogs->answers.push_back(second);
    window->Command(kCmdSaveProject);
    EXPECT_EQ(RecentProjects(), (std::vector<std::string>{second, first}));
    // The desktop's list offers both to file choosers.
    const std::string xbel = ReadWholeFile(dir.file("recently-used.xbel"));
    for (const std::string& p : {first, second})
        EXPECT_NE(xbel.find(QUrl::fromLocalFile(QString::fromStdString(p)).toEncoded().toStdString()),
                  std::string::npos);

    QMenu* recent = nullptr;
    for (QAction* a : window->menuBar()->actions()[0]->menu()->actions())
        if (a->text() == "&Recent Projects") recent = a->menu();
    ASSERT_NE(recent, nullptr);
    auto items = [&] {
        emit recent->aboutToShow();
        std::vector<std::string> texts;
        for (QAction* a : recent->actions())
            texts.push_back(a->text().toStdString() +
                            (a->property("quillory-missing").toBool() ? " (grey)" : ""));
        return texts;
    };
    EXPECT_EQ(items(), (std::vector<std::string>{"&1 " + second, "&2 " + first}));
    boxes->answers = {IDYES};  // clear the project first
    recent->actions()[1]->trigger();
    EXPECT_EQ(std::pair(DumpProject(), window->windowTitle().toStdString()),
              std::pair(firstProject, std::string("first.cgp - Quillory")));
    EXPECT_EQ(RecentProjects(), (std::vector<std::string>{first, second}));

    // A project that is gone is greyed, and choosing it takes it off the list with a message.
    std::remove(second.c_str());
    EXPECT_EQ(items(), (std::vector<std::string>{"&1 " + first, "&2 " + second + " (grey)"}));
    recent->actions()[1]->trigger();
    EXPECT_TRUE(
        boxes->saw("Couldn't find project file <" + second + ">\nIt has been removed from Recent Projects"));
    EXPECT_EQ(std::pair(DumpProject(), RecentProjects()),
              std::pair(firstProject, std::vector<std::string>{first}));
}

TEST_F(Storyboard, LeavingAsksToRememberTheProject) {
    Open();
    // An empty project asks nothing.
    window->Command(kCmdExit);
    EXPECT_EQ(std::pair(boxes->saw("Remember This Project?"), window->isVisible()), std::pair(false, false));

    // Yes without a project name asks for one (cancelling it keeps the window: see the command
    // line's test) and remembers the project there.
    window->show();
    Insert("studio_scene.avi");
    boxes->answers = {IDYES};
    dialogs->answers.push_back(dir.file("kept.cgp"));
    window->Command(kCmdExit);
    EXPECT_EQ(std::tuple(boxes->saw("Remember This Project?"), window->isVisible(), gProject.fileCount),
              std::tuple(true, false, 0));
    EXPECT_NE(ReadWholeFile(dir.file("kept.cgp")).find("studio_scene.avi"), std::string::npos);
    EXPECT_EQ(std::string(gSettings.ProjectFileName), dir.file("kept.cgp"));
}

TEST_F(Storyboard, CommandLineFilesAreReadButNeverSavedOver) {
    // "Open with" on a video that is not a project: a message, and the remembered project keeps
    // its name without being written over by the new work.
    const std::string video = dir.file("holiday.mp4"), remembered = dir.file("remembered.cgp");
    WriteWholeFile(video, "not a project\n");
    WriteWholeFile(remembered, "Corvane Project 00\n");
    SetProjectFileName(remembered);
    gCommandLine = {video};
    Open();
    EXPECT_TRUE(boxes->saw("Failed to open file <" + video + ">\nit is not a video file libavformat knows"))
        << ::testing::PrintToString(boxes->texts());
    // The remembered file is not this project's: no name in the caption.
    EXPECT_EQ(std::pair(std::string(gSettings.ProjectFileName), window->windowTitle().toStdString()),
              std::pair(remembered, std::string("Quillory")));
    Insert("studio_scene.avi");
    boxes->answers = {IDYES};
    window->Command(kCmdExit);  // Yes asks where to remember it; cancelled, the window and work stay
    EXPECT_EQ(std::tuple(dialogs->requests.back().title, window->isVisible(), gProject.fileCount),
              std::tuple(std::string("Select Project File For Save"), true, 1));
    EXPECT_EQ(std::pair(ReadWholeFile(video), ReadWholeFile(remembered)),
              std::pair(std::string("not a project\n"), std::string("Corvane Project 00\n")));
}

TEST_F(Storyboard, RenderFromTheToolbar) {
    OpenWith("studio_scene.avi");
    DrawSelection(0, 4, true);
    window->Command(kCmdInactivate);
    std::shared_ptr<void> choice = ScriptCompressorChoice("MJPG", 80);
    dialogs->answers.push_back(dir.file("out.avi"));
    boxes->answers = {IDNO};  // do not view the new file
    // The user went elsewhere while it ran (any render counts as long here): the desktop is told.
    ScopedNotifications told;
    SetLongWorkMs(-1);
    QApplication::setActiveWindow(nullptr);
    {
        Deadline deadline("the render started from the toolbar", 120);
        QTest::mouseClick(window->button(kCmdRender), Qt::LeftButton);
    }
    SetLongWorkMs(kLongWorkMs);
    ASSERT_EQ(told->summaries.size(), 1u);
    EXPECT_EQ(told->summaries[0].rfind("Render finished: out.avi, ", 0), 0u) << told->summaries[0];
    EXPECT_EQ((std::vector<std::string>{dialogs->requests.back().title, window->windowTitle().toStdString(),
                                        gSettings.LastSaveAVIfileName}),
              (std::vector<std::string>{"Select Filename for AVI Save", "Quillory", dir.file("out.avi")}));
    EXPECT_EQ(window->canvas()->progress(), -1);  // the bar goes when the render ends
    // The 25 active frames, compressed as chosen (the render's own tests read its files closely).
    AVIinfoRecord info{};
    ASSERT_TRUE(ReadAVIInfo(dir.file("out.avi").c_str(), info));
    EXPECT_EQ(std::pair(info.totalFrames, info.compression), std::pair(25, FourCC("MJPG")));
}

TEST_F(Storyboard, PictureOfASampleProject) {
    const std::string cgp = dir.file("sample.cgp");
    WriteWholeFile(cgp,
                   "Corvane Project 00\nF0: " + MediaPath("studio_scene.avi") +
                       "\nF0: " + MediaPath("studio_bars.avi") +
                       "\nR0: 1,12,2\nT0: 1,0\nT1: Hello\nT2: Liberation Sans\nT3: 0,-20,700,0,0,160,65535\n"
                       "R0: 6,10,2\nT0: 2,2\nT1: World\nT2: Liberation Sans\nT3: 0,-20,400,0,0,160,65535\n"
                       "R0: 14,19,1\nR0: 22,24,8\n");
    gCommandLine = {MediaPath("studio_scene.avi"), cgp};  // the project is read, then the clip appended
    Open(700, 420);
    ASSERT_EQ(gProject.fileCount, 3);
    EXPECT_EQ(std::string(gSettings.ProjectFileName), cgp);
    DrawSelection(26, 33, true);
    window->UpdateToolbar();
    Paint();
    QImage shot = window->grab().toImage();
    ASSERT_TRUE(shot.save(QUILLORY_SCREENSHOT));

    // The panels and marks are where they belong.
    QImage canvas = window->canvas()->grab().toImage();
    EXPECT_EQ(canvas.pixelColor(kInfoPanelLeft + kInfoPanelWidth - 4, kPanelTop + kPanelHeight - 4),
              QColor(Qt::black));
    const RECT& s = gView.stripRect;
    EXPECT_EQ(canvas.pixelColor(s.left + 2, s.top + 1), QColor(Qt::black));
    // The strip's column at x shows colour somewhere.
    auto shows = [&](int32_t x, QColor colour) {
        for (int32_t y = s.top; y < s.bottom; y++)
            if (canvas.pixelColor(x, y) == colour) return true;
        return false;
    };
    int32_t a = 0, b = 0;
    BandExtent(s, 26, 33, gProject.totalFrames, a, b);
    EXPECT_TRUE(shows((a + b) / 2, QColor(255, 0, 0)));  // the selection's band
    FrameShare(s, 15, gProject.totalFrames, a, b);
    EXPECT_TRUE(shows(a, QColor(255, 0, 0)));  // inactive tick
    FrameShare(s, 2, gProject.totalFrames, a, b);
    EXPECT_TRUE(shows(a, QColor(0, 255, 0)));  // title tick
    FrameShare(s, 20, gProject.totalFrames, a, b);
    EXPECT_FALSE(shows(a, QColor(0, 255, 0)) || shows(a, QColor(255, 0, 0)));  // a plain frame
    EXPECT_EQ(shot.size(), window->size());
}
