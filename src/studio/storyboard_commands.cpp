// The storyboard's commands: every toolbar button, menu item and popup item ends up here.
#include <QCursor>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <cstring>

#include "capture/capture_gui.h"
#include "capture/panel.h"
#include "capture/session.h"
#include "core/diag.h"
#include "core/dialogs.h"
#include "diag/gifdump.h"
#include "mail/mail.h"
#include "media/conform.h"
#include "media/fileinfo.h"
#include "platform/help/help.h"
#include "platform/notify/notify.h"
#include "platform/qtui/qtui.h"
#include "platform/recent/recent.h"
#include "project/projectfile.h"
#include "render/render.h"
#include "settings/settings.h"
#include "studio/conversion_window.h"
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

constexpr const char* kProjectMimeType = "application/x-quillory-project";
constexpr const char* kNeedSelection = "You have to drag-select a range of frames to do this";

const std::vector<std::pair<std::string, std::string>> kProjectFilters = {{"Clipgram Project Files", "*.cgp"},
                                                                          {"All Files", "*.*"}};
// Any video goes in: AVI clips as they are, other files converted into clips.
const std::vector<std::pair<std::string, std::string>> kVideoFilters = {
    {"Video files", "*.avi;*.mp4;*.m4v;*.mov;*.mkv;*.webm;*.3gp;*.mts;*.mpg"}, {"All files", "*.*"}};

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

namespace {

// Holds the window busy for its scope: while a command runs (and may pump messages), no other
// command, drop or popup starts.
class BusyGuard {
  public:
    explicit BusyGuard(int& count) : count_(count) { ++count_; }
    ~BusyGuard() { --count_; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

  private:
    int& count_;
};

}  // namespace

// The handlers, one per command or family of commands, and the table that routes ids to them. The
// window befriends this struct, so the handlers work on it as its own members do.
struct StoryboardCommands {
    struct Call {
        HWND self;
        int32_t id;
        bool shift;
    };
    using Handler = void (*)(StoryboardWindow& w, const Call& c);
    enum class Runs {
        Guarded,   // the window is busy while the handler runs, and redrawn after it
        OnItsOwn,  // the handler sees to both
    };
    struct Route {
        int32_t first, last;  // the ids it answers, both included
        Handler run;
        Runs runs;
    };

