// Shape tags and their records: fill and line styles, the four shape records, DefineShape,
// DefineShape2, DefineShape3 and DefineMorphShape. The shape-record reader and writer here also
// carry the glyph outlines of the font tags.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "swfobjects/CopyPtr.h"
#include "swfobjects/SWFObject.h"

namespace kestrova {

// ---- fill styles ----

class TSWFFillStyle : public TBasedSWFObject {
 public:
  bool HasAlpha = false;  // colours are RGBA rather than RGB
  std::uint8_t FillStyleType = 0;

  bool operator==(const TSWFFillStyle&) const = default;
  virtual std::unique_ptr<TSWFFillStyle> Clone() const = 0;
  virtual bool Equals(const TSWFFillStyle& other) const = 0;
  int LibraryLevel() const override { return 0; }
  // Reads everything after the type byte; the caller has set FillStyleType and HasAlpha.
  virtual void ReadFromStream(TBitsEngine& be) = 0;
  // Writes the type byte and the fill, colours as RGBA when hasAlpha (the enclosing shape's
  // setting, whatever HasAlpha says).
  virtual void Write(TBitsEngine& be, bool hasAlpha) const = 0;
  void WriteToStream(TBitsEngine& be) override { Write(be, HasAlpha); }
  // "solid #RRGGBB", "linear gradient of 2", "clipped bitmap 3".
  virtual std::string Description() const = 0;

 protected:
  explicit TSWFFillStyle(std::uint8_t type) : FillStyleType(type) {}
};
using TSWFFillStyleList = std::vector<TCopyPtr<TSWFFillStyle>>;

class TSWFColorFill : public TSWFFillStyle {
 public:
  TSWFColorFill() : TSWFFillStyle(0x00) {}
  TSWFRGBA Color;
  KESTROVA_COPYABLE(TSWFFillStyle, TSWFColorFill)
  void ReadFromStream(TBitsEngine& be) override;
  void Write(TBitsEngine& be, bool hasAlpha) const override;
  std::string Description() const override;
};

struct TSWFGradientRecord {
  std::uint8_t Ratio = 0;
  TSWFRGBA Color;
  bool operator==(const TSWFGradientRecord&) const = default;
};

class TSWFGradientFill : public TSWFFillStyle {
 public:
  static constexpr std::uint8_t kMaxGradients = 8;
  TSWFGradientFill() : TSWFFillStyle(0x10) {}
  TSWFMatrix GradientMatrix;
  // Records written and read; the writer never goes past kMaxGradients, and the reader refuses a
  // larger count.
  std::uint8_t GradientCount = 0;
  // Gradient records 1 to 8 (index 0 to 7); throws std::out_of_range outside.
  TSWFGradientRecord& Gradient(std::size_t number) { return FRecords.at(number - 1); }
  const TSWFGradientRecord& Gradient(std::size_t number) const { return FRecords.at(number - 1); }
  KESTROVA_COPYABLE(TSWFFillStyle, TSWFGradientFill)
  void ReadFromStream(TBitsEngine& be) override;
  void Write(TBitsEngine& be, bool hasAlpha) const override;
  std::string Description() const override;

