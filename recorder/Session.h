// The recording session: one recording from its start to its saved movie, with a plain API
// (start a target, pause, resume, stop and save, discard) and a state. It owns the capture loop,
// change detection, the segments and the join, and asks the user nothing: whatever needs the
// user (the save name after a failed write, messages, the window that went away) goes to its
// observer. Everything runs on the caller's thread: Start runs the capture loop and returns when
// the recording has ended; the loop hands control to the observer's Pump between frames, and the
// other operations are called from there.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "media/DIBitmap.h"
#include "platform/Platform.h"
#include "recorder/ChangeDetector.h"
#include "recorder/FrameStage.h"
#include "recorder/Output.h"
#include "recorder/SegmentMovie.h"
#include "recorder/SoundStream.h"

namespace kestrova {

inline constexpr std::uint32_t kSegmentMs = 10000;
// One turn of the capture loop: at most ten grabs a second.
inline constexpr std::uint32_t kFramePeriodMs = 100;

enum class TSessionState {
  Idle,       // nothing recorded, or the last recording has ended
  Starting,   // Start is making the recording's folder
  Recording,  // frames are grabbed
  Paused,     // the loop waits; the time paused is left out of the movie
  Saving,     // stopped: the last segment and the movie are being written
};

// What a recording captures.
struct TCaptureTarget {
  enum class TKind { FullScreen, Window, Region };
  TKind Kind = TKind::FullScreen;
  platform::TWindowHandle Window = 0;  // Window
  platform::TScreenRect Region;        // Region, screen pixels
  static TCaptureTarget FullScreen() { return {}; }
  static TCaptureTarget OfWindow(platform::TWindowHandle w) { return {TKind::Window, w, {}}; }
  static TCaptureTarget OfRegion(const platform::TScreenRect& r) { return {TKind::Region, 0, r}; }
};

// What a finished segment added, for progress reports.
struct TSegmentReport {
  std::int32_t SegmentNumber = 0;
  std::int32_t Frames = 0;       // movie frames of this segment
  std::uint64_t FileBytes = 0;   // its file (0 when it had no frame and so no file)
  std::uint32_t RecordedMs = 0;  // since the recording started
};

// How a recording ended.
struct TSessionResult {
  bool Started = false;            // false: refused (Problem says why) and nothing recorded
  bool TargetMissing = false;      // refused because the window to record is not shown
  bool Saved = false;              // the movie and its page were written
  std::vector<std::string> Files;  // the movies, then the page
  std::uint64_t Frames = 0;        // of the movie
  double Seconds = 0;              // the movie's length at 12 frames a second
  std::uint64_t FramesLost = 0;    // recorded but not in the movie
  std::string Problem;  // why it was refused, why the save failed, or why frames were lost
};

// The user's side of a session. Every call is made on the session's thread, from inside Start.
class TSessionObserver {
 public:
  virtual ~TSessionObserver() = default;
  // Between frames: the user's input is handled here, and Stop, Discard, Pause and Resume may be
  // called.
  virtual void Pump() {}
  // Each turn of the loop while recording: the time recorded so far.
  virtual void Tick(std::uint32_t recordedMs) { (void)recordedMs; }
  // The loop has begun grabbing (the target is there).
  virtual void Started() {}
  // The recorded window is gone. The session ends after this returns: with the movie when Stop
  // was called, without it when Discard was, else with the movie under the name it was given
  // last (none: discarded).
  virtual void TargetWindowGone() {}
  // A segment could not be written: recording has stopped, message says why. Returns the name
  // to save what was kept as when the user has not stopped yet (none: the segments stay in the
  // recording's folder, for recovery).
  // askName is false when the recording had already been stopped (its name is known).
  virtual std::optional<std::string> WriteFailed(const std::string& message, bool askName) {
    (void)message;
    (void)askName;
    return std::nullopt;
  }
  // Something the user must be told: an error (the recording could not be started or saved) or a
  // warning (part of the recording was lost).
  virtual void Tell(const std::string& message, bool error) {
    (void)message;
    (void)error;
  }
  virtual void SegmentSaved(const TSegmentReport& report) { (void)report; }
  // The recording has ended (saved or not).
  virtual void Ended(const TSessionResult& result) { (void)result; }
};

struct TSessionOptions {
  TSegmentMovieFactory MovieFactory;  // required
  TOutputLimits Limits;
  // The web player's script the page carries (empty: none); see player/WebPage.h.
  std::string WebPlayerURL;
  TColourDepth Colours = TColourDepth::Palette256;
  TSoundOptions Sound;
  std::ostream* Diagnostics = nullptr;  // warnings for the user, besides the log
};

class TRecordingSession {
 public:
  TRecordingSession(platform::TPlatform& platform, TSessionOptions options);
  ~TRecordingSession();
  TRecordingSession(const TRecordingSession&) = delete;
  TRecordingSession& operator=(const TRecordingSession&) = delete;

  void SetObserver(TSessionObserver* observer) { FObserver = observer; }
  const TSessionOptions& Options() const { return FOptions; }
  // The tool window's sound choice, taken by the next Start (only while Idle).
  void SetSoundInput(platform::TSoundInput input) {
    if (FState == TSessionState::Idle) FOptions.Sound.Input = input;
  }
  TSessionState State() const { return FState; }
  bool Active() const {
    return FState == TSessionState::Recording || FState == TSessionState::Paused;
  }

