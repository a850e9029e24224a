// Placeholder implementation of the action layer: the root record and generic list handling.
// The action catalogue replaces CreateActionByCode with the full table.
#include "swfobjects/Actions.h"

#include <typeinfo>

namespace kestrova {

void TSWFAction::Assign(const TSWFAction& source) {
  if (typeid(source) != typeid(*this)) throw std::invalid_argument("Cannot assign another action");
  ActionLength = source.ActionLength;
}

void TSWFAction::ReadData(TBitsEngine& be) {
  be.Stream.SetPosition(be.Stream.Position() + ActionLength);
}

void TSWFAction::WriteToStream(TBitsEngine& be) {
  if (ActionCode == 0xFE || ActionCode == 0xFF) {
    WriteActionBody(be);
    return;
  }
  be.WriteByte(ActionCode);
  if (ActionCode < 0x80) return;
  TMemoryStream body;
  TBitsEngine bodyEngine(body);
  WriteActionBody(bodyEngine);
  bodyEngine.FlushLastByte(true);
  ActionLength = static_cast<std::uint16_t>(body.Size());
  be.WriteWord(ActionLength);
  be.WriteBytes(body.Data(), static_cast<std::int64_t>(body.Size()));
}

std::unique_ptr<TSWFAction> CreateActionByCode(std::uint8_t) { return nullptr; }
const char* ActionName(std::uint8_t) { return "Unknown"; }

void ReadActionList(TBitsEngine& be, TSWFActionList& list, std::int64_t byteCount) {
  const std::uint64_t start = be.Stream.Position();
  while (be.Stream.Position() < start + static_cast<std::uint64_t>(byteCount)) {
    const std::uint8_t code = be.ReadByte();
    if (code == 0) break;
    auto action = CreateActionByCode(code);
    std::uint16_t length = 0;
    if (code >= 0x80) length = be.ReadWord();
    if (!action) {
      be.Stream.SetPosition(be.Stream.Position() + length);
      continue;
    }
    action->ActionLength = length;
    if (code >= 0x80) action->ReadData(be);
    list.push_back(std::move(action));
  }
}

void WriteActionList(TBitsEngine& be, TSWFActionList& list) {
  for (auto& action : list) action->WriteToStream(be);
}

void CopyActionList(const TSWFActionList& source, TSWFActionList& target) {
  for (const auto& action : source) {
    auto copy = CreateActionByCode(action->ActionCode);
    if (!copy) continue;
    copy->Assign(*action);
    target.push_back(std::move(copy));
  }
}

std::uint64_t FindEndActions(TBitsEngine& be) {
  const std::uint64_t start = be.Stream.Position();
  const std::uint64_t size = be.Stream.Size();
  std::uint64_t result = start;
  std::uint64_t pos = start;
  std::uint8_t b[2];
  while (pos < size) {
    be.Stream.SetPosition(pos);
    be.Stream.ReadBuffer(b, 1);
    ++pos;
    if (b[0] == 0) {
      result = pos;
      break;
    }
    if (b[0] >= 0x80) {
      if (size - pos < 2) break;
      be.Stream.ReadBuffer(b, 2);
      pos += 2 + (b[0] | (b[1] << 8));
    }
  }
  be.Stream.SetPosition(start);
  return result;
}

void DescribeActionList(const TSWFActionList& list, TSWFDescription& d, int depth) {
  for (const auto& action : list) {
    TSWFDescription a;
    action->Describe(a);
    d.Line(std::string(ActionName(action->ActionCode)) + " " + a.Fields, depth);
  }
}

std::uint16_t ActionListMinVersion(const TSWFActionList& list) {
  std::uint16_t v = 3;
  for (const auto& action : list) v = std::max(v, action->MinVersion());
  return v;
}

}  // namespace kestrova