 private:
  std::array<TSWFGradientRecord, kMaxGradients> FRecords;
};

class TSWFImageFill : public TSWFFillStyle {
 public:
  TSWFImageFill() : TSWFFillStyle(0x41) {}
  std::uint16_t BitmapId = 0;
  TSWFMatrix BitmapMatrix;
  KESTROVA_COPYABLE(TSWFFillStyle, TSWFImageFill)
  void ReadFromStream(TBitsEngine& be) override;
  void Write(TBitsEngine& be, bool hasAlpha) const override;
  std::string Description() const override;
};

// Fill types 0x40 to 0x43 are bitmap fills.
inline bool IsImageFillType(std::uint8_t type) {
  return type >= 0x40 && type <= 0x43;
}
// A new fill of the class the type byte selects, with FillStyleType set; throws
// std::runtime_error for a byte that names no fill style.
std::unique_ptr<TSWFFillStyle> CreateFillStyle(std::uint8_t type);

// ---- line styles ----

class TSWFLineStyle : public TBasedSWFObject {
 public:
  TSWFRGBA Color;
  std::uint16_t Width = 0;  // twips
  void Assign(const TBasedSWFObject& source) override { *this = SameClass(source, *this); }
  bool operator==(const TSWFLineStyle&) const = default;
  int LibraryLevel() const override { return 0; }
  // The colour is RGBA when Color has alpha.
  void WriteToStream(TBitsEngine& be) override { Write(be, Color.HasAlpha()); }
  // The colour is RGBA when hasAlpha (the enclosing shape's setting); Color is left as it is.
  void Write(TBitsEngine& be, bool hasAlpha) const;
  void Read(TBitsEngine& be, bool hasAlpha);
};
using TSWFLineStyleList = std::vector<TCopyPtr<TSWFLineStyle>>;

// ---- shape records ----

// How the edge writer treats the style flags of style-change records.
enum class TEdgeStyleRule {
  ClearUnused,  // a width of 0 clears the flags of the indices it cannot hold
  ClearAll,     // every style flag is cleared (the end edges of a morph shape)
  Keep,         // flags are written as they are (glyph outlines)
};

// What the records of one edge list are written with: the index widths in force (a style change
// with new styles sets them for the records after it), colour form and style rule.
struct TShapeWriteState {
  std::uint8_t FillBits = 0, LineBits = 0;
  bool HasAlpha = false;
  TEdgeStyleRule Rule = TEdgeStyleRule::Keep;
};

class TSWFShapeRecord : public TBasedSWFObject {
 public:
  enum : std::uint8_t { kEnd = 0, kStyleChange = 1, kStraightEdge = 2, kCurvedEdge = 3 };
  std::uint8_t ShapeRecType = 0;
  bool operator==(const TSWFShapeRecord&) const = default;
  virtual std::unique_ptr<TSWFShapeRecord> Clone() const = 0;
  virtual bool Equals(const TSWFShapeRecord& other) const = 0;
  int LibraryLevel() const override { return 0; }
  virtual void Write(TBitsEngine& be, TShapeWriteState& state) const = 0;
  // Writes the record alone, with the settings it holds.
  void WriteToStream(TBitsEngine& be) override;

 protected:
  explicit TSWFShapeRecord(std::uint8_t type) : ShapeRecType(type) {}
};
using TSWFShapeRecordList = std::vector<TCopyPtr<TSWFShapeRecord>>;

class TSWFEndShapeRecord : public TSWFShapeRecord {
 public:
  TSWFEndShapeRecord() : TSWFShapeRecord(kEnd) {}
  KESTROVA_COPYABLE(TSWFShapeRecord, TSWFEndShapeRecord)
  void Write(TBitsEngine& be, TShapeWriteState& state) const override;
};

class TSWFStraightEdgeRecord : public TSWFShapeRecord {
 public:
  TSWFStraightEdgeRecord() : TSWFShapeRecord(kStraightEdge) {}
  std::int32_t DeltaX = 0, DeltaY = 0;  // twips
  KESTROVA_COPYABLE(TSWFShapeRecord, TSWFStraightEdgeRecord)
  // Writes nothing at all for a zero edge.
  void Write(TBitsEngine& be, TShapeWriteState& state) const override;

 protected:
  explicit TSWFStraightEdgeRecord(std::uint8_t type) : TSWFShapeRecord(type) {}
};

// The straight edge's deltas serve as the move deltas.
class TSWFStyleChangeRecord : public TSWFStraightEdgeRecord {
 public:
  TSWFStyleChangeRecord() : TSWFStraightEdgeRecord(kStyleChange) {}
  std::uint8_t NumFillBits = 0, NumLineBits = 0;  // index widths in force when read
  bool StateFillStyle0 = false, StateFillStyle1 = false, StateLineStyle = false;
  bool StateMoveTo = false, StateNewStyles = false;
  bool HasAlpha = false;  // the new styles were read with alpha

  std::int32_t MoveDeltaX() const { return DeltaX; }
  std::int32_t MoveDeltaY() const { return DeltaY; }
  // Sets both deltas and StateMoveTo.
  void SetMoveTo(std::int32_t x, std::int32_t y);
  std::uint16_t FillStyle0() const { return FFillStyle0; }
  std::uint16_t FillStyle1() const { return FFillStyle1; }
  std::uint16_t LineStyle() const { return FLineStyle; }
  // Each setter raises its state flag.
  void SetFillStyle0(std::uint16_t v);
  void SetFillStyle1(std::uint16_t v);
  void SetLineStyle(std::uint16_t v);
  // Made on first access, which raises StateNewStyles.
  TSWFFillStyleList& NewFillStyles();
  TSWFLineStyleList& NewLineStyles();
  // The lists without making them: null when never accessed.
  const TSWFFillStyleList* NewFillStylesIfAny() const {
    return FNewFillStyles ? &*FNewFillStyles : nullptr;
  }
  const TSWFLineStyleList* NewLineStylesIfAny() const {
    return FNewLineStyles ? &*FNewLineStyles : nullptr;
  }
  TSWFFillStyleList* NewFillStylesIfAny() { return FNewFillStyles ? &*FNewFillStyles : nullptr; }

