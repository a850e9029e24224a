// kestrova slideshow and kestrova join, read back with the project's reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "app/Commands.h"
#include "swfstreams/SWFStreams.h"
#include "swftools/Stream.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

std::string Fixture(const char* name) {
  return std::string(KESTROVA_TEST_DATA) + "/media/" + name;
}

class BuilderCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kestrova-builder-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Path(const std::string& name) { return (dir / name).string(); }
  int Run(std::vector<std::string> args) {
    out.str("");
    err.str("");
    return RunCommandLine(args, out, err);
  }
  std::set<std::string> Files() {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
  }
  std::unique_ptr<TSWFStreamReader> Read(const std::string& name) {
    auto reader = std::make_unique<TSWFStreamReader>(Path(name));
    EXPECT_TRUE(reader->IsValid);
    reader->ParseTags(true, true);
    return reader;
  }
  fs::path dir;
  std::ostringstream out, err;
};

template <class T>
std::vector<const T*> TagsOf(const TSWFStreamReader& reader) {
  std::vector<const T*> tags;
  for (const auto& info : reader.TagList) {
    if (auto* t = dynamic_cast<const T*>(info->SWFObject.get())) tags.push_back(t);
  }
  return tags;
}

TEST_F(BuilderCommands, SlideshowCentresEachPictureOnTheLargestStage) {
  ASSERT_EQ(
      Run({"slideshow", Path("show.swf"), Fixture("bmp8.bmp"), Fixture("jpeg_baseline_640x480.jpg"),
           Fixture("bmp24.bmp"), "--fps", "4", "--seconds-each", "1.5", "--background", "#336699",
           "--audio", Fixture("wav_pcm16_stereo_44100.wav")}),
      0)
      << err.str();
  EXPECT_NE(err.str().find("slideshow: 100% (3/3)"), std::string::npos) << "progress";
  const auto reader = Read("show.swf");
  EXPECT_TRUE(reader->Compressed());
  EXPECT_EQ(reader->FrameSize, (TRect{0, 0, 640 * 20, 480 * 20}));
  EXPECT_EQ(reader->FPS, 4 << 8);
  EXPECT_EQ(reader->FrameCount, 18);  // 6 frames each
  const auto background = TagsOf<TSWFSetBackgroundColor>(*reader);
  ASSERT_EQ(background.size(), 1u);
  EXPECT_EQ(background[0]->BackgroundColor().GetRec(), (TSWFRGBRec{0x33, 0x66, 0x99}));
  const auto places = TagsOf<TSWFPlaceObject2>(*reader);
  ASSERT_EQ(places.size(), 3u);
  const std::int32_t expected[3][2] = {{311, 235}, {0, 0}, {311, 235}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(places[i]->Depth, 1);
    const TSWFMatrix* m = places[i]->MatrixIfAny();
    EXPECT_EQ(m ? m->TranslateX : 0, expected[i][0] * 20) << i;
    EXPECT_EQ(m ? m->TranslateY : 0, expected[i][1] * 20) << i;
  }
  EXPECT_EQ(TagsOf<TSWFDefineBitsJPEG2>(*reader).size(), 1u);
  EXPECT_EQ(TagsOf<TSWFDefineBitsLossless>(*reader).size(), 2u);
  EXPECT_EQ(TagsOf<TSWFRemoveObject2>(*reader).size(), 3u);
  // The sound is defined and started before the first frame ends.
  const auto sounds = TagsOf<TSWFDefineSound>(*reader);
  ASSERT_EQ(sounds.size(), 1u);
  EXPECT_EQ(sounds[0]->SoundFormat, 3);
  EXPECT_EQ(sounds[0]->SoundRate, 3);
  EXPECT_TRUE(sounds[0]->SoundSize);
  EXPECT_TRUE(sounds[0]->SoundType);
  EXPECT_GT(sounds[0]->SoundSampleCount, 0u);
  EXPECT_EQ(sounds[0]->Data.size(), sounds[0]->SoundSampleCount * 4);
  bool started = false;
  for (const auto& info : reader->TagList) {
    if (auto* s = dynamic_cast<const TSWFStartSound*>(info->SWFObject.get())) {
      EXPECT_EQ(s->SoundId, sounds[0]->SoundId);
      EXPECT_EQ(info->FrameNum, 1);
      started = true;
    }
  }
  EXPECT_TRUE(started);
  EXPECT_EQ(Files(), (std::set<std::string>{"show.swf", "show.html"}));
}

