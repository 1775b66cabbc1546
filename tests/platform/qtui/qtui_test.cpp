#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "core/dialogs.h"
#include "platform/qtui/qtui.h"
#include "support/modal.h"
#include "support/qtapp.h"
#include "support/scripted.h"

namespace {

// Counts the input it receives.
class Target : public QWidget {
  public:
    int presses = 0, keys = 0, userEvents = 0;

  protected:
    void mousePressEvent(QMouseEvent*) override { presses++; }
    void keyPressEvent(QKeyEvent*) override { keys++; }
    void customEvent(QEvent*) override { userEvents++; }
};

void PostClick(QWidget* w) {
    QPointF p(5, 5);
    QCoreApplication::postEvent(w, new QMouseEvent(QEvent::MouseButtonPress, p, w->mapToGlobal(p),
                                                   Qt::LeftButton, Qt::LeftButton, {}));
    QCoreApplication::postEvent(w, new QMouseEvent(QEvent::MouseButtonRelease, p, w->mapToGlobal(p),
                                                   Qt::LeftButton, Qt::NoButton, {}));
}

void PostKey(QWidget* w, int key) {
    QCoreApplication::postEvent(w, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier));
    QCoreApplication::postEvent(w, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier));
}

// Runs check on the next modal widget of type T once it is up.
template <typename T>
void WhenModal(std::function<void(T*)> check) {
    WhenShown(
        typeid(T).name(), [] { return qobject_cast<T*>(QApplication::activeModalWidget()); },
        [check](QWidget* w) { check(qobject_cast<T*>(w)); });
}

}  // namespace

TEST(QtPump, EscapeStopsThePassAndDropsTheInputBehindIt) {
    TestApp();
    QtPumpProvider pump;
    Target target;
    target.show();
    QCoreApplication::processEvents();
    EXPECT_FALSE(pump.PumpUntilEscape());  // nothing pending

    // A click, Escape, a click: the first click only, and true.
    PostClick(&target);
    PostKey(&target, Qt::Key_Escape);
    PostClick(&target);
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));  // not input: still delivered
    EXPECT_EQ((std::tuple{pump.PumpUntilEscape(), target.presses, target.keys, target.userEvents}),
              std::tuple(true, 1, 0, 1));
    EXPECT_EQ((std::pair{pump.PumpUntilEscape(), target.presses}),
              std::pair(false, 1));  // the dropped input is gone

    // Other keys pass, and the pump that only dispatches lets Escape through too.
    PostKey(&target, Qt::Key_A);
    EXPECT_EQ((std::pair{pump.PumpUntilEscape(), target.keys}), std::pair(false, 1));
    PostKey(&target, Qt::Key_Escape);
    PostClick(&target);
    pump.PumpAll();
    EXPECT_EQ(std::pair(target.keys, target.presses), std::pair(2, 2));

    // A handler that pumps again inside a pass does not disturb the outer pass.
    Target inner;
    int nested = 0;
    QTimer::singleShot(0, [&] {
        PostKey(&inner, Qt::Key_Escape);
        nested = pump.PumpUntilEscape() ? 1 : 2;
    });
    QCoreApplication::processEvents();
    EXPECT_EQ(nested, 1);
    PostClick(&target);
    EXPECT_EQ((std::pair{pump.PumpUntilEscape(), target.presses}), std::pair(false, 3));
}

TEST(QtPump, WaitingBlocksInTheEventLoopAndEndsOnEscape) {
    TestApp();
    QtPumpProvider pump;
    Target target;
    target.show();
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ticks++; });
    ticker.start(5);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(pump.PumpWait(60));
    EXPECT_GE(clock.elapsed(), 55);
    EXPECT_GT(ticks, 0);  // timers ran while it waited

    QTimer::singleShot(20, [&] {
        PostKey(&target, Qt::Key_Escape);
        PostClick(&target);
    });
    clock.restart();
    EXPECT_TRUE(pump.PumpWait(20000));
    EXPECT_LT(clock.elapsed(), 10000);  // it did not sit out the whole wait
    QCoreApplication::processEvents();
    EXPECT_EQ((std::pair{target.presses, pump.PumpWait(0)}),
              std::pair(0, false));  // the click behind Escape dropped
}

