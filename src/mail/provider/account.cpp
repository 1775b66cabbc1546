#include "mail/provider/account.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QSettings>
#include <QUrl>
#include <QUrlQuery>
#include <cstdlib>

#include "core/savefile.h"

namespace {

constexpr int32_t kMaxPort = 65535;
constexpr size_t kMaxAddressChars = 254;

std::string SettingsFolder() {
    if (const char* r = std::getenv("QUILLORY_REGISTRY"); r && *r) {
        std::string path = r;
        size_t slash = path.rfind('/');
        return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    }
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
        return std::string(x) + "/Brellmont/Quillory";
    if (const char* h = std::getenv("HOME"); h && *h) return std::string(h) + "/.config/Brellmont/Quillory";
    return ".";
}

const char* SecurityName(MailSecurity s) {
    switch (s) {
        case MailSecurity::StartTls:
            return "starttls";
        case MailSecurity::None:
            return "none";
        default:
            return "ssl";
    }
}

// The stored text, or empty when it is too long to be ours.
std::string Field(const QSettings& settings, const char* name) {
    std::string value = settings.value(name).toString().trimmed().toStdString();
    return value.size() > kMaxAccountFieldChars ? std::string() : value;
}

}  // namespace

int32_t DefaultPort(MailSecurity security) {
    return security == MailSecurity::SslTls ? 465 : 587;
}

bool IsLoopbackHost(const std::string& host) {
    QString h = QString::fromStdString(host).trimmed();
    if (h.startsWith('[') && h.endsWith(']')) h = h.mid(1, h.size() - 2);
    if (h.compare("localhost", Qt::CaseInsensitive) == 0) return true;
    QHostAddress address;
    return address.setAddress(h) && address.isLoopback();
}

bool IsMailAddress(const std::string& address) {
    if (address.empty() || address.size() > kMaxAddressChars) return false;
    size_t at = address.find('@');
    if (at == 0 || at == std::string::npos || at + 1 == address.size() ||
        address.find('@', at + 1) != std::string::npos)
        return false;
    if (address[at + 1] == '.' || address.back() == '.') return false;
    for (unsigned char c : address)
        if (c <= ' ' || c == 127 ||
            std::string_view("<>()[]\\,;:\"").find(static_cast<char>(c)) != std::string_view::npos)
            return false;
    return true;
}

std::string AccountProblem(const MailAccount& a) {
    if (a.server.empty()) return "The SMTP server is missing.";
    if (a.server.size() > kMaxAccountFieldChars || a.server.find_first_of(" /?#@\t\r\n") != std::string::npos)
        return "The SMTP server name is not valid.";
    if (a.port < 1 || a.port > kMaxPort) return "The port must be a number from 1 to 65535.";
    if (a.security == MailSecurity::None && !IsLoopbackHost(a.server))
        return "Unencrypted mail is only sent to a server on this computer: choose SSL/TLS or STARTTLS.";
    if (!IsMailAddress(a.sender)) return "The sender address is missing or not valid.";
    for (const std::string* s : {&a.user, &a.displayName, &a.caFile})
        if (s->size() > kMaxAccountFieldChars || s->find_first_of("\r\n") != std::string::npos)
            return "An account field is too long or holds a line break.";
    if (!a.caFile.empty() && !QFileInfo(QString::fromStdString(a.caFile)).isReadable())
        return "The CA certificates file cannot be read.";
    return {};
}

std::string AccountFilePath() {
    return SettingsFolder() + "/mail-account.ini";
}

MailAccount LoadAccount() {
    QSettings settings(QString::fromStdString(AccountFilePath()), QSettings::IniFormat);
    settings.beginGroup("Account");
    MailAccount a;
    a.server = Field(settings, "Server");
    bool ok = false;
    int port = settings.value("Port").toInt(&ok);
    a.port = ok && port >= 1 && port <= kMaxPort ? port : 0;
    const std::string security = Field(settings, "Security");
    a.security = security == "starttls" ? MailSecurity::StartTls
                 : security == "none"   ? MailSecurity::None
                                        : MailSecurity::SslTls;
    a.user = Field(settings, "User");
    a.sender = Field(settings, "Sender");
    a.displayName = Field(settings, "DisplayName");
    a.caFile = Field(settings, "CAFile");
    return a;
}

bool SaveAccount(const MailAccount& a) {
    // The INI text QSettings reads back (LoadAccount), written whole or not at all.
    auto quoted = [](const std::string& value) {
        std::string text = value.rfind('@', 0) == 0 ? "\"@" : "\"";  // "@" leads QSettings' own forms
        for (char c : value) {
            if (c == '"' || c == '\\') text += '\\';
            text += c;
        }
        return text + '"';
    };
    std::string ini = "[Account]\n";
    ini += "Server=" + quoted(a.server) + "\n";
    ini += "Port=" + std::to_string(a.port) + "\n";
    ini += std::string("Security=") + SecurityName(a.security) + "\n";
    ini += "User=" + quoted(a.user) + "\n";
    ini += "Sender=" + quoted(a.sender) + "\n";
    ini += "DisplayName=" + quoted(a.displayName) + "\n";
    ini += "CAFile=" + quoted(a.caFile) + "\n";
    SaveFileOptions options;
    options.createFolders = true;
    return static_cast<bool>(SaveFileReplacing(AccountFilePath(), ini, options));
}

bool AccountFromProfile(const std::string& profile, MailAccount& account, std::string& problem) {
    const QUrl url(QString::fromStdString(profile), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "smtp" && scheme != "smtps") || url.host().isEmpty() ||
        !url.password().isEmpty() || url.hasFragment()) {
        problem = "The mail server is not an smtp:// or smtps:// address.";
        return false;
    }
    MailAccount a;
    a.server = url.host().toStdString();
    if (a.server.find(':') != std::string::npos) a.server = "[" + a.server + "]";
    a.security = scheme == "smtps" ? MailSecurity::SslTls : MailSecurity::StartTls;
    a.port = url.port(scheme == "smtps" ? 465 : 587);
    a.startTlsIfOffered = scheme == "smtp" && IsLoopbackHost(a.server);
    a.user = url.userName().toStdString();
    a.caFile = QUrlQuery(url).queryItemValue("cacert", QUrl::FullyDecoded).toStdString();
    // The sender comes with the message; a placeholder lets the account's own checks run.
    MailAccount checked = a;
    checked.sender = "sender@example.invalid";
    problem = AccountProblem(checked);
    if (!problem.empty()) return false;
    account = a;
    return true;
}

std::string AccountURL(const MailAccount& a) {
    const char* scheme = a.security == MailSecurity::SslTls ? "smtps" : "smtp";
    return std::string(scheme) + "://" + a.server + ":" + std::to_string(a.port);
}
