// The output files: names, the page, the log, and joining segments made by the program's own
// segment movies.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/Palette.h"
#include "recorder/CaptureLog.h"
#include "recorder/FlashSegmentMovie.h"
#include "recorder/Output.h"
#include "swfstreams/SWFStreams.h"
#include "tests/recorder/RecorderHarness.h"

namespace kestrova::test {
namespace {

TEST(OutputNames, PartNames) {
  struct {
    const char* Output;
    const char* Part2;
  } rows[] = {
      {"/d/demo/run.swf", "/d/demo/run-2.swf"},
      {"/d/demo/run.abc", "/d/demo/run-2.abc"},
      {"run.swf", "run-2.swf"},
      {"/d/v1.2/movie", "/d/v1.2/movie-2"},
      {"/d/ spaced name.swf ", "/d/ spaced name-2.swf "},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(PartFileName(r.Output, 1), r.Output);
    EXPECT_EQ(PartFileName(r.Output, 2), r.Part2) << r.Output;
  }
}

TEST(CaptureLog, StringValuesOfTheComponentFormat) {
  EXPECT_EQ(EncodeLogValue("ab"), (std::vector<std::uint8_t>{6, 2, 'a', 'b'}));
  const std::vector<std::uint8_t> long_ = EncodeLogValue(std::string(300, 'x'));
  EXPECT_EQ(std::vector<std::uint8_t>(long_.begin(), long_.begin() + 5),
            (std::vector<std::uint8_t>{12, 0x2C, 0x01, 0, 0}));
  EXPECT_EQ(long_.size(), 305u);
  EXPECT_EQ(EncodeLogValue("\xC3\xA9"), (std::vector<std::uint8_t>{20, 2, 0, 0, 0, 0xC3, 0xA9}));
}

class OutputJoin : public TempHome {
 protected:
  // A segment file of the program's own kind: one full picture, then frames.
  std::string Segment(int number, std::uint16_t frames, std::uint8_t colour) {
    auto movie = FlashSegmentMovieFactory()(40, 30);
    TDIBitmap picture;
    picture.Allocate(40, 30, 8);
    std::fill(picture.Bits.begin(), picture.Bits.end(), colour);
    movie->RemoveObject(0);
    movie->PlaceObject(movie->AddPicture(picture), 0, 0, 1);
    movie->ShowFrame(frames);
    const std::string name = Dir + "/capture" + std::to_string(number) + ".swf";
    movie->SaveToFile(name);
    return name;
  }
};

TEST_F(OutputJoin, ThreeSegmentsOf40And120And7FramesPlayInOrderAtDepths1To3) {
  const std::vector<TSegmentInput> inputs{
      {Segment(1, 40, 10), std::nullopt}, {Segment(2, 120, 20), 120}, {Segment(3, 7, 30), 7}};
  const TOutputResult r = WriteOutputFiles(inputs, 40, 30, Dir + "/out.swf");
  EXPECT_EQ(r.Movies, std::vector<std::string>{Dir + "/out.swf"});
  EXPECT_EQ(r.Frames, 167u);
  std::vector<std::uint8_t> shown;  // the red of the picture's middle pixel, per frame
  const TMovieInfo info =
      PlayMovie(Dir + "/out.swf", [&](std::uint32_t, const TFrameImage& f, const TMovieInfo& i) {
        shown.push_back(f[15 * i.Width + 20].R);
      });
  EXPECT_EQ(info.FrameCount, 167u);
  EXPECT_TRUE(info.Problems.empty()) << info.Problems[0];
  // Black where nothing is drawn, not the white of a movie without a colour.
  EXPECT_TRUE(info.HasBackground);
  EXPECT_EQ(info.SpritePlacements,
            (std::vector<std::pair<std::uint32_t, std::uint16_t>>{{0, 1}, {40, 2}, {160, 3}}));
  const auto& palette = platform::FixedPalette();
  ASSERT_EQ(shown.size(), 167u);
  EXPECT_EQ(shown[39], palette[10].Red);
  EXPECT_EQ(shown[40], palette[20].Red);
  EXPECT_EQ(shown[159], palette[20].Red);
  EXPECT_EQ(shown[160], palette[30].Red);
}

// Each segment's sprite is removed when the next one comes; nothing stands after the last frame,
// where a web player would run a removal and show an empty stage.
TEST_F(OutputJoin, NothingFollowsTheLastFrame) {
  for (int segments : {1, 3}) {
    std::vector<TSegmentInput> inputs;
    for (int i = 1; i <= segments; ++i) inputs.push_back({Segment(i, 2, 9), std::nullopt});
    const std::string out = Dir + "/n" + std::to_string(segments) + ".swf";
    WriteOutputFiles(inputs, 40, 30, out);
    TSWFStreamReader reader(out);
    reader.ParseTags(false, false);
    std::vector<int> codes;
    for (const auto& info : reader.TagList) {
      if (info->TagID == 1 || info->TagID == 26 || info->TagID == 28) codes.push_back(info->TagID);
    }
    std::vector<int> expected;  // PlaceObject2, ShowFrame x 2, then RemoveObject2 before the next
    for (int i = 1; i <= segments; ++i) {
      if (i > 1) expected.push_back(28);
      expected.insert(expected.end(), {26, 1, 1});
    }
    EXPECT_EQ(codes, expected) << segments << " segment(s)";
  }
}

TEST_F(OutputJoin, TheStageComesFromTheSegmentsWhenNotGiven) {
  WriteOutputFiles({{Segment(1, 3, 5), std::nullopt}}, 0, 0, Dir + "/r.swf");
  const TMovieInfo info = PlayMovie(Dir + "/r.swf", [](auto, const auto&, const auto&) {});
  EXPECT_EQ(info.Width, 40);
  EXPECT_EQ(info.Height, 30);
  EXPECT_NE(ReadText(Dir + "/r.html").find("width=\"40\" height=\"30\""), std::string::npos);
}

TEST_F(OutputJoin, LimitsSplitTheOutputIntoWholeMovies) {
  std::vector<TSegmentInput> inputs;
  for (int i = 1; i <= 5; ++i)
    inputs.push_back({Segment(i, 10, static_cast<std::uint8_t>(i)), std::nullopt});
  TOutputLimits limits;
  limits.MaxFrames = 25;  // two segments of 10 frames a movie
  const TOutputResult r =
      WriteOutputFiles(inputs, 40, 30, Dir + "/s.swf", limits, "ruffle/ruffle.js");
  EXPECT_EQ(r.Movies,
            (std::vector<std::string>{Dir + "/s.swf", Dir + "/s-2.swf", Dir + "/s-3.swf"}));
  std::uint32_t total = 0;
  for (const std::string& m : r.Movies) {
    const TMovieInfo info = PlayMovie(m, [](auto, const auto&, const auto&) {});
    EXPECT_TRUE(info.Problems.empty());
    EXPECT_LE(info.FrameCount, 25u);
    total += info.FrameCount;
  }
  EXPECT_EQ(total, 50u);
  // One page, beside the first movie, with the web player and the continuations in order.
  EXPECT_EQ(r.Page, Dir + "/s.html");
  const std::string page = ReadText(r.Page);
  EXPECT_EQ(page.rfind("<html><script src=\"ruffle/ruffle.js\"></script><object ", 0), 0u) << page;
  EXPECT_NE(page.find("<embed src=\"s.swf\""), std::string::npos) << page;
  const std::size_t end = page.find("</object>"), two = page.find("<a href=\"s-2.swf\">"),
                    three = page.find("<a href=\"s-3.swf\">");
  ASSERT_NE(two, std::string::npos) << page;
  ASSERT_NE(three, std::string::npos) << page;
  EXPECT_LT(end, two);
  EXPECT_LT(two, three);
  EXPECT_FALSE(Exists(Dir + "/s-2.html"));
}

TEST_F(OutputJoin, NothingReadableIsAnErrorAndGarbageIsSkipped) {
  std::ofstream(Dir + "/junk.swf") << "not a movie at all";
  EXPECT_THROW(WriteOutputFiles({{Dir + "/junk.swf", std::nullopt}}, 0, 0, Dir + "/o.swf"),
               std::runtime_error);
  EXPECT_FALSE(Exists(Dir + "/o.swf"));
  const TOutputResult r = WriteOutputFiles(
      {{Dir + "/junk.swf", std::nullopt}, {Segment(2, 4, 1), std::nullopt}}, 0, 0, Dir + "/o.swf");
  EXPECT_EQ(r.SegmentsJoined, 1u);
  EXPECT_EQ(r.Warnings.size(), 1u);
}

TEST_F(OutputJoin, SegmentFilesAreListedInNumberOrder) {
  for (int n : {10, 2, 1}) Segment(n, 1, 1);
  std::ofstream(Dir + "/capture01.swf") << "x";
  std::ofstream(Dir + "/capturex.swf") << "x";
  EXPECT_EQ(ListSegmentFiles(Dir),
            (std::vector<std::string>{Dir + "/capture1.swf", Dir + "/capture2.swf",
                                      Dir + "/capture10.swf"}));
}

}  // namespace
}  // namespace kestrova::test
