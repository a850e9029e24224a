// The output files: names, the page, the log, and joining segments made by the program's own
// segment movies.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/Palette.h"
#include "recorder/CaptureLog.h"
#include "recorder/FlashSegmentMovie.h"
#include "recorder/Output.h"
#include "swfobjects/ActionTags.h"
#include "swfstreams/SWFStreams.h"
#include "swftools/ZStream.h"
#include "tests/TestUtil.h"
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

// A part names the next one relative to itself: they stand in one folder.
TEST(OutputNames, PartURLs) {
  struct {
    const char* Part;
    const char* URL;
  } rows[] = {
      {"/d/run-2.swf", "run-2.swf"},
      {"run-2.swf", "run-2.swf"},
      {"/d/long take-2.swf", "long%20take-2.swf"},
      {"/d/take #2?-2.swf", "take%20%232%3F-2.swf"},
      {"/d/100%-2.swf", "100%25-2.swf"},
      {"/d/q\"\\-2.swf", "q%22%5C-2.swf"},
      {"/d/tab\t-2.swf", "tab%09-2.swf"},
      {"/d/F\xC3\xAFlm-2.swf", "F%C3%AFlm-2.swf"},
      {"/d/a:b-2.swf", "./a:b-2.swf"},
  };
  for (const auto& r : rows) EXPECT_EQ(PartURL(r.Part), r.URL) << r.Part;
}

