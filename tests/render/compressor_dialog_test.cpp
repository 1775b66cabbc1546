// The "Choose Compressor" dialog's widgets over the real compressors.
#include "render/compressor_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>

#include "render/compressor.h"
#include "settings/settings.h"
#include "support/modal.h"
#include "support/qtapp.h"
#include "support/scripted.h"
#include "ui/controls.h"

namespace {

BITMAPINFOHEADER Frames(int32_t width, int32_t height) {
    return {40, width, height, 1, 24, BI_RGB, PaddedFrameBytes(width, height), 0, 0, 0, 0};
}

// Clicks the button with that id in the dialog that opens next.
void ClickInNextDialog(int32_t id) {
    WhenOpen("chooseCompressor", [id](QWidget* dialog) {
        auto* b = qobject_cast<QPushButton*>(FindControl(dialog, id));
        ASSERT_NE(b, nullptr) << id;
        b->click();
    });
}

}  // namespace

TEST(CompressorDialog, ControlsFollowTheSelectedCompressorAndOkOrCancelEndIt) {
    TestApp();
    ResetCompressorState();
    ScopedBoxes boxes;
    BITMAPINFOHEADER input = Frames(320, 240);
    ChooseCompressorModel model(&input);
    ASSERT_TRUE(model.Open());
    CompressorDialog dialog(nullptr, model);
    EXPECT_EQ(dialog.windowTitle(), "Choose Compressor");
    using M = ChooseCompressorModel;
    auto* list = qobject_cast<QComboBox*>(FindControl(&dialog, M::kListId));
    auto* scroll = qobject_cast<QScrollBar*>(FindControl(&dialog, M::kScrollId));
    auto* number = qobject_cast<QLabel*>(FindControl(&dialog, M::kNumberId));
    auto* label = qobject_cast<QLabel*>(FindControl(&dialog, M::kQualityLabelId));
    ASSERT_TRUE(list && scroll && number && label);
    EXPECT_TRUE(list->count() == static_cast<int>(model.entries().size()) && scroll->maximum() == 100);
    EXPECT_EQ(list->itemText(0), " ** 24-bit uncompressed **");

    // A compressor with a quality enables the quality controls, which show the kept quality and
    // follow the scroll bar within 0-100; one without disables them; the uncompressed entry changes
    // none of them.
    emit list->activated(model.FindHandler(FourCC("MJPG")));
    EXPECT_TRUE(scroll->isEnabled() && label->isEnabled());
    for (int i = 0; i < 12; i++)
        scroll->triggerAction(i ? QAbstractSlider::SliderPageStepSub : QAbstractSlider::SliderPageStepAdd);
    QCoreApplication::processEvents();
    EXPECT_EQ(std::to_string(scroll->value()) + " " + number->text().toStdString() + " " +
                  std::to_string(model.scrollPosition()),
              "0 0 0");
    emit list->activated(model.FindHandler(FourCC("FFV1")));
    EXPECT_FALSE(scroll->isEnabled() || label->isEnabled());
    emit list->activated(0);
    EXPECT_TRUE(!scroll->isEnabled() && list->currentIndex() == 0 && model.selection() == 0);
    model.Cancel();

    // Through the installed dialog: Cancel cancels; on a first run OK keeps the uncompressed entry.
    ResetCompressorState();
    InstallQtCompressorDialog();
    BITMAPINFOHEADER small = Frames(160, 120);
    ClickInNextDialog(IDCANCEL);
    EXPECT_EQ(ChooseCompressor(nullptr, &small), ChooseCancelled());
    ClickInNextDialog(IDOK);
    EXPECT_EQ(ChooseCompressor(nullptr, &small), nullptr);
    EXPECT_EQ(CompressorMemory().lastPosition, 0);

    // For an MP4 file the dialog names the encoder and offers its quality alone; OK gives the
    // quality and leaves the AVI list's remembered position alone.
    CompressorMemory().mp4Quality = 73;
    QTimer::singleShot(0, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_TRUE(dialog);
        auto* method = dialog->findChild<QLabel*>("mp4Method");
        ASSERT_TRUE(method);
        EXPECT_TRUE(method->text().startsWith("MP4: H.264"));
        for (int id : {M::kListId, M::kConfigureId, M::kAboutId})
            EXPECT_FALSE(FindControl(dialog, id)->isVisible());
        EXPECT_TRUE(FindControl(dialog, M::kScrollId)->isEnabled());
        qobject_cast<QPushButton*>(FindControl(dialog, IDOK))->click();
    });
    EXPECT_EQ(Mp4CompressorSetup(nullptr, &small), 73);
    EXPECT_EQ(CompressorMemory().lastPosition, 0);

    // On a first run the studio's dialog and the command line's scripted choice (no --quality) give
    // MP4 files one quality, below the visually transparent 100.
    ResetCompressorState();
    ClickInNextDialog(IDOK);
    const int32_t studio = Mp4CompressorSetup(nullptr, &small);
    ResetCompressorState();
    SetCompressorDialogProvider(std::make_shared<ScriptedCompressorChoice>());
    EXPECT_EQ(Mp4CompressorSetup(nullptr, &small), studio);
    EXPECT_TRUE(studio > 0 && studio < 100) << studio;
    SetCompressorDialogProvider(nullptr);
}

