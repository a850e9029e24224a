#include "swfobjects/SoundTags.h"

#include <string>

namespace kestrova {

namespace {

std::uint8_t Bit(bool flag, int shift) {
  return static_cast<std::uint8_t>((flag ? 1 : 0) << shift);
}

const char* SoundFormatName(std::uint8_t format) {
  static const char* const kNames[] = {"uncompressed",    "ADPCM",        "MP3",
                                       "uncompressed-le", "Nellymoser16", "Nellymoser8",
                                       "Nellymoser"};
  return format < std::size(kNames) ? kNames[format] : "unknown";
}

const char* SoundRateName(std::uint8_t rate) {
  static const char* const kNames[] = {"5.5kHz", "11kHz", "22kHz", "44kHz"};
  return kNames[rate & 3];
}

// Format, rate, size and type of a sound or a stream, as description fields.
void DescribeFormat(TSWFDescription& d, const char* prefix, std::uint8_t format, std::uint8_t rate,
                    bool size16, bool stereo) {
  const std::string p(prefix);
  if (format != 0xFF) d.Field(p + "format", SoundFormatName(format));
  d.Field(p + "rate", SoundRateName(rate));
  d.Field(p + "size", size16 ? "16bit" : "8bit");
  d.Field(p + "type", stereo ? "stereo" : "mono");
}

}  // namespace

// ---- DefineSound ----

std::uint16_t TSWFDefineSound::MinVersion() const {
  if (SoundFormat == 2 || SoundFormat == 3) return 4;
  return SoundFormat == 6 ? 6 : 1;
}

void TSWFDefineSound::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  SoundId = body.Word();
  const std::uint8_t flags = body.Byte();
  SoundFormat = flags >> 4;
  SoundRate = (flags >> 2) & 3;
  SoundSize = (flags & 2) != 0;
  SoundType = (flags & 1) != 0;
  SoundSampleCount = body.DWord();
  if (SoundFormat == 2) SeekSamples = body.Word();
  ReadRestAsData(body);
}

void TSWFDefineSound::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(SoundId);
  be.WriteByte(static_cast<std::uint8_t>(((SoundFormat & 0x0F) << 4) | ((SoundRate & 3) << 2) |
                                         Bit(SoundSize, 1) | Bit(SoundType, 0)));
  be.WriteDWord(SoundSampleCount);
  if (SoundFormat == 2) be.WriteWord(SeekSamples);
  WriteData(be);
}

void TSWFDefineSound::Describe(TSWFDescription& d) const {
  d.Field("id", SoundId);
  DescribeFormat(d, "", SoundFormat, SoundRate, SoundSize, SoundType);
  d.Field("samples", std::int64_t(SoundSampleCount));
  if (SoundFormat == 2) d.Field("seek", SeekSamples);
  d.Field("data", std::int64_t(Data.size()));
}

// ---- StartSound ----

void TSWFStartSound::SetInPoint(std::uint32_t v) {
  FInPoint = v;
  HasInPoint = v != 0;
}

void TSWFStartSound::SetOutPoint(std::uint32_t v) {
  FOutPoint = v;
  HasOutPoint = v != 0;
}

void TSWFStartSound::SetLoopCount(std::uint16_t v) {
  FLoopCount = v;
  HasLoops = v != 0;
}

void TSWFStartSound::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  ReadRecord(body);
}

void TSWFStartSound::ReadRecord(TBodyReader& body) {
  SoundId = body.Word();
  const std::uint8_t flags = body.Byte();
  SyncStop = (flags & 0x20) != 0;
  SyncNoMultiple = (flags & 0x10) != 0;
  HasEnvelope = (flags & 0x08) != 0;
  HasLoops = (flags & 0x04) != 0;
  HasOutPoint = (flags & 0x02) != 0;
  HasInPoint = (flags & 0x01) != 0;
  FInPoint = HasInPoint ? body.DWord() : 0;
  FOutPoint = HasOutPoint ? body.DWord() : 0;
  FLoopCount = HasLoops ? body.Word() : 0;
  EnvelopeRecords.clear();
  if (!HasEnvelope) return;
  const std::uint8_t count = body.Byte();
  for (int i = 0; i < count; ++i) {
    TSWFSoundEnvelope e;
    e.Pos44 = body.DWord();
    e.LeftLevel = body.Word();
    e.RightLevel = body.Word();
    EnvelopeRecords.push_back(e);
  }
}

void TSWFStartSound::WriteTagBody(TBitsEngine& be) const {
  const bool envelope = HasEnvelope && !EnvelopeRecords.empty();
  be.WriteWord(SoundId);
  be.WriteByte(Bit(SyncStop, 5) | Bit(SyncNoMultiple, 4) | Bit(envelope, 3) | Bit(HasLoops, 2) |
               Bit(HasOutPoint, 1) | Bit(HasInPoint, 0));
  if (HasInPoint) be.WriteDWord(FInPoint);
  if (HasOutPoint) be.WriteDWord(FOutPoint);
  if (HasLoops) be.WriteWord(FLoopCount);
  if (!envelope) return;
  // The count is one byte: a longer list is cut there, so the count always matches the records.
  const std::size_t count = std::min<std::size_t>(EnvelopeRecords.size(), 255);
  be.WriteByte(static_cast<std::uint8_t>(count));
  for (std::size_t i = 0; i < count; ++i) {
    be.WriteDWord(EnvelopeRecords[i].Pos44);
    be.WriteWord(EnvelopeRecords[i].LeftLevel);
    be.WriteWord(EnvelopeRecords[i].RightLevel);
  }
}

