// Shape characters of the movie builder and the path builder that fills their records.
#pragma once

#include <cstdint>
#include <memory>

#include "flashobjects/FlashObject.h"
#include "swfobjects/ShapeTags.h"

namespace kestrova {

class TFlashImage;

// Appends shape records to a record list it does not own, in the owner movie's units.
class TFlashEdges {
 public:
  // Reuses the list's last record when it is a style-change record, otherwise appends one; that
  // record gets its StateFillStyle1 flag (the number comes with the fill).
  TFlashEdges(TSWFShapeRecordList& records, TFlashMovie* owner = nullptr);

  bool IgnoreMovieSettings = false;
  TFlashMovie* Owner;
  // 1 with IgnoreMovieSettings or without an owner, else the owner's CoordFactor.
  std::uint8_t CoordFactor() const;

  // Pen position and the start of the current outline, twips.
  std::int32_t CurrentX() const { return FCurrentX; }
  std::int32_t CurrentY() const { return FCurrentY; }
  std::int32_t StartX() const { return FStartX; }
  std::int32_t StartY() const { return FStartY; }

  // Moves the pen (absolute); returns the style-change record that carries the move. A first
  // move to the starting point adds no move.
  TSWFStyleChangeRecord& MoveTo(std::int32_t x, std::int32_t y);
  // A straight line relative to the pen, split into pieces of at most 65535 twips; returns the
  // last edge added, or null for a zero line.
  TSWFStraightEdgeRecord* LineDelta(std::int32_t dx, std::int32_t dy);
  // The outline of a w x h rectangle from the pen: right, down, left, up.
  void MakeRectangle(std::int32_t w, std::int32_t h);
  TSWFEndShapeRecord& EndEdges();
  // Takes the other's pen, outline start and IgnoreMovieSettings (copying a shape).
  void CopyPen(const TFlashEdges& other);

 private:
  TSWFStyleChangeRecord& LastStyleChange();
  TSWFShapeRecordList& FRecords;
  std::int32_t FCurrentX = 0, FCurrentY = 0, FStartX = 0, FStartY = 0;
};

class TFlashShape : public TFlashVisualObject {
 public:
  explicit TFlashShape(TFlashMovie* owner = nullptr);
  ~TFlashShape() override;

  // Colours with alpha: written as DefineShape3 instead of DefineShape2.
  bool HasAlpha = false;

  // Bounds in the shape's units (each multiplied by its CoordFactor into twips).
  void SetShapeBound(std::int32_t xMin, std::int32_t yMin, std::int32_t xMax, std::int32_t yMax);
  const TSWFRect& Bounds() const { return FBounds; }  // twips
  // The bounds in the shape's units (twips divided by the factor).
  std::int32_t XMin() const;
  std::int32_t YMin() const;
  std::int32_t XMax() const;
  std::int32_t YMax() const;
  std::int32_t GetWidth(bool inTwips = false) const;
  std::int32_t GetHeight(bool inTwips = false) const;

  TFlashEdges& Edges() { return *FEdges; }
  // The tag the shape writes: its records, styles and id; its code is settled at write time.
  TSWFDefineShape& ShapeTag() { return *FShape; }
  const TSWFDefineShape& ShapeTag() const { return *FShape; }

  // Appends the fill (owned by the shape from then on) and makes it FillStyle1.
  TSWFFillStyle& AddFillStyle(std::unique_ptr<TSWFFillStyle> fill);
  // Makes a fill the shape already holds FillStyle1; throws std::invalid_argument for a fill the
  // shape does not hold.
  TSWFFillStyle& AddFillStyle(TSWFFillStyle& fill);
  // A clipped bitmap fill that stretches the image over the shape's bounds. The image is moved
  // before the shape in the owner's ObjectList when it stands after it.
  TSWFImageFill& AddImageFill(TFlashImage& image);

  // Style numbers of the first record (when it is a style-change record).
  std::uint16_t FillStyle0() const { return FFillStyle0; }
  std::uint16_t FillStyle1() const { return FFillStyle1; }
  std::uint16_t LineStyle() const { return FLineStyle; }
  void SetFillStyle0(std::uint16_t n);
  void SetFillStyle1(std::uint16_t n);
  void SetLineStyle(std::uint16_t n);

  std::uint16_t MinVersion() const override { return HasAlpha ? 3 : 2; }
  void SetCharacterId(std::uint16_t id) override;
  void Assign(const TBasedSWFObject& source) override;
  void WriteToStream(TBitsEngine& be) override;

 protected:
  void ChangeOwner() override;

 private:
  TSWFStyleChangeRecord* FirstStyleChange();
  std::unique_ptr<TSWFDefineShape3> FShape;
  TSWFRect FBounds;
  std::unique_ptr<TFlashEdges> FEdges;
  std::uint16_t FFillStyle0 = 0, FFillStyle1 = 0, FLineStyle = 0;
};

}  // namespace kestrova
