// The default name of a recording: the videos folder the desktop's user-dirs.dirs names, and a
// name of the date and time that never lands on a file already there.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/UserDirs.h"

namespace kestrova::platform {
namespace {

namespace fs = std::filesystem;

class UserDirs : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrova-userdirs-XXXXXX";
    Home = ::mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(Home); }
  const char* Get(const char* name) {
    const auto it = Env.find(name);
    return it == Env.end() ? nullptr : it->second.c_str();
  }
  std::string Home;
  std::map<std::string, std::string> Env;
};

struct TVideosCase {
  const char* Name;
  const char* ConfigFolder;          // relative to home, where user-dirs.dirs is written
  const char* Line;                  // the file's XDG_VIDEOS_DIR line; nullptr: no file
  std::vector<const char*> Folders;  // made in home
  bool ConfigFromEnvironment;        // XDG_CONFIG_HOME points at ConfigFolder
  const char* Expected;              // relative to home; "" for home itself
};

TEST_F(UserDirs, VideosFolderFollowsUserDirsThenVideosThenHome) {
  const TVideosCase cases[] = {
      {"named and there",
       ".config",
       "XDG_VIDEOS_DIR=\"$HOME/Filme\"",
       {"Filme", "Videos"},
       false,
       "/Filme"},
      {"named but missing",
       ".config",
       "XDG_VIDEOS_DIR=\"$HOME/Filme\"",
       {"Videos"},
       false,
       "/Videos"},
      {"absolute", ".config", "XDG_VIDEOS_DIR=\"@/clips\"", {"clips"}, false, "/clips"},
      {"relative is not a folder name",
       ".config",
       "XDG_VIDEOS_DIR=\"clips\"",
       {"clips"},
       false,
       ""},
      {"no file, ~/Videos", ".config", nullptr, {"Videos"}, false, "/Videos"},
      {"no file, no Videos", ".config", nullptr, {}, false, ""},
      {"XDG_CONFIG_HOME",
       "elsewhere",
       "  XDG_VIDEOS_DIR=\"$HOME/Vids\"",
       {"Vids", "Videos"},
       true,
       "/Vids"},
      {"other keys only", ".config", "XDG_MUSIC_DIR=\"$HOME/Videos2\"", {"Videos2"}, false, ""},
  };
  for (const TVideosCase& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(Home);
    fs::create_directories(Home + "/" + c.ConfigFolder);
    for (const char* f : c.Folders) fs::create_directories(Home + "/" + f);
    if (c.Line != nullptr) {
      std::string line = c.Line;
      if (const auto at = line.find('@'); at != std::string::npos) line.replace(at, 1, Home);
      std::ofstream(Home + "/" + c.ConfigFolder + "/user-dirs.dirs")
          << "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
          << line << "\n";
    }
    Env.clear();
    if (c.ConfigFromEnvironment) Env["XDG_CONFIG_HOME"] = Home + "/" + c.ConfigFolder;
    EXPECT_EQ(VideosFolder(Home, [this](const char* n) { return Get(n); }), Home + c.Expected);
  }
}

TEST_F(UserDirs, TheNameIsTheLocalDateAndTimeAndNeverAnExistingFile) {
  setenv("TZ", "UTC", 1);
  tzset();
  const std::time_t when = 1796952645;  // 2026-12-11 01:30:45 UTC
  const std::string first = Home + "/Kestrova-2026-12-11_01-30-45.swf";
  EXPECT_EQ(TimestampedRecordingName(Home, when), first);
  std::ofstream(first) << "a recording";
  EXPECT_EQ(TimestampedRecordingName(Home, when), Home + "/Kestrova-2026-12-11_01-30-45-2.swf");
  // A page alone counts too: writing the movie would replace it.
  std::ofstream(Home + "/Kestrova-2026-12-11_01-30-45-2.html") << "a page";
  EXPECT_EQ(TimestampedRecordingName(Home, when), Home + "/Kestrova-2026-12-11_01-30-45-3.swf");
}

}  // namespace
}  // namespace kestrova::platform
