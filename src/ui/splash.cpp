#include "ui/splash.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>

#include "platform/qtui/qtui.h"
#include "ui/buttons.h"
#include "ui/controls.h"
#include "ui/resources.h"
#include "ui/windows.h"

#ifndef QUILLORY_VERSION
#define QUILLORY_VERSION "0"
#endif

namespace {

QPointer<QDialog> gSplash;

QImage SplashPicture() {
    ResourceData data;
    QImage img;
    if (FindResourceData("SPLASH", "PNG", data))
        img.loadFromData(data.data, static_cast<int>(data.size), "PNG");
    if (img.isNull()) {  // never without a face: a plain panel with the name
        img = QImage(360, 200, QImage::Format_RGB32);
        img.fill(QColor(0x20, 0x28, 0x38));
        QPainter p(&img);
        p.setPen(Qt::white);
        QFont f = p.font();
        f.setPixelSize(40);
        p.setFont(f);
        p.drawText(img.rect(), Qt::AlignCenter, "Quillory");
    }
    return img;
}

QDialog* MakeSplashDialog(QWidget* owner, bool modal) {
    auto* dialog = new QDialog(owner, modal ? Qt::Dialog : (Qt::SplashScreen | Qt::FramelessWindowHint));
    dialog->setObjectName("splash");
    SetControlId(dialog, kSplashDialogId);
    dialog->setWindowTitle(modal ? "About Quillory" : "Quillory");
    dialog->setStyleSheet("QDialog { background: #161b26; } QLabel { color: #d6dbe6; }");
    QImage picture = SplashPicture();
    auto* button = new OwnerDrawButton(kSplashPictureId, dialog);
    button->setFixedSize(picture.size());
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setDrawFunction([picture](DRAWITEMSTRUCT& item) {
        PainterFromHDC(item.hDC)->drawImage(QPoint(0, 0), picture);
        return true;
    });
    auto* version = new QLabel(QString::fromStdString(SplashVersionLine()), dialog);
    SetControlId(version, kSplashVersionId);
    version->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(1, 1, 1, 6);
    layout->setSpacing(6);
    layout->addWidget(button);
    layout->addWidget(version);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    if (modal)
        QObject::connect(button, &QAbstractButton::clicked, dialog, &QDialog::accept);
    else
        QObject::connect(button, &QAbstractButton::clicked, [] { CloseSplash(); });
    if (!modal) QObject::connect(dialog, &QDialog::rejected, [] { CloseSplash(); });  // Escape
    dialog->adjustSize();
    return dialog;
}

}  // namespace

std::string SplashVersionLine() {
    return std::string("Quillory version ") + QUILLORY_VERSION;
}

void ShowSplash(HWND owner) {
    if (gSplash || !qobject_cast<QApplication*>(QCoreApplication::instance())) return;
    gSplash = MakeSplashDialog(LiveWidget(owner), false);
    gSplash->setAttribute(Qt::WA_DeleteOnClose);
    CenterOnDesktop(HWNDFromWidget(gSplash));
    gSplash->show();
}

void CloseSplash() {
    if (!gSplash) return;
    QDialog* d = gSplash;
    gSplash = nullptr;
    d->hide();
    d->deleteLater();
}

HWND SplashWindow() {
    return HWNDFromWidget(gSplash.data());
}

void ShowAboutBox(HWND owner) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
    QDialog* dialog = MakeSplashDialog(LiveWidget(owner), true);
    CenterOnDesktop(HWNDFromWidget(dialog));
    dialog->exec();
    delete dialog;
}
