#include "platform/wayland/WaylandBackend.h"

#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QScreen>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>
#include <utility>

#include "platform/wayland/PipeWireStream.h"
#include "platform/wayland/Portal.h"

namespace kestrova::platform::wayland {

namespace {

std::string WaylandSocket() {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  if (display == nullptr || *display == '\0') return {};
  if (*display == '/') return display;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime == '\0') return {};
  return std::string(runtime) + "/" + display;
}

// The portal's stream with the PipeWire stream on it; the restore token kept for next time.
class TPortalStream : public TScreenStream {
 public:
  TPortalStream(std::uint32_t sourceType, const std::string& tokenFile)
      : FType(sourceType), FTokenFile(tokenFile) {
    TScreenCastRequest request;
    request.SourceType = sourceType;
    request.RestoreToken = ReadToken();
    FPortal = std::make_unique<TPortalScreenCast>(request);
    if (!FPortal->RestoreToken().empty()) WriteToken(FPortal->RestoreToken());
    FCursorApart = FPortal->CursorMode() == kCursorMetadata;
    FStream = std::make_unique<TPipeWireStream>(FPortal->TakeRemoteFd(), FPortal->Node());
  }
  std::uint32_t SourceType() const override { return FType; }
  bool WaitForFrame(std::uint32_t timeoutMs) override { return FStream->WaitForFrame(timeoutMs); }
  TLatestFrame& Latest() override { return FStream->Latest(); }
  void Size(std::int32_t& width, std::int32_t& height) const override {
    FStream->Size(width, height);
  }
  bool Cursor(TCursorInfo& info) const override { return FCursorApart && FStream->Cursor(info); }
  bool Ended() override { return FStream->Ended() || FPortal->Closed(); }
  std::string EndReason() const override {
    return FPortal->Closed() ? "the portal closed the session" : FStream->EndReason();
  }

 private:
  std::string ReadToken() const {
    std::ifstream in(FTokenFile);
    std::string token;
    std::getline(in, token);
    return token;
  }
  // A token lost is only a dialog more next time.
  void WriteToken(const std::string& token) const {
    std::ofstream out(FTokenFile, std::ios::trunc);
    if (out) out << token << "\n";
  }

  std::uint32_t FType;
  std::string FTokenFile;
  std::unique_ptr<TPortalScreenCast> FPortal;
  std::unique_ptr<TPipeWireStream> FStream;
  bool FCursorApart = false;
};

TScreenRect PrimaryScreenRect() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return {};
  const QRect g = screen->geometry();
  const double scale = screen->devicePixelRatio();
  return {0, 0, static_cast<std::int32_t>(g.width() * scale + 0.5),
          static_cast<std::int32_t>(g.height() * scale + 0.5)};
}

}  // namespace

std::string WhyNoWaylandDesktop() {
  const std::string socket = WaylandSocket();
  if (socket.empty()) return "WAYLAND_DISPLAY is not set";
  struct stat st {};
  if (::stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) {
    return "no Wayland compositor listens at " + socket;
  }
  try {
    ProbeScreenCast();
  } catch (const EPortalError& e) {
    return e.what();
  }
  return {};
}

std::uint32_t TSteadyClock::TickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void TSteadyClock::Sleep(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string TWaylandFileLocations::MakeRecordingFolder() {
  FScreen.Prepare();
  return TPosixFileLocations::MakeRecordingFolder();
}

const char* const TWaylandHotKeys::kNoHotKey =
    "Ctrl+Alt+S is not available on this desktop (Wayland lets no program take a key for "
    "itself). To stop a recording use the tray icon, the tool window, kestrova record "
    "--seconds, or a keyboard shortcut in the desktop's settings that runs kestrova stop.";

std::string PortalTrigger(std::uint32_t modifiers, std::uint32_t key) {
  std::string keyName;
  if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) {
    keyName = std::string(1, static_cast<char>(std::tolower(static_cast<int>(key))));
  } else if (key >= 0x70 && key <= 0x7B) {  // F1..F12
    keyName = "F" + std::to_string(key - 0x70 + 1);
  } else {
    return {};
  }
  std::string trigger;
  const std::pair<std::uint32_t, const char*> names[] = {
      {kModControl, "CTRL"}, {kModAlt, "ALT"}, {0x4, "SHIFT"}, {0x8, "LOGO"}};
  for (const auto& [bit, name] : names) {
    if ((modifiers & bit) != 0) trigger += std::string(name) + "+";
  }
  return trigger + keyName;
}

