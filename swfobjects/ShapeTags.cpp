#include "swfobjects/ShapeTags.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace kestrova {

namespace {

// The signed width of a group of values whose largest magnitude is m.
std::uint8_t SignedWidth(std::uint32_t m) {
  return m == 0 ? 0 : static_cast<std::uint8_t>(GetBitsCount(m) + 1);
}

std::uint8_t CountWidth(std::size_t n) {
  return GetBitsCount(static_cast<std::uint32_t>(n));
}

void WriteStyleCount(TBitsEngine& be, std::size_t n) {
  if (n < 0xFF) {
    be.WriteByte(static_cast<std::uint8_t>(n));
  } else {
    be.WriteByte(0xFF);
    be.WriteWord(static_cast<std::uint16_t>(n));
  }
}

std::size_t ReadStyleCount(TBitsEngine& be) {
  const std::uint8_t n = be.ReadByte();
  return n == 0xFF ? be.ReadWord() : n;
}

void WriteColor(TBitsEngine& be, const TSWFRGBA& c, bool hasAlpha) {
  if (hasAlpha) {
    be.WriteRGBA(c.GetRGBARec());
  } else {
    be.WriteRGB(c.GetRec());
  }
}

void ReadColor(TBitsEngine& be, TSWFRGBA& c, bool hasAlpha) {
  if (hasAlpha) {
    c.SetHasAlpha(true);
    c.SetRGBA(be.ReadRGBA().Value());
  } else {
    c.SetRGB(be.ReadRGB());
  }
}

// A fill style of the class its type byte names: solid, gradient or bitmap, plain or morph.
template <class Base, class Solid, class Gradient, class Image>
std::unique_ptr<Base> CreateFillOfType(std::uint8_t type) {
  std::unique_ptr<Base> fill;
  if (type == 0x00) {
    fill = std::make_unique<Solid>();
  } else if (type == 0x10 || type == 0x12) {
    fill = std::make_unique<Gradient>();
  } else if (IsImageFillType(type)) {
    fill = std::make_unique<Image>();
  } else {
    char buf[64];
    std::snprintf(buf, sizeof buf, "Unknown fill style type 0x%02X", type);
    throw std::runtime_error(buf);
  }
  fill->FillStyleType = type;
  return fill;
}

const char* GradientKind(std::uint8_t type) {
  return type == 0x12 ? "radial" : "linear";
}

const char* BitmapKind(std::uint8_t type) {
  switch (type) {
    case 0x40:
      return "repeating";
    case 0x41:
      return "clipped";
    case 0x42:
      return "repeating non-smoothed";
    default:
      return "clipped non-smoothed";
  }
}

std::uint8_t CheckedGradientCount(std::uint8_t count) {
  if (count > TSWFGradientFill::kMaxGradients) {
    throw std::runtime_error("Gradient with " + std::to_string(count) + " records (at most 8)");
  }
  return count;
}

std::string PixelText(std::int32_t twips) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", twips / 20.0);
  return buf;
}

}  // namespace

// ---- fill styles ----

void TSWFColorFill::ReadFromStream(TBitsEngine& be) {
  ReadColor(be, Color, HasAlpha);
}

void TSWFColorFill::Write(TBitsEngine& be, bool hasAlpha) const {
  be.WriteByte(FillStyleType);
  WriteColor(be, Color, hasAlpha);
}

std::string TSWFColorFill::Description() const {
  return "solid " + ColorText(Color, HasAlpha);
}

void TSWFGradientFill::ReadFromStream(TBitsEngine& be) {
  GradientMatrix.SetRec(be.ReadMatrix());
  GradientCount = CheckedGradientCount(be.ReadByte());
  for (std::size_t i = 0; i < GradientCount; ++i) {
    FRecords[i].Ratio = be.ReadByte();
    ReadColor(be, FRecords[i].Color, HasAlpha);
  }
}

