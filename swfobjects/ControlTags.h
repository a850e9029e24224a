// Control and display-list tags: the tags that run a movie's timeline.
//
// Readers throw EStreamError, naming the tag and the offset, when a body ends inside its fields:
// every read is bounded by the end of the tag's body as well as by the stream.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "swfobjects/Actions.h"
#include "swfobjects/SWFObject.h"

namespace kestrova {

class TSWFEnd : public TSWFObject {
 public:
  TSWFEnd() : TSWFObject(0) {}
};

class TSWFShowFrame : public TSWFObject {
 public:
  TSWFShowFrame() : TSWFObject(1) {}
};

class TSWFSetBackgroundColor : public TSWFObject {
 public:
  TSWFSetBackgroundColor() : TSWFObject(9) {}
  TSWFRGB& BackgroundColor() { return FBackgroundColor; }
  const TSWFRGB& BackgroundColor() const { return FBackgroundColor; }
  bool operator==(const TSWFSetBackgroundColor&) const = default;
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;

 private:
  TSWFRGB FBackgroundColor;
};

class TSWFFrameLabel : public TSWFObject {
 public:
  TSWFFrameLabel() : TSWFObject(43) {}
  explicit TSWFFrameLabel(std::string name) : TSWFObject(43), Name(std::move(name)) {}
  std::string Name;
  std::uint8_t NamedAnchor = 0;  // non-zero: the label is a named anchor (written as 1)

  bool operator==(const TSWFFrameLabel&) const = default;
  std::uint16_t MinVersion() const override { return NamedAnchor ? 6 : 3; }
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
};

// A movie protected against import (and the debugger tags, which share the body). A non-empty
// Password is written as its MD5-crypt hash with the object's Salt, which a new object draws from
// the salt source (swftools/SWFmd5.h): writing never changes the object, and writing it twice
// gives the same bytes. Without a Password, PasswordHash is written as it is. Reading fills
// PasswordHash and the reserved word only; bytes after the hash's terminating zero stay unparsed.
class TSWFProtect : public TSWFObject {
 public:
  TSWFProtect() : TSWFProtect(24) {}
  std::string Password;
  std::string PasswordHash;
  // The word before the hash: zero as written by this library; kept as read (a real-world
  // EnableDebugger2 holds 0x1975 there).
  std::uint16_t Reserved = 0;
  const std::string& Salt() const { return FSalt; }
  void SetSalt(std::string salt) { FSalt = std::move(salt); }

  // The salt, new and random for every object, counts only where it is used: to hash a
  // password.
  bool operator==(const TSWFProtect& other) const {
    return TSWFObject::operator==(other) && Password == other.Password &&
           PasswordHash == other.PasswordHash && Reserved == other.Reserved &&
           (Password.empty() || FSalt == other.FSalt) && FHasReserved == other.FHasReserved &&
           FHasHash == other.FHasHash;
  }
  std::uint16_t MinVersion() const override;
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;

 protected:
  explicit TSWFProtect(std::uint16_t tagID);

 private:
  std::string FSalt;
  // What a read body held besides the hash: the reserved word alone, or the word and a
  // terminated hash (an empty hash included), so an odd body reads back as it was.
  bool FHasReserved = false;
  bool FHasHash = false;
};

class TSWFEnableDebugger : public TSWFProtect {
 public:
  TSWFEnableDebugger() : TSWFProtect(58) {}
  std::uint16_t MinVersion() const override { return 5; }
};

class TSWFEnableDebugger2 : public TSWFProtect {
 public:
  TSWFEnableDebugger2() : TSWFProtect(64) {}
  std::uint16_t MinVersion() const override { return 6; }
};

// One exported or imported asset: its name and its character id.
struct TSWFAsset {
  std::string Name;
  std::uint16_t CharacterId = 0;
  bool operator==(const TSWFAsset&) const = default;
};

// The assets' ids are references to characters of this movie.
class TSWFExportAssets : public TSWFObject {
 public:
  TSWFExportAssets() : TSWFObject(56) {}
  std::vector<TSWFAsset> Assets;

  bool operator==(const TSWFExportAssets&) const = default;
  std::uint16_t MinVersion() const override { return 5; }
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override;
  void Describe(TSWFDescription& d) const override;

 protected:
  explicit TSWFExportAssets(std::uint16_t tagID) : TSWFObject(tagID) {}
  void ReadAssets(TBitsEngine& be, std::uint64_t end);
  void WriteAssets(TBitsEngine& be) const;
  void DescribeAssets(TSWFDescription& d) const;
};

// The assets' ids are characters this movie defines, taken from the movie at URL.
class TSWFImportAssets : public TSWFExportAssets {
 public:
  TSWFImportAssets() : TSWFExportAssets(57) {}
  std::string URL;

