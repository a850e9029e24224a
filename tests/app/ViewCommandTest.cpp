// kestrova thumbnail, and what kestrova view says before it opens any window.
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

// Sets an environment variable for the life of the object.
class TEnv {
 public:
  TEnv(const char* name, const char* value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old, FHad = true;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~TEnv() { FHad ? setenv(FName, FOld.c_str(), 1) : unsetenv(FName); }

 private:
  const char* FName;
  std::string FOld;
  bool FHad = false;
};

class ViewCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kestrova-viewcmd-" + std::to_string(getpid()));
    fs::create_directories(dir);
    // 40 x 20: the left half black, the right half white.
    TTestMovie movie(40, 20);
    std::vector<std::uint32_t> rgb(800);
    for (int i = 0; i < 800; ++i) rgb[i] = i % 40 < 20 ? 0x000000 : 0xFFFFFF;
    movie.Add(Bitmap24(1, 40, 20, rgb));
    movie.Add(RectShape(2, 0, 0, 800, 400, ImageFill(1, 0x41, PixelScale())));
    movie.Add(Place(1, 2));
    movie.ShowFrame();
    const Bytes b = movie.Save();
    std::ofstream(Path("m.swf"), std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Path(const std::string& n) { return (dir / n).string(); }
  int Run(const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    return RunCommandLine(args, out, err);
  }
  fs::path dir;
  std::ostringstream out, err;
};

TEST_F(ViewCommands, ThumbnailShrinksTheFirstFrameToFitTheSize) {
  ASSERT_EQ(Run({"thumbnail", Path("m.swf"), Path("t.png"), "10"}), 0) << err.str();
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, Path("t.png").c_str()));
  image.format = PNG_FORMAT_RGB;
  EXPECT_EQ(image.width, 10u);
  EXPECT_EQ(image.height, 5u);
  std::vector<std::uint8_t> px(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, px.data(), 0, nullptr));
  EXPECT_EQ(px[0], 0);        // left: black
  EXPECT_EQ(px[9 * 3], 255);  // right: white
  // A size above the stage keeps the stage's size.
  ASSERT_EQ(Run({"thumbnail", Path("m.swf"), Path("big.png"), "256"}), 0) << err.str();
  EXPECT_NE(out.str().find("40 x 20"), std::string::npos) << out.str();

  EXPECT_EQ(Run({"thumbnail", Path("m.swf"), Path("t.png")}), 2);
  EXPECT_EQ(Run({"thumbnail", Path("m.swf"), Path("t.png"), "0"}), 2);
  std::ofstream(Path("no.swf")) << "not a movie";
  EXPECT_EQ(Run({"thumbnail", Path("no.swf"), Path("t.png"), "64"}), 1);
  EXPECT_NE(err.str().find("not a SWF movie"), std::string::npos) << err.str();
}

TEST_F(ViewCommands, ViewSaysWhatItCannotOpen) {
  EXPECT_EQ(Run({"view"}), 2);
  EXPECT_EQ(Run({"view", Path("m.swf"), "--fast"}), 2);
  EXPECT_EQ(Run({"view", Path("missing.swf")}), 1);
  EXPECT_NE(err.str().find("no file"), std::string::npos) << err.str();
  std::ofstream(Path("empty.html")) << "<html><body>no movie here</body></html>";
  EXPECT_EQ(Run({"view", Path("empty.html")}), 1);
  EXPECT_NE(err.str().find("embeds no .swf movie"), std::string::npos) << err.str();
  const TEnv display("DISPLAY", nullptr), wayland("WAYLAND_DISPLAY", nullptr),
      platform("QT_QPA_PLATFORM", nullptr);
  std::ofstream(Path("m.html")) << "<object data=\"m.swf\"><embed src=\"m.swf\"></object>";
  EXPECT_EQ(Run({"view", Path("m.html")}), 1);
  // A build without Qt has no window to open at all.
  EXPECT_TRUE(err.str().find("needs a display") != std::string::npos ||
              err.str().find("no desktop viewer") != std::string::npos)
      << err.str();
}

}  // namespace
}  // namespace kestrova
