// Button tags: DefineButton, DefineButton2 with their records and condition actions,
// DefineButtonCxform and the sounds of a button (DefineButtonSound).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "swfobjects/Actions.h"
#include "swfobjects/SWFObject.h"
#include "swfobjects/SoundTags.h"

namespace kestrova {

// One character shown by a button in some of its states.
class TSWFButtonRecord : public TBasedSWFObject {
 public:
  // ButtonState bits.
  static constexpr std::uint8_t kUp = 1, kDown = 2, kOver = 4, kHitTest = 8;

  explicit TSWFButtonRecord(std::uint16_t characterId = 0) : CharacterId(characterId) {}
  std::uint8_t ButtonState = 0;
  std::uint16_t CharacterId;
  std::uint16_t PlaceDepth = 0;

  // Made on first access; an absent matrix is written as the identity.
  TSWFMatrix& PlaceMatrix();
  bool HasPlaceMatrix() const { return FPlaceMatrix.has_value(); }
  // Made on first access, which sets HasColorTransform.
  TSWFColorTransform& ColorTransform();
  bool HasColorTransform() const { return FHasColorTransform; }
  void SetHasColorTransform(bool v) { FHasColorTransform = v; }

  void Assign(const TBasedSWFObject& source) override { *this = SameClass(source, *this); }
  bool operator==(const TSWFButtonRecord&) const = default;
  int LibraryLevel() const override { return 0; }
  // The record; its CXFORMWITHALPHA only when HasColorTransform.
  void WriteToStream(TBitsEngine& be) override { Write(be, FHasColorTransform); }
  // withColorTransform: write a CXFORMWITHALPHA, an empty one when the record has none.
  void Write(TBitsEngine& be, bool withColorTransform) const;
  // Reads the record after its state byte, within end. A DefineButton2 record whose state byte
  // announces a filter list or a blend mode (SWF 8) keeps them as their stored bytes. Throws when
  // the filter list does not fit the body.
  void Read(TBitsEngine& be, std::uint8_t stateByte, bool withColorTransform, std::uint64_t end);
  // "char=3 depth=1 states=up,hitTest ..." for the dump.
  std::string Description() const;

  // Bits of the state byte above the four states, as stored: 0x10 filter list, 0x20 blend mode,
  // 0xC0 reserved. With a colour transform, the filter list (its count byte and filters) and the
  // blend mode byte follow it; they are kept as the stored bytes.
  std::uint8_t StateHighBits = 0;
  std::vector<std::uint8_t> FilterAndBlendBytes;

 private:
  std::optional<TSWFMatrix> FPlaceMatrix;
  std::optional<TSWFColorTransform> FColorTransform;
  bool FHasColorTransform = false;
};

using TSWFButtonRecordList = std::vector<TCopyPtr<TSWFButtonRecord>>;

class TSWFBasedButton : public TSWFObject {
 public:
  std::uint16_t ButtonId = 0;
  TSWFButtonRecordList ButtonRecords;
  bool ParseActions = true;

  bool operator==(const TSWFBasedButton&) const = default;
  std::uint16_t MinVersion() const override { return 3; }
  void ReadFromStream(TBitsEngine& be, TSWFReadContext& context) override;
  using TSWFObject::ReadFromStream;
  void DefinedCharacterIDs(std::vector<std::uint16_t*>& ids) override { ids.push_back(&ButtonId); }
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override;

 protected:
  explicit TSWFBasedButton(std::uint16_t tagID) : TSWFObject(tagID) {}
  // Reads records up to their zero byte, bounded by the body.
  void ReadRecords(TBodyReader& body, bool withColorTransform);
  void WriteRecords(TBitsEngine& be, bool withColorTransform) const;
  void DescribeRecords(TSWFDescription& d) const;
};

class TSWFDefineButton : public TSWFBasedButton {
 public:
  TSWFDefineButton() : TSWFBasedButton(7) {}
  TSWFActionList Actions;

