#include "render/compressor_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/qtui/qtui.h"
#include "render/compressor.h"
#include "ui/controls.h"

namespace {

constexpr int32_t kCompressorDialogId = 110;
constexpr int kQualityMax = 100;
// A prediction waits this long after the last change, so dragging the slider does not compress.
constexpr int kPredictDelayMs = 300;

// QAbstractSlider actions as the scroll codes the model takes.
int ScrollCode(int action) {
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
            return ChooseCompressorModel::kLineLeft;
        case QAbstractSlider::SliderSingleStepAdd:
            return ChooseCompressorModel::kLineRight;
        case QAbstractSlider::SliderPageStepSub:
            return ChooseCompressorModel::kPageLeft;
        case QAbstractSlider::SliderPageStepAdd:
            return ChooseCompressorModel::kPageRight;
        case QAbstractSlider::SliderMove:
            return ChooseCompressorModel::kThumbTrack;
        default:
            return ChooseCompressorModel::kThumbPosition;
    }
}

}  // namespace

CompressorDialog::CompressorDialog(QWidget* owner, ChooseCompressorModel& model)
    : QDialog(owner), model_(model) {
    setObjectName("chooseCompressor");
    setWindowTitle("Choose Compressor");
    SetControlId(this, kCompressorDialogId);
    QFont f = font();
    f.setFamily("MS Sans Serif");
    setFont(f);

    auto* methodLabel = new QLabel("&Compress Method:", this);
    SetControlId(methodLabel, -1);
    list_ = new QComboBox(this);
    SetControlId(list_, ChooseCompressorModel::kListId);
    for (const CompressorEntry& e : model_.entries()) list_->addItem(QString::fromStdString(e.description));
    methodLabel->setBuddy(list_);
    list_->setMinimumContentsLength(28);

    qualityLabel_ = new QLabel("Compress Quality:", this);
    SetControlId(qualityLabel_, ChooseCompressorModel::kQualityLabelId);
    number_ = new QLabel(this);
    SetControlId(number_, ChooseCompressorModel::kNumberId);
    number_->setMinimumWidth(number_->fontMetrics().horizontalAdvance("1000"));
    number_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    scroll_ = new QScrollBar(Qt::Horizontal, this);
    SetControlId(scroll_, ChooseCompressorModel::kScrollId);
    scroll_->setRange(0, kQualityMax);
    scroll_->setSingleStep(1);
    scroll_->setPageStep(10);

    copy_ = new QCheckBox("Copy frames without titles or underlays when the format allows", this);
    SetControlId(copy_, ChooseCompressorModel::kCopyId);
    fit_ = new QCheckBox("Fit to", this);
    SetControlId(fit_, ChooseCompressorModel::kFitId);
    fitSize_ = new QSpinBox(this);
    SetControlId(fitSize_, ChooseCompressorModel::kFitSizeId);
    fitSize_->setRange(1, kMaxFitMB);
    auto* megabytes = new QLabel("MB", this);
    predicted_ = new QLabel(this);
    SetControlId(predicted_, ChooseCompressorModel::kPredictedId);
    predicted_->setVisible(model_.canPredict());
    predictTimer_ = new QTimer(this);
    predictTimer_->setSingleShot(true);
    predictTimer_->setInterval(kPredictDelayMs);

    auto* ok = new QPushButton("OK", this);
    SetControlId(ok, IDOK);
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    SetControlId(cancel, IDCANCEL);
    configure_ = new QPushButton("Con&figure...", this);
    SetControlId(configure_, ChooseCompressorModel::kConfigureId);
    about_ = new QPushButton("&About...", this);
    SetControlId(about_, ChooseCompressorModel::kAboutId);

    auto* grid = new QGridLayout;
    grid->addWidget(methodLabel, 0, 0, 1, 2);
    grid->addWidget(list_, 1, 0, 1, 2);
    if (model_.forMp4()) {
        // An MP4 file has one encoder: it is named, and only its quality is offered.
        auto* method = new QLabel(QString::fromStdString(model_.entries().front().description), this);
        method->setObjectName("mp4Method");
        grid->addWidget(method, 1, 0, 1, 2);
        methodLabel->setText("Compress Method:");
        list_->hide();
        configure_->hide();
        about_->hide();
    }
    grid->addWidget(qualityLabel_, 2, 0);
    grid->addWidget(number_, 2, 1);
    grid->addWidget(scroll_, 3, 0, 1, 2);
    grid->addWidget(copy_, 4, 0, 1, 2);
    auto* fitRow = new QHBoxLayout;
    fitRow->addWidget(fit_);
    fitRow->addWidget(fitSize_);
    fitRow->addWidget(megabytes);
    fitRow->addStretch(1);
    grid->addLayout(fitRow, 5, 0, 1, 2);
    grid->addWidget(predicted_, 6, 0, 1, 2);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addSpacing(8);
    buttons->addWidget(configure_);
    buttons->addWidget(about_);
    buttons->addStretch(1);
    auto* outer = new QHBoxLayout(this);
    outer->addLayout(grid, 1);
    outer->addLayout(buttons);
    outer->setSizeConstraint(QLayout::SetFixedSize);

    connect(list_, &QComboBox::activated, this, [this](int index) {
        model_.Select(index);
        Refresh();
        predictTimer_->start();
    });
    connect(copy_, &QCheckBox::toggled, this, [this](bool on) {
        model_.SetCopyFrames(on);
        predictTimer_->start();
    });
    connect(fit_, &QCheckBox::toggled, this, [this](bool on) {
        model_.SetFit(on, fitSize_->value());
        Refresh();
        predictTimer_->start();
    });
    connect(fitSize_, &QSpinBox::valueChanged, this, [this](int mb) {
        model_.SetFit(model_.fitEnabled(), mb);
        predictTimer_->start();
    });
    connect(predictTimer_, &QTimer::timeout, this, [this] { Predict(); });
    connect(scroll_, &QAbstractSlider::actionTriggered, this, [this](int action) {
        // The slider has already moved for this action; the model decides where it ends.
        model_.Scroll(ScrollCode(action), scroll_->sliderPosition());
        QMetaObject::invokeMethod(
            this, [this] { Refresh(); }, Qt::QueuedConnection);
        predictTimer_->start();
    });
    connect(configure_, &QPushButton::clicked, this, [this] {
        model_.Configure(HWNDFromWidget(this));
        Refresh();
    });
    connect(about_, &QPushButton::clicked, this, [this] {
        model_.About(HWNDFromWidget(this));
        Refresh();
    });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    Refresh();
    if (model_.canPredict()) predictTimer_->start();
}

