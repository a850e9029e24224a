// Exports carry the movie's sound, at the frames it starts on, and the GIF export streams.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/Commands.h"
#include "tests/player/MovieMaker.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using namespace test;

constexpr int kFps = 12;
constexpr int kFrames = 36;  // 3 s

bool HaveFfmpeg() {
  return std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") ==
         0;
}

// A tone as 16-bit mono samples.
std::vector<std::int16_t> Tone(double hz, int rate, double seconds) {
  std::vector<std::int16_t> s(static_cast<std::size_t>(rate * seconds));
  for (std::size_t i = 0; i < s.size(); ++i) {
    s[i] = static_cast<std::int16_t>(12000 * std::sin(2 * M_PI * hz * double(i) / rate));
  }
  return s;
}

Bytes LittleEndian(const std::vector<std::int16_t>& samples) {
  Bytes b;
  for (std::int16_t v : samples) {
    b.push_back(std::uint8_t(v & 0xFF));
    b.push_back(std::uint8_t((v >> 8) & 0xFF));
  }
  return b;
}

// A movie of kFrames frames of one picture, with sound added by the case.
Bytes MovieWithSound(const std::function<void(TTestMovie&, int frame)>& soundAt) {
  TTestMovie movie(8, 6, kFps);
  movie.Add(Bitmap24(1, 8, 6, std::vector<std::uint32_t>(48, 0x336699)));
  movie.Add(RectShape(2, 0, 0, 160, 120, ImageFill(1, 0x41, PixelScale())));
  movie.Add(Place(1, 2));
  for (int f = 0; f < kFrames; ++f) {
    soundAt(movie, f);
    movie.ShowFrame();
  }
  return movie.Save();
}

// A 1000 Hz tone of 1 s as an uncompressed event sound at 22050 Hz, started on frame 7 (0.5 s).
void EventSound(TTestMovie& m, int frame) {
  if (frame != 6) return;
  auto def = std::make_unique<TSWFDefineSound>();
  def->SoundId = 10;
  def->SoundFormat = 3;
  def->SoundRate = 2;
  def->SoundSize = true;
  const auto tone = Tone(1000, 22050, 1.0);
  def->SoundSampleCount = static_cast<std::uint32_t>(tone.size());
  def->Data = LittleEndian(tone);
  m.Add(std::move(def));
  auto start = std::make_unique<TSWFStartSound>();
  start->SoundId = 10;
  m.Add(std::move(start));
}

// The same tone as a stream: a head on the first frame, one block per frame from frame 7 to 18.
void StreamSound(TTestMovie& m, int frame) {
  if (frame == 0) {
    auto head = std::make_unique<TSWFSoundStreamHead>();
    head->PlaybackSoundRate = head->StreamSoundRate = 3;
    head->PlaybackSoundSize = head->StreamSoundSize = true;
    head->StreamSoundCompression = 3;
    head->StreamSoundSampleCount = 44100 / kFps;
    m.Add(std::move(head));
  }
  if (frame < 6 || frame >= 18) return;
  static const auto tone = Tone(1000, 44100, 1.0);
  const std::size_t per = 44100 / kFps;
  auto block = std::make_unique<TSWFSoundStreamBlock>();
  block->StreamSoundCompression = 3;
  block->Data = LittleEndian(
      std::vector<std::int16_t>(tone.begin() + static_cast<std::ptrdiff_t>((frame - 6) * per),
                                tone.begin() + static_cast<std::ptrdiff_t>((frame - 5) * per)));
  m.Add(std::move(block));
}

// Where the sound is loud enough to hear, and the tone's frequency measured there.
struct THeard {
  double Start = -1, End = -1, Hz = 0, Seconds = 0;
};

