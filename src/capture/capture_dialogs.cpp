// The "Streaming Capture Settings" and "Capture File" dialogs.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "capture/capfile.h"
#include "capture/capsettings.h"
#include "capture/capture_gui.h"
#include "capture/panel.h"
#include "capture/session.h"
#include "core/diag.h"
#include "platform/help/help.h"
#include "platform/qtui/qtui.h"
#include "settings/settings.h"
#include "ui/controls.h"
#include "ui/tooltips.h"
#include "ui/windows.h"

namespace {

constexpr int32_t kSettingsHelpContext = 30;
constexpr int32_t kFileHelpContext = 39;
// The capture file dialog's own controls.
constexpr int32_t kFileNameLine = 1810;
constexpr int32_t kFileMaximumSize = 1811;
constexpr int32_t kFileCurrentSize = 1812;
constexpr int32_t kFileNewSize = 1813;
constexpr int32_t kFileBrowse = 1814;

const TooltipEntry kSettingsTips[] = {{kSetFormatButton, "Driver Supplied Format Dialog"},
                                      {kSetFrameRate, "Video Rate For Capture In Frames/Second"},
                                      {kSetAudioRate, "Audio Sample Rate (or turn off audio capture)"},
                                      {kSetBits, "Bits/Sample For Audio Capture (8 or 16)"},
                                      {kSetMode, "Audio Mode (Mono or Stereo)"},
                                      {kSetCompression, "How Frames Are Stored: Motion JPEG Or Uncompressed"},
                                      {kSetQuality, "Motion JPEG Quality (higher: larger files)"},
                                      {kSetCapFileButton, "Specify New Cap File And/Or File Size"},
                                      {kSetSourceButton, "Driver Supplied Source Dialog"},
                                      {kPanelHelp, "Help for this dialog"},
                                      {0, nullptr}};

QComboBox* ChoiceList(int32_t id, const CaptureChoice* choices, int32_t count) {
    auto* list = new QComboBox;
    SetControlId(list, id);
    for (int32_t i = 0; i < count; i++) list->addItem(choices[i].text);
    return list;
}

QLabel* Line(int32_t id) {
    auto* label = new QLabel;
    SetControlId(label, id);
    label->setMinimumWidth(220);
    return label;
}

QPushButton* Button(const char* text, int32_t id) {
    auto* b = new QPushButton(text);
    SetControlId(b, id);
    return b;
}

class SettingsDialog : public QDialog {
  public:
    explicit SettingsDialog(QWidget* owner) : QDialog(owner) {
        setWindowTitle("Streaming Capture Settings");
        rate_ = ChoiceList(kSetFrameRate, kFrameRateChoices, 11);
        display_ = ChoiceList(kSetDisplay, kDisplayChoices, 2);
        audio_ = ChoiceList(kSetAudioRate, kAudioRateChoices, kAudioRateCount);
        compression_ = ChoiceList(kSetCompression, kCompressionChoices, 2);
        quality_ = ChoiceList(kSetQuality, kQualityChoices, kQualityCount);
        bits_ = ChoiceList(kSetBits, kBitsChoices, 2);
        mode_ = ChoiceList(kSetMode, kModeChoices, 2);
        QPushButton* format = Button("Capture Format...", kSetFormatButton);
        QPushButton* source = Button("Source...", kSetSourceButton);
        QPushButton* capFile = Button("CapFile...", kSetCapFileButton);
        QPushButton* ok = Button("OK", IDOK);
        QPushButton* help = Button("Help...", kPanelHelp);
        ok->setDefault(true);

        auto* parameters = new QGroupBox("Capture Parameters");
        auto* grid = new QGridLayout(parameters);
        grid->addWidget(new QLabel("Video"), 0, 0);
        grid->addWidget(Line(kSetVideoLine), 0, 1, 1, 2);
        grid->addWidget(rate_, 1, 1);
        grid->addWidget(format, 1, 2);
        grid->addWidget(display_, 2, 1);
        grid->addWidget(compression_, 3, 1);
        grid->addWidget(quality_, 3, 2);
        grid->addWidget(new QLabel("Audio"), 4, 0);
        grid->addWidget(audio_, 4, 1, 1, 2);
        grid->addWidget(bits_, 5, 1);
        grid->addWidget(mode_, 5, 2);
        auto* file = new QGroupBox("Capture File");
        auto* lines = new QGridLayout(file);
        lines->addWidget(Line(kSetFileLine), 0, 0, 1, 2);
        lines->addWidget(Line(kSetSizeLine), 1, 0);
        lines->addWidget(capFile, 1, 1);
        lines->addWidget(Line(kSetContentLine), 2, 0);
        lines->addWidget(Line(kSetRateLine), 3, 0);
        lines->addWidget(Line(kSetMaxLine), 4, 0);
        lines->addWidget(source, 4, 1);
        auto* buttons = new QVBoxLayout;
        buttons->addWidget(ok);
        buttons->addWidget(help);
        buttons->addStretch(1);
        auto* groups = new QVBoxLayout;
        groups->addWidget(parameters);
        groups->addWidget(file);
        auto* outer = new QHBoxLayout(this);
        outer->addLayout(groups, 1);
        outer->addLayout(buttons);
        outer->setSizeConstraint(QLayout::SetFixedSize);
        InstallTooltipTable(this, kSettingsTips);

        const auto onChange = [this](QComboBox* list, auto apply) {
            connect(list, &QComboBox::currentIndexChanged, this, [this, apply](int i) {
                if (i >= 0 && !filling_) apply(i);
            });
        };
        onChange(rate_, [this](int i) {
            gSettings.msPerFrame = kFrameRateChoices[i].value;
            ShowCapFileLines(self());
        });
        const auto audioChange = [this](int32_t* field, const CaptureChoice* choices) {
            return [this, field, choices](int i) {
                *field = choices[i].value;
                SetAudioFormatFromSettings();
                ShowCapFileLines(self());
            };
        };
        onChange(audio_, audioChange(&gSettings.Arate, kAudioRateChoices));
        onChange(bits_, audioChange(&gSettings.Abits, kBitsChoices));
        onChange(mode_, audioChange(&gSettings.Amode, kModeChoices));
        onChange(compression_, [this](int i) {
            gSettings.CapCompress = kCompressionChoices[i].value;
            quality_->setEnabled(gSettings.CapCompress != 0);
            MySetCapSettings(self(), false);
        });
        onChange(quality_, [this](int i) {
            gSettings.CapQuality = kQualityChoices[i].value;
            MySetCapSettings(self(), false);
        });
        onChange(display_, [this](int i) {
            gSettings.overlaymode = i;
            if (QWidget* video = VideoCaptureWindowWidget()) video->update();
        });
        connect(format, &QPushButton::clicked, this, [this] {
            ShowVideoFormatDialog();
            MySetCapSettings(self(), false);
            SizeCaptureWindowToImage(ghWndCap);
            RepaintVideo();
        });
        connect(source, &QPushButton::clicked, this, [this] {
            ShowVideoSourceDialog();
            SizeCaptureWindowToImage(ghWndCap);
            MySetCapSettings(self(), false);
            RepaintVideo();
        });
        connect(capFile, &QPushButton::clicked, this, [this] {
            CaptureFileDialog(self(), gSettings.CapFile);
            ShowCapFileLines(self());
            ShowContent();
        });
        connect(help, &QPushButton::clicked, this,
                [this] { WinHelpA(self(), gSettings.HelpFile, HELP_CONTEXT, kSettingsHelpContext); });
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);