TEST_F(BuilderCommands, SlideshowOfAnMP3SoundKeepsItsFrames) {
  ASSERT_EQ(Run({"slideshow", Path("mp3.swf"), Fixture("bmp24.bmp"), "--audio",
                 Fixture("mp3_cbr128_tags.mp3")}),
            0)
      << err.str();
  const auto reader = Read("mp3.swf");
  const auto sounds = TagsOf<TSWFDefineSound>(*reader);
  ASSERT_EQ(sounds.size(), 1u);
  EXPECT_EQ(sounds[0]->SoundFormat, 2);
  ASSERT_GE(sounds[0]->Data.size(), 2u);
  EXPECT_EQ(sounds[0]->Data[0], 0xFF) << "the data starts with an MPEG frame, not a tag";
}

TEST_F(BuilderCommands, BadInputStopsWithOneLineAndNoOutput) {
  {
    std::ofstream(Path("text.bmp")) << "this is not a picture";
    const auto bytes = ReadFileBytes(Fixture("bmp24.bmp"));
    std::ofstream(Path("cut.bmp"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size() - 20));
    std::ofstream(Path("in.swf"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), 3);
  }
  const std::string bmp = Fixture("bmp24.bmp");
  struct TCase {
    std::vector<std::string> Args;
    std::string Names;  // what the error line must name
  };
  const TCase cases[] = {
      {{"slideshow", Path("o.swf"), bmp, Path("missing.bmp")}, "missing.bmp"},
      {{"slideshow", Path("o.swf"), bmp, Path("text.bmp")}, "text.bmp"},
      {{"slideshow", Path("o.swf"), bmp, Path("cut.bmp")}, "cut.bmp"},
      {{"slideshow", Path("o.swf"), Fixture("jpeg_progressive.jpg")}, "jpeg_progressive.jpg"},
      {{"slideshow", Path("o.swf"), bmp, "--audio", Fixture("not_sound.ogg")}, "not_sound.ogg"},
      {{"slideshow", Path("o.swf"), bmp, "--audio", Fixture("wav_data_overrun.wav")},
       "wav_data_overrun.wav"},
      {{"slideshow", Path("o.swf"), bmp, "--audio", Fixture("wav_pcm8_mono_11025.wav"), "--audio",
        Path("missing.wav")},
       "missing.wav"},
      // The working file beside the output is the program's business: the output is named.
      {{"slideshow", Path("no/such/dir/o.swf"), bmp}, "no/such/dir/o.swf\": cannot be written ("},
      {{"join", Path("o.swf"), Path("missing.swf")}, "missing.swf"},
      {{"join", Path("o.swf"), bmp}, "bmp24.bmp"},
      {{"join", Path("o.swf"), Path("in.swf")}, "in.swf"},
      {{"join", Path("o.swf"), Path("good.swf"), Path("cws.swf")}, "cws.swf"},
      {{"join", Path("o.swf"), Path("good.swf"), Path("cutbody.swf")}, "cutbody.swf"},
      {{"join", Path("no/such/dir/o.swf"), Path("good.swf")},
       "no/such/dir/o.swf\": cannot be written ("},
  };
  ASSERT_EQ(Run({"slideshow", Path("good.swf"), bmp}), 0);
  {
    // A compressed header whose zlib data is damaged, and a compressed movie cut in its body.
    std::ofstream(Path("cws.swf"), std::ios::binary) << "CWS\x06\x40\x00\x00\x00garbage";
    const auto good = ReadFileBytes(Path("good.swf"));
    std::ofstream(Path("cutbody.swf"), std::ios::binary)
        .write(reinterpret_cast<const char*>(good.data()), std::streamsize(good.size() - 30));
  }
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Args));
    EXPECT_EQ(Run(c.Args), 1);
    const std::string e = err.str();
    const std::string last = e.substr(e.rfind('\n', e.size() - 2) + 1);
    EXPECT_EQ(last.rfind("kestrova " + c.Args[0] + ": ", 0), 0u) << e;
    EXPECT_NE(last.find(c.Names), std::string::npos) << e;
    EXPECT_EQ(out.str(), "");
    EXPECT_FALSE(Files().count("o.swf"));
  }
  EXPECT_EQ(Files(), (std::set<std::string>{"good.swf", "good.html", "text.bmp", "cut.bmp",
                                            "in.swf", "cws.swf", "cutbody.swf"}));
  // A page that cannot be written takes its movie with it.
  fs::create_directories(Path("blocked.html"));
  EXPECT_EQ(Run({"slideshow", Path("blocked.swf"), bmp}), 1);
  EXPECT_NE(err.str().find("blocked.html"), std::string::npos) << err.str();
  EXPECT_FALSE(Files().count("blocked.swf"));
}

