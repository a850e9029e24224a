#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "player/JpegBitmap.h"
#include "player/Player.h"
#include "tests/player/JpegMaker.h"
#include "tests/player/MovieMaker.h"

namespace kestrova {
namespace {

using namespace test;

constexpr int kW = 32, kH = 16;

// Four blocks of flat colour on JPEG block boundaries, so the decoded picture is close to them.
std::vector<std::uint32_t> Picture() {
  std::vector<std::uint32_t> rgb(kW * kH);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      static const std::uint32_t kBlocks[4] = {0xE02020, 0x20C040, 0x2040E0, 0xF0F0F0};
      rgb[y * kW + x] = kBlocks[x / 8 % 4];
    }
  }
  return rgb;
}

Bytes Concat(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

// Fills a JPEG tag's data block the way reading a tag does: the start and end markers are kept
// apart from the data.
template <class T>
std::unique_ptr<T> JpegTag(std::uint16_t id, const Bytes& stream, bool erroneousHeader = false) {
  auto tag = std::make_unique<T>();
  tag->CharacterId = id;
  tag->JPEGLead = erroneousHeader ? TSWFDataObject::TJPEGLead::ErroneousHeader
                                  : TSWFDataObject::TJPEGLead::StartMarker;
  tag->JPEGEndMarker = true;
  tag->Data.assign(stream.begin() + 2, stream.end() - 2);
  return tag;
}

Bytes Alpha(int leftOpaqueColumns) {
  Bytes plane(kW * kH);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) plane[y * kW + x] = x < leftOpaqueColumns ? 255 : 0;
  }
  return Deflate(plane);
}

struct TJpegCase {
  const char* Name;
  // Adds the picture as character 1 (and any tables it needs).
  std::function<void(TTestMovie&)> Add;
  int OpaqueColumns;  // columns of the picture drawn; the rest show the red stage
};

const TJpegCase kCases[] = {
    {"DefineBitsJPEG2 holding a whole stream",
     [](TTestMovie& m) {
       m.Add(JpegTag<TSWFDefineBitsJPEG2>(1, EncodeJpeg(kW, kH, Picture(), false).Image));
     },
     kW},
    {"DefineBitsJPEG2 with tables and image as two streams",
     [](TTestMovie& m) {
       const TJpegParts p = EncodeJpeg(kW, kH, Picture(), true);
       m.Add(JpegTag<TSWFDefineBitsJPEG2>(1, Concat(p.Tables, p.Image)));
     },
     kW},
    {"DefineBitsJPEG2 after the erroneous header of old tools",
     [](TTestMovie& m) {
       m.Add(JpegTag<TSWFDefineBitsJPEG2>(1, EncodeJpeg(kW, kH, Picture(), false).Image, true));
     },
     kW},
    {"DefineBits with the movie's JPEGTables",
     [](TTestMovie& m) {
       const TJpegParts p = EncodeJpeg(kW, kH, Picture(), true);
       auto tables = std::make_unique<TSWFJPEGTables>();
       tables->Data.assign(p.Tables.begin() + 2, p.Tables.end() - 2);
       m.Add(std::move(tables));
       m.Add(JpegTag<TSWFDefineBits>(1, p.Image));
     },
     kW},
    {"DefineBitsJPEG3 with an alpha plane",
     [](TTestMovie& m) {
       auto tag = JpegTag<TSWFDefineBitsJPEG3>(1, EncodeJpeg(kW, kH, Picture(), false).Image);
       tag->AlphaData = Alpha(12);
       m.Add(std::move(tag));
     },
     12},
    {"DefineBitsJPEG3 without alpha data",
     [](TTestMovie& m) {
       m.Add(JpegTag<TSWFDefineBitsJPEG3>(1, EncodeJpeg(kW, kH, Picture(), false).Image));
     },
     kW},
};

Bytes MovieWith(const std::function<void(TTestMovie&)>& add) {
  TTestMovie movie(kW, kH);
  auto bg = std::make_unique<TSWFSetBackgroundColor>();
  bg->BackgroundColor().SetRGB(SWFRGB(255, 0, 0));
  movie.Add(std::move(bg));
  add(movie);
  movie.Add(RectShape(2, 0, 0, kW * 20, kH * 20, ImageFill(1, 0x41, PixelScale())));
  movie.Add(Place(1, 2));
  movie.ShowFrame();
  return movie.Save();
}

bool Near(std::uint32_t a, std::uint32_t b, int tolerance) {
  for (int shift = 0; shift < 24; shift += 8) {
    if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance) return false;
  }
  return true;
}

class JpegPictures : public ::testing::TestWithParam<TJpegCase> {};

