// Recording commands: `kestrova record`, `kestrova recover`, and the tool-window program that
// runs when kestrova is started without arguments.
#include "app/RecordCommands.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <thread>

#include "app/Commands.h"
#include "app/Progress.h"
#include "app/RecordOptions.h"
#include "platform/HotKeyName.h"
#include "platform/PosixFiles.h"
#include "platform/Registry.h"
#include "platform/sim/SimBackend.h"
#include "recorder/FlashSegmentMovie.h"
#include "recorder/Output.h"
#include "recorder/Recorder.h"
#include "recorder/RecordingFolder.h"
#include "recorder/Session.h"
#ifdef _WIN32
#include "platform/win32/Win32Files.h"
#endif

namespace kestrova {

namespace {

using namespace platform;

volatile std::sig_atomic_t GStopSignal = 0;

extern "C" void OnStopSignal(int number) {
  GStopSignal = 1;
  // A second one ends the program at once.
  std::signal(number, SIG_DFL);
}

// Ctrl+C and SIGTERM stop the recording the way the user would, and save it.
class TStopSignals {
 public:
  TStopSignals() {
    GStopSignal = 0;
    FOldInt = std::signal(SIGINT, OnStopSignal);
    FOldTerm = std::signal(SIGTERM, OnStopSignal);
  }
  ~TStopSignals() {
    std::signal(SIGINT, FOldInt);
    std::signal(SIGTERM, FOldTerm);
  }

 private:
  void (*FOldInt)(int) = SIG_DFL;
  void (*FOldTerm)(int) = SIG_DFL;
};

std::unique_ptr<TPlatformBackend> OpenOrReport(const std::string& name, const char* command,
                                               std::ostream& err) {
  try {
    return OpenBackend(name);
  } catch (const std::exception& e) {
    err << "kestrova " << command << ": " << e.what() << "\n";
    return nullptr;
  }
}

// Runs the recorder until it ends the program; returns the exit status it ended with.
int RunRecorder(TFrmImage& form) {
  try {
    form.Run();
  } catch (const TProcessHalted& halted) {
    return halted.ExitCode;
  }
}

}  // namespace

int RecordCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  return RecordCommand(args, out, err, FlashSegmentMovieFactory());
}

namespace {

// `record`'s side of the session: it stops when the seconds are up, on Ctrl+C, SIGTERM or the
// hot key, and on a failed write or a closed window it saves what was recorded under the name
// given. Whatever the tool window would show in a message box is said on err.
class TCommandLineUser : public TSessionObserver {
 public:
  TCommandLineUser(TPlatform& platform, TRecordingSession& session, const std::string& output,
                   std::optional<std::uint32_t> seconds, TProgress& progress, std::ostream& err,
                   std::string hotKeyName)
      : FHotKeyName(std::move(hotKeyName)),
        P(platform),
        S(session),
        FOutput(output),
        FSeconds(seconds),
        FProgress(progress),
        FErr(err) {}
  bool HotKeyPressed = false;
  bool StopAsked = false;  // kestrova stop

  void Pump() override {
    P.Application->ProcessMessages();
    const bool due = FSeconds && FRecordedMs >= *FSeconds * 1000ull;
    if (due || GStopSignal != 0 || HotKeyPressed || StopAsked) S.Stop(FOutput);
  }
  void Tick(std::uint32_t recordedMs) override {
    FRecordedMs = recordedMs;
    P.Tray->ShowRecording(true, RecordingTip(recordedMs, FHotKeyName));
    if (FSeconds) FProgress.Update(recordedMs / 1000, Figures());
  }
  void TargetWindowGone() override {
    FErr << "kestrova: " << kMsgCaptureWindowClosed << " What was recorded is saved.\n";
    S.Stop(FOutput);
  }
  std::optional<std::string> WriteFailed(const std::string& message, bool) override {
    FErr << "kestrova: " << message << "\n";
    return FOutput;
  }
  void Tell(const std::string& message, bool) override { FErr << "kestrova: " << message << "\n"; }
  void SegmentSaved(const TSegmentReport& r) override {
    FFrames += static_cast<std::uint64_t>(r.Frames);
    FBytes += r.FileBytes;
    FSegments = r.SegmentNumber;
    FProgress.Update(r.RecordedMs / 1000, Figures());
  }
  void Ended(const TSessionResult&) override {
    P.Tray->ShowRecording(false, kApplicationTitle);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s, ", FRecordedMs / 1000.0);
    FProgress.Finish("recording: " + std::string(seconds) + std::to_string(FSegments) +
                     " segments, " + std::to_string(FFrames) + " frames, " +
                     std::to_string(FBytes) + " bytes");
  }

