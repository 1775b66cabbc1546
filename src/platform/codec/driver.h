// Inside the codec stand-in: what an open codec is, and the built-in drivers over libavcodec.
// No libav type appears here.
#pragma once

#include <memory>

#include "platform/codec/codec.h"

namespace codec_internal {

// One open codec; ICSendMessage hands it every message.
class CodecInstance {
  public:
    virtual ~CodecInstance() = default;
    virtual LRESULT Message(UINT msg, DWORD_PTR dw1, DWORD_PTR dw2) = 0;
};

// The built-in compressors available at run time, in listing order.
int BuiltinCompressorCount();
// Fills info for the index-th built-in compressor; false past the end.
bool BuiltinCompressorInfo(int index, ICINFO* info);
// Fills info for a built-in compressor or decoder by handler code (case-insensitive); false when
// libavcodec knows no such code.
bool BuiltinInfo(FOURCC handler, ICINFO* info);
// Opens the built-in codec for a handler code, or null (a compressor mode needs a listed compressor).
std::unique_ptr<CodecInstance> OpenBuiltin(FOURCC handler, UINT mode);

// Lowercases the four characters of a code, for case-insensitive comparisons.
FOURCC LowerFourCC(FOURCC code);

}  // namespace codec_internal
