#include "tests/recorder/RecorderHarness.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/Palette.h"
#include "recorder/FlashSegmentMovie.h"
#include "recorder/RecordingFolder.h"
#include "swftools/Stream.h"

namespace kestrova::test {

using namespace platform;

void TempHome::SetUp() {
  char pattern[] = "/tmp/kestrova-rec-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  Dir = pattern;
  std::filesystem::create_directories(Dir + "/home");
  ::setenv("HOME", (Dir + "/home").c_str(), 1);
  ::setenv("XDG_STATE_HOME", (Dir + "/state").c_str(), 1);
}

void TempHome::TearDown() {
  std::error_code ec;
  std::filesystem::remove_all(Dir, ec);
}

std::vector<std::string> TempHome::RecordingFolders() const {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(StateFolder(), ec)) {
    if (e.is_directory()) out.push_back(e.path().string());
  }
  return out;
}

TRecorderRun::TRecorderRun(TSimConfig config, TOutputLimits limits, TSegmentMovieFactory factory)
    : Desktop(std::move(config)) {
  Desktop.SetFiles(&Files);
  // The scripts' times are those of a start without a countdown; the countdown's own cases
  // set it again.
  Desktop.SettingsStore()["Countdown"] = "0";
  Desktop.OnGrab = [this](const sim::TSimGrabRecord& g) {
    Grabs.push_back({g.AtMs, g.Window, g.Rect, Desktop.Compose(g.Window, g.Rect, true)});
  };
  TRecorderOptions options;
  options.MovieFactory = factory ? std::move(factory) : FlashSegmentMovieFactory();
  options.Limits = limits;
  options.Diagnostics = &Diagnostics;
  options.OnSegmentSaved = [this](const TSegmentReport& r) { Segments.push_back(r); };
  Form = std::make_unique<TFrmImage>(Desktop.Platform(), options);
}

int TRecorderRun::Run() {
  try {
    Form->Run();
  } catch (const TProcessHalted& h) {
    Halted = true;
    ExitCode = h.ExitCode;
  } catch (const sim::TSimScriptError& e) {
    ScriptError = e.Message;
  }
  return ExitCode;
}

void TRecorderRun::At(std::uint64_t ms, TSimActionKind kind, const std::string& target,
                      TWindowHandle window, TScreenRect rect, std::int32_t param) {
  Desktop.Add(TSimAction{ms, kind, target, window, rect, param});
}

void TRecorderRun::Answer(TSimDialog dialog, int value, std::uint32_t delayMs) {
  Desktop.Answer(dialog, TSimAnswer{value, std::nullopt, delayMs});
}

void TRecorderRun::AnswerSave(const std::optional<std::string>& name, std::uint32_t delayMs) {
  Desktop.Answer(TSimDialog::Save, TSimAnswer{0, name, delayMs});
}

void TRecorderRun::StopAndSaveAt(std::uint64_t atMs, const std::string& name) {
  At(atMs, TSimActionKind::HotKey);
  Answer(TSimDialog::Paused, 1, 200);
  Answer(TSimDialog::Question, kIdYes, 200);
  AnswerSave(name, 300);
}

namespace {

// What the grab looks like on a stage width x height: row for row, and pixel for pixel as
// the fill's scale (16.16 fixed, as the format stores it) maps the picture; outside the grab,
// the background.
TFrameImage Expected(const TGrabTruth& g, std::int32_t width, std::int32_t height,
                     TRgb background) {
  const auto& palette = FixedPalette();
  const std::int32_t tw = g.Rect.Width(), th = g.Rect.Height();
  const double scale =
      std::trunc(static_cast<double>(static_cast<float>(20.0 + 0.003662109375)) * 65536.0) /
      65536.0;
  TFrameImage image(static_cast<std::size_t>(width) * height, background);
  for (std::int32_t y = 0; y < th && y < height; ++y) {
    for (std::int32_t x = 0; x < tw && x < width; ++x) {
      const std::int32_t col = static_cast<std::int32_t>(std::floor((20.0 * x + 15) / scale));
      const TRGBQuad& q = palette[g.Pixels[static_cast<std::size_t>(y) * tw + col]];
      image[static_cast<std::size_t>(y) * width + x] = {q.Red, q.Green, q.Blue};
    }
  }
  return image;
}

struct TExpectations {
  TFrameImage Image;
  std::int32_t GrabWidth = 0;
};

// The frame shows the grab; beside a recorded window narrower than the stage, strips may cover
// the background with black.
bool Matches(const TFrameImage& frame, const TExpectations& e, std::int32_t width,
             std::int32_t height) {
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * width + x;
      if (frame[i] == e.Image[i]) continue;
      if (x < e.GrabWidth || !(frame[i] == TRgb{0, 0, 0})) return false;
    }
  }
  return true;
}

std::string Describe(const TFrameImage& frame, const TFrameImage& expected, std::int32_t width) {
  for (std::size_t i = 0; i < frame.size(); ++i) {
    if (frame[i] == expected[i]) continue;
    auto rgb = [](TRgb c) {
      return std::to_string(c.R) + "," + std::to_string(c.G) + "," + std::to_string(c.B);
    };
    return "first difference at (" + std::to_string(i % width) + ", " + std::to_string(i / width) +
           "): " + rgb(frame[i]) + " instead of " + rgb(expected[i]);
  }
  return "equal";
}

}  // namespace

