// The movie object: ids, frames, versions, the background colour and the End tag.
#include <gtest/gtest.h>

#include "tests/flashobjects/FlashTestUtil.h"

namespace kestrova {
namespace {

using test::Bytes;

// The tag codes of the movie's body.
std::vector<int> BodyCodes(TFlashMovie& movie) {
  TSWFStreamReader reader;
  TMemoryStream file;
  movie.SaveToStream(file);
  reader.LoadFromStream(file);
  reader.ParseTags(false, false);
  return test::TagCodes(reader);
}

TEST(Movie, IdsFollowTheCallsAndPlacementsTakeNone) {
  TFlashMovie movie(0, 0, 100, 100, 12, true);
  TFlashImage& image = movie.AddImage();
  TFlashShape& shape = movie.AddShape();
  movie.PlaceObject(shape, 1);
  movie.RemoveObject(1);
  movie.ShowFrame();
  TFlashShape& rect = movie.AddRectangle(0, 0, 5, 5);
  EXPECT_EQ(image.GetCharacterId(), 1);
  EXPECT_EQ(shape.GetCharacterId(), 2);
  EXPECT_EQ(rect.GetCharacterId(), 3);
  EXPECT_EQ(movie.CurrentObjID, 4);
  EXPECT_EQ(movie.ImageList().Count(), 1u);
  EXPECT_EQ(movie.ShapeList().Count(), 2u);
  EXPECT_EQ(&movie.ShapeList()[1], &rect);
  EXPECT_EQ(movie.ObjectList().size(), 6u);
}

TEST(Movie, IdsRunOutAfter65535) {
  TFlashMovie movie(0, 0, 100, 100, 12, true);
  movie.CurrentObjID = 65535;
  EXPECT_EQ(movie.AddShape().GetCharacterId(), 65535);
  EXPECT_THROW(movie.AddImage(), std::length_error);
  EXPECT_THROW(movie.AddShape(), std::length_error);
  EXPECT_EQ(movie.ObjectList().size(), 1u);
}

struct TFrameCase {
  const char* What;
  std::vector<std::uint16_t> Counts;
  int Frames;
};

const TFrameCase kFrameCases[] = {
    {"ShowFrame(0) closes one frame", {0}, 1},
    {"ShowFrame(3) closes three", {3}, 3},
    {"counts add up", {1, 0, 2}, 4},
};

class MovieFrames : public ::testing::TestWithParam<TFrameCase> {};

TEST_P(MovieFrames, ShowFrameAppendsOneTagPerFrame) {
  TFlashMovie movie(0, 0, 100, 100, 12, true);
  for (std::uint16_t c : GetParam().Counts) movie.ShowFrame(c);
  EXPECT_EQ(movie.FrameCount, GetParam().Frames);
  EXPECT_EQ(movie.CurrentFrameNum, GetParam().Frames - 1);
  EXPECT_EQ(movie.ObjectList().size(), std::size_t(GetParam().Frames));
  EXPECT_EQ(movie.CalcFrameCount(), GetParam().Frames);
  movie.FrameCount = 99;
  movie.MakeStream();
  EXPECT_EQ(movie.FrameCount, GetParam().Frames) << "MakeStream counts the ShowFrame tags";
}

INSTANTIATE_TEST_SUITE_P(Table, MovieFrames, ::testing::ValuesIn(kFrameCases));

TEST(Movie, BackgroundColourOnlyWhenAsked) {
  TFlashMovie plain(0, 0, 100, 100, 12, true);
  plain.ShowFrame();
  plain.MakeStream();
  EXPECT_EQ(BodyCodes(plain), (std::vector<int>{1, 0}));
  EXPECT_FALSE(plain.HasBackgroundColor());

  TFlashMovie black(0, 0, 100, 100, 12, true);
  (void)black.BackgroundColor();
  black.ShowFrame();
  black.MakeStream();
  EXPECT_EQ(test::Hex(Bytes(black.Body().Data(), black.Body().Data() + 5)),
            test::Hex(Bytes{0x43, 0x02, 0, 0, 0}));  // SetBackgroundColor, black
}

TEST(Movie, VersionFollowsCompressionAndContents) {
  struct {
    bool Compressed;
    bool Alpha;  // a shape with alpha needs version 3
    int Version;
  } cases[] = {{true, false, 6}, {false, false, 5}, {false, true, 5}, {true, true, 6}};
  for (const auto& c : cases) {
    TFlashMovie movie(0, 0, 100, 100, 12, true);
    movie.SetCompressed(c.Compressed);
    movie.AddShape().HasAlpha = c.Alpha;
    movie.MakeStream();
    EXPECT_EQ(movie.Version(), c.Version);
    TMemoryStream file;
    movie.SaveToStream(file);
    EXPECT_EQ(file.Data()[3], c.Version);
  }
  TFlashMovie raised(0, 0, 100, 100, 12, true);
  raised.AddObject(std::make_unique<TSWFScriptLimits>());  // version 7
  raised.MakeStream();
  EXPECT_EQ(raised.Version(), 7);
}

TEST(Movie, PlacementGetsTheVersionReachedBeforeIt) {
  TFlashMovie movie(0, 0, 100, 100, 12, true);
  TFlashShape& shape = movie.AddShape();
  TFlashPlaceObject& first = movie.PlaceObject(shape, 1);
  movie.AddObject(std::make_unique<TSWFScriptLimits>());
  TFlashPlaceObject& second = movie.PlaceObject(shape, 2);
  movie.MakeStream();
  EXPECT_EQ(first.PlaceTag().SWFVersion, 5);
  EXPECT_EQ(second.PlaceTag().SWFVersion, 7);
}

TEST(Movie, EndTagOnlyWhenTheListDoesNotEndWithOne) {
  TFlashMovie movie(0, 0, 100, 100, 12, true);
  movie.ShowFrame();
  movie.AddObject(std::make_unique<TSWFEnd>());
  movie.MakeStream();
  EXPECT_EQ(BodyCodes(movie), (std::vector<int>{1, 0}));
  // Serialising again starts from an empty body.
  movie.MakeStream();
  EXPECT_EQ(movie.Body().Size(), 4u);
}

TEST(Movie, EmptyMovieCannotBeSerialised) {
  TFlashMovie movie(0, 0, 100, 100, 12, true);
  (void)movie.BackgroundColor();
  EXPECT_THROW(movie.MakeStream(), std::out_of_range);
  EXPECT_EQ(movie.Body().Size(), 5u) << "the background colour was written first";
}

TEST(Movie, ImageShapeSpansTheImage) {
  TFlashMovie movie(0, 0, 100, 100, 12, true);
  TFlashImage& image = movie.AddImage();
  TDIBitmap b;
  b.Allocate(100, 50, 24);
  image.LoadFromHandle(b);
  TFlashShape& shape = movie.AddImageShape(image);
  EXPECT_EQ((std::vector<int>{shape.XMin(), shape.YMin(), shape.XMax(), shape.YMax()}),
            (std::vector<int>{0, 0, 100, 50}));
  EXPECT_EQ(shape.Bounds().GetRec(), (TSWFRectRec{0, 2000, 0, 1000}));
}

TEST(Movie, ProgressOfWritingTheTags) {
  TFlashMovie movie(0, 0, 100, 100, 12, true);
  movie.ShowFrame(4);
  std::vector<int> seen;
  movie.OnProgress = [&](TBasedSWFStream&, int percent, int stage) {
    EXPECT_EQ(stage, 1);
    seen.push_back(percent);
  };
  movie.MakeStream();
  EXPECT_EQ(seen, (std::vector<int>{25, 50, 75, 100}));
}

TEST(Movie, SaveToFileLeavesNoPartialFile) {
  test::TTempDir dir;
  TFlashMovie movie(0, 0, 100, 100, 12, true);
  movie.ShowFrame();
  movie.MakeStream();
  EXPECT_THROW(movie.SaveToFile(dir.File("missing/out.swf")), EStreamError);
  movie.SaveToFile(dir.File("out.swf"));
  EXPECT_EQ(dir.Files(), (std::set<std::string>{"out.swf"}));
}

TEST(Movie, CompressedSaveReadsBackWithEitherWriter) {
  for (TDeflateWriter writer : {TDeflateWriter::Zlib, TDeflateWriter::Libdeflate}) {
    TFlashMovie movie(0, 0, 100, 100, 12, true);
    movie.SetCompressed(true);
    movie.DeflateWriter = writer;
    movie.ShowFrame(3);
    movie.MakeStream();
    TMemoryStream file;
    movie.SaveToStream(file);
    TSWFStreamReader reader;
    reader.LoadFromStream(file);
    EXPECT_TRUE(reader.Compressed());
    EXPECT_EQ(reader.FrameCount, 3);
    EXPECT_EQ(reader.Body().Bytes(), movie.Body().Bytes()) << DeflateWriterName(writer);
    EXPECT_EQ(reader.FileLength(), movie.Body().Size() + movie.HeaderSize());
  }
}

}  // namespace
}  // namespace kestrova
