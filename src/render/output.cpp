#include "render/output.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "core/diag.h"
#include "media/aviwriter.h"
#include "media/riff.h"
#include "platform/mp4/mp4.h"
#include "render/compressor.h"

namespace {

constexpr FOURCC kCompressedId = FourCC("00dc");
constexpr FOURCC kUncompressedId = FourCC("00db");
constexpr FOURCC kAudioId = FourCC("01wb");

// "12.3 MB" for a byte count, "12 KB" below a megabyte (rounded up).
std::string DiskSpace(int64_t bytes) {
    if (bytes < kBytesPerMB)
        return FormatMessageText("%lld KB", static_cast<long long>((bytes + 999) / 1000));
    return FormatMessageText("%.1f MB", static_cast<double>(bytes) / static_cast<double>(kBytesPerMB));
}

// An AVI file: frames compressed by the compressor begun for the render (or kept as 24-bit pixels),
// each written after its sound chunk; a dropped frame is an empty chunk.
class AviOutput : public RenderOutput {
  public:
    AviOutput(int32_t handle, bool compressed) : handle_(handle), compressed_(compressed) {}
    ~AviOutput() override {
        if (!committed_) MyAbandonAVI();
    }

    Result Frame(int32_t n, const BITMAPINFOHEADER* format, const uint8_t* pixels, uint32_t bytes,
                 std::span<const uint8_t> sound) override {
        if (!compressed_) return Write(pixels, bytes, kUncompressedId, AVIIF_KEYFRAME, sound);
        uint32_t size = 0, flags = AVIIF_KEYFRAME, chunkId = 0;
        BITMAPINFOHEADER input = *format;
        const void* data =
            CompOneFrame(n, &input, pixels, &size, AVIIF_KEYFRAME, nullptr, nullptr, &flags, &chunkId);
        if (!data) return Repeat(sound);
        return Write(data, size, kCompressedId, flags, sound);
    }
    Result Chunk(const uint8_t* data, uint32_t size, FOURCC id, uint32_t flags,
                 std::span<const uint8_t> sound) override {
        return Write(data, size, id, flags, sound);
    }
    Result Repeat(std::span<const uint8_t> sound) override {
        if (written_ == 0) return kLeftOut;
        return Write(nullptr, 0, kUncompressedId, 0, sound);
    }
    int32_t written() const override { return written_; }
    std::string FullText(int32_t n) const override {
        return FormatMessageText("The file is full: frames from %ld on were left out", static_cast<long>(n));
    }
    bool Finish() override {
        if (handle_) {
            finished_ = MyFinishAVI(handle_, written_) != 0;
            // Chunks are written in large pieces: a failure may cut off frames already counted.
            if (finished_) written_ = AVIFramesClosed();
        }
        handle_ = 0;
        return finished_;
    }
    int WriteError() const override { return AVIWriteError(); }
    bool ReadBack(int64_t* length) override {
        AVIinfoRecord info{};
        if (!finished_ || !ReadAVIInfo(AVIFinishedFile().c_str(), info) || info.totalFrames != written_)
            return false;
        *length = info.fileLength;
        return true;
    }
    int Commit(bool replace) override {
        if (!finished_) return EBADF;
        if (MyCommitAVI(replace)) {
            committed_ = true;
            return 0;
        }
        return AVIWriteError() ? AVIWriteError() : EIO;
    }

  private:
    Result Write(const void* data, uint32_t size, FOURCC id, uint32_t flags, std::span<const uint8_t> sound) {
        if (!sound.empty())
            MyWriteChunk(handle_, sound.data(), static_cast<int32_t>(sound.size()), kAudioId, 0);
        if (MyWriteChunk(handle_, data, static_cast<int32_t>(std::min<uint32_t>(size, INT32_MAX)), id,
                         flags) == 0)
            return kFull;
        written_++;
        return kWritten;
    }

    int32_t handle_;
    bool compressed_;
    int32_t written_ = 0;
    bool finished_ = false, committed_ = false;
};

// An MP4 file: every frame a picture (a dropped frame shows the one before again), the sound one
// AAC track; the writer stops while the disk still has room to finish the file.
class Mp4Output : public RenderOutput {
  public:
    Mp4Output(std::string name, std::unique_ptr<Mp4Writer> writer)
        : name_(std::move(name)), writer_(std::move(writer)) {}

