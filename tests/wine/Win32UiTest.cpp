// The Win32 user interface's windows, run under Wine on a display (tests/wine/ui_checks.sh):
// what each message becomes for the recorder, the paused dialog's results, input dropped while a
// modal window is up, the settings file, the single instance, and the countdown, region picker
// and hot key dialog driven by posted input.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/Win32UiCommon.h"
#include "platform/win32/Win32UiExtras.h"
#include "platform/win32/Win32UiServices.h"
#include "platform/win32/Win32UiViews.h"
#include "platform/win32/Win32UserInterface.h"

namespace kestrova::platform::win32 {
namespace {

// This process's visible or hidden top-level window with that title.
HWND OwnWindow(const wchar_t* title) {
  for (HWND w = FindWindowExW(nullptr, nullptr, nullptr, title); w != nullptr;
       w = FindWindowExW(nullptr, w, nullptr, title)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == GetCurrentProcessId()) return w;
  }
  return nullptr;
}

// Runs step from the modal loop of whatever window is up, every 50 ms, until it returns true.
class TDriver {
 public:
  explicit TDriver(std::function<bool()> step) : FStep(std::move(step)) {
    Current() = this;
    FTimer = SetTimer(nullptr, 0, 50, Tick);
  }
  ~TDriver() {
    KillTimer(nullptr, FTimer);
    Current() = nullptr;
  }

