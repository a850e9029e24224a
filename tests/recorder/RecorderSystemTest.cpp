// Whole-system tests: the recorder driven by scripts on the simulated desktop, its files read
// back with the project's reader and played frame by frame against what the screen showed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/PosixFiles.h"
#include "platform/sim/SimDesktop.h"
#include "player/WebPage.h"
#include "recorder/Output.h"
#include "recorder/Recorder.h"
#include "tests/recorder/RecorderHarness.h"

namespace kestrova::test {
namespace {

using namespace platform;
using K = TSimActionKind;

constexpr TWindowHandle kEditor = 1, kTerminal = 2, kVideo = 3;

TSimConfig Lively(std::int32_t w = 160, std::int32_t h = 200) {
  TSimConfig c = sim::DemoDesktop(w, h);
  c.TimeLimitMs = 120000;
  return c;
}

TSimConfig Still(std::int32_t w = 96, std::int32_t h = 100) {
  TSimConfig c;
  c.Width = w;
  c.Height = h;
  c.CursorShowing = false;
  c.TimeLimitMs = 120000;
  return c;
}

// A still screen whose grabs take grabCostMs of virtual time each.
TSimConfig Paced(std::uint32_t grabCostMs) {
  TSimConfig c = Still();
  c.GrabCostMs = grabCostMs;
  return c;
}

// The virtual milliseconds between one grab and the next.
std::vector<std::uint64_t> GrabIntervals(const TRecorderRun& r) {
  std::vector<std::uint64_t> out;
  for (std::size_t i = 1; i < r.Grabs.size(); ++i) {
    out.push_back(r.Grabs[i].AtMs - r.Grabs[i - 1].AtMs);
  }
  return out;
}

std::size_t Count(const std::vector<std::string>& v, const std::string& s) {
  return static_cast<std::size_t>(std::count(v.begin(), v.end(), s));
}

struct TCase {
  const char* Name;
  std::function<TSimConfig()> Config;
  std::function<void(TRecorderRun&, const std::string& dir)> Script;
  std::function<void(TRecorderRun&, const std::string& dir)> Check;
};

void PrintTo(const TCase& c, std::ostream* os) {
  *os << c.Name;
}

class RecorderSystem : public TempHome, public ::testing::WithParamInterface<TCase> {};

// The recording in out.swf shows every grab, in order, row for row and as the format maps it; the
// page names it; nothing is left in the recording's folder.
void ExpectSavedRecording(TRecorderRun& run, const std::string& movie, const std::string& home) {
  ASSERT_TRUE(Exists(movie)) << run.Diagnostics.str();
  const TFrameCheck check = CheckFrames(movie, run.Grabs);
  EXPECT_TRUE(check.Ok) << check.Message;
  EXPECT_EQ(check.LastGrab + 1, run.Grabs.size()) << "every grab reaches the movie";
  EXPECT_EQ(check.Frames, check.Info.FrameCount);
  const std::string page = ReadText(WebPageFileName(movie));
  EXPECT_NE(page.find("<embed src=\"" + MovieFileNameBesidePage(movie) + "\""), std::string::npos);
  std::error_code ec;
  for (const auto& e : std::filesystem::recursive_directory_iterator(home, ec)) {
    const std::string name = e.path().filename().string();
    EXPECT_FALSE(name.rfind("capture", 0) == 0 || name.find(".part") != std::string::npos)
        << "left behind: " << e.path();
  }
}

TEST_P(RecorderSystem, Script) {
  const TCase& c = GetParam();
  TRecorderRun run(c.Config());
  c.Script(run, Dir);
  run.Run();
  EXPECT_TRUE(run.ScriptError.empty()) << run.ScriptError;
  c.Check(run, Dir);
}

const TCase kCases[] = {
    {"FullScreenTwoSegments", [] { return Lively(); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.StopAndSaveAt(12500, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       ExpectSavedRecording(r, d + "/out.swf", d);
       EXPECT_TRUE(r.Halted);
       EXPECT_EQ(r.ExitCode, 0);
       EXPECT_EQ(r.Desktop.MessageTexts(), std::vector<std::string>{kMsgSaveRecording});
       const TFrameCheck check = CheckFrames(d + "/out.swf", r.Grabs);
       // Two segments, each a sprite at its own depth, one after the other.
       ASSERT_EQ(check.Info.SpritePlacements.size(), 2u);
       EXPECT_EQ(check.Info.SpritePlacements[0], (std::pair<std::uint32_t, std::uint16_t>{0, 1}));
       EXPECT_EQ(check.Info.SpritePlacements[1].second, 2);
       // The timeline follows the clock: about 12 frames for each second recorded.
       const double seconds = (r.Grabs.back().AtMs - r.Grabs.front().AtMs) / 1000.0;
       EXPECT_NEAR(check.Frames, seconds * 12, 4);
       EXPECT_EQ(r.Desktop.CallsOf("TrayRemove").size(), 1u);
     }},
    // The Region choice records the rectangle dragged out, and is offered again next time.
    {"RegionDraggedOutIsRecordedAndRemembered", [] { return Lively(); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(200, K::Click, "RdoRegion");
       r.Desktop.AnswerRegion(TScreenRect{10, 20, 90, 120});
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.StopAndSaveAt(3000, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       ExpectSavedRecording(r, d + "/out.swf", d);
       ASSERT_FALSE(r.Grabs.empty());
       for (const auto& g : r.Grabs) EXPECT_EQ(g.Rect, (TScreenRect{10, 20, 90, 120}));
       EXPECT_EQ(r.Desktop.SettingsStore()["Capture"], "Region");
     }},
    // Cancelling the drag records nothing and leaves Start working.
    {"RegionCancelledThenStartAgain", [] { return Lively(); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(200, K::Click, "RdoRegion");
       r.Desktop.AnswerRegion(std::nullopt);
       r.Desktop.AnswerRegion(TScreenRect{0, 0, 64, 64});
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(1500, K::Click, "ImgBtnStartRecord");
       r.StopAndSaveAt(4000, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       ExpectSavedRecording(r, d + "/out.swf", d);
       ASSERT_FALSE(r.Grabs.empty());
       EXPECT_GE(r.Grabs.front().AtMs, 1500u);
       EXPECT_EQ(r.Grabs.front().Rect, (TScreenRect{0, 0, 64, 64}));
     }},
    // Ctrl+Alt+S held elsewhere: the user picks another key at once, which stops the recording
    // and is kept for the next run.
    {"HotKeyTakenAnotherChosen",
     [] {
       TSimConfig c = Lively();
       c.HeldHotKeys = {THotKeyChoice{}};
       return c;
     },
     [](TRecorderRun& r, const std::string& d) {
       r.Desktop.Answer(TSimDialog::HotKey, {0, std::string("Ctrl+Shift+R"), 0});
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(3000, K::HotKey, "Ctrl+Shift+R");
       r.Answer(TSimDialog::Paused, kPausedStop, 200);
       r.Answer(TSimDialog::Question, kIdYes, 200);
       r.AnswerSave(d + "/out.swf", 300);
     },
     [](TRecorderRun& r, const std::string& d) {
       ExpectSavedRecording(r, d + "/out.swf", d);
       EXPECT_EQ(r.Desktop.CallsOf("HotKeyDialog").size(), 1u);
       EXPECT_EQ(r.Desktop.SettingsStore()["HotKey"], "Ctrl+Shift+R");
     }},
    {"HotKeyBeforeAndAfterARecording", [] { return Lively(); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(300, K::HotKey);
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.StopAndSaveAt(3000, d + "/out.swf");
       r.At(6000, K::HotKey);
       r.Answer(TSimDialog::Paused, kPausedContinue);
       r.At(7000, K::CloseToolWindow);
     },
     [](TRecorderRun& r, const std::string& d) {
       EXPECT_EQ(r.Desktop.MessageTexts(),
                 (std::vector<std::string>{kMsgNotStarted, kMsgSaveRecording}));
       const auto paused = r.Desktop.CallsOf("PausedDialog");
       ASSERT_EQ(paused.size(), 2u);
       EXPECT_GE(paused[1].AtMs, 6000u);
       ExpectSavedRecording(r, d + "/out.swf", d);
     }},
    {"StartClickedTwiceRecordsOnce", [] { return Lively(); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(2000, K::Click, "ImgBtnStartRecord");
       r.StopAndSaveAt(4000, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       ExpectSavedRecording(r, d + "/out.swf", d);
       EXPECT_EQ(r.Segments.size(), 1u);
       EXPECT_EQ(r.Desktop.MessageTexts().size(), 1u);
     }},
    {"TrayBeforeTheFirstStartDoesNothing", [] { return Lively(); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(200, K::TrayDoubleClick);
       r.At(300, K::TrayRightClick);
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(2500, K::TrayRightClick);
       r.Answer(TSimDialog::Menu, 0);  // &Open
       r.Answer(TSimDialog::Paused, kPausedStop);
       r.Answer(TSimDialog::Question, kIdYes);
       r.AnswerSave(d + "/out");  // the dialog adds the default extension
     },
     [](TRecorderRun& r, const std::string& d) {
       const auto menus = r.Desktop.CallsOf("PopupMenu");
       ASSERT_EQ(menus.size(), 1u);
       EXPECT_GE(menus[0].AtMs, 2500u);
       EXPECT_EQ(menus[0].Text, "&Open|Change &Hot Key...|&Exit");
       EXPECT_EQ(r.Desktop.CallsOf("PausedDialog").size(), 1u);
       ExpectSavedRecording(r, d + "/out.swf", d);
     }},
    {"CaptionCloseIsContinueAndAPauseCountsAtMostASecond", [] { return Lively(); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(2000, K::HotKey);
       r.Answer(TSimDialog::Paused, 0, 5000);  // the caption's close button, after 5 s
       r.StopAndSaveAt(8000, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       const auto paused = r.Desktop.CallsOf("PausedDialog");
       ASSERT_EQ(paused.size(), 2u);
       EXPECT_EQ(paused[0].Result, kPausedContinue);
       ExpectSavedRecording(r, d + "/out.swf", d);
       // 7.5 s between the first and last grab, 5 s of them in the dialog: the movie shows
       // 2.5 s plus at most one second of the pause.
       const TFrameCheck check = CheckFrames(d + "/out.swf", r.Grabs);
       const double span = (r.Grabs.back().AtMs - r.Grabs.front().AtMs) / 1000.0;
       EXPECT_GE(check.Frames, (span - 5.0) * 12 - 2);
       EXPECT_LE(check.Frames, (span - 4.0) * 12 + 3);
     }},
    {"NoReturnsToThePause", [] { return Lively(); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(2000, K::HotKey);
       r.Answer(TSimDialog::Paused, kPausedStop);
       r.Answer(TSimDialog::Question, kIdNo);
       r.Answer(TSimDialog::Paused, kPausedStop, 100);
       r.Answer(TSimDialog::Question, kIdYes);
       r.AnswerSave(d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       EXPECT_EQ(r.Desktop.MessageTexts(),
                 (std::vector<std::string>{kMsgSaveRecording, kMsgSaveRecording}));
       EXPECT_EQ(r.Desktop.CallsOf("PausedDialog").size(), 2u);
       ExpectSavedRecording(r, d + "/out.swf", d);
     }},
    {"ExitThenNoEndsAtOnceAndKeepsTheSegments", [] { return Lively(); },
     [](TRecorderRun& r, const std::string&) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(12000, K::HotKey);
       r.Answer(TSimDialog::Paused, kPausedExit);
       r.Answer(TSimDialog::Question, kIdNo);
     },
     [](TRecorderRun& r, const std::string& d) {
       EXPECT_TRUE(r.Halted);
       EXPECT_TRUE(DefaultNamedMovies(d + "/home").empty());
       EXPECT_TRUE(r.Desktop.CallsOf("SaveDialog").empty());
       // The finished segment stays where recover finds it.
       EXPECT_EQ(ListSegmentFiles(r.Form->Session.RecordingFolder).size(), 1u);
     }},
    // The session ends under a recording: asked, the user saves, and the movie is written
    // before the process ends, though the capture loop never runs again.
    {"DestroyedWhileRecordingYesSavesAndEnds", [] { return Lively(); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(12000, K::DestroyToolWindow);
       r.Answer(TSimDialog::Question, kIdYes);
       r.AnswerSave(d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       EXPECT_TRUE(r.Halted);
       EXPECT_EQ(r.ExitCode, 0);
       ExpectSavedRecording(r, d + "/out.swf", d);
       const TFrameCheck check = CheckFrames(d + "/out.swf", r.Grabs);
       EXPECT_EQ(check.Info.SpritePlacements.size(), 2u);  // the unfinished segment too
     }},
    {"DestroyedWhileRecordingCancelKeepsEverySegment", [] { return Lively(); },
     [](TRecorderRun& r, const std::string&) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(12000, K::DestroyToolWindow);
       r.Answer(TSimDialog::Question, kIdCancel);
       r.Answer(TSimDialog::Paused, kPausedContinue);
     },
     [](TRecorderRun& r, const std::string& d) {
       EXPECT_TRUE(r.Halted);
       EXPECT_TRUE(DefaultNamedMovies(d + "/home").empty());
       EXPECT_EQ(ListSegmentFiles(r.Form->Session.RecordingFolder).size(), 2u);
     }},
    {"ExitThenYesSavesAndEnds", [] { return Lively(); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(3000, K::HotKey);
       r.Answer(TSimDialog::Paused, kPausedExit);
       r.Answer(TSimDialog::Question, kIdYes);
       r.AnswerSave(d + "/out.swf");
       r.At(9000, K::Click, "ImgBtnStartRecord");  // never reached: the program has ended
     },
     [](TRecorderRun& r, const std::string& d) {
       ExpectSavedRecording(r, d + "/out.swf", d);
       EXPECT_TRUE(r.Halted);
       EXPECT_EQ(r.Desktop.CallsOf("Terminate").size(), 1u);
       EXPECT_LT(r.Desktop.NowMs(), 9000u);
     }},
    {"SecondInstanceBringsTheFirstForward", [] { return Lively(); },
     [](TRecorderRun& r, const std::string&) {
       r.Desktop.Platform().Instance->Acquire(kMutexName);
       r.Desktop.Platform().Application->SetTitle(kApplicationTitle);
     },
     [](TRecorderRun& r, const std::string&) {
       EXPECT_TRUE(r.Halted);
       ASSERT_EQ(r.Desktop.CallsOf("BringForward").size(), 1u);
       EXPECT_EQ(r.Desktop.CallsOf("BringForward")[0].Result, 1);
       EXPECT_TRUE(r.Desktop.CallsOf("TrayAdd").empty());
     }},
    {"ExistingFilesAreReplaced", [] { return Lively(); },
     [](TRecorderRun& r, const std::string& d) {
       std::ofstream(d + "/out.swf") << "old movie";
       std::ofstream(d + "/out.html") << "old page";
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.StopAndSaveAt(2500, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       ExpectSavedRecording(r, d + "/out.swf", d);
       EXPECT_EQ(ReadText(d + "/out.html").find("old"), std::string::npos);
     }},
    {"WindowRecordingWithAMinimisedSpell", [] { return Lively(); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(200, K::Click, "RdoActiveWindow");
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(1500, K::Activate, "", kEditor);
       r.At(5000, K::Minimise, "", kEditor);
       r.At(8000, K::Restore, "", kEditor);
       r.At(6000, K::HotKey);  // waits: no message is processed while the window is minimised
       r.Answer(TSimDialog::Paused, kPausedContinue);
       r.At(9500, K::MoveWindow, "", kEditor, {30, 40, 0, 0});
       r.StopAndSaveAt(11000, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       EXPECT_EQ(r.Desktop.MessageTexts().front(), kMsgActivateWindow);
       for (const TGrabTruth& g : r.Grabs) {
         EXPECT_EQ(g.Window, kEditor);
         EXPECT_FALSE(g.AtMs > 5000 && g.AtMs < 8000) << "grabbed while minimised at " << g.AtMs;
       }
       ASSERT_FALSE(r.Desktop.CallsOf("PausedDialog").empty());
       EXPECT_GE(r.Desktop.CallsOf("PausedDialog")[0].AtMs, 8000u);
       ExpectSavedRecording(r, d + "/out.swf", d);
       const TFrameCheck check = CheckFrames(d + "/out.swf", r.Grabs);
       EXPECT_EQ(check.Info.Width, 160);  // a window is shown on a stage of the desktop's size
       EXPECT_EQ(check.Info.Height, 200);
     }},
    {"ActiveWindowWithNothingActivatedComesBackAndSaysSo", [] { return Lively(); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(200, K::Click, "RdoActiveWindow");
       r.At(500, K::Click, "ImgBtnStartRecord");
       // The window activated in the wait is gone by its end: nothing to record.
       r.At(1500, K::Activate, "", kTerminal);
       r.At(2500, K::Hide, "", kTerminal);
       r.At(5000, K::Click, "ImgBtnStartRecord");
       r.At(6000, K::Activate, "", kEditor);
       r.StopAndSaveAt(10000, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       const std::vector<std::string> texts = r.Desktop.MessageTexts();
       ASSERT_GE(texts.size(), 2u);
       EXPECT_EQ(texts[0], kMsgActivateWindow);
       EXPECT_EQ(texts[1], kMsgNoWindowToCapture);
       // Hidden at Start, the tool window is back on the screen once the wait is over and
       // before the message, so Start can be clicked again.
       const auto boxes = r.Desktop.CallsOf("MessageBox");
       ASSERT_GE(boxes.size(), 2u);
       std::vector<std::uint64_t> shownAfterStart;
       for (const auto& c : r.Desktop.CallsOf("ToolWindowShow")) {
         if (c.AtMs >= 500 && c.AtMs < 5000) shownAfterStart.push_back(c.AtMs);
       }
       ASSERT_EQ(shownAfterStart.size(), 1u);
       EXPECT_GE(shownAfterStart[0], 3500u);
       EXPECT_LE(shownAfterStart[0], boxes[1].AtMs);
       ASSERT_FALSE(r.Grabs.empty());
       for (const TGrabTruth& g : r.Grabs) EXPECT_EQ(g.Window, kEditor);
       ExpectSavedRecording(r, d + "/out.swf", d);
     }},
    {"RecordedWindowClosedAnsweredYes", [] { return Lively(); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(200, K::Click, "RdoActiveWindow");
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(1500, K::Activate, "", kTerminal);
       r.At(6000, K::CloseWindow, "", kTerminal);
       r.Answer(TSimDialog::Question, kIdYes);
       r.AnswerSave(d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       ExpectSavedRecording(r, d + "/out.swf", d);
       EXPECT_EQ(r.Desktop.MessageTexts().back(), kMsgSaveRecording);
       EXPECT_EQ(r.Desktop.CallsOf("Terminate").size(), 1u);
     }},
    {"RecordedWindowClosedAnsweredNo", [] { return Lively(); },
     [](TRecorderRun& r, const std::string&) {
       r.At(200, K::Click, "RdoActiveWindow");
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(1500, K::Activate, "", kTerminal);
       r.At(6000, K::CloseWindow, "", kTerminal);
       r.Answer(TSimDialog::Question, kIdNo);
       r.At(9000, K::CloseToolWindow);
     },
     [](TRecorderRun& r, const std::string& d) {
       EXPECT_EQ(r.Desktop.MessageTexts().back(), kMsgHandleWindowClosed);
       const std::vector<std::string> movies = DefaultNamedMovies(d + "/home");
       ASSERT_EQ(movies.size(), 1u);
       ExpectSavedRecording(r, movies[0], d);
     }},
    {"RecordedWindowClosedAnsweredCancel", [] { return Lively(); },
     [](TRecorderRun& r, const std::string&) {
       r.At(200, K::Click, "RdoActiveWindow");
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(1500, K::Activate, "", kVideo);
       r.At(4000, K::ResizeWindow, "", kVideo, {30, 100, 90, 190});  // a height change
       r.At(6000, K::Hide, "", kVideo);
       r.Answer(TSimDialog::Question, kIdCancel);
       r.At(9000, K::CloseToolWindow);
     },
     [](TRecorderRun& r, const std::string& d) {
       EXPECT_EQ(r.Desktop.MessageTexts().back(), kMsgHandleWindowClosed);
       const std::vector<std::string> movies = DefaultNamedMovies(d + "/home");
       ASSERT_EQ(movies.size(), 1u);
       ExpectSavedRecording(r, movies[0], d);
     }},
    {"CursorDrawnAtItsHotSpotAndHidden", [] { return Lively(); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(2000, K::CursorShow, "", 0, {}, 0);
       r.At(3000, K::CursorShow, "", 0, {}, 1);
       r.StopAndSaveAt(4500, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) { ExpectSavedRecording(r, d + "/out.swf", d); }},
    {"StillScreenIsOnePicture", [] { return Still(); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.StopAndSaveAt(5000, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       ExpectSavedRecording(r, d + "/out.swf", d);
       const TFrameCheck check = CheckFrames(d + "/out.swf", r.Grabs);
       EXPECT_EQ(check.Info.Bitmaps, 1u);
       EXPECT_GT(check.Frames, 40u);
     }},
    {"OneChangedRowAt40IsStrip1AtDepth3", [] { return Still(); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(2000, K::Paint, "", 0, {0, 40, 96, 41}, 0xFF0000);
       r.At(3000, K::Paint, "", 0, {0, 0, 96, 32}, 0x00FF00);
       r.StopAndSaveAt(4500, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       ExpectSavedRecording(r, d + "/out.swf", d);
       const TFrameCheck check = CheckFrames(d + "/out.swf", r.Grabs);
       EXPECT_EQ(check.Info.Bitmaps, 3u);
       EXPECT_EQ(Count(check.Info.Events, "place 3 0,32"), 1u);
       // Strip 0 at depth 1 in the segment, and the segment's sprite at depth 1 of the movie.
       EXPECT_EQ(Count(check.Info.Events, "place 1 0,0"), 2u);
       EXPECT_EQ(Count(check.Info.Events, "remove 3"), 1u);  // removed before it is placed
     }},
    {"FullRefreshReplacesDepth0AndRemovesTheStrips", [] { return Still(); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(2000, K::Paint, "", 0, {0, 40, 96, 41}, 0xFF0000);
       r.At(3000, K::Paint, "", 0, {0, 0, 96, 100}, 0x0000FF);
       r.StopAndSaveAt(4500, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       ExpectSavedRecording(r, d + "/out.swf", d);
       const TFrameCheck check = CheckFrames(d + "/out.swf", r.Grabs);
       EXPECT_EQ(Count(check.Info.Events, "place 0 0,0"), 2u);
       EXPECT_EQ(Count(check.Info.Events, "remove 100"), 1u);
       EXPECT_EQ(Count(check.Info.Events, "remove 3"), 2u);
     }},
    {"TallStageStripsBeyondDepth100GoAtAFullRefresh", [] { return Still(40, 1700); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(1000, K::Paint, "", 0, {0, 1650, 40, 1651}, 0xFF0000);  // strip 51: depth 103
       r.At(2000, K::Paint, "", 0, {0, 0, 40, 1700}, 0x00FF00);
       r.StopAndSaveAt(3000, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       ExpectSavedRecording(r, d + "/out.swf", d);
       const TFrameCheck check = CheckFrames(d + "/out.swf", r.Grabs);
       EXPECT_EQ(Count(check.Info.Events, "place 103 0,1632"), 1u);
       EXPECT_EQ(Count(check.Info.Events, "remove 103"), 2u);
     }},
    // Each turn is due 100 ms after the one before began, whatever the grab cost, across the
    // segment's end too; a grab slower than that is followed by the next at once.
    {"GrabsArePacedToTheClock", [] { return Paced(30); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.StopAndSaveAt(11500, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       ExpectSavedRecording(r, d + "/out.swf", d);
       EXPECT_EQ(GrabIntervals(r), std::vector<std::uint64_t>(r.Grabs.size() - 1, 100));
       EXPECT_EQ(r.Segments.size(), 2u);
     }},
    {"SlowGrabsFollowEachOtherAtOnce", [] { return Paced(150); },
     [](TRecorderRun& r, const std::string& d) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.StopAndSaveAt(3000, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       ExpectSavedRecording(r, d + "/out.swf", d);
       EXPECT_EQ(GrabIntervals(r), std::vector<std::uint64_t>(r.Grabs.size() - 1, 150));
       // The timeline still follows the clock: 12 frames a second.
       const TFrameCheck check = CheckFrames(d + "/out.swf", r.Grabs);
       const double seconds = (r.Grabs.back().AtMs - r.Grabs.front().AtMs) / 1000.0;
       EXPECT_NEAR(check.Frames, seconds * 12, 3);
     }},
};

INSTANTIATE_TEST_SUITE_P(Scripts, RecorderSystem, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

class RecorderFiles : public TempHome {};

// The segment's frames go to disk as they close rather than staying in memory until the segment
// is saved: the body beside the segment's file grows from grab to grab.
TEST_F(RecorderFiles, ASegmentsFramesGoToDiskAsTheyClose) {
  TRecorderRun run(Lively());
  run.At(500, K::Click, "ImgBtnStartRecord");
  run.StopAndSaveAt(5000, Dir + "/out.swf");
  std::vector<std::uintmax_t> written;
  const auto note = run.Desktop.OnGrab;
  run.Desktop.OnGrab = [&](const sim::TSimGrabRecord& g) {
    note(g);
    std::error_code ec;
    const std::string body =
        run.Form->Session.SegmentFileName(run.Form->Session.SegmentNumber) + ".body.part";
    const std::uintmax_t size = std::filesystem::file_size(body, ec);
    written.push_back(ec ? 0 : size);
  };
  run.Run();
  ExpectSavedRecording(run, Dir + "/out.swf", Dir);
  // (The file is written through a buffer of a few kilobytes, so it grows in steps.)
  ASSERT_GT(written.size(), 20u);
  const std::size_t half = written.size() / 2;
  EXPECT_GT(written[half], 0u);
  EXPECT_GT(written.back(), written[half]);
  EXPECT_TRUE(std::is_sorted(written.begin(), written.end()));
}

TEST_F(RecorderFiles, SameScriptSameBytes) {
  auto record = [&](const std::string& name) {
    TRecorderRun run(Lively());
    run.At(500, K::Click, "ImgBtnStartRecord");
    run.StopAndSaveAt(11000, Dir + "/" + name);
    run.Run();
    return ReadText(Dir + "/" + name);
  };
  const std::string a = record("a.swf"), b = record("b.swf");
  EXPECT_GT(a.size(), 1000u);
  EXPECT_EQ(a, b);
}

TEST_F(RecorderFiles, AnOutputThatCannotBeWrittenIsReportedAndTheSegmentsKept) {
  TRecorderRun run(Lively());
  run.At(500, K::Click, "ImgBtnStartRecord");
  run.StopAndSaveAt(3000, Dir + "/no-such-folder/out.swf");
  run.Run();
  EXPECT_TRUE(run.Form->Session.LastOutputFailed);
  ASSERT_EQ(run.Desktop.MessageTexts().size(), 2u);
  EXPECT_NE(run.Desktop.MessageTexts()[1].find("could not be saved"), std::string::npos);
  EXPECT_NE(run.Diagnostics.str().find("kestrova recover"), std::string::npos);
  const std::vector<std::string> kept = ListSegmentFiles(run.Form->Session.RecordingFolder);
  ASSERT_EQ(kept.size(), 1u);
  // What was kept joins into the same recording.
  const TOutputResult joined = WriteOutputFiles({{kept[0], std::nullopt}}, 0, 0, Dir + "/r.swf");
  const TFrameCheck check = CheckFrames(Dir + "/r.swf", run.Grabs);
  EXPECT_TRUE(check.Ok) << check.Message;
  EXPECT_EQ(check.LastGrab + 1, run.Grabs.size());
}

TEST_F(RecorderFiles, AKilledRecordingIsRecoveredAndACutSegmentSkipped) {
  TSimConfig config = Lively();
  config.TimeLimitMs = 31000;  // the recording is cut off as by a crash in its fourth segment
  TRecorderRun run(config);
  run.At(500, K::Click, "ImgBtnStartRecord");
  run.Run();
  ASSERT_FALSE(run.ScriptError.empty());
  const std::vector<std::string> segments = ListSegmentFiles(run.Form->Session.RecordingFolder);
  ASSERT_EQ(segments.size(), 3u);

  std::vector<TSegmentInput> inputs;
  for (const std::string& s : segments) inputs.push_back({s, std::nullopt});
  const TOutputResult whole = WriteOutputFiles(inputs, 0, 0, Dir + "/whole.swf");
  EXPECT_EQ(whole.SegmentsJoined, 3u);
  const TFrameCheck check = CheckFrames(Dir + "/whole.swf", run.Grabs);
  EXPECT_TRUE(check.Ok) << check.Message;
  EXPECT_GT(check.LastGrab, 250u);  // three segments of about a hundred grabs each

  // The last segment cut in half: the two before it are kept whole, and of the cut one the
  // frames completed before the cut.
  std::filesystem::resize_file(segments[2], std::filesystem::file_size(segments[2]) / 2);
  const TOutputResult cut = WriteOutputFiles(inputs, 0, 0, Dir + "/cut.swf");
  EXPECT_EQ(cut.SegmentsJoined, 3u);
  ASSERT_EQ(cut.Warnings.size(), 1u);
  EXPECT_NE(cut.Warnings[0].find("cut off"), std::string::npos);
  ASSERT_EQ(cut.Inputs.size(), 3u);
  EXPECT_GT(cut.Inputs[2].FramesDropped, 0u);
  EXPECT_LT(cut.Frames, whole.Frames);
  const TFrameCheck first = CheckFrames(Dir + "/cut.swf", run.Grabs);
  EXPECT_TRUE(first.Ok) << first.Message;
}

TEST_F(RecorderFiles, ARecordingTooBigForOneMovieGoesOnInParts) {
  TOutputLimits limits;
  limits.MaxCharacterIds = 900;  // a lively segment needs several hundred ids
  TRecorderRun run(Lively(), limits);
  run.At(500, K::Click, "ImgBtnStartRecord");
  run.StopAndSaveAt(30500, Dir + "/long.swf");
  run.Run();
  const TOutputResult& out = run.Form->Session.LastOutput;
  ASSERT_GE(out.Movies.size(), 2u) << run.Diagnostics.str();
  EXPECT_EQ(out.Movies[1], Dir + "/long-2.swf");
  const std::string page = ReadText(Dir + "/long.html");
  EXPECT_NE(page.find("<embed src=\"long.swf\""), std::string::npos);
  EXPECT_NE(page.find("href=\"long-2.swf\""), std::string::npos);
  // Each part is a whole movie; together they play every grab in order.
  std::size_t next = 0;
  std::uint64_t frames = 0;
  for (const std::string& movie : out.Movies) {
    const TFrameCheck check = CheckFrames(movie, run.Grabs, next);
    EXPECT_TRUE(check.Ok) << movie << ": " << check.Message;
    EXPECT_LE(check.Info.Bitmaps * 2 + check.Info.SpritePlacements.size() * 2, 900u);
    next = check.LastGrab + 1;
    frames += check.Frames;
  }
  EXPECT_EQ(next, run.Grabs.size());
  EXPECT_EQ(frames, out.Frames);
}

// A disk that runs full during a recording: the user is told at once in the tool window, the
// recording stops, the save dialog offers to put the movie elsewhere, and every frame that
// reached the disk is in it.
struct TDiskFullCase {
  const char* Name;
  TDiskFull Full;
  std::uint32_t MinFrames;  // at least this much of the recording is saved
  bool FramesLost;          // and the frame the disk could not take is reported lost
};

void PrintTo(const TDiskFullCase& c, std::ostream* os) {
  *os << c.Name;
}

class RecorderDiskFull : public TempHome, public ::testing::WithParamInterface<TDiskFullCase> {};

TEST_P(RecorderDiskFull, TheUserIsToldAtOnceAndWhatReachedTheDiskIsSaved) {
  const TDiskFullCase& c = GetParam();
  TRecorderRun run(Lively(), {}, FullDiskFactory(c.Full));
  run.At(500, K::Click, "ImgBtnStartRecord");
  run.AnswerSave(Dir + "/out.swf", 300);
  run.Run();
  const std::vector<sim::TSimCall> boxes = run.Desktop.CallsOf("MessageBox");
  ASSERT_FALSE(boxes.empty()) << run.Diagnostics.str();
  EXPECT_EQ(boxes[0].Caption, "Kestrova");
  EXPECT_NE(boxes[0].Text.find("could not be written"), std::string::npos) << boxes[0].Text;
  EXPECT_NE(boxes[0].Text.find("No space left on device"), std::string::npos) << boxes[0].Text;
  EXPECT_EQ(run.Form->Session.WriteFailure.empty(), false);
  // Told at once, and nothing recorded after.
  ASSERT_FALSE(run.Grabs.empty());
  EXPECT_LE(run.Grabs.back().AtMs, boxes[0].AtMs);
  EXPECT_EQ(run.Desktop.CallsOf("SaveDialog").size(), 1u);

  ASSERT_FALSE(run.Form->Session.LastOutputFailed) << run.Diagnostics.str();
  const TFrameCheck check = CheckFrames(Dir + "/out.swf", run.Grabs);
  EXPECT_TRUE(check.Ok) << check.Message;
  EXPECT_GE(check.Frames, c.MinFrames);
  EXPECT_EQ(run.Form->Session.FramesLost > 0, c.FramesLost);
  if (c.FramesLost) {
    EXPECT_NE(boxes.back().Text.find("could not be written"), std::string::npos);
    EXPECT_NE(boxes.back().Text.find(" s of it ("), std::string::npos) << boxes.back().Text;
  }
  EXPECT_TRUE(RecordingFolders().empty()) << "everything was joined";
  // No salvaged copy is left beside the movie.
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(Dir)) ++files;
  EXPECT_EQ(files, 4u);  // home, state, out.swf, out.html
}

const TDiskFullCase kDiskFull[] = {
    // Frame 150 closes in the second segment, about 12.5 s in.
    {"WhileAFrameIsWritten", {150, 0}, 140, true},
    // The second segment, 20 s in, cannot be saved: its body holds all its frames.
    {"WhileASegmentIsSaved", {0, 2}, 230, false},
    {"InTheFirstSegment", {40, 0}, 35, true},
};

INSTANTIATE_TEST_SUITE_P(Disks, RecorderDiskFull, ::testing::ValuesIn(kDiskFull),
                         [](const auto& info) { return std::string(info.param.Name); });

// On a still screen a frame is a few bytes, which a write buffer would hold for minutes: the
// segment being recorded still reaches the disk every second, so a crash costs at most that.
TEST_F(RecorderFiles, TheSegmentBeingRecordedReachesTheDiskEverySecond) {
  TRecorderRun run(Still());
  run.At(500, K::Click, "ImgBtnStartRecord");
  run.StopAndSaveAt(8000, Dir + "/out.swf");
  std::vector<std::pair<std::int32_t, std::uint32_t>> shownAndOnDisk;
  const auto note = run.Desktop.OnGrab;
  run.Desktop.OnGrab = [&](const sim::TSimGrabRecord& g) {
    note(g);
    if (run.Grabs.size() % 5 != 0) return;
    const std::string body =
        run.Form->Session.SegmentFileName(run.Form->Session.SegmentNumber) + ".body.part";
    if (!Exists(body)) return;
    shownAndOnDisk.emplace_back(run.Form->Session.Encoder.FramesShown,
                                FramesOnDisk(body, Dir + "/scratch.swf"));
  };
  run.Run();
  ExpectSavedRecording(run, Dir + "/out.swf", Dir);
  ASSERT_GT(shownAndOnDisk.size(), 8u);
  for (const auto& [shown, onDisk] : shownAndOnDisk) {
    // A second is 12 frames; one more for the frame in the making.
    EXPECT_GE(static_cast<std::int32_t>(onDisk), shown - 13) << shown;
  }
  EXPECT_GT(shownAndOnDisk.back().second, 48u);
}

// The live recording holds its folder locked until its movie is written.
TEST_F(RecorderFiles, ALiveRecordingsFolderIsInUse) {
  TRecorderRun run(Still());
  run.At(500, K::Click, "ImgBtnStartRecord");
  run.StopAndSaveAt(3000, Dir + "/out.swf");
  std::vector<bool> inUse;
  const auto note = run.Desktop.OnGrab;
  run.Desktop.OnGrab = [&](const sim::TSimGrabRecord& g) {
    note(g);
    inUse.push_back(FolderInUse(run.Form->Session.RecordingFolder));
  };
  run.Run();
  ASSERT_FALSE(inUse.empty());
  EXPECT_EQ(std::count(inUse.begin(), inUse.end(), true), static_cast<long>(inUse.size()));
  EXPECT_TRUE(RecordingFolders().empty());
}

}  // namespace
}  // namespace kestrova::test
