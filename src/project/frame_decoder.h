// The storyboard's frame decoder: one DrawDib that turns stored frames into 24-bit pictures. Kept
// apart from the project headers, whose index flags the codec header also names.
#pragma once

#include <cstdint>

#include "platform/win/wintypes.h"

// Feeds one stored frame (format: header, then room for a colour table) to the decoder without
// showing it; false when it was refused.
bool FeedStoredFrame(BITMAPINFOHEADER* format, const void* data);
// The picture the decoder holds now as 24-bit bottom-up rows padded to 4 bytes, with its header;
// null before the first frame.
const uint8_t* DecodedPicture(BITMAPINFOHEADER& header);
// Rows of a 24-bit picture of that width are this many bytes apart.
uint32_t DecodedRowBytes(int32_t width);
void CloseFrameDecoder();
