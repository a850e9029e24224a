// A stand-in for the Win32 user interface while its dialogs are not in this build: the parts a
// recording from the command line needs (the message pump, the hot key, the named mutex) work;
// every window, dialog and question refuses with "the Win32 user interface is not built".
#include <windows.h>

#include <stdexcept>

#include "platform/win32/Win32Text.h"
#include "platform/win32/Win32UserInterface.h"

namespace kestrova::platform::win32 {

namespace {

[[noreturn]] void NotBuilt() {
  throw std::runtime_error("the Win32 user interface is not built");
}

class TStubApplication : public TApplicationHost {
 public:
  void SetTitle(const std::string& title) override { FTitle = title; }
  std::string Title() const override { return FTitle; }
  void SetEventHandler(TUIEventHandler handler) override { FHandler = std::move(handler); }
  void RunMessageLoop() override { NotBuilt(); }
  void Terminate() override { FTerminated = true; }
  bool Terminated() const override { return FTerminated; }
  void ProcessMessages() override {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_HOTKEY && FHandler) {
        FHandler(TUIEvent{TUIEventKind::HotKey, "", static_cast<int>(msg.wParam)});
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  [[noreturn]] void Halt(int exitCode) override { ExitProcess(static_cast<UINT>(exitCode)); }

 private:
  std::string FTitle;
  TUIEventHandler FHandler;
  bool FTerminated = false;
};

class TStubInstance : public TSingleInstance {
 public:
  ~TStubInstance() override { Release(); }
  bool Acquire(const std::string& name) override {
    Release();
    FMutex = CreateMutexW(nullptr, TRUE, Utf16(name).c_str());
    if (FMutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) Release();
    return FMutex != nullptr;
  }
  bool BringForward(const std::string&) override { return false; }
  void Release() override {
    if (FMutex != nullptr) CloseHandle(FMutex);
    FMutex = nullptr;
  }

 private:
  HANDLE FMutex = nullptr;
};

class TStubView : public TView {
 public:
  void Show() override { NotBuilt(); }
  void Hide() override {}
  bool Visible() const override { return false; }
  void BringToFront() override {}
  void SetCaption(const std::string& caption) override { FCaption = caption; }
  std::string Caption() const override { return FCaption; }
  void SetComponentVisible(const std::string&, bool) override {}
  bool ComponentVisible(const std::string&) const override { return false; }
  void SetComponentLeft(const std::string&, int) override {}
  bool Checked(const std::string&) const override { return false; }
  void SetChecked(const std::string&, bool) override {}
  int ShowModal() override { NotBuilt(); }

 private:
  std::string FCaption;
};

class TStubMessageBoxes : public TMessageBoxes {
 public:
  int Show(const std::string&, const std::string&, std::uint32_t) override { NotBuilt(); }
};

class TStubSaveDialog : public TSaveDialog {
 public:
  std::optional<std::string> Execute(const TSaveDialogOptions&) override { NotBuilt(); }
};

class TStubTray : public TTrayIcon {
 public:
  bool Add(const std::string&) override { return false; }
  void Remove() override {}
  bool Present() const override { return false; }
  int PopupMenu(int, int, const std::vector<std::string>&) override { NotBuilt(); }
};

// Thread hot keys: WM_HOTKEY comes to the pump above.
class TStubHotKeys : public THotKeys {
 public:
  std::uint16_t AddAtom(const std::string& name) override {
    return GlobalAddAtomW(Utf16(name).c_str());
  }
  void DeleteAtom(std::uint16_t id) override { GlobalDeleteAtom(id); }
  bool Register(std::uint16_t id, std::uint32_t modifiers, std::uint32_t key) override {
    return RegisterHotKey(nullptr, id, modifiers | MOD_NOREPEAT, key) != FALSE;
  }
  void Unregister(std::uint16_t id) override { UnregisterHotKey(nullptr, id); }
};

class TStubRegionPicker : public TRegionPicker {
 public:
  std::optional<TScreenRect> PickRegion() override { NotBuilt(); }
};

class TStubCountdown : public TCountdown {
 public:
  bool Run(int seconds) override {
    if (seconds > 0) NotBuilt();
    return true;
  }
};

class TStubSettings : public TSettings {
 public:
  std::optional<std::string> Get(const std::string&) override { return std::nullopt; }
  void Set(const std::string&, const std::string&) override {}
};

class TStubHotKeyDialog : public THotKeyDialog {
 public:
  std::optional<THotKeyChoice> Choose(const THotKeyChoice&, THotKeyProblem) override { NotBuilt(); }
};

}  // namespace

struct TWin32UserInterface::TImpl {
  TStubApplication Application;
  TStubInstance Instance;
  TStubView ToolWindow, PausedDialog;
  TStubMessageBoxes MessageBoxes;
  TStubSaveDialog SaveDialog;
  TStubTray Tray;
  TStubHotKeys HotKeys;
  TStubRegionPicker RegionPicker;
  TStubCountdown Countdown;
  TStubSettings Settings;
  TStubHotKeyDialog HotKeyDialog;
};

TWin32UserInterface::TWin32UserInterface() : F(std::make_unique<TImpl>()) {}
TWin32UserInterface::~TWin32UserInterface() = default;
TApplicationHost& TWin32UserInterface::Application() {
  return F->Application;
}
TView& TWin32UserInterface::ToolWindow() {
  return F->ToolWindow;
}
TView& TWin32UserInterface::PausedDialog() {
  return F->PausedDialog;
}
TMessageBoxes& TWin32UserInterface::MessageBoxes() {
  return F->MessageBoxes;
}
TSaveDialog& TWin32UserInterface::SaveDialog() {
  return F->SaveDialog;
}
TTrayIcon& TWin32UserInterface::Tray() {
  return F->Tray;
}
TSingleInstance& TWin32UserInterface::Instance() {
  return F->Instance;
}
THotKeys& TWin32UserInterface::HotKeys() {
  return F->HotKeys;
}
TRegionPicker& TWin32UserInterface::RegionPicker() {
  return F->RegionPicker;
}
TCountdown& TWin32UserInterface::Countdown() {
  return F->Countdown;
}
TSettings& TWin32UserInterface::Settings() {
  return F->Settings;
}
THotKeyDialog& TWin32UserInterface::HotKeyDialog() {
  return F->HotKeyDialog;
}

}  // namespace kestrova::platform::win32
