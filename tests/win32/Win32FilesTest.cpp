// The recorder's files on Windows, run under Wine by scripts/windows.sh: the folder lock that keeps
// recover away from a running recording, the folder an emptied recording leaves behind, and
// recording folders with names outside the ANSI code page.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/win32/Win32Files.h"

namespace kestrova::platform::win32 {
namespace {

namespace fs = std::filesystem;

fs::path PathOf(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

class Win32Files : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / fs::path(u8"kestrova-lock-ü影");
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }
  fs::path folder;
  TWin32FileLocations files;
};

TEST_F(Win32Files, AFolderLockIsHeldUntilItGoesAndOnlyOnce) {
  const std::string name = Utf8Of(folder);
  EXPECT_FALSE(FolderLocked(name)) << "no lock file yet";
  {
    std::unique_ptr<TFolderLock> lock = files.LockFolder(name);
    ASSERT_NE(lock, nullptr);
    EXPECT_TRUE(FolderLocked(name));
    EXPECT_EQ(files.LockFolder(name), nullptr) << "a second holder, even in this process";
    std::ofstream(folder / "capture1.swf") << "segment";
  }
  EXPECT_FALSE(FolderLocked(name));
  EXPECT_TRUE(fs::is_directory(folder)) << "a folder with segments in it stays";
  EXPECT_NE(files.LockFolder(name), nullptr) << "free again once the lock went";
}

TEST_F(Win32Files, AFolderEmptiedWhileLockedGoesWithTheLock) {
  const std::string name = Utf8Of(folder);
  std::unique_ptr<TFolderLock> lock = files.LockFolder(name);
  ASSERT_NE(lock, nullptr);
  // What the join does once every segment is in the movie: the lock file too.
  std::error_code ec;
  fs::remove(folder / kFolderLockName, ec);
  EXPECT_FALSE(ec) << ec.message();
  EXPECT_TRUE(FolderLocked(name)) << "held while its file is being deleted";
  lock.reset();
  EXPECT_FALSE(fs::exists(folder));
}

TEST_F(Win32Files, RecordingFoldersAreNewAndInsideTheStateFolder) {
  const std::string state = files.StateFolder();
  EXPECT_EQ(PathOf(state).filename(), fs::path("Kestrova"));
  const std::string a = files.MakeRecordingFolder(), b = files.MakeRecordingFolder();
  EXPECT_NE(a, b);
  for (const std::string& made : {a, b}) {
    EXPECT_TRUE(fs::is_directory(PathOf(made)));
    EXPECT_EQ(PathOf(made).parent_path(), PathOf(state));
    EXPECT_EQ(PathOf(made).filename().string().rfind("recording-", 0), 0u);
    fs::remove(PathOf(made));
  }
  EXPECT_EQ(PathOf(files.LogFileName()), PathOf(state) / "CaptureLog.txt");
  const fs::path output = PathOf(files.DefaultOutputName());
  EXPECT_EQ(output.extension(), fs::path(".swf"));
  EXPECT_EQ(output.filename().string().rfind("Kestrova-", 0), 0u);
  EXPECT_FALSE(fs::exists(output));
}

}  // namespace
}  // namespace kestrova::platform::win32
