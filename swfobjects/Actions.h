// Action records: the byte code carried by DoAction, DoInitAction, clip actions and buttons.
//
// Ownership: a TSWFActionList owns its actions. An action that refers to a branch target holds it
// through a TSWFMarkerRef: the marker is owned by the action until it is placed in a list (InList),
// from then on by the list, and the action keeps a plain pointer to it. So an action that refers to
// a marker of a list must not be used after that list is destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "swfobjects/SWFObject.h"

namespace kestrova {

class TSWFMarkerRef;
class TSWFOffsetMarker;

// A UI16 field of an action whose value is the distance to a branch marker of the list being
// written, counted from the end of the action's record.
struct TSWFMarkerSlot {
  const TSWFOffsetMarker* Marker = nullptr;
  // Where the field stands in the body: from its start, or, when negative, back from the end of
  // the fields the class writes (before TrailingBytes).
  std::int32_t FieldOffset = 0;
  // Only a marker behind the action counts (Try blocks); one before it gives 0.
  bool ForwardOnly = false;
  // Counted from the previous slot's marker instead, when that one stands before this one (the
  // blocks of a Try follow each other).
  bool Chained = false;
};

// Root of all action records. Not a TBasedSWFObject: actions are records inside tags.
class TSWFAction {
 public:
  virtual ~TSWFAction() = default;
  std::uint8_t ActionCode = 0;
  std::uint16_t ActionLength = 0;  // body length as read (writing measures the body itself)
  // Bytes of a read body past the fields the class reads, written back after them, so a rewritten
  // list keeps the offsets that branches read from the file count with.
  std::vector<std::uint8_t> TrailingBytes;

  // Copies every field through the class's own copy assignment; throws std::invalid_argument
  // for another class. Markers owned by the source are deep-copied; a reference to a marker of a
  // list is left empty (copying the list re-links it).
  void Assign(const TSWFAction& source);
  // A deep copy in the action's own class (as Assign); the caller owns it.
  std::unique_ptr<TSWFAction> Clone() const;
  // Same class and equal fields (ActionLength, a by-product of reading, is not compared).
  bool Equals(const TSWFAction& other) const;
  bool operator==(const TSWFAction& other) const {
    return ActionCode == other.ActionCode && TrailingBytes == other.TrailingBytes;
  }
  virtual std::uint16_t MinVersion() const { return 3; }
  // Reads the fields of the body; ActionLength is already set. The list reader keeps what is left
  // of the body in TrailingBytes. Default: reads nothing.
  virtual void ReadData(TBitsEngine& be);
  // Writes the fields of the body. A field whose value comes from a branch marker is written as
  // its explicit value or 0; the list writer puts in the marker's distance (MarkerSlots).
  virtual void WriteActionBody(TBitsEngine& be) const { (void)be; }
  // The whole record: code byte, and for codes from 0x80 the UI16 length and the body. Outside a
  // list, fields that come from markers are written as in WriteActionBody. Throws
  // std::length_error for a body longer than 65535 bytes.
  void WriteToStream(TBitsEngine& be) const;
  // Fields for the dump listing (frames, URLs, push values, branch targets).
  virtual void Describe(TSWFDescription& d) const { (void)d; }

  // The branch-target references of the action (none for most), in body order.
  virtual std::vector<TSWFMarkerRef*> MarkerRefs() { return {}; }
  std::vector<const TSWFMarkerRef*> MarkerRefs() const;
  // For each reference, the offset a reader places its marker at (0: none), from the values read.
  virtual std::vector<std::int64_t> MarkerOffsets() const { return {}; }
  // The fields whose values the list writer takes from where markers stand.
  virtual std::vector<TSWFMarkerSlot> MarkerSlots() const { return {}; }

 protected:
  explicit TSWFAction(std::uint8_t code) : ActionCode(code) {}
};

// Intermediate bases: an action derives from the one of the SWF version that introduced it.
template <std::uint16_t V>
class TSWFActionV : public TSWFAction {
 public:
  std::uint16_t MinVersion() const override { return V; }

