// libquillory-mapi.so: the program's own Simple MAPI provider. MAPILogon finds the account (asking
// for it the first time), MAPISendMail lets the user address and edit the message and delivers it
// over SMTP, MAPILogoff ends the session. Only these three names are exported.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include "mail/provider/account.h"
#include "mail/provider/delivery.h"
#include "mail/provider/keyring.h"
#include "mail/provider/ui.h"
#include "platform/mapi/mapi.h"

#define MAPI_EXPORT extern "C" __attribute__((visibility("default")))

MAPI_EXPORT ULONG MAPILogon(ULONG_PTR ulUIParam, char* lpszProfileName, char* lpszPassword, FLAGS flFlags,
                            ULONG ulReserved, LPLHANDLE lplhSession);
MAPI_EXPORT ULONG MAPISendMail(LHANDLE lhSession, ULONG_PTR ulUIParam, lpMapiMessage lpMessage, FLAGS flFlags,
                               ULONG ulReserved);
MAPI_EXPORT ULONG MAPILogoff(LHANDLE lhSession, ULONG_PTR ulUIParam, FLAGS flFlags, ULONG ulReserved);

static_assert(std::is_same_v<decltype(&MAPILogon), LPMAPILOGON>);
static_assert(std::is_same_v<decltype(&MAPISendMail), LPMAPISENDMAIL>);
static_assert(std::is_same_v<decltype(&MAPILogoff), LPMAPILOGOFF>);

namespace {

// Sessions kept at once. A caller may leave one open (no logoff after a failed send), and the
// library stays loaded, so the oldest is ended to make room rather than refusing new ones.
constexpr size_t kMaxSessions = 16;
constexpr size_t kMaxPathBytes = 4096;

struct Session {
    LHANDLE handle = 0;  // a number that is never given out twice
    MailAccount account;
    std::string password;
    bool havePassword = false;
    bool passwordFromKeyring = false;
};

std::mutex gSessionsLock;
std::deque<std::unique_ptr<Session>> gSessions;  // oldest first
LHANDLE gLastHandle = 0;

Session* FindSession(LHANDLE handle) {
    std::lock_guard<std::mutex> hold(gSessionsLock);
    for (const auto& s : gSessions)
        if (handle != 0 && s->handle == handle) return s.get();
    return nullptr;
}

// A caller's string, read up to limit bytes (the rest is dropped).
std::string Text(const char* s, size_t limit) {
    return s ? std::string(s, strnlen(s, limit)) : std::string();
}

std::string PlainAddress(const MapiRecipDesc& r) {
    std::string a = Text(r.lpszAddress ? r.lpszAddress : r.lpszName, kMaxAccountFieldChars + 8);
    if (a.size() > 5 && strncasecmp(a.c_str(), "SMTP:", 5) == 0) a.erase(0, 5);
    return a;
}

void Scrub(std::string& secret) {
    std::fill(secret.begin(), secret.end(), '\0');
    secret.clear();
}

// The password for the session's account: from the keyring, or asked for. 0 or a MAPI error.
ULONG ObtainPassword(QWidget* owner, Session& s) {
    if (s.havePassword || s.account.user.empty()) return SUCCESS_SUCCESS;
    if (!CanShowDialogs()) return MAPI_E_LOGIN_FAILURE;
    std::string password;
    const KeyringAnswer answer = ReadKeyringPassword(s.account, password);
    if (answer == KeyringAnswer::Found) {
        s.password = password;
        s.havePassword = s.passwordFromKeyring = true;
        Scrub(password);
        return SUCCESS_SUCCESS;
    }
    bool remember = false;
    if (!AskPassword(owner, s.account, answer == KeyringAnswer::NotFound, password, remember))
        return MAPI_USER_ABORT;
    if (remember && !WriteKeyringPassword(s.account, password))
        ShowMailError(owner,
                      "The desktop keyring did not keep the password; it will be asked for next time.");
    s.password = password;
    s.havePassword = true;
    s.passwordFromKeyring = remember;
    Scrub(password);
    return SUCCESS_SUCCESS;
}

ULONG Logon(ULONG_PTR ui, const char* profile, const char* password, FLAGS flags, LHANDLE* out) {
    if (!out) return MAPI_E_FAILURE;
    *out = 0;
    QWidget* owner = OwnerWidget(ui);
    auto session = std::make_unique<Session>();
    const std::string name = Text(profile, kMaxPathBytes);
    if (!name.empty()) {
        std::string problem;
        if (!AccountFromProfile(name, session->account, problem)) {
            ShowMailError(owner, problem);
            return MAPI_E_LOGIN_FAILURE;
        }
    } else {
        session->account = LoadAccount();
        if (!AccountProblem(session->account).empty()) {
            if (!(flags & MAPI_LOGON_UI) || !CanShowDialogs()) return MAPI_E_LOGIN_FAILURE;
            if (!EditAccount(owner, session->account)) return MAPI_USER_ABORT;
            if (!SaveAccount(session->account))
                ShowMailError(owner, "The account could not be saved in " + AccountFilePath() + ".");
        }
    }
    if (password) {
        session->password = Text(password, kMaxAccountFieldChars);
        session->havePassword = true;
    }
    std::lock_guard<std::mutex> hold(gSessionsLock);
    if (gSessions.size() >= kMaxSessions) {
        Scrub(gSessions.front()->password);
        gSessions.pop_front();
    }
    session->handle = ++gLastHandle;
    *out = session->handle;
    gSessions.push_back(std::move(session));
    return SUCCESS_SUCCESS;
}

void Logoff(Session* s) {
    std::lock_guard<std::mutex> hold(gSessionsLock);
    Scrub(s->password);
    gSessions.erase(
        std::remove_if(gSessions.begin(), gSessions.end(), [s](const auto& p) { return p.get() == s; }),
        gSessions.end());
}

// The message as the provider sends it; 0 or a MAPI error.
ULONG ReadMessage(const MapiMessage& m, const Session& s, OutgoingMail& mail, std::string& problem) {
    mail.subject = Text(m.lpszSubject, kMaxHeaderTextBytes * 4);
    mail.note = Text(m.lpszNoteText, kMaxNoteBytes + 1);
    mail.from = s.account.sender;
    mail.fromName = s.account.displayName;
    if (m.lpOriginator && (m.lpOriginator->lpszAddress || m.lpOriginator->lpszName)) {
        mail.from = PlainAddress(*m.lpOriginator);
        mail.fromName =
            m.lpOriginator->lpszAddress ? Text(m.lpOriginator->lpszName, kMaxAccountFieldChars) : "";
    }
    if (m.nRecipCount > kMaxRecipients) return MAPI_E_TOO_MANY_RECIPIENTS;
    if (m.nRecipCount && !m.lpRecips) return MAPI_E_INVALID_RECIPS;
    for (ULONG i = 0; i < m.nRecipCount; ++i) {
        const MapiRecipDesc& r = m.lpRecips[i];
        const std::string address = PlainAddress(r);
        if (r.ulRecipClass == MAPI_TO)
            mail.to.push_back(address);
        else if (r.ulRecipClass == MAPI_CC)
            mail.cc.push_back(address);
        else if (r.ulRecipClass == MAPI_BCC)
            mail.bcc.push_back(address);
        else
            return MAPI_E_BAD_RECIPTYPE;
    }
    if (m.nFileCount > kMaxAttachments) return MAPI_E_TOO_MANY_FILES;
    if (m.nFileCount && !m.lpFiles) return MAPI_E_ATTACHMENT_NOT_FOUND;
    for (ULONG i = 0; i < m.nFileCount; ++i) {
        const MapiFileDesc& f = m.lpFiles[i];
        MailAttachment a;
        a.path = Text(f.lpszPathName, kMaxPathBytes);
        a.name = Text(f.lpszFileName, kMaxPathBytes);
        if (a.name.empty()) a.name = a.path.substr(a.path.rfind('/') + 1);
        a.type = AttachmentType(a.name);
        if (AttachmentSize(a.path, problem) < 0) return MAPI_E_ATTACHMENT_NOT_FOUND;
        mail.attachments.push_back(a);
    }
    return SUCCESS_SUCCESS;
}

ULONG Send(Session& s, ULONG_PTR ui, const MapiMessage& message, FLAGS flags) {
    QWidget* owner = OwnerWidget(ui);
    OutgoingMail mail;
    std::string problem;
    if (ULONG r = ReadMessage(message, s, mail, problem)) {
        if (!problem.empty()) ShowMailError(owner, problem);
        return r;
    }
    if ((flags & MAPI_DIALOG) && CanShowDialogs()) {
        bool accountChanged = false;
        if (!EditMessage(owner, mail, s.account, accountChanged)) return MAPI_USER_ABORT;
        if (accountChanged) {
            if (!SaveAccount(s.account))
                ShowMailError(owner, "The account could not be saved in " + AccountFilePath() + ".");
            Scrub(s.password);
            s.havePassword = s.passwordFromKeyring = false;
        }
    }
    if (ULONG r = ObtainPassword(owner, s)) return r;
    const DeliveryResult result = CanShowDialogs() ? DeliverWithProgress(owner, s.account, s.password, mail)
                                                   : DeliverMail(s.account, s.password, mail, nullptr);
    if (result.code == MAPI_E_LOGIN_FAILURE) {
        // A refused password is not offered again.
        if (s.passwordFromKeyring) ForgetKeyringPassword(s.account);
        Scrub(s.password);
        s.havePassword = s.passwordFromKeyring = false;
    }
    if (result.code != SUCCESS_SUCCESS && result.code != MAPI_USER_ABORT)
        ShowMailError(owner, "The mail was not sent: " + result.error);
    return result.code;
}

}  // namespace

