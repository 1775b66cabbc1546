// "Picture View": one frame at its actual size, modal, or modeless as a live title preview.
#include <QDialog>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <cstring>
#include <vector>

#include "core/diag.h"
#include "platform/qtui/qtui.h"
#include "render/frameview.h"
#include "render/titles.h"
#include "ui/windows.h"

namespace {

// Largest frame side the view shows.
constexpr int32_t kMaxViewSide = 8192;

class FrameViewWindow : public QDialog {
  public:
    FrameViewWindow(QWidget* parent, const char* caption, const BITMAPINFOHEADER* header,
                    const uint8_t* pixels)
        : QDialog(parent), header_(header), pixels_(pixels) {
        setObjectName("pictureView");
        setWindowTitle(caption && *caption ? QString::fromUtf8(caption) : QString("Picture View"));
        setFixedSize(std::clamp(header->biWidth, 1, kMaxViewSide),
                     std::clamp(std::abs(header->biHeight), 1, kMaxViewSide));
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::black);
        const BITMAPINFOHEADER& f = *header_;
        if (!pixels_ || f.biBitCount != 24 || f.biWidth <= 0 || f.biHeight == 0) return;
        const QImage image(pixels_, f.biWidth, std::abs(f.biHeight), DibRowBytes(f.biWidth, 24),
                           QImage::Format_BGR888);
        p.drawImage(QPoint(0, 0), f.biHeight > 0 ? image.mirrored(false, true) : image);
    }

  private:
    const BITMAPINFOHEADER* header_;
    const uint8_t* pixels_;
};

struct ModelessView {
    QPointer<FrameViewWindow> window;
    BITMAPINFOHEADER* header = nullptr;
    uint8_t* pixels = nullptr;
    std::vector<uint8_t> pristine;
};
ModelessView gView;

uint32_t FrameBytes(const BITMAPINFOHEADER* h) {
    if (!h || h->biWidth <= 0 || h->biWidth > kMaxViewSide || std::abs(h->biHeight) > kMaxViewSide) return 0;
    return DibRowBytes(h->biWidth, 24) * static_cast<uint32_t>(std::abs(h->biHeight));
}

}  // namespace

void ShowFrame(HWND parent, const char* caption, const BITMAPINFOHEADER* header, const uint8_t* pixels) {
    if (!FrameBytes(header) || !pixels) return;
    FrameViewWindow view(LiveWidget(parent), caption, header, pixels);
    const HWND owner = SetMessageOwner(HWNDFromWidget(&view));
    CenterOnDesktop(HWNDFromWidget(&view));
    view.exec();
    SetMessageOwner(owner);
}

HWND OpenFrameView(HWND parent, const char* caption, BITMAPINFOHEADER* header, uint8_t* pixels) {
    const uint32_t bytes = FrameBytes(header);
    if (gView.window || !bytes || !pixels) return nullptr;
    gView.header = header;
    gView.pixels = pixels;
    gView.pristine.assign(pixels, pixels + bytes);
    gView.window = new FrameViewWindow(LiveWidget(parent), caption, header, pixels);
    gView.window->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(gView.window, &QDialog::rejected, [] { CloseFrameView(); });
    PlaceUpperCentre(HWNDFromWidget(gView.window));
    gView.window->show();
    return HWNDFromWidget(gView.window);
}

void CloseFrameView() {
    if (FrameViewWindow* w = gView.window) {
        gView.window = nullptr;
        w->close();
    }
    gView.pristine.clear();
    gView.header = nullptr;
    gView.pixels = nullptr;
}

HWND FrameViewHandle() {
    return gView.window ? HWNDFromWidget(gView.window) : nullptr;
}

void RefreshFrameView(HWND window, TitleRecord* title) {
    if (!gView.window || !gView.pixels || gView.pristine.empty()) return;
    std::memcpy(gView.pixels, gView.pristine.data(), gView.pristine.size());
    if (title) {
        PrepareTitle(window, gView.header->biWidth, std::abs(gView.header->biHeight), title);
        ApplyTitle1(window, gView.pixels, gView.header, title);
    }
    gView.window->repaint();
}
