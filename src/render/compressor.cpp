#include "render/compressor.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "core/diag.h"
#include "core/memory.h"
#include "platform/mp4/mp4.h"
#include "settings/settings.h"

namespace {

constexpr const char* kUncompressedEntry = " ** 24-bit uncompressed **";
// Characters of a compressor description shown in the list.
constexpr int kDescriptionChars = 99;
constexpr int kQualityMax = 100;

// The one compressor of the process.
struct CompressorState {
    HIC hic = nullptr;
    FOURCC handler = 0;
    DWORD flags = 0;  // ICINFO dwFlags of the open compressor
    alignas(BITMAPINFOHEADER) uint8_t format[kCompressorFormatBytes] = {};
    uint8_t* buffer = nullptr;  // MyCalloc
    uint32_t bufferBytes = 0;
};

CompressorState gState;
CompressorDialogMemory gMemory;
std::shared_ptr<CompressorDialogProvider> gProvider;
SizePredictor gPredictor;

BITMAPINFOHEADER* OutputFormat() {
    return reinterpret_cast<BITMAPINFOHEADER*>(gState.format);
}

void ReleaseBuffer() {
    MyFree(gState.buffer);
    gState.buffer = nullptr;
    gState.bufferBytes = 0;
}

bool SameCode(FOURCC a, FOURCC b) {
    for (int i = 0; i < 4; ++i) {
        int x = std::tolower(static_cast<unsigned char>(a >> (8 * i)));
        int y = std::tolower(static_cast<unsigned char>(b >> (8 * i)));
        if (x != y) return false;
    }
    return true;
}

DWORD CompressionQuality() {
    return gMemory.quality < 0 ? ICQUALITY_DEFAULT : static_cast<DWORD>(std::min(gMemory.quality, 10000));
}

// The output format a compressor gives for input, or the 48-byte default when it gives a header
// shorter than 40 bytes; its image size is the padded 24-bit frame size. False when the size or the
// format cannot be used.
bool MakeOutputFormat(HIC hic, const BITMAPINFOHEADER* input, FOURCC fourcc,
                      uint8_t (&format)[kCompressorFormatBytes]) {
    int32_t width = input ? input->biWidth : 0;
    int32_t height = input ? input->biHeight : 0;
    uint32_t image = PaddedFrameBytes(width, height);
    LRESULT needed = ICCompressGetFormatSize(hic, input);
    if (image == 0 || needed > static_cast<LRESULT>(kCompressorFormatBytes)) {
        DebugLog("CompressorSetup - unusable frame size or format of %ld bytes", static_cast<long>(needed));
        return false;
    }
    std::memset(format, 0, sizeof format);
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(format);
    ICCompressGetFormat(hic, input, out);
    if (out->biSize < sizeof(BITMAPINFOHEADER)) {
        std::memset(format, 0, sizeof format);
        out->biSize = 48;
        out->biWidth = width;
        out->biHeight = height;
        out->biPlanes = 1;
        out->biBitCount = 24;
        out->biCompression = fourcc;
        out->biXPelsPerMeter = 4000;
        out->biYPelsPerMeter = 4000;
    }
    out->biSizeImage = image;
    return true;
}

// One frame through a compressor, with one retry; the compressed bytes land in buffer.
void* CompressWith(HIC hic, BITMAPINFOHEADER* out, uint8_t* buffer, uint32_t bufferBytes, int32_t frameNum,
                   BITMAPINFOHEADER* input, const void* pixels, uint32_t* size, uint32_t flags,
                   uint32_t* indexFlags, uint32_t* chunkId, DWORD quality) {
    if (!input || !buffer) return nullptr;
    uint32_t image = PaddedFrameBytes(input->biWidth, input->biHeight);
    if (input->biCompression == BI_RGB) input->biSizeImage = image;
    DWORD localFlags = 0, localId = 0;
    DWORD* pFlags = indexFlags ? indexFlags : &localFlags;
    DWORD* pId = chunkId ? chunkId : &localId;
    DWORD r = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 1 && !hic) break;
        // The most the compressor may write, and never more than the buffer holds.
        out->biSizeImage = std::min(image, bufferBytes);
        *pFlags = 0;
        *pId = 0;
        r = ICCompress(hic, flags, out, buffer, input, pixels, pId, pFlags, frameNum, 0, quality, nullptr,
                       nullptr);
        if (r == static_cast<DWORD>(ICERR_OK)) {
            if (size) *size = out->biSizeImage;
            return buffer;
        }
    }
    if (hic)
        DebugLog("CompOneFrame - frame failed again - error=%ld", static_cast<long>(static_cast<int32_t>(r)));
    return nullptr;
}

}  // namespace