 private:
  std::string Figures() const {
    return (FSeconds ? std::string() : std::string("s, ")) + std::to_string(FSegments) +
           " segments, " + std::to_string(FFrames) + " frames, " + std::to_string(FBytes) +
           " bytes";
  }
  std::string FHotKeyName;
  TPlatform& P;
  TRecordingSession& S;
  std::string FOutput;
  std::optional<std::uint32_t> FSeconds;
  TProgress& FProgress;
  std::ostream& FErr;
  std::uint32_t FRecordedMs = 0;
  std::uint64_t FFrames = 0, FBytes = 0;
  std::int32_t FSegments = 0;
};

// The single-instance name for the length of a command's recording.
class TInstanceHold {
 public:
  explicit TInstanceHold(TSingleInstance& instance) : FInstance(instance) {
    FHeld = instance.Acquire(kMutexName);
  }
  ~TInstanceHold() {
    if (FHeld) FInstance.Release();
  }
  bool Held() const { return FHeld; }

 private:
  TSingleInstance& FInstance;
  bool FHeld = false;
};

// What is recorded, as the user is told it ("the full screen").
std::string TargetText(const TRecordArgs& a) {
  std::string what;
  switch (a.Target) {
    case TRecordTarget::FullScreen:
      what = "the full screen";
      break;
    case TRecordTarget::ActiveWindow:
      what = "the active window";
      break;
    case TRecordTarget::Region:
      what = "the region " + std::to_string(a.Region.Width()) + "x" +
             std::to_string(a.Region.Height()) + " at " + std::to_string(a.Region.Left) + "," +
             std::to_string(a.Region.Top);
      break;
    case TRecordTarget::Window: {
      char id[32];
      std::snprintf(id, sizeof id, "0x%llx", static_cast<unsigned long long>(a.Window));
      what = std::string("window ") + id;
    } break;
  }
  return what;
}

std::string Describe(const TRecordArgs& a, const std::string& backend) {
  return "recording " + TargetText(a) + " of the \"" + backend + "\" desktop" +
         (a.Seconds ? " for " + std::to_string(*a.Seconds) + " s" : " until Ctrl+C");
}

// The target, once the countdown is over; none (with the reason said) when there is none.
std::optional<TCaptureTarget> PickTarget(const TRecordArgs& a, TPlatform& p, std::ostream& err) {
  switch (a.Target) {
    case TRecordTarget::FullScreen:
      return TCaptureTarget::FullScreen();
    case TRecordTarget::Region:
      return TCaptureTarget::OfRegion(a.Region);
    case TRecordTarget::Window:
      return TCaptureTarget::OfWindow(a.Window);
    case TRecordTarget::ActiveWindow:
      break;
  }
  // No window of ours is shown, so the desktop's active window is the user's.
  const TWindowHandle active = p.Desktop->ForegroundWindow();
  if (active == 0 || !p.Desktop->IsWindowVisible(active)) {
    err << "kestrova record: no window is active to record; activate one during --delay\n";
    return std::nullopt;
  }
  return TCaptureTarget::OfWindow(active);
}

}  // namespace

int RecordCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                  const TSegmentMovieFactory& movieFactory) {
  TRecordArgs a;
  std::string problem;
  if (!ParseRecordArgs(args, a, problem)) return UsageError("record", err, problem);
  std::unique_ptr<TPlatformBackend> backend = OpenOrReport(a.Platform, "record", err);
  if (!backend) return 1;
  TPlatform& p = backend->Platform();
  std::string output = a.Output;
  try {
    if (output.empty()) output = p.Files->DefaultOutputName();
    // As the save dialog does with a name typed without an extension.
    if (std::filesystem::path(output).filename().string().find('.') == std::string::npos) {
      output += ".swf";
    }
    output = std::filesystem::absolute(output).lexically_normal().string();
  } catch (const std::exception& e) {
    err << "kestrova record: " << e.what() << "\n";
    return 1;
  }
  const TInstanceHold instance(*p.Instance);
  if (!instance.Held()) {
    err << "kestrova record: " << AnotherInstanceText(p.Instance->Holder()) << "\n";
    return 1;
  }
  if (auto* sim = dynamic_cast<sim::TSimBackend*>(backend.get()); sim && !a.Seconds) {
    // Until Ctrl+C: the simulated desktop keeps pace with the real clock.
    sim->Desktop().SetRealTime(true);
  }
  err << "kestrova record: " << Describe(a, backend->Name()) << "\n";
  // A name given with -o is the user's word that the file there may go; said when it does.
  std::error_code existsError;
  const bool replacing = std::filesystem::exists(output, existsError);
  TStopSignals signals;
  // A countdown, so the terminal that started the recording can be put away first.
  for (std::uint32_t left = a.Delay; left > 0 && GStopSignal == 0; --left) {
    err << "kestrova record: starting in " << left << " s\n";
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  if (GStopSignal != 0) {
    err << "kestrova record: stopped before the recording started\n";
    return 1;
  }
  const std::optional<TCaptureTarget> target = PickTarget(a, p, err);
  if (!target) return 1;

  TSessionOptions options;
  options.MovieFactory = movieFactory;
  options.Diagnostics = &err;
  options.WebPlayerURL = a.WebPlayer;
  options.Colours = a.Colours;
  options.Sound = a.Sound;
  TRecordingSession session(p, options);
  TProgress progress(err, "recording", a.Seconds.value_or(0), a.Quiet);
  TCommandLineUser user(p, session, output, a.Seconds, progress, err, a.HotKey.Name);
  session.SetObserver(&user);
  // The hot key stops the recording too, as it would open the tool window's paused dialog.
  const std::uint16_t hotKey = p.HotKeys->AddAtom("Hotkey1");
  const bool hotKeyHeld = p.HotKeys->Register(hotKey, a.HotKey.Modifiers, a.HotKey.Key);
  if (!hotKeyHeld) {
    err << "kestrova record: " << a.HotKey.Name
        << " cannot be had (another program holds it); Ctrl+C stops the recording\n";
  }
  p.Application->SetEventHandler([&](const TUIEvent& e) {
    if (e.Kind == TUIEventKind::HotKey && e.Param == hotKey) user.HotKeyPressed = true;
    // kestrova stop: as Ctrl+C, answered once the movie is written.
    if (e.Kind == TUIEventKind::StopRequest) user.StopAsked = true;
  });
  p.Tray->Add(kApplicationTitle);
  const TSessionResult result = session.Start(*target);
  // Whoever asked to stop hears what became of the recording, whatever stopped it.
  if (user.StopAsked) {
    const bool saved = result.Saved && !session.LastOutput.Movies.empty();
    p.Instance->AnswerStop(
        {saved, "stopped the recording of " + TargetText(a) + "; " +
                    (saved ? "saved as " + session.LastOutput.Movies.front()
                           : "no movie was written" +
                                 (result.Problem.empty() ? "" : " (" + result.Problem + ")"))});
  }
  p.Tray->Remove();
  p.Application->SetEventHandler({});
  if (hotKeyHeld) p.HotKeys->Unregister(hotKey);
  p.HotKeys->DeleteAtom(hotKey);
  if (!result.Started) {
    err << "kestrova record: "
        << (result.TargetMissing ? "the window to record is not shown" : result.Problem) << "\n";
    return 1;
  }
  if (!result.Saved) {
    err << "kestrova record: no movie was written\n";
    return 1;
  }
  const TOutputResult& written = session.LastOutput;
  for (const std::string& m : written.Movies) {
    out << "wrote " << m << (m == output && replacing ? " (it replaced the file of that name)" : "")
        << "\n";
  }
  out << "wrote " << written.Page << " (" << written.Frames << " frames)\n";
  if (result.FramesLost == 0 && session.WriteFailure.empty()) return 0;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", result.FramesLost / 12.0);
  err << "kestrova record: " << seconds << " of the recording (" << result.FramesLost
      << " frames) were lost"
      << (session.WriteFailure.empty() ? std::string() : ": " + session.WriteFailure) << "\n";
  return 1;
}

namespace {

struct TRecordingListing {
  std::string Folder;
  std::size_t Segments = 0, Unfinished = 0;
  std::uintmax_t Bytes = 0;
  bool InProgress = false;
};

bool IsUnfinishedSegment(const std::string& name) {
  const std::string tail = std::string(".swf") + kBodyPartSuffix;
  return name.rfind("capture", 0) == 0 && name.size() > tail.size() &&
         name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
}

TRecordingListing DescribeRecording(const std::string& folder) {
  TRecordingListing r{folder, 0, 0, 0, FolderInUse(folder)};
  std::error_code ec;
  for (const std::string& s : ListSegmentFiles(folder)) {
    ++r.Segments;
    r.Bytes += std::filesystem::file_size(s, ec);
  }
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (!IsUnfinishedSegment(entry.path().filename().string())) continue;
    ++r.Unfinished;
    r.Bytes += std::filesystem::file_size(entry.path(), ec);
  }
  return r;
}

std::vector<TRecordingListing> ListRecordings(const std::string& stateFolder) {
  std::vector<TRecordingListing> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(stateFolder, ec)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_directory(ec) || entry.is_symlink(ec) ||
        name.rfind(kRecordingFolderPrefix, 0) != 0) {
      continue;
    }
    TRecordingListing r = DescribeRecording(entry.path().string());
    if (r.Segments + r.Unfinished == 0) continue;
    found.push_back(std::move(r));
  }
  // Folder names start with the date and time of the recording.
  std::sort(found.begin(), found.end(),
            [](const auto& x, const auto& y) { return x.Folder < y.Folder; });
  return found;
}