        // Opening: the controls follow the capture window and the settings.
        MySetCapSettings(self(), false);
        if (ghWndCap) {
            source->setEnabled(gCapDriverCaps.fHasDlgVideoSource != 0);
            format->setEnabled(gCapDriverCaps.fHasDlgVideoFormat != 0);
            RefreshCaptureStatus();
            if (gCapStatus.fAudioHardware && SendCap(WM_CAP_GET_AUDIOFORMAT) > 0) {
                SetAudioFormatFromSettings();
            } else {
                for (QComboBox* list : {audio_, bits_, mode_}) list->setEnabled(false);
            }
        } else {
            for (QWidget* c : std::initializer_list<QWidget*>{source, format, capFile, rate_, audio_, bits_,
                                                              mode_, compression_, quality_})
                c->setEnabled(false);
        }
        filling_ = true;
        display_->setCurrentIndex(std::clamp(gSettings.overlaymode, 0, 1));
        // A rate not in the list shows "No Audio" and keeps capturing at that rate.
        audio_->setCurrentIndex(
            std::max(ChoicePosition(kAudioRateChoices, kAudioRateCount, gSettings.Arate), 0));
        NormaliseCaptureSettings();
        rate_->setCurrentIndex(ChoicePosition(kFrameRateChoices, 11, gSettings.msPerFrame));
        bits_->setCurrentIndex(gSettings.Abits == 16 ? 1 : 0);
        mode_->setCurrentIndex(gSettings.Amode == 2 ? 1 : 0);
        compression_->setCurrentIndex(gSettings.CapCompress ? 0 : 1);
        // A quality not in the list shows the nearest one below it and is kept until one is chosen.
        int32_t quality = kQualityCount - 1;
        for (int32_t i = kQualityCount - 1; i >= 0; i--)
            if (kQualityChoices[i].value <= gSettings.CapQuality) quality = i;
        quality_->setCurrentIndex(quality);
        if (ghWndCap) quality_->setEnabled(gSettings.CapCompress != 0);
        filling_ = false;
        ShowCapFileLines(self());
        ShowContent();
    }

  protected:
    // OK and Escape both keep what was chosen; the display mode is applied on the way out.
    void done(int result) override {
        gSettings.overlaymode = std::max(display_->currentIndex(), 0);
        RepaintVideo();
        QDialog::done(result);
    }

  private:
    HWND self() { return HWNDFromWidget(this); }
    void RepaintVideo() {
        if (QWidget* video = VideoCaptureWindowWidget()) video->update();
    }
    void ShowContent() {
        CurrentCaptureUi().SetItemText(self(), kSetContentLine,
                                       CapFileContentText(ReadCapFileContent(), false));
    }

