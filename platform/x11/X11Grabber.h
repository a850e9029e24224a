// Frames of an X display: 32-bit pixels and what changed, for the recorder's frame stage.
//
// Speed matters more here than anywhere else in the recorder, so a capture works like this: the
// pixels come with MIT-SHM (XShmGetImage into a shared segment kept for the recording; plain
// XGetSubImage where shared memory cannot be had, as on a remote display) and are compared,
// block by block, with the frame the recorder holds from the previous capture; only blocks that
// differ are copied into it and reported as damage. Where the server reports damage (the DAMAGE
// extension), only the area drawn on since the last capture is fetched and compared, and a
// capture of a screen where nothing was drawn fetches nothing; every block is still compared
// once in kFullCheckEvery captures.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Platform.h"
#include "platform/x11/X11Display.h"

namespace kestrova::platform::x11 {

struct TX11GrabStats {
  std::uint64_t Grabs = 0;
  std::uint64_t BlocksChanged = 0;   // blocks that differed (or had no previous)
  std::uint64_t BlocksKept = 0;      // blocks compared equal, or not drawn on
  std::uint64_t FetchesSkipped = 0;  // captures of a screen where nothing was drawn
  std::uint64_t DamageRequests = 0;  // damage reports asked of the server (none while quiet)
};

class TX11Grabber : public TCaptureSource {
 public:
  // Pixels compared and reported together: blocks of 16 rows and 256 columns, so a change in
  // part of the screen's width (a video, a line of text) is reported only where it is.
  static constexpr std::int32_t kBlockRows = 16;
  static constexpr std::int32_t kBlockColumns = 256;
  // With the server's damage reports, every block is compared once in this many captures and
  // only the blocks drawn on in between, so content drawn without a report (none is known)
  // would be stale for three seconds at most. A check of every block of a 1920 x 1080 screen
  // costs about what the rest of a still screen's second costs, hence not more often.
  static constexpr std::uint32_t kFullCheckEvery = 30;
  // Rows fetched at once (whole blocks): a screen 1920 pixels wide needs a segment of 1 MB.
  static constexpr std::int32_t kFetchRows = 8 * kBlockRows;

  // useShm false forces XGetSubImage. Throws EX11Unavailable for a screen that is not 24- or
  // 32-bit TrueColor. The pointer is not in the pixels: the recorder draws it.
  explicit TX11Grabber(TX11Display& display, bool useShm = true);
  ~TX11Grabber() override;

  // A window's pixels are read from the screen at its outer rectangle (what shows there,
  // overlapping windows included); the parts of rect off the screen are black.
  bool Capture(TWindowHandle window, const TScreenRect& rect, TDIBitmap& frame,
               TDamage& damage) override;

  bool UsingShm() const;
  // Whether the server's damage reports narrow the comparison (the DAMAGE extension).
  bool UsingDamage() const;
  // The server's reports come as events, read as each capture begins; one still on its way
  // is read by the next capture. Settle waits until every report of what was drawn before the
  // call has come, so that the next capture sees all of it (for tests, which draw and capture
  // at once).
  void Settle();
  // Off: every capture fetches and compares every block (to measure what the reports save).
  void SetUseDamage(bool use) { FUseDamage = use; }
  const TX11GrabStats& Stats() const { return FStats; }

 private:
  class TBuffer;
  class TDamageReport;
  bool Fetch(const TScreenRect& area);
  bool FetchOnce(TBuffer& buffer, const TScreenRect& area);
  // FDirty: the blocks of area drawn on since the last capture; any: whether there are some.
  // False when the server's report could not be read.
  bool MarkDamagedBlocks(const TScreenRect& area, bool& any);
  // The smallest rectangle of whole blocks holding every block of FDirty, in screen pixels.
  TScreenRect DirtyBounds(const TScreenRect& area) const;
  // Compares the blocks of fetched (a part of area, in screen pixels, now in FBuffer) with
  // frame, copies those that differ and reports them; dirty: when given, only those blocks.
  void CompareBlocks(const TScreenRect& fetched, const TScreenRect& area, const TScreenRect& rect,
                     TDIBitmap& frame, TDamage& damage, bool onlyDirty);
  // Row y of the fetched picture as blue-green-red-x, converted when the server's layout
  // differs.
  const std::uint8_t* PixelRow(std::int32_t y, std::int32_t left, std::int32_t count);

  TX11Display& FDisplay;
  bool FUseShm;
  bool FStandardMasks = true;  // blue, green, red bytes in order: no shifting needed
  int FRedShift = 16, FGreenShift = 8, FBlueShift = 0;
  std::unique_ptr<TBuffer> FBuffer;
  std::unique_ptr<TDamageReport> FDamage;
  bool FUseDamage = true;
  std::uint32_t FGrabsSinceFullCheck = 0;
  std::vector<std::uint8_t> FDirty;
  bool FHavePrevious = false;
  TWindowHandle FLastWindow = 0;
  TScreenRect FLastRect, FLastArea;
  std::vector<std::uint8_t> FRowScratch;
  TX11GrabStats FStats;
};

}  // namespace kestrova::platform::x11
