// Action records: the byte code carried by DoAction, DoInitAction, clip actions and buttons.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "swfobjects/SWFObject.h"

namespace kestrova {

// Root of all action records. Not a TBasedSWFObject: actions are records inside tags.
class TSWFAction {
 public:
  virtual ~TSWFAction() = default;
  std::uint8_t ActionCode = 0;
  std::uint16_t ActionLength = 0;  // body length, refreshed by every write

  // Copies ActionLength and every field of the class; throws std::invalid_argument for another
  // class.
  virtual void Assign(const TSWFAction& source);
  virtual std::uint16_t MinVersion() const { return 3; }
  // Reads the body; ActionLength is already set. Default: skips ActionLength bytes.
  virtual void ReadData(TBitsEngine& be);
  virtual void WriteActionBody(TBitsEngine& be) { (void)be; }
  // The whole record: code byte, and for codes from 0x80 the UI16 length and the body.
  virtual void WriteToStream(TBitsEngine& be);
  // Fields for the dump listing (frames, URLs, push values, branch targets).
  virtual void Describe(TSWFDescription& d) const { (void)d; }

 protected:
  explicit TSWFAction(std::uint8_t code) : ActionCode(code) {}
};

using TSWFActionList = std::vector<std::unique_ptr<TSWFAction>>;

// A new action of the class for the code, or null for a code without a class.
std::unique_ptr<TSWFAction> CreateActionByCode(std::uint8_t actionCode);
// The action's name ("Play", "GotoFrame"), or "Unknown".
const char* ActionName(std::uint8_t actionCode);

// Reads action records into list until a code 0 or until byteCount bytes from the start position
// were consumed; then places the branch markers. Throws on a short stream.
void ReadActionList(TBitsEngine& be, TSWFActionList& list, std::int64_t byteCount);
// Writes every action of the list in order (no end flag).
void WriteActionList(TBitsEngine& be, TSWFActionList& list);
// Deep copy of source into target (appended), markers re-linked to the copies.
void CopyActionList(const TSWFActionList& source, TSWFActionList& target);
// From the current position, the position after the first code 0, or the current position when
// there is none; the stream position is restored.
std::uint64_t FindEndActions(TBitsEngine& be);
// One dump line per action (offset, code, name, fields) at the given depth.
void DescribeActionList(const TSWFActionList& list, TSWFDescription& d, int depth);
// The largest MinVersion among the actions, at least 3.
std::uint16_t ActionListMinVersion(const TSWFActionList& list);

}  // namespace kestrova
