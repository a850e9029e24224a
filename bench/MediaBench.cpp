// Decoding a 1920x1080 BMP of each form, counting its colours, and probing a 10 MB MP3, in MB/s
// of file bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "media/ImageReader.h"
#include "media/SoundReader.h"

namespace kestrova {
namespace {

constexpr std::int32_t kWidth = 1920, kHeight = 1080;

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// A screen-like picture: flat bands and windows with some noisy "text" rows, as a palette index
// per pixel (0-255) and the colour of each index.
std::uint8_t IndexAt(std::int32_t x, std::int32_t y, std::mt19937& rng) {
  if (y % 40 < 12 && x % 300 < 220) return static_cast<std::uint8_t>(rng() % 4 ? 15 : rng());
  if (x > 400 && x < 1500 && y > 200 && y < 900) return 200;
  return static_cast<std::uint8_t>(y / 64);
}

std::uint32_t ColourOf(std::uint8_t index) {
  return static_cast<std::uint32_t>(index * 0x010101u ^ 0x203040u);
}

std::vector<std::uint8_t> Indexes() {
  std::mt19937 rng(11);
  std::vector<std::uint8_t> px(static_cast<std::size_t>(kWidth) * kHeight);
  for (std::int32_t y = 0; y < kHeight; ++y) {
    for (std::int32_t x = 0; x < kWidth; ++x)
      px[static_cast<std::size_t>(y) * kWidth + x] = IndexAt(x, y, rng);
  }
  return px;
}

// Run-length rows: runs of three or more equal pixels, literals between them.
Bytes EncodeRLE(const std::vector<std::uint8_t>& px, bool fourBits) {
  Bytes out;
  for (std::int32_t y = 0; y < kHeight; ++y) {
    const std::uint8_t* row = &px[static_cast<std::size_t>(y) * kWidth];
    auto v = [&](std::int32_t x) {
      return static_cast<std::uint8_t>(fourBits ? row[x] & 15 : row[x]);
    };
    std::int32_t x = 0;
    while (x < kWidth) {
      std::int32_t n = 1;
      while (x + n < kWidth && n < 255 && v(x + n) == v(x)) ++n;
      if (n >= 3 || kWidth - x < 3) {
        out.push_back(static_cast<std::uint8_t>(n));
        out.push_back(fourBits ? static_cast<std::uint8_t>(v(x) << 4 | v(x)) : v(x));
        x += n;
        continue;
      }
      std::int32_t m = 3;
      while (x + m < kWidth && m < 254 &&
             !(x + m + 2 < kWidth && v(x + m) == v(x + m + 1) && v(x + m) == v(x + m + 2)))
        ++m;
      out.push_back(0);
      out.push_back(static_cast<std::uint8_t>(m));
      const std::size_t start = out.size();
      for (std::int32_t k = 0; k < m; k += fourBits ? 2 : 1) {
        out.push_back(
            fourBits ? static_cast<std::uint8_t>(v(x + k) << 4 | (k + 1 < m ? v(x + k + 1) : 0))
                     : v(x + k));
      }
      if ((out.size() - start) % 2) out.push_back(0);
      x += m;
    }
    out.push_back(0);
    out.push_back(0);
  }
  out.push_back(0);
  out.push_back(1);
  return out;
}

Bytes Pixels(const std::vector<std::uint8_t>& px, std::uint16_t bits, bool rgbMasks) {
  const std::int32_t stride = TDIBitmap::StrideFor(kWidth, bits);
  Bytes out(static_cast<std::size_t>(stride) * kHeight, 0);
  for (std::int32_t y = 0; y < kHeight; ++y) {
    std::uint8_t* row = &out[static_cast<std::size_t>(y) * stride];
    for (std::int32_t x = 0; x < kWidth; ++x) {
      const std::uint8_t i = px[static_cast<std::size_t>(y) * kWidth + x];
      const std::uint32_t c = ColourOf(i);
      const std::uint32_t r = c >> 16 & 255, g = c >> 8 & 255, b = c & 255;
      switch (bits) {
        case 1:
          row[x / 8] |= static_cast<std::uint8_t>((i & 1) << (7 - x % 8));
          break;
        case 4:
          row[x / 2] |= static_cast<std::uint8_t>(x % 2 ? i & 15 : (i & 15) << 4);
          break;
        case 8:
          row[x] = i;
          break;
        case 16: {
          const std::uint32_t v = (r >> 3) << 11 | (g >> 2) << 5 | b >> 3;
          row[2 * x] = static_cast<std::uint8_t>(v);
          row[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
          break;
        }
        case 24:
          row[3 * x] = static_cast<std::uint8_t>(b), row[3 * x + 1] = static_cast<std::uint8_t>(g),
                  row[3 * x + 2] = static_cast<std::uint8_t>(r);
          break;
        default:
          row[4 * x] = static_cast<std::uint8_t>(rgbMasks ? r : b),
                  row[4 * x + 1] = static_cast<std::uint8_t>(g);
          row[4 * x + 2] = static_cast<std::uint8_t>(rgbMasks ? b : r);
      }
    }
  }
  return out;
}

struct TForm {
  const char* Name;
  std::uint16_t Bits;
  std::uint32_t Compression;
  bool RGBMasks;  // 32 bits with red low: the reader repacks
};

Bytes MakeFile(const TForm& f, const std::vector<std::uint8_t>& px) {
  Bytes table;
  if (f.Bits <= 8) {
    for (int i = 0; i < (1 << f.Bits); ++i) Put32(table, ColourOf(static_cast<std::uint8_t>(i)));
  } else if (f.Compression == kBI_BITFIELDS) {
    if (f.Bits == 16) {
      Put32(table, 0xF800), Put32(table, 0x07E0), Put32(table, 0x001F);
    } else {
      Put32(table, 0xFF), Put32(table, 0xFF00), Put32(table, 0xFF0000);
    }
  }
  const Bytes pixels = f.Compression == kBI_RLE8 || f.Compression == kBI_RLE4
                           ? EncodeRLE(px, f.Compression == kBI_RLE4)
                           : Pixels(px, f.Bits, f.RGBMasks);
  Bytes b{'B', 'M'};
  const std::uint32_t offset = 54 + static_cast<std::uint32_t>(table.size());
  Put32(b, offset + static_cast<std::uint32_t>(pixels.size()));
  Put32(b, 0);
  Put32(b, offset);
  Put32(b, 40);
  Put32(b, kWidth);
  Put32(b, kHeight);
  Put16(b, 1);
  Put16(b, f.Bits);
  Put32(b, f.Compression);
  Put32(b, static_cast<std::uint32_t>(pixels.size()));
  for (int i = 0; i < 4; ++i) Put32(b, 0);
  b.insert(b.end(), table.begin(), table.end());
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

constexpr TForm kForms[] = {
    {"1bit", 1, kBI_RGB, false},
    {"4bit", 4, kBI_RGB, false},
    {"4bit_RLE4", 4, kBI_RLE4, false},
    {"8bit", 8, kBI_RGB, false},
    {"8bit_RLE8", 8, kBI_RLE8, false},
    {"16bit_565", 16, kBI_BITFIELDS, false},
    {"24bit", 24, kBI_RGB, false},
    {"32bit", 32, kBI_RGB, false},
    {"32bit_masks_repacked", 32, kBI_BITFIELDS, true},
};

void BM_DecodeBMP(benchmark::State& state) {
  static const std::vector<std::uint8_t> px = Indexes();
  const TForm& form = kForms[state.range(0)];
  state.SetLabel(form.Name);
  TMemoryStream in(MakeFile(form, px));
  TBMPReader r;
  for (auto _ : state) {
    in.SetPosition(0);
    r.LoadFromStream(in);
    benchmark::DoNotOptimize(r.Bits());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.Size()));
}
BENCHMARK(BM_DecodeBMP)->DenseRange(0, std::size(kForms) - 1)->Unit(benchmark::kMillisecond);

void BM_ColorCount(benchmark::State& state) {
  static const std::vector<std::uint8_t> px = Indexes();
  const TForm& form = kForms[state.range(0)];
  state.SetLabel(form.Name);
  TMemoryStream in(MakeFile(form, px));
  TBMPReader r;
  r.LoadFromStream(in);
  for (auto _ : state) benchmark::DoNotOptimize(r.GetColorCount());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * r.ImageSize()));
}
BENCHMARK(BM_ColorCount)->Arg(3)->Arg(6)->Unit(benchmark::kMillisecond);

// A 10 MB MP3: an ID3v2 tag, 128 kbit/s frames, an ID3v1 tag.
Bytes MakeMP3() {
  Bytes b{'I', 'D', '3', 3, 0, 0, 0, 0, 8, 0};  // 1024 bytes of tag
  b.resize(10 + 1024, 0);
  while (b.size() < 10u * 1000 * 1000) {
    b.insert(b.end(), {0xFF, 0xFB, 0x90, 0x44});
    b.resize(b.size() + 413, 0x55);
  }
  Bytes v1(128, 0);
  v1[0] = 'T', v1[1] = 'A', v1[2] = 'G', v1[127] = 17;
  b.insert(b.end(), v1.begin(), v1.end());
  return b;
}

void BM_ProbeMP3(benchmark::State& state) {
  const Bytes mp3 = MakeMP3();
  const std::string name = (std::filesystem::temp_directory_path() / "kestrova-bench.mp3").string();
  {
    TFileStream f(name, TFileStream::Mode::Create);
    f.Write(mp3.data(), mp3.size());
  }
  for (auto _ : state) {
    const TWaveReader w(name);
    if (w.FrameCount == 0) state.SkipWithError("no frames found");
    benchmark::DoNotOptimize(w.Duration);
  }
  std::filesystem::remove(name);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * mp3.size()));
}
BENCHMARK(BM_ProbeMP3)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kestrova

BENCHMARK_MAIN();
