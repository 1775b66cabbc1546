// The provider's mail account: the SMTP server and how to reach it, and who the mail is from. It
// is kept in the provider's own settings file beside the program's settings; the password never
// is (it lives in the desktop's keyring, or is asked for each time).
#pragma once

#include <cstdint>
#include <string>

enum class MailSecurity { SslTls, StartTls, None };

struct MailAccount {
    std::string server;
    int32_t port = 0;
    MailSecurity security = MailSecurity::SslTls;
    std::string user;         // empty: the server takes mail without logging in
    std::string sender;       // the From address
    std::string displayName;  // shown with the From address; may be empty
    std::string caFile;       // certificates to trust instead of the system's; usually empty
    // Set by profile URLs of the "smtp://" form: STARTTLS when the server offers it, required
    // unless the server is on this computer.
    bool startTlsIfOffered = false;
};

// The longest text kept in an account field; longer values read from the file are refused.
constexpr size_t kMaxAccountFieldChars = 320;

// Port numbers the dialog proposes for each kind of security.
int32_t DefaultPort(MailSecurity security);

// True for "localhost" and for loopback addresses (127.0.0.0/8, ::1).
bool IsLoopbackHost(const std::string& host);
// A plain address "local@domain": no blanks, control characters, brackets or quotes, one "@",
// at most 254 characters.
bool IsMailAddress(const std::string& address);
// What is missing or wrong in the account, or empty when it can be used.
std::string AccountProblem(const MailAccount& account);

// The settings file: mail-account.ini beside the program's settings.
std::string AccountFilePath();
// The stored account (empty fields where nothing usable is stored).
MailAccount LoadAccount();
// False when the file could not be written.
bool SaveAccount(const MailAccount& account);

// An account from a profile name "smtp[s]://[user@]host[:port][/][?cacert=FILE]"; false with a
// reason when it is not one.
bool AccountFromProfile(const std::string& profile, MailAccount& account, std::string& problem);

// The URL that libcurl connects to.
std::string AccountURL(const MailAccount& account);
