// The simulated desktop: a virtual screen with a wallpaper, windows whose content changes, a
// cursor moving along a path and a virtual clock that sleeping advances, driven by a script of
// user actions and scripted answers for every dialog. Every message box, dialog and tray call is
// recorded. The same script gives the same pixels at the same virtual times, so recordings made
// on it are the same byte for byte. It runs every recorder flow headless, and it is the desktop
// the program records where no real display is available.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "media/DIBitmap.h"
#include "platform/Platform.h"
#include "platform/sim/SimSound.h"

namespace kestrova::platform::sim {

// What a window shows; each changes with the virtual time unless the desktop is frozen.
enum class TSimContent {
  Still,      // a plain client area
  Typing,     // text typed at ten characters a second
  Scrolling,  // lines scrolling up twice a second
  Video,      // a picture that changes every 83 ms
};

struct TSimWindowSpec {
  std::string Title;
  TScreenRect Rect;
  TSimContent Content = TSimContent::Still;
  bool Visible = true;
};

struct TSimConfig {
  std::int32_t Width = 1024, Height = 768;
  std::uint32_t StartTick = 0x00100000;  // the tick counter at virtual time 0
  std::uint32_t GrabCostMs = 0;          // virtual time one grab takes
  bool NotificationArea = true;
  std::vector<TSimWindowSpec> Windows;  // bottom to top; handles 1, 2, 3... in this order
  // The pointer's path: it moves from one point to the next in CursorStepMs, then starts over.
  std::vector<std::pair<std::int32_t, std::int32_t>> CursorPath = {{40, 40}};
  std::uint32_t CursorStepMs = 1000;
  bool CursorShowing = true;
  // Reaching this virtual time (when not 0) stops the script with TSimScriptError, so a
  // script that never ends its recording fails instead of running on.
  std::uint64_t TimeLimitMs = 0;
  // Combinations another program holds: registering them fails.
  std::vector<THotKeyChoice> HeldHotKeys;
  // What every sound input hears: the microphone and the system's sound are the same tone.
  TSimToneSpec Tone;
};

// A desktop with three lively windows (typing, scrolling, video) and a wandering pointer.
TSimConfig DemoDesktop(std::int32_t width = 1024, std::int32_t height = 768);

enum class TSimActionKind {
  // Input for the program, delivered when it next processes messages:
  Click,   // Target: a tool window component ("ImgBtnStartRecord", "RdoActiveWindow", ...)
  HotKey,  // Target: the combination pressed ("Ctrl+Alt+S" when empty)
  TrayDoubleClick,
  TrayRightClick,
  CloseToolWindow,    // the tool window's caption close button
  DestroyToolWindow,  // the session ends under the program
  SetValue,           // Target "Component=value": the user changes a value component (a Click
                      // on it arrives); a greyed-out one takes no change
  StopRequest,        // another program asks to stop (kestrova stop); Param as TUIEvent's
  // Changes of the desktop, made at their time even while the program sleeps:
  Activate,  // Window comes to the front and becomes the foreground window
  Minimise,
  Restore,
  Maximise,
  Hide,
  Show,
  CloseWindow,
  MoveWindow,    // to Rect's left and top
  ResizeWindow,  // to Rect
  Paint,         // fills Rect of the wallpaper with the colour Param (0xRRGGBB)
  CursorShow,    // Param 0 hides the pointer, 1 shows it
  Freeze,        // Param 1 stops every content change, 0 lets them go on
};

struct TSimAction {
  std::uint64_t AtMs = 0;  // virtual time
  TSimActionKind Kind = TSimActionKind::Click;
  std::string Target;
  TWindowHandle Window = 0;
  TScreenRect Rect;
  std::int32_t Param = 0;
};

// An answer to a modal dialog, given after the user has thought for DelayMs.
struct TSimAnswer {
  int Value = 0;                    // paused dialog: 1, 2, 3, or 0 for the caption close;
                                    // message boxes: kIdYes...; menus: the item or -1
  std::optional<std::string> Name;  // save dialog: the name typed, or nothing for Cancel;
                                    // hot key dialog: the combination ("Ctrl+Shift+R") or
                                    // nothing for Cancel
  std::uint32_t DelayMs = 0;
};

// Countdown: Value 0 cancels it after DelayMs; 1 (or no answer at all) lets it run out.
enum class TSimDialog { Paused, Question, Save, Menu, Region, HotKey, Countdown };

// One call the program made, recorded for the tests.
struct TSimCall {
  std::uint64_t AtMs = 0;
  std::string What;  // "MessageBox", "SaveDialog", "PausedDialog", "TrayAdd", "TrayRemove",
                     // "PopupMenu", "HotKeyRegister", "HotKeyUnregister", "BringForward",
                     // "Halt", "Terminate", "ScriptEnded", "ToolWindowShow", "ToolWindowHide",
                     // "RegionPicker", "Countdown", "HotKeyDialog", "TrayRecording",
                     // "StopAnswer" (Text: the answer, Result: 1 when saved)
  std::string Text, Caption;
  std::uint32_t Flags = 0;
  int Result = 0;
  std::string Detail;  // the save dialog's options, the menu's position...
};

// A script ran out of answers: the desktop cannot make up what the user would have done.
// Deliberately not a std::exception, so the program's own error handling does not swallow it.
struct TSimScriptError {
  std::string Message;
};

// Everything a grab saw, for tests that check recordings against the screen.
struct TSimGrabRecord {
  std::uint64_t AtMs = 0;
  TWindowHandle Window = 0;
  TScreenRect Rect;
};

class TSimDesktop {
 public:
  explicit TSimDesktop(TSimConfig config = {});
  ~TSimDesktop();
  TSimDesktop(const TSimDesktop&) = delete;
  TSimDesktop& operator=(const TSimDesktop&) = delete;

