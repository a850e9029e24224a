#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/Commands.h"
#include "tests/player/MovieMaker.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using namespace test;

// Four frames of a 6 x 4 stage, each a different picture.
Bytes FourFrames() {
  TTestMovie movie(6, 4);
  for (std::uint16_t i = 0; i < 4; ++i) {
    std::vector<std::uint32_t> rgb;
    for (int p = 0; p < 24; ++p) rgb.push_back(0x010203u * (p + 1) + 0x300000u * i);
    movie.Add(Bitmap24(std::uint16_t(1 + 2 * i), 6, 4, rgb));
    movie.Add(RectShape(std::uint16_t(2 + 2 * i), 0, 0, 120, 80,
                        ImageFill(std::uint16_t(1 + 2 * i), 0x41, PixelScale())));
    movie.Add(Remove(1));
    movie.Add(Place(1, std::uint16_t(2 + 2 * i)));
    movie.ShowFrame();
  }
  return movie.Save();
}

// The player's frames as RGBA bytes.
std::vector<Bytes> PlayerFrames(const Bytes& file) {
  std::vector<Bytes> frames;
  auto p = Play(file);
  while (p->NextFrame()) {
    frames.emplace_back(p->Pixels(), p->Pixels() + p->Width() * p->Height() * 4);
  }
  return frames;
}

Bytes ReadPng(const std::string& name) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, name.c_str())) return {};
  image.format = PNG_FORMAT_RGBA;
  Bytes pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  return pixels;
}

class PlayerCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kestrova-play-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    movie = Path("movie.swf");
    file = FourFrames();
    std::ofstream(movie, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Path(const char* name) { return (dir / name).string(); }
  int Run(const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    return RunCommandLine(args, out, err);
  }

  fs::path dir;
  std::string movie;
  Bytes file;
  std::ostringstream out, err;
};

TEST_F(PlayerCommands, FramesWritesTheChosenFramesAsThePlayerDrawsThem) {
  const std::vector<Bytes> expected = PlayerFrames(file);
  ASSERT_EQ(expected.size(), 4u);
  ASSERT_EQ(Run({"frames", movie, Path("all")}), 0) << err.str();
  for (int i = 1; i <= 4; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "all/frame-%05d.png", i);
    EXPECT_EQ(ReadPng(Path(name)), expected[i - 1]) << name;
  }
  ASSERT_EQ(Run({"frames", movie, Path("some"), "--from", "2", "--every", "2", "--to", "4"}), 0);
  EXPECT_EQ(out.str(), "Wrote 2 frame(s) of 6 x 4 to " + Path("some") + "\n");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(Path("some"))) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"frame-00002.png", "frame-00004.png"}));
  EXPECT_EQ(ReadPng(Path("some/frame-00004.png")), expected[3]);
}

TEST_F(PlayerCommands, FramesRefusesBadArgumentsAndSaysWhyAMovieCannotPlay) {
  EXPECT_EQ(Run({"frames", movie}), 2);
  EXPECT_EQ(Run({"frames", movie, Path("x"), "--every", "0"}), 2);
  EXPECT_EQ(Run({"frames", movie, Path("x"), "--from", "5", "--to", "2"}), 2);
  EXPECT_EQ(Run({"frames", movie, Path("x"), "--fast"}), 2);
  std::ofstream(Path("not.swf")) << "hello";
  EXPECT_EQ(Run({"frames", Path("not.swf"), Path("x")}), 1);
  EXPECT_NE(err.str().find("not a SWF movie"), std::string::npos) << err.str();
  // Cut inside the third frame: two frames are written, and the stop is an error.
  Bytes cut(file.begin(), file.end() - 100);
  std::ofstream(Path("cut.swf"), std::ios::binary)
      .write(reinterpret_cast<const char*>(cut.data()), std::streamsize(cut.size()));
  EXPECT_EQ(Run({"frames", Path("cut.swf"), Path("cut")}), 1);
  EXPECT_NE(err.str().find("stopped after frame"), std::string::npos) << err.str();
  EXPECT_TRUE(fs::exists(Path("cut/frame-00001.png")));
}

TEST_F(PlayerCommands, ExportWritesAnAnimatedPngWithThePlayersFrames) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
  ASSERT_EQ(Run({"export", movie, Path("movie.png")}), 0) << err.str();
  EXPECT_EQ(out.str(), "Wrote 4 frame(s) at 12 fps to " + Path("movie.png") + "\n");
  // Read back losslessly with ffmpeg itself and compared frame by frame.
  const std::string raw = Path("back.rgba");
  const std::string command =
      "ffmpeg -v error -y -i '" + Path("movie.png") + "' -f rawvideo -pix_fmt rgba '" + raw + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(raw, std::ios::binary);
  const Bytes back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Bytes expected;
  for (const Bytes& frame : PlayerFrames(file))
    expected.insert(expected.end(), frame.begin(), frame.end());
  EXPECT_EQ(back, expected);
  ASSERT_EQ(Run({"export", movie, Path("movie.gif"), "--scale", "2"}), 0) << err.str();
  EXPECT_GT(fs::file_size(Path("movie.gif")), 0u);
}

TEST_F(PlayerCommands, ExportSaysWhatItCannotDo) {
  EXPECT_EQ(Run({"export", movie, Path("movie.avi")}), 2);
  EXPECT_NE(err.str().find(".mp4, .webm, .gif or .png"), std::string::npos) << err.str();
  EXPECT_EQ(Run({"export", movie, Path("movie.mp4"), "--scale", "0"}), 2);
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", Path("empty").c_str(), 1);
  const int status = Run({"export", movie, Path("movie.mp4")});
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.str().find("needs ffmpeg, which is not installed"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(Path("movie.mp4")));
}

}  // namespace
}  // namespace kestrova