// The movie and its page are replaced together or not at all: when the page cannot be written,
// the movie and the page already there are as they were.
TEST_F(BuilderCommands, APageThatCannotBeWrittenLeavesTheOldMovieAndPage) {
  const std::string bmp = Fixture("bmp24.bmp");
  ASSERT_EQ(Run({"slideshow", Path("in.swf"), bmp}), 0);
  struct {
    std::vector<std::string> Args;
    bool Folder;
  } rows[] = {
      {{"slideshow", Path("out.swf"), bmp}, false},
      {{"slideshow", Path("out.swf"), bmp}, true},
      {{"join", Path("out.swf"), Path("in.swf")}, false},
      {{"join", Path("out.swf"), Path("in.swf")}, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.Args[0] + (r.Folder ? " with a folder as the page" : " with a read-only page"));
    fs::remove_all(Path("out.html"));
    std::ofstream(Path("out.swf")) << "old movie";
    if (r.Folder) {
      fs::create_directories(Path("out.html"));
    } else {
      std::ofstream(Path("out.html")) << "old page";
      fs::permissions(Path("out.html"), fs::perms::owner_read);
      if (::geteuid() == 0) continue;  // root writes anyway
    }
    EXPECT_EQ(Run(r.Args), 1);
    EXPECT_NE(err.str().find("out.html"), std::string::npos) << err.str();
    std::ifstream movie(Path("out.swf"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(movie), {}), "old movie");
    if (!r.Folder) {
      std::ifstream page(Path("out.html"));
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(page), {}), "old page");
    }
    EXPECT_EQ(Files(), (std::set<std::string>{"in.swf", "in.html", "out.swf", "out.html"}));
  }
}

// An output named like its own page would be overwritten by it: refused, naming both.
TEST_F(BuilderCommands, AMovieNamedLikeItsPageIsRefused) {
  const std::string bmp = Fixture("bmp24.bmp");
  ASSERT_EQ(Run({"slideshow", Path("in.swf"), bmp}), 0);
  for (const auto& args : {std::vector<std::string>{"slideshow", Path("out.html"), bmp},
                           std::vector<std::string>{"join", Path("out.html"), Path("in.swf")}}) {
    EXPECT_EQ(Run(args), 1) << args[0];
    const std::string e = err.str();
    const std::size_t first = e.find(Path("out.html"));
    ASSERT_NE(first, std::string::npos) << e;
    EXPECT_NE(e.find(Path("out.html"), first + 1), std::string::npos) << e;
    EXPECT_FALSE(Files().count("out.html"));
  }
}

// A link planted where the streamed body goes is never written through.
TEST_F(BuilderCommands, APlantedLinkBesideTheOutputIsNotFollowed) {
  const std::string bmp = Fixture("bmp24.bmp");
  ASSERT_EQ(Run({"slideshow", Path("in.swf"), bmp}), 0);
  std::ofstream(Path("precious.txt")) << "keep me";
  fs::create_symlink(Path("precious.txt"), Path("out.swf.body.part"));
  for (const auto& args : {std::vector<std::string>{"slideshow", Path("out.swf"), bmp},
                           std::vector<std::string>{"join", Path("out.swf"), Path("in.swf")}}) {
    EXPECT_EQ(Run(args), 1) << args[0];
    EXPECT_NE(err.str().find("out.swf.body.part"), std::string::npos) << err.str();
    std::ifstream target(Path("precious.txt"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(target), {}), "keep me");
    EXPECT_TRUE(fs::is_symlink(Path("out.swf.body.part")));
    EXPECT_FALSE(Files().count("out.swf"));
  }
}

// Every cut of an uncompressed movie is refused with the file, the offset and the reason.
TEST_F(BuilderCommands, JoinRefusesEveryCutOfAPlainMovie) {
  ASSERT_EQ(Run({"slideshow", Path("packed.swf"), Fixture("bmp8.bmp"), "--seconds-each", "0.25"}),
            0);
  ASSERT_EQ(Run({"rewrite", Path("packed.swf"), Path("plain.swf"), "--plain"}), 0) << err.str();
  const auto bytes = ReadFileBytes(Path("plain.swf"));
  ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + 3), "FWS");
  for (std::size_t cut = 8; cut < bytes.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    std::ofstream(Path("cut.swf"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(cut));
    EXPECT_EQ(Run({"join", Path("o.swf"), Path("plain.swf"), Path("cut.swf")}), 1);
    const std::string e = err.str();
    EXPECT_NE(e.find("kestrova join: \"" + Path("cut.swf") + "\": "), std::string::npos) << e;
    EXPECT_NE(e.find("offset"), std::string::npos) << e;
    EXPECT_FALSE(Files().count("o.swf"));
  }
  EXPECT_EQ(Run({"join", Path("o.swf"), Path("plain.swf"), Path("plain.swf")}), 0) << err.str();
}

