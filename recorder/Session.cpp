#include "recorder/Session.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>

#include "recorder/CaptureLog.h"
#include "recorder/RecordingFolder.h"

namespace kestrova {

using namespace platform;

namespace {

// How often the segment being recorded is put on disk: what a crash may cost at most.
constexpr std::uint32_t kFlushPeriodMs = 1000;

std::string RectText(const TScreenRect& r) {
  return std::to_string(r.Width()) + "x" + std::to_string(r.Height()) + " at " +
         std::to_string(r.Left) + "," + std::to_string(r.Top);
}

}  // namespace

// The segment movie as the capture loop holds it: the first failure of a call that writes to
// the disk is noted, because change detection goes on after a failed frame and must not hide it.
class TRecordingSession::TWatchedMovie : public TForwardingSegmentMovie {
 public:
  TWatchedMovie(std::unique_ptr<TSegmentMovie> movie, TWriteWatch& watch)
      : TForwardingSegmentMovie(std::move(movie)), FWatch(watch) {}
  void ShowFrame(std::uint16_t count) override {
    try {
      Watch([&] { TForwardingSegmentMovie::ShowFrame(count); });
    } catch (const std::exception&) {
      FWatch.FramesNotWritten += count;  // recorded, but change detection will not count them
      throw;
    }
  }
  void StreamTo(const std::string& fileName) override {
    Watch([&] { TForwardingSegmentMovie::StreamTo(fileName); });
  }
  void FlushNow() override {
    Watch([&] { TForwardingSegmentMovie::FlushNow(); });
  }
  void SaveToFile(const std::string& fileName) override {
    Watch([&] { TForwardingSegmentMovie::SaveToFile(fileName); });
  }