TEST(CompressorDialog, CopyingAndFittingAreKeptAndTheFitChoosesTheQuality) {
    TestApp();
    ResetCompressorState();
    ResetSettings();
    ScopedBoxes boxes;
    BITMAPINFOHEADER input = Frames(320, 240);
    using M = ChooseCompressorModel;
    // A predictor that fits 5 MB at quality 40 and predicts 7.5 MB otherwise.
    std::vector<std::string> asked;
    SetSizePredictor([&asked](FOURCC handler, int quality, int64_t fit, bool copy) {
        asked.push_back(FourCCText(handler) + " " + std::to_string(quality) + " " + std::to_string(fit) +
                        " " + std::to_string(copy));
        return fit ? SizePrediction{4900000, 40} : SizePrediction{7500000, quality};
    });
    ChooseCompressorModel model(&input);
    ASSERT_TRUE(model.Open());
    CompressorDialog dialog(nullptr, model);
    auto* list = qobject_cast<QComboBox*>(FindControl(&dialog, M::kListId));
    auto* copy = qobject_cast<QCheckBox*>(FindControl(&dialog, M::kCopyId));
    auto* fit = qobject_cast<QCheckBox*>(FindControl(&dialog, M::kFitId));
    auto* size = qobject_cast<QSpinBox*>(FindControl(&dialog, M::kFitSizeId));
    auto* scroll = qobject_cast<QScrollBar*>(FindControl(&dialog, M::kScrollId));
    auto* predicted = qobject_cast<QLabel*>(FindControl(&dialog, M::kPredictedId));
    ASSERT_TRUE(list && copy && fit && size && scroll && predicted);
    EXPECT_TRUE(copy->isChecked() && !fit->isChecked() && size->value() == 10);

    // Fitting needs a quality scale: greyed for FFV1, offered for Motion JPEG, where it takes the
    // quality over.
    emit list->activated(model.FindHandler(FourCC("FFV1")));
    EXPECT_FALSE(fit->isEnabled());
    emit list->activated(model.FindHandler(FourCC("MJPG")));
    ASSERT_TRUE(fit->isEnabled());
    copy->setChecked(false);
    fit->setChecked(true);
    size->setValue(5);
    EXPECT_FALSE(scroll->isEnabled());
    dialog.Predict();
    EXPECT_EQ(asked.back(), "MJPG 100 5000000 0");
    EXPECT_EQ(predicted->text(), "Predicted size: 4.9 MB at quality 40");
    EXPECT_EQ(scroll->value(), 40);
    fit->setChecked(false);
    dialog.Predict();
    EXPECT_EQ(predicted->text(), "Predicted size: 7.5 MB");

    // OK keeps the choices in the settings.
    fit->setChecked(true);
    HIC chosen = model.Accept();
    ICClose(chosen);
    EXPECT_EQ(std::to_string(gSettings.CopyFrames) + std::to_string(gSettings.FitToSize) + " " +
                  std::to_string(gSettings.FitMB) + " " + std::to_string(CompressorMemory().quality),
              "01 5 4000");
    SetSizePredictor(nullptr);
    ResetSettings();
}
