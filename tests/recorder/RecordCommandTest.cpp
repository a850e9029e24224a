// The recording commands of the program, run as a user runs them (on the simulated desktop,
// the only desktop of a machine without a display).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "app/Commands.h"
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

  ASSERT_EQ(Run({"recover", "-o", Dir + "/saved.swf"}), 0) << err.str();
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
  const TMovieInfo info =
      PlayMovie(Dir + "/home/Kestrova.swf", [](auto, const auto&, const auto&) {});
  EXPECT_TRUE(info.Problems.empty());
  EXPECT_NEAR(info.FrameCount, 72, 4);
  EXPECT_TRUE(Exists(Dir + "/home/Kestrova.html"));
}

}  // namespace
}  // namespace kestrova::test
