// Delivering one message over SMTP with libcurl's MIME API: a text/plain note and each attachment
// in base64 under the name and type the caller gives. Certificates are verified.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "mail/provider/account.h"
#include "platform/mapi/mapi.h"

struct MailAttachment {
    std::string path;  // the file on disk; only read
    std::string name;  // the name the recipient sees
    std::string type;  // its MIME type
};

struct OutgoingMail {
    std::string from;  // the sender's address
    std::string fromName;
    std::vector<std::string> to, cc, bcc;
    std::string subject;
    std::string note;
    std::vector<MailAttachment> attachments;
};

// Shared between the sending thread and the one that shows progress.
struct DeliveryProgress {
    std::atomic<int64_t> sent{0};
    std::atomic<int64_t> total{0};
    std::atomic<bool> cancel{false};  // set by the user's Cancel; the send stops soon after
};

struct DeliveryResult {
    ULONG code = SUCCESS_SUCCESS;  // a Simple MAPI result
    // What went wrong, in words: the server's reply when it refused the mail, else libcurl's text.
    std::string error;
};

// Caps on what one message may hold.
constexpr size_t kMaxRecipients = 100;
constexpr size_t kMaxAttachments = 16;
constexpr size_t kMaxNoteBytes = 64 * 1024;
constexpr size_t kMaxHeaderTextBytes = 255;  // subject and display name are cut here

// The MIME type of an attachment by its name's extension.
std::string AttachmentType(const std::string& name);
// The attachment's size when it is a regular file that can be read; -1 with a reason otherwise.
int64_t AttachmentSize(const std::string& path, std::string& problem);

// Sends the message; blocks until the server took it or it failed: a silent server is given up
// within about a minute, the whole send after that plus the message's time at a slow link.
// progress may be null.
DeliveryResult DeliverMail(const MailAccount& account, const std::string& password, const OutgoingMail& mail,
                           DeliveryProgress* progress);
