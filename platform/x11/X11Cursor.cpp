#include "platform/x11/X11Cursor.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <memory>

namespace kestrova::platform::x11 {

namespace {

struct TXFree {
  void operator()(void* p) const { XFree(p); }
};

std::uint8_t Unpremultiply(unsigned c, unsigned alpha) {
  if (alpha == 0) return 0;
  return static_cast<std::uint8_t>(std::min(255u, (c * 255 + alpha / 2) / alpha));
}

}  // namespace

TX11Cursor::TX11Cursor(TX11Display& display) : FDisplay(display) {
  int event = 0, error = 0, major = 0, minor = 0;
  if (!XFixesQueryExtension(FDisplay.Get(), &event, &error) ||
      !XFixesQueryVersion(FDisplay.Get(), &major, &minor) || major < 2) {
    throw EX11Unavailable("the X display lacks the XFixes extension (version 2) for the cursor");
  }
}

bool TX11Cursor::GetCursor(TCursorInfo& info) {
  std::unique_ptr<XFixesCursorImage, TXFree> image(XFixesGetCursorImage(FDisplay.Get()));
  if (!image) return false;
  info.X = image->x;
  info.Y = image->y;
  info.HotX = image->xhot;
  info.HotY = image->yhot;
  // A hidden pointer is an empty or fully clear picture, which draws nothing either way.
  info.Showing = image->width > 0 && image->height > 0;
  if (!info.Showing) return true;
  const std::int32_t w = image->width, h = image->height;
  if (info.Picture.Width != w || info.Picture.Height != -h || info.Picture.BitCount != 32) {
    info.Picture.Allocate(w, -h, 32);
  }
  // XFixes hands each pixel as a premultiplied ARGB value in an unsigned long.
  const unsigned long* src = image->pixels;
  for (std::int32_t y = 0; y < h; ++y) {
    std::uint8_t* row = info.Picture.Scanline(y);
    for (std::int32_t x = 0; x < w; ++x, ++src, row += 4) {
      const unsigned v = static_cast<unsigned>(*src & 0xFFFFFFFFu);
      const unsigned a = v >> 24;
      row[0] = Unpremultiply(v & 0xFF, a);
      row[1] = Unpremultiply((v >> 8) & 0xFF, a);
      row[2] = Unpremultiply((v >> 16) & 0xFF, a);
      row[3] = static_cast<std::uint8_t>(a);
    }
  }
  return true;
}

}  // namespace kestrova::platform::x11
