// The tags that carry an action list of the timeline: DoAction and DoInitAction.
#pragma once

#include <algorithm>
#include <memory>

#include "swfobjects/Actions.h"
#include "swfobjects/SWFObject.h"

namespace kestrova {

class TSWFDoAction : public TSWFObject {
 public:
  // Owns its own list.
  TSWFDoAction() : TSWFDoAction(12) {}
  // Works on a list owned by the caller, which must outlive the tag and its copies (a copy works
  // on the same list).
  explicit TSWFDoAction(TSWFActionList& actions) : TSWFObject(12), FExternal(&actions) {}

  TSWFActionList& Actions() { return FExternal ? *FExternal : FOwnList; }
  const TSWFActionList& Actions() const { return FExternal ? *FExternal : FOwnList; }
  bool OwnsActions() const { return FExternal == nullptr; }
  // Decode the action bytes on reading; else they are kept as one raw block.
  bool ParseActions = true;

  // Equal actions, whoever owns them.
  bool operator==(const TSWFDoAction& other) const {
    return TSWFObject::operator==(other) && ParseActions == other.ParseActions &&
           Actions() == other.Actions();
  }
  std::uint16_t MinVersion() const override { return ActionListMinVersion(Actions()); }
  void ReadFromStream(TBitsEngine& be, TSWFReadContext& context) override;
  using TSWFObject::ReadFromStream;
  // Throws on a body too short for its fields or an action that does not fit it.
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;

 protected:
  explicit TSWFDoAction(std::uint16_t tagID) : TSWFObject(tagID) {}
  // Reads the action list (or the raw block) over the rest of a body of which headerSize bytes
  // were read.
  void ReadActions(TBitsEngine& be, std::int32_t headerSize);

 private:
  TSWFActionList FOwnList;
  TSWFActionList* FExternal = nullptr;
};

class TSWFDoInitAction : public TSWFDoAction {
 public:
  TSWFDoInitAction() : TSWFDoAction(59) {}
  std::uint16_t SpriteId = 0;

  bool operator==(const TSWFDoInitAction&) const = default;
  std::uint16_t MinVersion() const override {
    return std::max<std::uint16_t>(6, TSWFDoAction::MinVersion());
  }
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override {
    ids.push_back(&SpriteId);
  }
  void Describe(TSWFDescription& d) const override;
};

}  // namespace kestrova
