// What the recorder asks of the operating system, one small interface per concern, gathered in
// TPlatform. The recorder sees only these; a backend (platform/sim, platform/x11 + platform/qt,
// later win32) implements them. Backends are picked at run time through platform/Registry.h.
//
// Everything runs on one thread: the recorder calls in, and user input comes back only while the
// recorder is inside TApplicationHost::ProcessMessages or RunMessageLoop, or inside a modal call
// (TView::ShowModal, TMessageBoxes::Show, TSaveDialog::Execute, TTrayIcon::PopupMenu).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/DIBitmap.h"

namespace kestrova::platform {

// A top-level window of the desktop; 0 is no window.
using TWindowHandle = std::uint64_t;

// Screen pixels; Right and Bottom are exclusive.
struct TScreenRect {
  std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  std::int32_t Width() const { return Right - Left; }
  std::int32_t Height() const { return Bottom - Top; }
  friend bool operator==(const TScreenRect&, const TScreenRect&) = default;
};

// Message box buttons and icons, and the buttons' results, with their Windows values so the
// recorder's tables read the same on every backend.
inline constexpr std::uint32_t kMbOk = 0x00;
inline constexpr std::uint32_t kMbYesNoCancel = 0x03;
inline constexpr std::uint32_t kMbIconQuestion = 0x20;
inline constexpr std::uint32_t kMbIconExclamation = 0x30;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Tray mouse notifications (the second parameter of the tray's callback message).
inline constexpr int kTrayLeftDoubleClick = 0x203;
inline constexpr int kTrayRightButtonDown = 0x204;

// Hot key modifiers and the key of Ctrl+Alt+S.
inline constexpr std::uint32_t kModControl = 0x2;
inline constexpr std::uint32_t kModAlt = 0x1;
inline constexpr std::uint32_t kVirtualKeyS = 0x53;

// A piece of user input delivered to the recorder's handler.
enum class TUIEventKind {
  Click,        // a component of the tool window was clicked; Target names it
  HotKey,       // a registered hot key was pressed; Param is its identifier
  TrayNotify,   // the tray icon was clicked; Param is kTrayLeftDoubleClick or kTrayRightButtonDown
  Activate,     // the tool window was activated
  Close,        // the tool window's caption close button
  Destroy,      // the tool window is being destroyed (session end, window manager kill)
  StopRequest,  // another program asked the running recorder to stop and save (`kestrova stop`)
};

struct TUIEvent {
  TUIEventKind Kind = TUIEventKind::Click;
  std::string Target;  // Click: "ImgBtnStartRecord", "Image1", "ImgExit", "RdoActiveWindow",
                       // "RdoFullScreen", "RdoRegion", "BtnHotKey"; a value component changed:
                       // "SpnCountdown", "CmbAudio"
  // StopRequest: 1 when the backend has already closed the paused dialog as by its Stop Record
  // (the request came while it was open), else 0.
  int Param = 0;
};

using TUIEventHandler = std::function<void(const TUIEvent&)>;

// A 32-bit millisecond tick counter that wraps at 2^32, and sleeping.
class TClock {
 public:
  virtual ~TClock() = default;
  virtual std::uint32_t TickCount() = 0;
  // Blocks the (only) thread; no user input is handled meanwhile.
  virtual void Sleep(std::uint32_t ms) = 0;
};

// The running program as the desktop sees it.
class TApplicationHost {
 public:
  virtual ~TApplicationHost() = default;
  virtual void SetTitle(const std::string& title) = 0;
  virtual std::string Title() const = 0;
  // The one receiver of user input; replaced by each call.
  virtual void SetEventHandler(TUIEventHandler handler) = 0;
  // Delivers user input until Terminate is called (from a handler), or until the backend has
  // no more input to give (the simulated desktop's script has ended).
  virtual void RunMessageLoop() = 0;
  // Makes RunMessageLoop return once the handler running now returns.
  virtual void Terminate() = 0;
  virtual bool Terminated() const = 0;
  // Delivers the input already waiting, then returns.
  virtual void ProcessMessages() = 0;
  // Ends the process at once. Does not return: a real backend exits; the simulated desktop
  // throws TProcessHalted so the whole program unwinds to its caller.
  [[noreturn]] virtual void Halt(int exitCode) = 0;
};

// Thrown by a backend's Halt that cannot end the process (the simulated desktop).
struct TProcessHalted {
  int ExitCode = 0;
};

// What became of a recording another program asked to stop.
struct TStopAnswer {
  bool Saved = false;  // it was stopped and its movie written
  std::string Text;    // one line for the user: what was recorded, and where it went
};

// Keeps a second copy of the program from running.
class TSingleInstance {
 public:
  virtual ~TSingleInstance() = default;
  // True when this process now holds the name; false when another instance holds it.
  virtual bool Acquire(const std::string& name) = 0;
  // Shows the other instance's application window (by its title) and brings it to the front;
  // false when none was found.
  virtual bool BringForward(const std::string& applicationTitle) = 0;
  virtual void Release() = 0;
  // After Acquire returned false: the other instance as the user should hear of it (its process
  // id and its command line); empty when the backend cannot tell.
  virtual std::string Holder() const { return {}; }
  // After Acquire returned false: asks the instance holding the name to stop its recording and
  // save it (it receives TUIEventKind::StopRequest) and waits for its answer, one line saying
  // what became of the recording. Nothing when it could not be asked or gave no answer.
  virtual std::optional<TStopAnswer> RequestStop() { return std::nullopt; }
  // The holder's side: answers every stop request received so far.
  virtual void AnswerStop(const TStopAnswer& answer) { (void)answer; }
};

// The tool window and the paused dialog. Components are named as the recorder names them
// ("ImgBtnStartRecord", "Image1", "ImgExit", "RdoFullScreen", "RdoActiveWindow", ...).
class TView {
 public:
  virtual ~TView() = default;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  virtual bool Visible() const = 0;
  virtual void BringToFront() = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual std::string Caption() const = 0;
  virtual void SetComponentVisible(const std::string& name, bool visible) = 0;
  virtual bool ComponentVisible(const std::string& name) const = 0;
  virtual void SetComponentLeft(const std::string& name, int left) = 0;
  // Radio buttons.
  virtual bool Checked(const std::string& name) const = 0;
  virtual void SetChecked(const std::string& name, bool checked) = 0;
  // Components that hold a value, as text: the countdown's seconds ("SpnCountdown"), the sound
  // choice ("CmbAudio": "None", "Microphone", "System" or "Both"), a label's text ("Label2").
  // A change the user makes arrives as a Click on the component. Empty where there is none.
  virtual std::string ComponentValue(const std::string& name) const {
    (void)name;
    return {};
  }
  virtual void SetComponentValue(const std::string& name, const std::string& value) {
    (void)name, (void)value;
  }
  // Greys a component out (or back), its tip saying why.
  virtual void SetComponentEnabled(const std::string& name, bool enabled,
                                   const std::string& tip = {}) {
    (void)name, (void)enabled, (void)tip;
  }
  virtual bool ComponentEnabled(const std::string& name) const {
    (void)name;
    return true;
  }
  // Shows the view modally and returns its modal result (the paused dialog: 1 Stop Record,
  // 2 Continue or the caption's close button, 3 Exit). Input for other windows waits meanwhile.
  virtual int ShowModal() = 0;
};

class TMessageBoxes {
 public:
  virtual ~TMessageBoxes() = default;
  // Modal. flags: buttons | icon (kMb... values). Returns the button pressed (kId... values).
  virtual int Show(const std::string& text, const std::string& caption, std::uint32_t flags) = 0;
};

struct TSaveDialogOptions {
  std::string Title;
  std::string InitialDir;
  std::string Filter;            // "Flash File|*.swf": pairs of description and pattern
  std::string DefaultExtension;  // without the dot; added to a name typed without extension
  int FilterIndex = 1;
};

class TSaveDialog {
 public:
  virtual ~TSaveDialog() = default;
  // Modal. The name picked (as the dialog returns it), or nothing when cancelled.
  virtual std::optional<std::string> Execute(const TSaveDialogOptions& options) = 0;
};

// The icon in the notification area. Its mouse input arrives as TUIEventKind::TrayNotify.
class TTrayIcon {
 public:
  virtual ~TTrayIcon() = default;
  // False when the desktop has no notification area.
  virtual bool Add(const std::string& tip) = 0;
  virtual void Remove() = 0;
  virtual bool Present() const = 0;
  // Pops a menu up at a screen position; modal. Returns the index of the item chosen, or -1
  // when the menu was dismissed.
  virtual int PopupMenu(int x, int y, const std::vector<std::string>& items) = 0;
  // While a recording runs the icon shows it (a red dot) and its tip says tip (the time
  // recorded) and, on a line of its own, output (the movie's name, when known); recording false
  // brings back the idle icon with tip. Nothing where there is no such icon.
  virtual void ShowRecording(bool /*recording*/, const std::string& /*tip*/,
                             const std::string& /*output*/ = {}) {}
  // A notification beside the icon (the desktop's notification service), such as where a movie
  // was saved. Nothing where the desktop has none.
  virtual void Notify(const std::string& /*title*/, const std::string& /*text*/) {}
};

// A system-wide key combination, delivered as TUIEventKind::HotKey with its identifier.
class THotKeys {
 public:
  virtual ~THotKeys() = default;
  // A fresh identifier for a hot key (the global atom of the name).
  virtual std::uint16_t AddAtom(const std::string& name) = 0;
  virtual void DeleteAtom(std::uint16_t id) = 0;
  // False when the combination cannot be had (another program holds it).
  virtual bool Register(std::uint16_t id, std::uint32_t modifiers, std::uint32_t key) = 0;
  virtual void Unregister(std::uint16_t id) = 0;
};

// Top-level windows and the desktop they stand on.
class TDesktop {
 public:
  virtual ~TDesktop() = default;
  virtual TScreenRect DesktopRect() = 0;
  virtual TWindowHandle ForegroundWindow() = 0;
  virtual bool IsWindowVisible(TWindowHandle window) = 0;
  virtual bool IsMinimised(TWindowHandle window) = 0;
  virtual bool IsMaximised(TWindowHandle window) = 0;
  // The outer rectangle (frame and caption included) in screen pixels; nothing when the window
  // no longer exists.
  virtual std::optional<TScreenRect> WindowRect(TWindowHandle window) = 0;
};

// The parts of a captured frame that changed since the previous capture of the same target:
// rectangles in the frame's own pixels ((0, 0) is its top-left corner), or all of it.
struct TDamage {
  bool All = false;
  std::vector<TScreenRect> Rects;

  bool Empty() const { return !All && Rects.empty(); }
  void Clear() {
    All = false;
    Rects.clear();
  }
  void SetAll() {
    All = true;
    Rects.clear();
  }
  void Add(const TScreenRect& r) {
    if (!All && r.Width() > 0 && r.Height() > 0) Rects.push_back(r);
  }
};

// Where frames come from: a backend fetches pixels and says what changed; it does not process
// them (the pointer, the palette and the comparison are the recorder's).
//
// Pulled: the recorder asks at its own pace. A source that is pushed frames as they arrive (a
// PipeWire stream) keeps the latest frame and the damage accumulated since the last pull, and
// hands them over here: it copies the accumulated rectangles of its latest frame into frame,
// reports them, and starts accumulating afresh (TLatestFrame in platform/LatestFrame.h does
// that, thread-safe).
class TCaptureSource {
 public:
  virtual ~TCaptureSource() = default;
  // Brings frame up to date with what rect shows (screen pixels): the whole screen for window
  // 0, else the window's own pixels (frame and caption included), rect being its outer
  // rectangle. frame is 32 bits per pixel (blue, green, red, a fourth byte of no meaning), rows
  // top first (negative Height), rect's size.
  //
  // frame must be what the previous Capture left in it, untouched, or empty: the source
  // rewrites only what changed since its previous Capture of the same window and rect, and puts
  // those rectangles into damage (which it clears first). On the first Capture, after the window
  // or rect changed, or when frame is not rect's size, it fills all of frame and sets
  // damage.All; a source that cannot tell what changed also says All. Nothing changed: damage
  // is empty and frame untouched, and a source that learns so from the system (X11 with DAMAGE)
  // fetches no pixels at all.
  //
  // Returns false when the source cannot be read (the window is gone); frame and damage are
  // then unspecified, and the caller passes an empty frame next time.
  virtual bool Capture(TWindowHandle window, const TScreenRect& rect, TDIBitmap& frame,
                       TDamage& damage) = 0;
};

// Makes frame a 32-bit top-down picture of width x height, reusing its buffer; the pixels are
// zero (black) when it was not that size already. Returns whether it was already that size.
inline bool PrepareFrame(TDIBitmap& frame, std::int32_t width, std::int32_t height) {
  if (frame.Width == width && frame.Height == -height && frame.BitCount == 32 &&
      !frame.Bits.empty()) {
    return true;
  }
  frame.Allocate(width, -height, 32);
  return false;
}

struct TCursorInfo {
  bool Showing = false;
  std::int32_t X = 0, Y = 0;        // the pointer, screen pixels
  std::int32_t HotX = 0, HotY = 0;  // the pointer's place inside the picture
  // 32 bits per pixel, blue-green-red-alpha, top-down (negative Height); alpha 0 is clear.
  TDIBitmap Picture;
};

class TCursorSource {
 public:
  virtual ~TCursorSource() = default;
  // False when the cursor cannot be queried.
  virtual bool GetCursor(TCursorInfo& info) = 0;
};

// Held while a recording is made in a folder; the mark goes with the object, or with the process
// however it ends.
class TFolderLock {
 public:
  virtual ~TFolderLock() = default;
};
// The file a folder lock may keep inside its folder; whoever empties the folder removes it.
inline constexpr const char* kFolderLockName = "recording.lock";

// Where the recorder keeps its files.
class TFileLocations {
 public:
  virtual ~TFileLocations() = default;
  // The folder holding the log and the recordings' folders (made when missing). Throws
  // std::runtime_error when it cannot be made.
  virtual std::string StateFolder() = 0;
  virtual std::string LogFileName() = 0;
  virtual std::string DefaultOutputName() = 0;
  // A new folder, private to the user, for the segments of one recording, inside StateFolder.
  // Throws std::runtime_error when it cannot be made.
  virtual std::string MakeRecordingFolder() = 0;
  virtual std::string CurrentDirectory() = 0;
  virtual char PathSeparator() const = 0;
  // Marks the folder as in use by this process (recovery leaves such a folder alone) until the
  // lock goes or the process ends, a crash included. Nothing when the system cannot mark it or
  // another process holds it.
  virtual std::unique_ptr<TFolderLock> LockFolder(const std::string& folder) {
    (void)folder;
    return nullptr;
  }
};

// A rectangle of the screen the user drags out, for recording a region.
class TRegionPicker {
 public:
  virtual ~TRegionPicker() = default;
  // Modal: covers the screen until the user has dragged a rectangle (a drag of a few pixels is
  // taken for a slip and starts over). The rectangle in screen pixels (device pixels on a scaled
  // desktop), never empty; nothing when the user cancelled (Escape, the right button).
  virtual std::optional<TScreenRect> PickRegion() = 0;
};

// A countdown before a recording starts, so the user can get ready and the program's own
// windows are off the screen from the first frame.
class TCountdown {
 public:
  virtual ~TCountdown() = default;
  // Shows the seconds left, from seconds down to 1, a second each, then takes the countdown off
  // the screen (repainted) before it returns. True when it ran out; false when the user cancelled
  // it (a click on it; it never takes the keyboard from the window the user is in). 0 (or less)
  // returns true at once and shows nothing.
  virtual bool Run(int seconds) = 0;
};

// Small named values kept from one start to the next ("Capture", "Region", "Countdown",
// "HotKey"...). Values are text; the caller parses them and falls back to its default on anything
// it cannot read.
class TSettings {
 public:
  virtual ~TSettings() = default;
  // Nothing when the key was never set (or the store cannot be read).
  virtual std::optional<std::string> Get(const std::string& key) = 0;
  // Kept at once. A store that cannot be written loses the value silently: settings are a
  // convenience, never a reason to stop a recording.
  virtual void Set(const std::string& key, const std::string& value) = 0;
};

// A system-wide key combination as the hot key interface registers it.
struct THotKeyChoice {
  std::uint32_t Modifiers = kModControl | kModAlt;
  std::uint32_t Key = kVirtualKeyS;
  std::string Name = "Ctrl+Alt+S";  // as the user is told it
  friend bool operator==(const THotKeyChoice&, const THotKeyChoice&) = default;
};

// Why the hot key dialog is shown.
enum class THotKeyProblem {
  Asked,  // the user asked to change the key (named so that X11's None macro cannot meet it)
  Taken,  // the key in use could not be registered: another program holds it
};

class THotKeyDialog {
 public:
  virtual ~THotKeyDialog() = default;
  // Modal. Offers to pick another combination than current; with THotKeyProblem::Taken it first
  // says that current could not be had and which programs may hold it. The combination picked
  // (a modifier and a letter or digit), or nothing when the user cancelled.
  virtual std::optional<THotKeyChoice> Choose(const THotKeyChoice& current,
                                              THotKeyProblem problem) = 0;
};

// Which sound a recording carries beside the screen.
enum class TSoundInput {
  Off,         // no sound (named so that X11's None macro cannot meet it)
  Microphone,  // the default input device
  System,      // what the computer plays: the default output's monitor (loopback on Windows)
  Both,        // the two mixed
};

// Samples are 16-bit signed, interleaved when there are two channels.
struct TSoundFormat {
  std::int32_t Rate = 44100;  // 5512, 11025, 22050 or 44100: the rates a movie can carry
  std::int32_t Channels = 2;  // 1 or 2
  friend bool operator==(const TSoundFormat&, const TSoundFormat&) = default;
};

// What one TSoundSource::Read handed over.
struct TSoundRead {
  std::size_t Frames = 0;  // sample frames appended (a frame is one sample of each channel)
  // The TClock tick at which the last sample appended was captured, as well as the source can
  // tell (the time of reading less what it knows is still in the device's and the server's
  // buffers). Meaningful only when Frames is not 0.
  std::uint32_t EndTick = 0;
};

// Sound captured beside the screen. The source captures on a thread of its own (or the sound
// server's) and keeps what arrived until the recorder reads it, so the capture loop never waits
// for sound, and a source that falls behind or stops never stops the recording: the recorder
// fills the gap with silence and keeps the sound in step with the frames by the clock.
class TSoundSource {
 public:
  virtual ~TSoundSource() = default;
  // Starts capturing input, delivered in format (the source converts and mixes as needed). False
  // with whyNot (one line the user can act on: no sound server, no microphone) when it cannot;
  // nothing is captured then. input is never Off.
  virtual bool Open(TSoundInput input, const TSoundFormat& format, std::string& whyNot) = 0;
  // Appends to samples what was captured since the previous Read (or since Open), oldest first.
  // Never blocks.
  virtual TSoundRead Read(std::vector<std::int16_t>& samples) = 0;
  // Stops capturing and lets go of the device; Read gives nothing afterwards. Open may follow.
  virtual void Close() = 0;
  // What went wrong since Open (the server went away, the device was unplugged): one line, or
  // empty. The recording goes on, silent from then.
  virtual std::string Problem() const { return {}; }
};

// Everything the recorder uses, passed by reference. All members are set and outlive the
// recorder; a caller may put a wrapper in place of any of them. Sound alone may be null: the
// backend records no sound.
struct TPlatform {
  TClock* Clock = nullptr;
  TApplicationHost* Application = nullptr;
  TSingleInstance* Instance = nullptr;
  TView* ToolWindow = nullptr;
  TView* PausedDialog = nullptr;
  TMessageBoxes* MessageBoxes = nullptr;
  TSaveDialog* SaveDialog = nullptr;
  TTrayIcon* Tray = nullptr;
  THotKeys* HotKeys = nullptr;
  TDesktop* Desktop = nullptr;
  TCaptureSource* Capture = nullptr;
  TCursorSource* Cursor = nullptr;
  TFileLocations* Files = nullptr;
  TRegionPicker* RegionPicker = nullptr;
  TCountdown* Countdown = nullptr;
  TSettings* Settings = nullptr;
  THotKeyDialog* HotKeyDialog = nullptr;
  TSoundSource* Sound = nullptr;
};

}  // namespace kestrova::platform
