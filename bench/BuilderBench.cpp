// The movie builder on screen content: deflate writers side by side on text, UI and photo
// pictures, and Build + MakeStream + SaveToFile of 120 full-HD 8-bit frames with the share of
// time spent in deflate and the peak heap in use.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "flashobjects/FlashObjects.h"
#include "swftools/Deflate.h"

namespace kestrova {
namespace {

// The machine is shared: the thread's CPU time measures the work, not the waiting.
double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// ---- screen-like 8-bit pictures on a 256-colour halftone-like palette ----

// Palette: a 6 x 6 x 6 colour cube, then 40 greys.
std::vector<TRGBQuad> HalftonePalette() {
  std::vector<TRGBQuad> p;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        p.push_back({std::uint8_t(b * 51), std::uint8_t(g * 51), std::uint8_t(r * 51), 0});
  for (int i = 0; i < 40; ++i)
    p.push_back({std::uint8_t(i * 6 + 8), std::uint8_t(i * 6 + 8), std::uint8_t(i * 6 + 8), 0});
  return p;
}

// Ordered dither of a colour into the cube, as a halftone stretch does.
std::uint8_t Dither(int r, int g, int b, int x, int y) {
  static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  const int t = bayer[y & 3][x & 3] * 51 / 16;
  auto level = [t](int v) { return std::min(5, (v + t) / 51); };
  return static_cast<std::uint8_t>(level(r) * 36 + level(g) * 6 + level(b));
}

constexpr std::uint8_t kWhite = 215, kBlack = 0, kBlue = 5, kGrey = 216 + 30, kDarkGrey = 216 + 12;

// Lines of text: glyphs from a fixed set of 7 x 11 shapes, on white, in black and link blue.
void DrawText(TDIBitmap& b, int left, int top, int right, int bottom, std::uint32_t seed) {
  static std::vector<std::uint16_t> glyphs = [] {
    std::mt19937 rng(42);
    std::vector<std::uint16_t> g(96 * 11);
    for (auto& row : g) row = static_cast<std::uint16_t>(rng() & 0x7E);  // 7 wide, gaps at sides
    return g;
  }();
  std::mt19937 rng(seed);
  for (int y = top; y + 14 <= bottom; y += 15) {
    int x = left + 4;
    const std::uint8_t ink = rng() % 7 == 0 ? kBlue : kBlack;
    while (x + 8 <= right) {
      const int word = 2 + rng() % 9;
      for (int c = 0; c < word && x + 8 <= right; ++c, x += 8) {
        const int glyph = rng() % 96;
        for (int gy = 0; gy < 11; ++gy) {
          std::uint8_t* row = b.Scanline(b.Rows() - 1 - (y + gy));
          const std::uint16_t bits = glyphs[glyph * 11 + gy];
          for (int gx = 0; gx < 7; ++gx)
            if (bits >> gx & 1) row[x + gx] = ink;
        }
      }
      x += 8;
      if (rng() % 12 == 0) break;  // ragged line ends
    }
  }
}

void Fill(TDIBitmap& b, int left, int top, int right, int bottom, std::uint8_t index) {
  for (int y = std::max(top, 0); y < std::min(bottom, b.Rows()); ++y) {
    std::uint8_t* row = b.Scanline(b.Rows() - 1 - y);
    std::fill(row + std::max(left, 0), row + std::min(right, b.Width), index);
  }
}

// A window: border, title bar with a dithered gradient, buttons, a client area of text.
void DrawWindow(TDIBitmap& b, int left, int top, int w, int h, std::uint32_t seed) {
  Fill(b, left, top, left + w, top + h, kDarkGrey);
  for (int y = top + 1; y < top + 24; ++y) {
    std::uint8_t* row = b.Scanline(b.Rows() - 1 - y);
    for (int x = left + 1; x < left + w - 1; ++x)
      row[x] = Dither(0, 40 + 120 * (x - left) / w, 180, x, y);
  }
  for (int i = 0; i < 3; ++i)
    Fill(b, left + w - 22 * (i + 1), top + 4, left + w - 22 * i - 4, top + 20, kGrey);
  Fill(b, left + 1, top + 24, left + w - 1, top + h - 1, kWhite);
  DrawText(b, left + 2, top + 28, left + w - 2, top + h - 2, seed);
}

// A photo: smooth value noise, dithered.
void DrawPhoto(TDIBitmap& b, int left, int top, int w, int h, std::uint32_t seed) {
  std::mt19937 rng(seed);
  const int cell = 48, gw = w / cell + 2, gh = h / cell + 2;
  std::vector<int> grid(std::size_t(gw) * gh * 3);
  for (auto& v : grid) v = rng() % 256;
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = b.Scanline(b.Rows() - 1 - (top + y));
    const int gy = y / cell;
    const double fy = double(y % cell) / cell;
    for (int x = 0; x < w; ++x) {
      const int gx = x / cell;
      const double fx = double(x % cell) / cell;
      int c[3];
      for (int k = 0; k < 3; ++k) {
        auto at = [&](int i, int j) { return grid[(std::size_t(j) * gw + i) * 3 + k]; };
        const double top_ = at(gx, gy) * (1 - fx) + at(gx + 1, gy) * fx;
        const double bottom = at(gx, gy + 1) * (1 - fx) + at(gx + 1, gy + 1) * fx;
        c[k] = static_cast<int>(top_ * (1 - fy) + bottom * fy + (int(rng() % 17) - 8));
      }
      row[left + x] = Dither(std::clamp(c[0], 0, 255), std::clamp(c[1], 0, 255),
                             std::clamp(c[2], 0, 255), left + x, top + y);
    }
  }
}

enum class TContent { Text, UI, Photo, Desktop };
const char* ContentName(TContent c) {
  switch (c) {
    case TContent::Text:
      return "text";
    case TContent::UI:
      return "ui";
    case TContent::Photo:
      return "photo";
    default:
      return "desktop";
  }
}

// A 1920 x 1080 picture of the kind; `variant` moves things so frames differ.
TDIBitmap Screen(TContent content, int variant) {
  TDIBitmap b;
  b.Allocate(1920, 1080, 8);
  b.Palette = HalftonePalette();
  switch (content) {
    case TContent::Text:
      Fill(b, 0, 0, 1920, 1080, kWhite);
      DrawText(b, 0, 0, 1920, 1080, 100 + variant);
      break;
    case TContent::UI:
      Fill(b, 0, 0, 1920, 1080, Dither(0, 90, 120, 0, 0));
      for (int i = 0; i < 6; ++i)
        DrawWindow(b, 60 + 140 * i + 7 * variant, 40 + 90 * i, 900, 560, 200 + i + variant);
      Fill(b, 0, 1040, 1920, 1080, kGrey);
      break;
    case TContent::Photo:
      DrawPhoto(b, 0, 0, 1920, 1080, 300 + variant);
      break;
    case TContent::Desktop:
      Fill(b, 0, 0, 1920, 1080, Dither(0, 90, 120, 0, 0));
      DrawWindow(b, 40 + 5 * variant, 30, 1100, 900, 400 + variant);
      DrawPhoto(b, 1180, 120, 640, 480, 500 + variant);
      DrawWindow(b, 1180, 640, 700, 380, 600 + variant);
      Fill(b, 0, 1040, 1920, 1080, kGrey);
      break;
  }
  return b;
}

// The bytes a lossless bitmap of the picture deflates: its colour table and rows.
std::vector<std::uint8_t> PackedPixels(const TDIBitmap& b) {
  std::vector<std::uint8_t> raw;
  for (const TRGBQuad& c : b.Palette) raw.insert(raw.end(), {c.Red, c.Green, c.Blue});
  for (int y = b.Rows() - 1; y >= 0; --y)
    raw.insert(raw.end(), b.Scanline(y), b.Scanline(y) + b.Width);
  return raw;
}

// ---- deflate writers side by side ----

void BM_Deflate(benchmark::State& state) {
  const auto content = static_cast<TContent>(state.range(0));
  const auto writer = static_cast<TDeflateWriter>(state.range(1));
  const int level = static_cast<int>(state.range(2));
  const std::vector<std::uint8_t> raw = PackedPixels(Screen(content, 0));
  std::vector<std::uint8_t> out;
  for (auto _ : state) {
    out.clear();
    ZlibCompress(raw.data(), raw.size(), out, level, writer);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(raw.size()));
  state.counters["ratio_pct"] = 100.0 * double(out.size()) / double(raw.size());
  state.counters["out_KB"] = double(out.size()) / 1024;
  state.SetLabel(std::string(ContentName(content)) + " " + DeflateWriterName(writer) + " level " +
                 (level < 0 ? std::string("default") : std::to_string(level)));
}

// The default level (zlib 6, libdeflate 7), libdeflate's own 6, and the fastest level.
void DeflateArgs(benchmark::internal::Benchmark* b) {
  for (int content = 0; content < 4; ++content) {
    for (int writer = 0; writer < 2; ++writer) b->Args({content, writer, -1});
    b->Args({content, 1, 6});
    for (int writer = 0; writer < 2; ++writer) b->Args({content, writer, 1});
  }
}
BENCHMARK(BM_Deflate)->Apply(DeflateArgs)->Unit(benchmark::kMillisecond);

// ---- the whole builder ----

std::size_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

// 120 full-screen frames, each a full picture as the recorder adds at a segment's start or a
// full refresh, then MakeStream and a compressed SaveToFile. eager: each image's data is built
// as soon as it is loaded (the bitmap freed); otherwise at MakeStream, as the design has it.
void BM_BuildMovie(benchmark::State& state) {
  const auto writer = static_cast<TDeflateWriter>(state.range(0));
  const bool eager = state.range(1) != 0;
  constexpr int kFrames = 120, kDistinct = 6;
  std::vector<TDIBitmap> screens;
  for (int i = 0; i < kDistinct; ++i) screens.push_back(Screen(TContent::Desktop, i));
  const std::string file = (std::filesystem::temp_directory_path() /
                            ("kestrova-builderbench-" + std::to_string(getpid()) + ".swf"))
                               .string();
  double total = 0, deflateSeconds = 0;
  std::size_t peak = 0, outSize = 0;
  for (auto _ : state) {
    const std::size_t base = HeapInUse();
    const double start = CpuSeconds();
    {
      TFlashMovie movie(0, 0, 1920 * 20, 1080 * 20, 12, false);
      movie.SetInPixels(true);
      movie.SetCompressed(true);
      movie.DeflateWriter = writer;
      movie.BackgroundColor().SetRGB(SWFRGB(0u));
      // Reported while tags are written and once the body is compressed, when the most is held.
      movie.OnProgress = [&](TBasedSWFStream&, int, int) {
        peak = std::max(peak, HeapInUse() - base);
      };
      for (int f = 0; f < kFrames; ++f) {
        movie.RemoveObject(0);
        TFlashImage& image = movie.AddImage();
        image.LoadFromHandle(screens[f % kDistinct]);
        if (eager) image.MakeData();
        movie.PlaceObject(movie.AddImageShape(image), 0).SetTranslate(0, 1);
        movie.ShowFrame();
        peak = std::max(peak, HeapInUse() - base);
      }
      movie.MakeStream();
      peak = std::max(peak, HeapInUse() - base);
      movie.SaveToFile(file);
    }
    total = CpuSeconds() - start;
    outSize = std::filesystem::file_size(file);
    state.SetIterationTime(total);
    // The same deflate work alone: every picture's pixels, then the file body.
    state.PauseTiming();
    std::vector<std::uint8_t> out;
    std::size_t bodyBytes = 0;
    for (int f = 0; f < kFrames; ++f) {
      const auto raw = PackedPixels(screens[f % kDistinct]);
      const double t0 = CpuSeconds();
      out.clear();
      ZlibCompress(raw.data(), raw.size(), out, -1, writer);
      deflateSeconds += CpuSeconds() - t0;
      bodyBytes += out.size() + 40;
    }
    std::vector<std::uint8_t> body(bodyBytes, 0);
    std::mt19937 rng(1);
    for (auto& v : body) v = static_cast<std::uint8_t>(rng());  // deflated data is near random
    const double t1 = CpuSeconds();
    out.clear();
    ZlibCompress(body.data(), body.size(), out, -1, writer);
    deflateSeconds += CpuSeconds() - t1;
    state.ResumeTiming();
  }
  std::filesystem::remove(file);
  const double raw = double(kFrames) * 1920 * 1080;
  state.counters["fps"] = kFrames / total;
  state.counters["raw_MBps"] = raw / total / 1e6;
  state.counters["deflate_pct"] = 100.0 * deflateSeconds / double(state.iterations()) / total;
  state.counters["peak_heap_MB"] = double(peak) / 1e6;
  state.counters["file_MB"] = double(outSize) / 1e6;
  state.SetLabel(std::string(DeflateWriterName(writer)) + (eager ? " eager" : " deferred"));
}
BENCHMARK(BM_BuildMovie)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrova

BENCHMARK_MAIN();
