#include "platform/win32/Win32Cursor.h"

#include <windows.h>

#include <vector>

#include "platform/win32/Win32Pixels.h"

namespace kestrova::platform::win32 {

namespace {

// The biggest cursor picture believed: Windows' accessibility sizes reach 256 pixels.
constexpr LONG kMaxCursorSide = 512;

// The bitmap's rows top first, bitCount bits a pixel, through GetDIBits; empty when unreadable.
std::vector<std::uint8_t> ReadBits(HBITMAP bitmap, LONG width, LONG height, WORD bitCount,
                                   std::size_t& stride) {
  stride = ((static_cast<std::size_t>(width) * bitCount + 31) / 32) * 4;
  std::vector<std::uint8_t> bits(stride * static_cast<std::size_t>(height));
  struct {
    BITMAPINFOHEADER Header;
    RGBQUAD Colours[2];
  } info{};
  info.Header.biSize = sizeof info.Header;
  info.Header.biWidth = width;
  info.Header.biHeight = -height;
  info.Header.biPlanes = 1;
  info.Header.biBitCount = bitCount;
  info.Header.biCompression = BI_RGB;
  HDC dc = GetDC(nullptr);
  const int rows = GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), bits.data(),
                             reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  if (rows != height) bits.clear();
  return bits;
}

}  // namespace

bool TWin32Cursor::GetCursor(TCursorInfo& info) {
  CURSORINFO ci{};
  ci.cbSize = sizeof ci;
  if (!GetCursorInfo(&ci)) return false;
  info.X = ci.ptScreenPos.x;
  info.Y = ci.ptScreenPos.y;
  info.Showing = (ci.flags & CURSOR_SHOWING) != 0 && ci.hCursor != nullptr;
  if (!info.Showing) return true;
  if (ci.hCursor != FLastCursor || FLastPicture.Empty()) {
    if (!ReadPicture(ci.hCursor, info)) {
      info.Showing = false;  // drawn as nothing rather than as something wrong
      return true;
    }
    FLastCursor = ci.hCursor;
    FLastHotX = info.HotX;
    FLastHotY = info.HotY;
    FLastPicture = info.Picture;
    return true;
  }
  info.HotX = FLastHotX;
  info.HotY = FLastHotY;
  if (info.Picture.Bits != FLastPicture.Bits) info.Picture = FLastPicture;
  return true;
}

bool TWin32Cursor::ReadPicture(void* cursor, TCursorInfo& info) {
  ICONINFO icon{};
  if (!GetIconInfo(static_cast<HICON>(cursor), &icon)) return false;
  // GetIconInfo hands over copies of the bitmaps, which are ours to free.
  struct TFree {
    ICONINFO& I;
    ~TFree() {
      if (I.hbmColor != nullptr) DeleteObject(I.hbmColor);
      if (I.hbmMask != nullptr) DeleteObject(I.hbmMask);
    }
  } freeIcon{icon};
  BITMAP mask{};
  if (icon.hbmMask == nullptr || GetObjectW(icon.hbmMask, sizeof mask, &mask) == 0) return false;
  const LONG width = mask.bmWidth;
  // A monochrome cursor's mask holds the AND mask above the XOR mask.
  const LONG height = icon.hbmColor != nullptr ? mask.bmHeight : mask.bmHeight / 2;
  if (width <= 0 || height <= 0 || width > kMaxCursorSide || height > kMaxCursorSide) return false;
  info.HotX = static_cast<std::int32_t>(icon.xHotspot);
  info.HotY = static_cast<std::int32_t>(icon.yHotspot);
  std::size_t maskStride = 0;
  const std::vector<std::uint8_t> maskBits =
      ReadBits(icon.hbmMask, width, icon.hbmColor != nullptr ? height : height * 2, 1, maskStride);
  if (icon.hbmColor == nullptr) {
    if (maskBits.empty()) return false;
    MonochromeCursorPicture(maskBits.data(), maskStride, width, height, info.Picture);
    return true;
  }
  std::size_t colourStride = 0;
  const std::vector<std::uint8_t> colour = ReadBits(icon.hbmColor, width, height, 32, colourStride);
  if (colour.empty()) return false;
  ColourCursorPicture(colour.data(), maskBits.empty() ? nullptr : maskBits.data(), maskStride,
                      width, height, info.Picture);
  return true;
}

}  // namespace kestrova::platform::win32
