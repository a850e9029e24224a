// Window queries and the hot key on a private Xvfb display, with the test client playing the
// window manager's part where a property is needed.
#include <X11/Xatom.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "XClient.h"
#include "Xvfb.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11HotKeys.h"

namespace kestrova::platform::x11 {
namespace {

using kestrova::testing::TXClient;
using kestrova::testing::TXvfb;

const auto kGrey = [](int, int) { return 0x808080u; };

TEST(X11Desktop, WithoutAWindowManagerTheFocusedWindowAndItsOwnRectangle) {
  TXvfb server;
  KESTROVA_REQUIRE_XVFB(server);
  TXClient client(server.Name());
  const Window w = client.MakeWindow(30, 40, 50, 60, kGrey);
  const Window child = XCreateSimpleWindow(client.D, w, 5, 5, 10, 10, 0, 0, 0);
  XMapWindow(client.D, child);
  XSetInputFocus(client.D, child, RevertToParent, CurrentTime);
  client.Sync();
  TX11Display display(server.Name().c_str());
  TX11Desktop desktop(display);
  EXPECT_EQ(desktop.DesktopRect(), (TScreenRect{0, 0, 320, 240}));
  EXPECT_EQ(desktop.ForegroundWindow(), w);  // the focus is in a child: its top level counts
  EXPECT_EQ(desktop.WindowRect(w), (TScreenRect{30, 40, 80, 100}));
  EXPECT_TRUE(desktop.IsWindowVisible(w));
  EXPECT_FALSE(desktop.IsMinimised(w));
  EXPECT_FALSE(desktop.IsMaximised(w));
}

TEST(X11Desktop, ManagerPropertiesGiveTheActiveWindowFrameAndState) {
  TXvfb server;
  KESTROVA_REQUIRE_XVFB(server);
  TXClient client(server.Name());
  const Window a = client.MakeWindow(30, 40, 50, 60, kGrey);
  const Window b = client.MakeWindow(100, 10, 40, 40, kGrey);
  client.SetCardinals(client.Root(), "_NET_ACTIVE_WINDOW", {static_cast<long>(b)}, "WINDOW");
  client.SetCardinals(a, "_NET_FRAME_EXTENTS", {2, 3, 20, 4});
  client.SetAtoms(b, "_NET_WM_STATE",
                  {"_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ"});
  // Minimised: unmapped, WM_STATE iconic. Withdrawn: unmapped without it.
  const Window iconic = client.MakeWindow(0, 0, 10, 10, kGrey);
  XUnmapWindow(client.D, iconic);
  client.SetCardinals(iconic, "WM_STATE", {3, 0}, "WM_STATE");
  const Window hidden = client.MakeWindow(0, 0, 10, 10, kGrey);
  client.SetAtoms(hidden, "_NET_WM_STATE", {"_NET_WM_STATE_HIDDEN"});
  const Window withdrawn = client.MakeWindow(0, 0, 10, 10, kGrey);
  XUnmapWindow(client.D, withdrawn);
  // A window in a frame the manager made, without frame extents: the frame is the rectangle.
  const Window frame = client.MakeWindow(150, 100, 70, 90, kGrey);
  const Window framed = client.MakeWindow(0, 0, 60, 70, kGrey);
  XReparentWindow(client.D, framed, frame, 5, 15);
  client.Sync();

  TX11Display display(server.Name().c_str());
  TX11Desktop desktop(display);
  EXPECT_EQ(desktop.ForegroundWindow(), b);
  // A manager without _NET_ACTIVE_WINDOW: the focus inside a framed client gives the client.
  client.SetCardinals(framed, "WM_STATE", {1, 0}, "WM_STATE");
  XDeleteProperty(client.D, client.Root(), XInternAtom(client.D, "_NET_ACTIVE_WINDOW", False));
  const Window inner = XCreateSimpleWindow(client.D, framed, 1, 1, 5, 5, 0, 0, 0);
  XMapWindow(client.D, inner);
  client.Sync();
  XSetInputFocus(client.D, inner, RevertToParent, CurrentTime);
  client.Sync();
  EXPECT_EQ(desktop.ForegroundWindow(), framed);
  EXPECT_EQ(desktop.WindowRect(a), (TScreenRect{28, 20, 83, 104}));
  EXPECT_EQ(desktop.WindowRect(framed), (TScreenRect{150, 100, 220, 190}));
  EXPECT_TRUE(desktop.IsMaximised(b));
  EXPECT_FALSE(desktop.IsMaximised(a));
  for (Window m : {iconic, hidden}) {
    EXPECT_TRUE(desktop.IsMinimised(m));
    EXPECT_TRUE(desktop.IsWindowVisible(m));  // minimised windows still count as shown
  }
  EXPECT_FALSE(desktop.IsMinimised(withdrawn));
  EXPECT_FALSE(desktop.IsWindowVisible(withdrawn));

  XDestroyWindow(client.D, a);
  client.Sync();
  EXPECT_FALSE(desktop.WindowRect(a));
  EXPECT_FALSE(desktop.IsWindowVisible(a));
  EXPECT_FALSE(desktop.IsMinimised(a));
  EXPECT_FALSE(desktop.IsWindowVisible(0));
}

std::vector<std::uint16_t> WaitForPresses(TX11HotKeys& keys) {
  for (int i = 0; i < 200; ++i) {
    auto pressed = keys.TakePressed();
    if (!pressed.empty()) return pressed;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return {};
}

TEST(X11HotKeys, CtrlAltSArrivesAlsoWithCapsLockAndNumLockOn) {
  TXvfb server;
  KESTROVA_REQUIRE_XVFB(server);
  TXClient client(server.Name());
  TX11Display display(server.Name().c_str());
  TX11HotKeys keys(display);
  const std::uint16_t id = keys.AddAtom("Hotkey1");
  EXPECT_EQ(id, 0xC000);
  EXPECT_EQ(keys.AddAtom("Hotkey1"), id);
  ASSERT_TRUE(keys.Register(id, kModControl | kModAlt, kVirtualKeyS));

  client.PressKeys({"Control_L", "Alt_L", "s"});
  EXPECT_EQ(WaitForPresses(keys), std::vector<std::uint16_t>{id});
  client.PressKeys({"Control_L", "s"});  // not the combination
  client.PressKeys({"Caps_Lock"});
  client.PressKeys({"Num_Lock"});
  client.PressKeys({"Control_L", "Alt_L", "s"});
  EXPECT_EQ(WaitForPresses(keys), std::vector<std::uint16_t>{id});

  keys.Unregister(id);
  client.PressKeys({"Control_L", "Alt_L", "s"});
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(keys.TakePressed().empty());
}

TEST(X11HotKeys, AKeyAnotherClientHoldsIsRefusedAndLeavesNothingGrabbed) {
  TXvfb server;
  KESTROVA_REQUIRE_XVFB(server);
  TXClient other(server.Name());
  const KeyCode s = XKeysymToKeycode(other.D, XStringToKeysym("s"));
  XGrabKey(other.D, s, ControlMask | Mod1Mask | LockMask, other.Root(), False, GrabModeAsync,
           GrabModeAsync);
  other.Sync();
  TX11Display display(server.Name().c_str());
  TX11HotKeys keys(display);
  const std::uint16_t id = keys.AddAtom("Hotkey1");
  EXPECT_FALSE(keys.Register(id, kModControl | kModAlt, kVirtualKeyS));
  // Had the variant without locks stayed grabbed, another client could not take it now.
  TX11Display third(server.Name().c_str());
  EXPECT_EQ(third.Trap([&] {
    XGrabKey(third.Get(), s, ControlMask | Mod1Mask, third.Root(), False, GrabModeAsync,
             GrabModeAsync);
  }),
            0);
  third.Trap([&] { XUngrabKey(third.Get(), s, ControlMask | Mod1Mask, third.Root()); });
  XUngrabKey(other.D, s, ControlMask | Mod1Mask | LockMask, other.Root());
  other.Sync();
  EXPECT_TRUE(keys.Register(id, kModControl | kModAlt, kVirtualKeyS));
}

}  // namespace
}  // namespace kestrova::platform::x11
