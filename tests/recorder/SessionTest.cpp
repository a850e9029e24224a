// The recording session on its own, as `kestrova record` and the tool window drive it: each
// case starts a target on the simulated desktop, calls the session's operations at given
// virtual times from its pump, and checks the state, the result, the files and the frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "platform/PosixFiles.h"
#include "platform/sim/SimDesktop.h"
#include "recorder/FlashSegmentMovie.h"
#include "recorder/Output.h"
#include "recorder/Session.h"
#include "tests/recorder/RecorderHarness.h"

namespace kestrova::test {
namespace {

using namespace platform;
using K = TSimActionKind;

constexpr TWindowHandle kEditor = 1;

// Calls the session's operations at their virtual times (since Start) and notes what the
// session asked and told.
class TScriptedUser : public TSessionObserver {
 public:
  struct TStep {
    std::uint64_t AtMs;
    std::function<void(TRecordingSession&, const std::string& output)> Do;
  };
  TScriptedUser(TRecordingSession& session, TClock& clock, std::vector<TStep> steps,
                std::string output)
      : S(session), C(clock), FSteps(std::move(steps)), Output(std::move(output)) {}

  void Pump() override {
    States.push_back(S.State());
    const std::uint64_t now = static_cast<std::uint32_t>(C.TickCount() - FStart);
    while (FNext < FSteps.size() && FSteps[FNext].AtMs <= now) FSteps[FNext++].Do(S, Output);
  }
  void Started() override {
    FStart = C.TickCount();
    ++StartedCalls;
  }
  void TargetWindowGone() override {
    ++WindowGoneCalls;
    S.Stop(Output);
  }
  std::optional<std::string> WriteFailed(const std::string& message, bool) override {
    Told.push_back(message);
    return Output;
  }
  void Tell(const std::string& message, bool error) override {
    Told.push_back(message);
    if (error) ++Errors;
  }
  void Ended(const TSessionResult&) override { ++EndedCalls; }

