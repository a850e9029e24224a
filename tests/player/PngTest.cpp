// The frames' PNG writer, read back with libpng: a decoder that shares nothing with it.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <random>
#include <stdexcept>

#include "player/Png.h"

namespace kestrova {
namespace {

using Bytes = std::vector<std::uint8_t>;

// RGBA pixels: runs of a colour, repeated rows and, with noise, bytes no filter predicts.
Bytes Picture(int width, int height, bool noise) {
  std::mt19937 random(width * 31 + height);
  Bytes rgba(std::size_t(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &rgba[(std::size_t(y) * width + x) * 4];
      const int band = (y / 3) * 7 + x / 5;
      p[0] = noise ? std::uint8_t(random()) : std::uint8_t(band * 13);
      p[1] = noise ? std::uint8_t(random()) : std::uint8_t(255 - band);
      p[2] = std::uint8_t(x ^ y);
      p[3] = std::uint8_t(random());  // alpha: the player's is 255, the file keeps none
    }
  }
  return rgba;
}

// The file's pixels as RGB, and its colour type; empty when libpng refuses the file.
Bytes DecodeRgb(const Bytes& file, int& width, int& height, bool& hasAlpha) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return {};
  width = int(image.width);
  height = int(image.height);
  hasAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  image.format = PNG_FORMAT_RGB;
  Bytes rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
  return rgb;
}

int CountChunks(const Bytes& file, const char* type) {
  int count = 0;
  for (std::size_t at = 8; at + 8 <= file.size();) {
    const std::size_t length =
        std::size_t(file[at]) << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
    count += std::equal(type, type + 4, file.begin() + std::ptrdiff_t(at) + 4);
    at += 12 + length;
  }
  return count;
}

TEST(Png, PicturesReadBackPixelForPixel) {
  struct {
    int Width, Height;
    bool Noise;
  } rows[] = {{1, 1, false}, {3, 2, false}, {257, 5, false}, {64, 64, false}, {300, 300, true}};
  for (const auto& r : rows) {
    const Bytes rgba = Picture(r.Width, r.Height, r.Noise);
    TMemoryStream out;
    WritePng(out, rgba.data(), r.Width, r.Height);
    const Bytes file = out.Bytes();
    int w = 0, h = 0;
    bool alpha = true;
    const Bytes rgb = DecodeRgb(file, w, h, alpha);
    ASSERT_FALSE(rgb.empty()) << r.Width << "x" << r.Height;
    EXPECT_EQ(w, r.Width);
    EXPECT_EQ(h, r.Height);
    EXPECT_FALSE(alpha);
    Bytes expected;
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
      expected.insert(expected.end(), rgba.begin() + std::ptrdiff_t(i),
                      rgba.begin() + std::ptrdiff_t(i) + 3);
    }
    EXPECT_EQ(rgb, expected) << r.Width << "x" << r.Height;
    EXPECT_EQ(CountChunks(file, "IEND"), 1);
    // 270 KB of noise cannot fit one 64 KB chunk: the data goes on in the next ones.
    if (r.Noise) {
      EXPECT_GT(CountChunks(file, "IDAT"), 1);
    }
  }
}

TEST(Png, BadSizesAndUnwritableFiles) {
  const Bytes rgba = Picture(2, 2, false);
  TMemoryStream out;
  EXPECT_THROW(WritePng(out, rgba.data(), 0, 2), std::invalid_argument);
  EXPECT_THROW(WritePng(out, rgba.data(), 2, -1), std::invalid_argument);
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("kestrova-png-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string name = (dir / "f.png").string();
  SavePng(name, rgba.data(), 2, 2);
  EXPECT_TRUE(fs::is_regular_file(name));
  EXPECT_THROW(SavePng((dir / "missing" / "f.png").string(), rgba.data(), 2, 2), EStreamError);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kestrova