void TSWFGradientFill::Write(TBitsEngine& be, bool hasAlpha) const {
  const std::uint8_t count = std::min(GradientCount, kMaxGradients);
  be.WriteByte(FillStyleType);
  be.WriteMatrix(GradientMatrix.GetRec());
  be.WriteByte(count);
  for (std::size_t i = 0; i < count; ++i) {
    be.WriteByte(FRecords[i].Ratio);
    WriteColor(be, FRecords[i].Color, hasAlpha);
  }
}

std::string TSWFGradientFill::Description() const {
  return std::string(GradientKind(FillStyleType)) + " gradient of " + std::to_string(GradientCount);
}

void TSWFImageFill::ReadFromStream(TBitsEngine& be) {
  BitmapId = be.ReadWord();
  BitmapMatrix.SetRec(be.ReadMatrix());
}

void TSWFImageFill::Write(TBitsEngine& be, bool hasAlpha) const {
  (void)hasAlpha;  // a bitmap fill has no colour
  be.WriteByte(FillStyleType);
  be.WriteWord(BitmapId);
  be.WriteMatrix(BitmapMatrix.GetRec());
}

std::string TSWFImageFill::Description() const {
  return std::string(BitmapKind(FillStyleType)) + " bitmap " + std::to_string(BitmapId);
}

std::unique_ptr<TSWFFillStyle> CreateFillStyle(std::uint8_t type) {
  return CreateFillOfType<TSWFFillStyle, TSWFColorFill, TSWFGradientFill, TSWFImageFill>(type);
}

// ---- line styles ----

void TSWFLineStyle::Write(TBitsEngine& be, bool hasAlpha) const {
  be.WriteWord(Width);
  WriteColor(be, Color, hasAlpha);
}

void TSWFLineStyle::Read(TBitsEngine& be, bool hasAlpha) {
  Width = be.ReadWord();
  ReadColor(be, Color, hasAlpha);
}

// ---- style arrays ----

void WriteFillStyles(TBitsEngine& be, const TSWFFillStyleList& fills, bool hasAlpha) {
  WriteStyleCount(be, fills.size());
  for (const auto& fill : fills) fill->Write(be, hasAlpha);
}

void WriteLineStyles(TBitsEngine& be, const TSWFLineStyleList& lines, bool hasAlpha) {
  WriteStyleCount(be, lines.size());
  for (const auto& line : lines) line->Write(be, hasAlpha);
}

void ReadFillStyles(TBodyReader& body, TSWFFillStyleList& fills, bool hasAlpha) {
  TBitsEngine& be = body.Be;
  const std::size_t count = ReadStyleCount(be);
  for (std::size_t i = 0; i < count; ++i) {
    auto fill = CreateFillStyle(be.ReadByte());
    fill->HasAlpha = hasAlpha;
    fill->ReadFromStream(be);
    body.Check("fill style array");
    fills.push_back(std::move(fill));
  }
}

void ReadLineStyles(TBodyReader& body, TSWFLineStyleList& lines, bool hasAlpha) {
  TBitsEngine& be = body.Be;
  const std::size_t count = ReadStyleCount(be);
  for (std::size_t i = 0; i < count; ++i) {
    auto line = std::make_unique<TSWFLineStyle>();
    line->Read(be, hasAlpha);
    body.Check("line style array");
    lines.push_back(std::move(line));
  }
}

// ---- shape records ----

void TSWFShapeRecord::WriteToStream(TBitsEngine& be) {
  TShapeWriteState state;
  if (ShapeRecType == kStyleChange) {
    const auto& sc = static_cast<const TSWFStyleChangeRecord&>(*this);
    state.FillBits = sc.NumFillBits;
    state.LineBits = sc.NumLineBits;
    state.HasAlpha = sc.HasAlpha;
  }
  Write(be, state);
}

void TSWFEndShapeRecord::Write(TBitsEngine& be, TShapeWriteState& state) const {
  (void)state;
  be.WriteBits(0, 6);
}