  bool operator==(const TSWFImportAssets&) const = default;
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void DefinedCharacterIDs(std::vector<std::uint16_t*>& ids) override;
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override { (void)ids; }
  void Describe(TSWFDescription& d) const override;
};

class TSWFScriptLimits : public TSWFObject {
 public:
  TSWFScriptLimits() : TSWFObject(65) {}
  std::uint16_t MaxRecursionDepth = 0;
  std::uint16_t ScriptTimeoutSeconds = 0;

  bool operator==(const TSWFScriptLimits&) const = default;
  std::uint16_t MinVersion() const override { return 7; }
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
};

class TSWFSetTabIndex : public TSWFObject {
 public:
  TSWFSetTabIndex() : TSWFObject(66) {}
  std::uint16_t Depth = 0;
  std::uint16_t TabIndex = 0;

  bool operator==(const TSWFSetTabIndex&) const = default;
  std::uint16_t MinVersion() const override { return 7; }
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
};

// ---- display list ----

class TSWFBasedPlaceObject : public TSWFObject {
 public:
  std::uint16_t Depth = 0;
  std::uint16_t CharacterId() const { return FCharacterId; }
  // Here it only stores the value; PlaceObject2 also raises its HasCharacter flag.
  virtual void SetCharacterId(std::uint16_t value) { FCharacterId = value; }

  bool operator==(const TSWFBasedPlaceObject&) const = default;

 protected:
  using TSWFObject::TSWFObject;
  std::uint16_t FCharacterId = 0;
};

class TSWFPlaceObject : public TSWFBasedPlaceObject {
 public:
  TSWFPlaceObject() : TSWFBasedPlaceObject(4) {}
  TSWFMatrix& Matrix() { return FMatrix; }
  const TSWFMatrix& Matrix() const { return FMatrix; }
  // Always without alpha.
  TSWFColorTransform& ColorTransform() { return FColorTransform; }
  const TSWFColorTransform& ColorTransform() const { return FColorTransform; }
  // Set by reading when the body holds a colour transform; writing also writes one when the
  // transform carries add or multiply terms.
  bool HasColorTransform = false;

  bool operator==(const TSWFPlaceObject&) const = default;
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override;
  void Describe(TSWFDescription& d) const override;

 private:
  TSWFMatrix FMatrix;
  TSWFColorTransform FColorTransform;
};

// Clip events: the bit number of each event in EventFlags and AllEventFlags.
enum TSWFClipEvent : unsigned {
  ceKeyUp = 0,
  ceKeyDown,
  ceMouseUp,
  ceMouseDown,
  ceMouseMove,
  ceUnload,
  ceEnterFrame,
  ceLoad,
  ceDragOver,
  ceRollOut,
  ceRollOver,
  ceReleaseOutside,
  ceRelease,
  cePress,
  ceInitialize,
  ceData,
  ceConstruct,  // this and the two below need SWF 6
  ceKeyPress,
  ceDragOut,
};
constexpr std::uint32_t ClipEventBit(TSWFClipEvent e) {
  return 1u << e;
}
// The events that exist only in the four-byte layout of SWF 6 and later.
inline constexpr std::uint32_t kClipEventsSWF6 =
    ClipEventBit(ceConstruct) | ClipEventBit(ceKeyPress) | ClipEventBit(ceDragOut);
inline constexpr std::uint32_t kClipEventsAll = (1u << 19) - 1;
// "KeyUp|Press" for a flag set.
std::string ClipEventNames(std::uint32_t flags);

// The actions run for a set of clip events.
class TSWFClipActionRecord {
 public:
  TSWFActionList Actions;
  std::uint32_t EventFlags = 0;
  std::uint8_t KeyCode() const { return FKeyCode; }
  // A non-zero key code turns the KeyPress event on, zero turns it off.
  void SetKeyCode(std::uint8_t value);

  bool operator==(const TSWFClipActionRecord&) const = default;

 private:
  friend class TSWFClipActions;  // reading keeps the flags exactly as the file has them
  std::uint8_t FKeyCode = 0;
};

// The clip actions of a PlaceObject2.
class TSWFClipActions : public TBasedSWFObject {
 public:
  std::vector<TCopyPtr<TSWFClipActionRecord>> ClipActionRecords;
  std::uint32_t AllEventFlags = 0;

  // A new record (owned by this list) for the events; a non-zero key code adds KeyPress, a zero
  // one removes it. The record's events are OR-ed into AllEventFlags.
  TSWFClipActionRecord& AddActions(std::uint32_t eventFlags, std::uint8_t keyCode = 0);
  // Throws std::out_of_range.
  TSWFClipActionRecord& ActionRecord(std::size_t index) { return *ClipActionRecords.at(index); }
  // Records that would be written: those with at least one event.
  std::size_t WritableCount() const;