uint32_t PaddedFrameBytes(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return 0;
    uint64_t row = ((static_cast<uint64_t>(width) + 1) * 3) & ~static_cast<uint64_t>(3);
    uint64_t bytes = row * static_cast<uint64_t>(height);
    return bytes > 0x7FFFFFFFu - kOutputBufferSlack ? 0 : static_cast<uint32_t>(bytes);
}

CompressorDialogMemory& CompressorMemory() {
    return gMemory;
}
HIC CurrentCompressor() {
    return gState.hic;
}
uint32_t CompressorBufferBytes() {
    return gState.bufferBytes;
}

void ResetCompressorState() {
    CompressorEnd();
    gMemory = CompressorDialogMemory{};
}

// ---- the dialog model ----

ChooseCompressorModel::~ChooseCompressorModel() {
    CloseAll();
}

void ChooseCompressorModel::CloseAll() {
    for (auto& e : entries_) {
        if (e.hic) ICClose(e.hic);
        e.hic = nullptr;
    }
}

bool ChooseCompressorModel::Open() {
    CloseAll();
    entries_.clear();
    if (forMp4_) return OpenForMp4();
    entries_.push_back({kUncompressedEntry, nullptr, 0});
    ICINFO info;
    for (DWORD i = 0; ICInfo(ICTYPE_VIDEO, i, &info); ++i) {
        HIC hic = ICOpen(info.fccType, info.fccHandler, ICMODE_QUERY);
        if (!hic) continue;
        if (input_ && ICCompressQuery(hic, input_, nullptr) != ICERR_OK) {
            ICClose(hic);
            continue;
        }
        ICINFO mine{};
        ICGetInfo(hic, &mine, sizeof mine);
        if (SameCode(mine.fccHandler, FourCC("VDOW")) || SameCode(mine.fccHandler, FourCC("MRLE"))) {
            ICClose(hic);
            continue;
        }
        entries_.push_back({ICInfoText(mine.szDescription, 128, kDescriptionChars), hic, mine.fccHandler});
    }

    // A remembered position the list no longer has counts as none.
    int position = gMemory.lastPosition;
    if (position < 0 || position >= static_cast<int>(entries_.size())) {
        position = gMemory.fourcc ? FindHandler(gMemory.fourcc) : -1;
        if (position < 0) position = 0;
    }
    selection_ = position;
    ReadRenderSettings();
    // The scroll bar starts at the kept quality, so OK on a compressor without quality keeps it.
    SetScroll(gMemory.quality < 0 ? 0 : gMemory.quality / 100);
    Remember();
    SelectionChanged();

    if (entries_.size() == 1) {
        NotifyBox("Couldn't locate any compression drivers.");
        CloseAll();
        return false;
    }
    return true;
}

bool ChooseCompressorModel::OpenForMp4() {
    if (!Mp4Available()) {
        NotifyBox("Couldn't locate any compression drivers.");
        return false;
    }
    entries_.push_back({"MP4: " + Mp4VideoDescription() + " video, AAC sound", nullptr, 0});
    selection_ = 0;
    qualityEnabled_ = true;
    configureEnabled_ = aboutEnabled_ = false;
    ReadRenderSettings();
    SetScroll(gMemory.mp4Quality);
    return true;
}

void ChooseCompressorModel::ReadRenderSettings() {
    copyFrames_ = gSettings.CopyFrames != 0;
    fitEnabled_ = gSettings.FitToSize != 0;
    fitMB_ = std::clamp(gSettings.FitMB, 1, kMaxFitMB);
}