void TSWFStartSound::ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) {
  ids.push_back(&SoundId);
}

std::string TSWFStartSound::Summary() const {
  std::string s = "sound=" + std::to_string(SoundId);
  if (SyncStop) s += " stop";
  if (SyncNoMultiple) s += " nomultiple";
  if (HasInPoint) s += " in=" + std::to_string(FInPoint);
  if (HasOutPoint) s += " out=" + std::to_string(FOutPoint);
  if (HasLoops) s += " loops=" + std::to_string(FLoopCount);
  if (HasEnvelope) s += " envelope=" + std::to_string(EnvelopeRecords.size());
  return s;
}

void TSWFStartSound::Describe(TSWFDescription& d) const {
  d.Field("sound", SoundId);
  if (SyncStop || SyncNoMultiple) {
    d.Field("sync", SyncStop && SyncNoMultiple ? "stop,nomultiple"
                    : SyncStop                 ? "stop"
                                               : "nomultiple");
  }
  if (HasInPoint) d.Field("in", std::int64_t(FInPoint));
  if (HasOutPoint) d.Field("out", std::int64_t(FOutPoint));
  if (HasLoops) d.Field("loops", FLoopCount);
  if (!HasEnvelope) return;
  d.Field("envelope", unsigned(EnvelopeRecords.size()));
  for (const auto& e : EnvelopeRecords) {
    d.Line("pos44=" + std::to_string(e.Pos44) + " left=" + std::to_string(e.LeftLevel) +
           " right=" + std::to_string(e.RightLevel));
  }
}

// ---- SoundStreamHead, SoundStreamHead2 ----

std::uint16_t TSWFSoundStreamHead::MinVersion() const {
  return StreamSoundCompression == 2 ? 4 : 1;
}

std::uint16_t TSWFSoundStreamHead2::MinVersion() const {
  if (StreamSoundCompression == 2) return 4;
  return StreamSoundCompression == 6 ? 6 : 3;
}

void TSWFSoundStreamHead::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  const std::uint8_t playback = body.Byte();
  PlaybackSoundRate = (playback >> 2) & 3;
  PlaybackSoundSize = (playback & 2) != 0;
  PlaybackSoundType = (playback & 1) != 0;
  const std::uint8_t stream = body.Byte();
  StreamSoundCompression = stream >> 4;
  StreamSoundRate = (stream >> 2) & 3;
  StreamSoundSize = (stream & 2) != 0;
  StreamSoundType = (stream & 1) != 0;
  StreamSoundSampleCount = body.Word();
  // Some writers leave the latency out of an MP3 head: take it only when the body has it.
  LatencySeek = 0;
  if (StreamSoundCompression == 2 && BodySize > 4) {
    LatencySeek = static_cast<std::int16_t>(body.Word());
  }
}

void TSWFSoundStreamHead::WriteTagBody(TBitsEngine& be) const {
  be.WriteByte(static_cast<std::uint8_t>(((PlaybackSoundRate & 3) << 2) |
                                         Bit(PlaybackSoundSize, 1) | Bit(PlaybackSoundType, 0)));
  be.WriteByte(static_cast<std::uint8_t>(((StreamSoundCompression & 0x0F) << 4) |
                                         ((StreamSoundRate & 3) << 2) | Bit(StreamSoundSize, 1) |
                                         Bit(StreamSoundType, 0)));
  be.WriteWord(StreamSoundSampleCount);
  if (StreamSoundCompression == 2) be.WriteWord(static_cast<std::uint16_t>(LatencySeek));
}

void TSWFSoundStreamHead::Describe(TSWFDescription& d) const {
  DescribeFormat(d, "playback-", 0xFF, PlaybackSoundRate, PlaybackSoundSize, PlaybackSoundType);
  DescribeFormat(d, "stream-", StreamSoundCompression, StreamSoundRate, StreamSoundSize,
                 StreamSoundType);
  d.Field("samples", StreamSoundSampleCount);
  if (StreamSoundCompression == 2) d.Field("latency", int(LatencySeek));
}

// ---- SoundStreamBlock ----

void TSWFSoundStreamBlock::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  if (StreamSoundCompression == 2) {
    SampleCount = body.Word();
    SeekSamples = body.Word();
  }
  ReadRestAsData(body);
}

void TSWFSoundStreamBlock::WriteTagBody(TBitsEngine& be) const {
  if (StreamSoundCompression == 2) {
    be.WriteWord(SampleCount);
    be.WriteWord(SeekSamples);
  }
  WriteData(be);
}

void TSWFSoundStreamBlock::Describe(TSWFDescription& d) const {
  if (StreamSoundCompression == 2) {
    d.Field("samples", SampleCount);
    d.Field("seek", SeekSamples);
  }
  d.Field("data", std::int64_t(Data.size()));
}

}  // namespace kestrova
