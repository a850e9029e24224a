#include "platform/win32/Win32UiCommon.h"

#include <algorithm>
#include <vector>

#include "platform/win32/Win32UiText.h"

namespace kestrova::platform::win32 {

namespace {

// One thread makes and runs every window of the interface, so a plain list will do.
std::vector<HWND>& Dialogs() {
  static std::vector<HWND> dialogs;
  return dialogs;
}

}  // namespace

void RegisterDialog(HWND dialog) {
  Dialogs().push_back(dialog);
}

void UnregisterDialog(HWND dialog) {
  auto& d = Dialogs();
  d.erase(std::remove(d.begin(), d.end(), dialog), d.end());
}

void DispatchUiMessage(MSG& msg) {
  for (HWND d : Dialogs()) {
    if (IsWindowVisible(d) && IsDialogMessageW(d, &msg)) return;
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

bool RunModalLoop(const std::function<bool()>& done) {
  MSG msg;
  while (!done()) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    if (got < 0) return false;
    DispatchUiMessage(msg);
  }
  return true;
}

bool PumpUntil(DWORD deadline, const std::function<bool()>& stop) {
  MSG msg;
  while (!stop()) {
    // Differences, not comparisons: the tick count wraps after 49 days.
    const LONG left = static_cast<LONG>(deadline - GetTickCount());
    if (left <= 0) return true;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
      }
      DispatchUiMessage(msg);
    }
  }
  return true;
}

HFONT MakeFont(const wchar_t* family, int height, bool bold) {
  return CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, family);
}

POINT CentredOrigin(int width, int height) {
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return POINT{work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2};
}

SIZE OuterSize(DWORD style, DWORD exStyle, int width, int height) {
  RECT r{0, 0, width, height};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

}  // namespace kestrova::platform::win32
