// `kestrova record` on the X11 backend as a CI job or a kiosk runs it: a fresh Xvfb that resets
// whenever its last client leaves, and no other client on it. The program must keep one
// connection for its whole life; a probe that closed its connection before the backend opened
// another would meet the server in the middle of its reset and fail.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "XClient.h"
#include "Xvfb.h"
#include "app/Commands.h"
#include "player/Player.h"

namespace kestrova {
namespace {

using kestrova::testing::TXClient;
using kestrova::testing::TXvfb;

class X11RecordCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder =
        std::filesystem::temp_directory_path() / ("kestrova-x11cmd-" + std::to_string(getpid()));
    std::filesystem::create_directories(Folder / "runtime");
    std::filesystem::permissions(Folder / "runtime", std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", (Folder / "runtime").c_str(), 1);
    setenv("XDG_STATE_HOME", (Folder / "state").c_str(), 1);
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr) SavedDisplay = display;
  }
  void TearDown() override {
    if (SavedDisplay.empty()) {
      unsetenv("DISPLAY");
    } else {
      setenv("DISPLAY", SavedDisplay.c_str(), 1);
    }
    std::filesystem::remove_all(Folder);
  }
  std::filesystem::path Folder;
  std::string SavedDisplay;
};

TEST_F(X11RecordCommand, RecordsEveryTimeOnAServerThatResetsWhenIdle) {
  // Each run meets a server of its own, freshly started, with nobody else connected: the case
  // that failed three runs in four when the display was opened twice.
  for (int run = 0; run < 4; ++run) {
    TXvfb server(160, 120, 24, /*resetWhenIdle=*/true);
    KESTROVA_REQUIRE_XVFB(server);
    setenv("DISPLAY", server.Name().c_str(), 1);
    const std::string output = (Folder / ("run" + std::to_string(run) + ".swf")).string();
    std::ostringstream out, err;
    ASSERT_EQ(
        RunCommandLine({"record", "--platform", "x11", "--seconds", "1", "-o", output}, out, err),
        0)
        << "run " << run << ": " << err.str();
    TMoviePlayer player(output);
    EXPECT_EQ(player.Width(), 160);
    EXPECT_EQ(player.Height(), 120);
    EXPECT_TRUE(player.NextFrame()) << player.StopReason();
  }
}

// A still screen recorded from the command line is the screen pixel for pixel: every row (the
// top and the bottom one too) and every column, against the server's own copy of it.
TEST_F(X11RecordCommand, TheRecordedScreenIsTheScreenPixelForPixel) {
  constexpr int kW = 320, kH = 240;
  TXvfb server(kW, kH);
  KESTROVA_REQUIRE_XVFB(server);
  setenv("DISPLAY", server.Name().c_str(), 1);
  TXClient client(server.Name());
  ASSERT_TRUE(client.Open());
  // Colours of the 6x6x6 cube the recorder's palette holds exactly, different from row to row
  // and from column to column, so a row or a column out of place shows.
  const auto cube = [](int i) {
    const std::uint32_t level[] = {0x00, 0x33, 0x66, 0x99, 0xCC, 0xFF};
    return level[i % 6] << 16 | level[i / 6 % 6] << 8 | level[i / 36 % 6];
  };
  client.MakeWindow(0, 0, kW, kH, [&](int x, int y) { return cube((x + 7 * y) % 216); });
  // The pointer in the bottom-right corner, where the cursor covers the fewest pixels.
  XWarpPointer(client.D, None, client.Root(), 0, 0, 0, 0, kW - 1, kH - 1);
  client.Sync();
  XImage* screen = XGetImage(client.D, client.Root(), 0, 0, kW, kH, AllPlanes, ZPixmap);
  ASSERT_NE(screen, nullptr);

  const std::string output = (Folder / "screen.swf").string();
  std::ostringstream out, err;
  ASSERT_EQ(
      RunCommandLine({"record", "--platform", "x11", "--seconds", "1", "-o", output}, out, err), 0)
      << err.str();
  TMoviePlayer player(output);
  ASSERT_EQ(player.Width(), kW);
  ASSERT_EQ(player.Height(), kH);
  int frames = 0;
  while (player.NextFrame()) {
    ++frames;
    int differences = 0;
    std::string first;
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        if (x >= kW - 16 && y >= kH - 16) continue;  // where the cursor is drawn
        const std::uint8_t* p = player.Pixels() + (static_cast<std::size_t>(y) * kW + x) * 4;
        const std::uint32_t got = static_cast<std::uint32_t>(p[0]) << 16 | p[1] << 8 | p[2];
        const std::uint32_t want = XGetPixel(screen, x, y) & 0xFFFFFF;
        if (got == want) continue;
        if (differences++ == 0) {
          first = std::to_string(x) + "," + std::to_string(y) + ": " + std::to_string(got) +
                  " instead of " + std::to_string(want);
        }
      }
    }
    EXPECT_EQ(differences, 0) << "frame " << frames << ", first at " << first;
  }
  EXPECT_GE(frames, 6);
  XDestroyImage(screen);
}

