// DefineSprite: a movie clip with its own timeline of control tags.
#pragma once

#include <cstdint>
#include <vector>

#include "swfobjects/SWFObject.h"

namespace kestrova {

// DefineSprite (39). The tag-level sprite, as read from a file or assembled directly; the movie
// builder writes its own sprites.
class TSWFDefineSprite : public TSWFObject {
 public:
  // How deep sprites may nest inside sprites when read: deeper nesting is refused, so a damaged
  // file cannot exhaust the stack.
  static constexpr int kMaxNesting = 16;

  TSWFDefineSprite() : TSWFObject(39) {}
  std::uint16_t SpriteId = 0;
  std::uint16_t FrameCount = 0;
  // The sprite's timeline, owned. Writing appends an End tag unless the last tag is one.
  TSWFObjectList ControlTags;
  bool ParseActions = true;     // given to the inner tags that hold actions
  std::uint8_t SWFVersion = 0;  // given to the inner tags that depend on the file's version

  // Copies the fields and deep-copies every inner tag; throws std::invalid_argument for an inner
  // tag of a code without a class.
  void Assign(const TBasedSWFObject& source) override;
  std::uint16_t MinVersion() const override { return 3; }
  void PrepareRead(const TSWFReadContext& context) override;
  // Reads the inner tags up to an End tag, each bounded by its own body and all by the sprite's;
  // bytes after the End tag stay unparsed (and are written back). An inner tag of a code without
  // a class or whose body cannot be read becomes a TSWFErrorTag keeping its stored bytes. Throws
  // (and so fails the whole sprite) when the framing is broken: a body that ends before the End
  // tag, an inner tag running past the sprite's end, or sprites nested deeper than kMaxNesting.
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) override;
  void DefinedCharacterIDs(std::vector<std::uint16_t*>& ids) override { ids.push_back(&SpriteId); }
  // The references of the inner PlaceObject, RemoveObject, StartSound, PlaceObject2 and
  // VideoFrame tags.
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override;
  void Describe(TSWFDescription& d) const override;
  const TSWFObjectList* InnerTags() const override { return &ControlTags; }
};

}  // namespace kestrova