  bool operator==(const TSWFDefineButton&) const = default;
  std::uint16_t MinVersion() const override { return ActionListMinVersion(Actions); }
  void ReadFromStream(TBitsEngine& be) override;
  using TSWFBasedButton::ReadFromStream;
  void WriteTagBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
};

// An action list of DefineButton2 with the transitions that run it.
class TSWFButtonCondAction {
 public:
  // Conditions bits.
  static constexpr std::uint16_t kIdleToOverUp = 0x01, kOverUpToIdle = 0x02,
                                 kOverUpToOverDown = 0x04, kOverDownToOverUp = 0x08,
                                 kOutDownToOverDown = 0x10, kOverDownToOutDown = 0x20,
                                 kOutDownToIdle = 0x40, kIdleToOverDown = 0x80,
                                 kOverDownToIdle = 0x100;
  std::uint16_t Conditions = 0;
  std::uint8_t CondKeyPress = 0;  // 7 bits
  TSWFActionList Actions;

  bool operator==(const TSWFButtonCondAction&) const = default;
  // The two condition bytes as written.
  std::uint16_t ConditionWord() const;
  void SetConditionWord(std::uint8_t first, std::uint8_t second);
  std::string Description() const;
};

class TSWFDefineButton2 : public TSWFBasedButton {
 public:
  TSWFDefineButton2() : TSWFBasedButton(34) {}
  bool TrackAsMenu = false;
  std::vector<TCopyPtr<TSWFButtonCondAction>> Actions;

  bool operator==(const TSWFDefineButton2&) const = default;
  // At least 3, and as high as the condition actions need.
  std::uint16_t MinVersion() const override;
  void ReadFromStream(TBitsEngine& be) override;
  using TSWFBasedButton::ReadFromStream;
  void WriteTagBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
};

class TSWFDefineButtonCxform : public TSWFObject {
 public:
  TSWFDefineButtonCxform() : TSWFObject(23) {}
  std::uint16_t ButtonId = 0;
  TSWFColorTransform ButtonColorTransform;  // written without alpha

  bool operator==(const TSWFDefineButtonCxform&) const = default;
  std::uint16_t MinVersion() const override { return 2; }
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override {
    ids.push_back(&ButtonId);
  }
  void Describe(TSWFDescription& d) const override;
};

// DefineButtonSound (17): the sounds a button plays on four of its transitions.
class TSWFDefineButtonSound : public TSWFObject {
 public:
  // The four slots in written order.
  enum TSlot { OverUpToIdle = 0, IdleToOverUp, OverUpToOverDown, OverDownToOverUp };
  static constexpr int kSlotCount = 4;

  TSWFDefineButtonSound() : TSWFObject(17) {}
  std::uint16_t ButtonId = 0;

  // Each accessor makes its sound on first use, which marks the slot present. A present slot
  // whose SoundId is 0 is written as absent.
  TSWFStartSound& SoundOverUpToIdle() { return Sound(OverUpToIdle); }
  TSWFStartSound& SoundIdleToOverUp() { return Sound(IdleToOverUp); }
  TSWFStartSound& SoundOverUpToOverDown() { return Sound(OverUpToOverDown); }
  TSWFStartSound& SoundOverDownToOverUp() { return Sound(OverDownToOverUp); }
  TSWFStartSound& Sound(TSlot slot);
  // The slot's sound, or null when it is absent (never creates it).
  const TSWFStartSound* SoundIfPresent(TSlot slot) const {
    return FSounds[slot] ? &*FSounds[slot] : nullptr;
  }

  bool operator==(const TSWFDefineButtonSound&) const = default;
  std::uint16_t MinVersion() const override { return 2; }
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override;
  void Describe(TSWFDescription& d) const override;

 private:
  bool Written(TSlot slot) const { return FSounds[slot] && FSounds[slot]->SoundId != 0; }
  std::array<std::optional<TSWFStartSound>, kSlotCount> FSounds;
};

}  // namespace kestrova
