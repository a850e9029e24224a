// Roots of the tag model: every SWF tag class derives from TSWFObject, which frames its body
// with the record header.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include "swfobjects/BodyReader.h"
#include "swfobjects/CopyPtr.h"
#include "swftools/SWFTools.h"

namespace kestrova {

// Root of tag objects and of movie-builder objects.
class TBasedSWFObject {
 public:
  virtual ~TBasedSWFObject() = default;
  // Copies every field from an object of the same class; throws std::invalid_argument otherwise.
  virtual void Assign(const TBasedSWFObject& source) = 0;
  // 0 for tag objects, 1 for movie-builder objects.
  virtual int LibraryLevel() const = 0;
  virtual std::uint16_t MinVersion() const { return 1; }
  virtual void WriteToStream(TBitsEngine& be) = 0;
  bool operator==(const TBasedSWFObject&) const = default;

 protected:
  // The source as the caller's class, or std::invalid_argument when it is another class.
  template <class T>
  static const T& SameClass(const TBasedSWFObject& source, const T& self) {
    if (typeid(source) != typeid(self)) {
      throw std::invalid_argument(std::string("Cannot assign a ") + typeid(source).name() +
                                  " to a " + typeid(self).name());
    }
    return static_cast<const T&>(source);
  }
};

// Raised when reading a file would take more memory than its reader allows. Unlike other read
// errors it is not contained in one tag: the whole load stops.
class EMemoryBudgetExceeded : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// What one reading pass over a file shares between its tags. A reader makes one per pass, so two
// files read one after the other, or on two threads, never see each other's state.
struct TSWFReadContext {
  // What reading a file may take by default: far above any movie the recorder makes (tens of
  // megabytes), yet small enough that a hostile file cannot exhaust a desktop's memory.
  static constexpr std::uint64_t kDefaultMemoryLimit = std::uint64_t(1) << 30;

  std::uint8_t SWFVersion = 0;  // the file's version byte
  bool ParseActions = true;     // decode action bytes into action objects
  // Glyph counts of the fonts read so far in this pass, by font id: a font info tag needs the
  // count of its font to size its code table.
  std::unordered_map<std::uint16_t, std::uint16_t> FontGlyphCount;
  // How many sprites enclose the tag being read.
  int SpriteDepth = 0;
  // The memory budget: an estimate of what the pass holds so far, and its limit.
  std::uint64_t MemoryLimit = kDefaultMemoryLimit;
  std::uint64_t MemoryUsed = 0;
  // Adds bytes to MemoryUsed; throws EMemoryBudgetExceeded when that passes MemoryLimit.
  void Charge(std::uint64_t bytes);
};

// Human-readable description of a tag for the dump command: fields on the tag's own line and
// lines below it (actions, records).
class TSWFDescription {
 public:
  void Field(std::string_view name, std::string_view value);
  void Field(std::string_view name, const char* value) { Field(name, std::string_view(value)); }
  void Field(std::string_view name, const std::string& value) {
    Field(name, std::string_view(value));
  }
  void Field(std::string_view name, std::int64_t value);
  void Field(std::string_view name, int value) { Field(name, std::int64_t(value)); }
  void Field(std::string_view name, unsigned value) { Field(name, std::int64_t(value)); }
  void Field(std::string_view name, std::uint16_t value) { Field(name, std::int64_t(value)); }
  void Field(std::string_view name, std::uint8_t value) { Field(name, std::int64_t(value)); }
  void Field(std::string_view name, bool value) = delete;  // say what a flag means instead
  // A line below the tag; depth 0 is one level in from the tag's line.
  void Line(std::string text, int depth = 0);

  std::string Fields;
  std::vector<std::pair<int, std::string>> Lines;
};
// Quotes a string for a description, escaping what would break a one-line listing.
std::string QuoteText(std::string_view text);
// A colour for a description: "#RRGGBB", or "#RRGGBBAA" with its alpha.
std::string ColorText(const TSWFRGB& c);
std::string ColorText(const TSWFRGBA& c, bool withAlpha);

class TSWFObject;
using TSWFObjectList = std::vector<TCopyPtr<TSWFObject>>;

// Base of every tag.
class TSWFObject : public TBasedSWFObject {
 public:
  std::int32_t BodySize = 0;  // meaningful only after a write or a read
  std::uint16_t TagID = 0;
  // Bytes of a read body after the fields the class knows (padding, fields of later versions):
  // written back after the body, so a rewrite loses nothing. Filled by ReadTagBody.
  std::vector<std::uint8_t> UnparsedBytes;

