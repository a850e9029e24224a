#include "platform/win32/Win32Desktop.h"

#include <windows.h>

namespace kestrova::platform::win32 {

namespace {

HWND Handle(TWindowHandle window) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));
}

}  // namespace

TScreenRect TWin32Desktop::DesktopRect() {
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  return {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN),
          top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

TWindowHandle TWin32Desktop::ForegroundWindow() {
  return static_cast<TWindowHandle>(reinterpret_cast<std::uintptr_t>(GetForegroundWindow()));
}

bool TWin32Desktop::IsWindowVisible(TWindowHandle window) {
  return window != 0 && ::IsWindowVisible(Handle(window)) != FALSE;
}

bool TWin32Desktop::IsMinimised(TWindowHandle window) {
  return window != 0 && IsIconic(Handle(window)) != FALSE;
}

bool TWin32Desktop::IsMaximised(TWindowHandle window) {
  return window != 0 && IsZoomed(Handle(window)) != FALSE;
}

std::optional<TScreenRect> TWin32Desktop::WindowRect(TWindowHandle window) {
  RECT r{};
  if (window == 0 || !IsWindow(Handle(window)) || !GetWindowRect(Handle(window), &r)) {
    return std::nullopt;
  }
  return TScreenRect{r.left, r.top, r.right, r.bottom};
}

std::uint32_t TWin32Clock::TickCount() {
  return GetTickCount();
}

void TWin32Clock::Sleep(std::uint32_t ms) {
  ::Sleep(ms);
}

const char* MakeDpiAware() {
  // Looked up by name: older systems have neither function, and linking them would stop the
  // program from starting there.
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  using TSetContext = BOOL(WINAPI*)(HANDLE);
  using TSetAware = BOOL(WINAPI*)();
  if (user32 != nullptr) {
    auto setContext = reinterpret_cast<TSetContext>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    if (setContext != nullptr && setContext(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4)))) {
      return "per-monitor";
    }
    auto setAware = reinterpret_cast<TSetAware>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDPIAware")));
    if (setAware != nullptr && setAware()) return "system";
  }
  return "none";
}

}  // namespace kestrova::platform::win32