 protected:
  explicit TSWFActionV(std::uint8_t code) : TSWFAction(code) {}
};
using TSWFAction4 = TSWFActionV<4>;
using TSWFAction5 = TSWFActionV<5>;
using TSWFAction6 = TSWFActionV<6>;
using TSWFAction7 = TSWFActionV<7>;
// The base class of an action introduced in version v.
template <int V>
using TSWFActionBase = std::conditional_t<
    V == 3, TSWFAction,
    std::conditional_t<V == 4, TSWFAction4,
                       std::conditional_t<V == 5, TSWFAction5,
                                          std::conditional_t<V == 6, TSWFAction6, TSWFAction7>>>>;

// An owning list of actions. A copy holds copies of the actions whose branch references point at
// the copied markers; two lists are equal when their actions are, one by one.
class TSWFActionList : public std::vector<std::unique_ptr<TSWFAction>> {
 public:
  using Base = std::vector<std::unique_ptr<TSWFAction>>;
  TSWFActionList() = default;
  TSWFActionList(const TSWFActionList& other);
  TSWFActionList(TSWFActionList&&) noexcept = default;
  TSWFActionList& operator=(const TSWFActionList& other);
  TSWFActionList& operator=(TSWFActionList&&) noexcept = default;
  bool operator==(const TSWFActionList& other) const;
};

// The action catalogue: code, class, name, version that introduced it. PLAIN rows have no body
// (codes from 0x80 among them keep an empty one) and their classes are declared from this table;
// BODY rows are declared below. 0xFE and 0xFF are pseudo actions of this library.
#define KESTROVA_ACTION_CATALOGUE(PLAIN, BODY)                 \
  PLAIN(0x04, TSWFActionNextFrame, "NextFrame", 3)             \
  PLAIN(0x05, TSWFActionPreviousFrame, "PreviousFrame", 3)     \
  PLAIN(0x06, TSWFActionPlay, "Play", 3)                       \
  PLAIN(0x07, TSWFActionStop, "Stop", 3)                       \
  PLAIN(0x08, TSWFActionToggleQuality, "ToggleQuality", 3)     \
  PLAIN(0x09, TSWFActionStopSounds, "StopSounds", 3)           \
  PLAIN(0x0A, TSWFActionAdd, "Add", 4)                         \
  PLAIN(0x0B, TSWFActionSubtract, "Subtract", 4)               \
  PLAIN(0x0C, TSWFActionMultiply, "Multiply", 4)               \
  PLAIN(0x0D, TSWFActionDivide, "Divide", 4)                   \
  PLAIN(0x0E, TSWFActionEquals, "Equals", 4)                   \
  PLAIN(0x0F, TSWFActionLess, "Less", 4)                       \
  PLAIN(0x10, TSWFActionAnd, "And", 4)                         \
  PLAIN(0x11, TSWFActionOr, "Or", 4)                           \
  PLAIN(0x12, TSWFActionNot, "Not", 4)                         \
  PLAIN(0x13, TSWFActionStringEquals, "StringEquals", 4)       \
  PLAIN(0x14, TSWFActionStringLength, "StringLength", 4)       \
  PLAIN(0x15, TSWFActionStringExtract, "StringExtract", 4)     \
  PLAIN(0x17, TSWFActionPop, "Pop", 4)                         \
  PLAIN(0x18, TSWFActionToInteger, "ToInteger", 4)             \
  PLAIN(0x1C, TSWFActionGetVariable, "GetVariable", 4)         \
  PLAIN(0x1D, TSWFActionSetVariable, "SetVariable", 4)         \
  PLAIN(0x20, TSWFActionSetTarget2, "SetTarget2", 4)           \
  PLAIN(0x21, TSWFActionStringAdd, "StringAdd", 4)             \
  PLAIN(0x22, TSWFActionGetProperty, "GetProperty", 4)         \
  PLAIN(0x23, TSWFActionSetProperty, "SetProperty", 4)         \
  PLAIN(0x24, TSWFActionCloneSprite, "CloneSprite", 4)         \
  PLAIN(0x25, TSWFActionRemoveSprite, "RemoveSprite", 4)       \
  PLAIN(0x26, TSWFActionTrace, "Trace", 4)                     \
  PLAIN(0x27, TSWFActionStartDrag, "StartDrag", 4)             \
  PLAIN(0x28, TSWFActionEndDrag, "EndDrag", 4)                 \
  PLAIN(0x29, TSWFActionStringLess, "StringLess", 4)           \
  PLAIN(0x2A, TSWFActionThrow, "Throw", 7)                     \
  PLAIN(0x2B, TSWFActionCastOp, "CastOp", 7)                   \
  PLAIN(0x2C, TSWFActionImplementsOp, "ImplementsOp", 7)       \
  PLAIN(0x30, TSWFActionRandomNumber, "RandomNumber", 4)       \
  PLAIN(0x31, TSWFActionMBStringLength, "MBStringLength", 4)   \
  PLAIN(0x32, TSWFActionCharToAscii, "CharToAscii", 4)         \
  PLAIN(0x33, TSWFActionAsciiToChar, "AsciiToChar", 4)         \
  PLAIN(0x34, TSWFActionGetTime, "GetTime", 4)                 \
  PLAIN(0x35, TSWFActionMBStringExtract, "MBStringExtract", 4) \
  PLAIN(0x36, TSWFActionMBCharToAscii, "MBCharToAscii", 4)     \
  PLAIN(0x37, TSWFActionMBAsciiToChar, "MBAsciiToChar", 4)     \
  PLAIN(0x3A, TSWFActionDelete, "Delete", 5)                   \
  PLAIN(0x3B, TSWFActionDelete2, "Delete2", 5)                 \
  PLAIN(0x3C, TSWFActionDefineLocal, "DefineLocal", 5)         \
  PLAIN(0x3D, TSWFActionCallFunction, "CallFunction", 5)       \
  PLAIN(0x3E, TSWFActionReturn, "Return", 5)                   \
  PLAIN(0x3F, TSWFActionModulo, "Modulo", 5)                   \
  PLAIN(0x40, TSWFActionNewObject, "NewObject", 5)             \
  PLAIN(0x41, TSWFActionDefineLocal2, "DefineLocal2", 5)       \
  PLAIN(0x42, TSWFActionInitArray, "InitArray", 5)             \
  PLAIN(0x43, TSWFActionInitObject, "InitObject", 5)           \
  PLAIN(0x44, TSWFActionTypeOf, "TypeOf", 5)                   \
  PLAIN(0x45, TSWFActionTargetPath, "TargetPath", 5)           \
  PLAIN(0x46, TSWFActionEnumerate, "Enumerate", 5)             \
  PLAIN(0x47, TSWFActionAdd2, "Add2", 5)                       \
  PLAIN(0x48, TSWFActionLess2, "Less2", 5)                     \
  PLAIN(0x49, TSWFActionEquals2, "Equals2", 5)                 \
  PLAIN(0x4A, TSWFActionToNumber, "ToNumber", 5)               \
  PLAIN(0x4B, TSWFActionToString, "ToString", 5)               \
  PLAIN(0x4C, TSWFActionPushDuplicate, "PushDuplicate", 5)     \
  PLAIN(0x4D, TSWFActionStackSwap, "StackSwap", 5)             \
  PLAIN(0x4E, TSWFActionGetMember, "GetMember", 5)             \
  PLAIN(0x4F, TSWFActionSetMember, "SetMember", 5)             \
  PLAIN(0x50, TSWFActionIncrement, "Increment", 5)             \
  PLAIN(0x51, TSWFActionDecrement, "Decrement", 5)             \
  PLAIN(0x52, TSWFActionCallMethod, "CallMethod", 5)           \
  PLAIN(0x53, TSWFActionNewMethod, "NewMethod", 5)             \
  PLAIN(0x54, TSWFActionInstanceOf, "InstanceOf", 6)           \
  PLAIN(0x55, TSWFActionEnumerate2, "Enumerate2", 6)           \
  PLAIN(0x60, TSWFActionBitAnd, "BitAnd", 5)                   \
  PLAIN(0x61, TSWFActionBitOr, "BitOr", 5)                     \
  PLAIN(0x62, TSWFActionBitXor, "BitXor", 5)                   \
  PLAIN(0x63, TSWFActionBitLShift, "BitLShift", 5)             \
  PLAIN(0x64, TSWFActionBitRShift, "BitRShift", 5)             \
  PLAIN(0x65, TSWFActionBitURShift, "BitURShift", 5)           \
  PLAIN(0x66, TSWFActionStrictEquals, "StrictEquals", 6)       \
  PLAIN(0x67, TSWFActionGreater, "Greater", 6)                 \
  PLAIN(0x68, TSWFActionStringGreater, "StringGreater", 6)     \
  PLAIN(0x69, TSWFActionExtends, "Extends", 7)                 \
  BODY(0x81, TSWFActionGotoFrame, "GotoFrame", 3)              \
  BODY(0x83, TSWFActionGetUrl, "GetUrl", 3)                    \
  BODY(0x87, TSWFActionStoreRegister, "StoreRegister", 5)      \
  BODY(0x88, TSWFActionConstantPool, "ConstantPool", 5)        \
  BODY(0x8A, TSWFActionWaitForFrame, "WaitForFrame", 3)        \
  BODY(0x8B, TSWFActionSetTarget, "SetTarget", 3)              \
  BODY(0x8C, TSWFActionGoToLabel, "GoToLabel", 3)              \
  BODY(0x8D, TSWFActionWaitForFrame2, "WaitForFrame2", 4)      \
  BODY(0x8E, TSWFActionDefineFunction2, "DefineFunction2", 7)  \
  BODY(0x8F, TSWFActionTry, "Try", 7)                          \
  BODY(0x94, TSWFActionWith, "With", 5)                        \
  BODY(0x96, TSWFActionPush, "Push", 4)                        \
  BODY(0x99, TSWFActionJump, "Jump", 4)                        \
  BODY(0x9A, TSWFActionGetURL2, "GetURL2", 4)                  \
  BODY(0x9B, TSWFActionDefineFunction, "DefineFunction", 5)    \
  BODY(0x9D, TSWFActionIf, "If", 4)                            \
  PLAIN(0x9E, TSWFActionCall, "Call", 4)                       \
  BODY(0x9F, TSWFActionGotoFrame2, "GotoFrame2", 4)            \
  BODY(0xFE, TSWFActionByteCode, "ByteCode", 4)                \
  BODY(0xFF, TSWFOffsetMarker, "OffsetMarker", 3)

#define KESTROVA_DECLARE_PLAIN_ACTION(code, cls, name, version) \
  class cls final : public TSWFActionBase<version> {            \
   public:                                                      \
    static constexpr std::uint8_t kCode = code;                 \
    cls() : TSWFActionBase<version>(code) {}                    \
  };
#define KESTROVA_SKIP_ACTION(code, cls, name, version)
KESTROVA_ACTION_CATALOGUE(KESTROVA_DECLARE_PLAIN_ACTION, KESTROVA_SKIP_ACTION)
#undef KESTROVA_DECLARE_PLAIN_ACTION

struct TActionCatalogueRow {
  std::uint8_t Code;
  const char* ClassName;
  const char* Name;
  std::uint16_t MinVersion;
  bool HasBody;
};
extern const TActionCatalogueRow kActionCatalogue[];
extern const std::size_t kActionCatalogueSize;

// ---- branch targets ----

// A branch target (code 0xFF): never written as a record; the list writer puts the distance to
// where it stands into the fields of the actions that refer to it.
class TSWFOffsetMarker final : public TSWFAction {
 public:
  static constexpr std::uint8_t kCode = 0xFF;
  TSWFOffsetMarker() : TSWFAction(kCode) {}
  bool InList = false;   // a list owns the marker
  bool JumpBack = true;  // read: stands before the referring action
  bool Active = true;    // takes part in offset computation; markers made by reading are inert
  std::string Label;

