// Screen grabs from an X display into 8-bit bitmaps with the fixed palette.
//
// Speed matters more here than anywhere else in the recorder, so a grab works like this: the
// pixels come with MIT-SHM (XShmGetImage into a shared segment kept for the recording; plain
// XGetSubImage where shared memory cannot be had, as on a remote display) into a 32-bit buffer;
// each block of pixels is hashed and compared with the same block's hash in the previous grab,
// and only blocks that differ are mapped to palette indices (the mapping costs far more than the
// hashing). Unchanged blocks keep their indices from the frame before. Where the server reports
// damage (the DAMAGE extension), only the blocks drawn on since the last grab are hashed, and a
// grab of a screen where nothing was drawn fetches nothing; every block is still compared once in
// kFullCheckEvery grabs.
//
// Hashes rather than the previous grab itself: at 1920 x 1080 that saves an 8 MB buffer and one
// of the two passes over memory a comparison needs. Two different blocks with the same 64-bit
// hash would keep a stale block; with a hash of XXH64's quality that is about one chance in
// 10^19 per changed block, far below the odds of a memory error.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Platform.h"
#include "platform/x11/X11Display.h"

namespace kestrova::platform::x11 {

struct TX11GrabStats {
  std::uint64_t Grabs = 0;
  std::uint64_t BlocksMapped = 0;    // blocks that changed (or had no previous)
  std::uint64_t BlocksKept = 0;      // blocks whose hash equals the previous grab's, or not drawn
  std::uint64_t FetchesSkipped = 0;  // grabs of a screen where nothing was drawn
};

// The 64-bit hash of rows rows of rowBytes bytes each, stride bytes apart.
std::uint64_t HashRows(const std::uint8_t* first, std::size_t stride, std::int32_t rows,
                       std::size_t rowBytes);

class TX11Grabber : public TScreenGrabber {
 public:
  // Pixels compared and mapped together: blocks of 16 rows and 256 columns, so a change in
  // part of the screen's width (a video, a line of text) is mapped only where it is.
  static constexpr std::int32_t kBlockRows = 16;
  static constexpr std::int32_t kBlockColumns = 256;
  // With the server's damage reports, every block is compared once in this many grabs and
  // only the blocks drawn on in between, so content drawn without a report (none is known)
  // would be stale for a second at most.
  static constexpr std::uint32_t kFullCheckEvery = 10;

  // useShm false forces XGetSubImage. Throws EX11Unavailable for a screen that is not 24- or
  // 32-bit TrueColor. The pointer is not drawn: the recorder draws it into the 8-bit grab.
  explicit TX11Grabber(TX11Display& display, bool useShm = true);
  ~TX11Grabber() override;

  // A window's pixels are read from the screen at its outer rectangle (what shows there,
  // overlapping windows included); the parts of rect off the screen are black.
  bool Grab(TWindowHandle window, const TScreenRect& rect, TDIBitmap& into) override;

  bool UsingShm() const;
  // Whether the server's damage reports narrow the comparison (the DAMAGE extension).
  bool UsingDamage() const;
  // Off: every grab fetches and compares every block (to measure what the reports save).
  void SetUseDamage(bool use) { FUseDamage = use; }
  // Off: every block is mapped on every grab (to measure what the comparison saves).
  void SetCompareBlocks(bool compare) { FCompareBlocks = compare; }
  const TX11GrabStats& Stats() const { return FStats; }

 private:
  class TBuffer;
  class TDamage;
  bool Fetch(TBuffer& buffer, const TScreenRect& area);
  bool FetchWithoutShm(const TScreenRect& area);
  // FDirty: the blocks of area drawn on since the last grab; any: whether there are some.
  // False when the server's report could not be read.
  bool MarkDamagedBlocks(const TScreenRect& area, bool& any);
  // dirty: when given, only those blocks are compared; the others are kept.
  void MapBlocks(const TBuffer& now, const TScreenRect& area, const TScreenRect& rect,
                 const std::vector<std::uint8_t>* dirty);
  void ToPalette(const std::uint8_t* pixels, std::uint8_t* indices, std::int32_t count);

  TX11Display& FDisplay;
  bool FUseShm;
  bool FStandardMasks = true;  // blue, green, red bytes in order: no shifting needed
  int FRedShift = 16, FGreenShift = 8, FBlueShift = 0;
  std::unique_ptr<TBuffer> FBuffer;
  std::unique_ptr<TDamage> FDamage;
  bool FUseDamage = true;
  std::uint32_t FGrabsSinceFullCheck = 0;
  std::vector<std::uint8_t> FDirty;
  std::vector<std::uint64_t> FBlockHashes;  // of the previous grab
  std::vector<std::uint8_t> FHashKnown;     // per block: its hash is that of its indices
  bool FHavePrevious = false;
  bool FCompareBlocks = true;
  TScreenRect FLastRect, FLastArea;
  std::vector<std::uint8_t> FIndices;  // the mapped picture, top-down, rect's size
  std::vector<std::uint8_t> FRowScratch;
  TX11GrabStats FStats;
};

}  // namespace kestrova::platform::x11