// --region records exactly that rectangle of the screen: the stage is its size, and every pixel
// is the screen's pixel there (the pointer is outside it).
TEST_F(X11RecordCommand, TheRecordedRegionIsThatRectangleOfTheScreen) {
  constexpr int kW = 320, kH = 240, kX = 40, kY = 30, kRW = 200, kRH = 150;
  TXvfb server(kW, kH);
  KESTROVA_REQUIRE_XVFB(server);
  setenv("DISPLAY", server.Name().c_str(), 1);
  TXClient client(server.Name());
  ASSERT_TRUE(client.Open());
  const auto cube = [](int i) {
    const std::uint32_t level[] = {0x00, 0x33, 0x66, 0x99, 0xCC, 0xFF};
    return level[i % 6] << 16 | level[i / 6 % 6] << 8 | level[i / 36 % 6];
  };
  client.MakeWindow(0, 0, kW, kH, [&](int x, int y) { return cube((x + 7 * y) % 216); });
  XWarpPointer(client.D, None, client.Root(), 0, 0, 0, 0, kW - 1, kH - 1);
  client.Sync();
  XImage* screen = XGetImage(client.D, client.Root(), 0, 0, kW, kH, AllPlanes, ZPixmap);
  ASSERT_NE(screen, nullptr);

  const std::string output = (Folder / "region.swf").string();
  const std::string region = std::to_string(kX) + "," + std::to_string(kY) + "," +
                             std::to_string(kRW) + "," + std::to_string(kRH);
  std::ostringstream out, err;
  ASSERT_EQ(RunCommandLine(
                {"record", "--platform", "x11", "--region", region, "--seconds", "1", "-o", output},
                out, err),
            0)
      << err.str();
  TMoviePlayer player(output);
  ASSERT_EQ(player.Width(), kRW);
  ASSERT_EQ(player.Height(), kRH);
  int frames = 0;
  while (player.NextFrame()) {
    ++frames;
    int differences = 0;
    std::string first;
    for (int y = 0; y < kRH; ++y) {
      for (int x = 0; x < kRW; ++x) {
        const std::uint8_t* p = player.Pixels() + (static_cast<std::size_t>(y) * kRW + x) * 4;
        const std::uint32_t got = static_cast<std::uint32_t>(p[0]) << 16 | p[1] << 8 | p[2];
        const std::uint32_t want = XGetPixel(screen, kX + x, kY + y) & 0xFFFFFF;
        if (got == want) continue;
        if (differences++ == 0) {
          first = std::to_string(x) + "," + std::to_string(y) + ": " + std::to_string(got) +
                  " instead of " + std::to_string(want);
        }
      }
    }
    EXPECT_EQ(differences, 0) << "frame " << frames << ", first at " << first;
  }
  EXPECT_GE(frames, 6);
  XDestroyImage(screen);

  // Wholly off the screen: refused, and nothing written.
  const std::string off = (Folder / "off.swf").string();
  EXPECT_EQ(RunCommandLine({"record", "--platform", "x11", "--region", "400,0,50,50", "--seconds",
                            "1", "-o", off},
                           out, err),
            1);
  EXPECT_NE(err.str().find("is not on the screen"), std::string::npos) << err.str();
  EXPECT_FALSE(std::filesystem::exists(off));
}

}  // namespace
}  // namespace kestrova
