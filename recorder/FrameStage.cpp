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

// Blends one row of the pointer's picture (blue, green, red, alpha) into columns [from, to) of a
// row of 32-bit pixels, held from column from on; the picture's column 0 is the row's column
// left. Each pixel by its alpha, once, so soft edges and shadows look as they do on the screen.
void BlendRow(const std::uint8_t* pointer, std::int32_t pointerWidth, std::int32_t left,
              std::uint8_t* bgrx, std::int32_t from, std::int32_t to) {
  const std::int32_t first = std::max(from - left, 0);
  const std::int32_t end = std::min(pointerWidth, to - left);
  for (std::int32_t px = first; px < end; ++px) {
    const std::uint8_t* s = pointer + 4 * px;
    const unsigned a = s[3];
    if (a == 0) continue;
    std::uint8_t* d = bgrx + 4 * static_cast<std::size_t>(left + px - from);
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

// Widens the spans of the strips that r reaches by r's columns, clipped to the picture.
void MarkRect(std::vector<TStripSpan>& spans, TScreenRect r, std::int32_t width,
              std::int32_t rows) {
  r = {std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, width), std::min(r.Bottom, rows)};
  if (r.Left >= r.Right || r.Top >= r.Bottom) return;
  for (std::int32_t j = r.Top / kStripHeight; j <= (r.Bottom - 1) / kStripHeight; ++j) {
    TStripSpan& s = spans[static_cast<std::size_t>(j)];
    if (s.Left >= s.Right) {
      s = {r.Left, r.Right};
    } else {
      s = {std::min(s.Left, r.Left), std::max(s.Right, r.Right)};
    }
  }
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

bool TFrameStage::ReadPointer(const TScreenRect& rect, TPointerPlace& before) {
  const bool shown = FCursorSource.GetCursor(FCursor) && FCursor.Showing &&
                     FCursor.Picture.BitCount == 32 && !FCursor.Picture.Empty();
  const std::int32_t left = FCursor.X - rect.Left - FCursor.HotX;
  const std::int32_t top = FCursor.Y - rect.Top - FCursor.HotY;
  TPointer& p = FPointer;
  if (shown == p.Shown &&
      (!shown ||
       (left == p.Left && top == p.Top && FCursor.Picture.Width == p.Picture.Width &&
        FCursor.Picture.Height == p.Picture.Height && FCursor.Picture.Bits == p.Picture.Bits))) {
    return false;  // as drawn before: nothing to copy, nothing to mark
  }
  before.Shown = p.Shown;
  before.Left = p.Left;
  before.Top = p.Top;
  before.Width = p.Picture.Width;
  before.Rows = p.Picture.Rows();
  p.Shown = shown;
  p.Left = shown ? left : 0;
  p.Top = shown ? top : 0;
  // A source may refill its own picture in place next time; the copy reuses the buffer.
  if (shown) p.Picture = FCursor.Picture;
  return true;
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
  // Per strip, the columns that may differ: outside the damage and the pointer's old and new
  // places the frame and the pointer are as they were, and so is the picture.
  FSpans.assign(strips, whole ? TStripSpan{0, rect.Width()} : TStripSpan{});
  TPointerPlace before;
  const bool pointerChanged = ReadPointer(rect, before);
  if (!whole) {
    for (const TScreenRect& r : FDamage.Rects) MarkRect(FSpans, r, rect.Width(), rows);
    if (pointerChanged) {
      if (before.Shown) {
        MarkRect(FSpans,
                 {before.Left, before.Top, before.Left + before.Width, before.Top + before.Rows},
                 rect.Width(), rows);
      }
      const TPointer& p = FPointer;
      if (p.Shown) {
        MarkRect(FSpans, {p.Left, p.Top, p.Left + p.Picture.Width, p.Top + p.Picture.Rows()},
                 rect.Width(), rows);
      }
    }
  }
  out.StripsMayDiffer.assign(strips, 0);
  bool any = false;
  for (std::size_t j = 0; j < strips; ++j) {
    if (FSpans[j].Left >= FSpans[j].Right) continue;
    RenderStrip(static_cast<std::int32_t>(j), FSpans[j]);
    out.StripsMayDiffer[j] = 1;
    any = true;
  }
  out.Repeat = !any;
  out.Picture = &FPicture;
  out.Serial = FSerial;
  return true;
}

void TFrameStage::RenderStrip(std::int32_t strip, TStripSpan span) {
  const std::int32_t top = strip * kStripHeight;
  const std::int32_t bottom = std::min(top + kStripHeight, FFrame.Rows());
  const std::int32_t count = span.Right - span.Left;
  const TPointer& p = FPointer;
  const bool pointerHere = p.Shown && p.Left < span.Right && p.Left + p.Picture.Width > span.Left;
  for (std::int32_t y = top; y < bottom; ++y) {
    const std::uint8_t* source = FFrame.Scanline(y) + 4 * static_cast<std::size_t>(span.Left);
    if (pointerHere && y >= p.Top && y < p.Top + p.Picture.Rows()) {
      FRow.assign(source, source + 4 * static_cast<std::size_t>(count));
      BlendRow(PictureRow(p.Picture, y - p.Top), p.Picture.Width, p.Left, FRow.data(), span.Left,
               span.Right);
      source = FRow.data();
    }
    std::uint8_t* row = PictureRow(FPicture, y);
    switch (FPicture.BitCount) {
      case 8:
        MapRow(source, row + span.Left, static_cast<std::size_t>(count));
        break;
      case 16:
        To15Bit(source, row + 2 * static_cast<std::size_t>(span.Left), count);
        break;
      default:
        To32Bit(source, row + 4 * static_cast<std::size_t>(span.Left), count);
        break;
    }
  }
}

}  // namespace kestrova
