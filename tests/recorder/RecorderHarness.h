// Runs the recorder on a simulated desktop for the tests: a private HOME and XDG_STATE_HOME, a
// note of every grab together with what the screen showed at that moment (as the simulated
// desktop itself draws it, cursor included), and a check of a movie's frames against them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/PosixFiles.h"
#include "platform/sim/SimDesktop.h"
#include "recorder/Recorder.h"
#include "tests/recorder/MovieRenderer.h"

namespace kestrova::test {

using platform::TScreenRect;
using platform::TWindowHandle;
using platform::sim::TSimAction;
using platform::sim::TSimActionKind;
using platform::sim::TSimAnswer;
using platform::sim::TSimConfig;
using platform::sim::TSimDesktop;
using platform::sim::TSimDialog;

// A fresh temporary folder as HOME and XDG_STATE_HOME for each test; removed afterwards.
class TempHome : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string Dir;
  std::string StateFolder() const { return Dir + "/state/kestrova"; }
  // Recording folders left in the state folder.
  std::vector<std::string> RecordingFolders() const;
};

struct TGrabTruth {
  std::uint64_t AtMs = 0;
  TWindowHandle Window = 0;
  TScreenRect Rect;
  std::vector<std::uint8_t> Pixels;  // palette indices, top row first, cursor drawn in
};

class TRecorderRun {
 public:
  // factory: the segment movies (none: the program's).
  explicit TRecorderRun(TSimConfig config, TOutputLimits limits = {},
                        TSegmentMovieFactory factory = {});
  TSimDesktop Desktop;
  platform::TPosixFileLocations Files;
  std::ostringstream Diagnostics;
  std::vector<TGrabTruth> Grabs;
  std::vector<TSegmentReport> Segments;
  std::unique_ptr<TFrmImage> Form;
  bool Halted = false;
  int ExitCode = -1;
  std::string ScriptError;  // the script ran out (a recording cut off as by a crash)

  // Runs the program until it ends; returns the exit status it ended with.
  int Run();
  // The standard way to stop: the hot key at atMs, Stop Record, Yes, the save dialog's name.
  void StopAndSaveAt(std::uint64_t atMs, const std::string& name);
  void At(std::uint64_t ms, TSimActionKind kind, const std::string& target = "",
          TWindowHandle window = 0, TScreenRect rect = {}, std::int32_t param = 0);
  void Answer(TSimDialog dialog, int value, std::uint32_t delayMs = 0);
  void AnswerSave(const std::optional<std::string>& name, std::uint32_t delayMs = 0);
};

struct TFrameCheck {
  bool Ok = false;
  std::string Message;
  std::uint32_t Frames = 0;
  std::size_t LastGrab = 0;  // the last grab a frame was matched with
  TMovieInfo Info;
};

// Plays the movie and checks that its frames show the grabs in order, each for one frame or
// more, row for row and pixel for pixel.
TFrameCheck CheckFrames(const std::string& movie, const std::vector<TGrabTruth>& grabs,
                        std::size_t firstGrab = 0);

// Where a simulated disk runs full: at the Nth frame closed (counted over the whole recording;
// half of that frame's bytes reach the disk) or at the saving of segment number N. 0: never.
struct TDiskFull {
  std::uint32_t AtFrame = 0;
  std::int32_t AtSegmentSave = 0;
};
// The program's segment movies on a disk that runs full as told: the failing write and every
// write after it throw as writes to a full disk do. Each closed frame goes to disk at once, so
// the bytes that reached it are known exactly.
TSegmentMovieFactory FullDiskFactory(TDiskFull full);

// The complete frames a segment's body holds now (salvaged into a scratch copy).
std::uint32_t FramesOnDisk(const std::string& bodyFileName, const std::string& scratch);

std::string ReadText(const std::string& fileName);
bool Exists(const std::string& fileName);
// The movies in folder named as a recording without a name is: Kestrova-<date>_<time>.swf.
std::vector<std::string> DefaultNamedMovies(const std::string& folder);

}  // namespace kestrova::test
