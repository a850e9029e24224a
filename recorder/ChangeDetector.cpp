#include "recorder/ChangeDetector.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "recorder/FrameStage.h"

namespace kestrova {

TChangeDetector::TChangeDetector(std::function<void(const std::string&)> log)
    : FLog(std::move(log)) {
  BeginSegment();
}

void TChangeDetector::BeginSegment() {
  FramesShown = 0;
  ElapsedMs = 0;
  LastFrameNumber = 0;
  for (std::size_t k = 0; k < DepthTable.size(); ++k) DepthTable[k] = 2 * static_cast<int>(k) + 1;
  FDepthsInUse.clear();
  FShown.clear();
}

std::uint16_t TChangeDetector::StripDepth(std::int32_t k) const {
  // The table covers strips 0 to 20 (rows 0 to 671); taller stages go on with the same rule
  // rather than sharing a depth.
  const std::int32_t entry =
      k < static_cast<std::int32_t>(DepthTable.size()) ? DepthTable[k] : 2 * k + 1;
  return static_cast<std::uint16_t>(entry & 0xFFFF);
}

void TChangeDetector::FreePreviousFrame() {
  PreviousFrame = TDIBitmap{};
  FPreviousSerial = 0;
  FStrips.clear();
  FStripTop.clear();
  FShown.clear();
}

bool TChangeDetector::EncodeFrame(const TDIBitmap& grab, TFrameContext& context,
                                  std::unique_ptr<TSegmentMovie>& movie,
                                  const TSegmentMovieFactory& factory) {
  bool first = false;
  bool changedRowsOnly = false;
  FChangedRows.clear();
  try {
    if (context.FirstFrameOfSegment) {
      movie = factory(context.StageWidth, context.StageHeight);
      context.FirstFrameOfSegment = false;
      first = true;
    }
    if (StripCount == 0) return false;
    if (!movie) throw std::runtime_error("no movie for the segment");
    changedRowsOnly = Encode(grab, context, *movie, first);
  } catch (const std::exception& e) {
    if (FLog) FLog(std::string("Images loaded to Fimage objects") + e.what());
  }
  // The grab becomes the previous frame; its buffer is reused when the size is unchanged, and
  // after a complete comparison only the rows of changed strips differ from it.
  if (PreviousFrame.BytesPerLine != grab.BytesPerLine || PreviousFrame.Rows() != grab.Rows()) {
    PreviousFrame = grab;
  } else if (changedRowsOnly && PreviousFrame.Width == grab.Width &&
             PreviousFrame.Height == grab.Height && PreviousFrame.BitCount == grab.BitCount &&
             PreviousFrame.Palette == grab.Palette) {
    const auto bytes = static_cast<std::size_t>(grab.BytesPerLine);
    for (const auto& [top, bottom] : FChangedRows) {
      for (std::int32_t y = top; y < bottom; ++y) {
        std::memcpy(PictureRow(PreviousFrame, y), PictureRow(grab, y), bytes);
      }
    }
  } else {
    PreviousFrame.Width = grab.Width;
    PreviousFrame.Height = grab.Height;
    PreviousFrame.BitCount = grab.BitCount;
    std::memcpy(PreviousFrame.Bits.data(), grab.Bits.data(), grab.Bits.size());
    if (PreviousFrame.Palette != grab.Palette) PreviousFrame.Palette = grab.Palette;
  }
  const TStagedFrame* staged = context.Staged;
  FPreviousSerial = staged != nullptr && staged->Picture == &grab ? staged->Serial : 0;
  return true;
}

const std::vector<std::uint8_t>* TChangeDetector::TrustedHints(const TFrameContext& context,
                                                               const TDIBitmap& grab) const {
  // The hints compare with the stage's previous picture; they count only when that is the
  // picture PreviousFrame holds (no frame was left out, no other picture came between).
  const TStagedFrame* staged = context.Staged;
  if (staged == nullptr || staged->Picture != &grab || FPreviousSerial == 0 ||
      staged->Serial != FPreviousSerial + 1 ||
      staged->StripsMayDiffer.size() != static_cast<std::size_t>(StripCount)) {
    return nullptr;
  }
  return &staged->StripsMayDiffer;
}

bool TChangeDetector::Encode(const TDIBitmap& grab, TFrameContext& context, TSegmentMovie& movie,
                             bool first) {
  // The reference: the grab itself after a reset, else the previous frame. A previous frame of
  // another size (a window resized, the screen's resolution changed) cannot be compared row by
  // row without reading outside it, so it counts as a height change: a full refresh.
  const TDIBitmap* reference = &PreviousFrame;
  if (ResetReference) {
    reference = &grab;
    ResetReference = false;
    PreviousHeight = grab.Rows();
  }
  bool heightChanged = false;
  if ((context.WindowMode && grab.Rows() != PreviousHeight) ||
      (reference != &grab &&
       (reference->Width != grab.Width || reference->Rows() != grab.Rows() ||
        reference->BytesPerLine != grab.BytesPerLine || reference->BitCount != grab.BitCount))) {
    heightChanged = true;
    reference = &grab;
  }
  if ((grab.BitCount != 8 && grab.BitCount != 16 && grab.BitCount != 32) ||
      reference->BitCount != grab.BitCount) {
    throw std::runtime_error("Assertion failed (CaptureMain, line 885)");
  }
  const std::int32_t stageWidth = context.WindowMode ? context.StageWidth : grab.Width;
  // A frame that repeats (the stage saw no damage and no pointer move) has every hint clear:
  // nothing is compared and only the timeline advances, as when a comparison finds nothing.
  // A grab compared with itself (the first of a segment) cannot differ either.
  TScan scan;
  if (reference == &grab) {
    StripPending.assign(static_cast<std::size_t>(StripCount + 1), false);
    scan.Complete = true;
  } else {
    scan = ScanStrips(grab, *reference, stageWidth, TrustedHints(context, grab));
  }
  PreviousHeight = grab.Rows();
  const std::int32_t passes = StripCount + 1;
  if (heightChanged) scan.Changed = passes - 2;
  if (scan.Changed == 0 && first) {
    movie.SetBusy(false);
    PlaceFull(movie, *reference, false);
  } else if (scan.Changed >= passes - 2) {
    movie.SetBusy(true);
    PlaceFull(movie, grab, true);
  } else {
    movie.SetBusy(scan.Pixels >= kBusyFramePixels);
    PlaceStrips(movie);
  }
  AdvanceTimeline(movie, context.TakeElapsedMs ? context.TakeElapsedMs() : 0);
  return reference == &PreviousFrame && scan.Complete;
}

TChangeDetector::TScan TChangeDetector::ScanStrips(const TDIBitmap& grab,
                                                   const TDIBitmap& reference,
                                                   std::int32_t stageWidth,
                                                   const std::vector<std::uint8_t>* hints) {
  TScan scan;
  const std::int32_t passes = StripCount + 1;
  StripPending.assign(static_cast<std::size_t>(passes), false);
  if (FStrips.size() < static_cast<std::size_t>(passes)) {
    FStrips.resize(static_cast<std::size_t>(passes));
    FStripTop.resize(static_cast<std::size_t>(passes));
  }
  if (FShown.size() < static_cast<std::size_t>(passes)) {
    FShown.resize(static_cast<std::size_t>(passes));
  }
  const std::int32_t rows = grab.Rows();
  FChangedRows.clear();
  try {
    for (std::int32_t j = 0; j < passes; ++j) {
      if (hints != nullptr && (j >= static_cast<std::int32_t>(hints->size()) || (*hints)[j] == 0)) {
        continue;
      }
      const std::int32_t top = kStripHeight * j;
      const std::int32_t bottom = std::min(top + kStripHeight, rows);
      const TSpan changed = ChangedColumns(grab, reference, top, bottom, stageWidth);
      if (changed.Left >= changed.Right) continue;
      TSpan& shown = FShown[j];
      if (shown.Left >= shown.Right) {
        shown = changed;
      } else {
        shown.Left = std::min(shown.Left, changed.Left);
        shown.Right = std::max(shown.Right, changed.Right);
      }
      FChangedRows.emplace_back(top, bottom);
      CutStrip(grab, j, top, bottom, shown);
      scan.Pixels += static_cast<std::int64_t>(shown.Right - shown.Left) * (bottom - top);
      StripPending[j] = true;
      ++scan.Changed;
    }
    scan.Complete = true;
  } catch (const std::exception&) {
    // A failed scan keeps the strips found so far.
  }
  return scan;
}

namespace {

// The first x in [from, to) where a and b differ, else to. Most rows are equal, which the
// library's comparison finds fastest; a difference is then looked for eight bytes at a time.
std::int32_t FirstDifference(const std::uint8_t* a, const std::uint8_t* b, std::int32_t from,
                             std::int32_t to) {
  if (from >= to || std::memcmp(a + from, b + from, static_cast<std::size_t>(to - from)) == 0) {
    return to;
  }
  std::int32_t x = from;
  for (; x + 8 <= to; x += 8) {
    std::uint64_t u, v;
    std::memcpy(&u, a + x, 8);
    std::memcpy(&v, b + x, 8);
    if (u != v) break;
  }
  while (x < to && a[x] == b[x]) ++x;
  return x;
}

// One past the last x in [from, to) where a and b differ, else from.
std::int32_t LastDifferenceEnd(const std::uint8_t* a, const std::uint8_t* b, std::int32_t from,
                               std::int32_t to) {
  if (from >= to || std::memcmp(a + from, b + from, static_cast<std::size_t>(to - from)) == 0) {
    return from;
  }
  std::int32_t x = to;
  for (; x - 8 >= from; x -= 8) {
    std::uint64_t u, v;
    std::memcpy(&u, a + x - 8, 8);
    std::memcpy(&v, b + x - 8, 8);
    if (u != v) break;
  }
  while (x > from && a[x - 1] == b[x - 1]) --x;
  return x;
}

}  // namespace

TChangeDetector::TSpan TChangeDetector::ChangedColumns(const TDIBitmap& grab,
                                                       const TDIBitmap& reference, std::int32_t top,
                                                       std::int32_t bottom,
                                                       std::int32_t stageWidth) {
  const std::int32_t pixel = grab.BitCount / 8;
  const std::int32_t columns = std::min({grab.Width, reference.Width, stageWidth});
  const std::int32_t bytes = columns * pixel;
  // Each row is read only outside the bytes already known to differ: left of them for a new
  // left edge, right of them for a new right edge.
  std::int32_t left = bytes, right = 0;
  for (std::int32_t y = top; y < bottom && (left > 0 || right < bytes); ++y) {
    const std::uint8_t* a = PictureRow(grab, y);
    const std::uint8_t* b = PictureRow(reference, y);
    const std::int32_t first = FirstDifference(a, b, 0, left);
    if (first < left) left = first;
    const std::int32_t from = std::max(right, left);
    const std::int32_t end = LastDifferenceEnd(a, b, from, bytes);
    if (end > from) right = end;
  }
  if (left >= right) return {};
  left /= pixel;
  right = (right + pixel - 1) / pixel;
  left -= left % kStripColumnStep;
  right =
      std::min(stageWidth, (right + kStripColumnStep - 1) / kStripColumnStep * kStripColumnStep);
  return {left, right};
}

void TChangeDetector::CutStrip(const TDIBitmap& grab, std::int32_t k, std::int32_t top,
                               std::int32_t bottom, TSpan span) {
  // Rows top to bottom - 1 exactly: filling the strip from one row more than it holds would
  // squeeze a row out of it and move its rows against those of full pictures.
  TDIBitmap& strip = FStrips[k];
  const std::int32_t height = bottom - top;
  const std::int32_t width = span.Right - span.Left;
  if (strip.Width != width || strip.Height != height || strip.BitCount != grab.BitCount) {
    strip.Allocate(width, height, grab.BitCount);
  }
  if (strip.Palette != grab.Palette) strip.Palette = grab.Palette;
  // Columns beyond a recorded window's width are black (palette entry 0, or zero bits).
  const std::size_t pixel = grab.BitCount / 8u;
  const std::int32_t inGrab = std::max(0, std::min(span.Right, grab.Width) - span.Left);
  const std::size_t copied = static_cast<std::size_t>(inGrab) * pixel;
  const std::size_t rowBytes = static_cast<std::size_t>(width) * pixel;
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* row = PictureRow(strip, y);
    std::memcpy(row, PictureRow(grab, top + y) + static_cast<std::size_t>(span.Left) * pixel,
                copied);
    std::memset(row + copied, 0, rowBytes - copied);
  }
  FStripTop[k] = top;
}