 private:
  static TDriver*& Current() {
    static TDriver* current = nullptr;
    return current;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    TDriver* d = Current();
    if (d != nullptr && !d->FDone) d->FDone = d->FStep();
  }
  std::function<bool()> FStep;
  UINT_PTR FTimer = 0;
  bool FDone = false;
};

// What the handler was given, activations apart (the windows are activated as the system
// pleases while the tests show and hide them); those are counted.
struct TRecorded {
  std::vector<TUIEvent> Events;
  int Activations = 0;
  void Attach(TApplicationHost& app) {
    app.SetEventHandler([this](const TUIEvent& e) { Add(e); });
  }
  void Add(const TUIEvent& e) {
    if (e.Kind == TUIEventKind::Activate) {
      ++Activations;
    } else {
      Events.push_back(e);
    }
  }
};

class Win32Ui : public ::testing::Test {
 protected:
  TWin32UserInterface Ui;
  HWND Tool = OwnWindow(L"Kestrova 1.1");
  HWND Paused = OwnWindow(L"Kestrova 1.1 - PAUSED");
  TRecorded Seen;
  void SetUp() override {
    ASSERT_NE(Tool, nullptr);
    ASSERT_NE(Paused, nullptr);
    Seen.Attach(Ui.Application());
  }
  // The paused dialog's picture button with that text.
  HWND PausedButton(const wchar_t* text) {
    HWND found = nullptr;
    struct TFind {
      const wchar_t* Text;
      HWND* Found;
    } find{text, &found};
    EnumChildWindows(
        Paused,
        [](HWND child, LPARAM l) -> BOOL {
          auto* f = reinterpret_cast<TFind*>(l);
          wchar_t t[32] = {};
          GetWindowTextW(child, t, 32);
          if (std::wstring(t) == f->Text) *f->Found = child;
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&find));
    return found;
  }
};

TEST_F(Win32Ui, ToolWindowMessagesBecomeTheRecordersEvents) {
  struct TCase {
    const char* What;
    UINT Message;
    WPARAM W;
    LPARAM L;
    bool Expected;
    TUIEventKind Kind;
    int Param;
  };
  const TCase cases[] = {
      {"hot key", WM_HOTKEY, 0xC001, MAKELPARAM(3, 'S'), true, TUIEventKind::HotKey, 0xC001},
      {"tray double-click", kTrayMessage, 1, WM_LBUTTONDBLCLK, true, TUIEventKind::TrayNotify,
       kTrayLeftDoubleClick},
      {"tray right button", kTrayMessage, 1, WM_RBUTTONDOWN, true, TUIEventKind::TrayNotify,
       kTrayRightButtonDown},
      {"tray mouse move", kTrayMessage, 1, WM_MOUSEMOVE, false, TUIEventKind::TrayNotify, 0},
      {"tray button up", kTrayMessage, 1, WM_LBUTTONUP, false, TUIEventKind::TrayNotify, 0},
      {"caption close button", WM_SYSCOMMAND, SC_CLOSE, 0, true, TUIEventKind::Close, 0},
      {"closed from outside", WM_CLOSE, 0, 0, true, TUIEventKind::Destroy, 0},
  };
  for (const TCase& c : cases) {
    Seen.Events.clear();
    PostMessageW(Tool, c.Message, c.W, c.L);
    Ui.Application().ProcessMessages();
    if (!c.Expected) {
      EXPECT_TRUE(Seen.Events.empty()) << c.What;
      continue;
    }
    ASSERT_EQ(Seen.Events.size(), 1u) << c.What;
    EXPECT_EQ(Seen.Events[0].Kind, c.Kind) << c.What;
    EXPECT_EQ(Seen.Events[0].Param, c.Param) << c.What;
  }
  // The caption's close button closes the window as the user expects.
  EXPECT_FALSE(IsWindowVisible(Tool));
}

TEST_F(Win32Ui, SessionEndIsOneDestroy) {
  SendMessageW(Tool, WM_QUERYENDSESSION, 0, 0);
  SendMessageW(Tool, WM_ENDSESSION, TRUE, 0);
  Ui.Application().ProcessMessages();
  ASSERT_EQ(Seen.Events.size(), 1u);
  EXPECT_EQ(Seen.Events[0].Kind, TUIEventKind::Destroy);
}

TEST_F(Win32Ui, ClicksOnComponentsAreNamedAsTheRecorderNamesThem) {
  TView& view = Ui.ToolWindow();
  view.Show();
  Ui.Application().ProcessMessages();
  EXPECT_GT(Seen.Activations, 0);
  struct TCase {
    const wchar_t* Text;
    const char* Name;
  };
  const TCase cases[] = {{L"Start", "ImgBtnStartRecord"},
                         {L"Exit", "ImgExit"},
                         {L"Active Window", "RdoActiveWindow"},
                         {L"Region", "RdoRegion"},
                         {L"Full Screen", "RdoFullScreen"}};
  for (const TCase& c : cases) {
    Seen.Events.clear();
    HWND control = nullptr;
    std::pair<const wchar_t*, HWND*> wanted(c.Text, &control);
    EnumChildWindows(
        Tool,
        [](HWND child, LPARAM l) -> BOOL {
          auto* p = reinterpret_cast<std::pair<const wchar_t*, HWND*>*>(l);
          wchar_t t[32] = {};
          GetWindowTextW(child, t, 32);
          if (std::wstring(t) == p->first && *p->second == nullptr) *p->second = child;
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&wanted));
    ASSERT_NE(control, nullptr);
    SendMessageW(control, BM_CLICK, 0, 0);
    Ui.Application().ProcessMessages();
    ASSERT_EQ(Seen.Events.size(), 1u) << c.Name;
    EXPECT_EQ(Seen.Events[0].Kind, TUIEventKind::Click);
    EXPECT_EQ(Seen.Events[0].Target, c.Name);
  }
  // The radio clicked last is the one checked, and only it.
  EXPECT_TRUE(view.Checked("RdoFullScreen"));
  EXPECT_FALSE(view.Checked("RdoRegion"));
  view.Hide();
}

TEST_F(Win32Ui, ViewComponentsAnswerByName) {
  TView& view = Ui.ToolWindow();
  for (const char* name : {"RdoActiveWindow", "RdoRegion", "RdoFullScreen"}) {
    view.SetChecked(name, true);
    for (const char* other : {"RdoActiveWindow", "RdoRegion", "RdoFullScreen"}) {
      EXPECT_EQ(view.Checked(other), std::string(other) == name) << name << " " << other;
    }
  }
  EXPECT_FALSE(view.Checked("ImgExit"));
  EXPECT_FALSE(view.Checked("NoSuchComponent"));
  view.SetComponentVisible("Image1", false);
  EXPECT_FALSE(view.ComponentVisible("Image1"));
  view.SetComponentVisible("Image1", true);
  EXPECT_TRUE(view.ComponentVisible("Image1"));
  EXPECT_TRUE(view.ComponentVisible("NoSuchComponent"));
  const std::string caption = "Kestrova 1.1 \xE5\xBD\xB1";
  view.SetCaption(caption);
  EXPECT_EQ(view.Caption(), caption);
  view.SetCaption("Kestrova 1.1");
}

TEST_F(Win32Ui, PausedDialogResults) {
  struct TCase {
    const char* What;
    std::function<void()> Act;
    int Expected;
  };
  const TCase cases[] = {
      {"Stop", [&] { PostMessageW(PausedButton(L"Stop"), BM_CLICK, 0, 0); }, 1},
      {"Continue", [&] { PostMessageW(PausedButton(L"Continue"), BM_CLICK, 0, 0); }, 2},
      {"Exit", [&] { PostMessageW(PausedButton(L"Exit"), BM_CLICK, 0, 0); }, 3},
      {"caption close", [&] { PostMessageW(Paused, WM_SYSCOMMAND, SC_CLOSE, 0); }, 2},
      {"Escape", [&] { PostMessageW(Paused, WM_COMMAND, IDCANCEL, 0); }, 2},
  };
  for (const TCase& c : cases) {
    c.Act();
    EXPECT_EQ(Ui.PausedDialog().ShowModal(), c.Expected) << c.What;
    EXPECT_FALSE(Ui.PausedDialog().Visible()) << c.What;
  }
}

TEST_F(Win32Ui, InputWhileModalIsDroppedButTheSessionEndIsKept) {
  PostMessageW(Tool, WM_HOTKEY, 0xC001, 0);
  PostMessageW(Tool, kTrayMessage, 1, WM_LBUTTONDBLCLK);
  PostMessageW(Tool, WM_CLOSE, 0, 0);
  PostMessageW(PausedButton(L"Continue"), BM_CLICK, 0, 0);
  EXPECT_EQ(Ui.PausedDialog().ShowModal(), 2);
  Ui.Application().ProcessMessages();
  ASSERT_EQ(Seen.Events.size(), 1u);
  EXPECT_EQ(Seen.Events[0].Kind, TUIEventKind::Destroy);
}

TEST_F(Win32Ui, TerminateEndsTheLoopAfterTheHandler) {
  Ui.Application().SetEventHandler([this](const TUIEvent& e) {
    Seen.Add(e);
    if (e.Kind != TUIEventKind::Activate) Ui.Application().Terminate();
  });
  PostMessageW(Tool, WM_HOTKEY, 5, 0);
  PostMessageW(Tool, WM_HOTKEY, 6, 0);
  Ui.Application().RunMessageLoop();
  EXPECT_TRUE(Ui.Application().Terminated());
  ASSERT_EQ(Seen.Events.size(), 1u);
  EXPECT_EQ(Seen.Events[0].Param, 5);
}

TEST_F(Win32Ui, InputSentFromAnotherThreadWakesTheWaitingLoop) {
  // The tray's callback arrives as a message sent from the shell's thread, handled inside
  // GetMessage; the loop must then hand it over without waiting for some other message. Only
  // if it does not, the fallback (a hot key posted after 10 s) ends the wait.
  Ui.Application().SetEventHandler([this](const TUIEvent& e) {
    Seen.Add(e);
    if (e.Kind != TUIEventKind::Activate) Ui.Application().Terminate();
  });
  HANDLE loopEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  bool fallbackUsed = false;
  std::thread shell([&] {
    Sleep(200);
    SendMessageW(Tool, kTrayMessage, 1, WM_LBUTTONDBLCLK);
    if (WaitForSingleObject(loopEnded, 10000) == WAIT_TIMEOUT) {
      fallbackUsed = true;
      PostMessageW(Tool, WM_HOTKEY, 9, 0);
    }
  });
  Ui.Application().RunMessageLoop();
  SetEvent(loopEnded);
  shell.join();
  CloseHandle(loopEnded);
  EXPECT_FALSE(fallbackUsed);
  ASSERT_FALSE(Seen.Events.empty());
  EXPECT_EQ(Seen.Events[0].Kind, TUIEventKind::TrayNotify);
}

TEST(Win32UiSettings, KeptInAFileReplacedWhole) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  const std::wstring folder =
      std::wstring(dir) + L"kestrova-settings-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring file = folder + L"\\kestrova.conf";
  TWin32Settings settings(file);
  EXPECT_FALSE(settings.Get("Capture"));
  settings.Set("Capture", "Region");
  settings.Set("Region", "1,2,3,4");
  settings.Set("Capture", "Screen");
  EXPECT_EQ(settings.Get("Capture").value_or(""), "Screen");
  EXPECT_EQ(TWin32Settings(file).Get("Region").value_or(""), "1,2,3,4");
  EXPECT_EQ(GetFileAttributesW((file + L".new").c_str()), INVALID_FILE_ATTRIBUTES);
  // Not a settings file: too big to be ours; read as nothing, replaced on the next Set.
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const std::string big((1 << 20) + 1, 'x');
  DWORD written = 0;
  WriteFile(h, big.data(), static_cast<DWORD>(big.size()), &written, nullptr);
  CloseHandle(h);
  EXPECT_FALSE(settings.Get("Capture"));
  settings.Set("Capture", "Window");
  EXPECT_EQ(settings.Get("Capture").value_or(""), "Window");
  DeleteFileW(file.c_str());
  RemoveDirectoryW(folder.c_str());
  // A place that cannot be written loses the value quietly.
  TWin32Settings nowhere(folder + L"\\missing\\deeper\\kestrova.conf");
  nowhere.Set("Capture", "Region");
  EXPECT_FALSE(nowhere.Get("Capture"));
}

