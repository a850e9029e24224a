// The latest frame of a source that is pushed frames as they arrive (a PipeWire stream), kept
// with the damage gathered since the recorder last pulled, so that such a source serves the
// recorder's pull (TCaptureSource::Capture) like any other: frames that came in between are
// not lost as changes, only as pictures.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "media/DIBitmap.h"
#include "platform/Platform.h"

namespace kestrova::platform {

class TLatestFrame {
 public:
  // Rectangles gathered beyond this many become their bounding box: a busy stream must not
  // make the list grow between two pulls.
  static constexpr std::size_t kMaxRects = 64;

  // From the stream's thread: a frame of width x height, 32 bits per pixel, rows top first and
  // stride bytes apart, and what changed since the frame pushed before (All when the stream
  // does not say). Throws std::invalid_argument for a size no picture may have.
  void Push(const std::uint8_t* pixels, std::int32_t width, std::int32_t height, std::size_t stride,
            const TDamage& damage) {
    const std::lock_guard<std::mutex> hold(FLock);
    const bool kept = PrepareFrame(FLatest, width, height);
    const bool all = !kept || damage.All;
    if (all) {
      FPending.SetAll();
      for (std::int32_t y = 0; y < height; ++y) {
        std::memcpy(FLatest.Scanline(y), pixels + static_cast<std::size_t>(y) * stride,
                    static_cast<std::size_t>(width) * 4);
      }
    } else {
      for (const TScreenRect& d : damage.Rects) {
        const TScreenRect r = Clip(d, width, height);
        if (r.Width() <= 0 || r.Height() <= 0) continue;
        for (std::int32_t y = r.Top; y < r.Bottom; ++y) {
          std::memcpy(FLatest.Scanline(y) + 4 * static_cast<std::size_t>(r.Left),
                      pixels + static_cast<std::size_t>(y) * stride + 4 * r.Left,
                      4 * static_cast<std::size_t>(r.Width()));
        }
        Gather(r);
      }
    }
    FHave = true;
  }

  // From the recorder: brings frame up to date with the latest frame as Capture does (frame is
  // what the previous Take left, or empty) and gives what changed since the previous Take. False
  // before the first frame has come.
  bool Take(TDIBitmap& frame, TDamage& damage) {
    const std::lock_guard<std::mutex> hold(FLock);
    damage.Clear();
    if (!FHave) return false;
    const std::int32_t width = FLatest.Width, height = FLatest.Rows();
    if (!PrepareFrame(frame, width, height) || FPending.All) {
      frame.Bits = FLatest.Bits;
      damage.SetAll();
    } else {
      for (const TScreenRect& r : FPending.Rects) {
        for (std::int32_t y = r.Top; y < r.Bottom; ++y) {
          std::memcpy(frame.Scanline(y) + 4 * static_cast<std::size_t>(r.Left),
                      FLatest.Scanline(y) + 4 * static_cast<std::size_t>(r.Left),
                      4 * static_cast<std::size_t>(r.Width()));
        }
      }
      damage = FPending;
    }
    FPending.Clear();
    return true;
  }

 private:
  static TScreenRect Clip(const TScreenRect& r, std::int32_t width, std::int32_t height) {
    return {std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, width),
            std::min(r.Bottom, height)};
  }
  void Gather(const TScreenRect& r) {
    if (FPending.All) return;
    if (FPending.Rects.size() < kMaxRects) {
      FPending.Add(r);
      return;
    }
    TScreenRect box = r;
    for (const TScreenRect& p : FPending.Rects) {
      box = {std::min(box.Left, p.Left), std::min(box.Top, p.Top), std::max(box.Right, p.Right),
             std::max(box.Bottom, p.Bottom)};
    }
    FPending.Rects.assign(1, box);
  }

  std::mutex FLock;
  TDIBitmap FLatest;
  TDamage FPending;  // since the last Take
  bool FHave = false;
};

}  // namespace kestrova::platform
