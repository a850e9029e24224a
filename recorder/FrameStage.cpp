#include "recorder/FrameStage.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <utility>

#include "platform/Palette.h"
#include "recorder/ChangeDetector.h"

namespace kestrova {

using namespace platform;

namespace {

std::uint8_t Blend(unsigned colour, unsigned under, unsigned alpha) {
  return static_cast<std::uint8_t>((colour * alpha + under * (255 - alpha) + 127) / 255);
}

// Blends one row of the pointer's picture (blue, green, red, alpha) into a row of 32-bit pixels
// whose column 0 is the picture's column -left: each pixel by its alpha, once, so soft edges
// and shadows look as they do on the screen.
void BlendRow(const std::uint8_t* pointer, std::int32_t pointerWidth, std::int32_t left,
              std::uint8_t* bgrx, std::int32_t width) {
  const std::int32_t from = std::max(0, -left);
  const std::int32_t to = std::min(pointerWidth, width - left);
  for (std::int32_t px = from; px < to; ++px) {
    const std::uint8_t* s = pointer + 4 * px;
    const unsigned a = s[3];
    if (a == 0) continue;
    std::uint8_t* d = bgrx + 4 * static_cast<std::size_t>(left + px);
    d[0] = Blend(s[0], d[0], a);
    d[1] = Blend(s[1], d[1], a);
    d[2] = Blend(s[2], d[2], a);
  }
}

void To15Bit(const std::uint8_t* bgrx, std::uint8_t* out, std::int32_t width) {
  for (std::int32_t x = 0; x < width; ++x, bgrx += 4, out += 2) {
    const unsigned v = (bgrx[2] >> 3u) << 10 | (bgrx[1] >> 3u) << 5 | bgrx[0] >> 3u;
    out[0] = static_cast<std::uint8_t>(v);
    out[1] = static_cast<std::uint8_t>(v >> 8);
  }
}

// The fourth byte means nothing in a source's frame; in a 32-bit picture it would be taken for
// alpha and would make equal pixels differ.
void To32Bit(const std::uint8_t* bgrx, std::uint8_t* out, std::int32_t width) {
  for (std::int32_t x = 0; x < width; ++x, bgrx += 4, out += 4) {
    out[0] = bgrx[0];
    out[1] = bgrx[1];
    out[2] = bgrx[2];
    out[3] = 0;
  }
}

// Marks the strips that rows [top, bottom) reach, clipped to the picture's rows.
void MarkRows(std::vector<std::uint8_t>& strips, std::int32_t top, std::int32_t bottom,
              std::int32_t rows) {
  top = std::max(top, 0);
  bottom = std::min(bottom, rows);
  if (top >= bottom) return;
  for (std::int32_t j = top / kStripHeight; j <= (bottom - 1) / kStripHeight; ++j) strips[j] = 1;
}

}  // namespace

std::uint16_t PictureBitCount(TColourDepth colours) {
  switch (colours) {
    case TColourDepth::Rgb15:
      return 16;
    case TColourDepth::Rgb32:
      return 32;
    case TColourDepth::Palette256:
      break;
  }
  return 8;
}

TFrameStage::TFrameStage(TCaptureSource& source, TCursorSource& cursor)
    : FSource(source), FCursorSource(cursor) {}

void TFrameStage::ForgetFrame() {
  FHaveFrame = false;
  FFrame = TDIBitmap{};
}

void TFrameStage::Reset() {
  ForgetFrame();
  FPicture = TDIBitmap{};
  FPointer = TPointer{};
}

bool TFrameStage::FrameFits(const TScreenRect& rect) const {
  const auto rows = static_cast<std::size_t>(rect.Height());
  return FFrame.BitCount == 32 && FFrame.Width == rect.Width() && FFrame.Height == -rect.Height() &&
         FFrame.BytesPerLine >= 4 * FFrame.Width &&
         FFrame.Bits.size() >= rows * static_cast<std::size_t>(FFrame.BytesPerLine);
}

TFrameStage::TPointer TFrameStage::ReadPointer(const TScreenRect& rect) {
  TPointer p;
  if (!FCursorSource.GetCursor(FCursor) || !FCursor.Showing) return p;
  if (FCursor.Picture.BitCount != 32 || FCursor.Picture.Empty()) return p;
  p.Shown = true;
  p.Left = FCursor.X - rect.Left - FCursor.HotX;
  p.Top = FCursor.Y - rect.Top - FCursor.HotY;
  p.Picture = std::move(FCursor.Picture);
  return p;
}

bool TFrameStage::Capture(TWindowHandle window, const TScreenRect& rect, TStagedFrame& out) {
  out.Picture = nullptr;
  out.Repeat = false;
  out.StripsMayDiffer.clear();
  // The source builds on the frame only for the target it last filled it from.
  if (FHaveFrame && (window != FWindow || rect != FRect)) ForgetFrame();
  bool got = false;
  try {
    got = FSource.Capture(window, rect, FFrame, FDamage);
  } catch (const std::exception&) {
    got = false;
  }
  if (!got || !FrameFits(rect)) {
    ForgetFrame();
    return false;
  }
  FHaveFrame = true;
  FWindow = window;
  FRect = rect;
  ++FSerial;

  const std::int32_t rows = rect.Height();
  const auto strips = static_cast<std::size_t>((rows + kStripHeight - 1) / kStripHeight);
  const std::uint16_t bits = PictureBitCount(FColours);
  const bool whole = FDamage.All || FPicture.Width != rect.Width() || FPicture.Height != -rows ||
                     FPicture.BitCount != bits;
  if (whole) {
    FPicture.Allocate(rect.Width(), -rows, bits);
    if (bits == 8) {
      SetFixedPalette(FPicture);
    } else {
      FPicture.Palette.clear();
    }
  }
  out.StripsMayDiffer.assign(strips, whole ? 1 : 0);
  TPointer pointer = ReadPointer(rect);
  if (!whole) {
    for (const TScreenRect& r : FDamage.Rects) MarkRows(out.StripsMayDiffer, r.Top, r.Bottom, rows);
    // Where the pointer was and where it is now: the rest of the picture cannot have moved.
    if (!(pointer == FPointer)) {
      for (const TPointer* p : {&FPointer, &pointer}) {
        if (p->Shown) MarkRows(out.StripsMayDiffer, p->Top, p->Top + p->Picture.Rows(), rows);
      }
    }
  }
  FPointer = std::move(pointer);
  bool any = false;
  for (std::size_t j = 0; j < strips; ++j) {
    if (out.StripsMayDiffer[j] == 0) continue;
    RenderStrip(static_cast<std::int32_t>(j));
    any = true;
  }
  out.Repeat = !any;
  out.Picture = &FPicture;
  out.Serial = FSerial;
  return true;
}

void TFrameStage::RenderStrip(std::int32_t strip) {
  const std::int32_t width = FFrame.Width;
  const std::int32_t top = strip * kStripHeight;
  const std::int32_t bottom = std::min(top + kStripHeight, FFrame.Rows());
  const TPointer& p = FPointer;
  for (std::int32_t y = top; y < bottom; ++y) {
    const std::uint8_t* source = FFrame.Scanline(y);
    if (p.Shown && y >= p.Top && y < p.Top + p.Picture.Rows()) {
      FRow.assign(source, source + 4 * static_cast<std::size_t>(width));
      BlendRow(PictureRow(p.Picture, y - p.Top), p.Picture.Width, p.Left, FRow.data(), width);
      source = FRow.data();
    }
    std::uint8_t* out = PictureRow(FPicture, y);
    switch (FPicture.BitCount) {
      case 8:
        MapRow(source, out, static_cast<std::size_t>(width));
        break;
      case 16:
        To15Bit(source, out, width);
        break;
      default:
        To32Bit(source, out, width);
        break;
    }
  }
}

}  // namespace kestrova
