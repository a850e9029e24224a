// The recorder's one picture stage, between a backend that fetches pixels and change detection:
// it takes what the capture source gives for the target, draws the pointer in, and hands change
// detection the picture with what it knows of which strips may have changed. Every backend goes
// through it, so the pointer, the palette and the comparison's shortcuts work the same on all.
//
// The source's 32-bit frame is kept from capture to capture and brought up to date in place;
// the pointer is never drawn into it (that would make the next capture's comparison see the
// pointer), only into the picture handed on. Only the strips that the damage or the pointer
// touched are converted again (to the palette, 15-bit or 32-bit), and in them only the columns
// touched: the rest of the picture is what it was.
#pragma once

#include <cstdint>
#include <vector>

#include "media/DIBitmap.h"
#include "platform/Platform.h"

namespace kestrova {

// The colours a recording keeps: the fixed 256-colour palette, 15-bit RGB, or every colour.
enum class TColourDepth { Palette256, Rgb15, Rgb32 };

// Bits per pixel of the pictures of a colour depth: 8, 16 (5 bits each of red, green, blue) or
// 32 (blue, green, red and a zero byte).
std::uint16_t PictureBitCount(TColourDepth colours);

// What the stage hands to change detection for one frame.
struct TStagedFrame {
  // The target's picture with the pointer drawn in, rows top first; valid until the next
  // Capture.
  const TDIBitmap* Picture = nullptr;
  // Nothing changed since the previous Capture of the same target (no damage, the pointer did
  // not move): the frame repeats, and nothing needs comparing.
  bool Repeat = false;
  // Per strip of kStripHeight rows, from the top: nonzero where the strip may differ from the
  // picture of the capture numbered Serial - 1. Empty: any strip may.
  std::vector<std::uint8_t> StripsMayDiffer;
  // Counts the stage's captures from 1; tells whoever kept the previous picture whether
  // StripsMayDiffer speaks of it.
  std::uint64_t Serial = 0;
};

// Columns [Left, Right) of a strip; empty when Left >= Right.
struct TStripSpan {
  std::int32_t Left = 0, Right = 0;
};

class TFrameStage {
 public:
  TFrameStage(platform::TCaptureSource& source, platform::TCursorSource& cursor);

  // The next Capture starts afresh: no damage or earlier picture is trusted (a new recording, a
  // new target).
  void Reset();
  // Takes effect at the next Capture, which then converts the whole picture.
  void SetColours(TColourDepth colours) { FColours = colours; }
  TColourDepth Colours() const { return FColours; }

  // Fetches what rect shows (the whole screen for window 0, else the window's own pixels) and
  // draws the pointer in. False when the source cannot be read (the window is gone); out then
  // holds no picture.
  bool Capture(platform::TWindowHandle window, const platform::TScreenRect& rect,
               TStagedFrame& out);

 private:
  // The pointer as drawn into a picture: its picture's top-left in the picture's pixels.
  struct TPointer {
    bool Shown = false;
    std::int32_t Left = 0, Top = 0;
    TDIBitmap Picture;
  };
  // Where a pointer was drawn.
  struct TPointerPlace {
    bool Shown = false;
    std::int32_t Left = 0, Top = 0, Width = 0, Rows = 0;
  };
  // Brings FPointer up to date with the cursor source; returns whether it moved or changed,
  // with before where it was drawn until now. A pointer that stays costs no copy.
  bool ReadPointer(const platform::TScreenRect& rect, TPointerPlace& before);
  bool FrameFits(const platform::TScreenRect& rect) const;
  // Converts columns [Left, Right) of a strip's rows of the frame, the pointer blended in.
  void RenderStrip(std::int32_t strip, TStripSpan span);
  void ForgetFrame();

  platform::TCaptureSource& FSource;
  platform::TCursorSource& FCursorSource;
  TColourDepth FColours = TColourDepth::Palette256;
  TDIBitmap FFrame;  // the source's pixels, without the pointer
  bool FHaveFrame = false;
  platform::TWindowHandle FWindow = 0;
  platform::TScreenRect FRect;
  platform::TDamage FDamage;
  TDIBitmap FPicture;  // what change detection gets, reused from frame to frame
  TPointer FPointer;   // as drawn into FPicture
  platform::TCursorInfo FCursor;
  std::vector<std::uint8_t> FRow;  // a row of the frame with the pointer blended in
  std::vector<TStripSpan> FSpans;  // per strip, the columns to convert
  std::uint64_t FSerial = 0;
};

}  // namespace kestrova
