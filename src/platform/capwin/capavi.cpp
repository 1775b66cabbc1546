#include "platform/capwin/capavi.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "core/diskio.h"
#include "core/savefile.h"

namespace {

constexpr uint32_t kAvihBytes = 56;
constexpr uint32_t kStrhBytes = 56;
constexpr uint32_t AVIF_HASINDEX = 0x10;
constexpr uint32_t AVIF_ISINTERLEAVED = 0x100;
constexpr uint32_t kKeyFrame = 0x10;
constexpr FOURCC kVideoChunk = FourCC("00db");
constexpr FOURCC kCompressedVideoChunk = FourCC("00dc");
constexpr FOURCC kAudioChunk = FourCC("01wb");
// Offsets in idx1 count from the movi list's type field.
constexpr int64_t kMoviTypeAt = kCaptureMoviListAt + 8;

bool WriteAllAt(int fd, const void* data, size_t bytes, int64_t at) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (bytes > 0) {
        errno = 0;
        ssize_t n = DiskWriteAt(fd, p, bytes, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (errno == 0) errno = EIO;
            return false;
        }
        p += n;
        bytes -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

bool WriteVectorAt(int fd, const iovec* parts, int count, int64_t at) {
    ssize_t n;
    do {
        n = DiskWriteVectorAt(fd, parts, count, at);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return false;
    // A short write: the rest piece by piece.
    size_t written = static_cast<size_t>(n);
    int64_t offset = at;
    for (int i = 0; i < count; i++) {
        const size_t len = parts[i].iov_len;
        if (written < len && !WriteAllAt(fd, static_cast<const uint8_t*>(parts[i].iov_base) + written,
                                         len - written, offset + static_cast<int64_t>(written)))
            return false;
        written -= std::min(written, len);
        offset += static_cast<int64_t>(len);
    }
    return true;
}

// The capture file opened for writing in place, created when missing. A file the user protected
// is never opened (not even by root), nor is anything but a regular file: -1 with errno set.
int OpenCaptureFile(const std::string& name, struct stat* st) {
    const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    int error = 0;
    if (fstat(fd, st) != 0)
        error = errno;
    else if (!S_ISREG(st->st_mode))
        error = S_ISDIR(st->st_mode) ? EISDIR : EINVAL;
    else if (!MayReplaceFile(name, *st))
        error = EACCES;
    if (error) {
        close(fd);
        errno = error;
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

class Out {
  public:
    explicit Out(std::vector<uint8_t>& b) : b_(b) {}
    void U32(uint32_t v) {
        uint8_t t[4];
        WriteLE32(t, v);
        b_.insert(b_.end(), t, t + 4);
    }
    void U16(uint16_t v) {
        uint8_t t[2];
        WriteLE16(t, v);
        b_.insert(b_.end(), t, t + 2);
    }
    void Tag(const char (&s)[5]) { U32(FourCC(s)); }
    void Bytes(const void* p, size_t n) {
        const auto* c = static_cast<const uint8_t*>(p);
        b_.insert(b_.end(), c, c + n);
    }
    size_t at() const { return b_.size(); }
    void Patch(size_t at, uint32_t v) { WriteLE32(b_.data() + at, v); }

  private:
    std::vector<uint8_t>& b_;
};

}  // namespace

bool AllocateCaptureFile(const std::string& name, int64_t bytes) {
    if (name.empty() || bytes < 0 || bytes > kMaxCaptureFileBytes) return false;
    struct stat st {};
    const int fd = OpenCaptureFile(name, &st);
    if (fd < 0) return false;
    const off_t before = st.st_size;
    bool ok = bytes == 0 || posix_fallocate(fd, 0, bytes) == 0;
    if (ok && before > bytes) ok = ftruncate(fd, bytes) == 0;
    if (ok) {
        // Whatever the file held before is no capture any more.
        const uint8_t blank[12] = {};
        ok = WriteAllAt(fd, blank, static_cast<size_t>(std::min<int64_t>(bytes, sizeof blank)), 0);
    } else {
        struct stat now {};
        if (fstat(fd, &now) == 0 && now.st_size != before) (void)!ftruncate(fd, before);
    }
    close(fd);
    return ok;
}

CaptureAviWriter::~CaptureAviWriter() {
    if (fd_ >= 0) close(fd_);
}

bool CaptureAviWriter::Open(const std::string& name, const BITMAPINFOHEADER& video, uint32_t microSecPerFrame,
                            const WAVEFORMATEX* audio) {
    error_ = 0;
    struct stat st {};
    fd_ = OpenCaptureFile(name, &st);
    if (fd_ < 0) return Failed();
    video_ = video;
    microSecPerFrame_ = microSecPerFrame;
    hasAudio_ = audio != nullptr;
    if (audio) audio_ = *audio;
    pos_ = kCaptureFirstChunkAt;
    frames_ = 0;
    dropped_ = 0;
    audioBytes_ = 0;
    index_.clear();
    indexAtEnd_ = false;
    std::vector<uint8_t> h = Headers();
    h.resize(h.size() + 8, 0);  // the empty header where the first chunk will go
    return WriteAllAt(fd_, h.data(), h.size(), 0) || Failed();
}

bool CaptureAviWriter::Failed() {
    if (!error_) error_ = errno ? errno : EIO;
    return false;
}

std::vector<uint8_t> CaptureAviWriter::Headers() const {
    std::vector<uint8_t> b;
    b.reserve(kCaptureFirstChunkAt);
    Out o(b);
    const uint32_t streams = hasAudio_ ? 2 : 1;
    const uint32_t frameBytes = video_.biSizeImage;
    const uint32_t idxBytes = static_cast<uint32_t>(index_.size());
    const int64_t riffEnd = pos_ + 8 + idxBytes;
    const uint32_t blockAlign = hasAudio_ ? std::max<uint32_t>(audio_.nBlockAlign, 1) : 1;
    const uint64_t perSec =
        (static_cast<uint64_t>(frameBytes) + 8) * 1000000 / std::max<uint32_t>(microSecPerFrame_, 1) +
        (hasAudio_ ? audio_.nAvgBytesPerSec : 0);

    o.Tag("RIFF");
    o.U32(static_cast<uint32_t>(riffEnd - 8));
    o.Tag("AVI ");
    o.Tag("LIST");
    const size_t hdrlSize = o.at();
    o.U32(0);
    o.Tag("hdrl");
    o.Tag("avih");
    o.U32(kAvihBytes);
    o.U32(microSecPerFrame_);
    o.U32(static_cast<uint32_t>(std::min<uint64_t>(perSec, UINT32_MAX)));
    o.U32(0);  // padding granularity
    o.U32(AVIF_HASINDEX | AVIF_ISINTERLEAVED);
    o.U32(frames_);
    o.U32(0);  // initial frames
    o.U32(streams);
    o.U32(std::max(largestChunk_, frameBytes));
    o.U32(static_cast<uint32_t>(video_.biWidth));
    o.U32(static_cast<uint32_t>(video_.biHeight));
    for (int i = 0; i < 4; i++) o.U32(0);

    // The video stream: rate / scale = frames per second.
    o.Tag("LIST");
    const size_t strlVideo = o.at();
    o.U32(0);
    o.Tag("strl");
    o.Tag("strh");
    o.U32(kStrhBytes);
    o.Tag("vids");
    o.U32(video_.biCompression == BI_RGB ? FourCC("DIB ") : video_.biCompression);
    o.U32(0);  // flags
    o.U16(0);  // priority
    o.U16(0);  // language
    o.U32(0);  // initial frames
    o.U32(microSecPerFrame_);
    o.U32(1000000);
    o.U32(0);  // start
    o.U32(frames_);
    o.U32(video_.biCompression == BI_RGB ? frameBytes : std::max<uint32_t>(largestChunk_, 1));
    o.U32(UINT32_MAX);  // quality: default
    o.U32(0);           // sample size: varies (dropped frames are empty)
    o.U16(0);
    o.U16(0);
    o.U16(static_cast<uint16_t>(video_.biWidth));
    o.U16(static_cast<uint16_t>(video_.biHeight));
    o.Tag("strf");
    o.U32(sizeof(BITMAPINFOHEADER));
    o.Bytes(&video_, sizeof(BITMAPINFOHEADER));
    o.Patch(strlVideo, static_cast<uint32_t>(o.at() - strlVideo - 4));

    if (hasAudio_) {
        o.Tag("LIST");
        const size_t strlAudio = o.at();
        o.U32(0);
        o.Tag("strl");
        o.Tag("strh");
        o.U32(kStrhBytes);
        o.Tag("auds");
        o.U32(0);
        o.U32(0);
        o.U16(0);
        o.U16(0);
        o.U32(0);
        o.U32(blockAlign);
        o.U32(audio_.nSamplesPerSec * blockAlign);
        o.U32(0);
        o.U32(audioBytes_ / blockAlign);
        o.U32(audio_.nAvgBytesPerSec);
        o.U32(UINT32_MAX);
        o.U32(blockAlign);
        for (int i = 0; i < 4; i++) o.U16(0);
        // The 16-byte PCM format: readers take it without an extension size.
        o.Tag("strf");
        o.U32(sizeof(PCMWAVEFORMAT));
        o.Bytes(&audio_, sizeof(PCMWAVEFORMAT));
        o.Patch(strlAudio, static_cast<uint32_t>(o.at() - strlAudio - 4));
    }
    o.Patch(hdrlSize, static_cast<uint32_t>(o.at() - hdrlSize - 4));

    o.Tag("JUNK");
    o.U32(static_cast<uint32_t>(kCaptureMoviListAt - o.at() - 4));
    b.resize(kCaptureMoviListAt, 0);
    o.Tag("LIST");
    o.U32(static_cast<uint32_t>(pos_ - kCaptureMoviListAt - 8));
    o.Tag("movi");
    return b;
}

bool CaptureAviWriter::WriteChunk(uint32_t ckid, uint32_t flags, const uint8_t* data, uint32_t bytes) {
    if (fd_ < 0) return false;
    const int64_t padded = static_cast<int64_t>(bytes) + (bytes & 1);
    // Room for this chunk and the index that will follow it.
    if (pos_ + 8 + padded + 8 + static_cast<int64_t>(index_.size()) + 16 > kMaxCaptureFileBytes) return false;
    try {
        if (index_.size() + 16 > index_.capacity())
            index_.reserve(std::max<size_t>(index_.capacity() * 2, 1 << 16));
    } catch (const std::bad_alloc&) {
        return false;  // a chunk that could not be indexed is not written
    }
    // The chunk's place holds an empty header, so that a reader walking the list stops there; the
    // data and the next empty header go first, this chunk's header last. A write that fails part
    // way (a full disk, a kill) leaves the file reading as the chunks before.
    static const uint8_t kEmpty[9] = {};
    if (indexAtEnd_ && !WriteAllAt(fd_, kEmpty, 8, pos_)) return Failed();
    indexAtEnd_ = false;
    iovec parts[2] = {{const_cast<uint8_t*>(data), bytes},
                      {const_cast<uint8_t*>(kEmpty), 8 + static_cast<size_t>(bytes & 1)}};
    uint8_t head[8];
    WriteLE32(head, ckid);
    WriteLE32(head + 4, bytes);
    if (!WriteVectorAt(fd_, parts, 2, pos_ + 8) || !WriteAllAt(fd_, head, 8, pos_)) return Failed();
    uint8_t entry[16];
    WriteLE32(entry, ckid);
    WriteLE32(entry + 4, flags);
    WriteLE32(entry + 8, static_cast<uint32_t>(pos_ - kMoviTypeAt));
    WriteLE32(entry + 12, bytes);
    index_.insert(index_.end(), entry, entry + 16);
    pos_ += 8 + padded;
    largestChunk_ = std::max(largestChunk_, bytes);
    return true;
}

bool CaptureAviWriter::WriteVideo(const uint8_t* data, uint32_t bytes) {
    if (!WriteChunk(video_.biCompression == BI_RGB ? kVideoChunk : kCompressedVideoChunk,
                    bytes ? kKeyFrame : 0, data, bytes))
        return false;
    frames_++;
    if (bytes == 0) dropped_++;
    return true;
}

bool CaptureAviWriter::WriteAudio(const uint8_t* data, uint32_t bytes) {
    if (!hasAudio_ || bytes == 0) return true;
    if (!WriteChunk(kAudioChunk, kKeyFrame, data, bytes)) return false;
    audioBytes_ += bytes;
    return true;
}

bool CaptureAviWriter::WriteIndexAndHeaders() {
    if (fd_ < 0) return false;
    uint8_t head[8];
    WriteLE32(head, FourCC("idx1"));
    WriteLE32(head + 4, static_cast<uint32_t>(index_.size()));
    // The allocated space after the index is one JUNK chunk, so that readers which look past the
    // RIFF for more data step over it instead of searching it byte by byte.
    const int64_t end = pos_ + 8 + static_cast<int64_t>(index_.size());
    struct stat st {};
    uint8_t junk[8];
    const bool filler = fstat(fd_, &st) == 0 && st.st_size >= end + 8 && st.st_size - end - 8 <= UINT32_MAX;
    WriteLE32(junk, FourCC("JUNK"));
    WriteLE32(junk + 4, filler ? static_cast<uint32_t>(st.st_size - end - 8) : 0);
    iovec parts[3] = {{head, 8}, {index_.data(), index_.size()}, {junk, filler ? 8u : 0u}};
    // The index first, then the headers that point at it: a stop between the two leaves the
    // previous headers, which describe a shorter file correctly.
    if (!WriteVectorAt(fd_, parts, 3, pos_)) return Failed();
    indexAtEnd_ = true;
    std::vector<uint8_t> h = Headers();
    return WriteAllAt(fd_, h.data(), h.size(), 0) || Failed();
}

bool CaptureAviWriter::Checkpoint() {
    return WriteIndexAndHeaders() && (DiskSync(fd_, true) == 0 || Failed());
}

bool CaptureAviWriter::Close() {
    if (fd_ < 0) return false;
    bool ok = WriteIndexAndHeaders();
    if (DiskSync(fd_, true) != 0) ok = Failed();
    if (close(fd_) != 0) ok = false;
    fd_ = -1;
    return ok;
}
