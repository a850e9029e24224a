#include "platform/x11/X11Desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <algorithm>

namespace kestrova::platform::x11 {

TX11Desktop::TX11Desktop(TX11Display& display) : FDisplay(display) {}

std::optional<std::vector<unsigned long>> TX11Desktop::Property(TXWindow window, const char* name) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  int status = BadImplementation;
  const int error = FDisplay.Trap([&] {
    status = XGetWindowProperty(FDisplay.Get(), window, FDisplay.Atom(name), 0, 1024, False,
                                AnyPropertyType, &type, &format, &count, &after, &data);
  });
  if (error != 0 || status != Success || data == nullptr || type == None) {
    if (data != nullptr) XFree(data);
    return std::nullopt;
  }
  std::vector<unsigned long> items;
  // Xlib hands format-32 items as longs, whatever the width of long.
  if (format == 32) {
    const unsigned long* p = reinterpret_cast<const unsigned long*>(data);
    items.assign(p, p + count);
  }
  XFree(data);
  return items;
}

bool TX11Desktop::HasState(TXWindow window, const char* state) {
  const auto states = Property(window, "_NET_WM_STATE");
  if (!states) return false;
  const unsigned long wanted = FDisplay.Atom(state);
  return std::find(states->begin(), states->end(), wanted) != states->end();
}

TXWindow TX11Desktop::TopLevelOf(TXWindow window, bool preferClient) {
  // Climb to the child of the root: the window itself without a manager, its frame with one.
  // preferClient: stop at the first window the manager marked with WM_STATE (the client inside
  // the frame), as the focus may be held by a window inside the client.
  Display* d = FDisplay.Get();
  for (int depth = 0; depth < 64 && window != 0; ++depth) {
    if (preferClient && Property(window, "WM_STATE")) return window;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Status ok = 0;
    if (FDisplay.Trap([&] { ok = XQueryTree(d, window, &root, &parent, &children, &count); }) !=
            0 ||
        ok == 0) {
      return 0;
    }
    if (children != nullptr) XFree(children);
    if (parent == root) return window;
    window = parent;
  }
  return 0;
}

TScreenRect TX11Desktop::DesktopRect() {
  return {0, 0, FDisplay.Width(), FDisplay.Height()};
}

bool TX11Desktop::Recordable(TXWindow window) {
  if (window == 0) return false;
  // The toolkit marks every window of this process (the tool window, its message boxes and
  // dialogs, the helper windows) with our pid.
  if (const auto pid = Property(window, "_NET_WM_PID");
      pid && !pid->empty() && (*pid)[0] == static_cast<unsigned long>(getpid())) {
    return false;
  }
  XWindowAttributes a;
  Status ok = 0;
  if (FDisplay.Trap([&] { ok = XGetWindowAttributes(FDisplay.Get(), window, &a); }) != 0 ||
      ok == 0) {
    return false;
  }
  return a.map_state == IsViewable && a.width > 1 && a.height > 1;
}

TWindowHandle TX11Desktop::ForegroundWindow() {
  if (const auto active = Property(FDisplay.Root(), "_NET_ACTIVE_WINDOW")) {
    const TXWindow window = active->empty() ? 0 : (*active)[0];
    if (Recordable(window)) return window;
    // Our own window, or none, holds the activation (the tool window was clicked last, or has
    // just been hidden): the window the user works in is the topmost of the others.
    if (const auto stacking = Property(FDisplay.Root(), "_NET_CLIENT_LIST_STACKING")) {
      for (auto w = stacking->rbegin(); w != stacking->rend(); ++w) {
        if (Recordable(*w) && !IsMinimised(*w)) return *w;
      }
    }
    return 0;
  }
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(FDisplay.Get(), &focus, &revert);
  if (focus == None || focus == PointerRoot || focus == FDisplay.Root()) return 0;
  const TXWindow top = TopLevelOf(focus, true);
  return Recordable(top) ? top : 0;
}

bool TX11Desktop::IsWindowVisible(TWindowHandle window) {
  XWindowAttributes a;
  Status ok = 0;
  if (window == 0 ||
      FDisplay.Trap([&] { ok = XGetWindowAttributes(FDisplay.Get(), window, &a); }) != 0 ||
      ok == 0) {
    return false;
  }
  return a.map_state == IsViewable || IsMinimised(window);
}

bool TX11Desktop::IsMinimised(TWindowHandle window) {
  if (window == 0) return false;
  if (const auto state = Property(window, "WM_STATE")) {
    if (!state->empty() && (*state)[0] == IconicState) return true;
  }
  return HasState(window, "_NET_WM_STATE_HIDDEN");
}

bool TX11Desktop::IsMaximised(TWindowHandle window) {
  if (window == 0) return false;
  return (HasState(window, "_NET_WM_STATE_MAXIMIZED_VERT") &&
          HasState(window, "_NET_WM_STATE_MAXIMIZED_HORZ")) ||
         HasState(window, "_NET_WM_STATE_FULLSCREEN");
}

std::optional<TScreenRect> TX11Desktop::WindowRect(TWindowHandle window) {
  if (window == 0) return std::nullopt;
  Display* d = FDisplay.Get();
  XWindowAttributes a;
  Window child = 0;
  int x = 0, y = 0;
  Status ok = 0;
  const int error = FDisplay.Trap([&] {
    ok = XGetWindowAttributes(d, window, &a);
    if (ok != 0) XTranslateCoordinates(d, window, FDisplay.Root(), 0, 0, &x, &y, &child);
  });
  if (error != 0 || ok == 0) return std::nullopt;
  TScreenRect r{x, y, x + a.width, y + a.height};
  if (const auto extents = Property(window, "_NET_FRAME_EXTENTS");
      extents && extents->size() == 4) {
    const auto e = [&](int i) { return static_cast<std::int32_t>((*extents)[i]); };
    return TScreenRect{r.Left - e(0), r.Top - e(2), r.Right + e(1), r.Bottom + e(3)};
  }
  const TXWindow top = TopLevelOf(window, false);
  if (top != 0 && top != window) {
    XWindowAttributes f;
    if (FDisplay.Trap([&] { ok = XGetWindowAttributes(d, top, &f); }) == 0 && ok != 0) {
      return TScreenRect{f.x, f.y, f.x + f.width + 2 * f.border_width,
                         f.y + f.height + 2 * f.border_width};
    }
  }
  const int b = a.border_width;
  return TScreenRect{r.Left - b, r.Top - b, r.Right + b, r.Bottom + b};
}

}  // namespace kestrova::platform::x11
