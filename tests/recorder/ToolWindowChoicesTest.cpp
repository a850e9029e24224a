// The tool window's choices beside what to record, driven by scripts on the simulated desktop:
// the countdown before a recording, changing the hot key, the sound choice, and a stop asked by
// another program (kestrova stop).
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "platform/HotKeyName.h"
#include "platform/sim/SimDesktop.h"
#include "recorder/Recorder.h"
#include "tests/recorder/RecorderHarness.h"

namespace kestrova::test {
namespace {

using namespace platform;
using K = TSimActionKind;

TSimConfig Lively() {
  TSimConfig c = sim::DemoDesktop(160, 200);
  c.TimeLimitMs = 120000;
  return c;
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

class ToolWindowChoices : public TempHome, public ::testing::WithParamInterface<TCase> {};

TEST_P(ToolWindowChoices, Script) {
  const TCase& c = GetParam();
  TRecorderRun run(c.Config());
  c.Script(run, Dir);
  run.Run();
  EXPECT_TRUE(run.ScriptError.empty()) << run.ScriptError;
  c.Check(run, Dir);
}

void ExpectMovieOfGrabs(TRecorderRun& r, const std::string& movie) {
  ASSERT_TRUE(Exists(movie)) << r.Diagnostics.str();
  const TFrameCheck check = CheckFrames(movie, r.Grabs);
  EXPECT_TRUE(check.Ok) << check.Message;
  EXPECT_EQ(check.LastGrab + 1, r.Grabs.size());
}

// The countdown ran for seconds, after the tool window went and before the first grab.
void ExpectCountdownBeforeFirstGrab(TRecorderRun& r, int seconds) {
  const auto countdowns = r.Desktop.CallsOf("Countdown");
  ASSERT_EQ(countdowns.size(), 1u);
  EXPECT_EQ(countdowns[0].Detail, std::to_string(seconds));
  EXPECT_EQ(countdowns[0].Result, 1);
  const auto hides = r.Desktop.CallsOf("ToolWindowHide");
  ASSERT_FALSE(hides.empty());
  EXPECT_LE(hides[0].AtMs, countdowns[0].AtMs) << "the tool window is gone before it counts";
  ASSERT_FALSE(r.Grabs.empty());
  EXPECT_GE(r.Grabs.front().AtMs, countdowns[0].AtMs + seconds * 1000u);
  EXPECT_LT(r.Grabs.front().AtMs, countdowns[0].AtMs + seconds * 1000u + 200);
}

// A sound source that is never opened here: the tests see only what the session is told.
class TNoSound : public TSoundSource {
 public:
  bool Open(TSoundInput, const TSoundFormat&, std::string& whyNot) override {
    whyNot = "a test source";
    return false;
  }
  TSoundRead Read(std::vector<std::int16_t>&) override { return {}; }
  void Close() override {}
};
TNoSound gSound;

const TCase kCases[] = {
    // Never set: three seconds, and the first frame is the screen without the tool window.
    {"CountdownOfThreeSecondsByDefault", Lively,
     [](TRecorderRun& r, const std::string& d) {
       r.Desktop.SettingsStore().erase("Countdown");
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.StopAndSaveAt(6000, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       ExpectCountdownBeforeFirstGrab(r, 3);
       ExpectMovieOfGrabs(r, d + "/out.swf");
     }},
    // Set in the tool window: kept, and the next start counts that long.
    {"CountdownSetInTheToolWindowIsKeptAndUsed", Lively,
     [](TRecorderRun& r, const std::string& d) {
       r.At(200, K::SetValue, "SpnCountdown=5");
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.StopAndSaveAt(8000, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       EXPECT_EQ(r.Desktop.SettingsStore()["Countdown"], "5");
       ExpectCountdownBeforeFirstGrab(r, 5);
       ExpectMovieOfGrabs(r, d + "/out.swf");
     }},
    // 0 turns it off: the recording starts at the click.
    {"CountdownOfZeroIsNone", Lively,
     [](TRecorderRun& r, const std::string& d) {
       r.Desktop.SettingsStore()["Countdown"] = "4";
       r.At(200, K::SetValue, "SpnCountdown=0");
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.StopAndSaveAt(3000, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       EXPECT_EQ(r.Desktop.SettingsStore()["Countdown"], "0");
       EXPECT_TRUE(r.Desktop.CallsOf("Countdown").empty());
       ASSERT_FALSE(r.Grabs.empty());
       EXPECT_LT(r.Grabs.front().AtMs, 700u);
       ExpectMovieOfGrabs(r, d + "/out.swf");
     }},
    // What is not a number of seconds it can count is not kept; a bad stored value is the default.
    {"CountdownRefusesWhatItCannotCount", Lively,
     [](TRecorderRun& r, const std::string& d) {
       r.Desktop.SettingsStore()["Countdown"] = "-4";
       r.At(100, K::SetValue, "SpnCountdown=abc");
       r.At(150, K::SetValue, "SpnCountdown=61");
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.StopAndSaveAt(6000, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       EXPECT_EQ(r.Desktop.SettingsStore()["Countdown"], "-4");
       EXPECT_EQ(r.Desktop.ToolValue("SpnCountdown"), "3");
       ExpectCountdownBeforeFirstGrab(r, 3);
       ExpectMovieOfGrabs(r, d + "/out.swf");
     }},
    // A click on the countdown: nothing recorded, the tool window back, and Start starts again.
    {"CountdownCancelledThenStartAgain", Lively,
     [](TRecorderRun& r, const std::string& d) {
       r.Desktop.SettingsStore()["Countdown"] = "2";
       r.Desktop.Answer(TSimDialog::Countdown, {0, std::nullopt, 1200});
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(4000, K::Click, "ImgBtnStartRecord");
       r.StopAndSaveAt(9000, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       const auto countdowns = r.Desktop.CallsOf("Countdown");
       ASSERT_EQ(countdowns.size(), 2u);
       EXPECT_EQ(countdowns[0].Result, 0);
       EXPECT_EQ(countdowns[1].Result, 1);
       const auto shows = r.Desktop.CallsOf("ToolWindowShow");
       ASSERT_GE(shows.size(), 2u);
       EXPECT_EQ(shows[1].AtMs, 1700u) << "back as soon as it was cancelled";
       ASSERT_FALSE(r.Grabs.empty());
       EXPECT_GE(r.Grabs.front().AtMs, 6000u);
       ExpectMovieOfGrabs(r, d + "/out.swf");
     }},
    // Active Window: the wait to activate the window is the countdown, three seconds at least.
    {"ActiveWindowWaitIsTheCountdown", Lively,
     [](TRecorderRun& r, const std::string& d) {
       r.Desktop.SettingsStore()["Countdown"] = "1";
       r.At(200, K::Click, "RdoActiveWindow");
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(2000, K::Activate, "", 1);
       r.StopAndSaveAt(7000, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       ExpectCountdownBeforeFirstGrab(r, 3);
       ASSERT_FALSE(r.Grabs.empty());
       EXPECT_EQ(r.Grabs.front().Window, 1u);
       ExpectMovieOfGrabs(r, d + "/out.swf");
     }},
    // Changed from the tool window while idle: the new key is held at once, the old one let go,
    // the label names the new one, and only the new one stops the recording.
    {"HotKeyChangedInTheToolWindow", Lively,
     [](TRecorderRun& r, const std::string& d) {
       r.Desktop.Answer(TSimDialog::HotKey, {0, std::string("Ctrl+Shift+R"), 300});
       r.At(200, K::Click, "BtnHotKey");
       r.At(1000, K::Click, "ImgBtnStartRecord");
       r.At(2000, K::HotKey, "Ctrl+Alt+S");  // no longer ours: nothing happens
       r.At(3000, K::HotKey, "Ctrl+Shift+R");
       r.Answer(TSimDialog::Paused, kPausedStop, 200);
       r.Answer(TSimDialog::Question, kIdYes, 200);
       r.AnswerSave(d + "/out.swf", 300);
     },
     [](TRecorderRun& r, const std::string& d) {
       const auto dialogs = r.Desktop.CallsOf("HotKeyDialog");
       ASSERT_EQ(dialogs.size(), 1u);
       EXPECT_EQ(dialogs[0].Text, "Ctrl+Alt+S");
       EXPECT_EQ(dialogs[0].Detail, "Asked|Ctrl+Shift+R");
       EXPECT_EQ(r.Desktop.SettingsStore()["HotKey"], "Ctrl+Shift+R");
       EXPECT_EQ(r.Desktop.ToolValue("Label2"), "Press Ctrl+Shift+R to Stop");
       const auto registers = r.Desktop.CallsOf("HotKeyRegister");
       const auto unregisters = r.Desktop.CallsOf("HotKeyUnregister");
       ASSERT_EQ(registers.size(), 2u);
       ASSERT_FALSE(unregisters.empty());
       EXPECT_EQ(unregisters[0].Result, registers[0].Result) << "the old key is let go";
       EXPECT_GE(unregisters[0].AtMs, registers[1].AtMs) << "after the new one is held";
       const auto paused = r.Desktop.CallsOf("PausedDialog");
       ASSERT_EQ(paused.size(), 1u);
       EXPECT_GE(paused[0].AtMs, 3000u);
       ExpectMovieOfGrabs(r, d + "/out.swf");
     }},
    // A key another program holds: the dialog says so and offers again; cancelling keeps the old.
    {"HotKeyThatCannotBeHadIsOfferedAgain",
     [] {
       TSimConfig c = Lively();
       c.HeldHotKeys = {*ParseHotKey("Ctrl+Shift+R")};
       return c;
     },
     [](TRecorderRun& r, const std::string& d) {
       r.Desktop.Answer(TSimDialog::HotKey, {0, std::string("Ctrl+Shift+R"), 100});
       r.Desktop.Answer(TSimDialog::HotKey, {0, std::nullopt, 100});
       r.At(200, K::Click, "BtnHotKey");
       r.At(1000, K::Click, "ImgBtnStartRecord");
       r.StopAndSaveAt(3000, d + "/out.swf");  // Ctrl+Alt+S still stops it
     },
     [](TRecorderRun& r, const std::string& d) {
       const auto dialogs = r.Desktop.CallsOf("HotKeyDialog");
       ASSERT_EQ(dialogs.size(), 2u);
       EXPECT_EQ(dialogs[1].Text, "Ctrl+Shift+R");
       EXPECT_EQ(dialogs[1].Detail, "Taken|");
       EXPECT_EQ(r.Desktop.SettingsStore().count("HotKey"), 0u);
       EXPECT_EQ(r.Desktop.ToolValue("Label2"), "Press Ctrl+Alt+S to Stop");
       ExpectMovieOfGrabs(r, d + "/out.swf");
     }},
    // From the tray menu during a recording: the new key stops it.
    {"HotKeyChangedFromTheTrayWhileRecording", Lively,
     [](TRecorderRun& r, const std::string& d) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(2000, K::TrayRightClick);
       r.Answer(TSimDialog::Menu, kMenuHotKey, 100);
       r.Desktop.Answer(TSimDialog::HotKey, {0, std::string("Ctrl+Alt+Q"), 300});
       r.At(4000, K::HotKey, "Ctrl+Alt+Q");
       r.Answer(TSimDialog::Paused, kPausedStop, 200);
       r.Answer(TSimDialog::Question, kIdYes, 200);
       r.AnswerSave(d + "/out.swf", 300);
     },
     [](TRecorderRun& r, const std::string& d) {
       EXPECT_EQ(r.Desktop.SettingsStore()["HotKey"], "Ctrl+Alt+Q");
       EXPECT_EQ(r.Desktop.CallsOf("PausedDialog").size(), 1u);
       ExpectMovieOfGrabs(r, d + "/out.swf");
       EXPECT_GT(r.Grabs.back().AtMs, 3800u) << "it ran until the new key stopped it";
     }},
    // kestrova stop while recording: the save flow of Stop Record, then the answer says where.
    {"StopRequestWhileRecordingSavesAndAnswers", Lively,
     [](TRecorderRun& r, const std::string& d) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(3000, K::StopRequest);
       r.Answer(TSimDialog::Question, kIdYes, 200);
       r.AnswerSave(d + "/out.swf", 300);
     },
     [](TRecorderRun& r, const std::string& d) {
       EXPECT_TRUE(r.Desktop.CallsOf("PausedDialog").empty());
       EXPECT_EQ(r.Desktop.MessageTexts(), std::vector<std::string>{kMsgSaveRecording});
       ExpectMovieOfGrabs(r, d + "/out.swf");
       const auto answers = r.Desktop.CallsOf("StopAnswer");
       ASSERT_EQ(answers.size(), 1u);
       EXPECT_EQ(answers[0].Result, 1);
       EXPECT_EQ(answers[0].Text,
                 "stopped the recording of the full screen; saved as " + d + "/out.swf");
     }},
    // While the paused dialog was open: the backend closed it as by Stop Record (Param 1).
    {"StopRequestWhilePausedIsAnsweredOnceSaved", Lively,
     [](TRecorderRun& r, const std::string& d) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(2000, K::HotKey);
       r.At(2100, K::StopRequest, "", 0, {}, 1);
       r.Answer(TSimDialog::Paused, kPausedStop, 200);
       r.Answer(TSimDialog::Question, kIdYes, 200);
       r.AnswerSave(d + "/out.swf", 300);
     },
     [](TRecorderRun& r, const std::string& d) {
       EXPECT_EQ(r.Desktop.MessageTexts(), std::vector<std::string>{kMsgSaveRecording});
       ExpectMovieOfGrabs(r, d + "/out.swf");
       const auto answers = r.Desktop.CallsOf("StopAnswer");
       ASSERT_EQ(answers.size(), 1u);
       EXPECT_EQ(answers[0].Result, 1);
       EXPECT_NE(answers[0].Text.find("saved as " + d + "/out.swf"), std::string::npos);
     }},
    // The user cancels the save: the recording goes on, and the answer says so.
    {"StopRequestWhoseSaveIsCancelledLeavesTheRecordingGoing", Lively,
     [](TRecorderRun& r, const std::string& d) {
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.At(2000, K::StopRequest);
       r.Answer(TSimDialog::Question, kIdCancel, 200);
       r.Answer(TSimDialog::Paused, kPausedContinue, 200);
       r.StopAndSaveAt(5000, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       const auto answers = r.Desktop.CallsOf("StopAnswer");
       ASSERT_EQ(answers.size(), 1u);
       EXPECT_EQ(answers[0].Result, 0);
       EXPECT_NE(answers[0].Text.find("goes on"), std::string::npos) << answers[0].Text;
       ExpectMovieOfGrabs(r, d + "/out.swf");
       EXPECT_GT(r.Grabs.back().AtMs, 4800u) << "it went on until stopped";
     }},
    // Idle: nothing happens but the answer and a line in the log.
    {"StopRequestWhileIdleDoesNothing", Lively,
     [](TRecorderRun& r, const std::string&) {
       r.At(300, K::StopRequest);
       r.At(1000, K::CloseToolWindow);
     },
     [](TRecorderRun& r, const std::string&) {
       EXPECT_TRUE(r.Grabs.empty());
       EXPECT_TRUE(r.Desktop.MessageTexts().empty());
       const auto answers = r.Desktop.CallsOf("StopAnswer");
       ASSERT_EQ(answers.size(), 1u);
       EXPECT_EQ(answers[0].Result, 0);
       EXPECT_NE(answers[0].Text.find("nothing is being recorded"), std::string::npos);
       EXPECT_NE(r.Diagnostics.str().find("nothing is being recorded"), std::string::npos);
     }},
    // Without a sound source the choice is greyed out, says why, and takes no change.
    {"SoundChoiceWithoutASoundSourceIsDisabled", Lively,
     [](TRecorderRun& r, const std::string& d) {
       r.Desktop.Platform().Sound = nullptr;  // the simulated desktop's tone source taken away
       r.Desktop.SettingsStore()["Audio"] = "Both";
       r.At(200, K::SetValue, "CmbAudio=Microphone");
       r.At(500, K::Click, "ImgBtnStartRecord");
       r.StopAndSaveAt(2500, d + "/out.swf");
     },
     [](TRecorderRun& r, const std::string& d) {
       EXPECT_FALSE(r.Desktop.ToolEnabled("CmbAudio"));
       EXPECT_NE(r.Desktop.ToolTip("CmbAudio").find(kMsgNoSoundSource), std::string::npos);
       EXPECT_EQ(r.Desktop.ToolValue("CmbAudio"), "None");
       EXPECT_EQ(r.Desktop.SettingsStore()["Audio"], "Both");
       EXPECT_EQ(r.Form->Session.Options().Sound.Input, TSoundInput::Off);
       ExpectMovieOfGrabs(r, d + "/out.swf");
     }},
};

INSTANTIATE_TEST_SUITE_P(Scripts, ToolWindowChoices, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

class SoundChoice : public TempHome {};

// With a sound source: the choice is kept, reaches the session's options at Start, and is
// offered again by the next start of the program.
TEST_F(SoundChoice, IsRememberedAndGivenToTheSession) {
  const struct {
    const char* Picked;
    TSoundInput Input;
  } rows[] = {{"Microphone", TSoundInput::Microphone},
              {"System", TSoundInput::System},
              {"Both", TSoundInput::Both},
              {"None", TSoundInput::Off}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Picked);
    std::map<std::string, std::string> kept;
    {
      TRecorderRun r(Lively());
      r.Desktop.Platform().Sound = &gSound;
      r.At(200, K::SetValue, std::string("CmbAudio=") + row.Picked);
      r.At(500, K::Click, "ImgBtnStartRecord");
      r.StopAndSaveAt(2000, Dir + "/out.swf");
      r.Run();
      ASSERT_TRUE(r.ScriptError.empty()) << r.ScriptError;
      EXPECT_TRUE(r.Desktop.ToolEnabled("CmbAudio"));
      EXPECT_EQ(r.Desktop.SettingsStore()["Audio"], row.Picked);
      EXPECT_EQ(r.Form->Session.Options().Sound.Input, row.Input);
      kept = r.Desktop.SettingsStore();
    }
    TRecorderRun next(Lively());
    next.Desktop.Platform().Sound = &gSound;
    next.Desktop.SettingsStore() = kept;
    next.At(200, K::CloseToolWindow);
    next.Run();
    EXPECT_EQ(next.Desktop.ToolValue("CmbAudio"), row.Picked);
  }
}

}  // namespace
}  // namespace kestrova::test
