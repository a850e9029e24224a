// The capture-to-segment path on 1920x1080 simulated screens, and the join of an hour's
// segments. Per grabbed frame: CPU milliseconds of the grab with its palette mapping and the
// cursor, of the strip comparison (change detection without the builder), of encoding (the
// pictures' definitions, deflate included) and of saving the segment; output bytes per recorded
// second; peak memory of a process that records (measured in a child process, so each figure is
// its own). The join: peak memory of a child that joins 360 segments (one hour) against the size
// of one segment in memory.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>

#include "platform/PosixFiles.h"
#include "platform/sim/SimDesktop.h"
#include "recorder/Automation.h"
#include "recorder/ChangeDetector.h"
#include "recorder/FlashSegmentMovie.h"
#include "recorder/Output.h"
#include "recorder/Recorder.h"

namespace kestrova {
namespace {

using namespace platform;
// CPU time of this thread: the figures do not depend on what else the machine runs.
struct Clock {
  using time_point = double;
  static double now() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
  }
};

double Ms(double d) {
  return d;
}

enum class TScene { Still, Typical, Motion };

sim::TSimConfig Scene(TScene scene) {
  if (scene == TScene::Typical) return sim::DemoDesktop(1920, 1080);
  sim::TSimConfig c;
  c.Width = 1920;
  c.Height = 1080;
  c.CursorShowing = scene != TScene::Still;
  c.CursorPath = {{100, 100}, {1800, 900}};
  if (scene == TScene::Motion) {
    c.Windows = {{"Film", {0, 0, 1920, 1080}, sim::TSimContent::Video, true}};
  }
  return c;
}

// Times the builder's part of change detection.
class TTimedMovie : public TSegmentMovie {
 public:
  explicit TTimedMovie(std::unique_ptr<TSegmentMovie> inner) : Inner(std::move(inner)) {}
  std::uint32_t AddPicture(const TDIBitmap& p) override {
    const auto t = Clock::now();
    const std::uint32_t id = Inner->AddPicture(p);
    EncodeMs += Ms(Clock::now() - t);
    return id;
  }
  void RemoveObject(std::uint16_t d) override { Inner->RemoveObject(d); }
  void PlaceObject(std::uint32_t s, std::uint16_t d, std::int32_t x, std::int32_t y) override {
    Inner->PlaceObject(s, d, x, y);
  }
  void ShowFrame(std::uint16_t c) override { Inner->ShowFrame(c); }
  std::uint16_t CalcFrameCount() override { return Inner->CalcFrameCount(); }
  void SaveToFile(const std::string& f) override { Inner->SaveToFile(f); }
  std::unique_ptr<TSegmentMovie> Inner;
  double EncodeMs = 0;
};

struct TSegmentFigures {
  double GrabMs = 0, CompareMs = 0, EncodeMs = 0, SaveMs = 0;
  std::uint64_t Bytes = 0;
  double RecordedSeconds = 0;
};

// Records `frames` frames of the scene (the loop's 100 ms pacing in virtual time) into one
// segment file.
TSegmentFigures RecordSegment(TScene scene, int frames, const std::string& file) {
  sim::TSimDesktop desktop(Scene(scene));
  TPlatform& p = desktop.Platform();
  TChangeDetector detector([](std::uint32_t) {}, [](const std::string&) {});
  detector.ResetReference = true;
  std::unique_ptr<TSegmentMovie> movie;
  TTimedMovie* timed = nullptr;
  const TSegmentMovieFactory inner = FlashSegmentMovieFactory();
  const TSegmentMovieFactory factory = [&](std::int32_t w, std::int32_t h) {
    auto m = std::make_unique<TTimedMovie>(inner(w, h));
    timed = m.get();
    return std::unique_ptr<TSegmentMovie>(std::move(m));
  };
  TSegmentFigures f;
  TDIBitmap grab;
  TCursorInfo cursor;
  const TScreenRect screen = p.Desktop->DesktopRect();
  double total = 0;
  for (int i = 0; i < frames; ++i) {
    auto t0 = Clock::now();
    p.Grabber->Grab(0, screen, grab);
    p.Cursor->GetCursor(cursor);
    f.GrabMs += Ms(Clock::now() - t0);
    detector.StripCount = (grab.Rows() + 31) / 32;
    TFrameContext context;
    context.FirstFrameOfSegment = i == 0;
    context.StageWidth = screen.Width();
    context.StageHeight = screen.Height();
    context.TakeElapsedMs = [] { return 100u; };
    t0 = Clock::now();
    detector.EncodeFrame(grab, context, movie, factory);
    total += Ms(Clock::now() - t0);
    p.Clock->Sleep(100);
  }
  f.EncodeMs = timed->EncodeMs;
  f.CompareMs = total - f.EncodeMs;
  const auto t0 = Clock::now();
  movie->SaveToFile(file);
  f.SaveMs = Ms(Clock::now() - t0);
  f.Bytes = std::filesystem::file_size(file);
  f.RecordedSeconds = frames * 0.1;
  return f;
}

// Runs work in a child process; returns the child's peak resident memory in MB.
double PeakMbOfChild(const std::function<void()>& work) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    work();
    std::_Exit(0);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  return usage.ru_maxrss / 1024.0;
}