// What takes any player from one part to the next: load the next part's file into level 0,
// then hold the last frame while it loads.
TEST(OutputNames, TheLoadOfTheNextPartIsGolden) {
  const std::unique_ptr<TSWFDoAction> action = LoadNextPartAction("/rec/long take-2.swf");
  const Bytes expected = {0x1F,
                          0x03 /* DoAction, 31 bytes */,
                          0x83,
                          0x1A,
                          0x00 /* GetUrl, 26 bytes */,
                          'l',
                          'o',
                          'n',
                          'g',
                          '%',
                          '2',
                          '0',
                          't',
                          'a',
                          'k',
                          'e',
                          '-',
                          '2',
                          '.',
                          's',
                          'w',
                          'f',
                          0,
                          '_',
                          'l',
                          'e',
                          'v',
                          'e',
                          'l',
                          '0',
                          0,
                          0x07 /* Stop */,
                          0x00 /* end of the actions */};
  EXPECT_EQ(Hex(WriteTag(*action)), Hex(expected));
  const std::unique_ptr<TSWFObject> back = ReadBody(12 /* DoAction */, WriteBody(*action), 6);
  ASSERT_NE(back, nullptr);
  EXPECT_TRUE(static_cast<const TSWFDoAction&>(*back) == *action);
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
  // A segment whose every frame changes a strip of the picture, as the recorder's do.
  std::string Strips(const std::string& name, int frames) {
    auto movie = FlashSegmentMovieFactory()(40, 30);
    for (int f = 0; f < frames; ++f) {
      TDIBitmap strip;
      strip.Allocate(40, 10, 8);
      // A grey ramp, so every strip shows on the recording's black stage.
      for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        strip.Palette.push_back(TRGBQuad{v, v, v, 0});
      }
      std::fill(strip.Bits.begin(), strip.Bits.end(), static_cast<std::uint8_t>(20 + 50 * f));
      const auto depth = static_cast<std::uint16_t>(1 + f % 3);
      movie->RemoveObject(depth);
      movie->PlaceObject(movie->AddPicture(strip), depth, 0, 10 * (f % 3));
      movie->ShowFrame(1);
    }
    movie->SaveToFile(Dir + "/" + name);
    return Dir + "/" + name;
  }
  // The same movie stored plain ("FWS"), as other programs write them.
  std::string PlainCopy(const std::string& compressed, const std::string& name) {
    const std::vector<std::uint8_t> bytes = ReadFileBytes(compressed);
    TMemoryStream packed(std::vector<std::uint8_t>(bytes.begin() + 8, bytes.end()));
    TZDecompressionStream z(packed);
    TMemoryStream plain;
    plain.Write("FWS", 3);
    plain.Write(bytes.data() + 3, 5);
    plain.CopyRest(z);
    Put(name, plain.Bytes());
    return Dir + "/" + name;
  }
  void Put(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(Dir + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
};

// The record headers of a plain movie, walked independently of the join: the oracle for the
// offsets and frames the join reports.
struct TStoredTag {
  unsigned Code;
  std::size_t At, Header, Length;
};
std::vector<TStoredTag> StoredTags(const std::vector<std::uint8_t>& plain) {
  const std::size_t rectBits = 5 + 4 * (plain[8] >> 3);
  std::size_t at = 8 + (rectBits + 7) / 8 + 4;
  std::vector<TStoredTag> tags;
  while (at + 2 <= plain.size()) {
    TStoredTag t{unsigned(plain[at] | (plain[at + 1] << 8)) >> 6, at, 2, plain[at] & 63u};
    if (t.Length == 63) {
      t.Length = plain[at + 2] | (plain[at + 3] << 8) | (plain[at + 4] << 16) |
                 (std::size_t(plain[at + 5]) << 24);
      t.Header = 6;
    }
    tags.push_back(t);
    at += t.Header + t.Length;
    if (t.Code == 0) break;
  }
  return tags;
}

// Where each ShowFrame ends: how many frames a cut keeps.
std::vector<std::size_t> FrameEnds(const std::vector<std::uint8_t>& plain) {
  std::vector<std::size_t> ends;
  for (const TStoredTag& t : StoredTags(plain)) {
    if (t.Code == 1) ends.push_back(t.At + t.Header + t.Length);
  }
  return ends;
}

std::uint32_t StoredLength(const std::string& movie) {
  TSWFStreamReader reader(movie);
  return reader.FileLength();
}

// Every cut of a segment, plain and compressed: a join of files a user names refuses it naming
// the file, the offset and the reason; a recording's join keeps the frames completed before the
// cut and says how many it dropped.
TEST_F(OutputJoin, EveryCutOfASegmentIsRefusedOrKeptToItsLastCompleteFrame) {
  constexpr int kFrames = 4;
  const std::string good = Strips("good.swf", 2);
  const std::string compressed = Strips("whole.swf", kFrames);
  const std::string plain = PlainCopy(compressed, "plain.swf");
  for (const std::string& whole : {plain, compressed}) {
    const std::vector<std::uint8_t> bytes = ReadFileBytes(whole);
    const std::vector<std::size_t> ends = FrameEnds(ReadFileBytes(plain));
    ASSERT_EQ(ends.size(), std::size_t(kFrames));
    const bool isPlain = whole == plain;
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
      SCOPED_TRACE((isPlain ? "plain cut at " : "compressed cut at ") + std::to_string(cut));
      Put("cut.swf", std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + cut));
      const std::vector<TSegmentInput> inputs{{good, std::nullopt}, {Dir + "/cut.swf", 4}};
      try {
        WriteOutputFiles(inputs, 0, 0, Dir + "/refused.swf", {}, {}, TJoinPolicy::RefuseDamaged);
        ADD_FAILURE() << "a cut input was joined";
      } catch (const std::runtime_error& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("cut.swf\": "), std::string::npos) << what;
        if (cut >= 8) {
          EXPECT_NE(what.find("offset"), std::string::npos) << what;
        }
      }
      EXPECT_FALSE(Exists(Dir + "/refused.swf"));
      const TOutputResult r = WriteOutputFiles(inputs, 0, 0, Dir + "/kept.swf");
      ASSERT_EQ(r.Inputs.size(), 2u);
      const TJoinedInput& in = r.Inputs[1];
      if (isPlain) {
        const auto kept = std::count_if(ends.begin(), ends.end(), [&](auto e) { return e <= cut; });
        EXPECT_EQ(in.FramesKept, kept > 0 ? std::uint32_t(kept) : 0u);
      }
      EXPECT_EQ(in.FramesKept + in.FramesDropped, std::uint32_t(kFrames));
      EXPECT_EQ(in.Joined, in.FramesKept > 0);
      EXPECT_FALSE(in.Problem.empty());
      EXPECT_TRUE(r.Inputs[0].Joined);
      const TMovieInfo info = PlayMovie(Dir + "/kept.swf", [](auto, const auto&, const auto&) {});
      EXPECT_TRUE(info.Problems.empty()) << info.Problems[0];
      EXPECT_EQ(info.FramesPlayed, 2 + in.FramesKept);
    }
  }
  EXPECT_EQ(ReadFileBytes(Dir + "/whole.swf"), ReadFileBytes(compressed)) << "inputs untouched";
}

