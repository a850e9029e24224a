// Bitmap images: how each pixel layout is described and repacked into the lossless bitmap tags.
#include <gtest/gtest.h>

#include <functional>

#include "media/MediaError.h"
#include "swftools/Deflate.h"
#include "tests/flashobjects/FlashTestUtil.h"

namespace kestrova {
namespace {

using test::Bytes;

// A bitmap of the depth whose rows, counted from the top, are the given bytes (each row padded
// to its stride); stored bottom-up unless topDown.
TDIBitmap Rows(std::int32_t width, std::uint16_t bitCount, const std::vector<Bytes>& rows,
               bool topDown = false) {
  TDIBitmap b;
  const auto n = static_cast<std::int32_t>(rows.size());
  b.Allocate(width, topDown ? -n : n, bitCount);
  for (std::int32_t y = 0; y < n; ++y) {
    std::uint8_t* row = b.Scanline(topDown ? y : n - 1 - y);
    std::copy(rows[y].begin(), rows[y].end(), row);
  }
  if (bitCount <= 8) {
    for (int i = 0; i < (1 << bitCount); ++i) {
      b.Palette.push_back({static_cast<std::uint8_t>(3 * i + 2),
                           static_cast<std::uint8_t>(3 * i + 1), static_cast<std::uint8_t>(3 * i),
                           0});
    }
  }
  return b;
}

struct TWritten {
  std::unique_ptr<TSWFObject> Tag;
  Bytes Raw;  // the inflated pixel data
};

// Writes the image as its movie would and reads the tag back.
TWritten Written(TFlashImage& image) {
  TMemoryStream m;
  TBitsEngine be(m);
  image.WriteToStream(be);
  const Bytes bytes = m.Bytes();
  const std::uint16_t code = static_cast<std::uint16_t>((bytes[0] | (bytes[1] << 8)) >> 6);
  EXPECT_EQ(bytes[0] & 0x3F, 0x3F) << "lossless bitmaps always take the long header";
  TWritten w;
  w.Tag = test::ReadBody(code, Bytes(bytes.begin() + 6, bytes.end()));
  const auto& tag = dynamic_cast<const TSWFDefineBitsLossless&>(*w.Tag);
  w.Raw = ZlibDecompress(tag.Data.data(), tag.Data.size(), 1 << 20);
  return w;
}

struct TImageCase {
  const char* What;
  std::function<TDIBitmap()> Bitmap;
  std::uint16_t TagID;
  std::uint8_t Format;  // as written in the tag
  int ColorTableSize;   // -1: none
  Bytes Raw;
};

const TImageCase kImageCases[] = {
    {"24-bit, 3 wide: four bytes a pixel, 0xFF first, no padding",
     [] {
       return Rows(3, 24, {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {9, 9, 9, 0, 0, 0, 1, 1, 1}});
     },
     20, 5, -1, Bytes{0xFF, 3, 2, 1, 0xFF, 6, 5, 4, 0xFF, 9, 8, 7,  // top row first
                      0xFF, 9, 9, 9, 0xFF, 0, 0, 0, 0xFF, 1, 1, 1}},
    {"8-bit, 5 wide: padded to 8, only the used colours in the table",
     [] {
       return Rows(5, 8, {{0, 1, 2, 1, 0}});
     },
     20, 3, 2,
     Bytes{0, 1, 2, /* colour 0 */ 3, 4, 5, /* colour 1 */ 6, 7, 8, /* colour 2 */
           0, 1, 2, 1, 0, 0, 0, 0}},
    {"8-bit using high indices: they are renumbered from 0 in index order",
     [] {
       return Rows(4, 8, {{200, 7, 200, 7}});
     },
     20, 3, 1,
     Bytes{21, 22, 23, /* old 7 */ 600 % 256, 601 % 256, 602 % 256, /* old 200 */ 1, 0, 1, 0}},
    {"1-bit, first byte 0x80: index bytes 1 then zeros",
     [] {
       return Rows(9, 1, {{0x80, 0x80}});
     },
     20, 3, 1, Bytes{0, 1, 2, 3, 4, 5, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}},
    {"1-bit, every pixel set: one colour, index 0", [] { return Rows(3, 1, {{0xE0}}); }, 20, 3, 0,
     Bytes{3, 4, 5, 0, 0, 0, 0}},
    {"4-bit, first byte 0x1F with all 16 values used: 1 and 15",
     [] {
       return Rows(32, 4,
                   {{0x1F, 0x02, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0x11, 0x11, 0x11, 0x11, 0x11,
                     0x11, 0x11, 0x11}});
     },
     20, 3, 15, Bytes{}},
    {"16-bit 0x7C00 written high byte first; 3 wide gets 2 zero bytes a row",
     [] {
       return Rows(3, 16, {{0x00, 0x7C, 0x1F, 0x00, 0xE0, 0x03}});
     },
     20, 4, -1, Bytes{0x7C, 0x00, 0x00, 0x1F, 0x03, 0xE0, 0, 0}},
    {"32-bit with alpha: alpha 0 is four zero bytes, others A R G B, DefineBitsLossless2",
     [] {
       return Rows(2, 32, {{9, 9, 9, 0, 3, 2, 1, 0x80}});
     },
     36, 5, -1, Bytes{0, 0, 0, 0, 0x80, 1, 2, 3}},
    {"32-bit without any alpha: opaque, DefineBitsLossless",
     [] {
       return Rows(2, 32, {{9, 8, 7, 0, 3, 2, 1, 0}});
     },
     20, 5, -1, Bytes{0xFF, 7, 8, 9, 0xFF, 1, 2, 3}},
    {"top-down rows are taken in their order",
     [] {
       return Rows(1, 24, {{1, 1, 1}, {2, 2, 2}}, true);
     },
     20, 5, -1, Bytes{0xFF, 1, 1, 1, 0xFF, 2, 2, 2}},
};

class ImageFormats : public ::testing::TestWithParam<TImageCase> {};

TEST_P(ImageFormats, WriteTheSWFPixelLayout) {
  const TImageCase& c = GetParam();
  TFlashImage image;
  image.SetCharacterId(7);
  const TDIBitmap bitmap = c.Bitmap();
  image.LoadFromHandle(bitmap);
  EXPECT_EQ(image.DataState(), TFlashImage::kDataReady);
  EXPECT_EQ(image.MinVersion(), c.TagID == 36 ? 3 : 2);
  const TWritten w = Written(image);
  const auto& tag = dynamic_cast<const TSWFDefineBitsLossless&>(*w.Tag);
  EXPECT_EQ(w.Tag->TagID, c.TagID);
  EXPECT_EQ(tag.CharacterId, 7);
  EXPECT_EQ(tag.BitmapFormat, c.Format);
  EXPECT_EQ(tag.BitmapWidth, bitmap.Width);
  EXPECT_EQ(tag.BitmapHeight, bitmap.Rows());
  if (c.ColorTableSize >= 0) {
    EXPECT_EQ(tag.BitmapColorTableSize, c.ColorTableSize);
  }
  if (!c.Raw.empty()) {
    EXPECT_EQ(test::Hex(w.Raw), test::Hex(c.Raw));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ImageFormats, ::testing::ValuesIn(kImageCases));

TEST(Image, FourBitPixelsUnpackHighNibbleFirst) {
  TFlashImage image;
  image.LoadFromHandle(kImageCases[5].Bitmap());
  const TWritten w = Written(image);
  // 16 colours of 3 bytes, then the row.
  EXPECT_EQ(w.Raw[48], 1);
  EXPECT_EQ(w.Raw[49], 15);
  EXPECT_EQ(w.Raw[50], 0);
  EXPECT_EQ(w.Raw[51], 2);
}

TEST(Image, NeverLoadedIsAnEmptyLosslessBitmap) {
  TFlashImage image;
  const TWritten w = Written(image);
  const auto& tag = dynamic_cast<const TSWFDefineBitsLossless&>(*w.Tag);
  EXPECT_EQ(w.Tag->TagID, 20);
  EXPECT_EQ(tag.BitmapFormat, 0);
  EXPECT_EQ(tag.BitmapWidth, 0);
  EXPECT_EQ(tag.BitmapHeight, 0);
  EXPECT_TRUE(w.Raw.empty());
}

TEST(Image, DataIsBuiltOnceAndTheBitmapFreed) {
  TFlashImage image;
  image.LoadFromHandle(Rows(3, 24, {{1, 2, 3, 4, 5, 6, 7, 8, 9}}));
  const std::vector<std::uint8_t>* first = &image.Data();
  const Bytes data = *first;
  // Loading again changes the description, not the data built already.
  image.LoadFromHandle(Rows(1, 24, {{0, 0, 0}}));
  EXPECT_EQ(image.Width, 1);
  EXPECT_EQ(&image.Data(), first);
  EXPECT_EQ(image.Data(), data);
}

TEST(Image, BitmapsThatDoNotHoldTheirRowsAreRefused) {
  TFlashImage image;
  TDIBitmap short_ = Rows(4, 8, {{1, 2, 3, 4}, {1, 2, 3, 4}});
  short_.Bits.resize(5);
  EXPECT_THROW(image.LoadFromHandle(short_), std::invalid_argument);
  TDIBitmap narrowStride = Rows(8, 24, {Bytes(24, 1)});
  narrowStride.BytesPerLine = 12;
  EXPECT_THROW(image.LoadFromHandle(narrowStride), std::invalid_argument);
  TDIBitmap huge;
  huge.Width = 70000;
  huge.Height = 1;
  huge.BitCount = 8;
  EXPECT_THROW(image.LoadFromHandle(huge), std::invalid_argument);
  EXPECT_EQ(image.DataState(), TFlashImage::kDataNone);
}

TEST(Image, UnknownDepthHasNoFormatAndNoPixels) {
  TDIBitmap b;
  b.Width = 4;
  b.Height = 1;
  b.BitCount = 2;
  b.BytesPerLine = 4;
  b.Bits.assign(4, 0xFF);
  TFlashImage image;
  image.LoadFromHandle(b);
  const TWritten w = Written(image);
  EXPECT_EQ(dynamic_cast<const TSWFDefineBitsLossless&>(*w.Tag).BitmapFormat, 0);
  EXPECT_TRUE(w.Raw.empty());
}

TEST(Image, SixteenBitFieldsOf565AreWrittenAs555) {
  TDIBitmap b = Rows(2, 16, {{0x00, 0xF8, 0xE0, 0x07}});  // pure red, pure green in 5-6-5
  b.Compression = 3;
  b.RedMask = 0xF800;
  b.GreenMask = 0x07E0;
  b.BlueMask = 0x001F;
  TFlashImage image;
  image.LoadFromHandle(b);
  EXPECT_EQ(test::Hex(Written(image).Raw), test::Hex(Bytes{0x7C, 0x00, 0x03, 0xE0}));
}

TEST(Image, BothWritersMakeDataThatInflatesToTheSamePixels) {
  const TDIBitmap bitmap = test::Indexed8(33, 17, [](int x, int y) { return (x * y) % 7; });
  Bytes raw[2];
  for (TDeflateWriter writer : {TDeflateWriter::Zlib, TDeflateWriter::Libdeflate}) {
    TFlashMovie movie(0, 0, 100, 100, 12, true);
    movie.DeflateWriter = writer;
    TFlashImage& image = movie.AddImage();
    image.LoadFromHandle(bitmap);
    raw[int(writer)] = Written(image).Raw;
  }
  EXPECT_EQ(raw[0], raw[1]);
}

}  // namespace
}  // namespace kestrova

namespace kestrova {
namespace {

// The picture as red, green, blue bytes, top row first, from the lossless data of the tag.
test::Bytes DecodedRGB(const TSWFDefineBitsLossless& tag, const test::Bytes& raw) {
  test::Bytes rgb;
  const std::size_t w = tag.BitmapWidth, h = tag.BitmapHeight;
  if (tag.BitmapFormat == 3) {
    const std::size_t colors = tag.BitmapColorTableSize + 1u, padded = (w + 3) & ~std::size_t{3};
    for (std::size_t y = 0; y < h; ++y) {
      for (std::size_t x = 0; x < w; ++x) {
        const std::uint8_t* c = raw.data() + 3 * raw[colors * 3 + y * padded + x];
        rgb.insert(rgb.end(), c, c + 3);
      }
    }
  } else if (tag.BitmapFormat == 4) {
    const std::size_t padded = (w + 1) & ~std::size_t{1};
    for (std::size_t y = 0; y < h; ++y) {
      for (std::size_t x = 0; x < w; ++x) {
        const std::uint16_t v = (raw[2 * (y * padded + x)] << 8) | raw[2 * (y * padded + x) + 1];
        for (int shift : {10, 5, 0})
          rgb.push_back(static_cast<std::uint8_t>(((v >> shift) & 31) * 255 / 31));
      }
    }
  } else {
    for (std::size_t i = 0; i < w * h; ++i)
      rgb.insert(rgb.end(), raw.begin() + 4 * i + 1, raw.begin() + 4 * i + 4);
  }
  return rgb;
}

class ImageFiles : public ::testing::TestWithParam<const char*> {};

// Every BMP form the reader takes, loaded by file name, shows the pixels the fixture's .rgb
// file holds (16-bit colours to within the precision of 5 bits a channel).
TEST_P(ImageFiles, LoadedPicturesKeepTheirPixels) {
  const std::string base = std::string(KESTROVA_TEST_DATA) + "/media/" + GetParam();
  TFlashMovie movie(0, 0, 100, 100, 12, true);
  TFlashImage& image = movie.AddImage(base + ".bmp");
  const TWritten w = Written(image);
  const auto& tag = dynamic_cast<const TSWFDefineBitsLossless&>(*w.Tag);
  const test::Bytes expected = ReadFileBytes(base + ".rgb");
  const test::Bytes actual = DecodedRGB(tag, w.Raw);
  ASSERT_EQ(actual.size(), expected.size());
  const int tolerance = tag.BitmapFormat == 4 ? 8 : 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (tag.TagID == 36 && w.Raw[(i / 3) * 4] == 0) continue;  // transparent
    ASSERT_LE(std::abs(int(actual[i]) - int(expected[i])), tolerance) << "byte " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ImageFiles,
                         ::testing::Values("bmp1", "bmp4", "bmp4_rle4", "bmp8", "bmp8_rle8",
                                           "bmp8_core", "bmp16_555", "bmp16_565", "bmp16_plain",
                                           "bmp24", "bmp24_topdown", "bmp32", "bmp32_v5"));

TEST(ImageFiles, JPEGFilesAreEmbeddedAsTheyAre) {
  const std::string file = std::string(KESTROVA_TEST_DATA) + "/media/jpeg_baseline_640x480.jpg";
  TFlashMovie movie(0, 0, 100, 100, 12, true);
  TFlashImage& image = movie.AddImage(file);
  EXPECT_TRUE(image.IsJPEG());
  EXPECT_EQ(image.Width, 640);
  EXPECT_EQ(image.Height, 480);
  TMemoryStream m;
  TBitsEngine be(m);
  image.WriteToStream(be);
  const test::Bytes bytes = m.Bytes();
  EXPECT_EQ(((bytes[0] | (bytes[1] << 8)) >> 6), 21);  // DefineBitsJPEG2
  const test::Bytes jpeg = ReadFileBytes(file);
  EXPECT_EQ(test::Bytes(bytes.begin() + 8, bytes.end()), jpeg) << "id, then the file unchanged";
  EXPECT_THROW(movie.AddImage(std::string(KESTROVA_TEST_DATA) + "/media/jpeg_progressive.jpg"),
               EMediaError);
  EXPECT_THROW(movie.AddImage(std::string(KESTROVA_TEST_DATA) + "/media/not_sound.ogg"),
               EMediaError);
  EXPECT_THROW(movie.AddImage("/no/such/picture.bmp"), EStreamError);
  EXPECT_EQ(movie.ObjectList().size(), 1u);
}

}  // namespace
}  // namespace kestrova
