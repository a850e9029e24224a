// The pixel work of the Windows capture that needs no Windows: the block comparison that turns a
// fresh grab into exact damage, and the cursor pictures Windows hands over (a colour bitmap with
// or without alpha, or AND and XOR masks) turned into the straight-alpha picture the recorder
// draws. Built on every system, so the tests run on Linux too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"

namespace kestrova::platform::win32 {

// Pixels compared and reported together, as the X11 grabber does: a change in part of the
// screen's width (a line of text, a blinking caret) is reported only where it is.
inline constexpr std::int32_t kBlockRows = 16;
inline constexpr std::int32_t kBlockColumns = 256;

// grab: frame's size, 32 bits per pixel, rows top first, stride bytes apart (stride at least
// 4 * width). Copies into frame every block that differs from it and adds the blocks to damage
// (neighbouring changed blocks of a band of rows as one rectangle). frame must already be a 32-bit
// top-down picture of grab's size. Returns the number of blocks that changed.
std::size_t CopyChangedBlocks(const std::uint8_t* grab, std::size_t stride, TDIBitmap& frame,
                              TDamage& damage);

// Copies rect (frame pixels, clipped to frame) of grab into frame and adds it to damage, for a
// source that knows what changed (the desktop duplication's dirty rectangles).
void CopyRect(const std::uint8_t* grab, std::size_t stride, const TScreenRect& rect,
              TDIBitmap& frame, TDamage& damage);

// A colour cursor: colour is width x height blue-green-red-alpha pixels, rows top first; mask is
// its AND mask, 1 bit per pixel, rows top first and maskStride bytes apart (nullptr when there is
// none). A picture whose alpha is zero everywhere is an old-style cursor: its AND mask says
// what is clear. Makes picture a 32-bit top-down straight-alpha picture.
void ColourCursorPicture(const std::uint8_t* colour, const std::uint8_t* mask,
                         std::size_t maskStride, std::int32_t width, std::int32_t height,
                         TDIBitmap& picture);

// A monochrome cursor: masks holds 2 * height rows of width bits, the AND mask above the XOR
// mask, rows top first and stride bytes apart. AND 1 XOR 0 is clear, AND 0 draws black (XOR 0) or
// white (XOR 1). AND 1 XOR 1 inverts the screen under it, which a picture cannot say: it is drawn
// black, with a white edge where it meets clear pixels, so a text cursor stays visible on dark
// and light backgrounds alike.
void MonochromeCursorPicture(const std::uint8_t* masks, std::size_t stride, std::int32_t width,
                             std::int32_t height, TDIBitmap& picture);

}  // namespace kestrova::platform::win32
