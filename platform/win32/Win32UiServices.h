// The message pump, message boxes, the save dialog, the single instance, the tray icon and the
// hot keys of the Win32 user interface.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/Win32UiCommon.h"
// After windows.h.
#include <shellapi.h>

namespace kestrova::platform::win32 {

class TWin32Application : public TApplicationHost {
 public:
  // Makes the hidden application window another instance finds by its title; bringForward is
  // what that instance's request does here.
  TWin32Application(TWin32Input& input, std::function<void()> bringForward);
  ~TWin32Application() override;
  TWin32Application(const TWin32Application&) = delete;
  TWin32Application& operator=(const TWin32Application&) = delete;

  void SetTitle(const std::string& title) override;
  std::string Title() const override { return FTitle; }
  void SetEventHandler(TUIEventHandler handler) override { FHandler = std::move(handler); }
  // A WM_QUIT ends it as Terminate does.
  void RunMessageLoop() override;
  void Terminate() override { FTerminated = true; }
  bool Terminated() const override { return FTerminated; }
  void ProcessMessages() override;
  [[noreturn]] void Halt(int exitCode) override;
  HWND Window() const { return FWindow; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
  void Deliver(const TUIEvent& e) {
    if (FHandler) FHandler(e);
  }
  TWin32Input& FInput;
  std::function<void()> FBringForward;
  TUIEventHandler FHandler;
  std::string FTitle;
  HWND FWindow = nullptr;
  bool FTerminated = false;
};

// The application window's class, which a second instance looks for.
inline constexpr wchar_t kApplicationClass[] = L"KestrovaApplication";

class TWin32MessageBoxes : public TMessageBoxes {
 public:
  explicit TWin32MessageBoxes(TWin32Input& input) : FInput(input) {}
  int Show(const std::string& text, const std::string& caption, std::uint32_t flags) override;

 private:
  TWin32Input& FInput;
};

class TWin32SaveDialog : public TSaveDialog {
 public:
  explicit TWin32SaveDialog(TWin32Input& input) : FInput(input) {}
  std::optional<std::string> Execute(const TSaveDialogOptions& options) override;

 private:
  TWin32Input& FInput;
};

class TWin32SingleInstance : public TSingleInstance {
 public:
  ~TWin32SingleInstance() override { Release(); }
  bool Acquire(const std::string& name) override;
  bool BringForward(const std::string& applicationTitle) override;
  void Release() override;
  std::string Holder() const override { return FHolder; }

 private:
  HANDLE FMutex = nullptr;
  std::string FHolder;
};

class TWin32Tray : public TTrayIcon {
 public:
  // The icon's messages go to window (the tool window) as kTrayMessage.
  TWin32Tray(TWin32Input& input, HWND window);
  ~TWin32Tray() override;
  TWin32Tray(const TWin32Tray&) = delete;
  TWin32Tray& operator=(const TWin32Tray&) = delete;

  bool Add(const std::string& tip) override;
  void Remove() override;
  bool Present() const override { return FPresent; }
  int PopupMenu(int x, int y, const std::vector<std::string>& items) override;
  void ShowRecording(bool recording, const std::string& tip, const std::string& output) override;
  void Notify(const std::string& title, const std::string& text) override;
  // The tool window's messages the tray answers: its callback, and the taskbar coming back
  // (after the shell restarted), which forgets every icon. True when handled.
  bool OnMessage(UINT message, WPARAM w, LPARAM l);

 private:
  NOTIFYICONDATAW Data(UINT flags) const;
  TWin32Input& FInput;
  HWND FWindow;
  HICON FIdle = nullptr, FRecordingIcon = nullptr;
  std::wstring FTip;
  bool FRecording = false;
  bool FPresent = false;
  UINT FTaskbarCreated = 0;
};

class TWin32HotKeys : public THotKeys {
 public:
  explicit TWin32HotKeys(HWND window) : FWindow(window) {}
  std::uint16_t AddAtom(const std::string& name) override;
  void DeleteAtom(std::uint16_t id) override;
  bool Register(std::uint16_t id, std::uint32_t modifiers, std::uint32_t key) override;
  void Unregister(std::uint16_t id) override;

 private:
  HWND FWindow;
};

}  // namespace kestrova::platform::win32