  void Assign(const TBasedSWFObject& source) override { *this = SameClass(source, *this); }
  bool operator==(const TSWFClipActions&) const = default;
  int LibraryLevel() const override { return 0; }
  // 5, or 6 when an event of SWF 6 is used, or more for the actions.
  std::uint16_t MinVersion() const override;
  // Writes in the layout of MinVersion().
  void WriteToStream(TBitsEngine& be) override {
    Write(be, static_cast<std::uint8_t>(MinVersion()));
  }
  // Reserved word, AllEventFlags (with every record's events added), the records and the end flag
  // in the layout of swfVersion. A record without events is skipped: in the file its zero flags
  // would end the list.
  void Write(TBitsEngine& be, std::uint8_t swfVersion) const;
  // Reads up to end; returns whether any record was read. Throws EStreamError when the list or a
  // record runs past end.
  bool Read(TBitsEngine& be, std::uint64_t end, std::uint8_t swfVersion, bool parseActions);
  void Describe(TSWFDescription& d, int depth) const;
};

class TSWFPlaceObject2 : public TSWFBasedPlaceObject {
 public:
  TSWFPlaceObject2() : TSWFBasedPlaceObject(26) {}

  // Each optional part is present exactly when its value is there: the PlaceFlagHas... flags are
  // read off the parts, never kept beside them.
  bool PlaceFlagHasCharacter() const { return FHasCharacter; }
  bool PlaceFlagHasClipActions() const { return FClipActions.has_value(); }
  bool PlaceFlagHasClipDepth() const { return FClipDepth.has_value(); }
  bool PlaceFlagHasColorTransform() const { return FColorTransform.has_value(); }
  bool PlaceFlagHasMatrix() const { return FMatrix.has_value(); }
  bool PlaceFlagHasName() const { return FName.has_value(); }
  bool PlaceFlagHasRatio() const { return FRatio.has_value(); }
  bool PlaceFlagMove = false;

  // Created on first access, which makes the clip actions present.
  TSWFClipActions& ClipActions();
  const TSWFClipActions* ClipActionsIfAny() const {
    return FClipActions ? &*FClipActions : nullptr;
  }
  std::uint16_t ClipDepth() const { return FClipDepth.value_or(0); }
  void SetClipDepth(std::uint16_t v) { FClipDepth = v; }
  // Created (with alpha, its alpha multiplier a neutral 256 until multipliers are set) on first
  // access, which makes the transform present.
  TSWFColorTransform& ColorTransform();
  const TSWFColorTransform* ColorTransformIfAny() const {
    return FColorTransform ? &*FColorTransform : nullptr;
  }
  // Created (the identity) on first access, which makes the matrix present.
  TSWFMatrix& Matrix();
  const TSWFMatrix* MatrixIfAny() const { return FMatrix ? &*FMatrix : nullptr; }
  const std::string& Name() const;
  // The name is present when v is not empty (a name read from a file stays present even empty).
  void SetName(std::string v);
  std::uint16_t Ratio() const { return FRatio.value_or(0); }
  void SetRatio(std::uint16_t v) { FRatio = v; }
  // Makes the character present.
  void SetCharacterId(std::uint16_t value) override;
  // Each makes its part absent.
  void ClearCharacterId() { FHasCharacter = false; }
  void ClearClipActions() { FClipActions.reset(); }
  void ClearClipDepth() { FClipDepth.reset(); }
  void ClearColorTransform() { FColorTransform.reset(); }
  void ClearMatrix() { FMatrix.reset(); }
  void ClearRatio() { FRatio.reset(); }

  bool ParseActions = true;
  // The layout of clip actions when the engine names no movie version (TBitsEngine::SWFVersion);
  // writing uses at least what the clip actions need, without changing this field.
  std::uint8_t SWFVersion = 3;

  bool operator==(const TSWFPlaceObject2&) const = default;
  std::uint16_t MinVersion() const override;
  void ReadFromStream(TBitsEngine& be, TSWFReadContext& context) override;
  using TSWFObject::ReadFromStream;
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override;
  void Describe(TSWFDescription& d) const override;

 private:
  bool WritesClipActions() const;
  bool FHasCharacter = false;
  std::optional<TSWFClipActions> FClipActions;
  std::optional<std::uint16_t> FClipDepth;
  std::optional<TSWFColorTransform> FColorTransform;
  std::optional<TSWFMatrix> FMatrix;
  std::optional<std::string> FName;
  std::optional<std::uint16_t> FRatio;
};

class TSWFRemoveObject : public TSWFObject {
 public:
  TSWFRemoveObject() : TSWFObject(5) {}
  std::uint16_t CharacterId = 0;
  std::uint16_t Depth = 0;

  bool operator==(const TSWFRemoveObject&) const = default;
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override;
  void Describe(TSWFDescription& d) const override;
};

class TSWFRemoveObject2 : public TSWFObject {
 public:
  TSWFRemoveObject2() : TSWFObject(28) {}
  std::uint16_t Depth = 0;

  bool operator==(const TSWFRemoveObject2&) const = default;
  std::uint16_t MinVersion() const override { return 3; }
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
};

}  // namespace kestrova