  KESTROVA_COPYABLE(TSWFShapeRecord, TSWFStyleChangeRecord)
  // Writes with the widths, alpha and rule of state; with new styles, sets the state's widths to
  // those of the new counts. (WriteToStream uses NumFillBits, NumLineBits and HasAlpha.)
  void Write(TBitsEngine& be, TShapeWriteState& state) const override;

 private:
  std::uint16_t FFillStyle0 = 0, FFillStyle1 = 0, FLineStyle = 0;
  std::optional<TSWFFillStyleList> FNewFillStyles;
  std::optional<TSWFLineStyleList> FNewLineStyles;
};

class TSWFCurvedEdgeRecord : public TSWFShapeRecord {
 public:
  TSWFCurvedEdgeRecord() : TSWFShapeRecord(kCurvedEdge) {}
  std::int32_t AnchorDeltaX = 0, AnchorDeltaY = 0, ControlDeltaX = 0, ControlDeltaY = 0;
  KESTROVA_COPYABLE(TSWFShapeRecord, TSWFCurvedEdgeRecord)
  // Writes nothing at all for a zero curve.
  void Write(TBitsEngine& be, TShapeWriteState& state) const override;
};

// A new record of the kind; throws std::invalid_argument for a type above 3.
std::unique_ptr<TSWFShapeRecord> CreateShapeRecord(std::uint8_t type);

// Writes the records as a bit stream starting at the given index widths, ending with exactly one
// end record (an end record inside the list is not written: a reader would stop at it), then
// completes the byte. Style-change records are written with hasAlpha and the widths in force.
void WriteShapeRecords(TBitsEngine& be, const TSWFShapeRecordList& edges, std::uint8_t fillBits,
                       std::uint8_t lineBits, bool hasAlpha, TEdgeStyleRule rule);
// Reads records up to and including the end record into edges (the end record is kept), then
// drops the rest of the byte. New styles are read with alpha when hasAlpha. Throws on a short
// stream, a bad fill type, or records that run past the body's end.
void ReadShapeRecords(TBodyReader& body, TSWFShapeRecordList& edges, std::uint8_t fillBits,
                      std::uint8_t lineBits, bool hasAlpha);

// Style arrays: a count below 255 is one byte, else 0xFF and a UI16.
void WriteFillStyles(TBitsEngine& be, const TSWFFillStyleList& fills, bool hasAlpha);
void WriteLineStyles(TBitsEngine& be, const TSWFLineStyleList& lines, bool hasAlpha);
void ReadFillStyles(TBodyReader& body, TSWFFillStyleList& fills, bool hasAlpha);
void ReadLineStyles(TBodyReader& body, TSWFLineStyleList& lines, bool hasAlpha);

// Pointers to the bitmap ids of the image fills among fills and the new styles of edges.
void CollectBitmapIDs(TSWFFillStyleList& fills, TSWFShapeRecordList& edges,
                      std::vector<std::uint16_t*>& ids);
// "moves=1 lines=4 curves=0": record counts for descriptions.
std::string DescribeShapeRecords(const TSWFShapeRecordList& edges);
// "0,0-20,20" in pixels (twips / 20).
std::string DescribeBoundsInPixels(const TSWFRect& r);

// ---- shape tags ----

class TSWFDefineShape : public TSWFObject {
 public:
  TSWFDefineShape() : TSWFDefineShape(2, false) {}
  std::uint16_t ShapeId = 0;
  TSWFRect ShapeBounds;
  TSWFShapeRecordList Edges;
  TSWFFillStyleList FillStyles;
  TSWFLineStyleList LineStyles;
  bool HasAlpha = false;

  bool operator==(const TSWFDefineShape&) const = default;
  // Throws for a fill type byte that names no fill style, or a short or overrun body.
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void DefinedCharacterIDs(std::vector<std::uint16_t*>& ids) override { ids.push_back(&ShapeId); }
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override;
  void Describe(TSWFDescription& d) const override;

 protected:
  TSWFDefineShape(std::uint16_t code, bool hasAlpha) : TSWFObject(code), HasAlpha(hasAlpha) {}
};

class TSWFDefineShape2 : public TSWFDefineShape {
 public:
  TSWFDefineShape2() : TSWFDefineShape(22, false) {}
  std::uint16_t MinVersion() const override { return 2; }
};

class TSWFDefineShape3 : public TSWFDefineShape {
 public:
  TSWFDefineShape3() : TSWFDefineShape(32, true) {}
  std::uint16_t MinVersion() const override { return 3; }
};

// ---- morph shapes ----

class TSWFMorphFillStyle : public TBasedSWFObject {
 public:
  std::uint8_t FillStyleType = 0;
  bool operator==(const TSWFMorphFillStyle&) const = default;
  virtual std::unique_ptr<TSWFMorphFillStyle> Clone() const = 0;
  virtual bool Equals(const TSWFMorphFillStyle& other) const = 0;
  int LibraryLevel() const override { return 0; }
  // Reads everything after the type byte.
  virtual void ReadFromStream(TBitsEngine& be) = 0;
  virtual void Write(TBitsEngine& be) const = 0;
  void WriteToStream(TBitsEngine& be) override { Write(be); }
  virtual std::string Description() const = 0;