void CompressorDialog::Predict() {
    if (!model_.canPredict()) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const SizePrediction p = model_.Predict();
    QApplication::restoreOverrideCursor();
    Refresh();
    if (p.bytes < 0) {
        predicted_->setText("Predicted size: unknown");
        return;
    }
    const QString size = QString::number(static_cast<double>(p.bytes) / kBytesPerMB, 'f', 1);
    if (model_.fitEnabled() && model_.fitAvailable())
        predicted_->setText(p.bytes > int64_t{model_.fitMB()} * kBytesPerMB
                                ? QString("Predicted size: %1 MB at quality %2, more than %3 MB")
                                      .arg(size)
                                      .arg(p.quality)
                                      .arg(model_.fitMB())
                                : QString("Predicted size: %1 MB at quality %2").arg(size).arg(p.quality));
    else
        predicted_->setText(QString("Predicted size: %1 MB").arg(size));
}

void CompressorDialog::Refresh() {
    if (model_.selection() >= 0 && model_.selection() < list_->count())
        list_->setCurrentIndex(model_.selection());
    // While the size is fitted, the fit chooses the quality.
    const bool fitting = model_.fitEnabled() && model_.fitAvailable();
    qualityLabel_->setEnabled(model_.qualityEnabled() && !fitting);
    number_->setEnabled(model_.qualityEnabled() && !fitting);
    scroll_->setEnabled(model_.qualityEnabled() && !fitting);
    copy_->setEnabled(model_.copyAvailable());
    fit_->setEnabled(model_.fitAvailable());
    fitSize_->setEnabled(model_.fitAvailable() && model_.fitEnabled());
    {
        const QSignalBlocker blockCopy(copy_), blockFit(fit_), blockSize(fitSize_);
        copy_->setChecked(model_.copyFrames() && model_.copyAvailable());
        fit_->setChecked(model_.fitEnabled());
        fitSize_->setValue(model_.fitMB());
    }
    configure_->setEnabled(model_.configureEnabled());
    about_->setEnabled(model_.aboutEnabled());
    const QSignalBlocker block(scroll_);
    scroll_->setValue(model_.scrollPosition());
    number_->setText(QString::fromStdString(model_.numberText()));
}

namespace {

class QtCompressorDialogProvider : public CompressorDialogProvider {
  public:
    bool Run(HWND owner, ChooseCompressorModel& model) override {
        if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
        CompressorDialog dialog(LiveWidget(owner), model);
        return dialog.exec() == QDialog::Accepted;
    }
};

}  // namespace

void InstallQtCompressorDialog() {
    SetCompressorDialogProvider(std::make_shared<QtCompressorDialogProvider>());
}
