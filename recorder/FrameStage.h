// The recorder's one picture stage, between a backend that fetches pixels and change detection:
// it takes what the capture source gives for the target, draws the pointer in, and hands change
// detection the picture with what it knows of which strips may have changed. Every backend goes
// through it, so the pointer, the palette and the comparison's shortcuts work the same on all.
#pragma once

#include <cstdint>
#include <vector>

#include "media/DIBitmap.h"
#include "platform/Platform.h"

namespace kestrova {

// The colours a recording keeps: the fixed 256-colour palette, 15-bit RGB, or every colour.
enum class TColourDepth { Palette256, Rgb15, Rgb32 };

// What the stage hands to change detection for one frame.
struct TStagedFrame {
  // The target's picture with the pointer drawn in; valid until the next Capture.
  const TDIBitmap* Picture = nullptr;
  // Nothing changed since the previous Capture of the same target (no damage, the pointer did
  // not move): the frame repeats, and nothing needs comparing.
  bool Repeat = false;
  // Per strip of kStripHeight rows, from the top: nonzero where the strip may differ from the
  // previous picture. Empty: any strip may.
  std::vector<std::uint8_t> StripsMayDiffer;
};

class TFrameStage {
 public:
  TFrameStage(platform::TScreenGrabber& source, platform::TCursorSource& cursor);

  // The next Capture starts afresh: no damage or earlier picture is trusted (a new recording, a
  // new target).
  void Reset();
  void SetColours(TColourDepth colours) { FColours = colours; }
  TColourDepth Colours() const { return FColours; }

  // Fetches what rect shows (the whole screen for window 0, else the window's own pixels) and
  // draws the pointer in. False when the source cannot be read (the window is gone); out is then
  // unspecified.
  bool Capture(platform::TWindowHandle window, const platform::TScreenRect& rect,
               TStagedFrame& out);

  // Draws the pointer as the cursor source reports it into an 8-bit picture whose top-left is
  // (left, top) on the screen: blended by its alpha, once, at its hot spot.
  void DrawCursor(TDIBitmap& picture, std::int32_t left, std::int32_t top);

 private:
  platform::TScreenGrabber& FSource;
  platform::TCursorSource& FCursorSource;
  TColourDepth FColours = TColourDepth::Palette256;
  TDIBitmap FPicture;  // reused from frame to frame
  platform::TCursorInfo FCursor;
};

}  // namespace kestrova
