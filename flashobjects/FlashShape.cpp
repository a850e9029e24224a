#include "flashobjects/FlashShape.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "flashobjects/FlashImage.h"
#include "flashobjects/FlashMovie.h"

namespace kestrova {

namespace {

// Longest delta a straight edge record holds.
constexpr std::int64_t kMaxEdge = 65535;

std::int32_t Clamp32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

// Nearest integer to num / den, a tie going to the even one.
std::int64_t RoundedQuotient(std::int64_t num, std::int64_t den) {
  return std::llrint(static_cast<double>(num) / static_cast<double>(den));
}

}  // namespace

// ---- TFlashEdges ----

TFlashEdges::TFlashEdges(TSWFShapeRecordList& records, TFlashMovie* owner)
    : Owner(owner), FRecords(records) {
  LastStyleChange().StateFillStyle1 = true;
}

std::uint8_t TFlashEdges::CoordFactor() const {
  return (IgnoreMovieSettings || Owner == nullptr) ? 1 : Owner->CoordFactor();
}

TSWFStyleChangeRecord& TFlashEdges::LastStyleChange() {
  if (FRecords.empty() || FRecords.back()->ShapeRecType != TSWFShapeRecord::kStyleChange) {
    FRecords.push_back(std::make_unique<TSWFStyleChangeRecord>());
  }
  return static_cast<TSWFStyleChangeRecord&>(*FRecords.back());
}

TSWFStyleChangeRecord& TFlashEdges::MoveTo(std::int32_t x, std::int32_t y) {
  TSWFStyleChangeRecord& record = LastStyleChange();
  const std::int32_t f = CoordFactor();
  const std::int32_t px = Clamp32(std::int64_t(x) * f), py = Clamp32(std::int64_t(y) * f);
  if (FRecords.size() <= 1 && px == FCurrentX && py == FCurrentY) return record;
  FCurrentX = FStartX = px;
  FCurrentY = FStartY = py;
  record.SetMoveTo(px, py);
  return record;
}

TSWFStraightEdgeRecord* TFlashEdges::LineDelta(std::int32_t dx, std::int32_t dy) {
  if (dx == 0 && dy == 0) return nullptr;
  const std::int64_t f = CoordFactor();
  const std::int64_t tx = std::int64_t(dx) * f, ty = std::int64_t(dy) * f;
  // A line longer than one record holds is split into equal pieces; the count is not limited,
  // so no line is ever dropped.
  const std::int64_t pieces = std::max<std::int64_t>(
      {1, (std::llabs(tx) + kMaxEdge - 1) / kMaxEdge, (std::llabs(ty) + kMaxEdge - 1) / kMaxEdge});
  TSWFStraightEdgeRecord* last = nullptr;
  for (std::int64_t k = 1; k <= pieces; ++k) {
    auto edge = std::make_unique<TSWFStraightEdgeRecord>();
    edge->DeltaX = static_cast<std::int32_t>(RoundedQuotient(tx * k, pieces) -
                                             RoundedQuotient(tx * (k - 1), pieces));
    edge->DeltaY = static_cast<std::int32_t>(RoundedQuotient(ty * k, pieces) -
                                             RoundedQuotient(ty * (k - 1), pieces));
    last = edge.get();
    FRecords.push_back(std::move(edge));
  }
  FCurrentX = Clamp32(FCurrentX + tx);
  FCurrentY = Clamp32(FCurrentY + ty);
  return last;
}

void TFlashEdges::MakeRectangle(std::int32_t w, std::int32_t h) {
  LineDelta(w, 0);
  LineDelta(0, h);
  LineDelta(-w, 0);
  LineDelta(0, -h);
}

TSWFEndShapeRecord& TFlashEdges::EndEdges() {
  auto end = std::make_unique<TSWFEndShapeRecord>();
  TSWFEndShapeRecord& added = *end;
  FRecords.push_back(std::move(end));
  return added;
}

void TFlashEdges::CopyPen(const TFlashEdges& other) {
  IgnoreMovieSettings = other.IgnoreMovieSettings;
  FCurrentX = other.FCurrentX;
  FCurrentY = other.FCurrentY;
  FStartX = other.FStartX;
  FStartY = other.FStartY;
}

// ---- TFlashShape ----

TFlashShape::TFlashShape(TFlashMovie* owner)
    : TFlashVisualObject(owner),
      FShape(std::make_unique<TSWFDefineShape3>()),
      FEdges(std::make_unique<TFlashEdges>(FShape->Edges, owner)) {}

TFlashShape::~TFlashShape() = default;

void TFlashShape::ChangeOwner() {
  FEdges->Owner = FOwner;
}

void TFlashShape::SetCharacterId(std::uint16_t id) {
  FCharacterId = id;
  FShape->ShapeId = id;
}

void TFlashShape::SetShapeBound(std::int32_t xMin, std::int32_t yMin, std::int32_t xMax,
                                std::int32_t yMax) {
  const std::int64_t f = CoordFactor();
  FBounds.SetRec({Clamp32(xMin * f), Clamp32(xMax * f), Clamp32(yMin * f), Clamp32(yMax * f)});
}

std::int32_t TFlashShape::XMin() const {
  return FBounds.XMin() / CoordFactor();
}
std::int32_t TFlashShape::YMin() const {
  return FBounds.YMin() / CoordFactor();
}
std::int32_t TFlashShape::XMax() const {
  return FBounds.XMax() / CoordFactor();
}
std::int32_t TFlashShape::YMax() const {
  return FBounds.YMax() / CoordFactor();
}

std::int32_t TFlashShape::GetWidth(bool inTwips) const {
  return (XMax() - XMin()) * (inTwips ? CoordFactor() : 1);
}

std::int32_t TFlashShape::GetHeight(bool inTwips) const {
  return (YMax() - YMin()) * (inTwips ? CoordFactor() : 1);
}

TSWFStyleChangeRecord* TFlashShape::FirstStyleChange() {
  if (FShape->Edges.empty() || FShape->Edges.front()->ShapeRecType != TSWFShapeRecord::kStyleChange)
    return nullptr;
  return static_cast<TSWFStyleChangeRecord*>(FShape->Edges.front().get());
}

void TFlashShape::SetFillStyle0(std::uint16_t n) {
  TSWFStyleChangeRecord* record = FirstStyleChange();
  if (record) record->SetFillStyle0(n);
  FFillStyle0 = record ? n : 0;
}

void TFlashShape::SetFillStyle1(std::uint16_t n) {
  TSWFStyleChangeRecord* record = FirstStyleChange();
  if (record) record->SetFillStyle1(n);
  FFillStyle1 = record ? n : 0;
}

void TFlashShape::SetLineStyle(std::uint16_t n) {
  TSWFStyleChangeRecord* record = FirstStyleChange();
  if (record) record->SetLineStyle(n);
  FLineStyle = record ? n : 0;
}

TSWFFillStyle& TFlashShape::AddFillStyle(std::unique_ptr<TSWFFillStyle> fill) {
  TSWFFillStyle& added = *fill;
  FShape->FillStyles.push_back(std::move(fill));
  SetFillStyle1(static_cast<std::uint16_t>(FShape->FillStyles.size()));
  return added;
}

TSWFFillStyle& TFlashShape::AddFillStyle(TSWFFillStyle& fill) {
  const auto& fills = FShape->FillStyles;
  const auto found =
      std::find_if(fills.begin(), fills.end(), [&](const auto& f) { return f.get() == &fill; });
  if (found == fills.end()) {
    throw std::invalid_argument("the fill style does not belong to this shape");
  }
  SetFillStyle1(static_cast<std::uint16_t>(found - fills.begin() + 1));
  return fill;
}

TSWFImageFill& TFlashShape::AddImageFill(TFlashImage& image) {
  auto fill = std::make_unique<TSWFImageFill>();
  fill->BitmapId = image.GetCharacterId();
  fill->BitmapMatrix.SetTranslate(FBounds.XMin() - 5, FBounds.YMin() - 5);
  // 15/4096 stretches the bitmap a little past the rectangle, so no seam shows at its edges. An
  // image without pixels is taken as one pixel wide rather than divided by.
  constexpr double kStretch = 0.003662109375;
  const double w = std::max<int>(image.Width, 1), h = std::max<int>(image.Height, 1);
  fill->BitmapMatrix.SetScale(static_cast<float>(GetWidth(true) / w + kStretch),
                              static_cast<float>(GetHeight(true) / h + kStretch));
  TSWFImageFill& added = *fill;
  AddFillStyle(std::move(fill));
  if (FOwner) FOwner->MoveBefore(image, *this);
  return added;
}

void TFlashShape::Assign(const TBasedSWFObject& source) {
  TFlashVisualObject::Assign(source);
  const auto& s = static_cast<const TFlashShape&>(source);
  FShape->Assign(*s.FShape);
  FShape->TagID = s.FShape->TagID;
  FShape->ShapeId = FCharacterId;
  FBounds = s.FBounds;
  FEdges->CopyPen(*s.FEdges);
  FFillStyle0 = s.FFillStyle0;
  FFillStyle1 = s.FFillStyle1;
  FLineStyle = s.FLineStyle;
  HasAlpha = s.HasAlpha;
}

void TFlashShape::WriteToStream(TBitsEngine& be) {
  FShape->TagID = HasAlpha ? 32 : 22;
  FShape->HasAlpha = HasAlpha;
  std::int32_t widest = 0;
  for (const auto& line : FShape->LineStyles) widest = std::max<std::int32_t>(widest, line->Width);
  const std::int32_t e = widest / 2;
  FShape->ShapeBounds.SetRec(
      {FBounds.XMin() - e, FBounds.XMax() + e, FBounds.YMin() - e, FBounds.YMax() + e});
  FShape->WriteToStream(be);
}

}  // namespace kestrova
