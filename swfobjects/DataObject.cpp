#include "swfobjects/DataObject.h"

#include <stdexcept>

namespace kestrova {

void TSWFDataObject::WriteData(TBitsEngine& be) const {
  if (OnDataWrite) {
    OnDataWrite(*this, be);
  } else {
    be.WriteBytes(Data.data(), static_cast<std::int64_t>(Data.size()));
  }
}

void TSWFDataObject::ReadRestAsData(TBodyReader& body) {
  Data = body.Be.Stream.ReadBytes(static_cast<std::size_t>(body.Remaining()));
}

void TSWFDataObject::WriteJPEGData(TBitsEngine& be) const {
  if (JPEGLead == TJPEGLead::ErroneousHeader) {
    be.WriteWord(0xD9FF);  // the bytes 0xFF 0xD9
  }
  if (JPEGLead != TJPEGLead::None) be.WriteWord(0xD8FF);
  WriteData(be);
  if (JPEGEndMarker) be.WriteWord(0xD9FF);
}

void TSWFDataObject::ReadJPEGPart(TBodyReader& body, std::uint64_t size) {
  body.Need(size, "JPEG data runs past the end of the body");
  std::vector<std::uint8_t> part = body.Be.Stream.ReadBytes(static_cast<std::size_t>(size));
  auto at = [&part](std::size_t i, std::uint8_t a, std::uint8_t b) {
    return part.size() >= i + 2 && part[i] == a && part[i + 1] == b;
  };
  std::size_t lead = 0;
  JPEGLead = TJPEGLead::None;
  if (at(0, 0xFF, 0xD9) && at(2, 0xFF, 0xD8)) {
    JPEGLead = TJPEGLead::ErroneousHeader;
    lead = 4;
  } else if (at(0, 0xFF, 0xD8)) {
    JPEGLead = TJPEGLead::StartMarker;
    lead = 2;
  }
  JPEGEndMarker = part.size() >= lead + 2 && at(part.size() - 2, 0xFF, 0xD9);
  const std::size_t end = part.size() - (JPEGEndMarker ? 2 : 0);
  if (lead == 0 && !JPEGEndMarker) {
    Data = std::move(part);
  } else {
    Data.assign(part.begin() + static_cast<std::ptrdiff_t>(lead),
                part.begin() + static_cast<std::ptrdiff_t>(end));
  }
}

}  // namespace kestrova