void PrintListing(const TRecordingListing& r, std::ostream& out) {
  out << "  " << std::filesystem::path(r.Folder).filename().string() << "  ";
  if (r.InProgress) {
    out << "in progress (being recorded now; left alone)\n";
    return;
  }
  out << r.Segments << " segments";
  if (r.Unfinished != 0) out << " and " << r.Unfinished << " unfinished";
  out << ", " << r.Bytes << " bytes\n";
}

// Joins the folder into output and removes what was joined. Returns the exit status.
int RecoverFolder(const std::string& folder, const std::string& output,
                  const std::string& webPlayer, std::ostream& out, std::ostream& err) {
  const TRecordingListing listing = DescribeRecording(folder);
  if (listing.Segments + listing.Unfinished == 0) {
    err << "kestrova recover: no segment files (captureN.swf) in " << folder << "\n";
    return 1;
  }
  // Held while recovering: a second recover is refused meanwhile, as a live recording's folder is.
  TPosixFileLocations files;
  const std::unique_ptr<TFolderLock> lock = files.LockFolder(folder);
  if (!lock && FolderInUse(folder)) {
    err << "kestrova recover: " << folder
        << " is in progress (a recording is being made there now); it is left alone\n";
    return 1;
  }
  if (IsInsideFolder(output, folder)) {
    err << "kestrova recover: the movie " << output << " would be inside the recording's folder "
        << folder << ", whose segments are removed once joined: choose another name\n";
    return 1;
  }
  TFolderJoin join;
  try {
    join = JoinRecordingFolder(folder, output, {}, 0, 0, {}, webPlayer);
  } catch (const std::exception& e) {
    err << "kestrova recover: " << e.what() << " (the segments are kept in " << folder << ")\n";
    return 1;
  }
  for (const std::string& w : join.Warnings) err << "kestrova recover: warning: " << w << "\n";
  const TOutputResult& r = join.Output;
  for (const std::string& m : r.Movies) out << "wrote " << m << "\n";
  out << "wrote " << r.Page << " (" << r.SegmentsJoined << " segments, " << r.Frames
      << " frames)\n";
  if (join.Kept.empty()) return 0;
  err << "kestrova recover: " << join.Kept.size() << " segments could not be read and are kept in "
      << folder << ":";
  for (const std::string& kept : join.Kept) {
    err << " " << std::filesystem::path(kept).filename().string();
  }
  err << "\n";
  return 1;
}

}  // namespace

int RecoverCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TRecoverArgs a;
  std::string problem;
  if (!ParseRecoverArgs(args, a, problem)) return UsageError("recover", err, problem);
  std::string folder = a.Folder, output = a.Output;
  const std::string& webPlayer = a.WebPlayer;
