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

bool HasXFixes2(Display* d, int& eventBase) {
  int error = 0, major = 0, minor = 0;
  return XFixesQueryExtension(d, &eventBase, &error) && XFixesQueryVersion(d, &major, &minor) &&
         major >= 2;
}

}  // namespace

TX11Cursor::TX11Cursor(TX11Display& display) : FDisplay(&display) {
  int eventBase = 0;
  if (!HasXFixes2(display.Get(), eventBase)) {
    throw EX11Unavailable("the X display lacks the XFixes extension (version 2) for the cursor");
  }
  try {
    FOwn = std::make_unique<TX11Display>(display.Name().c_str());
  } catch (const EX11Unavailable&) {
    return;  // the picture is fetched every time on the shared connection
  }
  if (!HasXFixes2(FOwn->Get(), FEventBase)) {
    FOwn.reset();
    return;
  }
  FDisplay = FOwn.get();
  XFixesSelectCursorInput(FOwn->Get(), FOwn->Root(), XFixesDisplayCursorNotifyMask);
  XFlush(FOwn->Get());
}

TX11Cursor::~TX11Cursor() = default;

void TX11Cursor::Settle() {
  XSync(FDisplay->Get(), False);
}

bool TX11Cursor::GetCursor(TCursorInfo& info) {
  if (FOwn) {
    XEvent event;
    while (XCheckTypedEvent(FOwn->Get(), FEventBase + XFixesCursorNotify, &event)) {
      FChanged = true;
    }
  }
  const bool got = !FOwn || FChanged || !FHave ? FetchPicture() : FetchPosition();
  if (!got) return false;
  ++FStats.Queries;
  // The picture's buffer is reused when the size is the same: no allocation while it stays.
  info.Showing = FLast.Showing;
  info.X = FLast.X;
  info.Y = FLast.Y;
  info.HotX = FLast.HotX;
  info.HotY = FLast.HotY;
  if (FLast.Showing) info.Picture = FLast.Picture;
  return true;
}

bool TX11Cursor::FetchPosition() {
  Window root = 0, child = 0;
  int x = 0, y = 0, winX = 0, winY = 0;
  unsigned int mask = 0;
  // False when the pointer is on another screen: it is then not on this one's pictures.
  const Bool same =
      XQueryPointer(FDisplay->Get(), FDisplay->Root(), &root, &child, &x, &y, &winX, &winY, &mask);
  if (!same) return FetchPicture();
  FLast.X = x;
  FLast.Y = y;
  return true;
}

bool TX11Cursor::FetchPicture() {
  std::unique_ptr<XFixesCursorImage, TXFree> image(XFixesGetCursorImage(FDisplay->Get()));
  if (!image) return false;
  ++FStats.PicturesFetched;
  FChanged = false;
  FLast.X = image->x;
  FLast.Y = image->y;
  FLast.HotX = image->xhot;
  FLast.HotY = image->yhot;
  // A hidden pointer is an empty or fully clear picture, which draws nothing either way.
  FLast.Showing = image->width > 0 && image->height > 0;
  if (!FLast.Showing) {
    FHave = true;
    return true;
  }
  const std::int32_t w = image->width, h = image->height;
  TDIBitmap& picture = FLast.Picture;
  // The same cursor (its serial) has the same pixels: no conversion again.
  if (FHave && image->cursor_serial == FSerial && picture.Width == w && picture.Height == -h &&
      picture.BitCount == 32) {
    return true;
  }
  FSerial = image->cursor_serial;
  FHave = true;
  if (picture.Width != w || picture.Height != -h || picture.BitCount != 32) {
    picture.Allocate(w, -h, 32);
  }
  // XFixes hands each pixel as a premultiplied ARGB value in an unsigned long.
  const unsigned long* src = image->pixels;
  for (std::int32_t y = 0; y < h; ++y) {
    std::uint8_t* row = picture.Scanline(y);
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
