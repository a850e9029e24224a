// The recording commands of the program, run as a user runs them (on the simulated desktop,
// the only desktop of a machine without a display).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "app/Commands.h"
#include "app/RecordCommands.h"
#include "platform/PosixFiles.h"
#include "player/WebPage.h"
#include "recorder/Output.h"
#include "recorder/RecordingFolder.h"
#include "recorder/SoundEncoder.h"
#include "swfstreams/SWFStreams.h"
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

// The page plays in today's browsers through the web player's script (the public copy unless
// another is named), and keeps the object and embed markup for players of their own; "none"
// writes that markup alone.
TEST_F(RecordCommands, WebPlayerPutsItsScriptOnThePage) {
  ASSERT_EQ(Run({"record", "--seconds", "1", "-o", Dir + "/my take.swf", "--web-player",
                 "ruffle/ruffle.js"}),
            0)
      << err.str();
  const std::string page = ReadText(Dir + "/my take.html");
  EXPECT_NE(page.find("(\"ruffle/ruffle.js\",[\"my take.swf\"]);</script>"), std::string::npos)
      << page;
  EXPECT_NE(page.find("width=\"1024\" height=\"768\"><param name=\"movie\" value=\"my take.swf\">"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("<embed src=\"my take.swf\" quality=\"high\""), std::string::npos) << page;
  ASSERT_EQ(Run({"record", "--seconds", "1", "-o", Dir + "/default.swf"}), 0) << err.str();
  EXPECT_NE(
      ReadText(Dir + "/default.html")
          .find("(\"https://unpkg.com/@ruffle-rs/ruffle@0.6.0/ruffle.js\",[\"default.swf\"]);"),
      std::string::npos);
  ASSERT_EQ(Run({"record", "--seconds", "1", "-o", Dir + "/plain.swf", "--web-player", "none"}), 0)
      << err.str();
  const std::string plain = ReadText(Dir + "/plain.html");
  EXPECT_EQ(plain.find("<script"), std::string::npos) << plain;
  EXPECT_EQ(plain.rfind("<html><object classid=", 0), 0u) << plain;
  EXPECT_NE(plain.find("</embed></object></html>"), std::string::npos) << plain;
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

// The targets beyond the full screen: a region is the stage (clipped to the screen), a window
// is shown on a stage of the desktop's size; one that is not there is refused with the reason.
TEST_F(RecordCommands, RegionAndWindowTargets) {
  struct TTarget {
    std::vector<std::string> Args;
    int Status;
    std::int32_t Width, Height;  // of the movie, when one is written
    const char* Says;            // on err
  };
  const TTarget targets[] = {
      {{"--region", "100,50,320,200"}, 0, 320, 200, "recording the region 320x200 at 100,50"},
      {{"--region", "900,700,300,300"}, 0, 124, 68, "recording the region"},
      {{"--region", "-50,-20,100,60"}, 0, 50, 40, "recording the region"},
      {{"--region", "1024,0,10,10"}, 1, 0, 0, "is not on the screen"},
      {{"--window", "1"}, 0, 1024, 768, "recording window 0x1"},
      {{"--window", "0x99"}, 1, 0, 0, "the window to record is not shown"},
  };
  for (const TTarget& t : targets) {
    std::vector<std::string> args = {"record", "--seconds", "1", "-o", Dir + "/t.swf"};
    args.insert(args.end(), t.Args.begin(), t.Args.end());
    std::filesystem::remove(Dir + "/t.swf");
    EXPECT_EQ(Run(args), t.Status) << t.Args[1] << ": " << err.str();
    EXPECT_NE(err.str().find(t.Says), std::string::npos) << t.Args[1] << ": " << err.str();
    if (t.Status != 0) {
      EXPECT_FALSE(Exists(Dir + "/t.swf")) << t.Args[1];
      EXPECT_TRUE(RecordingFolders().empty()) << t.Args[1];
      continue;
    }
    const TMovieInfo info = PlayMovie(Dir + "/t.swf", [](auto, const auto&, const auto&) {});
    EXPECT_TRUE(info.Problems.empty()) << t.Args[1];
    EXPECT_EQ(info.Width, t.Width) << t.Args[1];
    EXPECT_EQ(info.Height, t.Height) << t.Args[1];
    EXPECT_NEAR(info.FrameCount, 12, 3) << t.Args[1];
  }
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
  EXPECT_NE(ReadText(Dir + "/saved.html").find("(\"https://example.org/r.js\",[\"saved.swf\"]);"),
            std::string::npos);
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

// A recording whose save failed leaves its folder with one finished segment; recover is then run
// on what a case made of that folder.
struct TRecoverCase {
  const char* Name;
  // Changes the folder; returns extra arguments of recover.
  std::function<std::vector<std::string>(const std::string& folder, const std::string& dir)>
      Prepare;
  int Status;
  const char* Says;  // on err
  std::function<void(const std::string& folder, const std::string& dir)> Check;
};

void PrintTo(const TRecoverCase& c, std::ostream* os) {
  *os << c.Name;
}

std::uint32_t PlayedFrames(const std::string& movie) {
  const TMovieInfo info = PlayMovie(movie, [](auto, const auto&, const auto&) {});
  EXPECT_TRUE(info.Problems.empty()) << movie;
  return info.FrameCount;
}

// The body a segment's movie streamed before it was saved, cut after the given share of it, as
// a crash leaves it.
void WriteCutBody(const std::string& segment, const std::string& body, double share) {
  TSWFStreamReader reader(segment);
  ASSERT_TRUE(reader.IsValid);
  const TMemoryStream& all = reader.Body();
  std::ofstream out(body, std::ios::binary);
  out.write(reinterpret_cast<const char*>(all.Data()),
            static_cast<std::streamsize>(static_cast<double>(all.Size()) * share));
}

std::size_t Entries(const std::string& folder) {
  std::size_t n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator(folder, ec);
       it != std::filesystem::directory_iterator(); ++it) {
    ++n;
  }
  return n;
}

// What a case's preparation found the folder to hold.
std::uint32_t GExpectedFrames = 0, GUnfinishedFrames = 0;

class Recover : public RecordCommands, public ::testing::WithParamInterface<TRecoverCase> {};

TEST_P(Recover, JoinsOnlyWhatItCanAndRemovesOnlyWhatItJoined) {
  const TRecoverCase& c = GetParam();
  ASSERT_EQ(Run({"record", "--seconds", "2", "-o", Dir + "/missing/r.swf"}), 1);
  ASSERT_EQ(RecordingFolders().size(), 1u);
  const std::string folder = RecordingFolders()[0];
  std::vector<std::string> args = {"recover", "-o", Dir + "/saved.swf"};
  const std::vector<std::string> extra = c.Prepare(folder, Dir);
  args.insert(args.end(), extra.begin(), extra.end());
  EXPECT_EQ(Run(args), c.Status) << err.str();
  EXPECT_NE(err.str().find(c.Says), std::string::npos) << err.str();
  c.Check(folder, Dir);
}

const TRecoverCase kRecoverCases[] = {
    {"AWholeRecordingIsJoinedAndItsFolderRemoved",
     [](const std::string&, const std::string&) { return std::vector<std::string>{}; }, 0, "",
     [](const std::string& folder, const std::string& dir) {
       EXPECT_NEAR(PlayedFrames(dir + "/saved.swf"), 24, 3);
       EXPECT_FALSE(Exists(folder));
     }},
    {"AnOutputInsideTheFolderIsRefused",
     [](const std::string& folder, const std::string&) {
       return std::vector<std::string>{"-o", folder + "/capture1.swf"};
     },
     1, "inside the recording's folder",
     [](const std::string& folder, const std::string&) {
       ASSERT_EQ(ListSegmentFiles(folder).size(), 1u);
       EXPECT_NEAR(PlayedFrames(folder + "/capture1.swf"), 24, 3);
     }},
    {"ASegmentThatCannotBeReadStaysWithItsFolder",
     [](const std::string& folder, const std::string&) {
       std::ofstream(folder + "/capture2.swf") << "not a movie";
       return std::vector<std::string>{};
     },
     1, "1 segments could not be read and are kept",
     [](const std::string& folder, const std::string& dir) {
       EXPECT_NEAR(PlayedFrames(dir + "/saved.swf"), 24, 3);
       EXPECT_FALSE(Exists(folder + "/capture1.swf")) << "joined, so removed";
       EXPECT_EQ(ReadText(folder + "/capture2.swf"), "not a movie");
     }},
    {"AnUnfinishedSegmentIsJoinedUpToItsLastCompleteFrame",
     [](const std::string& folder, const std::string& dir) {
       const std::string body = folder + "/capture2.swf.body.part";
       WriteCutBody(folder + "/capture1.swf", body, 0.7);
       GUnfinishedFrames = FramesOnDisk(body, dir + "/x");
       GExpectedFrames = PlayedFrames(folder + "/capture1.swf") + GUnfinishedFrames;
       return std::vector<std::string>{};
     },
     0, "capture2.swf was not finished",
     [](const std::string& folder, const std::string& dir) {
       EXPECT_GT(GUnfinishedFrames, 0u);
       EXPECT_EQ(PlayedFrames(dir + "/saved.swf"), GExpectedFrames);
       EXPECT_FALSE(Exists(folder)) << "everything was recovered";
       EXPECT_EQ(Entries(dir), 4u) << "no salvaged copy is left beside the movie";
     }},
    {"AnUnfinishedSegmentWithoutACompleteFrameStays",
     [](const std::string& folder, const std::string&) {
       WriteCutBody(folder + "/capture1.swf", folder + "/capture2.swf.body.part", 0.02);
       return std::vector<std::string>{};
     },
     1, "holds no complete frame",
     [](const std::string& folder, const std::string& dir) {
       EXPECT_NEAR(PlayedFrames(dir + "/saved.swf"), 24, 3);
       EXPECT_TRUE(Exists(folder + "/capture2.swf.body.part"));
       EXPECT_FALSE(Exists(folder + "/capture1.swf"));
     }},
};

INSTANTIATE_TEST_SUITE_P(Folders, Recover, ::testing::ValuesIn(kRecoverCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(RecordCommands, ARecordingInProgressIsListedAndLeftAlone) {
  ASSERT_EQ(Run({"record", "--seconds", "2", "-o", Dir + "/missing/r.swf"}), 1);
  ASSERT_EQ(RecordingFolders().size(), 1u);
  const std::string folder = RecordingFolders()[0];
  platform::TPosixFileLocations files;
  {
    const std::unique_ptr<platform::TFolderLock> live = files.LockFolder(folder);
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(Run({"recover", "-o", Dir + "/saved.swf"}), 0) << err.str();
    EXPECT_NE(out.str().find("No unsaved recording"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("in progress"), std::string::npos) << out.str();
    EXPECT_EQ(Run({"recover", folder, "-o", Dir + "/saved.swf"}), 1);
    EXPECT_NE(err.str().find("in progress"), std::string::npos) << err.str();
    EXPECT_FALSE(Exists(Dir + "/saved.swf"));
    EXPECT_EQ(ListSegmentFiles(folder).size(), 1u);
  }
  // Once the recording has ended (or its process is gone), the folder is recovered.
  EXPECT_EQ(Run({"recover", "-o", Dir + "/saved.swf"}), 0) << err.str();
  EXPECT_TRUE(Exists(Dir + "/saved.swf"));
  EXPECT_FALSE(Exists(folder));
}

// SIGKILL in the middle of a recording: while the process lives, recover leaves its folder alone;
// once it is gone, recover makes a movie of what it recorded, the unfinished segment included up
// to about a second before the kill.
TEST_F(RecordCommands, AKilledRecordingLosesAtMostItsLastSecond) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::ostringstream o, e;
    ::_exit(RunCommandLine({"record", "-o", Dir + "/k.swf"}, o, e));
  }
  // Wait for the recording to begin, then let it run three seconds.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (RecordingFolders().empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const int whileAlive = Run({"recover", "-o", Dir + "/early.swf"});
  const std::string listing = out.str();
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the recording ended before it was killed";
  EXPECT_EQ(whileAlive, 0);
  EXPECT_NE(listing.find("in progress"), std::string::npos) << listing;
  EXPECT_FALSE(Exists(Dir + "/early.swf"));

  ASSERT_EQ(Run({"recover", "-o", Dir + "/saved.swf"}), 0) << err.str();
  EXPECT_NE(err.str().find("capture1.swf was not finished"), std::string::npos) << err.str();
  // Three seconds of timeline at 12 frames a second, less at most the last one (a loaded machine
  // records less of it, never more).
  EXPECT_GE(PlayedFrames(Dir + "/saved.swf"), 12u);
  EXPECT_TRUE(RecordingFolders().empty());
}

TEST_F(RecordCommands, AFullDiskStopsTheRecordingAndTheStatusSaysFramesWereLost) {
  out.str("");
  err.str("");
  const int status =
      RecordCommand({"--seconds", "6", "-o", Dir + "/f.swf"}, out, err, FullDiskFactory({30, 0}));
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.str().find("could not be written"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("No space left on device"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("of the recording ("), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("were lost"), std::string::npos) << err.str();
  EXPECT_NE(out.str().find("wrote " + Dir + "/f.swf"), std::string::npos) << out.str();
  // 29 frames were closed before the disk ran full (some close more than one frame of the
  // timeline); the recording stopped there, short of its six seconds.
  const std::uint32_t frames = PlayedFrames(Dir + "/f.swf");
  EXPECT_GE(frames, 29u);
  EXPECT_LT(frames, 60u);
  EXPECT_TRUE(RecordingFolders().empty());
}

// A name without an extension gets ".swf", as the save dialog gives it.
TEST_F(RecordCommands, AnOutputNameWithoutExtensionGetsSwf) {
  std::filesystem::create_directories(Dir + "/a.b");
  const std::pair<std::string, std::string> cases[] = {
      {"take", "take.swf"}, {"a.b/take", "a.b/take.swf"}, {"take.v2", "take.v2"}};
  for (const auto& [given, written] : cases) {
    ASSERT_EQ(Run({"record", "--seconds", "1", "-o", Dir + "/" + given}), 0) << err.str();
    EXPECT_NE(out.str().find("wrote " + Dir + "/" + written + "\n"), std::string::npos)
        << out.str();
    EXPECT_GT(PlayedFrames(Dir + "/" + written), 0u) << given;
  }
}

// `record --audio` on the simulated desktop, whose tone falls silent for 100 ms every two
// seconds: probe tells the sound's format, and the exported video's sound, decoded by ffmpeg,
// has the tone and its silences two seconds apart, as they were played.
TEST_F(RecordCommands, AudioIsRecordedInTheFormatAskedAndExportedInStep) {
  struct TCase {
    std::vector<std::string> Options;
    const char* Coding;
    const char* Rate;
    const char* Channels;
  };
  const TCase cases[] = {
      {{"--audio", "both"}, Mp3EncoderBuiltIn() ? "mp3" : "adpcm", "44100", "2"},
      {{"--audio", "mic", "--audio-format", "adpcm", "--audio-rate", "22050", "--audio-channels",
        "1"},
       "adpcm",
       "22050",
       "1"},
      {{"--audio", "system", "--audio-format", "pcm", "--audio-rate", "11025"},
       "pcm-le",
       "11025",
       "2"},
  };
  const bool ffmpeg =
      std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") == 0;
  for (const TCase& c : cases) {
    std::vector<std::string> args = {"record", "--seconds", "9", "-o", Dir + "/s.swf"};
    args.insert(args.end(), c.Options.begin(), c.Options.end());
    ASSERT_EQ(Run(args), 0) << err.str();
    EXPECT_EQ(err.str().find("sound"), std::string::npos) << err.str();
    ASSERT_EQ(Run({"probe", Dir + "/s.swf"}), 0) << err.str();
    for (const std::string& line :
         {std::string("sound: ") + c.Coding, std::string("sound_rate: ") + c.Rate,
          std::string("sound_channels: ") + c.Channels}) {
      EXPECT_NE(out.str().find(line + "\n"), std::string::npos) << line << "\n" << out.str();
    }
    if (!ffmpeg) continue;
    ASSERT_EQ(Run({"export", Dir + "/s.swf", Dir + "/s.mp4"}), 0) << err.str();
    const std::string raw = Dir + "/s.raw";
    ASSERT_EQ(std::system(("ffmpeg -v error -y -i '" + Dir + "/s.mp4' -map 0:a -f s16le -ac 1 " +
                           "-ar 44100 '" + raw + "'")
                              .c_str()),
              0);
    std::ifstream in(raw, std::ios::binary);
    std::vector<std::int16_t> s;
    char b[2];
    while (in.read(b, 2)) s.push_back(static_cast<std::int16_t>((b[0] & 0xFF) | (b[1] << 8)));
    EXPECT_NEAR(s.size() / 44100.0, 9, 0.2) << c.Coding;
    // The silences of 60 ms or more, and the tone's frequency between them.
    std::vector<double> silences;
    std::size_t run = 0;
    for (std::size_t i = 1; i < s.size(); ++i) {
      run = std::abs(s[i]) < 400 ? run + 1 : 0;
      if (run == 44100 * 60 / 1000) silences.push_back(double(i + 1 - run) / 44.1);
    }
    ASSERT_EQ(silences.size(), 4u) << c.Coding;
    for (std::size_t i = 1; i < silences.size(); ++i) {
      EXPECT_NEAR(silences[i] - silences[i - 1], 2000, 1000.0 / 12) << c.Coding;
    }
    // Rising zero crossings over the tone between the first two silences.
    const auto from = static_cast<std::size_t>((silences[0] + 300) * 44.1);
    const auto to = static_cast<std::size_t>((silences[1] - 100) * 44.1);
    std::size_t crossings = 0;
    for (std::size_t i = from + 1; i < to; ++i) crossings += s[i - 1] < 0 && s[i] >= 0;
    EXPECT_NEAR(crossings / ((to - from) / 44100.0), 440, 3) << c.Coding;
  }
  for (const char* bad : {"--audio=loud", "--audio-rate=48000", "--audio-channels=3"}) {
    EXPECT_EQ(Run({"record", bad, "-o", Dir + "/e.swf"}), 2) << bad;
    EXPECT_NE(err.str().find("takes"), std::string::npos) << bad << err.str();
  }
}

}  // namespace
}  // namespace kestrova::test
