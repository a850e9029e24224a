// `kestrova record` on the X11 backend as a CI job or a kiosk runs it: a fresh Xvfb that resets
// whenever its last client leaves, and no other client on it. The program must keep one
// connection for its whole life; a probe that closed its connection before the backend opened
// another would meet the server in the middle of its reset and fail.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "Xvfb.h"
#include "app/Commands.h"
#include "player/Player.h"

namespace kestrova {
namespace {

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

}  // namespace
}  // namespace kestrova
