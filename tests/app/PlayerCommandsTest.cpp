#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
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

bool HaveFfmpeg() {
  return std::system("command -v ffmpeg >/dev/null 2>&1") == 0;
}

// What a command prints on its standard output.
std::string CommandOutput(const std::string& command) {
  std::string text;
  if (std::FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p)) text += buffer;
    ::pclose(p);
  }
  return text;
}

// A stage of odd size reaches the video formats padded to even sides, never scaled to nothing.
TEST_F(PlayerCommands, ExportPadsOddStagesForTheVideoFormats) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed, so nothing can be exported";
  struct {
    int Width, Height;
    const char* Scale;
    const char* Size;  // what ffprobe reads back
  } rows[] = {{1, 1, "1", "2,2"}, {5, 3, "1", "6,4"}, {5, 3, "0.1", "2,2"}, {4, 2, "1", "4,2"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(std::to_string(r.Width) + "x" + std::to_string(r.Height) + " at " + r.Scale);
    TTestMovie small(r.Width, r.Height);
    small.Add(Bitmap24(1, r.Width, r.Height,
                       std::vector<std::uint32_t>(std::size_t(r.Width * r.Height), 0x336699u)));
    small.Add(RectShape(2, 0, 0, r.Width * 20, r.Height * 20, ImageFill(1, 0x41, PixelScale())));
    small.Add(Place(1, 2));
    small.ShowFrame();
    const Bytes bytes = small.Save();
    std::ofstream(Path("small.swf"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    ASSERT_EQ(Run({"export", Path("small.swf"), Path("small.mp4"), "--scale", r.Scale}), 0)
        << err.str();
    EXPECT_EQ(CommandOutput("ffprobe -v error -select_streams v:0 -show_entries "
                            "stream=width,height -of csv=p=0 '" +
                            Path("small.mp4") + "'"),
              std::string(r.Size) + "\n");
  }
}

// ffmpeg writes a file of ours beside the output, given as a plain file name; the output is
// replaced only when ffmpeg succeeded. A stand-in ffmpeg that writes half a file and fails shows
// what a failure leaves.
TEST_F(PlayerCommands, AFailedExportLeavesTheOutputAsItWas) {
  fs::create_directories(Path("bin"));
  const std::string fake = Path("bin") + "/ffmpeg";
  std::ofstream(fake) << "#!/bin/sh\n"
                         "for a; do last=\"$a\"; done\n"
                         "printf '%s\\n' \"$last\" > '" +
                             Path("args") +
                             "'\n"
                             "printf partial > \"${last#file:}\"\n"
                             "exit 3\n";
  fs::permissions(fake, fs::perms::owner_all);
  std::ofstream(Path("old.gif")) << "old";
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (Path("bin") + ":" + path).c_str(), 1);
  const int status = Run({"export", movie, Path("old.gif")});
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.str().find("old.gif"), std::string::npos) << err.str();
  std::ifstream old(Path("old.gif"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "old");
  std::ifstream args(Path("args"));
  std::string last;
  std::getline(args, last);
  EXPECT_EQ(last.rfind("file:" + Path(".old.gif."), 0), 0u) << last;
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"movie.swf", "old.gif", "bin", "args"}));
}

// An output named like one of ffmpeg's protocols is a file like any other.
TEST_F(PlayerCommands, ExportToANameLikeAProtocolWritesThatFile) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed, so nothing can be exported";
  const fs::path cwd = fs::current_path();
  fs::current_path(dir);
  const int status = Run({"export", "movie.swf", "pipe:1.gif"});
  fs::current_path(cwd);
  ASSERT_EQ(status, 0) << err.str();
  std::ifstream gif(Path("pipe:1.gif"), std::ios::binary);
  char magic[4] = {};
  gif.read(magic, 4);
  EXPECT_EQ(std::string(magic, 4), "GIF8");
}

}  // namespace
}  // namespace kestrova
