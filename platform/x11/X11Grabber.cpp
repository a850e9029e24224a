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
#include <string>

#include "platform/Palette.h"

namespace kestrova::platform::x11 {

namespace {

// XXH64's round and final mix over a block of rows: four lanes so the multiplications overlap.
constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ull, kPrime2 = 0xC2B2AE3D27D4EB4Full,
                        kPrime3 = 0x165667B19E3779F9ull;

std::uint64_t Round(std::uint64_t acc, std::uint64_t input) {
  acc += input * kPrime2;
  acc = std::rotl(acc, 31);
  return acc * kPrime1;
}

std::uint64_t Word(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

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

std::uint64_t HashRows(const std::uint8_t* first, std::size_t stride, std::int32_t rows,
                       std::size_t rowBytes) {
  std::uint64_t lane[4] = {kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1};
  std::uint64_t tail = kPrime3 ^ rowBytes;
  for (std::int32_t y = 0; y < rows; ++y) {
    const std::uint8_t* p = first + static_cast<std::size_t>(y) * stride;
    std::size_t i = 0;
    for (; i + 32 <= rowBytes; i += 32) {
      for (int k = 0; k < 4; ++k) lane[k] = Round(lane[k], Word(p + i + 8 * k));
    }
    for (; i < rowBytes; ++i) tail = (tail ^ p[i]) * kPrime1;
  }
  std::uint64_t h = std::rotl(lane[0], 1) + std::rotl(lane[1], 7) + std::rotl(lane[2], 12) +
                    std::rotl(lane[3], 18);
  h = (h ^ Round(0, tail)) * kPrime1;
  h ^= h >> 33;
  h *= kPrime2;
  h ^= h >> 29;
  h *= kPrime3;
  return h ^ (h >> 32);
}

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
class TX11Grabber::TDamage {
 public:
  explicit TDamage(TX11Display& display) : FDisplay(display) {
    Display* d = FDisplay.Get();
    int error = 0, major = 0, minor = 0;
    if (!XDamageQueryExtension(d, &FEventBase, &error) || !XDamageQueryVersion(d, &major, &minor)) {
      return;
    }
    const int failed = FDisplay.Trap([&] {
      FDamage = XDamageCreate(d, FDisplay.Root(), XDamageReportNonEmpty);
      FRegion = XFixesCreateRegion(d, nullptr, 0);
    });
    if (failed != 0) Release();
  }
  ~TDamage() { Release(); }
  bool Active() const { return FDamage != 0 && FRegion != 0; }

  // The rectangles drawn since the last call, in screen pixels; nullptr when they cannot be
  // had. Valid until the next call.
  const std::vector<XRectangle>* Take() {
    Display* d = FDisplay.Get();
    XEvent event;
    while (XCheckTypedEvent(d, FEventBase + XDamageNotify, &event)) {
    }
    XRectangle* got = nullptr;
    int count = 0;
    const int failed = FDisplay.Trap([&] {
      XDamageSubtract(d, FDamage, None, FRegion);
      got = XFixesFetchRegion(d, FRegion, &count);
    });
    FRects.clear();
    if (got != nullptr) {
      FRects.assign(got, got + std::max(count, 0));
      XFree(got);
    }
    return failed == 0 && got != nullptr ? &FRects : nullptr;
  }

 private:
  void Release() {
    if (FDamage != 0) FDisplay.Trap([&] { XDamageDestroy(FDisplay.Get(), FDamage); });
    if (FRegion != 0) FDisplay.Trap([&] { XFixesDestroyRegion(FDisplay.Get(), FRegion); });
    FDamage = 0;
    FRegion = 0;
  }
  TX11Display& FDisplay;
  int FEventBase = 0;
  Damage FDamage = 0;
  XserverRegion FRegion = 0;
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
  FDamage = std::make_unique<TDamage>(FDisplay);
}

TX11Grabber::~TX11Grabber() = default;

bool TX11Grabber::UsingDamage() const {
  return FUseDamage && FDamage->Active();
}

bool TX11Grabber::FetchWithoutShm(const TScreenRect& area) {
  if (!FUseShm) return false;
  // Shared memory refused (a remote display, or out of segments): go on without it.
  FUseShm = false;
  FBuffer = std::make_unique<TBuffer>(FDisplay.Get(), false);
  return Fetch(*FBuffer, area);
}

bool TX11Grabber::MarkDamagedBlocks(const TScreenRect& area, bool& any) {
  any = false;
  const std::vector<XRectangle>* rects = FDamage->Take();
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

bool TX11Grabber::Fetch(TBuffer& buffer, const TScreenRect& area) {
  if (!buffer.Prepare(area.Width(), area.Height()) || buffer.BitsPerPixel() != 32) return false;
  bool filled = false;
  const int error =
      FDisplay.Trap([&] { filled = buffer.Fill(FDisplay.Root(), area.Left, area.Top); });
  return filled && error == 0;
}

void TX11Grabber::ToPalette(const std::uint8_t* pixels, std::uint8_t* indices, std::int32_t count) {
  if (FStandardMasks) {
    MapRow(pixels, indices, static_cast<std::size_t>(count));
    return;
  }
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
  MapRow(FRowScratch.data(), indices, static_cast<std::size_t>(count));
}

void TX11Grabber::MapBlocks(const TBuffer& now, const TScreenRect& area, const TScreenRect& rect,
                            const std::vector<std::uint8_t>* dirty) {
  const std::int32_t w = area.Width(), h = area.Height();
  const std::size_t across = static_cast<std::size_t>((w + kBlockColumns - 1) / kBlockColumns);
  const std::size_t blocks = static_cast<std::size_t>((h + kBlockRows - 1) / kBlockRows) * across;
  const bool compare = FHavePrevious && FCompareBlocks && FBlockHashes.size() == blocks;
  const bool onlyDamaged = compare && dirty != nullptr && dirty->size() == blocks;
  FBlockHashes.resize(blocks);
  FHashKnown.resize(blocks, 0);
  std::size_t block = 0;
  for (std::int32_t top = 0; top < h; top += kBlockRows) {
    const std::int32_t rows = std::min(kBlockRows, h - top);
    for (std::int32_t left = 0; left < w; left += kBlockColumns, ++block) {
      const std::int32_t columns = std::min(kBlockColumns, w - left);
      if (onlyDamaged && (*dirty)[block] == 0) {
        ++FStats.BlocksKept;
        continue;
      }
      if (onlyDamaged) {
        // What the server says it drew has nearly always changed, and mapping a block costs
        // about what hashing it does: it is mapped without a look, and its hash is unknown
        // until the next check of every block.
        FHashKnown[block] = 0;
      } else {
        const std::uint8_t* first = now.Row(top) + 4 * static_cast<std::size_t>(left);
        const std::uint64_t hash =
            HashRows(first, now.Stride(), rows, 4 * static_cast<std::size_t>(columns));
        std::uint64_t& previous = FBlockHashes[block];
        if (compare && FHashKnown[block] != 0 && hash == previous) {
          ++FStats.BlocksKept;
          continue;
        }
        previous = hash;
        FHashKnown[block] = 1;
      }
      ++FStats.BlocksMapped;
      for (std::int32_t y = top; y < top + rows; ++y) {
        const std::size_t at = static_cast<std::size_t>(area.Top - rect.Top + y) * rect.Width() +
                               static_cast<std::size_t>(area.Left - rect.Left + left);
        ToPalette(now.Row(y) + 4 * static_cast<std::size_t>(left), FIndices.data() + at, columns);
      }
    }
  }
}

bool TX11Grabber::Grab(TWindowHandle window, const TScreenRect& rect, TDIBitmap& into) {
  if (rect.Width() <= 0 || rect.Height() <= 0 || rect.Width() > TDIBitmap::kMaxDimension ||
      rect.Height() > TDIBitmap::kMaxDimension) {
    return false;
  }
  if (window != 0) {
    XWindowAttributes attributes;
    Status got = 0;
    if (FDisplay.Trap([&] { got = XGetWindowAttributes(FDisplay.Get(), window, &attributes); }) !=
            0 ||
        got == 0) {
      return false;
    }
  }
  const TScreenRect area = Intersect(rect, {0, 0, FDisplay.Width(), FDisplay.Height()});
  const bool sameGeometry = FHavePrevious && rect == FLastRect && area == FLastArea;
  if (!sameGeometry) {
    FHavePrevious = false;
    const std::size_t size = static_cast<std::size_t>(rect.Width()) * rect.Height();
    if (size > TDIBitmap::kMaxBytes) return false;
    // Off-screen parts show black, the palette's index for (0, 0, 0).
    FIndices.assign(size, NearestIndex(0, 0, 0));
  }
  if (area.Width() > 0) {
    // Between checks of every block (each kFullCheckEvery grabs, and whenever the geometry or
    // the damage cannot be trusted) only what the server says it drew is read and compared;
    // a still screen then costs no fetch at all. The damage is taken at every grab, so the
    // next one sees only what came after this one.
    bool partial = false, drawn = true;
    if (UsingDamage()) {
      const bool known = MarkDamagedBlocks(area, drawn);
      partial = known && sameGeometry && FCompareBlocks && ++FGrabsSinceFullCheck < kFullCheckEvery;
    }
    if (!partial) FGrabsSinceFullCheck = 0;
    if (partial && !drawn) {
      ++FStats.FetchesSkipped;
    } else {
      if (!Fetch(*FBuffer, area) && !FetchWithoutShm(area)) {
        FHavePrevious = false;  // what was drawn meanwhile must be compared again
        return false;
      }
      MapBlocks(*FBuffer, area, rect, partial ? &FDirty : nullptr);
    }
  }
  FHavePrevious = area.Width() > 0;
  FLastRect = rect;
  FLastArea = area;
  ++FStats.Grabs;
  if (into.Width != rect.Width() || into.Height != rect.Height() || into.BitCount != 8) {
    into.Allocate(rect.Width(), rect.Height(), 8);
  }
  if (into.Palette.size() != kPaletteSize) SetFixedPalette(into);
  for (std::int32_t y = 0; y < rect.Height(); ++y) {
    std::memcpy(into.Scanline(rect.Height() - 1 - y),
                FIndices.data() + static_cast<std::size_t>(y) * rect.Width(),
                static_cast<std::size_t>(rect.Width()));
  }
  return true;
}

}  // namespace kestrova::platform::x11
