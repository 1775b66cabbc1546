// Wave output: one device object per open, backed by a WAVE file, Qt's QAudioSink, or nothing.
#include "platform/wave/wave.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QIODevice>
#include <QMediaDevices>
#include <QPointer>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <unordered_set>

#include "core/diag.h"
#include "core/outputfile.h"

namespace {

// Formats the file device and the checks accept.
constexpr uint32_t kMaxSampleRate = 384000;
constexpr uint16_t kMaxChannels = 8;
// How often the Qt device is topped up while blocks wait.
constexpr int kFeedIntervalMs = 10;
constexpr uint32_t kWaveHeaderBytes = 44;

std::string gTarget;
std::function<uint32_t()> gClock;
std::string gFileProblem;  // why the last file device's file could not be written

std::string Target() {
    if (!gTarget.empty()) return gTarget;
    const char* env = std::getenv("QUILLORY_WAVEOUT");
    return env ? env : "";
}

bool IsFileTarget(const std::string& t, std::string* path) {
    if (t.rfind("file:", 0) != 0 || t.size() <= 5) return false;
    if (path) *path = t.substr(5);
    return true;
}

bool PlainPcm(const WAVEFORMATEX& f) {
    return f.wFormatTag == WAVE_FORMAT_PCM && (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) &&
           f.nChannels >= 1 && f.nChannels <= kMaxChannels && f.nSamplesPerSec >= 1 &&
           f.nSamplesPerSec <= kMaxSampleRate && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8;
}

QAudioFormat QtFormat(const WAVEFORMATEX& f) {
    QAudioFormat q;
    q.setSampleRate(static_cast<int>(f.nSamplesPerSec));
    q.setChannelCount(f.nChannels);
    q.setSampleFormat(f.wBitsPerSample == 8 ? QAudioFormat::UInt8 : QAudioFormat::Int16);
    return q;
}

bool HaveEventLoop() {
    return QCoreApplication::instance() != nullptr;
}

}  // namespace

struct HWAVEOUT__ {
    WAVEFORMATEX format{};
    WaveCallback callback;
    bool paused = false;
    std::deque<WAVEHDR*> playing;  // written, not yet played out
    std::deque<WAVEHDR*> owed;     // played, done not yet delivered
    bool deliveryQueued = false;
    // File device: written unnamed, named at close when every block landed
    std::unique_ptr<OutputFile> file;
    std::string filePath;
    uint64_t fileBytes = 0;
    // Qt device
    std::unique_ptr<QAudioSink> sink;
    QIODevice* io = nullptr;
    std::unique_ptr<QTimer> feeder;
    uint32_t headOffset = 0;  // bytes of playing.front() already handed to the sink
};

namespace {

std::unordered_set<HWAVEOUT>& Live() {
    static std::unordered_set<HWAVEOUT> live;
    return live;
}

bool Valid(HWAVEOUT d) {
    return d && Live().count(d) != 0;
}

void Deliver(HWAVEOUT d) {
    d->deliveryQueued = false;
    while (Valid(d) && !d->owed.empty()) {
        WAVEHDR* h = d->owed.front();
        d->owed.pop_front();
        h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        if (d->callback) d->callback(d, WOM_DONE, h);
    }
}

void Finished(HWAVEOUT d, WAVEHDR* h) {
    d->owed.push_back(h);
    if (!HaveEventLoop()) {
        Deliver(d);
        return;
    }
    if (d->deliveryQueued) return;
    d->deliveryQueued = true;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [d] {
            if (Valid(d)) Deliver(d);
        },
        Qt::QueuedConnection);
}

bool WriteFileHeader(OutputFile& f, const WAVEFORMATEX& fmt, uint64_t dataBytes) {
    const uint32_t data = dataBytes > 0xFFFFFFF0u - kWaveHeaderBytes ? 0xFFFFFFF0u - kWaveHeaderBytes
                                                                     : static_cast<uint32_t>(dataBytes);
    uint8_t h[kWaveHeaderBytes];
    std::memcpy(h, "RIFF", 4);
    WriteLE32(h + 4, data + kWaveHeaderBytes - 8);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    WriteLE32(h + 16, 16);
    WriteLE16(h + 20, fmt.wFormatTag);
    WriteLE16(h + 22, fmt.nChannels);
    WriteLE32(h + 24, fmt.nSamplesPerSec);
    WriteLE32(h + 28, fmt.nSamplesPerSec * fmt.nBlockAlign);
    WriteLE16(h + 32, fmt.nBlockAlign);
    WriteLE16(h + 34, fmt.wBitsPerSample);
    std::memcpy(h + 36, "data", 4);
    WriteLE32(h + 40, data);
    return f.WriteAt(h, sizeof h, 0);
}

void FileProblem(const std::string& path, int error) {
    gFileProblem =
        FormatMessageText("Couldn't write %s\n%s", path.c_str(), std::strerror(error ? error : EIO));
    DebugLog("wave file: %s", gFileProblem.c_str());
}

