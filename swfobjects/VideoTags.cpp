#include "swfobjects/VideoTags.h"

#include <string>

namespace kestrova {

namespace {

std::uint8_t Bit(bool flag, int shift) {
  return static_cast<std::uint8_t>((flag ? 1 : 0) << shift);
}

}  // namespace

// ---- DefineVideoStream ----

void TSWFDefineVideoStream::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  CharacterId = body.Word();
  NumFrames = body.Word();
  Width = body.Word();
  Height = body.Word();
  const std::uint8_t flags = body.Byte();
  VideoFlagsDeblocking = flags >> 1;
  VideoFlagsSmoothing = (flags & 1) != 0;
  CodecID = body.Byte();
}

void TSWFDefineVideoStream::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(CharacterId);
  be.WriteWord(NumFrames);
  be.WriteWord(Width);
  be.WriteWord(Height);
  be.WriteByte(static_cast<std::uint8_t>(((VideoFlagsDeblocking & 0x7F) << 1) |
                                         Bit(VideoFlagsSmoothing, 0)));
  be.WriteByte(CodecID);
}

void TSWFDefineVideoStream::Describe(TSWFDescription& d) const {
  d.Field("id", CharacterId);
  d.Field("frames", NumFrames);
  d.Field("size", std::to_string(Width) + "x" + std::to_string(Height));
  const char* codec = CodecID == 2 ? "H.263" : CodecID == 3 ? "screen" : nullptr;
  d.Field("codec", codec ? std::string(codec) : std::to_string(CodecID));
  d.Field("deblocking", VideoFlagsDeblocking);
  if (VideoFlagsSmoothing) d.Field("smoothing", "on");
}

// ---- VideoFrame ----

void TSWFVideoFrame::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  StreamId = body.Word();
  FrameNum = body.Word();
  ReadRestAsData(body);
}

void TSWFVideoFrame::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(StreamId);
  be.WriteWord(FrameNum);
  WriteData(be);
}

void TSWFVideoFrame::Describe(TSWFDescription& d) const {
  d.Field("stream", StreamId);
  d.Field("frame", FrameNum);
  d.Field("data", std::int64_t(Data.size()));
}

}  // namespace kestrova
