// Sending an AVI or MP4 file as a mail attachment through the Simple MAPI provider, loaded at the
// moment of sending: from the storyboard (the provider's own dialogs address the mail) and from the
// command line (everything given, no dialogs).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/wintypes.h"

constexpr const char* kMailSubject = "You Have Clipgram";
// The name the recipient sees, whatever the file is called on disk.
constexpr const char* kMailAttachmentName = "Cgram.avi";
constexpr const char* kMailAttachmentNameMp4 = "Cgram.mp4";

// The storyboard's Send command: offers to render the project first (as MP4 or AVI, the choice kept
// in gSettings.SendAs), else asks for a file; checks that it is an AVI or MP4 file, asks whether to
// go on at its size, and hands it to the provider with its summary as the note. repaint (may be
// empty) runs after a render.
void SendAVIByMail(HWND window, const std::function<void()>& repaint = {});

// A send without dialogs.
struct DirectMail {
    std::string file;
    std::vector<std::string> to;
    std::vector<std::string> cc;
    std::string subject = kMailSubject;
    std::string note;     // empty: the file's summary (DescribeAVI or DescribeMP4)
    std::string from;     // the sender's address
    std::string profile;  // the account, as SmtpProfileName gives it
    std::optional<std::string> password;
};
// 1 when the provider sent it; 0 after a message (the Send command's messages).
int32_t SendAVIWithoutDialogs(const DirectMail& mail);
