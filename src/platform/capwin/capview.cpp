#include "platform/capwin/capview.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include "platform/capwin/capdriver.h"

namespace {

// Paints the capture window's latest picture, fetched on a timer of the window's rate.
class LiveWidget : public QWidget {
  public:
    LiveWidget(HWND window, QWidget* parent) : QWidget(parent), window_(window) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        connect(&timer_, &QTimer::timeout, this, [this] { Refresh(); });
    }
    void Show(bool live, int32_t intervalMs) {
        live_ = live;
        if (live) {
            // Asked again at every repaint of the window around it: the timer runs on undisturbed.
            if (timer_.isActive() && timer_.interval() == std::max(intervalMs, 1)) return;
            timer_.start(std::max(intervalMs, 1));
            Refresh();
        } else {
            timer_.stop();
            update();
        }
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        if (live_ && !picture_.isNull())
            p.drawImage(rect(), picture_);
        else
            p.fillRect(rect(), Qt::black);
    }

  private:
    void Refresh() {
        BITMAPINFOHEADER f{};
        if (!CaptureWindowPicture(window_, rows_, f) || rows_.size() < f.biSizeImage) return;
        // Bottom-up BGR rows: wrapped as a picture and turned the right way up.
        QImage bottomUp(rows_.data(), f.biWidth, f.biHeight,
                        static_cast<qsizetype>(DibRowBytes(f.biWidth, 24)), QImage::Format_BGR888);
        picture_ = bottomUp.mirrored(false, true);
        update();
    }

    HWND window_;
    QTimer timer_;
    bool live_ = false;
    std::vector<uint8_t> rows_;
    QImage picture_;
};

class WidgetView : public CaptureView {
  public:
    WidgetView(HWND window, QWidget* parent) : widget_(new LiveWidget(window, parent)) { widget_->show(); }
    ~WidgetView() override { delete widget_.data(); }
    void Place(const RECT& r) override {
        if (widget_) widget_->setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
    }
    void Show(bool live, int32_t intervalMs) override {
        if (widget_) widget_->Show(live, intervalMs);
    }

  private:
    QPointer<LiveWidget> widget_;
};

int32_t ChoiceDialog(HWND parent, const std::string& title, const std::string& label,
                     const std::vector<std::string>& choices, int32_t current) {
    QDialog dialog(static_cast<QWidget*>(parent));
    dialog.setWindowTitle(QString::fromStdString(title));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QString::fromStdString(label)));
    auto* list = new QComboBox;
    for (const std::string& c : choices) list->addItem(QString::fromStdString(c));
    list->setCurrentIndex(current);
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    return dialog.exec() == QDialog::Accepted ? list->currentIndex() : -1;
}

}  // namespace

void InstallCaptureWindowWidgets() {
    SetCaptureViewFactory([](HWND window, HWND parent, const RECT& rect) -> std::unique_ptr<CaptureView> {
        auto* p = static_cast<QWidget*>(parent);
        if (!p) return nullptr;
        auto view = std::make_unique<WidgetView>(window, p);
        view->Place(rect);
        return view;
    });
    SetCaptureChoiceDialog(ChoiceDialog);
}
