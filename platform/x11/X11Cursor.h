// The pointer through XFixes: its picture (ARGB, so themed cursors keep their soft edges), its
// hot spot and where it is. The recorder draws it into the grab.
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

}  // namespace kestrova::platform::x11
