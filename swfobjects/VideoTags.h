// Embedded video: the video character (DefineVideoStream) and its encoded frames (VideoFrame).
#pragma once

#include <cstdint>
#include <vector>

#include "swfobjects/DataObject.h"
#include "swfobjects/SWFObject.h"

namespace kestrova {

// DefineVideoStream (60): a video character. Always framed with the long record header.
class TSWFDefineVideoStream : public TSWFObject {
 public:
  TSWFDefineVideoStream() : TSWFObject(60) {}
  std::uint16_t CharacterId = 0;
  std::uint16_t NumFrames = 0;
  std::uint16_t Width = 0;
  std::uint16_t Height = 0;
  // Read from, and written to, the seven bits above the smoothing flag (values 0 to 3 leave the
  // upper five zero), so whatever a file holds there survives a rewrite.
  std::uint8_t VideoFlagsDeblocking = 0;
  bool VideoFlagsSmoothing = false;
  std::uint8_t CodecID = 0;  // 2 Sorenson H.263, 3 screen video

  bool operator==(const TSWFDefineVideoStream&) const = default;
  std::uint16_t MinVersion() const override { return CodecID == 3 ? 7 : 6; }
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void DefinedCharacterIDs(std::vector<std::uint16_t*>& ids) override {
    ids.push_back(&CharacterId);
  }
  void Describe(TSWFDescription& d) const override;
};

// VideoFrame (61): one encoded frame of a video stream.
class TSWFVideoFrame : public TSWFDataObject {
 public:
  TSWFVideoFrame() : TSWFDataObject(61) {}
  std::uint16_t StreamId = 0;
  std::uint16_t FrameNum = 0;

  bool operator==(const TSWFVideoFrame&) const = default;
  std::uint16_t MinVersion() const override { return 6; }
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override {
    ids.push_back(&StreamId);
  }
  void Describe(TSWFDescription& d) const override;
};

}  // namespace kestrova
