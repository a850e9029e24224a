#include "platform/x11/X11Grabber.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <string>

namespace kestrova::platform::x11 {

namespace {

TScreenRect Intersect(const TScreenRect& a, const TScreenRect& b) {
  TScreenRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
                std::min(a.Bottom, b.Bottom)};
  if (r.Right <= r.Left || r.Bottom <= r.Top) return {};
  return r;
}

bool StandardMasks(const Visual* v) {
  return v->red_mask == 0xFF0000 && v->green_mask == 0xFF00 && v->blue_mask == 0xFF;
}

}  // namespace

// One 32-bit picture of the grabbed area: a shared segment (with its XImage) or plain memory.
class TX11Grabber::TBuffer {
 public:
  TBuffer(Display* display, bool shm) : FDisplay(display), FShm(shm) {}
  ~TBuffer() { Release(); }

  // Makes room for width x height; false when shared memory failed (the caller falls back).
  bool Prepare(int width, int height) {
    if (FImage != nullptr && FImage->width == width && FImage->height == height) return true;
    const std::size_t bytes = static_cast<std::size_t>(width) * height * 4;
    if (FShm) return PrepareShm(width, height, bytes);
    Release();
    FPlain.resize(bytes);
    Visual* visual = DefaultVisual(FDisplay, DefaultScreen(FDisplay));
    FImage =
        XCreateImage(FDisplay, visual, DefaultDepth(FDisplay, DefaultScreen(FDisplay)), ZPixmap, 0,
                     reinterpret_cast<char*>(FPlain.data()), width, height, 32, width * 4);
    return FImage != nullptr;
  }

  bool Fill(Window root, int x, int y) {
    if (FShm) return XShmGetImage(FDisplay, root, FImage, x, y, AllPlanes) != 0;
    return XGetSubImage(FDisplay, root, x, y, FImage->width, FImage->height, AllPlanes, ZPixmap,
                        FImage, 0, 0) != nullptr;
  }

  std::uint8_t* Row(int y) const {
    return reinterpret_cast<std::uint8_t*>(FImage->data) +
           static_cast<std::size_t>(y) * FImage->bytes_per_line;
  }
  std::size_t Stride() const { return static_cast<std::size_t>(FImage->bytes_per_line); }
  int BitsPerPixel() const { return FImage->bits_per_pixel; }

 private:
  bool PrepareShm(int width, int height, std::size_t bytes) {
    // The segment is kept as long as it is big enough: windows change size, screens do not.
    if (FImage != nullptr) {
      FImage->data = nullptr;
      XDestroyImage(FImage);
      FImage = nullptr;
    }
    if (FSegment.shmaddr == nullptr || FSegmentBytes < bytes) {
      ReleaseSegment();
      FSegment.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
      if (FSegment.shmid < 0) return false;
      void* address = shmat(FSegment.shmid, nullptr, 0);
      // Marked for removal at once: the segment goes away with the last process using it,
      // whatever way this one ends.
      shmctl(FSegment.shmid, IPC_RMID, nullptr);
      if (address == reinterpret_cast<void*>(-1)) return false;
      FSegment.shmaddr = static_cast<char*>(address);
      FSegment.readOnly = False;
      FSegmentBytes = bytes;
      FAttached = XShmAttach(FDisplay, &FSegment) != 0;
      XSync(FDisplay, False);
      if (!FAttached) return false;
    }
    Visual* visual = DefaultVisual(FDisplay, DefaultScreen(FDisplay));
    FImage = XShmCreateImage(FDisplay, visual, DefaultDepth(FDisplay, DefaultScreen(FDisplay)),
                             ZPixmap, FSegment.shmaddr, &FSegment, width, height);
    return FImage != nullptr;
  }

  void ReleaseSegment() {
    if (FSegment.shmaddr == nullptr) return;
    if (FAttached) XShmDetach(FDisplay, &FSegment);
    XSync(FDisplay, False);
    shmdt(FSegment.shmaddr);
    FSegment = {};
    FSegmentBytes = 0;
    FAttached = false;
  }

  void Release() {
    if (FImage != nullptr) {
      FImage->data = nullptr;  // the memory is the segment's or FPlain's
      XDestroyImage(FImage);
      FImage = nullptr;
    }
    ReleaseSegment();
  }

  Display* FDisplay;
  bool FShm;
  XImage* FImage = nullptr;
  XShmSegmentInfo FSegment{};
  std::size_t FSegmentBytes = 0;
  bool FAttached = false;
  std::vector<std::uint8_t> FPlain;
};

