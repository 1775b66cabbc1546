#include "media/fileinfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/diag.h"
#include "core/memory.h"
#include "media/fileio.h"
#include "media/moviscan.h"
#include "media/riff.h"
#include "platform/lavf/lavf.h"
#include "platform/mp4/mp4.h"

int32_t gImageSize = 0;
char gImageTimeStamp[31] = {};

namespace {

// The reports are built in a block of this size; longer texts are cut.
constexpr size_t kReportBlock = 4000;
constexpr int32_t kStampBytes = 30;

constexpr FOURCC kRIFF = FourCC("RIFF");
constexpr FOURCC kAVI = FourCC("AVI ");
constexpr FOURCC kWAVE = FourCC("WAVE");
constexpr uint32_t kType41 = TwoCC('4', '1');

void Append(std::string& text, const char* format, ...) QUILLORY_PRINTF(2, 3);
void Append(std::string& text, const char* format, ...) {
    char piece[kReportBlock];
    va_list args;
    va_start(args, format);
    std::vsnprintf(piece, sizeof(piece), format, args);
    va_end(args);
    text += piece;
}

// A FOURCC as "%4.4s" prints it: up to four characters, ending early at a zero byte.
std::string Four(FOURCC code) {
    char c[5] = {static_cast<char>(code), static_cast<char>(code >> 8), static_cast<char>(code >> 16),
                 static_cast<char>(code >> 24), 0};
    return std::string(c);
}

// The frame rate in hundredths, rounded; a scale of 0 gives 0 rather than a division by zero.
int64_t Fps100(uint32_t rate, uint32_t scale) {
    if (scale == 0) return 0;
    return (static_cast<int64_t>(rate) * 1000 / scale + 5) / 10;
}

// The form type of a file beginning with RIFF, a size and the form type; 0 for any other (or a
// shorter) file. False when it cannot be read, with the reason in a box when notify is set.
bool RiffForm(const char* name, FOURCC* form, bool notify) {
    const std::string problem = FileProblem(name);
    if (!problem.empty()) {
        if (notify) NotifyBox("%s", problem.c_str());
        return false;
    }
    const int32_t h = MyOpenRead(name);
    uint8_t b[12];
    const int32_t got = h ? MyRead(h, b, 12) : -1;
    MyClose(h);
    if (got < 0) {
        if (notify) NotifyBox("couldn't read file <%s>", name);
        return false;
    }
    *form = got == 12 && ReadLE32(b) == kRIFF ? ReadLE32(b + 8) : 0;
    return true;
}

// The frames a reader finds in an AVI file (whose headers are in info), counted as the clip
// reader counts them for a project: the video entries of idx1 up to the number the header states,
// or every video chunk of the movi list when the index had to be rebuilt from it. An empty entry,
// or one whose chunk is not wholly in the file, is a dropped frame.
struct FramesFound {
    int32_t frames = 0;
    int32_t drops = 0;
    int64_t storedBytes = 0;  // of the frames that are not dropped
    int64_t dataEnd = 0;      // where the last chunk of the index ends
};

FramesFound FindFrames(const char* name, AVIinfoRecord& info) {
    FramesFound found;
    const int32_t h = MyOpenRead(name);
    if (!h) return found;
    const uint32_t moviPosition = info.moviPosition;
    LoadAVIIndex(h, 0, 0, 0, info);
    AVIINDEXENTRY* index = info.index;
    int32_t count = info.indexCount;
    info.index = nullptr;
    info.indexCount = 0;
    const bool rebuilt = RebuildIndexFromMovi(h, moviPosition, &index, &count) != 0;
    const int64_t fileLength = std::max(MyFileLength(h), 0);
    const int64_t limit = rebuilt ? INT32_MAX : std::max(info.totalFrames, 0);
    const bool relative = count > 0 && index[0].dwChunkOffset < moviPosition;
    for (int32_t i = 0; i < count; i++) {
        const AVIINDEXENTRY& e = index[i];
        const int64_t data = static_cast<int64_t>(e.dwChunkOffset) + (relative ? moviPosition : 0) + 8;
        const bool inside = data + e.dwChunkLength <= fileLength;
        if (inside) found.dataEnd = std::max(found.dataEnd, data + e.dwChunkLength + (e.dwChunkLength & 1));
        const uint32_t type = ChunkType(e.ckid);
        if (type != kTypeDB && type != kTypeDC && type != kTypeIV && type != kType41) continue;
        if (found.frames >= limit) continue;
        found.frames++;
        if (e.dwChunkLength == 0 || !inside)
            found.drops++;
        else
            found.storedBytes += e.dwChunkLength;
    }
    MyFree(index);
    MyClose(h);
    return found;
}

// BITMAPINFOHEADER and the V4 and V5 headers that common tools write; the later two begin with the
// first, which is all the report reads.
bool IsInfoHeaderSize(uint32_t size) {
    return size == 40 || size == 108 || size == 124;
}

void ImageLine(std::string& text, int32_t width, int32_t height, int32_t bits, FOURCC compression) {
    if (compression) {
        Append(text, "\n  Image: %ldx%ldx%ld  (%s)", static_cast<long>(width), static_cast<long>(height),
               static_cast<long>(bits), Four(compression).c_str());
    } else {
        Append(text, "\n  Image: %ldx%ldx%ld  Uncompressed", static_cast<long>(width),
               static_cast<long>(height), static_cast<long>(bits));
    }
}

// An MP4 file's sound: "Audio: None", or its rate, its kind (AAC, or the bits of PCM) and channels.
void Mp4AudioLine(std::string& text, const char* lead, const Mp4Info& info) {
    if (info.samplesPerSec == 0) {
        Append(text, "%sAudio: None", lead);
        return;
    }
    std::string kind = info.sampleBits > 0 ? std::to_string(info.sampleBits) + "-Bit" : info.soundCodec;
    if (info.sampleBits == 0) std::transform(kind.begin(), kind.end(), kind.begin(), ::toupper);
    const std::string channels = info.channels == 1   ? "Mono"
                                 : info.channels == 2 ? "Stereo"
                                                      : std::to_string(info.channels) + " Channels";
    Append(text, "%sAudio: %ld Samples/Sec %s %s", lead, static_cast<long>(info.samplesPerSec), kind.c_str(),
           channels.c_str());
}

// "Video: WxHxD  (tag) N frames", or "Video: None".
void Mp4VideoLine(std::string& text, const char* lead, const Mp4Info& info) {
    if (info.width == 0) {
        Append(text, "%sVideo: None", lead);
        return;
    }
    Append(text, "%sVideo: %ldx%ldx%ld  (%s) %lld frames", lead, static_cast<long>(info.width),
           static_cast<long>(info.height), static_cast<long>(info.depth), Four(info.codecTag).c_str(),
           static_cast<long long>(info.frames));
}

// A video file of another container (or an MP4 file's display rotation): false for files that are
// no video, or whose picture is a still image.
bool ReadOtherVideo(const char* file, LavfInfo* info) {
    if (!ReadLavfInfo(file, info, nullptr) || info->videoCodec.empty()) return false;
    const std::string& c = info->container;
    return !(c == "image2" || c == "gif" || c == "tty" || c.find("_pipe") != std::string::npos);
}

// "Shown: 96x160 (turned 90 degrees)" when the picture is shown turned or stretched.
void ShownLine(std::string& text, const char* lead, const LavfInfo& info) {
    const bool turned = info.rotation != 0;
    const int32_t w = turned && info.rotation % 180 ? info.codedHeight : info.codedWidth;
    const int32_t h = turned && info.rotation % 180 ? info.codedWidth : info.codedHeight;
    if (!turned && info.displayWidth == w && info.displayHeight == h) return;
    Append(text, "%sShown: %ldx%ld", lead, static_cast<long>(info.displayWidth),
           static_cast<long>(info.displayHeight));
    if (turned) Append(text, " (turned %d degrees)", info.rotation);
}

// The sound line of another container: as for MP4 files.
void OtherAudioLine(std::string& text, const char* lead, const LavfInfo& info) {
    Mp4Info m;
    m.samplesPerSec = info.samplesPerSec;
    m.channels = info.channels;
    m.sampleBits = info.sampleBits;
    m.soundCodec = info.soundCodec;
    Mp4AudioLine(text, lead, m);
}

// "Video: WxH  (codec) N frames" (frames only where the file counts them).
void OtherVideoLine(std::string& text, const char* lead, const LavfInfo& info) {
    Append(text, "%sVideo: %ldx%ld  (%s)", lead, static_cast<long>(info.codedWidth),
           static_cast<long>(info.codedHeight), info.videoCodec.c_str());
    if (info.frames > 0) Append(text, " %lld frames", static_cast<long long>(info.frames));
}

int64_t Hundredths(double value) {
    return value > 0 && value < 1e12 ? static_cast<int64_t>(value * 100 + 0.5) : 0;
}

void AudioLine(std::string& text, const char* lead, const AVIinfoRecord& info) {
    if (info.samplesPerSec == 0) {
        Append(text, "%sAudio: None", lead);
    } else if (info.channels > 2) {
        Append(text, "%sAudio: %ld Samples/Sec %ld-Bit %ld Channels", lead,
               static_cast<long>(info.samplesPerSec), static_cast<long>(info.bitsPerSample),
               static_cast<long>(info.channels));
    } else {
        Append(text, "%sAudio: %ld Samples/Sec %ld-Bit %s", lead, static_cast<long>(info.samplesPerSec),
               static_cast<long>(info.bitsPerSample), info.channels == 2 ? "Stereo" : "Mono");
    }
}

// The stamp of a time stamp text in either of its two forms, or null.
bool StampOf(const char* stamp, std::string* out) {
    if (!stamp) return false;
    size_t len = strnlen(stamp, 90);
    if (len >= 3 && stamp[0] == 'T' && stamp[1] == 'S' && stamp[2] == ':') {
        *out = len > 4 ? std::string(stamp + 4, strnlen(stamp + 4, kStampBytes)) : std::string();
        return true;
    }
    if (len >= 9 && std::strncmp(stamp, "TTTSSS:::", 9) == 0) {
        std::string plain;
        for (size_t i = 0; i < len && plain.size() < kStampBytes; i += 3) plain += stamp[i];
        *out = plain.size() > 4 ? plain.substr(4) : std::string();
        return true;
    }
    return false;
}

}  // namespace