    QComboBox* rate_;
    QComboBox* display_;
    QComboBox* audio_;
    QComboBox* compression_;
    QComboBox* quality_;
    QComboBox* bits_;
    QComboBox* mode_;
    bool filling_ = false;
};

class FileDialog : public QDialog {
  public:
    FileDialog(QWidget* owner, const char* path) : QDialog(owner), state_(OpenCapFileDialog(path)) {
        setWindowTitle("Capture File");
        file_ = Line(kFileNameLine);
        maximum_ = new QLabel;
        SetControlId(maximum_, kFileMaximumSize);
        current_ = new QLabel;
        SetControlId(current_, kFileCurrentSize);
        size_ = new QLineEdit;
        SetControlId(size_, kFileNewSize);
        // A file too small for two minutes at the estimate, holding no capture, is offered that much.
        const uint32_t proposed = DefaultCapFileMegabytes();
        if (proposed > state_.currentSize / kCapMegabyte && ReadCapFileContent() == 0)
            size_->setText(QString::number(proposed));
        QPushButton* ok = Button("OK", IDOK);
        QPushButton* cancel = Button("Cancel", IDCANCEL);
        QPushButton* help = Button("HELP...", kPanelHelp);
        QPushButton* browse = Button("Browse...", kFileBrowse);
        ok->setDefault(true);

        auto* name = new QGroupBox("Capture File Name");
        auto* nameLayout = new QVBoxLayout(name);
        nameLayout->addWidget(file_);
        auto* size = new QGroupBox("Capture File Size");
        auto* grid = new QGridLayout(size);
        grid->addWidget(
            new QLabel("Enter the amount of disk space to set \naside for the capture file.  Existing "
                       "video\ndata in the file will be lost."),
            0, 0, 1, 3);
        grid->addWidget(new QLabel("Maximum File Size:"), 1, 0);
        grid->addWidget(maximum_, 1, 1);
        grid->addWidget(new QLabel("MBytes"), 1, 2);
        grid->addWidget(new QLabel("Current File Size:"), 2, 0);
        grid->addWidget(current_, 2, 1);
        grid->addWidget(new QLabel("MBytes"), 2, 2);
        grid->addWidget(new QLabel("New Capture File Size:"), 3, 0);
        grid->addWidget(size_, 3, 1);
        grid->addWidget(new QLabel("MBytes"), 3, 2);
        auto* buttons = new QVBoxLayout;
        for (QPushButton* b : {ok, cancel, help, browse}) buttons->addWidget(b);
        buttons->addStretch(1);
        auto* groups = new QVBoxLayout;
        groups->addWidget(name);
        groups->addWidget(size);
        auto* outer = new QHBoxLayout(this);
        outer->addLayout(groups, 1);
        outer->addLayout(buttons);
        outer->setSizeConstraint(QLayout::SetFixedSize);

        connect(ok, &QPushButton::clicked, this, [this] {
            if (CapFileDialogOk(state_, size_->text().toStdString()) != CapFileOutcome::kTooLarge) {
                accept();
                return;
            }
            size_->setFocus();
            QApplication::beep();
        });
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
        connect(help, &QPushButton::clicked, this, [this] {
            WinHelpA(HWNDFromWidget(this), gSettings.HelpFile, HELP_CONTEXT, kFileHelpContext);
        });
        connect(browse, &QPushButton::clicked, this, [this] {
            if (CapFileDialogBrowse(HWNDFromWidget(this), state_, DefaultFolder())) Show();
            size_->setFocus();
        });
        Show();
        adjustSize();
        CenterOnDesktop(HWNDFromWidget(this));
    }

  private:
    // Where a new capture file goes: the videos folder, else the home folder.
    static std::string DefaultFolder() {
        QString folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
        if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
        return folder.toStdString();
    }
    void Show() {
        file_->setText(QString::fromStdString(CapFileDialogFileText(state_)));
        current_->setText(QString::fromStdString(CapFileMegabytes(state_.currentSize)));
        maximum_->setText(QString::fromStdString(CapFileMegabytes(state_.maximumSize)));
    }

    CapFileDialogState state_;
    QLabel* file_;
    QLabel* maximum_;
    QLabel* current_;
    QLineEdit* size_;
};

}  // namespace

void CaptureSettingsDialog(HWND owner) {
    const HWND previous = MessageOwner();
    SettingsDialog dialog(LiveWidget(owner));
    SetMessageOwner(HWNDFromWidget(&dialog));
    if (QWidget* video = VideoCaptureWindowWidget()) {
        dialog.adjustSize();
        PlaceRightOf(HWNDFromWidget(&dialog), HWNDFromWidget(video));
    }
    dialog.exec();
    SetMessageOwner(previous);
}

void CaptureFileDialog(HWND owner, char* path) {
    const HWND previous = MessageOwner();
    FileDialog dialog(LiveWidget(owner), path);
    SetMessageOwner(HWNDFromWidget(&dialog));
    dialog.exec();
    SetMessageOwner(previous);
}
