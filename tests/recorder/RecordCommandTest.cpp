// The recording commands of the program, run as a user runs them (on the simulated desktop,
// the only desktop of a machine without a display).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/Commands.h"
#include "player/WebPage.h"
#include "recorder/Output.h"
#include "tests/recorder/RecorderHarness.h"

namespace kestrova::test {
namespace {

class RecordCommands : public TempHome {
 protected:
  // The simulated desktop, also where a display is there: the tests must not record a real one.
  void SetUp() override {
    TempHome::SetUp();
    ::setenv("KESTROVA_PLATFORM", "sim", 1);
  }
  void TearDown() override {
    ::unsetenv("KESTROVA_PLATFORM");
    TempHome::TearDown();
  }
  int Run(const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    return RunCommandLine(args, out, err);
  }
  std::ostringstream out, err;
};

TEST_F(RecordCommands, RecordWritesTheMovieAndPageAndReportsProgress) {
  ASSERT_EQ(Run({"record", "--seconds", "2", "-o", Dir + "/r.swf"}), 0) << err.str();
  EXPECT_NE(out.str().find("wrote " + Dir + "/r.swf"), std::string::npos);
  EXPECT_NE(err.str().find("recording: "), std::string::npos);
  EXPECT_NE(err.str().find(" frames, "), std::string::npos);
  const TMovieInfo info = PlayMovie(Dir + "/r.swf", [](auto, const auto&, const auto&) {});
  EXPECT_TRUE(info.Problems.empty());
  EXPECT_EQ(info.Width, 1024);
  EXPECT_NEAR(info.FrameCount, 24, 3);
  EXPECT_NE(ReadText(Dir + "/r.html").find("<embed src=\"r.swf\""), std::string::npos);
  EXPECT_TRUE(RecordingFolders().empty());
}

TEST_F(RecordCommands, ANamedFileThatWasThereIsSaidToBeReplaced) {
  std::ofstream(Dir + "/old.swf") << "an earlier movie";
  ASSERT_EQ(Run({"record", "--seconds", "1", "-o", Dir + "/old.swf"}), 0) << err.str();
  EXPECT_NE(out.str().find("wrote " + Dir + "/old.swf (it replaced the file of that name)"),
            std::string::npos)
      << out.str();
  ASSERT_EQ(Run({"record", "--seconds", "1", "-o", Dir + "/new.swf"}), 0) << err.str();
  EXPECT_EQ(out.str().find("replaced"), std::string::npos) << out.str();
}

TEST_F(RecordCommands, AnotherHotKeyRecordsAndANonsenseOneIsRefused) {
  ASSERT_EQ(Run({"record", "--hotkey", "Ctrl+Shift+R", "--seconds", "1", "-o", Dir + "/h.swf"}), 0)
      << err.str();
  EXPECT_EQ(err.str().find("is held by another program"), std::string::npos) << err.str();
  for (const char* bad : {"R", "Ctrl+F1", "Ctrl+"}) {
    EXPECT_EQ(Run({"record", "--hotkey", bad, "-o", Dir + "/e.swf"}), 2) << bad;
    EXPECT_NE(err.str().find("--hotkey takes"), std::string::npos) << bad;
  }
}

TEST_F(RecordCommands, DelayCountsDownBeforeTheRecordingStarts) {
  ASSERT_EQ(Run({"record", "--delay", "2", "--seconds", "1", "-o", Dir + "/d.swf"}), 0)
      << err.str();
  const std::string said = err.str();
  const auto two = said.find("starting in 2 s"), one = said.find("starting in 1 s");
  const auto recording = said.find("recording: ");
  ASSERT_NE(two, std::string::npos) << said;
  ASSERT_NE(one, std::string::npos) << said;
  EXPECT_LT(two, one);
  EXPECT_LT(one, recording);
  for (const char* bad : {"x", "-1", "3601"}) {
    EXPECT_EQ(Run({"record", "--delay", bad, "-o", Dir + "/e.swf"}), 2) << bad;
    EXPECT_NE(err.str().find("--delay takes"), std::string::npos) << bad;
  }
}

// The page plays in today's browsers through the web player's script, and keeps the object and
// embed markup for players of their own.
TEST_F(RecordCommands, WebPlayerPutsItsScriptOnThePage) {
  ASSERT_EQ(Run({"record", "--seconds", "1", "-o", Dir + "/my take.swf", "--web-player",
                 "ruffle/ruffle.js"}),
            0)
      << err.str();
  const std::string page = ReadText(Dir + "/my take.html");
  EXPECT_EQ(page.rfind("<html><script src=\"ruffle/ruffle.js\"></script><object classid=", 0), 0u)
      << page;
  EXPECT_NE(page.find("width=\"1024\" height=\"768\"><param name=\"movie\" value=\"my take.swf\">"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("<embed src=\"my take.swf\" quality=\"high\""), std::string::npos) << page;
  EXPECT_NE(page.find("</embed></object></html>"), std::string::npos) << page;
  // Without the option the page has no script.
  ASSERT_EQ(Run({"record", "--seconds", "1", "-o", Dir + "/plain.swf"}), 0) << err.str();
  EXPECT_EQ(ReadText(Dir + "/plain.html").find("<script"), std::string::npos);
}

TEST_F(RecordCommands, CtrlCStopsTheRecordingAndSavesIt) {
  // Without --seconds the simulated desktop keeps to the real clock until the signal comes.
  std::thread interrupter([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ::kill(::getpid(), SIGINT);
  });
  const int status = Run({"record", "-o", Dir + "/c.swf"});
  interrupter.join();
  ASSERT_EQ(status, 0) << err.str();
  EXPECT_NE(err.str().find("until Ctrl+C"), std::string::npos);
  const TMovieInfo info = PlayMovie(Dir + "/c.swf", [](auto, const auto&, const auto&) {});
  EXPECT_TRUE(info.Problems.empty());
  EXPECT_GT(info.FrameCount, 0u);
  EXPECT_TRUE(Exists(Dir + "/c.html"));
}

TEST_F(RecordCommands, RecordTheActiveWindow) {
  ASSERT_EQ(Run({"record", "--active-window", "--seconds", "1", "-o", Dir + "/w.swf"}), 0)
      << err.str();
  const TMovieInfo info = PlayMovie(Dir + "/w.swf", [](auto, const auto&, const auto&) {});
  EXPECT_TRUE(info.Problems.empty());
  EXPECT_EQ(info.Width, 1024);  // a window is shown on a stage of the desktop's size
}

TEST_F(RecordCommands, BadArgumentsAndUnknownPlatforms) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"record", "--seconds", "0"},
                                               {"record", "--seconds", "x"},
                                               {"record", "--full-screen", "--active-window"},
                                               {"record", "--bogus"},
                                               {"record", "--web-player"},
                                               {"record", "--web-player", ""},
                                               {"recover", "--web-player"},
                                               {"recover", "a", "b"}}) {
    EXPECT_EQ(Run(args), 2) << args[1];
    EXPECT_NE(err.str().find("Usage: kestrova " + args[0]), std::string::npos);
  }
  ::unsetenv("KESTROVA_PLATFORM");
  EXPECT_EQ(Run({"record", "--platform", "nosuch", "--seconds", "1"}), 1);
  EXPECT_NE(err.str().find("(there are: sim"), std::string::npos);
  ::setenv("KESTROVA_PLATFORM", "nosuch", 1);
  EXPECT_EQ(Run({"record", "--seconds", "1", "-o", Dir + "/x.swf"}), 1);
  EXPECT_NE(err.str().find("KESTROVA_PLATFORM"), std::string::npos);
  ::setenv("KESTROVA_PLATFORM", "sim", 1);
  EXPECT_EQ(Run({"record", "--seconds", "1", "-o", Dir + "/x.swf"}), 0) << err.str();
}

