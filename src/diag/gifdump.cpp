#include "diag/gifdump.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/diag.h"
#include "core/dialogs.h"
#include "core/pump.h"
#include "core/savefile.h"

char gLastGifPath[200] = "";

namespace {

constexpr uint8_t kImageIntroducer = 0x2C;      // ','
constexpr uint8_t kExtensionIntroducer = 0x21;  // '!'
constexpr uint8_t kTrailer = 0x3B;              // ';'
constexpr uint8_t kGraphicControlLabel = 0xF9;
constexpr uint8_t kCommentLabel = 0xFE;
constexpr uint8_t kPlainTextLabel = 0x01;
constexpr uint8_t kApplicationLabel = 0xFF;
// A file name shorter than this keeps its characters: the output name adds ".txt" instead.
constexpr size_t kMinReplacedName = 4;

int16_t Le16(const uint8_t* p) {
    return static_cast<int16_t>(p[0] | (p[1] << 8));
}

// The GIF file with the one read buffer. A read that cannot be filled whole marks the end; what
// it could not read is zero.
class GifReader {
  public:
    explicit GifReader(FILE* file) : file_(file) {}
    bool Read(uint8_t* into, size_t n) {
        size_t got = ended_ ? 0 : std::fread(into, 1, n, file_);
        lastRead_ = got;
        if (got < n) {
            std::memset(into + got, 0, n - got);
            ended_ = true;
        }
        return !ended_;
    }
    bool Byte(uint8_t& b) { return Read(&b, 1); }
    bool ended() const { return ended_; }
    size_t lastRead() const { return lastRead_; }
    long position() const { return std::ftell(file_); }
    uint8_t buffer[kGifReadBufferBytes] = {};

