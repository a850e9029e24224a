// Sound tags: event sounds (DefineSound, StartSound) and streaming sound (SoundStreamHead,
// SoundStreamHead2, SoundStreamBlock).
//
// Reading: every reader here keeps to its body through the shared body reader; a body too short
// for its fields throws EStreamError (the file reader then puts an error tag in its place).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "swfobjects/DataObject.h"
#include "swfobjects/SWFObject.h"

namespace kestrova {

// DefineSound (14): an event sound character.
class TSWFDefineSound : public TSWFDataObject {
 public:
  TSWFDefineSound() : TSWFDataObject(14) {}
  std::uint16_t SoundId = 0;
  std::uint8_t SoundFormat = 0;  // 4 bits: 0 raw, 1 ADPCM, 2 MP3, 3 raw little-endian, 6 Nellymoser
  std::uint8_t SoundRate = 0;    // 2 bits: 5.5, 11, 22, 44 kHz
  bool SoundSize = false;        // 16-bit samples
  bool SoundType = false;        // stereo
  std::uint32_t SoundSampleCount = 0;
  std::uint16_t SeekSamples = 0;  // written for MP3 only

  bool operator==(const TSWFDefineSound&) const = default;
  std::uint16_t MinVersion() const override;
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void DefinedCharacterIDs(std::vector<std::uint16_t*>& ids) override { ids.push_back(&SoundId); }
  void Describe(TSWFDescription& d) const override;
};

struct TSWFSoundEnvelope {
  std::uint32_t Pos44 = 0;
  std::uint16_t LeftLevel = 0;
  std::uint16_t RightLevel = 0;
  bool operator==(const TSWFSoundEnvelope&) const = default;
};

// StartSound (15): starts or stops an event sound. Its body (the sound id and the SOUNDINFO
// record) is also the record DefineButtonSound holds for each of its sounds.
class TSWFStartSound : public TSWFObject {
 public:
  TSWFStartSound() : TSWFObject(15) {}
  std::uint16_t SoundId = 0;
  bool SyncStop = false;
  bool SyncNoMultiple = false;
  // Written as set only when EnvelopeRecords is not empty.
  bool HasEnvelope = false;
  bool HasLoops = false;
  bool HasOutPoint = false;
  bool HasInPoint = false;
  std::vector<TSWFSoundEnvelope> EnvelopeRecords;  // at most 255 are written

  std::uint32_t InPoint() const { return FInPoint; }
  std::uint32_t OutPoint() const { return FOutPoint; }
  std::uint16_t LoopCount() const { return FLoopCount; }
  // Each setter also sets its presence flag to whether the value is non-zero.
  void SetInPoint(std::uint32_t v);
  void SetOutPoint(std::uint32_t v);
  void SetLoopCount(std::uint16_t v);

  bool operator==(const TSWFStartSound&) const = default;
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  // Reads the sound id and SOUNDINFO from the body's position; throws EStreamError when the
  // body ends first.
  void ReadRecord(TBodyReader& body);
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override;
  void Describe(TSWFDescription& d) const override;
  // The SOUNDINFO fields in one line ("sound=3 stop loops=2").
  std::string Summary() const;

 private:
  std::uint32_t FInPoint = 0;
  std::uint32_t FOutPoint = 0;
  std::uint16_t FLoopCount = 0;
};

// SoundStreamHead (18): the format of the streaming sound of a timeline.
class TSWFSoundStreamHead : public TSWFObject {
 public:
  TSWFSoundStreamHead() : TSWFObject(18) {}
  std::uint8_t PlaybackSoundRate = 0;  // 2 bits
  bool PlaybackSoundSize = false;
  bool PlaybackSoundType = false;
  std::uint8_t StreamSoundCompression = 0;  // 4 bits
  std::uint8_t StreamSoundRate = 0;         // 2 bits
  bool StreamSoundSize = false;
  bool StreamSoundType = false;
  std::uint16_t StreamSoundSampleCount = 0;
  std::int16_t LatencySeek = 0;  // MP3 only

  bool operator==(const TSWFSoundStreamHead&) const = default;
  std::uint16_t MinVersion() const override;
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;

 protected:
  explicit TSWFSoundStreamHead(std::uint16_t tagID) : TSWFObject(tagID) {}
};

// SoundStreamHead2 (45): the same fields, for any stream format.
class TSWFSoundStreamHead2 : public TSWFSoundStreamHead {
 public:
  TSWFSoundStreamHead2() : TSWFSoundStreamHead(45) {}
  std::uint16_t MinVersion() const override;
};

// SoundStreamBlock (19): one frame's share of the streaming sound.
class TSWFSoundStreamBlock : public TSWFDataObject {
 public:
  TSWFSoundStreamBlock() : TSWFDataObject(19) {}
  // Set by the block's creator from its stream head; the file reader leaves it 0, so a block read
  // from a file keeps its MP3 header inside Data.
  std::uint8_t StreamSoundCompression = 0;
  std::uint16_t SampleCount = 0;  // MP3 only
  std::uint16_t SeekSamples = 0;  // MP3 only

  bool operator==(const TSWFSoundStreamBlock&) const = default;
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
};

}  // namespace kestrova
