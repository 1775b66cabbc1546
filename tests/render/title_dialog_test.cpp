// The title dialog driven as a user drives it, on the offscreen platform: lines committed, replaced
// and removed, the position buttons, the font chooser's answer and Escape in it, OK and Cancel of
// new and edited titles. Its live preview is checked with the storyboard's launches (tests/project).
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

#include "core/dialogs.h"
#include "core/memory.h"
#include "platform/qtui/fontchooser.h"
#include "settings/settings.h"
#include "support/modal.h"
#include "support/qtapp.h"
#include "support/scripted.h"
#include "ui/controls.h"

namespace {

// Runs script in the title dialog once it is open; the dialog is cancelled if the script leaves it.
void InDialog(std::function<void(QDialog*)> script) {
    WhenOpen("addTitle", [script](QWidget* d) { script(qobject_cast<QDialog*>(d)); });
}
template <typename T>
T* Control(QDialog* d, int32_t id) {
    return qobject_cast<T*>(FindControl(d, id));
}
QLineEdit* Edit(QDialog* d) {
    return Control<QLineEdit>(d, kTitleLineEdit);
}
QListWidget* List(QDialog* d) {
    return Control<QListWidget>(d, kTitleLineList);
}
void Click(QDialog* d, int32_t id) {
    Control<QPushButton>(d, id)->click();
}
void Type(QDialog* d, const char* line) {
    QTest::keyClicks(Edit(d), line);
    QTest::keyClick(Edit(d), Qt::Key_Return);
}
// A click on a line: the list takes the focus (committing the edit box), then the line is loaded.
void Pick(QDialog* d, int row) {
    List(d)->setFocus();
    QCoreApplication::processEvents();
    List(d)->setCurrentRow(row);
}
std::vector<int> Offsets(QDialog* d) {
    std::vector<int> offsets;
    for (int i = 0; i < List(d)->count(); i++)
        offsets.push_back(List(d)->item(i)->data(Qt::UserRole).toInt());
    return offsets;
}

class TitleDialogTest : public ScriptedTest {
  protected:
    void SetUp() override {
        TestApp();
        ResetSettings();
        ScriptedTest::SetUp();
        gSettings.useToolTips = 0;
        std::strcpy(gSettings.FontName, "Arial");
        gSettings.Size = -30, gSettings.Color = 0xFF;
        previousFonts = SetFontDialogProvider(fonts);
    }
    void TearDown() override {
        SetFontDialogProvider(previousFonts);
        ScriptedTest::TearDown();
    }
    static void Release(TitleRecord* t) {
        MyFree(t->text);
        MyFree(t->stencil);
        MyFree(t);
    }
    std::shared_ptr<QueuedFontDialogProvider> fonts = std::make_shared<QueuedFontDialogProvider>();
    std::shared_ptr<FontDialogProvider> previousFonts;
};

}  // namespace

TEST_F(TitleDialogTest, NewTitlesTakeTheCommittedLines) {
    InDialog([](QDialog* d) {
        EXPECT_EQ(d->windowTitle(), "Add Title To Frames");
        Click(d, kTitleLowerRight);  // before any text: only the codes a new title gets
        for (const char* line : {"AAAAA", "BBBBB", "CCCCC"}) Type(d, line);
        EXPECT_EQ(Offsets(d), (std::vector<int>{0, 6, 12}));
        EXPECT_TRUE(Edit(d)->text().isEmpty());
        Pick(d, 1);
        EXPECT_EQ(Edit(d)->text(), "BBBBB");
        Edit(d)->selectAll();
        Type(d, "XX");  // replaces only that line
        EXPECT_EQ(Offsets(d), (std::vector<int>{0, 6, 9}));
        Pick(d, 2);
        Click(d, kTitleRemove);  // the last line goes with the line feed before it
        QTest::keyClicks(Edit(d), "tail");
        Click(d, IDOK);  // takes the edit box's line first
    });
    TitleRecord* t = NewTitleDialog(nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->text, "AAAAA\nXX\ntail");
    EXPECT_EQ(
        std::to_string(t->vertical) + t->faceName + std::to_string(t->height) + std::to_string(t->colour),
        "2Arial-30255");  // the position pressed first and the title settings
    EXPECT_EQ(t->horizontal, 2);
    Release(t);

    SCOPED_TRACE("Cancel, or OK without a committed line, gives no title");
    InDialog([](QDialog* d) {
        Type(d, "gone");
        Click(d, IDCANCEL);
    });
    EXPECT_EQ(NewTitleDialog(nullptr), nullptr);
    InDialog([](QDialog* d) { Click(d, IDOK); });
    EXPECT_EQ(NewTitleDialog(nullptr), nullptr);
}