TEST_P(JpegPictures, ShowThePicturesPixelsWithinJpegRounding) {
  if (!JpegDecodingAvailable()) GTEST_SKIP() << "built without libjpeg";
  const TJpegCase& c = GetParam();
  auto p = Play(MovieWith(c.Add));
  ASSERT_TRUE(p->NextFrame());
  EXPECT_TRUE(p->Notes().empty()) << p->Notes().front();
  const std::vector<std::uint32_t> want = Picture();
  int wrong = 0;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const std::uint32_t expected = x < c.OpaqueColumns ? want[y * kW + x] : 0xFF0000u;
      const std::uint32_t got = PixelAt(*p, x, y);
      if (!Near(got, expected, 6) && ++wrong <= 3) {
        ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << got << ", expected "
                      << expected;
      }
    }
  }
  EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Tags, JpegPictures, ::testing::ValuesIn(kCases), [](const auto& info) {
  std::string n = info.param.Name;
  for (char& ch : n) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return n;
});

// Damaged pictures are said and left out; the movie plays on and draws what else it holds.
TEST(Jpeg, DamagedPicturesAreNotesNotCrashes) {
  if (!JpegDecodingAvailable()) GTEST_SKIP() << "built without libjpeg";
  const Bytes good = EncodeJpeg(kW, kH, Picture(), false).Image;
  struct TDamage {
    const char* Name;
    std::function<void(TTestMovie&)> Add;
    const char* Said;
  } damages[] = {
      {"cut short in its header",
       [&](TTestMovie& m) {
         m.Add(JpegTag<TSWFDefineBitsJPEG2>(1, Bytes(good.begin(), good.begin() + 40)));
       },
       "its JPEG data is damaged"},
      {"garbage", [&](TTestMovie& m) { m.Add(JpegTag<TSWFDefineBitsJPEG2>(1, Bytes(300, 0x5A))); },
       "its JPEG data is damaged"},
      {"PNG data",
       [&](TTestMovie& m) {
         auto tag = std::make_unique<TSWFDefineBitsJPEG2>();
         tag->CharacterId = 1;
         tag->JPEGLead = TSWFDataObject::TJPEGLead::None;
         tag->JPEGEndMarker = false;
         tag->Data = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0};
         m.Add(std::move(tag));
       },
       "PNG and GIF pictures"},
      {"alpha shorter than the picture",
       [&](TTestMovie& m) {
         auto tag = JpegTag<TSWFDefineBitsJPEG3>(1, good);
         tag->AlphaData = Deflate(Bytes(10, 255));
         m.Add(std::move(tag));
       },
       "ends early"},
      {"a picture larger than a player holds",
       [&](TTestMovie& m) {
         // A frame header claiming 60000 x 60000 pixels: refused before anything is allocated.
         Bytes big = good;
         for (std::size_t i = 0; i + 8 < big.size(); ++i) {
           if (big[i] == 0xFF && big[i + 1] == 0xC0) {
             big[i + 5] = big[i + 7] = 0xEA;
             big[i + 6] = big[i + 8] = 0x60;
             break;
           }
         }
         m.Add(JpegTag<TSWFDefineBitsJPEG2>(1, big));
       },
       "larger than a player holds"},
  };
  for (const TDamage& d : damages) {
    SCOPED_TRACE(d.Name);
    auto p = Play(MovieWith(d.Add));
    ASSERT_TRUE(p->NextFrame());
    EXPECT_EQ(PixelAt(*p, 5, 5), 0xFF0000u);  // the stage, nothing drawn over it
    ASSERT_EQ(p->Notes().size(), 1u);
    EXPECT_NE(p->Notes()[0].find("bitmap 1 is not drawn"), std::string::npos) << p->Notes()[0];
    EXPECT_NE(p->Notes()[0].find(d.Said), std::string::npos) << p->Notes()[0];
    EXPECT_FALSE(p->NextFrame());
    EXPECT_TRUE(p->StopReason().empty());
  }
}

TEST(Jpeg, JoinTakesOutTheSeamsAndTheErroneousHeader) {
  const Bytes tables = {0xFF, 0xD8, 0xFF, 0xDB, 0xFF, 0xD9};
  const Bytes image = {0xFF, 0xD8, 0xFF, 0xC0, 0x12, 0xFF, 0x00, 0xFF, 0xD9};
  EXPECT_EQ(JoinJpegStream(tables, image),
            (Bytes{0xFF, 0xD8, 0xFF, 0xDB, 0xFF, 0xC0, 0x12, 0xFF, 0x00, 0xFF, 0xD9}));
  EXPECT_EQ(JoinJpegStream({}, Concat({0xFF, 0xD9}, image)), image);
  EXPECT_EQ(JoinJpegStream({}, image), image);
}

}  // namespace
}  // namespace kestrova
