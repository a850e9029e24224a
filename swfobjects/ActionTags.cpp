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
  ReadActionBlock(be, *FActions, be.Stream.Position() + static_cast<std::uint64_t>(rest),
                  ParseActions);
}

void TSWFDoAction::ReadFromStream(TBitsEngine& be) {
  ReadActions(be, 0);
}

void TSWFDoAction::WriteTagBody(TBitsEngine& be) const {
  WriteActionBlock(be, *FActions);
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

void TSWFDoInitAction::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(SpriteId);
  TSWFDoAction::WriteTagBody(be);
}

void TSWFDoInitAction::Describe(TSWFDescription& d) const {
  d.Field("sprite", SpriteId);
  TSWFDoAction::Describe(d);
}

}  // namespace kestrova
