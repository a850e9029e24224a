#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "app/Commands.h"

namespace kestrova {
namespace {

std::string Fixture(const char* name) {
  return std::string(KESTROVA_TEST_DATA) + "/media/" + name;
}

struct TRun {
  int Status;
  std::string Out, Err;
};

TRun Probe(std::vector<std::string> args) {
  std::ostringstream out, err;
  args.insert(args.begin(), "probe");
  const int status = RunCommandLine(args, out, err);
  return {status, out.str(), err.str()};
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(ProbeCommand, OneLinePerField) {
  const struct {
    const char* File;
    std::vector<const char*> Lines;
  } cases[] = {
      {"bmp8_rle8.bmp",
       {"type: BMP\n", "width: 17\n", "height: 9\n", "rows: bottom-up\n", "bits_per_pixel: 8\n",
        "compression: RLE8\n", "palette_entries: 256\n", "colors_used: "}},
      {"bmp24_topdown.bmp", {"rows: top-down\n", "compression: none\n"}},
      {"jpeg_baseline_640x480.jpg", {"type: JPEG\n", "width: 640\n", "height: 480\n"}},
      {"wav_pcm8_mono_11025.wav",
       {"type: WAV\n", "format: PCM\n", "channels: 1\n", "sample_rate: 11025\n",
        "bits_per_sample: 8\n", "samples: 22050\n", "duration: 2\n"}},
      {"mp3_cbr128_tags.mp3",
       {"type: MP3\n", "format_tag: 336\n", "bit_rate: 128\n", "vbr_header: Info\n",
        "samples_per_frame: 1152\n", "id3v1_genre: Rock\n", "id3v1_track: 7\n",
        "id3v2_title: A Title\n"}},
      {"mp3_vbri.mp3", {"vbr_header: VBRI\n", "vbr_frames: 12345\n"}},
  };
  for (const auto& c : cases) {
    const TRun r = Probe({Fixture(c.File)});
    EXPECT_EQ(r.Status, 0) << c.File << ": " << r.Err;
    EXPECT_TRUE(Has(r.Out, "file: " + Fixture(c.File) + "\n")) << r.Out;
    for (const char* line : c.Lines) EXPECT_TRUE(Has(r.Out, line)) << c.File << ": " << line;
  }
}

TEST(ProbeCommand, FailedFilesAreNamedAndTheOthersStillProbed) {
  const TRun r =
      Probe({Fixture("not_sound.ogg"), Fixture("bmp4.bmp"), Fixture("jpeg_progressive.jpg"),
             Fixture("missing.wav"), Fixture("wav_no_data.wav"), Fixture("bmp1.bmp")});
  EXPECT_EQ(r.Status, 1);
  EXPECT_TRUE(Has(r.Out, "bits_per_pixel: 4\n")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "bits_per_pixel: 1\n")) << r.Out;
  EXPECT_TRUE(Has(r.Err, Fixture("not_sound.ogg") + "\": not a BMP, JPEG, WAV or MP3 file\n"))
      << r.Err;
  EXPECT_TRUE(Has(r.Err, Fixture("jpeg_progressive.jpg") + "\": JPEG without a baseline")) << r.Err;
  EXPECT_TRUE(Has(r.Err, "missing.wav")) << r.Err;
  EXPECT_TRUE(Has(r.Err, Fixture("wav_no_data.wav") + "\": WAV: no \"data\" chunk")) << r.Err;
  EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 4) << r.Err;
}

TEST(ProbeCommand, JSON) {
  const TRun r = Probe({"--json", Fixture("bmp16_565.bmp"), Fixture("not_sound.ogg")});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Out.front(), '[');
  EXPECT_TRUE(Has(r.Out, "\"type\": \"BMP\", \"width\": 17, \"height\": 9")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "\"masks_rgb\": \"0000F800 000007E0 0000001F\"")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "\"error\": \"not a BMP, JPEG, WAV or MP3 file\"}\n]\n")) << r.Out;
}

TEST(ProbeCommand, Usage) {
  EXPECT_EQ(Probe({}).Status, 2);
  EXPECT_EQ(Probe({"--json"}).Status, 2);
  EXPECT_EQ(Probe({"--xml", Fixture("bmp1.bmp")}).Status, 2);
}

}  // namespace
}  // namespace kestrova
