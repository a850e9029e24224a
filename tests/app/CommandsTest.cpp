#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/Commands.h"
#include "swfstreams/SWFStreams.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

// A small movie: background, two frames.
class TTestMovie : public TBasedSWFStream {
 public:
  using TBasedSWFStream::TBasedSWFStream;
  void MakeStream() override {
    TBitsEngine be(*FBody);
    TSWFSetBackgroundColor bg;
    bg.BackgroundColor().SetRGB(SWFRGB(1, 2, 3));
    bg.WriteToStream(be);
    TSWFShowFrame show;
    show.WriteToStream(be);
    show.WriteToStream(be);
    TSWFEnd end;
    end.WriteToStream(be);
    FrameCount = 2;
  }
};

class Commands : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kestrova-cmd-" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Path(const char* name) { return (dir / name).string(); }
  int Run(std::vector<std::string> args) {
    out.str("");
    err.str("");
    return RunCommandLine(args, out, err);
  }
  fs::path dir;
  std::ostringstream out, err;
};

TEST_F(Commands, DumpListsHeaderAndTags) {
  TTestMovie movie(0, 0, 550, 400, 12, true);
  movie.MakeStream();
  movie.SaveToFile(Path("m.swf"));
  ASSERT_EQ(Run({"dump", Path("m.swf")}), 0) << err.str();
  const std::string text = out.str();
  EXPECT_NE(text.find("Signature:   FWS (plain)"), std::string::npos) << text;
  EXPECT_NE(text.find("0,0 - 11000,8000 twips (550 x 400 pixels)"), std::string::npos) << text;
  EXPECT_NE(text.find("Frame rate:  12 fps"), std::string::npos) << text;
  EXPECT_NE(text.find("SetBackgroundColor"), std::string::npos) << text;
  EXPECT_NE(text.find("color=#010203"), std::string::npos) << text;
  EXPECT_NE(text.find("Tags:        4"), std::string::npos) << text;
}

TEST_F(Commands, DumpFailsWithOneLineOnBadInput) {
  EXPECT_EQ(Run({"dump", Path("missing.swf")}), 1);
  EXPECT_NE(err.str().find("missing.swf"), std::string::npos);
  // A plain file too short for its header is no SWF file.
  std::ofstream(Path("short.swf")) << "FWS\x05\x20\x00";
  EXPECT_EQ(Run({"dump", Path("short.swf")}), 1);
  EXPECT_NE(err.str().find("\"" + Path("short.swf") + "\" is not a SWF file"), std::string::npos)
      << err.str();
  std::ofstream(Path("zlib.swf")) << std::string("CWS\x06\x20\x00\x00\x00 not zlib data", 23);
  EXPECT_EQ(Run({"dump", Path("zlib.swf")}), 1);
  EXPECT_NE(err.str().find("cannot read \"" + Path("zlib.swf") + "\": zlib"), std::string::npos)
      << err.str();
  std::ofstream(Path("text.swf")) << "hello world";
  EXPECT_EQ(Run({"dump", Path("text.swf")}), 1);
  EXPECT_NE(err.str().find("is not a SWF file"), std::string::npos) << err.str();
  const std::string message = err.str();
  EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
}

TEST_F(Commands, RewriteKeepsOrChangesCompressionAndTheBody) {
  TTestMovie movie(0, 0, 100, 100, 12, true);
  movie.MakeStream();
  movie.SaveToFile(Path("in.swf"));
  ASSERT_EQ(Run({"rewrite", Path("in.swf"), Path("c.swf"), "--compress"}), 0) << err.str();
  ASSERT_EQ(Run({"rewrite", Path("c.swf"), Path("k.swf")}), 0) << err.str();
  ASSERT_EQ(Run({"rewrite", Path("k.swf"), Path("p.swf"), "--plain"}), 0) << err.str();
  TSWFStreamReader c(Path("c.swf")), k(Path("k.swf")), p(Path("p.swf"));
  EXPECT_TRUE(c.Compressed());
  EXPECT_TRUE(k.Compressed());  // kept from its input
  EXPECT_FALSE(p.Compressed());
  EXPECT_EQ(p.Body().Bytes(), movie.Body().Bytes());
  EXPECT_EQ(c.Body().Bytes(), movie.Body().Bytes());
  EXPECT_EQ(p.FrameCount, 2);
}