int ChooseCompressorModel::FindHandler(FOURCC code) const {
    for (size_t i = 1; i < entries_.size(); ++i)
        if (SameCode(entries_[i].handler, code)) return static_cast<int>(i);
    return -1;
}

void ChooseCompressorModel::Remember() {
    if (!forMp4_) gMemory.lastPosition = selection_;  // a position in the AVI list
}

void ChooseCompressorModel::SetScroll(int position) {
    scrollPosition_ = std::clamp(position, 0, kQualityMax);
    numberText_ = std::to_string(scrollPosition_);
}

void ChooseCompressorModel::SelectionChanged() {
    if (selection_ < 0 || selection_ >= static_cast<int>(entries_.size())) return;
    HIC hic = entries_[static_cast<size_t>(selection_)].hic;
    if (!hic) {  // uncompressed frames have no quality, settings or maker to show
        configureEnabled_ = aboutEnabled_ = qualityEnabled_ = false;
        return;
    }
    ICINFO info{};
    ICGetInfo(hic, &info, sizeof info);
    configureEnabled_ = ICQueryConfigure(hic);
    aboutEnabled_ = ICQueryAbout(hic);
    qualityEnabled_ = (info.dwFlags & VIDCF_QUALITY) != 0;
    gMemory.fourcc = entries_[static_cast<size_t>(selection_)].handler;
    if (qualityEnabled_) {
        if (gMemory.quality == -1)
            SetScroll(static_cast<int>(ICGetDefaultQuality(hic) / 100));
        else
            SetScroll(gMemory.quality / 100);
    }
}

void ChooseCompressorModel::Select(int index) {
    if (index < 0 || index >= static_cast<int>(entries_.size())) return;
    selection_ = index;
    Remember();
    SelectionChanged();
}

void ChooseCompressorModel::Scroll(int code, int thumbPosition) {
    int position = scrollPosition_;
    switch (code) {
        case kLineLeft:
            position -= 1;
            break;
        case kLineRight:
            position += 1;
            break;
        case kPageLeft:
            position -= 10;
            break;
        case kPageRight:
            position += 10;
            break;
        case kThumbPosition:
        case kThumbTrack:
            position = thumbPosition;
            break;
        default:
            break;
    }
    SetScroll(position);
}

void ChooseCompressorModel::Configure(HWND owner) {
    Remember();
    if (configureEnabled_ && selection_ > 0)
        ICConfigure(entries_[static_cast<size_t>(selection_)].hic, owner);
}

void ChooseCompressorModel::About(HWND owner) {
    Remember();
    if (aboutEnabled_ && selection_ > 0) ICAbout(entries_[static_cast<size_t>(selection_)].hic, owner);
}

HIC ChooseCompressorModel::Accept() {
    Remember();
    HIC chosen = nullptr;
    if (selection_ >= 0 && selection_ < static_cast<int>(entries_.size())) {
        chosen = entries_[static_cast<size_t>(selection_)].hic;
        entries_[static_cast<size_t>(selection_)].hic = nullptr;
    }
    if (forMp4_)
        gMemory.mp4Quality = scrollPosition_;
    else
        gMemory.quality = scrollPosition_ * 100;
    gSettings.CopyFrames = copyFrames_ ? 1 : 0;
    gSettings.FitToSize = fitEnabled_ ? 1 : 0;
    gSettings.FitMB = fitMB_;
    CloseAll();
    return chosen;
}

void ChooseCompressorModel::Cancel() {
    Remember();
    CloseAll();
}

void ChooseCompressorModel::SetFit(bool on, int32_t mb) {
    fitEnabled_ = on;
    fitMB_ = std::clamp(mb, 1, kMaxFitMB);
}

bool ChooseCompressorModel::fitAvailable() const {
    return forMp4_ || (selection_ > 0 && qualityEnabled_);
}

bool ChooseCompressorModel::canPredict() const {
    return static_cast<bool>(gPredictor);
}

