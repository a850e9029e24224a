#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>

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

// A state folder made before, by the user or by someone else: the user's own is made private,
// anyone else's refused, since whoever may write there could plant links or take recordings.
TEST_F(PosixFilesTest, AStateFolderOthersCanWriteToIsMadePrivateOrRefused) {
  struct TCase {
    const char* Name;
    mode_t Mode;
    bool OtherOwner;
    bool Refused;
    mode_t ModeAfter;
  };
  const TCase cases[] = {
      {"own, open to all", 0777, false, false, 0700},
      {"own, group may write", 0770, false, false, 0700},
      {"own, private already", 0700, false, false, 0700},
      {"own, others may read", 0755, false, false, 0755},
      {"another user's, open to all", 0777, true, true, 0777},
      {"another user's, private", 0700, true, true, 0700},
  };
  for (const TCase& c : cases) {
    const std::string state = Root + "/" + std::to_string(&c - cases);
    const std::string folder = state + "/kestrova";
    std::filesystem::create_directories(folder);
    ASSERT_EQ(::chmod(folder.c_str(), c.Mode), 0);
    if (c.OtherOwner && ::chown(folder.c_str(), 65534, 65534) != 0) {
      std::cout << "skipped \"" << c.Name << "\": only root can give a folder away\n";
      continue;
    }
    auto files = With({{"HOME", Root}, {"XDG_STATE_HOME", state}});
    if (c.Refused) {
      EXPECT_THROW(files.StateFolder(), std::runtime_error) << c.Name;
      EXPECT_THROW(files.MakeRecordingFolder(), std::runtime_error) << c.Name;
    } else {
      EXPECT_EQ(files.StateFolder(), folder) << c.Name;
    }
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, c.ModeAfter) << c.Name;
  }
}

// Whether the file descriptor open on path (in this process) is closed on exec; -1: none open.
int CloseOnExecOf(const std::string& path) {
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (std::filesystem::read_symlink(e.path(), ec) != path) continue;
    const int fd = std::stoi(e.path().filename().string());
    return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0 ? 1 : 0;
  }
  return -1;
}

TEST_F(PosixFilesTest, AFolderLockIsHeldUntilItGoes) {
  auto files = With({{"HOME", Root}});
  const std::string folder = files.MakeRecordingFolder();
  EXPECT_FALSE(FolderInUse(folder));
  {
    std::unique_ptr<TFolderLock> lock = files.LockFolder(folder);
    ASSERT_NE(lock, nullptr);
    EXPECT_TRUE(FolderInUse(folder));
    EXPECT_EQ(files.LockFolder(folder), nullptr) << "one holder at a time";
    // A program started meanwhile does not inherit it.
    EXPECT_EQ(CloseOnExecOf(folder + "/" + kFolderLockName), 1);
  }
  EXPECT_FALSE(FolderInUse(folder));
  EXPECT_NE(files.LockFolder(folder), nullptr);
}

TEST_F(PosixFilesTest, ALinkPlantedAsTheLockIsNotFollowed) {
  auto files = With({{"HOME", Root}});
  const std::string folder = files.MakeRecordingFolder();
  std::filesystem::create_symlink(Root + "/elsewhere", folder + "/" + kFolderLockName);
  EXPECT_EQ(files.LockFolder(folder), nullptr);
  EXPECT_FALSE(std::filesystem::exists(Root + "/elsewhere"));
}

}  // namespace
}  // namespace kestrova::platform
