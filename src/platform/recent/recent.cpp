#include "platform/recent/recent.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QString>
#include <QUrl>
#include <QXmlStreamReader>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/savefile.h"

namespace {

const QString kBookmarkNs = "http://www.freedesktop.org/standards/desktop-bookmarks";
const QString kMimeNs = "http://www.freedesktop.org/standards/shared-mime-info";
const QString kOwner = "http://freedesktop.org";
constexpr qint64 kMaxCount = 1000000000;

constexpr const char* kNewList =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<xbel version=\"1.0\"\n"
    "      xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\"\n"
    "      xmlns:mime=\"http://www.freedesktop.org/standards/shared-mime-info\"\n"
    ">\n"
    "</xbel>\n";

// An attribute value between double quotes.
QString Escaped(const QString& value) {
    QString out;
    for (QChar c : value) {
        switch (c.unicode()) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            case '\t':
                out += "&#9;";
                break;
            default:
                out += c;
                break;
        }
    }
    return out;
}

// Where an element of the file's own entry lies in the text. The reader reads a character ahead, so
// each tag's '<' is found back from the end of its token (no '<' can stand inside a tag).
struct Span {
    qint64 start = -1;   // the start tag's '<'
    qint64 tagEnd = -1;  // just after the start tag
    qint64 endTag = -1;  // the end tag's '<'
    qint64 end = -1;     // just after the element
    QString name;        // as written, with its prefix
    bool found() const { return start >= 0; }
    bool closed() const { return end >= 0; }
    bool empty() const { return end == tagEnd; }  // written <name/>
};

enum Kind { kOther, kRoot, kBookmark, kInfo, kMetadata, kApplications, kApplication };

struct Entry {
    Span spans[kApplication + 1];
    QXmlStreamAttributes bookmarkAttributes;
    QXmlStreamNamespaceDeclarations bookmarkDeclarations;
    qint64 count = 0;        // the program's count so far
    QString bookmarkPrefix;  // the prefix the root gives each namespace, or empty
    QString mimePrefix;
    QString applicationsPrefix;
};

bool SameFile(const QString& href, const QString& path) {
    const QUrl url(href);
    return url.isLocalFile() && url.host().isEmpty() &&
           QDir::cleanPath(url.toLocalFile()) == QDir::cleanPath(path);
}

// A prefix the reader took in a declaration may still be no name it takes on an element ("a{b"): only
// plain ASCII names are used again, otherwise new elements declare a prefix of their own.
QString UsablePrefix(QStringView prefix) {
    for (qsizetype i = 0; i < prefix.size(); i++) {
        const char16_t c = prefix[i].unicode();
        const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
        const bool more = (c >= u'0' && c <= u'9') || c == u'-' || c == u'.';
        if (!letter && (i == 0 || !more)) return {};
    }
    return prefix.toString();
}

// Reads the whole list, noting where the file's own entry and its parts are; false when the text is
// not an XBEL document that reads whole.
bool Scan(const QString& text, const QString& path, const QString& app, Entry& e) {
    QXmlStreamReader r(text);
    std::vector<Kind> open;
    for (;;) {
        const QXmlStreamReader::TokenType token = r.readNext();
        if (token == QXmlStreamReader::Invalid || token == QXmlStreamReader::EndDocument) break;
        const qint64 after = r.characterOffset();
        if (token == QXmlStreamReader::StartElement) {
            const Kind parent = open.empty() ? kOther : open.back();
            const QStringView name = r.name();
            const bool bookmarkNs = r.namespaceUri() == kBookmarkNs, plain = r.namespaceUri().isEmpty();
            Kind kind = kOther;
            if (open.empty()) {
                if (name != u"xbel" || !plain) return false;
                kind = kRoot;
                for (const QXmlStreamNamespaceDeclaration& d : r.namespaceDeclarations()) {
                    if (d.namespaceUri() == kBookmarkNs) e.bookmarkPrefix = UsablePrefix(d.prefix());
                    if (d.namespaceUri() == kMimeNs) e.mimePrefix = UsablePrefix(d.prefix());
                }
            } else if (parent == kRoot && plain && name == u"bookmark" && !e.spans[kBookmark].found() &&
                       SameFile(r.attributes().value("href").toString(), path)) {
                kind = kBookmark;
                e.bookmarkAttributes = r.attributes();
                e.bookmarkDeclarations = r.namespaceDeclarations();
            } else if (parent == kBookmark && plain && name == u"info" && !e.spans[kInfo].found()) {
                kind = kInfo;
            } else if (parent == kInfo && plain && name == u"metadata" && !e.spans[kMetadata].found() &&
                       r.attributes().value("owner") == kOwner) {
                kind = kMetadata;
            } else if (parent == kMetadata && bookmarkNs && name == u"applications" &&
                       !e.spans[kApplications].found()) {
                kind = kApplications;
                e.applicationsPrefix = UsablePrefix(r.prefix());
            } else if (parent == kApplications && bookmarkNs && name == u"application" &&
                       !e.spans[kApplication].found() && r.attributes().value("name") == app) {
                kind = kApplication;
                bool ok = false;
                const qint64 count = r.attributes().value("count").toLongLong(&ok);
                e.count = ok ? std::clamp<qint64>(count, 0, kMaxCount) : 0;
            }
            if (kind != kOther) {
                Span& s = e.spans[kind];
                s.start = text.lastIndexOf('<', after - 1);
                s.tagEnd = after;
                s.name = r.qualifiedName().toString();
            }
            open.push_back(kind);
        } else if (token == QXmlStreamReader::EndElement) {
            if (open.empty()) return false;
            const Kind kind = open.back();
            open.pop_back();
            if (kind != kOther) {
                Span& s = e.spans[kind];
                s.end = after;
                s.endTag = s.empty() ? s.end : text.lastIndexOf('<', after - 1);
            }
        }
    }
    if (r.hasError() || !e.spans[kRoot].closed()) return false;
    for (const Span& s : e.spans)
        if (s.found() && (s.start < 0 || !s.closed())) return false;
    return true;
}