// Hands the sink what it takes of the waiting blocks; a block is done once all of it went in.
void Feed(HWAVEOUT d) {
    if (!d->io || d->paused) return;
    while (!d->playing.empty()) {
        WAVEHDR* h = d->playing.front();
        const qsizetype room = d->sink->bytesFree();
        const uint32_t left = h->dwBufferLength - d->headOffset;
        if (left > 0 && room <= 0) break;
        qint64 put = left > 0 ? d->io->write(h->lpData + d->headOffset, std::min<qint64>(left, room)) : 0;
        if (put < 0) put = left;  // the sink refuses: drop the block rather than stall
        d->headOffset += static_cast<uint32_t>(put);
        if (d->headOffset < h->dwBufferLength) break;
        d->headOffset = 0;
        d->playing.pop_front();
        Finished(d, h);
    }
    if (d->playing.empty()) d->feeder->stop();
}

}  // namespace

void SetWaveOutTarget(const std::string& target) {
    gTarget = target;
}

std::string WaveOutFileProblem() {
    return gFileProblem;
}

uint32_t waveOutGetNumDevs() {
    const std::string t = Target();
    if (t == "none") return 0;
    if (IsFileTarget(t, nullptr)) return 1;
    if (!HaveEventLoop()) return 0;
    return static_cast<uint32_t>(QMediaDevices::audioOutputs().size());
}

MMRESULT waveOutOpen(HWAVEOUT* device, uint32_t deviceId, const WAVEFORMATEX* format, WaveCallback callback,
                     uint32_t flags) {
    if (!format) return MMSYSERR_INVALPARAM;
    if (waveOutGetNumDevs() == 0) return MMSYSERR_NODRIVER;
    if (deviceId != WAVE_MAPPER && deviceId >= waveOutGetNumDevs()) return MMSYSERR_BADDEVICEID;
    if (!PlainPcm(*format)) return WAVERR_BADFORMAT;
    std::string path;
    const bool toFile = IsFileTarget(Target(), &path);
    QAudioDevice output;
    if (!toFile) {
        output = QMediaDevices::defaultAudioOutput();
        if (output.isNull() || !output.isFormatSupported(QtFormat(*format))) return WAVERR_BADFORMAT;
    }
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    if (!device) return MMSYSERR_INVALPARAM;

    auto* d = new HWAVEOUT__;
    d->format = *format;
    d->callback = std::move(callback);
    if (toFile) {
        gFileProblem.clear();
        d->file = std::make_unique<OutputFile>();
        d->filePath = path;
        if (!d->file->Open(path) || !WriteFileHeader(*d->file, d->format, 0)) {
            FileProblem(path, d->file->error());
            delete d;
            return MMSYSERR_ERROR;
        }
    } else {
        d->sink = std::make_unique<QAudioSink>(output, QtFormat(*format));
        d->io = d->sink->start();
        if (!d->io) {
            delete d;
            return MMSYSERR_ERROR;
        }
        d->feeder = std::make_unique<QTimer>();
        d->feeder->setInterval(kFeedIntervalMs);
        QObject::connect(d->feeder.get(), &QTimer::timeout, [d] {
            if (Valid(d)) Feed(d);
        });
    }
    Live().insert(d);
    *device = d;
    if (d->callback) d->callback(d, WOM_OPEN, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPause(HWAVEOUT device) {
    if (!Valid(device)) return MMSYSERR_INVALHANDLE;
    device->paused = true;
    if (device->sink) device->sink->suspend();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutRestart(HWAVEOUT device) {
    if (!Valid(device)) return MMSYSERR_INVALHANDLE;
    device->paused = false;
    if (device->sink) {
        device->sink->resume();
        Feed(device);
        if (!device->playing.empty()) device->feeder->start();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT device) {
    if (!Valid(device)) return MMSYSERR_INVALHANDLE;
    if (device->sink) device->sink->reset();
    if (device->feeder) device->feeder->stop();
    device->headOffset = 0;
    while (!device->playing.empty()) {
        device->owed.push_back(device->playing.front());
        device->playing.pop_front();
    }
    Deliver(device);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT device) {
    if (!Valid(device)) return MMSYSERR_INVALHANDLE;
    Deliver(device);
    if (!device->playing.empty()) return WAVERR_STILLPLAYING;
    if (device->callback) device->callback(device, WOM_CLOSE, nullptr);
    Live().erase(device);
    if (device->file &&
        !(WriteFileHeader(*device->file, device->format, device->fileBytes) && device->file->Commit()))
        FileProblem(device->filePath, device->file->error());
    if (device->sink) device->sink->stop();
    delete device;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, uint32_t size) {
    if (!Valid(device)) return MMSYSERR_INVALHANDLE;
    if (!header || size < sizeof(WAVEHDR) || (!header->lpData && header->dwBufferLength))
        return MMSYSERR_INVALPARAM;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, uint32_t size) {
    if (!Valid(device)) return MMSYSERR_INVALHANDLE;
    if (!header || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, uint32_t size) {
    if (!Valid(device)) return MMSYSERR_INVALHANDLE;
    if (!header || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    if (device->file) {
        // A block that does not land is reported when the device closes; the file is not kept.
        device->file->WriteAt(header->lpData, header->dwBufferLength, kWaveHeaderBytes + device->fileBytes);
        device->fileBytes += header->dwBufferLength;
        Finished(device, header);
        return MMSYSERR_NOERROR;
    }
    device->playing.push_back(header);
    if (!device->paused) {
        Feed(device);
        if (!device->playing.empty() && !device->feeder->isActive()) device->feeder->start();
    }
    return MMSYSERR_NOERROR;
}

uint32_t timeGetTime() {
    if (gClock) return gClock();
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SetTimeSource(std::function<uint32_t()> source) {
    gClock = std::move(source);
}
