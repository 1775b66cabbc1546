#include "mail/provider/delivery.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDateTime>
#include <QUuid>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace {

// A server that has not greeted and finished the handshake (EHLO, TLS, login) by then is given up.
constexpr long kConnectTimeoutSeconds = 30;
// The longest wait for one reply (the one after the message included) or for the server to take data.
constexpr long kStallSeconds = 60;
// Less than this many bytes a second, for kStallSeconds, counts as a server that takes no data.
constexpr long kLowSpeedBytes = 16;
// The whole send is given up after kStallSeconds plus the time the message needs at this speed
// (128 kbit/s).
constexpr int64_t kSlowLinkBytesPerSecond = 16000;
// The longest wait for the answer to QUIT: the mail has gone, or failed, by then.
constexpr std::chrono::seconds kQuitWait{2};
// QUILLORY_SMTP_STALL_SECONDS=N (1 to kStallSeconds) waits less for a silent server (tests).
constexpr const char* kStallSecondsVariable = "QUILLORY_SMTP_STALL_SECONDS";
// A server's reply is shown up to this many bytes.
constexpr size_t kMaxReplyBytes = 512;
constexpr size_t kMaxAttachmentNameBytes = 200;

struct TypeByExtension {
    const char* extension;
    const char* type;
};
constexpr TypeByExtension kAttachmentTypes[] = {{".avi", "video/x-msvideo"}, {".mp4", "video/mp4"}};

// An open attachment that libcurl reads through the callbacks below.
struct OpenFile {
    int fd = -1;
    int64_t size = 0;
};

size_t ReadAttachment(char* buffer, size_t size, size_t items, void* arg) {
    auto* file = static_cast<OpenFile*>(arg);
    for (;;) {
        ssize_t n = read(file->fd, buffer, size * items);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno != EINTR) return CURL_READFUNC_ABORT;
    }
}

int SeekAttachment(void* arg, curl_off_t offset, int origin) {
    auto* file = static_cast<OpenFile*>(arg);
    return lseek(file->fd, static_cast<off_t>(offset), origin) < 0 ? CURL_SEEKFUNC_FAIL : CURL_SEEKFUNC_OK;
}

void CloseAttachment(void* arg) {
    auto* file = static_cast<OpenFile*>(arg);
    if (file->fd >= 0) close(file->fd);
    delete file;
}

// Opened without blocking (a named pipe would hang the send) and only when it is a regular file.
OpenFile* OpenAttachment(const std::string& path, std::string& problem) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        problem = "Cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        problem = path + " is not a regular file";
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return new OpenFile{fd, static_cast<int64_t>(st.st_size)};
}

bool IsAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 128) return false;
    return true;
}

// Line breaks and other control characters become blanks, and the text is cut at limit bytes
// without splitting a UTF-8 sequence.
std::string Printable(const std::string& s, size_t limit) {
    std::string out;
    for (unsigned char c : s) out += c < ' ' || c == 127 ? ' ' : static_cast<char>(c);
    if (out.size() > limit) {
        size_t cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
    }
    return out;
}

// Text for a header.
std::string HeaderText(const std::string& s) {
    return Printable(s, kMaxHeaderTextBytes);
}

