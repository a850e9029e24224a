// The base of tags that carry a raw data block (bitmaps, sounds, video frames): the block
// itself or a callback that writes it, and the JPEG markers some of them frame it with.
#pragma once

#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

#include "swfobjects/SWFObject.h"

namespace kestrova {

class TSWFDataObject;
// A callback that appends a data block to the body being written through be. Callbacks cannot
// be compared: two events are equal when both are set or both are not.
class TSWFDataWriteEvent {
 public:
  using TFunction = std::function<void(const TSWFDataObject& tag, TBitsEngine& be)>;
  TSWFDataWriteEvent() = default;
  template <class F,
            class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, TSWFDataWriteEvent> &&
                                     std::is_constructible_v<TFunction, F>>>
  TSWFDataWriteEvent(F&& function) : FFunction(std::forward<F>(function)) {}
  explicit operator bool() const { return static_cast<bool>(FFunction); }
  void operator()(const TSWFDataObject& tag, TBitsEngine& be) const { FFunction(tag, be); }
  bool operator==(const TSWFDataWriteEvent& other) const {
    return static_cast<bool>(FFunction) == static_cast<bool>(other.FFunction);
  }

 private:
  TFunction FFunction;
};

// A tag carrying a raw data block. The tag owns Data; when OnDataWrite is set it writes the block
// instead and Data is not used.
class TSWFDataObject : public TSWFObject {
 public:
  std::vector<std::uint8_t> Data;
  TSWFDataWriteEvent OnDataWrite;

  // What stood before a JPEG tag's data block in the body: the start-of-image marker (FF D8, as
  // this library writes), the erroneous header older tools put there (FF D9 FF D8), or nothing
  // (a PNG or GIF image, or JPEG data without its marker). Reading takes the markers off only
  // where they really are, so image data of any kind is kept byte for byte.
  enum class TJPEGLead : std::uint8_t { None, StartMarker, ErroneousHeader };
  TJPEGLead JPEGLead = TJPEGLead::StartMarker;
  // Whether the end-of-image marker (FF D9) follows the block.
  bool JPEGEndMarker = true;

  std::int32_t DataSize() const { return static_cast<std::int32_t>(Data.size()); }
  bool operator==(const TSWFDataObject&) const = default;

 protected:
  explicit TSWFDataObject(std::uint16_t code) : TSWFObject(code) {}
  // The callback's bytes, or Data.
  void WriteData(TBitsEngine& be) const;
  // The rest of the body stream (from its position to its end) becomes the data block.
  void ReadRestAsData(TBodyReader& body);
  // The next size bytes as a JPEG block: the leading marker or header and the end marker, where
  // present, set JPEGLead and JPEGEndMarker; Data is what lies between. Throws EStreamError when
  // the body holds fewer than size bytes.
  void ReadJPEGPart(TBodyReader& body, std::uint64_t size);
  // The rest of the body as a JPEG block.
  void ReadJPEGData(TBodyReader& body) { ReadJPEGPart(body, body.Remaining()); }
  // Writes the lead JPEGLead names, the block and, when JPEGEndMarker, 0xFF 0xD9.
  void WriteJPEGData(TBitsEngine& be) const;
};

}  // namespace kestrova