  // Records target until Stop, Discard, a failed write or the window's going ends it, then saves
  // and returns how it ended. A region is clipped to the desktop; a region wholly off it, a window
  // that is not shown, or a folder that cannot be made refuses the start (Started false, Problem
  // saying why, told to the observer as an error). Only when Idle.
  TSessionResult Start(const TCaptureTarget& target);
  // Only while recording; false otherwise.
  bool Pause();
  bool Resume();
  // Ends the recording; it is saved as outputName once the loop has closed its last segment.
  void Stop(const std::string& outputName);
  // Ends the recording without a movie; its segments are left in the folder for recovery.
  void Discard();
  // The program ends while Start is running and will not return to it: closes the segment being
  // recorded and, when Stop has named the movie, saves it. Nothing when no recording runs.
  void FinishAtExit();
  // The name the recording is to be saved as (none: discarded, or not decided).
  const std::optional<std::string>& OutputName() const { return FOutputName; }
  // The recorded window is no longer shown (window recordings only, once grabbed).
  bool WindowGone();

  // Where the recording's segments go.
  std::string SegmentFileName(std::int32_t number) const;

  // Plain data of the recording being made or last made, for the tool window and the tests.
  TChangeDetector Encoder;
  std::string RecordingFolder;
  std::int32_t SegmentNumber = 0;
  std::vector<std::int32_t> SegmentFrames;
  std::int32_t CaptureWidth = 0, CaptureHeight = 0;
  std::int32_t DesktopWidth = 0, DesktopHeight = 0;
  // Set by the first frame grabbed from a window; the tool window clears it when it has dealt
  // with the window's going.
  bool WindowCaptured = false;
  TOutputResult LastOutput;  // what the last save wrote (empty when none or failed)
  bool LastOutputFailed = false;
  std::string WriteFailure;  // why the segments could not be written (empty: they could)
  std::uint64_t FramesLost = 0;

 private:
  struct TWriteWatch {
    std::string Failure;                 // the first failed write's reason
    std::uint64_t FramesNotWritten = 0;  // frames whose closing failed
  };
  class TWatchedMovie;

  std::uint32_t Now();
  bool Begin(const TCaptureTarget& target, std::string& problem);
  void Loop();
  void RecordSegment();
  bool WaitWhilePaused();
  void CaptureFrame();
  void SaveSegment();
  void WriteOutput();
  // Has the segment being recorded put on disk about once a second, so that a crash costs at
  // most the last second.
  void KeepOnDisk();
  // A segment could not be written: the user is told at once, the recording stops, and what
  // reached the disk is kept for the output.
  void WriteFailed(const std::string& reason);
  // After a save: tells the user how much of the recording is not in the movie.
  void ReportLoss(bool unfinished, std::size_t kept);
  // Sleeps until the turn that began at FFrameStart has lasted kFramePeriodMs.
  void PaceFrame();
  // The timeline follows the wall clock: the time between two advances, pauses left out.
  std::uint32_t TakeElapsedMs();
  // The sound source is opened as the recording starts and closed as it ends; a sound that
  // cannot be had is said and the recording goes on without it.
  void OpenSound();
  void CloseSound();
  // Reads the sound source once a turn (see TSoundRecording).
  void PumpSound();
  // Writes the blocks the segment's last frames wait for before it is saved.
  void CloseSegmentSound();
  TSessionResult MakeResult() const;
  void Warn(const std::string& text);
  void WriteLog(const std::string& text);

  platform::TPlatform& FPlatform;
  TSessionOptions FOptions;
  TSessionObserver FNoObserver;
  TSessionObserver* FObserver = &FNoObserver;
  TSessionState FState = TSessionState::Idle;
  TCaptureTarget FTarget;
  std::optional<std::string> FOutputName;
  std::unique_ptr<platform::TFolderLock> FFolderLock;
  std::unique_ptr<TSegmentMovie> FSegmentMovie;
  TSegmentMovieFactory FStreamedFactory;
  TWriteWatch FWatch;
  TFrameStage FStage;
  bool FGrabEnabled = false;
  bool FFirstFrameOfSegment = false;
  bool FStageWritten = false;
  bool FHaveAdvance = false;
  bool FWritingOutput = false;
  platform::TScreenRect FRegion;  // a region target, clipped to the desktop
  std::string FSaveProblem;       // why the last save failed
  std::uint32_t FFrameStart = 0, FLastFlush = 0, FLastAdvance = 0, FPauseExcess = 0;
  std::uint32_t FRecordingStart = 0, FPausedMs = 0;
  // The recording's clock: its first frame's tick and the time left out of it since (pauses,
  // dialogs that held the loop beyond a second).
  std::uint32_t FTimelineOrigin = 0, FExcludedMs = 0;
  std::unique_ptr<TSoundRecording> FSound;    // none when the recording has no sound
  TSoundSegmentMovie* FSoundMovie = nullptr;  // the segment movie's sound, owned by FSegmentMovie
  std::string FSoundProblem;                  // the source's trouble, told once
};

// A recording's folder joined into outputName the one way record and recover join it: the
// segments (unfinished ones salvaged up to their last complete frame) each as a sprite, the
// damaged ones kept readable as far as they go, then the folder cleaned of what was joined.
// countedFrames: the frames the capture loop counted per segment (none: the files' own).
// Throws what WriteOutputFiles throws (after putting the folder back as it was) and
// std::runtime_error when nothing could be read.
struct TFolderJoin {
  TOutputResult Output;
  std::vector<std::string> Warnings;  // unfinished segments, cut ones, what was kept and why
  std::vector<std::string> Kept;      // the files of segments that could not be joined
  bool Unfinished = false;            // an unfinished segment was salvaged
};
TFolderJoin JoinRecordingFolder(const std::string& folder, const std::string& outputName,
                                const std::vector<std::int32_t>& countedFrames,
                                std::int32_t stageWidth, std::int32_t stageHeight,
                                const TOutputLimits& limits, const std::string& webPlayerURL);

}  // namespace kestrova
