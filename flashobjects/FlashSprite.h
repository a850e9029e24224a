// Placements of characters on the display list, and sprites (movie clips with their own
// timeline), which the builder makes for imported movies.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "flashobjects/FlashObject.h"
#include "swfobjects/ControlTags.h"

namespace kestrova {

// Puts a character at a depth; writes one PlaceObject2.
class TFlashPlaceObject : public TFlashObject {
 public:
  // Gives the inner tag the depth and, when an object is given, its character id.
  TFlashPlaceObject(TFlashMovie* owner, TFlashVisualObject* object, std::uint16_t depth);

  TFlashVisualObject* PlacedObject() const { return FObject; }
  // The tag that is written: depth, character, matrix, flags and the version it writes for.
  TSWFPlaceObject2& PlaceTag() { return FPlace; }
  const TSWFPlaceObject2& PlaceTag() const { return FPlace; }
  std::uint16_t Depth() const { return FPlace.Depth; }
  virtual std::uint16_t GetCharacterId() const { return FPlace.CharacterId(); }

  // Translation in the owner's units (pixels in a movie InPixels). A translation of (0, 0) on a
  // placement without a matrix adds none.
  void SetTranslate(std::int32_t x, std::int32_t y);

  // 5 with clip actions, else 3.
  std::uint16_t MinVersion() const override;
  void Assign(const TBasedSWFObject& source) override;
  void WriteToStream(TBitsEngine& be) override { FPlace.WriteToStream(be); }

 private:
  TFlashVisualObject* FObject;
  TSWFPlaceObject2 FPlace;
};

// Objects of a sprite's timeline: tag objects and builder objects, owned.
using TFlashObjectOwnerList = std::vector<std::unique_ptr<TBasedSWFObject>>;

class TFlashSprite : public TFlashVisualObject {
 public:
  explicit TFlashSprite(TFlashMovie* owner = nullptr);

  // Sprite frame count - 1 after the last ShowFrame.
  std::int32_t CurrentFrameNum = -1;
  std::uint16_t FrameCount() const { return FFrameCount; }
  void SetFrameCount(std::uint16_t n) { FFrameCount = n; }
  // Closes count frames (0 counts as 1).
  void ShowFrame(std::uint16_t count = 1);
  TFlashObjectOwnerList& ControlTags() { return FControlTags; }

  // The highest MinVersion of the control tags, at least 3.
  std::uint16_t MinVersion() const override;
  // Deep-copies the control tags; throws std::invalid_argument for a builder object among them.
  void Assign(const TBasedSWFObject& source) override;
  // One DefineSprite: a sprite without frames gets one first; an End tag is added unless the
  // timeline ends with one.
  void WriteToStream(TBitsEngine& be) override;

 private:
  std::uint16_t FFrameCount = 0;
  TFlashObjectOwnerList FControlTags;
};

}  // namespace kestrova
