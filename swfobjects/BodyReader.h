// Keeps a tag's reads inside its body and names the tag and the offset when they do not fit. The
// file reader already bounds each body with a stream window; this adds the clear message.
#pragma once

#include <cstdint>
#include <string>

#include "swftools/SWFTools.h"

namespace kestrova {

class TSWFObject;

// The one error a tag or action reader raises for a body that does not hold its fields. It names
// where reading stopped, so a caller can report it without parsing the message.
class ESWFParseError : public EStreamError {
 public:
  ESWFParseError(const std::string& message, int tagID, std::uint64_t offset)
      : EStreamError(message), TagID(tagID), Offset(offset) {}
  // The tag's code, or -1 for a record that is not a tag (an action).
  int TagID;
  // The position in the body (or its stream) where reading stopped.
  std::uint64_t Offset;
};

class TBodyReader {
 public:
  // The body of tag from the engine's current position, BodySize bytes long; throws EStreamError
  // when BodySize is negative.
  TBodyReader(TBitsEngine& be, const TSWFObject& tag);
  // A body (or a record within one) of the tag tagID that ends at the stream position end.
  TBodyReader(TBitsEngine& be, std::uint64_t end, std::uint16_t tagID);
  // The same for a record that is not a tag (an action): name is what messages call it and must
  // outlive the reader.
  TBodyReader(TBitsEngine& be, std::uint64_t end, const char* name)
      : Be(be), End(end), Name(name), TagID(-1) {}

  TBitsEngine& Be;
  const std::uint64_t End;
  const char* const Name;
  const int TagID;  // -1 for an action

  // Bytes left before End; 0 once the position is at or past it.
  std::uint64_t Remaining() const {
    const std::uint64_t pos = Be.Stream.Position();
    return pos < End ? End - pos : 0;
  }
  // Each throws ESWFParseError through Fail when the body has fewer than count bytes left.
  void Need(std::uint64_t count) const { Need(count, "body ends inside its fields"); }
  void Need(std::uint64_t count, const char* what) const {
    if (Remaining() < count) Fail(what);
  }
  // After a bit-packed record, whose length is known only once it is read: throws when the
  // record ran past End. what names the record.
  void Check() const {
    if (Be.Stream.Position() > End) Fail("body ends inside its fields");
  }
  void Check(const char* what) const;
  std::uint8_t Byte() {
    Need(1);
    return Be.ReadByte();
  }
  std::uint16_t Word() {
    Need(2);
    return Be.ReadWord();
  }
  std::uint32_t DWord() {
    Need(4);
    return Be.ReadDWord();
  }
  // A zero-terminated string that must end within the body; throws otherwise.
  std::string String();
  // Throws ESWFParseError "<Name>: <what> (offset <position>)".
  [[noreturn]] void Fail(const std::string& what) const;
};

}  // namespace kestrova
