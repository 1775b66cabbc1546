#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "commands.h"
#include "core/memory.h"
#include "mail/mail.h"
#include "platform/mapi/loader.h"

// mail FILE.avi|FILE.mp4 --to ADDRESS ... --smtp URL: sends the file through the mail provider without
// dialogs, the account given on the command line and the password in QUILLORY_SMTP_PASSWORD.
namespace {

constexpr const char* kUsage =
    "FILE.avi|FILE.mp4 --to ADDRESS [--cc ADDRESS] [--subject TEXT] [--note TEXT] --smtp URL [--user NAME] "
    "[--from ADDRESS] [--cacert FILE]";

int Usage(const char* problem) {
    std::fprintf(stderr, "mail: %s\nusage: quillory-cli mail %s\n", problem, kUsage);
    return 2;
}

// "smtp://host:port" or "smtps://host:port" (a bracketed IPv6 host allowed), nothing more.
bool IsServerURL(const std::string& url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos ||
        (url.compare(0, scheme, "smtp") != 0 && url.compare(0, scheme, "smtps") != 0))
        return false;
    std::string rest = url.substr(scheme + 3);
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size()) return false;
    const std::string host = rest.substr(0, colon), port = rest.substr(colon + 1);
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::atoi(port.c_str()) < 1 || std::atoi(port.c_str()) > 65535)
        return false;
    return host.find_first_of("/?#@ ") == std::string::npos;
}

int CmdMail(const Args& args) {
    DirectMail mail;
    std::string smtp, user, caFile;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) != 0) {
            if (!mail.file.empty()) return Usage("one file at a time");
            mail.file = a;
            continue;
        }
        if (i + 1 >= args.size()) return Usage((a + " needs a value").c_str());
        const std::string& value = args[++i];
        if (a == "--to")
            mail.to.push_back(value);
        else if (a == "--cc")
            mail.cc.push_back(value);
        else if (a == "--subject")
            mail.subject = value;
        else if (a == "--note")
            mail.note = value;
        else if (a == "--smtp")
            smtp = value;
        else if (a == "--user")
            user = value;
        else if (a == "--from")
            mail.from = value;
        else if (a == "--cacert")
            caFile = value;
        else
            return Usage(("unknown option " + a).c_str());
    }
    if (mail.file.empty()) return Usage("no file to send");
    if (mail.to.empty()) return Usage("--to ADDRESS is needed");
    if (!IsServerURL(smtp)) return Usage("--smtp takes smtp://host:port or smtps://host:port");
    if (mail.from.empty()) {
        if (user.find('@') == std::string::npos) return Usage("--from ADDRESS is needed");
        mail.from = user;
    }
    if (!user.empty()) {
        const char* password = std::getenv("QUILLORY_SMTP_PASSWORD");
        if (!password) return Usage("--user needs the password in QUILLORY_SMTP_PASSWORD");
        mail.password = password;
    }
    mail.profile = SmtpProfileName(smtp, user, caFile);
    const int32_t sent = SendAVIWithoutDialogs(mail);
    WrapupMemoryMonitor();
    if (!sent) return 1;
    std::printf("sent\n");
    return 0;
}

CommandRegistrar mailCommand("mail", CmdMail, kUsage);

}  // namespace
