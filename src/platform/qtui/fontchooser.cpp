#include "platform/qtui/fontchooser.h"

#include <QApplication>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/format.h"
#include "platform/qtui/qtui.h"

namespace {

// Stencils are drawn at 96 dots per inch, whatever the screen's resolution.
constexpr double kStencilDpi = 96.0;
constexpr double kPointsPerInch = 72.0;
constexpr int32_t kMaxWeight = 1000;
constexpr double kMaxPoints = 1500.0;

QColor FromColorref(uint32_t c) {
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

uint32_t ToColorref(const QColor& c) {
    return static_cast<uint32_t>(c.red()) | (static_cast<uint32_t>(c.green()) << 8) |
           (static_cast<uint32_t>(c.blue()) << 16);
}

// Qt's font chooser laid into another dialog: Escape (or Enter) inside it would end the chooser
// alone and leave its place empty, so it ends the dialog around it instead.
class EmbeddedFontDialog : public QFontDialog {
  public:
    using QFontDialog::QFontDialog;
    void done(int result) override {
        if (auto* outer = qobject_cast<QDialog*>(parentWidget()))
            outer->done(result);
        else
            QFontDialog::done(result);
    }
};

// Qt's font chooser without its own buttons, a colour row, OK and Cancel.
class FontColourDialog : public QDialog {
  public:
    FontColourDialog(QWidget* owner, const FontDialogRequest& request)
        : QDialog(owner), colour_(request.font.colour) {
        setObjectName("chooseFont");
        setWindowTitle("Font");
        fonts_ = new EmbeddedFontDialog(this);
        fonts_->setWindowFlags(Qt::Widget);
        QFontDialog::FontDialogOptions options = QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog;
        if (request.flags & CF_SCALABLEONLY) options |= QFontDialog::ScalableFonts;
        fonts_->setOptions(options);
        if (request.flags & CF_INITTOLOGFONTSTRUCT) fonts_->setCurrentFont(QFontFromFontChoice(request.font));

        auto* colourRow = new QHBoxLayout;
        swatch_ = new QLabel(this);
        swatch_->setObjectName("colourSwatch");
        swatch_->setFixedSize(48, 20);
        swatch_->setFrameShape(QFrame::Box);
        auto* pick = new QPushButton("&Color...", this);
        pick->setObjectName("pickColour");
        pick->setAutoDefault(false);
        colourRow->addWidget(new QLabel("Color:", this));
        colourRow->addWidget(swatch_);
        colourRow->addWidget(pick);
        colourRow->addStretch(1);
        if (!(request.flags & CF_EFFECTS)) {
            pick->hide();
            swatch_->hide();
        }
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(fonts_);
        layout->addLayout(colourRow);
        layout->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        connect(pick, &QPushButton::clicked, this, [this] {
            QColor c = QColorDialog::getColor(FromColorref(colour_), this, "Color",
                                              QColorDialog::DontUseNativeDialog);
            if (c.isValid()) {
                colour_ = ToColorref(c);
                ShowColour();
            }
        });
        ShowColour();
    }

    QFont font() const { return fonts_->currentFont(); }
    uint32_t colour() const { return colour_; }

  private:
    void ShowColour() { swatch_->setStyleSheet(QString("background: %1").arg(FromColorref(colour_).name())); }

    QFontDialog* fonts_;
    QLabel* swatch_;
    uint32_t colour_;
};

}  // namespace

FontChoice FontChoiceFromQFont(const QFont& font, uint32_t colour, int32_t quality) {
    FontChoice c;
    CopyCut(c.faceName, sizeof c.faceName, font.family().toStdString());
    double points = font.pointSizeF();
    if (points <= 0 && font.pixelSize() > 0) points = font.pixelSize() * kPointsPerInch / kStencilDpi;
    points = std::clamp(points, 0.0, kMaxPoints);
    c.height = -static_cast<int32_t>(std::lround(points * kStencilDpi / kPointsPerInch));
    c.points = static_cast<int32_t>(std::lround(points * 10));
    c.weight = std::clamp(static_cast<int32_t>(font.weight()), 1, kMaxWeight);
    c.italic = font.italic() ? 1 : 0;
    c.underline = font.underline() ? 1 : 0;
    c.quality = quality;
    c.colour = colour;
    return c;
}

QFont QFontFromFontChoice(const FontChoice& choice) {
    QFont f;
    char face[sizeof choice.faceName + 1] = {};
    std::memcpy(face, choice.faceName, sizeof choice.faceName);
    if (face[0]) f.setFamily(QString::fromUtf8(face));
    double points = choice.height < 0 ? -static_cast<double>(choice.height) * kPointsPerInch / kStencilDpi
                                      : choice.points / 10.0;
    if (points > 0) f.setPointSizeF(std::min(points, kMaxPoints));
    if (choice.weight > 0) f.setWeight(static_cast<QFont::Weight>(std::clamp(choice.weight, 1, kMaxWeight)));
    f.setItalic(choice.italic & 0xFF);
    f.setUnderline(choice.underline & 0xFF);
    return f;
}

bool QtFontDialogProvider::Choose(const FontDialogRequest& request, FontChoice& chosen) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    FontColourDialog dialog(LiveWidget(request.owner), request);
    if (dialog.exec() != QDialog::Accepted) return false;
    chosen = FontChoiceFromQFont(dialog.font(), dialog.colour(), request.font.quality);
    return true;
}

void InstallQtFontChooser() {
    SetFontDialogProvider(std::make_shared<QtFontDialogProvider>());
}