  bool operator==(const TSWFOffsetMarker&) const = default;
  void ReadData(TBitsEngine& be) override { (void)be; }
  void Describe(TSWFDescription& d) const override;
};

// An action's reference to a marker: owned while it is outside any list, else a plain pointer to
// the list's marker.
class TSWFMarkerRef {
 public:
  // The marker, made on first access (owned here).
  TSWFOffsetMarker& Marker();
  TSWFOffsetMarker* Get() const { return FMarker; }
  bool Owned() const { return FOwned != nullptr; }
  // Hands the owned marker over to a list (InList is set) and keeps pointing at it. Throws
  // std::logic_error when the marker is absent or already in a list.
  std::unique_ptr<TSWFOffsetMarker> TakeForList();
  // Points at a marker owned by a list.
  void Link(TSWFOffsetMarker* marker);
  void Reset();
  TSWFMarkerRef() = default;
  // Copies a source's owned marker; a reference to a marker of a list stays empty for the list's
  // copy to re-link.
  TSWFMarkerRef(const TSWFMarkerRef& other);
  TSWFMarkerRef(TSWFMarkerRef&&) noexcept = default;
  TSWFMarkerRef& operator=(const TSWFMarkerRef& other);
  TSWFMarkerRef& operator=(TSWFMarkerRef&&) noexcept = default;
  // Both empty, or both refer to markers with the same fields.
  bool operator==(const TSWFMarkerRef& other) const;

