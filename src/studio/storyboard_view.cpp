#include "studio/storyboard_view.h"

#include <algorithm>
#include <cstring>

#include "core/appstate.h"
#include "core/diag.h"
#include "core/format.h"
#include "settings/settings.h"
#include "studio/storyboard_ids.h"

StoryboardView gView;

namespace {

int32_t Clamp32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

int32_t Width(const RECT& r) {
    return r.right - r.left;
}

// The file's name without its folder.
const char* BaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

std::string Timecode(int32_t frames, int32_t rate) {
    char buffer[32];
    FormatTimecode(buffer, frames, rate);
    return buffer;
}

}  // namespace

void ResetStoryboardView() {
    gView = StoryboardView{};
}

GridLayout ComputeGridLayout(int32_t width, int32_t height, int32_t cellW, int32_t cellH) {
    GridLayout g;
    if (width <= 0 || height <= 0 || cellW <= 0 || cellH <= 0) return g;
    g.columns = width / (cellW + kCellGapX);
    g.rows = std::max(0, (height - 6) / (cellH + kCellGapY));
    g.offsetX = (width - g.columns * (cellW + kCellGapX) + kCellGapX) / 2;
    g.offsetY = (height - g.rows * (cellH + kCellGapY)) / 2;
    return g;
}

RECT GridCellRect(const RECT& story, const GridLayout& grid, int32_t row, int32_t column, int32_t cellW,
                  int32_t cellH) {
    int32_t x = story.left + grid.offsetX + column * (cellW + kCellGapX);
    int32_t y = story.top + grid.offsetY + row * (cellH + kCellGapY);
    return RECT{x, y, x + cellW, y + cellH};
}

int32_t FirstShownFrame(int32_t frameRate, int32_t positionMs) {
    return Clamp32(static_cast<int64_t>(frameRate) * positionMs / 1000);
}

int32_t CellFrame(int32_t first, int32_t index, int32_t step) {
    int64_t f = static_cast<int64_t>(first) + static_cast<int64_t>(index) * step;
    return (f < 0 || f > INT32_MAX) ? -1 : static_cast<int32_t>(f);
}

int32_t DoubledStep(int32_t step) {
    return std::clamp<int64_t>(static_cast<int64_t>(step) * 2, 1, kMaxStep);
}

int32_t HalvedStep(int32_t step) {
    if (step < 2) return step < 1 ? 1 : step;
    return std::max(step / 2, 1);
}

int32_t FitAllStep(int32_t totalFrames, int32_t visibleCells) {
    if (visibleCells <= 0 || totalFrames <= 0) return 1;
    int64_t step = (static_cast<int64_t>(totalFrames) + visibleCells - 1) / visibleCells;
    return static_cast<int32_t>(std::clamp<int64_t>(step, 1, kMaxStep));
}

CellSize NormalisedCellSize(int32_t width, int32_t height) {
    if (width < 1 || height < 1 || width > kMaxCellSide || height > kMaxCellSide) return kCellSizes[2];
    return CellSize{width, height};
}

int32_t ShownSpanMs(int32_t visibleCells, int32_t step, int32_t frameRate) {
    if (frameRate == 0) return 1000;
    return Clamp32(static_cast<int64_t>(visibleCells) * step * 1000 / frameRate);
}

int32_t ClampedPosition(int32_t position, int32_t span, int32_t duration) {
    if (duration == 0 && span == 0) return position;
    int64_t p = position;
    if (p + span > duration) p = static_cast<int64_t>(duration) - span;
    if (p < 0) p = 0;
    return Clamp32(p);
}

void ThumbExtent(const RECT& strip, int32_t position, int32_t span, int32_t duration, int32_t& left,
                 int32_t& right) {
    int64_t width = std::max(Width(strip), 0);
    int64_t whole = std::max<int64_t>(duration, static_cast<int64_t>(position) + span);
    if (whole <= 0) whole = 1;
    int64_t a = width * std::max(position, 0) / whole;
    int64_t b = width * (static_cast<int64_t>(std::max(position, 0)) + std::max(span, 0)) / whole;
    if (b - a < 2) b = a + 2;
    left = Clamp32(strip.left + a);
    right = Clamp32(std::min<int64_t>(strip.left + b, std::max<int64_t>(strip.right, strip.left + 2)));
}

