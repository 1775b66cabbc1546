// Writes the seed inputs of every fuzz target: files from the test builders, files the program's
// own writers make, and the ffmpeg-made clips of seed_media.sh (copied, and taken apart into a
// format header and a stored frame for frame_decode).
// Usage: make_seeds SEEDS-FOLDER CLIPS-FOLDER
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "crafted.h"
#include "media/avilist.h"
#include "platform/recent/recent.h"
#include "platform/registry/registry.h"
#include "platform/winini/winini.h"
#include "settings/settings.h"
#include "support.h"

namespace fs = std::filesystem;
using namespace crafted;

namespace {

fs::path gSeeds;

void Seed(const char* target, const std::string& name, const std::string& bytes) {
    fs::create_directories(gSeeds / target);
    std::ofstream(gSeeds / target / name, std::ios::binary) << bytes;
}

std::string Read(const fs::path& p) {
    return FuzzRead(p.string());
}

CraftedAvi Clip(uint16_t bits, uint32_t compression, bool sound) {
    CraftedAvi avi;
    avi.width = 8;
    avi.height = 6;
    avi.bits = bits;
    avi.compression = compression;
    if (sound) {
        avi.channels = 1;
        avi.samplesPerSec = 8000;
        avi.sampleBits = 8;
    }
    const auto frameBytes = static_cast<size_t>(DibRowBytes(avi.width, bits) * avi.height);
    for (int i = 0; i < 4; i++) {
        if (sound) avi.chunks.push_back({"01wb", 0, Payload(533, i)});
        avi.chunks.push_back({compression ? "00dc" : "00db", i % 2 ? 0u : AVIIF_KEYFRAME,
                              Payload(i == 2 ? 0 : frameBytes, i)});
    }
    return avi;
}

void AviSeeds() {
    std::vector<std::pair<std::string, std::string>> files;
    files.push_back({"plain_sound.avi", Clip(24, 0, true).Build()});
    CraftedAvi absolute = Clip(24, 0, true);
    absolute.absoluteOffsets = true;
    files.push_back({"absolute.avi", absolute.Build()});
    CraftedAvi noIndex = Clip(24, 0, false);
    noIndex.withIndex = false;
    files.push_back({"no_index.avi", noIndex.Build()});
    CraftedAvi palette = Clip(8, 0, false);
    for (int i = 0; i < 256; i++) palette.videoFormatTail += std::string(3, static_cast<char>(i)) + '\0';
    palette.headerSize = 40;
    files.push_back({"palette.avi", palette.Build()});
    CraftedAvi mjpg = Clip(24, FourCC("MJPG"), true);
    mjpg.handler = FourCC("MJPG");
    mjpg.headerSize = 68;
    mjpg.videoFormatTail = std::string(28, '\0');
    files.push_back({"mjpg68.avi", mjpg.Build()});
    CraftedAvi extras = Clip(16, 0, true);
    extras.hdrlExtra = Chunk("JUNK", std::string(6, '\0')) + List("INFO", Chunk("ISFT", "Lavf\0"));
    extras.afterHdrl = Chunk("CORE", std::string(160, 'c')) + Chunk("tc_O", "abc") + Chunk("rn_O", "x");
    files.push_back({"extras.avi", extras.Build()});
    CraftedAvi deep = Clip(24, 0, false);
    std::string nested = Chunk("JUNK", "");
    for (int i = 0; i < 18; i++) nested = List("deep", nested);
    deep.afterHdrl = nested;
    files.push_back({"deep.avi", deep.Build()});
    std::string cut = Clip(24, 0, true).Build();
    files.push_back({"cut.avi", cut.substr(0, cut.size() * 2 / 3)});
    files.push_back(
        {"wave.wav", Riff("WAVE", Chunk("fmt ", WaveFormat(2, 8000, 16)) + Chunk("LIST", "INFOISFT") +
                                      Chunk("data", Payload(64, 1)))});
    for (const auto& [name, bytes] : files)
        for (const char* target : {"avi_reader", "avi_list", "file_info"}) Seed(target, name, bytes);
}

void BmpSeeds() {
    std::vector<std::pair<std::string, BmpLayout>> layouts = {
        {"bgr24.bmp", {}},
        {"topdown.bmp", {.height = -3}},
        {"core.bmp", {.width = 5, .height = 3, .core = true}},
        {"pal8.bmp", {.width = 6, .height = 2, .bits = 8, .palette = 8}},
        {"unpadded.bmp", {.width = 5, .height = 3, .padRows = false}},
    };
    for (const auto& [name, layout] : layouts) {
        Seed("bmp_underlay", name, Bmp(layout));
        Seed("file_info", name, Bmp(layout));
    }
}

void ProjectSeeds() {
    const std::string magic = "Corvane Project 00\n";
    Seed("project_file", "plain.cgp", magic + "F0: a.avi\nF0: b.avi\nR0: 2,3,1\nR0: 5,5,8\n");
    Seed("project_file", "title.cgp",
         magic +
             "F0: a.avi\nR0: 1,4,2\nT0: 2,0\nT1: Hello\\World\nT2: Times New Roman\n"
             "T3: 0,-24,700,0,1,180,65535\n; a comment\nR0: 3,6,0\n");
    Seed("project_file", "underlay.cgp",
         magic +
             "F0: a.avi\nF0: c.avi\nR0: 1,5,4\nU0: picture.bmp\nU1: 0,100,-10,10,-20,20\n"
             "U1: 5,6,7,8,9,10\nR0: 2,2,1\nT0: 1,1\n");
    Seed("project_file", "crlf.cgp", "Corvane Project 00\r\nF0: b.avi\r\nR0: 1,2,8\r\n");
    Seed("project_file", "empty.cgp", "");
}

// The program's own writers: the settings a first run saves, and the mail install step.
void SettingsSeeds(const fs::path& scratch) {
    const std::string reg = (scratch / "registry.reg").string();
    RegistryUseFile(reg);
    ResetSettings();
    LoadStartupSettings();
    RegSaveSettings(nullptr);
    Seed("settings_store", "first_run.reg", Read(reg));
    Seed("settings_store", "hex.reg",
         "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brellmont\\Quillory]\n"
         "\"User\"=\"Ann\"\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brellmont\\Quillory\\Users\\Ann\\Paths]\n"
         "\"ProjectFileName\"=\"a \\\"b\\\" \\\\c\"\n\"CapFile\"=hex(1):41,0a,42\n");

    const std::string ini = (scratch / "win.ini").string();
    setenv("QUILLORY_WININI", ini.c_str(), 1);
    std::ofstream(ini) << "; Windows settings\r\n[fonts]\r\n\r\n[Mail]\r\nOLEMessaging=1\r\n";
    WriteProfileStringA("Mail", "MAPI", "1");
    Seed("win_ini", "crlf.ini", Read(ini));
    Seed("win_ini", "plain.ini", "[Desktop]\nWallpaper = \"(None)\"\n[mail]\nmapi=0\n[Mail]\nMAPI=1\n");
    Seed("win_ini", "no_mail.ini", "[Other]\nkey=value");
}

// The recently-used list as the program writes it, and a short hand-written one.
void RecentlyUsedSeeds() {
    std::string list;
    NoteRecentUse(list, {"/home/ann/trip.cgp", "application/x-quillory-project", "Quillory", "quillory %u"},
                  "2024-05-01T10:00:00.000Z");
    Seed("recently_used", "written.xbel", list);
    Seed("recently_used", "short.xbel",
         "<xbel version=\"1.0\"><bookmark href=\"file:///home/ann/trip.cgp\"/><bookmark href=\"a\"/></xbel>");
}

void GifSeeds() {
    const std::string screen = std::string("\x04\x00\x03\x00\xf1\x00\x00", 7) + std::string(12, '\x7f');
    const std::string control = std::string("\x21\xf9\x04\x05\x0a\x00\x01\x00", 8);
    const std::string loop =
        std::string("\x21\xff\x0b", 3) + "NETSCAPE2.0" + std::string("\x03\x01\x00\x00\x00", 5);
    const std::string comment = std::string("\x21\xfe\x05", 3) + "hello" + std::string(1, '\0');
    const std::string image = std::string("\x2c\x00\x00\x00\x00\x04\x00\x03\x00\x80", 10) +
                              std::string(6, '\x10') + std::string("\x02\x02\x4c\x01\x00", 5);
    Seed("gif_dump", "crafted.gif", "GIF89a" + screen + loop + control + comment + image + ";");
    Seed("gif_dump", "old.gif", "GIF87a" + screen + image + ";");
}

// A 68-byte format block: a BITMAPINFOHEADER for the FOURCC and 28 bytes after it.
std::string FormatBlock(uint32_t compression, uint16_t bits, uint32_t headerSize) {
    std::string b = BitmapHeader(32, 24, bits, compression, headerSize);
    b.resize(68, '\0');
    return b;
}

void FrameSeeds(const fs::path& clips) {
    for (const char* four : {"MJPG", "FFV1", "FMP4", "MSVC", "cvid", "H264"})
        Seed("frame_decode", std::string(four) + ".hdr", FormatBlock(ReadLE32(four), 24, 40));
    Seed("frame_decode", "rle8.hdr", FormatBlock(FourCC("RLE8"), 8, 40));
    Seed("frame_decode", "extra.hdr", FormatBlock(FourCC("MJPG"), 24, 68));
    // ffmpeg's clips taken apart: the stored format block and the first stored frame.
    for (const auto& entry : fs::directory_iterator(clips)) {
        if (entry.path().extension() != ".avi") continue;
        AVIlist* rec = OpenAVIforList(entry.path().c_str(), 0, -1);
        if (!rec) continue;
        const uint8_t* frame = getFrameData(1, rec);
        if (frame && lastFrameSize > 0 && rec->compression != 0) {
            std::string block(reinterpret_cast<const char*>(rec->format), sizeof rec->format);
            Seed("frame_decode", entry.path().stem().string() + ".frame",
                 block +
                     std::string(reinterpret_cast<const char*>(frame), static_cast<size_t>(lastFrameSize)));
        }
        CloseAVIlist(rec);
    }
}

void ClipSeeds(const fs::path& clips) {
    for (const auto& entry : fs::directory_iterator(clips)) {
        const std::string ext = entry.path().extension().string();
        const std::string name = "ffmpeg_" + entry.path().filename().string();
        const std::string bytes = Read(entry.path());
        if (ext == ".avi" || ext == ".wav") {
            for (const char* target : {"avi_reader", "avi_list", "file_info"}) Seed(target, name, bytes);
        } else if (ext == ".bmp") {
            Seed("bmp_underlay", name, bytes);
            Seed("file_info", name, bytes);
        } else if (ext == ".gif") {
            Seed("gif_dump", name, bytes);
        } else if (ext == ".mp4") {
            Seed("mp4_play", name, bytes);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: make_seeds SEEDS-FOLDER CLIPS-FOLDER\n", stderr);
        return 2;
    }
    FuzzSetUp();
    gSeeds = argv[1];
    fs::remove_all(gSeeds);
    AviSeeds();
    BmpSeeds();
    ProjectSeeds();
    SettingsSeeds(FuzzPath(""));
    GifSeeds();
    RecentlyUsedSeeds();
    FrameSeeds(argv[2]);
    ClipSeeds(argv[2]);
    return 0;
}