    static void NewProject(StoryboardWindow&, const Call&) {
        if (gProject.head && NotifyOkCancel("This will eliminate all existing work")) {
            ClearProject();
            gView.step = 1;
            gView.position = 0;
            FreeThumbnails();
        }
    }
    static void OpenProject(StoryboardWindow& w, const Call& c) {
        std::string name;
        if (ChooseProjectName(c.self, false, name)) w.OpenProjectFile(name);
    }
    static void SaveProject(StoryboardWindow& w, const Call& c) {
        std::string name;
        if (ChooseProjectName(c.self, true, name) && KeepProjectFileName(name)) {
            w.projectNamed_ = true;
            if (WriteProject() == 1) w.NoteProjectUsed();
        }
    }
    static void OpenRecent(StoryboardWindow& w, const Call& c) {
        w.OpenRecentProject(static_cast<size_t>(c.id - kCmdFirstRecent));
    }
    static void OpenAVI(StoryboardWindow& w, const Call& c) {
        FileDialogRequest r;
        r.owner = c.self;
        r.title = "Select AVI File";
        r.filters = kVideoFilters;
        r.initialDir = FolderOf(gSettings.LastAVIfileName);
        r.initialName = gSettings.LastAVIfileName;
        r.flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
        r.maxLength = sizeof gSettings.LastAVIfileName;
        std::string name;
        if (GetOpenFileNameA(r, name)) w.InsertAVIFile(name);
    }
    static void RenderProject(StoryboardWindow& w, const Call&) {
        if (gProject.head) w.Render();
    }
    static void Activate(StoryboardWindow& w, const Call&) { w.RangeCommand(kRevActivate); }
    static void Inactivate(StoryboardWindow& w, const Call&) { w.RangeCommand(kRevInactivate); }
    static void Drops(StoryboardWindow& w, const Call&) { w.RangeCommand(kRevDrop); }
    static void AddTitle(StoryboardWindow&, const Call& c) { AddTitleToSelection(c.self); }
    static void AddUnderlay(StoryboardWindow&, const Call& c) { AddUnderlayToSelection(c.self); }
    static void EditTitle(StoryboardWindow&, const Call& c) {
        EditTitleOnSelection(c.self, c.id - kPopEditTitle);
    }
    static void EditRevisions(StoryboardWindow&, const Call& c) { EditRevisionList(c.self); }
    static void Undo(StoryboardWindow&, const Call&) { UndoLastRevision(); }
    static void Preview(StoryboardWindow&, const Call& c) { PreviewProject(c.self, c.shift); }
    static void ViewFrame(StoryboardWindow&, const Call& c) {
        if (c.shift)
            ViewSelectedFrame(c.self);
        else
            PreviewRange(c.self);
    }
    static void PlayAVI(StoryboardWindow&, const Call& c) { PlayAVIFile(c.self); }
    // A range marked anew opens the range popup on it, once the window is free again.
    static void FineTune(StoryboardWindow& w, const Call& c) {
        bool marked = false;
        {
            BusyGuard running(w.busy_);
            marked = FineTuneRange(c.self, std::max(gProject.selStart, 0));
        }
        w.AfterCommand();
        if (marked) w.RangePopup(QCursor::pos());
    }
    static void LargerSpan(StoryboardWindow& w, const Call&) { w.SetStep(DoubledStep(gView.step)); }
    static void SmallerSpan(StoryboardWindow& w, const Call&) { w.SetStep(HalvedStep(gView.step)); }
    static void FitAll(StoryboardWindow& w, const Call&) {
        w.SetStep(FitAllStep(gProject.totalFrames, gView.visibleCells));
    }
    static void MenuStep(StoryboardWindow& w, const Call& c) { w.SetStep(kMenuSteps[c.id - kCmdEveryFrame]); }
    static void PopupStep(StoryboardWindow& w, const Call& c) {
        w.SetStep(kMenuSteps[c.id - kPopEveryFrame]);
    }
    static void SmallImages(StoryboardWindow& w, const Call&) { w.SetCellSize(0); }
    static void MediumImages(StoryboardWindow& w, const Call&) { w.SetCellSize(1); }
    static void LargeImages(StoryboardWindow& w, const Call&) { w.SetCellSize(2); }
    static void SelectAll(StoryboardWindow&, const Call&) {
        if (gProject.head) DrawSelection(0, gProject.totalFrames - 1, true);
    }
    static void Tooltips(StoryboardWindow&, const Call&) {
        gSettings.useToolTips = gSettings.useToolTips ? 0 : 1;
    }
    static void ShowEdits(StoryboardWindow&, const Call&) {
        gSettings.ShowEdits = gSettings.ShowEdits ? 0 : 1;
        FreeThumbnails();
        ForgetThumbnailPictures();
    }
    static void Capture(StoryboardWindow& w, const Call&) { w.CaptureIntoProject(); }
    static void Driver(StoryboardWindow&, const Call& c) {
        NotifyBox("selected driver %d", static_cast<int>(c.id - kCmdFirstDriver));
        gwIndex = static_cast<uint16_t>(c.id - kCmdFirstDriver);
    }
    static void Send(StoryboardWindow& w, const Call& c) {
        StoryboardWindow* window = &w;
        SendAVIByMail(c.self, [window] {
            window->canvas_->SetProgress(-1);
            window->ShowCaption();
            window->canvas_->update();
        });
    }
    static void FileInfo(StoryboardWindow&, const Call& c) {
        if (gProject.head) ShowFileInfo(c.self, gProject.head->name, nullptr, nullptr);
    }
    static void Help(StoryboardWindow& w, const Call& c) { w.Help(c.id, c.shift); }
    // Leaving refuses while a command runs, asks with the window free, and closes it or keeps it.
    static void Exit(StoryboardWindow& w, const Call&) { w.Exit(); }
};

namespace {

using Commands = StoryboardCommands;

constexpr Commands::Route One(int32_t id, Commands::Handler run,
                              Commands::Runs runs = Commands::Runs::Guarded) {
    return {id, id, run, runs};
}
constexpr Commands::Route Span(int32_t first, int32_t last, Commands::Handler run) {
    return {first, last, run, Commands::Runs::Guarded};
}

// Every command of the toolbar, the menus and the popups; other ids only redraw the window.
constexpr Commands::Route kRoutes[] = {
    One(kCmdNewProject, Commands::NewProject),
    One(kCmdOpenProject, Commands::OpenProject),
    One(kCmdSaveProject, Commands::SaveProject),
    Span(kCmdFirstRecent, kCmdLastRecent, Commands::OpenRecent),
    One(kCmdOpenAVI, Commands::OpenAVI),
    One(kCmdRender, Commands::RenderProject),
    One(kCmdActivate, Commands::Activate),
    One(kPopActivate, Commands::Activate),
    One(kCmdInactivate, Commands::Inactivate),
    One(kPopInactivate, Commands::Inactivate),
    One(kPopDrops, Commands::Drops),
    One(kCmdAddTitle, Commands::AddTitle),
    One(kPopAddTitle, Commands::AddTitle),
    One(kCmdAddUnderlay, Commands::AddUnderlay),
    One(kPopAddUnderlay, Commands::AddUnderlay),
    Span(kPopEditTitle, kPopEditTitle + kMaxTitleEditItems - 1, Commands::EditTitle),
    One(kCmdEditRevisions, Commands::EditRevisions),
    One(kPopEditRevisions, Commands::EditRevisions),
    One(kCmdUndo, Commands::Undo),
    One(kCmdPreview, Commands::Preview),
    One(kPopPreview, Commands::Preview),
    One(kCmdViewFrame, Commands::ViewFrame),
    One(kCmdPlayAVI, Commands::PlayAVI),
    One(kPopFineTune, Commands::FineTune, Commands::Runs::OnItsOwn),
    One(kCmdLargerSpan, Commands::LargerSpan),
    One(kCmdSmallerSpan, Commands::SmallerSpan),
    One(kCmdFitAll, Commands::FitAll),
    Span(kCmdEveryFrame, kCmdEvery60th, Commands::MenuStep),
    Span(kPopEveryFrame, kPopEvery60th, Commands::PopupStep),
    One(kCmdSmallImages, Commands::SmallImages),
    One(kPopSmallImages, Commands::SmallImages),
    One(kCmdMediumImages, Commands::MediumImages),
    One(kPopSmallImages + 1, Commands::MediumImages),
    One(kCmdLargeImages, Commands::LargeImages),
    One(kPopLargeImages, Commands::LargeImages),
    One(kCmdSelectAll, Commands::SelectAll),
    One(kPopSelectAll, Commands::SelectAll),
    One(kCmdTooltipsHelp, Commands::Tooltips),
    One(kPopTooltips, Commands::Tooltips),
    One(kCmdShowEdits, Commands::ShowEdits),
    One(kCmdCapture, Commands::Capture),
    Span(kCmdFirstDriver, kCmdLastDriver, Commands::Driver),
    One(kCmdSend, Commands::Send),
    One(kCmdFileInfo, Commands::FileInfo),
    One(kCmdHelp, Commands::Help),
    One(kCmdHelpTopics, Commands::Help),
    One(kCmdOverview, Commands::Help),
    One(kCmdTutorial, Commands::Help),
    One(kCmdAbout, Commands::Help),
    One(kCmdExit, Commands::Exit, Commands::Runs::OnItsOwn),
};

const Commands::Route* FindRoute(int32_t id) {
    for (const Commands::Route& route : kRoutes)
        if (id >= route.first && id <= route.last) return &route;
    return nullptr;
}

}  // namespace

void StoryboardWindow::Command(int32_t id, bool shift) {
    if (busy()) return;  // a long command is pumping messages
    CloseTooltip();
    CloseSplash();
    const Commands::Route* route = FindRoute(id);
    if (route && route->runs == Commands::Runs::OnItsOwn) {
        route->run(*this, {HWNDFromWidget(this), id, shift});
        return;
    }
    if (route) {
        BusyGuard running(busy_);
        route->run(*this, {HWNDFromWidget(this), id, shift});
    }
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
    ConversionBatch batch(*this);
    if (ReadProject(HWNDFromWidget(this))) {
        projectNamed_ = true;
        NoteProjectUsed();
    } else {
        std::memcpy(gSettings.ProjectFileName, previous, sizeof previous);
    }
    FreeThumbnails();
}

void StoryboardWindow::OpenRecentProject(size_t n) {
    if (n >= RecentProjects().size()) return;
    const std::string path = RecentProjects()[n];
    if (!QFileInfo(QString::fromStdString(path)).isFile()) {
        RemoveRecentProject(path);
        NotifyBox("Couldn't find project file <%s>\nIt has been removed from Recent Projects", path.c_str());
        return;
    }
    OpenProjectFile(path);
}

void StoryboardWindow::NoteProjectUsed() {
    const std::string path = gSettings.ProjectFileName;
    if (path.empty() || path[0] != '/') return;
    AddRecentProject(path);
    std::string why;
    if (!AddToRecentlyUsed({path, kProjectMimeType, "Quillory", "quillory %u"}, &why))
        DebugLog("recently-used list: %s", why.c_str());
}

void StoryboardWindow::InsertAVIFile(const std::string& name) {
    ConversionBatch batch(*this);
    std::string why;
    const auto start = std::chrono::steady_clock::now();
    const int32_t outcome = AppendAVIToProjectOutcome(HWNDFromWidget(this), name.c_str(), &why);
    const auto took = std::chrono::steady_clock::now() - start;
    const std::string file = QFileInfo(QString::fromStdString(name)).fileName().toStdString();
    NotifyWhenUnattended(this, std::chrono::duration_cast<std::chrono::milliseconds>(took).count(),
                         (outcome == kAppendAdded ? "Import finished: " : "Import failed: ") + file, why);
    if (outcome == kAppendNotOpened) NotifyFileNotOpened(name.c_str(), why);
    FreeThumbnails();
}

void StoryboardWindow::DropFiles(const std::vector<std::string>& files) {
    if (busy()) return;
    CloseTooltip();
    CloseSplash();
    {
        BusyGuard dropping(busy_);
        ConversionBatch batch(*this);
        for (const std::string& f : files) {
            if (ConversionCancelled()) break;
            if (IsProjectFileName(f))
                OpenProjectFile(f);
            else
                InsertAVIFile(f);
        }
    }
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

ConversionBatch::ConversionBatch(StoryboardWindow& window) : window_(window) {
    ++window_.batches_;
}

ConversionBatch::~ConversionBatch() {
    if (--window_.batches_ == 0) window_.conversions_.reset();
}

bool StoryboardWindow::ConversionCancelled() const {
    return conversions_ && conversions_->cancelled();
}

int32_t StoryboardWindow::ConformClip(const char* name, bool mismatched, std::string* clip,
                                      std::string* why) {
    ConformRequest request;
    if (!ProjectConformRequest(name, mismatched, ClipsFolderPath(), &request, why)) return kAppendNotOpened;
    BusyGuard converting(busy_);
    ConversionBatch batch(*this);
    if (!conversions_) conversions_ = std::make_unique<ConversionWindow>(this);
    const ConformResult result = conversions_->Convert(request);
    if (!result.ok) {
        if (!result.cancelled) NotifyBox("%s", result.message.c_str());
        return kAppendRefused;
    }
    *clip = result.path;
    return kAppendAdded;
}

// A take of another rate or size is converted into a clip of the project's format in the clips
// folder, in the progress window; true with the clip's name. False when it could not be converted
// (after its message) or was cancelled.
bool ConformTakeToProject(HWND owner, const char* take, std::string& conformed) {
    ConformRequest request;
    if (!gProject.head || !ConformFormatOfClip(gProject.head->name, &request.format)) return false;
    request.source = take;
    request.clipsFolder = ClipsFolderPath();
    const ConformResult result = ConversionWindow(LiveWidget(owner)).Convert(request);
    if (!result.ok) {
        if (!result.cancelled) NotifyBox("%s", result.message.c_str());
        return false;
    }
    conformed = result.path;
    return true;
}

void StoryboardWindow::ClearForCapture() {
    ClearProject();
    gView.step = 1;
    gView.position = 0;
    FreeThumbnails();
    canvas_->repaint();
    PumpPendingMessages();
}

void StoryboardWindow::CaptureIntoProject() {
    const HWND self = HWNDFromWidget(this);
    // A project that holds clips keeps them when the take is to be added; otherwise it is cleared
    // first. A project that plays the capture file itself is always cleared: the take is written
    // over it.
    bool adding = false;
    if (gProject.head) {
        bool usesCapFile = false;
        for (const AVIlist* clip = gProject.head; clip; clip = clip->next)
            usesCapFile = usesCapFile || std::strcmp(clip->name, gSettings.CapFile) == 0;
        adding = !usesCapFile && NotifyYesNo("Add The Capture To The Current Project?") != 0;
        if (!adding) {
            if (!NotifyOkCancel("This Will First Clear The Current Project")) return;
            ClearForCapture();
        }
    }
    gLastCapturedFile[0] = '\0';
    DoCapture5x(self);
    if (!gLastCapturedFile[0] || !NotifyYesNo("Open Captured File <%s>??", gLastCapturedFile)) return;
    std::string take = gLastCapturedFile;
    if (adding && !FileMatchesProjectFormat(take.c_str())) {
        std::string conformed;
        if (ConformTakeToProject(self, take.c_str(), conformed)) {
            take = conformed;
        } else {
            // The project cannot take it as it is: it opens on its own, as a capture into an empty project.
            if (!NotifyOkCancel("This Will First Clear The Current Project")) return;
            ClearForCapture();
        }
    }
    FreeThumbnails();
    std::string why;
    if (AppendAVIToProjectOutcome(self, take.c_str(), &why) == kAppendNotOpened)
        NotifyFileNotOpened(take.c_str(), why);
}

void StoryboardWindow::Render() {
    BusyGuard rendering(busy_);
    RenderProjectToAVI(HWNDFromWidget(this));
    canvas_->SetProgress(-1);
    ShowCaption();
}

bool StoryboardWindow::RememberProject() {
    if (!gSettings.ProjectFileName[0] || !projectNamed_) {
        std::string name;
        if (!ChooseProjectName(HWNDFromWidget(this), true, name) || !KeepProjectFileName(name)) return false;
        projectNamed_ = true;
    }
    if (WriteProject() != 1) return false;
    NoteProjectUsed();
    return true;
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
