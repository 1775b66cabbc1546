// The title dialog driven as a user drives it, on the offscreen platform: committing, replacing and
// removing lines, the position buttons, the font chooser's answer, OK and Cancel of new and edited
// titles, and the live preview in the picture view.
#include "render/title_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <functional>
#include <vector>

#include "core/dialogs.h"
#include "core/memory.h"
#include "core/settings.h"
#include "platform/qtui/fontchooser.h"
#include "platform/qtui/qtui.h"
#include "playback/playwindows.h"
#include "support/qtapp.h"
#include "support/scripted.h"
#include "ui/controls.h"

namespace {

// Runs script in the title dialog once it is open; the dialog is cancelled if the script leaves it.
void InDialog(std::function<void(QDialog*)> script) {
    QTimer::singleShot(0, [script] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(d && d->objectName() == "addTitle");
        script(d);
        if (d->isVisible()) d->reject();
    });
}

QLineEdit* Edit(QDialog* d) {
    return qobject_cast<QLineEdit*>(FindControl(d, kTitleLineEdit));
}
QListWidget* List(QDialog* d) {
    return qobject_cast<QListWidget*>(FindControl(d, kTitleLineList));
}
void Type(QDialog* d, const char* line) {
    QTest::keyClicks(Edit(d), line);
    QTest::keyClick(Edit(d), Qt::Key_Return);
}
void Click(QDialog* d, int32_t id) {
    qobject_cast<QPushButton*>(FindControl(d, id))->click();
}
// Clicks a line of the list: the list takes the focus, then the line is loaded into the edit box.
void Pick(QDialog* d, int row) {
    QListWidget* list = List(d);
    list->setFocus();
    QCoreApplication::processEvents();
    list->setCurrentRow(row);
}
std::vector<int> Offsets(QDialog* d) {
    std::vector<int> offsets;
    for (int i = 0; i < List(d)->count(); i++)
        offsets.push_back(List(d)->item(i)->data(Qt::UserRole).toInt());
    return offsets;
}

class TitleDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TestApp();
        ResetSettings();
        gSettings.useToolTips = 0;
        baseline = MemoryMonitorStatus().liveBlocks;
        previousFonts = SetFontDialogProvider(fonts);
    }
    void TearDown() override {
        SetFontDialogProvider(previousFonts);
        EXPECT_EQ(MemoryMonitorStatus().liveBlocks, baseline) << "blocks left behind";
    }
    static void Release(TitleRecord* t) {
        if (!t) return;
        MyFree(t->text);
        MyFree(t->stencil);
        MyFree(t);
    }
    ScopedBoxes boxes;
    std::shared_ptr<QueuedFontDialogProvider> fonts = std::make_shared<QueuedFontDialogProvider>();
    std::shared_ptr<FontDialogProvider> previousFonts;
    int32_t baseline = 0;
};

}  // namespace

TEST_F(TitleDialogTest, LinesArePlacedReplacedAndRemovedAsTyped) {
    InDialog([](QDialog* d) {
        EXPECT_EQ(d->windowTitle(), "Add Title To Frames");
        Click(d, kTitleLowerRight);  // before any text: only the codes a new title gets
        for (const char* line : {"AAAAA", "BBBBB", "CCCCC"}) Type(d, line);
        EXPECT_EQ(Offsets(d), (std::vector<int>{0, 6, 12}));
        EXPECT_TRUE(Edit(d)->text().isEmpty());
        Pick(d, 1);
        EXPECT_EQ(Edit(d)->text(), "BBBBB");
        Edit(d)->selectAll();
        Type(d, "XX");
        EXPECT_EQ(List(d)->item(1)->text(), "XX");
        EXPECT_EQ(Offsets(d), (std::vector<int>{0, 6, 9}));
        Pick(d, 2);
        Click(d, kTitleRemove);
        EXPECT_EQ(List(d)->count(), 2);
        QTest::keyClicks(Edit(d), "tail");  // OK takes the edit box's line first
        Click(d, IDOK);
    });
    std::strcpy(gSettings.FontName, "Arial");
    gSettings.Size = -30;
    gSettings.Color = 0xFF;
    TitleRecord* t = NewTitleDialog(nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->text, "AAAAA\nXX\ntail");
    EXPECT_EQ(t->vertical, 2);
    EXPECT_EQ(t->horizontal, 2);
    EXPECT_STREQ(t->faceName, "Arial");  // new titles take the title settings
    EXPECT_EQ(t->height, -30);
    EXPECT_EQ(t->colour, 0xFFu);
    Release(t);

    SCOPED_TRACE("Cancel on a new title, or no committed line, gives no title");
    InDialog([](QDialog* d) {
        Type(d, "gone");
        Click(d, IDCANCEL);
    });
    EXPECT_EQ(NewTitleDialog(nullptr), nullptr);
    InDialog([](QDialog* d) { Click(d, IDOK); });
    EXPECT_EQ(NewTitleDialog(nullptr), nullptr);
}