 private:
  std::unique_ptr<TSWFOffsetMarker> FOwned;
  TSWFOffsetMarker* FMarker = nullptr;
};

// Inserts the reference's marker (made if absent) into the list at index; the list takes ownership.
// Throws std::out_of_range for an index past the end, std::logic_error for a marker already in a
// list.
TSWFOffsetMarker& InsertMarker(TSWFActionList& list, std::size_t index, TSWFMarkerRef& ref);

// ---- actions with a body ----

class TSWFActionGotoFrame final : public TSWFAction {
 public:
  static constexpr std::uint8_t kCode = 0x81;
  TSWFActionGotoFrame() : TSWFAction(kCode) {}
  std::uint16_t Frame = 0;
  bool operator==(const TSWFActionGotoFrame&) const = default;
  void ReadData(TBitsEngine& be) override { Frame = be.ReadWord(); }
  void WriteActionBody(TBitsEngine& be) const override { be.WriteWord(Frame); }
  void Describe(TSWFDescription& d) const override { d.Field("frame", Frame); }
};

class TSWFActionGetUrl final : public TSWFAction {
 public:
  static constexpr std::uint8_t kCode = 0x83;
  TSWFActionGetUrl() : TSWFAction(kCode) {}
  std::string URL;     // Windows-1252, written as UTF-8
  std::string Target;  // written as held
  // The URL's bytes are written unconverted: reading sets it when the file's bytes are not UTF-8
  // that converts back losslessly (older files hold Windows-1252), so a rewrite keeps them.
  bool URLAsIs = false;
  bool operator==(const TSWFActionGetUrl&) const = default;
  void ReadData(TBitsEngine& be) override;
  void WriteActionBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
};

class TSWFActionWaitForFrame final : public TSWFAction {
 public:
  static constexpr std::uint8_t kCode = 0x8A;
  TSWFActionWaitForFrame() : TSWFAction(kCode) {}
  std::uint16_t Frame = 0;
  std::uint8_t SkipCount = 0;
  bool operator==(const TSWFActionWaitForFrame&) const = default;
  void ReadData(TBitsEngine& be) override;
  void WriteActionBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
};

class TSWFActionWaitForFrame2 final : public TSWFAction4 {
 public:
  static constexpr std::uint8_t kCode = 0x8D;
  TSWFActionWaitForFrame2() : TSWFAction4(kCode) {}
  std::uint8_t SkipCount = 0;
  bool operator==(const TSWFActionWaitForFrame2&) const = default;
  void ReadData(TBitsEngine& be) override { SkipCount = be.ReadByte(); }
  void WriteActionBody(TBitsEngine& be) const override { be.WriteByte(SkipCount); }
  void Describe(TSWFDescription& d) const override { d.Field("skip", SkipCount); }
};

class TSWFActionSetTarget final : public TSWFAction {
 public:
  static constexpr std::uint8_t kCode = 0x8B;
  TSWFActionSetTarget() : TSWFAction(kCode) {}
  std::string TargetName;
  bool operator==(const TSWFActionSetTarget&) const = default;
  void ReadData(TBitsEngine& be) override { TargetName = be.ReadString(); }
  void WriteActionBody(TBitsEngine& be) const override { be.WriteString(TargetName); }
  void Describe(TSWFDescription& d) const override { d.Field("target", QuoteText(TargetName)); }
};

class TSWFActionGoToLabel final : public TSWFAction {
 public:
  static constexpr std::uint8_t kCode = 0x8C;
  TSWFActionGoToLabel() : TSWFAction(kCode) {}
  std::string Label;
  bool operator==(const TSWFActionGoToLabel&) const = default;
  void ReadData(TBitsEngine& be) override { Label = be.ReadString(); }
  void WriteActionBody(TBitsEngine& be) const override { be.WriteString(Label); }
  void Describe(TSWFDescription& d) const override { d.Field("label", QuoteText(Label)); }
};

class TSWFActionStoreRegister final : public TSWFAction5 {
 public:
  static constexpr std::uint8_t kCode = 0x87;
  TSWFActionStoreRegister() : TSWFAction5(kCode) {}
  std::uint8_t RegisterNumber = 0;
  bool operator==(const TSWFActionStoreRegister&) const = default;
  void ReadData(TBitsEngine& be) override { RegisterNumber = be.ReadByte(); }
  void WriteActionBody(TBitsEngine& be) const override { be.WriteByte(RegisterNumber); }
  void Describe(TSWFDescription& d) const override { d.Field("register", RegisterNumber); }
};

class TSWFActionConstantPool final : public TSWFAction5 {
 public:
  static constexpr std::uint8_t kCode = 0x88;
  TSWFActionConstantPool() : TSWFAction5(kCode) {}
  std::vector<std::string> ConstantPool;  // at most 65535 are written
  bool operator==(const TSWFActionConstantPool&) const = default;
  // Throws when a constant runs past the action's length.
  void ReadData(TBitsEngine& be) override;
  void WriteActionBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
};

// Shared by the actions whose UI16 offset or size may come from a marker: an explicitly set value
// (by a setter, reading or copying) wins; else the marker's; else 0.
class TSWFMarkedField {
 public:
  std::int32_t Value() const { return FValue; }
  bool Explicit() const { return FExplicit; }
  void Set(std::int32_t v) {
    FValue = v;
    FExplicit = true;
  }
  void ClearExplicit() { FExplicit = false; }
  // The explicit value, or 0 in place of a marker's distance.
  void Write(TBitsEngine& be) const {
    be.WriteWord(static_cast<std::uint16_t>(FExplicit ? FValue : 0));
  }
  // The field at fieldOffset as a slot for the list writer, when a marker gives its value.
  std::vector<TSWFMarkerSlot> Slots(std::int32_t fieldOffset) const;
  TSWFMarkerRef Ref;
  bool operator==(const TSWFMarkedField&) const = default;