 private:
  template <typename F>
  void Watch(F call) {
    try {
      call();
    } catch (const std::exception& e) {
      if (FWatch.Failure.empty()) FWatch.Failure = e.what();
      throw;
    }
  }
  TWriteWatch& FWatch;
};

TRecordingSession::TRecordingSession(TPlatform& platform, TSessionOptions options)
    : Encoder([this](const std::string& text) { WriteLog(text); }),
      FPlatform(platform),
      FOptions(std::move(options)),
      FStage(*platform.Capture, *platform.Cursor) {
  // The segment's frames go to its file's side as they close: a segment of full motion would
  // otherwise hold all its pictures until it is saved, then the body and its compressed copy
  // besides.
  FStreamedFactory = [this](std::int32_t width, std::int32_t height) {
    std::unique_ptr<TSegmentMovie> inner = FOptions.MovieFactory(width, height);
    if (FSound) {
      auto withSound = std::make_unique<TSoundSegmentMovie>(std::move(inner), *FSound,
                                                            [this](const std::string& why) {
                                                              if (FWatch.Failure.empty())
                                                                FWatch.Failure = why;
                                                            });
      FSoundMovie = withSound.get();
      inner = std::move(withSound);
    }
    auto movie = std::make_unique<TWatchedMovie>(std::move(inner), FWatch);
    movie->StreamTo(SegmentFileName(SegmentNumber));
    // An unfinished segment has no header to tell its stage; recovery reads it here.
    if (!FStageWritten) FStageWritten = WriteRecordingStage(RecordingFolder, {width, height});
    FLastFlush = Now();
    return std::unique_ptr<TSegmentMovie>(std::move(movie));
  };
}

TRecordingSession::~TRecordingSession() = default;

std::uint32_t TRecordingSession::Now() {
  return FPlatform.Clock->TickCount();
}

TSessionResult TRecordingSession::Start(const TCaptureTarget& target) {
  TSessionResult refused;
  if (FState != TSessionState::Idle) {
    refused.Problem = "a recording is already being made";
    return refused;
  }
  FState = TSessionState::Starting;
  FPlatform.Clock->Sleep(100);
  if (!Begin(target, refused.Problem)) {
    FState = TSessionState::Idle;
    refused.TargetMissing = target.Kind == TCaptureTarget::TKind::Window && refused.Problem.empty();
    if (refused.TargetMissing) refused.Problem = "the window to record is not shown";
    return refused;
  }
  FState = TSessionState::Recording;
  OpenSound();
  FObserver->Started();
  Loop();
  CloseSound();
  FState = TSessionState::Saving;
  if (FOutputName) WriteOutput();
  Encoder.FreePreviousFrame();
  FFolderLock.reset();
  FState = TSessionState::Idle;
  const TSessionResult result = MakeResult();
  FObserver->Ended(result);
  return result;
}

// Leaves problem empty when only the window to record is missing.
bool TRecordingSession::Begin(const TCaptureTarget& target, std::string& problem) {
  FTarget = target;
  if (target.Kind == TCaptureTarget::TKind::Window &&
      (target.Window == 0 || !FPlatform.Desktop->IsWindowVisible(target.Window))) {
    return false;
  }
  if (target.Kind == TCaptureTarget::TKind::Region) {
    const TScreenRect screen = FPlatform.Desktop->DesktopRect();
    const TScreenRect& r = target.Region;
    FRegion = {std::max(r.Left, screen.Left), std::max(r.Top, screen.Top),
               std::min(r.Right, screen.Right), std::min(r.Bottom, screen.Bottom)};
    if (r.Width() <= 0 || r.Height() <= 0 || FRegion.Width() <= 0 || FRegion.Height() <= 0) {
      problem = "the region " + RectText(r) + " is not on the screen (" + RectText(screen) + ")";
      return false;
    }
  }
  FGrabEnabled = true;
  WindowCaptured = false;
  Encoder.PreviousFrame = TDIBitmap{};
  Encoder.ResetReference = true;
  FStage.Reset();
  FStage.SetColours(FOptions.Colours);
  // Each recording counts its own segments: frame counts left from an earlier recording would
  // otherwise stand for the segments of this one.
  SegmentFrames.clear();
  SegmentNumber = 0;
  FOutputName.reset();
  FStageWritten = false;
  FWatch = {};
  LastOutput = {};
  LastOutputFailed = false;
  FSaveProblem.clear();
  WriteFailure.clear();
  FramesLost = 0;
  try {
    RecordingFolder = FPlatform.Files->MakeRecordingFolder();
    FFolderLock = FPlatform.Files->LockFolder(RecordingFolder);
    if (!FFolderLock) {
      Warn("the folder " + RecordingFolder +
           " could not be marked as in use: kestrova recover run meanwhile may take it");
    }
  } catch (const std::exception& e) {
    problem = std::string("Recording can not be started: ") + e.what();
    return false;
  }
  return true;
}

bool TRecordingSession::Pause() {
  if (FState != TSessionState::Recording) return false;
  FState = TSessionState::Paused;
  return true;
}

bool TRecordingSession::Resume() {
  if (FState != TSessionState::Paused) return false;
  FState = TSessionState::Recording;
  return true;
}

void TRecordingSession::Stop(const std::string& outputName) {
  if (!Active()) return;
  FOutputName = outputName;
  FState = TSessionState::Saving;
}

void TRecordingSession::Discard() {
  if (!Active()) return;
  FOutputName.reset();
  FState = TSessionState::Saving;
}

bool TRecordingSession::WindowGone() {
  return FTarget.Kind == TCaptureTarget::TKind::Window && WindowCaptured &&
         !FPlatform.Desktop->IsWindowVisible(FTarget.Window);
}

std::string TRecordingSession::SegmentFileName(std::int32_t number) const {
  return RecordingFolder + FPlatform.Files->PathSeparator() + "capture" + std::to_string(number) +
         ".swf";
}

void TRecordingSession::Loop() {
  FRecordingStart = Now();
  FHaveAdvance = false;
  FPauseExcess = FPausedMs = 0;
  std::int32_t counter = 0;
  while (Active()) {
    SegmentNumber = ++counter;
    if (counter > 1) Encoder.ResetReference = true;
    RecordSegment();
    try {
      SaveSegment();
    } catch (const std::exception& e) {
      WriteLog(std::string("Movie Stream Creating Region ") + e.what());
    }
    if (WindowGone()) {
      FObserver->TargetWindowGone();
      if (Active()) FState = TSessionState::Saving;
      break;
    }
  }
}

void TRecordingSession::RecordSegment() {
  TPlatform& p = FPlatform;
  Encoder.BeginSegment();
  const std::uint32_t start = Now();
  const bool window = FTarget.Kind == TCaptureTarget::TKind::Window;
  while (static_cast<std::uint32_t>(Now() - start) < kSegmentMs && Active()) {
    FFrameStart = Now();
    FObserver->Tick(FFrameStart - FRecordingStart - FPausedMs);
    FObserver->Pump();
    if (!WaitWhilePaused()) break;
    if (window) {
      if (FTarget.Window == 0 || !p.Desktop->IsWindowVisible(FTarget.Window)) {
        FGrabEnabled = false;
        break;
      }
      bool wasMinimised = false;
      while (p.Desktop->IsMinimised(FTarget.Window)) {
        p.Clock->Sleep(500);
        PumpSound();
        wasMinimised = true;
      }
      if (wasMinimised) p.Clock->Sleep(5);
      if (p.Desktop->IsMaximised(FTarget.Window)) p.Clock->Sleep(1);
    }
    // The movie is made by the first frame that reaches change detection: a first grab that
    // failed must not leave the rest of the segment without a movie.
    FFirstFrameOfSegment = !FSegmentMovie;
    if (!FGrabEnabled || !Active()) continue;
    const std::uint32_t waited = Now() - FFrameStart;
    if (waited > 1000) {
      // A dialog held the loop: beyond a second, the time is left out of the movie.
      FPauseExcess += waited - 1000;
      FExcludedMs += waited - 1000;
      FFrameStart = Now() - 1000;
    }
    PumpSound();
    CaptureFrame();
    KeepOnDisk();
    if (!FWatch.Failure.empty()) {
      WriteFailed(FWatch.Failure);
      break;
    }
    PaceFrame();
  }
  SegmentFrames.push_back(Encoder.FramesShown);
}

// While paused nothing is grabbed and the time is left out of the movie whole. False when the
// recording ended meanwhile.
bool TRecordingSession::WaitWhilePaused() {
  if (FState != TSessionState::Paused) return Active();
  const std::uint32_t from = Now();
  // The sound up to the pause belongs to the recording; what comes while paused does not.
  if (FSound && FHaveAdvance) FSound->Read(FTimelineOrigin, FExcludedMs);
  while (FState == TSessionState::Paused) {
    FPlatform.Clock->Sleep(kFramePeriodMs);
    FObserver->Pump();
    if (FSound) FSound->Discard();
  }
  if (FSound) FSound->Discard();
  const std::uint32_t paused = Now() - from;
  FPauseExcess += paused;
  FExcludedMs += paused;
  FPausedMs += paused;
  FFrameStart = Now();
  return Active();
}

void TRecordingSession::CaptureFrame() {
  TPlatform& p = FPlatform;
  const bool windowMode = FTarget.Kind == TCaptureTarget::TKind::Window && FTarget.Window != 0;
  TScreenRect rect =
      FTarget.Kind == TCaptureTarget::TKind::Region ? FRegion : p.Desktop->DesktopRect();
  TWindowHandle window = 0;
  if (windowMode) {
    if (FFirstFrameOfSegment) {
      DesktopWidth = rect.Width();
      DesktopHeight = rect.Height();
    }
    const std::optional<TScreenRect> r = p.Desktop->WindowRect(FTarget.Window);
    if (!r) return;
    rect = *r;
    window = FTarget.Window;
    WindowCaptured = true;
  }
  if (rect.Width() <= 0 || rect.Height() <= 0) return;
  CaptureWidth = rect.Width();
  CaptureHeight = rect.Height();
  Encoder.StripCount = (CaptureHeight + kStripHeight - 1) / kStripHeight;
  TStagedFrame staged;
  if (!FStage.Capture(window, rect, staged)) return;
  TFrameContext context;
  context.Staged = &staged;
  context.FirstFrameOfSegment = FFirstFrameOfSegment;
  context.WindowMode = windowMode;
  context.StageWidth = windowMode ? DesktopWidth : CaptureWidth;
  context.StageHeight = windowMode ? DesktopHeight : CaptureHeight;
  context.TakeElapsedMs = [this] { return TakeElapsedMs(); };
  Encoder.EncodeFrame(*staged.Picture, context, FSegmentMovie, FStreamedFactory);
  FFirstFrameOfSegment = context.FirstFrameOfSegment;
}

void TRecordingSession::PaceFrame() {
  // The next turn is due one period after this one began, however long the grab and its
  // encoding took: a fixed sleep after the work would stretch every turn by the work's length
  // and lower the grab rate most where the screen changes most. A turn that overran starts the
  // next at once. The timeline does not depend on this: it follows the clock.
  const std::uint32_t spent = Now() - FFrameStart;
  if (spent < kFramePeriodMs) FPlatform.Clock->Sleep(kFramePeriodMs - spent);
}

std::uint32_t TRecordingSession::TakeElapsedMs() {
  const std::uint32_t now = Now();
  if (!FHaveAdvance) {
    // The recording's clock starts with its first frame; what was left out before does not count.
    FTimelineOrigin = FFrameStart;
    FExcludedMs = 0;
    FHaveAdvance = true;
  }
  FPauseExcess = 0;
  FLastAdvance = now;
  // The frames of the whole recording follow its clock, n / 12 s for frame n, rather than each
  // segment's own: a segment's timeline rounds to whole frames, and rounding afresh in every
  // segment would let the movie drift from the clock (and from its sound) by up to half a frame
  // a segment. The time handed to change detection is what brings its frame count to the one
  // the clock calls for; frames it had to add beyond (a turn that came too soon) are taken back.
  const std::int64_t recordingMs =
      std::max<std::int64_t>(0, std::int64_t(static_cast<std::int32_t>(now - FTimelineOrigin)) -
                                    std::int64_t(FExcludedMs));
  const std::int64_t due = (recordingMs * kFramesPerSecond + 500) / 1000;
  std::int64_t before = 0;
  for (const std::int32_t frames : SegmentFrames) before += frames;
  const std::int64_t wanted = due - before - Encoder.FramesShown + Encoder.LastFrameNumber;
  const std::int64_t targetMs = (wanted * 1000 + kFramesPerSecond / 2) / kFramesPerSecond;
  return targetMs > Encoder.ElapsedMs ? static_cast<std::uint32_t>(targetMs - Encoder.ElapsedMs)
                                      : 0;
}

void TRecordingSession::OpenSound() {
  FSound.reset();
  FSoundMovie = nullptr;
  FSoundProblem.clear();
  const TSoundOptions& o = FOptions.Sound;
  if (o.Input == TSoundInput::Off) return;
  if (FPlatform.Sound == nullptr) {
    Warn("this desktop records no sound: the recording is silent");
    return;
  }
  std::unique_ptr<TSoundEncoder> encoder;
  try {
    encoder = MakeSoundEncoder(o);
  } catch (const std::runtime_error& e) {
    // MP3 asked of a build without its encoder: the movie format's own coding serves.
    Warn(std::string(e.what()) + "; the sound is recorded as ADPCM");
    TSoundOptions adpcm = o;
    adpcm.Coding = TSoundEncoding::Adpcm;
    encoder = MakeSoundEncoder(adpcm);
  } catch (const std::exception& e) {
    Warn(std::string("no sound is recorded: ") + e.what());
    return;
  }
  std::string whyNot;
  if (!FPlatform.Sound->Open(o.Input, o.Format, whyNot)) {
    Warn("no sound is recorded: " +
         (whyNot.empty() ? std::string("the sound source refused") : whyNot));
    return;
  }
  FSound = std::make_unique<TSoundRecording>(*FPlatform.Sound, std::move(encoder));
}

void TRecordingSession::CloseSound() {
  if (!FSound) return;
  FPlatform.Sound->Close();
}

void TRecordingSession::PumpSound() {
  if (!FSound) return;
  if (!FHaveAdvance) {
    FSound->Discard();  // before the first frame
  } else {
    FSound->Read(FTimelineOrigin, FExcludedMs);
  }
  if (FSoundProblem.empty()) {
    FSoundProblem = FPlatform.Sound->Problem();
    if (!FSoundProblem.empty())
      Warn("the sound stopped (" + FSoundProblem + "); the rest is silent");
  }
}

void TRecordingSession::CloseSegmentSound() {
  if (!FSoundMovie) return;
  TSoundSegmentMovie* movie = FSoundMovie;
  FSoundMovie = nullptr;
  if (!FSegmentMovie) return;
  PumpSound();
  try {
    movie->Close(!Active());
  } catch (const std::exception&) {
    // Noted by the movie as a failed write.
  }
}

void TRecordingSession::KeepOnDisk() {
  if (!FSegmentMovie || static_cast<std::uint32_t>(Now() - FLastFlush) < kFlushPeriodMs) return;
  FLastFlush = Now();
  try {
    FSegmentMovie->FlushNow();
  } catch (const std::exception&) {
    // Noted by the movie; WriteFailed follows.
  }
}

void TRecordingSession::WriteFailed(const std::string& reason) {
  if (FSegmentMovie) {
    FSegmentMovie->Abandon();
    FSegmentMovie.reset();
  }
  const bool wasRecording = Active();
  if (wasRecording) FState = TSessionState::Saving;
  if (!WriteFailure.empty()) return;  // told already
  WriteFailure = reason;
  const std::string message = "The recording could not be written (" + reason +
                              "). Recording has stopped; what was recorded up to now is kept.";
  const std::optional<std::string> name = FObserver->WriteFailed(message, wasRecording);
  // The user had not named the movie yet: it may go where there is room.
  if (!wasRecording) return;
  FOutputName = name;
  if (!name) {
    FObserver->Tell(
        "The recording is kept in " + RecordingFolder + " (kestrova recover makes a movie of it).",
        false);
  }
}

void TRecordingSession::FinishAtExit() {
  if (FState == TSessionState::Idle || FState == TSessionState::Starting || FWritingOutput) {
    return;
  }
  SegmentFrames.push_back(Encoder.FramesShown);
  try {
    SaveSegment();
  } catch (const std::exception& e) {
    WriteLog(std::string("Movie Stream Creating Region ") + e.what());
  }
  CloseSound();
  if (FState == TSessionState::Saving && FOutputName) WriteOutput();
  FFolderLock.reset();
  FState = TSessionState::Idle;
}

void TRecordingSession::SaveSegment() {
  TSegmentReport report;
  report.SegmentNumber = SegmentNumber;
  report.Frames = SegmentFrames.empty() ? 0 : SegmentFrames.back();
  report.RecordedMs = Now() - FRecordingStart - FPausedMs;
  CloseSegmentSound();
  std::unique_ptr<TSegmentMovie> movie = std::move(FSegmentMovie);
  // A segment without a frame has no file; the join skips its number.
  if (movie && movie->CalcFrameCount() != 0 &&
      (FTarget.Kind != TCaptureTarget::TKind::Window || WindowCaptured)) {
    const std::string name = SegmentFileName(SegmentNumber);
    try {
      movie->SaveToFile(name);
    } catch (const std::exception& e) {
      FSegmentMovie = std::move(movie);
      WriteFailed(e.what());
      FObserver->SegmentSaved(report);
      return;
    }
    std::error_code ec;
    report.FileBytes = std::filesystem::file_size(name, ec);
  } else if (movie && !FWatch.Failure.empty()) {
    // A failed write left frames the movie does not count as closed: what reached the disk is
    // recovered from there.
    movie->Abandon();
  }
  movie.reset();
  FObserver->SegmentSaved(report);
}

TFolderJoin JoinRecordingFolder(const std::string& folder, const std::string& outputName,
                                const std::vector<std::int32_t>& countedFrames,
                                std::int32_t stageWidth, std::int32_t stageHeight,
                                const TOutputLimits& limits, const std::string& webPlayerURL) {
  // The clean-up removes the segments it joined from the folder: an output among them would go
  // with them.
  if (IsInsideFolder(outputName, folder)) {
    throw std::runtime_error("the movie " + outputName +
                             " would be inside the recording's folder " + folder +
                             ", whose segments are removed once joined");
  }
  TGatheredRecording recording = GatherRecording(folder, outputName, countedFrames);
  TFolderJoin join;
  join.Warnings = recording.Warnings;
  join.Unfinished = !recording.Warnings.empty();
  const std::vector<TSegmentInput> inputs = recording.Inputs();
  try {
    if (inputs.empty()) throw std::runtime_error("no segment of the recording could be read");
    join.Output = WriteOutputFiles(inputs, stageWidth, stageHeight, outputName, limits,
                                   webPlayerURL, TJoinPolicy::KeepReadable);
  } catch (const std::exception&) {
    CleanUpRecording(folder, recording, nullptr);
    throw;
  }
  for (const std::string& w : join.Output.Warnings) join.Warnings.push_back(w);
  for (const TJoinedInput& in : join.Output.Inputs) {
    if (in.Joined && in.FramesDropped != 0) {
      join.Warnings.push_back("the last " + std::to_string(in.FramesDropped) + " frames of " +
                              in.FileName + " could not be read");
    }
  }
  for (const TRecordingPiece* piece : CleanUpRecording(folder, recording, &join.Output)) {
    join.Kept.push_back(piece->Sources.empty() ? std::string() : piece->Sources.front());
  }
  return join;
}

void TRecordingSession::WriteOutput() {
  FWritingOutput = true;
  const bool window = FTarget.Kind == TCaptureTarget::TKind::Window;
  const std::string& output = *FOutputName;
  LastOutput = TOutputResult{};
  LastOutputFailed = false;
  bool unfinished = false;
  std::size_t kept = 0;
  try {
    TFolderJoin join = JoinRecordingFolder(
        RecordingFolder, output, SegmentFrames, window ? DesktopWidth : CaptureWidth,
        window ? DesktopHeight : CaptureHeight, FOptions.Limits, FOptions.WebPlayerURL);
    for (const std::string& w : join.Warnings) Warn(w);
    LastOutput = std::move(join.Output);
    unfinished = join.Unfinished;
    kept = join.Kept.size();
    if (kept != 0) {
      Warn(std::to_string(kept) + " segments could not be joined; they are kept in " +
           RecordingFolder);
    }
  } catch (const std::exception& e) {
    LastOutputFailed = true;
    LastOutput = TOutputResult{};
    FSaveProblem = "The recording could not be saved as \"" + output + "\": " + e.what() +
                   ". Its segments are kept in " + RecordingFolder +
                   " (kestrova recover joins them).";
    Warn(FSaveProblem);
    FObserver->Tell(FSaveProblem, true);
  }
  if (!LastOutputFailed) ReportLoss(unfinished, kept);
  FWritingOutput = false;
}

void TRecordingSession::ReportLoss(bool unfinished, std::size_t kept) {
  if (WriteFailure.empty() && !unfinished && kept == 0) return;
  std::uint64_t counted = 0;
  for (const std::int32_t frames : SegmentFrames) counted += static_cast<std::uint32_t>(frames);
  counted += FWatch.FramesNotWritten;
  FramesLost = counted > LastOutput.Frames ? counted - LastOutput.Frames : 0;
  if (FramesLost == 0) return;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", FramesLost / 12.0);
  const std::string movie = LastOutput.Movies.empty() ? *FOutputName : LastOutput.Movies[0];
  FObserver->Tell(
      "The recording was saved as \"" + movie + "\", but " + seconds + " of it (" +
          std::to_string(FramesLost) + " frames) could not be " +
          (WriteFailure.empty() ? std::string("read back") : "written: " + WriteFailure) + ".",
      false);
}

TSessionResult TRecordingSession::MakeResult() const {
  TSessionResult r;
  r.Started = true;
  r.Saved = !LastOutput.Movies.empty() && !LastOutput.Page.empty();
  if (r.Saved) {
    r.Files = LastOutput.Movies;
    r.Files.push_back(LastOutput.Page);
  }
  r.Frames = LastOutput.Frames;
  r.Seconds = static_cast<double>(LastOutput.Frames) / 12.0;
  r.FramesLost = FramesLost;
  r.Problem = LastOutputFailed ? FSaveProblem : WriteFailure;
  return r;
}

void TRecordingSession::WriteLog(const std::string& text) {
  std::string file;
  try {
    file = FPlatform.Files->LogFileName();
  } catch (const std::exception&) {
  }
  // A log that cannot be written must not end a recording; the user still hears of it.
  if (file.empty() || !kestrova::WriteLog(file, text)) Warn("log: " + text);
}

void TRecordingSession::Warn(const std::string& text) {
  if (FOptions.Diagnostics != nullptr) *FOptions.Diagnostics << "kestrova: " << text << "\n";
}

}  // namespace kestrova