void FrameShare(const RECT& strip, int32_t frame, int32_t totalFrames, int32_t& left, int32_t& right) {
    int64_t width = std::max(Width(strip), 0);
    int64_t total = std::max(totalFrames, 1);
    left = Clamp32(strip.left + width * frame / total);
    right = Clamp32(strip.left + width * (static_cast<int64_t>(frame) + 1) / total);
    if (right <= left) right = left + 1;
}

void BandExtent(const RECT& strip, int32_t start, int32_t end, int32_t totalFrames, int32_t& left,
                int32_t& right) {
    int64_t width = std::max(Width(strip), 0);
    int64_t total = std::max(totalFrames, 1);
    left = Clamp32(strip.left + width * start / total);
    right = Clamp32(strip.left + width * (static_cast<int64_t>(end) + 1) / total);
}

int32_t FrameAtStripOffset(int32_t offset, int32_t stripWidth, int32_t totalFrames) {
    if (stripWidth <= 0 || totalFrames <= 0) return 0;
    int64_t f = static_cast<int64_t>(std::clamp(offset, 0, stripWidth)) * totalFrames / stripWidth;
    return static_cast<int32_t>(std::clamp<int64_t>(f, 0, totalFrames - 1));
}

int32_t PositionOfFrame(int32_t frame, int32_t frameRate) {
    if (frameRate == 0) return 0;
    return Clamp32(static_cast<int64_t>(frame) * 1000 / frameRate);
}

int32_t ScrolledPosition(int32_t position, int32_t rows, int32_t columns, int32_t step, int32_t frameRate,
                         int32_t totalFrames) {
    if (frameRate <= 0 || totalFrames <= 0) return 0;
    const int64_t first = static_cast<int64_t>(FirstShownFrame(frameRate, position)) +
                          static_cast<int64_t>(rows) * std::max(columns, 1) * std::max(step, 1);
    const int64_t frame = std::clamp<int64_t>(first, 0, totalFrames - 1);
    return Clamp32((frame * 1000 + frameRate - 1) / frameRate);
}

int32_t ProgressWidth(int32_t stripWidth, int32_t frame, int32_t totalFrames) {
    if (totalFrames <= 0 || stripWidth <= 0) return 0;
    int64_t w = static_cast<int64_t>(stripWidth) * (static_cast<int64_t>(frame) + 1) / totalFrames;
    return static_cast<int32_t>(std::clamp<int64_t>(w, 0, stripWidth));
}

std::string CellTimeText(int32_t frame, int32_t frameRate) {
    std::string t = Timecode(frame, frameRate);
    if (t.compare(0, 2, "00") == 0) t.erase(0, std::min<size_t>(3, t.size()));
    return t;
}

std::string CellDescription(int32_t frame) {
    const std::vector<uint8_t>& states = FrameStates();
    const uint32_t state =
        frame >= 0 && static_cast<size_t>(frame) < states.size() ? states[static_cast<size_t>(frame)] : 0;
    std::string text = FormatMessageText("Frame %ld, %s, %s", static_cast<long>(frame) + 1,
                                         CellTimeText(frame, gProject.frameRate).c_str(),
                                         (state & kStateInactive) ? "inactive" : "active");
    if (state & kStateDropped) text += ", dropped";
    if (state & kStateTitled) text += ", titled";
    if (state & kStateUnderlaid) text += ", underlay";
    return text;
}

int32_t ActiveFrameCount() {
    const std::vector<uint8_t>& states = FrameStates();
    return static_cast<int32_t>(
        std::count_if(states.begin(), states.end(), [](uint8_t s) { return !(s & kStateInactive); }));
}

