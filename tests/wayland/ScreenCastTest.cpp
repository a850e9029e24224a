// The Wayland screen as the recorder sees it, with a stream standing in for the portal's: which
// source each recording asks for, frames repeated while the screen is still, a region cut from
// the monitor, and a stream that ends or never starts, with a real recording session on top.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "platform/PosixFiles.h"
#include "platform/sim/SimDesktop.h"
#include "platform/wayland/Portal.h"
#include "platform/wayland/WaylandBackend.h"
#include "platform/wayland/WaylandScreenCast.h"
#include "recorder/FlashSegmentMovie.h"
#include "recorder/Session.h"

namespace kestrova::platform::wayland {
namespace {

class TFakeStream : public TScreenStream {
 public:
  TFakeStream(std::uint32_t type, bool frames) : Type(type) {
    if (frames) Push(1);
  }
  // A w x h frame, every pixel's red being seed.
  void Push(std::uint8_t seed, std::int32_t w = 64, std::int32_t h = 48) {
    std::vector<std::uint8_t> px(static_cast<std::size_t>(w) * h * 4, 0);
    for (std::size_t i = 2; i < px.size(); i += 4) px[i] = seed;
    TDamage all;
    all.SetAll();
    Frames.Push(px.data(), w, h, static_cast<std::size_t>(w) * 4, all);
    Width = w, Height = h;
  }
  std::uint32_t SourceType() const override { return Type; }
  bool WaitForFrame(std::uint32_t) override { return Width > 0; }
  TLatestFrame& Latest() override { return Frames; }
  void Size(std::int32_t& w, std::int32_t& h) const override { w = Width, h = Height; }
  bool Cursor(TCursorInfo&) const override { return false; }
  bool Ended() override { return EndedNow; }
  std::string EndReason() const override { return "it was never there"; }

  std::uint32_t Type;
  TLatestFrame Frames;
  std::int32_t Width = 0, Height = 0;
  bool EndedNow = false;
};

struct TScreen {
  std::vector<std::uint32_t> Opened;
  std::vector<std::string> Told;
  int StopsAsked = 0;
  bool GiveFrames = true;
  std::string Refusal;  // the opener throws this when set
  TFakeStream* Last = nullptr;
  TWaylandScreenCast Cast{Hooks()};

  TWaylandScreenCast::THooks Hooks() {
    TWaylandScreenCast::THooks h;
    h.Open = [this](std::uint32_t type) -> std::unique_ptr<TScreenStream> {
      Opened.push_back(type);
      if (!Refusal.empty()) throw EPortalError(Refusal);
      auto s = std::make_unique<TFakeStream>(type, GiveFrames);
      Last = s.get();
      return s;
    };
    h.ScreenRect = [] { return TScreenRect{0, 0, 800, 600}; };
    h.Tell = [this](const std::string& m) { Told.push_back(m); };
    h.RequestStop = [this] { ++StopsAsked; };
    return h;
  }
};

TEST(WaylandScreenCast, AsksForTheWindowOnlyWhenTheActiveWindowWasAskedFor) {
  TScreen s;
  EXPECT_EQ(s.Cast.DesktopRect(), (TScreenRect{0, 0, 800, 600})) << "no stream yet: the screen";
  EXPECT_FALSE(s.Cast.IsWindowVisible(kPortalWindow)) << "no window was asked for";
  s.Cast.Prepare();
  EXPECT_EQ(s.Cast.DesktopRect(), (TScreenRect{0, 0, 64, 48})) << "the stream's own size";
  EXPECT_FALSE(s.Cast.WindowRect(kPortalWindow)) << "a monitor has no window";

  ASSERT_EQ(s.Cast.ForegroundWindow(), kPortalWindow);
  EXPECT_TRUE(s.Cast.IsWindowVisible(kPortalWindow)) << "the portal asks for it at the start";
  EXPECT_FALSE(s.Cast.IsWindowVisible(kPortalWindow + 1));
  s.Cast.Prepare();
  EXPECT_EQ(s.Cast.WindowRect(kPortalWindow), (TScreenRect{0, 0, 64, 48}));
  EXPECT_TRUE(s.Cast.IsWindowVisible(kPortalWindow));
  s.Last->EndedNow = true;
  EXPECT_FALSE(s.Cast.IsWindowVisible(kPortalWindow)) << "its stream ended: the window is gone";
  EXPECT_TRUE(s.Told.empty()) << "the recorder says that a window went";

  s.Cast.Prepare();
  EXPECT_EQ(s.Opened, (std::vector<std::uint32_t>{kSourceMonitor, kSourceWindow, kSourceMonitor}));
}

TEST(WaylandScreenCast, RepeatsTheLastFrameAndCutsRegions) {
  TScreen s;
  s.Cast.Prepare();
  TDIBitmap frame;
  TDamage damage;
  ASSERT_TRUE(s.Cast.Capture(0, {0, 0, 64, 48}, frame, damage));
  EXPECT_TRUE(damage.All);
  // Nothing came: the same frame again, nothing changed (a still screen records as one).
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(s.Cast.Capture(0, {0, 0, 64, 48}, frame, damage));
    EXPECT_TRUE(damage.Empty());
  }
  EXPECT_EQ(frame.Scanline(10)[2], 1);

