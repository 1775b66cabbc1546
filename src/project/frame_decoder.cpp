#include "project/frame_decoder.h"

#include "platform/codec/drawdib.h"

namespace {
HDRAWDIB gDib = nullptr;
}

bool FeedStoredFrame(BITMAPINFOHEADER* format, const void* data) {
    if (!gDib) gDib = DrawDibOpen();
    if (!gDib) return false;
    return DrawDibDraw(gDib, nullptr, 0, 0, 0, 0, format, data, 0, 0, -1, -1, DDF_DONTDRAW) != FALSE;
}

const uint8_t* DecodedPicture(BITMAPINFOHEADER& header) {
    if (!gDib) return nullptr;
    return static_cast<const uint8_t*>(DrawDibGetBuffer(gDib, &header, sizeof header, 0));
}

uint32_t DecodedRowBytes(int32_t width) {
    return DibRowBytes(width, 24);
}

void CloseFrameDecoder() {
    if (gDib) DrawDibClose(gDib);
    gDib = nullptr;
}
