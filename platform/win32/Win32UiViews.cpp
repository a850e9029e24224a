#include "platform/win32/Win32UiViews.h"

#include <commctrl.h>

#include <stdexcept>

namespace kestrova::platform::win32 {

namespace {

constexpr int kFirstId = 100;
constexpr wchar_t kPanelClass[] = L"KestrovaPanel";

// The third choice (Region) takes a row below the other two; what stood below moves down by it.
constexpr int kRow = 18;

// A panel holds the components; what they tell their parent goes on to the dialog.
LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_COMMAND:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return SendMessageW(GetParent(window), message, w, l);
    default:
      return DefWindowProcW(window, message, w, l);
  }
}

void RegisterPanelClass() {
  WNDCLASSW cls{};
  if (GetClassInfoW(GetModuleHandleW(nullptr), kPanelClass, &cls)) return;
  cls.lpfnWndProc = PanelProc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  cls.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
  cls.lpszClassName = kPanelClass;
  RegisterClassW(&cls);
}

// A dialog template without controls (they are made at pixel places once the dialog exists) and
// without a font of its own (each control gets the form's).
std::vector<WORD> DialogTemplate(DWORD style, DWORD exStyle, const wchar_t* title) {
  std::vector<WORD> t;
  const auto dword = [&t](DWORD v) {
    t.push_back(LOWORD(v));
    t.push_back(HIWORD(v));
  };
  dword(style);
  dword(exStyle);
  t.insert(t.end(), {0, 0, 0, 100, 100, 0, 0});  // no items, place and size, no menu or class
  for (const wchar_t* c = title; *c != 0; ++c) t.push_back(static_cast<WORD>(*c));
  t.push_back(0);
  return t;
}

constexpr DWORD kToolStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_NOIDLEMSG;
constexpr DWORD kPausedStyle = kToolStyle | WS_MAXIMIZEBOX;
constexpr DWORD kExStyle = WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT;

}  // namespace

