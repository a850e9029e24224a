#include "recorder/Recorder.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iterator>

namespace kestrova {

using namespace platform;

namespace {

constexpr std::uint32_t kMbIconError = 0x10;

// Halt does not return; a backend that broke that promise must not let the caller run on.
[[noreturn]] void HaltProcess(TPlatform& p, int exitCode) {
  p.Application->Halt(exitCode);
  std::abort();
}

// A countdown's seconds as text (the setting, the tool window's field); nothing for anything but
// a whole number the countdown takes.
std::optional<int> CountdownOf(const std::string& text) {
  int seconds = -1;
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, seconds);
  if (error != std::errc() || at != end || seconds < 0 || seconds > kMaxCountdown) {
    return std::nullopt;
  }
  return seconds;
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

std::optional<TSoundInput> SoundInputNamed(const std::string& text) {
  for (std::size_t i = 0; i < std::size(kSoundChoices); ++i) {
    if (text == kSoundChoices[i]) return static_cast<TSoundInput>(i);
  }
  return std::nullopt;
}

const char* SoundInputName(TSoundInput input) {
  const auto i = static_cast<std::size_t>(input);
  return i < std::size(kSoundChoices) ? kSoundChoices[i] : kSoundChoices[0];
}

std::string StopKeyText(const std::string& hotKeyName) {
  return "Press " + hotKeyName + " to Stop";
}

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
      if (e.Target == "SpnCountdown") SpnCountdownChange();
      if (e.Target == "CmbAudio") CmbAudioChange();
      if (e.Target == "BtnHotKey") ChangeHotKey();
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
      StopRequested(e.Param);
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
  ShowHotKeyName();
  FPlatform.ToolWindow->SetComponentValue("SpnCountdown", std::to_string(CountdownSeconds()));
  FPlatform.ToolWindow->SetComponentValue("CmbAudio", SoundInputName(SoundChoice()));
  if (FPlatform.Sound == nullptr) {
    FPlatform.ToolWindow->SetComponentEnabled(
        "CmbAudio", false,
        std::string(kMsgNoSoundSource) +
            " (no sound server was found, or this build records no sound).");
  }
}

int TFrmImage::CountdownSeconds() {
  const std::optional<std::string> text = Setting("Countdown");
  return text ? CountdownOf(*text).value_or(kDefaultCountdown) : kDefaultCountdown;
}

TSoundInput TFrmImage::SoundChoice() {
  if (FPlatform.Sound == nullptr) return TSoundInput::Off;
  const std::optional<std::string> text = Setting("Audio");
  const std::optional<TSoundInput> input = text ? SoundInputNamed(*text) : std::nullopt;
  return input.value_or(TSoundInput::Off);
}

void TFrmImage::SpnCountdownChange() {
  if (const std::optional<int> seconds =
          CountdownOf(FPlatform.ToolWindow->ComponentValue("SpnCountdown"))) {
    if (FPlatform.Settings) FPlatform.Settings->Set("Countdown", std::to_string(*seconds));
    return;
  }
  // Nothing the user can type there is kept unless it is a number of seconds the countdown takes.
  FPlatform.ToolWindow->SetComponentValue("SpnCountdown", std::to_string(CountdownSeconds()));
}

void TFrmImage::CmbAudioChange() {
  const std::optional<TSoundInput> input =
      SoundInputNamed(FPlatform.ToolWindow->ComponentValue("CmbAudio"));
  if (input && FPlatform.Sound != nullptr) {
    if (FPlatform.Settings) FPlatform.Settings->Set("Audio", SoundInputName(*input));
    return;
  }
  FPlatform.ToolWindow->SetComponentValue("CmbAudio", SoundInputName(SoundChoice()));
}

void TFrmImage::ShowHotKeyName() {
  const std::string text = StopKeyText(FOptions.HotKey.Name);
  FPlatform.ToolWindow->SetComponentValue("Label2", text);
  FPlatform.PausedDialog->SetComponentValue("Label2", text);
}

void TFrmImage::ChangeHotKey() {
  if (FPlatform.HotKeyDialog == nullptr) return;
  THotKeyChoice shown = FOptions.HotKey;
  THotKeyProblem problem = THotKeyProblem::Asked;
  for (;;) {
    const std::optional<THotKeyChoice> choice = FPlatform.HotKeyDialog->Choose(shown, problem);
    if (!choice) return;  // the key there was stays
    if (choice->Modifiers == FOptions.HotKey.Modifiers && choice->Key == FOptions.HotKey.Key) {
      return;
    }
    // The new key is had before the old one goes, so a key that cannot be had loses nothing.
    const std::uint16_t id = FPlatform.HotKeys->AddAtom("Hotkey" + std::to_string(++FHotKeyAtoms));
    if (FPlatform.HotKeys->Register(id, choice->Modifiers, choice->Key)) {
      FPlatform.HotKeys->Unregister(HotKeyId);
      FPlatform.HotKeys->DeleteAtom(HotKeyId);
      HotKeyId = id;
      FOptions.HotKey = *choice;
      if (FPlatform.Settings) FPlatform.Settings->Set("HotKey", choice->Name);
      ShowHotKeyName();
      return;
    }
    FPlatform.HotKeys->DeleteAtom(id);
    shown = *choice;
    problem = THotKeyProblem::Taken;
  }
}

std::string TFrmImage::TargetText() const {
  if (CaptureMode == TCaptureMode::Client) {
    char id[32];
    std::snprintf(id, sizeof id, "0x%llx", static_cast<unsigned long long>(CaptureWindow));
    return std::string("window ") + id;
  }
  if (CaptureRegion) {
    return "the region " + std::to_string(CaptureRegion->Width()) + "x" +
           std::to_string(CaptureRegion->Height()) + " at " + std::to_string(CaptureRegion->Left) +
           "," + std::to_string(CaptureRegion->Top);
  }
  return "the full screen";
}

void TFrmImage::StopRequested(int param) {
  // Recording or paused: the same flow as the hot key's Stop Record, unless the backend has
  // already closed the paused dialog as by its Stop Record for this request.
  if (param == 0 && Recording && Session.Active()) {
    Session.Pause();
    PausedResult = kPausedStop;
    StopRecordFlow();
  }
  if (Session.Active() && !Recording) {
    StopAnswerDue = true;  // answered once the movie is written (or not)
  } else if (Session.Active()) {
    AnswerStop(false, "the recording of " + TargetText() +
                          " goes on: its save was cancelled in the tool window");
  } else if (param == 1 && !LastEndText.empty()) {
    AnswerStop(!Session.LastOutput.Movies.empty(), LastEndText);
  } else {
    Warn("another program asked to stop the recording, but nothing is being recorded");
    AnswerStop(false, "nothing is being recorded (the tool window is idle)");
  }
}

void TFrmImage::AnswerStop(bool saved, const std::string& text) {
  FPlatform.Instance->AnswerStop(TStopAnswer{saved, text});
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
  const int countdown = CountdownSeconds();
  if (FPlatform.ToolWindow->Checked("RdoActiveWindow")) {
    // The user has three seconds to bring the window to record to the front; the countdown, when
    // on, shows them (for as long as it is set, three seconds at least).
    if (countdown > 0) {
      if (!CountDown(std::max(countdown, 3))) return;
    } else {
      FPlatform.Clock->Sleep(3000);
    }
    CaptureMode = TCaptureMode::Client;
    CaptureWindow = FPlatform.Desktop->ForegroundWindow();
  } else if (!CountDown(countdown)) {
    return;
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

bool TFrmImage::CountDown(int seconds) {
  if (seconds <= 0 || FPlatform.Countdown == nullptr) return true;
  if (FPlatform.Countdown->Run(seconds)) return true;
  // Cancelled: nothing was recorded; the tool window is back for another Start.
  Recording = false;
  FPlatform.ToolWindow->Show();
  return false;
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
    const int item = FPlatform.Tray->PopupMenu(known ? cursor.X : 0, known ? cursor.Y : 0,
                                               {"&Open", "Change &Hot Key...", "&Exit"});
    if (item == kMenuOpen) PopMnuItmOpenClick();
    if (item == kMenuHotKey) ChangeHotKey();
    if (item == kMenuExit) PopMnuItmExitClick();
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
  Session.SetSoundInput(SoundChoice());
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
  if (PausedResult == kPausedStop) StopRecordFlow();
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

void TFrmImage::StopRecordFlow() {
  FPlatform.ToolWindow->SetComponentVisible("ImgBtnStartRecord", true);
  FPlatform.ToolWindow->SetComponentVisible("Image1", false);
  FPlatform.ToolWindow->Show();
  StopPrompt();
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

void TFrmImage::Ended(const TSessionResult& result) {
  FPlatform.Tray->ShowRecording(false, kApplicationTitle);
  const bool saved = result.Saved && !Session.LastOutput.Movies.empty();
  if (saved) FPlatform.Tray->Notify(kMessageCaption, SavedText(Session.LastOutput));
  LastEndText = "stopped the recording of " + TargetText() + "; " +
                (saved ? "saved as " + Session.LastOutput.Movies.front()
                       : std::string("it was not saved") +
                             (result.Problem.empty() ? "" : " (" + result.Problem + ")") +
                             "; kestrova recover finds what was recorded");
  if (StopAnswerDue) {
    StopAnswerDue = false;
    AnswerStop(saved, LastEndText);
  }
}

}  // namespace kestrova
