#include "platform/capwin/camera.h"

#include <QAudioSource>
#include <QCamera>
#include <QCameraDevice>
#include <QCoreApplication>
#include <QIODevice>
#include <QImage>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QVideoFrame>
#include <QVideoSink>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/capwin/v4l2camera.h"

namespace {

// Sound kept for the grabbing thread when it falls behind: beyond this the oldest is dropped.
constexpr size_t kMaxBufferedAudioBytes = 4u << 20;
constexpr int32_t kStandardSizes[][2] = {{160, 120}, {320, 240}, {640, 480}};

std::string Text(const QString& s) {
    return s.toUtf8().toStdString();
}

// "30" or, for a format with a range of rates, "5-30".
std::string RateText(const QCameraFormat& f) {
    const auto low = static_cast<int>(f.minFrameRate() + 0.5f);
    const auto high = static_cast<int>(f.maxFrameRate() + 0.5f);
    return low > 0 && low < high ? std::to_string(low) + "-" + std::to_string(high) : std::to_string(high);
}

// Receives the recorded sound (QAudioSource pushes into it on the user-interface thread).
class SoundBuffer : public QIODevice {
  public:
    SoundBuffer() { open(QIODevice::WriteOnly); }
    void Take(std::vector<uint8_t>& out, size_t maxBytes, size_t block) {
        std::lock_guard<std::mutex> lock(mutex_);
        const size_t n = std::min(bytes_.size(), maxBytes) / block * block;
        out.insert(out.end(), bytes_.begin(), bytes_.begin() + static_cast<ptrdiff_t>(n));
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<ptrdiff_t>(n));
    }

  protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 len) override {
        std::lock_guard<std::mutex> lock(mutex_);
        bytes_.insert(bytes_.end(), data, data + len);
        if (bytes_.size() > kMaxBufferedAudioBytes)
            bytes_.erase(bytes_.begin(),
                         bytes_.begin() + static_cast<ptrdiff_t>(bytes_.size() - kMaxBufferedAudioBytes));
        return len;
    }

  private:
    std::mutex mutex_;
    std::vector<uint8_t> bytes_;
};

// The default input, recorded while a capture runs.
class DefaultInputSound : public CaptureSound {
  public:
    ~DefaultInputSound() override { End(); }
    bool Available() const override { return !QMediaDevices::audioInputs().isEmpty(); }
    void Begin(const WAVEFORMATEX& audio) override {
        block_ = std::max<uint16_t>(audio.nBlockAlign, 1);
        QAudioFormat f;
        f.setSampleRate(static_cast<int>(audio.nSamplesPerSec));
        f.setChannelCount(audio.nChannels);
        f.setSampleFormat(audio.wBitsPerSample == 8 ? QAudioFormat::UInt8 : QAudioFormat::Int16);
        source_ = std::make_unique<QAudioSource>(QMediaDevices::defaultAudioInput(), f);
        buffer_ = std::make_unique<SoundBuffer>();
        source_->start(buffer_.get());
    }
    void End() override {
        if (source_) source_->stop();
        source_.reset();
    }
    void Read(std::vector<uint8_t>& out, size_t maxBytes) override {
        if (buffer_) buffer_->Take(out, maxBytes, block_);
    }

  private:
    std::unique_ptr<QAudioSource> source_;
    std::unique_ptr<SoundBuffer> buffer_;
    size_t block_ = 1;
};

