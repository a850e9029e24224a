// A test client of the X server: windows painted with known pictures, properties as a window
// manager would set them, a cursor of known shape, keys pressed through XTest.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kestrova::testing {

// 0xRRGGBB for a pixel of the screen.
using TColourAt = std::function<std::uint32_t(int x, int y)>;

class TXClient {
 public:
  explicit TXClient(const std::string& display);
  ~TXClient();
  TXClient(const TXClient&) = delete;
  TXClient& operator=(const TXClient&) = delete;

  bool Open() const { return D != nullptr; }
  Window Root() const { return DefaultRootWindow(D); }
  // A mapped top-level window at (x, y) of w x h (no border) showing the picture (window pixels).
  Window MakeWindow(int x, int y, int w, int h, const TColourAt& picture);
  // A mapped top-level window of one colour, its background, so the server repaints it on every
  // exposure (a window manager's frame and placement expose it at will). Returns once it is on
  // the screen (0 when it never got there).
  Window MakeSolidWindow(int x, int y, int w, int h, std::uint32_t rgb);
  // Waits up to ms for the window to be viewable (a manager maps it in its own time).
  bool WaitViewable(Window window, int ms = 5000);
  // The window's centre in root coordinates.
  std::pair<int, int> Centre(Window window);
  // Button 1 pressed and released at (x, y) of the root, through XTest.
  void Click(int x, int y);
  // The root's _NET_ACTIVE_WINDOW (0 when unset).
  Window ActiveWindow();
  void Paint(Window window, int x, int y, int w, int h, const TColourAt& picture);
  void Fill(Window window, int x, int y, int w, int h, std::uint32_t rgb);
  void SetCardinals(Window window, const char* property, const std::vector<long>& values,
                    const char* type = "CARDINAL");
  void SetAtoms(Window window, const char* property, const std::vector<const char*>& atoms);
  // Presses and releases the keys, the first held while the rest are pressed.
  void PressKeys(const std::vector<const char*>& keySymNames);
  void Sync() { XSync(D, False); }

  Display* D = nullptr;
};

}  // namespace kestrova::testing