void TSWFStraightEdgeRecord::Write(TBitsEngine& be, TShapeWriteState& state) const {
  (void)state;
  if (DeltaX == 0 && DeltaY == 0) return;
  const std::uint8_t n = SignedWidth(MaxAbs(DeltaX, DeltaY));
  be.WriteBits(0b11, 2);  // TypeFlag, StraightFlag
  be.WriteBits(n - 2u, 4);
  const bool general = DeltaX != 0 && DeltaY != 0;
  be.WriteBit(general);
  if (general) {
    be.WriteBits(static_cast<std::uint32_t>(DeltaX), n);
    be.WriteBits(static_cast<std::uint32_t>(DeltaY), n);
    return;
  }
  const bool vertical = DeltaX == 0;
  be.WriteBit(vertical);
  be.WriteBits(static_cast<std::uint32_t>(vertical ? DeltaY : DeltaX), n);
}

void TSWFStyleChangeRecord::SetMoveTo(std::int32_t x, std::int32_t y) {
  DeltaX = x;
  DeltaY = y;
  StateMoveTo = true;
}

void TSWFStyleChangeRecord::SetFillStyle0(std::uint16_t v) {
  FFillStyle0 = v;
  StateFillStyle0 = true;
}

void TSWFStyleChangeRecord::SetFillStyle1(std::uint16_t v) {
  FFillStyle1 = v;
  StateFillStyle1 = true;
}

void TSWFStyleChangeRecord::SetLineStyle(std::uint16_t v) {
  FLineStyle = v;
  StateLineStyle = true;
}

TSWFFillStyleList& TSWFStyleChangeRecord::NewFillStyles() {
  if (!FNewFillStyles) FNewFillStyles.emplace();
  StateNewStyles = true;
  return *FNewFillStyles;
}

TSWFLineStyleList& TSWFStyleChangeRecord::NewLineStyles() {
  if (!FNewLineStyles) FNewLineStyles.emplace();
  StateNewStyles = true;
  return *FNewLineStyles;
}

void TSWFStyleChangeRecord::Write(TBitsEngine& be, TShapeWriteState& state) const {
  bool fill0 = StateFillStyle0, fill1 = StateFillStyle1, line = StateLineStyle;
  bool newStyles = StateNewStyles;
  if (state.Rule == TEdgeStyleRule::ClearAll) {
    fill0 = fill1 = line = newStyles = false;
  } else if (state.Rule == TEdgeStyleRule::ClearUnused && !newStyles) {
    if (state.FillBits == 0) fill0 = fill1 = false;
    if (state.LineBits == 0) line = false;
  }
  be.WriteBit(false);  // TypeFlag
  be.WriteBit(newStyles);
  be.WriteBit(line);
  be.WriteBit(fill1);
  be.WriteBit(fill0);
  // Without any flag the record would read back as an end record, so it always moves then.
  const bool anyFlag = newStyles || line || fill1 || fill0;
  const bool move = anyFlag ? StateMoveTo : true;
  be.WriteBit(move);
  if (move) {
    const std::uint8_t n = SignedWidth(MaxAbs(DeltaX, DeltaY));
    be.WriteBits(n, 5);
    be.WriteBits(static_cast<std::uint32_t>(DeltaX), n);
    be.WriteBits(static_cast<std::uint32_t>(DeltaY), n);
  }
  if (fill0) be.WriteBits(FFillStyle0, state.FillBits);
  if (fill1) be.WriteBits(FFillStyle1, state.FillBits);
  if (line) be.WriteBits(FLineStyle, state.LineBits);
  if (!newStyles) return;
  be.FlushLastByte(true);
  const TSWFFillStyleList noFills;
  const TSWFLineStyleList noLines;
  WriteFillStyles(be, FNewFillStyles ? *FNewFillStyles : noFills, state.HasAlpha);
  WriteLineStyles(be, FNewLineStyles ? *FNewLineStyles : noLines, state.HasAlpha);
  state.FillBits = CountWidth(FNewFillStyles ? FNewFillStyles->size() : 0);
  state.LineBits = CountWidth(FNewLineStyles ? FNewLineStyles->size() : 0);
  be.WriteBits(state.FillBits, 4);
  be.WriteBits(state.LineBits, 4);
}

