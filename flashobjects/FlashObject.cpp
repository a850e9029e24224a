#include "flashobjects/FlashObject.h"

#include "flashobjects/FlashMovie.h"

namespace kestrova {

void TFlashObject::Assign(const TBasedSWFObject& source) {
  const TFlashObject& s = SameClass(source, *this);
  if (FOwner == nullptr) SetOwner(s.FOwner);
}

void TFlashObject::SetOwner(TFlashMovie* owner) {
  FOwner = owner;
  ChangeOwner();
}

void TFlashIDObject::Assign(const TBasedSWFObject& source) {
  TFlashObject::Assign(source);
  SetCharacterId(static_cast<const TFlashIDObject&>(source).GetCharacterId());
}

void TFlashVisualObject::Assign(const TBasedSWFObject& source) {
  TFlashIDObject::Assign(source);
  IgnoreMovieSettings = static_cast<const TFlashVisualObject&>(source).IgnoreMovieSettings;
}

std::uint8_t TFlashVisualObject::CoordFactor() const {
  return (IgnoreMovieSettings || FOwner == nullptr) ? 1 : FOwner->CoordFactor();
}

}  // namespace kestrova
