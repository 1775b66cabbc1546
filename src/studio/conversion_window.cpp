// The conversions' progress window: the worker posts to the window, never touches it.
#include "studio/conversion_window.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <thread>

namespace {

// "1:05" or "1:02:05".
QString Clock(int64_t seconds) {
    const int64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    return h > 0 ? QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QChar('0')).arg(s, 2, 10, QChar('0'))
                 : QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QChar('0'));
}

}  // namespace

ConversionWindow::ConversionWindow(QWidget* owner) : QDialog(owner) {
    setObjectName("conversionWindow");
    setWindowTitle(QStringLiteral("Converting"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    file_ = new QLabel(this);
    file_->setObjectName("file");
    frames_ = new QLabel(this);
    frames_->setObjectName("frames");
    left_ = new QLabel(this);
    left_->setObjectName("timeLeft");
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 0);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &ConversionWindow::reject);
    for (QWidget* w : {static_cast<QWidget*>(file_), static_cast<QWidget*>(frames_),
                       static_cast<QWidget*>(left_), static_cast<QWidget*>(bar_)})
        layout->addWidget(w);
    layout->addWidget(buttons);
    setMinimumWidth(360);
}

ConversionWindow::~ConversionWindow() = default;

void ConversionWindow::reject() {
    cancel_ = true;
    left_->setText(QStringLiteral("Cancelling..."));
}

void ConversionWindow::closeEvent(QCloseEvent* event) {
    event->ignore();  // the window goes when its owner is done with it
    reject();
}

ConformResult ConversionWindow::Convert(const ConformRequest& request) {
    ConformResult result;
    if (cancel_) {
        result.cancelled = true;
        return result;
    }
    done_ = 0;
    total_ = 0;
    started_ = std::chrono::steady_clock::now();
    file_->setText(QFileInfo(QString::fromLocal8Bit(request.source.c_str())).fileName());
    frames_->setText(QString());
    left_->setText(QString());
    bar_->setRange(0, 0);
    show();

    QEventLoop loop;
    std::thread worker([&] {
        result = ConformVideo(
            request,
            [this](int64_t done, int64_t total) {
                done_ = done;
                total_ = total;
                // By name: the call is queued inside QtCore, nothing of this thread's is read later.
                if (!noticePending_.exchange(true))
                    QMetaObject::invokeMethod(this, "ShowProgress", Qt::QueuedConnection);
            },
            &cancel_);
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    return result;
}

void ConversionWindow::ShowProgress() {
    noticePending_ = false;
    const int64_t done = done_, total = std::max<int64_t>(total_, done);
    if (total <= 0) return;
    constexpr int64_t kBarSteps = 1000;  // the bar's own range stays within int
    bar_->setRange(0, static_cast<int>(kBarSteps));
    bar_->setValue(static_cast<int>(done * kBarSteps / total));
    frames_->setText(QStringLiteral("%1 of %2 frames done").arg(done).arg(total));
    if (cancel_) return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    // The first second says too little about the rate.
    if (done > 0 && elapsed >= 1)
        left_->setText(
            QStringLiteral("Time left: %1")
                .arg(Clock(static_cast<int64_t>(
                    elapsed * static_cast<double>(total - done) / static_cast<double>(done) + 0.5))));
}