  // The interfaces, gathered; they live as long as the desktop.
  TPlatform& Platform() { return FPlatform; }
  // Files are a separate concern: the simulated desktop keeps its files where the host's are.
  void SetFiles(TFileLocations* files) { FPlatform.Files = files; }

  // The script. Actions may be added in any order; they run in time order (ties: as added).
  void Add(TSimAction action);
  void Answer(TSimDialog dialog, TSimAnswer answer);
  // The region picker's next answer: the rectangle dragged, or nothing for Escape.
  void AnswerRegion(std::optional<TScreenRect> region, std::uint32_t delayMs = 0);
  // Asked when a queue of answers is empty, instead of failing the script.
  std::function<std::optional<TSimAnswer>(TSimDialog, const std::string& text)> DefaultAnswer;
  // Called after every grab, with the desktop as it was grabbed.
  std::function<void(const TSimGrabRecord&)> OnGrab;

  std::uint64_t NowMs() const { return FNow; }
  const std::vector<TSimCall>& Calls() const { return FCalls; }
  std::vector<TSimCall> CallsOf(const std::string& what) const;
  // Messages boxes shown, their texts in order.
  std::vector<std::string> MessageTexts() const;
  bool Halted() const { return FHalted; }
  TSimToneSource& Sound() { return *FSound; }
  // The settings kept "between starts": a desktop outlives the recorders made on it, so a test
  // starts a second one to see what the first remembered.
  std::map<std::string, std::string>& SettingsStore() { return FSettings; }
  // The tray's tip and output name as last shown while recording (empty when idle).
  const std::string& TrayTip() const;
  const std::string& TrayOutput() const;
  // The tool window's components as the program last set them: value and whether enabled (with
  // its tip).
  std::string ToolValue(const std::string& component) const;
  bool ToolEnabled(const std::string& component) const;
  std::string ToolTip(const std::string& component) const;
  // Sleeping also waits for the real time to pass (a desktop recorded until Ctrl+C).
  void SetRealTime(bool realTime) { FRealTime = realTime; }

  // The screen as it shows now, cursor included, one palette index per pixel, top row first
  // (rect: the whole screen for window 0, else the window's own pixels).
  std::vector<std::uint8_t> Compose(TWindowHandle window, const TScreenRect& rect, bool withCursor);
  const TSimConfig& Config() const { return FConfig; }
  TWindowHandle WindowByTitle(const std::string& title) const;

