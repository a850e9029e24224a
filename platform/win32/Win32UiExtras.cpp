#include "platform/win32/Win32UiExtras.h"

#include <shlobj.h>
#include <windowsx.h>

#include <iterator>
#include <map>
#include <vector>

#include "platform/win32/Win32UiText.h"

namespace kestrova::platform::win32 {

namespace {

// Settings are a few short lines; a bigger file is not ours to read.
constexpr DWORD kSettingsLimit = 1 << 20;

std::wstring DefaultSettingsFile() {
  std::wstring base(MAX_PATH, L'\0');
  const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", base.data(), MAX_PATH);
  if (n > 0 && n < MAX_PATH) {
    base.resize(n);
  } else if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, base.data()))) {
    base.resize(wcslen(base.c_str()));
  } else {
    return {};
  }
  return base + L"\\Kestrova\\kestrova.conf";
}

std::optional<std::string> ReadSmallFile(const std::wstring& name) {
  HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string text;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file, &size) && size.QuadPart <= kSettingsLimit) {
    text.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    if (!text.empty() &&
        !ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr)) {
      got = 0;
    }
    text.resize(got);
  }
  CloseHandle(file);
  return text;
}

bool WriteWhole(const std::wstring& name, const std::string& text) {
  HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size() && FlushFileBuffers(file);
  CloseHandle(file);
  if (!ok) DeleteFileW(name.c_str());
  return ok;
}

constexpr wchar_t kCountdownClass[] = L"KestrovaCountdown";
constexpr wchar_t kRegionClass[] = L"KestrovaRegion";
constexpr COLORREF kClearKey = RGB(255, 0, 255);

void RegisterClassOnce(const wchar_t* name, WNDPROC proc, LPCWSTR cursor) {
  WNDCLASSW cls{};
  if (GetClassInfoW(GetModuleHandleW(nullptr), name, &cls)) return;
  cls.lpfnWndProc = proc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.hCursor = LoadCursorW(nullptr, cursor);
  cls.lpszClassName = name;
  RegisterClassW(&cls);
}

// Destroys a window when the scope is left, however it is left.
struct TWindowOwner {
  HWND Window = nullptr;
  ~TWindowOwner() {
    if (Window != nullptr) DestroyWindow(Window);
  }
};

struct TModifierChoice {
  std::uint32_t Modifiers;
  const wchar_t* Name;
};
constexpr TModifierChoice kModifierChoices[] = {{kModControl | kModAlt, L"Ctrl+Alt"},
                                                {kModControl | 0x4, L"Ctrl+Shift"},
                                                {kModAlt | 0x4, L"Alt+Shift"},
                                                {kModControl | kModAlt | 0x4, L"Ctrl+Alt+Shift"},
                                                {kModControl | 0x8, L"Ctrl+Win"}};
constexpr char kKeys[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr int kModifierList = 201, kKeyList = 202, kText = 203;

}  // namespace

TWin32Settings::TWin32Settings(std::wstring fileName)
    : FFileName(fileName.empty() ? DefaultSettingsFile() : std::move(fileName)) {}

std::optional<std::string> TWin32Settings::Get(const std::string& key) {
  const std::optional<std::string> text = ReadSmallFile(FFileName);
  if (!text) return std::nullopt;
  const std::map<std::string, std::string> values = ParseSettings(*text);
  const auto it = values.find(key);
  if (it == values.end()) return std::nullopt;
  return it->second;
}

void TWin32Settings::Set(const std::string& key, const std::string& value) {
  if (FFileName.empty()) return;
  const std::size_t slash = FFileName.find_last_of(L"\\/");
  if (slash != std::wstring::npos) CreateDirectoryW(FFileName.substr(0, slash).c_str(), nullptr);
  std::map<std::string, std::string> values =
      ParseSettings(ReadSmallFile(FFileName).value_or(std::string()));
  values[key] = value;
  const std::wstring temporary = FFileName + L".new";
  if (!WriteWhole(temporary, FormatSettings(values))) return;
  if (!MoveFileExW(temporary.c_str(), FFileName.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temporary.c_str());
  }
}