  TRecordingSession& S;
  TClock& C;
  std::vector<TStep> FSteps;
  std::size_t FNext = 0;
  std::uint32_t FStart = 0;
  std::string Output;
  std::vector<TSessionState> States;
  std::vector<std::string> Told;
  int StartedCalls = 0, WindowGoneCalls = 0, EndedCalls = 0, Errors = 0;
};

struct TSessionRun {
  TSimDesktop Desktop;
  TPosixFileLocations Files;
  std::vector<TGrabTruth> Grabs;
  std::unique_ptr<TRecordingSession> Session;
  std::unique_ptr<TScriptedUser> User;
  TSessionResult Result;
  std::string Output;
};

struct TSessionCase {
  const char* Name;
  TCaptureTarget Target;
  std::vector<TScriptedUser::TStep> Steps;
  std::function<void(TSimDesktop&)> Script;  // desktop changes (none: a lively desktop)
  const char* Output;                        // relative to the test's folder
  TSegmentMovieFactory Factory;              // none: the program's
  std::function<void(TSessionRun&, const std::string& dir)> Check;
};

void PrintTo(const TSessionCase& c, std::ostream* os) {
  *os << c.Name;
}

auto At(std::uint64_t ms, std::function<void(TRecordingSession&)> f) {
  return TScriptedUser::TStep{ms, [f](TRecordingSession& s, const std::string&) { f(s); }};
}
// Stop and save under the case's output name.
auto StopAt(std::uint64_t ms) {
  return TScriptedUser::TStep{ms, [](TRecordingSession& s, const std::string& o) { s.Stop(o); }};
}

std::vector<std::string> Files(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    out.push_back(e.path().filename().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

class Session : public TempHome, public ::testing::WithParamInterface<TSessionCase> {};

TEST_P(Session, DoesWhatItIsToldAndSavesWhatItRecorded) {
  const TSessionCase& c = GetParam();
  TSimConfig config = sim::DemoDesktop(160, 120);
  config.TimeLimitMs = 60000;
  TSessionRun run{TSimDesktop(config), {}, {}, {}, {}, {}, Dir + "/" + c.Output};
  run.Desktop.SetFiles(&run.Files);
  run.Desktop.OnGrab = [&run](const sim::TSimGrabRecord& g) {
    run.Grabs.push_back({g.AtMs, g.Window, g.Rect, run.Desktop.Compose(g.Window, g.Rect, true)});
  };
  if (c.Script) c.Script(run.Desktop);
  TSessionOptions options;
  options.MovieFactory = c.Factory ? c.Factory : FlashSegmentMovieFactory();
  run.Session = std::make_unique<TRecordingSession>(run.Desktop.Platform(), options);
  run.User = std::make_unique<TScriptedUser>(*run.Session, *run.Desktop.Platform().Clock, c.Steps,
                                             run.Output);
  run.Session->SetObserver(run.User.get());
  EXPECT_EQ(run.Session->State(), TSessionState::Idle);
  run.Result = run.Session->Start(c.Target);
  EXPECT_EQ(run.Session->State(), TSessionState::Idle) << "a session ends idle, saved or not";
  c.Check(run, Dir);
}

// A recording of about `seconds` whose frames show every grab, row for row.
void ExpectSaved(TSessionRun& run, double seconds, std::int32_t w, std::int32_t h) {
  ASSERT_TRUE(run.Result.Saved) << run.Result.Problem;
  ASSERT_EQ(run.Result.Files.size(), 2u);
  EXPECT_EQ(run.Result.Files[0], run.Output);
  EXPECT_TRUE(Exists(run.Result.Files[1]));
  EXPECT_NEAR(run.Result.Seconds, seconds, 0.3);
  EXPECT_EQ(run.Result.FramesLost, 0u);
  const TFrameCheck check = CheckFrames(run.Output, run.Grabs);
  EXPECT_TRUE(check.Ok) << check.Message;
  EXPECT_EQ(check.LastGrab + 1, run.Grabs.size()) << "every grab reaches the movie";
  EXPECT_EQ(check.Info.Width, w);
  EXPECT_EQ(check.Info.Height, h);
  EXPECT_EQ(run.User->EndedCalls, 1);
  EXPECT_FALSE(Exists(run.Session->RecordingFolder)) << "joined, so removed";
}

// Refused before anything was recorded: no folder, no grab, nothing told as started.
void ExpectRefused(TSessionRun& run, const std::string& says) {
  EXPECT_FALSE(run.Result.Started);
  EXPECT_NE(run.Result.Problem.find(says), std::string::npos) << run.Result.Problem;
  EXPECT_TRUE(run.Grabs.empty());
  EXPECT_EQ(run.User->StartedCalls, 0);
  EXPECT_EQ(run.User->EndedCalls, 0);
  EXPECT_FALSE(Exists(run.Output));
}

const TSessionCase kCases[] = {
    {"StopSavesTheWholeRecording",
     TCaptureTarget::FullScreen(),
     {StopAt(2000)},
     {},
     "a.swf",
     {},
     [](TSessionRun& run, const std::string&) {
       ExpectSaved(run, 2.0, 160, 120);
       EXPECT_EQ(run.User->States.front(), TSessionState::Recording);
     }},
    {"PauseLeavesThePausedTimeOutAndGrabsNothingMeanwhile",
     TCaptureTarget::FullScreen(),
     {At(1000, [](TRecordingSession& s) { EXPECT_TRUE(s.Pause()); }),
      At(1500, [](TRecordingSession& s) { EXPECT_FALSE(s.Pause()) << "paused already"; }),
      At(4000, [](TRecordingSession& s) { EXPECT_TRUE(s.Resume()); }), StopAt(5000)},
     {},
     "p.swf",
     {},
     [](TSessionRun& run, const std::string&) {
       ExpectSaved(run, 2.0, 160, 120);
       EXPECT_NE(std::find(run.User->States.begin(), run.User->States.end(), TSessionState::Paused),
                 run.User->States.end());
       const std::uint64_t first = run.Grabs.front().AtMs;
       for (const TGrabTruth& g : run.Grabs) {
         EXPECT_FALSE(g.AtMs > first + 1100 && g.AtMs < first + 3900) << "grabbed at " << g.AtMs;
       }
     }},
    {"DiscardWritesNoMovieAndLeavesTheSegmentsForRecovery",
     TCaptureTarget::FullScreen(),
     {At(1500, [](TRecordingSession& s) { s.Discard(); })},
     {},
     "d.swf",
     {},
     [](TSessionRun& run, const std::string&) {
       EXPECT_TRUE(run.Result.Started);
       EXPECT_FALSE(run.Result.Saved);
       EXPECT_TRUE(run.Result.Files.empty());
       EXPECT_FALSE(Exists(run.Output));
       EXPECT_EQ(ListSegmentFiles(run.Session->RecordingFolder).size(), 1u);
       EXPECT_EQ(run.User->EndedCalls, 1);
     }},
    {"OperationsOutsideARecordingDoNothing",
     TCaptureTarget::FullScreen(),
     {At(500,
         [](TRecordingSession& s) {
           EXPECT_FALSE(s.Resume()) << "not paused";
           const TSessionResult again = s.Start(TCaptureTarget::FullScreen());
           EXPECT_FALSE(again.Started);
           EXPECT_NE(again.Problem.find("already"), std::string::npos);
         }),
      StopAt(1000)},
     {},
     "o.swf",
     {},
     [](TSessionRun& run, const std::string&) {
       ExpectSaved(run, 1.0, 160, 120);
       run.Session->Stop("elsewhere.swf");
       run.Session->Discard();
       EXPECT_FALSE(run.Session->Pause());
       EXPECT_EQ(run.Session->State(), TSessionState::Idle);
     }},
    {"AClosedWindowEndsTheRecordingAndWhatWasRecordedIsSaved",
     TCaptureTarget::OfWindow(kEditor),
     {},
     [](TSimDesktop& d) {
       d.Add({1500, K::CloseWindow, "", kEditor, {}, 0});
     },
     "w.swf",
     {},
     [](TSessionRun& run, const std::string&) {
       EXPECT_EQ(run.User->WindowGoneCalls, 1);
       // A window is shown on a stage of the desktop's size.
       ExpectSaved(run, 1.4, 160, 120);
       for (const TGrabTruth& g : run.Grabs) EXPECT_EQ(g.Window, kEditor);
     }},
    {"AWindowThatIsNotShownIsRefused",
     TCaptureTarget::OfWindow(99),
     {},
     {},
     "n.swf",
     {},
     [](TSessionRun& run, const std::string& dir) {
       ExpectRefused(run, "not shown");
       EXPECT_TRUE(run.Result.TargetMissing);
       EXPECT_TRUE(Files(dir + "/state/kestrova").size() <= 1u) << "no recording folder";
     }},
    {"ARegionRecordsExactlyThatRectangle",
     TCaptureTarget::OfRegion({30, 20, 130, 70}),
     {StopAt(1500)},
     {},
     "r.swf",
     {},
     [](TSessionRun& run, const std::string&) {
       ExpectSaved(run, 1.5, 100, 50);
       for (const TGrabTruth& g : run.Grabs) {
         EXPECT_EQ(g.Window, 0u);
         EXPECT_EQ(g.Rect, (TScreenRect{30, 20, 130, 70}));
       }
     }},
    {"ARegionPartlyOffTheScreenIsClippedToIt",
     TCaptureTarget::OfRegion({-40, 90, 60, 200}),
     {StopAt(1000)},
     {},
     "c.swf",
     {},
     [](TSessionRun& run, const std::string&) {
       ExpectSaved(run, 1.0, 60, 30);
       for (const TGrabTruth& g : run.Grabs) EXPECT_EQ(g.Rect, (TScreenRect{0, 90, 60, 120}));
     }},
    {"ARegionOffTheScreenIsRefused",
     TCaptureTarget::OfRegion({200, 0, 300, 50}),
     {},
     {},
     "x.swf",
     {},
     [](TSessionRun& run, const std::string&) {
       ExpectRefused(run, "is not on the screen");
       EXPECT_FALSE(run.Result.TargetMissing);
     }},
    {"AnEmptyRegionIsRefused",
     TCaptureTarget::OfRegion({10, 10, 10, 50}),
     {},
     {},
     "e.swf",
     {},
     [](TSessionRun& run, const std::string&) { ExpectRefused(run, "is not on the screen"); }},
    {"ASaveThatFailsKeepsTheSegmentsAndSaysWhy",
     TCaptureTarget::FullScreen(),
     {StopAt(1500)},
     {},
     "missing/s.swf",
     {},
     [](TSessionRun& run, const std::string&) {
       EXPECT_TRUE(run.Result.Started);
       EXPECT_FALSE(run.Result.Saved);
       EXPECT_NE(run.Result.Problem.find("could not be saved"), std::string::npos)
           << run.Result.Problem;
       EXPECT_EQ(run.User->Errors, 1);
       EXPECT_EQ(ListSegmentFiles(run.Session->RecordingFolder).size(), 1u);
     }},
    {"AFullDiskStopsTheRecordingAndSavesWhatReachedIt",
     TCaptureTarget::FullScreen(),
     {StopAt(6000)},
     {},
     "f.swf",
     FullDiskFactory({20, 0}),
     [](TSessionRun& run, const std::string&) {
       ASSERT_TRUE(run.Result.Saved) << run.Result.Problem;
       EXPECT_NE(run.Result.Problem.find("No space left on device"), std::string::npos)
           << run.Result.Problem;
       EXPECT_GT(run.Result.FramesLost, 0u);
       EXPECT_LT(run.Result.Seconds, 4.0) << "stopped when the disk ran full";
       ASSERT_FALSE(run.User->Told.empty());
       EXPECT_NE(run.User->Told.front().find("could not be written"), std::string::npos);
     }},
};

INSTANTIATE_TEST_SUITE_P(Cases, Session, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace kestrova::test
