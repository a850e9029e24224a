#include "platform/sim/SimDesktop.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/HotKeyName.h"
#include "platform/Palette.h"
#include "platform/sim/Mix.h"

namespace kestrova::platform::sim {

namespace {

void Put(std::uint8_t* p, std::uint32_t rgb) {
  p[0] = static_cast<std::uint8_t>(rgb);
  p[1] = static_cast<std::uint8_t>(rgb >> 8);
  p[2] = static_cast<std::uint8_t>(rgb >> 16);
  p[3] = 0;
}

constexpr std::int32_t kBorder = 3, kCaption = 18;

// The tool window's radio buttons: checking one clears the others.
constexpr const char* kRadios[] = {"RdoFullScreen", "RdoActiveWindow", "RdoRegion"};

bool IsRadio(const std::string& name) {
  return std::find(std::begin(kRadios), std::end(kRadios), name) != std::end(kRadios);
}

std::string RectText(const TScreenRect& r) {
  return std::to_string(r.Left) + "," + std::to_string(r.Top) + "," + std::to_string(r.Right) +
         "," + std::to_string(r.Bottom);
}

TScreenRect Clip(const TScreenRect& a, const TScreenRect& b) {
  return TScreenRect{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
                     std::min(a.Bottom, b.Bottom)};
}

}  // namespace

struct TSimDesktop::TWindowState {
  TWindowHandle Handle = 0;
  TSimWindowSpec Spec;
  TScreenRect RestoreRect;
  bool Exists = true, Minimised = false, Maximised = false;
};

// ---- the interfaces, each a thin view of the desktop's state ----

class TSimDesktop::TClockImpl : public TClock {
 public:
  explicit TClockImpl(TSimDesktop& d) : D(d) {}
  std::uint32_t TickCount() override {
    return static_cast<std::uint32_t>(D.FConfig.StartTick + D.FNow);
  }
  void Sleep(std::uint32_t ms) override {
    if (D.FRealTime) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    D.AdvanceTo(D.FNow + ms);
  }
  TSimDesktop& D;
};

class TSimDesktop::TApplicationImpl : public TApplicationHost {
 public:
  explicit TApplicationImpl(TSimDesktop& d) : D(d) {}
  void SetTitle(const std::string& title) override { FTitle = title; }
  std::string Title() const override { return FTitle; }
  void SetEventHandler(TUIEventHandler handler) override { Handler = std::move(handler); }
  void RunMessageLoop() override {
    while (!FTerminated) {
      D.AdvanceTo(D.FNow);
      if (D.DeliverOne()) continue;
      if (D.FScript.empty()) {
        D.Record(TSimCall{D.FNow, "ScriptEnded", "", "", 0, 0, ""});
        return;
      }
      D.AdvanceTo(D.FScript.begin()->first);
    }
  }
  void Terminate() override {
    if (!FTerminated) D.Record(TSimCall{D.FNow, "Terminate", "", "", 0, 0, ""});
    FTerminated = true;
  }
  bool Terminated() const override { return FTerminated; }
  void ProcessMessages() override {
    D.AdvanceTo(D.FNow);
    D.DeliverDue();
  }
  [[noreturn]] void Halt(int exitCode) override {
    D.Record(TSimCall{D.FNow, "Halt", "", "", 0, exitCode, ""});
    D.FHalted = true;
    throw TProcessHalted{exitCode};
  }
  TSimDesktop& D;
  TUIEventHandler Handler;
  std::string FTitle;
  bool FTerminated = false;
};

class TSimDesktop::TInstanceImpl : public TSingleInstance {
 public:
  explicit TInstanceImpl(TSimDesktop& d) : D(d) {}
  bool Acquire(const std::string& name) override { return D.FHeldNames.insert(name).second; }
  bool BringForward(const std::string& title) override {
    const bool found = D.FApplication->Title() == title;
    D.Record(TSimCall{D.FNow, "BringForward", title, "", 0, found ? 1 : 0, ""});
    return found;
  }
  void Release() override { D.FHeldNames.clear(); }
  void AnswerStop(const TStopAnswer& answer) override {
    D.Record(TSimCall{D.FNow, "StopAnswer", answer.Text, "", 0, answer.Saved ? 1 : 0, ""});
  }
  TSimDesktop& D;
};

class TSimDesktop::TViewImpl : public TView {
 public:
  TViewImpl(TSimDesktop& d, std::string name) : D(d), Name(std::move(name)) {}
  void Show() override {
    const bool wasHidden = !FVisible;
    FVisible = true;
    D.Record(TSimCall{D.FNow, Name + "Show", "", "", 0, 0, ""});
    // A window that appears is activated, as a desktop does.
    if (wasHidden && Name == "ToolWindow")
      D.FPending.push_back(TUIEvent{TUIEventKind::Activate, "", 0});
  }
  void Hide() override {
    FVisible = false;
    D.Record(TSimCall{D.FNow, Name + "Hide", "", "", 0, 0, ""});
  }
  bool Visible() const override { return FVisible; }
  void BringToFront() override {}
  void SetCaption(const std::string& caption) override { FCaption = caption; }
  std::string Caption() const override { return FCaption; }
  void SetComponentVisible(const std::string& name, bool visible) override {
    FComponents[name] = visible;
  }
  bool ComponentVisible(const std::string& name) const override {
    auto it = FComponents.find(name);
    return it == FComponents.end() || it->second;
  }
  void SetComponentLeft(const std::string& name, int left) override { FLeft[name] = left; }
  bool Checked(const std::string& name) const override {
    auto it = FChecked.find(name);
    return it != FChecked.end() && it->second;
  }
  void SetChecked(const std::string& name, bool checked) override {
    FChecked[name] = checked;
    if (checked && IsRadio(name)) {
      for (const char* other : kRadios) {
        if (other != name) FChecked[other] = false;
      }
    }
  }
  std::string ComponentValue(const std::string& name) const override {
    auto it = FValues.find(name);
    return it == FValues.end() ? std::string() : it->second;
  }
  void SetComponentValue(const std::string& name, const std::string& value) override {
    FValues[name] = value;
  }
  void SetComponentEnabled(const std::string& name, bool enabled, const std::string& tip) override {
    FEnabled[name] = enabled;
    FTips[name] = tip;
  }
  bool ComponentEnabled(const std::string& name) const override {
    auto it = FEnabled.find(name);
    return it == FEnabled.end() || it->second;
  }
  int ShowModal() override {
    const TSimAnswer a = D.TakeAnswer(TSimDialog::Paused, FCaption);
    const int result = a.Value == 0 ? 2 : a.Value;  // the caption's close button is Continue
    D.Record(TSimCall{D.FNow, "PausedDialog", "", FCaption, 0, result, ""});
    return result;
  }
  TSimDesktop& D;
  std::string Name;
  bool FVisible = false;
  std::string FCaption;
  std::map<std::string, bool> FComponents, FChecked;
  std::map<std::string, int> FLeft;
  std::map<std::string, std::string> FValues, FTips;
  std::map<std::string, bool> FEnabled;
};

class TSimDesktop::TMessageBoxesImpl : public TMessageBoxes {
 public:
  explicit TMessageBoxesImpl(TSimDesktop& d) : D(d) {}
  int Show(const std::string& text, const std::string& caption, std::uint32_t flags) override {
    int result = kIdOk;
    if ((flags & 0x0F) != kMbOk) result = D.TakeAnswer(TSimDialog::Question, text).Value;
    D.Record(TSimCall{D.FNow, "MessageBox", text, caption, flags, result, ""});
    return result;
  }
  TSimDesktop& D;
};

class TSimDesktop::TSaveDialogImpl : public TSaveDialog {
 public:
  explicit TSaveDialogImpl(TSimDesktop& d) : D(d) {}
  std::optional<std::string> Execute(const TSaveDialogOptions& o) override {
    const TSimAnswer a = D.TakeAnswer(TSimDialog::Save, o.Title);
    std::optional<std::string> name = a.Name;
    // A name typed without an extension gets the default one, as the platform's dialog does.
    if (name && !o.DefaultExtension.empty()) {
      const std::size_t slash = name->find_last_of('/');
      const std::string base = slash == std::string::npos ? *name : name->substr(slash + 1);
      if (base.find('.') == std::string::npos) *name += "." + o.DefaultExtension;
    }
    D.Record(TSimCall{D.FNow, "SaveDialog", name.value_or(""), o.Title, 0, name ? 1 : 0,
                      o.InitialDir + "|" + o.Filter + "|" + o.DefaultExtension + "|" +
                          std::to_string(o.FilterIndex)});
    return name;
  }
  TSimDesktop& D;
};

class TSimDesktop::TTrayImpl : public TTrayIcon {
 public:
  explicit TTrayImpl(TSimDesktop& d) : D(d) {}
  bool Add(const std::string& tip) override {
    D.Record(TSimCall{D.FNow, "TrayAdd", tip, "", 0, D.FConfig.NotificationArea, ""});
    if (!D.FConfig.NotificationArea) return false;
    FPresent = true;
    return true;
  }
  void Remove() override {
    D.Record(TSimCall{D.FNow, "TrayRemove", "", "", 0, 0, ""});
    FPresent = false;
  }
  bool Present() const override { return FPresent; }
  int PopupMenu(int x, int y, const std::vector<std::string>& items) override {
    std::string list;
    for (const std::string& i : items) list += (list.empty() ? "" : "|") + i;
    const int chosen = D.TakeAnswer(TSimDialog::Menu, list).Value;
    D.Record(TSimCall{D.FNow, "PopupMenu", list, "", 0, chosen,
                      std::to_string(x) + "," + std::to_string(y)});
    return chosen;
  }
  // Called for every frame: only a change of state or output is recorded.
  void ShowRecording(bool recording, const std::string& tip, const std::string& output) override {
    if (recording != FRecording || output != FOutput) {
      D.Record(TSimCall{D.FNow, "TrayRecording", tip, "", 0, recording ? 1 : 0, output});
    }
    FRecording = recording;
    FTip = recording ? tip : "";
    FOutput = recording ? output : "";
  }
  TSimDesktop& D;
  bool FPresent = false;
  bool FRecording = false;
  std::string FTip, FOutput;
};

class TSimDesktop::THotKeysImpl : public THotKeys {
 public:
  explicit THotKeysImpl(TSimDesktop& d) : D(d) {}
  std::uint16_t AddAtom(const std::string&) override { return FNextAtom++; }
  void DeleteAtom(std::uint16_t) override {}
  bool Register(std::uint16_t id, std::uint32_t modifiers, std::uint32_t key) override {
    D.Record(TSimCall{D.FNow, "HotKeyRegister", "", "", modifiers, id, std::to_string(key)});
    for (const THotKeyChoice& held : D.FConfig.HeldHotKeys) {
      if (held.Modifiers == modifiers && held.Key == key) return false;
    }
    Forget(id);
    FRegistered[{modifiers, key}] = id;
    return true;
  }
  void Unregister(std::uint16_t id) override {
    D.Record(TSimCall{D.FNow, "HotKeyUnregister", "", "", 0, id, ""});
    Forget(id);
  }
  // The identifier registered for the combination named (Ctrl+Alt+S when empty).
  std::optional<std::uint16_t> Pressed(const std::string& name) const {
    THotKeyChoice key;
    if (!name.empty()) {
      const std::optional<THotKeyChoice> parsed = ParseHotKey(name);
      if (!parsed) throw TSimScriptError{"the script presses \"" + name + "\", not a hot key"};
      key = *parsed;
    }
    auto it = FRegistered.find({key.Modifiers, key.Key});
    if (it == FRegistered.end()) return std::nullopt;
    return it->second;
  }
  TSimDesktop& D;
  std::uint16_t FNextAtom = 0xC000;

