// The mouse pointer of the Windows desktop: where it is (GetCursorInfo), its picture and hot spot
// (GetIconInfo: a colour bitmap with or without alpha, or the AND and XOR masks of a monochrome
// cursor), read again only when the system hands out another cursor.
#pragma once

#include "platform/Platform.h"

namespace kestrova::platform::win32 {

class TWin32Cursor : public TCursorSource {
 public:
  bool GetCursor(TCursorInfo& info) override;

 private:
  // Reads the picture of cursor into info; false when its bitmaps cannot be read.
  bool ReadPicture(void* cursor, TCursorInfo& info);

  void* FLastCursor = nullptr;  // the HCURSOR whose picture info holds
  std::int32_t FLastHotX = 0, FLastHotY = 0;
  TDIBitmap FLastPicture;
};

}  // namespace kestrova::platform::win32