TEST_F(Commands, RewriteCopiesUnreadableAndUnknownTagsUnchanged) {
  // Code 3 has no class; a SetBackgroundColor with a 2-byte body at the end cannot be read.
  const std::vector<std::uint8_t> body = {0xC3, 0x00, 0x01, 0x02, 0x03, 0x40,
                                          0x00, 0x42, 0x02, 0xAA, 0xBB};
  TSWFStreamReader in;
  in.Body().Write(body.data(), body.size());
  in.FrameCount = 1;
  in.SaveToFile(Path("odd.swf"));
  ASSERT_EQ(Run({"rewrite", Path("odd.swf"), Path("odd2.swf")}), 0) << err.str();
  EXPECT_NE(err.str().find("1 tag(s)"), std::string::npos) << err.str();
  TSWFStreamReader back(Path("odd2.swf"));
  EXPECT_EQ(back.Body().Bytes(), body);
}

// Other tools frame even short bodies with the long header and hold fonts, texts, sounds and
// video: such a movie goes through rewrite with every tag's code and body unchanged.
TEST_F(Commands, RewriteOfAForeignStyleMovieKeepsEveryTag) {
  TSWFDefineFont2 font;
  font.FontId = 1;
  font.FontName = "Caf\xE9";
  TSWFDefineEditText edit;
  edit.CharacterId = 2;
  edit.HasFont = true;
  edit.FontId = 1;
  edit.FontHeight = 240;
  edit.HasText = true;
  edit.InitialText = "hello";
  edit.VariableName = "v";
  TSWFDefineSound sound;
  sound.SoundId = 3;
  sound.SoundFormat = 3;
  sound.SoundRate = 1;
  sound.SoundSampleCount = 4;
  sound.Data = {1, 2, 3, 4, 5, 6, 7, 8};
  TSWFStartSound start;
  start.SoundId = 3;
  TSWFSoundStreamHead2 head;
  head.StreamSoundCompression = 1;
  head.StreamSoundSampleCount = 512;
  TSWFSoundStreamBlock block;
  block.Data = std::vector<std::uint8_t>(40, 0x5A);
  TSWFDefineVideoStream video;
  video.CharacterId = 4;
  video.NumFrames = 1;
  video.Width = 32;
  video.Height = 16;
  video.CodecID = 3;
  TSWFVideoFrame frame;
  frame.StreamId = 4;
  frame.Data = {9, 9, 9};
  TSWFShowFrame show;
  TSWFEnd end;

  TSWFStreamReader in;
  in.SetVersion(7);
  in.FrameSize = {0, 0, 2000, 2000};
  in.FrameCount = 1;
  std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> expected;
  for (TSWFObject* tag : std::initializer_list<TSWFObject*>{&font, &edit, &sound, &start, &head,
                                                            &block, &video, &frame, &show, &end}) {
    TMemoryStream body;
    TBitsEngine be(body);
    tag->WriteTagBody(be);
    be.FlushLastByte();
    const std::uint32_t size = static_cast<std::uint32_t>(body.Size());
    const std::uint8_t header[6] = {static_cast<std::uint8_t>((tag->TagID << 6) | 0x3F),
                                    static_cast<std::uint8_t>(tag->TagID >> 2),
                                    static_cast<std::uint8_t>(size),
                                    0,
                                    0,
                                    0};
    in.Body().Write(header, 6);
    in.Body().Write(body.Data(), size);
    expected.emplace_back(tag->TagID, body.Bytes());
  }
  in.SaveToFile(Path("foreign.swf"));
  ASSERT_EQ(Run({"rewrite", Path("foreign.swf"), Path("ours.swf"), "--compress"}), 0) << err.str();
  EXPECT_EQ(err.str(), "");

  TSWFStreamReader out(Path("ours.swf"));
  ASSERT_TRUE(out.IsValid);
  EXPECT_TRUE(out.Compressed());
  EXPECT_EQ(out.Version(), 7);
  out.ParseTags(false);
  ASSERT_EQ(out.TagList.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const TSWFTagInfo& info = out.GetTagInfo(i);
    EXPECT_EQ(info.TagID, expected[i].first) << i;
    const auto& body = out.Body().Bytes();
    const std::size_t start = info.Position + (info.LongHeader ? 6 : 2);
    EXPECT_EQ(std::vector<std::uint8_t>(body.begin() + start, body.begin() + start + info.Length),
              expected[i].second)
        << TagName(static_cast<std::uint16_t>(info.TagID));
  }
}

