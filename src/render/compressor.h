// The compressor of a render: the "Choose Compressor" dialog's logic, the one open compressor with
// its output format and buffer, and the compression of one frame with one retry.
//
// The dialog's widgets live in the desktop program; they drive a ChooseCompressorModel through the
// compressor-dialog provider installed with SetCompressorDialogProvider. The command line and the
// tests install a ScriptedCompressorChoice that picks by handler code or "none".
//
// The quality picked in the dialog reaches the compressor: CompOneFrame hands the kept quality
// (0..10000) to ICCompress, where codecs with VIDCF_QUALITY map it onto their own scale (codec.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/codec/codec.h"

// The compressor's output format block: a BITMAPINFOHEADER and what follows it.
constexpr uint32_t kCompressorFormatBytes = 1092;
// Bytes the output buffer holds beyond one padded 24-bit frame.
constexpr uint32_t kOutputBufferSlack = 68;

// Results of CompressorSetup besides a FOURCC.
constexpr int64_t kCompressorUncompressed = 0;
constexpr int64_t kCompressorCancelled = -1;
constexpr int64_t kCompressorFailed = -2;

// What ChooseCompressor returns when the dialog was cancelled.
inline HIC ChooseCancelled() {
    return reinterpret_cast<HIC>(static_cast<intptr_t>(-1));
}

// Bytes of one 24-bit frame with rows padded to 4 bytes: (((width + 1) x 3) & ~3) x height; 0 when
// the size is not positive or does not fit 31 bits.
uint32_t PaddedFrameBytes(int32_t width, int32_t height);

// Lets the user pick a compressor for input (the 24-bit frames to compress; may be null) and begins
// it. Returns the compressor's FOURCC, kCompressorUncompressed, kCompressorCancelled, or
// kCompressorFailed (nothing stays open). An open compressor is ended first.
int64_t CompressorSetup(HWND owner, BITMAPINFOHEADER* input);
// Copies the 40-byte header of the output format.
void GetCompressorFormat(BITMAPINFOHEADER* dest);
// Compresses one frame; input->biSizeImage is set to the padded frame size. Returns the output
// buffer holding *size bytes, with the index flags and chunk id the compressor gave, or null after a
// second failure. prevFormat and prevPixels are not used (every frame stands alone).
void* CompOneFrame(int32_t frameNum, BITMAPINFOHEADER* input, const void* pixels, uint32_t* size,
                   uint32_t flags, const BITMAPINFOHEADER* prevFormat, const void* prevPixels,
                   uint32_t* indexFlags, uint32_t* chunkId);
// Releases the output buffer and ends and closes the open compressor.
void CompressorEnd();
// Whether the open compressor's frames stand alone (VIDCF_INDEPENDENT): CompressorClones then
// write the same bytes as CompOneFrame, in any order.
bool CompressorIsIndependent();
// Whether the open compressor takes frames of this format (J420 besides the 24-bit one it began with).
bool CompressorTakes(const BITMAPINFOHEADER* input);
// The open compressor's handler code, 0 when none is open.
FOURCC CompressorHandler();
// The quality CompOneFrame hands over, 0-100, or -1 for the compressor's default.
int CompressorQuality();
// The choice for an MP4 render: the dialog offers the MP4 encoder with its quality only (an open
// compressor is ended first). The quality chosen (0-100), or kCompressorCancelled.
int32_t Mp4CompressorSetup(HWND owner, const BITMAPINFOHEADER* input);
// Runs the dialog; the chosen open compressor, null for the uncompressed entry, or ChooseCancelled().
HIC ChooseCompressor(HWND owner, const BITMAPINFOHEADER* input);

// A compressor of one's own (a worker thread's, or trial compressions'): a compressor opened by its
// handler code and begun for the input with the output format CompressorSetup would give it.
class CompressorClone {
  public:
    CompressorClone() = default;
    ~CompressorClone();
    CompressorClone(const CompressorClone&) = delete;
    CompressorClone& operator=(const CompressorClone&) = delete;

