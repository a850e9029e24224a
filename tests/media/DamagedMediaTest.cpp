// Damaged and hostile media files: what the readers say is missing, the memory budget they share,
// and headers read by seeking whatever the file's size.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "media/ImageReader.h"
#include "media/MediaBudget.h"
#include "media/SoundReader.h"
#include "tests/media/MediaTestUtil.h"

namespace kestrova {
namespace {

using test::Bytes;
using test::FixtureBytes;
using test::MediaFixture;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The message of the EMediaError that f throws; "" (and a failure) when it throws none.
template <class F>
std::string MediaErrorOf(F f) {
  try {
    f();
  } catch (const EMediaError& e) {
    return e.what();
  }
  ADD_FAILURE() << "no EMediaError";
  return "";
}

struct TDamagedCase {
  const char* File;
  const char* Missing;  // what the reader says is missing
};

// Each file is read leniently (what is there, with the loss said in Shortfall) and strictly
// (refused, the message naming the file and what is missing).
TEST(DamagedMedia, BMPReaderSaysWhatIsMissing) {
  const TDamagedCase cases[] = {
      {"damaged_bmp8_rle8_cut.bmp",
       "run-length data stops at row 4 of 9 (byte 132 of 132) without an end-of-picture marker"},
      {"damaged_bmp8_core_short_table.bmp",
       "the colour table of 256 entries needs 768 bytes from offset 26, the file has 228"},
      {"damaged_bmp24_cut_rows.bmp",
       "the pixel rows need 468 bytes from offset 54, the file has 364"},
  };
  for (const TDamagedCase& c : cases) {
    SCOPED_TRACE(c.File);
    const std::string file = MediaFixture(c.File);
    TBMPReader lenient;
    lenient.LoadFromFile(file);
    EXPECT_EQ(lenient.Shortfall(), c.Missing);
    EXPECT_GT(lenient.ImageSize(), 0u);
    TBMPReader strict;
    strict.RequireComplete = true;
    EXPECT_EQ(MediaErrorOf([&] { strict.LoadFromFile(file); }),
              file + ": BMP: cut short: " + c.Missing);
    EXPECT_TRUE(strict.Image().Bits.empty());
    EXPECT_EQ(MediaErrorOf([&] { strict.CheckFile(file); }),
              file + ": BMP: cut short: " + c.Missing);
  }
  // Whole files of every form have nothing missing.
  for (const char* name : {"bmp1.bmp", "bmp4.bmp", "bmp4_rle4.bmp", "bmp8.bmp", "bmp8_rle8.bmp",
                           "bmp8_core.bmp", "bmp16_565.bmp", "bmp24.bmp", "bmp32_v5.bmp"}) {
    TBMPReader r;
    r.RequireComplete = true;
    EXPECT_NO_THROW(r.CheckFile(MediaFixture(name))) << name;
    EXPECT_NO_THROW(r.LoadFromFile(MediaFixture(name))) << name;
    EXPECT_EQ(r.Shortfall(), "") << name;
  }
}

TEST(DamagedMedia, JPEGCheckSaysWhatIsMissing) {
  const TDamagedCase cases[] = {
      {"damaged_jpeg_cut_after_frame.jpg",
       "JPEG: cut short after its frame header: no scan data and no end-of-image marker"},
      {"damaged_jpeg_cut_in_scan.jpg", "JPEG: cut short in its scan data: no end-of-image marker"},
  };
  for (const TDamagedCase& c : cases) {
    const std::string file = MediaFixture(c.File);
    EXPECT_EQ(MediaErrorOf([&] { CheckJPEGComplete(file); }), file + ": " + c.Missing);
    // The size alone is still found: the damage is past the frame header.
    std::int32_t w = 0, h = 0;
    EXPECT_TRUE(GetJPEGSize(file, w, h)) << c.File;
  }
  EXPECT_NO_THROW(CheckJPEGComplete(MediaFixture("jpeg_baseline_640x480.jpg")));
  EXPECT_NO_THROW(CheckJPEGComplete(MediaFixture("jpeg_progressive.jpg")));
  // Every cut of a whole file is refused, up to the last byte of its end-of-image marker.
  const Bytes whole = FixtureBytes("jpeg_baseline_640x480.jpg");
  for (std::size_t n = 0; n < whole.size(); ++n) {
    TMemoryStream m(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)));
    EXPECT_THROW(CheckJPEGComplete(m), EMediaError) << "cut at " << n;
  }
  // A marker segment whose length runs past the end.
  Bytes lying = {0xFF, 0xD8, 0xFF, 0xE0, 0x40, 0x00, 'J', 'F', 'I', 'F'};
  TMemoryStream m(lying);
  EXPECT_NE(MediaErrorOf([&] {
              CheckJPEGComplete(m);
            }).find("cut short inside the segment of marker 0xFFE0 at offset 2"),
            std::string::npos);
}

