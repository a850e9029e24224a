#include "XClient.h"

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>
#include <unistd.h>

namespace kestrova::testing {

TXClient::TXClient(const std::string& display) : D(XOpenDisplay(display.c_str())) {}

TXClient::~TXClient() {
  if (D != nullptr) XCloseDisplay(D);
}

Window TXClient::MakeWindow(int x, int y, int w, int h, const TColourAt& picture) {
  XSetWindowAttributes a{};
  a.background_pixel = 0;
  a.override_redirect = False;
  const Window window =
      XCreateWindow(D, Root(), x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), 0,
                    CopyFromParent, InputOutput, CopyFromParent, CWBackPixel, &a);
  XMapWindow(D, window);
  XSync(D, False);
  Paint(window, 0, 0, w, h, picture);
  return window;
}

Window TXClient::MakeSolidWindow(int x, int y, int w, int h, std::uint32_t rgb) {
  XSetWindowAttributes a{};
  a.background_pixel = rgb;
  const Window window =
      XCreateWindow(D, Root(), x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), 0,
                    CopyFromParent, InputOutput, CopyFromParent, CWBackPixel, &a);
  // Placed where asked, as a program that remembers its place asks for.
  XSizeHints hints{};
  hints.flags = USPosition | USSize;
  hints.x = x;
  hints.y = y;
  hints.width = w;
  hints.height = h;
  XSetWMNormalHints(D, window, &hints);
  XMapWindow(D, window);
  return WaitViewable(window) ? window : 0;
}

bool TXClient::WaitViewable(Window window, int ms) {
  for (int waited = 0; waited < ms; waited += 10) {
    XWindowAttributes a;
    if (XGetWindowAttributes(D, window, &a) != 0 && a.map_state == IsViewable) return true;
    usleep(10000);
  }
  return false;
}

std::pair<int, int> TXClient::Centre(Window window) {
  XWindowAttributes a;
  Window child = 0;
  int x = 0, y = 0;
  XGetWindowAttributes(D, window, &a);
  XTranslateCoordinates(D, window, Root(), a.width / 2, a.height / 2, &x, &y, &child);
  return {x, y};
}

void TXClient::Click(int x, int y) {
  XTestFakeMotionEvent(D, DefaultScreen(D), x, y, CurrentTime);
  XTestFakeButtonEvent(D, 1, True, CurrentTime);
  XTestFakeButtonEvent(D, 1, False, CurrentTime);
  XSync(D, False);
}

Window TXClient::ActiveWindow() {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  Window active = 0;
  if (XGetWindowProperty(D, Root(), XInternAtom(D, "_NET_ACTIVE_WINDOW", False), 0, 1, False,
                         XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
      data != nullptr && count == 1 && format == 32) {
    active = *reinterpret_cast<Window*>(data);
  }
  if (data != nullptr) XFree(data);
  return active;
}

void TXClient::Paint(Window window, int x, int y, int w, int h, const TColourAt& picture) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w) * h);
  for (int py = 0; py < h; ++py) {
    for (int px = 0; px < w; ++px) pixels[static_cast<std::size_t>(py) * w + px] = picture(px, py);
  }
  XImage* image = XCreateImage(D, DefaultVisual(D, DefaultScreen(D)), 24, ZPixmap, 0,
                               reinterpret_cast<char*>(pixels.data()), static_cast<unsigned>(w),
                               static_cast<unsigned>(h), 32, w * 4);
  XPutImage(D, window, DefaultGC(D, DefaultScreen(D)), image, 0, 0, x, y, static_cast<unsigned>(w),
            static_cast<unsigned>(h));
  image->data = nullptr;
  XDestroyImage(image);
  XSync(D, False);
}

void TXClient::Fill(Window window, int x, int y, int w, int h, std::uint32_t rgb) {
  Paint(window, x, y, w, h, [rgb](int, int) { return rgb; });
}

void TXClient::SetCardinals(Window window, const char* property, const std::vector<long>& values,
                            const char* type) {
  XChangeProperty(D, window, XInternAtom(D, property, False), XInternAtom(D, type, False), 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(values.data()),
                  static_cast<int>(values.size()));
  XSync(D, False);
}

void TXClient::SetAtoms(Window window, const char* property,
                        const std::vector<const char*>& atoms) {
  std::vector<long> values;
  for (const char* a : atoms) values.push_back(static_cast<long>(XInternAtom(D, a, False)));
  SetCardinals(window, property, values, "ATOM");
}

void TXClient::PressKeys(const std::vector<const char*>& keySymNames) {
  std::vector<KeyCode> codes;
  for (const char* name : keySymNames) codes.push_back(XKeysymToKeycode(D, XStringToKeysym(name)));
  for (KeyCode c : codes) XTestFakeKeyEvent(D, c, True, CurrentTime);
  for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
    XTestFakeKeyEvent(D, *it, False, CurrentTime);
  }
  XSync(D, False);
}

}  // namespace kestrova::testing
