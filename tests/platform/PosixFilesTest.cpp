#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "platform/PosixFiles.h"

namespace kestrova::platform {
namespace {

class PosixFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrova-files-XXXXXX";
    Root = ::mkdtemp(pattern);
  }
  void TearDown() override { std::filesystem::remove_all(Root); }
  TPosixFileLocations With(std::map<std::string, std::string> env) {
    Env = std::move(env);
    return TPosixFileLocations([this](const char* name) -> const char* {
      auto it = Env.find(name);
      return it == Env.end() ? nullptr : it->second.c_str();
    });
  }
  std::string Root;
  std::map<std::string, std::string> Env;
};

TEST_F(PosixFilesTest, StateFolderFollowsXdgStateHome) {
  auto files = With({{"HOME", Root + "/home"}, {"XDG_STATE_HOME", Root + "/state"}});
  EXPECT_EQ(files.StateFolder(), Root + "/state/kestrova");
  EXPECT_EQ(files.LogFileName(), Root + "/state/kestrova/CaptureLog.txt");
  // No videos folder in this home: the recording goes to home itself.
  const std::string output = files.DefaultOutputName();
  EXPECT_EQ(output.rfind(Root + "/home/Kestrova-", 0), 0u) << output;
  EXPECT_EQ(output.size(), (Root + "/home/Kestrova-2026-12-11_01-30-00.swf").size()) << output;
  EXPECT_TRUE(std::filesystem::is_directory(Root + "/state/kestrova"));
}

TEST_F(PosixFilesTest, UnsetOrRelativeXdgFallsBackToLocalState) {
  for (const char* xdg : {"", "relative/state"}) {
    auto files = With({{"HOME", Root}, {"XDG_STATE_HOME", xdg}});
    EXPECT_EQ(files.StateFolder(), Root + "/.local/state/kestrova") << xdg;
  }
}

TEST_F(PosixFilesTest, RecordingFoldersArePrivateAndDistinct) {
  auto files = With({{"HOME", Root}});
  const std::string a = files.MakeRecordingFolder(), b = files.MakeRecordingFolder();
  EXPECT_NE(a, b);
  for (const std::string& f : {a, b}) {
    struct stat st {};
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(std::filesystem::path(f).parent_path(), Root + "/.local/state/kestrova");
    EXPECT_EQ(std::filesystem::path(f).filename().string().rfind(kRecordingFolderPrefix, 0), 0u);
  }
}

TEST_F(PosixFilesTest, UnwritableStateFolderThrows) {
  // A file where the folder should be: making it fails whoever runs the test.
  std::filesystem::create_directories(Root + "/home");
  {
    std::FILE* f = std::fopen((Root + "/blocked").c_str(), "w");
    std::fclose(f);
  }
  auto files = With({{"HOME", Root + "/home"}, {"XDG_STATE_HOME", Root + "/blocked"}});
  EXPECT_THROW(files.StateFolder(), std::runtime_error);
  EXPECT_THROW(files.MakeRecordingFolder(), std::runtime_error);
}

}  // namespace
}  // namespace kestrova::platform
