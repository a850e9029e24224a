// Roots of the movie builder: objects that a TFlashMovie owns and that write SWF tags when the
// movie is serialised, the character objects among them, and the typed lookup lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "swfobjects/SWFObject.h"

namespace kestrova {

class TFlashMovie;

// A builder object. Its owner movie gives it the coordinate factor and the deflate settings; the
// owner is never owned and may be null (coordinates are then taken as twips).
class TFlashObject : public TBasedSWFObject {
 public:
  explicit TFlashObject(TFlashMovie* owner = nullptr) : FOwner(owner) {}

  int LibraryLevel() const override { return 1; }
  // Copies the owner when this object has none; throws std::invalid_argument for another class.
  void Assign(const TBasedSWFObject& source) override;

  TFlashMovie* Owner() const { return FOwner; }
  // Stores the owner, then lets the object hand it on (ChangeOwner).
  void SetOwner(TFlashMovie* owner);

 protected:
  virtual void ChangeOwner() {}
  TFlashMovie* FOwner;
};

// A builder object that defines a character.
class TFlashIDObject : public TFlashObject {
 public:
  using TFlashObject::TFlashObject;

  // Takes the source's owner when this object has none and the source's id through
  // SetCharacterId.
  void Assign(const TBasedSWFObject& source) override;
  virtual std::uint16_t GetCharacterId() const { return FCharacterId; }
  // Shapes and sprites also copy the id into the tag they write.
  virtual void SetCharacterId(std::uint16_t id) { FCharacterId = id; }

 protected:
  std::uint16_t FCharacterId = 0;
};

// A character that can be placed on the display list (shape, sprite).
class TFlashVisualObject : public TFlashIDObject {
 public:
  using TFlashIDObject::TFlashIDObject;

  // Coordinates given to this object are taken as twips whatever the movie's units.
  bool IgnoreMovieSettings = false;

  void Assign(const TBasedSWFObject& source) override;
  // What coordinates given to this object are multiplied by: the owner's CoordFactor (20 for a
  // movie in pixels), or 1 with IgnoreMovieSettings or without an owner.
  std::uint8_t CoordFactor() const;
};

// A list that refers to objects owned elsewhere (by the movie's ObjectList).
template <class T>
class TFlashObjectList {
 public:
  // Returns the index of the new item.
  std::size_t Add(T* item) {
    FItems.push_back(item);
    return FItems.size() - 1;
  }
  // Forgets the item (when its owner frees it); does nothing when it is not listed.
  void Remove(const T* item) { std::erase(FItems, item); }
  std::size_t Count() const { return FItems.size(); }
  // Throws std::out_of_range.
  T& operator[](std::size_t index) const { return *FItems.at(index); }
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

 private:
  std::vector<T*> FItems;
};

class TFlashImage;
class TFlashShape;
class TFlashSprite;
using TFlashImageList = TFlashObjectList<TFlashImage>;
using TFlashShapeList = TFlashObjectList<TFlashShape>;
using TFlashSpriteList = TFlashObjectList<TFlashSprite>;

}  // namespace kestrova