 private:
  void Forget(std::uint16_t id) {
    std::erase_if(FRegistered, [id](const auto& entry) { return entry.second == id; });
  }
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint16_t> FRegistered;
};

class TSimDesktop::TDesktopImpl : public TDesktop {
 public:
  explicit TDesktopImpl(TSimDesktop& d) : D(d) {}
  TScreenRect DesktopRect() override { return {0, 0, D.FConfig.Width, D.FConfig.Height}; }
  TWindowHandle ForegroundWindow() override { return D.FForeground; }
  bool IsWindowVisible(TWindowHandle h) override {
    const TWindowState* w = D.Find(h);
    return w != nullptr && w->Spec.Visible;
  }
  bool IsMinimised(TWindowHandle h) override {
    const TWindowState* w = D.Find(h);
    return w != nullptr && w->Minimised;
  }
  bool IsMaximised(TWindowHandle h) override {
    const TWindowState* w = D.Find(h);
    return w != nullptr && w->Maximised;
  }
  std::optional<TScreenRect> WindowRect(TWindowHandle h) override {
    const TWindowState* w = D.Find(h);
    if (w == nullptr) return std::nullopt;
    return w->Spec.Rect;
  }
  TSimDesktop& D;
};

class TSimDesktop::TCaptureImpl : public TCaptureSource {
 public:
  explicit TCaptureImpl(TSimDesktop& d) : D(d) {}
  bool Capture(TWindowHandle window, const TScreenRect& rect, TDIBitmap& frame,
               TDamage& damage) override {
    return D.CaptureInto(window, rect, frame, damage);
  }
  TSimDesktop& D;
};

class TSimDesktop::TCursorImpl : public TCursorSource {
 public:
  explicit TCursorImpl(TSimDesktop& d) : D(d) {}
  bool GetCursor(TCursorInfo& info) override {
    info.Showing = D.FCursorShowing;
    D.CursorAt(info.X, info.Y);
    info.HotX = kSimCursorHotX;
    info.HotY = kSimCursorHotY;
    info.Picture = SimCursorPicture();
    return true;
  }
  TSimDesktop& D;
};

class TSimDesktop::TRegionPickerImpl : public TRegionPicker {
 public:
  explicit TRegionPickerImpl(TSimDesktop& d) : D(d) {}
  // The rectangle scripted is given as it is, off the screen or not, so the recorder's own
  // checks can be tried; an empty one is a drag too small, which a picker never returns.
  std::optional<TScreenRect> PickRegion() override {
    D.TakeAnswer(TSimDialog::Region, "");
    std::optional<TScreenRect> region;
    if (!D.FRegions.empty()) {  // an answer given without AnswerRegion is Escape
      region = D.FRegions.front();
      D.FRegions.pop_front();
    }
    if (region && (region->Width() <= 0 || region->Height() <= 0)) region.reset();
    D.Record(TSimCall{D.FNow, "RegionPicker", "", "", 0, region ? 1 : 0,
                      region ? RectText(*region) : ""});
    return region;
  }
  TSimDesktop& D;
};

class TSimDesktop::TCountdownImpl : public TCountdown {
 public:
  explicit TCountdownImpl(TSimDesktop& d) : D(d) {}
  bool Run(int seconds) override {
    if (seconds <= 0) return true;
    const std::uint64_t full = static_cast<std::uint64_t>(seconds) * 1000;
    const std::optional<TSimAnswer> a = D.TakeAnswerIfAny(TSimDialog::Countdown);
    const bool ranOut = !a || a->Value != 0;
    const std::uint64_t start = D.FNow;
    // The desktop goes on meanwhile: scripted actions happen at their times.
    D.AdvanceTo(start + (ranOut ? full : std::min<std::uint64_t>(a->DelayMs, full)));
    D.Record(TSimCall{start, "Countdown", "", "", 0, ranOut ? 1 : 0, std::to_string(seconds)});
    return ranOut;
  }
  TSimDesktop& D;
};

class TSimDesktop::TSettingsImpl : public TSettings {
 public:
  explicit TSettingsImpl(TSimDesktop& d) : D(d) {}
  std::optional<std::string> Get(const std::string& key) override {
    auto it = D.FSettings.find(key);
    if (it == D.FSettings.end()) return std::nullopt;
    return it->second;
  }
  void Set(const std::string& key, const std::string& value) override { D.FSettings[key] = value; }
  TSimDesktop& D;
};

class TSimDesktop::THotKeyDialogImpl : public THotKeyDialog {
 public:
  explicit THotKeyDialogImpl(TSimDesktop& d) : D(d) {}
  std::optional<THotKeyChoice> Choose(const THotKeyChoice& current,
                                      THotKeyProblem problem) override {
    const TSimAnswer a = D.TakeAnswer(TSimDialog::HotKey, current.Name);
    std::optional<THotKeyChoice> chosen;
    if (a.Name) {
      chosen = ParseHotKey(*a.Name);
      // The real dialog only lets a whole combination be accepted.
      if (!chosen) throw TSimScriptError{"the script picks \"" + *a.Name + "\", not a hot key"};
    }
    D.Record(TSimCall{D.FNow, "HotKeyDialog", current.Name, "", 0, chosen ? 1 : 0,
                      std::string(problem == THotKeyProblem::Taken ? "Taken" : "Asked") + "|" +
                          (chosen ? chosen->Name : "")});
    return chosen;
  }
  TSimDesktop& D;
};

// ---- the desktop ----

TSimDesktop::TSimDesktop(TSimConfig config) : FConfig(std::move(config)) {
  FCursorShowing = FConfig.CursorShowing;
  TWindowHandle next = 1;
  for (const TSimWindowSpec& spec : FConfig.Windows) {
    auto w = std::make_unique<TWindowState>();
    w->Handle = next++;
    w->Spec = spec;
    w->RestoreRect = spec.Rect;
    FWindows.push_back(std::move(w));
  }
  if (!FWindows.empty()) FForeground = FWindows.back()->Handle;
  FWallpaper.resize(static_cast<std::size_t>(FConfig.Width) * FConfig.Height * 4);
  for (std::int32_t y = 0; y < FConfig.Height; ++y) {
    for (std::int32_t x = 0; x < FConfig.Width; ++x) {
      const std::uint32_t r = 40 + (x / 32 % 2) * 20, g = 60 + (y * 120 / FConfig.Height);
      Put(&FWallpaper[(static_cast<std::size_t>(y) * FConfig.Width + x) * 4],
          (r << 16) | (g << 8) | 140);
    }
  }
  FClock = std::make_unique<TClockImpl>(*this);
  FApplication = std::make_unique<TApplicationImpl>(*this);
  FInstance = std::make_unique<TInstanceImpl>(*this);
  FToolWindow = std::make_unique<TViewImpl>(*this, "ToolWindow");
  FPausedDialog = std::make_unique<TViewImpl>(*this, "PausedDialog");
  FMessageBoxes = std::make_unique<TMessageBoxesImpl>(*this);
  FSaveDialog = std::make_unique<TSaveDialogImpl>(*this);
  FTray = std::make_unique<TTrayImpl>(*this);
  FHotKeys = std::make_unique<THotKeysImpl>(*this);
  FDesktop = std::make_unique<TDesktopImpl>(*this);
  FCaptureSource = std::make_unique<TCaptureImpl>(*this);
  FCursor = std::make_unique<TCursorImpl>(*this);
  FRegionPicker = std::make_unique<TRegionPickerImpl>(*this);
  FCountdown = std::make_unique<TCountdownImpl>(*this);
  FSettingsImpl = std::make_unique<TSettingsImpl>(*this);
  FHotKeyDialog = std::make_unique<THotKeyDialogImpl>(*this);
  FSound = std::make_unique<TSimToneSource>(
      FConfig.Tone, [this] { return FNow; }, FConfig.StartTick);
  FPlatform = TPlatform{FClock.get(),
                        FApplication.get(),
                        FInstance.get(),
                        FToolWindow.get(),
                        FPausedDialog.get(),
                        FMessageBoxes.get(),
                        FSaveDialog.get(),
                        FTray.get(),
                        FHotKeys.get(),
                        FDesktop.get(),
                        FCaptureSource.get(),
                        FCursor.get(),
                        nullptr,
                        FRegionPicker.get(),
                        FCountdown.get(),
                        FSettingsImpl.get(),
                        FHotKeyDialog.get(),
                        FSound.get()};
}

TSimDesktop::~TSimDesktop() = default;

const std::string& TSimDesktop::TrayTip() const {
  return FTray->FTip;
}

const std::string& TSimDesktop::TrayOutput() const {
  return FTray->FOutput;
}

std::string TSimDesktop::ToolValue(const std::string& component) const {
  return FToolWindow->ComponentValue(component);
}

bool TSimDesktop::ToolEnabled(const std::string& component) const {
  return FToolWindow->ComponentEnabled(component);
}

std::string TSimDesktop::ToolTip(const std::string& component) const {
  auto it = FToolWindow->FTips.find(component);
  return it == FToolWindow->FTips.end() ? std::string() : it->second;
}

void TSimDesktop::Add(TSimAction action) {
  FScript.emplace(action.AtMs, std::move(action));
}

void TSimDesktop::Answer(TSimDialog dialog, TSimAnswer answer) {
  FAnswers[dialog].push_back(std::move(answer));
}

void TSimDesktop::AnswerRegion(std::optional<TScreenRect> region, std::uint32_t delayMs) {
  Answer(TSimDialog::Region, TSimAnswer{0, std::nullopt, delayMs});
  FRegions.push_back(region);
}

std::vector<TSimCall> TSimDesktop::CallsOf(const std::string& what) const {
  std::vector<TSimCall> out;
  for (const TSimCall& c : FCalls) {
    if (c.What == what) out.push_back(c);
  }
  return out;
}

std::vector<std::string> TSimDesktop::MessageTexts() const {
  std::vector<std::string> out;
  for (const TSimCall& c : CallsOf("MessageBox")) out.push_back(c.Text);
  return out;
}

TWindowHandle TSimDesktop::WindowByTitle(const std::string& title) const {
  for (const auto& w : FWindows) {
    if (w->Spec.Title == title) return w->Handle;
  }
  return 0;
}

void TSimDesktop::Record(TSimCall call) {
  FCalls.push_back(std::move(call));
}

TSimDesktop::TWindowState* TSimDesktop::Find(TWindowHandle handle) {
  for (auto& w : FWindows) {
    if (w->Handle == handle && w->Exists) return w.get();
  }
  return nullptr;
}

void TSimDesktop::AdvanceTo(std::uint64_t ms) {
  if (FConfig.TimeLimitMs != 0 && ms >= FConfig.TimeLimitMs) {
    throw TSimScriptError{"the script ran past its time limit of " +
                          std::to_string(FConfig.TimeLimitMs) + " ms"};
  }
  while (!FScript.empty() && FScript.begin()->first <= ms) {
    const TSimAction action = FScript.begin()->second;
    FScript.erase(FScript.begin());
    FNow = std::max(FNow, action.AtMs);
    Apply(action);
  }
  FNow = std::max(FNow, ms);
}

void TSimDesktop::Apply(const TSimAction& a) {
  TWindowState* w = Find(a.Window);
  auto raise = [&] {
    auto it =
        std::find_if(FWindows.begin(), FWindows.end(), [&](const auto& p) { return p.get() == w; });
    std::rotate(it, it + 1, FWindows.end());
    FForeground = w->Handle;
  };
  switch (a.Kind) {
    case TSimActionKind::Click:
      if (IsRadio(a.Target)) FToolWindow->SetChecked(a.Target, true);
      FPending.push_back(TUIEvent{TUIEventKind::Click, a.Target, 0});
      return;
    case TSimActionKind::HotKey:
      if (const std::optional<std::uint16_t> id = FHotKeys->Pressed(a.Target)) {
        FPending.push_back(TUIEvent{TUIEventKind::HotKey, "", *id});
      }
      return;
    case TSimActionKind::TrayDoubleClick:
    case TSimActionKind::TrayRightClick:
      if (FTray->FPresent) {
        FPending.push_back(TUIEvent{TUIEventKind::TrayNotify, "",
                                    a.Kind == TSimActionKind::TrayDoubleClick
                                        ? kTrayLeftDoubleClick
                                        : kTrayRightButtonDown});
      }
      return;
    case TSimActionKind::CloseToolWindow:
      FPending.push_back(TUIEvent{TUIEventKind::Close, "", 0});
      return;
    case TSimActionKind::DestroyToolWindow:
      FPending.push_back(TUIEvent{TUIEventKind::Destroy, "", 0});
      return;
    case TSimActionKind::SetValue: {
      const std::size_t equals = a.Target.find('=');
      if (equals == std::string::npos) {
        throw TSimScriptError{"SetValue wants \"Component=value\", not \"" + a.Target + "\""};
      }
      const std::string component = a.Target.substr(0, equals);
      if (!FToolWindow->ComponentEnabled(component)) return;
      FToolWindow->SetComponentValue(component, a.Target.substr(equals + 1));
      FPending.push_back(TUIEvent{TUIEventKind::Click, component, 0});
      return;
    }
    case TSimActionKind::StopRequest:
      FPending.push_back(TUIEvent{TUIEventKind::StopRequest, "", a.Param});
      return;
    case TSimActionKind::Paint:
      FPaint.emplace_back(a.Rect, static_cast<std::uint32_t>(a.Param));
      return;
    case TSimActionKind::CursorShow:
      FCursorShowing = a.Param != 0;
      return;
    case TSimActionKind::Freeze:
      if (a.Param != 0 && !FFrozenAt) FFrozenAt = FNow;
      if (a.Param == 0) FFrozenAt.reset();
      return;
    default:
      break;
  }
  if (w == nullptr) return;
  switch (a.Kind) {
    case TSimActionKind::Activate:
      raise();
      break;
    case TSimActionKind::Minimise:
      w->Minimised = true;
      if (FForeground == w->Handle) FForeground = 0;
      break;
    case TSimActionKind::Restore:
      w->Minimised = false;
      if (w->Maximised) w->Spec.Rect = w->RestoreRect;
      w->Maximised = false;
      raise();
      break;
    case TSimActionKind::Maximise:
      if (!w->Maximised) w->RestoreRect = w->Spec.Rect;
      w->Maximised = true;
      w->Minimised = false;
      w->Spec.Rect = TScreenRect{0, 0, FConfig.Width, FConfig.Height};
      raise();
      break;
    case TSimActionKind::Hide:
      w->Spec.Visible = false;
      break;
    case TSimActionKind::Show:
      w->Spec.Visible = true;
      break;
    case TSimActionKind::CloseWindow:
      w->Exists = false;
      if (FForeground == w->Handle) FForeground = 0;
      break;
    case TSimActionKind::MoveWindow:
      w->Spec.Rect = TScreenRect{a.Rect.Left, a.Rect.Top, a.Rect.Left + w->Spec.Rect.Width(),
                                 a.Rect.Top + w->Spec.Rect.Height()};
      break;
    case TSimActionKind::ResizeWindow:
      w->Spec.Rect = a.Rect;
      break;
    default:
      break;
  }
}

bool TSimDesktop::DeliverOne() {
  if (FPending.empty()) return false;
  const TUIEvent e = FPending.front();
  FPending.pop_front();
  if (FApplication->Handler) FApplication->Handler(e);
  return true;
}

void TSimDesktop::DeliverDue() {
  // Events that arrive while a handler runs (nested) are delivered by the nested loops.
  while (DeliverOne()) {
  }
}

TSimAnswer TSimDesktop::TakeAnswer(TSimDialog dialog, const std::string& text) {
  std::deque<TSimAnswer>& queue = FAnswers[dialog];
  TSimAnswer a;
  if (!queue.empty()) {
    a = queue.front();
    queue.pop_front();
  } else if (auto d = DefaultAnswer ? DefaultAnswer(dialog, text) : std::nullopt) {
    a = *d;
  } else {
    static const char* const kNames[] = {"paused dialog", "question",       "save dialog", "menu",
                                         "region picker", "hot key dialog", "countdown"};
    throw TSimScriptError{std::string("the script has no answer for the ") +
                          kNames[static_cast<int>(dialog)] + " (\"" + text + "\")"};
  }
  AdvanceTo(FNow + a.DelayMs);
  return a;
}

std::optional<TSimAnswer> TSimDesktop::TakeAnswerIfAny(TSimDialog dialog) {
  std::deque<TSimAnswer>& queue = FAnswers[dialog];
  if (queue.empty()) return std::nullopt;
  TSimAnswer a = queue.front();
  queue.pop_front();
  return a;
}

std::uint64_t TSimDesktop::ContentTime() const {
  return FFrozenAt ? *FFrozenAt : FNow;
}

void TSimDesktop::CursorAt(std::int32_t& x, std::int32_t& y) const {
  const auto& path = FConfig.CursorPath;
  if (path.size() < 2 || FConfig.CursorStepMs == 0) {
    x = path.empty() ? 0 : path[0].first;
    y = path.empty() ? 0 : path[0].second;
    return;
  }
  const std::uint64_t t = ContentTime();
  const std::size_t leg = (t / FConfig.CursorStepMs) % path.size();
  const std::int64_t f = static_cast<std::int64_t>(t % FConfig.CursorStepMs);
  const auto& a = path[leg];
  const auto& b = path[(leg + 1) % path.size()];
  const std::int64_t step = FConfig.CursorStepMs;
  x = static_cast<std::int32_t>(a.first + (b.first - a.first) * f / step);
  y = static_cast<std::int32_t>(a.second + (b.second - a.second) * f / step);
}

namespace {

// A 5 x 8 glyph of random bits for a character number.
bool GlyphBit(std::uint32_t character, std::int32_t gx, std::int32_t gy) {
  if (gx >= 5 || gy < 2 || gy >= 10) return false;
  return (Mix(character * 2654435761U) >> ((gy - 2) * 5 + gx) % 32) & 1;
}

std::uint32_t ClientPixel(TSimContent content, std::uint32_t seed, std::int32_t cx, std::int32_t cy,
                          std::int32_t clientW, std::int32_t clientH, std::uint64_t t) {
  switch (content) {
    case TSimContent::Still:
      return 0xF0F0F0;
    case TSimContent::Typing: {
      const std::int32_t cols = std::max(1, clientW / 6), rows = std::max(1, clientH / 12);
      const std::uint64_t typed = t / 100;
      const std::uint64_t lines = typed / cols + 1;
      const std::uint64_t first = lines > static_cast<std::uint64_t>(rows) ? lines - rows : 0;
      const std::uint64_t i = (first + cy / 12) * cols + cx / 6;
      if (i < typed && GlyphBit(static_cast<std::uint32_t>(i) ^ seed, cx % 6, cy % 12)) return 0;
      return 0xFFFFFF;
    }
    case TSimContent::Scrolling: {
      const std::uint64_t offset = t / 500 * 12;
      const std::uint32_t line = static_cast<std::uint32_t>((cy + offset) / 12);
      const std::int32_t length = static_cast<std::int32_t>(Mix(line ^ seed) % 60);
      if (cx / 6 < length && GlyphBit(line * 131 + cx / 6, cx % 6, (cy + offset) % 12)) {
        return 0x33FF33;
      }
      return 0x000000;
    }
    case TSimContent::Video: {
      const std::uint32_t frame = static_cast<std::uint32_t>(t / 83);
      const std::uint32_t h = Mix((cx / 8) * 73856093U ^ (cy / 8) * 19349663U ^ frame * 83492791U);
      return h & 0xFFFFFF;
    }
  }
  return 0;
}

}  // namespace

void TSimDesktop::DrawWindow(const TWindowState& w, const TScreenRect& target,
                             std::vector<std::uint8_t>& bgrx) {
  const TScreenRect r = w.Spec.Rect;
  const TScreenRect area = Clip(r, target);
  const std::int32_t clientW = r.Width() - 2 * kBorder, clientH = r.Height() - kBorder - kCaption;
  const std::uint64_t t = ContentTime();
  const std::uint32_t caption = FForeground == w.Handle ? 0x000080 : 0x808080;
  for (std::int32_t y = area.Top; y < area.Bottom; ++y) {
    std::uint8_t* row = &bgrx[(static_cast<std::size_t>(y - target.Top) * target.Width() +
                               (area.Left - target.Left)) *
                              4];
    for (std::int32_t x = area.Left; x < area.Right; ++x, row += 4) {
      const std::int32_t wx = x - r.Left, wy = y - r.Top;
      std::uint32_t c;
      if (wx < kBorder || wy < kBorder || wx >= r.Width() - kBorder || wy >= r.Height() - kBorder) {
        c = 0xC0C0C0;
      } else if (wy < kCaption) {
        const std::int32_t tx = wx - kBorder - 4;
        const bool letter =
            tx >= 0 && tx / 6 < static_cast<std::int32_t>(w.Spec.Title.size()) &&
            GlyphBit(static_cast<unsigned char>(w.Spec.Title[tx / 6]), tx % 6, (wy - kBorder) % 12);
        c = letter ? 0xFFFFFF : caption;
      } else {
        c = ClientPixel(w.Spec.Content, static_cast<std::uint32_t>(w.Handle), wx - kBorder,
                        wy - kCaption, clientW, clientH, t);
      }
      Put(row, c);
    }
  }
}

void TSimDesktop::RenderBgrx(TWindowHandle window, const TScreenRect& rect,
                             std::vector<std::uint8_t>& bgrx) {
  bgrx.assign(static_cast<std::size_t>(rect.Width()) * rect.Height() * 4, 0);
  if (window != 0) {
    if (const TWindowState* w = Find(window)) DrawWindow(*w, rect, bgrx);
    return;
  }
  const TScreenRect screen{0, 0, FConfig.Width, FConfig.Height};
  const TScreenRect area = Clip(rect, screen);
  for (std::int32_t y = area.Top; y < area.Bottom; ++y) {
    std::memcpy(
        &bgrx[(static_cast<std::size_t>(y - rect.Top) * rect.Width() + (area.Left - rect.Left)) *
              4],
        &FWallpaper[(static_cast<std::size_t>(y) * FConfig.Width + area.Left) * 4],
        static_cast<std::size_t>(area.Width()) * 4);
  }
  for (const auto& [r, colour] : FPaint) {
    const TScreenRect p = Clip(r, rect);
    for (std::int32_t y = p.Top; y < p.Bottom; ++y) {
      for (std::int32_t x = p.Left; x < p.Right; ++x) {
        Put(&bgrx[(static_cast<std::size_t>(y - rect.Top) * rect.Width() + (x - rect.Left)) * 4],
            colour);
      }
    }
  }
  for (const auto& w : FWindows) {
    if (w->Exists && w->Spec.Visible && !w->Minimised) DrawWindow(*w, rect, bgrx);
  }
}

namespace {

// Rows compared together when the damage is worked out: the changed columns of each band
// become one rectangle.
constexpr std::int32_t kDamageBand = 8;

// The first and one past the last pixel where two rows of 32-bit pixels differ; first == end
// when they do not.
void DifferingPixels(const std::uint8_t* a, const std::uint8_t* b, std::int32_t width,
                     std::int32_t& first, std::int32_t& end) {
  first = 0;
  end = 0;
  const std::size_t bytes = static_cast<std::size_t>(width) * 4;
  if (std::memcmp(a, b, bytes) == 0) return;
  while (first < width && std::memcmp(a + 4 * first, b + 4 * first, 4) == 0) ++first;
  end = width;
  while (end > first && std::memcmp(a + 4 * (end - 1), b + 4 * (end - 1), 4) == 0) --end;
}

}  // namespace

bool TSimDesktop::CaptureInto(TWindowHandle window, const TScreenRect& rect, TDIBitmap& frame,
                              TDamage& damage) {
  damage.Clear();
  if (window != 0 && Find(window) == nullptr) return false;
  if (rect.Width() <= 0 || rect.Height() <= 0 || rect.Width() > TDIBitmap::kMaxDimension ||
      rect.Height() > TDIBitmap::kMaxDimension) {
    return false;
  }
  AdvanceTo(FNow + FConfig.GrabCostMs);
  const bool sameTarget =
      FLastCapture && FLastCapture->first == window && FLastCapture->second == rect;
  // A frame of another size, or one that followed another target, holds nothing to build on.
  const bool kept = PrepareFrame(frame, rect.Width(), rect.Height()) && sameTarget;
  FLastCapture.emplace(window, rect);
  // The desktop draws everything anew and knows exactly what it drew: the damage is what
  // differs from the frame the recorder holds.
  RenderBgrx(window, rect, FRendered);
  const std::int32_t w = rect.Width(), h = rect.Height();
  const std::size_t rowBytes = static_cast<std::size_t>(w) * 4;
  if (!kept) damage.SetAll();
  for (std::int32_t top = 0; top < h; top += kDamageBand) {
    const std::int32_t bottom = std::min(h, top + kDamageBand);
    std::int32_t left = w, right = 0;
    for (std::int32_t y = top; y < bottom; ++y) {
      const std::uint8_t* drawn = &FRendered[static_cast<std::size_t>(y) * rowBytes];
      std::uint8_t* kept = frame.Scanline(y);
      if (kept) {
        std::int32_t first, end;
        DifferingPixels(drawn, kept, w, first, end);
        if (first >= end) continue;
        left = std::min(left, first);
        right = std::max(right, end);
      }
      std::memcpy(kept, drawn, rowBytes);
    }
    if (left < right) damage.Add({left, top, right, bottom});
  }
  if (OnGrab) OnGrab(TSimGrabRecord{FNow, window, rect});
  return true;
}

std::vector<std::uint8_t> TSimDesktop::Compose(TWindowHandle window, const TScreenRect& rect,
                                               bool withCursor) {
  std::vector<std::uint8_t> bgrx;
  RenderBgrx(window, rect, bgrx);
  const std::int32_t w = rect.Width(), h = rect.Height();
  std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h);
  MapRow(bgrx.data(), out.data(), out.size());
  if (!withCursor || !FCursorShowing) return out;
  std::int32_t cx, cy;
  CursorAt(cx, cy);
  const TDIBitmap& pic = SimCursorPicture();
  for (std::int32_t py = 0; py < pic.Rows(); ++py) {
    const std::uint8_t* src = pic.Scanline(py);
    for (std::int32_t px = 0; px < pic.Width; ++px, src += 4) {
      const std::int32_t x = cx - kSimCursorHotX - rect.Left + px;
      const std::int32_t y = cy - kSimCursorHotY - rect.Top + py;
      if (src[3] < 128 || x < 0 || y < 0 || x >= w || y >= h) continue;
      out[static_cast<std::size_t>(y) * w + x] = NearestIndex(src[2], src[1], src[0]);
    }
  }
  return out;
}

