// The screen of a Wayland desktop as the recorder sees it: frames and the pointer from a screen
// stream the desktop portal starts, and a desktop whose only window is the one the user picks in
// the portal's dialog. The recorder asks for the active window without knowing that no program
// may see it on Wayland: the answer is a stand-in (kPortalWindow), and the portal asks the user
// which window it is when the recording starts.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/LatestFrame.h"
#include "platform/Platform.h"

namespace kestrova::platform::wayland {

// The window the portal lets the user pick.
inline constexpr TWindowHandle kPortalWindow = 1;

// One screen stream the portal started (a monitor or a window).
class TScreenStream {
 public:
  virtual ~TScreenStream() = default;
  virtual std::uint32_t SourceType() const = 0;  // kSourceMonitor or kSourceWindow
  // Waits up to timeoutMs for the first frame; false when none came.
  virtual bool WaitForFrame(std::uint32_t timeoutMs) = 0;
  virtual TLatestFrame& Latest() = 0;
  virtual void Size(std::int32_t& width, std::int32_t& height) const = 0;
  // The pointer apart from the frames; false when the frames carry it or it is not known.
  virtual bool Cursor(TCursorInfo& info) const = 0;
  // The stream has ended (the window closed, the screen locked, the user stopped sharing).
  virtual bool Ended() = 0;
  // Why, for the log (empty when not known).
  virtual std::string EndReason() const { return {}; }
};

// Opens a stream of sourceType (kSourceMonitor or kSourceWindow). Throws std::runtime_error
// (EPortalError) with one line for the user when it cannot.
using TStreamOpener = std::function<std::unique_ptr<TScreenStream>(std::uint32_t sourceType)>;

class TWaylandScreenCast : public TCaptureSource, public TCursorSource, public TDesktop {
 public:
  struct THooks {
    TStreamOpener Open;
    // The screen's size in device pixels before any stream says it.
    std::function<TScreenRect()> ScreenRect;
    // Tells the user something that went wrong while recording (once per stream).
    std::function<void(const std::string&)> Tell;
    // Asks the running recording to stop and be saved.
    std::function<void()> RequestStop;
  };
  explicit TWaylandScreenCast(THooks hooks);
  ~TWaylandScreenCast() override;

  // Starts the stream the coming recording needs: the window the user picks when the active
  // window was asked for since the last start, else the monitor. Waits for its first frame.
  // Throws std::runtime_error with one line for the user when there is none.
  void Prepare();
  // Lets the stream go (the program ends, or tests).
  void Release();
  bool Streaming() const { return FStream != nullptr; }

  // TCaptureSource. A stream that ended keeps its last frame: the recording goes on showing it
  // until it is stopped, and what was recorded is saved.
  bool Capture(TWindowHandle window, const TScreenRect& rect, TDIBitmap& frame,
               TDamage& damage) override;
  // TCursorSource: the pointer from the stream's metadata, or not shown when the frames carry it.
  bool GetCursor(TCursorInfo& info) override;
  // TDesktop.
  TScreenRect DesktopRect() override;
  TWindowHandle ForegroundWindow() override;
  bool IsWindowVisible(TWindowHandle window) override;
  bool IsMinimised(TWindowHandle) override { return false; }
  bool IsMaximised(TWindowHandle) override { return false; }
  std::optional<TScreenRect> WindowRect(TWindowHandle window) override;

  // What the user is told when a monitor's stream ends while recording.
  static const char* const kStreamEnded;

 private:
  void CheckEnded();

  THooks FHooks;
  std::unique_ptr<TScreenStream> FStream;
  bool FWindowAsked = false;
  bool FEndTold = false;
  // A region is cut from the whole frame, kept here between captures.
  TDIBitmap FFull;
  bool FCropping = false;
};

// The first frame may take this long after the portal has started the stream.
inline constexpr std::uint32_t kFirstFrameTimeoutMs = 5000;

}  // namespace kestrova::platform::wayland
