// The "Choose Compressor" dialog's widgets over the real compressors.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include "render/compressor.h"
#include "render/compressor_dialog.h"
#include "support/qtapp.h"
#include "support/scripted.h"
#include "ui/controls.h"

namespace {

BITMAPINFOHEADER Frames(int32_t width, int32_t height) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biSizeImage = PaddedFrameBytes(width, height);
    return h;
}

template <typename T>
T* Control(QWidget& dialog, int32_t id) {
    return qobject_cast<T*>(FindControl(&dialog, id));
}

// Clicks the button with that id in the dialog that opens next.
void ClickInNextDialog(int32_t id) {
    QTimer::singleShot(0, [id] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (auto* b = dialog ? qobject_cast<QPushButton*>(FindControl(dialog, id)) : nullptr) b->click();
    });
}

}  // namespace

TEST(CompressorDialog, ControlsFollowTheSelectedCompressor) {
    TestApp();
    ResetCompressorState();
    ScopedBoxes boxes;
    BITMAPINFOHEADER input = Frames(320, 240);
    ChooseCompressorModel model(&input);
    ASSERT_TRUE(model.Open());
    CompressorDialog dialog(nullptr, model);
    EXPECT_EQ(dialog.windowTitle(), "Choose Compressor");
    auto* list = Control<QComboBox>(dialog, ChooseCompressorModel::kListId);
    auto* scroll = Control<QScrollBar>(dialog, ChooseCompressorModel::kScrollId);
    auto* number = Control<QLabel>(dialog, ChooseCompressorModel::kNumberId);
    auto* label = Control<QLabel>(dialog, ChooseCompressorModel::kQualityLabelId);
    ASSERT_TRUE(list && scroll && number && label);
    ASSERT_TRUE(Control<QPushButton>(dialog, IDOK) && Control<QPushButton>(dialog, IDCANCEL));
    ASSERT_TRUE(Control<QPushButton>(dialog, ChooseCompressorModel::kConfigureId));
    ASSERT_TRUE(Control<QPushButton>(dialog, ChooseCompressorModel::kAboutId));
    ASSERT_EQ(list->count(), static_cast<int>(model.entries().size()));
    EXPECT_EQ(list->itemText(0), " ** 24-bit uncompressed **");
    EXPECT_EQ(scroll->minimum(), 0);
    EXPECT_EQ(scroll->maximum(), 100);

    // A compressor with a quality enables the quality controls, which show the kept quality.
    const int mjpg = model.FindHandler(FourCC("MJPG"));
    ASSERT_GT(mjpg, 0);
    list->setCurrentIndex(mjpg);
    emit list->activated(mjpg);
    EXPECT_EQ(model.selection(), mjpg);
    EXPECT_TRUE(scroll->isEnabled());
    EXPECT_TRUE(label->isEnabled());
    EXPECT_EQ(scroll->value(), 100);
    EXPECT_EQ(number->text(), "100");

    // The scroll bar never leaves 0-100 and the number follows it.
    scroll->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCoreApplication::processEvents();
    EXPECT_EQ(scroll->value(), 100);
    for (int i = 0; i < 15; i++) scroll->triggerAction(QAbstractSlider::SliderPageStepSub);
    QCoreApplication::processEvents();
    EXPECT_EQ(scroll->value(), 0);
    EXPECT_EQ(number->text(), "0");
    scroll->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCoreApplication::processEvents();
    EXPECT_EQ(model.scrollPosition(), 1);
    EXPECT_EQ(number->text(), "1");

    // A compressor without a quality disables them; the uncompressed entry changes none of them.
    const int ffv1 = model.FindHandler(FourCC("FFV1"));
    ASSERT_GT(ffv1, 0);
    emit list->activated(ffv1);
    EXPECT_FALSE(scroll->isEnabled());
    EXPECT_FALSE(label->isEnabled());
    emit list->activated(0);
    EXPECT_FALSE(scroll->isEnabled());
    EXPECT_EQ(list->currentIndex(), 0);
    model.Cancel();
}

TEST(CompressorDialog, OkAndCancelThroughTheInstalledDialog) {
    TestApp();
    ResetCompressorState();
    ScopedBoxes boxes;
    InstallQtCompressorDialog();
    BITMAPINFOHEADER input = Frames(160, 120);
    ClickInNextDialog(IDCANCEL);
    EXPECT_EQ(ChooseCompressor(nullptr, &input), ChooseCancelled());
    // The preselected entry is the uncompressed one on a first run: OK gives no compressor.
    ClickInNextDialog(IDOK);
    EXPECT_EQ(ChooseCompressor(nullptr, &input), nullptr);
    EXPECT_EQ(CompressorMemory().lastPosition, 0);
    SetCompressorDialogProvider(nullptr);
}