void TChangeDetector::PlaceFull(TSegmentMovie& movie, const TDIBitmap& picture, bool removeStrips) {
  movie.RemoveObject(0);
  const std::uint32_t shape = movie.AddPicture(picture);
  // Screen row r is stage row r: a picture placed lower would leave the stage's top row empty
  // and push the screen's bottom row off the stage.
  movie.PlaceObject(shape, 0, 0, 0);
  if (removeStrips) {
    for (std::uint16_t d = 1; d <= 100; ++d) movie.RemoveObject(d);
    // Strips of stages taller than 1600 rows stand above depth 100: they must go too, or a
    // stale strip would stay above the new full picture.
    for (std::uint16_t d : FDepthsInUse) {
      if (d > 100) movie.RemoveObject(d);
    }
    FDepthsInUse.clear();
    FShown.assign(FShown.size(), TSpan{});
  }
}

void TChangeDetector::PlaceStrips(TSegmentMovie& movie) {
  for (std::int32_t k = 0; k < static_cast<std::int32_t>(StripPending.size()); ++k) {
    if (!StripPending[k]) continue;
    const std::uint32_t shape = movie.AddPicture(FStrips[k]);
    const std::uint16_t depth = StripDepth(k);
    movie.RemoveObject(depth);
    movie.PlaceObject(shape, depth, FShown[k].Left, FStripTop[k]);
    FDepthsInUse.insert(depth);
    StripPending[k] = false;
  }
}

std::uint16_t TChangeDetector::AdvanceTimeline(TSegmentMovie& movie, std::uint32_t elapsedMs) {
  ElapsedMs = static_cast<std::int32_t>(static_cast<std::uint32_t>(ElapsedMs) + elapsedMs);
  // n = ElapsedMs / 1000 x 12 to the nearest whole number, a half to the even neighbour.
  const std::int64_t scaled = static_cast<std::int64_t>(ElapsedMs) * kFramesPerSecond;
  std::int64_t n = scaled / 1000;
  const std::int64_t rest = scaled % 1000;
  if (rest > 500 || (rest == 500 && (n & 1) != 0)) ++n;
  std::int64_t d = n - LastFrameNumber;
  if (d <= 0) d = 1;
  const std::uint16_t count = static_cast<std::uint16_t>(std::min<std::int64_t>(d, 0xFFFF));
  movie.ShowFrame(count);
  FramesShown += count;
  LastFrameNumber = static_cast<std::int32_t>(n);
  return count;
}

}  // namespace kestrova