TEST(Win32UiSingleInstance, TheSecondHolderIsRefusedUntilTheFirstLetsGo) {
  const std::string name = "KestrovaTestMutex" + std::to_string(GetCurrentProcessId());
  TWin32SingleInstance first, second;
  EXPECT_TRUE(first.Acquire(name));
  EXPECT_FALSE(second.Acquire(name));
  first.Release();
  EXPECT_TRUE(second.Acquire(name));
  EXPECT_FALSE(first.BringForward("No Such Kestrova Title"));
}

TEST(Win32UiCountdown, RunsOutOrIsCancelledByAClick) {
  TWin32Input input;
  TWin32Countdown countdown(input);
  EXPECT_TRUE(countdown.Run(0));
  EXPECT_TRUE(countdown.Run(1));
  int shown = 0;
  TDriver click([&] {
    HWND w = OwnWindow(L"Kestrova");
    if (w == nullptr) return false;
    // It must not take the focus from the window the user is in.
    EXPECT_NE(GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_NOACTIVATE, 0);
    ++shown;
    PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    return true;
  });
  EXPECT_FALSE(countdown.Run(30));
  EXPECT_EQ(shown, 1);
}

TEST(Win32UiRegionPicker, ADragIsTheRegionASlipStartsOverEscapeCancels) {
  TWin32Input input;
  TWin32RegionPicker picker(input);
  const int ox = GetSystemMetrics(SM_XVIRTUALSCREEN), oy = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const auto drag = [](HWND w, POINT a, POINT b) {
    PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(a.x, a.y));
    PostMessageW(w, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(b.x, b.y));
    PostMessageW(w, WM_LBUTTONUP, 0, MAKELPARAM(b.x, b.y));
  };
  {
    TDriver driver([&] {
      HWND w = OwnWindow(L"Kestrova");
      if (w == nullptr) return false;
      drag(w, {10, 10}, {12, 12});  // a slip
      drag(w, {299, 149}, {100, 50});
      return true;
    });
    const std::optional<TScreenRect> r = picker.PickRegion();
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, (TScreenRect{100 + ox, 50 + oy, 300 + ox, 150 + oy}));
  }
  for (const auto& cancel : {std::pair<UINT, WPARAM>{WM_KEYDOWN, VK_ESCAPE},
                             std::pair<UINT, WPARAM>{WM_RBUTTONDOWN, MK_RBUTTON}}) {
    TDriver driver([&] {
      HWND w = OwnWindow(L"Kestrova");
      if (w == nullptr) return false;
      PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
      PostMessageW(w, cancel.first, cancel.second, MAKELPARAM(40, 40));
      return true;
    });
    EXPECT_FALSE(picker.PickRegion());
  }
}

