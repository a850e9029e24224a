#include "platform/wayland/StreamPixels.h"

#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace kestrova::platform::wayland {

bool FrameFits(std::size_t size, std::size_t offset, std::int64_t stride, std::int32_t width,
               std::int32_t height) {
  if (width <= 0 || height <= 0 || stride < 0) return false;
  const auto rowBytes = static_cast<std::uint64_t>(width) * 4;
  if (static_cast<std::uint64_t>(stride) < rowBytes) return false;
  // Up to 2^31 rows of up to 2^63 bytes: the span is checked before it is computed.
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t rows = static_cast<std::uint64_t>(height) - 1;
  if (rows != 0 && static_cast<std::uint64_t>(stride) > (kMax - rowBytes) / rows) return false;
  const std::uint64_t span = rows * static_cast<std::uint64_t>(stride) + rowBytes;
  return offset <= size && span <= size - offset;
}

TScreenRect ClipRect(const TScreenRect& r, std::int32_t width, std::int32_t height) {
  TScreenRect c{std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, width),
                std::min(r.Bottom, height)};
  if (c.Width() <= 0 || c.Height() <= 0) return {};
  return c;
}

namespace {

void CopyRect(const std::uint8_t* pixels, std::size_t stride, TPixelOrder order,
              const TScreenRect& r, std::uint8_t* out, std::size_t outStride) {
  const std::size_t left = 4 * static_cast<std::size_t>(r.Left);
  const std::size_t bytes = 4 * static_cast<std::size_t>(r.Width());
  for (std::int32_t y = r.Top; y < r.Bottom; ++y) {
    const std::uint8_t* s = pixels + static_cast<std::size_t>(y) * stride + left;
    std::uint8_t* d = out + static_cast<std::size_t>(y) * outStride + left;
    if (order == TPixelOrder::Bgrx) {
      std::memcpy(d, s, bytes);
      continue;
    }
    for (std::size_t i = 0; i < bytes; i += 4) {
      d[i] = s[i + 2];
      d[i + 1] = s[i + 1];
      d[i + 2] = s[i];
      d[i + 3] = s[i + 3];
    }
  }
}

std::uint8_t Unpremultiply(unsigned c, unsigned alpha) {
  if (alpha == 0) return 0;
  return static_cast<std::uint8_t>(std::min(255u, (c * 255 + alpha / 2) / alpha));
}

// Byte positions of blue, green, red and alpha in a cursor bitmap's pixel; false for a format
// the pointer is never sent in.
bool CursorChannels(std::uint32_t format, int (&at)[4]) {
  switch (format) {
    case SPA_VIDEO_FORMAT_RGBA:
      at[0] = 2, at[1] = 1, at[2] = 0, at[3] = 3;
      return true;
    case SPA_VIDEO_FORMAT_BGRA:
      at[0] = 0, at[1] = 1, at[2] = 2, at[3] = 3;
      return true;
    case SPA_VIDEO_FORMAT_ARGB:
      at[0] = 3, at[1] = 2, at[2] = 1, at[3] = 0;
      return true;
    case SPA_VIDEO_FORMAT_ABGR:
      at[0] = 1, at[1] = 2, at[2] = 3, at[3] = 0;
      return true;
    default:
      return false;
  }
}

// Larger pointers than this are no pointer: a bitmap claiming more is refused.
constexpr std::uint32_t kMaxCursorSide = 1024;

bool ReadCursorBitmap(const std::uint8_t* base, std::size_t size, std::size_t at,
                      TCursorInfo& info) {
  if (at > size || size - at < sizeof(spa_meta_bitmap)) return false;
  spa_meta_bitmap bitmap;
  std::memcpy(&bitmap, base + at, sizeof bitmap);
  const std::uint32_t w = bitmap.size.width, h = bitmap.size.height;
  if (w == 0 || h == 0) {
    info.Showing = false;
    info.Picture = TDIBitmap{};
    return true;
  }
  int channel[4];
  if (w > kMaxCursorSide || h > kMaxCursorSide || !CursorChannels(bitmap.format, channel)) {
    return false;
  }
  const std::size_t pixelsAt = at + bitmap.offset;
  if (bitmap.offset > size || pixelsAt > size ||
      !FrameFits(size - pixelsAt, 0, bitmap.stride, static_cast<std::int32_t>(w),
                 static_cast<std::int32_t>(h))) {
    return false;
  }
  TDIBitmap picture;
  picture.Allocate(static_cast<std::int32_t>(w), -static_cast<std::int32_t>(h), 32);
  for (std::uint32_t y = 0; y < h; ++y) {
    const std::uint8_t* s = base + pixelsAt + static_cast<std::size_t>(y) * bitmap.stride;
    std::uint8_t* d = picture.Scanline(static_cast<std::int32_t>(y));
    for (std::uint32_t x = 0; x < w; ++x, s += 4, d += 4) {
      const unsigned a = s[channel[3]];
      // The compositor hands the pointer with its colours already multiplied by alpha.
      d[0] = Unpremultiply(s[channel[0]], a);
      d[1] = Unpremultiply(s[channel[1]], a);
      d[2] = Unpremultiply(s[channel[2]], a);
      d[3] = static_cast<std::uint8_t>(a);
    }
  }
  info.Picture = std::move(picture);
  info.Showing = true;
  return true;
}

}  // namespace

