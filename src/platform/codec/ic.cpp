// The installable-compressor manager: the driver list (installed function drivers, then the
// built-in codecs), the table of open handles, and the IC* calls that wrap ICSendMessage.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "core/diag.h"
#include "platform/codec/driver.h"

using codec_internal::CodecInstance;

namespace codec_internal {

FOURCC LowerFourCC(FOURCC code) {
    FOURCC out = 0;
    for (int i = 0; i < 4; ++i) {
        auto c = static_cast<uint8_t>(code >> (8 * i));
        if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c - 'A' + 'a');
        out |= static_cast<FOURCC>(c) << (8 * i);
    }
    return out;
}

}  // namespace codec_internal

namespace {

using codec_internal::LowerFourCC;

struct InstalledDriver {
    FOURCC type;
    FOURCC handler;
    DRIVERPROC proc;
};

// A codec implemented by a function installed with ICInstall.
class FunctionCodec : public CodecInstance {
  public:
    FunctionCodec(DRIVERPROC proc, DWORD_PTR id, HDRVR self) : proc_(proc), id_(id), self_(self) {}
    ~FunctionCodec() override { proc_(id_, self_, DRV_CLOSE, 0, 0); }
    LRESULT Message(UINT msg, DWORD_PTR dw1, DWORD_PTR dw2) override {
        return proc_(id_, self_, msg, static_cast<LPARAM>(dw1), static_cast<LPARAM>(dw2));
    }

  private:
    DRIVERPROC proc_;
    DWORD_PTR id_;
    HDRVR self_;
};

struct Handle {
    std::unique_ptr<CodecInstance> codec;
    FOURCC type = 0;
    FOURCC handler = 0;
    UINT mode = 0;
};

struct Manager {
    std::mutex lock;
    std::vector<InstalledDriver> installed;
    std::vector<FOURCC> hidden;  // built-in compressors removed with ICRemove
    std::unordered_map<HIC, std::unique_ptr<Handle>> open;
};

Manager& M() {
    static Manager m;
    return m;
}

bool TypeMatches(DWORD wanted, FOURCC type) {
    return wanted == 0 || LowerFourCC(wanted) == LowerFourCC(type);
}

bool IsHidden(const Manager& m, FOURCC handler) {
    return std::find(m.hidden.begin(), m.hidden.end(), LowerFourCC(handler)) != m.hidden.end();
}

// The visible built-in compressors' infos, in listing order.
std::vector<ICINFO> BuiltinList(const Manager& m) {
    std::vector<ICINFO> list;
    int count = codec_internal::BuiltinCompressorCount();
    for (int i = 0; i < count; ++i) {
        ICINFO info;
        if (codec_internal::BuiltinCompressorInfo(i, &info) && !IsHidden(m, info.fccHandler))
            list.push_back(info);
    }
    return list;
}

CodecInstance* Lookup(HIC hic) {
    if (!hic) return nullptr;
    Manager& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    auto it = m.open.find(hic);
    return it == m.open.end() ? nullptr : it->second->codec.get();
}

HIC Register(std::unique_ptr<Handle> handle) {
    Manager& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    HIC hic = reinterpret_cast<HIC>(handle.get());
    m.open[hic] = std::move(handle);
    return hic;
}

HIC OpenFunctionDriver(const InstalledDriver& d, UINT mode) {
    auto handle = std::make_unique<Handle>();
    HDRVR self = reinterpret_cast<HDRVR>(handle.get());
    ICOPEN open{};
    open.dwSize = sizeof open;
    open.fccType = d.type;
    open.fccHandler = d.handler;
    open.dwVersion = ICVERSION;
    open.dwFlags = mode;
    auto id = static_cast<DWORD_PTR>(d.proc(0, self, DRV_OPEN, 0, reinterpret_cast<LPARAM>(&open)));
    if (id == 0) return nullptr;
    handle->codec = std::make_unique<FunctionCodec>(d.proc, id, self);
    handle->type = d.type;
    handle->handler = d.handler;
    handle->mode = mode;
    return Register(std::move(handle));
}

bool FindInstalled(DWORD type, DWORD handler, InstalledDriver* out) {
    Manager& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    for (const auto& d : m.installed) {
        if (TypeMatches(type, d.type) && LowerFourCC(d.handler) == LowerFourCC(handler)) {
            *out = d;
            return true;
        }
    }
    return false;
}

}  // namespace

std::string ICInfoText(const WCHAR* text, int capacity, int maxChars) {
    std::string out;
    for (int i = 0; i < capacity && static_cast<int>(out.size()) < maxChars && text[i]; ++i)
        out.push_back(static_cast<char>(text[i] & 0xFF));
    return out;
}