// What the server says was drawn since the last look: the damage of the root window, which
// covers every window on the screen. Only a hint to save work: a grab that cannot read it
// compares everything.
//
// The report has a connection of its own, so that its events reach it (the shared connection's
// other readers take every event they find). The server sends one event when the damage goes
// from empty to drawn on; until one comes nothing was drawn, and a quiet screen costs no
// request at all. A drawing whose event is still on its way when a capture looks is seen by
// the next capture: its damage stays with the server until it is taken.
class TX11Grabber::TDamageReport {
 public:
  explicit TDamageReport(TX11Display& shared) {
    try {
      FOwn = std::make_unique<TX11Display>(shared.Name().c_str());
    } catch (const EX11Unavailable&) {
      FOwn.reset();  // the shared connection, asked every time
    }
    TX11Display& display = FOwn ? *FOwn : shared;
    FDisplay = &display;
    Display* d = display.Get();
    int error = 0, major = 0, minor = 0;
    if (!XDamageQueryExtension(d, &FEventBase, &error) || !XDamageQueryVersion(d, &major, &minor)) {
      return;
    }
    const int failed = display.Trap([&] {
      FDamage = XDamageCreate(d, display.Root(), XDamageReportNonEmpty);
      FRegion = XFixesCreateRegion(d, nullptr, 0);
    });
    if (failed != 0) Release();
  }
  ~TDamageReport() { Release(); }
  bool Active() const { return FDamage != 0 && FRegion != 0; }

  // The rectangles drawn since the last call, in screen pixels; nullptr when they cannot be
  // had. Valid until the next call.
  // asked: whether the server was asked (it is not while nothing is drawn).
  const std::vector<XRectangle>* Take(bool& asked) {
    Display* d = FDisplay->Get();
    XEvent event;
    while (XCheckTypedEvent(d, FEventBase + XDamageNotify, &event)) FDrawn = true;
    FRects.clear();
    asked = !FOwn || FDrawn;
    if (!asked) return &FRects;
    // One round trip: the fetch's reply says whether the server could answer, and an error of
    // the subtraction (the damage gone, which only a server reset does) is caught by the
    // display's handler and shows as no damage until the next full check.
    XDamageSubtract(d, FDamage, None, FRegion);
    int count = 0;
    XRectangle* got = XFixesFetchRegion(d, FRegion, &count);
    if (got == nullptr) return nullptr;
    FDrawn = false;
    FRects.assign(got, got + std::max(count, 0));
    XFree(got);
    return &FRects;
  }

  // Waits for the server's answer, so that the events of everything drawn before the call are
  // here: the next Take sees it all.
  void Settle() { XSync(FDisplay->Get(), False); }

 private:
  void Release() {
    if (FDamage != 0) FDisplay->Trap([&] { XDamageDestroy(FDisplay->Get(), FDamage); });
    if (FRegion != 0) FDisplay->Trap([&] { XFixesDestroyRegion(FDisplay->Get(), FRegion); });
    FDamage = 0;
    FRegion = 0;
  }
  std::unique_ptr<TX11Display> FOwn;
  TX11Display* FDisplay = nullptr;
  int FEventBase = 0;
  Damage FDamage = 0;
  XserverRegion FRegion = 0;
  bool FDrawn = true;  // the first Take empties whatever the damage held before
  std::vector<XRectangle> FRects;
};

TX11Grabber::TX11Grabber(TX11Display& display, bool useShm) : FDisplay(display) {
  Display* d = FDisplay.Get();
  Visual* visual = DefaultVisual(d, FDisplay.Screen());
  const int depth = DefaultDepth(d, FDisplay.Screen());
  if (visual->c_class != TrueColor || (depth != 24 && depth != 32)) {
    throw EX11Unavailable("the X screen is not 24- or 32-bit TrueColor (depth " +
                          std::to_string(depth) + ")");
  }
  FStandardMasks = StandardMasks(visual) && ImageByteOrder(d) == LSBFirst;
  FRedShift = std::countr_zero(visual->red_mask);
  FGreenShift = std::countr_zero(visual->green_mask);
  FBlueShift = std::countr_zero(visual->blue_mask);
  FUseShm = useShm && XShmQueryExtension(d);
  FBuffer = std::make_unique<TBuffer>(d, FUseShm);
  FDamage = std::make_unique<TDamageReport>(FDisplay);
}

TX11Grabber::~TX11Grabber() = default;

bool TX11Grabber::UsingDamage() const {
  return FUseDamage && FDamage->Active();
}

void TX11Grabber::Settle() {
  if (FDamage->Active()) FDamage->Settle();
}

bool TX11Grabber::Fetch(const TScreenRect& area) {
  if (FetchOnce(*FBuffer, area)) return true;
  if (!FUseShm) return false;
  // Shared memory refused (a remote display, or out of segments): go on without it.
  FUseShm = false;
  FBuffer = std::make_unique<TBuffer>(FDisplay.Get(), false);
  return FetchOnce(*FBuffer, area);
}

