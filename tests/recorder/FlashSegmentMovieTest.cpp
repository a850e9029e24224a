// The program's segment movies, read back by the player: a large picture a segment deflated is
// taken again by a later segment of the same factory only when it is the same picture.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "player/Player.h"
#include "recorder/ChangeDetector.h"
#include "recorder/FlashSegmentMovie.h"

namespace kestrova::test {
namespace {

constexpr int kW = 400, kH = 200;  // 320 000 bytes at 32 bits: large enough to be kept

TDIBitmap Picture(std::uint32_t seed) {
  TDIBitmap b;
  b.Allocate(kW, -kH, 32);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      std::uint8_t* p = PictureRow(b, y) + 4 * x;
      p[0] = static_cast<std::uint8_t>(x * 7 + seed);
      p[1] = static_cast<std::uint8_t>(y * 3);
      p[2] = static_cast<std::uint8_t>((x ^ y) + seed * 11);
    }
  }
  return b;
}

// The segment's one frame shows the picture, pixel for pixel.
::testing::AssertionResult Plays(const std::string& file, const TDIBitmap& picture) {
  TMoviePlayer player(file);
  if (!player.NextFrame()) return ::testing::AssertionFailure() << "no frame";
  const std::uint8_t* pixels = player.Pixels();
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const std::uint8_t* want = PictureRow(picture, y) + 4 * x;
      const std::uint8_t* got = pixels + 4 * (static_cast<std::size_t>(y) * kW + x);
      if (got[0] != want[2] || got[1] != want[1] || got[2] != want[0]) {
        return ::testing::AssertionFailure() << "pixel " << x << "," << y;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(FlashSegmentMovie, ALaterSegmentTakesAPictureAgainOnlyWhenItIsTheSame) {
  const TDIBitmap a = Picture(1);
  TDIBitmap oneOff = a;  // one pixel differs, in the last row
  PictureRow(oneOff, kH - 1)[4 * (kW - 1)] ^= 0x40;
  const TDIBitmap b = Picture(2);
  struct TCase {
    const char* What;
    const TDIBitmap* Shown;
    bool Busy;
  };
  const TCase cases[] = {
      {"first", &a, false},
      {"the same again", &a, false},
      {"one pixel apart", &oneOff, false},
      {"the first again", &a, false},
      {"the same, busy", &a, true},
      {"another", &b, false},
      {"another, busy", &b, true},
  };
  const TSegmentMovieFactory factory = FlashSegmentMovieFactory();
  const std::string file =
      (std::filesystem::temp_directory_path() / "kestrova-segment-cache.swf").string();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    auto movie = factory(kW, kH);
    movie->SetBusy(c.Busy);
    movie->PlaceObject(movie->AddPicture(*c.Shown), 1, 0, 0);
    movie->ShowFrame(1);
    movie->SaveToFile(file);
    EXPECT_TRUE(Plays(file, *c.Shown));
  }
  std::remove(file.c_str());
}

}  // namespace
}  // namespace kestrova::test