TEST_F(TitleDialogTest, EditingKeepsOrReplacesTheWholeRecord) {
    TitleRecord* t = NewTitleRecord();
    const std::string longLine(600, 'w');
    t->text = static_cast<char*>(MyCalloc(700, 1));
    std::strcpy(t->text, (longLine + "\nsecond").c_str());
    std::strcpy(t->faceName, "Liberation Sans");
    t->vertical = 1, t->horizontal = 2, t->height = -20, t->weight = 700, t->points = 150, t->colour = 0xFF;
    const TitleRecord before = *t;

    SCOPED_TRACE("Cancel after edits leaves every field as it was");
    InDialog([](QDialog* d) {
        EXPECT_EQ(List(d)->item(0)->text().size(), kMaxTitleLine);  // listed cut
        Click(d, kTitleUpperLeft);
        Type(d, "third");
        Click(d, IDCANCEL);
    });
    EXPECT_EQ(EditTitleDialog(nullptr, t), 1);
    EXPECT_EQ(std::memcmp(t, &before, sizeof before), 0);
    EXPECT_EQ(std::string(t->text), longLine + "\nsecond");

    SCOPED_TRACE("OK keeps the edits; a long line loaded but not edited stays whole");
    FontChoice chosen;
    std::strcpy(chosen.faceName, "Liberation Serif");
    chosen.height = -27, chosen.weight = 400, chosen.italic = 1, chosen.points = 200, chosen.colour = 0xFF00;
    fonts->answers.push_back(chosen);
    InDialog([](QDialog* d) {
        Pick(d, 0);
        EXPECT_EQ(Edit(d)->text().size(), kMaxTitleLine);
        Type(d, "");  // Enter on the loaded line, unedited
        Pick(d, 1);
        Edit(d)->setText("2nd");
        Edit(d)->setModified(true);
        Click(d, kTitleFont);  // commits the line, then asks for the font
        EXPECT_EQ(qobject_cast<QLabel*>(FindControl(d, kTitleFontLabel))->text(), "Liberation Serif 20");
        Click(d, IDOK);
    });
    EXPECT_EQ(EditTitleDialog(nullptr, t), 1);
    EXPECT_EQ(std::string(t->text), longLine + "\n2nd");
    EXPECT_STREQ(t->faceName, "Liberation Serif");
    EXPECT_EQ(t->height, -27);
    EXPECT_EQ(t->italic, 1);
    EXPECT_EQ(t->colour, 0xFF00u);
    EXPECT_EQ(t->vertical, 1);
    ASSERT_EQ(fonts->requests.size(), 1u);
    EXPECT_EQ(fonts->requests[0].font.height, -20);  // the chooser starts from the edited title
    EXPECT_STREQ(gSettings.FontName, "Liberation Serif");
    EXPECT_EQ(gSettings.Points, 200);
    Release(t);

    SCOPED_TRACE("the chooser's font maps onto the fields the GDI stand-in draws with");
    QFont f("Liberation Sans");
    f.setPointSize(18);
    f.setBold(true);
    FontChoice mapped = FontChoiceFromQFont(f, 0x123456, 1);
    EXPECT_EQ(std::string(mapped.faceName) + " " + std::to_string(mapped.height) + " " +
                  std::to_string(mapped.weight) + " " + std::to_string(mapped.points),
              "Liberation Sans -24 700 180");
    EXPECT_EQ(QFontFromFontChoice(mapped).pointSize(), 18);
}

TEST_F(TitleDialogTest, EveryChangePreviewsInThePictureView) {
    const int32_t w = 160, h = 120;
    BITMAPINFOHEADER header{40, w, h, 1, 24, BI_RGB, static_cast<uint32_t>(w * h * 3), 0, 0, 0, 0};
    std::vector<uint8_t> pixels(static_cast<size_t>(w * h * 3), 0x50);
    const std::vector<uint8_t> pristine = pixels;
    ASSERT_NE(OpenFrameView(nullptr, "frame 0: x.avi", &header, pixels.data()), nullptr);
    // The rows (from the top) that differ from the pristine frame.
    auto changedRows = [&] {
        std::pair<int, int> rows{h, -1};
        for (int p = 0; p < w * h; p++)
            if (std::memcmp(&pixels[p * 3], &pristine[p * 3], 3) != 0)
                rows = {std::min(rows.first, h - 1 - p / w), std::max(rows.second, h - 1 - p / w)};
        return rows;
    };
    gSettings.Size = -20;
    InDialog([&](QDialog* d) {
        Type(d, "HELLO");
        const auto centre = changedRows();
        EXPECT_TRUE(centre.first > h / 4 && centre.second < 3 * h / 4)
            << centre.first << " " << centre.second;
        Click(d, kTitleUpperLeft);
        EXPECT_LT(changedRows().second, h / 3);
        Click(d, IDCANCEL);
        EXPECT_EQ(pixels, pristine);
    });
    EXPECT_EQ(NewTitleDialog(nullptr), nullptr);
    CloseFrameView();
}
