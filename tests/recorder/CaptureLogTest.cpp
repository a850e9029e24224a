#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "recorder/CaptureLog.h"
#include "tests/recorder/RecorderHarness.h"

namespace kestrova::test {
namespace {

class CaptureLogFile : public TempHome {};

TEST_F(CaptureLogFile, EntriesAreAppendedToAPrivateFile) {
  const std::string log = Dir + "/CaptureLog.txt";
  ASSERT_TRUE(WriteLog(log, "one"));
  ASSERT_TRUE(WriteLog(log, "two"));
  EXPECT_EQ(ReadText(log), std::string("\x06\x03one\x06\x03two", 10));
  struct stat st {};
  ASSERT_EQ(::stat(log.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
}

// A link planted under the log's name would have every entry appended to its target.
TEST_F(CaptureLogFile, ALinkUnderTheLogsNameIsNotFollowed) {
  const std::string target = Dir + "/precious.txt";
  std::ofstream(target) << "keep me";
  const std::string log = Dir + "/CaptureLog.txt";
  std::filesystem::create_symlink(target, log);
  EXPECT_FALSE(WriteLog(log, "entry"));
  EXPECT_EQ(ReadText(target), "keep me");
  // A link to nowhere is not made into a file either.
  std::filesystem::remove(log);
  std::filesystem::create_symlink(Dir + "/nowhere.txt", log);
  EXPECT_FALSE(WriteLog(log, "entry"));
  EXPECT_FALSE(Exists(Dir + "/nowhere.txt"));
}

}  // namespace
}  // namespace kestrova::test
