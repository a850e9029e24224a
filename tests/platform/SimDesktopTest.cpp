#include <gtest/gtest.h>

#include "platform/Palette.h"
#include "platform/Registry.h"
#include "platform/sim/SimDesktop.h"

namespace kestrova::platform::sim {
namespace {

TSimConfig Small() {
  TSimConfig c;
  c.Width = 64;
  c.Height = 48;
  c.Windows = {{"Video", {8, 8, 40, 40}, TSimContent::Video, true},
               {"Notes", {30, 20, 60, 46}, TSimContent::Typing, true}};
  c.CursorPath = {{10, 10}, {50, 30}};
  c.CursorStepMs = 1000;
  return c;
}

TEST(SimDesktop, ClockWrapsAndSleepAdvances) {
  TSimConfig c = Small();
  c.StartTick = 0xFFFFFF00u;
  TSimDesktop d(c);
  TClock& clock = *d.Platform().Clock;
  const std::uint32_t start = clock.TickCount();
  clock.Sleep(0x200);
  EXPECT_EQ(clock.TickCount(), 0x100u);
  EXPECT_EQ(static_cast<std::uint32_t>(clock.TickCount() - start), 0x200u);
}

TEST(SimDesktop, GrabIsBottomUpEightBitWithTheFixedPalette) {
  TSimDesktop d(Small());
  TDIBitmap b;
  ASSERT_TRUE(d.Platform().Grabber->Grab(0, {0, 0, 64, 48}, b));
  EXPECT_EQ(b.Width, 64);
  EXPECT_EQ(b.Height, 48);
  EXPECT_EQ(b.BitCount, 8);
  EXPECT_EQ(b.Palette.size(), 256u);
  const std::vector<std::uint8_t> top = d.Compose(0, {0, 0, 64, 48}, false);
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) ASSERT_EQ(b.Scanline(47 - y)[x], top[y * 64 + x]);
  }
}

TEST(SimDesktop, ContentChangesWithTimeUnlessFrozen) {
  TSimDesktop d(Small());
  const TScreenRect all{0, 0, 64, 48};
  const auto a = d.Compose(0, all, false);
  d.Platform().Clock->Sleep(200);
  const auto b = d.Compose(0, all, false);
  EXPECT_NE(a, b);
  d.Add({d.NowMs(), TSimActionKind::Freeze, "", 0, {}, 1});
  d.Platform().Clock->Sleep(1);
  const auto c = d.Compose(0, all, false);
  d.Platform().Clock->Sleep(5000);
  EXPECT_EQ(c, d.Compose(0, all, false));
}

TEST(SimDesktop, WindowActionsHappenAtTheirTime) {
  TSimDesktop d(Small());
  TDesktop& desk = *d.Platform().Desktop;
  const TWindowHandle video = d.WindowByTitle("Video");
  d.Add({100, TSimActionKind::Minimise, "", video, {}, 0});
  d.Add({200, TSimActionKind::Restore, "", video, {}, 0});
  d.Add({300, TSimActionKind::CloseWindow, "", video, {}, 0});
  EXPECT_EQ(desk.ForegroundWindow(), d.WindowByTitle("Notes"));
  d.Platform().Clock->Sleep(150);
  EXPECT_TRUE(desk.IsMinimised(video));
  EXPECT_TRUE(desk.IsWindowVisible(video));
  d.Platform().Clock->Sleep(100);
  EXPECT_FALSE(desk.IsMinimised(video));
  EXPECT_EQ(desk.ForegroundWindow(), video);
  d.Platform().Clock->Sleep(100);
  EXPECT_FALSE(desk.WindowRect(video).has_value());
  TDIBitmap b;
  EXPECT_FALSE(d.Platform().Grabber->Grab(video, {8, 8, 40, 40}, b));
}

TEST(SimDesktop, InputWaitsForTheMessagePumpAndAnswersAreRecorded) {
  TSimDesktop d(Small());
  TPlatform& p = d.Platform();
  std::vector<TUIEvent> seen;
  p.Application->SetEventHandler([&](const TUIEvent& e) { seen.push_back(e); });
  const std::uint16_t id = p.HotKeys->AddAtom("Hotkey1");
  p.HotKeys->Register(id, kModControl | kModAlt, kVirtualKeyS);
  p.Tray->Add("tip");
  d.Add({50, TSimActionKind::HotKey, "", 0, {}, 0});
  d.Add({60, TSimActionKind::TrayRightClick, "", 0, {}, 0});
  p.Clock->Sleep(100);
  EXPECT_TRUE(seen.empty());
  p.Application->ProcessMessages();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].Kind, TUIEventKind::HotKey);
  EXPECT_EQ(seen[0].Param, id);
  EXPECT_EQ(seen[1].Param, kTrayRightButtonDown);

  d.Answer(TSimDialog::Question, {kIdNo, {}, 250});
  d.Answer(TSimDialog::Save, {0, std::string("/x/run"), 0});
  EXPECT_EQ(p.MessageBoxes->Show("Q?", "Kestrova", kMbYesNoCancel | kMbIconQuestion), kIdNo);
  EXPECT_EQ(d.NowMs(), 350u);
  EXPECT_EQ(p.MessageBoxes->Show("Note", "Kestrova", kMbOk), kIdOk);
  EXPECT_EQ(p.SaveDialog->Execute({"Kestrova", "/", "Flash File|*.swf", "swf", 1}), "/x/run.swf");
  EXPECT_EQ(d.MessageTexts(), (std::vector<std::string>{"Q?", "Note"}));
  try {
    p.PausedDialog->ShowModal();
    FAIL() << "an unscripted dialog must stop the script";
  } catch (const TSimScriptError& e) {
    EXPECT_NE(e.Message.find("paused dialog"), std::string::npos);
  }
}