SizePrediction ChooseCompressorModel::Predict() {
    if (!gPredictor || selection_ < 0 || selection_ >= static_cast<int>(entries_.size())) return {};
    const FOURCC handler = entries_[static_cast<size_t>(selection_)].handler;
    const bool fit = fitEnabled_ && fitAvailable();
    const SizePrediction p = gPredictor(handler, qualityEnabled_ ? scrollPosition_ : -1,
                                        fit ? int64_t{fitMB_} * kBytesPerMB : 0, copyFrames_);
    if (fit && p.quality >= 0) SetScroll(p.quality);
    return p;
}

void SetSizePredictor(SizePredictor predictor) {
    gPredictor = std::move(predictor);
}

// ---- providers ----

bool ScriptedCompressorChoice::Run(HWND /*owner*/, ChooseCompressorModel& model) {
    offered.clear();
    for (const auto& e : model.entries())
        offered.push_back(e.hic ? FourCCText(e.handler) : model.forMp4() ? "mp4" : "none");
    if (model.forMp4()) {
        // Only the quality applies.
    } else if (choice_ == "none") {
        model.Select(0);
    } else if (!choice_.empty()) {
        char code[4] = {' ', ' ', ' ', ' '};
        std::memcpy(code, choice_.data(), std::min<size_t>(choice_.size(), 4));
        int index =
            choice_.size() == 4 ? model.FindHandler(mmioFOURCC(code[0], code[1], code[2], code[3])) : -1;
        if (index < 0) {
            if (diagnostics_) {
                std::string list;
                for (const auto& o : offered) list += " " + o;
                std::fprintf(diagnostics_, "No compressor %s for these frames; available:%s\n",
                             choice_.c_str(), list.c_str());
            }
            return false;
        }
        model.Select(index);
    }
    if (quality_ >= 0 && model.qualityEnabled())
        model.Scroll(ChooseCompressorModel::kThumbPosition, quality_);
    return true;
}

std::shared_ptr<CompressorDialogProvider> SetCompressorDialogProvider(
    std::shared_ptr<CompressorDialogProvider> provider) {
    std::swap(gProvider, provider);
    return provider;
}

// ---- the compressor ----

HIC ChooseCompressor(HWND owner, const BITMAPINFOHEADER* input) {
    ChooseCompressorModel model(input);
    if (!model.Open()) return ChooseCancelled();
    std::shared_ptr<CompressorDialogProvider> provider = gProvider;
    if (!provider) provider = std::make_shared<ScriptedCompressorChoice>();
    if (!provider->Run(owner, model)) {
        model.Cancel();
        return ChooseCancelled();
    }
    return model.Accept();
}

int32_t Mp4CompressorSetup(HWND owner, const BITMAPINFOHEADER* input) {
    CompressorEnd();
    ChooseCompressorModel model(input, true);
    if (!model.Open()) return kCompressorCancelled;
    std::shared_ptr<CompressorDialogProvider> provider = gProvider;
    if (!provider) provider = std::make_shared<ScriptedCompressorChoice>();
    if (!provider->Run(owner, model)) {
        model.Cancel();
        return kCompressorCancelled;
    }
    model.Accept();
    return model.scrollPosition();
}

int64_t CompressorSetup(HWND owner, BITMAPINFOHEADER* input) {
    if (gState.hic) CompressorEnd();
    HIC hic = ChooseCompressor(owner, input);
    if (hic == ChooseCancelled()) return kCompressorCancelled;
    if (!hic) return kCompressorUncompressed;

    ICINFO info{};
    ICGetInfo(hic, &info, sizeof info);
    FOURCC fourcc = info.fccHandler ? info.fccHandler : gMemory.fourcc;
    if (!MakeOutputFormat(hic, input, fourcc, gState.format)) {
        ICClose(hic);
        return kCompressorFailed;
    }
    BITMAPINFOHEADER* out = OutputFormat();
    const uint32_t image = out->biSizeImage;

    if (gState.buffer && gState.bufferBytes < image + kOutputBufferSlack) ReleaseBuffer();
    if (!gState.buffer) {
        gState.buffer = static_cast<uint8_t*>(MyCalloc(image + kOutputBufferSlack, 1));
        if (!gState.buffer) {
            ICClose(hic);
            return kCompressorFailed;
        }
        gState.bufferBytes = image + kOutputBufferSlack;
    }
    if (ICCompressBegin(hic, input, out) != ICERR_OK) {
        ReleaseBuffer();
        ICClose(hic);
        return kCompressorFailed;
    }
    gState.hic = hic;
    gState.handler = fourcc;
    gState.flags = info.dwFlags;
    return static_cast<int64_t>(fourcc);
}

