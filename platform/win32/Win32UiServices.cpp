#include "platform/win32/Win32UiServices.h"

#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <stdexcept>

#include "platform/win32/Win32UiPictures.h"
#include "platform/win32/Win32UiText.h"

namespace kestrova::platform::win32 {

namespace {

// What another instance's ShowWindow turns into here, once its call has returned.
constexpr UINT kBringForwardMessage = WM_APP + 7;

void CopyTruncated(wchar_t* to, std::size_t capacity, const std::wstring& from) {
  const std::size_t n = std::min(from.size(), capacity - 1);
  std::wmemcpy(to, from.data(), n);
  to[n] = L'\0';
}

}  // namespace

TWin32Application::TWin32Application(TWin32Input& input, std::function<void()> bringForward)
    : FInput(input), FBringForward(std::move(bringForward)) {
  WNDCLASSW cls{};
  cls.lpfnWndProc = WindowProc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = kApplicationClass;
  RegisterClassW(&cls);
  // Never seen: no size, and hidden again as soon as anyone shows it.
  FWindow = CreateWindowExW(WS_EX_TOOLWINDOW, kApplicationClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
  if (FWindow == nullptr) {
    throw std::runtime_error("cannot make the application window (error " +
                             std::to_string(GetLastError()) + ")");
  }
  SetWindowLongPtrW(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TWin32Application::~TWin32Application() {
  SetWindowLongPtrW(FWindow, GWLP_USERDATA, 0);
  DestroyWindow(FWindow);
}

LRESULT CALLBACK TWin32Application::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  auto* self = reinterpret_cast<TWin32Application*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self != nullptr && message == WM_SHOWWINDOW && w != FALSE) {
    PostMessageW(window, kBringForwardMessage, 0, 0);
  } else if (self != nullptr && message == kBringForwardMessage) {
    ShowWindow(window, SW_HIDE);
    if (self->FBringForward) self->FBringForward();
    return 0;
  }
  return DefWindowProcW(window, message, w, l);
}

void TWin32Application::SetTitle(const std::string& title) {
  FTitle = title;
  SetWindowTextW(FWindow, Utf16(title).c_str());
}

void TWin32Application::RunMessageLoop() {
  MSG msg;
  while (!FTerminated) {
    if (!FInput.Empty()) {
      Deliver(FInput.Take());
      continue;
    }
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      FTerminated = true;
      break;
    }
    DispatchUiMessage(msg);
  }
}

void TWin32Application::ProcessMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      FTerminated = true;
      break;
    }
    DispatchUiMessage(msg);
  }
  while (!FInput.Empty()) Deliver(FInput.Take());
}

void TWin32Application::Halt(int exitCode) {
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(exitCode));
}

int TWin32MessageBoxes::Show(const std::string& text, const std::string& caption,
                             std::uint32_t flags) {
  TWin32Input::TModalScope modal(FInput);
  // Owned by the application, not by a window that may be hidden: in front of the user's
  // program, which may have the focus when the hot key asks.
  return MessageBoxW(nullptr, Utf16(text).c_str(), Utf16(caption).c_str(),
                     flags | MB_TASKMODAL | MB_SETFOREGROUND);
}

std::optional<std::string> TWin32SaveDialog::Execute(const TSaveDialogOptions& options) {
  const std::u16string filter16 = DialogFilter(options.Filter);
  const std::wstring filter(filter16.begin(), filter16.end());
  const std::wstring title = Utf16(options.Title), dir = Utf16(options.InitialDir),
                     extension = Utf16(options.DefaultExtension);
  // Room for the longest path the system takes.
  std::wstring file(32768, L'\0');
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(std::max(options.FilterIndex, 1));
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = dir.empty() ? nullptr : dir.c_str();
  ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
  ofn.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  // A name that is there already is taken without a question: the movie and its page replace it.
  ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  TWin32Input::TModalScope modal(FInput);
  if (!GetSaveFileNameW(&ofn)) return std::nullopt;
  file.resize(std::wcslen(file.c_str()));
  return Utf8(file);
}

bool TWin32SingleInstance::Acquire(const std::string& name) {
  Release();
  HANDLE mutex = CreateMutexW(nullptr, TRUE, Utf16(name).c_str());
  if (mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    // Whoever holds it made the application window: its process is the one to name.
    DWORD pid = 0;
    for (HWND w = FindWindowExW(nullptr, nullptr, kApplicationClass, nullptr); w != nullptr;
         w = FindWindowExW(nullptr, w, kApplicationClass, nullptr)) {
      GetWindowThreadProcessId(w, &pid);
      if (pid != GetCurrentProcessId()) break;
      pid = 0;
    }
    FHolder = pid != 0 ? "process " + std::to_string(pid) : std::string();
    return false;
  }
  // A name that cannot be made at all (no rights) stops nobody.
  FMutex = mutex;
  return true;
}

