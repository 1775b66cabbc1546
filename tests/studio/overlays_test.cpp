// The revision list editor and the storyboard's title and underlay launches on the offscreen
// platform, with scripted dialogs, over a clip made by ffmpeg; what they leave is rendered by
// quillory-cli and read back by ffmpeg.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <functional>

#include "core/dialogs.h"
#include "core/memory.h"
#include "platform/gdi/gdi.h"
#include "platform/help/help.h"
#include "playback/host.h"
#include "playback/loops.h"
#include "playback/panel.h"
#include "playback/playwindow.h"
#include "project/projectfile.h"
#include "render/title_dialog.h"
#include "settings/settings.h"
#include "studio/revision_editor.h"
#include "studio/storyboard.h"
#include "studio/storyboard_ids.h"
#include "support/crafted.h"
#include "support/ffprobe.h"
#include "support/gui_test.h"
#include "support/modal.h"
#include "ui/artwork.h"
#include "ui/buttons.h"
#include "ui/controls.h"

using crafted::Bmp;
using crafted::BmpLayout;
using media_test::Quote;
using media_test::Shell;

namespace {

constexpr int32_t kW = 64, kH = 48;

// Runs script in the window of that name once it is open; it is closed if the script leaves it.
void InWindow(const char* name, std::function<void(QWidget*)> script) {
    WhenOpen(name, std::move(script), [](QWidget* w) {
        if (auto* vcr = qobject_cast<VcrPanel*>(w)) vcr->Command(kCmdPowerOff);
        if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) d->reject();
    });
}
void Click(QWidget* w, int32_t id) {
    qobject_cast<QPushButton*>(FindControl(w, id))->click();
}
QListWidget* List(QWidget* w, int32_t id) {
    return qobject_cast<QListWidget*>(FindControl(w, id));
}
// A widget's picture as bottom-up BGR rows, as the render writes frames.
std::string Bgr(const QImage& image) {
    QImage bgr = image.convertToFormat(QImage::Format_BGR888);
    std::string out;
    for (int y = bgr.height() - 1; y >= 0; y--)
        out.append(reinterpret_cast<const char*>(bgr.constScanLine(y)), static_cast<size_t>(bgr.width() * 3));
    return out;
}

class Overlays : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        std::strcpy(gSettings.FontName, "Liberation Sans");
        gSettings.Size = -14, gSettings.Weight = 700, gSettings.Color = 0xFFFF;
        previousExtent = InstallGdiTextExtentProvider();  // as the program and quillory-cli measure
        window = new StoryboardWindow;
        // Left half blue (the render's fixed key), right half red.
        clip = dir.file("c.avi");
        Shell(
            "ffmpeg -nostdin -v error -f lavfi -i color=c=blue:size=64x48:rate=15 -vf "
            "drawbox=x=32:y=0:w=32:h=48:color=red:t=fill -frames:v 12 -c:v rawvideo -pix_fmt bgr24 " +
            Quote(clip));
        ASSERT_TRUE(AppendAVIToProject(nullptr, clip.c_str()));
    }
    void TearDown() override {
        delete window;
        SetTextExtentProvider(previousExtent);
        GuiTest::TearDown();
        EXPECT_EQ(MemoryMonitorStatus().errors, 0);
    }
    // The project file as saved.
    std::string Saved() {
        EXPECT_TRUE(KeepProjectFileName(dir.file("p.cgp")));
        EXPECT_EQ(WriteProject(), 1);
        return ReadWholeFile(dir.file("p.cgp"));
    }
    // Frame index (from 0) of the project rendered uncompressed by quillory-cli, bottom-up BGR.
    std::string Rendered(int index) {
        const std::string cgp = dir.file("p.cgp"), out = dir.file("out.avi"), raw = dir.file("f.raw");
        Saved();
        Shell(std::string(QUILLORY_CLI) + " render " + Quote(cgp) + " " + Quote(out) + " --codec none 2>&1");
        Shell("ffmpeg -nostdin -v error -y -i " + Quote(out) + " -vf 'select=eq(n\\," +
              std::to_string(index) + "),vflip' -frames:v 1 -f rawvideo -pix_fmt bgr24 " + Quote(raw));
        return ReadWholeFile(raw);
    }

    std::string clip;
    std::shared_ptr<TextExtentProvider> previousExtent;
    StoryboardWindow* window = nullptr;
};

}  // namespace

