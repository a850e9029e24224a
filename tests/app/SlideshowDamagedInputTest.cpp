// kestrova slideshow given damaged pictures and sound: refused with one line naming the file and
// what is missing, and nothing written; a sound whose VBR header lies about its length is used.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "app/Commands.h"
#include "swfstreams/SWFStreams.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

std::string Fixture(const std::string& name) {
  return std::string(KESTROVA_TEST_DATA) + "/media/" + name;
}

class SlideshowDamagedInput : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kestrova-slideshow-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Path(const std::string& name) { return (dir / name).string(); }
  int Run(std::vector<std::string> args) {
    out.str("");
    err.str("");
    args.insert(args.begin(), "slideshow");
    return RunCommandLine(args, out, err);
  }
  std::set<std::string> Files() {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
  }
  fs::path dir;
  std::ostringstream out, err;
};

TEST_F(SlideshowDamagedInput, IsRefusedNamingTheFileAndWhatIsMissing) {
  const std::string good = Fixture("bmp24.bmp");
  const struct {
    std::vector<std::string> Inputs;  // pictures, or --audio and a sound
    std::string File;                 // the damaged one
    std::string Missing;
  } cases[] = {
      {{"damaged_jpeg_cut_after_frame.jpg"},
       "damaged_jpeg_cut_after_frame.jpg",
       "cut short after its frame header: no scan data and no end-of-image marker"},
      {{"damaged_jpeg_cut_in_scan.jpg"},
       "damaged_jpeg_cut_in_scan.jpg",
       "cut short in its scan data: no end-of-image marker"},
      {{"damaged_bmp8_rle8_cut.bmp"},
       "damaged_bmp8_rle8_cut.bmp",
       "cut short: run-length data stops at row 4 of 9"},
      {{"damaged_bmp8_core_short_table.bmp"},
       "damaged_bmp8_core_short_table.bmp",
       "cut short: the colour table of 256 entries needs 768 bytes from offset 26, the file has "
       "228"},
      {{"damaged_bmp24_cut_rows.bmp"},
       "damaged_bmp24_cut_rows.bmp",
       "cut short: the pixel rows need 468 bytes"},
      {{"damaged_bmp8_rle8_huge.bmp"},
       "damaged_bmp8_rle8_huge.bmp",
       "a picture of 32768x32767 at 8 bits per pixel needs 1073709056 bytes, more than the "
       "memory budget"},
      {{"--audio", "damaged_wav_data_claims_4g.wav"},
       "damaged_wav_data_claims_4g.wav",
       "cut short: the \"data\" chunk at offset 36 claims 4294967280 bytes, the file has 200"},
      {{"--audio", "wav_data_overrun.wav"},
       "wav_data_overrun.wav",
       "cut short: the \"data\" chunk at offset 36 claims 2147483632 bytes"},
      {{"--audio", "wav_no_data.wav"}, "wav_no_data.wav", "WAV: no \"data\" chunk"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File);
    std::vector<std::string> args{Path("o.swf"), good};
    for (const std::string& a : c.Inputs) args.push_back(a.starts_with("--") ? a : Fixture(a));
    EXPECT_EQ(Run(args), 1);
    const std::string e = err.str();
    const std::string last = e.substr(e.rfind('\n', e.size() - 2) + 1);
    EXPECT_EQ(last, "kestrova slideshow: \"" + Fixture(c.File) +
                        "\": " + last.substr(last.find("\": ") + 3))
        << e;
    EXPECT_NE(last.find(c.Missing), std::string::npos) << e;
    EXPECT_EQ(Files(), std::set<std::string>{}) << e;
  }
}

TEST_F(SlideshowDamagedInput, ASoundWithALyingFrameCountIsUsed) {
  ASSERT_EQ(Run({Path("o.swf"), Fixture("bmp24.bmp"), "--audio",
                 Fixture("damaged_mp3_xing_lying_count.mp3")}),
            0)
      << err.str();
  TSWFStreamReader reader(Path("o.swf"));
  ASSERT_TRUE(reader.IsValid);
  reader.ParseTags(true, true);
  const TSWFDefineSound* sound = nullptr;
  for (const auto& info : reader.TagList) {
    if (auto* s = dynamic_cast<const TSWFDefineSound*>(info->SWFObject.get())) sound = s;
  }
  ASSERT_NE(sound, nullptr);
  EXPECT_EQ(sound->SoundSampleCount, 21u * 1152);
  EXPECT_EQ(sound->Data.size(), fs::file_size(Fixture("damaged_mp3_xing_lying_count.mp3")));
}

}  // namespace
}  // namespace kestrova