bool TWin32SingleInstance::BringForward(const std::string& applicationTitle) {
  const std::wstring title = Utf16(applicationTitle);
  for (HWND w = FindWindowExW(nullptr, nullptr, kApplicationClass, title.c_str()); w != nullptr;
       w = FindWindowExW(nullptr, w, kApplicationClass, title.c_str())) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == GetCurrentProcessId()) continue;
    // We are in front now (just started); the other process may take the front from us.
    AllowSetForegroundWindow(pid);
    ShowWindow(w, SW_SHOWNORMAL);
    SetForegroundWindow(w);
    return true;
  }
  return false;
}

void TWin32SingleInstance::Release() {
  if (FMutex == nullptr) return;
  ReleaseMutex(FMutex);
  CloseHandle(FMutex);
  FMutex = nullptr;
}

TWin32Tray::TWin32Tray(TWin32Input& input, HWND window) : FInput(input), FWindow(window) {
  const int size = GetSystemMetrics(SM_CXSMICON);
  FIdle = MakeProgramIcon(size, false);
  FRecordingIcon = MakeProgramIcon(size, true);
  FTaskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
}

TWin32Tray::~TWin32Tray() {
  Remove();
  DestroyIcon(FIdle);
  DestroyIcon(FRecordingIcon);
}

NOTIFYICONDATAW TWin32Tray::Data(UINT flags) const {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = FWindow;
  data.uID = 1;
  data.uFlags = flags;
  data.uCallbackMessage = kTrayMessage;
  data.hIcon = FRecording ? FRecordingIcon : FIdle;
  CopyTruncated(data.szTip, std::size(data.szTip), FTip);
  return data;
}

bool TWin32Tray::Add(const std::string& tip) {
  FTip = Utf16(tip);
  NOTIFYICONDATAW data = Data(NIF_MESSAGE | NIF_ICON | NIF_TIP);
  FPresent = Shell_NotifyIconW(FPresent ? NIM_MODIFY : NIM_ADD, &data) != FALSE;
  return FPresent;
}

void TWin32Tray::Remove() {
  if (!FPresent) return;
  NOTIFYICONDATAW data = Data(0);
  Shell_NotifyIconW(NIM_DELETE, &data);
  FPresent = false;
}

int TWin32Tray::PopupMenu(int x, int y, const std::vector<std::string>& items) {
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return -1;
  for (std::size_t i = 0; i < items.size(); ++i) {
    AppendMenuW(menu, MF_STRING, i + 1, Utf16(items[i]).c_str());
  }
  TWin32Input::TModalScope modal(FInput);
  // The menu closes when the user clicks elsewhere only if its window is in front.
  SetForegroundWindow(FWindow);
  const int chosen = static_cast<int>(TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, x, y, 0, FWindow, nullptr));
  PostMessageW(FWindow, WM_NULL, 0, 0);
  DestroyMenu(menu);
  return chosen >= 1 && chosen <= static_cast<int>(items.size()) ? chosen - 1 : -1;
}

void TWin32Tray::ShowRecording(bool recording, const std::string& tip, const std::string& output) {
  std::wstring text = Utf16(tip);
  if (recording && !output.empty()) text += L"\n" + Utf16(output);
  if (recording == FRecording && text == FTip) return;
  FRecording = recording;
  FTip = text;
  if (!FPresent) return;
  NOTIFYICONDATAW data = Data(NIF_ICON | NIF_TIP);
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

void TWin32Tray::Notify(const std::string& title, const std::string& text) {
  if (!FPresent) return;
  NOTIFYICONDATAW data = Data(NIF_INFO);
  CopyTruncated(data.szInfoTitle, std::size(data.szInfoTitle), Utf16(title));
  CopyTruncated(data.szInfo, std::size(data.szInfo), Utf16(text));
  data.dwInfoFlags = NIIF_INFO;
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

bool TWin32Tray::OnMessage(UINT message, WPARAM, LPARAM l) {
  if (message == kTrayMessage) {
    const int mouse = static_cast<int>(LOWORD(l));
    if (mouse == kTrayLeftDoubleClick || mouse == kTrayRightButtonDown) {
      FInput.Push(TUIEvent{TUIEventKind::TrayNotify, "", mouse});
    }
    return true;
  }
  if (message == FTaskbarCreated && FTaskbarCreated != 0 && FPresent) {
    FPresent = false;
    NOTIFYICONDATAW data = Data(NIF_MESSAGE | NIF_ICON | NIF_TIP);
    FPresent = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
    return true;
  }
  return false;
}

std::uint16_t TWin32HotKeys::AddAtom(const std::string& name) {
  return GlobalAddAtomW(Utf16(name).c_str());
}

void TWin32HotKeys::DeleteAtom(std::uint16_t id) {
  GlobalDeleteAtom(id);
}

bool TWin32HotKeys::Register(std::uint16_t id, std::uint32_t modifiers, std::uint32_t key) {
  // Holding the keys down must not open the paused dialog again and again.
  return RegisterHotKey(FWindow, id, modifiers | MOD_NOREPEAT, key) != FALSE;
}

void TWin32HotKeys::Unregister(std::uint16_t id) {
  UnregisterHotKey(FWindow, id);
}

}  // namespace kestrova::platform::win32