struct Edit {
    qint64 at;
    qint64 removed;
    QString inserted;
};

// Puts content inside the element, before its end tag; an element written <name/> is opened up.
Edit InsertInto(const QString& text, const Span& s, const QString& content) {
    if (!s.empty()) return {s.endTag, 0, content};
    QString tag = text.mid(s.start, s.tagEnd - s.start);
    tag.chop(2);  // "/>"
    while (!tag.isEmpty() && tag.back().isSpace()) tag.chop(1);
    return {s.start, s.end - s.start, tag + ">" + content + "</" + s.name + ">"};
}

// Element names in a namespace: the prefix in force, or one declared on the outermost new element.
struct Namer {
    QString prefix;
    QString declaration;  // " xmlns:p=..." when the prefix is not in force
    Namer(const QString& inForce, const char* fallback, const QString& uri) {
        prefix = inForce.isEmpty() ? QString(fallback) : inForce;
        if (inForce.isEmpty()) declaration = " xmlns:" + prefix + "=\"" + uri + "\"";
    }
    QString Open(const char* local, bool outermost) const {
        return "<" + prefix + ":" + local + (outermost ? declaration : QString());
    }
    QString Close(const char* local) const { return "</" + prefix + ":" + local + ">"; }
};

}  // namespace

std::string RecentlyUsedPath() {
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && x[0] == '/')
        return std::string(x) + "/recently-used.xbel";
    if (const char* h = std::getenv("HOME"); h && *h)
        return std::string(h) + "/.local/share/recently-used.xbel";
    return {};
}

