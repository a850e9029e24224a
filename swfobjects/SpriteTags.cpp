#include "swfobjects/SpriteTags.h"

#include <algorithm>
#include <string>

#include "swfobjects/ControlTags.h"
#include "swfobjects/TagCatalogue.h"

namespace kestrova {

void TSWFDefineSprite::ReadFromStream(TBitsEngine& outer) {
  TSWFReadContext own;
  own.SWFVersion = SWFVersion;
  own.ParseActions = ParseActions;
  ReadFromStream(outer, own);
}

void TSWFDefineSprite::ReadFromStream(TBitsEngine& outer, TSWFReadContext& context) {
  SWFVersion = context.SWFVersion;
  ParseActions = context.ParseActions;
  if (BodySize < 0) throw std::runtime_error("DefineSprite: negative body size");
  if (context.SpriteDepth > kMaxNesting) {
    throw std::runtime_error("DefineSprite: sprites nested too deeply");
  }
  const std::uint64_t start = outer.Stream.Position();
  TStreamWindow body(outer.Stream, start, static_cast<std::uint64_t>(BodySize));
  TBitsEngine be(body);
  SpriteId = be.ReadWord();
  FrameCount = be.ReadWord();
  ControlTags.clear();
  ++context.SpriteDepth;
  try {
    ReadInnerTags(body, context);
  } catch (...) {
    --context.SpriteDepth;
    throw;
  }
  --context.SpriteDepth;
  outer.Stream.SetPosition(start + body.Position());
}

void TSWFDefineSprite::ReadInnerTags(TStream& body, TSWFReadContext& context) {
  for (;;) {
    const std::uint64_t offset = body.Position();
    TSWFRecordHeader header;
    if (!ReadRecordHeader(body, header)) {
      throw std::runtime_error("DefineSprite: the timeline ends without an End tag");
    }
    // Whatever length an End tag claims, it ends the timeline: writing always puts a bare End
    // last, so a rewritten sprite reads back the same tags.
    if (header.TagID == 0) {
      ControlTags.push_back(std::make_unique<TSWFEnd>());
      return;
    }
    const std::uint64_t bodyStart = body.Position();
    if (header.Length > body.Size() - std::min(bodyStart, body.Size())) {
      throw std::runtime_error("DefineSprite: inner " + std::string(TagName(header.TagID)) +
                               " (code " + std::to_string(header.TagID) + ") at sprite offset " +
                               std::to_string(offset) + " runs past the sprite's end");
    }
    // An inner tag of a code without a class, or one that cannot be read, keeps its stored
    // bytes, as at the top level: the rest of the timeline is still read.
    TStreamWindow inner(body, bodyStart, header.Length);
    auto tag = ReadStoredTag(header, inner, context, true);
    body.SetPosition(bodyStart + header.Length);
    ControlTags.push_back(std::move(tag));
  }
}

void TSWFDefineSprite::WriteTagBody(TBitsEngine& be) const {
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