BOOL ICInfo(DWORD fccType, DWORD fccHandler, ICINFO* lpicinfo) {
    ICINFO info{};
    bool found = false;
    std::vector<InstalledDriver> installed;
    std::vector<ICINFO> builtins;
    {
        Manager& m = M();
        std::lock_guard<std::mutex> guard(m.lock);
        for (const auto& d : m.installed)
            if (TypeMatches(fccType, d.type)) installed.push_back(d);
        if (TypeMatches(fccType, ICTYPE_VIDEO)) builtins = BuiltinList(m);
    }
    auto fillInstalled = [&info](const InstalledDriver& d) {
        std::memset(&info, 0, sizeof info);
        info.dwSize = sizeof info;
        info.fccType = d.type;
        info.fccHandler = d.handler;
        info.dwVersionICM = ICVERSION;
    };
    if (fccHandler < 256) {
        size_t i = fccHandler;
        if (i < installed.size()) {
            fillInstalled(installed[i]);
            found = true;
        } else if (i - installed.size() < builtins.size()) {
            info = builtins[i - installed.size()];
            found = true;
        }
    } else {
        for (const auto& d : installed) {
            if (LowerFourCC(d.handler) == LowerFourCC(fccHandler)) {
                fillInstalled(d);
                found = true;
                break;
            }
        }
        if (!found && TypeMatches(fccType, ICTYPE_VIDEO)) {
            Manager& m = M();
            bool hidden;
            {
                std::lock_guard<std::mutex> guard(m.lock);
                hidden = IsHidden(m, fccHandler);
            }
            found = !hidden && codec_internal::BuiltinInfo(fccHandler, &info);
        }
    }
    if (found && lpicinfo) *lpicinfo = info;
    return found ? TRUE : FALSE;
}

BOOL ICInstall(DWORD fccType, DWORD fccHandler, LPARAM lParam, const char* /*szDesc*/, UINT wFlags) {
    if ((wFlags & ICINSTALL_FUNCTION) == 0 || lParam == 0 || fccHandler == 0) return FALSE;
    Manager& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    auto proc = reinterpret_cast<DRIVERPROC>(lParam);
    for (auto& d : m.installed) {
        if (LowerFourCC(d.type) == LowerFourCC(fccType) &&
            LowerFourCC(d.handler) == LowerFourCC(fccHandler)) {
            d.proc = proc;
            return TRUE;
        }
    }
    m.installed.push_back({fccType, fccHandler, proc});
    return TRUE;
}

BOOL ICRemove(DWORD fccType, DWORD fccHandler, UINT /*wFlags*/) {
    Manager& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    auto it = std::find_if(m.installed.begin(), m.installed.end(), [&](const InstalledDriver& d) {
        return LowerFourCC(d.type) == LowerFourCC(fccType) &&
               LowerFourCC(d.handler) == LowerFourCC(fccHandler);
    });
    if (it != m.installed.end()) {
        m.installed.erase(it);
        return TRUE;
    }
    if (LowerFourCC(fccType) != ICTYPE_VIDEO || IsHidden(m, fccHandler)) return FALSE;
    ICINFO info;
    if (!codec_internal::BuiltinInfo(fccHandler, &info)) return FALSE;
    m.hidden.push_back(LowerFourCC(fccHandler));
    return TRUE;
}

void ICResetDrivers() {
    Manager& m = M();
    std::lock_guard<std::mutex> guard(m.lock);
    m.installed.clear();
    m.hidden.clear();
}

HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode) {
    if (fccHandler == 0) return nullptr;
    InstalledDriver d;
    if (FindInstalled(fccType, fccHandler, &d)) return OpenFunctionDriver(d, wMode);
    if (!TypeMatches(fccType, ICTYPE_VIDEO)) return nullptr;
    {
        Manager& m = M();
        std::lock_guard<std::mutex> guard(m.lock);
        if (IsHidden(m, fccHandler)) return nullptr;
    }
    auto codec = codec_internal::OpenBuiltin(fccHandler, wMode);
    if (!codec) return nullptr;
    auto handle = std::make_unique<Handle>();
    handle->codec = std::move(codec);
    handle->type = ICTYPE_VIDEO;
    handle->handler = fccHandler;
    handle->mode = wMode;
    return Register(std::move(handle));
}

HIC ICLocate(DWORD fccType, DWORD fccHandler, const BITMAPINFOHEADER* lpbiIn, const BITMAPINFOHEADER* lpbiOut,
             UINT wFlags) {
    if (!lpbiIn) return nullptr;
    bool compress = wFlags == ICMODE_COMPRESS || wFlags == ICMODE_FASTCOMPRESS;
    bool decompress = wFlags == ICMODE_DECOMPRESS || wFlags == ICMODE_FASTDECOMPRESS;
    if (!compress && !decompress) return nullptr;  // ICMODE_DRAW included: nothing here draws
    UINT query = compress ? ICM_COMPRESS_QUERY : ICM_DECOMPRESS_QUERY;
    auto accepts = [&](HIC hic) {
        if (!hic) return false;
        if (ICSendMessage(hic, query, reinterpret_cast<DWORD_PTR>(lpbiIn),
                          reinterpret_cast<DWORD_PTR>(lpbiOut)) == ICERR_OK)
            return true;
        ICClose(hic);
        return false;
    };
    if (fccHandler != 0) {
        HIC hic = ICOpen(fccType, fccHandler, wFlags);
        if (accepts(hic)) return hic;
    }
    std::vector<InstalledDriver> installed;
    {
        Manager& m = M();
        std::lock_guard<std::mutex> guard(m.lock);
        for (const auto& d : m.installed)
            if (TypeMatches(fccType, d.type)) installed.push_back(d);
    }
    for (const auto& d : installed) {
        HIC hic = OpenFunctionDriver(d, wFlags);
        if (accepts(hic)) return hic;
    }
    if (!TypeMatches(fccType, ICTYPE_VIDEO)) return nullptr;
    if (decompress) {
        if (lpbiIn->biCompression == BI_RGB) return nullptr;  // raw frames need no codec
        HIC hic = ICOpen(ICTYPE_VIDEO, lpbiIn->biCompression, wFlags);
        return accepts(hic) ? hic : nullptr;
    }
    std::vector<ICINFO> builtins;
    {
        Manager& m = M();
        std::lock_guard<std::mutex> guard(m.lock);
        builtins = BuiltinList(m);
    }
    if (lpbiOut && lpbiOut->biCompression != BI_RGB) {
        HIC hic = ICOpen(ICTYPE_VIDEO, lpbiOut->biCompression, wFlags);
        return accepts(hic) ? hic : nullptr;
    }
    for (const auto& info : builtins) {
        HIC hic = ICOpen(ICTYPE_VIDEO, info.fccHandler, wFlags);
        if (accepts(hic)) return hic;
    }
    return nullptr;
}