TEST_F(Overlays, RevisionEditorListsRetimesRemovesAndRestores) {
    EXPECT_FALSE(EditRevisionList(nullptr));  // no revisions: no dialog
    std::strcpy(gSettings.HelpFile, QUILLORY_HELP_FILE);
    AddRevision(kRevTitle, 1, 10, MakeTitle("First line\nsecond"));
    AddRevision(kRevUnderlay, 3, 4, nullptr);
    AddRevision(kRevUnderlay, 5, 6, MakeUnderlay("pic.bmp", 1));
    const std::string before = DumpRevisions();

    SCOPED_TRACE("lines, selection, an underlay without a record, each command, then Cancel");
    InWindow("editRevisions", [&](QWidget* d) {
        QListWidget* list = List(d, kRevisionList);
        auto line = [list](int row) { return list->item(row)->text().toStdString(); };
        ASSERT_EQ(list->count(), 3);
        EXPECT_EQ(line(0), "00h00m00s00 00h00m00s09 Title: First line");
        EXPECT_EQ(line(1), "00h00m00s02 00h00m00s03 Video Underlay: No File");
        EXPECT_FALSE(FindControl(d, kRevisionRemove)->isEnabled());
        list->setCurrentRow(1);
        EXPECT_EQ(std::make_pair(gProject.selStart, gProject.selEnd), std::make_pair(2, 3));
        EXPECT_EQ(qobject_cast<QPushButton*>(FindControl(d, kRevisionEditText))->text(),
                  "Edit Underlay File...");
        Click(d, kRevisionChromakey);  // no record: nothing plays
        Click(d, 9);
        EXPECT_EQ(HelpWindowStateOf("").anchor, "context-60");
        list->setCurrentRow(0);
        InWindow("vcrPanel", [](QWidget* w) {  // marks frames 2 to 10 of the clip
            for (int32_t key : {VK_RIGHT, VK_RIGHT, int32_t{'I'}, VK_END, VK_LEFT, int32_t{'O'}})
                qobject_cast<VcrPanel*>(w)->Key(key, false);
        });
        Click(d, kRevisionEditRange);
        EXPECT_EQ(line(0), "00h00m00s02 00h00m00s10 Title: First line");
        InWindow("addTitle", [](QWidget* t) {
            QTest::keyClicks(qobject_cast<QLineEdit*>(FindControl(t, kTitleLineEdit)), "third");
            Click(t, 9);
            EXPECT_EQ(HelpWindowStateOf("").anchor, "context-3");
            Click(t, IDOK);
        });
        Click(d, kRevisionEditText);  // the range's line is still the selected one
        EXPECT_STREQ(TitleOf(gProject.revisions)->text, "First line\nsecond\nthird");
        boxes->answers = {IDYES};
        Click(d, kRevisionRemove);
        EXPECT_EQ(boxes->texts(), std::vector<std::string>{"Remove this item from the list??"});
        EXPECT_EQ(list->count(), 2);
        Click(d, IDCANCEL);
    });
    EXPECT_TRUE(EditRevisionList(nullptr));
    EXPECT_EQ(DumpRevisions(), before);
    EXPECT_EQ(gProject.backup, nullptr);
    WinHelpA(nullptr, gSettings.HelpFile, HELP_QUIT, 0);

    SCOPED_TRACE("Remove, a picture for the underlay without one, then OK");
    const std::string bmp = dir.file("u.bmp");
    WriteWholeFile(bmp, Bmp(BmpLayout{kW, kH}));
    dialogs->answers.push_back(bmp);
    InWindow("editRevisions", [](QWidget* d) {
        List(d, kRevisionList)->setCurrentRow(2);
        Click(d, kRevisionRemove);
        List(d, kRevisionList)->setCurrentRow(1);
        Click(d, kRevisionEditText);
        Click(d, IDOK);
    });
    EXPECT_TRUE(EditRevisionList(nullptr));
    EXPECT_EQ(dialogs->requests.back().title, "Revise Filename for Underlay File");
    EXPECT_EQ(DumpRevisions(), before.substr(0, before.find("R 3")) + "R 3 4 4 U [" + bmp + "]\n");
    ClearRevisions();
}

