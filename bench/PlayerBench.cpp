// The player on 1920 x 1080 recordings built like the recorder's: segments of 120 frames (10 s
// at 12 fps) imported as sprites, each starting with a full 8-bit picture and then replacing a
// few 32-row strips per frame, the way a screen with some typing and a moving cursor records.
//
//   PlayerBench                          Google Benchmark: frames per second while playing
//   PlayerBench --make FILE SECONDS      writes such a recording
//   PlayerBench --play FILE              plays it once; prints frames/s and the peak memory
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "player/Player.h"
#include "tests/player/MovieMaker.h"

namespace kestrova {
namespace {

using namespace test;

constexpr int kWidth = 1920, kHeight = 1080, kStripRows = 32, kSegmentFrames = 120;

// Screen-like 8-bit rows: flat bands with sparse "text" pixels, which deflate about as well as
// a real desktop does.
Bytes Rows(int top, int rows, std::uint32_t seed) {
  Bytes raw;
  for (int i = 0; i < 256; ++i)
    raw.insert(raw.end(), {std::uint8_t(i), std::uint8_t(i * 3), std::uint8_t(i * 7)});
  std::uint32_t state = seed * 2654435761u + 1;
  for (int y = top; y < top + rows; ++y) {
    const std::uint8_t band = std::uint8_t(200 + (y / 90) % 40);
    for (int x = 0; x < kWidth; ++x) {
      state = state * 1103515245u + 12345u;
      const bool ink = (y % 18) < 12 && ((state >> 16) & 15) == 0;
      raw.push_back(ink ? std::uint8_t(state >> 24) : band);
    }
  }
  return raw;
}

// Writes tags into the body as they are made, so a long recording is not held as tag objects.
class TRecording : public TBasedSWFStream {
 public:
  TRecording() : TBasedSWFStream(0, 0, kWidth, kHeight, 12, true) {
    SetCompressed(true);
    FEngine = std::make_unique<TBitsEngine>(*FBody);
  }
  void MakeStream() override {}
  void Put(TSWFObject& tag) { tag.WriteToStream(*FEngine); }
  void Put(std::unique_ptr<TSWFObject> tag) { Put(*tag); }

 private:
  std::unique_ptr<TBitsEngine> FEngine;
};

std::unique_ptr<TSWFDefineShape> RecorderShape(std::uint16_t id, std::uint16_t bitmap, int rows) {
  TSWFMatrix m;
  m.SetTranslate(-5, -5);
  m.SetScale(float((kWidth - 1) * 20.0 / kWidth + 15.0 / 4096), float(20 + 15.0 / 4096));
  return RectShape(id, 0, 0, (kWidth - 1) * 20, rows * 20, ImageFill(bitmap, 0x41, m.GetRec()));
}

void MakeRecording(const std::string& fileName, int seconds) {
  TRecording movie;
  std::uint16_t id = 1;
  const int segments = (seconds * 12 + kSegmentFrames - 1) / kSegmentFrames;
  for (int s = 0; s < segments; ++s) {
    auto sprite = std::make_unique<TSWFDefineSprite>();
    sprite->SpriteId = 0;  // set after its characters
    auto place = [&](std::uint16_t depth, int top, int rows, std::uint32_t seed) {
      const std::uint16_t bitmap = id++, shape = id++;
      movie.Put(Lossless(bitmap, 3, kWidth, rows, Rows(top, rows, seed), false, 256));
      movie.Put(RecorderShape(shape, bitmap, rows));
      sprite->ControlTags.push_back(Remove(depth));
      sprite->ControlTags.push_back(Place(depth, shape, 0, (top + 1) * 20));
    };
    for (int f = 0; f < kSegmentFrames; ++f) {
      if (f == 0) {
        place(0, 0, kHeight, s);
      } else {
        // The typing line and the cursor's strip change every frame.
        const int typing = 10 + (f / 40) % 5, cursor = (f * 7 + s) % (kHeight / kStripRows);
        for (int strip : {typing, cursor}) {
          place(std::uint16_t(2 * strip + 1), strip * kStripRows, kStripRows,
                s * 1000 + f * 3 + strip);
        }
      }
      sprite->ControlTags.push_back(std::make_unique<TSWFShowFrame>());
    }
    sprite->SpriteId = id++;
    sprite->FrameCount = kSegmentFrames;
    movie.Put(*sprite);
    movie.Put(Place(std::uint16_t(s + 1), sprite->SpriteId));
    for (int f = 0; f < kSegmentFrames; ++f) movie.Put(std::make_unique<TSWFShowFrame>());
    movie.Put(Remove(std::uint16_t(s + 1)));
  }
  movie.Put(std::make_unique<TSWFEnd>());
  movie.FrameCount = static_cast<std::uint16_t>(segments * kSegmentFrames);
  movie.SaveToFile(fileName);
}

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int PlayOnce(const std::string& fileName) {
  const auto start = std::chrono::steady_clock::now();
  TMoviePlayer player(fileName);
  int frames = 0;
  while (player.NextFrame()) ++frames;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "%d frames (%.0f s of movie) in %.2f s: %.1f frames/s, %.1f x real time, peak %ld MB\n",
      frames, frames / 12.0, seconds, frames / seconds, frames / seconds / 12.0,
      PeakKilobytes() / 1024);
  return player.StopReason().empty() ? 0 : 1;
}

void BM_PlayRecording(benchmark::State& state) {
  const std::string name = "/tmp/kestrova-player-bench-" + std::to_string(state.range(0)) + ".swf";
  MakeRecording(name, static_cast<int>(state.range(0)));
  std::int64_t frames = 0;
  for (auto _ : state) {
    TMoviePlayer player(name);
    while (player.NextFrame()) ++frames;
  }
  std::remove(name.c_str());
  state.counters["frames/s"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
  state.counters["x real time"] =
      benchmark::Counter(double(frames) / 12.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlayRecording)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kestrova

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--make") == 0) {
    kestrova::MakeRecording(argv[2], std::atoi(argv[3]));
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "--play") == 0) return kestrova::PlayOnce(argv[2]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
