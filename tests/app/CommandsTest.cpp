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

TEST_F(Commands, UsageAndBadArguments) {
  EXPECT_EQ(Run({}), 2);
  EXPECT_NE(err.str().find("Usage: kestrova"), std::string::npos);
  EXPECT_EQ(Run({"help"}), 0);
  EXPECT_NE(out.str().find("dump FILE.swf"), std::string::npos);
  EXPECT_EQ(Run({"rewrite", "a", "b", "--zip"}), 2);
}

}  // namespace
}  // namespace kestrova
