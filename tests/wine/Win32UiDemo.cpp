// A small program that drives the Win32 user interface the way the recorder does, without
// recording: the scripts beside it click through it with xdotool under Wine and read what it
// prints (one line per thing that happened) to check each window and message. Until the real
// Windows backend runs these flows in kestrova.exe, this is how they are tried.
//
//   win32_ui_demo flow [movie-folder]   the tool window, tray, hot key, paused dialog, prompts
//   win32_ui_demo countdown N           prints "countdown ran" or "countdown cancelled"
//   win32_ui_demo region                prints "region L T R B" or "region cancelled"
//   win32_ui_demo hotkeydialog          prints "hotkey NAME" or "hotkey cancelled"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "platform/win32/Win32UiCommon.h"
#include "platform/win32/Win32UserInterface.h"

using namespace kestrova::platform;
using kestrova::platform::win32::TWin32UserInterface;

namespace {

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// Where the user would click: "at TEXT X Y" (screen pixels) for each visible component of the
// window with that title, so a script can aim the mouse without knowing the layout.
void SayPlaces(const wchar_t* title) {
  HWND window = FindWindowW(nullptr, title);
  if (window == nullptr || !IsWindowVisible(window)) return;
  EnumChildWindows(
      window,
      [](HWND child, LPARAM) -> BOOL {
        wchar_t text[64] = {};
        GetWindowTextW(child, text, 64);
        RECT r;
        if (text[0] != 0 && IsWindowVisible(child) && GetWindowRect(child, &r)) {
          Say("at " + kestrova::platform::win32::Utf8(text) + " " +
              std::to_string((r.left + r.right) / 2) + " " +
              std::to_string((r.top + r.bottom) / 2));
        }
        return TRUE;
      },
      0);
}

// Said once the paused dialog is up (its modal loop runs the timer).
bool gPausedPlacesSaid = false;
void CALLBACK SayPausedPlaces(HWND, UINT, UINT_PTR, DWORD) {
  if (gPausedPlacesSaid || !IsWindowVisible(FindWindowW(nullptr, L"Kestrova 1.1 - PAUSED"))) {
    return;
  }
  gPausedPlacesSaid = true;
  Say("paused dialog up");
  SayPlaces(L"Kestrova 1.1 - PAUSED");
}

// The recorder's flows in miniature: what each input leads to, and the answers printed.
class TDemo {
 public:
  explicit TDemo(TWin32UserInterface& ui) : Ui(ui) {}

  int Run() {
    if (!Ui.Instance().Acquire("MysampleAppMutex")) {
      Say(std::string("second instance; brought forward: ") +
          (Ui.Instance().BringForward("Kestrova 1.0") ? "yes" : "no"));
      return 0;
    }
    Ui.Application().SetTitle("Kestrova 1.0");
    Say(std::string("tray ") + (Ui.Tray().Add("Kestrova 1.0") ? "added" : "missing"));
    HotKeyId = Ui.HotKeys().AddAtom("Hotkey1");
    Say(std::string("hotkey ") +
        (Ui.HotKeys().Register(HotKeyId, kModControl | kModAlt, kVirtualKeyS) ? "registered"
                                                                              : "taken"));
    Ui.Application().SetEventHandler([this](const TUIEvent& e) { OnEvent(e); });
    Ui.ToolWindow().Show();
    SayPlaces(L"Kestrova 1.1");
    Say("ready");
    Ui.Application().RunMessageLoop();
    Ui.HotKeys().Unregister(HotKeyId);
    Ui.HotKeys().DeleteAtom(HotKeyId);
    Ui.Tray().Remove();
    Say("loop ended");
    return 0;
  }

 private:
  void OnEvent(const TUIEvent& e) {
    static const char* const kKinds[] = {"Click", "HotKey",  "TrayNotify", "Activate",
                                         "Close", "Destroy", "StopRequest"};
    const std::string kind = kKinds[static_cast<int>(e.Kind)];
    Say("event " + kind + " " + e.Target + " " + std::to_string(e.Param));
    switch (e.Kind) {
      case TUIEventKind::Click:
        if (e.Target == "ImgBtnStartRecord") Start();
        if (e.Target == "Image1") Recording = false;
        if (e.Target == "ImgExit") {
          ExitRequested = true;
          StopPrompt();
          Ui.Application().Halt(0);
        }
        break;
      case TUIEventKind::HotKey:
        if (!Started) {
          Ui.MessageBoxes().Show("Recording not started!", "Kestrova", kMbOk | kMbIconExclamation);
        } else {
          ShowPausedDialog();
        }
        break;
      case TUIEventKind::TrayNotify:
        if (!Started) break;
        if (e.Param == kTrayLeftDoubleClick) {
          ShowPausedDialog();
        } else {
          const int chosen = Ui.Tray().PopupMenu(10, 10, {"&Open", "&Exit"});
          Say("menu " + std::to_string(chosen));
        }
        break;
      case TUIEventKind::Close:
      case TUIEventKind::Destroy:
        Ui.Application().Terminate();
        break;
      default:
        break;
    }
  }

