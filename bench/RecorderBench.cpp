// The capture-to-segment path on 1920x1080 simulated screens, and the join of an hour's
// segments. Per grabbed frame: CPU milliseconds of the grab with its palette mapping and the
// cursor, of the strip comparison (change detection without the builder), of encoding (the
// pictures' definitions, deflate included) and of saving the segment; output bytes per recorded
// second; peak memory of a process that records (measured in a child process, so each figure is
// its own). The join: peak memory of a child that joins 360 segments (one hour) against the size
// of one segment in memory, and of a child that joins twelve segments of full motion.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>

#include "platform/Palette.h"
#include "platform/PosixFiles.h"
#include "platform/sim/SimDesktop.h"
#include "recorder/ChangeDetector.h"
#include "recorder/FlashSegmentMovie.h"
#include "recorder/FrameStage.h"
#include "recorder/Output.h"
#include "recorder/Recorder.h"
#include "recorder/Session.h"

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
  void SetBusy(bool busy) override { Inner->SetBusy(busy); }
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
TSegmentFigures RecordSegment(TScene scene, int frames, const std::string& file,
                              TColourDepth colours = TColourDepth::Palette256) {
  sim::TSimDesktop desktop(Scene(scene));
  TPlatform& p = desktop.Platform();
  TChangeDetector detector([](const std::string&) {});
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
  TFrameStage stage(*p.Capture, *p.Cursor);
  stage.SetColours(colours);
  TStagedFrame staged;
  const TScreenRect screen = p.Desktop->DesktopRect();
  double total = 0;
  for (int i = 0; i < frames; ++i) {
    // The stage's time (the pointer, the palette) counts with the grab's, as the backends'
    // mapping did before it moved there.
    auto t0 = Clock::now();
    stage.Capture(0, screen, staged);
    f.GrabMs += Ms(Clock::now() - t0);
    const TDIBitmap& grab = *staged.Picture;
    detector.StripCount = (grab.Rows() + 31) / 32;
    TFrameContext context;
    context.Staged = &staged;
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

// Runs this program again as a fresh process doing one piece of work (see main); returns its
// peak resident memory in MB (its own VmHWM: a fresh process's high-water mark owes nothing to
// what this process holds), or -1 when it failed.
double PeakMbOfChild(const std::vector<std::string>& args) {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return -1;
  std::string command = "'" + std::string(self, static_cast<std::size_t>(n)) + "' --child";
  for (const std::string& a : args) command += " '" + a + "'";
  std::fflush(nullptr);
  FILE* child = ::popen(command.c_str(), "r");
  if (child == nullptr) return -1;
  double kb = -1;
  if (std::fscanf(child, "%lf", &kb) != 1) kb = -1;
  return ::pclose(child) == 0 && kb > 0 ? kb / 1024.0 : -1;
}

// This process's peak resident memory in kB.
long PeakKb() {
  FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return -1;
  char line[256];
  long kb = -1;
  while (std::fgets(line, sizeof line, status)) {
    if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1) break;
  }
  std::fclose(status);
  return kb;
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
  state.counters["peak_MB"] = PeakMbOfChild(
      {"segment", std::to_string(state.range(0)), std::to_string(frames), dir + "/m.swf"});
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CaptureToSegment)
    ->Arg(static_cast<int>(TScene::Still))
    ->Arg(static_cast<int>(TScene::Typical))
    ->Arg(static_cast<int>(TScene::Motion))
    ->ArgName("scene(0still,1typical,2motion)")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The same segments in each colour depth: the cost of keeping more colours than the palette's.
void BM_ColourDepth(benchmark::State& state) {
  const TScene scene = static_cast<TScene>(state.range(0));
  const auto colours = static_cast<TColourDepth>(state.range(1));
  const int frames = 30;
  const std::string dir = TempFolder();
  TSegmentFigures f;
  for (auto _ : state) f = RecordSegment(scene, frames, dir + "/capture1.swf", colours);
  state.counters["grab_ms"] = f.GrabMs / frames;
  state.counters["compare_ms"] = f.CompareMs / frames;
  state.counters["encode_ms"] = f.EncodeMs / frames;
  state.counters["bytes_per_s"] = f.Bytes / f.RecordedSeconds;
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ColourDepth)
    ->ArgsProduct({{static_cast<int>(TScene::Typical), static_cast<int>(TScene::Motion)},
                   {static_cast<int>(TColourDepth::Palette256),
                    static_cast<int>(TColourDepth::Rgb15), static_cast<int>(TColourDepth::Rgb32)}})
    ->ArgNames({"scene(1typical,2motion)", "colours(0palette,1rgb15,2rgb32)"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The size of dir/capture1.swf, and the peak memory of children that join it once and count
// times over.
void JoinCounters(benchmark::State& state, const std::string& dir, int count) {
  state.counters["segment_file_MB"] = std::filesystem::file_size(dir + "/capture1.swf") / 1e6;
  state.counters["one_segment_peak_MB"] =
      PeakMbOfChild({"join", "1", dir + "/capture1.swf", dir + "/one.swf"});
  state.counters["join_peak_MB"] =
      PeakMbOfChild({"join", std::to_string(count), dir + "/capture1.swf", dir + "/joined.swf"});
}

// One hour: 360 segments of ten seconds (the same typical segment, 100 frames, joined 360
// times), joined into Name.swf and its continuations.
void BM_JoinOneHour(benchmark::State& state) {
  const std::string dir = TempFolder();
  RecordSegment(TScene::Typical, 100, dir + "/capture1.swf");
  std::vector<TSegmentInput> inputs;
  for (int i = 1; i <= 360; ++i) inputs.push_back({dir + "/capture1.swf", std::nullopt});
  TOutputResult result;
  for (auto _ : state) result = WriteOutputFiles(inputs, 1920, 1080, dir + "/hour.swf");
  std::uint64_t bytes = 0;
  for (const std::string& m : result.Movies) bytes += std::filesystem::file_size(m);
  state.counters["movies"] = static_cast<double>(result.Movies.size());
  state.counters["output_MB"] = bytes / 1e6;
  JoinCounters(state, dir, 360);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_JoinOneHour)->Iterations(1)->Unit(benchmark::kMillisecond);

// Twelve segments of full motion (2 minutes), joined: the join should hold no more than one
// segment's tags at a time, so its peak memory stays near that of joining one segment.
void BM_JoinMotion(benchmark::State& state) {
  const std::string dir = TempFolder();
  for (auto _ : state) RecordSegment(TScene::Motion, 100, dir + "/capture1.swf");
  JoinCounters(state, dir, 12);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_JoinMotion)->Iterations(1)->Unit(benchmark::kMillisecond);

// The whole recorder (tool window flows, capture loop, segments, join) recording the typical
// desktop for N seconds, as `kestrova record` does: its peak memory should not grow with N.
void Record(std::uint32_t seconds, const std::string& dir) {
  sim::TSimDesktop desktop(Scene(TScene::Typical));
  TPosixFileLocations files([&](const char* name) -> const char* {
    return std::string(name) == "HOME" ? dir.c_str() : nullptr;
  });
  desktop.SetFiles(&files);
  TSessionOptions options;
  options.MovieFactory = FlashSegmentMovieFactory();
  TRecordingSession session(desktop.Platform(), options);
  // Stops once the seconds are recorded and saves, as `kestrova record --seconds` does.
  struct TStopAfter : TSessionObserver {
    TRecordingSession* Session = nullptr;
    std::uint32_t Ms = 0;
    std::string Output;
    void Tick(std::uint32_t recordedMs) override {
      if (recordedMs >= Ms) Session->Stop(Output);
    }
  } stop;
  stop.Session = &session;
  stop.Ms = seconds * 1000;
  stop.Output = dir + "/rec.swf";
  session.SetObserver(&stop);
  session.Start(TCaptureTarget::FullScreen());
}

void BM_RecorderPeakMemory(benchmark::State& state) {
  const std::string dir = TempFolder();
  double peak = 0;
  for (auto _ : state) peak = PeakMbOfChild({"record", std::to_string(state.range(0)), dir});
  state.counters["peak_MB"] = peak;
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_RecorderPeakMemory)
    ->Arg(10)
    ->Arg(40)
    ->ArgName("seconds")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The palette mapping alone: a 1920x1080 screen of the typical desktop, as 32-bit pixels.
void BM_PaletteMapping(benchmark::State& state) {
  sim::TSimDesktop desktop(Scene(TScene::Typical));
  const std::vector<std::uint8_t> indices = desktop.Compose(0, {0, 0, 1920, 1080}, true);
  std::vector<std::uint8_t> bgrx(indices.size() * 4);
  const auto& palette = FixedPalette();
  for (std::size_t i = 0; i < indices.size(); ++i) {
    const TRGBQuad& q = palette[indices[i]];
    bgrx[4 * i] = q.Blue;
    bgrx[4 * i + 1] = q.Green;
    bgrx[4 * i + 2] = q.Red;
  }
  std::vector<std::uint8_t> out(indices.size());
  for (auto _ : state) {
    MapRow(bgrx.data(), out.data(), out.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(out.size()));
}
BENCHMARK(BM_PaletteMapping)->Unit(benchmark::kMillisecond);

// The palette mapping of full-motion video at its worst: a 1920x1080 screen where every pixel is
// a different colour (an odd multiplier is a bijection of the 24-bit colours), so no pixel can
// reuse its neighbour's answer.
void BM_PaletteMappingNoisy(benchmark::State& state) {
  constexpr std::size_t kPixels = 1920 * 1080;
  std::vector<std::uint8_t> bgrx(kPixels * 4);
  for (std::size_t i = 0; i < kPixels; ++i) {
    const std::uint32_t colour = static_cast<std::uint32_t>(i * 0x9E3779B1u) & 0xFFFFFFu;
    bgrx[4 * i] = static_cast<std::uint8_t>(colour);
    bgrx[4 * i + 1] = static_cast<std::uint8_t>(colour >> 8);
    bgrx[4 * i + 2] = static_cast<std::uint8_t>(colour >> 16);
    bgrx[4 * i + 3] = static_cast<std::uint8_t>(i);
  }
  std::vector<std::uint8_t> out(kPixels);
  for (auto _ : state) {
    MapRow(bgrx.data(), out.data(), out.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(out.size()));
}
BENCHMARK(BM_PaletteMappingNoisy)->Unit(benchmark::kMillisecond);

// The work of a child process (PeakMbOfChild).
int RunChild(const std::vector<std::string>& a) {
  if (a.size() == 4 && a[0] == "segment") {
    RecordSegment(static_cast<TScene>(std::stoi(a[1])), std::stoi(a[2]), a[3]);
  } else if (a.size() == 4 && a[0] == "join") {
    const std::vector<TSegmentInput> inputs(std::stoul(a[1]), TSegmentInput{a[2], std::nullopt});
    WriteOutputFiles(inputs, 1920, 1080, a[3]);
  } else if (a.size() == 3 && a[0] == "record") {
    Record(static_cast<std::uint32_t>(std::stoul(a[1])), a[2]);
  } else {
    return 2;
  }
  std::printf("%ld\n", PeakKb());
  return 0;
}

}  // namespace
}  // namespace kestrova

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--child") {
    return kestrova::RunChild(std::vector<std::string>(argv + 2, argv + argc));
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