#ifdef _WIN32
  win32::TWin32FileLocations files;  // %LOCALAPPDATA%\Kestrova, movies to the Videos folder
#else
  TPosixFileLocations files;
#endif
  try {
    const std::string state = files.StateFolder();
    if (folder.empty()) {
      const std::vector<TRecordingListing> all = ListRecordings(state);
      const auto latest = std::find_if(all.rbegin(), all.rend(),
                                       [](const TRecordingListing& r) { return !r.InProgress; });
      if (all.empty() || latest == all.rend()) {
        out << "No unsaved recording in " << state << "\n";
        for (const TRecordingListing& r : all) PrintListing(r, out);
        return 0;
      }
      out << "Unsaved recordings in " << state << ":\n";
      for (const TRecordingListing& r : all) PrintListing(r, out);
      folder = latest->Folder;
      out << "Joining the latest one.\n";
    } else if (!std::filesystem::is_directory(folder) &&
               std::filesystem::is_directory(state + files.PathSeparator() + folder)) {
      folder = state + files.PathSeparator() + folder;
    }
    if (output.empty()) {
#ifdef _WIN32
      output = files.VideosFolder() + "\\Kestrova-" +
               std::filesystem::path(folder).filename().string() + ".swf";
#else
      output =
          files.Home() + "/Kestrova-" + std::filesystem::path(folder).filename().string() + ".swf";
#endif
    }
    return RecoverFolder(folder, output, webPlayer, out, err);
  } catch (const std::exception& e) {
    err << "kestrova recover: " << e.what() << "\n";
    return 1;
  }
}

int RunToolWindowProgram(std::ostream&, std::ostream& err) {
  std::unique_ptr<TPlatformBackend> backend = OpenOrReport("", "", err);
  if (!backend) return 1;
  TRecorderOptions options;
  options.MovieFactory = FlashSegmentMovieFactory();
  options.Diagnostics = &err;
  if (auto* sim = dynamic_cast<sim::TSimBackend*>(backend.get())) {
    std::string output;
    try {
      output = backend->Platform().Files->DefaultOutputName();
    } catch (const std::exception& e) {
      err << "kestrova: " << e.what() << "\n";
      return 1;
    }
    err << "kestrova: no display backend is available, so this is a short scripted "
           "demonstration on the simulated desktop: the tool window records 6 seconds of the "
           "full screen and saves them as "
        << output << " with its page.\n"
        << "(kestrova record --seconds N -o FILE records for as long as you like; kestrova help "
           "lists the commands.)\n";
    PlayDemonstration(sim->Desktop(), output);
  }
  TFrmImage form(backend->Platform(), options);
  int status = 1;
  try {
    status = RunRecorder(form);
  } catch (const std::exception& e) {
    // A desktop whose windows cannot be shown (a user interface left out of the build).
    err << "kestrova: " << e.what() << "\n";
    return 1;
  }
  if (!form.Session.LastOutput.Movies.empty())
    err << "kestrova: wrote " << form.Session.LastOutput.Movies[0] << " and "
        << form.Session.LastOutput.Page << "\n";
  return status;
}

void PlayDemonstration(sim::TSimDesktop& desktop, const std::string& output) {
  using sim::TSimActionKind;
  using sim::TSimDialog;
  desktop.Add({500, TSimActionKind::Click, "RdoFullScreen", 0, {}, 0});
  desktop.Add({1000, TSimActionKind::Click, "ImgBtnStartRecord", 0, {}, 0});
  // Six seconds recorded after the tool window's countdown of three.
  desktop.Add({10100, TSimActionKind::HotKey, "", 0, {}, 0});
  desktop.Answer(TSimDialog::Paused, {kPausedStop, std::nullopt, 400});
  desktop.Answer(TSimDialog::Question, {kIdYes, std::nullopt, 300});
  desktop.Answer(TSimDialog::Save, {0, output, 900});
  desktop.Add({15000, TSimActionKind::CloseToolWindow, "", 0, {}, 0});
  // Anything else the program asks is answered as a user in a hurry would.
  desktop.DefaultAnswer = [](TSimDialog dialog, const std::string&) {
    return std::optional<sim::TSimAnswer>(
        sim::TSimAnswer{dialog == TSimDialog::Paused ? kPausedContinue : kIdOk, {}, 0});
  };
}

}  // namespace kestrova
