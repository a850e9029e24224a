// One connection to an X display, shared by the grabber, the window queries, the cursor and the
// hot key. Xlib's default error handler ends the process; a recorder must survive a window
// vanishing between two requests, so errors are caught here and reported to the caller instead.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

typedef struct _XDisplay Display;

namespace kestrova::platform::x11 {

using TXWindow = unsigned long;  // an X resource id (Window, Atom) as Xlib passes it

// The display cannot be opened; what() is one line saying why.
struct EX11Unavailable : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class TX11Display {
 public:
  // name: a display name, or nullptr for $DISPLAY. Throws EX11Unavailable.
  explicit TX11Display(const char* name = nullptr);
  ~TX11Display();
  TX11Display(const TX11Display&) = delete;
  TX11Display& operator=(const TX11Display&) = delete;

  Display* Get() const { return FDisplay; }
  TXWindow Root() const { return FRoot; }
  int Screen() const { return FScreen; }
  int Width() const;
  int Height() const;
  int ConnectionFd() const;
  // The display's name as the connection was made (":0", "host:1.0").
  std::string Name() const;
  TXWindow Atom(const char* name);

  // Runs the requests in body and waits for the server's answer to them. Returns the X error
  // code of the first request that failed (BadWindow, BadAccess...), or 0.
  int Trap(const std::function<void()>& body);

 private:
  Display* FDisplay = nullptr;
  TXWindow FRoot = 0;
  int FScreen = 0;
};

// Empty when a display can be opened here, else one line saying why not (for the backend list).
// The connection opened to find out stays open for the backend to adopt: an X server with no
// other client (Xvfb in a CI job, a kiosk) resets when its last client leaves, and a second
// connection opened while it resets is refused.
std::string WhyNoDisplay();

// The connection WhyNoDisplay opened to $DISPLAY, handed over once (the caller then owns it);
// else a new one to name (nullptr for $DISPLAY). Throws EX11Unavailable.
std::unique_ptr<TX11Display> AdoptOrOpenDisplay(const char* name);

}  // namespace kestrova::platform::x11
