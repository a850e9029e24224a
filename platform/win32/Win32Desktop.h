// Top-level windows, the virtual screen and the tick counter of the Windows desktop.
#pragma once

#include "platform/Platform.h"

namespace kestrova::platform::win32 {

class TWin32Desktop : public TDesktop {
 public:
  // The virtual screen: every monitor, in the coordinates windows are placed in.
  TScreenRect DesktopRect() override;
  TWindowHandle ForegroundWindow() override;
  bool IsWindowVisible(TWindowHandle window) override;
  bool IsMinimised(TWindowHandle window) override;
  bool IsMaximised(TWindowHandle window) override;
  std::optional<TScreenRect> WindowRect(TWindowHandle window) override;
};

// GetTickCount, which wraps at 2^32 like the recorder's ticks, and Sleep.
class TWin32Clock : public TClock {
 public:
  std::uint32_t TickCount() override;
  void Sleep(std::uint32_t ms) override;
};

// Grabs in real pixels on a scaled desktop: per-monitor awareness where the system has it
// (Windows 10 1703 and later), system awareness before that. Returns what was set, for the log.
const char* MakeDpiAware();

}  // namespace kestrova::platform::win32