// The kept frames are the recording's own: the first frames of the segment, as a join of the
// whole segment shows them.
TEST_F(OutputJoin, KeptFramesOfACutSegmentShowWhatWasRecorded) {
  const std::string plain = PlainCopy(Strips("whole.swf", 4), "plain.swf");
  std::vector<TFrameImage> whole, kept;
  WriteOutputFiles({{plain, std::nullopt}}, 0, 0, Dir + "/w.swf");
  PlayMovie(Dir + "/w.swf",
            [&](std::uint32_t, const TFrameImage& f, const TMovieInfo&) { whole.push_back(f); });
  const std::vector<std::size_t> ends = FrameEnds(ReadFileBytes(plain));
  std::filesystem::resize_file(plain, ends[2] + 3);  // inside the fourth frame
  const TOutputResult r = WriteOutputFiles({{plain, std::nullopt}}, 0, 0, Dir + "/r.swf");
  EXPECT_EQ(r.Inputs[0].FramesKept, 3u);
  EXPECT_EQ(r.Inputs[0].FramesDropped, 1u);
  PlayMovie(Dir + "/r.swf",
            [&](std::uint32_t, const TFrameImage& f, const TMovieInfo&) { kept.push_back(f); });
  ASSERT_EQ(whole.size(), 4u);
  ASSERT_EQ(kept.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(kept[i] == whole[i]) << "frame " << i;
  EXPECT_FALSE(whole[0] == whole[1]);
  EXPECT_FALSE(whole[1] == whole[2]);
  EXPECT_EQ(r.Warnings.size(), 1u);
}

// Damage inside a movie whose length adds up: a tag claiming 4294967295 bytes (whose header,
// copied, would swallow the rest of the output) and a tag whose body cannot be read. A join of
// named files refuses the file naming the offset and the reason; a recording's join keeps what
// can be read (the frames before the huge tag, every frame without the unreadable tag).
TEST_F(OutputJoin, DamagedTagsAreRefusedWithTheirOffsetOrLeftOut) {
  const std::vector<std::uint8_t> plain = ReadFileBytes(PlainCopy(Strips("whole.swf", 2), "p.swf"));
  const std::size_t afterFirstFrame = FrameEnds(plain)[0];
  std::vector<std::uint8_t> huge = plain, unreadable = plain;
  const std::uint8_t claim[] = {0x3F, 0x03, 0xFF, 0xFF, 0xFF, 0xFF};  // code 12, long form
  huge.insert(huge.begin() + std::ptrdiff_t(afterFirstFrame), std::begin(claim), std::end(claim));
  std::size_t shape = 0;
  for (const TStoredTag& t : StoredTags(plain)) {
    if (t.Code != 22 || shape != 0) continue;
    shape = t.At;  // its id is kept, the rest is made unreadable
    std::fill(unreadable.begin() + std::ptrdiff_t(t.At + t.Header + 2),
              unreadable.begin() + std::ptrdiff_t(t.At + t.Header + t.Length), 0xFF);
  }
  ASSERT_NE(shape, 0u);
  struct {
    const char* What;
    const std::vector<std::uint8_t>& Bytes;
    std::vector<std::string> Named;
    std::uint32_t Kept;
  } rows[] = {
      {"a tag claiming 4 GB", huge, {"offset " + std::to_string(afterFirstFrame), "4294967295"}, 1},
      {"an unreadable tag", unreadable, {"DefineShape2 tag at offset " + std::to_string(shape)}, 2},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.What);
    Put("bad.swf", r.Bytes);
    try {
      WriteOutputFiles({{Dir + "/bad.swf", std::nullopt}}, 0, 0, Dir + "/o.swf", {}, {},
                       TJoinPolicy::RefuseDamaged);
      ADD_FAILURE() << "joined";
    } catch (const std::runtime_error& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find("bad.swf\": "), std::string::npos) << what;
      for (const std::string& n : r.Named) EXPECT_NE(what.find(n), std::string::npos) << what;
    }
    EXPECT_FALSE(Exists(Dir + "/o.swf"));
    const TOutputResult kept =
        WriteOutputFiles({{Dir + "/bad.swf", std::nullopt}}, 0, 0, Dir + "/o.swf");
    EXPECT_EQ(kept.Inputs[0].FramesKept, r.Kept);
    EXPECT_TRUE(kept.Inputs[0].Joined);
    EXPECT_FALSE(kept.Inputs[0].Problem.empty());
    EXPECT_LT(StoredLength(Dir + "/o.swf"), plain.size() + 100);
    std::filesystem::remove(Dir + "/o.swf");
  }
}

