// The pointer through XFixes: its picture (ARGB, so themed cursors keep their soft edges), its
// hot spot and where it is; and the blending of that picture into a 32-bit grab.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"
#include "platform/x11/X11Display.h"

namespace kestrova::platform::x11 {

class TX11Cursor : public TCursorSource {
 public:
  // Throws EX11Unavailable when the display lacks XFixes 2 (cursor pictures).
  explicit TX11Cursor(TX11Display& display);
  // Picture: 32 bits, blue-green-red-alpha with straight (not premultiplied) alpha, top-down.
  bool GetCursor(TCursorInfo& info) override;

 private:
  TX11Display& FDisplay;
};

// Blends the cursor into bgrx pixels (4 bytes each, rows of stride bytes, width x height) whose
// top-left pixel is the screen point (left, top): colour = cursor * alpha + under * (1 - alpha).
void BlendCursor(const TCursorInfo& cursor, std::uint8_t* bgrx, std::size_t stride,
                 std::int32_t width, std::int32_t height, std::int32_t left, std::int32_t top);

}  // namespace kestrova::platform::x11
