#include "flashobjects/FlashSprite.h"

#include <algorithm>
#include <stdexcept>

#include "flashobjects/FlashMovie.h"

namespace kestrova {

// ---- TFlashPlaceObject ----

TFlashPlaceObject::TFlashPlaceObject(TFlashMovie* owner, TFlashVisualObject* object,
                                     std::uint16_t depth)
    : TFlashObject(owner), FObject(object) {
  FPlace.Depth = depth;
  if (object) FPlace.SetCharacterId(object->GetCharacterId());
}

void TFlashPlaceObject::SetTranslate(std::int32_t x, std::int32_t y) {
  if (x == 0 && y == 0 && !FPlace.PlaceFlagHasMatrix() && !FPlace.PlaceFlagMove) return;
  const std::int64_t f = FOwner ? FOwner->CoordFactor() : 1;
  auto twips = [f](std::int32_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v * f, INT32_MIN, INT32_MAX));
  };
  FPlace.Matrix().SetTranslate(twips(x), twips(y));
}

std::uint16_t TFlashPlaceObject::MinVersion() const {
  return FPlace.PlaceFlagHasClipActions() ? 5 : 3;
}

void TFlashPlaceObject::Assign(const TBasedSWFObject& source) {
  TFlashObject::Assign(source);
  const auto& s = static_cast<const TFlashPlaceObject&>(source);
  FObject = s.FObject;
  FPlace.Assign(s.FPlace);
}

// ---- TFlashSprite ----

TFlashSprite::TFlashSprite(TFlashMovie* owner) : TFlashVisualObject(owner) {}

void TFlashSprite::ShowFrame(std::uint16_t count) {
  if (count == 0) count = 1;
  FFrameCount = static_cast<std::uint16_t>(FFrameCount + count);
  for (std::uint16_t i = 0; i < count; ++i)
    FControlTags.push_back(std::make_unique<TSWFShowFrame>());
  CurrentFrameNum = std::int32_t(FFrameCount) - 1;
}

std::uint16_t TFlashSprite::MinVersion() const {
  std::uint16_t v = 3;
  for (const auto& tag : FControlTags) v = std::max(v, tag->MinVersion());
  return v;
}

void TFlashSprite::Assign(const TBasedSWFObject& source) {
  TFlashVisualObject::Assign(source);
  const auto& s = static_cast<const TFlashSprite&>(source);
  TFlashObjectOwnerList copies;
  for (const auto& tag : s.FControlTags) {
    if (tag->LibraryLevel() != 0) {
      throw std::invalid_argument("a sprite holding builder objects cannot be copied");
    }
    copies.push_back(CloneTag(static_cast<const TSWFObject&>(*tag)));
  }
  FControlTags = std::move(copies);
  FFrameCount = s.FFrameCount;
  CurrentFrameNum = s.CurrentFrameNum;
}

void TFlashSprite::WriteToStream(TBitsEngine& be) {
  if (FFrameCount == 0) ShowFrame(1);
  TMemoryStream body;
  TBitsEngine inner(body);
  inner.WriteWord(GetCharacterId());
  inner.WriteWord(FFrameCount);
  for (const auto& object : FControlTags) {
    if (object->LibraryLevel() == 1) {
      if (auto* place = dynamic_cast<TFlashPlaceObject*>(object.get()); place && FOwner) {
        place->PlaceTag().SWFVersion = FOwner->Version();
      }
    }
    object->WriteToStream(inner);
  }
  const auto* last =
      FControlTags.empty() ? nullptr : dynamic_cast<const TSWFObject*>(FControlTags.back().get());
  if (last == nullptr || last->TagID != 0) {
    inner.WriteWord(0);  // End
  }
  inner.FlushLastByte(true);
  be.FlushLastByte(true);
  WriteRecordHeader(be.Stream, 39, static_cast<std::uint32_t>(body.Size()));
  be.Stream.Write(body.Data(), body.Size());
}

}  // namespace kestrova
