// The tool window: its logic and the recording's flags and flows (TFrmImage), a thin layer over
// the recording session (recorder/Session.h) that makes the recording on the same thread. It
// sees the operating system only through platform/Platform.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "media/DIBitmap.h"
#include "platform/HotKeyName.h"
#include "platform/Platform.h"
#include "recorder/Output.h"
#include "recorder/SegmentMovie.h"
#include "recorder/Session.h"

namespace kestrova {

inline constexpr const char* kApplicationTitle = "Kestrova 1.0";
inline constexpr const char* kToolWindowCaption = "Kestrova 1.1";
inline constexpr const char* kPausedCaption = "Kestrova 1.1 - PAUSED";
inline constexpr const char* kMessageCaption = "Kestrova";
inline constexpr const char* kMutexName = "MysampleAppMutex";
// What the tool window records: the full screen or one window. No file or message carries the
// mode, so it is an enum rather than text.
enum class TCaptureMode { Unset, Screen, Client };
// The output name that stands for "no output": the save dialog was cancelled.
inline constexpr const char* kNoOutput = "nil";

inline constexpr const char* kMsgNotStarted = "Recording not started!";
inline constexpr const char* kMsgActivateWindow =
    "Press Start button and activate the window to capture";
// Active Window found no window of another program on the screen once the wait was over.
inline constexpr const char* kMsgNoWindowToCapture =
    "No window to capture was active. Press Start, then click the window to record within 3 "
    "seconds.";
inline constexpr const char* kMsgSaveRecording = "Do you want to save Recording?";
inline constexpr const char* kMsgCaptureWindowClosed =
    "Capture window closed. Recording can not be continued.";
inline constexpr const char* kMsgHandleWindowClosed =
    "Handle window closed. Recording can not be continued.";

// The countdown before a recording started from the tool window (setting "Countdown", in
// seconds; 0 turns it off).
inline constexpr int kDefaultCountdown = 3, kMaxCountdown = 60;
// The sound choice's values as the tool window shows them and the settings keep them ("Audio").
inline constexpr const char* kSoundChoices[] = {"None", "Microphone", "System", "Both"};
inline constexpr const char* kMsgNoSoundSource =
    "This desktop has no sound source Kestrova can record from";
// The tray menu's items; their indices are what the menu returns.
inline constexpr int kMenuOpen = 0, kMenuHotKey = 1, kMenuExit = 2;

// The sound choice named by text (one of kSoundChoices); nothing for anything else.
std::optional<platform::TSoundInput> SoundInputNamed(const std::string& text);
const char* SoundInputName(platform::TSoundInput input);
// The label under Start naming the key that stops ("Press Ctrl+Alt+S to Stop").
std::string StopKeyText(const std::string& hotKeyName);

// What a second copy says when another holds the single-instance name (holder: what the
// platform tells of the other).
std::string AnotherInstanceText(const std::string& holder);

// The tray's tip while recording: the time recorded so far, and the key that stops it.
std::string RecordingTip(std::uint32_t recordedMs, const std::string& hotKeyName);

// Paused dialog results.
inline constexpr int kPausedStop = 1, kPausedContinue = 2, kPausedExit = 3;

struct TRecorderOptions {
  TSegmentMovieFactory MovieFactory;  // required
  TOutputLimits Limits;
  // The web player's script the page carries (empty: none); see player/WebPage.h.
  std::string WebPlayerURL;
  TColourDepth Colours = TColourDepth::Palette256;
  // The hot key that opens the paused dialog (Ctrl+Alt+S unless the user chose another).
  platform::THotKeyChoice HotKey;
  std::ostream* Diagnostics = nullptr;  // errors and warnings for the user, besides the log
  std::function<void(const TSegmentReport&)> OnSegmentSaved;
  // Called each time the capture loop has ended (output written or not).
  std::function<void()> OnRecordingEnded;
};

// The tool window object: the tool window's fields and handlers, the hot key and the tray icon,
// and the flows between the paused dialog, the stop prompt and the save dialog, over a recording
// session that does the recording. All on one thread: the session's capture loop runs inside the
// start handler and the other handlers run nested inside the loop's message processing; the
// window tells the session what its flags decided after each round of messages.
class TFrmImage : private TSessionObserver {
 public:
  TFrmImage(platform::TPlatform& platform, TRecorderOptions options);
  ~TFrmImage() override;
  TFrmImage(const TFrmImage&) = delete;
  TFrmImage& operator=(const TFrmImage&) = delete;

