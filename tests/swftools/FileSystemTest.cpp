// What the file stream must do alike on every system: offsets past 4 GB, UTF-8 names, replacing
// an existing file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "swftools/Stream.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

class FileSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("kestrova-fs-" + std::to_string(std::hash<std::string>{}(
                                ::testing::UnitTest::GetInstance()->current_test_info()->name())));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  // A file name in UTF-8, as the library takes names on every system.
  std::string Name(const std::u8string& leaf) const {
    const std::u8string name = (dir / leaf).u8string();
    return std::string(name.begin(), name.end());
  }
  fs::path dir;
};

// A long in the C library is 32 bits on Windows: positions past 4 GB must not wrap there.
TEST_F(FileSystem, PositionsAndSizesPastFourGigabytes) {
  const std::uint64_t far = (std::uint64_t{1} << 32) + 17;
  const std::string name = Name(u8"large.bin");
  {
    TFileStream f(name, TFileStream::Mode::Create);
    f.SetPosition(far);  // the gap stays a hole in the file on file systems that allow it
    EXPECT_EQ(f.Position(), far);
    f.WriteByte(0x5A);
    EXPECT_EQ(f.Position(), far + 1);
    EXPECT_EQ(f.Size(), far + 1);
    f.Close();
  }
  TFileStream f(name, TFileStream::Mode::Read);
  EXPECT_EQ(f.Size(), far + 1);
  f.SetPosition(far);
  EXPECT_EQ(f.ReadByte(), 0x5A);
  EXPECT_THROW(f.ReadByte(), EStreamError);
}

TEST_F(FileSystem, NamesOutsideAsciiAreOpenedAndReplaced) {
  const std::string name = Name(u8"Fïlm 影片.swf");
  const std::string part = Name(u8"Fïlm 影片.swf.part");
  {
    TFileStream f(name, TFileStream::Mode::Create);
    f.Write("old", 3);
    f.Close();
  }
  {
    TFileStream f(part, TFileStream::Mode::Create);
    f.Write("newer", 5);
    f.Close();
  }
  ReplaceFile(part, name);
  EXPECT_FALSE(fs::exists(dir / u8"Fïlm 影片.swf.part"));
  const std::vector<std::uint8_t> bytes = ReadFileBytes(name);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "newer");
  RemoveFile(name);
  EXPECT_FALSE(fs::exists(dir / u8"Fïlm 影片.swf"));
  RemoveFile(name);  // gone already: no error
}

TEST_F(FileSystem, FailedReplaceNamesTheTarget) {
  const std::string target = Name(u8"no-dir/out.swf");
  try {
    ReplaceFile(Name(u8"missing.part"), target);
    FAIL() << "no exception";
  } catch (const EStreamError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot create file \"" + target + "\""),
              std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace kestrova