bool TX11Grabber::MarkDamagedBlocks(const TScreenRect& area, bool& any) {
  any = false;
  bool asked = false;
  const std::vector<XRectangle>* rects = FDamage->Take(asked);
  if (asked) ++FStats.DamageRequests;
  if (rects == nullptr) return false;
  const std::int32_t across = (area.Width() + kBlockColumns - 1) / kBlockColumns;
  const std::int32_t down = (area.Height() + kBlockRows - 1) / kBlockRows;
  FDirty.assign(static_cast<std::size_t>(across) * down, 0);
  for (const XRectangle& r : *rects) {
    const TScreenRect hit = Intersect({r.x, r.y, r.x + r.width, r.y + r.height}, area);
    if (hit.Width() <= 0) continue;
    const std::int32_t x0 = (hit.Left - area.Left) / kBlockColumns;
    const std::int32_t x1 = (hit.Right - 1 - area.Left) / kBlockColumns;
    const std::int32_t y0 = (hit.Top - area.Top) / kBlockRows;
    const std::int32_t y1 = (hit.Bottom - 1 - area.Top) / kBlockRows;
    for (std::int32_t by = y0; by <= y1; ++by) {
      for (std::int32_t bx = x0; bx <= x1; ++bx) {
        FDirty[static_cast<std::size_t>(by) * across + bx] = 1;
      }
    }
    any = true;
  }
  return true;
}

bool TX11Grabber::UsingShm() const {
  return FUseShm;
}

TScreenRect TX11Grabber::DirtyBounds(const TScreenRect& area) const {
  const std::int32_t across = (area.Width() + kBlockColumns - 1) / kBlockColumns;
  std::int32_t x0 = across, x1 = -1, y0 = -1, y1 = -1;
  for (std::size_t i = 0; i < FDirty.size(); ++i) {
    if (FDirty[i] == 0) continue;
    const std::int32_t bx = static_cast<std::int32_t>(i % static_cast<std::size_t>(across));
    const std::int32_t by = static_cast<std::int32_t>(i / static_cast<std::size_t>(across));
    if (y0 < 0) y0 = by;
    y1 = by;
    x0 = std::min(x0, bx);
    x1 = std::max(x1, bx);
  }
  if (y0 < 0) return {};
  return Intersect({area.Left + x0 * kBlockColumns, area.Top + y0 * kBlockRows,
                    area.Left + (x1 + 1) * kBlockColumns, area.Top + (y1 + 1) * kBlockRows},
                   area);
}

bool TX11Grabber::FetchOnce(TBuffer& buffer, const TScreenRect& area) {
  if (!buffer.Prepare(area.Width(), area.Height()) || buffer.BitsPerPixel() != 32) return false;
  // The fetch has a reply, which says whether it worked (the display's handler takes the
  // error): no wait for the server beyond it.
  return buffer.Fill(FDisplay.Root(), area.Left, area.Top);
}

const std::uint8_t* TX11Grabber::PixelRow(std::int32_t y, std::int32_t left, std::int32_t count) {
  const std::uint8_t* pixels = FBuffer->Row(y) + 4 * static_cast<std::size_t>(left);
  if (FStandardMasks) return pixels;
  FRowScratch.resize(static_cast<std::size_t>(count) * 4);
  const bool msb = ImageByteOrder(FDisplay.Get()) == MSBFirst;
  for (std::int32_t i = 0; i < count; ++i) {
    const std::uint8_t* p = pixels + 4 * i;
    const std::uint32_t v = msb ? (std::uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3])
                                : (std::uint32_t{p[3]} << 24 | p[2] << 16 | p[1] << 8 | p[0]);
    FRowScratch[4 * i] = static_cast<std::uint8_t>(v >> FBlueShift);
    FRowScratch[4 * i + 1] = static_cast<std::uint8_t>(v >> FGreenShift);
    FRowScratch[4 * i + 2] = static_cast<std::uint8_t>(v >> FRedShift);
    FRowScratch[4 * i + 3] = 0;
  }
  return FRowScratch.data();
}