  private:
    FILE* file_;
    bool ended_ = false;
    size_t lastRead_ = 0;
};

int TableEntries(uint8_t packed) {
    return 2 << (packed & 7);
}

// Reads a colour table of entries x 3 bytes into the buffer; false when the file ended in it.
bool ReadTable(GifReader& in, int entries) {
    return in.Read(in.buffer, static_cast<size_t>(entries) * 3);
}

enum class SubBlocks { Plain, Comment, Application };

// The data sub-blocks up to their terminator, with the comment text or the application's
// identifier and loop count. False when the file ended in them.
bool DumpSubBlocks(GifReader& in, FILE* out, SubBlocks kind) {
    uint8_t size = 0;
    if (!in.Byte(size)) return false;
    std::fprintf(out, "  BlockSize %d\n", size);
    char ident[9] = {};
    for (int block = 1; size != 0; ++block) {
        std::memset(in.buffer, 0, sizeof in.buffer);
        if (!in.Read(in.buffer, size)) return false;
        if (kind == SubBlocks::Comment) {
            std::fprintf(out, "    <%s>\n", reinterpret_cast<const char*>(in.buffer));
        } else if (kind == SubBlocks::Application && block == 1) {
            std::memcpy(ident, in.buffer, 8);
            std::fprintf(out, "    App Ident: <%8.8s>\n", ident);
            std::fprintf(out, "    App Auth: %02x %02x %02x\n", in.buffer[8], in.buffer[9], in.buffer[10]);
        } else if (kind == SubBlocks::Application && block == 2 && strncasecmp(ident, "NETSCAPE", 8) == 0 &&
                   in.buffer[0] == 1) {
            const int loops = in.buffer[1] + 256 * in.buffer[2];
            if (loops == 0)
                std::fprintf(out, "    Infinite Looping (count == 0)\n");
            else
                std::fprintf(out, "    Loop Count = %d\n", loops);
        }
        if (!in.Byte(size)) return false;
        std::fprintf(out, "  BlockSize %d\n", size);
    }
    return true;
}

bool DumpImage(GifReader& in, FILE* out) {
    uint8_t d[9];
    if (!in.Read(d, sizeof d)) return false;
    const uint8_t packed = d[8];
    std::fprintf(out, "Image Descriptor...\n");
    std::fprintf(out, "  Offset: %d,%d\n", Le16(d), Le16(d + 2));
    std::fprintf(out, "  Size:   %dx%d\n", Le16(d + 4), Le16(d + 6));
    std::fprintf(out, "  Packed Fields: %02x\n", packed);
    if (packed & 0x80) std::fprintf(out, "    Local Color Table with %d colors\n", TableEntries(packed));
    if (packed & 0x40) std::fprintf(out, "    Interlaced\n");
    if (packed & 0x20) std::fprintf(out, "    Sorted\n");
    if (packed & 0x80) {
        if (!ReadTable(in, TableEntries(packed))) return false;
        std::fprintf(out, "Local Color Table with %d colors\n", TableEntries(packed));
    }
    uint8_t codeSize = 0;
    if (!in.Byte(codeSize)) return false;
    std::fprintf(out, "  LZW Min Code Size: %d\n", codeSize);
    return DumpSubBlocks(in, out, SubBlocks::Plain);
}

bool DumpGraphicControl(GifReader& in, FILE* out) {
    uint8_t g[6];
    if (!in.Read(g, sizeof g)) return false;
    const uint8_t packed = g[1];
    std::fprintf(out, "Graphic Control Extension...\n");
    std::fprintf(out, "  BlockSize %02x\n", g[0]);
    std::fprintf(out, "  Packed Fields: %02x\n", packed);
    switch (packed & 0x1C) {
        case 0x00:
            std::fprintf(out, "    No Disposal Specified\n");
            break;
        case 0x04:
            std::fprintf(out, "    Do Not Dispose\n");
            break;
        case 0x08:
            std::fprintf(out, "    Restore to Bkg Color\n");
            break;
        case 0x0C:
            std::fprintf(out, "    Restore to Prev\n");
            break;
        default:
            std::fprintf(out, "    Undefined Disposal\n");
            break;
    }
    if (packed & 0x02) std::fprintf(out, "    User Input Flag On\n");
    if (packed & 0x01) std::fprintf(out, "    Transparent Index Given\n");
    std::fprintf(out, "  Delaytime: %d (1/100 sec)\n", Le16(g + 2));
    std::fprintf(out, "  Transparency Index: %d\n", g[4]);
    std::fprintf(out, "  Blkterm %02x (expected to be ==0)\n", g[5]);
    return true;
}

bool DumpExtension(GifReader& in, FILE* out) {
    uint8_t label = 0;
    if (!in.Byte(label)) return false;
    switch (label) {
        case kGraphicControlLabel:
            return DumpGraphicControl(in, out);
        case kCommentLabel:
            std::fprintf(out, "Comment Extension...\n");
            return DumpSubBlocks(in, out, SubBlocks::Comment);
        case kPlainTextLabel:
            std::fprintf(out, "Plain Text Extension...\n");
            return DumpSubBlocks(in, out, SubBlocks::Plain);
        case kApplicationLabel:
            std::fprintf(out, "Application Extension...\n");
            return DumpSubBlocks(in, out, SubBlocks::Application);
        default:
            std::fprintf(out, "?? Extension %02x\n", label);
            return DumpSubBlocks(in, out, SubBlocks::Plain);
    }
}

void DumpBody(GifReader& in, FILE* out) {
    uint8_t s[7];
    if (!in.Read(s, sizeof s)) return;
    const uint8_t packed = s[4];
    std::fprintf(out, "Logical Screen Descriptor\n");
    std::fprintf(out, "  Size: %dx%d\n", Le16(s), Le16(s + 2));
    std::fprintf(out, "  Packed Fields: %02x\n", packed);
    std::fprintf(out, "    %d bits/pixel\n", ((packed >> 4) & 7) + 1);
    if (packed & 0x80) {
        std::fprintf(out, "    Global Color Table: %d colors\n", TableEntries(packed));
        std::fprintf(out, (packed & 0x08) ? "    Colors Sorted\n" : "    Colors Not Sorted\n");
    }
    std::fprintf(out, "  Bkg Color Index: %d\n", s[5]);
    std::fprintf(out, "  Pixel Aspect Ratio: %d\n", s[6]);
    if (packed & 0x80) {
        const int entries = TableEntries(packed);
        const bool whole = ReadTable(in, entries);
        const int complete = static_cast<int>(in.lastRead() / 3);  // entries read whole
        std::fprintf(out, "Global Color Table with %d colors\n", entries);
        for (int i = 0; i < complete; ++i)
            std::fprintf(out, "  %d: %02x,%02x,%02x\n", i, in.buffer[i * 3], in.buffer[i * 3 + 1],
                         in.buffer[i * 3 + 2]);
        if (!whole) return;
    }
    for (;;) {
        uint8_t introducer = 0;
        if (!in.Byte(introducer)) return;
        if (introducer == kImageIntroducer) {
            if (!DumpImage(in, out)) return;
        } else if (introducer == kExtensionIntroducer) {
            if (!DumpExtension(in, out)) return;
        } else {
            if (introducer == kTrailer)
                std::fprintf(out, "****** Trailer %02x - pos=%ld\n", introducer, in.position());
            else
                std::fprintf(out, "Unrecognized Data Block %02x - Abort\n", introducer);
            return;
        }
    }
}

bool SameFile(const char* a, const char* b) {
    struct stat sa, sb;
    if (std::strcmp(a, b) == 0) return true;
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The GIF as a stream when it is a regular file; opened without blocking, so that a named pipe or
// a device is refused instead of waited on. Null with errno set otherwise.
FILE* OpenGif(const char* path) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        close(fd);
        errno = error;
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* file = fdopen(fd, "rb");
    if (!file) close(fd);
    return file;
}

// The dump's text, gathered in memory so that the output is written whole or not at all.
class TextBuffer {
  public:
    TextBuffer() : stream_(open_memstream(&data_, &size_)) {}
    ~TextBuffer() {
        if (stream_) std::fclose(stream_);
        std::free(data_);
    }
    FILE* stream() const { return stream_; }
    // The text so far; empty when the memory ran out.
    std::string_view text() {
        if (!stream_ || std::fflush(stream_) != 0 || std::ferror(stream_)) return {};
        return {data_, size_};
    }