void TSWFCurvedEdgeRecord::Write(TBitsEngine& be, TShapeWriteState& state) const {
  (void)state;
  const std::uint32_t largest = MaxAbs(AnchorDeltaX, AnchorDeltaY, ControlDeltaX, ControlDeltaY);
  if (largest == 0) return;
  const std::uint8_t n = SignedWidth(largest);
  be.WriteBits(0b10, 2);  // TypeFlag, StraightFlag 0
  be.WriteBits(n - 2u, 4);
  for (const std::int32_t v : {ControlDeltaX, ControlDeltaY, AnchorDeltaX, AnchorDeltaY}) {
    be.WriteBits(static_cast<std::uint32_t>(v), n);
  }
}

std::unique_ptr<TSWFShapeRecord> CreateShapeRecord(std::uint8_t type) {
  switch (type) {
    case TSWFShapeRecord::kEnd:
      return std::make_unique<TSWFEndShapeRecord>();
    case TSWFShapeRecord::kStyleChange:
      return std::make_unique<TSWFStyleChangeRecord>();
    case TSWFShapeRecord::kStraightEdge:
      return std::make_unique<TSWFStraightEdgeRecord>();
    case TSWFShapeRecord::kCurvedEdge:
      return std::make_unique<TSWFCurvedEdgeRecord>();
    default:
      throw std::invalid_argument("Unknown shape record type " + std::to_string(type));
  }
}

// ---- record lists ----

namespace {

std::unique_ptr<TSWFShapeRecord> ReadEdgeRecord(TBitsEngine& be) {
  const bool straight = be.ReadBits(1) == 1;
  const int n = static_cast<int>(be.ReadBits(4)) + 2;
  if (!straight) {
    auto curve = std::make_unique<TSWFCurvedEdgeRecord>();
    curve->ControlDeltaX = be.ReadSBits(n);
    curve->ControlDeltaY = be.ReadSBits(n);
    curve->AnchorDeltaX = be.ReadSBits(n);
    curve->AnchorDeltaY = be.ReadSBits(n);
    return curve;
  }
  auto edge = std::make_unique<TSWFStraightEdgeRecord>();
  if (be.ReadBits(1) == 1) {
    edge->DeltaX = be.ReadSBits(n);
    edge->DeltaY = be.ReadSBits(n);
  } else if (be.ReadBits(1) == 1) {
    edge->DeltaY = be.ReadSBits(n);
  } else {
    edge->DeltaX = be.ReadSBits(n);
  }
  return edge;
}

// Reads a style-change record whose five flag bits are given; updates the widths after new
// styles.
std::unique_ptr<TSWFShapeRecord> ReadStyleChange(TBodyReader& body, std::uint32_t flags,
                                                 std::uint8_t& fillBits, std::uint8_t& lineBits,
                                                 bool hasAlpha) {
  TBitsEngine& be = body.Be;
  auto sc = std::make_unique<TSWFStyleChangeRecord>();
  sc->HasAlpha = hasAlpha;
  sc->NumFillBits = fillBits;
  sc->NumLineBits = lineBits;
  if (flags & 1) {
    const int n = static_cast<int>(be.ReadBits(5));
    const std::int32_t x = be.ReadSBits(n);
    sc->SetMoveTo(x, be.ReadSBits(n));
  }
  if (flags & 2) sc->SetFillStyle0(static_cast<std::uint16_t>(be.ReadBits(fillBits)));
  if (flags & 4) sc->SetFillStyle1(static_cast<std::uint16_t>(be.ReadBits(fillBits)));
  if (flags & 8) sc->SetLineStyle(static_cast<std::uint16_t>(be.ReadBits(lineBits)));
  if (flags & 16) {
    be.FlushLastByte(false);
    ReadFillStyles(body, sc->NewFillStyles(), hasAlpha);
    ReadLineStyles(body, sc->NewLineStyles(), hasAlpha);
    const std::uint8_t widths = be.ReadByte();
    fillBits = widths >> 4;
    lineBits = widths & 0x0F;
  }
  return sc;
}

}  // namespace