LRESULT CALLBACK TWin32Countdown::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  auto* self = reinterpret_cast<TWin32Countdown*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;  // a click cancels without taking the focus from the user's window
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
      if (self != nullptr) self->FCancelled = true;
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT r;
      GetClientRect(window, &r);
      HBRUSH fill = CreateSolidBrush(RGB(32, 36, 44));
      FillRect(dc, &r, fill);
      DeleteObject(fill);
      HFONT font = MakeFont(L"Arial", -(r.bottom - r.top) * 3 / 5, true);
      const HGDIOBJ old = SelectObject(dc, font);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(255, 255, 255));
      const std::wstring text = std::to_wstring(self != nullptr ? self->FSeconds : 0);
      DrawTextW(dc, text.c_str(), -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      SelectObject(dc, old);
      DeleteObject(font);
      EndPaint(window, &ps);
      return 0;
    }
    default:
      return DefWindowProcW(window, message, w, l);
  }
}

bool TWin32Countdown::Run(int seconds) {
  if (seconds <= 0) return true;
  RegisterClassOnce(kCountdownClass, WindowProc, IDC_HAND);
  TWin32Input::TModalScope modal(FInput);
  FCancelled = false;
  FSeconds = seconds;
  constexpr int kSide = 120;
  const POINT at = CentredOrigin(kSide, kSide);
  TWindowOwner owner;
  owner.Window =
      CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kCountdownClass,
                      L"Kestrova", WS_POPUP | WS_BORDER, at.x, at.y, kSide, kSide, nullptr, nullptr,
                      GetModuleHandleW(nullptr), nullptr);
  // Without its window the wait still gives the user the seconds promised.
  if (owner.Window != nullptr) {
    SetWindowLongPtrW(owner.Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ShowWindow(owner.Window, SW_SHOWNOACTIVATE);
  }
  const DWORD start = GetTickCount();
  for (int left = seconds; left >= 1 && !FCancelled; --left) {
    FSeconds = left;
    if (owner.Window != nullptr) {
      InvalidateRect(owner.Window, nullptr, FALSE);
      UpdateWindow(owner.Window);
    }
    const DWORD deadline = start + static_cast<DWORD>(seconds - left + 1) * 1000;
    if (!PumpUntil(deadline, [this] { return FCancelled; })) break;
  }
  if (owner.Window != nullptr) {
    SetWindowLongPtrW(owner.Window, GWLP_USERDATA, 0);
    DestroyWindow(owner.Window);
    owner.Window = nullptr;
    // What it covered must be on the screen again before the first frame is grabbed.
    GdiFlush();
    PumpUntil(GetTickCount() + 100, [] { return false; });
  }
  return !FCancelled;
}

LRESULT CALLBACK TWin32RegionPicker::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  auto* self = reinterpret_cast<TWin32RegionPicker*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  return self != nullptr ? self->OnMessage(window, message, w, l)
                         : DefWindowProcW(window, message, w, l);
}

LRESULT TWin32RegionPicker::OnMessage(HWND window, UINT message, WPARAM w, LPARAM l) {
  constexpr int kLeast = 5;  // pixels each way a drag must cover to be meant
  const POINT at{GET_X_LPARAM(l), GET_Y_LPARAM(l)};
  switch (message) {
    case WM_LBUTTONDOWN:
      FAnchor = at;
      FCurrent = at;
      SetCapture(window);
      return 0;
    case WM_MOUSEMOVE:
      if (FAnchor) {
        FCurrent = at;
        InvalidateRect(window, nullptr, FALSE);
      }
      return 0;
    case WM_LBUTTONUP: {
      if (!FAnchor) return 0;
      ReleaseCapture();
      const std::optional<TScreenRect> r =
          DraggedRect(FAnchor->x + FOrigin.x, FAnchor->y + FOrigin.y, at.x + FOrigin.x,
                      at.y + FOrigin.y, kLeast);
      FAnchor.reset();
      InvalidateRect(window, nullptr, FALSE);
      if (r) {
        FResult = r;
        FDone = true;
      }
      return 0;
    }
    case WM_RBUTTONDOWN:
      FDone = true;
      return 0;
    case WM_KEYDOWN:
      if (w == VK_ESCAPE) FDone = true;
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT all;
      GetClientRect(window, &all);
      FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      if (FAnchor) {
        const RECT sel{std::min(FAnchor->x, FCurrent.x), std::min(FAnchor->y, FCurrent.y),
                       std::max(FAnchor->x, FCurrent.x) + 1, std::max(FAnchor->y, FCurrent.y) + 1};
        HBRUSH clear = CreateSolidBrush(kClearKey);
        FillRect(dc, &sel, clear);
        DeleteObject(clear);
        FrameRect(dc, &sel, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      }
      EndPaint(window, &ps);
      return 0;
    }
    default:
      return DefWindowProcW(window, message, w, l);
  }
}

