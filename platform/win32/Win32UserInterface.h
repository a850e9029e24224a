// The recorder's user interface in Win32: the tool window and the paused dialog as dialogs, message
// boxes, the save dialog, the tray icon, the global hot key, the named mutex of the single
// instance, the region picker, the countdown, the hot key dialog and the settings, behind the same
// interfaces as the simulated desktop and the Qt interface.
//
// Everything lives on the thread that made it, whose message queue delivers the input: clicks,
// the tray icon's callback message, WM_HOTKEY, activation and closing are queued as TUIEvents and
// handed to the recorder's handler from the pump (RunMessageLoop, ProcessMessages), one at a
// time, never from inside a window procedure. Input that arrives while a modal window is open is
// dropped, except the end of the session (WM_ENDSESSION, WM_CLOSE of the tool window from outside),
// which arrives as TUIEventKind::Destroy.
#pragma once

#include <memory>

#include "platform/Platform.h"

namespace kestrova::platform::win32 {

class TWin32UserInterface {
 public:
  // Registers the window classes and makes the (hidden) tool window and paused dialog. Throws
  // std::runtime_error when the windows cannot be made.
  TWin32UserInterface();
  ~TWin32UserInterface();
  TWin32UserInterface(const TWin32UserInterface&) = delete;
  TWin32UserInterface& operator=(const TWin32UserInterface&) = delete;

  TApplicationHost& Application();
  TView& ToolWindow();
  TView& PausedDialog();
  TMessageBoxes& MessageBoxes();
  TSaveDialog& SaveDialog();
  TTrayIcon& Tray();
  TSingleInstance& Instance();
  // RegisterHotKey on the tool window; WM_HOTKEY comes back as TUIEventKind::HotKey.
  THotKeys& HotKeys();
  TRegionPicker& RegionPicker();
  TCountdown& Countdown();
  // Kept in %LOCALAPPDATA%\Kestrova\kestrova.conf (key=value lines).
  TSettings& Settings();
  THotKeyDialog& HotKeyDialog();

  struct TImpl;

 private:
  std::unique_ptr<TImpl> F;
};

}  // namespace kestrova::platform::win32