TEST_F(RecordCommands, AFailedSaveKeepsTheSegmentsAndRecoverJoinsThem) {
  EXPECT_EQ(Run({"record", "--seconds", "2", "-o", Dir + "/missing/r.swf"}), 1);
  EXPECT_NE(err.str().find("could not be saved"), std::string::npos);
  ASSERT_EQ(RecordingFolders().size(), 1u);
  EXPECT_EQ(ListSegmentFiles(RecordingFolders()[0]).size(), 1u);

  ASSERT_EQ(Run({"recover", "-o", Dir + "/saved.swf", "--web-player", "https://example.org/r.js"}),
            0)
      << err.str();
  EXPECT_EQ(
      ReadText(Dir + "/saved.html").rfind("<html><script src=\"https://example.org/r.js\">", 0),
      0u);
  EXPECT_NE(out.str().find("1 segments"), std::string::npos);
  EXPECT_NE(out.str().find("wrote " + Dir + "/saved.html"), std::string::npos);
  const TMovieInfo info = PlayMovie(Dir + "/saved.swf", [](auto, const auto&, const auto&) {});
  EXPECT_TRUE(info.Problems.empty());
  EXPECT_NEAR(info.FrameCount, 24, 3);
  EXPECT_TRUE(RecordingFolders().empty());
  EXPECT_EQ(Run({"recover"}), 0);
  EXPECT_NE(out.str().find("No unsaved recording"), std::string::npos);
}

TEST_F(RecordCommands, WithoutArgumentsTheToolWindowProgramRunsADemonstration) {
  EXPECT_EQ(Run({}), 0) << err.str();
  EXPECT_NE(err.str().find("scripted demonstration on the simulated desktop"), std::string::npos);
  const std::vector<std::string> movies = DefaultNamedMovies(Dir + "/home");
  ASSERT_EQ(movies.size(), 1u);
  const TMovieInfo info = PlayMovie(movies[0], [](auto, const auto&, const auto&) {});
  EXPECT_TRUE(info.Problems.empty());
  EXPECT_NEAR(info.FrameCount, 72, 4);
  EXPECT_TRUE(Exists(WebPageFileName(movies[0])));
}

}  // namespace
}  // namespace kestrova::test
