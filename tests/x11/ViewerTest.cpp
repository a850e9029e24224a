// The viewer window of `kestrova view` on Qt's offscreen platform: it shows the frames the player
// (and so `kestrova frames`) draws, plays, steps, seeks, and follows a split recording's parts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "platform/qt/QtViewer.h"
#include "tests/player/MovieMaker.h"

namespace kestrova::platform::qt {
namespace {

using namespace kestrova::test;
namespace fs = std::filesystem;

// Frames of 8 x 6 pixels, frame f (from 1) one colour: base + f.
Bytes Coloured(int frames, std::uint32_t base) {
  TTestMovie movie(8, 6, 24);
  for (int f = 1; f <= frames; ++f) {
    const std::uint16_t id = static_cast<std::uint16_t>(2 * f);
    movie.Add(Bitmap24(id - 1, 8, 6, std::vector<std::uint32_t>(48, base + f)));
    movie.Add(RectShape(id, 0, 0, 160, 120, ImageFill(id - 1, 0x41, PixelScale())));
    movie.Add(Remove(1));
    movie.Add(Place(1, id));
    movie.ShowFrame();
  }
  return movie.Save();
}

class Viewer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(qApp, nullptr) << "the suite's Qt environment makes the application";
    dir = fs::temp_directory_path() / ("kestrova-viewer-" + std::to_string(getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Save(const std::string& name, const Bytes& b) {
    const std::string path = (dir / name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    return path;
  }
  // The colour the window shows at its frame's centre, as 0xRRGGBB.
  static std::uint32_t Shown(const TViewerWindow& w) {
    const QImage& image = w.FrameImage();
    return image.pixel(image.width() / 2, image.height() / 2) & 0xFFFFFF;
  }
  fs::path dir;
};

TEST_F(Viewer, ShowsThePlayersFramesAndStepsPlaysAndSeeks) {
  const std::string file = Save("m.swf", Coloured(6, 0x204000));
  TViewerWindow window(std::make_unique<TPartedMovie>(std::vector<std::string>{file}), "m");
  window.show();
  EXPECT_EQ(window.Frame(), 1);
  // The picture is the player's own, pixel for pixel (what `kestrova frames` writes).
  TMoviePlayer reference(file);
  ASSERT_TRUE(reference.NextFrame());
  const QImage expected(reference.Pixels(), reference.Width(), reference.Height(),
                        QImage::Format_RGBA8888);
  EXPECT_EQ(window.FrameImage().convertToFormat(QImage::Format_RGBA8888), expected);
  // And it is what the window paints, scaled to fit.
  const QImage painted = window.View().grab().toImage();
  EXPECT_EQ(painted.pixel(painted.width() / 2, painted.height() / 2) & 0xFFFFFF, 0x204001u);

  QTest::keyClick(&window, Qt::Key_Right);
  EXPECT_EQ(window.Frame(), 2);
  EXPECT_EQ(Shown(window), 0x204002u);
  QTest::keyClick(&window, Qt::Key_Left);
  EXPECT_EQ(window.Frame(), 1);
  EXPECT_EQ(Shown(window), 0x204001u);

  window.findChild<QSlider*>()->setValue(5);  // the seek bar
  EXPECT_EQ(window.Frame(), 5);
  EXPECT_EQ(Shown(window), 0x204005u);
  EXPECT_EQ(window.TimeText(), "0:00 / 0:00");

  QTest::keyClick(&window, Qt::Key_Space);
  EXPECT_TRUE(window.Playing());
  // Plays to the end (at 24 fps) and stops there.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !window.Playing(); }, 3000));
  EXPECT_EQ(window.Frame(), 6);
  EXPECT_EQ(Shown(window), 0x204006u);

  QTest::keyClick(&window, Qt::Key_1);
  EXPECT_FALSE(window.View().Fit());
  QTest::keyClick(&window, Qt::Key_F);
  EXPECT_TRUE(window.View().Fit());
}

TEST_F(Viewer, ASplitRecordingsPartsAreOneTimeline) {
  std::vector<std::string> parts = {Save("r.swf", Coloured(3, 0x100000)),
                                    Save("r-2.swf", Coloured(2, 0x200000))};
  TViewerWindow window(std::make_unique<TPartedMovie>(parts), "r");
  EXPECT_EQ(window.findChild<QSlider*>()->maximum(), 5);
  for (int f = 2; f <= 5; ++f) QTest::keyClick(&window, Qt::Key_Right);
  EXPECT_EQ(window.Frame(), 5);
  EXPECT_EQ(Shown(window), 0x200002u);
  EXPECT_NE(window.TimeText().indexOf("part 2 of 2"), -1) << window.TimeText().toStdString();
  QTest::keyClick(&window, Qt::Key_Left);
  QTest::keyClick(&window, Qt::Key_Left);
  EXPECT_EQ(Shown(window), 0x100003u);
}

}  // namespace
}  // namespace kestrova::platform::qt