TWaylandHotKeys::TWaylandHotKeys(std::function<void(const std::string&)> tell,
                                 std::function<void(std::uint16_t)> pressed)
    : FTell(std::move(tell)), FPressed(std::move(pressed)) {}

TWaylandHotKeys::~TWaylandHotKeys() = default;

bool TWaylandHotKeys::Register(std::uint16_t id, std::uint32_t modifiers, std::uint32_t key) {
  FBound.erase(id);
  const std::string trigger = PortalTrigger(modifiers, key);
  std::string why;
  if (!trigger.empty() && HasGlobalShortcuts()) {
    try {
      FBound[id] =
          std::make_unique<TPortalShortcut>("stop-recording", "Stop the recording and save it",
                                            trigger, [this, id] { FPressed(id); });
      return true;
    } catch (const EPortalError& e) {
      why = std::string(" (") + e.what() + ")";
    }
  }
  if (!FTold && FTell) FTell(kNoHotKey + why);
  FTold = true;
  return true;
}

void TWaylandHotKeys::Unregister(std::uint16_t id) {
  FBound.erase(id);
}

TWaylandBackend::TWaylandBackend() {
  // Qt's own choice may be X11 through XWayland, whose windows the portal sees as any other.
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "wayland", 1);
  FUi = std::make_unique<qt::TQtUserInterface>();
  const char* display = std::getenv("WAYLAND_DISPLAY");
  FUi->SetInstanceScope(display != nullptr ? display : "wayland");
  FInputFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  TWaylandScreenCast::THooks hooks;
  hooks.ScreenRect = PrimaryScreenRect;
  hooks.Tell = [this](const std::string& m) { Tell(m); };
  hooks.RequestStop = [this] { Post(TUIEvent{TUIEventKind::StopRequest, "", 0}); };
  hooks.Open = [this](std::uint32_t type) -> std::unique_ptr<TScreenStream> {
    const std::string tokenFile = FFiles->StateFolder() + "/portal-" +
                                  (type == kSourceWindow ? "window" : "monitor") + ".token";
    return std::make_unique<TPortalStream>(type, tokenFile);
  };
  FScreen = std::make_unique<TWaylandScreenCast>(std::move(hooks));
  FFiles = std::make_unique<TWaylandFileLocations>(*FScreen);
  FHotKeys = std::make_unique<TWaylandHotKeys>([this](const std::string& m) { Tell(m); },
                                               [this](std::uint16_t id) {
                                                 Post(TUIEvent{TUIEventKind::HotKey, "", id});
                                               });
  if (FInputFd >= 0) {
    FUi->AddInputSource(FInputFd, [this] {
      std::uint64_t count = 0;
      (void)!::read(FInputFd, &count, sizeof count);
      return std::exchange(FInput, {});
    });
  }
  FPlatform = TPlatform{&FClock,
                        &FUi->Application(),
                        &FUi->Instance(),
                        &FUi->ToolWindow(),
                        &FUi->PausedDialog(),
                        &FUi->MessageBoxes(),
                        &FUi->SaveDialog(),
                        &FUi->Tray(),
                        FHotKeys.get(),
                        FScreen.get(),
                        FScreen.get(),
                        FScreen.get(),
                        FFiles.get(),
                        &FUi->RegionPicker(),
                        &FUi->Countdown(),
                        &FUi->Settings(),
                        &FUi->HotKeyDialog()};
#ifdef KESTROVA_HAVE_PULSE
  FPlatform.Sound = &FSound;
#endif
}

TWaylandBackend::~TWaylandBackend() {
  // The stream's thread stops and the portal's session closes while Qt is still there.
  FScreen->Release();
  FHotKeys.reset();
  if (FInputFd >= 0) ::close(FInputFd);
}

// Everything posted runs on the Qt thread (the portal's signals, the capture loop): the pump
// takes the events from there.
void TWaylandBackend::Post(const TUIEvent& event) {
  FInput.push_back(event);
  const std::uint64_t one = 1;
  if (FInputFd >= 0) (void)!::write(FInputFd, &one, sizeof one);
}

// Said on the terminal and beside the tray icon: on Wayland there is no other place that every
// desktop shows.
void TWaylandBackend::Tell(const std::string& message) {
  std::cerr << "kestrova: " << message << "\n";
  FUi->Tray().Notify("Kestrova", message);
}

}  // namespace kestrova::platform::wayland