TFrameCheck CheckFrames(const std::string& movie, const std::vector<TGrabTruth>& grabs,
                        std::size_t firstGrab) {
  TFrameCheck result;
  if (grabs.size() <= firstGrab) {
    result.Message = "no grabs";
    return result;
  }
  std::map<std::size_t, TExpectations> cache;
  auto expectations = [&](std::size_t g, const TMovieInfo& info) -> const TExpectations& {
    auto it = cache.find(g);
    if (it != cache.end()) return it->second;
    if (cache.size() > 4) cache.erase(cache.begin());
    const TRgb background = info.HasBackground ? TRgb{0, 0, 0} : TRgb{255, 255, 255};
    TExpectations e;
    e.Image = Expected(grabs[g], info.Width, info.Height, background);
    e.GrabWidth = grabs[g].Rect.Width();
    return cache[g] = std::move(e);
  };
  std::size_t g = firstGrab;
  bool failed = false;
  result.Info =
      PlayMovie(movie, [&](std::uint32_t f, const TFrameImage& frame, const TMovieInfo& info) {
        if (failed) return;
        if (f > 0 && g + 1 < grabs.size() &&
            Matches(frame, expectations(g + 1, info), info.Width, info.Height)) {
          ++g;
        } else if (!Matches(frame, expectations(g, info), info.Width, info.Height)) {
          failed = true;
          result.Message = "frame " + std::to_string(f) + " shows neither grab " +
                           std::to_string(g) + " nor the next; against grab " + std::to_string(g) +
                           ": " + Describe(frame, expectations(g, info).Image, info.Width) +
                           (g + 1 < grabs.size()
                                ? "; against the next: " +
                                      Describe(frame, expectations(g + 1, info).Image, info.Width)
                                : std::string());
        }
      });
  result.Frames = result.Info.FramesPlayed;
  result.LastGrab = g;
  result.Ok = !failed && result.Info.Problems.empty() && result.Frames > 0;
  if (!result.Info.Problems.empty()) result.Message += " problems: " + result.Info.Problems[0];
  return result;
}

namespace {

struct TDiskState {
  TDiskFull Full;
  std::uint32_t Frames = 0;
  std::int32_t Segments = 0;
  bool Failed = false;
};

class TFullDiskMovie : public TForwardingSegmentMovie {
 public:
  TFullDiskMovie(std::unique_ptr<TSegmentMovie> movie, std::shared_ptr<TDiskState> disk)
      : TForwardingSegmentMovie(std::move(movie)), FDisk(std::move(disk)) {
    FNumber = ++FDisk->Segments;
  }
  void ShowFrame(std::uint16_t count) override {
    Check(FBody);
    const std::uintmax_t before = Size();
    Inner().ShowFrame(count);
    Inner().FlushNow();
    if (++FDisk->Frames != FDisk->Full.AtFrame) return;
    // The disk took half of the frame's bytes.
    const std::uintmax_t after = Size();
    std::filesystem::resize_file(FBody, before + (after - before) / 2);
    Fail(FBody);
  }
  void StreamTo(const std::string& fileName) override {
    Check(fileName);
    Inner().StreamTo(fileName);
    FBody = fileName + ".body.part";
  }
  void FlushNow() override {
    Check(FBody);
    Inner().FlushNow();
  }
  void SaveToFile(const std::string& fileName) override {
    Check(fileName);
    if (FNumber == FDisk->Full.AtSegmentSave) Fail(fileName);
    Inner().SaveToFile(fileName);
  }

 private:
  std::uintmax_t Size() const {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(FBody, ec);
    return ec ? 0 : size;
  }
  void Check(const std::string& file) {
    if (FDisk->Failed) Fail(file);
  }
  [[noreturn]] void Fail(const std::string& file) {
    FDisk->Failed = true;
    throw EStreamError("Cannot write file \"" + file + "\": No space left on device");
  }
  std::shared_ptr<TDiskState> FDisk;
  std::string FBody;
  std::int32_t FNumber = 0;
};

}  // namespace

TSegmentMovieFactory FullDiskFactory(TDiskFull full) {
  auto disk = std::make_shared<TDiskState>();
  disk->Full = full;
  TSegmentMovieFactory program = FlashSegmentMovieFactory();
  return [disk, program](std::int32_t width, std::int32_t height) {
    return std::unique_ptr<TSegmentMovie>(
        std::make_unique<TFullDiskMovie>(program(width, height), disk));
  };
}

std::uint32_t FramesOnDisk(const std::string& bodyFileName, const std::string& scratch) {
  const TSalvagedBody salvaged = SalvageBody(bodyFileName, scratch, {16, 16}, 6);
  std::error_code ec;
  std::filesystem::remove(scratch, ec);
  return salvaged.FramesKept;
}

std::string ReadText(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> DefaultNamedMovies(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("Kestrova-", 0) == 0 && e.path().extension() == ".swf") {
      found.push_back(e.path().string());
    }
  }
  return found;
}

bool Exists(const std::string& fileName) {
  std::error_code ec;
  return std::filesystem::exists(fileName, ec);
}

}  // namespace kestrova::test