TEST(DamagedMedia, WaveReaderSaysWhatIsMissing) {
  const TWaveReader w(MediaFixture("damaged_wav_data_claims_4g.wav"));
  EXPECT_EQ(w.Shortfall,
            "the \"data\" chunk at offset 36 claims 4294967280 bytes, the file has 200");
  EXPECT_EQ(w.DataOffset, 44u);
  EXPECT_EQ(w.DataSize, 200u);
  EXPECT_EQ(w.SampleCount, 200);
}

TEST(MediaBudget, ClaimsAreCountedUntilReleased) {
  TMediaBudget budget(1000);
  TBudgetClaim a(budget, 600, "first");
  EXPECT_EQ(budget.Used(), 600u);
  EXPECT_EQ(MediaErrorOf([&] { TBudgetClaim b(budget, 401, "the second"); }),
            "the second needs 401 bytes, more than the memory budget of 1000 bytes (600 already "
            "in use)");
  EXPECT_EQ(budget.Used(), 600u) << "a refused claim counts nothing";
  {
    TBudgetClaim b(budget, 400, "the second");
    TBudgetClaim moved = std::move(b);
    EXPECT_EQ(budget.Used(), 1000u);
  }
  EXPECT_EQ(budget.Used(), 600u);
  a = TBudgetClaim(budget, 0, "nothing");
  EXPECT_EQ(budget.Used(), 0u);
  EXPECT_THROW(TBudgetClaim(budget, ~std::uint64_t{0}, "everything"), EMediaError);
}

TEST(MediaBudget, DefaultFitsAnHourOfSoundBesideAFullHDPicture) {
  const std::uint64_t hourOfSound = 48000ull * 2 * 2 * 3600;
  const std::uint64_t picture = 1920ull * 1080 * 4;
  EXPECT_GT(TMediaBudget::kDefaultLimit, hourOfSound + picture + (64u << 20));
}

// A picture that claims a gigabyte in 1080 bytes is refused before anything is allocated, by
// the load and by the check alike.
TEST(MediaBudget, AHugeRunLengthPictureIsRefused) {
  const std::string file = MediaFixture("damaged_bmp8_rle8_huge.bmp");
  ASSERT_EQ(FixtureBytes("damaged_bmp8_rle8_huge.bmp").size(), 1080u);
  TMediaBudget budget;
  TBMPReader r;
  r.Budget = &budget;
  const std::string load = MediaErrorOf([&] { r.LoadFromFile(file); });
  EXPECT_TRUE(Has(load,
                  "BMP: a picture of 32768x32767 at 8 bits per pixel needs 1073709056 "
                  "bytes, more than the memory budget"))
      << load;
  EXPECT_EQ(MediaErrorOf([&] { r.CheckFile(file); }), load);
  EXPECT_EQ(budget.Used(), 0u);
}

