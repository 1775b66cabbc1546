// The storyboard's view without widgets: the view variables, the arithmetic of the grid, the
// timeline strip and the selection band, the texts of the cells and the information panel, and
// which commands the toolbar, the menus and the popups offer in the project's present state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/wintypes.h"
#include "project/project.h"

// Steps from the menus; "Fit All" and the span buttons give any step from 1 to kMaxStep.
constexpr int32_t kMenuSteps[] = {1, 2, 5, 15, 30, 60};
constexpr int32_t kMaxStep = 1 << 24;
// Cell sizes from the menus; a stored size outside 1..kMaxCellSide falls back to the large one.
struct CellSize {
    int32_t width;
    int32_t height;
};
constexpr CellSize kCellSizes[] = {{40, 30}, {60, 45}, {80, 60}};
constexpr int32_t kMaxCellSide = 320;

// Pixels between cells: 5 across, 12 down (the time code sits under each cell).
constexpr int32_t kCellGapX = 5;
constexpr int32_t kCellGapY = 12;

struct StoryboardView {
    int32_t step = 1;
    int32_t position = 0;  // milliseconds from the project's start to the first shown frame
    int32_t visibleCells = 0;
    RECT storyRect{};  // the grid's area
    RECT stripRect{};  // the timeline strip; also the selection band's extent
    RECT thumbRect{};  // the part of the strip that stands for the shown span
};
extern StoryboardView gView;
void ResetStoryboardView();

struct GridLayout {
    int32_t columns = 0;
    int32_t rows = 0;
    int32_t offsetX = 0;
    int32_t offsetY = 0;
};
GridLayout ComputeGridLayout(int32_t width, int32_t height, int32_t cellW, int32_t cellH);
// The cell at (row, column) of a grid laid out in story.
RECT GridCellRect(const RECT& story, const GridLayout& grid, int32_t row, int32_t column, int32_t cellW,
                  int32_t cellH);
// frame rate x position / 1000, the first frame the grid shows.
int32_t FirstShownFrame(int32_t frameRate, int32_t positionMs);
// first + index x step, or -1 when that lies beyond 32 bits.
int32_t CellFrame(int32_t first, int32_t index, int32_t step);

int32_t DoubledStep(int32_t step);
// Halved when 2 or more (a result below 1 becomes 1); a step of 1 stays.
int32_t HalvedStep(int32_t step);
// ceil(total frames / visible cells); 1 without visible cells or frames.
int32_t FitAllStep(int32_t totalFrames, int32_t visibleCells);
// The stored cell size, or 80 x 60 when it is not a usable one.
CellSize NormalisedCellSize(int32_t width, int32_t height);

// Milliseconds the grid shows: visible cells x step x 1000 / frame rate (1000 at rate 0).
int32_t ShownSpanMs(int32_t visibleCells, int32_t step, int32_t frameRate);
// Keeps position + span within the duration and the position at 0 or more.
int32_t ClampedPosition(int32_t position, int32_t span, int32_t duration);
// The thumb's left and right inside the strip (at least 2 pixels wide).
void ThumbExtent(const RECT& strip, int32_t position, int32_t span, int32_t duration, int32_t& left,
                 int32_t& right);
// A frame's share [left, right) of the strip's width, at least one pixel.
void FrameShare(const RECT& strip, int32_t frame, int32_t totalFrames, int32_t& left, int32_t& right);
// The selection's part [left, right) of the band.
void BandExtent(const RECT& strip, int32_t start, int32_t end, int32_t totalFrames, int32_t& left,
                int32_t& right);
// The frame under an offset into the strip: offset x total frames / strip width, within the project.
int32_t FrameAtStripOffset(int32_t offset, int32_t stripWidth, int32_t totalFrames);
// frame x 1000 / frame rate in whole milliseconds; 0 at rate 0.
int32_t PositionOfFrame(int32_t frame, int32_t frameRate);
// The position after the grid moves by rows of cells (negative: back): the first shown frame moves
// by rows x columns x step frames within the project, and the position is the first millisecond
// that shows it.
int32_t ScrolledPosition(int32_t position, int32_t rows, int32_t columns, int32_t step, int32_t frameRate,
                         int32_t totalFrames);
// Pixels of the render's progress bar: strip width x (frame + 1) / total frames.
int32_t ProgressWidth(int32_t stripWidth, int32_t frame, int32_t totalFrames);

// The time code under a cell: FormatTimecode at the frame rate, without a leading "00h".
std::string CellTimeText(int32_t frame, int32_t frameRate);
// What a screen reader says of a cell: "Frame 11, 00:00:10, active" (frames counted from 1), then
// "dropped", "titled" and "underlay" where they apply.
std::string CellDescription(int32_t frame);
// Frames whose state has no inactive bit.
int32_t ActiveFrameCount();
// The information panel's lines; one line "NO FILES LOADED" for an empty project.
std::vector<std::string> InfoPanelLines();

// What the toolbar and the menus depend on.
struct CommandStates {
    bool files = false;
    bool selection = false;
    bool revisions = false;
    bool mail = false;
    int32_t step = 1;
};
CommandStates CurrentCommandStates();
// UpdateToolbar's rule for a toolbar button.
bool ToolbarButtonEnabled(int32_t id, const CommandStates& s);
// The menu bar's grayed rule (true: enabled).
bool MenuItemEnabled(int32_t id, const CommandStates& s);
// The menu bar's and background popup's check marks.
bool MenuItemChecked(int32_t id, int32_t cellW, int32_t step, int32_t useToolTips);

struct MenuItemDefinition {
    int32_t id = 0;  // 0: a separator
    const char* text = "";
    const char* shortcut = "";  // a key sequence in Qt's portable text, or empty
};
struct MenuDefinition {
    const char* title;
    std::vector<MenuItemDefinition> items;
};
// The menu bar in order: Project, File, Edit, View, Drivers (filled later), Help.
const std::vector<MenuDefinition>& MenuBarDefinition();

struct PopupItem {
    int32_t id = 0;  // 0: a separator
    std::string text;
    bool grayed = false;
    bool checked = false;
};
std::vector<PopupItem> BackgroundPopupItems();
std::vector<PopupItem> RangePopupItems();
// The title revisions whose range covers the frame (from 1), in list order, at most
// kMaxTitleEditItems.
std::vector<Revision*> TitlesCoveringFrame(int32_t frame);
