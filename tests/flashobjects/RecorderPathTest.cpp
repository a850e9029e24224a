// The movie the recorder builds for one segment, saved compressed and read back with the
// project's reader: ids, depths, matrices, formats and the pixels themselves.
#include <gtest/gtest.h>

#include "swftools/Deflate.h"
#include "tests/flashobjects/FlashTestUtil.h"

namespace kestrova {
namespace {

using test::TagAt;

constexpr std::int32_t kWidth = 70, kHeight = 64;  // 70 needs two bytes of row padding

int Full(std::int32_t x, std::int32_t y) {
  return (x * 7 + y * 3) % 40;
}
int Strip(std::int32_t x, std::int32_t y) {
  return 100 + (x + y) % 9;
}

// The colour of a pixel of the source bitmap, counted from the top row.
TRGBQuad SourceColor(const TDIBitmap& b, std::int32_t x, std::int32_t y) {
  return b.Palette[b.Scanline(b.Rows() - 1 - y)[x]];
}

// Inflates a lossless bitmap of format 3 and checks every pixel against the source, and that
// each row ends with zero padding.
void ExpectPixels(const TSWFDefineBitsLossless& tag, const TDIBitmap& source) {
  ASSERT_EQ(tag.BitmapFormat, 3);
  ASSERT_EQ(tag.BitmapWidth, source.Width);
  ASSERT_EQ(tag.BitmapHeight, source.Rows());
  const std::size_t colors = tag.BitmapColorTableSize + 1u;
  const std::size_t padded = (source.Width + 3u) & ~3u;
  const auto raw = ZlibDecompress(tag.Data.data(), tag.Data.size(), 1 << 24);
  ASSERT_EQ(raw.size(), colors * 3 + padded * source.Rows());
  for (std::int32_t y = 0; y < source.Rows(); ++y) {
    const std::uint8_t* row = raw.data() + colors * 3 + y * padded;
    for (std::int32_t x = 0; x < source.Width; ++x) {
      ASSERT_LT(row[x], colors);
      const std::uint8_t* c = raw.data() + row[x] * 3;
      const TRGBQuad want = SourceColor(source, x, y);
      ASSERT_EQ((std::vector<int>{c[0], c[1], c[2]}),
                (std::vector<int>{want.Red, want.Green, want.Blue}))
          << "pixel " << x << "," << y;
    }
    for (std::size_t x = source.Width; x < padded; ++x) ASSERT_EQ(row[x], 0);
  }
}

void ExpectImageShape(const TSWFDefineShape& shape, std::uint16_t id, std::uint16_t bitmap,
                      std::int32_t w, std::int32_t h) {
  EXPECT_EQ(shape.TagID, 22);  // DefineShape2
  EXPECT_EQ(shape.ShapeId, id);
  EXPECT_EQ(shape.ShapeBounds.GetRec(), (TSWFRectRec{0, w * 20, 0, h * 20}));
  ASSERT_EQ(shape.FillStyles.size(), 1u);
  const auto& fill = dynamic_cast<const TSWFImageFill&>(*shape.FillStyles[0]);
  EXPECT_EQ(fill.FillStyleType, 0x41);
  EXPECT_EQ(fill.BitmapId, bitmap);
  const TSWFMatrixRec m = fill.BitmapMatrix.GetRec();
  EXPECT_EQ(m.TranslateX, -5);
  EXPECT_EQ(m.TranslateY, -5);
  EXPECT_EQ(m.ScaleX, SingleToFixed(20.003662109375f));
  EXPECT_EQ(m.ScaleY, SingleToFixed(20.003662109375f));
  ASSERT_EQ(shape.Edges.size(), 6u);
  const auto& style = dynamic_cast<const TSWFStyleChangeRecord&>(*shape.Edges[0]);
  EXPECT_FALSE(style.StateMoveTo);
  EXPECT_TRUE(style.StateFillStyle1);
  EXPECT_EQ(style.FillStyle1(), 1);
  const std::int32_t expected[4][2] = {{w * 20, 0}, {0, h * 20}, {-w * 20, 0}, {0, -h * 20}};
  for (int i = 0; i < 4; ++i) {
    const auto& edge = dynamic_cast<const TSWFStraightEdgeRecord&>(*shape.Edges[1 + i]);
    EXPECT_EQ(edge.DeltaX, expected[i][0]) << i;
    EXPECT_EQ(edge.DeltaY, expected[i][1]) << i;
  }
  EXPECT_EQ(shape.Edges[5]->ShapeRecType, TSWFShapeRecord::kEnd);
}

void ExpectPlace(const TSWFPlaceObject2& place, std::uint16_t depth, std::uint16_t id,
                 std::int32_t ty) {
  EXPECT_EQ(place.Depth, depth);
  EXPECT_TRUE(place.PlaceFlagHasCharacter());
  EXPECT_EQ(place.CharacterId(), id);
  EXPECT_FALSE(place.PlaceFlagMove);
  ASSERT_NE(place.MatrixIfAny(), nullptr);
  const TSWFMatrixRec m = place.MatrixIfAny()->GetRec();
  EXPECT_FALSE(m.HasScale);
  EXPECT_FALSE(m.HasSkew);
  EXPECT_EQ(m.TranslateX, 0);
  EXPECT_EQ(m.TranslateY, ty);
}

TEST(RecorderPath, SegmentMovieReadsBackAsBuilt) {
  test::TTempDir dir;
  const TDIBitmap full = test::Indexed8(kWidth, kHeight, Full);
  const TDIBitmap strip = test::Indexed8(kWidth, 32, Strip);
  {
    TFlashMovie movie(0, 0, kWidth * 20, kHeight * 20, 12, false);
    movie.SetInPixels(true);
    movie.SetCompressed(true);
    movie.BackgroundColor().SetRGB(SWFRGB(0u));
    // Frame 0: the full picture at depth 0.
    movie.RemoveObject(0);
    TFlashImage& image = movie.AddImage("");
    image.LoadFromHandle(full);
    TFlashShape& shape = movie.AddImageShape(image);
    movie.PlaceObject(shape, 0).SetTranslate(0, 1);
    movie.ShowFrame(1);
    // Frame 1: strip 1 changed, shown at depth 3 for two frames.
    TFlashImage& stripImage = movie.AddImage("");
    stripImage.LoadFromHandle(strip);
    TFlashShape& stripShape = movie.AddImageShape(stripImage);
    movie.RemoveObject(3);
    movie.PlaceObject(stripShape, 3).SetTranslate(0, 33);
    movie.ShowFrame(2);
    EXPECT_EQ(movie.CalcFrameCount(), 3);
    movie.MakeStream();
    movie.SaveToFile(dir.File("capture1.swf"));
  }
  const auto reader = test::ReadMovie(dir.File("capture1.swf"));
  EXPECT_TRUE(reader->Compressed());
  EXPECT_EQ(reader->Version(), 6);
  EXPECT_EQ(reader->FrameCount, 3);
  EXPECT_EQ(reader->FrameSize, (TRect{0, 0, kWidth * 20, kHeight * 20}));
  EXPECT_EQ(reader->FPS, 12 << 8);
  ASSERT_EQ(test::TagCodes(*reader),
            (std::vector<int>{9, 28, 20, 22, 26, 1, 20, 22, 28, 26, 1, 1, 0}));
  EXPECT_EQ(TagAt<TSWFSetBackgroundColor>(*reader, 0).BackgroundColor().GetRec(),
            (TSWFRGBRec{0, 0, 0}));
  EXPECT_EQ(TagAt<TSWFRemoveObject2>(*reader, 1).Depth, 0);
  const auto& bitmap = TagAt<TSWFDefineBitsLossless>(*reader, 2);
  EXPECT_EQ(bitmap.CharacterId, 1);
  EXPECT_EQ(bitmap.BitmapColorTableSize, 39);  // the 40 colours the picture uses
  ExpectPixels(bitmap, full);
  ExpectImageShape(TagAt<TSWFDefineShape>(*reader, 3), 2, 1, kWidth, kHeight);
  ExpectPlace(TagAt<TSWFPlaceObject2>(*reader, 4), 0, 2, 20);
  const auto& stripBitmap = TagAt<TSWFDefineBitsLossless>(*reader, 6);
  EXPECT_EQ(stripBitmap.CharacterId, 3);
  EXPECT_EQ(stripBitmap.BitmapColorTableSize, 8);
  ExpectPixels(stripBitmap, strip);
  ExpectImageShape(TagAt<TSWFDefineShape>(*reader, 7), 4, 3, kWidth, 32);
  EXPECT_EQ(TagAt<TSWFRemoveObject2>(*reader, 8).Depth, 3);
  ExpectPlace(TagAt<TSWFPlaceObject2>(*reader, 9), 3, 4, 33 * 20);
  EXPECT_TRUE(test::ReferenceProblems(*reader).empty());
  // Nothing but the movie is left in the folder.
  EXPECT_EQ(dir.Files(), (std::set<std::string>{"capture1.swf"}));
}

// Segments joined the way the recorder joins them: each imported, placed at its own depth for
// its own frames, then removed.
void MakeSegment(const std::string& fileName, int frames, int shade) {
  TFlashMovie movie(0, 0, kWidth * 20, kHeight * 20, 12, false);
  movie.SetInPixels(true);
  movie.SetCompressed(true);
  movie.BackgroundColor().SetRGB(SWFRGB(0u));
  movie.RemoveObject(0);
  TFlashImage& image = movie.AddImage("");
  image.LoadFromHandle(
      test::Indexed8(kWidth, kHeight, [&](int x, int y) { return (x + y + shade) % 16; }));
  movie.PlaceObject(movie.AddImageShape(image), 0).SetTranslate(0, 1);
  movie.ShowFrame(1);
  for (int f = 1; f < frames; ++f) {
    TFlashImage& s = movie.AddImage("");
    s.LoadFromHandle(test::Indexed8(kWidth, 32, [&](int x, int) { return (x + f) % 5; }));
    TFlashShape& shape = movie.AddImageShape(s);
    movie.RemoveObject(1);
    movie.PlaceObject(shape, 1).SetTranslate(0, 1);
    movie.ShowFrame(1);
  }
  movie.MakeStream();
  movie.SaveToFile(fileName);
}

void JoinSegments(TFlashMovie& movie, const std::vector<std::string>& files,
                  const std::vector<int>& frames) {
  for (std::size_t i = 0; i < files.size(); ++i) {
    TFlashExternalMovie& external = movie.AddExternalMovie(files[i], 3, true);
    movie.PlaceObject(*external.Sprite(), static_cast<std::uint16_t>(i + 1));
    movie.ShowFrame(static_cast<std::uint16_t>(frames[i]));
    movie.RemoveObject(static_cast<std::uint16_t>(i + 1));
  }
}

TEST(RecorderPath, JoinOfThreeSegmentsHasThreeSpritesWithFreshIds) {
  test::TTempDir dir;
  const std::vector<int> frames = {4, 12, 2};
  std::vector<std::string> files;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    files.push_back(dir.File("capture" + std::to_string(i + 1) + ".swf"));
    MakeSegment(files.back(), frames[i], int(i));
  }
  {
    TFlashMovie movie(0, 0, kWidth * 20, kHeight * 20, 12, false);
    movie.SetCompressed(true);
    JoinSegments(movie, files, frames);
    movie.MakeStream();
    movie.SaveToFile(dir.File("out.swf"));
  }
  const auto reader = test::ReadMovie(dir.File("out.swf"));
  EXPECT_EQ(reader->FrameCount, 18);
  EXPECT_TRUE(test::ReferenceProblems(*reader).empty());
  std::vector<const TSWFDefineSprite*> sprites;
  std::set<std::uint16_t> ids;
  std::vector<std::uint16_t*> defined;
  for (const auto& info : reader->TagList) {
    EXPECT_NE(info->TagID, 9) << "no background colour of an input reaches the output";
    if (auto* s = dynamic_cast<const TSWFDefineSprite*>(info->SWFObject.get()))
      sprites.push_back(s);
    if (info->SWFObject) info->SWFObject->DefinedCharacterIDs(defined);
  }
  for (std::uint16_t* id : defined) EXPECT_TRUE(ids.insert(*id).second) << "id " << *id << " twice";
  ASSERT_EQ(sprites.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(sprites[i]->FrameCount, frames[i]);
    int shown = 0;
    for (const auto& tag : sprites[i]->ControlTags) shown += tag->TagID == 1;
    EXPECT_EQ(shown, frames[i]);
    EXPECT_EQ(sprites[i]->ControlTags.back()->TagID, 0);
  }
  // Placement at depth i of sprite i, for its own frames, then its removal.
  int frame = 1, segment = 0;
  for (const auto& info : reader->TagList) {
    if (auto* place = dynamic_cast<const TSWFPlaceObject2*>(info->SWFObject.get())) {
      ASSERT_LT(segment, 3);
      EXPECT_EQ(place->Depth, segment + 1);
      EXPECT_EQ(place->CharacterId(), sprites[segment]->SpriteId);
      EXPECT_EQ(info->FrameNum, frame);
    }
    if (auto* remove = dynamic_cast<const TSWFRemoveObject2*>(info->SWFObject.get())) {
      EXPECT_EQ(remove->Depth, segment + 1);
      frame += 0;
      ++segment;
    }
    if (info->TagID == 1) ++frame;
  }
  EXPECT_EQ(segment, 3);
}

TEST(RecorderPath, StreamedJoinHoldsOneInputAtATimeAndWritesTheSameMovie) {
  test::TTempDir dir;
  const int inputs = 24;
  std::vector<std::string> files;
  std::vector<int> frames;
  for (int i = 0; i < inputs; ++i) {
    files.push_back(dir.File("capture" + std::to_string(i + 1) + ".swf"));
    frames.push_back(1 + i % 3);
    MakeSegment(files.back(), frames.back(), i);
  }
  {
    TFlashMovie held(0, 0, kWidth * 20, kHeight * 20, 12, false);
    JoinSegments(held, files, frames);
    held.MakeStream();
    held.SaveToFile(dir.File("held.swf"));
  }
  {
    TFlashMovie streamed(0, 0, kWidth * 20, kHeight * 20, 12, false);
    streamed.BeginStreaming(dir.File("streamed.swf"));
    for (int i = 0; i < inputs; ++i) {
      TFlashExternalMovie& external = streamed.AddExternalMovie(files[i], 3, true);
      // Only this input and its own objects are held: the ones before were written out.
      EXPECT_EQ(streamed.ObjectList().size(), 1u);
      EXPECT_EQ(streamed.SpriteList().Count(), 1u);
      EXPECT_EQ(streamed.Body().Size(), 0u);
      streamed.PlaceObject(*external.Sprite(), static_cast<std::uint16_t>(i + 1));
      streamed.ShowFrame(static_cast<std::uint16_t>(frames[i]));
      streamed.RemoveObject(static_cast<std::uint16_t>(i + 1));
    }
    streamed.MakeStream();
    EXPECT_TRUE(streamed.ObjectList().empty());
    streamed.SaveToFile(dir.File("streamed.swf"));
  }
  EXPECT_EQ(ReadFileBytes(dir.File("streamed.swf")), ReadFileBytes(dir.File("held.swf")));
  // The temporary body is gone with the movie.
  EXPECT_FALSE(dir.Files().count("streamed.swf.body.part"));
  const auto reader = test::ReadMovie(dir.File("streamed.swf"));
  EXPECT_TRUE(test::ReferenceProblems(*reader).empty());
}

}  // namespace
}  // namespace kestrova
