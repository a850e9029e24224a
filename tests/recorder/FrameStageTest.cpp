// The frame stage between a capture source and change detection: what it converts again, what
// it tells change detection, and the colour depths it gives, down to a movie read back by the
// player.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/Palette.h"
#include "player/Player.h"
#include "recorder/ChangeDetector.h"
#include "recorder/FlashSegmentMovie.h"
#include "recorder/FrameStage.h"

namespace kestrova::test {
namespace {

using namespace platform;

// A screen the test paints, handed over as a source does: the rectangles the test says it drew
// are copied into the frame and reported.
class TPaintedSource : public TCaptureSource {
 public:
  TPaintedSource(std::int32_t w, std::int32_t h) { Screen.Allocate(w, -h, 32); }
  void Paint(const TScreenRect& r, std::uint32_t rgb, bool report = true) {
    for (std::int32_t y = r.Top; y < r.Bottom; ++y) {
      for (std::int32_t x = r.Left; x < r.Right; ++x) Put(x, y, rgb);
    }
    (report ? Drawn : Unreported).Add(r);
  }
  void Put(std::int32_t x, std::int32_t y, std::uint32_t rgb) {
    std::uint8_t* p = Screen.Scanline(y) + 4 * x;
    p[0] = rgb & 0xFF;
    p[1] = rgb >> 8 & 0xFF;
    p[2] = rgb >> 16 & 0xFF;
  }
  bool Capture(TWindowHandle, const TScreenRect& rect, TDIBitmap& frame, TDamage& damage) override {
    ++Captures;
    damage.Clear();
    if (Fail) return false;
    EXPECT_EQ(rect, (TScreenRect{0, 0, Screen.Width, Screen.Rows()}));
    if (!PrepareFrame(frame, rect.Width(), rect.Height())) {
      frame.Bits = Screen.Bits;
      damage.SetAll();
    } else {
      // What the stage hands back must be the frame as the source left it: no pointer in it.
      EXPECT_EQ(frame.Bits, Kept) << "the frame was changed between captures";
      std::vector<TScreenRect> copied = Drawn.Rects;
      copied.insert(copied.end(), Unreported.Rects.begin(), Unreported.Rects.end());
      for (const TScreenRect& r : copied) {
        for (std::int32_t y = r.Top; y < r.Bottom; ++y) {
          std::memcpy(frame.Scanline(y) + 4 * r.Left, Screen.Scanline(y) + 4 * r.Left,
                      4 * static_cast<std::size_t>(r.Width()));
        }
      }
      damage = Drawn;
    }
    Drawn.Clear();
    Unreported.Clear();
    Kept = frame.Bits;
    return true;
  }
  TDIBitmap Screen;
  TDamage Drawn;
  TDamage Unreported;  // copied into the frame but not reported, to see what the stage converts
  std::vector<std::uint8_t> Kept;
  bool Fail = false;
  int Captures = 0;
};

class TMovingCursor : public TCursorSource {
 public:
  TMovingCursor() {
    Info.Showing = true;
    Info.Picture.Allocate(2, -2, 32);
    for (std::size_t i = 0; i < Info.Picture.Bits.size(); i += 4) {
      Info.Picture.Bits[i + 2] = 255;  // opaque red
      Info.Picture.Bits[i + 3] = 255;
    }
  }
  bool GetCursor(TCursorInfo& info) override {
    info = Info;
    return true;
  }
  TCursorInfo Info;
};

std::vector<int> Strips(const TStagedFrame& s) {
  return std::vector<int>(s.StripsMayDiffer.begin(), s.StripsMayDiffer.end());
}

std::uint32_t Rgb32At(const TDIBitmap& b, int x, int y) {
  const std::uint8_t* p = PictureRow(b, y) + 4 * x;
  return std::uint32_t{p[2]} << 16 | p[1] << 8 | p[0];
}

TEST(FrameStage, OnlyDamagedStripsAndThePointersOldAndNewPlacesAreConverted) {
  TPaintedSource screen(40, 130);  // 5 strips, the last 2 rows high
  TMovingCursor pointer;
  pointer.Info.X = 5;
  pointer.Info.Y = 10;
  TFrameStage stage(screen, pointer);
  stage.SetColours(TColourDepth::Rgb32);
  TStagedFrame s;
  ASSERT_TRUE(stage.Capture(0, {0, 0, 40, 130}, s));
  EXPECT_EQ(Strips(s), (std::vector<int>{1, 1, 1, 1, 1}));
  EXPECT_FALSE(s.Repeat);
  EXPECT_EQ(Rgb32At(*s.Picture, 5, 10), 0xFF0000u);
  const std::uint64_t first = s.Serial;

  // Nothing drawn, the pointer still: the frame repeats.
  ASSERT_TRUE(stage.Capture(0, {0, 0, 40, 130}, s));
  EXPECT_TRUE(s.Repeat);
  EXPECT_EQ(Strips(s), (std::vector<int>{0, 0, 0, 0, 0}));
  EXPECT_EQ(s.Serial, first + 1);

  // Drawn in rows 70..72 (strip 2), and changes the source did not report in strip 4 and
  // beside the drawing in strip 2: only the drawn columns of strip 2 are converted, so the
  // unreported pixels do not show yet. (A real source reports all it changes in its frame;
  // these show what the stage converts.)
  screen.Paint({0, 70, 3, 73}, 0x00FF00);
  screen.Paint({0, 128, 1, 129}, 0x0000FF, false);
  screen.Paint({30, 75, 31, 76}, 0x0000FF, false);
  ASSERT_TRUE(stage.Capture(0, {0, 0, 40, 130}, s));
  EXPECT_EQ(Strips(s), (std::vector<int>{0, 0, 1, 0, 0}));
  EXPECT_FALSE(s.Repeat);
  EXPECT_EQ(Rgb32At(*s.Picture, 1, 71), 0x00FF00u);
  EXPECT_EQ(Rgb32At(*s.Picture, 0, 128), 0u);
  EXPECT_EQ(Rgb32At(*s.Picture, 30, 75), 0u);

  // The pointer moves from strip 0 to strip 3: both are converted, and it is gone from the
  // first and drawn in the second.
  pointer.Info.X = 30;
  pointer.Info.Y = 100;
  ASSERT_TRUE(stage.Capture(0, {0, 0, 40, 130}, s));
  EXPECT_EQ(Strips(s), (std::vector<int>{1, 0, 0, 1, 0}));
  EXPECT_EQ(Rgb32At(*s.Picture, 5, 10), 0u);
  EXPECT_EQ(Rgb32At(*s.Picture, 31, 101), 0xFF0000u);

  // Across a strip boundary (rows 31 and 32), hidden then shown again.
  pointer.Info.X = 0;
  pointer.Info.Y = 31;
  ASSERT_TRUE(stage.Capture(0, {0, 0, 40, 130}, s));
  EXPECT_EQ(Strips(s), (std::vector<int>{1, 1, 0, 1, 0}));
  pointer.Info.Showing = false;
  ASSERT_TRUE(stage.Capture(0, {0, 0, 40, 130}, s));
  EXPECT_EQ(Strips(s), (std::vector<int>{1, 1, 0, 0, 0}));
  EXPECT_EQ(Rgb32At(*s.Picture, 0, 31), 0u);

  // Shown again, then its picture changes where it stands (a text cursor becoming an arrow):
  // the strips under it are converted with the new picture; once it stays, the frame repeats.
  pointer.Info.Showing = true;
  ASSERT_TRUE(stage.Capture(0, {0, 0, 40, 130}, s));
  EXPECT_EQ(Strips(s), (std::vector<int>{1, 1, 0, 0, 0}));
  for (std::size_t i = 0; i < pointer.Info.Picture.Bits.size(); i += 4) {
    pointer.Info.Picture.Bits[i + 1] = 255;  // opaque yellow
  }
  ASSERT_TRUE(stage.Capture(0, {0, 0, 40, 130}, s));
  EXPECT_EQ(Strips(s), (std::vector<int>{1, 1, 0, 0, 0}));
  EXPECT_EQ(Rgb32At(*s.Picture, 1, 32), 0xFFFF00u);
  ASSERT_TRUE(stage.Capture(0, {0, 0, 40, 130}, s));
  EXPECT_TRUE(s.Repeat);
  pointer.Info.Showing = false;
  ASSERT_TRUE(stage.Capture(0, {0, 0, 40, 130}, s));
  EXPECT_EQ(Rgb32At(*s.Picture, 1, 32), 0u);

  // A new colour depth, or a reset, converts everything again; so does a failed capture.
  stage.SetColours(TColourDepth::Palette256);
  ASSERT_TRUE(stage.Capture(0, {0, 0, 40, 130}, s));
  EXPECT_EQ(Strips(s), (std::vector<int>{1, 1, 1, 1, 1}));
  EXPECT_EQ(s.Picture->BitCount, 8);
  EXPECT_EQ(PictureRow(*s.Picture, 71)[1], NearestIndex(0, 255, 0));
  EXPECT_EQ(PictureRow(*s.Picture, 128)[0], NearestIndex(0, 0, 255));  // all converted now
  stage.Reset();
  ASSERT_TRUE(stage.Capture(0, {0, 0, 40, 130}, s));
  EXPECT_EQ(Strips(s), (std::vector<int>{1, 1, 1, 1, 1}));
  screen.Fail = true;
  EXPECT_FALSE(stage.Capture(0, {0, 0, 40, 130}, s));
  EXPECT_EQ(s.Picture, nullptr);
  screen.Fail = false;
  ASSERT_TRUE(stage.Capture(0, {0, 0, 40, 130}, s));
  EXPECT_EQ(Strips(s), (std::vector<int>{1, 1, 1, 1, 1}));
}

// A movie that keeps the pictures placed at each depth, to see what change detection chose.
class TPlacedPictures : public TSegmentMovie {
 public:
  std::uint32_t AddPicture(const TDIBitmap&) override { return Pictures++; }
  void SetBusy(bool) override {}
  void RemoveObject(std::uint16_t) override {}
  void PlaceObject(std::uint32_t, std::uint16_t depth, std::int32_t, std::int32_t) override {
    Depths.push_back(depth);
  }
  void ShowFrame(std::uint16_t count) override { Frames += count; }
  std::uint16_t CalcFrameCount() override { return 0; }
  void SaveToFile(const std::string&) override {}
  std::uint32_t Pictures = 0;
  std::vector<std::uint16_t> Depths;
  int Frames = 0;
};

class StagedChangeDetection : public ::testing::Test {
 protected:
  StagedChangeDetection() : Stage(Screen, Pointer), Detector(nullptr) {
    Pointer.Info.Showing = false;
    Factory = [this](std::int32_t, std::int32_t) {
      auto movie = std::make_unique<TPlacedPictures>();
      Movie = movie.get();
      return std::unique_ptr<TSegmentMovie>(std::move(movie));
    };
    Detector.StripCount = 4;
    Detector.ResetReference = true;
  }
  // One frame through the stage and change detection, as the capture loop makes it.
  void Frame(bool first = false) {
    TStagedFrame staged;
    ASSERT_TRUE(Stage.Capture(0, {0, 0, 64, 128}, staged));
    TFrameContext c;
    c.Staged = &staged;
    c.FirstFrameOfSegment = first;
    c.StageWidth = 64;
    c.StageHeight = 128;
    c.TakeElapsedMs = [] { return 100u; };
    Detector.EncodeFrame(*staged.Picture, c, Owned, Factory);
  }
  TPaintedSource Screen{64, 128};
  TMovingCursor Pointer;
  TFrameStage Stage;
  TChangeDetector Detector;
  TSegmentMovieFactory Factory;
  TPlacedPictures* Movie = nullptr;
  std::unique_ptr<TSegmentMovie> Owned;
};

TEST_F(StagedChangeDetection, RepeatsOnlyAdvanceTheTimelineAndHintsSkipStrips) {
  Frame(true);
  ASSERT_NE(Movie, nullptr);
  EXPECT_EQ(Movie->Depths, (std::vector<std::uint16_t>{0}));
  // Still: nothing placed, the clock's frames still shown (100 ms turns: 1, 1, 2).
  Frame();
  Frame();
  EXPECT_EQ(Movie->Depths, (std::vector<std::uint16_t>{0}));
  EXPECT_EQ(Movie->Frames, 4);
  // Strip 2 drawn: placed at its depth, and nothing else.
  Screen.Paint({10, 70, 20, 72}, 0xFFFFFF);
  Frame();
  EXPECT_EQ(Movie->Depths, (std::vector<std::uint16_t>{0, 5}));
  // The change undone: seen, since the previous picture is what was staged.
  Screen.Paint({10, 70, 20, 72}, 0);
  Frame();
  EXPECT_EQ(Movie->Depths, (std::vector<std::uint16_t>{0, 5, 5}));
}

// The hints speak of the stage's previous picture only: a frame that did not reach change
// detection (or any other picture between) makes it compare every strip.
TEST_F(StagedChangeDetection, HintsOfAnotherPreviousPictureAreNotTrusted) {
  Frame(true);
  Screen.Paint({0, 0, 4, 4}, 0xFFFFFF);  // strip 0
  TStagedFrame skipped;
  ASSERT_TRUE(Stage.Capture(0, {0, 0, 64, 128}, skipped));  // never encoded
  Frame();  // its hints: nothing differs from the skipped picture
  EXPECT_EQ(Movie->Depths, (std::vector<std::uint16_t>{0, 1}));
}

// The colours of each depth, through the stage, change detection and a segment movie, read
// back by the player: exact for 32 bits, the top five bits of each channel for 15 bits.
TEST(ColourDepth, SegmentMoviesKeepTheColoursOfTheirDepth) {
  constexpr std::int32_t kW = 96, kH = 70;
  const auto colourAt = [](int x, int y) {
    return static_cast<std::uint32_t>((x * 255 / (kW - 1)) << 16 | (y * 255 / (kH - 1)) << 8 |
                                      ((x * 7 + y * 3) & 0xFF));
  };
  struct TDepthCase {
    TColourDepth Colours;
    std::uint8_t Mask;  // the bits of each channel kept
    const char* Name;
  };
  for (const TDepthCase& c :
       {TDepthCase{TColourDepth::Rgb32, 0xFF, "32"}, TDepthCase{TColourDepth::Rgb15, 0xF8, "15"}}) {
    SCOPED_TRACE(c.Name);
    TPaintedSource screen(kW, kH);
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) screen.Put(x, y, colourAt(x, y));
    }
    TMovingCursor pointer;
    pointer.Info.Showing = false;
    TFrameStage stage(screen, pointer);
    stage.SetColours(c.Colours);
    TChangeDetector detector(nullptr);
    detector.StripCount = (kH + kStripHeight - 1) / kStripHeight;
    detector.ResetReference = true;
    std::unique_ptr<TSegmentMovie> movie;
    const TSegmentMovieFactory factory = FlashSegmentMovieFactory();
    // Frame 1 a full picture; frame 2 a strip over it (rows 40..44 changed).
    for (int frame = 0; frame < 2; ++frame) {
      if (frame == 1) {
        for (int y = 40; y < 45; ++y) {
          for (int x = 0; x < kW; ++x) screen.Put(x, y, colourAt(kW - 1 - x, y));
        }
        screen.Drawn.Add({0, 40, kW, 45});
      }
      TStagedFrame staged;
      ASSERT_TRUE(stage.Capture(0, {0, 0, kW, kH}, staged));
      TFrameContext context;
      context.Staged = &staged;
      context.FirstFrameOfSegment = frame == 0;
      context.StageWidth = kW;
      context.StageHeight = kH;
      context.TakeElapsedMs = [] { return 100u; };
      detector.EncodeFrame(*staged.Picture, context, movie, factory);
    }
    const std::string file = (std::filesystem::temp_directory_path() /
                              ("kestrova-depth-" + std::string(c.Name) + ".swf"))
                                 .string();
    movie->SaveToFile(file);
    TMoviePlayer player(file);
    ASSERT_EQ(player.Width(), kW);
    int frames = 0;
    while (player.NextFrame()) ++frames;
    std::remove(file.c_str());
    EXPECT_EQ(frames, 2);
    const std::uint8_t* pixels = player.Pixels();
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        const std::uint32_t want = y >= 40 && y < 45 ? colourAt(kW - 1 - x, y) : colourAt(x, y);
        const std::uint8_t* p = pixels + 4 * (static_cast<std::size_t>(y) * kW + x);
        const std::uint8_t m = c.Mask;
        ASSERT_EQ((std::vector<int>{p[0] & m, p[1] & m, p[2] & m}),
                  (std::vector<int>{int(want >> 16 & m), int(want >> 8 & m), int(want & m)}))
            << "pixel " << x << "," << y;
      }
    }
  }
}

}  // namespace
}  // namespace kestrova::test