  s.Last->Push(9);
  TDIBitmap region;
  ASSERT_TRUE(s.Cast.Capture(0, {8, 8, 24, 16}, region, damage));
  ASSERT_EQ(region.Width, 16);
  EXPECT_EQ(region.Scanline(0)[2], 9);
  EXPECT_TRUE(s.Cast.Capture(0, {8, 8, 24, 16}, region, damage));
  EXPECT_TRUE(damage.Empty());

  EXPECT_FALSE(s.Cast.Capture(kPortalWindow, {0, 0, 64, 48}, frame, damage))
      << "a monitor's stream has no window";
}

TEST(WaylandScreenCast, AStreamThatEndsKeepsItsLastFrameAndAsksOnceForTheStop) {
  TScreen s;
  s.Cast.Prepare();
  TDIBitmap frame;
  TDamage damage;
  ASSERT_TRUE(s.Cast.Capture(0, {0, 0, 64, 48}, frame, damage));
  s.Last->EndedNow = true;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(s.Cast.Capture(0, {0, 0, 64, 48}, frame, damage));
    EXPECT_TRUE(damage.Empty());
  }
  EXPECT_EQ(frame.Scanline(0)[2], 1);
  EXPECT_EQ(s.Told, (std::vector<std::string>{TWaylandScreenCast::kStreamEnded}));
  EXPECT_EQ(s.StopsAsked, 1);
}

TEST(WaylandScreenCast, SaysWhyNoStreamCouldStart) {
  struct TCase {
    const char* What;
    std::string Refusal;
    bool Frames;
    const char* Said;
  };
  const TCase cases[] = {
      {"dialog cancelled",
       "Screen recording was cancelled in the desktop's sharing dialog: nothing was recorded.",
       true, "cancelled in the desktop's sharing dialog"},
      {"no picture", "", false, "sent no picture of the screen within 5 seconds (it was never"},
  };
  for (const TCase& c : cases) {
    TScreen s;
    s.Refusal = c.Refusal;
    s.GiveFrames = c.Frames;
    try {
      s.Cast.Prepare();
      ADD_FAILURE() << c.What << ": started";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.Said), std::string::npos)
          << c.What << ": " << e.what();
    }
    EXPECT_FALSE(s.Cast.Streaming()) << c.What;
    TDIBitmap frame;
    TDamage damage;
    EXPECT_FALSE(s.Cast.Capture(0, {0, 0, 64, 48}, frame, damage)) << c.What;
  }
}

TEST(WaylandScreenCast, ChoosesThePointerApartWhereOffered) {
  EXPECT_EQ(ChooseCursorMode(kCursorHidden | kCursorEmbedded | kCursorMetadata), kCursorMetadata);
  EXPECT_EQ(ChooseCursorMode(kCursorHidden | kCursorEmbedded), kCursorEmbedded);
  EXPECT_EQ(ChooseCursorMode(kCursorHidden), kCursorHidden);
  EXPECT_EQ(ChooseCursorMode(0), 0u);
}

TEST(WaylandHotKeys, NamesTheKeyInThePortalsNotation) {
  struct TCase {
    std::uint32_t Modifiers, Key;
    const char* Trigger;
  };
  const TCase cases[] = {
      {kModControl | kModAlt, kVirtualKeyS, "CTRL+ALT+s"},
      {kModControl | 0x4, '7', "CTRL+SHIFT+7"},
      {0x8, 0x70, "LOGO+F1"},
      {kModAlt, 0x7B, "ALT+F12"},
      {kModControl, 0x20, ""},  // a key the portal has no name for here
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(PortalTrigger(c.Modifiers, c.Key), c.Trigger) << c.Trigger;
  }
}