 private:
  std::int32_t FValue = 0;
  bool FExplicit = false;
};

class TSWFActionJump : public TSWFAction4 {
 public:
  static constexpr std::uint8_t kCode = 0x99;
  TSWFActionJump() : TSWFActionJump(kCode) {}
  std::int16_t BranchOffset() const { return static_cast<std::int16_t>(FOffset.Value()); }
  void SetBranchOffset(std::int16_t v) { FOffset.Set(v); }
  bool OffsetExplicit() const { return FOffset.Explicit(); }
  // The branch target, made on first access.
  TSWFOffsetMarker& TargetMarker() { return FOffset.Ref.Marker(); }
  TSWFMarkerRef& TargetRef() { return FOffset.Ref; }
  bool operator==(const TSWFActionJump&) const = default;
  void ReadData(TBitsEngine& be) override { FOffset.Set(static_cast<std::int16_t>(be.ReadWord())); }
  void WriteActionBody(TBitsEngine& be) const override { FOffset.Write(be); }
  void Describe(TSWFDescription& d) const override;
  std::vector<TSWFMarkerRef*> MarkerRefs() override { return {&FOffset.Ref}; }
  std::vector<std::int64_t> MarkerOffsets() const override { return {BranchOffset()}; }
  std::vector<TSWFMarkerSlot> MarkerSlots() const override { return FOffset.Slots(0); }

