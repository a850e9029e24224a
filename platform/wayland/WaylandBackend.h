// A Wayland desktop as a backend: the screen through the desktop portal and PipeWire, the user
// interface in Qt 6 (natively on Wayland), the recorder's files where a Linux desktop keeps them.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/PosixFiles.h"
#include "platform/Registry.h"
#include "platform/qt/QtUserInterface.h"
#include "platform/wayland/Portal.h"
#include "platform/wayland/WaylandScreenCast.h"
#ifdef KESTROVA_HAVE_PULSE
#include "platform/pulse/PulseSoundSource.h"
#endif

namespace kestrova::platform::wayland {

// Empty when a Wayland desktop is there to record (WAYLAND_DISPLAY names a live socket and the
// portal offers ScreenCast), else why not, in one line.
std::string WhyNoWaylandDesktop();

// Milliseconds of the monotonic clock, and plain sleeping.
class TSteadyClock : public TClock {
 public:
  std::uint32_t TickCount() override;
  void Sleep(std::uint32_t ms) override;
};

// The recorder's files as on every Linux desktop; the recording's folder is made only once the
// portal has started the stream, so that a refusal (the dialog cancelled) leaves nothing behind
// and reaches the user as the reason the recording could not start.
class TWaylandFileLocations : public TPosixFileLocations {
 public:
  explicit TWaylandFileLocations(TWaylandScreenCast& screen) : FScreen(screen) {}
  TWaylandFileLocations(TWaylandScreenCast& screen, TGetEnv getEnv)
      : TPosixFileLocations(std::move(getEnv)), FScreen(screen) {}
  std::string MakeRecordingFolder() override;

 private:
  TWaylandScreenCast& FScreen;
};

// A global hot key on Wayland is the desktop's to give: the portal's GlobalShortcuts binds it where
// the desktop has that. Where it cannot, registering succeeds as a no-op (the key is not taken by
// anyone else: the recorder's "held by another program" would be wrong) and the user is told once
// how else to stop.
class TWaylandHotKeys : public THotKeys {
 public:
  // tell: says something to the user; pressed: a bound key was pressed (its identifier).
  TWaylandHotKeys(std::function<void(const std::string&)> tell,
                  std::function<void(std::uint16_t)> pressed);
  ~TWaylandHotKeys() override;
  std::uint16_t AddAtom(const std::string&) override { return ++FNext; }
  void DeleteAtom(std::uint16_t) override {}
  bool Register(std::uint16_t id, std::uint32_t modifiers, std::uint32_t key) override;
  void Unregister(std::uint16_t id) override;
  static const char* const kNoHotKey;

 private:
  std::function<void(const std::string&)> FTell;
  std::function<void(std::uint16_t)> FPressed;
  std::map<std::uint16_t, std::unique_ptr<TPortalShortcut>> FBound;
  std::uint16_t FNext = 0;
  bool FTold = false;
};

// The portal's notation of a hot key ("CTRL+ALT+s"); empty for a key it has no name for.
std::string PortalTrigger(std::uint32_t modifiers, std::uint32_t key);

class TWaylandBackend : public TPlatformBackend {
 public:
  // Throws std::runtime_error when Qt cannot start.
  TWaylandBackend();
  ~TWaylandBackend() override;
  const char* Name() const override { return "wayland"; }
  TPlatform& Platform() override { return FPlatform; }
  TWaylandScreenCast& Screen() { return *FScreen; }
  qt::TQtUserInterface& UserInterface() { return *FUi; }

 private:
  void Tell(const std::string& message);
  void Post(const TUIEvent& event);

  std::unique_ptr<qt::TQtUserInterface> FUi;
  std::unique_ptr<TWaylandScreenCast> FScreen;
  std::unique_ptr<TWaylandFileLocations> FFiles;
  std::unique_ptr<TWaylandHotKeys> FHotKeys;
  TSteadyClock FClock;
  int FInputFd = -1;  // written when input below is waiting for the pump
  std::vector<TUIEvent> FInput;
#ifdef KESTROVA_HAVE_PULSE
  pulse::TPulseSoundSource FSound;  // its end ticks count FClock's milliseconds
#endif
  TPlatform FPlatform;
};

}  // namespace kestrova::platform::wayland
