#include <gtest/gtest.h>

#include "swfobjects/SWFObjects.h"
#include "tests/swfobjects/TagFamilyTest.h"

namespace kestrova {
namespace {

using test::Bytes;
using test::GoldenRow;

std::unique_ptr<TSWFStraightEdgeRecord> Edge(std::int32_t dx, std::int32_t dy) {
  auto e = std::make_unique<TSWFStraightEdgeRecord>();
  e->DeltaX = dx;
  e->DeltaY = dy;
  return e;
}

std::unique_ptr<TSWFCurvedEdgeRecord> Curve(std::int32_t cx, std::int32_t cy, std::int32_t ax,
                                            std::int32_t ay) {
  auto c = std::make_unique<TSWFCurvedEdgeRecord>();
  c->ControlDeltaX = cx;
  c->ControlDeltaY = cy;
  c->AnchorDeltaX = ax;
  c->AnchorDeltaY = ay;
  return c;
}

std::unique_ptr<TSWFImageFill> ImageFill(std::uint16_t bitmap) {
  auto fill = std::make_unique<TSWFImageFill>();
  fill->BitmapId = bitmap;
  return fill;
}

// A 20 x 20 pixel rectangle filled with a clipped bitmap. With noise, a zero edge and an end record
// sit inside the list and the list ends on an edge: the bytes must not change.
std::unique_ptr<TSWFObject> RectangleShape(bool noise) {
  auto s = std::make_unique<TSWFDefineShape3>();
  s->ShapeId = 1;
  s->ShapeBounds.SetRec({0, 400, 0, 400});
  s->FillStyles.push_back(ImageFill(1));
  auto sc = std::make_unique<TSWFStyleChangeRecord>();
  sc->SetMoveTo(0, 0);
  sc->SetFillStyle1(1);
  s->Edges.push_back(std::move(sc));
  s->Edges.push_back(Edge(400, 0));
  if (noise) s->Edges.push_back(Edge(0, 0));
  s->Edges.push_back(Edge(0, 400));
  if (noise) s->Edges.push_back(std::make_unique<TSWFEndShapeRecord>());
  s->Edges.push_back(Edge(-400, 0));
  s->Edges.push_back(Edge(0, -400));
  if (!noise) s->Edges.push_back(std::make_unique<TSWFEndShapeRecord>());
  return s;
}

const Bytes kRectangleBody = {
    0x01, 0x00,                          // ShapeId 1
    0x50, 0x00, 0xC8, 0x00, 0x0C, 0x80,  // RECT: 10 bits, 0 400 0 400
    0x01,                                // one fill
    0x41, 0x01, 0x00, 0x00,              // clipped bitmap 1, identity matrix
    0x00,                                // no lines
    0x10,                                // NumFillBits 1, NumLineBits 0
    // style change: move flag + FillStyle1 flag, MoveBits 0, FillStyle1 = 1 in one bit; then four
    // edges with NumBits 10 (written 8), GeneralLineFlag 0; end record; padding
    0x14, 0x1E, 0x06, 0x43, 0x85, 0x90, 0xE0, 0x9C, 0x38, 0x67, 0x00, 0x00};

// One line style, no fills: the FillStyle0 flag cannot be held at a fill width of 0 and is
// dropped; a curve and a general line follow.
std::unique_ptr<TSWFObject> CurveShape() {
  auto s = std::make_unique<TSWFDefineShape>();
  s->ShapeId = 2;
  auto line = std::make_unique<TSWFLineStyle>();
  line->Width = 20;
  line->Color.SetRGB(SWFRGB(0x11, 0x22, 0x33));
  s->LineStyles.push_back(std::move(line));
  auto sc = std::make_unique<TSWFStyleChangeRecord>();
  sc->SetLineStyle(1);
  sc->SetFillStyle0(1);
  s->Edges.push_back(std::move(sc));
  s->Edges.push_back(Curve(10, 0, 10, 10));
  s->Edges.push_back(Edge(5, -3));
  return s;
}

// New styles inside the records: the widths that follow them come from the new counts.
std::unique_ptr<TSWFObject> NewStylesShape() {
  auto s = std::make_unique<TSWFDefineShape2>();
  s->ShapeId = 3;
  auto sc = std::make_unique<TSWFStyleChangeRecord>();
  sc->SetMoveTo(10, 10);
  sc->SetFillStyle1(0);
  auto fill = std::make_unique<TSWFColorFill>();
  fill->Color.SetRGB(SWFRGB(0x11, 0x22, 0x33));
  sc->NewFillStyles().push_back(std::move(fill));
  auto line = std::make_unique<TSWFLineStyle>();
  line->Width = 20;
  line->Color.SetRGB(SWFRGB(0x44, 0x55, 0x66));
  sc->NewLineStyles().push_back(std::move(line));
  s->Edges.push_back(std::move(sc));
  auto select = std::make_unique<TSWFStyleChangeRecord>();
  select->SetFillStyle1(1);
  select->SetLineStyle(1);
  s->Edges.push_back(std::move(select));
  s->Edges.push_back(Edge(0, -40));
  return s;
}

std::unique_ptr<TSWFObject> MoveOnlyShape(std::int32_t x, std::int32_t y, bool flagged) {
  auto s = std::make_unique<TSWFDefineShape>();
  s->ShapeId = 4;
  auto sc = std::make_unique<TSWFStyleChangeRecord>();
  if (flagged) {
    sc->SetMoveTo(x, y);
  } else {
    sc->DeltaX = x;  // no flag at all: the move bit is still written
    sc->DeltaY = y;
  }
  s->Edges.push_back(std::move(sc));
  return s;
}

std::unique_ptr<TSWFObject> GradientShape() {
  auto s = std::make_unique<TSWFDefineShape3>();
  s->ShapeId = 5;
  auto g = std::make_unique<TSWFGradientFill>();
  g->FillStyleType = 0x12;
  g->GradientCount = 2;
  g->Gradient(1).Ratio = 0;
  g->Gradient(1).Color.SetRGBA(0x800000FF);
  g->Gradient(2).Ratio = 255;
  g->Gradient(2).Color.SetRGBA(0xFFFF0000);
  s->FillStyles.push_back(std::move(g));
  auto sc = std::make_unique<TSWFStyleChangeRecord>();
  sc->SetMoveTo(0, 0);
  s->Edges.push_back(std::move(sc));
  return s;
}

std::unique_ptr<TSWFObject> ManyFillsShape() {
  auto s = std::make_unique<TSWFDefineShape>();
  s->ShapeId = 6;
  for (int i = 0; i < 255; ++i) {
    auto fill = std::make_unique<TSWFColorFill>();
    fill->Color.SetRGB(SWFRGB(static_cast<std::uint8_t>(i), 0, 0));
    s->FillStyles.push_back(std::move(fill));
  }
  return s;
}

Bytes ManyFillsBody() {
  Bytes b = {0x06, 0x00, 0x00, 0xFF, 0xFF, 0x00 /* 0xFF escape, UI16 255 */};
  for (int i = 0; i < 255; ++i) b.insert(b.end(), {0x00, static_cast<std::uint8_t>(i), 0, 0});
  b.insert(b.end(), {0x00 /* no lines */, 0x80 /* NumFillBits 8 */, 0x00 /* end record */});
  return b;
}

std::unique_ptr<TSWFObject> MorphShape() {
  auto m = std::make_unique<TSWFDefineMorphShape>();
  m->CharacterId = 1;
  auto fill = std::make_unique<TSWFMorphColorFill>();
  fill->StartColor.SetRGBA(0xFF0000FF);
  fill->EndColor.SetRGBA(0xFFFF0000);
  m->MorphFillStyles.push_back(std::move(fill));
  auto line = std::make_unique<TSWFMorphLineStyle>();
  line->StartWidth = 20;
  line->EndWidth = 40;
  line->StartColor.SetRGBA(0xFF000000);
  line->EndColor.SetRGBA(0xFF00FF00);
  m->MorphLineStyles.push_back(std::move(line));
  auto start = std::make_unique<TSWFStyleChangeRecord>();
  start->SetMoveTo(0, 0);
  start->SetFillStyle0(1);
  start->SetLineStyle(1);
  m->StartEdges.push_back(std::move(start));
  m->StartEdges.push_back(Edge(100, 0));
  auto end = std::make_unique<TSWFStyleChangeRecord>();
  end->SetMoveTo(0, 0);
  end->SetFillStyle0(1);  // the end edges carry no styles: cleared
  m->EndEdges.push_back(std::move(end));
  m->EndEdges.push_back(Edge(200, 0));
  return m;
}

const std::vector<GoldenRow>& ShapeRows() {
  static const std::vector<GoldenRow> rows = {
      {"DefineShape3 bitmap rectangle", 32, [] { return RectangleShape(false); }, kRectangleBody},
      {"zero edge and inner end record write nothing", 32, [] { return RectangleShape(true); },
       kRectangleBody},
      {"DefineShape curve and general line",
       2,
       CurveShape,
       {0x02, 0x00, 0x00 /* RECT 0 */, 0x00 /* no fills */, 0x01, 0x14, 0x00, 0x11, 0x22,
        0x33 /* one line: width 20, RGB */, 0x01 /* NumFillBits 0, NumLineBits 1 */,
        // style change (line 1, no move), curve NumBits 5: 10 0 10 10, general line NumBits 4:
        // 5 -3, end record
        0x23, 0x1A, 0x80, 0xA5, 0x65, 0x5D, 0x00}},
      {"DefineShape2 new styles",
       22,
       NewStylesShape,
       {0x03,
        0x00,
        0x00,
        0x00,
        0x00,
        0x00 /* id, RECT, no styles, widths 0 0 */,
        0x54,
        0xAA,
        0x50 /* new styles + fill 1 + move (10, 10) at 5 bits, aligned */,
        0x01,
        0x00,
        0x11,
        0x22,
        0x33 /* one RGB fill */,
        0x01,
        0x14,
        0x00,
        0x44,
        0x55,
        0x66 /* one line */,
        0x11 /* new widths 1 1 */,
        0x33,
        0xD5,
        0xB0,
        0x00 /* fill 1, line 1, edge 0 -40, end */}},
      {"style change without flags still moves",
       2,
       [] { return MoveOnlyShape(30, -10, false); },
       {0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0xCF, 0x6C,
        0x00 /* 0 0000 1, MoveBits 6, 30, -10, end */}},
      {"move to (0, 0) only",
       2,
       [] { return MoveOnlyShape(0, 0, true); },
       {0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00 /* 0 0000 1 00000, end */}},
      {"DefineShape3 radial gradient with alpha",
       32,
       GradientShape,
       {0x05,
        0x00,
        0x00,
        0x01,
        0x12,
        0x00 /* radial, identity matrix */,
        0x02 /* two records */,
        0x00,
        0xFF,
        0x00,
        0x00,
        0x80 /* ratio 0, RGBA */,
        0xFF,
        0x00,
        0x00,
        0xFF,
        0xFF,
        0x00 /* no lines */,
        0x10,
        0x04,
        0x00,
        0x00}},
      {"255 fill styles take the escape", 2, ManyFillsShape, ManyFillsBody()},
      {"DefineMorphShape",
       46,
       MorphShape,
       {0x01,
        0x00,
        0x00,
        0x00 /* id, two empty RECTs */,
        0x1D,
        0x00,
        0x00,
        0x00 /* offset 29: styles, widths and start edges */,
        0x01,
        0x00,
        0xFF,
        0x00,
        0x00,
        0xFF,
        0x00,
        0x00,
        0xFF,
        0xFF /* colour fill */,
        0x01,
        0x14,
        0x00,
        0x28,
        0x00,
        0x00,
        0x00,
        0x00,
        0xFF,
        0x00,
        0xFF,
        0x00,
        0xFF /* line */,
        0x11 /* widths 1 1 */,
        0x2C,
        0x1E,
        0xC3,
        0x20,
        0x00 /* start edges */,
        0x00 /* widths 0 0 */,
        0x04,
        0x1B,
        0x8C,
        0x80,
        0x00 /* end edges, flags cleared */}},
  };
  return rows;
}

TEST(ShapeTags, GoldenBytesReadAndRoundTrip) {
  for (const auto& row : ShapeRows()) test::CheckGoldenRow(row);
}

TEST(ShapeTags, TruncatedBodiesBecomeErrorTags) {
  for (const auto& row : ShapeRows()) test::SweepTruncatedPrefixes(row);
}

TEST(ShapeTags, ReadsTheFieldsBack) {
  auto tag = test::ReadBody(32, kRectangleBody);
  const auto& s = static_cast<const TSWFDefineShape3&>(*tag);
  EXPECT_TRUE(s.HasAlpha);
  EXPECT_EQ(s.ShapeBounds.XMax(), 400);
  ASSERT_EQ(s.FillStyles.size(), 1u);
  EXPECT_EQ(static_cast<const TSWFImageFill&>(*s.FillStyles[0]).BitmapId, 1);
  ASSERT_EQ(s.Edges.size(), 6u);  // style change, four edges, end
  const auto& sc = static_cast<const TSWFStyleChangeRecord&>(*s.Edges[0]);
  EXPECT_TRUE(sc.StateFillStyle1);
  EXPECT_EQ(sc.FillStyle1(), 1);
  EXPECT_EQ(static_cast<const TSWFStraightEdgeRecord&>(*s.Edges[4]).DeltaY, -400);
  EXPECT_EQ(s.Edges[5]->ShapeRecType, TSWFShapeRecord::kEnd);

  auto morph = test::ReadBody(46, test::WriteBody(*MorphShape()));
  const auto& m = static_cast<const TSWFDefineMorphShape&>(*morph);
  EXPECT_EQ(m.StartEdges.size(), 3u);
  ASSERT_EQ(m.EndEdges.size(), 3u);
  EXPECT_EQ(static_cast<const TSWFStraightEdgeRecord&>(*m.EndEdges[1]).DeltaX, 200);
}

TEST(ShapeTags, MorphGradientAndBitmapFillsRoundTrip) {
  TSWFDefineMorphShape m;
  m.CharacterId = 9;
  m.StartBounds.SetRec({-20, 20, -40, 40});
  auto g = std::make_unique<TSWFMorphGradientFill>();
  g->GradientCount = 3;
  g->StartGradientMatrix.SetScale(2.0f, 0.5f);
  g->Gradient(3).EndRatio = 200;
  g->Gradient(3).EndColor.SetRGBA(0x01020304);
  m.MorphFillStyles.push_back(std::move(g));
  auto image = std::make_unique<TSWFMorphImageFill>();
  image->FillStyleType = 0x43;
  image->BitmapId = 12;
  image->EndBitmapMatrix.SetTranslate(-100, 300);
  m.MorphFillStyles.push_back(std::move(image));
  const Bytes body = test::WriteBody(m);
  auto back = test::ReadBody(46, body);
  EXPECT_EQ(test::WriteBody(*back), body);
  const auto& b = static_cast<const TSWFDefineMorphShape&>(*back);
  ASSERT_EQ(b.MorphFillStyles.size(), 2u);
  EXPECT_EQ(b.MorphFillStyles[1]->FillStyleType, 0x43);
  EXPECT_EQ(static_cast<const TSWFMorphImageFill&>(*b.MorphFillStyles[1]).BitmapId, 12);
}

TEST(ShapeTags, BadFillTypeFailsOnlyItsTag) {
  // A DefineShape whose one fill names type 0x20, then a ShowFrame.
  const Bytes shape = {0x01, 0x00, 0x00, 0x01, 0x20, 0x00, 0x00, 0x00, 0x00};
  auto reader = test::ParseRecords(test::Concat({test::Record(2, shape), {0x40, 0x00}}));
  ASSERT_EQ(reader->TagList.size(), 2u);
  ASSERT_TRUE(reader->TagList[0]->Error() != nullptr);
  const auto& error = static_cast<const TSWFErrorTag&>(*reader->TagList[0]->SWFObject);
  EXPECT_EQ(error.FailedTagID, 2);
  EXPECT_NE(error.ErrorMessage.find("fill style type 0x20"), std::string::npos)
      << error.ErrorMessage;
  EXPECT_EQ(reader->TagList[1]->TagID, 1);

  // The same for a morph fill and for a fill among the new styles of a record.
  EXPECT_THROW(test::ReadBody(46, {0x01, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0x01, 0x33}),
               std::runtime_error);
  EXPECT_THROW(CreateFillStyle(0x13), std::runtime_error);
}

TEST(ShapeTags, GradientCountAboveEightIsRefused) {
  const Bytes shape = {0x01, 0x00, 0x00, 0x01, 0x10, 0x00, 0x09 /* nine records */};
  Bytes body = shape;
  body.resize(body.size() + 9 * 4 + 3, 0);
  EXPECT_THROW(test::ReadBody(2, body), std::runtime_error);
}

TEST(ShapeTags, RecordsStopAtTheEndOfTheBody) {
  // Edges that never end must fail at the tag's end even when more bytes follow in the stream.
  Bytes body = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF};
  auto reader = test::ParseRecords(test::Concat({test::Record(2, body), {0xFF, 0xFF, 0xFF, 0xFF}}));
  ASSERT_GE(reader->TagList.size(), 1u);
  EXPECT_TRUE(reader->TagList[0]->Error() != nullptr);
}

TEST(ShapeTags, AssignMakesADeepCopy) {
  auto original = NewStylesShape();
  auto copy = CloneTag(*original);
  const Bytes before = test::WriteTag(*copy);
  auto& sc =
      static_cast<TSWFStyleChangeRecord&>(*static_cast<TSWFDefineShape&>(*original).Edges[0]);
  static_cast<TSWFColorFill&>(*sc.NewFillStyles()[0]).Color.SetRGB(SWFRGB(1, 2, 3));
  EXPECT_EQ(test::WriteTag(*copy), before);
  EXPECT_NE(test::WriteTag(*original), before);
}

// An opaque RGBA line colour stays RGBA in a copy written on its own.
TEST(ShapeTags, LineStyleCopyKeepsTheAlphaFlag) {
  TSWFLineStyle line;
  line.Width = 20;
  line.Color.SetHasAlpha(true);
  line.Color.SetRGBA(0xFF030201);
  TSWFLineStyle copy;
  copy.Assign(line);
  for (TSWFLineStyle* l : {&line, &copy}) {
    TMemoryStream m;
    TBitsEngine be(m);
    l->WriteToStream(be);
    EXPECT_EQ(m.Bytes(), (Bytes{0x14, 0x00, 0x01, 0x02, 0x03, 0xFF})) << test::Hex(m.Bytes());
  }
}

TEST(ShapeTags, Describe) {
  TSWFDescription d;
  RectangleShape(false)->Describe(d);
  EXPECT_EQ(d.Fields, "id=1 bounds=0,0-20,20 fills=1 lines=0 records=6");
  ASSERT_EQ(d.Lines.size(), 2u);
  EXPECT_EQ(d.Lines[0].second, "fill 1: clipped bitmap 1");
  EXPECT_EQ(d.Lines[1].second, "style changes=1 lines=4 curves=0");
}

// A bitmap with id 2, a shape with id 1 filled with it and a placement of the shape, renumbered
// from 100: the bitmap is 100, the shape 101, the fill refers to 100 and the placement to 101.
TEST(ShapeTags, ChangeCharacterIDsOfAPlacedBitmapShape) {
  TSWFDefineBitsLossless bitmap;
  bitmap.CharacterId = 2;
  bitmap.BitmapFormat = 5;
  auto shape = RectangleShape(false);
  static_cast<TSWFDefineShape&>(*shape).ShapeId = 1;
  static_cast<TSWFImageFill&>(*static_cast<TSWFDefineShape&>(*shape).FillStyles[0]).BitmapId = 2;
  TSWFPlaceObject2 place;
  place.Depth = 1;
  place.SetCharacterId(1);
  auto reader = test::ParseRecords(
      test::Concat({test::WriteTag(bitmap), test::WriteTag(*shape), test::WriteTag(place)}));
  ASSERT_EQ(reader->TagList.size(), 3u);
  EXPECT_EQ(reader->ChangeCharacterIDs(100), 102);
  const auto& b = static_cast<const TSWFDefineBitsLossless&>(*reader->TagList[0]->SWFObject);
  const auto& s = static_cast<const TSWFDefineShape&>(*reader->TagList[1]->SWFObject);
  const auto& p = static_cast<const TSWFPlaceObject2&>(*reader->TagList[2]->SWFObject);
  EXPECT_EQ(b.CharacterId, 100);
  EXPECT_EQ(s.ShapeId, 101);
  EXPECT_EQ(static_cast<const TSWFImageFill&>(*s.FillStyles[0]).BitmapId, 100);
  EXPECT_EQ(p.CharacterId(), 101);
}

// Bitmap ids in new styles and morph fills are renumbered too; ids that nothing defines are left
// alone.
TEST(ShapeTags, ChangeCharacterIDs) {
  TSWFDefineBitsLossless bitmap;
  bitmap.CharacterId = 2;
  bitmap.BitmapFormat = 5;
  auto shape = RectangleShape(false);
  auto& s = static_cast<TSWFDefineShape&>(*shape);
  s.FillStyles[0] = ImageFill(2);
  s.FillStyles.push_back(ImageFill(7));  // undefined here: kept
  auto solid = std::make_unique<TSWFColorFill>();
  s.FillStyles.push_back(std::move(solid));
  auto& sc = static_cast<TSWFStyleChangeRecord&>(*s.Edges[0]);
  sc.NewFillStyles().push_back(ImageFill(2));
  auto morph = MorphShape();
  auto& m = static_cast<TSWFDefineMorphShape&>(*morph);
  m.CharacterId = 3;
  auto morphImage = std::make_unique<TSWFMorphImageFill>();
  morphImage->BitmapId = 2;
  m.MorphFillStyles.push_back(std::move(morphImage));

  auto reader = test::ParseRecords(
      test::Concat({test::WriteTag(bitmap), test::WriteTag(*shape), test::WriteTag(*morph)}));
  ASSERT_EQ(reader->TagList.size(), 3u);
  EXPECT_EQ(reader->ChangeCharacterIDs(100), 103);
  reader->MakeStream();
  reader->ParseTags();
  const auto& b = static_cast<const TSWFDefineBitsLossless&>(*reader->TagList[0]->SWFObject);
  const auto& rs = static_cast<const TSWFDefineShape&>(*reader->TagList[1]->SWFObject);
  const auto& rm = static_cast<const TSWFDefineMorphShape&>(*reader->TagList[2]->SWFObject);
  EXPECT_EQ(b.CharacterId, 100);
  EXPECT_EQ(rs.ShapeId, 101);
  EXPECT_EQ(static_cast<const TSWFImageFill&>(*rs.FillStyles[0]).BitmapId, 100);
  EXPECT_EQ(static_cast<const TSWFImageFill&>(*rs.FillStyles[1]).BitmapId, 7);
  const auto& rsc = static_cast<const TSWFStyleChangeRecord&>(*rs.Edges[0]);
  ASSERT_NE(rsc.NewFillStylesIfAny(), nullptr);
  EXPECT_EQ(static_cast<const TSWFImageFill&>(*(*rsc.NewFillStylesIfAny())[0]).BitmapId, 100);
  EXPECT_EQ(rm.CharacterId, 102);
  EXPECT_EQ(static_cast<const TSWFMorphImageFill&>(*rm.MorphFillStyles[1]).BitmapId, 100);
}

}  // namespace
}  // namespace kestrova