// The server's replies, fed the bytes libcurl's debug callback sees coming in, in pieces of any
// size. Keeps the last refusal (a code of 400 and up) as one line: the code, then the text of every
// line of the reply, an enhanced status code that each line repeats given once.
class ServerReplies {
  public:
    void Take(const char* data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            if (data[i] == '\n')
                EndLine();
            else if (line_.size() < kMaxReplyBytes)
                line_ += data[i];
        }
    }
    int refusalCode() const { return refusalCode_; }
    const std::string& refusal() const { return refusal_; }

  private:
    void EndLine() {
        std::string line;
        line.swap(line_);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const bool isReply = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                             std::isdigit(static_cast<unsigned char>(line[1])) &&
                             std::isdigit(static_cast<unsigned char>(line[2])) &&
                             (line.size() == 3 || line[3] == ' ' || line[3] == '-');
        if (!isReply) return;
        const int code = std::stoi(line.substr(0, 3));
        std::string text = line.size() > 4 ? line.substr(4) : std::string();
        text.erase(0, text.find_first_not_of(' '));
        if (open_ && code == code_) {
            if (!enhanced_.empty() && text.compare(0, enhanced_.size() + 1, enhanced_ + " ") == 0)
                text.erase(0, text.find_first_not_of(' ', enhanced_.size()));
            if (!text.empty() && reply_.size() < kMaxReplyBytes) reply_ += " " + text;
        } else {
            code_ = code;
            reply_ = line.substr(0, 3) + (text.empty() ? "" : " " + text);
            const size_t blank = text.find(' ');
            enhanced_ = text.substr(0, blank);
            if (blank == std::string::npos || enhanced_.find_first_not_of("0123456789.") != std::string::npos)
                enhanced_.clear();
        }
        open_ = line.size() > 3 && line[3] == '-';
        if (!open_ && code_ >= 400) {
            refusalCode_ = code_;
            refusal_ = Printable(reply_, kMaxReplyBytes);
        }
    }

    std::string line_;      // the line being read
    std::string reply_;     // the reply being read, its lines so far joined
    std::string enhanced_;  // its first line's enhanced status code ("5.7.1"), if any
    int code_ = 0;
    bool open_ = false;  // more lines of reply_ are to come
    int refusalCode_ = 0;
    std::string refusal_;
};

// What libcurl's debug and progress callbacks share while one message is sent.
struct Conversation {
    ServerReplies replies;
    DeliveryProgress* progress = nullptr;  // may be null
    std::optional<std::chrono::steady_clock::time_point> quitSent;
};

int Overhear(CURL*, curl_infotype type, char* data, size_t size, void* arg) {
    auto* talk = static_cast<Conversation*>(arg);
    if (type == CURLINFO_HEADER_IN) talk->replies.Take(data, size);
    if (type == CURLINFO_HEADER_OUT && !talk->quitSent && size >= 4 && strncasecmp(data, "QUIT", 4) == 0)
        talk->quitSent = std::chrono::steady_clock::now();
    return 0;
}

// Also ends the wait for the answer to QUIT after kQuitWait.
int ReportProgress(void* arg, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
    auto* talk = static_cast<Conversation*>(arg);
    if (talk->quitSent && std::chrono::steady_clock::now() - *talk->quitSent >= kQuitWait) return 1;
    if (!talk->progress) return 0;
    talk->progress->sent = static_cast<int64_t>(uploaded);
    return talk->progress->cancel ? 1 : 0;
}

// kStallSeconds, or less when the environment asks for it.
long StallSeconds() {
    const char* text = std::getenv(kStallSecondsVariable);
    if (!text) return kStallSeconds;
    char* end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && seconds >= 1 && seconds <= kStallSeconds ? seconds : kStallSeconds;
}

// RFC 2047 encoded words for text that is not plain ASCII; each word carries whole characters.
std::string EncodedWords(const std::string& text) {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = std::min(text.size(), pos + 45);
        while (end < text.size() && end > pos && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            --end;
        if (end == pos) end = std::min(text.size(), pos + 45);
        QByteArray chunk(text.data() + pos, static_cast<qsizetype>(end - pos));
        if (!out.empty()) out += ' ';
        out += "=?UTF-8?B?" + chunk.toBase64().toStdString() + "?=";
        pos = end;
    }
    return out;
}

std::string Unstructured(const std::string& s) {
    std::string text = HeaderText(s);
    return IsAscii(text) ? text : EncodedWords(text);
}

std::string Mailbox(const std::string& name, const std::string& address) {
    std::string n = HeaderText(name);
    if (n.empty()) return address;
    if (!IsAscii(n)) return EncodedWords(n) + " <" + address + ">";
    std::string quoted = "\"";
    for (char c : n) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\" <" + address + ">";
}