TWin32View::TWin32View(TKind kind, TWin32Input& input, HWND owner)
    : FKind(kind), FInput(input), FOwner(owner) {
  RegisterPanelClass();
  const bool tool = kind == TKind::ToolWindow;
  const DWORD style = tool ? kToolStyle : kPausedStyle;
  const std::vector<WORD> t =
      DialogTemplate(style, kExStyle, tool ? L"Kestrova 1.1" : L"Kestrova 1.1 - PAUSED");
  FWindow = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                       reinterpret_cast<LPCDLGTEMPLATEW>(t.data()), owner,
                                       DialogProc, reinterpret_cast<LPARAM>(this));
  if (FWindow == nullptr) {
    throw std::runtime_error("cannot make the " +
                             std::string(tool ? "tool window" : "paused dialog") + " (error " +
                             std::to_string(GetLastError()) + ")");
  }
  FFont = MakeFont(L"Tahoma", -11);
  FLabelFont = MakeFont(L"Arial", -11);
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  FTips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, FWindow,
                          nullptr, GetModuleHandleW(nullptr), nullptr);
  const SIZE client = tool ? SIZE{172, 180 + kRow} : SIZE{168, 179};
  const SIZE outer = OuterSize(style, kExStyle, client.cx, client.cy);
  const POINT at = CentredOrigin(outer.cx, outer.cy);
  SetWindowPos(FWindow, nullptr, at.x, at.y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageW(FWindow, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
  if (tool) {
    BuildToolWindow();
  } else {
    BuildPausedDialog();
  }
  RegisterDialog(FWindow);
}

TWin32View::~TWin32View() {
  UnregisterDialog(FWindow);
  SetWindowLongPtrW(FWindow, DWLP_USER, 0);
  DestroyWindow(FWindow);
  DeleteObject(FFont);
  DeleteObject(FLabelFont);
}

HWND TWin32View::AddPanel(int x, int y, int width, int height) {
  HWND panel = CreateWindowExW(WS_EX_CONTROLPARENT, kPanelClass, L"",
                               WS_CHILD | WS_VISIBLE | WS_BORDER | WS_CLIPSIBLINGS, x, y, width,
                               height, FWindow, nullptr, GetModuleHandleW(nullptr), nullptr);
  // Above the labels made before it, which it covers as the form lays them out.
  SetWindowPos(panel, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  TComponent c;
  c.Name = "Panel1";
  c.Window = panel;
  FComponents.push_back(c);
  return panel;
}

void TWin32View::Add(HWND parent, const char* name, const wchar_t* cls, const wchar_t* text,
                     DWORD style, RECT place, HFONT font) {
  const int id = kFirstId + static_cast<int>(FComponents.size());
  HWND control = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style,
                                 place.left, place.top, place.right, place.bottom, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  TComponent c;
  c.Name = name;
  c.Window = control;
  c.Radio = (style & 0x0F) == BS_AUTORADIOBUTTON && std::wstring(cls) == L"BUTTON";
  FComponents.push_back(c);
}

void TWin32View::AddPicture(HWND parent, const char* name, TPicture picture, RECT place, int result,
                            bool clickable) {
  // Not drawn (the picture says it), but read out by screen readers and found by tests.
  const wchar_t* text = PictureText(picture);
  if (clickable) {
    Add(parent, name, L"BUTTON", text, BS_OWNERDRAW | WS_TABSTOP, place, FFont);
  } else {
    Add(parent, name, L"STATIC", text, SS_OWNERDRAW, place, FFont);
  }
  FComponents.back().IsPicture = true;
  FComponents.back().Picture = picture;
  FComponents.back().Result = result;
}

void TWin32View::AddHint(HWND control, const wchar_t* text) {
  if (FTips == nullptr) return;
  TOOLINFOW tip{};
  tip.cbSize = sizeof(tip);
  tip.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tip.hwnd = FWindow;
  tip.uId = reinterpret_cast<UINT_PTR>(control);
  tip.lpszText = const_cast<wchar_t*>(text);
  SendMessageW(FTips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tip));
}

void TWin32View::BuildToolWindow() {
  // In creation order, as the form lays them out; the two labels lie under the panel.
  Add(FWindow, "Label1", L"STATIC", L"Label1", 0, {8, 8, 40, 13}, FFont);
  Add(FWindow, "Label3", L"STATIC", L"Label3", 0, {100, 133 + kRow, 40, 13}, FFont);
  HWND panel = AddPanel(4, 4, 165, 173 + kRow);
  AddPicture(panel, "Image1", TPicture::Stop, {42, 78 + kRow, 77, 28}, 0);
  AddPicture(panel, "ImgBtnStartRecord", TPicture::Start, {41, 78 + kRow, 78, 28}, 0);
  AddPicture(panel, "ImgCaption", TPicture::Caption, {15, 6, 137, 25}, 0, false);
  AddPicture(panel, "ImgExit", TPicture::Exit, {41, 133 + kRow, 74, 27}, 0);
  Add(panel, "Label2", L"STATIC", L"Press Ctrl+Alt+S to Stop", SS_NOPREFIX,
      {31, 113 + kRow, 130, 14}, FLabelFont);
  // The first of the group carries WS_GROUP, so the arrow keys move among the three.
  Add(panel, "RdoActiveWindow", L"BUTTON", L"Active Window",
      BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, {31, 55, 113, 17}, FFont);
  AddHint(FComponents.back().Window, L"Click Start button and activate the window within 3 secs.");
  Add(panel, "RdoFullScreen", L"BUTTON", L"Full Screen", BS_AUTORADIOBUTTON, {31, 37, 113, 17},
      FFont);
  Add(panel, "RdoRegion", L"BUTTON", L"Region", BS_AUTORADIOBUTTON, {31, 55 + kRow, 113, 17},
      FFont);
  AddHint(FComponents.back().Window,
          L"Click Start button and drag a rectangle over the part of the screen to record.");
  SetChecked("RdoFullScreen", true);
  // The stop picture lies beneath the start picture until a recording swaps them.
  SetWindowPos(Find("ImgBtnStartRecord")->Window, HWND_TOP, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TWin32View::BuildPausedDialog() {
  HWND panel = AddPanel(2, 3, 165, 174);
  AddPicture(panel, "ImgCaption", TPicture::Caption, {14, 14, 137, 25}, 0, false);
  Add(panel, "Label2", L"STATIC", L"Press Ctrl+Alt+S to Stop", SS_NOPREFIX, {20, 101, 130, 14},
      FLabelFont);
  AddPicture(panel, "ImgBtnStopRecord", TPicture::Stop, {45, 59, 77, 28}, 1);
  AddPicture(panel, "ImgBtnContinue", TPicture::Continue, {3, 129, 74, 27}, 2);
  AddPicture(panel, "ImgBtnExit", TPicture::Exit, {83, 129, 74, 27}, 3);
}

const TWin32View::TComponent* TWin32View::Find(const std::string& name) const {
  for (const TComponent& c : FComponents) {
    if (c.Name == name) return &c;
  }
  return nullptr;
}

INT_PTR CALLBACK TWin32View::DialogProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, l);
    return TRUE;
  }
  auto* self = reinterpret_cast<TWin32View*>(GetWindowLongPtrW(window, DWLP_USER));
  return self != nullptr ? self->OnMessage(message, w, l) : FALSE;
}

