#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimer>
#include <algorithm>
#include <set>
#include <string>

#include "platform/help/help.h"
#include "platform/qtui/qtui.h"
#include "support/qtapp.h"
#include "support/scripted.h"

namespace {

const std::string kHelpFile = std::string(QUILLORY_SOURCE_DIR) + "/resources/Quillory.hlp";
const uint32_t kContexts[] = {1, 2, 3, 4, 5, 21, 30, 39, 60};

QWidget* HelpWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "help" && w->isVisible()) return w;
    return nullptr;
}

// Clicks the first link the help window's page shows after the anchor it is at, through the window
// system as a user's click comes; returns the link's target.
std::string ClickFirstLink(QWidget* help) {
    auto* browser = help->findChild<QTextBrowser*>();
    const std::string at = HelpWindowStateOf("").anchor;
    bool past = at.empty();
    for (QTextBlock b = browser->document()->begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            past = past || f.charFormat().anchorNames().contains(QString::fromStdString(at));
            if (!past || !f.charFormat().isAnchor() || !f.charFormat().anchorHref().startsWith('#')) continue;
            QTextCursor c(browser->document());
            c.setPosition(f.position() + f.length() / 2);
            const QPoint spot = browser->viewport()->mapTo(help, browser->cursorRect(c).center());
            QTest::mouseClick(help->windowHandle(), Qt::LeftButton, Qt::NoModifier, spot);
            return f.charFormat().anchorHref().mid(1).toStdString();
        }
    }
    return "";
}

}  // namespace

TEST(HelpFile, HasEveryContextAnchorAndNoBrokenLink) {
    TestApp();
    std::vector<std::string> anchors = HelpFileAnchors(kHelpFile);
    std::set<std::string> names(anchors.begin(), anchors.end());
    for (uint32_t c : kContexts) EXPECT_TRUE(names.count(HelpAnchorForContext(c))) << c;
    EXPECT_TRUE(names.count("finder") && names.count("contents"));

    // Every link inside the file lands on an anchor of the file.
    QString text = QString::fromStdString(ReadWholeFile(kHelpFile));
    QRegularExpression href("href=\"#([^\"]+)\"");
    int links = 0;
    for (auto it = href.globalMatch(text); it.hasNext(); links++) {
        std::string target = it.next().captured(1).toStdString();
        EXPECT_TRUE(names.count(target)) << "broken link #" << target;
    }
    EXPECT_GT(links, 30);
    // It reads as the user's manual it is: no word of where it came from.
    EXPECT_FALSE(text.contains("spec", Qt::CaseInsensitive));
}

using WinHelp = ScriptedTest;

TEST_F(WinHelp, ContextsFinderSecondaryWindowAndQuit) {
    TestApp();
    for (uint32_t c : kContexts) {
        EXPECT_EQ(WinHelpA(nullptr, kHelpFile.c_str(), HELP_CONTEXT, c), 1) << c;
        HelpWindowState s = HelpWindowStateOf("");
        EXPECT_EQ(std::make_tuple(s.open, s.anchor, s.file, s.title),
                  std::make_tuple(true, HelpAnchorForContext(c), kHelpFile, std::string("Quillory Help")));
    }
    EXPECT_EQ(WinHelpA(nullptr, kHelpFile.c_str(), HELP_FINDER, 0), 1);
    EXPECT_EQ(HelpWindowStateOf("").anchor, "finder");

    // "FILE>second" shows the topic in the secondary window and leaves the main one alone.
    std::string second = kHelpFile + ">second";
    EXPECT_EQ(WinHelpA(nullptr, second.c_str(), HELP_CONTEXT, 4), 1);
    EXPECT_TRUE(HelpWindowStateOf("second").open);
    EXPECT_EQ(HelpWindowStateOf("second").anchor + " " + HelpWindowStateOf("").anchor, "context-4 finder");

    // An unknown context shows the index and reports failure; a keyword fills the search.
    EXPECT_EQ(WinHelpA(nullptr, kHelpFile.c_str(), HELP_CONTEXT, 999), 0);
    EXPECT_EQ(HelpWindowStateOf("").anchor, "finder");
    EXPECT_EQ(WinHelpA(nullptr, kHelpFile.c_str(), HELP_KEY, reinterpret_cast<uintptr_t>("compressor")), 1);
    EXPECT_EQ(HelpWindowStateOf("").search, "compressor");
    EXPECT_TRUE(boxes->shown.empty());

    EXPECT_EQ(WinHelpA(nullptr, nullptr, HELP_QUIT, 0), 1);
    EXPECT_FALSE(HelpWindowStateOf("").open || HelpWindowStateOf("second").open);
    QCoreApplication::processEvents();
}