 private:
  struct TWindowState;
  class TClockImpl;
  class TApplicationImpl;
  class TInstanceImpl;
  class TViewImpl;
  class TMessageBoxesImpl;
  class TSaveDialogImpl;
  class TTrayImpl;
  class THotKeysImpl;
  class TDesktopImpl;
  class TCaptureImpl;
  class TCursorImpl;
  class TRegionPickerImpl;
  class TCountdownImpl;
  class TSettingsImpl;
  class THotKeyDialogImpl;

  void AdvanceTo(std::uint64_t ms);
  void Apply(const TSimAction& action);
  void DeliverDue();
  bool DeliverOne();
  TSimAnswer TakeAnswer(TSimDialog dialog, const std::string& text);
  std::optional<TSimAnswer> TakeAnswerIfAny(TSimDialog dialog);
  void Record(TSimCall call);
  TWindowState* Find(TWindowHandle handle);
  void RenderBgrx(TWindowHandle window, const TScreenRect& rect, std::vector<std::uint8_t>& bgrx);
  void DrawWindow(const TWindowState& w, const TScreenRect& rect, std::vector<std::uint8_t>& bgrx);
  std::uint64_t ContentTime() const;
  void CursorAt(std::int32_t& x, std::int32_t& y) const;
  bool CaptureInto(TWindowHandle window, const TScreenRect& rect, TDIBitmap& frame,
                   TDamage& damage);

  TSimConfig FConfig;
  std::uint64_t FNow = 0;
  std::optional<std::uint64_t> FFrozenAt;
  bool FCursorShowing = true;
  std::vector<std::unique_ptr<TWindowState>> FWindows;  // z-order, bottom first
  TWindowHandle FForeground = 0;
  std::vector<std::pair<TScreenRect, std::uint32_t>> FPaint;
  std::multimap<std::uint64_t, TSimAction> FScript;
  std::deque<TUIEvent> FPending;
  std::map<TSimDialog, std::deque<TSimAnswer>> FAnswers;
  std::deque<std::optional<TScreenRect>> FRegions;  // one per TSimDialog::Region answer
  std::vector<TSimCall> FCalls;
  std::set<std::string> FHeldNames;
  bool FHalted = false;
  bool FRealTime = false;
  std::vector<std::uint8_t> FWallpaper;  // bgrx, the whole screen
  std::map<std::string, std::string> FSettings;
  // The target of the last capture, whose frame the next capture of it brings up to date.
  std::optional<std::pair<TWindowHandle, TScreenRect>> FLastCapture;
  std::vector<std::uint8_t> FRendered;  // the screen as drawn for the capture, reused

  std::unique_ptr<TClockImpl> FClock;
  std::unique_ptr<TApplicationImpl> FApplication;
  std::unique_ptr<TInstanceImpl> FInstance;
  std::unique_ptr<TViewImpl> FToolWindow, FPausedDialog;
  std::unique_ptr<TMessageBoxesImpl> FMessageBoxes;
  std::unique_ptr<TSaveDialogImpl> FSaveDialog;
  std::unique_ptr<TTrayImpl> FTray;
  std::unique_ptr<THotKeysImpl> FHotKeys;
  std::unique_ptr<TDesktopImpl> FDesktop;
  std::unique_ptr<TCaptureImpl> FCaptureSource;
  std::unique_ptr<TCursorImpl> FCursor;
  std::unique_ptr<TRegionPickerImpl> FRegionPicker;
  std::unique_ptr<TCountdownImpl> FCountdown;
  std::unique_ptr<TSettingsImpl> FSettingsImpl;
  std::unique_ptr<THotKeyDialogImpl> FHotKeyDialog;
  std::unique_ptr<TSimToneSource> FSound;
  TPlatform FPlatform;
};

// The pointer's picture: an arrow 12 x 19 with its hot spot at (2, 3).
const TDIBitmap& SimCursorPicture();
inline constexpr std::int32_t kSimCursorHotX = 2, kSimCursorHotY = 3;

}  // namespace kestrova::platform::sim
