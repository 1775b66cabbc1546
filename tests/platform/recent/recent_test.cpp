// The desktop's recently-used list: what the program writes is read by GLib's own bookmark-file
// code (as file choosers read it), other programs' entries stay byte for byte, and lists that do not
// read whole are never written over.
#include "platform/recent/recent.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "support/scripted.h"

namespace {

const RecentUse kUse{"/home/ann/My Projects/trip & co.cgp", "application/x-quillory-project", "Quillory",
                     "quillory %u"};
const char* kUri = "file:///home/ann/My%20Projects/trip%20&%20co.cgp";
const char* kOther = "file:///home/ann/notes.txt";

// A list as GLib writes it, with another program's entry (and, if asked, one of its own for our file).
std::string GlibList(bool withOurFile) {
    GBookmarkFile* b = g_bookmark_file_new();
    g_bookmark_file_set_mime_type(b, kOther, "text/plain");
    g_bookmark_file_add_application(b, kOther, "gedit", "'gedit' %u");
    if (withOurFile) {
        g_bookmark_file_set_mime_type(b, kUri, "application/x-quillory-project");
        g_bookmark_file_add_application(b, kUri, "gedit", "'gedit' %u");
    }
    gsize length = 0;
    gchar* data = g_bookmark_file_to_data(b, &length, nullptr);
    std::string text(data, length);
    g_free(data);
    g_bookmark_file_free(b);
    return text;
}

// What GLib reads back about a file's entry: its type and each program's count ("" when unreadable).
struct Seen {
    std::string mime;
    guint ours = 0, gedit = 0;
    bool other = false;
};
Seen ReadWithGlib(const std::string& text) {
    Seen seen;
    GBookmarkFile* b = g_bookmark_file_new();
    if (g_bookmark_file_load_from_data(b, text.data(), text.size(), nullptr)) {
        if (gchar* mime = g_bookmark_file_get_mime_type(b, kUri, nullptr)) {
            seen.mime = mime;
            g_free(mime);
        }
        g_bookmark_file_get_application_info(b, kUri, "Quillory", nullptr, &seen.ours, nullptr, nullptr);
        g_bookmark_file_get_application_info(b, kUri, "gedit", nullptr, &seen.gedit, nullptr, nullptr);
        seen.other = g_bookmark_file_has_application(b, kOther, "gedit", nullptr);
    }
    g_bookmark_file_free(b);
    return seen;
}

const char* kNow = "2024-05-01T10:00:00.000Z";

}  // namespace

TEST(RecentlyUsed, OnlyTheFilesOwnEntryChanges) {
    // A new list, then a second use: one entry, counted twice.
    std::string text;
    ASSERT_TRUE(NoteRecentUse(text, kUse, kNow));
    ASSERT_TRUE(NoteRecentUse(text, kUse, "2024-05-02T10:00:00.000Z"));
    Seen seen = ReadWithGlib(text);
    EXPECT_EQ(std::tuple(seen.mime, seen.ours,
                         text.find("visited=\"2024-05-02T10:00:00.000Z\"") != std::string::npos),
              std::tuple(std::string("application/x-quillory-project"), 2u, true));

    // Another program's list: its entry stays byte for byte, ours is added after it.
    const std::string glib = GlibList(false);
    text = glib;
    ASSERT_TRUE(NoteRecentUse(text, kUse, kNow));
    const size_t end = glib.rfind("</xbel>");
    EXPECT_EQ(text.substr(0, end), glib.substr(0, end));
    seen = ReadWithGlib(text);
    EXPECT_EQ(std::pair(seen.other, seen.ours), std::pair(true, 1u));

    // An entry another program made for our file keeps that program's record beside ours.
    text = GlibList(true);
    ASSERT_TRUE(NoteRecentUse(text, kUse, kNow));
    ASSERT_TRUE(NoteRecentUse(text, kUse, kNow));
    seen = ReadWithGlib(text);
    EXPECT_EQ(std::tuple(seen.mime, seen.gedit, seen.ours, seen.other),
              std::tuple(std::string("application/x-quillory-project"), 1u, 2u, true));

    // Entries written in the short forms get their parts inside them.
    for (std::string shortForm : {"<xbel version=\"1.0\"><bookmark "
                                  "href=\"file:///home/ann/My%20Projects/trip%20&amp;%20co.cgp\"/></xbel>",
                                  "<xbel version=\"1.0\"/>"}) {
        ASSERT_TRUE(NoteRecentUse(shortForm, kUse, kNow));
        EXPECT_EQ(ReadWithGlib(shortForm).ours, 1u) << shortForm;
    }

    // A prefix the root declares but no element could carry is not used for the new parts, and the
    // same path on another host is another file: the list still reads whole and takes a second use.
    text =
        "<xbel version=\"1.0\" xmlns:b{k=\"http://www.freedesktop.org/standards/desktop-bookmarks\">"
        "<bookmark href=\"file://elsewhere/home/ann/My%20Projects/trip%20&amp;%20co.cgp\"/></xbel>";
    ASSERT_TRUE(NoteRecentUse(text, kUse, kNow));
    EXPECT_TRUE(NoteRecentUse(text, kUse, kNow)) << text;
    EXPECT_NE(text.find("href=\"file:///home/ann/My%20Projects/trip%20&amp;%20co.cgp\""), std::string::npos)
        << text;
}

TEST(RecentlyUsed, ListsThatDoNotReadWholeAreLeftAsTheyAre) {
    const std::string glib = GlibList(false);
    const std::string laughs =
        "<!DOCTYPE xbel [<!ENTITY a "
        "\"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c "
        "\"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
        "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]><xbel><bookmark href=\"&d;\"/></xbel>";
    for (const std::string& bad : std::vector<std::string>{
             glib.substr(0, glib.size() / 2), std::string("not a list"), std::string("<html></html>"),
             glib + "<xbel/>", std::string("<xbel>\xff\xfe</xbel>"), laughs,
             std::string(kMaxRecentlyUsedBytes + 1, ' ')}) {
        std::string text = bad;
        EXPECT_FALSE(NoteRecentUse(text, kUse, kNow)) << bad.substr(0, 60);
        EXPECT_EQ(text, bad);
    }

    // On disk: a missing folder is made; a list that does not read, one the user protected and a
    // pipe in its place are left alone, with the reason.
    TempDir home;
    setenv("XDG_DATA_HOME", home.file("data").c_str(), 1);
    const std::string path = RecentlyUsedPath();
    EXPECT_EQ(path, home.file("data/recently-used.xbel"));
    std::string reason;
    ASSERT_TRUE(AddToRecentlyUsed(kUse, &reason)) << reason;
    EXPECT_EQ(ReadWithGlib(ReadWholeFile(path)).ours, 1u);
    WriteWholeFile(path, glib.substr(0, 100));
    EXPECT_EQ((std::pair{AddToRecentlyUsed(kUse, &reason), ReadWholeFile(path)}),
              std::pair(false, glib.substr(0, 100)));
    WriteWholeFile(path, glib);
    chmod(path.c_str(), 0444);
    EXPECT_EQ((std::pair{AddToRecentlyUsed(kUse, &reason), ReadWholeFile(path)}), std::pair(false, glib));
    unlink(path.c_str());
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ((std::pair{AddToRecentlyUsed(kUse, &reason), reason}),
              std::pair(false, std::string("not a regular file")));
    unsetenv("XDG_DATA_HOME");
}
