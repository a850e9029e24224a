#include "swfobjects/ButtonTags.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "swfobjects/TagCatalogue.h"

namespace kestrova {

namespace {

// ButtonState bits to the state byte of the file (HitTest, Down, Over, Up from bit 3 down).
std::uint8_t StateByte(std::uint8_t state) {
  return static_cast<std::uint8_t>(((state & TSWFButtonRecord::kHitTest) ? 0x08 : 0) |
                                   ((state & TSWFButtonRecord::kDown) ? 0x04 : 0) |
                                   ((state & TSWFButtonRecord::kOver) ? 0x02 : 0) |
                                   ((state & TSWFButtonRecord::kUp) ? 0x01 : 0));
}

std::uint8_t StateFromByte(std::uint8_t b) {
  return static_cast<std::uint8_t>(
      ((b & 0x08) ? TSWFButtonRecord::kHitTest : 0) | ((b & 0x04) ? TSWFButtonRecord::kDown : 0) |
      ((b & 0x02) ? TSWFButtonRecord::kOver : 0) | ((b & 0x01) ? TSWFButtonRecord::kUp : 0));
}

// A UI16 distance to the next part of a DefineButton2 body.
void WriteDistance(TBitsEngine& be, std::uint64_t distance) {
  if (distance > 0xFFFF) throw std::length_error("Button action block longer than 65535 bytes");
  be.WriteWord(static_cast<std::uint16_t>(distance));
}

// Lists are appended to piece by piece, never as `"," + temporary`: GCC 12 at -O3 inlines the
// latter into a false -Wrestrict warning inside std::string.
std::string DescribeColorTransform(const TSWFColorTransform& c) {
  std::string s;
  auto terms = [&](const char* name, std::int32_t r, std::int32_t g, std::int32_t b,
                   std::int32_t a) {
    s += std::string(s.empty() ? "" : " ") + name + "=(" + std::to_string(r) + "," +
         std::to_string(g) + "," + std::to_string(b);
    if (c.HasAlpha) (s += ",") += std::to_string(a);
    s += ")";
  };
  if (c.HasMult) terms("mult", c.MultR(), c.MultG(), c.MultB(), c.MultA());
  if (c.HasAdd) terms("add", c.AddR(), c.AddG(), c.AddB(), c.AddA());
  return s.empty() ? "none" : s;
}

}  // namespace

// ---- records ----

TSWFMatrix& TSWFButtonRecord::PlaceMatrix() {
  if (!FPlaceMatrix) FPlaceMatrix.emplace();
  return *FPlaceMatrix;
}

TSWFColorTransform& TSWFButtonRecord::ColorTransform() {
  if (!FColorTransform) FColorTransform.emplace();
  FHasColorTransform = true;
  return *FColorTransform;
}

void TSWFButtonRecord::Write(TBitsEngine& be, bool withColorTransform) const {
  be.WriteByte(static_cast<std::uint8_t>(StateByte(ButtonState) | (StateHighBits & 0xF0)));
  be.WriteWord(CharacterId);
  be.WriteWord(PlaceDepth);
  be.WriteMatrix(FPlaceMatrix ? FPlaceMatrix->GetRec() : TSWFMatrixRec{});
  if (!withColorTransform) return;
  TSWFColorTransformRec c;
  if (FHasColorTransform && FColorTransform) c = FColorTransform->GetRec();
  // A transform set without alpha must leave the alpha as it is, not multiply it by 0.
  if (!c.HasAlpha) {
    c.MultA = 256;
    c.AddA = 0;
    c.HasAlpha = true;
  }
  be.WriteColorTransform(c);
  be.WriteBytes(FilterAndBlendBytes.data(), static_cast<std::int64_t>(FilterAndBlendBytes.size()));
}

namespace {

// Bytes of one filter after its id byte, given the bytes that follow; 0 for an unknown id.
std::uint64_t FilterSize(std::uint8_t id, TStream& s, std::uint64_t at, std::uint64_t end) {
  auto byteAt = [&](std::uint64_t p) {
    if (p >= end) throw std::runtime_error("Button record filter list runs past the body");
    s.SetPosition(p);
    return s.ReadByte();
  };
  switch (id) {
    case 0:
      return 23;  // drop shadow
    case 1:
      return 9;  // blur
    case 2:
      return 15;  // glow
    case 3:
      return 27;  // bevel
    case 4:       // gradient glow
    case 7:       // gradient bevel
      return 1 + 5 * std::uint64_t(byteAt(at)) + 19;
    case 5:  // convolution
      return 15 + 4 * std::uint64_t(byteAt(at)) * byteAt(at + 1);
    case 6:
      return 80;  // colour matrix
    default:
      throw std::runtime_error("Button record filter of unknown kind " + std::to_string(id));
  }
}

}  // namespace

void TSWFButtonRecord::Read(TBitsEngine& be, std::uint8_t stateByte, bool withColorTransform,
                            std::uint64_t end) {
  ButtonState = StateFromByte(stateByte);
  StateHighBits = stateByte & 0xF0;
  CharacterId = be.ReadWord();
  PlaceDepth = be.ReadWord();
  PlaceMatrix().SetRec(be.ReadMatrix());
  FilterAndBlendBytes.clear();
  if (!withColorTransform) return;
  ColorTransform().SetRec(be.ReadColorTransform(true));
  // Filters and blend mode are kept as stored: their length is all this record needs to know.
  TStream& s = be.Stream;
  const std::uint64_t start = s.Position();
  std::uint64_t p = start;
  if (stateByte & 0x10) {
    if (p >= end) throw std::runtime_error("Button record filter list runs past the body");
    const std::uint8_t count = s.ReadByte();
    ++p;
    for (int i = 0; i < count; ++i) {
      if (p >= end) throw std::runtime_error("Button record filter list runs past the body");
      s.SetPosition(p);
      const std::uint8_t id = s.ReadByte();
      p += 1 + FilterSize(id, s, p + 1, end);
    }
  }
  if (stateByte & 0x20) ++p;
  if (p > end) throw std::runtime_error("Button record filter list runs past the body");
  s.SetPosition(start);
  FilterAndBlendBytes = s.ReadBytes(static_cast<std::size_t>(p - start));
}

std::string TSWFButtonRecord::Description() const {
  static const std::pair<std::uint8_t, const char*> kStates[] = {
      {kUp, "up"}, {kOver, "over"}, {kDown, "down"}, {kHitTest, "hitTest"}};
  std::string states;
  for (const auto& [bit, name] : kStates) {
    if (ButtonState & bit) (states += states.empty() ? "" : ",") += name;
  }
  std::string s = "record char=" + std::to_string(CharacterId) +
                  " depth=" + std::to_string(PlaceDepth) +
                  " states=" + (states.empty() ? "none" : states);
  if (FPlaceMatrix) {
    s += " at=(" + std::to_string(FPlaceMatrix->TranslateX) + "," +
         std::to_string(FPlaceMatrix->TranslateY) + ")";
  }
  if (FHasColorTransform && FColorTransform) {
    s += " cxform=[" + DescribeColorTransform(*FColorTransform) + "]";
  }
  return s;
}

// ---- common button ----

void TSWFBasedButton::ReadFromStream(TBitsEngine& be, TSWFReadContext& context) {
  ParseActions = context.ParseActions;
  ReadFromStream(be);
}

void TSWFBasedButton::ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) {
  for (auto& r : ButtonRecords) ids.push_back(&r->CharacterId);
}