TEST(QtMessageBoxes, CaptionIconButtonsOwnerAndAnswers) {
    TestApp();
    QtMessageBoxProvider boxes;
    QWidget owner;
    owner.show();

    struct Case {
        unsigned style;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton press;  // NoButton: close with Escape
        int result;
    };
    const Case cases[] = {
        {MB_OK | MB_ICONEXCLAMATION, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok, IDOK},
        {MB_YESNO | MB_ICONQUESTION, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
         QMessageBox::No, IDNO},
        {MB_YESNO | MB_ICONQUESTION, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
         QMessageBox::Yes, IDYES},
        {MB_OKCANCEL | MB_ICONEXCLAMATION, QMessageBox::Warning, QMessageBox::Ok | QMessageBox::Cancel,
         QMessageBox::Cancel, IDCANCEL},
        {MB_OKCANCEL | MB_ICONINFORMATION, QMessageBox::Information, QMessageBox::Ok | QMessageBox::Cancel,
         QMessageBox::NoButton, IDCANCEL},
        {MB_OK, QMessageBox::NoIcon, QMessageBox::Ok, QMessageBox::NoButton, IDOK},
    };
    for (const Case& c : cases) {
        bool checked = false;
        WhenModal<QMessageBox>([&](QMessageBox* box) {
            // Shown as plain text.
            EXPECT_EQ((QStringList{box->windowTitle(), box->text()}),
                      (QStringList{"Notify", "Edit <title>\nsecond line"}));
            EXPECT_EQ(std::tuple(box->textFormat(), box->icon(), box->standardButtons(), box->parentWidget()),
                      std::tuple(Qt::PlainText, c.icon, c.buttons, static_cast<QWidget*>(&owner)));
            checked = true;
            if (c.press == QMessageBox::NoButton)
                box->reject();
            else
                box->button(c.press)->click();
        });
        EXPECT_EQ(boxes.Show(HWNDFromWidget(&owner), "Edit <title>\nsecond line", "Notify", c.style),
                  c.result);
        EXPECT_TRUE(checked);
    }

    // An owner that is gone is not used.
    auto* gone = new QWidget;
    HWND stale = HWNDFromWidget(gone);
    delete gone;
    EXPECT_EQ(LiveWidget(stale), nullptr);
    WhenModal<QMessageBox>([](QMessageBox* box) {
        EXPECT_EQ(box->parentWidget(), nullptr);
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(boxes.Show(stale, "x", "Notify", MB_OK), IDOK);

    // A question with a button of its own beside Yes and No: that button, or Escape for No.
    for (bool press : {true, false}) {
        WhenModal<QMessageBox>([press](QMessageBox* box) {
            QAbstractButton* own = nullptr;
            for (QAbstractButton* b : box->buttons())
                if (b->text() == "Show in Folder") own = b;
            ASSERT_TRUE(own);
            EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
            if (press)
                own->click();
            else
                box->reject();
        });
        EXPECT_EQ(boxes.ShowWithButton(HWNDFromWidget(&owner), "View?", "Notify", MB_YESNO, "Show in Folder"),
                  press ? kIdBoxButton : IDNO);
    }

    // A question with a choice: the list under the text starts at the given option; a greyed one
    // cannot be picked; the option chosen comes back with the answer.
    int selected = 2;
    WhenModal<QDialog>([](QDialog* box) {
        auto* list = box->findChild<QComboBox*>("choice");
        ASSERT_TRUE(list);
        EXPECT_EQ(box->windowTitle() + " " + list->currentText(), "Notify GIF");
        EXPECT_FALSE(qobject_cast<QStandardItemModel*>(list->model())->item(0)->isEnabled());
        list->setCurrentIndex(1);
        box->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Yes)->click();
    });
    EXPECT_EQ(
        boxes.ShowWithChoice(HWNDFromWidget(&owner), "Record first?", "Notify", MB_YESNO | MB_ICONQUESTION,
                             {"Send as:", {"MP4", "AVI", "GIF"}, {false}}, &selected),
        IDYES);
    EXPECT_EQ(selected, 1);
}

TEST(QtFileDialogs, FiltersInAnyCaseAndTheOverwriteQuestionForTheFinalName) {
    TestApp();
    TempDir dir;
    for (const char* name : {"take.avi", "CLIP.AVI", "notes.txt", "trip.CGP"})
        WriteWholeFile(dir.file(name), "x");
    QtFileDialogProvider dialogs;
    FileDialogRequest open;
    open.title = "Select AVI File";
    open.filters = {{"AVI Files", "*.avi"}, {"All Files", "*.*"}};
    open.initialName = dir.file("take.avi");
    open.flags = OFN_FILEMUSTEXIST;
    WhenModal<QFileDialog>([&](QFileDialog* d) {
        EXPECT_EQ(QStringList({d->windowTitle(), d->directory().absolutePath()}) + d->nameFilters(),
                  QStringList({"Select AVI File", QString::fromStdString(dir.path()), "AVI Files (*.avi)",
                               "All Files (*)"}));
        QTimer::singleShot(300, d, [d] {  // once the folder is listed
            auto* list = d->findChild<QListView*>("listView");
            QStringList shown;
            for (int i = 0; list && i < list->model()->rowCount(list->rootIndex()); i++)
                shown << list->model()->index(i, 0, list->rootIndex()).data().toString();
            shown.sort();
            EXPECT_EQ(shown, QStringList({"CLIP.AVI", "take.avi"}));
            static_cast<QDialog*>(d)->accept();
        });
    });
    std::string chosen;
    ASSERT_TRUE(dialogs.Choose(open, chosen));
    EXPECT_EQ(chosen, dir.file("take.avi"));

    // "trip" typed over an existing trip.CGP: the question names trip.CGP; No keeps the dialog
    // open, Yes chooses it.
    FileDialogRequest save;
    save.save = true;
    save.filters = {{"Clipgram Project Files", "*.cgp"}, {"All Files", "*.*"}};
    save.initialDir = dir.path();
    save.filterIndex = 2;
    save.flags = OFN_OVERWRITEPROMPT;
    save.defaultExtension = "CGP";
    std::vector<QString> questions;
    WhenModal<QFileDialog>([&](QFileDialog* d) {
        EXPECT_EQ(d->selectedNameFilter(), "All Files (*)");
        d->findChild<QLineEdit*>("fileNameEdit")->setText("trip");
        for (int answer : {QMessageBox::No, QMessageBox::Yes}) {
            WhenModal<QMessageBox>([&questions, answer](QMessageBox* box) {
                questions.push_back(box->text());
                box->button(static_cast<QMessageBox::StandardButton>(answer))->click();
            });
            QMetaObject::invokeMethod(d, "accept");
        }
    });
    ASSERT_TRUE(dialogs.Choose(save, chosen));
    EXPECT_EQ(chosen, dir.file("trip.CGP"));
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_TRUE(questions[0].startsWith("trip.CGP already exists")) << questions[0].toStdString();

    WhenModal<QFileDialog>([](QFileDialog* d) { d->reject(); });
    chosen = "unchanged";
    // A cancelled dialog changes nothing.
    EXPECT_EQ((std::pair{dialogs.Choose(save, chosen), chosen}), std::pair(false, std::string("unchanged")));
}

TEST(QtTextExtent, MeasuresInThePaintersFont) {
    TestApp();
    QtTextExtentProvider extent;
    QImage img(10, 10, QImage::Format_RGB32);
    QPainter p(&img);
    QFont f("Liberation Sans");
    f.setPixelSize(20);
    p.setFont(f);
    QFontMetrics fm(f);
    uint32_t wide = extent.Extent(HDCFromPainter(&p), "WWW", 3);
    uint32_t narrow = extent.Extent(HDCFromPainter(&p), "iii", 3);
    EXPECT_EQ(static_cast<int>(wide >> 16), fm.height());  // the painter's font, not the application's
    EXPECT_GT(wide & 0xFFFF, narrow & 0xFFFF);
    // A count past the text's end stops at its end; bad arguments measure nothing.
    EXPECT_EQ(extent.Extent(HDCFromPainter(&p), "WWW", 50), wide);
    EXPECT_EQ(extent.Extent(HDCFromPainter(&p), nullptr, 5) & 0xFFFF, 0u);
    EXPECT_EQ(extent.Extent(HDCFromPainter(&p), "WWW", -1) & 0xFFFF, 0u);
    EXPECT_GT(extent.Extent(nullptr, "WWW", 3) >> 16, 0u);  // without a painter: the application font
}