LRESULT ICGetInfo(HIC hic, ICINFO* picinfo, DWORD cb) {
    CodecInstance* codec = Lookup(hic);
    if (!codec || !picinfo) return 0;
    ICINFO info{};
    info.dwSize = sizeof info;
    LRESULT got = codec->Message(ICM_GETINFO, reinterpret_cast<DWORD_PTR>(&info), sizeof info);
    if (got <= 0) return 0;
    size_t n = std::min<size_t>({static_cast<size_t>(got), sizeof info, cb});
    std::memcpy(picinfo, &info, n);
    return static_cast<LRESULT>(n);
}

LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2) {
    CodecInstance* codec = Lookup(hic);
    if (!codec) return ICERR_BADHANDLE;
    return codec->Message(msg, dw1, dw2);
}

LRESULT ICClose(HIC hic) {
    std::unique_ptr<Handle> handle;
    {
        Manager& m = M();
        std::lock_guard<std::mutex> guard(m.lock);
        auto it = m.open.find(hic);
        if (it == m.open.end()) return ICERR_BADHANDLE;
        handle = std::move(it->second);
        m.open.erase(it);
    }
    return ICERR_OK;  // the handle's codec is released here, ending what it had begun
}

DWORD ICCompress(HIC hic, DWORD dwFlags, BITMAPINFOHEADER* lpbiOutput, void* lpData,
                 BITMAPINFOHEADER* lpbiInput, const void* lpBits, DWORD* lpckid, DWORD* lpdwFlags,
                 LONG lFrameNum, DWORD dwFrameSize, DWORD dwQuality, BITMAPINFOHEADER* lpbiPrev,
                 const void* lpPrev) {
    ICCOMPRESS c{dwFlags,   lpbiOutput, lpData,      lpbiInput, lpBits,   lpckid,
                 lpdwFlags, lFrameNum,  dwFrameSize, dwQuality, lpbiPrev, lpPrev};
    return static_cast<DWORD>(ICSendMessage(hic, ICM_COMPRESS, reinterpret_cast<DWORD_PTR>(&c), sizeof c));
}

DWORD ICDecompress(HIC hic, DWORD dwFlags, BITMAPINFOHEADER* lpbiFormat, const void* lpData,
                   BITMAPINFOHEADER* lpbi, void* lpBits) {
    ICDECOMPRESS d{dwFlags, lpbiFormat, lpData, lpbi, lpBits, 0};
    return static_cast<DWORD>(ICSendMessage(hic, ICM_DECOMPRESS, reinterpret_cast<DWORD_PTR>(&d), sizeof d));
}

DWORD ICDrawBegin(HIC hic, DWORD dwFlags, void* hpal, HWND hwnd, HDC hdc, int xDst, int yDst, int dxDst,
                  int dyDst, BITMAPINFOHEADER* lpbi, int xSrc, int ySrc, int dxSrc, int dySrc, DWORD dwRate,
                  DWORD dwScale) {
    ICDRAWBEGIN b{dwFlags, hpal, hwnd, hdc,   xDst,  yDst,   dxDst,  dyDst,
                  lpbi,    xSrc, ySrc, dxSrc, dySrc, dwRate, dwScale};
    return static_cast<DWORD>(ICSendMessage(hic, ICM_DRAW_BEGIN, reinterpret_cast<DWORD_PTR>(&b), sizeof b));
}

DWORD ICDraw(HIC hic, DWORD dwFlags, void* lpFormat, const void* lpData, DWORD cbData, LONG lTime) {
    struct {
        DWORD dwFlags;
        void* lpFormat;
        const void* lpData;
        DWORD cbData;
        LONG lTime;
    } d{dwFlags, lpFormat, lpData, cbData, lTime};
    return static_cast<DWORD>(ICSendMessage(hic, ICM_DRAW, reinterpret_cast<DWORD_PTR>(&d), sizeof d));
}
