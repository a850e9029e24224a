// Unfinished segments: the body a streamed segment leaves when it is cut off at any byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "recorder/RecordingFolder.h"
#include "swfstreams/SWFStreams.h"
#include "tests/recorder/RecorderHarness.h"

namespace kestrova::test {
namespace {

class SalvagedBodies : public TempHome {
 protected:
  // The body of a real segment: a still screen recorded for three seconds whose save failed, so
  // the segment is left in its folder.
  std::vector<std::uint8_t> SegmentBody(std::uint16_t& frames) {
    TSimConfig config;
    config.Width = 64;
    config.Height = 48;
    config.TimeLimitMs = 60000;
    TRecorderRun run(config);
    run.At(500, TSimActionKind::Click, "ImgBtnStartRecord");
    run.StopAndSaveAt(3500, Dir + "/missing/out.swf");
    run.Run();
    const std::vector<std::string> segments = ListSegmentFiles(run.Form->Session.RecordingFolder);
    EXPECT_EQ(segments.size(), 1u);
    if (segments.empty()) return {};
    TSWFStreamReader reader(segments[0]);
    frames = reader.FrameCount;
    return reader.Body().Bytes();
  }
  void WriteBody(const std::vector<std::uint8_t>& body, std::size_t length) {
    std::ofstream out(Dir + "/b.body.part", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(body.data()), static_cast<std::streamsize>(length));
  }
};

TEST_F(SalvagedBodies, EveryCutKeepsTheFramesBeforeIt) {
  std::uint16_t frames = 0;
  const std::vector<std::uint8_t> body = SegmentBody(frames);
  ASSERT_GT(body.size(), 100u);
  ASSERT_GT(frames, 20u);
  std::uint32_t before = 0;
  for (std::size_t length = 0; length <= body.size(); ++length) {
    WriteBody(body, length);
    TSalvagedBody s;
    ASSERT_NO_THROW(s = SalvageBody(Dir + "/b.body.part", Dir + "/copy.swf", {64, 48}, 6))
        << length;
    ASSERT_GE(s.FramesKept, before) << length;
    ASSERT_LE(s.FramesKept, frames) << length;
    EXPECT_EQ(s.Finished, length == body.size()) << length;
    before = s.FramesKept;
  }
  EXPECT_EQ(before, frames);
}

TEST_F(SalvagedBodies, TheCopyPlaysItsFramesWithoutAProblem) {
  std::uint16_t frames = 0;
  const std::vector<std::uint8_t> body = SegmentBody(frames);
  ASSERT_GT(body.size(), 100u);
  // Cuts at the first frame's end, a byte after it, in the middle, and none.
  std::vector<std::size_t> cuts;
  for (std::size_t length = 1; length <= body.size(); ++length) {
    WriteBody(body, length);
    if (SalvageBody(Dir + "/b.body.part", Dir + "/copy.swf", {64, 48}, 6).FramesKept > 0) {
      cuts = {length, length + 1, (length + body.size()) / 2, body.size()};
      break;
    }
  }
  ASSERT_EQ(cuts.size(), 4u);
  for (const std::size_t cut : cuts) {
    const double share = static_cast<double>(cut) / body.size();
    WriteBody(body, cut);
    const TSalvagedBody s = SalvageBody(Dir + "/b.body.part", Dir + "/copy.swf", {64, 48}, 6);
    ASSERT_GT(s.FramesKept, 0u) << share;
    const TMovieInfo info = PlayMovie(Dir + "/copy.swf", [](auto, const auto&, const auto&) {});
    EXPECT_TRUE(info.Problems.empty()) << share << ": " << info.Problems[0];
    EXPECT_EQ(info.FrameCount, s.FramesKept) << share;
    EXPECT_EQ(info.FramesPlayed, s.FramesKept) << share;
    EXPECT_EQ(info.Width, 64);
    EXPECT_EQ(info.Height, 48);
    if (cut == cuts[0] || cut == body.size()) {
      EXPECT_EQ(s.BytesDropped, 0u) << share;
    } else if (cut == cuts[1]) {
      EXPECT_EQ(s.BytesDropped, 1u);
    }
  }
}

TEST_F(SalvagedBodies, ABodyWithoutACompleteFrameWritesNoCopy) {
  const std::vector<std::uint8_t> junk = {0x3F, 0x03, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3};
  WriteBody(junk, junk.size());
  const TSalvagedBody s = SalvageBody(Dir + "/b.body.part", Dir + "/copy.swf", {64, 48}, 6);
  EXPECT_EQ(s.FramesKept, 0u);
  EXPECT_EQ(s.BytesDropped, junk.size());
  EXPECT_FALSE(Exists(Dir + "/copy.swf"));
}

}  // namespace
}  // namespace kestrova::test
