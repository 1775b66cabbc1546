#include "mail/mail.h"

#include <cstring>
#include <optional>
#include <string>

#include "core/diag.h"
#include "core/dialogs.h"
#include "core/memory.h"
#include "media/fileinfo.h"
#include "platform/mapi/loader.h"
#include "platform/mapi/mapi.h"
#include "platform/mp4/mp4.h"
#include "project/project.h"
#include "render/output.h"
#include "render/render.h"
#include "settings/settings.h"

namespace {

// The position that keeps an attachment out of the note text.
constexpr ULONG kNotInNote = static_cast<ULONG>(-1);

std::string FolderOf(const std::string& name) {
    size_t slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash);
}

// The options of "Send as:" in the record-first question.
constexpr int kSendAsMp4 = 0;
constexpr int kSendAsAvi = 1;

// The file's summary for the note (DescribeAVI, or its MP4 form), released with the memory monitor.
struct Summary {
    char* text = nullptr;
    int64_t fileLength = 0;
    bool mp4 = false;
    ~Summary() {
        if (text) MyMallocFree(text);
    }
    // False when the file is neither an AVI nor an MP4 file.
    bool Describe(const std::string& file) {
        if ((text = DescribeAVI(file.c_str(), &fileLength))) return true;
        mp4 = (text = DescribeMP4(file.c_str(), &fileLength)) != nullptr;
        return mp4;
    }
    // The name the recipient sees.
    const char* shownName() const { return mp4 ? kMailAttachmentNameMp4 : kMailAttachmentName; }
};

// Asks whether to record the project first, offering the format (remembered in the settings);
// the kind of file to render, or nullopt for No.
std::optional<RenderKind> AskRecordFirst() {
    const bool mp4Possible = Mp4Available();
    const BoxChoice choice{"Send as:", {"MP4, plays everywhere (recommended)", "AVI"}, {mp4Possible, true}};
    int selected = mp4Possible && std::strcmp(gSettings.SendAs, "AVI") != 0 ? kSendAsMp4 : kSendAsAvi;
    if (!NotifyYesNoWithChoice(choice, &selected, "Record Project To AVI File First?")) return std::nullopt;
    const bool mp4 = selected == kSendAsMp4 && mp4Possible;
    std::strcpy(gSettings.SendAs, mp4 ? "MP4" : "AVI");
    return mp4 ? RenderKind::kMp4 : RenderKind::kAvi;
}

// Loads the provider, logs on, sends and logs off, with a message at each failing step; the
// library is unloaded in every case. 1 when the mail went.
int32_t SendThroughProvider(HWND window, MapiMessage& message, char* profile, char* password,
                            FLAGS logonFlags, FLAGS sendFlags) {
    HMODULE library = LoadLibraryA(kMapiLibraryName);
    if (!library) {
        NotifyBox("LoadLibrary failed");
        return 0;
    }
    auto logon = reinterpret_cast<LPMAPILOGON>(GetProcAddress(library, "MAPILogon"));
    auto logoff = reinterpret_cast<LPMAPILOGOFF>(GetProcAddress(library, "MAPILogoff"));
    auto send = reinterpret_cast<LPMAPISENDMAIL>(GetProcAddress(library, "MAPISendMail"));
    const auto ui = reinterpret_cast<ULONG_PTR>(window);
    int32_t sent = 0;
    if (!logon || !logoff || !send) {
        NotifyBox("GetProcAddress failed");
    } else {
        LHANDLE session = 0;
        ULONG r = logon(ui, profile, password, logonFlags, 0, &session);
        if (r != SUCCESS_SUCCESS) {
            NotifyBox("MAPILogon failed %08lx", static_cast<unsigned long>(r));
        } else if ((r = send(session, ui, &message, sendFlags, 0)) != SUCCESS_SUCCESS) {
            // The session is left as the provider has it: logging off after a failed send is not asked.
            NotifyBox("MAPISendMail failed %08lx", static_cast<unsigned long>(r));
        } else {
            sent = 1;
            if ((r = logoff(session, ui, 0, 0)) != SUCCESS_SUCCESS)
                NotifyBox("MAPILogoff failed %08lx", static_cast<unsigned long>(r));
        }
    }
    if (!FreeLibrary(library)) NotifyBox("FreeLibrary failed");
    return sent;
}