    // Opens and begins the compressor; quality 0-100, or -1 for its default. False when it cannot.
    bool Open(FOURCC handler, BITMAPINFOHEADER* input, int quality);
    void Close();
    void SetQuality(int quality);
    // As CompOneFrame, with the key-frame request: the buffer holding *size bytes, or null.
    void* Compress(int32_t frameNum, BITMAPINFOHEADER* input, const void* pixels, uint32_t* size,
                   uint32_t* indexFlags);
    bool Takes(const BITMAPINFOHEADER* input) const;
    bool open() const { return hic_ != nullptr; }
    bool independent() const { return (flags_ & VIDCF_INDEPENDENT) != 0; }
    bool hasQuality() const { return (flags_ & VIDCF_QUALITY) != 0; }
    FOURCC handler() const { return handler_; }
    // The output format (a BITMAPINFOHEADER and what follows it).
    const BITMAPINFOHEADER* format() const;

  private:
    HIC hic_ = nullptr;
    FOURCC handler_ = 0;
    DWORD flags_ = 0;
    DWORD quality_ = ICQUALITY_DEFAULT;
    alignas(BITMAPINFOHEADER) uint8_t format_[kCompressorFormatBytes] = {};
    std::vector<uint8_t> buffer_;
};

// The sizes "Fit to ... MB" speaks of: megabytes of a million bytes, as file managers count them.
constexpr int64_t kBytesPerMB = 1000000;
constexpr int32_t kMaxFitMB = 2000;  // the AVI writer stops at 2 GB

// A render's file size, predicted from a sample of its frames.
struct SizePrediction {
    int64_t bytes = -1;  // the predicted file size; -1 when it cannot be predicted
    int quality = -1;    // the quality (0-100) it is predicted at; -1 for a compressor without one
};
// Predicts the file with compressor handler (0: uncompressed) at quality (0-100, -1: its default),
// or, with fitBytes above 0, at the highest quality whose file fits that size; copy: frames without
// titles or underlays are copied where the format allows. The render installs one while the
// compressor dialog runs, and removes it after.
using SizePredictor = std::function<SizePrediction(FOURCC handler, int quality, int64_t fitBytes, bool copy)>;
void SetSizePredictor(SizePredictor predictor);

// Process-wide dialog memory, kept for the run and never saved.
struct CompressorDialogMemory {
    int32_t lastPosition = -1;                 // list position chosen last; -1 none
    int32_t quality = 10000;                   // 0..10000, or -1 for each compressor's default
    int32_t mp4Quality = kH264DefaultQuality;  // 0..100: MP4 files keep a quality of their own
    FOURCC fourcc = 0;                         // handler of the compressor chosen last
};
CompressorDialogMemory& CompressorMemory();
// The open compressor (null when none) and its output buffer's size in bytes.
HIC CurrentCompressor();
uint32_t CompressorBufferBytes();
// Ends any compressor and forgets the dialog memory (tests).
void ResetCompressorState();

// One line of the compressor list.
struct CompressorEntry {
    std::string description;
    HIC hic = nullptr;  // null for the uncompressed entry
    FOURCC handler = 0;
};

// The "Choose Compressor" dialog without widgets. The provider shows entries(), calls Select,
// Scroll, Configure and About as the user acts, and reads the enabled flags and the quality back.
class ChooseCompressorModel {
  public:
    static constexpr int kListId = 1047;
    static constexpr int kConfigureId = 1048;
    static constexpr int kAboutId = 1049;
    static constexpr int kNumberId = 1050;
    static constexpr int kQualityLabelId = 1051;
    static constexpr int kScrollId = 1052;
    static constexpr int kCopyId = 1053;
    static constexpr int kFitId = 1054;
    static constexpr int kFitSizeId = 1055;
    static constexpr int kPredictedId = 1056;
    // Scroll codes (SB_*).
    static constexpr int kLineLeft = 0;
    static constexpr int kLineRight = 1;
    static constexpr int kPageLeft = 2;
    static constexpr int kPageRight = 3;
    static constexpr int kThumbPosition = 4;
    static constexpr int kThumbTrack = 5;

    // forMp4: the one entry is the MP4 encoder, which has a quality and nothing to configure.
    explicit ChooseCompressorModel(const BITMAPINFOHEADER* input, bool forMp4 = false)
        : input_(input), forMp4_(forMp4) {}
    ~ChooseCompressorModel();
    ChooseCompressorModel(const ChooseCompressorModel&) = delete;
    ChooseCompressorModel& operator=(const ChooseCompressorModel&) = delete;