void CopyAsBgrx(const std::uint8_t* pixels, std::size_t stride, TPixelOrder order,
                std::int32_t width, std::int32_t height, const TDamage& damage, std::uint8_t* out,
                std::size_t outStride) {
  if (damage.All) {
    CopyRect(pixels, stride, order, {0, 0, width, height}, out, outStride);
    return;
  }
  for (const TScreenRect& d : damage.Rects) {
    const TScreenRect r = ClipRect(d, width, height);
    if (r.Width() > 0) CopyRect(pixels, stride, order, r, out, outStride);
  }
}

bool ReadCursorMeta(const void* meta, std::size_t size, TCursorInfo& info) {
  if (meta == nullptr || size < sizeof(spa_meta_cursor)) return false;
  const auto* base = static_cast<const std::uint8_t*>(meta);
  spa_meta_cursor cursor;
  std::memcpy(&cursor, base, sizeof cursor);
  // An id of 0: the pointer is not over this stream.
  if (cursor.id == 0) {
    info.Showing = false;
    return true;
  }
  TCursorInfo next = info;
  if (cursor.bitmap_offset != 0 && !ReadCursorBitmap(base, size, cursor.bitmap_offset, next)) {
    return false;
  }
  next.X = cursor.position.x;
  next.Y = cursor.position.y;
  next.HotX = cursor.hotspot.x;
  next.HotY = cursor.hotspot.y;
  if (cursor.bitmap_offset != 0 || !next.Picture.Bits.empty()) {
    next.Showing = !next.Picture.Bits.empty();
  }
  info = std::move(next);
  return true;
}

bool CropFrame(const TDIBitmap& full, const TDamage& fullDamage, const TScreenRect& rect,
               TDIBitmap& frame, TDamage& damage) {
  damage.Clear();
  const TScreenRect r = ClipRect(rect, full.Width, full.Rows());
  if (r.Width() <= 0) return false;
  const bool kept = PrepareFrame(frame, r.Width(), r.Height());
  const std::size_t left = 4 * static_cast<std::size_t>(r.Left);
  auto copy = [&](const TScreenRect& part) {  // part in frame's pixels
    for (std::int32_t y = part.Top; y < part.Bottom; ++y) {
      std::memcpy(frame.Scanline(y) + 4 * static_cast<std::size_t>(part.Left),
                  full.Scanline(y + r.Top) + left + 4 * static_cast<std::size_t>(part.Left),
                  4 * static_cast<std::size_t>(part.Width()));
    }
  };
  if (!kept || fullDamage.All) {
    copy({0, 0, r.Width(), r.Height()});
    damage.SetAll();
    return true;
  }
  for (const TScreenRect& d : fullDamage.Rects) {
    const TScreenRect moved{d.Left - r.Left, d.Top - r.Top, d.Right - r.Left, d.Bottom - r.Top};
    const TScreenRect part = ClipRect(moved, r.Width(), r.Height());
    if (part.Width() <= 0) continue;
    copy(part);
    damage.Add(part);
  }
  return true;
}

}  // namespace kestrova::platform::wayland
