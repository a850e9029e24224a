#include "swfobjects/BodyReader.h"

#include <algorithm>

#include "swfobjects/SWFObject.h"
#include "swfobjects/TagCatalogue.h"

namespace kestrova {

TBodyReader::TBodyReader(TBitsEngine& be, const TSWFObject& tag)
    : TBodyReader(be, be.Stream.Position() + static_cast<std::uint64_t>(std::max(tag.BodySize, 0)),
                  tag.TagID) {
  if (tag.BodySize < 0) Fail("negative body size");
}

TBodyReader::TBodyReader(TBitsEngine& be, std::uint64_t end, std::uint16_t tagID)
    : Be(be), End(end), Name(TagName(tagID)), TagID(tagID) {}

void TBodyReader::Check(const char* what) const {
  if (Be.Stream.Position() > End) Fail(std::string(what) + " runs past the end of the body");
}

std::string TBodyReader::String() {
  std::string s;
  while (Remaining() > 0) {
    const std::uint8_t b = Be.ReadByte();
    if (b == 0) return s;
    s += static_cast<char>(b);
  }
  Fail("string is not terminated within the body");
}

void TBodyReader::Fail(const std::string& what) const {
  const std::uint64_t offset = Be.Stream.Position();
  throw ESWFParseError(std::string(Name) + ": " + what + " (offset " + std::to_string(offset) + ")",
                       TagID, offset);
}

}  // namespace kestrova