TEST(MediaBudget, SoundDataIsCountedWhileItIsHeld) {
  const std::string file = MediaFixture("wav_pcm8_mono_11025.wav");
  TFileStream in(file, TFileStream::Mode::Read);
  TWaveReader w;
  w.ReadFromStream(in, TSoundKind::Wave);
  TMediaBudget small(22049);
  w.Budget = &small;
  TBudgetClaim claim;
  EXPECT_TRUE(Has(MediaErrorOf([&] { w.ReadData(in, claim); }),
                  "the sound data needs 22050 bytes, more than the memory budget of 22049"));
  TMediaBudget enough(22050);
  w.Budget = &enough;
  const std::vector<std::uint8_t> data = w.ReadData(in, claim);
  EXPECT_EQ(data.size(), 22050u);
  EXPECT_EQ(enough.Used(), 22050u);
  claim.Reset();
  EXPECT_EQ(enough.Used(), 0u);
  // Data that the reader was not given from this stream is refused, not read past the end.
  w.DataSize = 30000;
  EXPECT_THROW(w.ReadData(in, claim), EMediaError);
}

// The xing header of the lying file says 0xFFFFFFFF frames; the frames really there give the
// duration and sample count, which are those of the same file with an honest header.
TEST(MPEGaudio, ALyingFrameCountGivesWayToTheFramesPresent) {
  const TWaveReader honest(MediaFixture("mp3_vbr_xing.mp3"));
  const TWaveReader lying(MediaFixture("damaged_mp3_xing_lying_count.mp3"));
  ASSERT_EQ(lying.MPEG.VBR.Frames, 0xFFFFFFFFu);
  EXPECT_FALSE(lying.MPEG.VBRFramesBelievable());
  EXPECT_TRUE(honest.MPEG.VBRFramesBelievable());
  EXPECT_EQ(lying.MPEG.CountedFrames, honest.MPEG.VBR.Frames);
  EXPECT_EQ(honest.MPEG.CountedFrames, 0u) << "a believable header's frames are not walked";
  EXPECT_EQ(lying.FrameCount, honest.FrameCount);
  EXPECT_EQ(lying.SampleCount, honest.SampleCount);
  EXPECT_DOUBLE_EQ(lying.Duration, honest.Duration);
  EXPECT_NEAR(lying.BitRate, honest.BitRate, 1);
  EXPECT_LT(lying.Duration, 1.0);
}

// Reads of this process so far, in bytes, from the kernel's count; -1 where there is none.
long long BytesReadByThisProcess() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return -1;
}

// A sparse file of the given size whose first bytes are head.
class THugeFile {
 public:
  THugeFile(const std::string& name, const Bytes& head, long long size)
      : FPath((std::filesystem::temp_directory_path() /
               ("kestrova-huge-" + std::to_string(::getpid()) + "-" + name))
                  .string()) {
    const int fd = ::open(FPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
    EXPECT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
  }
  ~THugeFile() { std::remove(FPath.c_str()); }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

Bytes WaveHead(std::uint32_t dataSize) {
  Bytes b{'R', 'I', 'F', 'F'};
  test::Put32(b, dataSize + 36);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  test::Put32(b, 16);
  test::Put16(b, 1);
  test::Put16(b, 2);
  test::Put32(b, 44100);
  test::Put32(b, 44100 * 4);
  test::Put16(b, 4);
  test::Put16(b, 16);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  test::Put32(b, dataSize);
  return b;
}

TEST(DamagedMedia, HeadersOfAHugeFileAreReadBySeeking) {
  if (BytesReadByThisProcess() < 0) GTEST_SKIP() << "no /proc/self/io to count reads";
  const long long size = 2ll << 30;
  const THugeFile wav("sound.wav", WaveHead(static_cast<std::uint32_t>(size - 44)), size);
  const THugeFile mp3("silence.mp3", {}, size);
  const long long before = BytesReadByThisProcess();
  const TWaveReader w(wav.Path());
  EXPECT_EQ(w.DataSize, size - 44);
  EXPECT_EQ(w.SampleCount, (size - 44) / 4);
  EXPECT_THROW(TWaveReader{mp3.Path()}, EMediaError);  // zeros hold no frame
  EXPECT_LT(BytesReadByThisProcess() - before, 1 << 20);
}

}  // namespace
}  // namespace kestrova
