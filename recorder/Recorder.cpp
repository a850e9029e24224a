#include "recorder/Recorder.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>

#include "recorder/CaptureLog.h"
#include "recorder/RecordingFolder.h"

namespace kestrova {

using namespace platform;

namespace {

constexpr std::uint32_t kMbIconError = 0x10;
// How often the segment being recorded is put on disk: what a crash may cost at most.
constexpr std::uint32_t kFlushPeriodMs = 1000;

// The segment movie as the capture loop holds it: the first failure of a call that writes to
// the disk is noted, because change detection goes on after a failed frame and must not hide it.
class TWatchedMovie : public TSegmentMovie {
 public:
  TWatchedMovie(std::unique_ptr<TSegmentMovie> movie, TWriteWatch& watch)
      : FMovie(std::move(movie)), FWatch(watch) {}
  std::uint32_t AddPicture(const TDIBitmap& picture) override {
    return FMovie->AddPicture(picture);
  }
  void SetBusy(bool busy) override { FMovie->SetBusy(busy); }
  void RemoveObject(std::uint16_t depth) override { FMovie->RemoveObject(depth); }
  void PlaceObject(std::uint32_t shape, std::uint16_t depth, std::int32_t x,
                   std::int32_t y) override {
    FMovie->PlaceObject(shape, depth, x, y);
  }
  void ShowFrame(std::uint16_t count) override {
    try {
      Watch([&] { FMovie->ShowFrame(count); });
    } catch (const std::exception&) {
      FWatch.FramesNotWritten += count;  // recorded, but change detection will not count them
      throw;
    }
  }
  void StreamTo(const std::string& fileName) override {
    Watch([&] { FMovie->StreamTo(fileName); });
  }
  void FlushNow() override {
    Watch([&] { FMovie->FlushNow(); });
  }
  void Abandon() override { FMovie->Abandon(); }
  std::uint16_t CalcFrameCount() override { return FMovie->CalcFrameCount(); }
  void SaveToFile(const std::string& fileName) override {
    Watch([&] { FMovie->SaveToFile(fileName); });
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
  std::unique_ptr<TSegmentMovie> FMovie;
  TWriteWatch& FWatch;
};

// Halt does not return; a backend that broke that promise must not let the caller run on.
[[noreturn]] void HaltProcess(TPlatform& p, int exitCode) {
  p.Application->Halt(exitCode);
  std::abort();
}

}  // namespace

TFrmImage::TFrmImage(TPlatform& platform, TRecorderOptions options)
    : Encoder([this](const std::string& text) { WriteLog(text); }),
      FPlatform(platform),
      FOptions(std::move(options)) {}

TFrmImage::~TFrmImage() {
  if (FOwnsInstance) FPlatform.Instance->Release();
}

void TFrmImage::Run() {
  if (!FPlatform.Instance->Acquire(kMutexName)) {
    const std::string holder = FPlatform.Instance->Holder();
    if (FOptions.Diagnostics) {
      *FOptions.Diagnostics << "kestrova: another Kestrova is running on this desktop"
                            << (holder.empty() ? "" : ": " + holder)
                            << "; stop its recording (its hot key or its tray icon) or close it "
                               "first, or record another display\n";
    }
    FPlatform.Instance->BringForward(kApplicationTitle);
    HaltProcess(FPlatform, 0);
  }
  FOwnsInstance = true;
  FPlatform.Application->SetTitle(kApplicationTitle);
  FPlatform.Application->SetEventHandler([this](const TUIEvent& e) { Dispatch(e); });
  FormCreate();
  FPlatform.PausedDialog->SetCaption(kPausedCaption);
  FPlatform.PausedDialog->Hide();
  FPlatform.ToolWindow->Show();
  FPlatform.Application->RunMessageLoop();
  FormDestroy();
}

void TFrmImage::Dispatch(const TUIEvent& e) {
  switch (e.Kind) {
    case TUIEventKind::Click:
      if (e.Target == "ImgBtnStartRecord") ImgBtnStartRecordClick();
      if (e.Target == "Image1") Image1Click();
      if (e.Target == "ImgExit") ImgExitClick();
      if (e.Target == "RdoActiveWindow") RdoActiveWindowClick();
      break;
    case TUIEventKind::HotKey:
      WMHotKey(e.Param);
      break;
    case TUIEventKind::TrayNotify:
      WMTrayNotify(e.Param);
      break;
    case TUIEventKind::Activate:
      FormActivate();
      break;
    case TUIEventKind::Close:
      FormClose();
      break;
    case TUIEventKind::Destroy:
      FormDestroy();
  }
}

void TFrmImage::FormCreate() {
  TrayActive = false;
  FPlatform.Tray->Add(kApplicationTitle);
  NeedsInit = true;
  HotKeyId = FPlatform.HotKeys->AddAtom("Hotkey1");
  const platform::THotKeyChoice& key = FOptions.HotKey;
  if (!FPlatform.HotKeys->Register(HotKeyId, key.Modifiers, key.Key)) {
    Warn(key.Name +
         " is held by another program; the tray icon stops a recording (record "
         "--hotkey picks another key)");
  }
  FPlatform.ToolWindow->SetCaption(kToolWindowCaption);
  FPlatform.ToolWindow->SetChecked("RdoFullScreen", true);
  FPlatform.ToolWindow->SetComponentVisible("ImgBtnStartRecord", true);
}

void TFrmImage::FormActivate() {
  FPlatform.ToolWindow->SetCaption(kToolWindowCaption);
  FPlatform.ToolWindow->SetComponentLeft("ImgExit", 41);
}

void TFrmImage::FormClose() {
  FPlatform.Application->Terminate();
}

void TFrmImage::FormDestroy() {
  FPlatform.HotKeys->Unregister(HotKeyId);
  FPlatform.HotKeys->DeleteAtom(HotKeyId);
  if (!ExitRequested) {
    ExitRequested = true;
    StopPrompt();
  }
  // Destroyed under a running capture loop (the session ends while recording): the loop never
  // gets control back to save its segment or write the movie the user just named, so that is
  // done here before the process ends.
  if (FCaptureThread) FCaptureThread->FinishAtDestroy();
  HaltProcess(FPlatform, 0);
}

void TFrmImage::ImgBtnStartRecordClick() {
  if (Recording) return;
  TrayActive = NeedsInit = Recording = true;
  FPlatform.ToolWindow->Hide();
  if (FPlatform.ToolWindow->Checked("RdoFullScreen")) {
    CaptureWindow = 0;
    CaptureMode = kModeScreen;
  }
  if (FPlatform.ToolWindow->Checked("RdoActiveWindow")) {
    // The user has three seconds to bring the window to record to the front.
    FPlatform.Clock->Sleep(3000);
    CaptureMode = kModeClient;
    CaptureWindow = FPlatform.Desktop->ForegroundWindow();
  }
  if (CaptureMode == kModeClient && !FPlatform.Desktop->IsWindowVisible(CaptureWindow)) {
    Recording = false;
    // Left hidden, the tool window would leave nothing to click but the tray icon, whose menu
    // ends the program: it comes back, and says why nothing is recorded.
    FPlatform.ToolWindow->Show();
    FPlatform.MessageBoxes->Show(kMsgNoWindowToCapture, kMessageCaption,
                                 kMbOk | kMbIconExclamation);
    return;
  }
  StartCapture();
}

void TFrmImage::Image1Click() {
  if (Recording) Recording = false;
}

void TFrmImage::ImgExitClick() {
  ExitRequested = true;
  StopPrompt();
  HaltProcess(FPlatform, 0);
}

void TFrmImage::RdoActiveWindowClick() {
  if (FPlatform.ToolWindow->Checked("RdoActiveWindow")) {
    FPlatform.MessageBoxes->Show(kMsgActivateWindow, kMessageCaption, kMbOk | kMbIconExclamation);
  }
}

void TFrmImage::PopMnuItmOpenClick() {
  ShowPausedDialog();
}

void TFrmImage::PopMnuItmExitClick() {
  FPlatform.Tray->Remove();
  StopPrompt();
}

void TFrmImage::WMHotKey(int id) {
  if (id != HotKeyId) return;
  if (RecordingStarted) {
    ShowPausedDialog();
  } else {
    FPlatform.MessageBoxes->Show(kMsgNotStarted, kMessageCaption, kMbOk | kMbIconExclamation);
  }
}

void TFrmImage::WMTrayNotify(int mouseMessage) {
  if (!TrayActive) return;
  if (mouseMessage == kTrayLeftDoubleClick) {
    ShowPausedDialog();
    if (PausedResult != kPausedContinue) FPlatform.ToolWindow->Show();
  } else if (mouseMessage == kTrayRightButtonDown) {
    TCursorInfo cursor;
    const bool known = FPlatform.Cursor->GetCursor(cursor);
    FPlatform.ToolWindow->BringToFront();
    const int item =
        FPlatform.Tray->PopupMenu(known ? cursor.X : 0, known ? cursor.Y : 0, {"&Open", "&Exit"});
    if (item == 0) PopMnuItmOpenClick();
    if (item == 1) PopMnuItmExitClick();
  }
}

void TFrmImage::InitRecording() {
  if (!NeedsInit) return;
  NeedsInit = false;
  CapturePixelFormat = 8;
  GrabEnabled = true;
  WindowCaptured = false;
  RecordingStarted = false;
  CaptureMode = CaptureWindow == 0 ? kModeScreen : kModeClient;
  Encoder.PreviousFrame = TDIBitmap{};
  // Each recording counts its own segments: frame counts left from an earlier recording of
  // this run would otherwise stand for the segments of this one.
  SegmentFrames.clear();
  SegmentNumber = 0;
  try {
    OutputFileName = FPlatform.Files->DefaultOutputName();
    RecordingFolder = FPlatform.Files->MakeRecordingFolder();
    WriteFailure.clear();
    FramesLost = 0;
    FolderLock = FPlatform.Files->LockFolder(RecordingFolder);
    if (!FolderLock) {
      Warn("the folder " + RecordingFolder +
           " could not be marked as in use: kestrova recover run meanwhile may take it");
    }
  } catch (const std::exception& e) {
    const std::string message = std::string("Recording can not be started: ") + e.what();
    OutputFileName.clear();
    Recording = false;
    Warn(message);
    FPlatform.ToolWindow->Show();
    FPlatform.MessageBoxes->Show(message, kMessageCaption, kMbOk | kMbIconError);
  }
}

void TFrmImage::StartCapture() {
  Encoder.ResetReference = true;
  FCaptureThread = std::make_unique<TCaptureThread>(*this);
  FCaptureThread->Execute();
  FCaptureThread.reset();
  if (FOptions.OnRecordingEnded) FOptions.OnRecordingEnded();
}

void TFrmImage::ShowPausedDialog() {
  PausedResult = FPlatform.PausedDialog->ShowModal();
  if (PausedResult == kPausedStop) {
    FPlatform.ToolWindow->SetComponentVisible("ImgBtnStartRecord", true);
    FPlatform.ToolWindow->SetComponentVisible("Image1", false);
    FPlatform.ToolWindow->Show();
    StopPrompt();
  }
  // Each test reads the field again: a dialog opened from inside StopPrompt decides too.
  if (PausedResult == kPausedContinue) {
    FPlatform.ToolWindow->Hide();
    FPlatform.Clock->Sleep(100);
  }
  if (PausedResult == kPausedExit) {
    ExitRequested = true;
    StopPrompt();
    FPlatform.Tray->Remove();
  }
}

void TFrmImage::StopPrompt() {
  TView& tool = *FPlatform.ToolWindow;
  if (!Recording) {
    FPlatform.Application->Terminate();
    tool.SetComponentVisible("ImgBtnStartRecord", true);
    tool.SetComponentVisible("Image1", false);
    FPlatform.Tray->Remove();
    return;
  }
  const int answer = FPlatform.MessageBoxes->Show(kMsgSaveRecording, kMessageCaption,
                                                  kMbYesNoCancel | kMbIconQuestion);
  auto windowGoneEnd = [&](const char* message, std::uint32_t flags) {
    EndCapture();
    tool.Show();
    Recording = false;
    WindowCaptured = false;
    FPlatform.MessageBoxes->Show(message, kMessageCaption, flags);
  };
  if (answer == kIdYes) {
    const std::optional<std::string> name = FPlatform.SaveDialog->Execute(
        {kMessageCaption, FPlatform.Files->CurrentDirectory(), "Flash File|*.swf", "swf", 1});
    if (name) {
      Recording = false;
      OutputFileName = *name;
      return;
    }
    Recording = true;
    OutputFileName = kNoOutput;
    if (WindowGone()) {
      windowGoneEnd(kMsgCaptureWindowClosed, kMbOk);
    } else {
      tool.Hide();
      ShowPausedDialog();
    }
  } else if (answer == kIdNo) {
    if (ExitRequested) {
      FPlatform.Tray->Remove();
      HaltProcess(FPlatform, 0);
    }
    if (WindowGone()) {
      windowGoneEnd(kMsgHandleWindowClosed, kMbOk | kMbIconExclamation);
    } else {
      Recording = true;
      tool.Hide();
      ShowPausedDialog();
    }
  } else if (WindowGone()) {
    windowGoneEnd(kMsgHandleWindowClosed, kMbOk | kMbIconExclamation);
  } else {
    tool.Hide();
    ShowPausedDialog();
  }
}

void TFrmImage::EndCapture() {
  if (FCaptureThread) FCaptureThread->Terminated = true;
  if (ExitRequested) StopPrompt();
}

bool TFrmImage::WindowGone() {
  return CaptureMode == kModeClient && WindowCaptured &&
         !FPlatform.Desktop->IsWindowVisible(CaptureWindow);
}

void TFrmImage::WriteLog(const std::string& text) {
  std::string file;
  try {
    file = FPlatform.Files->LogFileName();
  } catch (const std::exception&) {
  }
  // A log that cannot be written must not end a recording; the user still hears of it.
  if (file.empty() || !kestrova::WriteLog(file, text)) Warn("log: " + text);
}

void TFrmImage::Warn(const std::string& text) {
  if (FOptions.Diagnostics != nullptr) *FOptions.Diagnostics << "kestrova: " << text << "\n";
}

std::string TFrmImage::SegmentFileName(std::int32_t number) const {
  return RecordingFolder + FPlatform.Files->PathSeparator() + "capture" + std::to_string(number) +
         ".swf";
}

// ---- the capture loop ----

TCaptureThread::TCaptureThread(TFrmImage& form)
    : F(form), FStage(*form.FPlatform.Capture, *form.FPlatform.Cursor) {
  // The segment's frames go to its file's side as they close: a segment of full motion would
  // otherwise hold all its pictures until it is saved, then the body and its compressed copy
  // besides.
  FStreamedFactory = [this](std::int32_t width, std::int32_t height) {
    auto movie = std::make_unique<TWatchedMovie>(F.FOptions.MovieFactory(width, height), FWatch);
    movie->StreamTo(F.SegmentFileName(F.SegmentNumber));
    // An unfinished segment has no header to tell its stage; recovery reads it here.
    if (!FStageWritten) FStageWritten = WriteRecordingStage(F.RecordingFolder, {width, height});
    FLastFlush = Now();
    return std::unique_ptr<TSegmentMovie>(std::move(movie));
  };
}

namespace {

// The tray's tip while recording: the time recorded so far.
std::string RecordingTip(std::uint32_t ms, const std::string& hotKey) {
  const std::uint32_t seconds = ms / 1000;
  char time[32];
  std::snprintf(time, sizeof time, "%u:%02u", seconds / 60, seconds % 60);
  return std::string("Kestrova: recording ") + time + " (" + hotKey + " to stop)";
}

// Where the movie went, how long it runs and how large it is.
std::string SavedText(const TOutputResult& r) {
  std::uintmax_t bytes = 0;
  std::error_code ec;
  for (const std::string& m : r.Movies) bytes += std::filesystem::file_size(m, ec);
  char size[32];
  std::snprintf(size, sizeof size, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return "Saved " + r.Movies.front() + " (" + std::to_string((r.Frames + 6) / 12) + " s, " + size +
         ")";
}

}  // namespace

std::uint32_t TCaptureThread::Now() {
  return F.FPlatform.Clock->TickCount();
}

void TCaptureThread::Execute() {
  TPlatform& p = F.FPlatform;
  p.Clock->Sleep(100);
  F.InitRecording();
  const bool windowShown =
      F.CaptureMode == kModeClient && p.Desktop->IsWindowVisible(F.CaptureWindow);
  if ((windowShown || F.CaptureMode == kModeScreen) && !F.OutputFileName.empty()) {
    F.RecordingStarted = true;
    FRecordingStart = Now();
    FHaveAdvance = false;
    FPauseExcess = 0;
    std::int32_t counter = 0;
    while (F.Recording) {
      F.SegmentNumber = ++counter;
      if (counter > 1) F.Encoder.ResetReference = true;
      RecordSegment();
      try {
        SaveSegment();
      } catch (const std::exception& e) {
        F.WriteLog(std::string("Movie Stream Creating Region ") + e.what());
      }
      if (F.WindowGone()) {
        F.StopPrompt();
        break;
      }
    }
    if (F.OutputFileName != kNoOutput) WriteOutput();
    F.Encoder.FreePreviousFrame();
    F.FolderLock.reset();
    p.Tray->ShowRecording(false, kApplicationTitle);
    if (!F.LastOutput.Movies.empty()) p.Tray->Notify(kMessageCaption, SavedText(F.LastOutput));
  }
  F.EndCapture();
  if (F.WindowGone()) p.Application->Terminate();
}

void TCaptureThread::RecordSegment() {
  TPlatform& p = F.FPlatform;
  F.Encoder.BeginSegment();
  std::int32_t i = 0;
  const std::uint32_t start = Now();
  while (static_cast<std::uint32_t>(Now() - start) < kSegmentMs && F.Recording) {
    F.FrameStart = Now();
    p.Tray->ShowRecording(true,
                          RecordingTip(F.FrameStart - FRecordingStart, F.FOptions.HotKey.Name));
    p.Application->ProcessMessages();
    if (F.CaptureMode == kModeClient) {
      if (F.CaptureWindow == 0 || !p.Desktop->IsWindowVisible(F.CaptureWindow)) {
        F.GrabEnabled = false;
        break;
      }
      bool wasMinimised = false;
      while (p.Desktop->IsMinimised(F.CaptureWindow)) {
        p.Clock->Sleep(500);
        wasMinimised = true;
      }
      if (wasMinimised) p.Clock->Sleep(5);
      if (p.Desktop->IsMaximised(F.CaptureWindow)) p.Clock->Sleep(1);
    }
    // The movie is made by the first frame that reaches change detection: a first grab that
    // failed must not leave the rest of the segment without a movie.
    F.FirstFrameOfSegment = !F.SegmentMovie;
    if (!F.GrabEnabled || !F.Recording) continue;
    const std::uint32_t waited = Now() - F.FrameStart;
    if (waited > 1000) {
      FPauseExcess += waited - 1000;
      F.FrameStart = Now() - 1000;
    }
    CaptureFrame(i);
    KeepOnDisk();
    if (!FWatch.Failure.empty()) {
      WriteFailed(FWatch.Failure);
      break;
    }
    PaceFrame();
    ++i;
  }
  F.SegmentFrames.push_back(F.Encoder.FramesShown);
}

void TCaptureThread::CaptureFrame(std::int32_t) {
  TPlatform& p = F.FPlatform;
  const bool windowMode = F.CaptureMode == kModeClient && F.CaptureWindow != 0;
  TScreenRect rect = p.Desktop->DesktopRect();
  TWindowHandle window = 0;
  if (windowMode) {
    if (F.FirstFrameOfSegment) {
      F.DesktopWidth = rect.Width();
      F.DesktopHeight = rect.Height();
    }
    const std::optional<TScreenRect> r = p.Desktop->WindowRect(F.CaptureWindow);
    if (!r) return;
    rect = *r;
    window = F.CaptureWindow;
    F.WindowCaptured = true;
  }
  if (rect.Width() <= 0 || rect.Height() <= 0) return;
  F.CaptureWidth = rect.Width();
  F.CaptureHeight = rect.Height();
  F.Encoder.StripCount = (F.CaptureHeight + kStripHeight - 1) / kStripHeight;
  TStagedFrame staged;
  if (!FStage.Capture(window, rect, staged)) return;
  TFrameContext context;
  context.Staged = &staged;
  context.FirstFrameOfSegment = F.FirstFrameOfSegment;
  context.WindowMode = windowMode;
  context.StageWidth = windowMode ? F.DesktopWidth : F.CaptureWidth;
  context.StageHeight = windowMode ? F.DesktopHeight : F.CaptureHeight;
  context.TakeElapsedMs = [this] { return TakeElapsedMs(); };
  F.Encoder.EncodeFrame(*staged.Picture, context, F.SegmentMovie, FStreamedFactory);
  F.FirstFrameOfSegment = context.FirstFrameOfSegment;
}

void TCaptureThread::PaceFrame() {
  // The next turn is due one period after this one began, however long the grab and its
  // encoding took: a fixed sleep after the work would stretch every turn by the work's length
  // and lower the grab rate most where the screen changes most. A turn that overran starts the
  // next at once. The timeline does not depend on this: it follows the clock.
  const std::uint32_t spent = Now() - F.FrameStart;
  if (spent < kFramePeriodMs) F.FPlatform.Clock->Sleep(kFramePeriodMs - spent);
}

std::uint32_t TCaptureThread::TakeElapsedMs() {
  const std::uint32_t now = Now();
  std::uint32_t delta;
  if (!FHaveAdvance) {
    delta = now - F.FrameStart;
  } else {
    const std::uint32_t gap = now - FLastAdvance;
    delta = gap > FPauseExcess ? gap - FPauseExcess : 0;
  }
  FPauseExcess = 0;
  FLastAdvance = now;
  FHaveAdvance = true;
  return delta;
}

void TCaptureThread::KeepOnDisk() {
  if (!F.SegmentMovie || static_cast<std::uint32_t>(Now() - FLastFlush) < kFlushPeriodMs) return;
  FLastFlush = Now();
  try {
    F.SegmentMovie->FlushNow();
  } catch (const std::exception&) {
    // Noted by the movie; WriteFailed follows.
  }
}

void TCaptureThread::WriteFailed(const std::string& reason) {
  TPlatform& p = F.FPlatform;
  if (F.SegmentMovie) {
    F.SegmentMovie->Abandon();
    F.SegmentMovie.reset();
  }
  const bool wasRecording = F.Recording;
  F.Recording = false;
  if (!F.WriteFailure.empty()) return;  // told already
  F.WriteFailure = reason;
  const std::string message = "The recording could not be written (" + reason +
                              "). Recording has stopped; what was recorded up to now is kept.";
  // The tool window comes back idle: Start starts a new recording.
  p.ToolWindow->SetComponentVisible("ImgBtnStartRecord", true);
  p.ToolWindow->SetComponentVisible("Image1", false);
  p.ToolWindow->Show();
  p.MessageBoxes->Show(message, kMessageCaption, kMbOk | kMbIconError);
  // The user has not named the movie yet: it may go where there is room.
  if (wasRecording) {
    const std::optional<std::string> name = p.SaveDialog->Execute(
        {kMessageCaption, p.Files->CurrentDirectory(), "Flash File|*.swf", "swf", 1});
    F.OutputFileName = name ? *name : kNoOutput;
    if (!name) {
      p.MessageBoxes->Show("The recording is kept in " + F.RecordingFolder +
                               " (kestrova recover makes a movie of it).",
                           kMessageCaption, kMbOk | kMbIconExclamation);
    }
  }
}

void TCaptureThread::FinishAtDestroy() {
  F.SegmentFrames.push_back(F.Encoder.FramesShown);
  try {
    SaveSegment();
  } catch (const std::exception& e) {
    F.WriteLog(std::string("Movie Stream Creating Region ") + e.what());
  }
  if (!F.Recording && !F.OutputFileName.empty() && F.OutputFileName != kNoOutput) WriteOutput();
}

void TCaptureThread::SaveSegment() {
  TSegmentReport report;
  report.SegmentNumber = F.SegmentNumber;
  report.Frames = F.SegmentFrames.empty() ? 0 : F.SegmentFrames.back();
  report.RecordedMs = Now() - FRecordingStart;
  std::unique_ptr<TSegmentMovie> movie = std::move(F.SegmentMovie);
  // A segment without a frame has no file; the join skips its number.
  if (movie && movie->CalcFrameCount() != 0 &&
      (F.CaptureMode == kModeScreen || (F.CaptureMode == kModeClient && F.WindowCaptured))) {
    const std::string name = F.SegmentFileName(F.SegmentNumber);
    try {
      movie->SaveToFile(name);
    } catch (const std::exception& e) {
      F.SegmentMovie = std::move(movie);
      WriteFailed(e.what());
      if (F.FOptions.OnSegmentSaved) F.FOptions.OnSegmentSaved(report);
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
  if (F.FOptions.OnSegmentSaved) F.FOptions.OnSegmentSaved(report);
}

void TCaptureThread::WriteOutput() {
  TPlatform& p = F.FPlatform;
  const bool window = F.CaptureMode == kModeClient;
  F.LastOutput = TOutputResult{};
  F.LastOutputFailed = false;
  std::optional<TGatheredRecording> recording;
  std::size_t kept = 0;
  try {
    // The clean-up removes the segments it joined from the folder: an output among them would
    // go with them.
    if (IsInsideFolder(F.OutputFileName, F.RecordingFolder)) {
      throw std::runtime_error("a movie cannot be saved inside the recording's own folder");
    }
    recording = GatherRecording(F.RecordingFolder, F.OutputFileName, F.SegmentFrames);
    for (const std::string& w : recording->Warnings) F.Warn(w);
    const std::vector<TSegmentInput> inputs = recording->Inputs();
    if (inputs.empty()) throw std::runtime_error("no frame was recorded");
    F.LastOutput =
        WriteOutputFiles(inputs, window ? F.DesktopWidth : F.CaptureWidth,
                         window ? F.DesktopHeight : F.CaptureHeight, F.OutputFileName,
                         F.FOptions.Limits, F.FOptions.WebPlayerURL, TJoinPolicy::KeepReadable);
    for (const std::string& w : F.LastOutput.Warnings) F.Warn(w);
    for (const TJoinedInput& in : F.LastOutput.Inputs) {
      if (in.Joined && in.FramesDropped != 0) {
        F.Warn("the last " + std::to_string(in.FramesDropped) + " frames of " + in.FileName +
               " could not be read");
      }
    }
    kept = CleanUpRecording(F.RecordingFolder, *recording, &F.LastOutput).size();
    if (kept != 0) {
      F.Warn(std::to_string(kept) + " segments could not be joined; they are kept in " +
             F.RecordingFolder);
    }
  } catch (const std::exception& e) {
    if (recording) CleanUpRecording(F.RecordingFolder, *recording, nullptr);
    F.LastOutputFailed = true;
    F.LastOutput = TOutputResult{};
    const std::string message = "The recording could not be saved as \"" + F.OutputFileName +
                                "\": " + e.what() + ". Its segments are kept in " +
                                F.RecordingFolder + " (kestrova recover joins them).";
    F.Warn(message);
    p.MessageBoxes->Show(message, kMessageCaption, kMbOk | kMbIconError);
  }
  if (!F.LastOutputFailed) ReportLoss(recording && !recording->Warnings.empty(), kept);
  Terminated = true;
}

void TCaptureThread::ReportLoss(bool unfinished, std::size_t kept) {
  if (F.WriteFailure.empty() && !unfinished && kept == 0) return;
  std::uint64_t counted = 0;
  for (const std::int32_t frames : F.SegmentFrames) counted += static_cast<std::uint32_t>(frames);
  counted += FWatch.FramesNotWritten;
  F.FramesLost = counted > F.LastOutput.Frames ? counted - F.LastOutput.Frames : 0;
  if (F.FramesLost == 0) return;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", F.FramesLost / 12.0);
  const std::string movie = F.LastOutput.Movies.empty() ? F.OutputFileName : F.LastOutput.Movies[0];
  const std::string message =
      "The recording was saved as \"" + movie + "\", but " + seconds + " of it (" +
      std::to_string(F.FramesLost) + " frames) could not be " +
      (F.WriteFailure.empty() ? std::string("read back") : "written: " + F.WriteFailure) + ".";
  F.FPlatform.MessageBoxes->Show(message, kMessageCaption, kMbOk | kMbIconExclamation);
}

}  // namespace kestrova
