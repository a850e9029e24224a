#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <string>

#include "media/ImageReader.h"
#include "tests/media/MediaTestUtil.h"

namespace kestrova {
namespace {

using test::Bytes;
using test::FixtureBytes;
using test::GreyTable;
using test::MakeBMP;
using test::MediaFixture;

void LoadBytes(TBMPReader& r, const Bytes& bytes) {
  TMemoryStream m(bytes);
  r.LoadFromStream(m);
}

// A channel of `width` bits widened to 8 by repeating its top bits, as BMP decoders do.
std::uint8_t Widen(std::uint32_t v, std::uint8_t width) {
  if (width >= 8) return static_cast<std::uint8_t>(v >> (width - 8));
  std::uint32_t out = 0;
  for (int have = 0; have < 8; have += width) out = out << width | v;
  const int extra = ((8 + width - 1) / width) * width - 8;
  return static_cast<std::uint8_t>(out >> extra);
}

// The colour of pixel (x, y), y counted from the top of the picture.
std::array<std::uint8_t, 3> PixelRGB(const TBMPReader& r, std::int32_t x, std::int32_t y) {
  const std::int32_t row = r.Height() > 0 ? r.Rows() - 1 - y : y;
  const std::uint8_t* line = r.Scanlines(row);
  switch (r.BitCount()) {
    case 1:
    case 4:
    case 8: {
      const int bits = r.BitCount();
      const int bit = x * bits;
      const int index = (line[bit / 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1);
      const TRGBQuad& q = r.Palette()[index];
      return {q.Red, q.Green, q.Blue};
    }
    case 24:
      return {line[3 * x + 2], line[3 * x + 1], line[3 * x]};
    default: {
      const int bytes = r.BitCount() / 8;
      std::uint32_t v = 0;
      for (int i = bytes - 1; i >= 0; --i) v = v << 8 | line[bytes * x + i];
      const std::uint8_t b = r.BBits(), g = r.GBits(), rr = r.RBits();
      return {Widen((v >> (b + g)) & ((1u << rr) - 1), rr), Widen((v >> b) & ((1u << g) - 1), g),
              Widen(v & ((1u << b) - 1), b)};
    }
  }
}

struct TFormCase {
  const char* File;
  std::uint16_t BitCount;
  std::int32_t Height;
  std::uint32_t Compression;           // as held after loading
  std::array<std::uint8_t, 3> Widths;  // blue, green, red
};

class BMPForms : public ::testing::TestWithParam<TFormCase> {};

// Every form decodes to the pixels ImageMagick decodes from the same file.
TEST_P(BMPForms, PixelsMatchTheReference) {
  const TFormCase& c = GetParam();
  TBMPReader r;
  r.LoadFromFile(MediaFixture(std::string(c.File) + ".bmp"));
  EXPECT_EQ(r.Width(), 17);
  EXPECT_EQ(r.Height(), c.Height);
  EXPECT_EQ(r.BitCount(), c.BitCount);
  EXPECT_EQ(r.Compression(), c.Compression);
  EXPECT_EQ((std::array{r.BBits(), r.GBits(), r.RBits()}), c.Widths);
  EXPECT_EQ(r.BytesPerLine(), TDIBitmap::StrideFor(17, c.BitCount));
  const Bytes ref = FixtureBytes(std::string(c.File) + ".rgb");
  ASSERT_EQ(ref.size(), 17u * 9u * 3u);
  for (std::int32_t y = 0; y < 9; ++y) {
    for (std::int32_t x = 0; x < 17; ++x) {
      const std::size_t at = (static_cast<std::size_t>(y) * 17 + x) * 3;
      const std::array<std::uint8_t, 3> want{ref[at], ref[at + 1], ref[at + 2]};
      ASSERT_EQ(PixelRGB(r, x, y), want) << c.File << " at " << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, BMPForms,
    ::testing::Values(TFormCase{"bmp1", 1, 9, kBI_RGB, {0, 0, 0}},
                      TFormCase{"bmp4", 4, 9, kBI_RGB, {0, 0, 0}},
                      TFormCase{"bmp4_rle4", 4, 9, kBI_RGB, {0, 0, 0}},
                      TFormCase{"bmp8", 8, 9, kBI_RGB, {0, 0, 0}},
                      TFormCase{"bmp8_rle8", 8, 9, kBI_RGB, {0, 0, 0}},
                      TFormCase{"bmp8_core", 8, 9, kBI_RGB, {0, 0, 0}},
                      TFormCase{"bmp16_plain", 16, 9, kBI_RGB, {5, 5, 5}},
                      TFormCase{"bmp16_555", 16, 9, kBI_BITFIELDS, {5, 5, 5}},
                      TFormCase{"bmp16_565", 16, 9, kBI_BITFIELDS, {5, 6, 5}},
                      TFormCase{"bmp16_565_info40", 16, 9, kBI_BITFIELDS, {5, 6, 5}},
                      TFormCase{"bmp24", 24, 9, kBI_RGB, {0, 0, 0}},
                      TFormCase{"bmp24_topdown", 24, -9, kBI_RGB, {0, 0, 0}},
                      TFormCase{"bmp32", 32, 9, kBI_RGB, {8, 8, 8}},
                      TFormCase{"bmp32_v5", 32, 9, kBI_BITFIELDS, {8, 8, 8}},
                      TFormCase{"bmp32_masks_rgb", 32, 9, kBI_BITFIELDS, {8, 8, 8}}),
    [](const auto& info) { return std::string(info.param.File); });

TEST(BMPReader, RunLengthFilesDecodeToTheUncompressedPixels) {
  TBMPReader plain, rle;
  plain.LoadFromFile(MediaFixture("bmp8.bmp"));
  rle.LoadFromFile(MediaFixture("bmp8_rle8.bmp"));
  ASSERT_EQ(plain.Palette(), rle.Palette());
  EXPECT_EQ(plain.Image().Bits, rle.Image().Bits);
}

TEST(BMPReader, StrideAndPadding) {
  struct {
    std::int32_t Width;
    std::uint16_t Bits;
    std::int32_t Stride, Padding;
  } const cases[] = {{3, 24, 12, 3}, {17, 1, 4, 1}, {1, 4, 4, 3}, {5, 16, 12, 2},
                     {7, 32, 28, 0}, {8, 8, 8, 0},  {9, 1, 4, 2}};
  for (const auto& c : cases) {
    TBMPReader r;
    r.SetSize(c.Width, 2, c.Bits);
    EXPECT_EQ(r.BytesPerLine(), c.Stride) << c.Width << "x" << c.Bits;
    EXPECT_EQ(r.RowPadding(), c.Padding) << c.Width << "x" << c.Bits;
    EXPECT_EQ(r.ImageSize(), static_cast<std::uint32_t>(2 * c.Stride));
  }
}

TEST(BMPReader, SetFormatBuildsMasksFromChannelWidths) {
  TBMPReader r;
  r.SetFormat({}, 4, 5, 6, 5, 16, 3);
  EXPECT_EQ(r.Compression(), kBI_BITFIELDS);
  EXPECT_EQ(r.Image().BlueMask, 0x001Fu);
  EXPECT_EQ(r.Image().GreenMask, 0x07E0u);
  EXPECT_EQ(r.Image().RedMask, 0xF800u);
  EXPECT_EQ((std::array{r.BShift(), r.GShift(), r.RShift()}),
            (std::array<std::uint8_t, 3>{3, 2, 3}));
  r.SetFormat({}, 4, 0, 0, 0, 16, 3);
  EXPECT_EQ(r.Compression(), kBI_RGB);
  EXPECT_EQ((std::array{r.BBits(), r.GBits(), r.RBits()}), (std::array<std::uint8_t, 3>{5, 5, 5}));
  EXPECT_EQ(r.Image().RedMask, 0x7C00u);
  // Widths filling all 32 bits.
  r.SetFormat({}, 2, 10, 12, 10, 32, 1);
  EXPECT_EQ(r.Image().RedMask, 0xFFC00000u);
  EXPECT_THROW(r.SetFormat({}, 2, 10, 12, 11, 32, 1), EMediaError);
  EXPECT_TRUE(r.Image().Bits.empty());
}

// Masks whose channels fill all 32 bits, high blue and low green, leave no room for red: the
// pixel is repacked to green over blue, and the empty red channel (which would start at bit 32)
// adds nothing.
TEST(BMPReader, BitFieldsFillingThePixelRepackWithAnEmptyChannel) {
  const Bytes masks{0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0xFF};  // red, green, blue
  TBMPReader r;
  LoadBytes(r, MakeBMP(1, 1, 32, kBI_BITFIELDS, masks, Bytes{0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(r.Image().BlueMask, 0xFFFFu);
  EXPECT_EQ(r.Image().GreenMask, 0xFFFF0000u);
  EXPECT_EQ(r.Image().RedMask, 0u);
  const std::uint8_t* p = r.Scanlines(0);
  EXPECT_EQ((Bytes{p[0], p[1], p[2], p[3]}), (Bytes{0x33, 0x44, 0x11, 0x22}));
}

TEST(BMPReader, SetSizeWithoutBitCountTakesTheScreenDepth) {
  TBMPReader r;
  r.SetSize(5, -4, 0);
  EXPECT_EQ(r.BitCount(), TBMPReader::kScreenBitCount);
  EXPECT_EQ(r.Compression(), kBI_BITFIELDS);
  EXPECT_EQ(r.Image().BlueMask, 0xFFu);
  EXPECT_EQ(r.Image().RedMask, 0xFF0000u);
  EXPECT_EQ(r.Rows(), 4);
  EXPECT_EQ(r.ImageSize(), 80u);
}

TEST(BMPReader, SetFormatKeepsPixelsWhenTheFormatIsUnchanged) {
  TBMPReader r;
  const Bytes data{1, 2, 3, 4, 5, 6, 7, 8};
  r.SetFormat(data, 4, 0, 0, 0, 8, 2);
  EXPECT_EQ(r.Image().Bits, data);
  r.SetSize(4, 2, 8);
  EXPECT_EQ(r.Image().Bits, data);
  r.SetSize(4, 3, 8);
  EXPECT_EQ(r.Image().Bits, Bytes(12, 0));
  EXPECT_THROW(r.SetFormat(Bytes(11), 4, 0, 0, 0, 8, 3), EMediaError);
}

TEST(BMPReader, ScanlinesAreBoundsChecked) {
  TBMPReader r;
  r.SetSize(3, -2, 24);
  EXPECT_EQ(r.Scanlines(1), r.Bits() + 12);
  EXPECT_THROW(r.Scanlines(2), std::out_of_range);
  EXPECT_THROW(r.Scanlines(-1), std::out_of_range);
  r.Clear();
  EXPECT_THROW(r.Scanlines(0), std::out_of_range);
  EXPECT_EQ(r.GetColorCount(), 0u);
}

// Hand-made run-length data: runs, literals of odd length (with their pad byte), a delta,
// clipping at the right edge, the end of line and the end of bitmap.
TEST(BMPReader, RLE8Codes) {
  const Bytes rle{3, 7,              // row 0: 7 7 7
                  0, 3, 1, 2, 3, 0,  // literal 1 2 3 and its pad byte
                  9, 4,              // a run past the right edge is clipped (width 8: two pixels)
                  0, 0,              // end of line
                  0, 2, 2, 1,        // delta: row 1 -> row 2, column 2
                  2, 9, 0, 1,        // 9 9 then end of bitmap
                  5, 5};             // never read
  TBMPReader r;
  LoadBytes(r, MakeBMP(8, 3, 8, kBI_RLE8, GreyTable(256), rle));
  EXPECT_EQ(Bytes(r.Scanlines(0), r.Scanlines(0) + 8), (Bytes{7, 7, 7, 1, 2, 3, 4, 4}));
  EXPECT_EQ(Bytes(r.Scanlines(1), r.Scanlines(1) + 8), Bytes(8, 0));
  EXPECT_EQ(Bytes(r.Scanlines(2), r.Scanlines(2) + 8), (Bytes{0, 0, 9, 9, 0, 0, 0, 0}));
  EXPECT_EQ(r.Compression(), kBI_RGB);
}

TEST(BMPReader, RLE4Codes) {
  const Bytes rle{3, 0x12,                       // 1 2 1
                  0, 3,    0x34, 0x50,           // literal 3 4 5 (two bytes: no pad)
                  0, 5,    0x67, 0x89, 0xA0, 0,  // literal of 5 nibbles: 3 bytes and a pad byte
                  0, 0,    0,    2,    1,    0,  // delta: column 1 on row 1
                  2, 0xFF,                       // starts at an odd column
                  0, 1};
  TBMPReader r;
  LoadBytes(r, MakeBMP(8, -2, 4, kBI_RLE4, GreyTable(16), rle));
  // Row 0: 1 2 1 3 4 5 6 7 (the literal's last three nibbles are clipped at width 8).
  EXPECT_EQ(Bytes(r.Scanlines(0), r.Scanlines(0) + 4), (Bytes{0x12, 0x13, 0x45, 0x67}));
  EXPECT_EQ(Bytes(r.Scanlines(1), r.Scanlines(1) + 4), (Bytes{0x0F, 0xF0, 0, 0}));
}

TEST(BMPReader, RunLengthDataPastTheRowsOrTheEndStops) {
  const struct {
    const char* What;
    Bytes Data;
  } cases[] = {
      {"delta past the last row", {0, 2, 0, 200, 4, 1}},
      {"delta cut short", {2, 1, 0, 2, 5}},
      {"literal cut short", {0, 9, 1, 2}},
      {"odd byte", {2, 1, 0}},
      {"only line ends", {0, 0, 0, 0, 0, 0, 0, 0, 3, 3}},
      {"huge column delta", {0, 2, 255, 0, 0, 2, 255, 0, 4, 8}},
  };
  for (const auto& c : cases) {
    TBMPReader r;
    EXPECT_NO_THROW(LoadBytes(r, (MakeBMP(4, 2, 8, kBI_RLE8, GreyTable(256), c.Data)))) << c.What;
    EXPECT_EQ(r.ImageSize(), 8u) << c.What;
  }
  // What a cut-off literal did cover is kept.
  TBMPReader r;
  LoadBytes(r, MakeBMP(4, 1, 8, kBI_RLE8, {}, {0, 9, 1, 2}));
  EXPECT_EQ(r.Image().Bits, (Bytes{1, 2, 0, 0}));
}

TEST(BMPReader, ColourTableHonoursColoursUsedAndTheFileEnd) {
  // Two colours declared for an 8-bit picture: the rest of the table is black.
  Bytes file = MakeBMP(2, 1, 8, kBI_RGB, {1, 2, 3, 0, 4, 5, 6, 0}, {0, 1, 0, 0});
  test::Set32(file, 46, 2);
  TBMPReader r;
  LoadBytes(r, file);
  ASSERT_EQ(r.Palette().size(), 256u);
  EXPECT_EQ(r.Palette()[1], (TRGBQuad{4, 5, 6, 255}));
  EXPECT_EQ(r.Palette()[2], (TRGBQuad{0, 0, 0, 255}));
}

TEST(BMPReader, ShortPixelDataLeavesTheRestZero) {
  Bytes file = MakeBMP(4, 2, 8, kBI_RGB, GreyTable(256), {9, 9, 9, 9, 8, 8, 8, 8});
  file.resize(file.size() - 3);
  TBMPReader r;
  r.SetFormat(Bytes(8, 0xEE), 4, 0, 0, 0, 8, 2);  // earlier pixels must not show through
  LoadBytes(r, file);
  EXPECT_EQ(r.Image().Bits, (Bytes{9, 9, 9, 9, 8, 0, 0, 0}));
}

struct TBadCase {
  const char* What;
  Bytes File;
  const char* Message;  // part of the error's text
};

Bytes WithField32(Bytes b, std::size_t at, std::uint32_t v) {
  test::Set32(b, at, v);
  return b;
}

Bytes Prefix(const Bytes& b, std::size_t n) {
  return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
}

Bytes WithField16(Bytes b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
  return b;
}

TEST(BMPReader, BadFilesGiveClearErrors) {
  const Bytes good = MakeBMP(4, 2, 24, kBI_RGB, {}, Bytes(24, 1));
  const Bytes masks{0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
  const TBadCase cases[] = {
      {"empty", {}, "not a BMP file"},
      {"signature only", {'B', 'M'}, "too short"},
      {"wrong signature", WithField16(good, 0, 0x4947), "not a BMP file"},
      {"unknown header size", WithField32(good, 14, 64), "info header size 64"},
      {"header size past the file", WithField32(Prefix(good, 40), 14, 124),
       "too short for its 124-byte"},
      {"zero width", WithField32(good, 18, 0), "width"},
      {"negative width", WithField32(good, 18, 0xFFFFFFFF), "width"},
      {"huge width", WithField32(good, 18, 1000000), "width"},
      {"zero height", WithField32(good, 22, 0), "height"},
      {"most negative height", WithField32(good, 22, 0x80000000), "height"},
      {"too many bytes", WithField32(WithField32(good, 18, 32768), 22, 32768),
       "more than the memory budget"},
      {"bit count 7", WithField16(good, 28, 7), "bits per pixel"},
      {"bit count 0", WithField16(good, 28, 0), "bits per pixel"},
      {"RLE8 at 24 bits", WithField32(good, 30, kBI_RLE8), "compression 1"},
      {"RLE4 at 8 bits", MakeBMP(4, 2, 8, kBI_RLE4, {}, Bytes(8)), "compression 2"},
      {"bit fields at 24 bits", WithField32(good, 30, kBI_BITFIELDS), "compression 3"},
      {"JPEG inside", WithField32(good, 30, 4), "compression 4"},
      {"pixel offset past the end", WithField32(good, 10, 5000), "past the end"},
      {"pixel offset in the header", WithField32(good, 10, 20), "inside the header"},
      {"overlapping masks",
       MakeBMP(2, 1, 16, kBI_BITFIELDS, {0, 0xF8, 0, 0, 0xE0, 0x0F, 0, 0, 0x1F, 0, 0, 0}, Bytes(4)),
       "masks"},
      {"mask beyond 16 bits",
       MakeBMP(2, 1, 16, kBI_BITFIELDS, {0, 0, 1, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0}, Bytes(4)),
       "masks"},
      {"masks missing", Prefix(MakeBMP(2, 1, 16, kBI_BITFIELDS, masks, {}), 60),
       "too short for its bit-field masks"},
  };
  for (const TBadCase& c : cases) {
    TBMPReader r;
    r.SetSize(2, 2, 8);
    try {
      TMemoryStream m(c.File);
      r.LoadFromStream(m);
      ADD_FAILURE() << c.What << ": no error";
    } catch (const EMediaError& e) {
      EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos)
          << c.What << ": " << e.what();
    }
    EXPECT_TRUE(r.Image().Bits.empty()) << c.What << ": a failed load leaves the reader empty";
  }
}

TEST(BMPReader, MemoryBudget) {
  // 1000 x 1000 at 24 bits claimed by a file of 60 bytes.
  const Bytes file = MakeBMP(1000, 1000, 24, kBI_RGB, {}, Bytes(6));
  TMediaBudget budget(1000 * 3000 - 1);
  TBMPReader r;
  r.Budget = &budget;
  try {
    LoadBytes(r, file);
    FAIL() << "no error";
  } catch (const EMediaError& e) {
    EXPECT_NE(std::string(e.what()).find("BMP: a picture of 1000x1000 at 24 bits per pixel needs "
                                         "3000000 bytes, more than the memory budget of 2999999"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(budget.Used(), 0u);
  budget.SetLimit(1000 * 3000);
  LoadBytes(r, file);
  EXPECT_EQ(r.ImageSize(), 3000000u);
  // The reader's pixels stay counted until it lets them go: a second picture does not fit.
  EXPECT_EQ(budget.Used(), 3000000u);
  TBMPReader second;
  second.Budget = &budget;
  EXPECT_THROW(LoadBytes(second, MakeBMP(1, 1, 24, kBI_RGB, {}, Bytes(4))), EMediaError);
  r.Clear();
  EXPECT_EQ(budget.Used(), 0u);
  LoadBytes(second, MakeBMP(1, 1, 24, kBI_RGB, {}, Bytes(4)));
  EXPECT_EQ(budget.Used(), 4u);
}

TEST(BMPReader, FileErrorsNameTheFile) {
  TBMPReader r;
  try {
    r.LoadFromFile(MediaFixture("wav_no_data.wav"));
    FAIL() << "no error";
  } catch (const EMediaError& e) {
    EXPECT_NE(std::string(e.what()).find("wav_no_data.wav"), std::string::npos) << e.what();
  }
  EXPECT_THROW(r.LoadFromFile(MediaFixture("no such file.bmp")), EStreamError);
}

// Every prefix of every fixture loads or fails cleanly.
TEST(BMPReader, TruncatedFilesFailCleanly) {
  for (const char* name : {"bmp1", "bmp4_rle4", "bmp8_rle8", "bmp8_core", "bmp16_565",
                           "bmp16_565_info40", "bmp32_masks_rgb", "bmp24_topdown"}) {
    const Bytes whole = FixtureBytes(std::string(name) + ".bmp");
    for (std::size_t n = 0; n < whole.size(); ++n) {
      TBMPReader r;
      TMemoryStream m(Bytes(whole.begin(), whole.begin() + n));
      try {
        r.LoadFromStream(m);
        EXPECT_EQ(r.Width(), 17) << name << " cut at " << n;
      } catch (const EMediaError&) {
        EXPECT_TRUE(r.Image().Bits.empty());
      }
    }
  }
}

TEST(BMPReader, LoadFromHandleCopiesABitmap) {
  TDIBitmap grab;
  grab.Allocate(5, 3, 8);
  grab.Palette.assign(256, TRGBQuad{1, 2, 3, 0});
  for (std::size_t i = 0; i < grab.Bits.size(); ++i) grab.Bits[i] = static_cast<std::uint8_t>(i);
  TBMPReader r;
  r.LoadFromHandle(grab);
  EXPECT_EQ(r.Width(), 5);
  EXPECT_EQ(r.Height(), 3);
  EXPECT_EQ(r.Image().Bits, grab.Bits);
  EXPECT_EQ(r.Palette(), grab.Palette);

  // Bit fields in an unusual order are repacked: red low, blue high.
  TDIBitmap masked;
  masked.Allocate(1, 1, 32);
  masked.Compression = kBI_BITFIELDS;
  masked.RedMask = 0xFF;
  masked.GreenMask = 0xFF00;
  masked.BlueMask = 0xFF0000;
  masked.Bits = {0x11, 0x22, 0x33, 0};
  r.LoadFromHandle(masked);
  EXPECT_EQ(r.Image().Bits, (Bytes{0x33, 0x22, 0x11, 0}));

  // Run-length data in the bitmap's Bits.
  TDIBitmap rle;
  rle.Width = 4;
  rle.Height = 1;
  rle.BitCount = 8;
  rle.Compression = kBI_RLE8;
  rle.Bits = {4, 6, 0, 1};
  r.LoadFromHandle(rle);
  EXPECT_EQ(r.Image().Bits, (Bytes{6, 6, 6, 6}));
  EXPECT_EQ(r.Compression(), kBI_RGB);
}

TEST(BMPReader, LoadFromHandleRefusesABitmapThatContradictsItself) {
  TDIBitmap wrongStride;
  wrongStride.Allocate(5, 3, 24);
  wrongStride.BytesPerLine = 15;
  TDIBitmap shortBits;
  shortBits.Allocate(5, 3, 24);
  shortBits.Bits.resize(40);
  TDIBitmap noSize;
  TDIBitmap badBits;
  badBits.Allocate(5, 3, 24);
  badBits.BitCount = 12;
  for (const TDIBitmap* b : {&wrongStride, &shortBits, &noSize, &badBits}) {
    TBMPReader r;
    EXPECT_THROW(r.LoadFromHandle(*b), EMediaError);
    EXPECT_TRUE(r.Image().Bits.empty());
  }
}

TEST(BMPReader, ColourCountOfOneBitPictures) {
  TBMPReader r;
  r.SetSize(17, 2, 1);
  std::fill(r.Image().Bits.begin(), r.Image().Bits.end(), 0xFF);
  r.Palette()[0] = TRGBQuad{0, 0, 0, 0};
  r.Palette()[1] = TRGBQuad{255, 255, 255, 0};
  // Only index 1 is used: it moves to entry 0 and the pixels follow.
  EXPECT_EQ(r.GetColorCount(), 1u);
  EXPECT_EQ(r.Palette()[0], (TRGBQuad{255, 255, 255, 0}));
  EXPECT_EQ(r.Scanlines(1)[0], 0x00);
  EXPECT_EQ(r.Scanlines(1)[3], 0xFF) << "padding untouched";
  // A differing pixel in the last, partly used byte of a row counts.
  r.Scanlines(1)[2] = 0x80;
  EXPECT_EQ(r.GetColorCount(), 2u);
  // Bits in the padding do not.
  r.SetSize(17, 2, 1);
  std::fill(r.Image().Bits.begin(), r.Image().Bits.end(), 0);
  r.Scanlines(0)[2] = 0x7F;
  EXPECT_EQ(r.GetColorCount(), 1u);
}

TEST(BMPReader, ColourCountCompactsThePalette) {
  TBMPReader r;
  r.SetSize(3, 2, 8);
  for (int i = 0; i < 256; ++i) r.Palette()[i] = TRGBQuad{static_cast<std::uint8_t>(i), 0, 0, 0};
  std::uint8_t* row0 = r.Scanlines(0);
  std::uint8_t* row1 = r.Scanlines(1);
  row0[0] = 200, row0[1] = 5, row0[2] = 200, row0[3] = 77;  // byte 3 is padding
  row1[0] = 5, row1[1] = 5, row1[2] = 5;
  EXPECT_EQ(r.GetColorCount(), 2u);
  EXPECT_EQ(r.Palette()[0].Blue, 5);
  EXPECT_EQ(r.Palette()[1].Blue, 200);
  EXPECT_EQ(Bytes(row0, row0 + 4), (Bytes{1, 0, 1, 77}));
  EXPECT_EQ(Bytes(row1, row1 + 3), (Bytes{0, 0, 0}));

  TBMPReader four;
  four.SetSize(3, 1, 4);
  for (int i = 0; i < 16; ++i) four.Palette()[i] = TRGBQuad{static_cast<std::uint8_t>(i), 0, 0, 0};
  four.Scanlines(0)[0] = 0xF9;
  four.Scanlines(0)[1] = 0xF3;  // low nibble is padding
  EXPECT_EQ(four.GetColorCount(), 2u);
  EXPECT_EQ(four.Scanlines(0)[0], 0x10);
  EXPECT_EQ(four.Scanlines(0)[1], 0x13);
  EXPECT_EQ(four.Palette()[0].Blue, 9);
  EXPECT_EQ(four.Palette()[1].Blue, 15);
}

TEST(BMPReader, ColourCountOfDirectColourPictures) {
  TBMPReader r;
  r.SetSize(3, 2, 24);
  EXPECT_EQ(r.GetColorCount(), 1u);
  r.Scanlines(0)[4] = 1;
  r.Scanlines(1)[9] = 7;  // padding
  EXPECT_EQ(r.GetColorCount(), 2u);

  r.SetSize(2, 2, 32);
  for (std::size_t i = 3; i < r.Image().Bits.size(); i += 4)
    r.Image().Bits[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(r.GetColorCount(), 1u) << "the fourth byte is not colour";
  r.Image().Bits[0] = 0xFF;
  EXPECT_EQ(r.GetColorCount(), 2u);

  r.SetSize(3, 1, 16);
  r.Scanlines(0)[0] = 1;
  r.Scanlines(0)[3] = 0x80;
  EXPECT_EQ(r.GetColorCount(), 3u);

  TBMPReader file;
  file.LoadFromFile(MediaFixture("bmp8.bmp"));
  const std::uint32_t paletted = file.GetColorCount();
  file.LoadFromFile(MediaFixture("bmp24.bmp"));
  EXPECT_GE(file.GetColorCount(), paletted);
}

TEST(JPEGSize, BaselineAndProgressive) {
  std::int32_t w = -1, h = -1;
  EXPECT_TRUE(GetJPEGSize(MediaFixture("jpeg_baseline_640x480.jpg"), w, h));
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  w = h = -1;
  EXPECT_FALSE(GetJPEGSize(MediaFixture("jpeg_progressive.jpg"), w, h));
  EXPECT_EQ(w, -1);
  EXPECT_EQ(h, -1);
  EXPECT_FALSE(GetJPEGSize(MediaFixture("bmp24.bmp"), w, h));
  EXPECT_THROW(GetJPEGSize(MediaFixture("missing.jpg"), w, h), EStreamError);
}

TEST(JPEGSize, MarkerScan) {
  const struct {
    const char* What;
    Bytes Data;
    bool Found;
  } cases[] = {
      {"fill bytes and a restart marker",
       {0xFF, 0xD8, 0xFF, 0xFF, 0xFF, 0xD0, 0xFF, 0xC1, 0, 11, 8, 0, 2, 0, 3, 1, 1, 0x11, 0},
       true},
      {"an application segment skipped",
       {0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 9, 9, 0xFF, 0xC0, 0, 11, 8, 0, 2, 0, 3, 1, 1, 0x11, 0},
       true},
      {"segment length past the end", {0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xF0, 0, 0}, false},
      {"segment length below 2", {0xFF, 0xD8, 0xFF, 0xE0, 0, 1, 0xFF, 0xC0}, false},
      {"no 0xFF after a segment", {0xFF, 0xD8, 0xFF, 0xE0, 0, 2, 0x00, 0xFF, 0xC0}, false},
      {"frame header cut short", {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0}, false},
      {"only the start marker", {0xFF, 0xD8}, false},
      {"not a JPEG", {0x89, 'P', 'N', 'G'}, false},
  };
  for (const auto& c : cases) {
    std::int32_t w = -1, h = -1;
    EXPECT_EQ(GetJPEGSize(std::span<const std::uint8_t>(c.Data), w, h), c.Found) << c.What;
    if (c.Found) {
      EXPECT_EQ(w, 3) << c.What;
      EXPECT_EQ(h, 2) << c.What;
    } else {
      EXPECT_EQ(w, -1) << c.What;
    }
  }
  const Bytes whole = FixtureBytes("jpeg_baseline_640x480.jpg");
  for (std::size_t n = 0; n < whole.size(); ++n) {
    std::int32_t w = 0, h = 0;
    if (GetJPEGSize(std::span<const std::uint8_t>(whole.data(), n), w, h)) {
      EXPECT_EQ(w, 640);
      EXPECT_EQ(h, 480);
    }
  }
}

}  // namespace
}  // namespace kestrova