void GetCompressorFormat(BITMAPINFOHEADER* dest) {
    if (dest) std::memcpy(dest, gState.format, sizeof(BITMAPINFOHEADER));
}

void* CompOneFrame(int32_t frameNum, BITMAPINFOHEADER* input, const void* pixels, uint32_t* size,
                   uint32_t flags, const BITMAPINFOHEADER* /*prevFormat*/, const void* /*prevPixels*/,
                   uint32_t* indexFlags, uint32_t* chunkId) {
    return CompressWith(gState.hic, OutputFormat(), gState.buffer, gState.bufferBytes, frameNum, input,
                        pixels, size, flags, indexFlags, chunkId, CompressionQuality());
}

bool CompressorIsIndependent() {
    return gState.hic && (gState.flags & VIDCF_INDEPENDENT);
}

bool CompressorTakes(const BITMAPINFOHEADER* input) {
    return gState.hic && ICCompressQuery(gState.hic, input, nullptr) == ICERR_OK;
}

FOURCC CompressorHandler() {
    return gState.hic ? gState.handler : 0;
}

int CompressorQuality() {
    return gMemory.quality < 0 ? -1 : std::min(gMemory.quality, 10000) / 100;
}

// ---- a compressor of one's own ----

CompressorClone::~CompressorClone() {
    Close();
}

void CompressorClone::Close() {
    if (hic_) {
        ICCompressEnd(hic_);
        ICClose(hic_);
    }
    hic_ = nullptr;
    handler_ = 0;
    flags_ = 0;
}

bool CompressorClone::Open(FOURCC handler, BITMAPINFOHEADER* input, int quality) {
    Close();
    HIC hic = ICOpen(ICTYPE_VIDEO, handler, ICMODE_COMPRESS);
    if (!hic) return false;
    ICINFO info{};
    ICGetInfo(hic, &info, sizeof info);
    const FOURCC fourcc = info.fccHandler ? info.fccHandler : handler;
    if (!MakeOutputFormat(hic, input, fourcc, format_)) {
        ICClose(hic);
        return false;
    }
    const uint32_t image = reinterpret_cast<BITMAPINFOHEADER*>(format_)->biSizeImage;
    buffer_.assign(static_cast<size_t>(image) + kOutputBufferSlack, 0);
    if (ICCompressBegin(hic, input, reinterpret_cast<BITMAPINFOHEADER*>(format_)) != ICERR_OK) {
        ICClose(hic);
        return false;
    }
    hic_ = hic;
    handler_ = fourcc;
    flags_ = info.dwFlags;
    SetQuality(quality);
    return true;
}

void CompressorClone::SetQuality(int quality) {
    quality_ = quality < 0 ? ICQUALITY_DEFAULT : static_cast<DWORD>(std::min(quality, 100) * 100);
}

const BITMAPINFOHEADER* CompressorClone::format() const {
    return reinterpret_cast<const BITMAPINFOHEADER*>(format_);
}

bool CompressorClone::Takes(const BITMAPINFOHEADER* input) const {
    return hic_ && ICCompressQuery(hic_, input, nullptr) == ICERR_OK;
}

void* CompressorClone::Compress(int32_t frameNum, BITMAPINFOHEADER* input, const void* pixels, uint32_t* size,
                                uint32_t* indexFlags) {
    uint32_t chunkId = 0;
    return CompressWith(hic_, reinterpret_cast<BITMAPINFOHEADER*>(format_), buffer_.data(),
                        static_cast<uint32_t>(buffer_.size()), frameNum, input, pixels, size, AVIIF_KEYFRAME,
                        indexFlags, &chunkId, quality_);
}

void CompressorEnd() {
    ReleaseBuffer();
    if (gState.hic) {
        ICCompressEnd(gState.hic);
        ICClose(gState.hic);
        gState.hic = nullptr;
    }
    gState.handler = 0;
    gState.flags = 0;
}