 protected:
  explicit TSWFActionJump(std::uint8_t code) : TSWFAction4(code) {}

 private:
  TSWFMarkedField FOffset;
};

class TSWFActionIf final : public TSWFActionJump {
 public:
  static constexpr std::uint8_t kCode = 0x9D;
  TSWFActionIf() : TSWFActionJump(kCode) {}
};

class TSWFActionWith final : public TSWFAction5 {
 public:
  static constexpr std::uint8_t kCode = 0x94;
  TSWFActionWith() : TSWFAction5(kCode) {}
  std::uint16_t Size() const { return static_cast<std::uint16_t>(FSize.Value()); }
  void SetSize(std::uint16_t v) { FSize.Set(v); }
  bool SizeExplicit() const { return FSize.Explicit(); }
  // Marks the end of the with block, made on first access.
  TSWFOffsetMarker& EndMarker() { return FSize.Ref.Marker(); }
  TSWFMarkerRef& EndRef() { return FSize.Ref; }
  bool operator==(const TSWFActionWith&) const = default;
  void ReadData(TBitsEngine& be) override { FSize.Set(be.ReadWord()); }
  void WriteActionBody(TBitsEngine& be) const override { FSize.Write(be); }
  void Describe(TSWFDescription& d) const override;
  std::vector<TSWFMarkerRef*> MarkerRefs() override { return {&FSize.Ref}; }
  std::vector<std::int64_t> MarkerOffsets() const override { return {Size()}; }
  std::vector<TSWFMarkerSlot> MarkerSlots() const override { return FSize.Slots(0); }

 private:
  TSWFMarkedField FSize;
};

class TSWFActionGetURL2 final : public TSWFAction4 {
 public:
  static constexpr std::uint8_t kCode = 0x9A;
  TSWFActionGetURL2() : TSWFAction4(kCode) {}
  std::uint8_t SendVarsMethod = 0;  // 0 none, 1 GET, 2 POST
  bool LoadTargetFlag = false;
  bool LoadVariablesFlag = false;
  bool operator==(const TSWFActionGetURL2&) const = default;
  void ReadData(TBitsEngine& be) override;
  void WriteActionBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
};

class TSWFActionGotoFrame2 final : public TSWFAction4 {
 public:
  static constexpr std::uint8_t kCode = 0x9F;
  TSWFActionGotoFrame2() : TSWFAction4(kCode) {}
  bool SceneBiasFlag = false;
  bool PlayFlag = false;
  std::uint16_t SceneBias = 0;  // written only with SceneBiasFlag
  bool operator==(const TSWFActionGotoFrame2&) const = default;
  void ReadData(TBitsEngine& be) override;
  void WriteActionBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
};

class TSWFActionDefineFunction final : public TSWFAction5 {
 public:
  static constexpr std::uint8_t kCode = 0x9B;
  TSWFActionDefineFunction() : TSWFAction5(kCode) {}
  std::string FunctionName;
  std::vector<std::string> Params;  // at most 65535 are written
  std::uint16_t CodeSize() const { return static_cast<std::uint16_t>(FCodeSize.Value()); }
  void SetCodeSize(std::uint16_t v) { FCodeSize.Set(v); }
  bool CodeSizeExplicit() const { return FCodeSize.Explicit(); }
  // Marks the end of the function's code, made on first access.
  TSWFOffsetMarker& EndMarker() { return FCodeSize.Ref.Marker(); }
  TSWFMarkerRef& EndRef() { return FCodeSize.Ref; }
  bool operator==(const TSWFActionDefineFunction&) const = default;
  void ReadData(TBitsEngine& be) override;
  void WriteActionBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
  std::vector<TSWFMarkerRef*> MarkerRefs() override { return {&FCodeSize.Ref}; }
  std::vector<std::int64_t> MarkerOffsets() const override { return {CodeSize()}; }
  std::vector<TSWFMarkerSlot> MarkerSlots() const override { return FCodeSize.Slots(-2); }