class CameraDriver : public CaptureDriver {
  public:
    explicit CameraDriver(const QCameraDevice& device) : device_(device), camera_(device) {
        format_ = CaptureFormat(320, 240);
        session_.setCamera(&camera_);
        session_.setVideoSink(&sink_);
        QObject::connect(&sink_, &QVideoSink::videoFrameChanged, [this](const QVideoFrame& f) { Take(f); });
        camera_.start();
    }
    ~CameraDriver() override {
        End();
        camera_.stop();
    }
    bool ok() const { return camera_.error() == QCamera::NoError; }
    std::string Name() const override { return Text(device_.description()); }
    std::string Version() const override { return std::string("Qt Multimedia ") + QT_VERSION_STR; }
    BITMAPINFOHEADER Format() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return format_;
    }
    bool SetFormat(const BITMAPINFOHEADER& f) override {
        if (!IsCaptureFormat(f)) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        format_ = CaptureFormat(f.biWidth, f.biHeight);
        latest_.clear();
        return true;
    }
    bool HasFormatDialog() const override { return true; }
    bool HasSourceDialog() const override { return device_.videoFormats().size() > 1; }
    bool FormatDialog(HWND parent) override {
        std::vector<std::pair<int32_t, int32_t>> sizes;
        for (const auto& s : kStandardSizes) sizes.emplace_back(s[0], s[1]);
        for (const QCameraFormat& f : device_.videoFormats()) {
            const QSize r = f.resolution();
            if (r.width() <= kMaxCaptureWidth && r.height() <= kMaxCaptureHeight &&
                std::find(sizes.begin(), sizes.end(), std::make_pair(r.width(), r.height())) == sizes.end())
                sizes.emplace_back(r.width(), r.height());
        }
        std::vector<std::string> choices;
        int32_t current = 0;
        const BITMAPINFOHEADER now = Format();
        for (size_t i = 0; i < sizes.size(); i++) {
            choices.push_back(std::to_string(sizes[i].first) + " x " + std::to_string(sizes[i].second));
            if (sizes[i].first == now.biWidth && sizes[i].second == now.biHeight)
                current = static_cast<int32_t>(i);
        }
        const int32_t pick =
            ShowCaptureChoice(parent, "Video Format", "Image size (24-bit RGB):", choices, current);
        if (pick < 0 || pick >= static_cast<int32_t>(sizes.size())) return false;
        return SetFormat(
            CaptureFormat(sizes[static_cast<size_t>(pick)].first, sizes[static_cast<size_t>(pick)].second));
    }
    bool SourceDialog(HWND parent) override {
        const QList<QCameraFormat> formats = device_.videoFormats();
        std::vector<std::string> choices;
        int32_t current = 0;
        for (qsizetype i = 0; i < formats.size(); i++) {
            const QCameraFormat& f = formats[i];
            choices.push_back(std::to_string(f.resolution().width()) + " x " +
                              std::to_string(f.resolution().height()) + ", " + RateText(f) + " fps, " +
                              Text(QVideoFrameFormat::pixelFormatToString(f.pixelFormat())));
            if (f == camera_.cameraFormat()) current = static_cast<int32_t>(i);
        }
        const int32_t pick = ShowCaptureChoice(parent, "Video Source", "Camera format:", choices, current);
        if (pick < 0 || pick >= static_cast<int32_t>(formats.size())) return false;
        camera_.setCameraFormat(formats[pick]);
        return true;
    }
    bool HasAudio() const override { return sound_.Available(); }
    bool Begin(uint32_t, const WAVEFORMATEX* audio) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            delivered_ = sequence_;
        }
        if (audio) sound_.Begin(*audio);
        return true;
    }
    void End() override { sound_.End(); }
    uint32_t Grab(int64_t, int64_t, uint8_t* rows) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (latest_.empty() || sequence_ == delivered_) return 0;
        std::memcpy(rows, latest_.data(), latest_.size());
        delivered_ = sequence_;
        return static_cast<uint32_t>(latest_.size());
    }
    void ReadAudio(int64_t, std::vector<uint8_t>& out, size_t maxBytes) override {
        sound_.Read(out, maxBytes);
    }
    bool Preview(uint8_t* rows) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (latest_.empty()) return false;
        std::memcpy(rows, latest_.data(), latest_.size());
        return true;
    }

  private:
    // A new camera frame (user-interface thread): scaled and turned into bottom-up BGR rows.
    void Take(const QVideoFrame& frame) {
        const BITMAPINFOHEADER f = Format();
        QImage image = frame.toImage();
        if (image.isNull()) return;
        image = image.scaled(f.biWidth, f.biHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                    .convertToFormat(QImage::Format_BGR888);
        const uint32_t stride = DibRowBytes(f.biWidth, 24);
        std::vector<uint8_t> rows(f.biSizeImage);
        for (int32_t y = 0; y < f.biHeight; y++)
            std::memcpy(rows.data() + static_cast<size_t>(f.biHeight - 1 - y) * stride,
                        image.constScanLine(y), static_cast<size_t>(f.biWidth) * 3);
        std::lock_guard<std::mutex> lock(mutex_);
        if (format_.biWidth != f.biWidth || format_.biHeight != f.biHeight) return;  // changed meanwhile
        latest_ = std::move(rows);
        sequence_++;
    }

    QCameraDevice device_;
    QCamera camera_;
    QMediaCaptureSession session_;
    QVideoSink sink_;
    DefaultInputSound sound_;
    mutable std::mutex mutex_;
    BITMAPINFOHEADER format_{};
    std::vector<uint8_t> latest_;
    uint64_t sequence_ = 0;
    uint64_t delivered_ = 0;
};

// The V4L2 devices first; then the cameras Qt Multimedia lists that are not among them (another
// kind of device, or a system without V4L2).
class CameraTable : public CaptureDriverTable {
  public:
    bool Describe(int32_t index, std::string& name, std::string& version) override {
        const std::vector<V4l2Camera> v4l2 = ListV4l2Cameras(*system_);
        if (index >= 0 && index < static_cast<int32_t>(v4l2.size())) {
            name = v4l2[static_cast<size_t>(index)].name;
            version = v4l2[static_cast<size_t>(index)].version;
            return true;
        }
        const QList<QCameraDevice> cameras = QtCameras(v4l2);
        index -= static_cast<int32_t>(v4l2.size());
        if (index < 0 || index >= cameras.size()) return false;
        name = Text(cameras[index].description());
        version = std::string("Qt Multimedia ") + QT_VERSION_STR;
        return true;
    }
    std::unique_ptr<CaptureDriver> Connect(int32_t index) override {
        const std::vector<V4l2Camera> v4l2 = ListV4l2Cameras(*system_);
        if (index >= 0 && index < static_cast<int32_t>(v4l2.size()))
            return ConnectV4l2Camera(system_, v4l2[static_cast<size_t>(index)].path,
                                     std::make_unique<DefaultInputSound>());
        const QList<QCameraDevice> cameras = QtCameras(v4l2);
        index -= static_cast<int32_t>(v4l2.size());
        if (index < 0 || index >= cameras.size()) return nullptr;
        auto driver = std::make_unique<CameraDriver>(cameras[index]);
        if (!driver->ok()) return nullptr;
        return driver;
    }

  private:
    // Qt names a V4L2 camera by its device node.
    static QList<QCameraDevice> QtCameras(const std::vector<V4l2Camera>& v4l2) {
        QList<QCameraDevice> cameras;
        if (!QCoreApplication::instance()) return cameras;
        for (const QCameraDevice& c : QMediaDevices::videoInputs()) {
            const std::string id = c.id().toStdString();
            if (std::none_of(v4l2.begin(), v4l2.end(), [&id](const V4l2Camera& v) { return v.path == id; }))
                cameras.push_back(c);
        }
        return cameras;
    }

    std::shared_ptr<V4l2System> system_ = RealV4l2System();
};

}  // namespace

std::shared_ptr<CaptureDriverTable> CameraDriverTable() {
    return std::make_shared<CameraTable>();
}
