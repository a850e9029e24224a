// Reading a list of tag records: the tags of a movie's body and the timeline of a sprite go
// through the same reader, and differ only in a policy.
#pragma once

#include <cstdint>
#include <memory>

#include "swfobjects/SWFObject.h"

namespace kestrova {

// What a list of tags may hold and what becomes of records that do not fit.
struct TTagListPolicy {
  // What messages call the list's owner ("DefineSprite"); must outlive the reader.
  const char* Owner = "movie";
  // Codes a list may hold: those whose catalogue row has this trait (0: every code).
  std::uint8_t AllowedTrait = 0;
  // A code outside AllowedTrait becomes a raw tag with a message (its bytes kept) when set;
  // otherwise it is read like any other. Sprites are lenient by default: definitions and nested
  // sprites do turn up in timelines, the player plays them, and a rebuild must keep them.
  bool RefuseDisallowed = false;
  // A code without a class (or an empty body its class would not write empty) becomes a raw tag
  // without a message; otherwise the record gets no object and its owner keeps the stored bytes.
  bool KeepUnknown = false;
  // An End tag (code 0) ends the list, whatever length it claims; the bytes after it are left.
  bool EndTagEnds = false;
  // Broken framing fails the whole list (std::runtime_error): the list ends without an End tag,
  // or a body runs past the list's end. Otherwise the list simply ends there: a header cut by the
  // end counts as trailing bytes, a body cut by it gives a record without an object.
  bool FramingIsStrict = false;
  // The list lies inside a tag (a sprite's timeline): while it is read, the pass counts one more
  // enclosing list.
  bool Nested = false;
  // How many lists may enclose a nested one; a deeper list fails (std::runtime_error) before it is
  // read, so a damaged file cannot exhaust the stack.
  int MaxNesting = 16;
  // Bytes charged to the reading pass's memory budget per record, for what the caller keeps about
  // each one (its index entry) besides the object, which is charged by itself.
  std::uint64_t EntryCost = 0;

  // A movie's body: every code, unknown codes and cut bodies left to the caller, no End needed.
  static TTagListPolicy TopLevel();
  // A sprite's timeline: ends at its End tag, unknown codes kept as raw tags, strict framing.
  static TTagListPolicy Sprite();
};

// One record of a list as read.
struct TTagRecord {
  std::uint64_t Position = 0;  // of the record header, in the list's stream
  TSWFRecordHeader Header;
  // The body lies wholly inside the list.
  bool BodyComplete = true;
  // The tag read (or the raw tag standing in for it); null when not asked for or when the policy
  // leaves it to the caller.
  std::unique_ptr<TSWFObject> Object;
  std::uint64_t BodyStart() const { return Position + Header.Size(); }
};

// Reads the records of a stream from its current position to its end, one at a time. The stream
// and the context must outlive the reader.
class TTagListReader {
 public:
  // Throws std::runtime_error when a nested list lies deeper than the policy allows.
  TTagListReader(TStream& list, TSWFReadContext& context, const TTagListPolicy& policy);
  ~TTagListReader();
  TTagListReader(const TTagListReader&) = delete;
  TTagListReader& operator=(const TTagListReader&) = delete;

  // Reads the next record header into record (its Object cleared). Returns false at the end of
  // the list: the stream's end, after an End tag that ends it, or before a header cut by the end
  // (TrailingBytes() then counts those bytes). Throws std::runtime_error for broken framing under
  // a strict policy, EMemoryBudgetExceeded past the budget.
  bool NextHeader(TTagRecord& record);
  // Reads the body of the record NextHeader gave, making its object when createObject (see the
  // policy for what unknown, disallowed and damaged tags become), and moves to the next record
  // whatever the object consumed. Throws only EMemoryBudgetExceeded and std::bad_alloc.
  void ReadBody(TTagRecord& record, bool createObject = true);
  // NextHeader, then ReadBody with an object.
  bool Next(TTagRecord& record);

  std::uint64_t TrailingBytes() const { return FTrailing; }
  // Where the next record header starts.
  std::uint64_t Position() const { return FNext; }

 private:
  std::unique_ptr<TSWFObject> ReadObject(const TTagRecord& record);
  TStream& FList;
  TSWFReadContext& FContext;
  TTagListPolicy FPolicy;
  std::uint64_t FNext;  // where the next record header starts
  bool FNested = false;
  bool FEnded = false;
  std::uint64_t FTrailing = 0;
};

// Reads a whole nested list (a timeline) into tags, End tag included. Throws as the reader does.
void ReadTagList(TStream& list, TSWFReadContext& context, const TTagListPolicy& policy,
                 TSWFObjectList& tags);

}  // namespace kestrova
