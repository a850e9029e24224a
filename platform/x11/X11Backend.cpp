#include "platform/x11/X11Backend.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace kestrova::platform::x11 {

std::uint32_t TMonotonicClock::TickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void TMonotonicClock::Sleep(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TX11Backend::TX11Backend(const char* displayName)
    : FDisplay(AdoptOrOpenDisplay(displayName)),
      FCursor(*FDisplay),
      FGrabber(*FDisplay),
      FDesktop(*FDisplay),
      FHotKeys(*FDisplay),
      FUi(std::make_unique<qt::TQtUserInterface>()) {
  FUi->SetInstanceScope(FDisplay->Name());
  FUi->AddInputSource(FDisplay->ConnectionFd(), [this] {
    std::vector<TUIEvent> events;
    for (std::uint16_t id : FHotKeys.TakePressed()) {
      events.push_back(TUIEvent{TUIEventKind::HotKey, "", id});
    }
    return events;
  });
  FPlatform = TPlatform{&FClock,
                        &FUi->Application(),
                        &FUi->Instance(),
                        &FUi->ToolWindow(),
                        &FUi->PausedDialog(),
                        &FUi->MessageBoxes(),
                        &FUi->SaveDialog(),
                        &FUi->Tray(),
                        &FHotKeys,
                        &FDesktop,
                        &FGrabber,
                        &FCursor,
                        &FFiles,
                        &FUi->RegionPicker(),
                        &FUi->Countdown(),
                        &FUi->Settings(),
                        &FUi->HotKeyDialog()};
#ifdef KESTROVA_HAVE_PULSE
  FPlatform.Sound = &FSound;
#endif
}

TX11Backend::~TX11Backend() {
  // For the benchmark: how many grabs there were and how much of them changed.
  const char* stats = std::getenv("KESTROVA_X11_STATS");
  if (stats == nullptr || *stats == '\0') return;
  const TX11GrabStats& s = FGrabber.Stats();
  std::fprintf(stderr, "x11: %llu grabs, %llu blocks changed, %llu kept, %llu not fetched, %s%s\n",
               static_cast<unsigned long long>(s.Grabs),
               static_cast<unsigned long long>(s.BlocksChanged),
               static_cast<unsigned long long>(s.BlocksKept),
               static_cast<unsigned long long>(s.FetchesSkipped),
               FGrabber.UsingShm() ? "shared memory" : "XGetImage",
               FGrabber.UsingDamage() ? ", damage" : "");
}

}  // namespace kestrova::platform::x11