TEST(Win32UiHotKeyDialog, PicksAModifierAndAKeyAndNotTheOneTaken) {
  TWin32Input input;
  TWin32HotKeyDialog dialog(input);
  bool okWasDisabled = false;
  {
    TDriver driver([&] {
      HWND w = OwnWindow(L"Kestrova - Hot Key");
      if (w == nullptr) return false;
      okWasDisabled = !IsWindowEnabled(GetDlgItem(w, IDOK));
      HWND keys = FindWindowExW(w, nullptr, L"COMBOBOX", nullptr);
      keys = FindWindowExW(w, keys, L"COMBOBOX", nullptr);
      SendMessageW(keys, CB_SETCURSEL, 'Q' - 'A', 0);
      SendMessageW(w, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(keys), CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(keys));
      PostMessageW(w, WM_COMMAND, IDOK, 0);
      return true;
    });
    const std::optional<THotKeyChoice> choice =
        dialog.Choose(THotKeyChoice{}, THotKeyProblem::Taken);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->Name, "Ctrl+Alt+Q");
    EXPECT_EQ(choice->Key, static_cast<std::uint32_t>('Q'));
    EXPECT_EQ(choice->Modifiers, kModControl | kModAlt);
  }
  EXPECT_TRUE(okWasDisabled);  // Ctrl+Alt+S, the key taken, was offered first
  TDriver cancel([&] {
    HWND w = OwnWindow(L"Kestrova - Hot Key");
    if (w == nullptr) return false;
    PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
    return true;
  });
  EXPECT_FALSE(dialog.Choose(THotKeyChoice{}, THotKeyProblem::Asked));
}

}  // namespace
}  // namespace kestrova::platform::win32