std::string AddressList(const std::vector<std::string>& list) {
    std::string out;
    for (const std::string& a : list) out += (out.empty() ? "" : ", ") + a;
    return out;
}

// The name as the recipient sees it: no folders, no control characters, not too long.
std::string ShownName(const MailAttachment& a) {
    std::string name = a.name.empty() ? a.path : a.name;
    if (size_t slash = name.rfind('/'); slash != std::string::npos) name = name.substr(slash + 1);
    name = HeaderText(name);
    if (name.size() > kMaxAttachmentNameBytes) name.resize(kMaxAttachmentNameBytes);
    return name.empty() ? "attachment" : name;
}

std::string WithCRLF(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

ULONG ResultOf(CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return SUCCESS_SUCCESS;
        case CURLE_ABORTED_BY_CALLBACK:
            return MAPI_USER_ABORT;
        case CURLE_LOGIN_DENIED:
            return MAPI_E_LOGIN_FAILURE;
        case CURLE_READ_ERROR:
            return MAPI_E_ATTACHMENT_OPEN_FAILURE;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
            return MAPI_E_NETWORK_FAILURE;
        default:
            return MAPI_E_FAILURE;
    }
}

struct CurlHandles {
    CURL* curl = nullptr;
    curl_mime* mime = nullptr;
    curl_slist* headers = nullptr;
    curl_slist* recipients = nullptr;
    ~CurlHandles() {
        curl_mime_free(mime);
        curl_slist_free_all(headers);
        curl_slist_free_all(recipients);
        if (curl) curl_easy_cleanup(curl);
    }
};

}  // namespace

std::string AttachmentType(const std::string& name) {
    for (const auto& t : kAttachmentTypes) {
        const size_t n = std::strlen(t.extension);
        if (name.size() >= n && strncasecmp(name.c_str() + name.size() - n, t.extension, n) == 0)
            return t.type;
    }
    return "application/octet-stream";
}

int64_t AttachmentSize(const std::string& path, std::string& problem) {
    OpenFile* file = OpenAttachment(path, problem);
    if (!file) return -1;
    int64_t size = file->size;
    CloseAttachment(file);
    return size;
}

