// What a PipeWire screen stream hands over, turned into what the recorder takes: frames in
// blue-green-red order, damage clipped to the frame, the pointer's picture from the cursor
// metadata, and a region cropped from the monitor's frames. Nothing here talks to PipeWire, so
// every claim a buffer makes (sizes, strides, offsets) is checked in code the tests reach.
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/DIBitmap.h"
#include "platform/Platform.h"

namespace kestrova::platform::wayland {

// The byte order of a 32-bit pixel in the stream: the fourth byte is padding or alpha, which the
// recorder ignores either way.
enum class TPixelOrder { Bgrx, Rgbx };

// Whether a picture of width x height with rows stride bytes apart, starting offset bytes into a
// buffer of size bytes, lies wholly inside it (with 4 bytes a pixel). False for a negative or
// short stride and for sizes whose products overflow.
bool FrameFits(std::size_t size, std::size_t offset, std::int64_t stride, std::int32_t width,
               std::int32_t height);

// r clipped to a width x height frame (possibly empty).
TScreenRect ClipRect(const TScreenRect& r, std::int32_t width, std::int32_t height);

// Copies the rectangles rects (already clipped) of a stream picture into out, a picture of the
// same size with rows outStride bytes apart, swapping red and blue for Rgbx. all: every pixel.
void CopyAsBgrx(const std::uint8_t* pixels, std::size_t stride, TPixelOrder order,
                std::int32_t width, std::int32_t height, const TDamage& damage, std::uint8_t* out,
                std::size_t outStride);

// The pointer as the stream's cursor metadata tells it. meta is the metadata's bytes (a
// spa_meta_cursor, maybe followed by its bitmap), size their count. Returns false when the
// metadata says nothing of the pointer (no valid cursor) or is malformed; then info is
// untouched. A metadata without a bitmap keeps info's picture (the pointer only moved); a
// bitmap of no size hides the pointer.
bool ReadCursorMeta(const void* meta, std::size_t size, TCursorInfo& info);

// Brings frame up to date with rect of full, a frame that changed by fullDamage since frame was
// last brought up to date (frame being what that left, or empty), and says what changed in
// frame's own pixels. rect is clipped to full; false when nothing of it is left.
bool CropFrame(const TDIBitmap& full, const TDamage& fullDamage, const TScreenRect& rect,
               TDIBitmap& frame, TDamage& damage);

}  // namespace kestrova::platform::wayland