    Result Frame(int32_t, const BITMAPINFOHEADER* format, const uint8_t* pixels, uint32_t,
                 std::span<const uint8_t> sound) override {
        if (format->biCompression != BI_RGB || format->biBitCount != 24) return Repeat(sound);
        if (!Room() || !writer_->WriteSound(sound.data(), sound.size()) || !writer_->WriteFrame(pixels))
            return kFull;
        return kWritten;
    }
    Result Chunk(const uint8_t*, uint32_t, FOURCC, uint32_t, std::span<const uint8_t>) override {
        return kFull;
    }
    Result Repeat(std::span<const uint8_t> sound) override {
        if (writer_->frames() == 0) return kLeftOut;
        if (!Room() || !writer_->WriteSound(sound.data(), sound.size()) || !writer_->RepeatFrame())
            return kFull;
        return kWritten;
    }
    int32_t written() const override { return writer_->frames(); }
    std::string FullText(int32_t n) const override {
        if (!noRoom_)
            return FormatMessageText("Frames from %ld on could not be encoded", static_cast<long>(n));
        if (writer_->frames() == 0)
            return FormatMessageText(
                "There is not enough room on the disk for %s: an MP4 file needs about %s free to begin, the "
                "disk has %s",
                name_.c_str(), DiskSpace(writer_->roomNeeded()).c_str(),
                DiskSpace(std::max<int64_t>(writer_->roomFree(), 0)).c_str());
        return FormatMessageText("The disk is full: frames from %ld on were left out", static_cast<long>(n));
    }
    bool Finish() override { return finished_ = writer_->Finish(); }
    int WriteError() const override { return writer_->WriteError(); }
    bool ReadBack(int64_t* length) override {
        Mp4Info info;
        if (!finished_ || !ReadMp4Info(writer_->finishedFile().c_str(), &info) ||
            info.frames != writer_->frames())
            return false;
        *length = info.fileLength;
        return true;
    }
    int Commit(bool replace) override { return finished_ ? writer_->Commit(replace) : EBADF; }

  private:
    bool Room() {
        noRoom_ = !writer_->HasRoom();
        return !noRoom_;
    }

    std::string name_;
    std::unique_ptr<Mp4Writer> writer_;
    bool finished_ = false, noRoom_ = false;
};

}  // namespace

bool IsMp4Name(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == ".mp4";
}

Mp4Format Mp4FormatFor(const RenderOutputRequest& r, int32_t quality) {
    Mp4Format format;
    format.width = r.input->biWidth;
    format.height = r.input->biHeight;
    format.rate = 1000000;
    format.scale = static_cast<uint32_t>(r.usPerFrame);
    if (r.withAudio)
        format.samplesPerSec = r.head->samplesPerSec, format.channels = r.head->channels,
        format.sampleBits = r.head->sampleBits;
    format.quality = quality;
    return format;
}

bool ChooseRenderOutput(const RenderOutputRequest& r, RenderChoice* choice) {
    *choice = RenderChoice{};
    if (IsMp4Name(r.name)) {
        const int32_t quality = Mp4CompressorSetup(r.owner, r.input);
        if (quality < 0) return false;
        choice->mp4 = true;
        choice->quality = quality;
        return true;
    }
    const int64_t fourcc = CompressorSetup(r.owner, r.input);
    if (fourcc < 0) return false;
    choice->fourcc = fourcc;
    choice->output = *r.input;
    if (fourcc != kCompressorUncompressed) GetCompressorFormat(&choice->output);
    return true;
}

std::unique_ptr<RenderOutput> CreateRenderOutput(const RenderOutputRequest& r, const RenderChoice& choice,
                                                 std::string* reason) {
    const AVIlist* head = r.head;
    reason->clear();
    if (choice.mp4) {
        auto writer = Mp4Writer::Create(r.name, Mp4FormatFor(r, choice.quality), reason);
        if (!writer) return nullptr;
        return std::make_unique<Mp4Output>(r.name, std::move(writer));
    }
    const int64_t fourcc = choice.fourcc;
    BITMAPINFOHEADER output = choice.output;
    WAVIStreams streams;
    streams.width = r.input->biWidth;
    streams.height = r.input->biHeight;
    streams.bitCount = output.biBitCount;
    streams.format = &output;
    streams.handler = static_cast<FOURCC>(fourcc);
    streams.usPerFrame = r.usPerFrame;
    streams.samplesPerSec = r.withAudio ? head->samplesPerSec : 0;
    streams.channels = head->channels;
    streams.bitsPerSample = head->sampleBits;
    const int32_t handle = MyCreateWAVI(r.name.c_str(), std::max(r.activeFrames, 1), streams);
    if (!handle) {
        if (const int error = AVIWriteError()) *reason = std::strerror(error);
        if (fourcc != kCompressorUncompressed) CompressorEnd();
        return nullptr;
    }
    return std::make_unique<AviOutput>(handle, fourcc != kCompressorUncompressed);
}
