// Change detection against a movie that records the calls made on it.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>

#include "recorder/ChangeDetector.h"

namespace kestrova {
namespace {

// Records the calls, and keeps the display list they make so the stage can be drawn.
class TCallLog : public TSegmentMovie {
 public:
  explicit TCallLog(std::vector<std::string>& log) : Log(log) {}
  std::uint32_t AddPicture(const TDIBitmap& p) override {
    Pictures.push_back(p);
    Log.push_back("picture " + std::to_string(p.Width) + "x" + std::to_string(p.Rows()));
    return static_cast<std::uint32_t>(Pictures.size() - 1);
  }
  void SetBusy(bool busy) override { Busy.push_back(busy); }
  void RemoveObject(std::uint16_t depth) override {
    Log.push_back("remove " + std::to_string(depth));
    Shown.erase(depth);
  }
  void PlaceObject(std::uint32_t shape, std::uint16_t depth, std::int32_t x,
                   std::int32_t y) override {
    Log.push_back("place #" + std::to_string(shape) + " at " + std::to_string(depth) + " " +
                  std::to_string(x) + "," + std::to_string(y));
    Shown[depth] = {shape, x, y};
  }
  // The stage as the display list paints it, lowest depth first; row y of the screen is row y
  // of the stage.
  TDIBitmap Stage(std::int32_t w, std::int32_t h) const {
    TDIBitmap stage;
    stage.Allocate(w, h, 8);
    std::fill(stage.Bits.begin(), stage.Bits.end(), 0xEE);
    for (const auto& [depth, placed] : Shown) {
      const TDIBitmap& p = Pictures.at(placed.Shape);
      for (std::int32_t y = 0; y < p.Rows(); ++y) {
        const std::int32_t sy = placed.Y + y;
        if (sy < 0 || sy >= h) continue;
        for (std::int32_t x = 0; x < p.Width && placed.X + x < w; ++x) {
          PictureRow(stage, sy)[placed.X + x] = PictureRow(p, y)[x];
        }
      }
    }
    return stage;
  }
  void ShowFrame(std::uint16_t count) override { Log.push_back("frames " + std::to_string(count)); }
  std::uint16_t CalcFrameCount() override { return 0; }
  void SaveToFile(const std::string&) override {}
  std::vector<std::string>& Log;
  std::vector<TDIBitmap> Pictures;
  std::vector<bool> Busy;  // per frame that placed something
  struct TPlaced {
    std::uint32_t Shape;
    std::int32_t X, Y;
  };
  std::map<std::uint16_t, TPlaced> Shown;
};

TDIBitmap Picture(std::int32_t w, std::int32_t h, std::uint8_t fill = 7) {
  TDIBitmap b;
  b.Allocate(w, h, 8);
  std::fill(b.Bits.begin(), b.Bits.end(), fill);
  return b;
}

class ChangeDetection : public ::testing::Test {
 protected:
  ChangeDetection() : Detector([this](const std::string& t) { Logged.push_back(t); }) {
    Factory = [this](std::int32_t w, std::int32_t h) {
      Stages.push_back({w, h});
      auto movie = std::make_unique<TCallLog>(Calls);
      Movie = movie.get();
      return std::unique_ptr<TSegmentMovie>(std::move(movie));
    };
  }
  // One frame of a full-screen recording; elapsed: the milliseconds since the last advance.
  void Frame(const TDIBitmap& grab, std::uint32_t elapsed, bool first = false) {
    Detector.StripCount = (grab.Rows() + 31) / 32;
    TFrameContext c;
    c.FirstFrameOfSegment = first;
    c.StageWidth = grab.Width;
    c.StageHeight = grab.Rows();
    c.TakeElapsedMs = [elapsed] { return elapsed; };
    Detector.EncodeFrame(grab, c, Owned, Factory);
  }
  std::vector<std::string> Take() {
    std::vector<std::string> out;
    out.swap(Calls);
    return out;
  }
  TChangeDetector Detector;
  std::vector<std::string> Calls, Logged;
  std::vector<std::pair<int, int>> Stages;
  TSegmentMovieFactory Factory;
  TCallLog* Movie = nullptr;
  std::unique_ptr<TSegmentMovie> Owned;
};

TEST_F(ChangeDetection, FirstFrameIsOneFullPictureAtTheStagesTopLeft) {
  Detector.ResetReference = true;
  Frame(Picture(64, 100), 100, true);
  EXPECT_EQ(Stages, (std::vector<std::pair<int, int>>{{64, 100}}));
  EXPECT_EQ(Take(), (std::vector<std::string>{"remove 0", "picture 64x100", "place #0 at 0 0,0",
                                              "frames 1"}));
}

TEST_F(ChangeDetection, AChangedRowAt40IsStrip1AtDepth3WithItsOwnRows) {
  TDIBitmap grab = Picture(64, 100);
  Detector.ResetReference = true;
  Frame(grab, 100, true);
  Take();
  PictureRow(grab, 40)[5] = 9;
  PictureRow(grab, 63)[0] = 9;  // the strip's last row, not one from below it
  Frame(grab, 100);
  // Only the first 32 columns changed: the picture covers them, not the whole width.
  EXPECT_EQ(Take(), (std::vector<std::string>{"picture 32x32", "remove 3", "place #1 at 3 0,32",
                                              "frames 1"}));
  const TDIBitmap& strip = Movie->Pictures[1];
  EXPECT_EQ(PictureRow(strip, 8)[5], 9);
  EXPECT_EQ(PictureRow(strip, 31)[0], 9);
  EXPECT_EQ(PictureRow(strip, 0)[5], 7);
}

// A strip's picture covers its changed columns in whole steps of 32, and also whatever its depth
// already showed: placing it removes the old picture, which would otherwise uncover stale
// columns of the full picture beneath.
TEST_F(ChangeDetection, AStripCoversItsChangedColumnsAndWhatItsDepthShows) {
  TDIBitmap grab = Picture(100, 100);
  Detector.ResetReference = true;
  Frame(grab, 100, true);
  Take();
  PictureRow(grab, 40)[70] = 9;
  Frame(grab, 250);
  EXPECT_EQ(Take(), (std::vector<std::string>{"picture 32x32", "remove 3", "place #1 at 3 64,32",
                                              "frames 3"}));
  PictureRow(grab, 41)[10] = 9;
  Frame(grab, 250);
  EXPECT_EQ(Take(), (std::vector<std::string>{"picture 96x32", "remove 3", "place #2 at 3 0,32",
                                              "frames 3"}));
  EXPECT_EQ(PictureRow(Movie->Pictures[2], 8)[70], 9);  // the earlier change is kept
  // The last step ends at the stage's edge.
  PictureRow(grab, 5)[99] = 9;
  Frame(grab, 250);
  EXPECT_EQ(Take(), (std::vector<std::string>{"picture 4x32", "remove 1", "place #3 at 1 96,0",
                                              "frames 3"}));
  // A new segment starts from a full picture alone: strips are narrow again.
  Detector.BeginSegment();
  Detector.ResetReference = true;
  Frame(grab, 100, true);
  Take();
  PictureRow(grab, 42)[40] = 9;
  Frame(grab, 250);
  EXPECT_EQ(Take(), (std::vector<std::string>{"picture 32x32", "remove 3", "place #1 at 3 32,32",
                                              "frames 3"}));
}

// Frames that change a large area, by strips or all at once, are busy; a segment's first
// picture and small changes are not.
TEST_F(ChangeDetection, FramesThatChangeMuchAreBusy) {
  TDIBitmap grab = Picture(1024, 320);
  Detector.ResetReference = true;
  Frame(grab, 100, true);
  PictureRow(grab, 40)[70] = 9;
  Frame(grab, 100);
  for (std::int32_t y = 0; y < 160; ++y) {  // 5 of 10 strips, 160 K pixels
    PictureRow(grab, y)[0] = 5;
    PictureRow(grab, y)[1000] = 5;
  }
  Frame(grab, 100);
  for (std::int32_t y = 0; y < 320; ++y) PictureRow(grab, y)[0] = 6;  // all of them
  Frame(grab, 100);
  EXPECT_EQ(Movie->Busy, (std::vector<bool>{false, false, true, true}));
}

// A change undone in the next frame is a change too, wherever it lies in its strip: the
// previous frame must hold every row of what was shown.
TEST_F(ChangeDetection, AChangeUndoneIsSeen) {
  for (const std::int32_t row : {0, 17, 31, 32, 99}) {
    SCOPED_TRACE(row);
    TDIBitmap grab = Picture(64, 100);
    Detector.BeginSegment();
    Detector.ResetReference = true;
    Frame(grab, 100, true);
    for (const std::uint8_t value : {9, 7, 9}) {
      PictureRow(grab, row)[5] = value;
      Frame(grab, 100);
      ASSERT_EQ(Movie->Stage(64, 100).Bits, grab.Bits) << int{value};
    }
  }
}

// Whatever changes from frame to frame, the display list shows each grab exactly: random boxes
// of change, changes undone, some frames changing nearly everything (full refreshes) and new
// segments.
TEST_F(ChangeDetection, TheStageShowsEveryGrab) {
  constexpr std::int32_t kW = 200, kH = 150;
  std::mt19937 random(1234);
  TDIBitmap grab = Picture(kW, kH);
  for (std::int32_t i = 0; i < kW * kH; ++i) grab.Bits[i] = static_cast<std::uint8_t>(random());
  TDIBitmap last = grab;
  for (int frame = 0; frame < 300; ++frame) {
    const bool first = frame % 40 == 0;
    if (first) {
      Detector.BeginSegment();
      Detector.ResetReference = true;
    }
    // Every third frame goes back to the one before the last, as a blinking caret does.
    const TDIBitmap beforeLast = last;
    last = grab;
    if (frame % 3 == 2) grab = beforeLast;
    const int boxes = frame % 17 == 5 ? 40 : 1 + static_cast<int>(random() % 4);
    for (int b = 0; b < boxes; ++b) {
      const std::int32_t x0 = random() % kW, y0 = random() % kH;
      const std::int32_t x1 = std::min(kW, x0 + 1 + static_cast<std::int32_t>(random() % 50));
      // The first box of a frame is one row high, as a caret or an underline is.
      const std::int32_t y1 =
          std::min(kH, y0 + 1 + (b == 0 ? 0 : static_cast<std::int32_t>(random() % 20)));
      const auto colour = static_cast<std::uint8_t>(random());
      for (std::int32_t y = y0; y < y1; ++y) {
        for (std::int32_t x = x0; x < x1; ++x) PictureRow(grab, y)[x] = colour;
      }
    }
    Frame(grab, 100, first);
    ASSERT_EQ(Movie->Stage(kW, kH).Bits, grab.Bits) << "frame " << frame;
  }
}

TEST_F(ChangeDetection, NearlyEverythingChangedIsAFullRefresh) {
  Detector.ResetReference = true;
  Frame(Picture(64, 100, 1), 100, true);
  Take();
  TDIBitmap grab = Picture(64, 100, 1);
  for (int y : {0, 40, 70}) PictureRow(grab, y)[0] = 2;  // 3 of 4 strips: 4 + 1 passes - 2
  Frame(grab, 100);
  std::vector<std::string> expected{"remove 0", "picture 64x100", "place #1 at 0 0,0"};
  for (int d = 1; d <= 100; ++d) expected.push_back("remove " + std::to_string(d));
  expected.push_back("frames 1");
  EXPECT_EQ(Take(), expected);
}

TEST_F(ChangeDetection, StillFramesPlaceNothingButCloseFrames) {
  Detector.ResetReference = true;
  Frame(Picture(32, 40), 100, true);
  Take();
  Frame(Picture(32, 40), 100);
  EXPECT_EQ(Take(), std::vector<std::string>{"frames 1"});
}

TEST_F(ChangeDetection, StripDepthsFollowTwoKPlusOneBeyondTheTable) {
  EXPECT_EQ(Detector.StripDepth(0), 1);
  EXPECT_EQ(Detector.StripDepth(20), 41);
  EXPECT_EQ(Detector.StripDepth(21), 43);
  EXPECT_EQ(Detector.StripDepth(51), 103);
}

TEST_F(ChangeDetection, TimelineRoundsHalvesToEvenAndAlwaysAdvances) {
  TCallLog movie(Calls);
  Detector.BeginSegment();
  // 100 ms turns: 1.2, 2.4, 3.6 frames -> 1, 2, 4: the movie advances by 1, 1, 2.
  EXPECT_EQ(Detector.AdvanceTimeline(movie, 100), 1);
  EXPECT_EQ(Detector.AdvanceTimeline(movie, 100), 1);
  EXPECT_EQ(Detector.AdvanceTimeline(movie, 100), 2);
  // Two frames in the same twelfth of a second: the second still closes one frame.
  EXPECT_EQ(Detector.AdvanceTimeline(movie, 0), 1);
  EXPECT_EQ(Detector.FramesShown, 5);
  Detector.BeginSegment();
  EXPECT_EQ(Detector.AdvanceTimeline(movie, 125), 2);  // 1.5 -> 2 (even)
  Detector.BeginSegment();
  EXPECT_EQ(Detector.AdvanceTimeline(movie, 375), 4);  // 4.5 -> 4 (even)
}

TEST_F(ChangeDetection, APreviousFrameOfAnotherSizeIsAFullRefreshNotAnOverread) {
  Detector.ResetReference = true;
  Frame(Picture(32, 40), 100, true);
  Take();
  Frame(Picture(48, 40), 100);
  const std::vector<std::string> calls = Take();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[1], "picture 48x40");
  EXPECT_EQ(calls[2], "place #1 at 0 0,0");
}

TEST_F(ChangeDetection, BuilderErrorsAreLoggedAndTheGrabStillBecomesThePreviousFrame) {
  Factory = [](std::int32_t, std::int32_t) -> std::unique_ptr<TSegmentMovie> {
    throw std::runtime_error("out of ids");
  };
  Detector.ResetReference = true;
  Frame(Picture(32, 40, 3), 100, true);
  Frame(Picture(32, 40, 4), 100, true);
  EXPECT_EQ(Logged, (std::vector<std::string>{"Images loaded to Fimage objectsout of ids",
                                              "Images loaded to Fimage objectsout of ids"}));
  EXPECT_EQ(Detector.PreviousFrame.Bits[0], 4);
}

}  // namespace
}  // namespace kestrova
