// Shapes and their edges: rectangles, long lines, style numbers and the image fill.
#include <gtest/gtest.h>

#include "tests/flashobjects/FlashTestUtil.h"

namespace kestrova {
namespace {

// "S" style change (with "m x,y" when it moves), "e dx,dy" straight edge, "E" end.
std::vector<std::string> Records(const TSWFDefineShape& shape) {
  std::vector<std::string> out;
  for (const auto& r : shape.Edges) {
    if (r->ShapeRecType == TSWFShapeRecord::kStyleChange) {
      const auto& s = static_cast<const TSWFStyleChangeRecord&>(*r);
      out.push_back(s.StateMoveTo ? "S m " + std::to_string(s.MoveDeltaX()) + "," +
                                        std::to_string(s.MoveDeltaY())
                                  : "S");
    } else if (r->ShapeRecType == TSWFShapeRecord::kStraightEdge) {
      const auto& e = static_cast<const TSWFStraightEdgeRecord&>(*r);
      out.push_back("e " + std::to_string(e.DeltaX) + "," + std::to_string(e.DeltaY));
    } else {
      out.push_back("E");
    }
  }
  return out;
}

struct TRectCase {
  const char* What;
  bool InPixels;
  std::int32_t XMin, YMin, XMax, YMax;
  std::vector<std::string> Expected;
};

const TRectCase kRectCases[] = {
    {"at the origin: no move",
     true,
     0,
     0,
     19,
     20,
     {"S", "e 380,0", "e 0,400", "e -380,0", "e 0,-400", "E"}},
    {"away from the origin: a move",
     true,
     10,
     10,
     30,
     20,
     {"S m 200,200", "e 400,0", "e 0,200", "e -400,0", "e 0,-200", "E"}},
    {"in twips", false, 5, 7, 10, 9, {"S m 5,7", "e 5,0", "e 0,2", "e -5,0", "e 0,-2", "E"}},
    {"4000 pixels wide: sides in two pieces",
     true,
     0,
     0,
     4000,
     1,
     {"S", "e 40000,0", "e 40000,0", "e 0,20", "e -40000,0", "e -40000,0", "e 0,-20", "E"}},
    {"a side of 65535 twips fits one edge",
     false,
     0,
     0,
     65535,
     1,
     {"S", "e 65535,0", "e 0,1", "e -65535,0", "e 0,-1", "E"}},
    {"a half rounds to even and the pieces add up",
     false,
     0,
     0,
     65537,
     0,
     {"S", "e 32768,0", "e 32769,0", "e -32768,0", "e -32769,0", "E"}},
    {"three pieces",
     false,
     0,
     0,
     131071,
     0,
     {"S", "e 43690,0", "e 43691,0", "e 43690,0", "e -43690,0", "e -43691,0", "e -43690,0", "E"}},
};

class ShapeRectangles : public ::testing::TestWithParam<TRectCase> {};

TEST_P(ShapeRectangles, OutlineRecords) {
  const TRectCase& c = GetParam();
  TFlashMovie movie(0, 0, 100, 100, 12, c.InPixels);
  TFlashShape& shape = movie.AddRectangle(c.XMin, c.YMin, c.XMax, c.YMax);
  EXPECT_EQ(Records(shape.ShapeTag()), c.Expected);
  const std::int32_t f = c.InPixels ? 20 : 1;
  EXPECT_EQ(shape.Bounds().GetRec(), (TSWFRectRec{c.XMin * f, c.XMax * f, c.YMin * f, c.YMax * f}));
}

INSTANTIATE_TEST_SUITE_P(Table, ShapeRectangles, ::testing::ValuesIn(kRectCases));

TEST(Edges, ZeroLineAddsNothingAndVeryLongLinesAreNotDropped) {
  TSWFShapeRecordList records;
  TFlashEdges edges(records);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(edges.LineDelta(0, 0), nullptr);
  EXPECT_EQ(records.size(), 1u);
  // More than 255 pieces.
  const std::int32_t length = 300 * 65535;
  TSWFStraightEdgeRecord* last = edges.LineDelta(length, -1);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(records.size(), 301u);
  std::int64_t x = 0, y = 0;
  for (std::size_t i = 1; i < records.size(); ++i) {
    const auto& e = static_cast<const TSWFStraightEdgeRecord&>(*records[i]);
    EXPECT_LE(std::abs(e.DeltaX), 65535);
    x += e.DeltaX;
    y += e.DeltaY;
  }
  EXPECT_EQ(x, length);
  EXPECT_EQ(y, -1);
  EXPECT_EQ(edges.CurrentX(), length);
}

TEST(Edges, FirstMoveToTheStartAddsNoMove) {
  TSWFShapeRecordList records;
  TFlashEdges edges(records);
  EXPECT_FALSE(edges.MoveTo(0, 0).StateMoveTo);
  EXPECT_TRUE(edges.MoveTo(3, 4).StateMoveTo);
  EXPECT_EQ(edges.StartX(), 3);
  EXPECT_EQ(records.size(), 1u);
  edges.LineDelta(1, 0);
  TSWFStyleChangeRecord& again = edges.MoveTo(3, 4);
  EXPECT_EQ(records.size(), 3u) << "a move after an edge needs its own record";
  EXPECT_TRUE(again.StateMoveTo);
}

TEST(Shape, SameFillTwiceKeepsOneEntry) {
  TFlashMovie movie(0, 0, 100, 100, 12, true);
  TFlashShape& shape = movie.AddRectangle(0, 0, 10, 10);
  TSWFFillStyle& red = shape.AddFillStyle(std::make_unique<TSWFColorFill>());
  shape.AddFillStyle(std::make_unique<TSWFColorFill>());
  EXPECT_EQ(shape.FillStyle1(), 2);
  shape.AddFillStyle(red);
  EXPECT_EQ(shape.FillStyle1(), 1);
  EXPECT_EQ(shape.ShapeTag().FillStyles.size(), 2u);
  TSWFColorFill stranger;
  EXPECT_THROW(shape.AddFillStyle(stranger), std::invalid_argument);
}

TEST(Shape, StyleNumbersNeedAStyleChangeRecordFirst) {
  TFlashShape shape;
  shape.ShapeTag().Edges.clear();
  shape.ShapeTag().Edges.push_back(std::make_unique<TSWFEndShapeRecord>());
  shape.SetFillStyle0(2);
  shape.SetLineStyle(1);
  EXPECT_EQ(shape.FillStyle0(), 0);
  EXPECT_EQ(shape.LineStyle(), 0);
  TFlashShape other;
  other.SetFillStyle0(2);
  EXPECT_EQ(other.FillStyle0(), 2);
  EXPECT_TRUE(static_cast<TSWFStyleChangeRecord&>(*other.ShapeTag().Edges[0]).StateFillStyle0);
}

TEST(Shape, ImageAddedAfterItsShapeIsWrittenBeforeIt) {
  TFlashMovie movie(0, 0, 100, 100, 12, true);
  TFlashShape& shape = movie.AddRectangle(0, 0, 9, 10);
  TFlashImage& image = movie.AddImage();
  shape.AddImageFill(image);
  ASSERT_EQ(movie.ObjectList().size(), 2u);
  EXPECT_EQ(movie.ObjectList()[0].get(), &image);
  EXPECT_EQ(movie.ObjectList()[1].get(), &shape);
}

TEST(Shape, WrittenAsDefineShape2WithBoundsGrownByHalfTheWidestLine) {
  TFlashMovie movie(0, 0, 100, 100, 12, true);
  TFlashShape& shape = movie.AddRectangle(1, 1, 2, 2);
  auto line = std::make_unique<TSWFLineStyle>();
  line->Width = 41;
  shape.ShapeTag().LineStyles.push_back(std::move(line));
  TMemoryStream m;
  TBitsEngine be(m);
  shape.WriteToStream(be);
  EXPECT_EQ(shape.ShapeTag().TagID, 22);
  EXPECT_EQ(shape.ShapeTag().ShapeBounds.GetRec(), (TSWFRectRec{0, 60, 0, 60}));
  shape.HasAlpha = true;
  EXPECT_EQ(shape.MinVersion(), 3);
  shape.WriteToStream(be);
  EXPECT_EQ(shape.ShapeTag().TagID, 32);
}

TEST(Shape, ImageFillOfAnEmptyImageHasAFiniteScale) {
  TFlashMovie movie(0, 0, 100, 100, 12, true);
  TFlashImage& image = movie.AddImage();
  TSWFImageFill& fill = movie.AddImageShape(image).AddImageFill(image);
  EXPECT_TRUE(fill.BitmapMatrix.HasScale);
  EXPECT_EQ(fill.BitmapId, image.GetCharacterId());
}

}  // namespace
}  // namespace kestrova