TEST_F(WinHelp, MissingOrOversizedFileIsReportedNotShown) {
    TestApp();
    EXPECT_EQ(WinHelpA(nullptr, dir.file("none.hlp").c_str(), HELP_CONTEXT, 1), 0);
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_EQ(boxes->shown[0].text, "Cannot open the help file\n" + dir.file("none.hlp"));
    EXPECT_FALSE(HelpWindowStateOf("").open);

    WriteWholeFile(dir.file("big.hlp"), std::string(kMaxHelpFileBytes + 1, 'a'));
    EXPECT_EQ(WinHelpA(nullptr, dir.file("big.hlp").c_str(), HELP_CONTEXT, 1), 0);
    EXPECT_TRUE(HelpFileAnchors(dir.file("big.hlp")).empty());
    // An empty help path means the program's own file in the working folder (none here).
    boxes->shown.clear();
    EXPECT_EQ(WinHelpA(nullptr, ">second", HELP_CONTEXT, 1), 0);
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_EQ(boxes->shown[0].text, "Cannot open the help file\nQuillory.hlp");

    // Garbage is shown as text without anchors: contexts fail, nothing breaks.
    std::string junk;
    for (int i = 0; i < 3000; i++) junk += static_cast<char>((i * 31) % 256);
    WriteWholeFile(dir.file("junk.hlp"), junk);
    EXPECT_EQ(WinHelpA(nullptr, dir.file("junk.hlp").c_str(), HELP_CONTEXT, 1), 0);
    WinHelpA(nullptr, nullptr, HELP_QUIT, 0);
    QCoreApplication::processEvents();
}

TEST_F(WinHelp, TakesInputOverTheModalWindowItOpensBeside) {
    TestApp();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    // A modal window with a menu bar, as the storyboard runs, with room on its right.
    QDialog owner;
    auto* bar = new QMenuBar(&owner);
    bar->addMenu("&Project");
    owner.setGeometry(screen.left() + 10, screen.top() + 10, 120, 100);
    std::string target, shown;
    QRect ownerFrame, helpFrame, barArea, crowdedFrame;
    QTimer::singleShot(0, [&] {
        const auto done = qScopeGuard([&] {
            WinHelpA(nullptr, nullptr, HELP_QUIT, 0);
            owner.reject();
        });
        EXPECT_EQ(WinHelpA(HWNDFromWidget(&owner), kHelpFile.c_str(), HELP_FINDER, 0), 1);
        QWidget* help = HelpWindow();
        ASSERT_TRUE(help && QTest::qWaitForWindowExposed(help));
        target = ClickFirstLink(help);
        shown = HelpWindowStateOf("").anchor;
        ownerFrame = owner.frameGeometry();
        helpFrame = help->frameGeometry();

        // Without room on either side it keeps clear of the menu bar.
        WinHelpA(nullptr, nullptr, HELP_QUIT, 0);
        owner.setGeometry(screen.adjusted(20, 20, -20, -20));
        QCoreApplication::processEvents();
        WinHelpA(HWNDFromWidget(&owner), kHelpFile.c_str(), HELP_CONTEXT, 1);
        if (QWidget* crowded = HelpWindow()) crowdedFrame = crowded->frameGeometry();
        barArea = QRect(bar->mapToGlobal(QPoint(0, 0)), bar->size());
    });
    owner.exec();
    EXPECT_FALSE(target.empty());
    EXPECT_EQ(shown, target);  // the click followed the link
    EXPECT_EQ(helpFrame.left(), ownerFrame.right() + 1);
    EXPECT_EQ(helpFrame.top(), ownerFrame.top());
    EXPECT_FALSE(crowdedFrame.isEmpty());
    EXPECT_FALSE(crowdedFrame.intersects(barArea));
    EXPECT_TRUE(boxes->shown.empty());
    QCoreApplication::processEvents();
}