const TDIBitmap& SimCursorPicture() {
  static const TDIBitmap picture = [] {
    // An arrow: '#' outline, '.' fill, ' ' clear.
    static const char* const kRows[19] = {
        "#           ", "##          ", "#.#         ", "#..#        ", "#...#       ",
        "#....#      ", "#.....#     ", "#......#    ", "#.......#   ", "#........#  ",
        "#.........# ", "#......#####", "#...#..#    ", "#..# #..#   ", "#.#  #..#   ",
        "##    #..#  ", "#     #..#  ", "       ##   ", "            "};
    TDIBitmap b;
    b.Allocate(12, -19, 32);
    for (int y = 0; y < 19; ++y) {
      for (int x = 0; x < 12; ++x) {
        std::uint8_t* p = b.Scanline(y) + x * 4;
        const char c = kRows[y][x];
        const std::uint8_t v = c == '.' ? 255 : 0;
        p[0] = p[1] = p[2] = v;
        p[3] = c == ' ' ? 0 : 255;
      }
    }
    return b;
  }();
  return picture;
}

TSimConfig DemoDesktop(std::int32_t width, std::int32_t height) {
  TSimConfig c;
  c.Width = width;
  c.Height = height;
  const std::int32_t w = width, h = height;
  c.Windows = {
      {"Editor", {w / 16, h / 12, w / 16 + w / 2, h / 12 + h / 2}, TSimContent::Typing, true},
      {"Terminal", {w / 2, h / 3, w / 2 + w * 2 / 5, h / 3 + h / 2}, TSimContent::Scrolling, true},
      {"Video", {w / 5, h * 3 / 5, w / 5 + w / 4, h * 3 / 5 + h / 4}, TSimContent::Video, true},
  };
  c.CursorPath = {{w / 10, h / 10}, {w * 3 / 4, h / 5}, {w * 2 / 3, h * 4 / 5}, {w / 6, h * 2 / 3}};
  c.CursorStepMs = 1500;
  // The sound heard: a tone with a tenth of a second of silence every two seconds, so that a
  // recording's sync can be measured by ear or by program.
  c.Tone.Markers = {{2000, 100}};
  c.Tone.RepeatMs = 2000;
  return c;
}

}  // namespace kestrova::platform::sim