// The movie and the page are put in place together: a page that cannot be written leaves the
// movie and the page that were there as they were.
TEST_F(OutputJoin, APageThatCannotBeWrittenLeavesTheOldMovieAndPage) {
  const std::string segment = Strips("s.swf", 2);
  struct {
    const char* What;
    bool Folder;
  } rows[] = {{"a read-only page", false}, {"a folder named like the page", true}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.What);
    std::filesystem::remove_all(Dir + "/out.html");
    std::ofstream(Dir + "/out.swf") << "old movie";
    if (r.Folder) {
      std::filesystem::create_directories(Dir + "/out.html");
    } else {
      std::ofstream(Dir + "/out.html") << "old page";
      std::filesystem::permissions(Dir + "/out.html", std::filesystem::perms::owner_read);
      if (::geteuid() == 0) continue;  // root writes anyway
    }
    EXPECT_THROW(WriteOutputFiles({{segment, std::nullopt}}, 0, 0, Dir + "/out.swf"), EStreamError);
    EXPECT_EQ(ReadText(Dir + "/out.swf"), "old movie");
    if (!r.Folder) {
      EXPECT_EQ(ReadText(Dir + "/out.html"), "old page");
    }
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(Dir)) {
      names.insert(e.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"home", "s.swf", "out.swf", "out.html"}));
  }
}

TEST_F(OutputJoin, AMovieNamedLikeItsPageIsRefused) {
  const std::string segment = Strips("s.swf", 2);
  try {
    WriteOutputFiles({{segment, std::nullopt}}, 0, 0, Dir + "/out.html");
    ADD_FAILURE() << "written";
  } catch (const std::invalid_argument& e) {
    const std::string what = e.what();
    const std::size_t first = what.find(Dir + "/out.html");
    ASSERT_NE(first, std::string::npos) << what;
    EXPECT_NE(what.find(Dir + "/out.html", first + 1), std::string::npos) << what;
  }
  EXPECT_FALSE(Exists(Dir + "/out.html"));
}

// The plan counts every byte of a part: for any limit, no part is longer than it, and a limit
// just above what two segments take keeps them in one part. Each segment shows for many more
// frames in the main timeline than its file holds (the capture loop's count), which is where
// an estimate leaving out the main timeline's ShowFrames went wrong.
TEST_F(OutputJoin, PartsPlannedAtTheLimitStayWithinIt) {
  std::vector<TSegmentInput> inputs;
  for (int i = 0; i < 3; ++i) inputs.push_back({Strips("s" + std::to_string(i) + ".swf", 2), 300});
  const std::uint32_t two =
      StoredLength(WriteOutputFiles({inputs[0], inputs[1]}, 0, 0, Dir + "/two.swf").Movies[0]);
  bool oneAtTheLimit = false;
  for (std::uint64_t limit = two - 700; limit <= two + 200; limit += 10) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    TOutputLimits limits;
    limits.MaxFileLength = limit;
    const TOutputResult r = WriteOutputFiles(inputs, 0, 0, Dir + "/o.swf", limits);
    EXPECT_EQ(r.Frames, 900u);
    for (const std::string& m : r.Movies) EXPECT_LE(StoredLength(m), limit) << m;
    if (limit <= two) {
      EXPECT_EQ(r.Movies.size(), 3u);
    }
    if (limit >= two + 100) {
      EXPECT_EQ(r.Movies.size(), 2u);
    }
    oneAtTheLimit |= r.Movies.size() == 2 && StoredLength(r.Movies[0]) + 100 > limit;
  }
  EXPECT_TRUE(oneAtTheLimit);
  // A part followed by another carries the load of the next: under a long name, more bytes than
  // the plan's other margins.
  const std::string longName = Dir + "/" + std::string(150, 'n') + ".swf";
  for (std::uint64_t limit = two - 100; limit <= two + 400; limit += 20) {
    SCOPED_TRACE("long name, limit " + std::to_string(limit));
    TOutputLimits limits;
    limits.MaxFileLength = limit;
    const TOutputResult r = WriteOutputFiles(inputs, 0, 0, longName, limits);
    EXPECT_GE(r.Movies.size(), 2u);
    for (const std::string& m : r.Movies) EXPECT_LE(StoredLength(m), limit);
  }
}

