#include "recorder/FrameStage.h"

#include "platform/Palette.h"
#include "recorder/ChangeDetector.h"

namespace kestrova {

using namespace platform;

namespace {

// Each pixel of the pointer is blended by its alpha with the palette colour under it, then
// mapped back to the palette, so soft edges and shadows look as they do on the screen. Backends
// hand the picture over and never draw it themselves: a pointer drawn twice would darken its
// shadow twice.
void BlendCursor(const TCursorInfo& cursor, TDIBitmap& into, std::int32_t left, std::int32_t top) {
  const TDIBitmap& picture = cursor.Picture;
  if (picture.BitCount != 32 || picture.Empty() || into.BitCount != 8) return;
  const auto& fixed = FixedPalette();
  const std::int32_t x0 = cursor.X - left - cursor.HotX;
  const std::int32_t y0 = cursor.Y - top - cursor.HotY;
  for (std::int32_t py = 0; py < picture.Rows(); ++py) {
    const std::int32_t y = y0 + py;
    if (y < 0 || y >= into.Rows()) continue;
    const std::uint8_t* src = PictureRow(picture, py);
    std::uint8_t* dst = PictureRow(into, y);
    for (std::int32_t px = 0; px < picture.Width; ++px) {
      const std::int32_t x = x0 + px;
      const std::uint8_t* s = src + 4 * px;
      const unsigned a = s[3];
      if (a == 0 || x < 0 || x >= into.Width) continue;
      const TRGBQuad& under = dst[x] < into.Palette.size() ? into.Palette[dst[x]] : fixed[dst[x]];
      auto mix = [a](unsigned c, unsigned u) {
        return static_cast<std::uint8_t>((c * a + u * (255 - a) + 127) / 255);
      };
      dst[x] = NearestIndex(mix(s[2], under.Red), mix(s[1], under.Green), mix(s[0], under.Blue));
    }
  }
}

}  // namespace

TFrameStage::TFrameStage(TScreenGrabber& source, TCursorSource& cursor)
    : FSource(source), FCursorSource(cursor) {}

void TFrameStage::Reset() {}

bool TFrameStage::Capture(TWindowHandle window, const TScreenRect& rect, TStagedFrame& out) {
  out = TStagedFrame{};
  if (!FSource.Grab(window, rect, FPicture)) return false;
  DrawCursor(FPicture, rect.Left, rect.Top);
  out.Picture = &FPicture;
  return true;
}

void TFrameStage::DrawCursor(TDIBitmap& picture, std::int32_t left, std::int32_t top) {
  if (!FCursorSource.GetCursor(FCursor) || !FCursor.Showing) return;
  BlendCursor(FCursor, picture, left, top);
}

}  // namespace kestrova