std::optional<TScreenRect> TWin32RegionPicker::PickRegion() {
  RegisterClassOnce(kRegionClass, WindowProc, IDC_CROSS);
  TWin32Input::TModalScope modal(FInput);
  FAnchor.reset();
  FResult.reset();
  FDone = false;
  FOrigin = POINT{GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN)};
  TWindowOwner owner;
  owner.Window = CreateWindowExW(
      WS_EX_LAYERED | WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kRegionClass, L"Kestrova", WS_POPUP,
      FOrigin.x, FOrigin.y, GetSystemMetrics(SM_CXVIRTUALSCREEN),
      GetSystemMetrics(SM_CYVIRTUALSCREEN), nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (owner.Window == nullptr) return std::nullopt;
  SetWindowLongPtrW(owner.Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  // The screen dimmed, the rectangle being dragged clear.
  SetLayeredWindowAttributes(owner.Window, kClearKey, 110, LWA_COLORKEY | LWA_ALPHA);
  ShowWindow(owner.Window, SW_SHOW);
  SetForegroundWindow(owner.Window);
  SetFocus(owner.Window);
  RunModalLoop([this] { return FDone; });
  if (GetCapture() == owner.Window) ReleaseCapture();
  SetWindowLongPtrW(owner.Window, GWLP_USERDATA, 0);
  return FResult;
}

std::string TakenText(const THotKeyChoice& current) {
  return current.Name +
         " cannot be used: another program holds it. Windows does not say which program it is. "
         "Pick another key, or free this one in that program's settings.";
}

INT_PTR CALLBACK TWin32HotKeyDialog::DialogProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_INITDIALOG) SetWindowLongPtrW(window, DWLP_USER, l);
  auto* self = reinterpret_cast<TWin32HotKeyDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  return self != nullptr ? self->OnMessage(window, message, w, l) : FALSE;
}

std::optional<THotKeyChoice> TWin32HotKeyDialog::Selected(HWND window) const {
  const LRESULT m = SendDlgItemMessageW(window, kModifierList, CB_GETCURSEL, 0, 0);
  const LRESULT k = SendDlgItemMessageW(window, kKeyList, CB_GETCURSEL, 0, 0);
  if (m < 0 || m >= static_cast<LRESULT>(std::size(kModifierChoices)) || k < 0 ||
      k >= static_cast<LRESULT>(sizeof kKeys - 1)) {
    return std::nullopt;
  }
  return HotKeyOf(kModifierChoices[m].Modifiers, static_cast<std::uint32_t>(kKeys[k]));
}

