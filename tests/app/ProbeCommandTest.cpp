#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
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

// A strict UTF-8 check, written apart from the program's own: well-formed sequences only (no
// overlong forms, surrogates or code points above U+10FFFF).
bool IsUTF8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= text.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3F);
    }
    const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
}

TEST(ProbeCommand, JSONIsUTF8WhateverTheBytes) {
  // A title that says it is UTF-8 but is not, and a file name in Latin-1.
  const std::string latin1 = (std::filesystem::temp_directory_path() /
                              ("kestrova-probe-" + std::to_string(::getpid()) + "-caf\xe9.bmp"))
                                 .string();
  std::filesystem::copy_file(Fixture("bmp1.bmp"), latin1,
                             std::filesystem::copy_options::overwrite_existing);
  const TRun r = Probe({"--json", Fixture("damaged_id3v23_bad_utf8.mp3"), latin1});
  std::remove(latin1.c_str());
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(IsUTF8(r.Out)) << r.Out;
  // Each ill-formed part becomes one U+FFFD; what was well formed stays.
  EXPECT_TRUE(
      Has(r.Out, "\"id3v2_title\": \"Caf\xEF\xBF\xBD \xEF\xBF\xBD( \xEF\xBF\xBD\xEF\xBF\xBD end\""))
      << r.Out;
  EXPECT_TRUE(Has(r.Out, "-caf\xEF\xBF\xBD.bmp\"")) << r.Out;
  // Cut sequences, surrogates, overlong forms and bytes no UTF-8 has.
  EXPECT_TRUE(IsUTF8("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
  for (const char* bad : {"\xC3", "\xE2\x82", "\xED\xA0\x80", "\xC0\xAF", "\xF5\x80\x80\x80"}) {
    EXPECT_FALSE(IsUTF8(bad)) << "the check itself";
  }
}

TEST(ProbeCommand, DamagedFilesSayWhatIsMissing) {
  const TRun r =
      Probe({Fixture("damaged_wav_data_claims_4g.wav"), Fixture("damaged_jpeg_cut_after_frame.jpg"),
             Fixture("damaged_bmp8_rle8_cut.bmp"), Fixture("damaged_bmp8_rle8_huge.bmp")});
  EXPECT_EQ(r.Status, 1);
  EXPECT_TRUE(Has(r.Out,
                  "data_size: 200\ncut_short: the \"data\" chunk at offset 36 claims "
                  "4294967280 bytes, the file has 200\n"))
      << r.Out;
  EXPECT_TRUE(Has(r.Out, "cut_short: JPEG: cut short after its frame header")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "cut_short: run-length data stops at row 4 of 9")) << r.Out;
  EXPECT_TRUE(Has(r.Err,
                  "damaged_bmp8_rle8_huge.bmp\": BMP: a picture of 32768x32767 at 8 bits "
                  "per pixel needs 1073709056 bytes, more than the memory budget"))
      << r.Err;
}

// The frame count of a lying Xing header (0xFFFFFFFF) is not believed.
TEST(ProbeCommand, ALyingFrameCountGivesTheDurationOfTheFramesPresent) {
  const TRun r = Probe({Fixture("damaged_mp3_xing_lying_count.mp3")});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(Has(r.Out, "samples: 24192\nduration: 0.548571\n")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "frame_count: 21\n")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "vbr_frames: 4294967295\n")) << r.Out;
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

// Headers are read by seeking: a 2 GB sound file (sparse here) and an endless device cost a
// few kilobytes of reading, not their size.
TEST(ProbeCommand, ReadsHeadersNotWholeFiles) {
  if (BytesReadByThisProcess() < 0) GTEST_SKIP() << "no /proc/self/io to count reads";
  const std::string wav = (std::filesystem::temp_directory_path() /
                           ("kestrova-probe-" + std::to_string(::getpid()) + "-huge.wav"))
                              .string();
  {
    // RIFF form, a 16-byte PCM format (2 channels, 44100 Hz, 16 bits), and a data chunk of
    // all the rest.
    const std::uint32_t data = (2u << 30) - 44;
    std::string head = std::string("RIFF....WAVEfmt ") + std::string("\x10\0\0\0\x01\0\x02\0", 8) +
                       std::string("\x44\xAC\0\0\x10\xB1\x02\0\x04\0\x10\0", 12) + "data....";
    for (int i = 0; i < 4; ++i) {
      head[4 + i] = static_cast<char>((data + 36) >> (8 * i));
      head[40 + i] = static_cast<char>(data >> (8 * i));
    }
    const int fd = ::open(wav.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::write(fd, head.data(), head.size()), 44);
    EXPECT_EQ(::ftruncate(fd, 2ll << 30), 0);
    ::close(fd);
  }
  const long long before = BytesReadByThisProcess();
  const TRun r = Probe({wav, "/dev/zero"});
  const long long read = BytesReadByThisProcess() - before;
  std::remove(wav.c_str());
  EXPECT_EQ(r.Status, 1) << "/dev/zero is no media file";
  EXPECT_TRUE(Has(r.Out, "data_size: 2147483604\n")) << r.Out;
  EXPECT_TRUE(Has(r.Err, "\"/dev/zero\": not a BMP, JPEG, WAV or MP3 file")) << r.Err;
  EXPECT_LT(read, 1 << 20);
}

TEST(ProbeCommand, Usage) {
  EXPECT_EQ(Probe({}).Status, 2);
  EXPECT_EQ(Probe({"--json"}).Status, 2);
  EXPECT_EQ(Probe({"--xml", Fixture("bmp1.bmp")}).Status, 2);
}

}  // namespace
}  // namespace kestrova