TEST(SimDesktop, RunMessageLoopEndsWithTheScript) {
  TSimDesktop d(Small());
  TPlatform& p = d.Platform();
  int clicks = 0;
  p.Application->SetEventHandler([&](const TUIEvent& e) {
    if (e.Kind == TUIEventKind::Click && ++clicks == 2) p.Application->Terminate();
  });
  d.Add({1000, TSimActionKind::Click, "RdoActiveWindow", 0, {}, 0});
  d.Add({2000, TSimActionKind::Click, "Image1", 0, {}, 0});
  d.Add({3000, TSimActionKind::Click, "Image1", 0, {}, 0});
  p.Application->RunMessageLoop();
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(d.NowMs(), 2000u);
  EXPECT_TRUE(p.ToolWindow->Checked("RdoActiveWindow"));
  EXPECT_FALSE(p.ToolWindow->Checked("RdoFullScreen"));
}

TEST(SimDesktop, SameScriptSamePixels) {
  auto run = [] {
    TSimDesktop d(DemoDesktop(160, 120));
    d.Add({700, TSimActionKind::MoveWindow, "", 2, {5, 5, 0, 0}, 0});
    d.Platform().Clock->Sleep(1234);
    return d.Compose(0, {0, 0, 160, 120}, true);
  };
  EXPECT_EQ(run(), run());
}

TEST(SimDesktop, CursorFollowsItsPath) {
  TSimDesktop d(Small());
  TCursorInfo info;
  d.Platform().Clock->Sleep(500);
  ASSERT_TRUE(d.Platform().Cursor->GetCursor(info));
  EXPECT_TRUE(info.Showing);
  EXPECT_EQ(info.X, 30);
  EXPECT_EQ(info.Y, 20);
  EXPECT_EQ(info.HotX, kSimCursorHotX);
  EXPECT_EQ(info.Picture.Width, 12);
}

TEST(SimDesktop, RegionPickerAnswersFromTheScript) {
  TSimDesktop d(Small());
  TRegionPicker& picker = *d.Platform().RegionPicker;
  d.AnswerRegion(TScreenRect{5, 6, 35, 26}, 400);
  d.AnswerRegion(std::nullopt, 100);            // Escape
  d.AnswerRegion(TScreenRect{10, 10, 10, 30});  // no width
  d.AnswerRegion(TScreenRect{50, 40, 90, 70});  // off the screen
  EXPECT_EQ(picker.PickRegion(), (TScreenRect{5, 6, 35, 26}));
  EXPECT_EQ(d.NowMs(), 400u);
  EXPECT_EQ(picker.PickRegion(), std::nullopt);
  EXPECT_EQ(picker.PickRegion(), std::nullopt);
  EXPECT_EQ(picker.PickRegion(), (TScreenRect{50, 40, 90, 70}));
  const std::vector<TSimCall> calls = d.CallsOf("RegionPicker");
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].Detail, "5,6,35,26");
  EXPECT_EQ(calls[1].Result, 0);
  EXPECT_THROW(picker.PickRegion(), TSimScriptError);
}

TEST(SimDesktop, CountdownRunsOutOrIsCancelledWhileTheDesktopGoesOn) {
  TSimDesktop d(Small());
  TCountdown& countdown = *d.Platform().Countdown;
  const TWindowHandle video = d.WindowByTitle("Video");
  d.Add({1500, TSimActionKind::Activate, "", video, {}, 0});
  EXPECT_TRUE(countdown.Run(0));
  EXPECT_EQ(d.NowMs(), 0u);
  EXPECT_TRUE(countdown.Run(3));  // no answer: it runs out
  EXPECT_EQ(d.NowMs(), 3000u);
  EXPECT_EQ(d.Platform().Desktop->ForegroundWindow(), video);
  d.Answer(TSimDialog::Countdown, {0, {}, 1200});
  EXPECT_FALSE(countdown.Run(3));
  EXPECT_EQ(d.NowMs(), 4200u);
  const std::vector<TSimCall> calls = d.CallsOf("Countdown");
  ASSERT_EQ(calls.size(), 2u);  // 0 shows nothing
  EXPECT_EQ(calls[0].AtMs, 0u);
  EXPECT_EQ(calls[0].Detail, "3");
  EXPECT_EQ(calls[0].Result, 1);
  EXPECT_EQ(calls[1].Result, 0);
}