std::string TempFolder() {
  char pattern[] = "/tmp/kestrova-bench-XXXXXX";
  return ::mkdtemp(pattern);
}

void BM_CaptureToSegment(benchmark::State& state) {
  const TScene scene = static_cast<TScene>(state.range(0));
  const int frames = 30;
  const std::string dir = TempFolder();
  TSegmentFigures f;
  for (auto _ : state) f = RecordSegment(scene, frames, dir + "/capture1.swf");
  state.counters["grab_ms"] = f.GrabMs / frames;
  state.counters["compare_ms"] = f.CompareMs / frames;
  state.counters["encode_ms"] = f.EncodeMs / frames;
  state.counters["save_ms"] = f.SaveMs / frames;
  state.counters["bytes_per_s"] = f.Bytes / f.RecordedSeconds;
  state.counters["peak_MB"] = PeakMbOfChild([&] { RecordSegment(scene, frames, dir + "/m.swf"); });
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CaptureToSegment)
    ->Arg(static_cast<int>(TScene::Still))
    ->Arg(static_cast<int>(TScene::Typical))
    ->Arg(static_cast<int>(TScene::Motion))
    ->ArgName("scene(0still,1typical,2motion)")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// One hour: 360 segments of ten seconds (the same typical segment, 100 frames, joined 360
// times), joined into Name.swf and its continuations.
void BM_JoinOneHour(benchmark::State& state) {
  const std::string dir = TempFolder();
  RecordSegment(TScene::Typical, 100, dir + "/capture1.swf");
  std::vector<TSegmentInput> inputs;
  for (int i = 1; i <= 360; ++i) inputs.push_back({dir + "/capture1.swf", std::nullopt});
  TOutputResult result;
  for (auto _ : state) result = WriteOutputFiles(inputs, 1920, 1080, dir + "/hour.swf", '/');
  std::uint64_t bytes = 0;
  for (const std::string& m : result.Movies) bytes += std::filesystem::file_size(m);
  state.counters["movies"] = static_cast<double>(result.Movies.size());
  state.counters["output_MB"] = bytes / 1e6;
  state.counters["segment_file_MB"] = std::filesystem::file_size(dir + "/capture1.swf") / 1e6;
  state.counters["one_segment_peak_MB"] =
      PeakMbOfChild([&] { WriteOutputFiles({inputs[0]}, 1920, 1080, dir + "/one.swf", '/'); });
  state.counters["join_peak_MB"] =
      PeakMbOfChild([&] { WriteOutputFiles(inputs, 1920, 1080, dir + "/hour2.swf", '/'); });
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_JoinOneHour)->Iterations(1)->Unit(benchmark::kMillisecond);

// The whole recorder (tool window flows, capture loop, segments, join) recording the typical
// desktop for N seconds: its peak memory should not grow with N.
void BM_RecorderPeakMemory(benchmark::State& state) {
  const std::string dir = TempFolder();
  const auto seconds = static_cast<std::uint32_t>(state.range(0));
  auto record = [&] {
    sim::TSimDesktop desktop(Scene(TScene::Typical));
    TPosixFileLocations files([&](const char* name) -> const char* {
      static std::string home;
      home = dir;
      return std::string(name) == "HOME" ? home.c_str() : nullptr;
    });
    desktop.SetFiles(&files);
    TAutomationOptions ao;
    ao.Seconds = seconds;
    ao.OutputName = dir + "/rec.swf";
    TRecordAutomation automation(desktop.Platform(), ao);
    TRecorderOptions options;
    options.MovieFactory = FlashSegmentMovieFactory();
    TFrmImage form(automation.Platform(), options);
    try {
      form.Run();
    } catch (const TProcessHalted&) {
    }
  };
  double peak = 0;
  for (auto _ : state) peak = PeakMbOfChild(record);
  state.counters["peak_MB"] = peak;
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_RecorderPeakMemory)
    ->Arg(10)
    ->Arg(40)
    ->ArgName("seconds")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrova

BENCHMARK_MAIN();
