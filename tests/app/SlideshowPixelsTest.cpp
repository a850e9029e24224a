// A slideshow shows each picture pixel for pixel: the movie is played with the project's player
// and every frame's picture is compared with the source's pixels as ImageMagick decoded them
// (the .rgb file beside each fixture), so a shape a column short of its picture, or a picture
// placed a row off, shows as a difference.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "app/Commands.h"
#include "player/Player.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

std::string Fixture(const std::string& name) {
  return std::string(KESTROVA_TEST_DATA) + "/media/" + name;
}

std::vector<std::uint8_t> ReadAll(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Width and height from the BMP's header (core or info form).
std::pair<int, int> BMPSize(const std::vector<std::uint8_t>& b) {
  auto u16 = [&](std::size_t at) { return b.at(at) | b.at(at + 1) << 8; };
  auto i32 = [&](std::size_t at) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(u16(at)) |
                                     static_cast<std::uint32_t>(u16(at + 2)) << 16);
  };
  if (u16(14) == 12) return {u16(18), u16(20)};
  return {i32(18), std::abs(i32(22))};
}

struct TShownPicture {
  std::string Name;
  int Tolerance = 0;  // per channel
  int Width = 0, Height = 0;
  std::vector<std::uint8_t> Rgb;  // top row first, 3 bytes a pixel
};

// Where a frame differs from the picture centred on the stage; empty when it does not.
std::string Difference(const TMoviePlayer& player, const TShownPicture& p) {
  const int left = (player.Width() - p.Width) / 2, top = (player.Height() - p.Height) / 2;
  for (int y = 0; y < p.Height; ++y) {
    for (int x = 0; x < p.Width; ++x) {
      const std::uint8_t* got =
          player.Pixels() + (static_cast<std::size_t>(top + y) * player.Width() + left + x) * 4;
      const std::uint8_t* want = p.Rgb.data() + (static_cast<std::size_t>(y) * p.Width + x) * 3;
      bool same = true;
      for (int c = 0; c < 3; ++c) same = same && std::abs(got[c] - want[c]) <= p.Tolerance;
      if (!same) {
        std::ostringstream s;
        s << "pixel " << x << "," << y << ": " << int(got[0]) << "," << int(got[1]) << ","
          << int(got[2]) << " instead of " << int(want[0]) << "," << int(want[1]) << ","
          << int(want[2]);
        return s.str();
      }
    }
  }
  return {};
}

TEST(SlideshowPixels, EveryBMPFormIsShownPixelForPixel) {
  // 16-bit pictures are stored in the movie's 15-bit lossless form, whose 5-bit channels a
  // player widens to 8 bits its own way: a few steps apart from the decoder's, never a pixel
  // out of place. (bmp32_v5 is left out: its alpha is blended on the stage, which its .rgb,
  // colours without alpha, does not show.)
  const std::vector<std::pair<std::string, int>> forms = {
      {"bmp1", 0},        {"bmp4", 0},
      {"bmp4_rle4", 0},   {"bmp8", 0},
      {"bmp8_core", 0},   {"bmp8_rle8", 0},
      {"bmp16_555", 4},   {"bmp16_565", 4},
      {"bmp16_plain", 4}, {"bmp16_565_info40", 4},
      {"bmp24", 0},       {"bmp24_topdown", 0},
      {"bmp32", 0},       {"bmp32_masks_rgb", 0}};
  std::vector<TShownPicture> pictures;
  std::vector<std::string> args = {"slideshow", ""};
  for (const auto& [f, tolerance] : forms) {
    TShownPicture p{f, tolerance, 0, 0, ReadAll(Fixture(f + ".rgb"))};
    std::tie(p.Width, p.Height) = BMPSize(ReadAll(Fixture(f + ".bmp")));
    ASSERT_EQ(p.Rgb.size(), static_cast<std::size_t>(p.Width) * p.Height * 3) << f;
    pictures.push_back(std::move(p));
    args.push_back(Fixture(f + ".bmp"));
  }
  const fs::path dir = fs::temp_directory_path() / ("kestrova-slides-" + std::to_string(getpid()));
  fs::create_directories(dir);
  args[1] = (dir / "show.swf").string();
  for (const char* a : {"--fps", "1", "--seconds-each", "1"}) args.push_back(a);
  std::ostringstream out, err;
  ASSERT_EQ(RunCommandLine(args, out, err), 0) << err.str();

  TMoviePlayer player(args[1]);
  for (const TShownPicture& p : pictures) {
    ASSERT_TRUE(player.NextFrame()) << p.Name << ": " << player.StopReason();
    EXPECT_EQ(Difference(player, p), "") << p.Name << " (" << p.Width << "x" << p.Height << ")";
  }
  EXPECT_FALSE(player.NextFrame());
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kestrova