DeliveryResult DeliverMail(const MailAccount& account, const std::string& password, const OutgoingMail& mail,
                           DeliveryProgress* progress) {
    DeliveryResult result;
    auto fail = [&result](ULONG code, std::string error) {
        result.code = code;
        result.error = std::move(error);
        return result;
    };
    if (!IsMailAddress(mail.from)) return fail(MAPI_E_FAILURE, "The sender address is missing or not valid.");
    const size_t count = mail.to.size() + mail.cc.size() + mail.bcc.size();
    if (mail.to.empty() && mail.cc.empty() && mail.bcc.empty())
        return fail(MAPI_E_INVALID_RECIPS, "No recipient.");
    if (count > kMaxRecipients) return fail(MAPI_E_TOO_MANY_RECIPIENTS, "Too many recipients.");
    for (const auto* list : {&mail.to, &mail.cc, &mail.bcc})
        for (const std::string& a : *list)
            if (!IsMailAddress(a))
                return fail(MAPI_E_UNKNOWN_RECIPIENT, "Not a mail address: " + HeaderText(a));
    if (mail.note.size() > kMaxNoteBytes) return fail(MAPI_E_TEXT_TOO_LARGE, "The note text is too long.");
    if (mail.attachments.size() > kMaxAttachments)
        return fail(MAPI_E_TOO_MANY_FILES, "Too many attachments.");

    // Declared before the handles: libcurl may still write to them while the connection closes.
    char errorText[CURL_ERROR_SIZE] = "";
    Conversation talk;
    CurlHandles h;
    h.curl = curl_easy_init();
    if (!h.curl) return fail(MAPI_E_INSUFFICIENT_MEMORY, "libcurl could not start.");
    CURL* curl = h.curl;
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, Overhear);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &talk);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    // The connection closes within the send, under its own callbacks and time limits.
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(curl, CURLOPT_URL, AccountURL(account).c_str());
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    const long stallSeconds = StallSeconds();
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, stallSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytes);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stallSeconds);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!account.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, account.caFile.c_str());
    long useSsl = CURLUSESSL_ALL;
    if (account.security == MailSecurity::None) useSsl = CURLUSESSL_NONE;
    if (account.security == MailSecurity::StartTls && account.startTlsIfOffered) useSsl = CURLUSESSL_TRY;
    if (account.security != MailSecurity::SslTls) curl_easy_setopt(curl, CURLOPT_USE_SSL, useSsl);
    if (!account.user.empty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, account.user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
    }

    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, ("<" + mail.from + ">").c_str());
    for (const auto* list : {&mail.to, &mail.cc, &mail.bcc})
        for (const std::string& a : *list)
            h.recipients = curl_slist_append(h.recipients, ("<" + a + ">").c_str());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, h.recipients);

    const std::string domain = mail.from.substr(mail.from.find('@') + 1);
    std::vector<std::string> headers = {
        "Date: " + QDateTime::currentDateTime().toString(Qt::RFC2822Date).toStdString(),
        "From: " + Mailbox(mail.fromName, mail.from), "Subject: " + Unstructured(mail.subject),
        "Message-ID: <" + QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString() + "@" + domain +
            ">",
        "X-Mailer: Quillory"};
    if (!mail.to.empty()) headers.push_back("To: " + AddressList(mail.to));
    if (!mail.cc.empty()) headers.push_back("Cc: " + AddressList(mail.cc));
    for (const std::string& line : headers) h.headers = curl_slist_append(h.headers, line.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, h.headers);

    h.mime = curl_mime_init(curl);
    curl_mimepart* text = curl_mime_addpart(h.mime);
    const std::string note = WithCRLF(mail.note);
    curl_mime_data(text, note.data(), note.size());
    curl_mime_type(text, "text/plain; charset=UTF-8");
    curl_mime_encoder(text, "quoted-printable");
    int64_t total = static_cast<int64_t>(note.size());
    for (const MailAttachment& a : mail.attachments) {
        std::string problem;
        OpenFile* file = OpenAttachment(a.path, problem);
        if (!file) return fail(MAPI_E_ATTACHMENT_OPEN_FAILURE, problem);
        curl_mimepart* part = curl_mime_addpart(h.mime);
        total += (file->size + 2) / 3 * 4 + file->size / 57 * 2;  // base64 in lines of 76
        curl_mime_data_cb(part, file->size, ReadAttachment, SeekAttachment, CloseAttachment, file);
        curl_mime_filename(part, ShownName(a).c_str());
        curl_mime_type(part, (a.type.empty() ? AttachmentType(ShownName(a)) : a.type).c_str());
        curl_mime_encoder(part, "base64");
    }
    curl_easy_setopt(curl, CURLOPT_MIMEPOST, h.mime);
    const int64_t deadlineSeconds = stallSeconds + total / kSlowLinkBytesPerSecond;
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(std::min<int64_t>(deadlineSeconds, LONG_MAX)));
    if (progress) {
        progress->total = total;
        progress->sent = 0;
    }
    talk.progress = progress;
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, ReportProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &talk);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);

    const CURLcode code = curl_easy_perform(curl);
    if (code == CURLE_OK) return result;
    // The server's own words when its last answer refused the mail; libcurl's when it never did.
    long answered = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answered);
    const ServerReplies& replies = talk.replies;
    if (code != CURLE_ABORTED_BY_CALLBACK && replies.refusalCode() != 0 && replies.refusalCode() == answered)
        return fail(ResultOf(code), replies.refusal());
    return fail(ResultOf(code), errorText[0] ? errorText : curl_easy_strerror(code));
}