MAPI_EXPORT ULONG MAPILogon(ULONG_PTR ulUIParam, char* lpszProfileName, char* lpszPassword, FLAGS flFlags,
                            ULONG, LPLHANDLE lplhSession) {
    try {
        return Logon(ulUIParam, lpszProfileName, lpszPassword, flFlags, lplhSession);
    } catch (...) {
        return MAPI_E_INSUFFICIENT_MEMORY;
    }
}

MAPI_EXPORT ULONG MAPISendMail(LHANDLE lhSession, ULONG_PTR ulUIParam, lpMapiMessage lpMessage, FLAGS flFlags,
                               ULONG) {
    try {
        if (!lpMessage) return MAPI_E_FAILURE;
        if (lhSession == 0) {
            // Without a session the send logs on for itself and off again.
            LHANDLE implicit = 0;
            if (ULONG r = Logon(ulUIParam, nullptr, nullptr, flFlags & MAPI_LOGON_UI, &implicit)) return r;
            Session* s = FindSession(implicit);
            ULONG r = Send(*s, ulUIParam, *lpMessage, flFlags);
            Logoff(s);
            return r;
        }
        Session* s = FindSession(lhSession);
        return s ? Send(*s, ulUIParam, *lpMessage, flFlags) : MAPI_E_INVALID_SESSION;
    } catch (...) {
        return MAPI_E_INSUFFICIENT_MEMORY;
    }
}

MAPI_EXPORT ULONG MAPILogoff(LHANDLE lhSession, ULONG_PTR, FLAGS, ULONG) {
    Session* s = FindSession(lhSession);
    if (!s) return MAPI_E_INVALID_SESSION;
    Logoff(s);
    return SUCCESS_SUCCESS;
}
