// The frames of a screen stream: a PipeWire stream on the portal's remote, on a thread loop of
// its own, keeping the latest frame (TLatestFrame) and the pointer from the cursor metadata for
// the recorder to pull at its own pace. The compositor sends a frame only when the screen
// changes, so between frames the recorder simply finds nothing new.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/LatestFrame.h"
#include "platform/Platform.h"

namespace kestrova::platform::wayland {

class TPipeWireStream {
 public:
  // Connects to node through remoteFd (taken over: closed with the stream, or at once when this
  // throws). onEnd is called, from the stream's thread, once when the stream ends. Throws
  // std::runtime_error when PipeWire cannot start.
  TPipeWireStream(int remoteFd, std::uint32_t node, std::function<void()> onEnd = {});
  ~TPipeWireStream();
  TPipeWireStream(const TPipeWireStream&) = delete;
  TPipeWireStream& operator=(const TPipeWireStream&) = delete;

  // Waits up to timeoutMs for the first frame; false when none came (or the stream ended).
  bool WaitForFrame(std::uint32_t timeoutMs);
  TLatestFrame& Latest();
  // The size of the latest frame (0 before the first).
  void Size(std::int32_t& width, std::int32_t& height) const;
  // The pointer from the latest cursor metadata; false when none has come.
  bool Cursor(TCursorInfo& info) const;
  bool Ended() const;
  // Why the stream ended, as PipeWire said it (empty while it runs).
  std::string EndReason() const;
  // Frames received, and frames that came without pixels or were refused as malformed.
  std::uint64_t Frames() const;
  std::uint64_t Refused() const;

  struct TImpl;

 private:
  std::unique_ptr<TImpl> F;
};

}  // namespace kestrova::platform::wayland
