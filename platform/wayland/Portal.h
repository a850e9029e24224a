// The desktop portal's ScreenCast interface over the session bus: the user's consent and choice
// of a monitor or a window, and the PipeWire remote that carries the frames. Each call that
// returns a Request is answered through that Request's Response signal; every wait has a limit.
// The session is closed when the object goes, however its use ended.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace kestrova::platform::wayland {

// One line the user can act on: no portal, no ScreenCast, the dialog cancelled, no answer.
class EPortalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Bits of AvailableSourceTypes and AvailableCursorModes (and of what is asked for).
inline constexpr std::uint32_t kSourceMonitor = 1;
inline constexpr std::uint32_t kSourceWindow = 2;
inline constexpr std::uint32_t kCursorHidden = 1;
inline constexpr std::uint32_t kCursorEmbedded = 2;
inline constexpr std::uint32_t kCursorMetadata = 4;

// What the portal offers, read before anything is asked of it.
struct TScreenCastOffer {
  std::uint32_t Version = 0;
  std::uint32_t SourceTypes = 0;
  std::uint32_t CursorModes = 0;
};

// Reads what the portal's ScreenCast offers. Throws EPortalError when there is no session bus,
// no portal, or a portal without ScreenCast. Needs a Qt application object.
TScreenCastOffer ProbeScreenCast();

// The cursor mode to ask for: the pointer apart (metadata) where offered, else drawn into the
// frames, else none. 0 when the portal offers no mode at all (an old portal: ask for none).
std::uint32_t ChooseCursorMode(std::uint32_t available);

struct TScreenCastRequest {
  std::uint32_t SourceType = kSourceMonitor;  // kSourceMonitor or kSourceWindow
  std::string RestoreToken;                   // from an earlier session: no dialog when it holds
};

// Seconds each step may take: the dialog waits for the user, the rest for the portal alone.
struct TPortalTimeouts {
  int CallSeconds = 30;
  int DialogSeconds = 300;
};

class TPortalScreenCast {
 public:
  // Runs CreateSession, SelectSources and Start (the dialog, unless the restore token holds),
  // then OpenPipeWireRemote. Throws EPortalError saying what went wrong; the session is closed
  // then.
  TPortalScreenCast(const TScreenCastRequest& request, const TPortalTimeouts& timeouts = {});
  ~TPortalScreenCast();
  TPortalScreenCast(const TPortalScreenCast&) = delete;
  TPortalScreenCast& operator=(const TPortalScreenCast&) = delete;

  // The PipeWire remote (owned: whoever takes it closes it), and the stream's node.
  int TakeRemoteFd();
  std::uint32_t Node() const;
  std::uint32_t CursorMode() const;
  // The stream's size as the portal told it (0 when it did not).
  std::int32_t Width() const;
  std::int32_t Height() const;
  // What to pass next time to skip the dialog (empty when the portal gave none).
  const std::string& RestoreToken() const;
  // True once the portal closed the session (the user stopped sharing, the screen locked);
  // seen only while the Qt event loop runs.
  bool Closed() const;
  void Close();

  struct TImpl;

 private:
  std::unique_ptr<TImpl> F;
};

// True when the portal has GlobalShortcuts (a key of the program's own, bound by the desktop).
bool HasGlobalShortcuts();

// One desktop-wide shortcut bound through the portal's GlobalShortcuts for as long as the object
// lives; activated runs (on the Qt thread, while its event loop runs) each time it is pressed.
class TPortalShortcut {
 public:
  // preferredTrigger in the portal's notation ("CTRL+ALT+s"); the desktop may ask the user or
  // pick another. Throws EPortalError when the portal has no GlobalShortcuts or refuses.
  TPortalShortcut(const std::string& id, const std::string& description,
                  const std::string& preferredTrigger, std::function<void()> activated);
  ~TPortalShortcut();
  TPortalShortcut(const TPortalShortcut&) = delete;
  TPortalShortcut& operator=(const TPortalShortcut&) = delete;

  struct TImpl;

 private:
  std::unique_ptr<TImpl> F;
};

}  // namespace kestrova::platform::wayland