 protected:
  explicit TSWFMorphFillStyle(std::uint8_t type) : FillStyleType(type) {}
};
using TSWFMorphFillStyleList = std::vector<TCopyPtr<TSWFMorphFillStyle>>;

class TSWFMorphColorFill : public TSWFMorphFillStyle {
 public:
  TSWFMorphColorFill() : TSWFMorphFillStyle(0x00) {}
  TSWFRGBA StartColor{true}, EndColor{true};
  KESTROVA_COPYABLE(TSWFMorphFillStyle, TSWFMorphColorFill)
  void ReadFromStream(TBitsEngine& be) override;
  void Write(TBitsEngine& be) const override;
  std::string Description() const override;
};

struct TSWFMorphGradientRecord {
  std::uint8_t StartRatio = 0, EndRatio = 0;
  TSWFRGBA StartColor{true}, EndColor{true};
  bool operator==(const TSWFMorphGradientRecord&) const = default;
};

class TSWFMorphGradientFill : public TSWFMorphFillStyle {
 public:
  TSWFMorphGradientFill() : TSWFMorphFillStyle(0x10) {}
  TSWFMatrix StartGradientMatrix, EndGradientMatrix;
  std::uint8_t GradientCount = 0;  // as for TSWFGradientFill
  TSWFMorphGradientRecord& Gradient(std::size_t number) { return FRecords.at(number - 1); }
  const TSWFMorphGradientRecord& Gradient(std::size_t number) const {
    return FRecords.at(number - 1);
  }
  KESTROVA_COPYABLE(TSWFMorphFillStyle, TSWFMorphGradientFill)
  void ReadFromStream(TBitsEngine& be) override;
  void Write(TBitsEngine& be) const override;
  std::string Description() const override;

 private:
  std::array<TSWFMorphGradientRecord, TSWFGradientFill::kMaxGradients> FRecords;
};

class TSWFMorphImageFill : public TSWFMorphFillStyle {
 public:
  TSWFMorphImageFill() : TSWFMorphFillStyle(0x41) {}
  std::uint16_t BitmapId = 0;
  TSWFMatrix StartBitmapMatrix, EndBitmapMatrix;
  KESTROVA_COPYABLE(TSWFMorphFillStyle, TSWFMorphImageFill)
  void ReadFromStream(TBitsEngine& be) override;
  void Write(TBitsEngine& be) const override;
  std::string Description() const override;
};

// As CreateFillStyle, for morph fills.
std::unique_ptr<TSWFMorphFillStyle> CreateMorphFillStyle(std::uint8_t type);

class TSWFMorphLineStyle : public TBasedSWFObject {
 public:
  std::uint16_t StartWidth = 0, EndWidth = 0;
  TSWFRGBA StartColor{true}, EndColor{true};
  void Assign(const TBasedSWFObject& source) override { *this = SameClass(source, *this); }
  bool operator==(const TSWFMorphLineStyle&) const = default;
  int LibraryLevel() const override { return 0; }
  void Write(TBitsEngine& be) const;
  void WriteToStream(TBitsEngine& be) override { Write(be); }
  void Read(TBitsEngine& be);
};
using TSWFMorphLineStyleList = std::vector<TCopyPtr<TSWFMorphLineStyle>>;

class TSWFDefineMorphShape : public TSWFObject {
 public:
  TSWFDefineMorphShape() : TSWFObject(46) {}
  std::uint16_t CharacterId = 0;
  TSWFRect StartBounds, EndBounds;
  TSWFMorphFillStyleList MorphFillStyles;
  TSWFMorphLineStyleList MorphLineStyles;
  TSWFShapeRecordList StartEdges, EndEdges;

  std::uint16_t MinVersion() const override { return 3; }
  bool operator==(const TSWFDefineMorphShape&) const = default;
  // Throws as DefineShape does.
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void DefinedCharacterIDs(std::vector<std::uint16_t*>& ids) override {
    ids.push_back(&CharacterId);
  }
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override;
  void Describe(TSWFDescription& d) const override;
};

}  // namespace kestrova
