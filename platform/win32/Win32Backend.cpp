#include "platform/win32/Win32Backend.h"

#include <cstdio>
#include <cstdlib>

namespace kestrova::platform::win32 {

namespace {

std::string CapturePathAsked() {
  const char* path = std::getenv("KESTROVA_WIN32_CAPTURE");
  return path != nullptr ? path : "";
}

}  // namespace

TWin32Backend::TWin32Backend()
    // Before any window or grab: the pixel sizes the system reports depend on it.
    : FDpiAwareness(MakeDpiAware()),
      FCapture(CapturePathAsked()),
      FUi(std::make_unique<TWin32UserInterface>()) {
  FPlatform = TPlatform{&FClock,
                        &FUi->Application(),
                        &FUi->Instance(),
                        &FUi->ToolWindow(),
                        &FUi->PausedDialog(),
                        &FUi->MessageBoxes(),
                        &FUi->SaveDialog(),
                        &FUi->Tray(),
                        &FUi->HotKeys(),
                        &FDesktop,
                        &FCapture,
                        &FCursor,
                        &FFiles,
                        &FUi->RegionPicker(),
                        &FUi->Countdown(),
                        &FUi->Settings(),
                        &FUi->HotKeyDialog(),
                        &FSound};
}

TWin32Backend::~TWin32Backend() {
  const char* stats = std::getenv("KESTROVA_WIN32_STATS");
  if (stats == nullptr || *stats == '\0') return;
  const TWin32CaptureStats& s = FCapture.Stats();
  const bool duplication = FCapture.Path() == TWin32Capture::TPath::Duplication;
  std::fprintf(
      stderr,
      "win32: %llu grabs (%llu by desktop duplication, %llu by GDI), %llu blocks changed, "
      "%llu damage rectangles, %llu unchanged; path %s%s%s; DPI awareness %s\n",
      static_cast<unsigned long long>(s.Grabs), static_cast<unsigned long long>(s.DuplicationGrabs),
      static_cast<unsigned long long>(s.GdiGrabs), static_cast<unsigned long long>(s.BlocksChanged),
      static_cast<unsigned long long>(s.RectsReported),
      static_cast<unsigned long long>(s.FramesUnchanged),
      duplication ? "desktop duplication" : "GDI",
      FCapture.WhyNoDuplication().empty() ? "" : " (no duplication: ",
      FCapture.WhyNoDuplication().empty() ? "" : (FCapture.WhyNoDuplication() + ")").c_str(),
      FDpiAwareness);
}

}  // namespace kestrova::platform::win32
