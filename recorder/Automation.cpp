#include "recorder/Automation.h"

#include <cstdio>
#include <deque>

namespace kestrova {

using namespace platform;

class TRecordAutomation::TApplication : public TApplicationHost {
 public:
  explicit TApplication(TRecordAutomation& a) : A(a) {}
  void SetTitle(const std::string& title) override { A.FInner.Application->SetTitle(title); }
  std::string Title() const override { return A.FInner.Application->Title(); }
  void SetEventHandler(TUIEventHandler handler) override {
    Handler = handler;
    A.FInner.Application->SetEventHandler(std::move(handler));
  }
  void RunMessageLoop() override {
    Queue.push_back(
        {TUIEventKind::Click, A.FOptions.ActiveWindow ? "RdoActiveWindow" : "RdoFullScreen", 0});
    Queue.push_back({TUIEventKind::Click, "ImgBtnStartRecord", 0});
    while (!FTerminated) {
      if (Queue.empty()) {
        // The recording has ended (or could not start): close the tool window.
        if (ClosedSent) return;
        ClosedSent = true;
        Queue.push_back({TUIEventKind::Close, "", 0});
      }
      const TUIEvent e = Queue.front();
      Queue.pop_front();
      if (e.Kind == TUIEventKind::Click && e.Target.rfind("Rdo", 0) == 0) {
        A.FInner.ToolWindow->SetChecked(e.Target, true);
      }
      if (Handler) Handler(e);
    }
  }
  void Terminate() override {
    FTerminated = true;
    A.FInner.Application->Terminate();
  }
  bool Terminated() const override { return FTerminated; }
  void ProcessMessages() override {
    A.FInner.Application->ProcessMessages();
    if (!A.FRecordingStart) A.FRecordingStart = A.FInner.Clock->TickCount();
    if (!A.FStopSent && A.StopDue()) {
      A.FStopSent = A.FStopping = true;
      if (Handler) Handler({TUIEventKind::HotKey, "", A.FHotKeyId});
    }
  }
  [[noreturn]] void Halt(int exitCode) override { throw TProcessHalted{exitCode}; }

  TRecordAutomation& A;
  TUIEventHandler Handler;
  std::deque<TUIEvent> Queue;
  bool FTerminated = false;
  bool ClosedSent = false;
};

// The paused dialog: Stop Record when the automation stops the recording, else the real one.
class TRecordAutomation::TPaused : public TView {
 public:
  explicit TPaused(TRecordAutomation& a) : A(a), V(*a.FInner.PausedDialog) {}
  void Show() override { V.Show(); }
  void Hide() override { V.Hide(); }
  bool Visible() const override { return V.Visible(); }
  void BringToFront() override { V.BringToFront(); }
  void SetCaption(const std::string& c) override { V.SetCaption(c); }
  std::string Caption() const override { return V.Caption(); }
  void SetComponentVisible(const std::string& n, bool v) override { V.SetComponentVisible(n, v); }
  bool ComponentVisible(const std::string& n) const override { return V.ComponentVisible(n); }
  void SetComponentLeft(const std::string& n, int l) override { V.SetComponentLeft(n, l); }
  bool Checked(const std::string& n) const override { return V.Checked(n); }
  void SetChecked(const std::string& n, bool c) override { V.SetChecked(n, c); }
  int ShowModal() override { return A.FStopping ? kPausedStop : V.ShowModal(); }
  TRecordAutomation& A;
  TView& V;
};

class TRecordAutomation::TBoxes : public TMessageBoxes {
 public:
  explicit TBoxes(TRecordAutomation& a) : A(a) {}
  int Show(const std::string& text, const std::string&, std::uint32_t flags) override {
    const bool question = (flags & 0x0F) == kMbYesNoCancel;
    if (A.FOptions.Report && !(question && text == kMsgSaveRecording)) {
      *A.FOptions.Report << "kestrova: " << text << "\n";
    }
    return question ? kIdYes : kIdOk;
  }
  TRecordAutomation& A;
};

class TRecordAutomation::TSave : public TSaveDialog {
 public:
  explicit TSave(TRecordAutomation& a) : A(a) {}
  std::optional<std::string> Execute(const TSaveDialogOptions&) override {
    A.FStopping = false;
    return A.FOptions.OutputName;
  }
  TRecordAutomation& A;
};

class TRecordAutomation::THotKeysWrap : public THotKeys {
 public:
  explicit THotKeysWrap(TRecordAutomation& a) : A(a), H(*a.FInner.HotKeys) {}
  std::uint16_t AddAtom(const std::string& name) override { return H.AddAtom(name); }
  void DeleteAtom(std::uint16_t id) override { H.DeleteAtom(id); }
  bool Register(std::uint16_t id, std::uint32_t modifiers, std::uint32_t key) override {
    A.FHotKeyId = id;
    // The automation presses the key itself, so a combination held elsewhere does not matter.
    H.Register(id, modifiers, key);
    return true;
  }
  void Unregister(std::uint16_t id) override { H.Unregister(id); }
  TRecordAutomation& A;
  THotKeys& H;
};

TRecordAutomation::TRecordAutomation(TPlatform& inner, TAutomationOptions options)
    : FInner(inner), FOptions(std::move(options)), FPlatform(inner) {
  FApplication = std::make_unique<TApplication>(*this);
  FPaused = std::make_unique<TPaused>(*this);
  FBoxes = std::make_unique<TBoxes>(*this);
  FSave = std::make_unique<TSave>(*this);
  FHotKeys = std::make_unique<THotKeysWrap>(*this);
  FPlatform.Application = FApplication.get();
  FPlatform.PausedDialog = FPaused.get();
  FPlatform.MessageBoxes = FBoxes.get();
  FPlatform.SaveDialog = FSave.get();
  FPlatform.HotKeys = FHotKeys.get();
}

TRecordAutomation::~TRecordAutomation() = default;

bool TRecordAutomation::StopDue() {
  if (FOptions.StopRequested && FOptions.StopRequested()) return true;
  if (!FOptions.Seconds || !FRecordingStart) return false;
  const std::uint32_t elapsed = FInner.Clock->TickCount() - *FRecordingStart;
  return elapsed >= *FOptions.Seconds * 1000ull;
}

void TRecordAutomation::SegmentSaved(const TSegmentReport& r) {
  if (FOptions.Report == nullptr) return;
  FTotalFrames += static_cast<std::uint64_t>(r.Frames);
  FTotalBytes += r.FileBytes;
  char line[160];
  std::snprintf(line, sizeof line, "recording: %.1f s, %d segments, %llu frames, %llu bytes\n",
                r.RecordedMs / 1000.0, r.SegmentNumber,
                static_cast<unsigned long long>(FTotalFrames),
                static_cast<unsigned long long>(FTotalBytes));
  *FOptions.Report << line << std::flush;
}

void TRecordAutomation::RecordingEnded() {
  FEnded = true;
  FStopping = false;
}

}  // namespace kestrova