INT_PTR TWin32View::OnMessage(UINT message, WPARAM w, LPARAM l) {
  const bool tool = FKind == TKind::ToolWindow;
  switch (message) {
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(l);
      const int index = static_cast<int>(item->CtlID) - kFirstId;
      if (index < 0 || index >= static_cast<int>(FComponents.size())) return FALSE;
      DrawPicture(item->hDC, item->rcItem, FComponents[index].Picture,
                  (item->itemState & ODS_SELECTED) != 0, GetSysColor(COLOR_WINDOW));
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
      SetBkColor(reinterpret_cast<HDC>(w), GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_WINDOW));
    case WM_COMMAND:
      OnCommand(LOWORD(w), HIWORD(w));
      return TRUE;
    case WM_SYSCOMMAND:
      if ((w & 0xFFF0) != SC_CLOSE) return FALSE;
      // The caption's close button (or Alt+F4): the user's own close.
      if (tool) {
        FInput.Push(TUIEvent{TUIEventKind::Close, "", 0});
        ShowWindow(FWindow, SW_HIDE);
      } else {
        FResult = 2;
        FDone = true;
      }
      return TRUE;
    case WM_CLOSE:
      // Not from the caption (that came as SC_CLOSE): another program closing us, as the
      // session's end or a task manager does.
      if (tool) {
        FInput.Push(TUIEvent{TUIEventKind::Destroy, "", 0});
      } else {
        FResult = 2;
        FDone = true;
      }
      return TRUE;
    case WM_ACTIVATE:
      if (tool && LOWORD(w) != WA_INACTIVE) FInput.Push(TUIEvent{TUIEventKind::Activate, "", 0});
      return FALSE;
    default:
      if (tool && OtherMessages && OtherMessages(message, w, l)) return TRUE;
      return FALSE;
  }
}

void TWin32View::OnCommand(int id, int code) {
  if (FKind == TKind::PausedDialog && id == IDCANCEL) {  // Escape
    FResult = 2;
    FDone = true;
    return;
  }
  const int index = id - kFirstId;
  if (code != BN_CLICKED || index < 0 || index >= static_cast<int>(FComponents.size())) return;
  const TComponent& c = FComponents[index];
  if (FKind == TKind::PausedDialog) {
    if (c.Result != 0) {
      FResult = c.Result;
      FDone = true;
    }
    return;
  }
  // A radio button announces itself when the keyboard moves onto it too; only a change counts.
  if (c.Radio && SendMessageW(c.Window, BM_GETCHECK, 0, 0) != BST_CHECKED) return;
  FInput.Push(TUIEvent{TUIEventKind::Click, c.Name, 0});
}

void TWin32View::Show() {
  ShowWindow(FWindow, SW_SHOW);
  SetWindowPos(FWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(FWindow);
}

void TWin32View::Hide() {
  // Hidden at once (not through a posted message): the caller may block next, as the Active
  // Window wait sleeps for 3 seconds, with the window already off the screen.
  ShowWindow(FWindow, SW_HIDE);
  GdiFlush();
}

bool TWin32View::Visible() const {
  return IsWindowVisible(FWindow) != FALSE;
}

void TWin32View::BringToFront() {
  // Bringing a hidden window to the front does not show it: the tray's menu during a recording
  // must not bring back a tool window that looks idle while the recording goes on.
  if (!Visible()) return;
  SetWindowPos(FWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(FWindow);
}

void TWin32View::SetCaption(const std::string& caption) {
  SetWindowTextW(FWindow, Utf16(caption).c_str());
}

std::string TWin32View::Caption() const {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(FWindow)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(FWindow, text.data(), static_cast<int>(text.size()))));
  return Utf8(text);
}

void TWin32View::SetComponentVisible(const std::string& name, bool visible) {
  if (const TComponent* c = Find(name)) ShowWindow(c->Window, visible ? SW_SHOWNA : SW_HIDE);
}

bool TWin32View::ComponentVisible(const std::string& name) const {
  // The component's own flag, whether or not its window is on the screen now.
  const TComponent* c = Find(name);
  return c == nullptr || (GetWindowLongPtrW(c->Window, GWL_STYLE) & WS_VISIBLE) != 0;
}

void TWin32View::SetComponentLeft(const std::string& name, int left) {
  const TComponent* c = Find(name);
  if (c == nullptr) return;
  RECT r;
  GetWindowRect(c->Window, &r);
  MapWindowPoints(nullptr, GetParent(c->Window), reinterpret_cast<POINT*>(&r), 2);
  SetWindowPos(c->Window, nullptr, left, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool TWin32View::Checked(const std::string& name) const {
  const TComponent* c = Find(name);
  return c != nullptr && c->Radio && SendMessageW(c->Window, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TWin32View::SetChecked(const std::string& name, bool checked) {
  const TComponent* target = Find(name);
  if (target == nullptr || !target->Radio) return;
  // A radio button checked from here unchecks the others, as a click would.
  if (checked) {
    for (const TComponent& c : FComponents) {
      if (c.Radio && &c != target) SendMessageW(c.Window, BM_SETCHECK, BST_UNCHECKED, 0);
    }
  }
  SendMessageW(target->Window, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

int TWin32View::ShowModal() {
  if (FKind != TKind::PausedDialog) {
    Show();
    return 0;
  }
  TWin32Input::TModalScope modal(FInput);
  FResult = 0;
  FDone = false;
  const bool ownerWasEnabled = FOwner != nullptr && IsWindowEnabled(FOwner);
  if (ownerWasEnabled) EnableWindow(FOwner, FALSE);
  Show();
  RunModalLoop([this] { return FDone; });
  // The owner first, so the system hands activation back to it rather than to another program.
  if (ownerWasEnabled) EnableWindow(FOwner, TRUE);
  ShowWindow(FWindow, SW_HIDE);
  return FResult == 0 ? 2 : FResult;
}

}  // namespace kestrova::platform::win32