void TX11Grabber::CompareBlocks(const TScreenRect& fetched, const TScreenRect& area,
                                const TScreenRect& rect, TDIBitmap& frame, TDamage& damage,
                                bool onlyDirty) {
  const std::int32_t across = (area.Width() + kBlockColumns - 1) / kBlockColumns;
  const std::int32_t bx0 = (fetched.Left - area.Left) / kBlockColumns;
  const std::int32_t bx1 = (fetched.Right - 1 - area.Left) / kBlockColumns;
  const std::int32_t by0 = (fetched.Top - area.Top) / kBlockRows;
  const std::int32_t by1 = (fetched.Bottom - 1 - area.Top) / kBlockRows;
  for (std::int32_t by = by0; by <= by1; ++by) {
    const std::int32_t top = area.Top + by * kBlockRows;
    const std::int32_t bottom = std::min(top + kBlockRows, area.Bottom);
    for (std::int32_t bx = bx0; bx <= bx1; ++bx) {
      if (onlyDirty && FDirty[static_cast<std::size_t>(by) * across + bx] == 0) {
        ++FStats.BlocksKept;
        continue;
      }
      const std::int32_t left = area.Left + bx * kBlockColumns;
      const std::int32_t right = std::min(left + kBlockColumns, area.Right);
      const std::size_t bytes = 4 * static_cast<std::size_t>(right - left);
      // The frame holds the previous capture: comparing with it costs one pass over memory
      // and tells exactly which blocks the recorder has to look at again.
      bool changed = false;
      for (std::int32_t y = top; y < bottom; ++y) {
        const std::uint8_t* now = PixelRow(y - fetched.Top, left - fetched.Left, right - left);
        std::uint8_t* kept =
            frame.Scanline(y - rect.Top) + 4 * static_cast<std::size_t>(left - rect.Left);
        if (std::memcmp(now, kept, bytes) == 0) continue;
        std::memcpy(kept, now, bytes);
        changed = true;
      }
      if (!changed) {
        ++FStats.BlocksKept;
        continue;
      }
      ++FStats.BlocksChanged;
      damage.Add({left - rect.Left, top - rect.Top, right - rect.Left, bottom - rect.Top});
    }
  }
}

bool TX11Grabber::Capture(TWindowHandle window, const TScreenRect& rect, TDIBitmap& frame,
                          TDamage& damage) {
  damage.Clear();
  if (rect.Width() <= 0 || rect.Height() <= 0 || rect.Width() > TDIBitmap::kMaxDimension ||
      rect.Height() > TDIBitmap::kMaxDimension) {
    return false;
  }
  if (window != 0) {
    // Its reply says whether the window is still there.
    XWindowAttributes attributes;
    if (XGetWindowAttributes(FDisplay.Get(), window, &attributes) == 0) return false;
  }
  const TScreenRect area = Intersect(rect, {0, 0, FDisplay.Width(), FDisplay.Height()});
  const bool sameGeometry =
      FHavePrevious && window == FLastWindow && rect == FLastRect && area == FLastArea;
  bool kept = false;
  try {
    // Off-screen parts stay black: a new frame is zeroed.
    kept = PrepareFrame(frame, rect.Width(), rect.Height()) && sameGeometry;
  } catch (const std::invalid_argument&) {
    return false;  // larger than any picture the recorder accepts
  }
  if (!kept) damage.SetAll();
  FHavePrevious = false;  // until this capture has succeeded
  if (area.Width() > 0) {
    // Between checks of every block (each kFullCheckEvery captures, and whenever the frame or
    // the damage cannot be trusted) only what the server says it drew is fetched and
    // compared; a still screen then costs no fetch at all. The damage is taken at every
    // capture, so the next one sees only what came after this one.
    bool partial = false, drawn = true;
    if (UsingDamage()) {
      const bool known = MarkDamagedBlocks(area, drawn);
      partial = known && kept && ++FGrabsSinceFullCheck < kFullCheckEvery;
    }
    if (!partial) FGrabsSinceFullCheck = 0;
    if (partial && !drawn) {
      ++FStats.FetchesSkipped;
    } else {
      const TScreenRect fetched = partial ? DirtyBounds(area) : area;
      if (partial) {
        // The blocks outside what is fetched were not drawn on.
        const std::int32_t blocks = ((area.Width() + kBlockColumns - 1) / kBlockColumns) *
                                    ((area.Height() + kBlockRows - 1) / kBlockRows);
        const std::int32_t inside = ((fetched.Width() + kBlockColumns - 1) / kBlockColumns) *
                                    ((fetched.Height() + kBlockRows - 1) / kBlockRows);
        FStats.BlocksKept += static_cast<std::uint64_t>(blocks - inside);
      }
      // In bands, so that the shared segment holds a band and not the whole screen: the frame
      // the recorder keeps is the only full-screen copy.
      for (std::int32_t top = fetched.Top; top < fetched.Bottom; top += kFetchRows) {
        const TScreenRect band{fetched.Left, top, fetched.Right,
                               std::min(top + kFetchRows, fetched.Bottom)};
        if (!Fetch(band)) return false;
        CompareBlocks(band, area, rect, frame, damage, partial);
      }
    }
  }
  FHavePrevious = true;
  FLastWindow = window;
  FLastRect = rect;
  FLastArea = area;
  ++FStats.Grabs;
  return true;
}

}  // namespace kestrova::platform::x11