  private:
    char* data_ = nullptr;
    size_t size_ = 0;
    FILE* stream_;
};

}  // namespace

int32_t GifDump(const char* gif, const char* out) {
    if (!gif || !out || SameFile(gif, out)) return -1;
    FILE* file = OpenGif(gif);
    if (!file) {
        NotifyBox("Couldn't open <%s>\n%s", gif, std::strerror(errno));
        return -2;
    }
    GifReader in(file);
    uint8_t signature[7] = {};
    in.Read(signature, 6);
    if (std::memcmp(signature, "GIF89a", 6) != 0 && std::memcmp(signature, "GIF87a", 6) != 0) {
        std::fclose(file);
        NotifyBox("Illegal file");
        return -2;
    }
    TextBuffer text;
    if (!text.stream()) {
        std::fclose(file);
        return -1;
    }
    std::fprintf(text.stream(), "dump gif <%s>\n", gif);
    std::fprintf(text.stream(), "<%s>\n", reinterpret_cast<const char*>(signature));
    DumpBody(in, text.stream());
    // A file that ends early ends the dump as an unknown block would; a read past the end gives 0.
    if (in.ended()) std::fprintf(text.stream(), "Unrecognized Data Block %02x - Abort\n", 0);
    std::fclose(file);
    const std::string_view dump = text.text();
    if (dump.empty()) return -1;
    return SaveFileReplacing(out, dump) ? 0 : -1;
}

std::string GifDumpOutputName(const std::string& gif) {
    const size_t slash = gif.rfind('/');
    const size_t nameLength = slash == std::string::npos ? gif.size() : gif.size() - slash - 1;
    if (nameLength < kMinReplacedName) return gif + ".txt";
    return gif.substr(0, gif.size() - 3) + "txt";
}

void GifDumpCommand(HWND owner) {
    const std::string last(gLastGifPath, strnlen(gLastGifPath, sizeof gLastGifPath));
    FileDialogRequest request;
    request.owner = owner;
    request.save = true;
    request.title = "Select GIF File";
    request.filters = {{"GIF Graphics Files", "*.gif"}, {"All Files", "*.*"}};
    const size_t slash = last.rfind('/');
    request.initialDir = slash == std::string::npos ? std::string() : last.substr(0, slash + 1);
    request.initialName = last;
    request.flags = OFN_LONGNAMES | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    request.maxLength = sizeof gLastGifPath;
    std::string gif;
    if (!GetSaveFileNameA(request, gif)) return;
    AddDefaultExtension(gif, "gif");
    std::memset(gLastGifPath, 0, sizeof gLastGifPath);
    std::memcpy(gLastGifPath, gif.data(), std::min(gif.size(), sizeof gLastGifPath - 1));
    const std::string out = GifDumpOutputName(gif);
    const int32_t result = GifDump(gif.c_str(), out.c_str());
    if (result == -1) NotifyBox("Couldn't write the dump of <%s> to <%s>", gif.c_str(), out.c_str());
    if (result < 0) return;
    NotifyBox("<%s>\ndumped to:\n<%s>", gif.c_str(), out.c_str());
}