    // Fills the list and selects the remembered entry. False (after the message "Couldn't locate any
    // compression drivers.") when no compressor is usable: the dialog ends as cancelled.
    bool Open();
    // The user picks entry index (a selection change).
    void Select(int index);
    // A scroll bar action; the position is clamped to 0-100.
    void Scroll(int code, int thumbPosition);
    void Configure(HWND owner);
    void About(HWND owner);
    // OK: detaches and returns the selected compressor (null for uncompressed), keeps the quality and
    // closes every other compressor.
    HIC Accept();
    // Cancel: closes every compressor of the list.
    void Cancel();

    const std::vector<CompressorEntry>& entries() const { return entries_; }
    int selection() const { return selection_; }
    // The entry whose handler is code (case-insensitive), or -1.
    int FindHandler(FOURCC code) const;
    bool forMp4() const { return forMp4_; }
    bool qualityEnabled() const { return qualityEnabled_; }
    bool configureEnabled() const { return configureEnabled_; }
    bool aboutEnabled() const { return aboutEnabled_; }
    int scrollPosition() const { return scrollPosition_; }
    const std::string& numberText() const { return numberText_; }

    // Copying untouched frames and fitting a size, kept in the settings store (CopyFrames,
    // FitToSize, FitMB) when the dialog ends with OK.
    bool copyFrames() const { return copyFrames_; }
    void SetCopyFrames(bool on) { copyFrames_ = on; }
    bool fitEnabled() const { return fitEnabled_; }
    int32_t fitMB() const { return fitMB_; }
    // A size (1..kMaxFitMB megabytes) to fit; fitting needs a compressor with a quality scale.
    void SetFit(bool on, int32_t mb);
    bool fitAvailable() const;
    // Copying stored frames applies to AVI files only.
    bool copyAvailable() const { return !forMp4_; }
    // Whether a predictor is installed.
    bool canPredict() const;
    // The file as chosen now; when fitting, the quality moves to the one that fits.
    SizePrediction Predict();

  private:
    bool OpenForMp4();
    void ReadRenderSettings();
    void Remember();
    void SelectionChanged();
    void SetScroll(int position);
    void CloseAll();

    const BITMAPINFOHEADER* input_;
    bool forMp4_;
    std::vector<CompressorEntry> entries_;
    int selection_ = -1;
    bool qualityEnabled_ = false;
    bool configureEnabled_ = false;
    bool aboutEnabled_ = false;
    int scrollPosition_ = 0;
    std::string numberText_ = "0";
    bool copyFrames_ = true;
    bool fitEnabled_ = false;
    int32_t fitMB_ = 10;
};

// Shows the compressor dialog. Run gets an opened model and returns true for OK, false for Cancel.
class CompressorDialogProvider {
  public:
    virtual ~CompressorDialogProvider() = default;
    virtual bool Run(HWND owner, ChooseCompressorModel& model) = 0;
};

// Installs the provider ChooseCompressor uses; returns the previous one. Null restores the default,
// which accepts the preselected entry.
std::shared_ptr<CompressorDialogProvider> SetCompressorDialogProvider(
    std::shared_ptr<CompressorDialogProvider> provider);

// Picks the entry with a handler code ("MJPG", any case) or "none" for uncompressed; an empty choice
// keeps the preselected entry, and so does every choice for an MP4 render (its list is "mp4"). A quality of
// 0-100 is set when the compressor supports quality (-1 keeps the dialog's). A code not in the list cancels,
// with a line on diagnostics when given.
class ScriptedCompressorChoice : public CompressorDialogProvider {
  public:
    explicit ScriptedCompressorChoice(std::string choice = "", int quality = -1,
                                      std::FILE* diagnostics = nullptr)
        : choice_(std::move(choice)), quality_(quality), diagnostics_(diagnostics) {}
    bool Run(HWND owner, ChooseCompressorModel& model) override;
    // The handler codes offered by the last run, in list order ("none" first).
    std::vector<std::string> offered;

  private:
    std::string choice_;
    int quality_;
    std::FILE* diagnostics_;
};

// A provider that runs a function (tests).
class FunctionCompressorDialog : public CompressorDialogProvider {
  public:
    explicit FunctionCompressorDialog(std::function<bool(HWND, ChooseCompressorModel&)> run)
        : run_(std::move(run)) {}
    bool Run(HWND owner, ChooseCompressorModel& model) override { return run_(owner, model); }

  private:
    std::function<bool(HWND, ChooseCompressorModel&)> run_;
};
