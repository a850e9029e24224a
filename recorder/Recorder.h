// The recorder: the tool window's logic and the recording's flags and flows (TFrmImage), and the
// capture loop that runs on the same thread while recording (TCaptureThread). It sees the
// operating system only through platform/Platform.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "media/DIBitmap.h"
#include "platform/HotKeyName.h"
#include "platform/Platform.h"
#include "recorder/ChangeDetector.h"
#include "recorder/FrameStage.h"
#include "recorder/Output.h"
#include "recorder/SegmentMovie.h"

namespace kestrova {

inline constexpr const char* kApplicationTitle = "Kestrova 1.0";
inline constexpr const char* kToolWindowCaption = "Kestrova 1.1";
inline constexpr const char* kPausedCaption = "Kestrova 1.1 - PAUSED";
inline constexpr const char* kMessageCaption = "Kestrova";
inline constexpr const char* kMutexName = "MysampleAppMutex";
inline constexpr const char* kModeScreen = "GTSCREEN";
inline constexpr const char* kModeClient = "GTCLIENT";
inline constexpr const char* kNoOutput = "nil";
inline constexpr std::uint32_t kSegmentMs = 10000;
// One turn of the capture loop: at most ten grabs a second.
inline constexpr std::uint32_t kFramePeriodMs = 100;

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

// Paused dialog results.
inline constexpr int kPausedStop = 1, kPausedContinue = 2, kPausedExit = 3;

// What a finished segment added, for progress reports.
struct TSegmentReport {
  std::int32_t SegmentNumber = 0;
  std::int32_t Frames = 0;       // movie frames of this segment
  std::uint64_t FileBytes = 0;   // its file (0 when it had no frame and so no file)
  std::uint32_t RecordedMs = 0;  // since the recording started
};

struct TRecorderOptions {
  TSegmentMovieFactory MovieFactory;  // required
  TOutputLimits Limits;
  // The web player's script the page carries (empty: none); see player/WebPage.h.
  std::string WebPlayerURL;
  // The hot key that opens the paused dialog (Ctrl+Alt+S unless the user chose another).
  platform::THotKeyChoice HotKey;
  std::ostream* Diagnostics = nullptr;  // errors and warnings for the user, besides the log
  std::function<void(const TSegmentReport&)> OnSegmentSaved;
  // Called each time the capture loop has ended (output written or not).
  std::function<void()> OnRecordingEnded;
};

class TCaptureThread;

// What went wrong writing the segment movies of a recording.
struct TWriteWatch {
  std::string Failure;                 // the first failed write's reason
  std::uint64_t FramesNotWritten = 0;  // frames whose closing failed
};

// The tool window object: every recorder field, the handlers of the tool window, the hot key
// and the tray icon, and the flows between the paused dialog, the stop prompt and the save
// dialog. All on one thread; the capture loop runs inside the start handler and the other
// handlers run nested inside the loop's message processing.
class TFrmImage {
 public:
  TFrmImage(platform::TPlatform& platform, TRecorderOptions options);
  ~TFrmImage();
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
  void RdoActiveWindowClick();
  void PopMnuItmOpenClick();
  void PopMnuItmExitClick();
  void WMHotKey(int id);
  void WMTrayNotify(int mouseMessage);
  void Dispatch(const platform::TUIEvent& event);

  // Operations.
  void InitRecording();
  void StartCapture();
  void ShowPausedDialog();
  void StopPrompt();
  void EndCapture();

  // Recording control (the tool window's fields).
  bool Recording = false;
  bool RecordingStarted = false;
  bool TrayActive = false;
  bool NeedsInit = true;
  bool ExitRequested = false;
  platform::TWindowHandle CaptureWindow = 0;
  std::string CaptureMode;
  std::string OutputFileName;
  bool WindowCaptured = false;
  std::int32_t PausedResult = 0;
  std::uint16_t HotKeyId = 0;

  // Capture loop fields.
  int CapturePixelFormat = 8;
  bool GrabEnabled = false;
  bool FirstFrameOfSegment = false;
  std::int32_t SegmentNumber = 0;
  std::unique_ptr<TSegmentMovie> SegmentMovie;
  std::vector<std::int32_t> SegmentFrames;
  std::uint32_t FrameStart = 0;
  std::int32_t CaptureWidth = 0, CaptureHeight = 0;
  std::int32_t DesktopWidth = 0, DesktopHeight = 0;
  // The private folder of the current recording's segments.
  std::string RecordingFolder;

  // Change detection's fields.
  TChangeDetector Encoder;

  // What the last WriteOutput wrote (empty when it wrote nothing or failed).
  TOutputResult LastOutput;
  bool LastOutputFailed = false;
  // Why the recording's segments could not be written (empty: they could), and the frames of
  // the last recording that are not in its output although they were recorded (a failed write,
  // a segment cut off).
  std::string WriteFailure;
  std::uint64_t FramesLost = 0;
  // Held from the start of a recording until its output is written: recovery leaves the folder
  // alone meanwhile.
  std::unique_ptr<platform::TFolderLock> FolderLock;

  platform::TPlatform& Platform() { return FPlatform; }
  const TRecorderOptions& Options() const { return FOptions; }
  // The window is gone: a window recording whose captured window is no longer visible.
  bool WindowGone();
  void WriteLog(const std::string& text);
  void Warn(const std::string& text);
  std::string SegmentFileName(std::int32_t number) const;

 private:
  friend class TCaptureThread;

  // What went wrong writing the segment movies of a recording.
  struct TWriteWatch {
    std::string Failure;                 // the first failed write's reason
    std::uint64_t FramesNotWritten = 0;  // frames whose closing failed
  };
  platform::TPlatform& FPlatform;
  TRecorderOptions FOptions;
  std::unique_ptr<TCaptureThread> FCaptureThread;
  bool FOwnsInstance = false;
};

// The capture loop. Never a thread of its own: StartCapture runs Execute on the GUI thread.
class TCaptureThread {
 public:
  explicit TCaptureThread(TFrmImage& form);
  void Execute();
  void RecordSegment();
  void CaptureFrame(std::int32_t frameIndex);
  void SaveSegment();
  void WriteOutput();
  // The tool window is destroyed while this loop runs: saves the current segment and, when the
  // user has named the output, writes it. Errors are logged or shown as WriteOutput shows them.
  void FinishAtDestroy();
  bool Terminated = false;

 private:
  std::uint32_t Now();
  // Has the segment being recorded put on disk about once a second, so that a crash costs at
  // most the last second.
  void KeepOnDisk();
  // A segment could not be written: the user is told at once, the recording stops, and what
  // reached the disk is kept for the output.
  void WriteFailed(const std::string& reason);
  // After a save: tells the user how much of the recording is not in the movie, when anything
  // went wrong.
  void ReportLoss(bool unfinished, std::size_t kept);
  // Sleeps until the turn that began at FrameStart has lasted kFramePeriodMs.
  void PaceFrame();
  // The timeline follows the wall clock: the time between two advances, pauses beyond 1000 ms
  // in a dialog or a minimised-window wait left out.
  std::uint32_t TakeElapsedMs();

  TFrmImage& F;
  TSegmentMovieFactory FStreamedFactory;
  TWriteWatch FWatch;
  std::uint32_t FLastFlush = 0;
  bool FStageWritten = false;
  TFrameStage FStage;
  bool FHaveAdvance = false;
  std::uint32_t FLastAdvance = 0;
  std::uint32_t FPauseExcess = 0;
  std::uint32_t FRecordingStart = 0;
};

}  // namespace kestrova