TEST(WaylandHotKeys, WithoutGlobalShortcutsSaysOnceHowElseToStop) {
  // No Qt application here: the portal is not asked, as on a desktop without GlobalShortcuts.
  std::vector<std::string> told;
  TWaylandHotKeys keys([&told](const std::string& m) { told.push_back(m); }, nullptr);
  const std::uint16_t id = keys.AddAtom("Hotkey1");
  EXPECT_TRUE(keys.Register(id, kModControl | kModAlt, kVirtualKeyS))
      << "nobody else holds the key: the recorder must not say so";
  EXPECT_TRUE(keys.Register(id, kModControl | kModAlt, kVirtualKeyS));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("runs kestrova stop"), std::string::npos) << told[0];
}

// A recording session on the Wayland screen (the rest of the desktop simulated).
class WaylandSession : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = (std::filesystem::temp_directory_path() /
           ("kestrova-wayland-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name()))
              .string();
    std::filesystem::remove_all(Dir);
    std::filesystem::create_directories(Dir);
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }
  // Only HOME is set: the state folder goes inside the test's folder.
  TPosixFileLocations::TGetEnv Env() {
    return [this](const char* name) -> const char* {
      return std::string(name) == "HOME" ? Dir.c_str() : nullptr;
    };
  }
  sim::TSimConfig Config() {
    sim::TSimConfig c = sim::DemoDesktop(160, 120);
    c.TimeLimitMs = 60000;
    return c;
  }
  std::string Dir;
};

class TStopAt : public TSessionObserver {
 public:
  TStopAt(TRecordingSession& s, TClock& c, std::string out, std::function<void()> atOne)
      : S(s), C(c), Out(std::move(out)), AtOne(std::move(atOne)) {}
  void Started() override { Start = C.TickCount(); }
  void Pump() override {
    const std::uint32_t now = C.TickCount() - Start;
    if (now >= 1000 && AtOne) std::exchange(AtOne, nullptr)();
    if (now >= 2500) S.Stop(Out);
  }
  void Tell(const std::string& m, bool) override { Told.push_back(m); }
  TRecordingSession& S;
  TClock& C;
  std::string Out;
  std::function<void()> AtOne;
  std::uint32_t Start = 0;
  std::vector<std::string> Told;
};

TEST_F(WaylandSession, SavesWhatWasRecordedWhenTheStreamEnds) {
  TScreen s;
  sim::TSimDesktop desktop(Config());
  TWaylandFileLocations files(s.Cast, Env());
  TPlatform p = desktop.Platform();
  p.Capture = &s.Cast;
  p.Cursor = &s.Cast;
  p.Desktop = &s.Cast;
  p.Files = &files;
  TSessionOptions options;
  options.MovieFactory = FlashSegmentMovieFactory();
  TRecordingSession session(p, options);
  const std::string out = Dir + "/movie.swf";
  TStopAt user(session, *p.Clock, out, [&s] { s.Last->EndedNow = true; });
  session.SetObserver(&user);
  const TSessionResult r = session.Start(TCaptureTarget::FullScreen());
  ASSERT_TRUE(r.Saved) << r.Problem;
  EXPECT_GE(r.Frames, 24u) << "the frames after the end repeat the last one";
  EXPECT_TRUE(std::filesystem::exists(out));
  EXPECT_EQ(s.StopsAsked, 1);
  EXPECT_EQ(s.Told, (std::vector<std::string>{TWaylandScreenCast::kStreamEnded}));
}

TEST_F(WaylandSession, ACancelledDialogRefusesTheStartAndLeavesNoFile) {
  TScreen s;
  s.Refusal =
      "Screen recording was cancelled in the desktop's sharing dialog: nothing was recorded.";
  sim::TSimDesktop desktop(Config());
  TWaylandFileLocations files(s.Cast, Env());
  TPlatform p = desktop.Platform();
  p.Capture = &s.Cast;
  p.Cursor = &s.Cast;
  p.Desktop = &s.Cast;
  p.Files = &files;
  TSessionOptions options;
  options.MovieFactory = FlashSegmentMovieFactory();
  TRecordingSession session(p, options);
  TStopAt user(session, *p.Clock, Dir + "/movie.swf", nullptr);
  session.SetObserver(&user);
  const TSessionResult r = session.Start(TCaptureTarget::FullScreen());
  EXPECT_FALSE(r.Started);
  EXPECT_NE(r.Problem.find("cancelled in the desktop's sharing dialog"), std::string::npos)
      << r.Problem;
  EXPECT_FALSE(std::filesystem::exists(Dir + "/movie.swf"));
  std::size_t folders = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::recursive_directory_iterator(Dir, ec)) {
    folders += e.path().filename().string().rfind("recording-", 0) == 0;
  }
  EXPECT_EQ(folders, 0u) << "no recording folder is left for recovery to find";
}

}  // namespace
}  // namespace kestrova::platform::wayland
