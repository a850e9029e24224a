#include "swfobjects/ActionTags.h"

#include <algorithm>
#include <stdexcept>

#include "swfobjects/TagCatalogue.h"

namespace kestrova {

void TSWFDoAction::Assign(const TBasedSWFObject& source) {
  TSWFObject::Assign(source);
  const auto& s = SameClass(source, *this);
  if (&s == this) return;
  ParseActions = s.ParseActions;
  FActions->clear();
  CopyActionList(s.Actions(), *FActions);
}

void TSWFDoAction::ReadActions(TBitsEngine& be, std::int32_t headerSize) {
  const std::int64_t rest = std::int64_t(BodySize) - headerSize;
  FActions->clear();
  if (rest < 1) return;  // no actions, not even the end code
  // A list without its end code holds the actions up to the byte count; writing adds the code.
  if (ParseActions) {
    ReadActionList(be, *FActions, rest);
    return;
  }
  // Unparsed, the body is kept verbatim: everything before the final end code, or all of it when
  // the last byte is no end code (writing then adds one), so nothing of the file is lost.
  auto raw = std::make_unique<TSWFActionByteCode>();
  raw->Data = be.Stream.ReadBytes(static_cast<std::size_t>(rest));
  if (raw->Data.back() == 0) raw->Data.pop_back();
  raw->ActionLength = static_cast<std::uint16_t>(std::min<std::size_t>(raw->Data.size(), 0xFFFF));
  FActions->push_back(std::move(raw));
}

void TSWFDoAction::ReadFromStream(TBitsEngine& be) {
  ReadActions(be, 0);
}

void TSWFDoAction::WriteTagBody(TBitsEngine& be) {
  WriteActionList(be, *FActions);
  be.WriteByte(0);
}

void TSWFDoAction::Describe(TSWFDescription& d) const {
  d.Field("actions", static_cast<std::int64_t>(FActions->size()));
  DescribeActionList(*FActions, d, 0);
}

void TSWFDoInitAction::Assign(const TBasedSWFObject& source) {
  TSWFDoAction::Assign(source);
  SpriteId = static_cast<const TSWFDoInitAction&>(source).SpriteId;
}

void TSWFDoInitAction::ReadFromStream(TBitsEngine& be) {
  SpriteId = be.ReadWord();
  ReadActions(be, 2);
}

void TSWFDoInitAction::WriteTagBody(TBitsEngine& be) {
  be.WriteWord(SpriteId);
  TSWFDoAction::WriteTagBody(be);
}

void TSWFDoInitAction::Describe(TSWFDescription& d) const {
  d.Field("sprite", SpriteId);
  TSWFDoAction::Describe(d);
}

}  // namespace kestrova
