#include "swfobjects/SpriteTags.h"

#include <algorithm>
#include <string>

#include "swfobjects/ControlTags.h"
#include "swfobjects/TagCatalogue.h"

namespace kestrova {

namespace {

// A read-only window of another stream: a tag body read through it cannot reach past its end,
// however much the body's reader asks for, and nothing is copied.
class TWindowStream : public TStream {
 public:
  TWindowStream(TStream& base, std::uint64_t start, std::uint64_t size)
      : FBase(base), FStart(start), FSize(size) {}

  std::size_t Read(void* buffer, std::size_t count) override {
    if (FPosition >= FSize) return 0;
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, FSize - FPosition));
    FBase.SetPosition(FStart + FPosition);
    const std::size_t got = FBase.Read(buffer, n);
    FPosition += got;
    return got;
  }
  void Write(const void*, std::size_t) override {
    throw std::logic_error("A tag body being read cannot be written");
  }
  std::uint64_t Position() const override { return FPosition; }
  void SetPosition(std::uint64_t position) override { FPosition = position; }
  std::uint64_t Size() const override { return FSize; }

 private:
  TStream& FBase;
  std::uint64_t FStart;
  std::uint64_t FSize;
  std::uint64_t FPosition = 0;
};

// The inner tags whose references follow a renumbering: PlaceObject, RemoveObject, StartSound,
// PlaceObject2, and VideoFrame, whose stream would otherwise point at whatever character took the
// stream's old number.
bool RenumberedInsideSprite(std::uint16_t tagID) {
  return tagID == 4 || tagID == 5 || tagID == 15 || tagID == 26 || tagID == 61;
}

}  // namespace

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
  if (FNesting > kMaxNesting) throw std::runtime_error("DefineSprite: sprites nested too deeply");
  const std::uint64_t start = outer.Stream.Position();
  TWindowStream body(outer.Stream, start, static_cast<std::uint64_t>(BodySize));
  TBitsEngine be(body);
  SpriteId = be.ReadWord();
  FrameCount = be.ReadWord();
  ControlTags.clear();
  TSWFReadContext local;
  local.SWFVersion = SWFVersion;
  local.ParseActions = ParseActions;
  ReadInnerTags(body, ReadContext ? *ReadContext : local);
  outer.Stream.SetPosition(start + static_cast<std::uint64_t>(BodySize));
}

void TSWFDefineSprite::ReadInnerTags(TStream& body, TSWFReadContext& context) {
  TBitsEngine be(body);
  for (;;) {
    const std::uint64_t offset = body.Position();
    const std::uint16_t word = be.ReadWord();  // a body that ends before its End tag fails here
    const std::uint16_t code = word >> 6;
    std::uint64_t length = word & 0x3F;
    if (length == 0x3F) length = be.ReadDWord();
    const std::string where = std::string(TagName(code)) + " (code " + std::to_string(code) +
                              ") at sprite offset " + std::to_string(offset);
    // Whatever length an End tag claims, it ends the timeline: writing always puts a bare End
    // last, so a rewritten sprite reads back the same tags.
    if (code == 0) {
      ControlTags.push_back(std::make_unique<TSWFEnd>());
      return;
    }
    auto tag = CreateTagByID(code);
    if (!tag) throw std::runtime_error("DefineSprite: inner tag without a class: " + where);
    const std::uint64_t bodyStart = body.Position();
    if (length > body.Size() - std::min(bodyStart, body.Size())) {
      throw std::runtime_error("DefineSprite: inner " + where + " runs past the sprite's end");
    }
    tag->BodySize = static_cast<std::int32_t>(length);
    if (auto* sprite = dynamic_cast<TSWFDefineSprite*>(tag.get())) sprite->FNesting = FNesting + 1;
    if (length > 0) {
      TWindowStream inner(body, bodyStart, length);
      TBitsEngine innerEngine(inner);
      try {
        ReadTagBody(*tag, innerEngine, context);
      } catch (const std::exception& e) {
        throw std::runtime_error("DefineSprite: inner " + where + ": " + e.what());
      }
      body.SetPosition(bodyStart + length);
    }
    ControlTags.push_back(std::move(tag));
  }
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
  for (const auto& tag : ControlTags) {
    if (tag && RenumberedInsideSprite(tag->TagID)) tag->ReferencedCharacterIDs(ids);
  }
}

void TSWFDefineSprite::Describe(TSWFDescription& d) const {
  d.Field("id", SpriteId);
  d.Field("frames", FrameCount);
}

}  // namespace kestrova
