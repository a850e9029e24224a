#include "platform/win32/Win32UserInterface.h"

#include "platform/win32/Win32UiCommon.h"
#include "platform/win32/Win32UiExtras.h"
#include "platform/win32/Win32UiPictures.h"
#include "platform/win32/Win32UiServices.h"
#include "platform/win32/Win32UiViews.h"

namespace kestrova::platform::win32 {

struct TWin32UserInterface::TImpl {
  TWin32Input Input;
  std::unique_ptr<TWin32View> ToolView, PausedView;
  std::unique_ptr<TWin32Application> Application;
  std::unique_ptr<TWin32MessageBoxes> MessageBoxes;
  std::unique_ptr<TWin32SaveDialog> SaveDialog;
  std::unique_ptr<TWin32Tray> Tray;
  std::unique_ptr<TWin32SingleInstance> Instance;
  std::unique_ptr<TWin32HotKeys> HotKeys;
  std::unique_ptr<TWin32RegionPicker> RegionPicker;
  std::unique_ptr<TWin32Countdown> Countdown;
  std::unique_ptr<TWin32Settings> Settings;
  std::unique_ptr<TWin32HotKeyDialog> HotKeyDialog;
  HICON Icon = nullptr, SmallIcon = nullptr;
  bool SessionEnding = false;

  // The tool window's messages beyond its components.
  bool OnToolMessage(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
      case WM_HOTKEY:
        Input.Push(TUIEvent{TUIEventKind::HotKey, "", static_cast<int>(w)});
        return true;
      case WM_QUERYENDSESSION:
      case WM_ENDSESSION:
        // Once: the recorder saves what it has and ends. Left unhandled so the system's own
        // answer (yes, end the session) goes back.
        if ((message == WM_QUERYENDSESSION || w != FALSE) && !SessionEnding) {
          SessionEnding = true;
          Input.Push(TUIEvent{TUIEventKind::Destroy, "", 0});
        }
        return false;
      default:
        return Tray != nullptr && Tray->OnMessage(message, w, l);
    }
  }
};

TWin32UserInterface::TWin32UserInterface() : F(std::make_unique<TImpl>()) {
  F->ToolView = std::make_unique<TWin32View>(TWin32View::TKind::ToolWindow, F->Input);
  HWND tool = F->ToolView->Handle();
  F->PausedView = std::make_unique<TWin32View>(TWin32View::TKind::PausedDialog, F->Input, tool);
  F->ToolView->OtherMessages = [this](UINT m, WPARAM w, LPARAM l) {
    return F->OnToolMessage(m, w, l);
  };
  F->Icon = MakeProgramIcon(GetSystemMetrics(SM_CXICON), false);
  F->SmallIcon = MakeProgramIcon(GetSystemMetrics(SM_CXSMICON), false);
  for (HWND w : {tool, F->PausedView->Handle()}) {
    SendMessageW(w, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(F->Icon));
    SendMessageW(w, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(F->SmallIcon));
  }
  // Another instance asks for us: whichever of our windows is up comes to the front.
  F->Application = std::make_unique<TWin32Application>(F->Input, [this] {
    if (F->PausedView->Visible()) {
      F->PausedView->BringToFront();
    } else {
      F->ToolView->BringToFront();
    }
  });
  F->MessageBoxes = std::make_unique<TWin32MessageBoxes>(F->Input);
  F->SaveDialog = std::make_unique<TWin32SaveDialog>(F->Input);
  F->Tray = std::make_unique<TWin32Tray>(F->Input, tool);
  F->Instance = std::make_unique<TWin32SingleInstance>();
  F->HotKeys = std::make_unique<TWin32HotKeys>(tool);
  F->RegionPicker = std::make_unique<TWin32RegionPicker>(F->Input);
  F->Countdown = std::make_unique<TWin32Countdown>(F->Input);
  F->Settings = std::make_unique<TWin32Settings>();
  F->HotKeyDialog = std::make_unique<TWin32HotKeyDialog>(F->Input);
}

TWin32UserInterface::~TWin32UserInterface() {
  // The icon goes before the window its messages go to; the windows before their icons.
  F->Tray.reset();
  F->HotKeys.reset();
  F->Instance.reset();
  F->Application.reset();
  F->PausedView.reset();
  F->ToolView.reset();
  DestroyIcon(F->Icon);
  DestroyIcon(F->SmallIcon);
}

TApplicationHost& TWin32UserInterface::Application() {
  return *F->Application;
}
TView& TWin32UserInterface::ToolWindow() {
  return *F->ToolView;
}
TView& TWin32UserInterface::PausedDialog() {
  return *F->PausedView;
}
TMessageBoxes& TWin32UserInterface::MessageBoxes() {
  return *F->MessageBoxes;
}
TSaveDialog& TWin32UserInterface::SaveDialog() {
  return *F->SaveDialog;
}
TTrayIcon& TWin32UserInterface::Tray() {
  return *F->Tray;
}
TSingleInstance& TWin32UserInterface::Instance() {
  return *F->Instance;
}
THotKeys& TWin32UserInterface::HotKeys() {
  return *F->HotKeys;
}
TRegionPicker& TWin32UserInterface::RegionPicker() {
  return *F->RegionPicker;
}
TCountdown& TWin32UserInterface::Countdown() {
  return *F->Countdown;
}
TSettings& TWin32UserInterface::Settings() {
  return *F->Settings;
}
THotKeyDialog& TWin32UserInterface::HotKeyDialog() {
  return *F->HotKeyDialog;
}

}  // namespace kestrova::platform::win32