std::vector<std::string> InfoPanelLines() {
    std::vector<std::string> lines;
    const AVIlist* head = gProject.head;
    if (!head || gProject.fileCount <= 0) {
        lines.push_back("NO FILES LOADED");
        return lines;
    }
    if (gProject.fileCount == 1)
        lines.push_back(FormatMessageText("FILE: %s", BaseName(head->name)));
    else
        lines.push_back(FormatMessageText("%ld FILE(S) LOADED", static_cast<long>(gProject.fileCount)));
    int32_t active = ActiveFrameCount();
    lines.push_back(FormatMessageText("DURATION: %s (%ld FRMS)", Timecode(active, gProject.frameRate).c_str(),
                                      static_cast<long>(active)));
    lines.push_back(FormatMessageText("FILE: %s (%ld FRMS)",
                                      Timecode(gProject.totalFrames, gProject.frameRate).c_str(),
                                      static_cast<long>(gProject.totalFrames)));
    lines.push_back(FormatMessageText("VIDEO: %ldx%ld %ldFPS <%s>", static_cast<long>(gProject.frameWidth),
                                      static_cast<long>(gProject.frameHeight),
                                      static_cast<long>(gProject.frameRate),
                                      FourCCText(head->compression).c_str()));
    if (head->samplesPerSec != 0 && head->channels > 2)
        lines.push_back(
            FormatMessageText("AUDIO: %ldSPS %ldBIT %ldCH", static_cast<long>(head->samplesPerSec),
                              static_cast<long>(head->sampleBits), static_cast<long>(head->channels)));
    else if (head->samplesPerSec != 0)
        lines.push_back(FormatMessageText(
            head->channels == 2 ? "AUDIO: %ldSPS %ldBIT STEREO" : "AUDIO: %ldSPS %ldBIT MONO",
            static_cast<long>(head->samplesPerSec), static_cast<long>(head->sampleBits)));
    else
        lines.push_back("AUDIO: NONE");
    return lines;
}

CommandStates CurrentCommandStates() {
    CommandStates s;
    s.files = gProject.head != nullptr && gProject.fileCount > 0;
    s.selection = gProject.selStart >= 0 && gProject.selEnd >= 0;
    s.revisions = gProject.revisions != nullptr;
    s.mail = gMailAvailable != 0;
    s.step = gView.step;
    return s;
}

bool ToolbarButtonEnabled(int32_t id, const CommandStates& s) {
    switch (id) {
        case kCmdNewProject:
        case kCmdSaveProject:
        case kCmdRender:
        case kCmdPreview:
        case kCmdLargerSpan:
            return s.files;
        case kCmdOpenProject:
        case kCmdOpenAVI:
        case kCmdPlayAVI:
        case kCmdCapture:
        case kCmdHelp:
            return true;
        case kCmdSmallerSpan:
            return s.files && s.step > 1;
        case kCmdActivate:
        case kCmdInactivate:
        case kCmdAddTitle:
        case kCmdViewFrame:
            return s.files && s.selection;
        case kCmdFileInfo:
            return s.files;
        case kCmdSend:
            return s.mail;
        case kCmdUndo:
            return s.revisions;
        default:
            return false;  // the hidden preferences button
    }
}

bool MenuItemEnabled(int32_t id, const CommandStates& s) {
    switch (id) {
        case kCmdNewProject:
        case kCmdSaveProject:
        case kCmdRender:
        case kCmdSelectAll:
            return s.files;
        case kCmdActivate:
        case kCmdInactivate:
        case kCmdAddTitle:
        case kCmdAddUnderlay:
            return s.selection;
        case kCmdEditRevisions:
        case kCmdUndo:
            return s.revisions;
        default:
            return true;
    }
}

bool MenuItemChecked(int32_t id, int32_t cellW, int32_t step, int32_t useToolTips) {
    if (id == kCmdSmallImages) return cellW == kCellSizes[0].width;
    if (id == kCmdMediumImages) return cellW == kCellSizes[1].width;
    if (id == kCmdLargeImages) return cellW == kCellSizes[2].width;
    if (id >= kPopSmallImages && id <= kPopLargeImages)
        return cellW == kCellSizes[id - kPopSmallImages].width;
    if (id >= kCmdEveryFrame && id <= kCmdEvery60th) return step == kMenuSteps[id - kCmdEveryFrame];
    if (id >= kPopEveryFrame && id <= kPopEvery60th) return step == kMenuSteps[id - kPopEveryFrame];
    if (id == kCmdTooltipsHelp || id == kPopTooltips) return useToolTips != 0;
    if (id == kCmdShowEdits) return gSettings.ShowEdits != 0;
    return false;
}