TEST_F(TitleDialogTest, EditedTitlesChangeOnlyOnOk) {
    TitleRecord* t = NewTitleRecord();
    const std::string longLine(600, 'w');
    t->text = static_cast<char*>(MyCalloc(700, 1));
    std::strcpy(t->text, (longLine + "\nsecond").c_str());
    std::strcpy(t->faceName, "Liberation Sans");
    t->vertical = 1, t->horizontal = 2, t->height = -20, t->weight = 700, t->points = 150, t->colour = 0xFF;
    const TitleRecord before = *t;
    InDialog([](QDialog* d) {
        EXPECT_EQ(List(d)->item(0)->text().size(), kMaxTitleLine);  // listed cut
        Click(d, kTitleUpperLeft);
        Type(d, "third");
        Click(d, IDCANCEL);
    });
    EXPECT_EQ(EditTitleDialog(nullptr, t), 1);
    EXPECT_EQ(std::memcmp(t, &before, sizeof before), 0);  // every field, the text pointer included
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
        EXPECT_EQ(Control<QLabel>(d, kTitleFontLabel)->text(), "Liberation Serif 20");
        Click(d, IDOK);
    });
    EXPECT_EQ(EditTitleDialog(nullptr, t), 1);
    EXPECT_EQ(std::string(t->text), longLine + "\n2nd");
    EXPECT_EQ(std::string(t->faceName) + std::to_string(t->height) + std::to_string(t->italic) +
                  std::to_string(t->colour) + std::to_string(t->vertical),
              "Liberation Serif-27165280"
              "1");
    ASSERT_EQ(fonts->requests.size(), 1u);
    EXPECT_EQ(fonts->requests[0].font.height, -20);  // the chooser starts from the edited title
    EXPECT_EQ(std::string(gSettings.FontName) + std::to_string(gSettings.Points), "Liberation Serif200");
    Release(t);

    SCOPED_TRACE("the chooser's font as the fields the GDI stand-in draws with (96 dpi)");
    QFont f("Liberation Sans");
    f.setPointSize(18);
    f.setBold(true);
    const FontChoice mapped = FontChoiceFromQFont(f, 0x123456, 1);
    EXPECT_EQ(std::string(mapped.faceName) + " " + std::to_string(mapped.height) + " " +
                  std::to_string(mapped.weight) + " " + std::to_string(mapped.points),
              "Liberation Sans -24 700 180");
    EXPECT_EQ(QFontFromFontChoice(mapped).pointSize(), 18);
}

TEST_F(TitleDialogTest, EscapeInTheFontChooserCancelsIt) {
    SetFontDialogProvider(std::make_shared<QtFontDialogProvider>());
    bool chooserClosed = false;
    InDialog([&](QDialog* d) {
        Type(d, "kept");
        const QString font = Control<QLabel>(d, kTitleFontLabel)->text();
        QTimer::singleShot(0, [&] {
            auto* chooser = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QWidget* field = chooser ? chooser->findChild<QLineEdit*>() : nullptr;  // the family's field
            if (!field || chooser->objectName() != "chooseFont") {
                ADD_FAILURE() << "no font chooser";
                if (chooser) chooser->reject();
                return;
            }
            field->setFocus();
            QTest::keyClick(field, Qt::Key_Escape);
            chooserClosed = !chooser->isVisible();
            if (!chooserClosed) chooser->reject();
        });
        Click(d, kTitleFont);
        EXPECT_TRUE(d->isVisible());
        EXPECT_EQ(Control<QLabel>(d, kTitleFontLabel)->text(), font);
        Click(d, IDOK);
    });
    TitleRecord* t = NewTitleDialog(nullptr);
    EXPECT_TRUE(chooserClosed);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(std::string(t->text) + " " + t->faceName + std::to_string(t->height), "kept Arial-30");
    Release(t);
}