// Past 65535 frames a join goes on in a further movie; a slideshow that long is refused.
TEST_F(BuilderCommands, NoMovieCountsMoreThan65535Frames) {
  ASSERT_EQ(Run({"slideshow", Path("long.swf"), Fixture("bmp8.bmp"), "--fps", "250",
                 "--seconds-each", "160"}),
            0)
      << err.str();
  ASSERT_EQ(Read("long.swf")->FrameCount, 40000);
  ASSERT_EQ(Run({"join", Path("twice.swf"), Path("long.swf"), Path("long.swf")}), 0) << err.str();
  EXPECT_EQ(Read("twice.swf")->FrameCount, 40000);
  EXPECT_EQ(Read("twice-2.swf")->FrameCount, 40000);
  EXPECT_NE(err.str().find("twice-2.swf"), std::string::npos) << err.str();
  const std::string bmp = Fixture("bmp8.bmp");
  EXPECT_EQ(Run({"slideshow", Path("show.swf"), bmp, bmp, "--fps", "250", "--seconds-each", "160"}),
            1);
  EXPECT_NE(err.str().find("65535"), std::string::npos) << err.str();
  EXPECT_FALSE(Files().count("show.swf"));
}

TEST_F(BuilderCommands, JoinPlaysEachMovieAsASpriteForItsOwnFrames) {
  const std::string bmp = Fixture("bmp8.bmp");
  ASSERT_EQ(Run({"slideshow", Path("a.swf"), bmp, bmp, "--fps", "12", "--seconds-each", "0.25"}),
            0);
  ASSERT_EQ(Run({"slideshow", Path("b.swf"), Fixture("jpeg_baseline_640x480.jpg"), "--fps", "6",
                 "--seconds-each", "1"}),
            0);
  ASSERT_EQ(Run({"slideshow", Path("c.swf"), Fixture("bmp24.bmp"), "--fps", "12", "--seconds-each",
                 "0.1"}),
            0);
  ASSERT_EQ(Run({"join", Path("joined.swf"), Path("a.swf"), Path("b.swf"), Path("c.swf"),
                 "--web-player", "ruffle/ruffle.js"}),
            0)
      << err.str();
  const auto page = ReadFileBytes(Path("joined.html"));
  const std::string html(page.begin(), page.end());
  EXPECT_NE(html.find("joined.swf"), std::string::npos);
  EXPECT_NE(html.find("ruffle/ruffle.js"), std::string::npos);
  EXPECT_NE(html.find("640"), std::string::npos);
  EXPECT_NE(err.str().find("b.swf runs at 6 fps"), std::string::npos) << err.str();
  const auto reader = Read("joined.swf");
  EXPECT_EQ(reader->FrameSize, (TRect{0, 0, 640 * 20, 480 * 20}));
  EXPECT_EQ(reader->FPS, 12 << 8);
  EXPECT_EQ(reader->FrameCount, 6 + 6 + 1);
  const auto sprites = TagsOf<TSWFDefineSprite>(*reader);
  ASSERT_EQ(sprites.size(), 3u);
  const int frames[] = {6, 6, 1};
  std::set<std::uint16_t> defined;
  std::vector<std::uint16_t*> ids;
  for (const auto& info : reader->TagList) {
    if (!info->SWFObject) continue;
    ids.clear();
    info->SWFObject->ReferencedCharacterIDs(ids);
    for (const std::uint16_t* id : ids) EXPECT_TRUE(defined.count(*id)) << "undefined " << *id;
    ids.clear();
    info->SWFObject->DefinedCharacterIDs(ids);
    for (const std::uint16_t* id : ids) EXPECT_TRUE(defined.insert(*id).second) << "twice " << *id;
  }
  const auto places = TagsOf<TSWFPlaceObject2>(*reader);
  ASSERT_EQ(places.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(sprites[i]->FrameCount, frames[i]);
    EXPECT_EQ(places[i]->CharacterId(), sprites[i]->SpriteId);
    EXPECT_EQ(places[i]->Depth, i + 1);
  }
}

TEST_F(BuilderCommands, UsageErrors) {
  EXPECT_EQ(Run({"slideshow", Path("o.swf")}), 2);
  EXPECT_EQ(Run({"slideshow", Path("o.swf"), "x.bmp", "--fps", "0"}), 2);
  EXPECT_EQ(Run({"slideshow", Path("o.swf"), "x.bmp", "--background", "blue"}), 2);
  EXPECT_EQ(Run({"slideshow", Path("o.swf"), "x.bmp", "--seconds-each"}), 2);
  EXPECT_EQ(Run({"join", Path("o.swf")}), 2);
  EXPECT_EQ(Run({"join", Path("o.swf"), "a.swf", "--zip"}), 2);
  EXPECT_NE(err.str().find("unknown option \"--zip\""), std::string::npos);
  EXPECT_TRUE(Files().empty());
}

}  // namespace
}  // namespace kestrova
