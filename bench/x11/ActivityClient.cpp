// Scripted desktop activity for the side-by-side benchmark, drawn on an X display:
//   x11_activity DISPLAY typing|still|video
// typing: a terminal-like window where text is typed at ten characters a second, with a burst of
//         command output scrolling by every five seconds;
// still:  the same desktop and window, nothing moving;
// video:  the same desktop with a 640 x 360 area of full-motion picture at 25 frames a second.
// Runs until killed. Glyphs are drawn as bit patterns, so no server font is needed.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/Mix.h"

namespace {

constexpr int kCellW = 8, kCellH = 16;
constexpr int kTermX = 120, kTermY = 90, kCols = 140, kRows = 50;

using kestrova::platform::sim::Mix;

long NowMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

void SleepMs(long ms) {
  timespec t{ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, nullptr);
}

struct TScreen {
  Display* D;
  Window W;
  GC Gc;
  int Width, Height;

  void Fill(int x, int y, int w, int h, std::uint32_t rgb) {
    XSetForeground(D, Gc, rgb);
    XFillRectangle(D, W, Gc, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h));
  }
  // A character cell: a 6 x 10 pattern of the character's bits.
  void Glyph(int col, int row, std::uint32_t character) {
    const int x = kTermX + 4 + col * kCellW, y = kTermY + 24 + row * kCellH;
    Fill(x, y, kCellW, kCellH, 0x101010);
    if (character == ' ') return;
    std::vector<XRectangle> dots;
    const std::uint32_t bits = Mix(character * 2654435761U);
    for (int i = 0; i < 30; ++i) {
      if (bits >> i & 1) {
        dots.push_back(XRectangle{static_cast<short>(x + 1 + i % 5),
                                  static_cast<short>(y + 3 + (i / 5) * 2), 1, 2});
      }
    }
    XSetForeground(D, Gc, 0x33FF66);
    XFillRectangles(D, W, Gc, dots.data(), static_cast<int>(dots.size()));
  }
  void ScrollOneLine() {
    const int x = kTermX + 4, y = kTermY + 24;
    XCopyArea(D, W, W, Gc, x, y + kCellH, kCols * kCellW, (kRows - 1) * kCellH, x, y);
    Fill(x, y + (kRows - 1) * kCellH, kCols * kCellW, kCellH, 0x101010);
  }
};

void DrawDesktop(TScreen& s) {
  for (int y = 0; y < s.Height; y += 8) {
    s.Fill(0, y, s.Width, 8,
           static_cast<std::uint32_t>(0x20 + y * 0x40 / s.Height) << 8 | 0x3060A0);
  }
  // Window frame and caption, then the terminal's black area.
  s.Fill(kTermX, kTermY, kCols * kCellW + 8, kRows * kCellH + 28, 0xC0C0C0);
  s.Fill(kTermX + 2, kTermY + 2, kCols * kCellW + 4, 20, 0x203080);
  s.Fill(kTermX + 4, kTermY + 24, kCols * kCellW, kRows * kCellH, 0x101010);
  for (int r = 0; r < kRows / 2; ++r) {
    const int length = static_cast<int>(Mix(static_cast<std::uint32_t>(r)) % kCols);
    for (int c = 0; c < length; ++c)
      s.Glyph(c, r, Mix(static_cast<std::uint32_t>(r * 977 + c)) % 90 + 33);
  }
}

void RunTyping(TScreen& s) {
  int col = 0, row = kRows / 2;
  std::uint32_t n = 0;
  const auto newline = [&] {
    col = 0;
    if (++row == kRows) {
      s.ScrollOneLine();
      row = kRows - 1;
    }
  };
  long next = NowMs();
  for (long tick = 0;; ++tick) {
    // Every five seconds the typed command prints 30 lines, scrolling the window.
    if (tick % 50 == 49) {
      for (int line = 0; line < 30; ++line) {
        newline();
        const int length = static_cast<int>(Mix(n++) % kCols);
        for (int c = 0; c < length; ++c) s.Glyph(c, row, Mix(n * 31 + c) % 90 + 33);
      }
      newline();
    } else {
      s.Glyph(col, row, Mix(n++) % 5 == 0 ? ' ' : Mix(n) % 90 + 33);
      if (++col == kCols) newline();
    }
    XFlush(s.D);
    next += 100;
    SleepMs(std::max(0L, next - NowMs()));
  }
}

void RunVideo(TScreen& s) {
  constexpr int kW = 640, kH = 360;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kW) * kH);
  XImage* image = XCreateImage(s.D, DefaultVisual(s.D, DefaultScreen(s.D)), 24, ZPixmap, 0,
                               reinterpret_cast<char*>(pixels.data()), kW, kH, 32, kW * 4);
  long next = NowMs();
  for (std::uint32_t frame = 0;; ++frame) {
    // A moving picture with grain, as a film has: every pixel changes every frame.
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        const std::uint32_t grain =
            Mix(static_cast<std::uint32_t>(y * kW + x) ^ frame * 0x9E3779B9U) & 0x0F;
        const std::uint32_t r = (x + frame * 3) & 0xFF, g = (y + frame * 2) & 0xFF,
                            b = ((x + y) / 2 + frame) & 0xFF;
        pixels[static_cast<std::size_t>(y) * kW + x] =
            ((r ^ grain) << 16) | ((g ^ grain) << 8) | (b ^ grain);
      }
    }
    XPutImage(s.D, s.W, s.Gc, image, 0, 0, 1200, 600, kW, kH);
    XFlush(s.D);
    next += 40;
    SleepMs(std::max(0L, next - NowMs()));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: x11_activity DISPLAY typing|still|video\n");
    return 2;
  }
  const std::string mode = argv[2];
  Display* d = XOpenDisplay(argv[1]);
  if (d == nullptr) {
    std::fprintf(stderr, "x11_activity: cannot open display %s\n", argv[1]);
    return 1;
  }
  TScreen s{d, 0, nullptr, DisplayWidth(d, DefaultScreen(d)), DisplayHeight(d, DefaultScreen(d))};
  s.W = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, static_cast<unsigned>(s.Width),
                            static_cast<unsigned>(s.Height), 0, 0, 0);
  XMapWindow(d, s.W);
  XGCValues values{};
  values.graphics_exposures = False;  // nobody reads the events the scrolling would send
  s.Gc = XCreateGC(d, s.W, GCGraphicsExposures, &values);
  XSync(d, False);
  DrawDesktop(s);
  XSync(d, False);
  if (mode == "typing") RunTyping(s);
  if (mode == "video") RunVideo(s);
  for (;;) SleepMs(1000);  // still
}
