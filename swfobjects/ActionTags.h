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
  // Works on a list owned by the caller, which must outlive the tag.
  explicit TSWFDoAction(TSWFActionList& actions) : TSWFObject(12), FActions(&actions) {}

  TSWFActionList& Actions() { return *FActions; }
  const TSWFActionList& Actions() const { return *FActions; }
  bool OwnsActions() const { return FOwnList != nullptr; }
  // Decode the action bytes on reading; else they are kept as one raw block.
  bool ParseActions = true;

  // Replaces the actions with copies of the source's.
  void Assign(const TBasedSWFObject& source) override;
  std::uint16_t MinVersion() const override { return ActionListMinVersion(*FActions); }
  void PrepareRead(const TSWFReadContext& context) override { ParseActions = context.ParseActions; }
  // Throws on a body too short for its fields or an action that does not fit it.
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;

 protected:
  explicit TSWFDoAction(std::uint16_t tagID)
      : TSWFObject(tagID), FOwnList(std::make_unique<TSWFActionList>()), FActions(FOwnList.get()) {}
  // Reads the action list (or the raw block) over the rest of a body of which headerSize bytes
  // were read.
  void ReadActions(TBitsEngine& be, std::int32_t headerSize);

 private:
  std::unique_ptr<TSWFActionList> FOwnList;
  TSWFActionList* FActions;
};

class TSWFDoInitAction : public TSWFDoAction {
 public:
  TSWFDoInitAction() : TSWFDoAction(59) {}
  std::uint16_t SpriteId = 0;

  void Assign(const TBasedSWFObject& source) override;
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
