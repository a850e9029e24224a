// Top-level windows through the window manager's EWMH properties, with plain-X fallbacks for a
// display without a window manager (the window holding the focus; no frames). A handle is the
// client window's id (the application's own window, not the manager's frame around it).
#pragma once

#include <optional>
#include <vector>

#include "platform/Platform.h"
#include "platform/x11/X11Display.h"

namespace kestrova::platform::x11 {

class TX11Desktop : public TDesktop {
 public:
  explicit TX11Desktop(TX11Display& display);

  TScreenRect DesktopRect() override;
  // _NET_ACTIVE_WINDOW when a manager keeps it, else the window holding the focus: the client
  // window around it that a manager marked with WM_STATE, or without a manager its top level.
  // Never a window of this program nor one that is not on the screen: when one of ours is
  // active, the topmost other window of the manager's stacking list; 0 when there is none.
  TWindowHandle ForegroundWindow() override;
  // Shown or minimised (as on the platform the recorder was first written for, a minimised
  // window still counts as visible); false for a window withdrawn or gone.
  bool IsWindowVisible(TWindowHandle window) override;
  // WM_STATE iconic, or _NET_WM_STATE_HIDDEN.
  bool IsMinimised(TWindowHandle window) override;
  // _NET_WM_STATE maximised both ways, or full screen.
  bool IsMaximised(TWindowHandle window) override;
  // The window's rectangle on the root widened by _NET_FRAME_EXTENTS; without them, the frame
  // the window was put in, or the window with its border.
  std::optional<TScreenRect> WindowRect(TWindowHandle window) override;

 private:
  // The 32-bit items of a property (format 32), or nothing when absent or the window is gone.
  std::optional<std::vector<unsigned long>> Property(TXWindow window, const char* name);
  bool HasState(TXWindow window, const char* state);
  // Mapped, larger than a helper's 1x1, and not one of this process's own windows.
  bool Recordable(TXWindow window);
  TXWindow TopLevelOf(TXWindow window, bool preferClient);

  TX11Display& FDisplay;
};

}  // namespace kestrova::platform::x11