void WriteShapeRecords(TBitsEngine& be, const TSWFShapeRecordList& edges, std::uint8_t fillBits,
                       std::uint8_t lineBits, bool hasAlpha, TEdgeStyleRule rule) {
  TShapeWriteState state;
  state.FillBits = fillBits;
  state.LineBits = lineBits;
  state.HasAlpha = hasAlpha;
  state.Rule = rule;
  for (const auto& record : edges) {
    if (record->ShapeRecType != TSWFShapeRecord::kEnd) record->Write(be, state);
  }
  be.WriteBits(0, 6);  // the end record
  be.FlushLastByte(true);
}

void ReadShapeRecords(TBodyReader& body, TSWFShapeRecordList& edges, std::uint8_t fillBits,
                      std::uint8_t lineBits, bool hasAlpha) {
  TBitsEngine& be = body.Be;
  for (;;) {
    if (be.ReadBits(1) == 1) {
      edges.push_back(ReadEdgeRecord(be));
    } else {
      const std::uint32_t flags = be.ReadBits(5);
      if (flags == 0) {
        edges.push_back(std::make_unique<TSWFEndShapeRecord>());
        break;
      }
      edges.push_back(ReadStyleChange(body, flags, fillBits, lineBits, hasAlpha));
    }
    body.Check("shape records");
  }
  body.Check("shape records");
  be.FlushLastByte(false);
}

void CollectBitmapIDs(TSWFFillStyleList& fills, TSWFShapeRecordList& edges,
                      std::vector<std::uint16_t*>& ids) {
  for (auto& fill : fills) {
    auto* image = dynamic_cast<TSWFImageFill*>(fill.get());
    if (image && IsImageFillType(image->FillStyleType)) ids.push_back(&image->BitmapId);
  }
  for (auto& record : edges) {
    if (record->ShapeRecType != TSWFShapeRecord::kStyleChange) continue;
    auto& sc = static_cast<TSWFStyleChangeRecord&>(*record);
    TSWFFillStyleList* newFills = sc.NewFillStylesIfAny();
    if (sc.StateNewStyles && newFills) {
      TSWFShapeRecordList none;
      CollectBitmapIDs(*newFills, none, ids);
    }
  }
}

std::string DescribeShapeRecords(const TSWFShapeRecordList& edges) {
  std::size_t moves = 0, lines = 0, curves = 0;
  for (const auto& record : edges) {
    moves += record->ShapeRecType == TSWFShapeRecord::kStyleChange;
    lines += record->ShapeRecType == TSWFShapeRecord::kStraightEdge;
    curves += record->ShapeRecType == TSWFShapeRecord::kCurvedEdge;
  }
  return "style changes=" + std::to_string(moves) + " lines=" + std::to_string(lines) +
         " curves=" + std::to_string(curves);
}

std::string DescribeBoundsInPixels(const TSWFRect& r) {
  return PixelText(r.XMin()) + "," + PixelText(r.YMin()) + "-" + PixelText(r.XMax()) + "," +
         PixelText(r.YMax());
}

// ---- DefineShape ----

void TSWFDefineShape::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  Edges.clear();
  FillStyles.clear();
  LineStyles.clear();
  ShapeId = body.Word();
  ShapeBounds.SetRect(be.ReadRect());
  body.Check("shape bounds");
  ReadFillStyles(body, FillStyles, HasAlpha);
  ReadLineStyles(body, LineStyles, HasAlpha);
  const std::uint8_t widths = body.Byte();
  ReadShapeRecords(body, Edges, widths >> 4, widths & 0x0F, HasAlpha);
}

void TSWFDefineShape::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(ShapeId);
  be.WriteRect(ShapeBounds.GetRec());
  WriteFillStyles(be, FillStyles, HasAlpha);
  WriteLineStyles(be, LineStyles, HasAlpha);
  const std::uint8_t fillBits = CountWidth(FillStyles.size());
  const std::uint8_t lineBits = CountWidth(LineStyles.size());
  be.WriteBits(fillBits, 4);
  be.WriteBits(lineBits, 4);
  WriteShapeRecords(be, Edges, fillBits, lineBits, HasAlpha, TEdgeStyleRule::ClearUnused);
}

void TSWFDefineShape::ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) {
  CollectBitmapIDs(FillStyles, Edges, ids);
}