bool NoteRecentUse(std::string& xbel, const RecentUse& use, const std::string& now) {
    if (xbel.size() > kMaxRecentlyUsedBytes) return false;
    const bool blank = std::all_of(xbel.begin(), xbel.end(),
                                   [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
    QString text = QString::fromUtf8(blank ? std::string(kNewList) : xbel);
    if (!blank && text.toUtf8().toStdString() != xbel)
        return false;  // not UTF-8: the bytes could not be kept
    const QString path = QString::fromStdString(use.path), app = QString::fromStdString(use.appName);
    Entry e;
    if (!Scan(text, path, app, e)) return false;

    const QString time = QString::fromStdString(now);
    const bool inApplications = e.spans[kApplications].found();
    const Namer bookmark(inApplications ? e.applicationsPrefix : e.bookmarkPrefix, "bookmark", kBookmarkNs);
    const Namer mime(e.mimePrefix, "mime", kMimeNs);
    auto application = [&](bool outermost) {
        return bookmark.Open("application", outermost) + " name=\"" + Escaped(app) + "\" exec=\"" +
               Escaped(QString::fromStdString(use.appExec)) + "\" modified=\"" + Escaped(time) +
               "\" count=\"" + QString::number(e.count + 1) + "\"/>";
    };
    // The parts of a new entry, each inside the one before.
    auto applications = [&] {
        return bookmark.Open("applications", true) + ">\n          " + application(false) + "\n        " +
               bookmark.Close("applications");
    };
    auto metadata = [&] {
        return "<metadata owner=\"" + kOwner + "\">\n        " + mime.Open("mime-type", true) + " type=\"" +
               Escaped(QString::fromStdString(use.mimeType)) + "\"/>\n        " + applications() +
               "\n      </metadata>";
    };
    auto info = [&] { return "<info>\n      " + metadata() + "\n    </info>"; };

    std::vector<Edit> edits;
    const Span* spans = e.spans;
    if (!spans[kBookmark].found()) {
        const QString href = QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded());
        const QString entry = "  <bookmark href=\"" + Escaped(href) + "\" added=\"" + Escaped(time) +
                              "\" modified=\"" + Escaped(time) + "\" visited=\"" + Escaped(time) +
                              "\">\n    " + info() + "\n  </bookmark>\n";
        const Span& root = spans[kRoot];
        const bool lineStart = root.empty() || text.at(root.endTag - 1) == '\n';
        edits.push_back(InsertInto(text, root,
                                   root.empty() ? "\n" + entry
                                   : lineStart  ? entry
                                                : "\n" + entry));
    } else {
        // The entry's start tag again, with the new times.
        QString tag = "<" + spans[kBookmark].name;
        for (const QXmlStreamNamespaceDeclaration& d : e.bookmarkDeclarations)
            tag += " xmlns" + (d.prefix().isEmpty() ? QString() : ":" + d.prefix().toString()) + "=\"" +
                   Escaped(d.namespaceUri().toString()) + "\"";
        bool added = false, modified = false, visited = false;
        for (const QXmlStreamAttribute& a : e.bookmarkAttributes) {
            if (a.isDefault()) continue;
            const QString name = a.qualifiedName().toString();
            QString value = a.value().toString();
            if (name == "added") added = true;
            if (name == "modified" || name == "visited") {
                (name == "modified" ? modified : visited) = true;
                value = time;
            }
            tag += " " + name + "=\"" + Escaped(value) + "\"";
        }
        if (!added) tag += " added=\"" + Escaped(time) + "\"";
        if (!modified) tag += " modified=\"" + Escaped(time) + "\"";
        if (!visited) tag += " visited=\"" + Escaped(time) + "\"";
        const Span& b = spans[kBookmark];
        if (b.empty()) {
            edits.push_back({b.start, b.end - b.start, tag + ">\n    " + info() + "\n  </" + b.name + ">"});
        } else {
            edits.push_back({b.start, b.tagEnd - b.start, tag + ">"});
            if (spans[kApplication].found())
                edits.push_back({spans[kApplication].start,
                                 spans[kApplication].end - spans[kApplication].start, application(true)});
            else if (spans[kApplications].found())
                edits.push_back(
                    InsertInto(text, spans[kApplications], "  " + application(true) + "\n        "));
            else if (spans[kMetadata].found())
                edits.push_back(InsertInto(text, spans[kMetadata], "  " + applications() + "\n      "));
            else if (spans[kInfo].found())
                edits.push_back(InsertInto(text, spans[kInfo], "  " + metadata() + "\n    "));
            else
                edits.push_back(InsertInto(text, b, "  " + info() + "\n  "));
        }
    }
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at > b.at; });
    for (const Edit& edit : edits) text.replace(edit.at, edit.removed, edit.inserted);
    xbel = text.toUtf8().toStdString();
    return true;
}

bool AddToRecentlyUsed(const RecentUse& use, std::string* reason) {
    auto fail = [reason](const std::string& why) {
        if (reason) *reason = why;
        return false;
    };
    const std::string path = RecentlyUsedPath();
    if (path.empty()) return fail("no home folder");
    std::string text;
    // Not blocking: a pipe put in the file's place must not hold the program up.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno != ENOENT) return fail(std::strerror(errno));
    if (fd >= 0) {
        struct stat st;
        const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        char chunk[65536];
        int readError = 0;
        while (regular && text.size() <= kMaxRecentlyUsedBytes) {
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) readError = errno;
            if (n <= 0) break;
            text.append(chunk, static_cast<size_t>(n));
        }
        close(fd);
        if (!regular) return fail("not a regular file");
        if (readError) return fail(std::strerror(readError));  // a part of the list must not replace it
    }
    const std::string now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
    if (!NoteRecentUse(text, use, now))
        return fail("not a list of recently used files that can be read whole");
    SaveFileOptions options;
    options.createFolders = true;
    if (!SaveFileReplacing(path, text, options)) return fail(std::strerror(errno));
    return true;
}