THeard Listen(const std::string& video, const std::string& raw) {
  const std::string command =
      "ffmpeg -v error -y -i '" + video + "' -map 0:a -f s16le -ac 1 -ar 44100 '" + raw + "'";
  THeard h;
  if (std::system(command.c_str()) != 0) return h;
  std::ifstream in(raw, std::ios::binary);
  std::vector<std::int16_t> s;
  char b[2];
  while (in.read(b, 2)) s.push_back(static_cast<std::int16_t>((b[0] & 0xFF) | (b[1] << 8)));
  h.Seconds = s.size() / 44100.0;
  std::size_t first = s.size(), last = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (std::abs(s[i]) > 3000) {
      first = std::min(first, i);
      last = i;
    }
  }
  if (first >= last) return h;
  h.Start = first / 44100.0;
  h.End = last / 44100.0;
  // Rising zero crossings over the middle half of the tone.
  const std::size_t a = first + (last - first) / 4, z = last - (last - first) / 4;
  int crossings = 0;
  for (std::size_t i = a + 1; i < z; ++i) crossings += s[i - 1] < 0 && s[i] >= 0;
  h.Hz = crossings / (double(z - a) / 44100.0);
  return h;
}

class ExportSound : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kestrova-sound-" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Path(const std::string& name) { return (dir / name).string(); }
  std::string Save(const std::string& name, const Bytes& bytes) {
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return Path(name);
  }
  int Run(const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    return RunCommandLine(args, out, err);
  }
  fs::path dir;
  std::ostringstream out, err;
};

TEST_F(ExportSound, ATonesStartLengthAndFrequencyComeThrough) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed, so nothing can be exported";
  struct TCase {
    const char* Name;
    std::function<void(TTestMovie&, int)> Sound;
    const char* Output;
  } cases[] = {
      {"event sound in MP4", EventSound, "event.mp4"},
      {"stream sound in MP4", StreamSound, "stream.mp4"},
      {"event sound in WebM", EventSound, "event.webm"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string movie = Save("movie.swf", MovieWithSound(c.Sound));
    ASSERT_EQ(Run({"export", movie, Path(c.Output)}), 0) << err.str();
    EXPECT_NE(out.str().find("with sound"), std::string::npos) << out.str();
    EXPECT_EQ(err.str().find("sound is not played"), std::string::npos) << err.str();
    const THeard h = Listen(Path(c.Output), Path("back.raw"));
    // The track lasts the movie (the encoders' priming may add a few milliseconds).
    EXPECT_NEAR(h.Seconds, 3.0, 0.08);
    EXPECT_NEAR(h.Start, 0.5, 0.03);
    EXPECT_NEAR(h.End, 1.5, 0.03);
    EXPECT_NEAR(h.Hz, 1000, 10);
  }
}

TEST_F(ExportSound, ASlideshowsMp3ComesThroughAndASilentMovieHasNoTrack) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed, so nothing can be exported";
  const std::string mp3 = Path("tone.mp3");
  if (std::system(("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=2:sample_rate=44100"
                   " -af volume=8 -c:a libmp3lame '" +
                   mp3 + "'")
                      .c_str()) != 0) {
    GTEST_SKIP() << "this ffmpeg writes no MP3";
  }
  const std::string bmp = Path("slide.bmp");
  ASSERT_EQ(
      std::system(
          ("ffmpeg -v error -y -f lavfi -i color=c=red:s=16x16 -frames:v 1 '" + bmp + "'").c_str()),
      0);
  ASSERT_EQ(Run({"slideshow", Path("show.swf"), bmp, "--seconds-each", "3", "--audio", mp3}), 0)
      << err.str();
  ASSERT_EQ(Run({"export", Path("show.swf"), Path("show.mp4")}), 0) << err.str();
  const THeard h = Listen(Path("show.mp4"), Path("back.raw"));
  EXPECT_NEAR(h.Seconds, 3.0, 0.08);
  // MP3's encoder delay shifts the start by a few milliseconds.
  EXPECT_NEAR(h.Start, 0.0, 0.06);
  EXPECT_NEAR(h.End, 2.0, 0.06);
  EXPECT_NEAR(h.Hz, 440, 8);

  const std::string silent = Save("silent.swf", MovieWithSound([](TTestMovie&, int) {}));
  ASSERT_EQ(Run({"export", silent, Path("silent.mp4")}), 0) << err.str();
  EXPECT_EQ(
      std::system(("ffprobe -v error -select_streams a -show_entries stream=index -of csv=p=0 '" +
                   Path("silent.mp4") + "' | grep -q .")
                      .c_str()),
      256);
}

}  // namespace
}  // namespace kestrova
