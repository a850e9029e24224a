#include "platform/win32/Win32Pixels.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kestrova::platform::win32 {

namespace {

bool Bit(const std::uint8_t* row, std::int32_t x) {
  return ((row[x >> 3] >> (7 - (x & 7))) & 1) != 0;
}

}  // namespace

std::size_t CopyChangedBlocks(const std::uint8_t* grab, std::size_t stride, TDIBitmap& frame,
                              TDamage& damage) {
  const std::int32_t width = frame.Width, height = frame.Rows();
  std::size_t changed = 0;
  for (std::int32_t top = 0; top < height; top += kBlockRows) {
    const std::int32_t bottom = std::min(top + kBlockRows, height);
    TScreenRect run{0, top, 0, bottom};  // changed blocks next to each other on this band
    bool inRun = false;
    for (std::int32_t left = 0; left < width; left += kBlockColumns) {
      const std::int32_t right = std::min(left + kBlockColumns, width);
      const std::size_t offset = static_cast<std::size_t>(left) * 4;
      const std::size_t bytes = static_cast<std::size_t>(right - left) * 4;
      bool differs = false;
      for (std::int32_t y = top; y < bottom && !differs; ++y) {
        differs = std::memcmp(grab + static_cast<std::size_t>(y) * stride + offset,
                              frame.Scanline(y) + offset, bytes) != 0;
      }
      if (differs) {
        ++changed;
        for (std::int32_t y = top; y < bottom; ++y) {
          std::memcpy(frame.Scanline(y) + offset,
                      grab + static_cast<std::size_t>(y) * stride + offset, bytes);
        }
        if (!inRun) run.Left = left;
        run.Right = right;
        inRun = true;
      } else if (inRun) {
        damage.Add(run);
        inRun = false;
      }
    }
    if (inRun) damage.Add(run);
  }
  return changed;
}

void CopyRect(const std::uint8_t* grab, std::size_t stride, const TScreenRect& rect,
              TDIBitmap& frame, TDamage& damage) {
  const TScreenRect r{std::max(rect.Left, 0), std::max(rect.Top, 0),
                      std::min(rect.Right, frame.Width), std::min(rect.Bottom, frame.Rows())};
  if (r.Width() <= 0 || r.Height() <= 0) return;
  const std::size_t offset = static_cast<std::size_t>(r.Left) * 4;
  const std::size_t bytes = static_cast<std::size_t>(r.Width()) * 4;
  for (std::int32_t y = r.Top; y < r.Bottom; ++y) {
    std::memcpy(frame.Scanline(y) + offset, grab + static_cast<std::size_t>(y) * stride + offset,
                bytes);
  }
  damage.Add(r);
}

void ColourCursorPicture(const std::uint8_t* colour, const std::uint8_t* mask,
                         std::size_t maskStride, std::int32_t width, std::int32_t height,
                         TDIBitmap& picture) {
  picture.Allocate(width, -height, 32);
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  bool hasAlpha = false;
  for (std::size_t i = 0; i < pixels && !hasAlpha; ++i) hasAlpha = colour[i * 4 + 3] != 0;
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* src = colour + static_cast<std::size_t>(y) * width * 4;
    std::uint8_t* dst = picture.Scanline(y);
    std::memcpy(dst, src, static_cast<std::size_t>(width) * 4);
    if (hasAlpha) continue;
    const std::uint8_t* maskRow =
        mask != nullptr ? mask + static_cast<std::size_t>(y) * maskStride : nullptr;
    for (std::int32_t x = 0; x < width; ++x) {
      dst[x * 4 + 3] = (maskRow != nullptr && Bit(maskRow, x)) ? 0 : 255;
    }
  }
}

void MonochromeCursorPicture(const std::uint8_t* masks, std::size_t stride, std::int32_t width,
                             std::int32_t height, TDIBitmap& picture) {
  picture.Allocate(width, -height, 32);
  // 0 clear, 1 black, 2 white, 3 inverting.
  std::vector<std::uint8_t> kind(static_cast<std::size_t>(width) *
                                 static_cast<std::size_t>(height));
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* andRow = masks + static_cast<std::size_t>(y) * stride;
    const std::uint8_t* xorRow = masks + static_cast<std::size_t>(y + height) * stride;
    for (std::int32_t x = 0; x < width; ++x) {
      const bool a = Bit(andRow, x), o = Bit(xorRow, x);
      kind[static_cast<std::size_t>(y) * width + x] = a ? (o ? 3 : 0) : (o ? 2 : 1);
    }
  }
  auto kindAt = [&](std::int32_t x, std::int32_t y) -> std::uint8_t {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0;
    return kind[static_cast<std::size_t>(y) * width + x];
  };
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* dst = picture.Scanline(y);
    for (std::int32_t x = 0; x < width; ++x, dst += 4) {
      std::uint8_t k = kindAt(x, y);
      if (k == 0) {
        // A clear pixel touching an inverting one becomes the white edge.
        const bool edge = kindAt(x - 1, y) == 3 || kindAt(x + 1, y) == 3 || kindAt(x, y - 1) == 3 ||
                          kindAt(x, y + 1) == 3;
        if (!edge) {
          std::memset(dst, 0, 4);
          continue;
        }
        k = 2;
      }
      const std::uint8_t v = k == 2 ? 255 : 0;
      dst[0] = dst[1] = dst[2] = v;
      dst[3] = 255;
    }
  }
}

}  // namespace kestrova::platform::win32
