// What the pieces of the Win32 user interface share: the input queue between the window
// procedures and the recorder's handler, text conversion, the message pump's dispatch (with the
// dialog manager's keyboard handling) and a modal loop.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>
// The hot key interface's AddAtom is ours, not the system's A/W pair (and the recorder, which
// calls it, sees no windows.h).
#undef AddAtom

#include <deque>
#include <functional>
#include <string>

#include "platform/Platform.h"
#include "platform/win32/Win32Text.h"

namespace kestrova::platform::win32 {

// The tray icon's callback message, as the recorder's tables know it (WM_USER + 1).
inline constexpr UINT kTrayMessage = WM_USER + 1;

// Between the window procedures, which only queue, and the recorder's handler, which the pump
// calls. Input is dropped while one of our modal windows is open (the user is busy with it),
// except the end of the session: that must reach the recorder once the modal window closes.
class TWin32Input {
 public:
  void Push(TUIEvent event) {
    if (FModalDepth == 0 || event.Kind == TUIEventKind::Destroy) {
      FPending.push_back(std::move(event));
      // A message sent from another thread or process (the tray's callback) is handled inside
      // GetMessage, which then goes on waiting: a posted message makes it return to the pump.
      PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
    }
  }
  bool Empty() const { return FPending.empty(); }
  TUIEvent Take() {
    TUIEvent e = std::move(FPending.front());
    FPending.pop_front();
    return e;
  }
  int ModalDepth() const { return FModalDepth; }

  class TModalScope {
   public:
    explicit TModalScope(TWin32Input& q) : Q(q) { ++Q.FModalDepth; }
    ~TModalScope() { --Q.FModalDepth; }
    TModalScope(const TModalScope&) = delete;
    TModalScope& operator=(const TModalScope&) = delete;

   private:
    TWin32Input& Q;
  };

 private:
  std::deque<TUIEvent> FPending;
  int FModalDepth = 0;
};

// Dialogs whose keyboard input (Tab, arrows, Space on a radio button) goes through the dialog
// manager. Registered by the window that makes the dialog, for as long as it exists.
void RegisterDialog(HWND dialog);
void UnregisterDialog(HWND dialog);

// Hands one message to its window, through the dialog manager when it is a registered dialog's.
void DispatchUiMessage(MSG& msg);

// Dispatches messages until done() is true. A WM_QUIT is put back for the outer loop and ends
// this one. Returns whether done() became true.
bool RunModalLoop(const std::function<bool()>& done);

// Dispatches messages until the tick count reaches deadline or stop() is true; false when a
// WM_QUIT ended it (put back for the outer loop).
bool PumpUntil(DWORD deadline, const std::function<bool()>& stop);

// A font of a pixel height (negative: the character height, as the forms give it).
HFONT MakeFont(const wchar_t* family, int height, bool bold = false);

// The rectangle of the desktop's work area's centre for a window of this outer size.
POINT CentredOrigin(int width, int height);

// A window's outer size for a client area of width x height with these styles.
SIZE OuterSize(DWORD style, DWORD exStyle, int width, int height);

}  // namespace kestrova::platform::win32