// Writes a plain file of the given body bytes (header: empty frame, one frame).
void WritePlain(const std::string& name, const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> file = {'F', 'W', 'S', 5, 0, 0, 0, 0, 0x00, 0x00, 0x0C, 0x01, 0x00};
  file.insert(file.end(), body.begin(), body.end());
  file[4] = static_cast<std::uint8_t>(file.size());
  std::ofstream(name, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

TEST_F(Commands, StoredCode240IsAnUnknownTagForDumpAndRewrite) {
  // The 19-byte file that once crashed rewrite: a tag of code 240, ShowFrame, End.
  const std::vector<std::uint8_t> body = {0x00, 0x3C, 0x40, 0x00, 0x00, 0x00};
  WritePlain(Path("240.swf"), body);
  ASSERT_EQ(fs::file_size(Path("240.swf")), 19u);
  ASSERT_EQ(Run({"dump", Path("240.swf")}), 0) << err.str();
  EXPECT_NE(out.str().find("240 Unknown"), std::string::npos) << out.str();
  EXPECT_EQ(out.str().find("ErrorTag"), std::string::npos) << out.str();
  ASSERT_EQ(Run({"rewrite", Path("240.swf"), Path("240b.swf")}), 0) << err.str();
  EXPECT_EQ(TSWFStreamReader(Path("240b.swf")).Body().Bytes(), body);
}

TEST_F(Commands, DumpNamesTheStoredCodeOfAnUnreadableTag) {
  WritePlain(Path("bad.swf"), {0x41, 0x02, 0x99 /* SetBackgroundColor, 1 byte */, 0x00, 0x00});
  ASSERT_EQ(Run({"dump", Path("bad.swf")}), 0) << err.str();
  EXPECT_NE(out.str().find("9 SetBackgroundColor"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("error=\"Stream read error\""), std::string::npos) << out.str();
}

TEST_F(Commands, RewriteNeverWritesThroughAPlantedLink) {
  TTestMovie movie(0, 0, 100, 100, 12, true);
  movie.MakeStream();
  movie.SaveToFile(Path("in.swf"));
  std::ofstream(Path("victim.txt")) << "precious";
  fs::create_symlink(Path("victim.txt"), Path("out.swf.part"));
  ASSERT_EQ(Run({"rewrite", Path("in.swf"), Path("out.swf")}), 0) << err.str();
  std::ifstream victim(Path("victim.txt"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(victim), {}), "precious");
  EXPECT_FALSE(fs::is_symlink(Path("out.swf")));
  // Errors name the output, not a working file.
  EXPECT_EQ(Run({"rewrite", Path("in.swf"), Path("no-such-folder/out.swf")}), 1);
  EXPECT_NE(err.str().find("\"" + Path("no-such-folder/out.swf") + "\""), std::string::npos)
      << err.str();
}

TEST_F(Commands, StringsOfAVersion5MovieBecomeUtf8WhenRewrittenAsVersion6) {
  // FrameLabel "Caf\xE9" and a DoAction pushing "\xE9t\xE9", in Windows-1252 as version 5 holds.
  const std::vector<std::uint8_t> label = {'C', 'a', 'f', 0xE9, 0x00};
  const std::vector<std::uint8_t> push = {0x96, 0x05, 0x00, 0x00, 0xE9, 't', 0xE9, 0x00, 0x00};
  std::vector<std::uint8_t> body;
  auto add = [&body](std::uint16_t code, const std::vector<std::uint8_t>& b) {
    body.push_back(static_cast<std::uint8_t>((code << 6) | b.size()));
    body.push_back(static_cast<std::uint8_t>(code >> 2));
    body.insert(body.end(), b.begin(), b.end());
  };
  add(43, label);
  add(12, push);
  add(1, {});
  add(0, {});
  WritePlain(Path("v5.swf"), body);
  ASSERT_EQ(Run({"dump", Path("v5.swf")}), 0) << err.str();
  EXPECT_NE(out.str().find("Caf\xC3\xA9"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("\xC3\xA9t\xC3\xA9"), std::string::npos) << out.str();

  ASSERT_EQ(Run({"rewrite", Path("v5.swf"), Path("v6.swf"), "--compress"}), 0) << err.str();
  TSWFStreamReader v6(Path("v6.swf"));
  EXPECT_EQ(v6.Version(), 6);
  const std::vector<std::uint8_t> got = v6.Body().Bytes();
  const std::string text(got.begin(), got.end());
  EXPECT_NE(text.find("Caf\xC3\xA9"), std::string::npos);
  EXPECT_NE(text.find("\xC3\xA9t\xC3\xA9"), std::string::npos);
  EXPECT_EQ(text.find("Caf\xE9"), std::string::npos);
  // Kept at version 5, nothing is converted.
  ASSERT_EQ(Run({"rewrite", Path("v5.swf"), Path("v5b.swf")}), 0) << err.str();
  EXPECT_EQ(TSWFStreamReader(Path("v5b.swf")).Body().Bytes(), body);
}

TEST_F(Commands, UsageAndBadArguments) {
  EXPECT_EQ(Run({"nosuch"}), 2);
  EXPECT_NE(err.str().find("Usage: kestrova"), std::string::npos);
  EXPECT_EQ(Run({"help"}), 0);
  EXPECT_NE(out.str().find("dump FILE.swf"), std::string::npos);
  EXPECT_EQ(Run({"rewrite", "a", "b", "--zip"}), 2);
}

}  // namespace
}  // namespace kestrova