const std::vector<MenuDefinition>& MenuBarDefinition() {
    static const std::vector<MenuDefinition> menus = {
        {"&Project",
         {{kCmdNewProject, "&New Project...", "Ctrl+N"},
          {kCmdOpenProject, "&Open Project...", "Ctrl+O"},
          {kCmdSaveProject, "&Save Project...", "Ctrl+S"},
          {0, "", ""},
          {kCmdExit, "E&xit", "Ctrl+Q"}}},
        {"&File",
         {{kCmdOpenAVI, "&Open AVI...", ""},
          {kCmdRender, "&Save AVI...", ""},
          {kCmdPlayAVI, "&Play AVI...", ""}}},
        {"&Edit",
         {{kCmdUndo, "&Undo", "Ctrl+Z"},
          {0, "", ""},
          {kCmdActivate, "&Activate Range", ""},
          {kCmdInactivate, "&Inactivate Range", ""},
          {kCmdAddTitle, "Add &Title Overlay...", ""},
          {kCmdAddUnderlay, "Add Underlay To Range...", ""},
          {0, "", ""},
          {kCmdSelectAll, "&Select All", "Ctrl+A"},
          {0, "", ""},
          {kCmdEditRevisions, "Edit &Revisions...", ""}}},
        {"&View",
         {{kCmdSmallImages, "&Small Images", ""},
          {kCmdMediumImages, "&Medium Images", ""},
          {kCmdLargeImages, "&Large Images", ""},
          {0, "", ""},
          {147, "&Show Every Frame", ""},
          {148, "Show Every Other Frame", ""},
          {149, "Show Every 5-th Frame", ""},
          {150, "Show Every 15-th Frame", ""},
          {151, "Show Every 30-th Frame", ""},
          {152, "Show Every 60-th Frame", ""},
          {0, "", ""},
          {kCmdFitAll, "&Fit All", ""},
          {0, "", ""},
          {kCmdShowEdits, "Show Edits In Thumbnails", ""}}},
        {"&Drivers", {}},
        {"&Help",
         {{kCmdHelpTopics, "Quillory &Help Topics...", "F1"},
          {kCmdOverview, "Quillory Overview...", ""},
          {kCmdTutorial, "Quillory Tutorial...", ""},
          {0, "", ""},
          {kCmdTooltipsHelp, "&Tooltips Help", ""},
          {0, "", ""},
          {kCmdAbout, "&About Quillory...", ""}}},
    };
    return menus;
}

std::vector<PopupItem> BackgroundPopupItems() {
    const CommandStates s = CurrentCommandStates();
    const int32_t w = gSettings.cellW, step = gView.step, tips = gSettings.useToolTips;
    auto item = [&](int32_t id, const char* text, bool grayed = false) {
        return PopupItem{id, text, grayed, MenuItemChecked(id, w, step, tips)};
    };
    return {item(kPopSmallImages, "Small Images"),
            item(7002, "Medium Images"),
            item(kPopLargeImages, "Large Images"),
            PopupItem{},
            item(kPopEveryFrame, "Show Every Frame"),
            item(7011, "Show Every Other Frame"),
            item(7012, "Show Every 5-th Frame"),
            item(7013, "Show Every 15-th Frame"),
            item(7014, "Show Every 30-th Frame"),
            item(kPopEvery60th, "Show Every 60-th Frame"),
            PopupItem{},
            item(kPopSelectAll, "Select All", !s.files),
            item(kPopEditRevisions, "Edit Revision List...", !s.revisions),
            PopupItem{},
            item(kPopTooltips, "ToolTips Help")};
}

std::vector<Revision*> TitlesCoveringFrame(int32_t frame) {
    std::vector<Revision*> titles;
    for (Revision* r = gProject.revisions; r; r = r->next) {
        if (r->type != kRevTitle || !TitleOf(r) || r->start > frame || frame > r->end) continue;
        titles.push_back(r);
        if (static_cast<int32_t>(titles.size()) >= kMaxTitleEditItems) break;
    }
    return titles;
}

std::vector<PopupItem> RangePopupItems() {
    std::vector<PopupItem> items = {
        {kPopCancel, "CANCEL"},
        {},
        {kPopFineTune, "Fine Tune Range Of Frames..."},
        {},
        {kPopActivate, "Activate Range"},
        {kPopInactivate, "Inactivate Range"},
        {kPopAddTitle, "Add Title to Range..."},
        {kPopAddUnderlay, "Add Underlay to Range..."},
        {kPopDrops, "Change Range To Drops"},
        {},
    };
    std::vector<Revision*> titles;
    if (gProject.selStart >= 0 && gProject.selStart == gProject.selEnd)
        titles = TitlesCoveringFrame(gProject.selStart + 1);
    if (titles.empty()) {
        items.push_back({kPopEditGrayed, "Edit...", true});
        return items;
    }
    int32_t n = 0;
    for (Revision* r : titles) {
        const char* text = TitleOf(r)->text ? TitleOf(r)->text : "";
        std::string first(text, std::strcspn(text, "\r\n"));
        items.push_back({kPopEditTitle + n++, FormatMessageText("Edit <%s>", first.c_str())});
    }
    return items;
}
