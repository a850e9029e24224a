#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "swftools/Stream.h"
#include "swftools/ZStream.h"

namespace kestrova {
namespace {

TEST(MemoryStream, WritesReadsAndSeeks) {
  TMemoryStream m;
  for (int i = 0; i < 1000; ++i) m.WriteByte(static_cast<std::uint8_t>(i));
  EXPECT_EQ(m.Size(), 1000u);
  m.SetPosition(998);
  std::uint8_t b[2];
  m.ReadBuffer(b, 2);
  EXPECT_EQ(b[0], 998 % 256);
  EXPECT_EQ(b[1], 999 % 256);
  // Overwriting in the middle keeps the size.
  m.SetPosition(10);
  m.WriteByte(0xAA);
  EXPECT_EQ(m.Size(), 1000u);
  EXPECT_EQ(m.Data()[10], 0xAA);
}

TEST(MemoryStream, ShortReadThrowsAndConsumesNothing) {
  TMemoryStream m(std::vector<std::uint8_t>{1, 2, 3});
  m.SetPosition(1);
  std::uint8_t b[4] = {9, 9, 9, 9};
  EXPECT_THROW(m.ReadBuffer(b, 4), EStreamError);
  EXPECT_EQ(m.Position(), 1u);
  EXPECT_EQ(b[3], 9);  // nothing half-delivered past what the stream has
  m.SetPosition(3);
  try {
    m.ReadByte();
    FAIL() << "reading past the end must throw";
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  EXPECT_THROW(m.ReadBytes(1), EStreamError);
}

TEST(MemoryStream, SeekingFarPastTheEndAllocatesNothingAndReadsNothing) {
  TMemoryStream m(std::vector<std::uint8_t>{1, 2});
  m.SetPosition(std::uint64_t(1) << 40);
  EXPECT_EQ(m.Size(), 2u);
  std::uint8_t b;
  EXPECT_EQ(m.Read(&b, 1), 0u);
}

TEST(MemoryStream, WritePastTheEndZeroFillsTheGap) {
  TMemoryStream m;
  m.SetPosition(3);
  m.WriteByte(7);
  EXPECT_EQ(m.Bytes(), (std::vector<std::uint8_t>{0, 0, 0, 7}));
}

TEST(MemoryStream, ReadBytesOfAHugeClaimFailsWithoutAllocatingIt) {
  TMemoryStream m(std::vector<std::uint8_t>(100, 1));
  EXPECT_THROW(m.ReadBytes(std::size_t(1) << 40), EStreamError);
  EXPECT_EQ(m.Position(), 0u);
  EXPECT_EQ(m.ReadBytes(100).size(), 100u);
}

TEST(FileStream, OpenFailureNamesTheFileAndTheReason) {
  try {
    TFileStream f("/nonexistent-dir/x.swf", TFileStream::Mode::Read);
    FAIL();
  } catch (const EStreamError& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("/nonexistent-dir/x.swf"), std::string::npos) << what;
    EXPECT_NE(what.find("No such file"), std::string::npos) << what;
  }
  EXPECT_THROW(TFileStream("/nonexistent-dir/y.swf", TFileStream::Mode::Create), EStreamError);
}

TEST(FileStream, RoundTripsBytes) {
  const auto path = std::filesystem::temp_directory_path() / "kestrova-stream-test.bin";
  {
    TFileStream f(path.string(), TFileStream::Mode::Create);
    const char text[] = "hello";
    f.Write(text, 5);
    EXPECT_EQ(f.Size(), 5u);
    f.Close();
  }
  TFileStream f(path.string(), TFileStream::Mode::Read);
  EXPECT_EQ(f.Size(), 5u);
  f.SetPosition(1);
  char b[4];
  f.ReadBuffer(b, 4);
  EXPECT_EQ(std::string(b, 4), "ello");
  EXPECT_THROW(f.ReadByte(), EStreamError);
  std::filesystem::remove(path);
}

// The temporary files beside an output are created only where nothing is: an existing file and a
// link (even one to a missing file) are refused and left as they are; the new file is private.
TEST(FileStream, CreateNewNeverOpensWhatIsAlreadyThere) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("kestrova-createnew-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  auto text = [](const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  std::ofstream(dir / "target") << "target";
  std::ofstream(dir / "file") << "file";
  fs::create_symlink(dir / "target", dir / "link");
  fs::create_symlink(dir / "missing", dir / "dangling");
  for (const char* name : {"file", "link", "dangling"}) {
    SCOPED_TRACE(name);
    try {
      TFileStream f((dir / name).string(), TFileStream::Mode::CreateNew);
      ADD_FAILURE() << "opened";
    } catch (const EStreamError& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(text(dir / "target"), "target");
  EXPECT_EQ(text(dir / "file"), "file");
  EXPECT_FALSE(fs::exists(dir / "missing"));
  {
    TFileStream f((dir / "new").string(), TFileStream::Mode::CreateNew);
    f.Write("abc", 3);
    f.Sync();
    EXPECT_EQ(text(dir / "new"), "abc");
  }
  EXPECT_EQ(fs::status(dir / "new").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  fs::remove_all(dir);
}

// Bytes that deflate well but not to nothing.
std::vector<std::uint8_t> Ramp(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 7 / 13);
  return data;
}

// What inflating the whole of packed gives, reading atMost bytes at most.
std::vector<std::uint8_t> Inflated(TMemoryStream& packed, std::size_t atMost) {
  packed.SetPosition(0);
  TZDecompressionStream unz(packed);
  std::vector<std::uint8_t> out(atMost);
  out.resize(unz.Read(out.data(), out.size()));
  return out;
}

TEST(ZStream, CompressesAndInflatesExactlyWhatIsThere) {
  std::vector<std::uint8_t> data = Ramp(300000);
  TMemoryStream packed;
  std::uint64_t lastProgress = 0;
  {
    TZCompressionStream z(packed);
    z.OnProgress = [&](std::uint64_t consumed) { lastProgress = consumed; };
    z.Write(data.data(), data.size());
    z.Finish();
  }
  EXPECT_EQ(lastProgress, data.size());
  EXPECT_LT(packed.Size(), data.size());
  EXPECT_EQ(Inflated(packed, data.size() + 100), data);
}

// A level changed mid-stream applies to what comes next only: 200 KB of zeros written at level
// 0 stay 200 KB, between parts deflated at level 9, and everything inflates back in order.
TEST(ZStream, ALevelChangedMidStreamAppliesToWhatFollows) {
  std::vector<std::uint8_t> data = Ramp(300000);
  std::fill(data.begin() + 50000, data.begin() + 250000, 0);
  TMemoryStream packed;
  {
    TZCompressionStream z(packed, 9);
    z.Write(data.data(), 50000);
    z.SetLevel(0);
    z.Write(data.data() + 50000, 200000);
    z.SetLevel(9);
    z.Write(data.data() + 250000, 50000);
    z.Finish();
    EXPECT_THROW(z.SetLevel(1), EStreamError);
  }
  EXPECT_GT(packed.Size(), 200000u);
  EXPECT_LT(packed.Size(), 210000u);
  EXPECT_EQ(Inflated(packed, data.size() + 100), data);
}

TEST(ZStream, CutOrCorruptDataFailsCleanly) {
  std::vector<std::uint8_t> data(5000, 'a');
  TMemoryStream packed;
  {
    TZCompressionStream z(packed);
    z.Write(data.data(), data.size());
    z.Finish();
  }
  auto bytes = packed.Bytes();
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    TMemoryStream src(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + cut));
    TZDecompressionStream unz(src);
    // Either the read error, or (when only the checksum is cut off) the true data: never garbage.
    try {
      EXPECT_EQ(unz.ReadBytes(data.size()), data) << "cut " << cut;
    } catch (const EStreamError&) {
    }
  }
  bytes[0] = 0x00;  // no longer a zlib header
  TMemoryStream bad(bytes);
  TZDecompressionStream unz(bad);
  EXPECT_THROW(unz.ReadBytes(10), EZlibError);
}

}  // namespace
}  // namespace kestrova

namespace kestrova {
namespace {

TEST(StreamWindow, ReadsOnlyItsOwnBytesWithRelativePositions) {
  TMemoryStream parent(std::vector<std::uint8_t>{0, 1, 2, 3, 4, 5, 6});
  TStreamWindow window(parent, 2, 3);
  EXPECT_EQ(window.Size(), 3u);
  EXPECT_EQ(window.ReadByte(), 2);
  EXPECT_EQ(window.ReadBytes(2), (std::vector<std::uint8_t>{3, 4}));
  EXPECT_THROW(window.ReadByte(), EStreamError);
  window.SetPosition(1);
  std::uint8_t b[5];
  EXPECT_EQ(window.Read(b, 5), 2u);
  EXPECT_THROW(window.WriteByte(9), EStreamError);
  EXPECT_EQ(parent.Bytes()[5], 5);
}

}  // namespace
}  // namespace kestrova