 private:
  TSWFMarkedField FCodeSize;
};

struct TSWFFunctionParam {
  std::uint8_t Register = 0;  // 0: the parameter is not held in a register
  std::string Name;
  bool operator==(const TSWFFunctionParam&) const = default;
};

class TSWFActionDefineFunction2 final : public TSWFAction7 {
 public:
  static constexpr std::uint8_t kCode = 0x8E;
  TSWFActionDefineFunction2() : TSWFAction7(kCode) {}
  std::string FunctionName;
  std::vector<TSWFFunctionParam> Parameters;  // at most 65535 are written
  std::uint8_t RegisterCount = 0;
  bool PreloadParentFlag = false, PreloadRootFlag = false, SuppressSuperFlag = false,
       PreloadSuperFlag = false, SuppressArgumentsFlag = false, PreloadArgumentsFlag = false,
       SuppressThisFlag = false, PreloadThisFlag = false, PreloadGlobalFlag = false;
  std::uint16_t CodeSize() const { return static_cast<std::uint16_t>(FCodeSize.Value()); }
  void SetCodeSize(std::uint16_t v) { FCodeSize.Set(v); }
  bool CodeSizeExplicit() const { return FCodeSize.Explicit(); }
  TSWFOffsetMarker& EndMarker() { return FCodeSize.Ref.Marker(); }
  TSWFMarkerRef& EndRef() { return FCodeSize.Ref; }
  bool operator==(const TSWFActionDefineFunction2&) const = default;
  void ReadData(TBitsEngine& be) override;
  void WriteActionBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
  std::vector<TSWFMarkerRef*> MarkerRefs() override { return {&FCodeSize.Ref}; }
  std::vector<std::int64_t> MarkerOffsets() const override { return {CodeSize()}; }
  std::vector<TSWFMarkerSlot> MarkerSlots() const override { return FCodeSize.Slots(-2); }

 private:
  TSWFMarkedField FCodeSize;
};

class TSWFActionTry final : public TSWFAction7 {
 public:
  static constexpr std::uint8_t kCode = 0x8F;
  TSWFActionTry() : TSWFAction7(kCode) {}
  bool CatchInRegisterFlag = false;
  bool FinallyBlockFlag = false;
  bool CatchBlockFlag = false;
  std::uint8_t CatchRegister = 0;  // with CatchInRegisterFlag
  std::string CatchName;           // without it
  std::uint16_t TrySize() const { return FSizes[0]; }
  std::uint16_t CatchSize() const { return FSizes[1]; }
  std::uint16_t FinallySize() const { return FSizes[2]; }
  // The three sizes share one explicit flag.
  void SetTrySize(std::uint16_t v) { SetSize(0, v); }
  void SetCatchSize(std::uint16_t v) { SetSize(1, v); }
  void SetFinallySize(std::uint16_t v) { SetSize(2, v); }
  bool SizesExplicit() const { return FSizesExplicit; }
  // The ends of the try, catch and finally blocks, made on first access.
  TSWFOffsetMarker& TryMarker() { return FRefs[0].Marker(); }
  TSWFOffsetMarker& CatchMarker() { return FRefs[1].Marker(); }
  TSWFOffsetMarker& FinallyMarker() { return FRefs[2].Marker(); }
  bool operator==(const TSWFActionTry&) const = default;
  void ReadData(TBitsEngine& be) override;
  void WriteActionBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
  std::vector<TSWFMarkerRef*> MarkerRefs() override { return {&FRefs[0], &FRefs[1], &FRefs[2]}; }
  std::vector<std::int64_t> MarkerOffsets() const override;
  std::vector<TSWFMarkerSlot> MarkerSlots() const override;