INT_PTR TWin32HotKeyDialog::OnMessage(HWND window, UINT message, WPARAM w, LPARAM) {
  const auto update = [this, window] {
    // The key that could not be had cannot be picked again.
    const std::optional<THotKeyChoice> choice = Selected(window);
    EnableWindow(GetDlgItem(window, IDOK),
                 choice && (FProblem == THotKeyProblem::Asked || *choice != FCurrent));
  };
  switch (message) {
    case WM_INITDIALOG: {
      const auto add = [&](const wchar_t* cls, const wchar_t* text, DWORD style, RECT r, int id) {
        HWND c = CreateWindowExW(
            0, cls, text, WS_CHILD | WS_VISIBLE | style, r.left, r.top, r.right, r.bottom, window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
        return c;
      };
      const std::string said =
          FProblem == THotKeyProblem::Taken
              ? TakenText(FCurrent)
              : "The key that pauses a recording is " + FCurrent.Name + ". Pick another:";
      add(L"STATIC", Utf16(said).c_str(), SS_LEFT | SS_NOPREFIX, {10, 10, 260, 56}, kText);
      add(L"STATIC", L"Modifiers:", SS_LEFT, {10, 76, 70, 16}, -1);
      HWND mods = add(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL | WS_GROUP,
                      {85, 72, 130, 200}, kModifierList);
      add(L"STATIC", L"Key:", SS_LEFT, {10, 104, 70, 16}, -1);
      HWND keys = add(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL,
                      {85, 100, 60, 300}, kKeyList);
      add(L"BUTTON", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, {110, 134, 75, 24}, IDOK);
      add(L"BUTTON", L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, {195, 134, 75, 24}, IDCANCEL);
      int modIndex = 0, keyIndex = 0;
      for (std::size_t i = 0; i < std::size(kModifierChoices); ++i) {
        SendMessageW(mods, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kModifierChoices[i].Name));
        if (kModifierChoices[i].Modifiers == FCurrent.Modifiers) modIndex = static_cast<int>(i);
      }
      for (std::size_t i = 0; i + 1 < sizeof kKeys; ++i) {
        const wchar_t key[2] = {static_cast<wchar_t>(kKeys[i]), 0};
        SendMessageW(keys, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(key));
        if (static_cast<std::uint32_t>(kKeys[i]) == FCurrent.Key) keyIndex = static_cast<int>(i);
      }
      SendMessageW(mods, CB_SETCURSEL, modIndex, 0);
      SendMessageW(keys, CB_SETCURSEL, keyIndex, 0);
      update();
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(w) == IDOK) {
        FResult = Selected(window);
        FDone = true;
      } else if (LOWORD(w) == IDCANCEL) {
        FResult.reset();
        FDone = true;
      } else if (HIWORD(w) == CBN_SELCHANGE) {
        update();
      }
      return TRUE;
    case WM_CLOSE:
      FResult.reset();
      FDone = true;
      return TRUE;
    default:
      return FALSE;
  }
}

std::optional<THotKeyChoice> TWin32HotKeyDialog::Choose(const THotKeyChoice& current,
                                                        THotKeyProblem problem) {
  FCurrent = current;
  FProblem = problem;
  FResult.reset();
  FDone = false;
  constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  std::vector<WORD> t;
  const auto dword = [&t](DWORD v) {
    t.push_back(LOWORD(v));
    t.push_back(HIWORD(v));
  };
  dword(kStyle);
  dword(WS_EX_TOPMOST);
  t.insert(t.end(), {0, 0, 0, 100, 100, 0, 0});
  for (const wchar_t* c = L"Kestrova - Hot Key"; *c != 0; ++c) t.push_back(*c);
  t.push_back(0);
  FFont = MakeFont(L"Tahoma", -11);
  TWin32Input::TModalScope modal(FInput);
  TWindowOwner owner;
  owner.Window = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                            reinterpret_cast<LPCDLGTEMPLATEW>(t.data()), nullptr,
                                            DialogProc, reinterpret_cast<LPARAM>(this));
  if (owner.Window != nullptr) {
    const SIZE outer = OuterSize(kStyle, WS_EX_TOPMOST, 280, 168);
    const POINT at = CentredOrigin(outer.cx, outer.cy);
    SetWindowPos(owner.Window, HWND_TOPMOST, at.x, at.y, outer.cx, outer.cy, 0);
    ShowWindow(owner.Window, SW_SHOW);
    SetForegroundWindow(owner.Window);
    RegisterDialog(owner.Window);
    RunModalLoop([this] { return FDone; });
    UnregisterDialog(owner.Window);
    SetWindowLongPtrW(owner.Window, DWLP_USER, 0);
  }
  DestroyWindow(owner.Window);
  owner.Window = nullptr;
  DeleteObject(FFont);
  FFont = nullptr;
  return FResult;
}

}  // namespace kestrova::platform::win32
