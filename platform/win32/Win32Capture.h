// Frames of the Windows desktop: the desktop duplication of DXGI (Windows 8 and later) where it
// can be had, whose dirty rectangles are the damage; GDI otherwise (a BitBlt of the screen's or
// the window's device context into a 32-bit top-down DIB section, compared with the previous
// frame in blocks for exact damage). The choice is made when the source is made and again when
// the duplication is lost (a mode change, the secure desktop); which path ran is told by Path().
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace kestrova::platform::win32 {

struct TWin32CaptureStats {
  std::uint64_t Grabs = 0;     // captures asked for
  std::uint64_t GdiGrabs = 0;  // of which by BitBlt
  std::uint64_t DuplicationGrabs = 0;
  std::uint64_t BlocksChanged = 0;    // GDI: blocks found changed
  std::uint64_t RectsReported = 0;    // damage rectangles handed over
  std::uint64_t FramesUnchanged = 0;  // captures with empty damage
};

class TWin32Capture : public TCaptureSource {
 public:
  enum class TPath { Gdi, Duplication };
  // path: "gdi" forces GDI, "dxgi" asks for the duplication (GDI still takes over where it cannot
  // run), empty picks the duplication where it runs. Throws std::runtime_error when GDI cannot
  // make its drawing context.
  explicit TWin32Capture(const std::string& path = {});
  ~TWin32Capture() override;
  TWin32Capture(const TWin32Capture&) = delete;
  TWin32Capture& operator=(const TWin32Capture&) = delete;

  // The whole screen (window 0) through the duplication when rect is the duplicated output,
  // else by BitBlt of the screen's device context at rect; a window through its own device
  // context (its own pixels, even where other windows cover it, as far as the system keeps them).
  bool Capture(TWindowHandle window, const TScreenRect& rect, TDIBitmap& frame,
               TDamage& damage) override;

  // The path of the last full-screen capture (the duplication when it is open, before any).
  TPath Path() const;
  // Why the duplication is not used (empty when it is).
  const std::string& WhyNoDuplication() const { return FWhyNoDuplication; }
  const TWin32CaptureStats& Stats() const { return FStats; }

 private:
  class TGdi;
  class TDuplication;
  bool CaptureGdi(TWindowHandle window, const TScreenRect& rect, TDIBitmap& frame, TDamage& damage,
                  bool full);

  std::unique_ptr<TGdi> FGdi;
  std::unique_ptr<TDuplication> FDuplication;
  bool FWantDuplication = true;
  std::string FWhyNoDuplication;
  TPath FLastPath = TPath::Gdi;
  bool FHavePrevious = false;
  TWindowHandle FLastWindow = 0;
  TScreenRect FLastRect;
  TPath FPreviousPath = TPath::Gdi;
  TWin32CaptureStats FStats;
};

}  // namespace kestrova::platform::win32
