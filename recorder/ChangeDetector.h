// Change detection and movie assembly: each grab is compared with the previous one in strips
// 32 rows high; only changed strips go into the segment's movie, each a picture at the depth of
// its strip, and the first frame of a segment or a frame where nearly everything changed is one
// full picture at depth 0. A strip's picture covers the columns that differ from that full
// picture rather than the whole width, so a small moving area does not cost whole rows of the
// screen in every frame. After each frame the movie advances by the frames the elapsed time
// calls for at 12 frames a second.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "media/DIBitmap.h"
#include "recorder/SegmentMovie.h"

namespace kestrova {

inline constexpr std::int32_t kStripHeight = 32;
// Strip pictures start and end on multiples of this many columns (or at the stage's edge).
inline constexpr std::int32_t kStripColumnStep = 32;
// A frame whose new pictures hold at least this many pixels is busy (a 640 x 200 area, say):
// full-motion video or scrolling, where compressing fast matters more than a few percent of size.
inline constexpr std::int64_t kBusyFramePixels = 128 * 1024;
inline constexpr int kFramesPerSecond = 12;

// Row y of the picture, counted from the top, whichever way the bitmap stores its rows.
// Pictures have 8 bits per pixel (the fixed palette), 16 (15-bit RGB) or 32: rows are compared
// as bytes and cut at whole pixels.
inline const std::uint8_t* PictureRow(const TDIBitmap& b, std::int32_t y) {
  return b.Scanline(b.Height > 0 ? b.Rows() - 1 - y : y);
}
inline std::uint8_t* PictureRow(TDIBitmap& b, std::int32_t y) {
  return b.Scanline(b.Height > 0 ? b.Rows() - 1 - y : y);
}

struct TStagedFrame;

// What the capture loop tells change detection about the frame.
struct TFrameContext {
  // What the frame stage knows of the frame (which strips may differ); none: anything may.
  const TStagedFrame* Staged = nullptr;
  bool FirstFrameOfSegment = false;  // cleared when the movie has been made
  bool WindowMode = false;
  std::int32_t StageWidth = 0, StageHeight = 0;
  // The milliseconds to add to the timeline for this frame (read once, at the advance).
  std::function<std::uint32_t()> TakeElapsedMs;
};

class TChangeDetector {
 public:
  // log: entries for the diagnostic log. Nothing here sleeps: the capture loop paces the frames
  // to the clock, and a pause inside a frame would only shorten the time left for the next.
  explicit TChangeDetector(std::function<void(const std::string&)> log);

  TDIBitmap PreviousFrame;
  bool ResetReference = false;
  std::int32_t PreviousHeight = 0;
  std::int32_t StripCount = 0;
  std::vector<bool> StripPending;
  std::array<std::int32_t, 21> DepthTable{};
  std::int32_t ElapsedMs = 0;
  std::int32_t FramesShown = 0;
  std::int32_t LastFrameNumber = 0;

  // The start of a segment: counters to 0, the depth table filled, no strip depth in use.
  void BeginSegment();
  // Strip k's depth: the low 16 bits of 2k + 1, for strips inside and beyond the table.
  std::uint16_t StripDepth(std::int32_t k) const;
  // Adds the grab to the movie (made through the factory on the segment's first frame).
  // Returns false when the frame was abandoned (no strips: nothing changes). Errors of the
  // builder are logged, and the grab still becomes the previous frame.
  bool EncodeFrame(const TDIBitmap& grab, TFrameContext& context,
                   std::unique_ptr<TSegmentMovie>& movie, const TSegmentMovieFactory& factory);
  // Adds elapsed milliseconds to the timeline and closes the frames they call for (at least
  // one). Returns how many.
  std::uint16_t AdvanceTimeline(TSegmentMovie& movie, std::uint32_t elapsedMs);
  // Forgets the previous frame (the end of a recording).
  void FreePreviousFrame();

 private:
  struct TScan {
    std::int32_t Changed = 0;
    std::int64_t Pixels = 0;  // of the strips cut
    bool HeightChanged = false;
    bool Complete = false;  // every strip compared
  };
  // Columns [Left, Right) of a strip; empty when Left >= Right.
  struct TSpan {
    std::int32_t Left = 0, Right = 0;
  };
  // hints: per strip, whether it may differ from the reference (the frame stage's word for
  // it); none: every strip is compared.
  TScan ScanStrips(const TDIBitmap& grab, const TDIBitmap& reference, std::int32_t stageWidth,
                   const std::vector<std::uint8_t>* hints);
  // The stage's hints when they speak of the picture that became PreviousFrame; else none.
  const std::vector<std::uint8_t>* TrustedHints(const TFrameContext& context,
                                                const TDIBitmap& grab) const;
  // The columns where rows top..bottom-1 of grab and reference differ, widened to whole
  // column steps and limited to the stage; empty when they do not differ.
  static TSpan ChangedColumns(const TDIBitmap& grab, const TDIBitmap& reference, std::int32_t top,
                              std::int32_t bottom, std::int32_t stageWidth);
  void CutStrip(const TDIBitmap& grab, std::int32_t k, std::int32_t top, std::int32_t bottom,
                TSpan span);
  void PlaceFull(TSegmentMovie& movie, const TDIBitmap& picture, bool removeStrips);
  void PlaceStrips(TSegmentMovie& movie);
  // Returns whether every strip was compared with the previous frame, so that only the rows of
  // FChangedRows differ from it.
  bool Encode(const TDIBitmap& grab, TFrameContext& context, TSegmentMovie& movie, bool first);

  std::function<void(const std::string&)> FLog;
  std::vector<TDIBitmap> FStrips;  // kept from frame to frame so the loop's memory stays flat
  std::vector<std::int32_t> FStripTop;
  // Per strip, the columns its depth shows over the full picture; outside them the full
  // picture is what the previous frame held. A new strip picture must cover these columns as
  // well as its changed ones, since placing it removes the old one. Emptied whenever depth 0 is
  // all that is shown: a new segment, a full refresh.
  std::vector<TSpan> FShown;
  // Rows [top, bottom) of the strips that changed in this frame.
  std::vector<std::pair<std::int32_t, std::int32_t>> FChangedRows;
  std::set<std::uint16_t> FDepthsInUse;
  // The stage's number of the picture PreviousFrame copies; 0: not a staged picture.
  std::uint64_t FPreviousSerial = 0;
};

}  // namespace kestrova
