#include "swfobjects/ActionTags.h"

#include <algorithm>
#include <stdexcept>

#include "swfobjects/TagCatalogue.h"

namespace kestrova {

void TSWFDoAction::ReadActions(TBitsEngine& be, std::int32_t headerSize) {
  const std::int64_t rest = std::int64_t(BodySize) - headerSize;
  Actions().clear();
  if (rest < 1) return;  // no actions, not even the end code
  ReadActionBlock(be, Actions(), be.Stream.Position() + static_cast<std::uint64_t>(rest),
                  ParseActions);
}

void TSWFDoAction::ReadFromStream(TBitsEngine& be, TSWFReadContext& context) {
  ParseActions = context.ParseActions;
  ReadFromStream(be);
}

void TSWFDoAction::ReadFromStream(TBitsEngine& be) {
  ReadActions(be, 0);
}

void TSWFDoAction::WriteTagBody(TBitsEngine& be) const {
  WriteActionBlock(be, Actions());
}

void TSWFDoAction::Describe(TSWFDescription& d) const {
  d.Field("actions", static_cast<std::int64_t>(Actions().size()));
  DescribeActionList(Actions(), d, 0);
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