void TSWFBasedButton::ReadRecords(TBodyReader& body, bool withColorTransform) {
  ButtonRecords.clear();
  for (;;) {
    if (body.Remaining() == 0) body.Fail("button records without an end");
    const std::uint8_t state = body.Byte();
    if (state == 0) return;
    auto record = std::make_unique<TSWFButtonRecord>();
    record->Read(body.Be, state, withColorTransform, body.End);
    body.Check("a button record");
    ButtonRecords.push_back(std::move(record));
  }
}

void TSWFBasedButton::WriteRecords(TBitsEngine& be, bool withColorTransform) const {
  // A record without states would write the 0 that ends the list: it is left out.
  for (const auto& r : ButtonRecords) {
    if ((StateByte(r->ButtonState) | (r->StateHighBits & 0xF0)) != 0)
      r->Write(be, withColorTransform);
  }
  be.WriteByte(0);
}

void TSWFBasedButton::DescribeRecords(TSWFDescription& d) const {
  d.Field("id", ButtonId);
  d.Field("records", static_cast<std::int64_t>(ButtonRecords.size()));
  for (const auto& r : ButtonRecords) d.Line(r->Description(), 0);
}

// ---- DefineButton ----

void TSWFDefineButton::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  ButtonId = body.Word();
  ReadRecords(body, false);
  Actions.clear();
  ReadActionBlock(be, Actions, body.End, ParseActions);
}