TEST(SimDesktop, SettingsOutliveTheProgramThatSetThem) {
  TSimDesktop d(Small());
  TSettings& settings = *d.Platform().Settings;
  EXPECT_EQ(settings.Get("Capture"), std::nullopt);
  settings.Set("Capture", "Region");
  settings.Set("Capture", "ActiveWindow");
  EXPECT_EQ(settings.Get("Capture"), "ActiveWindow");
  EXPECT_EQ(d.SettingsStore().at("Capture"), "ActiveWindow");
}

TEST(SimDesktop, RegionIsTheThirdRadioButton) {
  TSimDesktop d(Small());
  TView& view = *d.Platform().ToolWindow;
  view.SetChecked("RdoFullScreen", true);
  view.SetChecked("RdoRegion", true);
  EXPECT_FALSE(view.Checked("RdoFullScreen"));
  EXPECT_FALSE(view.Checked("RdoActiveWindow"));
  view.SetChecked("RdoActiveWindow", true);
  EXPECT_FALSE(view.Checked("RdoRegion"));
  EXPECT_TRUE(view.Checked("RdoActiveWindow"));
}

TEST(SimDesktop, HeldHotKeysCannotBeRegisteredAndTheDialogOffersAnother) {
  TSimConfig c = Small();
  c.HeldHotKeys = {THotKeyChoice{}};  // Ctrl+Alt+S
  TSimDesktop d(c);
  TPlatform& p = d.Platform();
  std::vector<TUIEvent> seen;
  p.Application->SetEventHandler([&](const TUIEvent& e) { seen.push_back(e); });
  const std::uint16_t id = p.HotKeys->AddAtom("Hotkey1");
  EXPECT_FALSE(p.HotKeys->Register(id, kModControl | kModAlt, kVirtualKeyS));
  d.Answer(TSimDialog::HotKey, {0, std::string("shift+ctrl+r"), 0});
  d.Answer(TSimDialog::HotKey, {0, std::nullopt, 0});
  const std::optional<THotKeyChoice> chosen =
      p.HotKeyDialog->Choose(THotKeyChoice{}, THotKeyProblem::Taken);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(chosen->Name, "Ctrl+Shift+R");
  EXPECT_TRUE(p.HotKeys->Register(id, chosen->Modifiers, chosen->Key));
  EXPECT_EQ(p.HotKeyDialog->Choose(*chosen, THotKeyProblem::Asked), std::nullopt);
  const std::vector<TSimCall> calls = d.CallsOf("HotKeyDialog");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].Text, "Ctrl+Alt+S");
  EXPECT_EQ(calls[0].Detail, "Taken|Ctrl+Shift+R");
  EXPECT_EQ(calls[1].Detail, "Asked|");

  // Only the key registered reaches the program.
  d.Add({10, TSimActionKind::HotKey, "", 0, {}, 0});
  d.Add({20, TSimActionKind::HotKey, "Ctrl+Shift+R", 0, {}, 0});
  p.Clock->Sleep(30);
  p.Application->ProcessMessages();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].Param, id);
  d.Answer(TSimDialog::HotKey, {0, std::string("Ctrl+"), 0});
  EXPECT_THROW(p.HotKeyDialog->Choose(*chosen, THotKeyProblem::Asked), TSimScriptError);
}

TEST(SimDesktop, TrayShowsTheRecordingWithItsOutputAndGoesBackToIdle) {
  TSimDesktop d(Small());
  TTrayIcon& tray = *d.Platform().Tray;
  tray.Add("Kestrova 1.0");
  tray.ShowRecording(true, "Recording 0:01", "/v/a.swf");
  tray.ShowRecording(true, "Recording 0:02", "/v/a.swf");
  EXPECT_EQ(d.TrayTip(), "Recording 0:02");
  EXPECT_EQ(d.TrayOutput(), "/v/a.swf");
  tray.ShowRecording(false, "Kestrova 1.0");
  EXPECT_EQ(d.TrayTip(), "");
  const std::vector<TSimCall> calls = d.CallsOf("TrayRecording");
  ASSERT_EQ(calls.size(), 2u);  // a change of state, not every frame
  EXPECT_EQ(calls[0].Result, 1);
  EXPECT_EQ(calls[0].Detail, "/v/a.swf");
  EXPECT_EQ(calls[1].Result, 0);
}

TEST(Registry, SimIsBuiltInAndUnknownNamesAreRefused) {
  auto backend = OpenBackend("sim");
  EXPECT_STREQ(backend->Name(), "sim");
  EXPECT_NE(backend->Platform().Files, nullptr);
  try {
    OpenBackend("nosuch");
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("sim"), std::string::npos);
  }
}

}  // namespace
}  // namespace kestrova::platform::sim
