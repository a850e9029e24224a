#include "platform/x11/X11Display.h"

#include <X11/Xlib.h>

#include <cstdlib>

namespace kestrova::platform::x11 {

namespace {

// Errors of every connection land here; Trap reads and clears the one of its display. Requests
// outside a trap that fail (a window gone during a query) are forgotten like a failed call.
Display* gErrorDisplay = nullptr;
int gErrorCode = 0;

int OnXError(Display* display, XErrorEvent* event) {
  if (gErrorCode == 0 || gErrorDisplay != display) {
    gErrorDisplay = display;
    gErrorCode = event->error_code;
  }
  return 0;
}

std::string DisplayName(const char* name) {
  if (name != nullptr) return name;
  const char* env = std::getenv("DISPLAY");
  return env == nullptr ? "" : env;
}

}  // namespace

TX11Display::TX11Display(const char* name) {
  const std::string shown = DisplayName(name);
  if (shown.empty()) {
    throw EX11Unavailable(
        "no X display: DISPLAY is not set (a Wayland session needs XWayland; --platform sim "
        "records the simulated desktop)");
  }
  XSetErrorHandler(OnXError);
  FDisplay = XOpenDisplay(name);
  if (FDisplay == nullptr) {
    throw EX11Unavailable("cannot open the X display \"" + shown + "\"");
  }
  FScreen = DefaultScreen(FDisplay);
  FRoot = RootWindow(FDisplay, FScreen);
}

TX11Display::~TX11Display() {
  if (gErrorDisplay == FDisplay) {
    gErrorDisplay = nullptr;
    gErrorCode = 0;
  }
  XCloseDisplay(FDisplay);
}

int TX11Display::Width() const {
  return DisplayWidth(FDisplay, FScreen);
}

int TX11Display::Height() const {
  return DisplayHeight(FDisplay, FScreen);
}

int TX11Display::ConnectionFd() const {
  return ConnectionNumber(FDisplay);
}

std::string TX11Display::Name() const {
  const char* name = DisplayString(FDisplay);
  return name == nullptr ? std::string() : std::string(name);
}

TXWindow TX11Display::Atom(const char* name) {
  return XInternAtom(FDisplay, name, False);
}

int TX11Display::Trap(const std::function<void()>& body) {
  XSync(FDisplay, False);
  if (gErrorDisplay == FDisplay) gErrorCode = 0;
  body();
  XSync(FDisplay, False);
  const int code = gErrorDisplay == FDisplay ? gErrorCode : 0;
  if (gErrorDisplay == FDisplay) gErrorCode = 0;
  return code;
}

namespace {

// Kept from the probe until the backend adopts it; closed at exit when nothing does.
std::unique_ptr<TX11Display>& ProbedDisplay() {
  static std::unique_ptr<TX11Display> kept;
  return kept;
}

}  // namespace

std::string WhyNoDisplay() {
  if (ProbedDisplay()) return {};
  try {
    ProbedDisplay() = std::make_unique<TX11Display>();
  } catch (const EX11Unavailable& e) {
    return e.what();
  }
  return {};
}

std::unique_ptr<TX11Display> AdoptOrOpenDisplay(const char* name) {
  if (name == nullptr && ProbedDisplay()) return std::move(ProbedDisplay());
  return std::make_unique<TX11Display>(name);
}

}  // namespace kestrova::platform::x11
