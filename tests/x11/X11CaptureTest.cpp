// Grabs of a private Xvfb display compared with the pictures a test client painted there.
#include <gtest/gtest.h>

#include <cstdlib>

#include "XClient.h"
#include "Xvfb.h"
#include "platform/Registry.h"
#include "platform/x11/X11Cursor.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11Grabber.h"
#include "recorder/FrameStage.h"

namespace kestrova::platform::x11 {
namespace {

using kestrova::testing::TColourAt;
using kestrova::testing::TXClient;
using kestrova::testing::TXvfb;

constexpr int kWidth = 320, kHeight = 240;

// Flat areas, a gradient through many colours and a fine checker: every kind of run MapRow sees.
std::uint32_t Scene(int x, int y) {
  if (y < 60) return x < 160 ? 0xFF0000 : 0x00FF00;
  if (y < 150) return static_cast<std::uint32_t>((x * 255 / kWidth) << 16 | (y * 2) << 8 | 0x80);
  return ((x ^ y) & 1) ? 0x123456 : 0xFEDCBA;
}

// Every pixel of a 32-bit top-down frame (or staged picture) against the expected colours.
::testing::AssertionResult Shows(const TDIBitmap& frame, const TColourAt& expected) {
  if (frame.BitCount != 32 || frame.Height >= 0) {
    return ::testing::AssertionFailure() << "not a 32-bit top-down frame";
  }
  for (int y = 0; y < frame.Rows(); ++y) {
    const std::uint8_t* row = frame.Scanline(y);
    for (int x = 0; x < frame.Width; ++x) {
      const std::uint8_t* p = row + 4 * x;
      const std::uint32_t got = std::uint32_t{p[2]} << 16 | p[1] << 8 | p[0];
      if (got != expected(x, y)) {
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << std::hex
                                             << got << ", expected " << expected(x, y);
      }
    }
  }
  return ::testing::AssertionSuccess();
}

class X11Capture : public ::testing::TestWithParam<bool> {
 protected:
  TXvfb Server{kWidth, kHeight};
};

TEST_P(X11Capture, FramesAreTheScreenAndOnlyChangedBlocksAreDamage) {
  KESTROVA_REQUIRE_XVFB(Server);
  TXClient client(Server.Name());
  const Window w = client.MakeWindow(0, 0, kWidth, kHeight, Scene);
  TX11Display display(Server.Name().c_str());
  TX11Grabber grabber(display, GetParam());
  EXPECT_EQ(grabber.UsingShm(), GetParam());
  const TScreenRect screen{0, 0, kWidth, kHeight};
  TDIBitmap frame;
  TDamage damage;
  ASSERT_TRUE(grabber.Capture(0, screen, frame, damage));
  EXPECT_EQ(frame.Width, kWidth);
  EXPECT_EQ(frame.Height, -kHeight);
  EXPECT_TRUE(damage.All);
  EXPECT_TRUE(Shows(frame, Scene));
  // 240 rows in blocks of 16, each row in blocks of 256 and 64 columns.
  EXPECT_EQ(grabber.Stats().BlocksChanged, 30u);

  // A change inside rows 100..109, columns 50..79 touches one block, which is the damage.
  client.Fill(w, 50, 100, 30, 10, 0x0000FF);
  grabber.Settle();
  const auto changed = [](int x, int y) {
    return x >= 50 && x < 80 && y >= 100 && y < 110 ? 0x0000FFu : Scene(x, y);
  };
  ASSERT_TRUE(grabber.Capture(0, screen, frame, damage));
  EXPECT_TRUE(Shows(frame, changed));
  EXPECT_FALSE(damage.All);
  EXPECT_EQ(damage.Rects, (std::vector<TScreenRect>{{0, 96, 256, 112}}));
  EXPECT_EQ(grabber.Stats().BlocksChanged, 31u);
  EXPECT_EQ(grabber.Stats().BlocksKept, 29u);

  // And one in the narrow right-hand blocks, across two rows of blocks.
  client.Fill(w, 300, 140, 5, 10, 0x00FF00);
  grabber.Settle();
  const auto last = [&](int x, int y) {
    return x >= 300 && x < 305 && y >= 140 && y < 150 ? 0x00FF00u : changed(x, y);
  };
  ASSERT_TRUE(grabber.Capture(0, screen, frame, damage));
  EXPECT_TRUE(Shows(frame, last));
  EXPECT_EQ(damage.Rects, (std::vector<TScreenRect>{{256, 128, 320, 144}, {256, 144, 320, 160}}));
  EXPECT_EQ(grabber.Stats().BlocksChanged, 33u);

  // Nothing drawn since: the server sends no damage event, so the capture asks it nothing and
  // neither fetches nor compares, except once in kFullCheckEvery captures, which compares every
  // block. Either way nothing is damage.
  ASSERT_TRUE(grabber.UsingDamage()) << "Xvfb has the DAMAGE extension";
  const TX11GrabStats before = grabber.Stats();
  for (std::uint32_t i = 0; i < TX11Grabber::kFullCheckEvery; ++i) {
    ASSERT_TRUE(grabber.Capture(0, screen, frame, damage));
    EXPECT_TRUE(damage.Empty()) << i;
  }
  EXPECT_TRUE(Shows(frame, last));
  EXPECT_EQ(grabber.Stats().FetchesSkipped - before.FetchesSkipped,
            TX11Grabber::kFullCheckEvery - 1);
  EXPECT_EQ(grabber.Stats().BlocksChanged, before.BlocksChanged);
  EXPECT_EQ(grabber.Stats().DamageRequests, before.DamageRequests);
  // Drawn on again: the event brings the capture back to the server for the damage.
  client.Fill(w, 10, 10, 4, 4, 0xFF00FF);
  grabber.Settle();
  ASSERT_TRUE(grabber.Capture(0, screen, frame, damage));
  EXPECT_EQ(damage.Rects, (std::vector<TScreenRect>{{0, 0, 256, 16}}));
  EXPECT_EQ(grabber.Stats().DamageRequests, before.DamageRequests + 1);
  const auto again = [&](int x, int y) {
    return x >= 10 && x < 14 && y >= 10 && y < 14 ? 0xFF00FFu : last(x, y);
  };
  EXPECT_TRUE(Shows(frame, again));
  // Without the reports every capture fetches and compares.
  grabber.SetUseDamage(false);
  ASSERT_TRUE(grabber.Capture(0, screen, frame, damage));
  EXPECT_TRUE(damage.Empty());
  EXPECT_EQ(grabber.Stats().FetchesSkipped - before.FetchesSkipped,
            TX11Grabber::kFullCheckEvery - 1);
  // Compared, and kept: the full check's 30 blocks, the 29 beside the drawn one and this
  // capture's 30.
  EXPECT_EQ(grabber.Stats().BlocksKept - before.BlocksKept, 89u);
  // A frame that is not the one the grabber filled (here: empty) is filled whole.
  TDIBitmap fresh;
  ASSERT_TRUE(grabber.Capture(0, screen, fresh, damage));
  EXPECT_TRUE(damage.All);
  EXPECT_TRUE(Shows(fresh, again));
}

TEST_P(X11Capture, WindowFrameIsItsOuterRectangleWithTheOffScreenPartBlack) {
  KESTROVA_REQUIRE_XVFB(Server);
  TXClient client(Server.Name());
  client.MakeWindow(0, 0, kWidth, kHeight, [](int, int) { return 0x808080u; });
  const auto inside = [](int x, int y) { return static_cast<std::uint32_t>(x * 2 << 8 | y * 3); };
  const Window w = client.MakeWindow(-20, 200, 100, 80, inside);
  TX11Display display(Server.Name().c_str());
  TX11Desktop desktop(display);
  const auto rect = desktop.WindowRect(w);
  ASSERT_TRUE(rect);
  EXPECT_EQ(*rect, (TScreenRect{-20, 200, 80, 280}));
  TX11Grabber grabber(display, GetParam());
  TDIBitmap frame;
  TDamage damage;
  ASSERT_TRUE(grabber.Capture(w, *rect, frame, damage));
  EXPECT_EQ(frame.Width, 100);
  EXPECT_EQ(frame.Rows(), 80);
  EXPECT_TRUE(damage.All);
  EXPECT_TRUE(Shows(frame, [&](int x, int y) { return x < 20 || y >= 40 ? 0u : inside(x, y); }));
  // A window that is gone cannot be captured.
  XDestroyWindow(client.D, w);
  client.Sync();
  EXPECT_FALSE(grabber.Capture(w, *rect, frame, damage));
}

INSTANTIATE_TEST_SUITE_P(SharedMemoryAndPlain, X11Capture, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Shm" : "GetImage"; });

TEST(X11Cursor, PictureAndHotSpotComeFromTheServerAndTheRecorderDrawsThemOnce) {
  TXvfb server(kWidth, kHeight);
  KESTROVA_REQUIRE_XVFB(server);
  TXClient client(server.Name());
  const Window w = client.MakeWindow(0, 0, kWidth, kHeight, Scene);
  // An 8 x 8 cursor: a 5 x 5 red square (the source) in a 6 x 6 mask, whose extra row and
  // column show the white background colour; the hot spot at (2, 3).
  unsigned char source[8] = {0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0, 0, 0};
  unsigned char mask[8] = {0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0, 0};
  const Pixmap s = XCreateBitmapFromData(client.D, w, reinterpret_cast<char*>(source), 8, 8);
  const Pixmap m = XCreateBitmapFromData(client.D, w, reinterpret_cast<char*>(mask), 8, 8);
  XColor red{}, white{};
  red.red = 0xFFFF;
  white.red = white.green = white.blue = 0xFFFF;
  XDefineCursor(client.D, w, XCreatePixmapCursor(client.D, s, m, &red, &white, 2, 3));
  XWarpPointer(client.D, None, client.Root(), 0, 0, 0, 0, 100, 70);
  client.Sync();

  TX11Display display(server.Name().c_str());
  TX11Cursor cursor(display);
  TCursorInfo info;
  ASSERT_TRUE(cursor.GetCursor(info));
  EXPECT_TRUE(info.Showing);
  EXPECT_EQ(info.X, 100);
  EXPECT_EQ(info.Y, 70);
  EXPECT_EQ(info.HotX, 2);
  EXPECT_EQ(info.HotY, 3);
  ASSERT_EQ(info.Picture.BitCount, 32);
  const std::uint8_t* corner = info.Picture.Scanline(0);
  EXPECT_EQ((std::vector<int>{corner[0], corner[1], corner[2], corner[3]}),
            (std::vector<int>{0, 0, 255, 255}));

  // The frame is the screen without the pointer; the recorder's stage draws it in, once.
  TX11Grabber grabber(display);
  TFrameStage stage(grabber, cursor);
  stage.SetColours(TColourDepth::Rgb32);
  TStagedFrame staged;
  ASSERT_TRUE(stage.Capture(0, {0, 0, kWidth, kHeight}, staged));
  EXPECT_TRUE(Shows(*staged.Picture, [](int x, int y) {
    const int cx = x - 98, cy = y - 67;  // the picture's top-left: pointer minus hot spot
    if (cx >= 0 && cy >= 0 && cx < 5 && cy < 5) return 0xFF0000u;
    if (cx >= 0 && cy >= 0 && cx < 6 && cy < 6) return 0xFFFFFFu;
    return Scene(x, y);
  }));
  // Still the same next time: the pointer did not go into the frame the grabber compares with.
  ASSERT_TRUE(stage.Capture(0, {0, 0, kWidth, kHeight}, staged));
  EXPECT_TRUE(staged.Repeat);

  // While the cursor stays the same only its place is asked for; moved, it is where it went.
  const TX11CursorStats before = cursor.Stats();
  XWarpPointer(client.D, None, client.Root(), 0, 0, 0, 0, 200, 150);
  client.Sync();
  ASSERT_TRUE(cursor.GetCursor(info));
  EXPECT_EQ(info.X, 200);
  EXPECT_EQ(info.Y, 150);
  EXPECT_EQ(info.HotX, 2);
  EXPECT_EQ(info.Picture.Scanline(0)[2], 255);
  EXPECT_EQ(cursor.Stats().PicturesFetched, before.PicturesFetched);
  // A new cursor comes with the server's word of it, and its picture is fetched again: here
  // the window's own cursor goes, and the screen's default shows.
  XUndefineCursor(client.D, w);
  client.Sync();
  cursor.Settle();
  ASSERT_TRUE(cursor.GetCursor(info));
  EXPECT_EQ(cursor.Stats().PicturesFetched, before.PicturesFetched + 1);
  EXPECT_EQ(info.X, 200);
  EXPECT_FALSE(info.HotX == 2 && info.HotY == 3 && info.Picture.Width == 8 &&
               info.Picture.Scanline(0)[2] == 255)
      << "still the window's red cursor";
}

TEST(X11Display, NoDisplayIsOneClearLineAndTheSimulationStaysAvailable) {
  EXPECT_THROW(
      {
        try {
          TX11Display d("unix:424242");
        } catch (const EX11Unavailable& e) {
          EXPECT_EQ(std::string(e.what()), "cannot open the X display \"unix:424242\"");
          throw;
        }
      },
      EX11Unavailable);
  unsetenv("DISPLAY");
  const std::string why = WhyNoDisplay();
  EXPECT_NE(why.find("DISPLAY is not set"), std::string::npos) << why;
  EXPECT_EQ(why.find('\n'), std::string::npos);
  unsetenv("KESTROVA_PLATFORM");
  try {
    OpenBackend("x11");
    ADD_FAILURE() << "x11 opened without a display";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("cannot run here: no X display"), std::string::npos)
        << e.what();
  }
  EXPECT_STREQ(OpenBackend("")->Name(), "sim");
  EXPECT_STREQ(OpenBackend("sim")->Name(), "sim");
}

}  // namespace
}  // namespace kestrova::platform::x11