  void Start() {
    if (Recording) return;
    Recording = Started = true;
    Ui.ToolWindow().Hide();
    Ui.ToolWindow().SetComponentVisible("ImgBtnStartRecord", false);
    Ui.ToolWindow().SetComponentVisible("Image1", true);
    Ui.Tray().ShowRecording(true, "Recording 0:00", "");
    Say(std::string("recording ") +
        (Ui.ToolWindow().Checked("RdoActiveWindow") ? "GTCLIENT" : "GTSCREEN"));
  }

  void ShowPausedDialog() {
    gPausedPlacesSaid = false;
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, SayPausedPlaces);
    const int result = Ui.PausedDialog().ShowModal();
    KillTimer(nullptr, timer);
    Say("paused " + std::to_string(result));
    if (result == 1) {
      Ui.ToolWindow().SetComponentVisible("ImgBtnStartRecord", true);
      Ui.ToolWindow().SetComponentVisible("Image1", false);
      Ui.ToolWindow().Show();
      SayPlaces(L"Kestrova 1.1");
      StopPrompt();
    } else if (result == 3) {
      ExitRequested = true;
      StopPrompt();
    }
  }

  void StopPrompt() {
    if (!Recording) {
      Ui.Application().Terminate();
      return;
    }
    const int answer = Ui.MessageBoxes().Show("Do you want to save Recording?", "Kestrova",
                                              kMbYesNoCancel | kMbIconQuestion);
    Say("save? " + std::to_string(answer));
    if (answer == kIdYes) {
      TSaveDialogOptions options{"Kestrova", ".", "Flash File|*.swf", "swf", 1};
      if (const char* dir = std::getenv("DEMO_DIR")) options.InitialDir = dir;
      const std::optional<std::string> name = Ui.SaveDialog().Execute(options);
      if (!name) {
        Say("save cancelled");
        ShowPausedDialog();
        return;
      }
      Say("saved " + *name);
      // Something at the name picked, as the recorder's movie would be.
      if (FILE* f = _wfopen(kestrova::platform::win32::Utf16(*name).c_str(), L"wb")) {
        std::fputs("movie", f);
        std::fclose(f);
      }
      Recording = false;
      Ui.Tray().ShowRecording(false, "Kestrova 1.0");
      Ui.Tray().Notify("Kestrova", "Saved " + *name);
      if (ExitRequested) Ui.Application().Halt(0);
    } else if (answer == kIdNo && ExitRequested) {
      Say("exit without saving");
      Ui.Tray().Remove();
      Ui.Application().Halt(0);
    } else {
      ShowPausedDialog();
    }
  }

  TWin32UserInterface& Ui;
  std::uint16_t HotKeyId = 0;
  bool Recording = false, Started = false, ExitRequested = false;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "flow";
  try {
    TWin32UserInterface ui;
    if (mode == "flow") return TDemo(ui).Run();
    if (mode == "countdown") {
      Say(ui.Countdown().Run(argc > 2 ? std::atoi(argv[2]) : 3) ? "countdown ran"
                                                                : "countdown cancelled");
      return 0;
    }
    if (mode == "region") {
      Say("picking");
      if (const std::optional<TScreenRect> r = ui.RegionPicker().PickRegion()) {
        Say("region " + std::to_string(r->Left) + " " + std::to_string(r->Top) + " " +
            std::to_string(r->Right) + " " + std::to_string(r->Bottom));
      } else {
        Say("region cancelled");
      }
      return 0;
    }
    if (mode == "hotkeydialog") {
      const std::optional<THotKeyChoice> choice =
          ui.HotKeyDialog().Choose(THotKeyChoice{}, THotKeyProblem::Taken);
      Say(choice ? "hotkey " + choice->Name : std::string("hotkey cancelled"));
      return 0;
    }
    Say("unknown mode " + mode);
    return 2;
  } catch (const std::exception& e) {
    Say(std::string("error: ") + e.what());
    return 1;
  }
}