  // Copies every field of a tag of the same class (std::invalid_argument for another class)
  // through the class's own copy assignment, so assigning a tag to itself changes nothing.
  void Assign(const TBasedSWFObject& source) override;
  // A deep copy in the tag's own class; throws std::invalid_argument for a class the tag
  // catalogue does not know. The caller owns the copy.
  std::unique_ptr<TSWFObject> Clone() const;
  // Whether other is of the same class with equal fields (BodySize, a by-product of reading and
  // writing, is not compared).
  bool Equals(const TSWFObject& other) const;
  bool operator==(const TSWFObject& other) const {
    return TagID == other.TagID && UnparsedBytes == other.UnparsedBytes;
  }
  int LibraryLevel() const override { return 0; }
  // Writes the record header and the body (WriteTagBody, then UnparsedBytes) at the engine's
  // current position.
  void WriteToStream(TBitsEngine& be) override;
  // Reads the body; BodySize is already set. Throws on bad data.
  virtual void ReadFromStream(TBitsEngine& be) { (void)be; }
  virtual void WriteTagBody(TBitsEngine& be) const { (void)be; }

  // Reads the body within a reading pass, whose context carries the file's version, the choice to
  // parse actions, the glyph counts of the fonts read so far, the sprite nesting and the memory
  // budget. Tags that need none of it read through ReadFromStream(be); those that do override
  // this one, and their ReadFromStream(be) reads with a context of their own settings.
  virtual void ReadFromStream(TBitsEngine& be, TSWFReadContext& context) {
    (void)context;
    ReadFromStream(be);
  }

  // Character identifiers this tag defines, in file order, and those it refers to: the renumbering
  // of an imported movie rewrites them through these pointers.
  virtual void DefinedCharacterIDs(std::vector<std::uint16_t*>& ids) { (void)ids; }
  virtual void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) { (void)ids; }

  virtual void Describe(TSWFDescription& d) const { (void)d; }

  // The tags nested inside this one (a sprite's timeline), or null.
  virtual const TSWFObjectList* InnerTags() const { return nullptr; }

 protected:
  explicit TSWFObject(std::uint16_t tagID) : TagID(tagID) {}
};

// A tag kept as the bytes stored in the file: a tag whose body could not be read (ErrorMessage
// says why), or one of a code without a class inside a sprite. Writing gives back the stored
// record: FailedTagID with StoredBody, in the stored header form. The object's own TagID stays
// 240, so code that picks classes by TagID never mistakes it for a parsed tag.
class TSWFErrorTag : public TSWFObject {
 public:
  static constexpr std::uint16_t kTagID = 240;
  TSWFErrorTag() : TSWFObject(kTagID) {}
  std::uint16_t FailedTagID = 0;  // the stored code
  std::string ErrorMessage;       // empty for a tag that is merely of an unknown code
  std::vector<std::uint8_t> StoredBody;
  bool StoredLongHeader = false;  // the file used the long header for a short body
  bool operator==(const TSWFErrorTag&) const = default;
  void WriteToStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
};
// Raw tags and error tags are one class.
using TSWFRawTag = TSWFErrorTag;

// Record header forms.
bool IsAlwaysLongHeader(std::uint16_t tagID);
bool NeedsLongHeader(std::uint16_t tagID, std::int64_t bodySize);
// Writes the record header straight to the stream: the one writer of record headers (tags,
// stored records, sprites). longForm forces the long form for a short body.
void WriteRecordHeader(TStream& stream, std::uint16_t tagID, std::uint32_t bodySize,
                       bool longForm = false);

// Writes a record header for tagID straight to target, then copies size bytes of body from its
// current position (size 0: the whole body stream).
void WriteTagFromStream(TStream& target, std::uint16_t tagID, TStream& body,
                        std::uint32_t size = 0);
// BodySize + 2, plus 4 when BodySize > 62 (the forced long form of 20, 36, 60 is not counted).
std::int64_t TotalTagSize(const TSWFObject& tag);

// Reads a tag's body within a reading pass (ReadFromStream with the context); the bytes of the
// BodySize bytes from the engine's position that the class did not read go to UnparsedBytes. The
// caller positions the engine and handles errors: a body that does not hold its fields throws
// ESWFParseError (EMemoryBudgetExceeded and bad_alloc pass through as they are).
void ReadTagBody(TSWFObject& tag, TBitsEngine& be, TSWFReadContext& context);

// One stored record as found in a body: its code, whether the file used the long header, and the
// body length it claims.
struct TSWFRecordHeader {
  std::uint16_t TagID = 0;
  bool LongHeader = false;
  std::uint64_t Length = 0;
  // Bytes the header itself takes.
  std::uint64_t Size() const { return LongHeader ? 6 : 2; }
};
// Reads a record header at the stream's position. Returns false (consuming nothing) when fewer
// bytes remain than the header needs.
bool ReadRecordHeader(TStream& stream, TSWFRecordHeader& header);

// Makes the object for one stored record whose body is the whole of body: the class's object read
// from it, or a TSWFErrorTag keeping the stored bytes when the class cannot read the body (with
// the reason). When the code has no class, or the body is empty and the class would not write it
// empty, the result is a TSWFErrorTag without a message if keepUnknown, else null (the caller
// keeps the stored bytes itself). Charges the context's memory budget. Throws only
// EMemoryBudgetExceeded and std::bad_alloc; every other failure is contained in the error tag.
std::unique_ptr<TSWFObject> ReadStoredTag(const TSWFRecordHeader& header, TStream& body,
                                          TSWFReadContext& context, bool keepUnknown);

}  // namespace kestrova