  // The whole program: single instance, title, the tool window, the message loop, shutdown.
  // Ends through the platform's Halt (on a backend that cannot end the process, Halt throws
  // platform::TProcessHalted, which passes to the caller).
  [[noreturn]] void Run();

  // Handlers.
  void FormCreate();
  void FormActivate();
  void FormClose();
  [[noreturn]] void FormDestroy();
  void ImgBtnStartRecordClick();
  void Image1Click();
  [[noreturn]] void ImgExitClick();
  // The last start's choice of what to record, kept by the desktop between runs.
  std::optional<std::string> Setting(const std::string& key);
  void RememberCapture(const std::string& kind);
  void RdoActiveWindowClick();
  void PopMnuItmOpenClick();
  void PopMnuItmExitClick();
  void WMHotKey(int id);
  void WMTrayNotify(int mouseMessage);
  // The tool window's choices beside what to record: the countdown's seconds, the sound, the key.
  void SpnCountdownChange();
  void CmbAudioChange();
  // Offers another hot key (the tool window's button and the tray menu): registered at once,
  // the old one released, remembered; a key that cannot be had is offered again.
  void ChangeHotKey();
  // Another program (kestrova stop) asks to stop and save; see TUIEvent::Param.
  void StopRequested(int param);
  void Dispatch(const platform::TUIEvent& event);

  // Operations.
  void InitRecording();
  void StartCapture();
  void ShowPausedDialog();
  void StopPrompt();
  void EndCapture();
  // The countdown's seconds as remembered (kDefaultCountdown when never set or unreadable).
  int CountdownSeconds();
  // The sound the next recording carries: the remembered choice, Off without a sound source.
  platform::TSoundInput SoundChoice();

  // Recording control (the tool window's fields).
  bool Recording = false;
  bool RecordingStarted = false;
  bool TrayActive = false;
  bool NeedsInit = true;
  bool ExitRequested = false;
  platform::TWindowHandle CaptureWindow = 0;
  // Region chosen on the screen for this recording (the Region choice); none: the whole screen.
  std::optional<platform::TScreenRect> CaptureRegion;
  TCaptureMode CaptureMode = TCaptureMode::Unset;
  std::string OutputFileName;
  std::int32_t PausedResult = 0;
  std::uint16_t HotKeyId = 0;
  // A stop request is waiting for the recording it stopped to end, to be answered then.
  bool StopAnswerDue = false;
  // What became of the last recording, for the stop request that ended it.
  std::string LastEndText;

  // The recording itself: its segments, folder and last output.
  TRecordingSession Session;

  platform::TPlatform& Platform() { return FPlatform; }
  const TRecorderOptions& Options() const { return FOptions; }
  // The window is gone: a window recording whose captured window is no longer visible.
  bool WindowGone();
  void Warn(const std::string& text);

 private:
  // The session's observer: the loop's turns, questions and messages, answered by the tool
  // window's flows.
  void Pump() override;
  void Tick(std::uint32_t recordedMs) override;
  void Started() override;
  void TargetWindowGone() override;
  std::optional<std::string> WriteFailed(const std::string& message, bool askName) override;
  void Tell(const std::string& message, bool error) override;
  void SegmentSaved(const TSegmentReport& report) override;
  void Ended(const TSessionResult& result) override;
  // Hands the flags' decision to a running session: Recording cleared ends it (saved unless the
  // output is "nil"), Recording set resumes it.
  void SyncSession();
  // The recording could not be started: the tool window comes back and says why.
  void StartRefused(const std::string& message);
  // The stop flow of the paused dialog's Stop Record: the tool window back, the save question.
  void StopRecordFlow();
  // Runs the countdown of seconds (none for 0); false when the user cancelled it, and then the
  // tool window is back, ready for another Start.
  bool CountDown(int seconds);
  void AnswerStop(bool saved, const std::string& text);
  // What the tool window records, as the user is told it ("the full screen").
  std::string TargetText() const;
  // The key's name on the labels that tell it.
  void ShowHotKeyName();

  platform::TPlatform& FPlatform;
  TRecorderOptions FOptions;
  bool FOwnsInstance = false;
  int FHotKeyAtoms = 1;  // the atoms named so far, so that a new key never takes the old's id
};

}  // namespace kestrova
