#include "swfobjects/SpriteTags.h"

#include <algorithm>
#include <string>

#include "swfobjects/ControlTags.h"
#include "swfobjects/TagCatalogue.h"
#include "swfobjects/TagListReader.h"

namespace kestrova {

void TSWFDefineSprite::Assign(const TBasedSWFObject& source) {
  TSWFObject::Assign(source);
  const auto& s = static_cast<const TSWFDefineSprite&>(source);
  SpriteId = s.SpriteId;
  FrameCount = s.FrameCount;
  ParseActions = s.ParseActions;
  SWFVersion = s.SWFVersion;
  TSWFObjectList copies;
  for (const auto& tag : s.ControlTags) {
    if (tag) copies.push_back(CloneTag(*tag));
  }
  ControlTags = std::move(copies);
}

void TSWFDefineSprite::PrepareRead(const TSWFReadContext& context) {
  SWFVersion = context.SWFVersion;
  ParseActions = context.ParseActions;
}

void TSWFDefineSprite::ReadFromStream(TBitsEngine& outer) {
  if (BodySize < 0) throw std::runtime_error("DefineSprite: negative body size");
  TSWFReadContext local;
  local.SWFVersion = SWFVersion;
  local.ParseActions = ParseActions;
  TSWFReadContext& context = ReadContext ? *ReadContext : local;
  TTagListPolicy policy = TTagListPolicy::Sprite();
  policy.MaxNesting = kMaxNesting;
  const std::uint64_t start = outer.Stream.Position();
  TStreamWindow body(outer.Stream, start, static_cast<std::uint64_t>(BodySize));
  TBitsEngine be(body);
  SpriteId = be.ReadWord();
  FrameCount = be.ReadWord();
  ControlTags.clear();
  ReadTagList(body, context, policy, ControlTags);
  outer.Stream.SetPosition(start + body.Position());
}

void TSWFDefineSprite::WriteTagBody(TBitsEngine& be) {
  be.WriteWord(SpriteId);
  be.WriteWord(FrameCount);
  const TSWFObject* last = nullptr;
  for (const auto& tag : ControlTags) {
    if (!tag) continue;
    tag->WriteToStream(be);
    last = tag.get();
  }
  if (!last || last->TagID != 0) be.WriteWord(0);
}

void TSWFDefineSprite::ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) {
  // The timeline tags that refer to characters (placements, removals, sounds, video frames).
  for (const auto& tag : ControlTags) {
    const TTagCatalogueRow* row = tag ? FindTagRow(tag->TagID) : nullptr;
    if (row && row->Has(kInSprite) && row->Has(kRefers)) tag->ReferencedCharacterIDs(ids);
  }
}

void TSWFDefineSprite::Describe(TSWFDescription& d) const {
  d.Field("id", SpriteId);
  d.Field("frames", FrameCount);
}

}  // namespace kestrova
