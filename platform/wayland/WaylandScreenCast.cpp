#include "platform/wayland/WaylandScreenCast.h"

#include <stdexcept>

#include "platform/wayland/Portal.h"
#include "platform/wayland/StreamPixels.h"

namespace kestrova::platform::wayland {

const char* const TWaylandScreenCast::kStreamEnded =
    "The screen stream ended (the screen was locked or sharing was stopped): the recording is "
    "stopped and what was recorded is saved.";

TWaylandScreenCast::TWaylandScreenCast(THooks hooks) : FHooks(std::move(hooks)) {}

TWaylandScreenCast::~TWaylandScreenCast() = default;

void TWaylandScreenCast::Prepare() {
  const std::uint32_t type = FWindowAsked ? kSourceWindow : kSourceMonitor;
  FWindowAsked = false;
  // A fresh session for each recording: the user may have closed the window shared last, and
  // the restore token spares the dialog where the choice is the same.
  Release();
  std::unique_ptr<TScreenStream> stream = FHooks.Open(type);
  if (!stream) throw std::runtime_error("The screen stream could not be started.");
  if (!stream->WaitForFrame(kFirstFrameTimeoutMs)) {
    const std::string why = stream->EndReason();
    throw std::runtime_error("The desktop sent no picture of the screen within " +
                             std::to_string(kFirstFrameTimeoutMs / 1000) + " seconds" +
                             (why.empty() ? "" : " (" + why + ")") + ".");
  }
  FStream = std::move(stream);
  FEndTold = false;
}

void TWaylandScreenCast::Release() {
  FStream.reset();
  FFull = TDIBitmap{};
  FCropping = false;
}

void TWaylandScreenCast::CheckEnded() {
  if (FEndTold || !FStream->Ended()) return;
  FEndTold = true;
  // A window's end is the recorder's to tell (the window it records is gone); a monitor's is
  // not something it can see.
  if (FStream->SourceType() == kSourceWindow) return;
  if (FHooks.Tell) FHooks.Tell(kStreamEnded);
  if (FHooks.RequestStop) FHooks.RequestStop();
}

bool TWaylandScreenCast::Capture(TWindowHandle window, const TScreenRect& rect, TDIBitmap& frame,
                                 TDamage& damage) {
  damage.Clear();
  if (!FStream) return false;
  if (window != 0 && (window != kPortalWindow || FStream->SourceType() != kSourceWindow)) {
    return false;
  }
  CheckEnded();
  std::int32_t width = 0, height = 0;
  FStream->Size(width, height);
  const bool whole =
      rect.Left == 0 && rect.Top == 0 && rect.Width() == width && rect.Height() == height;
  if (whole) {
    if (FCropping) {
      FCropping = false;
      frame = TDIBitmap{};
    }
    return FStream->Latest().Take(frame, damage);
  }
  if (!FCropping) {
    // What the whole frame missed while it was taken straight: start it afresh.
    FCropping = true;
    FFull = TDIBitmap{};
    frame = TDIBitmap{};
  }
  TDamage fullDamage;
  if (!FStream->Latest().Take(FFull, fullDamage)) return false;
  return CropFrame(FFull, fullDamage, rect, frame, damage);
}

bool TWaylandScreenCast::GetCursor(TCursorInfo& info) {
  if (!FStream) return false;
  if (FStream->Cursor(info)) return true;
  info.Showing = false;
  return true;
}

TScreenRect TWaylandScreenCast::DesktopRect() {
  if (FStream) {
    std::int32_t width = 0, height = 0;
    FStream->Size(width, height);
    if (width > 0 && height > 0) return {0, 0, width, height};
  }
  return FHooks.ScreenRect ? FHooks.ScreenRect() : TScreenRect{};
}

TWindowHandle TWaylandScreenCast::ForegroundWindow() {
  FWindowAsked = true;
  return kPortalWindow;
}

bool TWaylandScreenCast::IsWindowVisible(TWindowHandle window) {
  if (window != kPortalWindow) return false;
  if (FWindowAsked) return true;  // the portal asks for it when the recording starts
  return FStream && FStream->SourceType() == kSourceWindow && !FStream->Ended();
}

std::optional<TScreenRect> TWaylandScreenCast::WindowRect(TWindowHandle window) {
  if (window != kPortalWindow || !FStream || FStream->SourceType() != kSourceWindow) {
    return std::nullopt;
  }
  std::int32_t width = 0, height = 0;
  FStream->Size(width, height);
  if (width <= 0 || height <= 0) return std::nullopt;
  // A Wayland client never learns where a window is: its own pixels stand at the origin.
  return TScreenRect{0, 0, width, height};
}

}  // namespace kestrova::platform::wayland