// The file to send: a fresh render of the project, or one the user picks. Empty when none.
std::string ChooseFile(HWND window, const std::function<void()>& repaint) {
    if (gProject.head) {
        if (const std::optional<RenderKind> kind = AskRecordFirst()) {
            const int32_t written = RenderProjectToAVI(window, *kind);
            if (repaint) repaint();
            return written ? LastRenderOutputName() : std::string();
        }
    }
    const std::string last(gSettings.LastSaveAVIfileName,
                           strnlen(gSettings.LastSaveAVIfileName, sizeof gSettings.LastSaveAVIfileName));
    FileDialogRequest request;
    request.owner = window;
    request.title = "Select AVI File To Mail";
    request.filters = {{"AVI Files", "*.avi"}, {"MP4 Files", "*.mp4"}, {"All Files", "*.*"}};
    request.filterIndex = IsMp4Name(last) ? 2 : 1;
    request.initialDir = FolderOf(last);
    request.initialName = last;
    request.flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    std::string chosen;
    return GetOpenFileNameA(request, chosen) ? chosen : std::string();
}

}  // namespace

void SendAVIByMail(HWND window, const std::function<void()>& repaint) {
    std::string file = ChooseFile(window, repaint);
    if (file.empty()) return;
    Summary summary;
    if (!summary.Describe(file)) {
        NotifyBox("%s is not a valid AVI file", file.c_str());
        return;
    }
    if (!NotifyOkCancel("The file %s is %ld bytes in length\nDo you wish to continue?", file.c_str(),
                        static_cast<long>(summary.fileLength)))
        return;

    std::string subject = kMailSubject, shownName = summary.shownName();
    MapiFileDesc attachment{};
    attachment.nPosition = kNotInNote;
    attachment.lpszPathName = file.data();
    attachment.lpszFileName = shownName.data();
    MapiMessage message{};
    message.lpszSubject = subject.data();
    message.lpszNoteText = summary.text;
    message.nFileCount = 1;
    message.lpFiles = &attachment;
    SendThroughProvider(window, message, nullptr, nullptr, MAPI_LOGON_UI, MAPI_DIALOG);
}

int32_t SendAVIWithoutDialogs(const DirectMail& mail) {
    Summary summary;
    if (!summary.Describe(mail.file)) {
        NotifyBox("%s is not a valid AVI file", mail.file.c_str());
        return 0;
    }
    std::string path = mail.file, subject = mail.subject, note = mail.note.empty() ? summary.text : mail.note;
    std::string from = mail.from, profile = mail.profile, password = mail.password.value_or("");
    std::string shownName = summary.shownName();
    std::vector<std::string> addresses = mail.to;
    addresses.insert(addresses.end(), mail.cc.begin(), mail.cc.end());
    std::vector<MapiRecipDesc> recipients(addresses.size());
    for (size_t i = 0; i < addresses.size(); ++i) {
        recipients[i].ulRecipClass = i < mail.to.size() ? MAPI_TO : MAPI_CC;
        recipients[i].lpszAddress = addresses[i].data();
    }
    MapiRecipDesc originator{0, MAPI_ORIG, nullptr, from.data(), 0, nullptr};

    MapiFileDesc attachment{};
    attachment.nPosition = kNotInNote;
    attachment.lpszPathName = path.data();
    attachment.lpszFileName = shownName.data();
    MapiMessage message{};
    message.lpszSubject = subject.data();
    message.lpszNoteText = note.data();
    message.lpOriginator = from.empty() ? nullptr : &originator;
    message.nRecipCount = static_cast<ULONG>(recipients.size());
    message.lpRecips = recipients.data();
    message.nFileCount = 1;
    message.lpFiles = &attachment;
    return SendThroughProvider(nullptr, message, profile.data(), mail.password ? password.data() : nullptr, 0,
                               0);
}
