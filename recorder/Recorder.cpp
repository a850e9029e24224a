#include "recorder/Recorder.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>

namespace kestrova {

using namespace platform;

namespace {

constexpr std::uint32_t kMbIconError = 0x10;

// Halt does not return; a backend that broke that promise must not let the caller run on.
[[noreturn]] void HaltProcess(TPlatform& p, int exitCode) {
  p.Application->Halt(exitCode);
  std::abort();
}

TSessionOptions SessionOptions(const TRecorderOptions& o) {
  TSessionOptions s;
  s.MovieFactory = o.MovieFactory;
  s.Limits = o.Limits;
  s.WebPlayerURL = o.WebPlayerURL;
  s.Colours = o.Colours;
  s.Diagnostics = o.Diagnostics;
  return s;
}

}  // namespace

std::string AnotherInstanceText(const std::string& holder) {
  return "another Kestrova is running on this desktop" + (holder.empty() ? "" : ": " + holder) +
         "; stop its recording (its hot key or its tray icon) or close it first, or record "
         "another display";
}

std::string RecordingTip(std::uint32_t ms, const std::string& hotKey) {
  const std::uint32_t seconds = ms / 1000;
  char time[32];
  std::snprintf(time, sizeof time, "%u:%02u", seconds / 60, seconds % 60);
  return std::string("Kestrova: recording ") + time + " (" + hotKey + " to stop)";
}

TFrmImage::TFrmImage(TPlatform& platform, TRecorderOptions options)
    : Session(platform, SessionOptions(options)),
      FPlatform(platform),
      FOptions(std::move(options)) {
  Session.SetObserver(this);
}

TFrmImage::~TFrmImage() {
  if (FOwnsInstance) FPlatform.Instance->Release();
}

void TFrmImage::Run() {
  if (!FPlatform.Instance->Acquire(kMutexName)) {
    const std::string holder = FPlatform.Instance->Holder();
    if (FOptions.Diagnostics)
      *FOptions.Diagnostics << "kestrova: " << AnotherInstanceText(holder) << "\n";
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
      if (e.Target == "RdoFullScreen") RememberCapture("FullScreen");
      if (e.Target == "RdoRegion") RememberCapture("Region");
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
    case TUIEventKind::StopRequest:
      break;
  }
}

void TFrmImage::FormCreate() {
  TrayActive = false;
  FPlatform.Tray->Add(kApplicationTitle);
  NeedsInit = true;
  HotKeyId = FPlatform.HotKeys->AddAtom("Hotkey1");
  // A key chosen in an earlier run stands unless this run was given one.
  if (FOptions.HotKey == platform::THotKeyChoice{}) {
    if (const std::optional<std::string> saved = Setting("HotKey")) {
      if (const auto key = platform::ParseHotKey(*saved)) FOptions.HotKey = *key;
    }
  }
  const platform::THotKeyChoice& key = FOptions.HotKey;
  if (!FPlatform.HotKeys->Register(HotKeyId, key.Modifiers, key.Key)) {
    bool registered = false;
    // The user may pick another key at once rather than learn of it when trying to stop.
    platform::THotKeyChoice current = key;
    while (FPlatform.HotKeyDialog && !registered) {
      const std::optional<platform::THotKeyChoice> choice =
          FPlatform.HotKeyDialog->Choose(current, platform::THotKeyProblem::Taken);
      if (!choice) break;
      current = *choice;
      registered = FPlatform.HotKeys->Register(HotKeyId, choice->Modifiers, choice->Key);
    }
    if (registered) {
      FOptions.HotKey = current;
      if (FPlatform.Settings) FPlatform.Settings->Set("HotKey", current.Name);
    } else {
      Warn(key.Name +
           " is held by another program; the tray icon stops a recording (record "
           "--hotkey picks another key)");
    }
  }
  FPlatform.ToolWindow->SetCaption(kToolWindowCaption);
  FPlatform.ToolWindow->SetChecked("RdoFullScreen", true);
  // The choice of the last start is offered again.
  if (const std::optional<std::string> kind = Setting("Capture")) {
    if (*kind == "ActiveWindow") FPlatform.ToolWindow->SetChecked("RdoActiveWindow", true);
    if (*kind == "Region") FPlatform.ToolWindow->SetChecked("RdoRegion", true);
  }
  FPlatform.ToolWindow->SetComponentVisible("ImgBtnStartRecord", true);
}

std::optional<std::string> TFrmImage::Setting(const std::string& key) {
  return FPlatform.Settings ? FPlatform.Settings->Get(key) : std::nullopt;
}

void TFrmImage::RememberCapture(const std::string& kind) {
  if (FPlatform.Settings) FPlatform.Settings->Set("Capture", kind);
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
  SyncSession();
  Session.FinishAtExit();
  HaltProcess(FPlatform, 0);
}

void TFrmImage::ImgBtnStartRecordClick() {
  if (Recording) return;
  TrayActive = NeedsInit = Recording = true;
  FPlatform.ToolWindow->Hide();
  CaptureRegion.reset();
  if (FPlatform.ToolWindow->Checked("RdoFullScreen")) {
    CaptureWindow = 0;
    CaptureMode = TCaptureMode::Screen;
  }
  if (FPlatform.ToolWindow->Checked("RdoRegion") && FPlatform.RegionPicker) {
    CaptureWindow = 0;
    CaptureMode = TCaptureMode::Screen;
    CaptureRegion = FPlatform.RegionPicker->PickRegion();
    if (!CaptureRegion) {
      // Cancelled: back to the tool window, ready for another Start.
      Recording = false;
      FPlatform.ToolWindow->Show();
      return;
    }
  }
  if (FPlatform.ToolWindow->Checked("RdoActiveWindow")) {
    // The user has three seconds to bring the window to record to the front.
    FPlatform.Clock->Sleep(3000);
    CaptureMode = TCaptureMode::Client;
    CaptureWindow = FPlatform.Desktop->ForegroundWindow();
  }
  if (CaptureMode == TCaptureMode::Client && !FPlatform.Desktop->IsWindowVisible(CaptureWindow)) {
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
    RememberCapture("ActiveWindow");
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
  Session.WindowCaptured = false;
  RecordingStarted = false;
  CaptureMode = CaptureWindow == 0 ? TCaptureMode::Screen : TCaptureMode::Client;
  try {
    OutputFileName = FPlatform.Files->DefaultOutputName();
  } catch (const std::exception& e) {
    StartRefused(std::string("Recording can not be started: ") + e.what());
  }
}

void TFrmImage::StartCapture() {
  InitRecording();
  if (!OutputFileName.empty()) {
    const TSessionResult result =
        Session.Start(CaptureMode == TCaptureMode::Client ? TCaptureTarget::OfWindow(CaptureWindow)
                      : CaptureRegion                     ? TCaptureTarget::OfRegion(*CaptureRegion)
                                                          : TCaptureTarget::FullScreen());
    // A window that went before the loop began leaves nothing to tell; anything else is said.
    if (!result.Started && !result.TargetMissing) StartRefused(result.Problem);
  }
  EndCapture();
  if (WindowGone()) FPlatform.Application->Terminate();
  if (FOptions.OnRecordingEnded) FOptions.OnRecordingEnded();
}

void TFrmImage::ShowPausedDialog() {
  Session.Pause();
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
    Session.WindowCaptured = false;
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
  if (ExitRequested) StopPrompt();
}

bool TFrmImage::WindowGone() {
  return CaptureMode == TCaptureMode::Client && Session.WindowGone();
}

void TFrmImage::Warn(const std::string& text) {
  if (FOptions.Diagnostics != nullptr) *FOptions.Diagnostics << "kestrova: " << text << "\n";
}

// ---- the session's observer ----

namespace {

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

void TFrmImage::SyncSession() {
  if (!Session.Active()) return;
  if (!Recording) {
    if (OutputFileName == kNoOutput) {
      Session.Discard();
    } else {
      Session.Stop(OutputFileName);
    }
  } else {
    Session.Resume();
  }
}

void TFrmImage::Pump() {
  FPlatform.Application->ProcessMessages();
  SyncSession();
}

void TFrmImage::Tick(std::uint32_t recordedMs) {
  FPlatform.Tray->ShowRecording(true, RecordingTip(recordedMs, FOptions.HotKey.Name),
                                OutputFileName);
}

void TFrmImage::Started() {
  RecordingStarted = true;
}

void TFrmImage::TargetWindowGone() {
  StopPrompt();
  SyncSession();
}

std::optional<std::string> TFrmImage::WriteFailed(const std::string& message, bool askName) {
  TPlatform& p = FPlatform;
  Recording = false;
  // The tool window comes back idle: Start starts a new recording.
  p.ToolWindow->SetComponentVisible("ImgBtnStartRecord", true);
  p.ToolWindow->SetComponentVisible("Image1", false);
  p.ToolWindow->Show();
  p.MessageBoxes->Show(message, kMessageCaption, kMbOk | kMbIconError);
  if (!askName) return std::nullopt;
  const std::optional<std::string> name = p.SaveDialog->Execute(
      {kMessageCaption, p.Files->CurrentDirectory(), "Flash File|*.swf", "swf", 1});
  OutputFileName = name ? *name : kNoOutput;
  return name;
}

void TFrmImage::Tell(const std::string& message, bool error) {
  FPlatform.MessageBoxes->Show(message, kMessageCaption,
                               kMbOk | (error ? kMbIconError : kMbIconExclamation));
}

void TFrmImage::StartRefused(const std::string& message) {
  OutputFileName.clear();
  Recording = false;
  Warn(message);
  // Said where the program was started too; the tool window comes back to try again.
  FPlatform.ToolWindow->Show();
  FPlatform.MessageBoxes->Show(message, kMessageCaption, kMbOk | kMbIconError);
}

void TFrmImage::SegmentSaved(const TSegmentReport& report) {
  if (FOptions.OnSegmentSaved) FOptions.OnSegmentSaved(report);
}

void TFrmImage::Ended(const TSessionResult&) {
  FPlatform.Tray->ShowRecording(false, kApplicationTitle);
  if (!Session.LastOutput.Movies.empty()) {
    FPlatform.Tray->Notify(kMessageCaption, SavedText(Session.LastOutput));
  }
}

}  // namespace kestrova
