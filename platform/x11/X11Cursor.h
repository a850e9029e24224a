// The pointer through XFixes: its picture (ARGB, so themed cursors keep their soft edges), its
// hot spot and where it is. The recorder draws it into the grab.
//
// The picture is fetched only when the server says the shown cursor changed (XFixes cursor
// events, on a connection of the cursor's own so that no other reader takes them); in between
// only the position is asked for, one small reply instead of the whole picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/Platform.h"
#include "platform/x11/X11Display.h"

namespace kestrova::platform::x11 {

struct TX11CursorStats {
  std::uint64_t Queries = 0;          // GetCursor calls answered
  std::uint64_t PicturesFetched = 0;  // of them, those that fetched the picture
};

class TX11Cursor : public TCursorSource {
 public:
  // Throws EX11Unavailable when the display lacks XFixes 2 (cursor pictures).
  explicit TX11Cursor(TX11Display& display);
  ~TX11Cursor() override;
  // Picture: 32 bits, blue-green-red-alpha with straight (not premultiplied) alpha, top-down.
  bool GetCursor(TCursorInfo& info) override;
  // Waits until the server's word of every cursor change made before the call has come (for
  // tests, which change the cursor and ask at once; a change whose word is still on its way is
  // otherwise seen at the next call).
  void Settle();
  const TX11CursorStats& Stats() const { return FStats; }

 private:
  bool FetchPicture();
  bool FetchPosition();

  std::unique_ptr<TX11Display> FOwn;  // none: the shared connection, the picture every time
  TX11Display* FDisplay;
  int FEventBase = 0;
  bool FChanged = true;  // the shown cursor changed since the picture was fetched
  bool FHave = false;    // FLast holds a fetched picture
  unsigned long FSerial = 0;
  TCursorInfo FLast;
  TX11CursorStats FStats;
};

}  // namespace kestrova::platform::x11