std::string FileProblem(const char* name) {
    const std::string shown = name ? name : "";
    const int fd = open(shown.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "couldn't open file <" + shown + ">: " + std::strerror(errno);
    struct stat st {};
    const int error = fstat(fd, &st) != 0 ? errno : 0;
    close(fd);
    if (error) return "couldn't open file <" + shown + ">: " + std::strerror(error);
    if (!S_ISREG(st.st_mode)) return "couldn't open file <" + shown + ">: it is not a regular file";
    if (st.st_size == 0) return "file <" + shown + "> is empty";
    return "";
}

int32_t IsAVIFile(const char* name, AVIinfoRecord& info) {
    FOURCC form = 0;
    if (!RiffForm(name, &form, true) || form != kAVI || !ReadAVIInfo(name, info)) return 0;
    // The frames and figures are those really there, whatever the headers claim.
    const FramesFound found = FindFrames(name, info);
    info.totalFrames = found.frames;
    info.droppedFrames = found.drops;
    const int32_t stored = found.frames - found.drops;
    SetFrameFigures(info, stored > 0 ? found.storedBytes / stored : 0);
    // Chunks past a RIFF size that was never brought up to date are in the file all the same.
    info.fileLength = static_cast<int32_t>(std::clamp<int64_t>(found.dataEnd, info.fileLength, INT32_MAX));
    return 1;
}

int32_t IsWAVEFile(const char* name, AVIinfoRecord& info) {
    FOURCC form = 0;
    if (!RiffForm(name, &form, false)) return 0;
    return form == kWAVE && ReadWaveInfo(name, info) ? 1 : 0;
}

int32_t ReadBMPInfo(const char* name, AVIinfoRecord& info) {
    gImageTimeStamp[0] = 0;
    int32_t h = MyOpenRead(name);
    if (!h) return 0;
    const int64_t fileLength = std::max(MyFileLength(h), 0);
    uint8_t fh[14];
    uint8_t bh[40] = {};
    int32_t result = 0;
    if (MyRead(h, fh, 14) == 14 && fh[0] == 'B' && fh[1] == 'M') {
        const uint32_t fileSize = ReadLE32(fh + 2);
        const uint32_t dataOffset = ReadLE32(fh + 10);
        // The header must lie between the file header and the data; its own size field decides its
        // form and must fit in what was read.
        const int64_t room = static_cast<int64_t>(dataOffset) - 14;
        const int32_t n = static_cast<int32_t>(std::clamp<int64_t>(room, 0, 40));
        if (dataOffset <= fileSize && n >= 12 && MyRead(h, bh, n) == n) {
            const uint32_t headerSize = ReadLE32(bh);
            if (headerSize == 12) {
                info.width = ReadLE16(bh + 4);
                info.height = ReadLE16(bh + 6);
                info.bitCount = ReadLE16(bh + 10);
                info.compression = 0;
                info.topDown = false;
                result = 1;
            } else if (IsInfoHeaderSize(headerSize) && n == 40 && headerSize <= room) {
                int32_t height = static_cast<int32_t>(ReadLE32(bh + 8));
                info.width = static_cast<int32_t>(ReadLE32(bh + 4));
                info.topDown = height < 0 && height != INT32_MIN;
                info.height = height == INT32_MIN ? 0 : height < 0 ? -height : height;
                info.bitCount = ReadLE16(bh + 14);
                info.compression = ReadLE32(bh + 16);
                result = 1;
            }
            if (result) {
                // The pixel bytes really there: a file cut short counts only what it holds.
                gImageSize = static_cast<int32_t>(std::max<int64_t>(
                    std::min<int64_t>(fileSize, fileLength) - static_cast<int64_t>(dataOffset), 0));
            }
            if (result && headerSize == 40 && info.bitCount == 24) {
                char stamp[kStampBytes];
                if (MyRead(h, stamp, kStampBytes) == kStampBytes && stamp[0] == 'T' && stamp[1] == 'S') {
                    std::memcpy(gImageTimeStamp, stamp, kStampBytes);
                    gImageTimeStamp[kStampBytes] = 0;
                }
            }
        }
    }
    MyClose(h);
    return result;
}

std::string FileInfoText(const char* name, BITMAPINFOHEADER* display, const char* stamp) {
    const std::string shown = name ? name : "";
    const std::string lookup = shown.substr(0, shown.find(' '));
    const char* file = lookup.c_str();
    std::string text;
    gImageSize = 0;
    AVIinfoRecord info{};
    // Nothing to look up (a snapshot has no file): no open is tried, so no box about it either.
    const bool lookups = !lookup.empty();
    if (lookups && IsAVIFile(file, info)) {
        Append(text, "AVI file - %s", shown.c_str());
        if (info.compression) {
            Append(text, "\n  Video: %ldx%ldx%ld  (%s) %ld frames (%ld drops)", static_cast<long>(info.width),
                   static_cast<long>(info.height), static_cast<long>(info.bitCount),
                   Four(info.compression).c_str(), static_cast<long>(info.totalFrames),
                   static_cast<long>(info.droppedFrames));
        } else {
            Append(text, "\n  Video: %ldx%ldx%ld Uncompressed %ld frames (%ld drops)",
                   static_cast<long>(info.width), static_cast<long>(info.height),
                   static_cast<long>(info.bitCount), static_cast<long>(info.totalFrames),
                   static_cast<long>(info.droppedFrames));
        }
        int64_t fps = Fps100(info.videoRate, info.videoScale);
        Append(text, "\n  Video Rate: %ld.%02ldfps (%ld/%ld)", static_cast<long>(fps / 100),
               static_cast<long>(fps % 100), static_cast<long>(info.videoRate),
               static_cast<long>(info.videoScale));
        Append(text, "\n  %ld.%ld MB/Sec %ld.%ld:1", static_cast<long>(info.frameTimeOrRate / 10),
               static_cast<long>(info.frameTimeOrRate % 10), static_cast<long>(info.compressionFigure / 10),
               static_cast<long>(info.compressionFigure % 10));
        AudioLine(text, "\n  ", info);
        if (display) {
            gImageSize = static_cast<int32_t>(display->biSizeImage);
            Append(text, "\n  ImageSize = %ld bytes", static_cast<long>(gImageSize));
        }
        if (info.sourceName[0]) Append(text, "\nSource: %s <%s>", info.sourceTag, info.sourceName);
        if (info.sourceComment[0]) Append(text, "\n  %s", info.sourceComment);
    } else if (Mp4Info mp4; lookups && ReadMp4Info(file, &mp4)) {
        Append(text, "MP4 file - %s", shown.c_str());
        Mp4VideoLine(text, "\n  ", mp4);
        const int64_t fps = Fps100(static_cast<uint32_t>(mp4.rateNum), static_cast<uint32_t>(mp4.rateDen));
        if (mp4.width)
            Append(text, "\n  Video Rate: %ld.%02ldfps (%ld/%ld)", static_cast<long>(fps / 100),
                   static_cast<long>(fps % 100), static_cast<long>(mp4.rateNum),
                   static_cast<long>(mp4.rateDen));
        Append(text, "\n  Duration: %lld.%02lld seconds", static_cast<long long>(mp4.durationMs / 1000),
               static_cast<long long>(mp4.durationMs % 1000 / 10));
        // Megabytes a second in tenths, as for AVI files.
        const int64_t rate = mp4.durationMs > 0 ? mp4.fileLength * 10000 / mp4.durationMs / 1000000 : 0;
        Append(text, "\n  %lld.%lld MB/Sec", static_cast<long long>(rate / 10),
               static_cast<long long>(rate % 10));
        Mp4AudioLine(text, "\n  ", mp4);
        if (LavfInfo other; ReadOtherVideo(file, &other)) ShownLine(text, "\n  ", other);
    } else if (lookups && IsWAVEFile(file, info)) {
        Append(text, "WAVE file - %s", shown.c_str());
        Append(text, "\n  Audio: %ld %ld %ld", static_cast<long>(info.samplesPerSec),
               static_cast<long>(info.channels), static_cast<long>(info.bitsPerSample));
    } else if (lookups && ReadBMPInfo(file, info)) {
        Append(text, "BMP file - %s", file);
        ImageLine(text, info.width, info.height, info.bitCount, info.compression);
        Append(text, "\n  ImageSize = %ld bytes", static_cast<long>(gImageSize));
    } else if (LavfInfo other; lookups && ReadOtherVideo(file, &other)) {
        Append(text, "Video file - %s", shown.c_str());
        Append(text, "\n  Container: %s", other.container.c_str());
        OtherVideoLine(text, "\n  ", other);
        ShownLine(text, "\n  ", other);
        const int64_t fps = Hundredths(other.averageRate), seconds = Hundredths(other.durationSeconds);
        Append(text, "\n  Video Rate: %lld.%02lldfps", static_cast<long long>(fps / 100),
               static_cast<long long>(fps % 100));
        Append(text, "\n  Duration: %lld.%02lld seconds", static_cast<long long>(seconds / 100),
               static_cast<long long>(seconds % 100));
        OtherAudioLine(text, "\n  ", other);
    } else if (shown.empty()) {
        text = "Snapshot Preview Image";
    } else {
        Append(text, "Image - %s", shown.c_str());
    }

    if (display) {
        const int32_t height = display->biHeight < 0 ? -display->biHeight : display->biHeight;
        const int64_t row =
            (static_cast<int64_t>(display->biBitCount / 8) * display->biWidth + 3) & ~int64_t{3};
        const int32_t computed =
            static_cast<int32_t>(std::clamp<int64_t>(row * height, INT32_MIN, INT32_MAX));
        bool header = false;
        if (display->biWidth != info.width || display->biHeight != info.height ||
            display->biBitCount != info.bitCount || display->biCompression != info.compression) {
            text += "\n\nDisplay Image Parameters:";
            header = true;
            ImageLine(text, display->biWidth, display->biHeight, display->biBitCount, display->biCompression);
        }
        if (static_cast<int32_t>(display->biSizeImage) != computed &&
            NotifyYesNo("Fix image size from %ld to %ld?",
                        static_cast<long>(static_cast<int32_t>(display->biSizeImage)),
                        static_cast<long>(computed)) == 1) {
            display->biSizeImage = static_cast<uint32_t>(computed);
        }
        if (static_cast<int32_t>(display->biSizeImage) != gImageSize) {
            if (!header) text += "\n\nDisplay Image Parameters:";
            Append(text, "\n  ImageSize = %ld bytes",
                   static_cast<long>(static_cast<int32_t>(display->biSizeImage)));
        }
    }

    std::string plain;
    if (StampOf(stamp, &plain)) Append(text, "\n\nImage TimeStamp: %s", plain.c_str());
    if (text.size() > kReportBlock - 1) text.resize(kReportBlock - 1);
    return text;
}

void ShowFileInfo(HWND owner, const char* name, BITMAPINFOHEADER* display, const char* stamp) {
    std::string text = FileInfoText(name, display, stamp);
    if (!text.empty()) MessageBoxA(owner, text, "Information", MB_ICONINFORMATION);
}

char* DescribeAVI(const char* name, int64_t* fileLength) {
    auto* block = static_cast<char*>(MyMalloc(kReportBlock));
    if (!block) return nullptr;
    AVIinfoRecord info{};
    if (!IsAVIFile(name, info)) {
        MyMallocFree(block);
        return nullptr;
    }
    std::string text;
    Append(text, "File Size: %ld bytes", static_cast<long>(info.fileLength));
    int64_t fps = Fps100(info.videoRate, info.videoScale);
    if (info.compression) {
        Append(text, "\nVideo: %ldx%ldx%ld  (%s) %ld frames %ld.%02ldfps", static_cast<long>(info.width),
               static_cast<long>(info.height), static_cast<long>(info.bitCount),
               Four(info.compression).c_str(), static_cast<long>(info.totalFrames),
               static_cast<long>(fps / 100), static_cast<long>(fps % 100));
    } else {
        Append(text, "\nVideo: %ldx%ldx%ld Uncompressed %ld frames %ld.%02ldfps",
               static_cast<long>(info.width), static_cast<long>(info.height),
               static_cast<long>(info.bitCount), static_cast<long>(info.totalFrames),
               static_cast<long>(fps / 100), static_cast<long>(fps % 100));
    }
    AudioLine(text, "\n", info);
    std::snprintf(block, kReportBlock, "%s", text.c_str());
    if (fileLength) *fileLength = info.fileLength;
    return block;
}

char* DescribeMP4(const char* name, int64_t* fileLength) {
    Mp4Info info;
    if (!ReadMp4Info(name, &info)) return nullptr;
    auto* block = static_cast<char*>(MyMalloc(kReportBlock));
    if (!block) return nullptr;
    std::string text;
    Append(text, "File Size: %lld bytes", static_cast<long long>(info.fileLength));
    Append(text, "\nDuration: %lld.%02lld seconds", static_cast<long long>(info.durationMs / 1000),
           static_cast<long long>(info.durationMs % 1000 / 10));
    Mp4VideoLine(text, "\n", info);
    if (info.width) {
        const int64_t fps = Fps100(static_cast<uint32_t>(info.rateNum), static_cast<uint32_t>(info.rateDen));
        Append(text, " %ld.%02ldfps", static_cast<long>(fps / 100), static_cast<long>(fps % 100));
    }
    if (LavfInfo other; ReadOtherVideo(name, &other)) ShownLine(text, "\n", other);
    Mp4AudioLine(text, "\n", info);
    std::snprintf(block, kReportBlock, "%s", text.c_str());
    if (fileLength) *fileLength = info.fileLength;
    return block;
}

char* DescribeVideo(const char* name, int64_t* fileLength) {
    LavfInfo info;
    struct stat st {};
    if (!name || stat(name, &st) != 0 || !ReadOtherVideo(name, &info)) return nullptr;
    auto* block = static_cast<char*>(MyMalloc(kReportBlock));
    if (!block) return nullptr;
    std::string text;
    const int64_t fps = Hundredths(info.averageRate), seconds = Hundredths(info.durationSeconds);
    Append(text, "File Size: %lld bytes", static_cast<long long>(st.st_size));
    Append(text, "\nDuration: %lld.%02lld seconds", static_cast<long long>(seconds / 100),
           static_cast<long long>(seconds % 100));
    OtherVideoLine(text, "\n", info);
    Append(text, " %lld.%02lldfps", static_cast<long long>(fps / 100), static_cast<long long>(fps % 100));
    ShownLine(text, "\n", info);
    OtherAudioLine(text, "\n", info);
    std::snprintf(block, kReportBlock, "%s", text.c_str());
    if (fileLength) *fileLength = st.st_size;
    return block;
}