void TSWFDefineButton::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(ButtonId);
  // This tag's records have no place for a colour transform.
  WriteRecords(be, false);
  WriteActionBlock(be, Actions);
}

void TSWFDefineButton::Describe(TSWFDescription& d) const {
  DescribeRecords(d);
  d.Field("actions", static_cast<std::int64_t>(Actions.size()));
  if (Actions.empty()) return;
  d.Line("actions", 0);
  DescribeActionList(Actions, d, 1);
}

// ---- condition actions ----

namespace {
// Condition bits in the order of the first written byte, most significant first.
constexpr std::uint16_t kFirstByteOrder[8] = {
    TSWFButtonCondAction::kIdleToOverDown,    TSWFButtonCondAction::kOutDownToIdle,
    TSWFButtonCondAction::kOutDownToOverDown, TSWFButtonCondAction::kOverDownToOutDown,
    TSWFButtonCondAction::kOverDownToOverUp,  TSWFButtonCondAction::kOverUpToOverDown,
    TSWFButtonCondAction::kOverUpToIdle,      TSWFButtonCondAction::kIdleToOverUp};
}  // namespace

std::uint16_t TSWFButtonCondAction::ConditionWord() const {
  std::uint16_t first = 0;
  for (int i = 0; i < 8; ++i) {
    if (Conditions & kFirstByteOrder[i]) first |= static_cast<std::uint16_t>(0x80 >> i);
  }
  const std::uint16_t second = static_cast<std::uint16_t>(((CondKeyPress & 0x7F) << 1) |
                                                          ((Conditions & kOverDownToIdle) ? 1 : 0));
  return static_cast<std::uint16_t>((first << 8) | second);
}

void TSWFButtonCondAction::SetConditionWord(std::uint8_t first, std::uint8_t second) {
  Conditions = 0;
  for (int i = 0; i < 8; ++i) {
    if (first & (0x80 >> i)) Conditions |= kFirstByteOrder[i];
  }
  if (second & 1) Conditions |= kOverDownToIdle;
  CondKeyPress = second >> 1;
}

std::string TSWFButtonCondAction::Description() const {
  static const std::pair<std::uint16_t, const char*> kNames[] = {
      {kIdleToOverUp, "idleToOverUp"},           {kOverUpToIdle, "overUpToIdle"},
      {kOverUpToOverDown, "overUpToOverDown"},   {kOverDownToOverUp, "overDownToOverUp"},
      {kOutDownToOverDown, "outDownToOverDown"}, {kOverDownToOutDown, "overDownToOutDown"},
      {kOutDownToIdle, "outDownToIdle"},         {kIdleToOverDown, "idleToOverDown"},
      {kOverDownToIdle, "overDownToIdle"}};
  std::string names;
  for (const auto& [bit, name] : kNames) {
    if (Conditions & bit) (names += names.empty() ? "" : ",") += name;
  }
  std::string s = "condition " + (names.empty() ? std::string("none") : names);
  if (CondKeyPress) s += " key=" + std::to_string(CondKeyPress);
  return s + " actions=" + std::to_string(Actions.size());
}

// ---- DefineButton2 ----

std::uint16_t TSWFDefineButton2::MinVersion() const {
  std::uint16_t v = 3;
  for (const auto& c : Actions) v = std::max(v, ActionListMinVersion(c->Actions));
  return v;
}

void TSWFDefineButton2::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  ButtonId = body.Word();
  TrackAsMenu = (body.Byte() & 1) != 0;
  const std::uint16_t actionOffset = body.Word();
  ReadRecords(body, true);
  Actions.clear();
  if (actionOffset == 0) return;
  // A non-zero offset, and each condition's non-zero size, say that another condition follows.
  for (;;) {
    const std::uint64_t condStart = be.Stream.Position();
    // An offset with nothing after the records: a button without conditions.
    if (Actions.empty() && body.Remaining() == 0) break;
    body.Need(4, "condition action cut");
    const std::uint16_t size = body.Word();
    if (size != 0 && (size < 4 || size > body.End - condStart)) {
      body.Fail("condition action size " + std::to_string(size) + " does not fit the tag");
    }
    auto cond = std::make_unique<TSWFButtonCondAction>();
    const std::uint8_t first = body.Byte();
    cond->SetConditionWord(first, body.Byte());
    ReadActionBlock(be, cond->Actions, size ? condStart + size : body.End, ParseActions);
    // The size, when given, says where the next one starts.
    if (size) be.Stream.SetPosition(condStart + size);
    Actions.push_back(std::move(cond));
    if (size == 0) break;
  }
}

