#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "player/PartedMovie.h"
#include "tests/player/MovieMaker.h"

namespace kestrova {
namespace {

using namespace test;
namespace fs = std::filesystem;

// A movie of frames solid pictures; frame f of it is coloured base + f.
Bytes Coloured(int frames, std::uint32_t base) {
  TTestMovie movie(4, 3);
  for (int f = 1; f <= frames; ++f) {
    const std::uint16_t id = static_cast<std::uint16_t>(2 * f);
    movie.Add(Bitmap24(id - 1, 4, 3, std::vector<std::uint32_t>(12, base + f)));
    movie.Add(RectShape(id, 0, 0, 80, 60, ImageFill(id - 1, 0x41, PixelScale())));
    movie.Add(Remove(1));
    movie.Add(Place(1, id));
    movie.ShowFrame();
  }
  return movie.Save();
}

TEST(PartedMovie, PartsPlayAsOneTimelineSteppedAndSoughtBothWays) {
  const fs::path dir = fs::temp_directory_path() / ("kestrova-parts-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const int lengths[3] = {3, 2, 4};
  std::vector<std::string> files;
  for (int k = 0; k < 3; ++k) {
    files.push_back((dir / ("m-" + std::to_string(k + 1) + ".swf")).string());
    const Bytes b = Coloured(lengths[k], 0x100000u * (k + 1));
    std::ofstream(files.back(), std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  }
  TPartedMovie movie(files);
  EXPECT_EQ(movie.FrameCount(), 9);
  EXPECT_EQ(movie.PartCount(), 3);
  // Global frame -> the colour its part drew.
  const std::uint32_t expected[10] = {0,        0x100001, 0x100002, 0x100003, 0x200001,
                                      0x200002, 0x300001, 0x300002, 0x300003, 0x300004};
  auto pixel = [&movie] {
    const std::uint8_t* p = movie.Pixels();
    return (std::uint32_t(p[0]) << 16) | (p[1] << 8) | p[2];
  };
  for (int f = 1; f <= 9; ++f) {
    ASSERT_TRUE(movie.Next()) << f;
    EXPECT_EQ(movie.Frame(), f);
    EXPECT_EQ(pixel(), expected[f]) << f;
  }
  for (int f : {5, 2, 8, 7, 1, 9, 4, 3}) {
    ASSERT_TRUE(movie.Seek(f)) << f;
    EXPECT_EQ(pixel(), expected[f]) << f;
    EXPECT_EQ(movie.PartOf(f), f <= 3 ? 1 : f <= 5 ? 2 : 3);
  }
  EXPECT_TRUE(movie.Seek(100));
  EXPECT_EQ(movie.Frame(), 9);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kestrova
