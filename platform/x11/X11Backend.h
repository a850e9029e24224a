// The Linux desktop as a backend: screen, windows, cursor and hot key through Xlib, the user
// interface in Qt 6, the recorder's files where a Linux desktop keeps them.
#pragma once

#include <memory>

#include "platform/PosixFiles.h"
#include "platform/Registry.h"
#include "platform/qt/QtUserInterface.h"
#include "platform/x11/X11Cursor.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11Display.h"
#include "platform/x11/X11Grabber.h"
#include "platform/x11/X11HotKeys.h"
#ifdef KESTROVA_HAVE_PULSE
#include "platform/pulse/PulseSoundSource.h"
#endif

namespace kestrova::platform::x11 {

// Milliseconds of the monotonic clock, and plain sleeping.
class TMonotonicClock : public TClock {
 public:
  std::uint32_t TickCount() override;
  void Sleep(std::uint32_t ms) override;
};

class TX11Backend : public TPlatformBackend {
 public:
  // displayName: nullptr for $DISPLAY (adopting the connection the backend list's probe opened,
  // if it did). Throws EX11Unavailable (one line) when the display
  // cannot be used, std::runtime_error when Qt cannot start.
  explicit TX11Backend(const char* displayName = nullptr);
  ~TX11Backend() override;
  const char* Name() const override { return "x11"; }
  TPlatform& Platform() override { return FPlatform; }

  TX11Display& Display() { return *FDisplay; }
  TX11Grabber& Grabber() { return FGrabber; }
  TX11HotKeys& HotKeys() { return FHotKeys; }
  qt::TQtUserInterface& UserInterface() { return *FUi; }

 private:
  // The one connection of the program's life: declared first so that it closes last.
  std::unique_ptr<TX11Display> FDisplay;
  TX11Cursor FCursor;
  TX11Grabber FGrabber;
  TX11Desktop FDesktop;
  TX11HotKeys FHotKeys;
  TMonotonicClock FClock;
  TPosixFileLocations FFiles;
  std::unique_ptr<qt::TQtUserInterface> FUi;
#ifdef KESTROVA_HAVE_PULSE
  pulse::TPulseSoundSource FSound;  // its end ticks count FClock's milliseconds
#endif
  TPlatform FPlatform;
};

}  // namespace kestrova::platform::x11
