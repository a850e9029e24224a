#include <gtest/gtest.h>

#include <functional>

#include "swfobjects/SWFObjects.h"
#include "swfstreams/SWFStreams.h"
#include "tests/TestUtil.h"
#include "tests/swfobjects/TagFamilyTest.h"

namespace kestrova {
namespace {

using test::Bytes;

using test::GoldenRow;

template <class T>
std::unique_ptr<TSWFObject> Make(std::function<void(T&)> fill) {
  auto tag = std::make_unique<T>();
  fill(*tag);
  return tag;
}

const std::vector<GoldenRow>& Rows() {
  static const std::vector<GoldenRow> rows = {
      {"DefineSound MP3 44kHz 16-bit stereo",
       14,
       [] {
         return Make<TSWFDefineSound>([](auto& t) {
           t.SoundId = 5;
           t.SoundFormat = 2;
           t.SoundRate = 3;
           t.SoundSize = true;
           t.SoundType = true;
           t.SoundSampleCount = 1152;
           t.SeekSamples = 576;
           t.Data = {0xFF, 0xFB, 0x90};
         });
       },
       {0x05, 0x00 /* SoundId */, 0x2F /* MP3 | 44kHz | 16-bit | stereo */, 0x80, 0x04, 0x00,
        0x00 /* 1152 samples */, 0x40, 0x02 /* seek 576 */, 0xFF, 0xFB, 0x90 /* data */},
       9,
       4},
      {"DefineSound ADPCM 11kHz 8-bit mono: no seek field",
       14,
       [] {
         return Make<TSWFDefineSound>([](auto& t) {
           t.SoundId = 1;
           t.SoundFormat = 1;
           t.SoundRate = 1;
           t.SoundSampleCount = 100;
           t.SeekSamples = 99;  // not written for ADPCM
           t.Data = {0x01, 0x02};
         });
       },
       {0x01, 0x00, 0x14 /* ADPCM | 11kHz */, 0x64, 0x00, 0x00, 0x00, 0x01, 0x02},
       7,
       1},
      {"DefineSound Nellymoser without data",
       14,
       [] {
         return Make<TSWFDefineSound>([](auto& t) {
           t.SoundId = 2;
           t.SoundFormat = 6;
           t.SoundSize = true;
         });
       },
       {0x02, 0x00, 0x62 /* Nellymoser | 5.5kHz | 16-bit */, 0x00, 0x00, 0x00, 0x00},
       7,
       6},
      {"DefineSound raw little-endian",
       14,
       [] { return Make<TSWFDefineSound>([](auto& t) { t.SoundFormat = 3; }); },
       {0x00, 0x00, 0x30, 0x00, 0x00, 0x00, 0x00},
       7,
       4},
      {"StartSound with only SoundId: one zero byte",
       15,
       [] { return Make<TSWFStartSound>([](auto& t) { t.SoundId = 7; }); },
       {0x07, 0x00, 0x00},
       3,
       1},
      {"StartSound HasEnvelope without records writes no envelope",
       15,
       [] {
         return Make<TSWFStartSound>([](auto& t) {
           t.SoundId = 7;
           t.HasEnvelope = true;
         });
       },
       {0x07, 0x00, 0x00},
       3,
       1},
      {"StartSound loops only",
       15,
       [] {
         return Make<TSWFStartSound>([](auto& t) {
           t.SoundId = 9;
           t.SetLoopCount(3);
         });
       },
       {0x09, 0x00, 0x04 /* HasLoops */, 0x03, 0x00},
       5,
       1},
      {"StartSound with every field",
       15,
       [] {
         return Make<TSWFStartSound>([](auto& t) {
           t.SoundId = 3;
           t.SyncStop = true;
           t.SyncNoMultiple = true;
           t.SetInPoint(0x100);
           t.SetOutPoint(0x20000);
           t.SetLoopCount(2);
           t.HasEnvelope = true;
           t.EnvelopeRecords = {{44, 0x8000, 0}, {88200, 0, 0x8000}};
         });
       },
       {0x03,
        0x00,
        0x3F /* stop, no-multiple, envelope, loops, out, in */,
        0x00,
        0x01,
        0x00,
        0x00 /* InPoint */,
        0x00,
        0x00,
        0x02,
        0x00 /* OutPoint */,
        0x02,
        0x00 /* LoopCount */,
        0x02 /* two envelope records */,
        0x2C,
        0x00,
        0x00,
        0x00,
        0x00,
        0x80,
        0x00,
        0x00,
        0x88,
        0x58,
        0x01,
        0x00,
        0x00,
        0x00,
        0x00,
        0x80},
       32,
       1},
      {"SoundStreamHead ADPCM",
       18,
       [] {
         return Make<TSWFSoundStreamHead>([](auto& t) {
           t.PlaybackSoundRate = 2;
           t.PlaybackSoundSize = true;
           t.StreamSoundCompression = 1;
           t.StreamSoundRate = 2;
           t.StreamSoundSize = true;
           t.StreamSoundSampleCount = 1838;
           t.LatencySeek = 5;  // MP3 only: not written
         });
       },
       {0x0A /* playback 22kHz 16-bit mono */, 0x1A /* ADPCM 22kHz 16-bit mono */, 0x2E, 0x07},
       4,
       1},
      {"SoundStreamHead MP3 with latency",
       18,
       [] {
         return Make<TSWFSoundStreamHead>([](auto& t) {
           t.PlaybackSoundRate = 3;
           t.PlaybackSoundSize = true;
           t.PlaybackSoundType = true;
           t.StreamSoundCompression = 2;
           t.StreamSoundRate = 3;
           t.StreamSoundSize = true;
           t.StreamSoundType = true;
           t.StreamSoundSampleCount = 1152;
           t.LatencySeek = -1;
         });
       },
       {0x0F, 0x2F /* MP3 44kHz 16-bit stereo */, 0x80, 0x04, 0xFF, 0xFF /* latency -1 */},
       4,
       4},
      {"SoundStreamHead2 Nellymoser",
       45,
       [] {
         return Make<TSWFSoundStreamHead2>([](auto& t) {
           t.PlaybackSoundSize = true;
           t.StreamSoundCompression = 6;
           t.StreamSoundSize = true;
           t.StreamSoundSampleCount = 256;
         });
       },
       {0x02, 0x62, 0x00, 0x01},
       4,
       6},
      {"SoundStreamHead2 uncompressed",
       45,
       [] { return std::make_unique<TSWFSoundStreamHead2>(); },
       {0x00, 0x00, 0x00, 0x00},
       4,
       3},
      {"SoundStreamBlock MP3: 1152 samples, seek 0",
       19,
       [] {
         return Make<TSWFSoundStreamBlock>([](auto& t) {
           t.StreamSoundCompression = 2;
           t.SampleCount = 1152;
           t.Data = {0xAA, 0xBB};
         });
       },
       {0x80, 0x04, 0x00, 0x00, 0xAA, 0xBB},
       1 /* no prefix must fail */,
       1},
      {"SoundStreamBlock raw",
       19,
       [] { return Make<TSWFSoundStreamBlock>([](auto& t) {
              t.Data = {1, 2, 3};
            }); },
       {0x01, 0x02, 0x03},
       1 /* no prefix must fail */,
       1},
      {"DefineVideoStream screen video, smoothing",
       60,
       [] {
         return Make<TSWFDefineVideoStream>([](auto& t) {
           t.CharacterId = 4;
           t.NumFrames = 100;
           t.Width = 320;
           t.Height = 240;
           t.VideoFlagsDeblocking = 1;
           t.VideoFlagsSmoothing = true;
           t.CodecID = 3;
         });
       },
       {0x04, 0x00, 0x64, 0x00, 0x40, 0x01, 0xF0, 0x00, 0x03 /* deblocking 1, smoothing */,
        0x03 /* screen video */},
       10,
       7},
      {"DefineVideoStream H.263",
       60,
       [] {
         return Make<TSWFDefineVideoStream>([](auto& t) {
           t.CharacterId = 9;
           t.VideoFlagsDeblocking = 2;
           t.CodecID = 2;
         });
       },
       {0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x02},
       10,
       6},
      {"VideoFrame",
       61,
       [] {
         return Make<TSWFVideoFrame>([](auto& t) {
           t.StreamId = 4;
           t.FrameNum = 7;
           t.Data = {0xDE, 0xAD};
         });
       },
       {0x04, 0x00, 0x07, 0x00, 0xDE, 0xAD},
       4,
       6},
      {"DefineButtonSound with only OverUpToOverDown",
       17,
       [] {
         return Make<TSWFDefineButtonSound>([](auto& t) {
           t.ButtonId = 12;
           t.SoundOverUpToOverDown().SoundId = 5;
         });
       },
       {0x0C, 0x00, 0x00, 0x00 /* OverUpToIdle */, 0x00, 0x00 /* IdleToOverUp */, 0x05, 0x00,
        0x00 /* OverUpToOverDown */, 0x00, 0x00 /* OverDownToOverUp */},
       10,
       2},
      {"DefineButtonSound with three sounds and a silent slot",
       17,
       [] {
         return Make<TSWFDefineButtonSound>([](auto& t) {
           t.ButtonId = 12;
           t.SoundOverUpToIdle().SoundId = 1;
           t.SoundOverUpToIdle().SyncStop = true;
           t.SoundIdleToOverUp().SoundId = 2;
           t.SoundOverUpToOverDown().SoundId = 0;  // present but silent: written as absent
           t.SoundOverDownToOverUp().SoundId = 3;
           t.SoundOverDownToOverUp().SetInPoint(5);
         });
       },
       {0x0C, 0x00, 0x01, 0x00, 0x20 /* stop */, 0x02, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00,
        0x01 /* HasInPoint */, 0x05, 0x00, 0x00, 0x00},
       10,
       2},
  };
  return rows;
}

TEST(SoundTags, GoldenWriteReadAndRoundTrip) {
  for (const auto& row : Rows()) test::CheckGoldenRow(row);
}

TEST(SoundTags, ReadFieldsThatTheWriterDoesNotShow) {
  // The file reader leaves a block's compression 0: an MP3 block keeps its header in Data.
  auto block = test::ReadBody(19, {0x80, 0x04, 0x00, 0x00, 0xAA});
  auto& b = static_cast<TSWFSoundStreamBlock&>(*block);
  EXPECT_EQ(b.StreamSoundCompression, 0);
  EXPECT_EQ(b.Data, (Bytes{0x80, 0x04, 0x00, 0x00, 0xAA}));

  // A block told it is MP3 before reading splits the header off.
  TSWFSoundStreamBlock mp3;
  mp3.StreamSoundCompression = 2;
  TMemoryStream m(Bytes{0x80, 0x04, 0x01, 0x00, 0xAA});
  TBitsEngine be(m);
  mp3.BodySize = 5;
  mp3.ReadFromStream(be);
  EXPECT_EQ(mp3.SampleCount, 1152);
  EXPECT_EQ(mp3.SeekSamples, 1);
  EXPECT_EQ(mp3.Data, Bytes{0xAA});

  // An MP3 head without the latency field reads as latency 0.
  auto head = test::ReadBody(18, {0x0F, 0x2F, 0x80, 0x04});
  EXPECT_EQ(static_cast<TSWFSoundStreamHead&>(*head).LatencySeek, 0);
  EXPECT_EQ(static_cast<TSWFSoundStreamHead&>(*head).StreamSoundCompression, 2);

  // Every bit above smoothing is the deblocking value, and it is written back unchanged.
  const Bytes video = {0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0xF3, 0x02};
  auto stream = test::ReadBody(60, video);
  EXPECT_EQ(static_cast<TSWFDefineVideoStream&>(*stream).VideoFlagsDeblocking, 0x79);
  EXPECT_TRUE(static_cast<TSWFDefineVideoStream&>(*stream).VideoFlagsSmoothing);
  EXPECT_EQ(test::WriteBody(*stream), video);

  // A button sound slot read as 0 stays absent.
  auto sounds =
      test::ReadBody(17, {0x0C, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  auto& bs = static_cast<TSWFDefineButtonSound&>(*sounds);
  EXPECT_EQ(bs.SoundIfPresent(TSWFDefineButtonSound::OverUpToIdle), nullptr);
  ASSERT_NE(bs.SoundIfPresent(TSWFDefineButtonSound::IdleToOverUp), nullptr);
  EXPECT_EQ(bs.SoundIfPresent(TSWFDefineButtonSound::IdleToOverUp)->SoundId, 2);
  EXPECT_EQ(bs.SoundIfPresent(TSWFDefineButtonSound::OverDownToOverUp), nullptr);
}

TEST(SoundTags, StartSoundFlags) {
  TSWFStartSound s;
  s.SetLoopCount(4);
  EXPECT_TRUE(s.HasLoops);
  s.SetLoopCount(0);
  EXPECT_FALSE(s.HasLoops);
  s.SetInPoint(1);
  s.SetOutPoint(2);
  EXPECT_TRUE(s.HasInPoint && s.HasOutPoint);
  s.SetInPoint(0);
  EXPECT_FALSE(s.HasInPoint);

  // Writing stores back that an empty envelope is not written.
  s.HasEnvelope = true;
  test::WriteBody(s);
  EXPECT_FALSE(s.HasEnvelope);

  // A list longer than the one-byte count is cut at 255 records, keeping count and records equal.
  s.HasEnvelope = true;
  s.EnvelopeRecords.assign(300, TSWFSoundEnvelope{1, 2, 3});
  auto back = test::ReadBody(15, test::WriteBody(s));
  EXPECT_EQ(static_cast<TSWFStartSound&>(*back).EnvelopeRecords.size(), 255u);
}

TEST(SoundTags, DefineVideoStreamAlwaysTakesTheLongHeader) {
  TSWFDefineVideoStream v;
  v.CodecID = 3;
  const Bytes record = test::WriteTag(v);
  const Bytes expected = {
      0x3F, 0x0F /* 60<<6 | 0x3F */, 0x0A, 0x00, 0x00, 0x00 /* 10 */, 0, 0, 0, 0, 0, 0, 0, 0, 0x00,
      0x03};
  EXPECT_EQ(record, expected) << test::Hex(record);
  EXPECT_EQ(v.MinVersion(), 7);
}

TEST(SoundTags, DataCallbackReplacesTheHeldBlock) {
  TSWFVideoFrame frame;
  frame.StreamId = 1;
  frame.Data = {0x11, 0x22};
  frame.OnDataWrite = [](TSWFDataObject& tag, TBitsEngine& be) {
    EXPECT_EQ(tag.TagID, 61);
    be.WriteByte(0x99);
  };
  EXPECT_EQ(test::WriteBody(frame), (Bytes{0x01, 0x00, 0x00, 0x00, 0x99}));
  auto copy = CloneTag(frame);
  EXPECT_EQ(test::WriteBody(*copy), (Bytes{0x01, 0x00, 0x00, 0x00, 0x99}));
}

// A body of tags laid out as a file's, read through the file reader.
std::unique_ptr<TSWFStreamReader> Parse(const Bytes& tags) {
  auto reader = std::make_unique<TSWFStreamReader>();
  reader->Body().Write(tags.data(), tags.size());
  reader->ParseTags(true, true);
  return reader;
}

TEST(SoundTags, TruncatedBodiesThroughTheFileReader) {
  for (const auto& row : Rows()) test::SweepTruncatedPrefixes(row);
}

TEST(SoundTags, ChangeCharacterIDs) {
  Bytes tags;
  auto add = [&](TSWFObject& tag) {
    const Bytes r = test::WriteTag(tag);
    tags.insert(tags.end(), r.begin(), r.end());
  };
  TSWFDefineSound sound;
  sound.SoundId = 3;
  TSWFDefineVideoStream video;
  video.CharacterId = 8;
  TSWFStartSound start, foreign;
  start.SoundId = 3;
  foreign.SoundId = 99;  // defined nowhere: left alone
  TSWFVideoFrame frame;
  frame.StreamId = 8;
  TSWFDefineButtonSound buttonSound;
  buttonSound.ButtonId = 50;  // defined nowhere: left alone
  buttonSound.SoundIdleToOverUp().SoundId = 3;
  buttonSound.SoundOverDownToOverUp().SoundId = 3;
  for (TSWFObject* t :
       std::initializer_list<TSWFObject*>{&sound, &video, &start, &foreign, &frame, &buttonSound}) {
    add(*t);
  }
  auto reader = Parse(tags);
  EXPECT_EQ(reader->ChangeCharacterIDs(100), 102);
  reader->MakeStream();
  auto again = Parse(reader->Body().Bytes());
  auto at = [&](std::size_t i) -> TSWFObject& { return *again->TagList.at(i)->SWFObject; };
  EXPECT_EQ(static_cast<TSWFDefineSound&>(at(0)).SoundId, 100);
  EXPECT_EQ(static_cast<TSWFDefineVideoStream&>(at(1)).CharacterId, 101);
  EXPECT_EQ(static_cast<TSWFStartSound&>(at(2)).SoundId, 100);
  EXPECT_EQ(static_cast<TSWFStartSound&>(at(3)).SoundId, 99);
  EXPECT_EQ(static_cast<TSWFVideoFrame&>(at(4)).StreamId, 101);
  auto& bs = static_cast<TSWFDefineButtonSound&>(at(5));
  EXPECT_EQ(bs.ButtonId, 50);
  EXPECT_EQ(bs.SoundIfPresent(TSWFDefineButtonSound::IdleToOverUp)->SoundId, 100);
  EXPECT_EQ(bs.SoundIfPresent(TSWFDefineButtonSound::OverDownToOverUp)->SoundId, 100);
  EXPECT_EQ(bs.SoundIfPresent(TSWFDefineButtonSound::OverUpToIdle), nullptr);
}

TEST(SoundTags, Describe) {
  struct Case {
    std::size_t row;
    const char* fields;
  };
  const Case cases[] = {
      {0, "id=5 format=MP3 rate=44kHz size=16bit type=stereo samples=1152 seek=576 data=3"},
      {7, "sound=3 sync=stop,nomultiple in=256 out=131072 loops=2 envelope=2"},
      {9,
       "playback-rate=44kHz playback-size=16bit playback-type=stereo stream-format=MP3 "
       "stream-rate=44kHz stream-size=16bit stream-type=stereo samples=1152 latency=-1"},
      {14, "id=4 frames=100 size=320x240 codec=screen deblocking=1 smoothing=on"},
      {16, "stream=4 frame=7 data=2"},
      {18, "button=12"},
  };
  for (const auto& c : cases) {
    auto tag = Rows()[c.row].build();
    TSWFDescription d;
    tag->Describe(d);
    EXPECT_EQ(d.Fields, c.fields) << Rows()[c.row].what;
  }
  TSWFDescription d;
  Rows()[18].build()->Describe(d);
  ASSERT_EQ(d.Lines.size(), 3u);
  EXPECT_EQ(d.Lines[0].second, "OverUpToIdle: sound=1 stop");
  EXPECT_EQ(d.Lines[2].second, "OverDownToOverUp: sound=3 in=5");
}

}  // namespace
}  // namespace kestrova
