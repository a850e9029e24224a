#include "XClient.h"

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>

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