// The frame count is 16 bits: past 65535 frames the output goes on in a further movie.
TEST_F(OutputJoin, MoreThan65535FramesGoOnInAFurtherMovie) {
  const std::string a = Strips("a.swf", 1), b = Strips("b.swf", 1);
  const TOutputResult r = WriteOutputFiles({{a, 40000}, {b, 40000}}, 0, 0, Dir + "/long.swf", {},
                                           {}, TJoinPolicy::RefuseDamaged);
  ASSERT_EQ(r.Movies, (std::vector<std::string>{Dir + "/long.swf", Dir + "/long-2.swf"}));
  EXPECT_EQ(r.Frames, 80000u);
  for (const std::string& m : r.Movies) {
    TSWFStreamReader reader(m);
    EXPECT_EQ(reader.FrameCount, 40000) << m;
  }
}

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
  // Each part but the last loads the next on its last frame, read back through the reader.
  for (std::size_t i = 0; i < r.Movies.size(); ++i) {
    SCOPED_TRACE(r.Movies[i]);
    TSWFStreamReader reader(r.Movies[i]);
    reader.ParseTags(false, false);
    TSWFReadContext context = reader.NewReadContext(true);
    std::vector<std::uint16_t> tail;  // the codes from the first DoAction on
    std::unique_ptr<TSWFObject> action;
    for (const auto& info : reader.TagList) {
      if (info->TagID == 12 /* DoAction */ && !action) {
        action = reader.ReadTagObject(*info, context);
      }
      if (action) tail.push_back(info->TagID);
    }
    if (i + 1 == r.Movies.size()) {
      EXPECT_EQ(action, nullptr);
      continue;
    }
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(tail, (std::vector<std::uint16_t>{12, 1, 0}));  // DoAction, ShowFrame, End
    EXPECT_TRUE(static_cast<const TSWFDoAction&>(*action) == *LoadNextPartAction(r.Movies[i + 1]));
  }
  // One page, beside the first movie, with the web player and the continuations in order.
  EXPECT_EQ(r.Page, Dir + "/s.html");
  const std::string page = ReadText(r.Page);
  EXPECT_NE(page.find("(\"ruffle/ruffle.js\",[\"s.swf\",\"s-2.swf\",\"s-3.swf\"]);"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("part 1 of 3"), std::string::npos) << page;
  EXPECT_NE(page.find("<embed src=\"s.swf\""), std::string::npos) << page;
  const std::size_t end = page.find("</object>"), two = page.find("<a href=\"s-2.swf\">"),
                    three = page.find("<a href=\"s-3.swf\">");
  ASSERT_NE(two, std::string::npos) << page;
  ASSERT_NE(three, std::string::npos) << page;
  EXPECT_LT(end, two);
  EXPECT_LT(two, three);
  EXPECT_FALSE(Exists(Dir + "/s-2.html"));
}

// A local web player goes beside the page; one that cannot be found writes nothing.
TEST_F(OutputJoin, TheLocalWebPlayerGoesBesideThePage) {
  const std::string segment = Segment(1, 2, 3);
  std::filesystem::create_directories(Dir + "/pkg");
  std::ofstream(Dir + "/pkg/ruffle.js") << "player";
  std::filesystem::create_directories(Dir + "/out");
  EXPECT_THROW(WriteOutputFiles({{segment, std::nullopt}}, 0, 0, Dir + "/out/w.swf", {},
                                "local:" + Dir + "/nothing"),
               std::runtime_error);
  EXPECT_FALSE(Exists(Dir + "/out/w.swf"));
  EXPECT_FALSE(Exists(Dir + "/out/w.html"));
  WriteOutputFiles({{segment, std::nullopt}}, 0, 0, Dir + "/out/w.swf", {},
                   "local:" + Dir + "/pkg");
  EXPECT_EQ(ReadText(Dir + "/out/ruffle/ruffle.js"), "player");
  EXPECT_NE(ReadText(Dir + "/out/w.html").find("(\"ruffle/ruffle.js\",[\"w.swf\"]);"),
            std::string::npos);
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
