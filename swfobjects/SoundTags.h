// Sound and video tags: event sounds (DefineSound, StartSound), streaming sound (SoundStreamHead,
// SoundStreamHead2, SoundStreamBlock), embedded video (DefineVideoStream, VideoFrame) and the
// sounds of a button (DefineButtonSound).
//
// Reading: every reader here keeps to its body through the shared body reader; a body too short
// for its fields throws EStreamError (the file reader then puts an error tag in its place).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "swfobjects/BitmapTags.h"
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

  void Assign(const TBasedSWFObject& source) override;
  std::uint16_t MinVersion() const override;
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) override;
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
  // Written as set only when EnvelopeRecords is not empty; writing stores that back.
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

  void Assign(const TBasedSWFObject& source) override;
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) override;
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

  void Assign(const TBasedSWFObject& source) override;
  std::uint16_t MinVersion() const override;
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) override;
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

  void Assign(const TBasedSWFObject& source) override;
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) override;
  void Describe(TSWFDescription& d) const override;
};

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

  void Assign(const TBasedSWFObject& source) override;
  std::uint16_t MinVersion() const override { return CodecID == 3 ? 7 : 6; }
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) override;
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

  void Assign(const TBasedSWFObject& source) override;
  std::uint16_t MinVersion() const override { return 6; }
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) override;
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override {
    ids.push_back(&StreamId);
  }
  void Describe(TSWFDescription& d) const override;
};

// DefineButtonSound (17): the sounds a button plays on four of its transitions.
class TSWFDefineButtonSound : public TSWFObject {
 public:
  // The four slots in written order.
  enum TSlot { OverUpToIdle = 0, IdleToOverUp, OverUpToOverDown, OverDownToOverUp };
  static constexpr int kSlotCount = 4;

  TSWFDefineButtonSound() : TSWFObject(17) {}
  std::uint16_t ButtonId = 0;

  // Each accessor makes its sound on first use, which marks the slot present. A present slot
  // whose SoundId is 0 is written as absent.
  TSWFStartSound& SoundOverUpToIdle() { return Sound(OverUpToIdle); }
  TSWFStartSound& SoundIdleToOverUp() { return Sound(IdleToOverUp); }
  TSWFStartSound& SoundOverUpToOverDown() { return Sound(OverUpToOverDown); }
  TSWFStartSound& SoundOverDownToOverUp() { return Sound(OverDownToOverUp); }
  TSWFStartSound& Sound(TSlot slot);
  // The slot's sound, or null when it is absent (never creates it).
  const TSWFStartSound* SoundIfPresent(TSlot slot) const { return FSounds[slot].get(); }

  void Assign(const TBasedSWFObject& source) override;
  std::uint16_t MinVersion() const override { return 2; }
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) override;
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override;
  void Describe(TSWFDescription& d) const override;

 private:
  bool Written(TSlot slot) const { return FSounds[slot] && FSounds[slot]->SoundId != 0; }
  std::array<std::unique_ptr<TSWFStartSound>, kSlotCount> FSounds;
};

}  // namespace kestrova
