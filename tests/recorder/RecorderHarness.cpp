#include "tests/recorder/RecorderHarness.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/Palette.h"
#include "recorder/FlashSegmentMovie.h"

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

TRecorderRun::TRecorderRun(TSimConfig config, TOutputLimits limits) : Desktop(std::move(config)) {
  Desktop.SetFiles(&Files);
  Desktop.OnGrab = [this](const sim::TSimGrabRecord& g) {
    Grabs.push_back({g.AtMs, g.Window, g.Rect, Desktop.Compose(g.Window, g.Rect, true)});
  };
  TRecorderOptions options;
  options.MovieFactory = FlashSegmentMovieFactory();
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

// What a picture P pixels wide, placed one row down and squeezed into P - 1 columns by the
// fill's scale (16.16 fixed, as the format stores it), shows of the grab.
TFrameImage Expected(const TGrabTruth& g, std::int32_t width, std::int32_t height,
                     std::int32_t picture, TRgb background) {
  const auto& palette = FixedPalette();
  const std::int32_t tw = g.Rect.Width(), th = g.Rect.Height();
  const double scale =
      std::trunc(
          static_cast<double>(static_cast<float>((picture - 1) * 20.0 / picture + 0.003662109375)) *
          65536.0) /
      65536.0;
  TFrameImage image(static_cast<std::size_t>(width) * height, background);
  for (std::int32_t y = 1; y <= th && y < height; ++y) {
    for (std::int32_t x = 0; x < picture - 1 && x < width; ++x) {
      const std::int32_t col = static_cast<std::int32_t>(std::floor((20.0 * x + 15) / scale));
      TRgb c{0, 0, 0};  // columns of a strip beyond a window's width are black
      if (col < tw) {
        const TRGBQuad& q = palette[g.Pixels[static_cast<std::size_t>(y - 1) * tw + col]];
        c = {q.Red, q.Green, q.Blue};
      }
      image[static_cast<std::size_t>(y) * width + x] = c;
    }
  }
  return image;
}

struct TExpectations {
  std::vector<TFrameImage> Images;  // the picture at the grab's width, then at the stage's
};

// Rows [first, last) of a and b are equal.
bool RowsEqual(const TFrameImage& a, const TFrameImage& b, std::int32_t width, std::int32_t first,
               std::int32_t last) {
  return std::equal(a.begin() + static_cast<std::ptrdiff_t>(first) * width,
                    a.begin() + static_cast<std::ptrdiff_t>(last) * width,
                    b.begin() + static_cast<std::ptrdiff_t>(first) * width);
}

// Each band of 32 rows shows one of the expected pictures: a recorded window is shown by full
// pictures as wide as the window and by strips as wide as the stage.
bool Matches(const TFrameImage& frame, const TExpectations& e, std::int32_t width,
             std::int32_t height) {
  if (!RowsEqual(frame, e.Images[0], width, 0, 1)) return false;
  for (std::int32_t top = 1; top < height; top += 32) {
    const std::int32_t bottom = std::min(top + 32, height);
    bool any = false;
    for (const TFrameImage& image : e.Images)
      any = any || RowsEqual(frame, image, width, top, bottom);
    if (!any) return false;
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
    e.Images.push_back(
        Expected(grabs[g], info.Width, info.Height, grabs[g].Rect.Width(), background));
    if (grabs[g].Rect.Width() != info.Width) {
      e.Images.push_back(Expected(grabs[g], info.Width, info.Height, info.Width, background));
    }
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
                           ": " + Describe(frame, expectations(g, info).Images[0], info.Width);
        }
      });
  result.Frames = result.Info.FramesPlayed;
  result.LastGrab = g;
  result.Ok = !failed && result.Info.Problems.empty() && result.Frames > 0;
  if (!result.Info.Problems.empty()) result.Message += " problems: " + result.Info.Problems[0];
  return result;
}

std::string ReadText(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& fileName) {
  std::error_code ec;
  return std::filesystem::exists(fileName, ec);
}

}  // namespace kestrova::test
