#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "media/ID3v1.h"
#include "media/ID3v2.h"
#include "media/MPEGaudio.h"
#include "media/SoundReader.h"
#include "tests/media/MediaTestUtil.h"

namespace kestrova {
namespace {

using test::Bytes;
using test::FixtureBytes;
using test::MediaFixture;

TWaveReader ReadBytes(const Bytes& bytes, TSoundKind kind) {
  TMemoryStream m(bytes);
  TWaveReader w;
  w.ReadFromStream(m, kind);
  return w;
}

struct TFrameCase {
  const char* What;
  std::array<std::uint8_t, 4> Header;
  std::uint32_t Length;  // 0: not acceptable
};

TEST(MPEGaudio, FrameHeaderAndLength) {
  const TFrameCase cases[] = {
      {"MPEG 1 Layer III 128k 44100", {0xFF, 0xFB, 0x90, 0x44}, 417},
      {"the same, padded", {0xFF, 0xFB, 0x92, 0x44}, 418},
      {"MPEG 1 Layer III 320k 32000", {0xFF, 0xFB, 0xE8, 0x00}, 1440},
      {"MPEG 1 Layer I 32k 32000", {0xFF, 0xFF, 0x18, 0x00}, 48},
      {"MPEG 1 Layer I padded: one 4-byte slot", {0xFF, 0xFF, 0x1A, 0x00}, 52},
      {"MPEG 2 Layer III 32k 22050", {0xFF, 0xF3, 0x40, 0xC0}, 104},
      {"MPEG 2 Layer II 160k 16000", {0xFF, 0xF5, 0xE8, 0x00}, 1440},
      {"MPEG 2 Layer I 32k 16000", {0xFF, 0xF7, 0x18, 0x00}, 96},
      {"MPEG 2.5 Layer III 8k 8000", {0xFF, 0xE3, 0x18, 0x00}, 72},
      {"reserved version", {0xFF, 0xEB, 0x90, 0x44}, 0},
      {"reserved layer", {0xFF, 0xF9, 0x90, 0x44}, 0},
      {"free bit rate", {0xFF, 0xFB, 0x00, 0x44}, 0},
      {"bad bit rate", {0xFF, 0xFB, 0xF0, 0x44}, 0},
      {"reserved sample rate", {0xFF, 0xFB, 0x9C, 0x44}, 0},
      {"reserved emphasis", {0xFF, 0xFB, 0x90, 0x46}, 0},
      {"no sync", {0xFE, 0xFB, 0x90, 0x44}, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FrameLength(c.Header.data()), c.Length) << c.What;
    EXPECT_EQ(IsFrameHeader(c.Header.data()), c.Length != 0) << c.What;
  }
}

// Frames of 417 bytes (MPEG 1 Layer III, 128 kbit/s, 44100 Hz, joint stereo).
Bytes Frames(int count) {
  Bytes b;
  for (int i = 0; i < count; ++i) {
    b.insert(b.end(), {0xFF, 0xFB, 0x90, 0x44});
    b.resize(b.size() + 413, static_cast<std::uint8_t>(i + 1));
  }
  return b;
}

TEST(MPEGaudio, SearchSkipsAHeaderWithoutASecondOne) {
  Bytes file{0xFF, 0xFB, 0x90, 0x44};
  file.resize(1000, 0x11);  // no header 417 bytes on
  const Bytes frames = Frames(6);
  file.insert(file.end(), frames.begin(), frames.end());
  TMemoryStream m(file);
  TMPEGaudio mpeg;
  ASSERT_TRUE(mpeg.ReadFromStream(m));
  ASSERT_TRUE(mpeg.Frame.Found);
  EXPECT_EQ(mpeg.Frame.Position, 1000);
  EXPECT_EQ(mpeg.Frame.Size, 417);
  EXPECT_FALSE(mpeg.Frame.EmptyFrame);
  EXPECT_EQ(mpeg.Frame.ModeID, 1);
  EXPECT_EQ(mpeg.FrameCount(), 6u);
  EXPECT_EQ(mpeg.BitRate(), 128);
  EXPECT_EQ(mpeg.SampleRate(), 44100u);
  EXPECT_DOUBLE_EQ(mpeg.Duration(), 6.0 * 417 * 8 / 128000);
}

TEST(MPEGaudio, SecondBlockFromTheMiddleOfTheAudio) {
  Bytes file(20000, 0);
  const Bytes frames = Frames(5);
  std::copy(frames.begin(), frames.end(), file.begin() + 10000);
  TMemoryStream m(file);
  TMPEGaudio mpeg;
  ASSERT_TRUE(mpeg.ReadFromStream(m));
  ASSERT_TRUE(mpeg.Frame.Found);
  EXPECT_EQ(mpeg.Frame.Position, 0);
  EXPECT_EQ(mpeg.Frame.Offset, 10000);
  EXPECT_EQ(mpeg.AudioSize(), 10000);
}

TEST(MPEGaudio, NoFrameLeavesTheResetState) {
  for (const Bytes& file : {Bytes(5000, 0xFF), Bytes(10, 0), Bytes{}}) {
    TMemoryStream m(file);
    TMPEGaudio mpeg;
    mpeg.ReadFromStream(m);
    EXPECT_FALSE(mpeg.Frame.Found);
    EXPECT_EQ(mpeg.Frame.VersionID, 1);
    EXPECT_EQ(mpeg.Frame.SampleRateID, 3);
    EXPECT_EQ(mpeg.Frame.ModeID, 4);
    EXPECT_EQ(mpeg.Frame.EmphasisID, 2);
    EXPECT_EQ(mpeg.Duration(), 0);
    EXPECT_EQ(mpeg.FrameCount(), 0u);
  }
  TMPEGaudio mpeg;
  EXPECT_FALSE(mpeg.ReadFromFile(MediaFixture("no such file.mp3")));
}

TEST(MPEGaudio, XingHeaderWithAllFieldsAndAnEncoderTag) {
  TMPEGaudio mpeg;
  ASSERT_TRUE(mpeg.ReadFromFile(MediaFixture("mp3_vbr_xing.mp3")));
  ASSERT_TRUE(mpeg.VBR.Found);
  EXPECT_EQ(mpeg.VBR.ID, "Xing");
  EXPECT_EQ(mpeg.VBR.Frames, 21u);
  EXPECT_GT(mpeg.VBR.Bytes, 0u);
  EXPECT_EQ(mpeg.VBR.VendorID, "Lavc59.3");
  EXPECT_EQ(mpeg.VBR.EncoderDelay, 576);
  EXPECT_TRUE(mpeg.Frame.EmptyFrame);
  EXPECT_EQ(mpeg.FrameCount(), 21u);
  EXPECT_DOUBLE_EQ(mpeg.Duration(), 1152.0 * 21 / 44100);
  // The header's frame is smaller than the audio's: the count is not cut to what frames of its
  // size would fill.
  const TWaveReader w(MediaFixture("mp3_vbr_xing.mp3"));
  EXPECT_GT(w.FrameSize * 21u, FixtureBytes("mp3_vbr_xing.mp3").size());
  EXPECT_EQ(w.FrameCount, 21u);
}

// A Xing header that reports 1000 frames: the duration follows from them alone.
TEST(MPEGaudio, XingFrameCountGivesTheDuration) {
  Bytes file = Frames(6);
  const Bytes xing{'X', 'i', 'n', 'g', 0, 0, 0, 3, 0, 0, 0x03, 0xE8, 0, 0x06, 0x5C, 0xE8};
  std::copy(xing.begin(), xing.end(), file.begin() + 36);
  TMemoryStream m(file);
  TMPEGaudio mpeg;
  ASSERT_TRUE(mpeg.ReadFromStream(m));
  ASSERT_TRUE(mpeg.VBR.Found);
  EXPECT_EQ(mpeg.VBR.Frames, 1000u);
  EXPECT_EQ(mpeg.VBR.Bytes, 417000u);
  EXPECT_DOUBLE_EQ(mpeg.Duration(), 1152.0 * 1000 / 44100);
  EXPECT_EQ(mpeg.BitRate(), 128);
  // Frames only: the bytes are not read from where the flags say nothing is.
  file[36 + 7] = 1;
  TMemoryStream m2(file);
  ASSERT_TRUE(mpeg.ReadFromStream(m2));
  EXPECT_EQ(mpeg.VBR.Frames, 1000u);
  EXPECT_EQ(mpeg.VBR.Bytes, 0u);
}

TEST(MPEGaudio, TwoKilobyteTagIsSkipped) {
  TMPEGaudio mpeg;
  ASSERT_TRUE(mpeg.ReadFromFile(MediaFixture("id3v23_2k.mp3")));
  ASSERT_TRUE(mpeg.Frame.Found);
  EXPECT_GT(mpeg.ID3v2.Size, 2048);
  EXPECT_EQ(mpeg.Frame.Position, 0);
  EXPECT_EQ(mpeg.Frame.Offset, mpeg.ID3v2.Size);
  EXPECT_EQ(mpeg.ID3v2.Title, "Padded");
}

struct TSoundCase {
  const char* File;
  std::int16_t FormatTag;
  std::uint16_t Channels;
  std::uint32_t Rate;
  std::uint16_t Bits;
  std::int64_t Samples;  // -1: not checked exactly
  double Duration;
  double Tolerance;
};

class SoundFiles : public ::testing::TestWithParam<TSoundCase> {};

TEST_P(SoundFiles, Format) {
  const TSoundCase& c = GetParam();
  TWaveReader w(MediaFixture(c.File));
  EXPECT_EQ(w.Shortfall, "");
  EXPECT_EQ(w.FormatTag, c.FormatTag);
  EXPECT_EQ(w.Channels, c.Channels);
  EXPECT_EQ(w.SamplesPerSec, c.Rate);
  EXPECT_EQ(w.BitsPerSample, c.Bits);
  if (c.Samples >= 0) {
    EXPECT_EQ(w.SampleCount, c.Samples);
  }
  EXPECT_NEAR(w.Duration, c.Duration, c.Tolerance);
  const std::uint64_t size = FixtureBytes(c.File).size();
  EXPECT_GT(w.DataSize, 0u);
  EXPECT_LE(std::uint64_t{w.DataOffset} + w.DataSize, size);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, SoundFiles,
    ::testing::Values(
        TSoundCase{"wav_pcm8_mono_11025.wav", 1, 1, 11025, 8, 22050, 2.0, 1e-9},
        TSoundCase{"wav_pcm16_stereo_44100.wav", 1, 2, 44100, 16, 4410, 0.1, 1e-9},
        TSoundCase{"wav_odd_chunks.wav", 1, 1, 8000, 8, 1001, 1001.0 / 8000, 1e-9},
        TSoundCase{"wav_mp3.wav", 85, 2, 44100, 16, -1, 0.55, 0.1},
        TSoundCase{"mp3_cbr128_tags.mp3", 336, 2, 44100, 16, -1, 0.55, 0.1},
        TSoundCase{"mp3_vbr_xing.mp3", 336, 2, 44100, 16, 24192, 24192.0 / 44100, 1e-9},
        TSoundCase{"mp3_mpeg2_mono.mp3", 336, 1, 22050, 16, -1, 0.55, 0.1},
        // Its VBRI header claims 12345 frames; the file holds 7 after the header's own.
        TSoundCase{"mp3_vbri.mp3", 336, 2, 44100, 16, 1152 * 7, 1152.0 * 7 / 44100, 1e-9}),
    [](const auto& info) {
      std::string name = info.param.File;
      for (char& ch : name) {
        if (ch == '.') ch = '_';
      }
      return name;
    });

TEST(WaveReader, RIFFChunks) {
  TWaveReader odd(MediaFixture("wav_odd_chunks.wav"));
  EXPECT_EQ(odd.FmtOffset, 32u) << "after a 3-byte chunk and its pad byte";
  EXPECT_EQ(odd.FmtSize, 300u);
  EXPECT_EQ(odd.DataOffset, 340u);
  EXPECT_EQ(odd.DataSize, 1001u);

  try {
    TWaveReader noData(MediaFixture("wav_no_data.wav"));
    ADD_FAILURE() << "no error";
  } catch (const EMediaError& e) {
    EXPECT_EQ(std::string(e.what()), MediaFixture("wav_no_data.wav") + ": WAV: no \"data\" chunk");
  }

  // The data chunk claims more than the file: the bytes there are described, and the loss said.
  TWaveReader overrun(MediaFixture("wav_data_overrun.wav"));
  EXPECT_EQ(overrun.Shortfall,
            "the \"data\" chunk at offset 36 claims 2147483632 bytes, the file has 1002");
  EXPECT_EQ(std::uint64_t{overrun.DataOffset} + overrun.DataSize,
            FixtureBytes("wav_data_overrun.wav").size());

  TWaveReader zero(MediaFixture("wav_zero_channels.wav"));
  EXPECT_EQ(zero.Channels, 0);
  EXPECT_EQ(zero.SampleCount, 0);
  EXPECT_EQ(zero.Duration, 0);
}

Bytes Chunk(const char* id, const Bytes& body) {
  Bytes b(id, id + 4);
  test::Put32(b, static_cast<std::uint32_t>(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  if (body.size() % 2) b.push_back(0);
  return b;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Riff(const Bytes& chunks, std::uint32_t extra = 0) {
  Bytes b{'R', 'I', 'F', 'F'};
  test::Put32(b, static_cast<std::uint32_t>(chunks.size() + 4 + extra));
  b.insert(b.end(), {'W', 'A', 'V', 'E'});
  b.insert(b.end(), chunks.begin(), chunks.end());
  return b;
}

Bytes PCMFormat(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
  Bytes f;
  test::Put16(f, 1);
  test::Put16(f, channels);
  test::Put32(f, rate);
  test::Put32(f, rate * channels * bits / 8);
  test::Put16(f, static_cast<std::uint16_t>(channels * bits / 8));
  test::Put16(f, bits);
  return f;
}

TEST(WaveReader, DamagedRIFFFiles) {
  const Bytes fmt = Chunk("fmt ", PCMFormat(1, 8000, 8));
  Bytes list = Chunk("LIST", Bytes(10, 'x'));
  test::Set32(list, 4, 5000);  // past the form
  const struct {
    const char* What;
    Bytes File;
    const char* Error;
  } cases[] = {
      {"empty", {}, "not a RIFF WAVE file"},
      {"not RIFF", Bytes(40, 'R'), "not a RIFF WAVE file"},
      {"RIFF but not WAVE", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '}, "not a RIFF"},
      {"no chunks", Riff({}), "no \"fmt \" chunk"},
      {"chunk past the form", Riff(list), "chunk \"LIST\" at offset 12 claims 5000 bytes"},
      {"short fmt", Riff(Chunk("fmt ", {1, 0, 1, 0})), "fewer than the 16"},
      {"form longer than the file", Riff(fmt, 100000), "no \"data\" chunk"},
      {"no MPEG frame in MPEG data",
       Riff(Cat(Chunk("fmt ",
                      [] {
                        Bytes f = PCMFormat(2, 44100, 16);
                        f[0] = 85;
                        return f;
                      }()),
                Chunk("data", Bytes(4000, 0)))),
       "WAV: no MPEG audio frame found"},
      {"half a chunk header", Riff(Bytes{'f', 'm', 't'}), "no \"fmt \" chunk"},
  };
  for (const auto& c : cases) {
    try {
      ReadBytes(c.File, TSoundKind::Wave);
      ADD_FAILURE() << c.What << ": no error";
    } catch (const EMediaError& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind("WAV: ", 0), 0u) << c.What << ": " << what;
      EXPECT_NE(what.find(c.Error), std::string::npos) << c.What << ": " << what;
    }
  }
  // A chunk of odd size followed by "data": the pad byte is skipped.
  const TWaveReader w =
      ReadBytes(Riff(Cat(Chunk("fmt ", PCMFormat(2, 8000, 16)), Chunk("data", Bytes(7, 1)))),
                TSoundKind::Wave);
  EXPECT_EQ(w.Shortfall, "");
  EXPECT_EQ(w.DataSize, 7u);
}

TEST(WaveReader, ExtensionChoosesTheReader) {
  EXPECT_EQ(SoundKindOf("a.WAV"), TSoundKind::Wave);
  EXPECT_EQ(SoundKindOf("dir.mp3/a.wav"), TSoundKind::Wave);
  EXPECT_EQ(SoundKindOf("song.Mp3"), TSoundKind::MP3);
  EXPECT_EQ(SoundKindOf("dir.wav/song"), TSoundKind::None);
  EXPECT_EQ(SoundKindOf("noise.ogg"), TSoundKind::None);
  const TWaveReader ogg(MediaFixture("not_sound.ogg"));
  EXPECT_EQ(ogg.FormatTag, 0);
  EXPECT_EQ(ogg.Channels, 0);
  EXPECT_EQ(ogg.SamplesPerSec, 0u);
  EXPECT_EQ(ogg.DataSize, 0u);
  EXPECT_EQ(ogg.Duration, 0);
  EXPECT_THROW(TWaveReader(MediaFixture("missing.wav")), EStreamError);
}

TEST(WaveReader, MP3DataIsTheFramesWithoutTags) {
  const TWaveReader w(MediaFixture("mp3_cbr128_tags.mp3"));
  ASSERT_TRUE(w.MPEG.ID3v1.Exists);
  EXPECT_EQ(w.DataOffset, static_cast<std::uint32_t>(w.MPEG.ID3v2.Size));
  EXPECT_EQ(w.DataSize, FixtureBytes("mp3_cbr128_tags.mp3").size() - w.DataOffset - 128);
  EXPECT_EQ(w.BitRate, 128);
  EXPECT_EQ(w.SamplesPerFrame, 1152);
  EXPECT_TRUE(w.FrameSize == 417 || w.FrameSize == 418) << w.FrameSize;
  EXPECT_EQ(w.MPEG.VBR.ID, "Info");
  EXPECT_EQ(w.FrameCount, w.MPEG.VBR.Frames);

  const TWaveReader mono(MediaFixture("mp3_mpeg2_mono.mp3"));
  EXPECT_EQ(mono.SamplesPerFrame, 576);
  EXPECT_EQ(mono.BitRate, 32);
  EXPECT_EQ(mono.MPEG.Frame.VersionID, kMPEGVersion2);

  // A VBRI header that claims more frames than the file could hold (in frames of the smallest
  // size, 104 bytes at 44100 Hz) is not believed: the 8 frames present, less the one holding the
  // header, are counted instead.
  const TWaveReader vbri(MediaFixture("mp3_vbri.mp3"));
  EXPECT_EQ(vbri.MPEG.VBR.ID, "VBRI");
  EXPECT_EQ(vbri.MPEG.VBR.Scale, 80);
  EXPECT_GT(vbri.MPEG.VBR.Frames, 3336u / 104);
  EXPECT_EQ(vbri.BitRate, 128);
  EXPECT_EQ(vbri.FrameCount, 7u);

  const TWaveReader inWave(MediaFixture("wav_mp3.wav"));
  EXPECT_EQ(inWave.MPEG.Frame.Offset, 0) << "searched within the data chunk";
  EXPECT_GT(inWave.DataOffset, 36u);
}

TEST(WaveReader, TruncatedFilesFailCleanly) {
  for (const char* name :
       {"wav_odd_chunks.wav", "mp3_vbr_xing.mp3", "id3v23_frames.mp3", "mp3_vbri.mp3"}) {
    const Bytes whole = FixtureBytes(name);
    const TSoundKind kind = SoundKindOf(name);
    for (std::size_t n = 0; n < whole.size(); n += 7) {
      try {
        const TWaveReader w = ReadBytes(Bytes(whole.begin(), whole.begin() + n), kind);
        EXPECT_LE(std::uint64_t{w.DataOffset} + w.DataSize, n) << name << " cut at " << n;
      } catch (const EMediaError&) {
      }
    }
  }
}

TEST(ID3v1, Versions) {
  TID3v1 tag;
  ASSERT_TRUE(tag.ReadFromFile(MediaFixture("mp3_cbr128_tags.mp3")));
  EXPECT_TRUE(tag.Exists);
  EXPECT_EQ(tag.VersionID, 2);
  EXPECT_EQ(tag.Title, "A Title");
  EXPECT_EQ(tag.Artist, "An Artist");
  EXPECT_EQ(tag.Album, "An Album");
  EXPECT_EQ(tag.Year, "2001");
  EXPECT_EQ(tag.Comment, "A comment");
  EXPECT_EQ(tag.Track, 7);
  EXPECT_EQ(GenreName(tag.GenreID), "Rock");

  // ID3v1.0: the comment runs to byte 126; an ISO-8859-1 title comes out as UTF-8.
  Bytes raw(200, 0);
  Bytes t{'T', 'A', 'G', 'C', 'a', 'f', 0xE9, ' ', ' '};
  std::copy(t.begin(), t.end(), raw.end() - 128);
  std::fill(raw.end() - 31, raw.end() - 1, 'c');
  raw.back() = 200;
  TMemoryStream m(raw);
  ASSERT_TRUE(tag.ReadFromStream(m));
  EXPECT_EQ(tag.VersionID, 1);
  EXPECT_EQ(tag.Title, "Caf\xC3\xA9");
  EXPECT_EQ(tag.Comment, std::string(30, 'c'));
  EXPECT_EQ(tag.Track, 0);
  EXPECT_EQ(GenreName(tag.GenreID), "");

  TMemoryStream noTag(Bytes(300, 1));
  EXPECT_TRUE(tag.ReadFromStream(noTag));
  EXPECT_FALSE(tag.Exists);
  TMemoryStream tooShort(Bytes(100, 1));
  EXPECT_FALSE(tag.ReadFromStream(tooShort));
  EXPECT_EQ(tag.GenreID, 255);
}

TEST(ID3v1, GenreTable) {
  EXPECT_EQ(kID3Genres.size(), 148u);
  EXPECT_EQ(GenreName(0), "Blues");
  EXPECT_EQ(GenreName(17), "Rock");
  EXPECT_EQ(GenreName(147), "Synthpop");
  EXPECT_EQ(GenreName(148), "");
  EXPECT_EQ(GenreName(255), "");
}

TEST(ID3v2, Frames) {
  TID3v2 tag;
  ASSERT_TRUE(tag.ReadFromFile(MediaFixture("id3v23_frames.mp3")));
  EXPECT_TRUE(tag.Exists);
  EXPECT_EQ(tag.VersionID, 3);
  EXPECT_EQ(tag.Title, "Song");
  EXPECT_EQ(tag.Track, 3);
  EXPECT_EQ(tag.Genre, "");
  EXPECT_EQ(tag.Artist, "Second") << "a later frame wins";
  EXPECT_EQ(tag.Comment, "A comment");

  ASSERT_TRUE(tag.ReadFromFile(MediaFixture("mp3_cbr128_tags.mp3")));
  EXPECT_EQ(tag.Title, "A Title");
  EXPECT_EQ(tag.Artist, "An Artist");
  EXPECT_EQ(tag.Album, "An Album");
  EXPECT_EQ(tag.Track, 7);
  EXPECT_EQ(tag.Year, "2001");
  EXPECT_EQ(tag.Genre, "Rock");
  EXPECT_EQ(tag.Comment, "") << "ffmpeg writes its comment as a TXXX frame, which is skipped";

  // A frame claiming more than the tag: its text stops at the tag's end.
  ASSERT_TRUE(tag.ReadFromFile(MediaFixture("id3v23_frame_overrun.mp3")));
  EXPECT_EQ(tag.Title, "Cut");
}

Bytes ID3v23(const std::vector<std::pair<std::string, Bytes>>& frames, std::uint32_t claim = 0) {
  Bytes body;
  for (const auto& [id, text] : frames) {
    body.insert(body.end(), id.begin(), id.end());
    const auto n = static_cast<std::uint32_t>(text.size());
    body.insert(body.end(),
                {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                 static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n), 0, 0});
    body.insert(body.end(), text.begin(), text.end());
  }
  const std::uint32_t size = claim ? claim : static_cast<std::uint32_t>(body.size());
  Bytes tag(10 + body.size(), 0);
  tag[0] = 'I', tag[1] = 'D', tag[2] = '3', tag[3] = 3;
  for (int k = 0; k < 4; ++k) tag[6 + k] = static_cast<std::uint8_t>(size >> (21 - 7 * k) & 0x7F);
  std::copy(body.begin(), body.end(), tag.begin() + 10);
  return tag;
}

TEST(ID3v2, TextValues) {
  const struct {
    const char* What;
    std::string ID;
    Bytes Content;
    std::string Want;
  } cases[] = {
      {"track with a total", "TRCK", {0, '3', '/', '1', '2'}, "3"},
      {"track without a number", "TRCK", {0, 'x'}, "0"},
      {"genre number only", "TCON", {0, '(', '1', '7', ')'}, ""},
      {"genre after its number", "TCON", {0, '(', '1', '7', ')', 'R', 'o', 'c', 'k'}, "Rock"},
      {"blanks trimmed", "TIT2", {0, ' ', ' ', 'A', ' ', '\t', 0}, "A"},
      {"UTF-16 with a byte order mark",
       "TIT2",
       {1, 0xFF, 0xFE, 'H', 0, 0xE9, 0, 0, 0},
       "H\xC3\xA9"},
      {"UTF-8", "TIT2", {3, 0xC3, 0xA9, 't', 0xC3, 0xA9}, "\xC3\xA9t\xC3\xA9"},
      {"comment with a description",
       "COMM",
       {0, 'e', 'n', 'g', 'd', 0, 'T', 'e', 'x', 't'},
       "Text"},
      {"comment too short", "COMM", {0, 'e'}, ""},
      {"empty frame", "TIT2", {}, ""},
  };
  for (const auto& c : cases) {
    TMemoryStream m(ID3v23({{c.ID, c.Content}}));
    TID3v2 tag;
    ASSERT_TRUE(tag.ReadFromStream(m)) << c.What;
    const std::string got = c.ID == "TRCK"   ? std::to_string(tag.Track)
                            : c.ID == "TCON" ? tag.Genre
                            : c.ID == "COMM" ? tag.Comment
                                             : tag.Title;
    EXPECT_EQ(got, c.Want) << c.What;
  }
  // A longer text is cut at the frame text limit.
  TMemoryStream m(ID3v23({{"TIT2", Bytes(1000, 'a')}}));
  TID3v2 tag;
  ASSERT_TRUE(tag.ReadFromStream(m));
  EXPECT_EQ(tag.Title.size(), TID3v2::kMaxFrameText - 1);
}

TEST(ID3v2, SizesPastTheFile) {
  TID3v2 tag;
  TMemoryStream claim(ID3v23({{"TIT2", {0, 'X'}}}, 100000));
  ASSERT_TRUE(tag.ReadFromStream(claim));
  EXPECT_TRUE(tag.Exists);
  EXPECT_EQ(tag.Size, 0);
  EXPECT_EQ(tag.Title, "");
  TMemoryStream shortFile(Bytes{'I', 'D', '3'});
  EXPECT_FALSE(tag.ReadFromStream(shortFile));
  EXPECT_FALSE(tag.Exists);
  // Every prefix of a tagged file reads without failing.
  const Bytes whole = FixtureBytes("mp3_cbr128_tags.mp3");
  for (std::size_t n = 10; n < 400; ++n) {
    TMemoryStream m(Bytes(whole.begin(), whole.begin() + n));
    EXPECT_TRUE(tag.ReadFromStream(m)) << n;
  }
}

}  // namespace
}  // namespace kestrova