TEST_F(Overlays, AddAndEditTitleFromTheStoryboard) {
    window->Command(kCmdAddTitle);  // nothing selected: a message and no dialog
    EXPECT_TRUE(boxes->saw("You have to drag-select a range of frames to do this"));
    EXPECT_EQ(gProject.revisions, nullptr);

    DrawSelection(2, 5, true);
    std::string previewed, caption;
    InWindow("addTitle", [&](QWidget* d) {
        QWidget* view = ShownWindow("pictureView");
        caption = view->windowTitle().toStdString();
        QTest::keyClicks(qobject_cast<QLineEdit*>(FindControl(d, kTitleLineEdit)), "Hi");
        Click(d, 2097);  // lower centre
        previewed = Bgr(view->grab().toImage());
        Click(d, IDOK);
    });
    window->Command(kCmdAddTitle);
    EXPECT_EQ(caption, "frame 2: " + clip);
    EXPECT_EQ(ShownWindow("pictureView"), nullptr);
    EXPECT_EQ(DumpRevisions().substr(0, 20), "R 3 6 2 T 2 0 [Hi] [");
    EXPECT_TRUE(window->button(kCmdUndo)->isEnabled());
    EXPECT_TRUE(Rendered(2) == previewed);

    SCOPED_TRACE("editing from the range popup: the edited title is previewed over the frame without it");
    DrawSelection(3, 3, true);
    std::string with, without;
    InWindow("addTitle", [&](QWidget* d) {
        with = Bgr(ShownWindow("pictureView")->grab().toImage());
        Click(d, IDCANCEL);
        without = Bgr(ShownWindow("pictureView")->grab().toImage());
    });
    window->Command(kPopEditTitle);
    EXPECT_TRUE(with == Rendered(3));
    UndoLastRevision();
    EXPECT_TRUE(without == Rendered(3));
}

TEST_F(Overlays, AddUnderlayPicksKeyColoursAndRenders) {
    const std::string bmp = dir.file("under.bmp"), grey = dir.file("grey.bmp"), text = dir.file("notes.bmp");
    WriteWholeFile(bmp, Bmp(BmpLayout{kW, kH}));
    WriteWholeFile(grey, Bmp(BmpLayout{kW, kH, 8, false, 0, 256}));
    WriteWholeFile(text, "just some notes, not a picture");
    window->Command(kPopAddUnderlay);
    EXPECT_TRUE(boxes->saw("You have to drag-select a range of frames to do this"));

    DrawSelection(0, 11, true);
    for (const std::string& refused : {text, grey, dir.file("missing.bmp")}) {
        dialogs->answers.push_back(refused);
        window->Command(kCmdAddUnderlay);
    }
    EXPECT_EQ(boxes->texts(),
              (std::vector<std::string>{"You have to drag-select a range of frames to do this",
                                        "Not a BMP file", "Can only handle 24-bit BMPs for now",
                                        "Failed to open BMP file <" + dir.file("missing.bmp") + ">"}));
    EXPECT_EQ(gProject.revisions, nullptr);
    EXPECT_EQ(dialogs->requests.back().title, "Select BMP File For Underlay");

    dialogs->answers.push_back(bmp);
    boxes->answers = {IDYES};  // pick key colours now: drag over the blue half and accept
    InWindow("vcrPanel", [](QWidget*) {
        auto* play = qobject_cast<PlayWindow*>(ShownWindow("playWindow"));
        const QPoint at = play->pictureControl()->pos();
        QTest::mousePress(play, Qt::LeftButton, Qt::NoModifier, at + QPoint(4, 4));
        QTest::mouseMove(play, at + QPoint(20, 30));
        QTest::mouseRelease(play, Qt::LeftButton, Qt::NoModifier, at + QPoint(20, 30));
    });
    window->Command(kCmdAddUnderlay);
    EXPECT_TRUE(boxes->saw("Pick key colours now?"));
    const std::string cgp = Saved();
    EXPECT_NE(cgp.find("R0: 1,12,4\nU0: " + bmp + "\nU1: "), std::string::npos) << cgp;

    // Keyed pixels come from the picture (column x, row y from the bottom: x, y, 7), the rest stay.
    const std::string frame = Rendered(0);
    ASSERT_EQ(frame.size(), static_cast<size_t>(kW * kH * 3));
    auto at = [&](int x, int y) { return frame.substr(static_cast<size_t>((y * kW + x) * 3), 3); };
    EXPECT_EQ(at(10, 20), std::string({10, 20, 7}));
    EXPECT_EQ(at(5, 40), std::string({5, 40, 7}));
    EXPECT_GT(static_cast<uint8_t>(at(40, 20)[2]), 250);  // red stays red
}