void TSWFDefineShape::Describe(TSWFDescription& d) const {
  d.Field("id", ShapeId);
  d.Field("bounds", DescribeBoundsInPixels(ShapeBounds));
  d.Field("fills", static_cast<std::int64_t>(FillStyles.size()));
  d.Field("lines", static_cast<std::int64_t>(LineStyles.size()));
  d.Field("records", static_cast<std::int64_t>(Edges.size()));
  for (std::size_t i = 0; i < FillStyles.size(); ++i) {
    d.Line("fill " + std::to_string(i + 1) + ": " + FillStyles[i]->Description());
  }
  d.Line(DescribeShapeRecords(Edges));
}

// ---- morph shapes ----

void TSWFMorphColorFill::ReadFromStream(TBitsEngine& be) {
  ReadColor(be, StartColor, true);
  ReadColor(be, EndColor, true);
}

void TSWFMorphColorFill::Write(TBitsEngine& be) const {
  be.WriteByte(FillStyleType);
  WriteColor(be, StartColor, true);
  WriteColor(be, EndColor, true);
}

std::string TSWFMorphColorFill::Description() const {
  return "solid " + ColorText(StartColor, true) + " to " + ColorText(EndColor, true);
}

void TSWFMorphGradientFill::ReadFromStream(TBitsEngine& be) {
  StartGradientMatrix.SetRec(be.ReadMatrix());
  EndGradientMatrix.SetRec(be.ReadMatrix());
  GradientCount = CheckedGradientCount(be.ReadByte());
  for (std::size_t i = 0; i < GradientCount; ++i) {
    FRecords[i].StartRatio = be.ReadByte();
    ReadColor(be, FRecords[i].StartColor, true);
    FRecords[i].EndRatio = be.ReadByte();
    ReadColor(be, FRecords[i].EndColor, true);
  }
}

void TSWFMorphGradientFill::Write(TBitsEngine& be) const {
  const std::uint8_t count = std::min(GradientCount, TSWFGradientFill::kMaxGradients);
  be.WriteByte(FillStyleType);
  be.WriteMatrix(StartGradientMatrix.GetRec());
  be.WriteMatrix(EndGradientMatrix.GetRec());
  be.WriteByte(count);
  for (std::size_t i = 0; i < count; ++i) {
    be.WriteByte(FRecords[i].StartRatio);
    WriteColor(be, FRecords[i].StartColor, true);
    be.WriteByte(FRecords[i].EndRatio);
    WriteColor(be, FRecords[i].EndColor, true);
  }
}

std::string TSWFMorphGradientFill::Description() const {
  return std::string(GradientKind(FillStyleType)) + " gradient of " + std::to_string(GradientCount);
}

void TSWFMorphImageFill::ReadFromStream(TBitsEngine& be) {
  BitmapId = be.ReadWord();
  StartBitmapMatrix.SetRec(be.ReadMatrix());
  EndBitmapMatrix.SetRec(be.ReadMatrix());
}

void TSWFMorphImageFill::Write(TBitsEngine& be) const {
  be.WriteByte(FillStyleType);
  be.WriteWord(BitmapId);
  be.WriteMatrix(StartBitmapMatrix.GetRec());
  be.WriteMatrix(EndBitmapMatrix.GetRec());
}

std::string TSWFMorphImageFill::Description() const {
  return std::string(BitmapKind(FillStyleType)) + " bitmap " + std::to_string(BitmapId);
}

std::unique_ptr<TSWFMorphFillStyle> CreateMorphFillStyle(std::uint8_t type) {
  return CreateFillOfType<TSWFMorphFillStyle, TSWFMorphColorFill, TSWFMorphGradientFill,
                          TSWFMorphImageFill>(type);
}

namespace {}  // namespace

void TSWFMorphLineStyle::Write(TBitsEngine& be) const {
  be.WriteWord(StartWidth);
  be.WriteWord(EndWidth);
  WriteColor(be, StartColor, true);
  WriteColor(be, EndColor, true);
}

void TSWFMorphLineStyle::Read(TBitsEngine& be) {
  StartWidth = be.ReadWord();
  EndWidth = be.ReadWord();
  ReadColor(be, StartColor, true);
  ReadColor(be, EndColor, true);
}

