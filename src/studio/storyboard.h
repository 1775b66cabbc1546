// The storyboard window: the program's main window. It shows the project as a grid of thumbnails
// with a timeline strip, a selection band and an information panel, and runs the commands of its
// toolbar, menu bar and popups. One exists at a time; the functions below act on it.
#pragma once

#include <QDialog>
#include <QPoint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/wintypes.h"
#include "studio/storyboard_view.h"
#include "ui/bitmaps.h"

class QAction;
class QMenu;
class QMenuBar;
class ConversionWindow;
class OwnerDrawButton;
class StoryboardCanvas;

class StoryboardWindow : public QDialog {
    Q_OBJECT
  public:
    explicit StoryboardWindow(QWidget* parent = nullptr);
    ~StoryboardWindow() override;

    // The window's initialisation: owner of boxes, centred, splash timer, the project named in the
    // settings read, or the files named on the command line opened instead, buttons updated.
    void InitDialog();
    // One command, as the toolbar, the menus, the popups and the keyboard send it.
    void Command(int32_t id, bool shift = false);
    // Enables the buttons (and the menu items, so their shortcuts follow) for the project's state.
    void UpdateToolbar();
    // Sets the menu bar's grayed states and check marks, as when a menu opens.
    void InitMenus();
    // The caption names the project's file ("NAME - Quillory"), or is "Quillory" for a project
    // that belongs to no file.
    void ShowCaption();
    // The popups, at a screen position: the background popup's choices and the range popup's.
    void BackgroundPopup(QPoint at);
    void RangePopup(QPoint at);
    // Files dropped on the window: projects (".cgp") are opened, anything else is inserted as a clip.
    void DropFiles(const std::vector<std::string>& files);

    StoryboardCanvas* canvas() const { return canvas_; }
    QMenuBar* menuBar() const { return menuBar_; }
    QAction* menuAction(int32_t id) const;
    OwnerDrawButton* button(int32_t id) const;
    bool busy() const { return busy_ > 0; }

  protected:
    void reject() override;  // Escape
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    // The command handlers (storyboard_commands.cpp) work on the window as its own members do.
    friend struct StoryboardCommands;

    void BuildToolbar();
    void BuildMenus();
    void AfterCommand();
    void Exit();
    bool RememberProject();
    void OpenProjectFile(const std::string& name);
    // The n-th of Recent Projects opened as Open Project opens a file; one that is gone is taken
    // off the list with a message.
    void OpenRecentProject(size_t n);
    // The project file now named was opened or saved: first in Recent Projects and noted in the
    // desktop's recently-used list.
    void NoteProjectUsed();
    void FillRecentMenu();
    void InsertAVIFile(const std::string& name);
    // The project's conformClip: a file the project cannot take as it is converted into a clip of
    // its format (a first clip's for an empty project) in the clips folder, in the progress window.
    int32_t ConformClip(const char* name, bool mismatched, std::string* clip, std::string* why);
    // Whether the user cancelled a conversion in the batch under way: the files after it are left.
    bool ConversionCancelled() const;
    void RangeCommand(uint32_t type);
    void SetStep(int32_t step);
    void SetCellSize(int32_t index);
    void Help(int32_t id, bool shift);
    void Render();
    void CaptureIntoProject();
    void ClearForCapture();

    StoryboardCanvas* canvas_ = nullptr;
    QMenuBar* menuBar_ = nullptr;
    QMenu* driversMenu_ = nullptr;
    QMenu* recentMenu_ = nullptr;
    std::map<int32_t, QAction*> actions_;
    std::map<int32_t, OwnerDrawButton*> buttons_;
    ButtonRecord* buttonList_ = nullptr;
    int busy_ = 0;  // commands running; while any does, the window takes no command, drop or popup
    // Whether the project belongs to the file named by the project file name (read from it or
    // saved there); leaving with an unnamed project asks where to remember it.
    bool projectNamed_ = false;
    // The progress window the conversions of one batch (a drop, the files of the command line or a
    // project) share, while batches_ > 0 (storyboard_commands.cpp: ConversionBatch).
    std::unique_ptr<ConversionWindow> conversions_;
    int batches_ = 0;
    friend class ConversionBatch;
};

// Keeps one progress window for every conversion in its scope; the window goes with the outermost.
class ConversionBatch {
  public:
    explicit ConversionBatch(StoryboardWindow& window);
    ~ConversionBatch();
    ConversionBatch(const ConversionBatch&) = delete;
    ConversionBatch& operator=(const ConversionBatch&) = delete;

  private:
    StoryboardWindow& window_;
};

// Makes name the project file name; false (name unchanged) when it is too long to keep.
bool KeepProjectFileName(const std::string& name);
// Whether a file name is a project's (".cgp" in any letter case).
bool IsProjectFileName(const std::string& name);

// The storyboard window, or null.
StoryboardWindow* Storyboard();
HWND StoryboardHandle();

// Creates the storyboard window, runs it modally and returns its result (1 after Exit); 0 when it
// could not be made.
int RunStoryboardDialog();

// Sets the selection (0-based, any order; force redraws an unchanged one) and redraws it; returns
// the new selection start. Without frames the selection becomes -1, -1.
int32_t DrawSelection(int32_t from, int32_t to, bool force);
// The render's progress bar under the strip: frame (from 0) is being written.
void DrawRenderProgress(HWND window, int32_t frame);

// How popups are shown: items and the cursor's screen position in, the chosen id out (0 for none).
// Tests install a chooser; an empty function restores the real menu.
using PopupChooser = std::function<int32_t(const std::vector<PopupItem>& items, QPoint at)>;
void SetPopupChooser(PopupChooser chooser);
