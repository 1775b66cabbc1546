// The storyboard's commands: every toolbar button, menu item and popup item ends up here.
#include <QCursor>
#include <QFileInfo>
#include <algorithm>
#include <cstring>

#include "capture/capture_gui.h"
#include "capture/panel.h"
#include "capture/session.h"
#include "core/diag.h"
#include "core/dialogs.h"
#include "diag/gifdump.h"
#include "mail/mail.h"
#include "media/fileinfo.h"
#include "platform/help/help.h"
#include "platform/qtui/qtui.h"
#include "project/projectfile.h"
#include "render/render.h"
#include "settings/settings.h"
#include "studio/revision_editor.h"
#include "studio/storyboard.h"
#include "studio/storyboard_canvas.h"
#include "studio/storyboard_ids.h"
#include "studio/storyboard_overlays.h"
#include "studio/storyboard_previews.h"
#include "studio/thumbnails.h"
#include "ui/buttons.h"
#include "ui/splash.h"
#include "ui/tooltips.h"

namespace {

constexpr const char* kNeedSelection = "You have to drag-select a range of frames to do this";

const std::vector<std::pair<std::string, std::string>> kProjectFilters = {{"Clipgram Project Files", "*.cgp"},
                                                                          {"All Files", "*.*"}};
const std::vector<std::pair<std::string, std::string>> kAVIFilters = {{"AVI Files", "*.avi"},
                                                                      {"All Files", "*.*"}};

// The folder part of a kept file name, for a dialog's start folder.
std::string FolderOf(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? std::string(path, static_cast<size_t>(slash - path)) : std::string();
}

FileDialogRequest ProjectRequest(HWND owner, bool save) {
    FileDialogRequest r;
    r.owner = owner;
    r.save = save;
    r.title = save ? "Select Project File For Save" : "Select Project File For Open";
    r.filters = kProjectFilters;
    r.initialDir = FolderOf(gSettings.ProjectFileName);
    r.initialName = gSettings.ProjectFileName;
    r.flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    r.maxLength = sizeof gSettings.ProjectFileName;
    r.defaultExtension = "CGP";
    return r;
}

// A project name chosen in a dialog, with "CGP" added when it has no dot; false when cancelled or
// when the name with its extension would not fit.
bool ChooseProjectName(HWND owner, bool save, std::string& name) {
    FileDialogRequest request = ProjectRequest(owner, save);
    if (!(save ? GetSaveFileNameA(request, name) : GetOpenFileNameA(request, name))) return false;
    if (name.size() >= sizeof gSettings.ProjectFileName) {
        NotifyBox("Couldn't open save project file <%s>", name.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool IsProjectFileName(const std::string& name) {
    return QFileInfo(QString::fromStdString(name)).suffix().toLower() == "cgp";
}

bool KeepProjectFileName(const std::string& name) {
    if (name.size() >= sizeof gSettings.ProjectFileName) return false;
    std::memcpy(gSettings.ProjectFileName, name.c_str(), name.size() + 1);
    return true;
}

void StoryboardWindow::AfterCommand() {
    canvas_->update();
    UpdateToolbar();
    ShowCaption();
}

void StoryboardWindow::Command(int32_t id, bool shift) {
    if (busy_ > 0) return;  // a long command is pumping messages
    CloseTooltip();
    CloseSplash();
    ++busy_;
    const HWND self = HWNDFromWidget(this);
    switch (id) {
        case kCmdNewProject:
            if (gProject.head && NotifyOkCancel("This will eliminate all existing work")) {
                ClearProject();
                gView.step = 1;
                gView.position = 0;
                FreeThumbnails();
            }
            break;
        case kCmdOpenProject: {
            std::string name;
            if (ChooseProjectName(self, false, name)) OpenProjectFile(name);
            break;
        }
        case kCmdSaveProject: {
            std::string name;
            if (ChooseProjectName(self, true, name) && KeepProjectFileName(name)) {
                projectNamed_ = true;
                WriteProject();
            }
            break;
        }
        case kCmdOpenAVI: {
            FileDialogRequest r;
            r.owner = self;
            r.title = "Select AVI File";
            r.filters = kAVIFilters;
            r.initialDir = FolderOf(gSettings.LastAVIfileName);
            r.initialName = gSettings.LastAVIfileName;
            r.flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
            r.maxLength = sizeof gSettings.LastAVIfileName;
            std::string name;
            if (GetOpenFileNameA(r, name)) InsertAVIFile(name);
            break;
        }
        case kCmdRender:
            if (gProject.head) Render();
            break;
        case kCmdActivate:
        case kPopActivate:
            RangeCommand(kRevActivate);
            break;
        case kCmdInactivate:
        case kPopInactivate:
            RangeCommand(kRevInactivate);
            break;
        case kPopDrops:
            RangeCommand(kRevDrop);
            break;
        case kCmdAddTitle:
        case kPopAddTitle:
            AddTitleToSelection(self);
            break;
        case kCmdAddUnderlay:
        case kPopAddUnderlay:
            AddUnderlayToSelection(self);
            break;
        case kCmdEditRevisions:
        case kPopEditRevisions:
            EditRevisionList(self);
            break;
        case kCmdUndo:
            UndoLastRevision();
            break;
        case kCmdPreview:
        case kPopPreview:
            PreviewProject(self, shift);
            break;
        case kCmdViewFrame:
            if (shift)
                ViewSelectedFrame(self);
            else
                PreviewRange(self);
            break;
        case kCmdPlayAVI:
            PlayAVIFile(self);
            break;
        case kPopFineTune:
            if (FineTuneRange(self, std::max(gProject.selStart, 0))) {
                --busy_;
                AfterCommand();
                RangePopup(QCursor::pos());
                return;
            }
            break;
        case kCmdLargerSpan:
            SetStep(DoubledStep(gView.step));
            break;
        case kCmdSmallerSpan:
            SetStep(HalvedStep(gView.step));
            break;
        case kCmdFitAll:
            SetStep(FitAllStep(gProject.totalFrames, gView.visibleCells));
            break;
        case kCmdSmallImages:
        case kPopSmallImages:
            SetCellSize(0);
            break;
        case kCmdMediumImages:
        case kPopSmallImages + 1:
            SetCellSize(1);
            break;
        case kCmdLargeImages:
        case kPopLargeImages:
            SetCellSize(2);
            break;
        case kCmdSelectAll:
        case kPopSelectAll:
            if (gProject.head) DrawSelection(0, gProject.totalFrames - 1, true);
            break;
        case kCmdTooltipsHelp:
        case kPopTooltips:
            gSettings.useToolTips = gSettings.useToolTips ? 0 : 1;
            break;
        case kCmdShowEdits:
            gSettings.ShowEdits = gSettings.ShowEdits ? 0 : 1;
            FreeThumbnails();
            ForgetThumbnailPictures();
            break;
        case kCmdCapture:
            CaptureIntoProject();
            break;
        case kCmdSend:
            SendAVIByMail(self, [this] {
                canvas_->SetProgress(-1);
                ShowCaption();
                canvas_->update();
            });
            break;
        case kCmdFileInfo:
            if (gProject.head) ShowFileInfo(self, gProject.head->name, nullptr, nullptr);
            break;
        case kCmdHelp:
        case kCmdHelpTopics:
        case kCmdOverview:
        case kCmdTutorial:
        case kCmdAbout:
            Help(id, shift);
            break;
        case kCmdExit:
            --busy_;
            Exit();
            return;
        default:
            if (id >= kCmdEveryFrame && id <= kCmdEvery60th) {
                SetStep(kMenuSteps[id - kCmdEveryFrame]);
            } else if (id >= kPopEveryFrame && id <= kPopEvery60th) {
                SetStep(kMenuSteps[id - kPopEveryFrame]);
            } else if (id >= kCmdFirstDriver && id <= kCmdLastDriver) {
                NotifyBox("selected driver %d", static_cast<int>(id - kCmdFirstDriver));
                gwIndex = static_cast<uint16_t>(id - kCmdFirstDriver);
            } else if (id >= kPopEditTitle && id < kPopEditTitle + kMaxTitleEditItems) {
                EditTitleOnSelection(self, id - kPopEditTitle);
            }
            break;
    }
    --busy_;
    AfterCommand();
}

void StoryboardWindow::RangeCommand(uint32_t type) {
    if (gProject.selStart < 0 || gProject.selEnd < 0) {
        NotifyBox("%s", kNeedSelection);
        return;
    }
    AddRevision(type, gProject.selStart + 1, gProject.selEnd + 1, nullptr);
    if (OwnerDrawButton* undo = button(kCmdUndo)) undo->setEnabled(true);
}

void StoryboardWindow::SetStep(int32_t step) {
    gView.step = std::clamp(step, 1, kMaxStep);
    FreeThumbnails();
}

void StoryboardWindow::SetCellSize(int32_t index) {
    gSettings.cellW = kCellSizes[index].width;
    gSettings.cellH = kCellSizes[index].height;
    FreeThumbnails();
}

void StoryboardWindow::OpenProjectFile(const std::string& name) {
    // A file that turns out not to be a project must not become the name the project is saved under.
    char previous[sizeof gSettings.ProjectFileName];
    std::memcpy(previous, gSettings.ProjectFileName, sizeof previous);
    if (!KeepProjectFileName(name)) {
        NotifyBox("Couldn't open specified project file <%s>", name.c_str());
        return;
    }
    gView.step = 1;
    gView.position = 0;
    FreeThumbnails();
    if (ReadProject(HWNDFromWidget(this)))
        projectNamed_ = true;
    else
        std::memcpy(gSettings.ProjectFileName, previous, sizeof previous);
    FreeThumbnails();
}

void StoryboardWindow::InsertAVIFile(const std::string& name) {
    std::string why;
    if (AppendAVIToProjectOutcome(HWNDFromWidget(this), name.c_str(), &why) == kAppendNotOpened)
        NotifyFileNotOpened(name.c_str(), why);
    FreeThumbnails();
}

void StoryboardWindow::DropFiles(const std::vector<std::string>& files) {
    if (busy_ > 0) return;
    CloseTooltip();
    CloseSplash();
    ++busy_;
    for (const std::string& f : files) {
        if (IsProjectFileName(f))
            OpenProjectFile(f);
        else
            InsertAVIFile(f);
    }
    --busy_;
    AfterCommand();
}

void StoryboardWindow::Help(int32_t id, bool shift) {
    const HWND self = HWNDFromWidget(this);
    const std::string file = gSettings.HelpFile;
    switch (id) {
        case kCmdHelp:
            if (shift)
                ShowAboutBox(self);
            else
                WinHelpA(self, file.c_str(), HELP_CONTEXT, 1);
            break;
        case kCmdHelpTopics:
            WinHelpA(self, file.c_str(), HELP_FINDER, 0);
            break;
        case kCmdOverview:
            WinHelpA(self, (file + ">second").c_str(), HELP_CONTEXT, 4);
            break;
        case kCmdTutorial:
            WinHelpA(self, (file + ">second").c_str(), HELP_CONTEXT, 5);
            break;
        case kCmdAbout:
            if (shift)
                GifDumpCommand(self);  // a developer's diagnostic
            else
                ShowAboutBox(self);
            break;
        default:
            break;
    }
}

void StoryboardWindow::CaptureIntoProject() {
    const HWND self = HWNDFromWidget(this);
    if (gProject.head) {
        if (!NotifyOkCancel("This Will First Clear The Current Project")) return;
        ClearProject();
        gView.step = 1;
        gView.position = 0;
        FreeThumbnails();
        canvas_->repaint();
        PumpPendingMessages();
    }
    gLastCapturedFile[0] = '\0';
    DoCapture5x(self);
    if (gLastCapturedFile[0] && NotifyYesNo("Open Captured File <%s>??", gLastCapturedFile)) {
        FreeThumbnails();
        std::string why;
        if (AppendAVIToProjectOutcome(self, gLastCapturedFile, &why) == kAppendNotOpened)
            NotifyFileNotOpened(gLastCapturedFile, why);
    }
}

void StoryboardWindow::Render() {
    ++busy_;
    RenderProjectToAVI(HWNDFromWidget(this));
    canvas_->SetProgress(-1);
    ShowCaption();
    --busy_;
}

bool StoryboardWindow::RememberProject() {
    if (!gSettings.ProjectFileName[0] || !projectNamed_) {
        std::string name;
        if (!ChooseProjectName(HWNDFromWidget(this), true, name) || !KeepProjectFileName(name)) return false;
        projectNamed_ = true;
    }
    return WriteProject() == 1;
}

void StoryboardWindow::Exit() {
    if (busy_ > 0) return;
    WinHelpA(HWNDFromWidget(this), gSettings.HelpFile, HELP_QUIT, 0);
    // Yes must not lose the work: without a name or when the save fails the window stays open.
    if (gProject.head && NotifyYesNo("Remember This Project?") && !RememberProject()) return;
    Revision* backup = gProject.backup;
    gProject.backup = nullptr;
    FreeRevisionList(backup);
    ClearProject();
    FreeThumbnails();
    done(1);
}