void TSWFDefineMorphShape::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  MorphFillStyles.clear();
  MorphLineStyles.clear();
  StartEdges.clear();
  EndEdges.clear();
  CharacterId = body.Word();
  StartBounds.SetRect(be.ReadRect());
  EndBounds.SetRect(be.ReadRect());
  body.Check("morph bounds");
  body.DWord();  // offset of the end edges: they are read in sequence instead
  for (std::size_t i = 0, n = ReadStyleCount(be); i < n; ++i) {
    MorphFillStyles.push_back(CreateMorphFillStyle(be.ReadByte()));
    MorphFillStyles.back()->ReadFromStream(be);
    body.Check("morph fill style array");
  }
  for (std::size_t i = 0, n = ReadStyleCount(be); i < n; ++i) {
    MorphLineStyles.push_back(std::make_unique<TSWFMorphLineStyle>());
    MorphLineStyles.back()->Read(be);
    body.Check("morph line style array");
  }
  std::uint8_t widths = body.Byte();
  ReadShapeRecords(body, StartEdges, widths >> 4, widths & 0x0F, true);
  widths = body.Byte();
  ReadShapeRecords(body, EndEdges, widths >> 4, widths & 0x0F, true);
}

void TSWFDefineMorphShape::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(CharacterId);
  be.WriteRect(StartBounds.GetRec());
  be.WriteRect(EndBounds.GetRec());
  be.WriteDWord(0);  // offset of the end edges, filled in below
  const std::uint64_t offsetEnd = be.Stream.Position();
  WriteStyleCount(be, MorphFillStyles.size());
  for (const auto& fill : MorphFillStyles) fill->Write(be);
  WriteStyleCount(be, MorphLineStyles.size());
  for (const auto& line : MorphLineStyles) line->Write(be);
  const std::uint8_t fillBits = CountWidth(MorphFillStyles.size());
  const std::uint8_t lineBits = CountWidth(MorphLineStyles.size());
  be.WriteBits(fillBits, 4);
  be.WriteBits(lineBits, 4);
  WriteShapeRecords(be, StartEdges, fillBits, lineBits, true, TEdgeStyleRule::ClearUnused);
  const std::uint64_t endEdges = be.Stream.Position();
  be.Stream.SetPosition(offsetEnd - 4);
  be.WriteDWord(static_cast<std::uint32_t>(endEdges - offsetEnd));
  be.Stream.SetPosition(endEdges);
  be.WriteByte(0);  // both index widths 0
  WriteShapeRecords(be, EndEdges, 0, 0, true, TEdgeStyleRule::ClearAll);
}

void TSWFDefineMorphShape::ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) {
  for (auto& fill : MorphFillStyles) {
    auto* image = dynamic_cast<TSWFMorphImageFill*>(fill.get());
    if (image && IsImageFillType(image->FillStyleType)) ids.push_back(&image->BitmapId);
  }
  TSWFFillStyleList none;
  CollectBitmapIDs(none, StartEdges, ids);
  CollectBitmapIDs(none, EndEdges, ids);
}

void TSWFDefineMorphShape::Describe(TSWFDescription& d) const {
  d.Field("id", CharacterId);
  d.Field("start", DescribeBoundsInPixels(StartBounds));
  d.Field("end", DescribeBoundsInPixels(EndBounds));
  d.Field("fills", static_cast<std::int64_t>(MorphFillStyles.size()));
  d.Field("lines", static_cast<std::int64_t>(MorphLineStyles.size()));
  d.Field("start_records", static_cast<std::int64_t>(StartEdges.size()));
  d.Field("end_records", static_cast<std::int64_t>(EndEdges.size()));
  for (std::size_t i = 0; i < MorphFillStyles.size(); ++i) {
    d.Line("fill " + std::to_string(i + 1) + ": " + MorphFillStyles[i]->Description());
  }
  d.Line("start: " + DescribeShapeRecords(StartEdges));
  d.Line("end: " + DescribeShapeRecords(EndEdges));
}

}  // namespace kestrova