// Each part is laid out before the distance in front of it is written, so the body is written in
// one pass.
void TSWFDefineButton2::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(ButtonId);
  be.WriteByte(TrackAsMenu ? 1 : 0);
  TMemoryStream part;
  TBitsEngine pe(part, be);
  WriteRecords(pe, true);
  WriteDistance(be, Actions.empty() ? 0 : part.Size() + 2);
  be.WriteBytes(part.Data(), static_cast<std::int64_t>(part.Size()));
  for (std::size_t i = 0; i < Actions.size(); ++i) {
    const TSWFButtonCondAction& cond = *Actions[i];
    part.Clear();
    const std::uint16_t word = cond.ConditionWord();
    pe.WriteByte(static_cast<std::uint8_t>(word >> 8));
    pe.WriteByte(static_cast<std::uint8_t>(word));
    WriteActionBlock(pe, cond.Actions);
    WriteDistance(be, i + 1 < Actions.size() ? part.Size() + 2 : 0);
    be.WriteBytes(part.Data(), static_cast<std::int64_t>(part.Size()));
  }
}

void TSWFDefineButton2::Describe(TSWFDescription& d) const {
  DescribeRecords(d);
  if (TrackAsMenu) d.Field("trackAsMenu", "yes");
  d.Field("conditions", static_cast<std::int64_t>(Actions.size()));
  for (const auto& c : Actions) {
    d.Line(c->Description(), 0);
    DescribeActionList(c->Actions, d, 1);
  }
}

// ---- DefineButtonCxform ----

void TSWFDefineButtonCxform::ReadFromStream(TBitsEngine& be) {
  ButtonId = be.ReadWord();
  ButtonColorTransform.SetRec(be.ReadColorTransform(false));
}

void TSWFDefineButtonCxform::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(ButtonId);
  TSWFColorTransformRec c = ButtonColorTransform.GetRec();
  c.HasAlpha = false;
  be.WriteColorTransform(c);
}

void TSWFDefineButtonCxform::Describe(TSWFDescription& d) const {
  d.Field("button", ButtonId);
  const std::string terms = DescribeColorTransform(ButtonColorTransform);
  d.Field("cxform", "[" + terms + "]");
}

// ---- DefineButtonSound ----

TSWFStartSound& TSWFDefineButtonSound::Sound(TSlot slot) {
  auto& sound = FSounds.at(slot);
  if (!sound) sound.emplace();
  return *sound;
}

void TSWFDefineButtonSound::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  ButtonId = body.Word();
  for (int i = 0; i < kSlotCount; ++i) {
    FSounds[i].reset();
    if (body.Word() == 0) continue;
    be.Stream.SetPosition(be.Stream.Position() - 2);
    Sound(TSlot(i)).ReadRecord(body);
  }
}

void TSWFDefineButtonSound::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(ButtonId);
  for (int i = 0; i < kSlotCount; ++i) {
    if (Written(TSlot(i))) {
      FSounds[i]->WriteTagBody(be);
    } else {
      be.WriteWord(0);
    }
  }
}

void TSWFDefineButtonSound::ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) {
  ids.push_back(&ButtonId);
  for (int i = 0; i < kSlotCount; ++i) {
    if (Written(TSlot(i))) ids.push_back(&FSounds[i]->SoundId);
  }
}

void TSWFDefineButtonSound::Describe(TSWFDescription& d) const {
  static const char* const kSlotNames[kSlotCount] = {"OverUpToIdle", "IdleToOverUp",
                                                     "OverUpToOverDown", "OverDownToOverUp"};
  d.Field("button", ButtonId);
  for (int i = 0; i < kSlotCount; ++i) {
    if (Written(TSlot(i))) d.Line(std::string(kSlotNames[i]) + ": " + FSounds[i]->Summary());
  }
}

}  // namespace kestrova