 private:
  void SetSize(int i, std::uint16_t v) {
    FSizes[i] = v;
    FSizesExplicit = true;
  }
  std::uint16_t FSizes[3] = {0, 0, 0};
  bool FSizesExplicit = false;
  TSWFMarkerRef FRefs[3];
};

// ---- Push ----

struct TPushUndefined {
  bool operator==(const TPushUndefined&) const = default;
};
struct TPushNull {
  bool operator==(const TPushNull&) const = default;
};
// A Push value: undefined, null, boolean, integer (also register numbers and constant indexes),
// single, double or string.
using TPushVariant =
    std::variant<TPushUndefined, TPushNull, bool, std::int64_t, float, double, std::string>;

struct TPushValueInfo {
  TPushVariant Value;
  std::uint8_t ValueType = 3;  // 0 string, 1 float, 2 null, 3 undefined, 4 register, 5 boolean,
                               // 6 double, 7 integer, 8 constant (UI8), 9 constant (UI16)
  bool operator==(const TPushValueInfo&) const = default;
};

class TSWFActionPush final : public TSWFAction4 {
 public:
  static constexpr std::uint8_t kCode = 0x96;
  TSWFActionPush() : TSWFAction4(kCode) {}
  // Adds a value with the type of its kind; the strings "FlashVar_undefined" and "FlashVar_null"
  // stand for undefined and null. Returns its index.
  std::size_t AddValue(TPushVariant value);
  // Changes the type code of a value (an integer into a register number 4 or a constant index 8
  // or 9, a single into a double). A code that does not fit the value's kind is refused (false).
  bool SetValueType(std::size_t index, std::uint8_t type);
  const std::vector<TPushValueInfo>& Values() const { return FValues; }
  void ClearValues() { FValues.clear(); }
  std::uint16_t MinVersion() const override;
  bool operator==(const TSWFActionPush&) const = default;
  // Throws on a value type without a meaning.
  void ReadData(TBitsEngine& be) override;
  void WriteActionBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;

 private:
  std::vector<TPushValueInfo> FValues;
};
// "string \"a\"", "integer 3", "null": a Push value for the dump.
std::string DescribePushValue(const TPushValueInfo& value);

// ---- raw bytes ----

// Raw, unparsed action bytes (code 0xFE), written verbatim with no code byte or length: the body of
// an action block read without parsing, or an action record of a code this library has no class
// for, kept whole so a rewrite keeps it and the offsets around it.
class TSWFActionByteCode final : public TSWFAction4 {
 public:
  static constexpr std::uint8_t kCode = 0xFE;
  TSWFActionByteCode() : TSWFAction4(kCode) {}
  std::vector<std::uint8_t> Data;
  bool operator==(const TSWFActionByteCode&) const = default;
  void WriteActionBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
};

// ---- lists ----

// A new action of the class for the code, or null for a code without a class.
std::unique_ptr<TSWFAction> CreateActionByCode(std::uint8_t actionCode);
// The action's name ("Play", "GotoFrame"), or "Unknown".
const char* ActionName(std::uint8_t actionCode);
// The bytes the action takes in a written list: 0 for markers, the data for raw bytes, 1 for codes
// below 0x80, else ActionLength + 3.
std::int64_t ActionSize(const TSWFAction& action);

// Reads action records into list until a code 0 or until byteCount bytes from the start position
// were consumed; then places the branch markers (inert, labelled). A record of a code without a
// class is kept as raw bytes. Throws on a short stream, on a record whose length runs past
// byteCount, and on a body that does not fit its length. Returns whether the end code was read.
bool ReadActionList(TBitsEngine& be, TSWFActionList& list, std::int64_t byteCount);
// Reads an action block that ends by limit, as DoAction, buttons and clip actions hold it: parsed,
// up to and including its end code (bytes after it are left to the caller); or, when parse is
// false, kept whole as one raw block of every byte up to limit, a final end code taken off
// (WriteActionBlock puts it back). Throws as ReadActionList, and EStreamError when limit lies
// before the stream's position.
void ReadActionBlock(TBitsEngine& be, TSWFActionList& list, std::uint64_t limit, bool parse);
// Writes every action of the list in order (no end flag), the fields that refer to markers of the
// list holding the distances to where the markers stand. The list is laid out first, so the
// output is written in one pass and no action changes. Throws std::length_error for an action
// body longer than 65535 bytes.
void WriteActionList(TBitsEngine& be, const TSWFActionList& list);
// An action block as tags and records hold it: the list, then the end code 0.
void WriteActionBlock(TBitsEngine& be, const TSWFActionList& list);
// Deep copy of source into target (appended), markers re-linked to the copies.
void CopyActionList(const TSWFActionList& source, TSWFActionList& target);
// From the current position, the position after the first code 0 before limit (and the stream's
// end), or the current position when there is none; the stream position is restored.
std::uint64_t FindEndActions(TBitsEngine& be, std::uint64_t limit = UINT64_MAX);
// One dump line per action (offset, code, name, fields) at the given depth.
void DescribeActionList(const TSWFActionList& list, TSWFDescription& d, int depth);
// The largest MinVersion among the actions, at least 3.
std::uint16_t ActionListMinVersion(const TSWFActionList& list);

}  // namespace kestrova
