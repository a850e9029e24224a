// Active Window and the tray under a real window manager (openbox on a private Xvfb): the window
// recorded is the one the user clicked, never one of the program's own, and nothing clicked on
// the tray during a recording brings back a tool window whose Start would do nothing.
#include <X11/Xatom.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTimer>
#include <filesystem>
#include <map>
#include <sstream>

#include "WindowManager.h"
#include "XClient.h"
#include "Xvfb.h"
#include "platform/x11/X11Backend.h"
#include "platform/x11/X11Desktop.h"
#include "player/Player.h"
#include "recorder/FlashSegmentMovie.h"
#include "recorder/Recorder.h"

namespace kestrova::platform::x11 {
namespace {

using kestrova::testing::TWindowManager;
using kestrova::testing::TXClient;
using kestrova::testing::TXvfb;

constexpr std::uint32_t kTerminalColour = 0x3366CC, kEditorColour = 0xCC9933, kOwnColour = 0x33CC66;

// Clicks the window and waits for the manager to make it the active one.
bool Activate(TXClient& client, Window w) {
  const auto [x, y] = client.Centre(w);
  client.Click(x, y);
  for (int waited = 0; waited < 5000; waited += 10) {
    if (client.ActiveWindow() == w) return true;
    usleep(10000);
  }
  return false;
}

struct TActivationCase {
  const char* Name;
  std::vector<const char*> Clicks;  // "terminal", "editor", "own"
  const char* Expected;
};

class X11ActiveWindow : public ::testing::TestWithParam<TActivationCase> {};

TEST_P(X11ActiveWindow, TheWindowRecordedIsTheOneTheUserClicked) {
  TXvfb server(400, 300);
  KESTROVA_REQUIRE_XVFB(server);
  TWindowManager manager(server.Name());
  KESTROVA_REQUIRE_WINDOW_MANAGER(manager);
  TXClient client(server.Name());
  std::map<std::string, Window> windows;
  windows["terminal"] = client.MakeSolidWindow(10, 30, 150, 100, kTerminalColour);
  windows["editor"] = client.MakeSolidWindow(200, 30, 150, 100, kEditorColour);
  ASSERT_NE(windows["terminal"], 0u);
  ASSERT_NE(windows["editor"], 0u);
  // One of the program's own windows (a message box, the tool window): the toolkit marks them
  // with the program's pid.
  const Window own =
      XCreateSimpleWindow(client.D, client.Root(), 100, 170, 120, 90, 0, 0, kOwnColour);
  client.SetCardinals(own, "_NET_WM_PID", {static_cast<long>(getpid())});
  XMapWindow(client.D, own);
  ASSERT_TRUE(client.WaitViewable(own));
  windows["own"] = own;
  // A toolkit's 1x1 helper window, mapped and never to be recorded.
  const Window helper = XCreateSimpleWindow(client.D, client.Root(), 0, 0, 1, 1, 0, 0, 0);
  XMapWindow(client.D, helper);
  client.Sync();
  for (const char* name : GetParam().Clicks) {
    ASSERT_TRUE(Activate(client, windows.at(name))) << "clicking " << name;
  }
  TX11Display display(server.Name().c_str());
  TX11Desktop desktop(display);
  EXPECT_EQ(desktop.ForegroundWindow(), windows.at(GetParam().Expected));
  EXPECT_TRUE(desktop.IsWindowVisible(desktop.ForegroundWindow()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, X11ActiveWindow,
    ::testing::Values(
        TActivationCase{"Terminal", {"terminal"}, "terminal"},
        TActivationCase{"EditorAfterTerminal", {"terminal", "editor"}, "editor"},
        // The program's own window active: the window the user was in before.
        TActivationCase{"OwnWindowLastAfterTerminal", {"editor", "terminal", "own"}, "terminal"},
        TActivationCase{"OwnWindowLastAfterEditor", {"terminal", "editor", "own"}, "editor"}),
    [](const auto& info) { return std::string(info.param.Name); });

// The real Halt ends the process; here it must come back to the test.
class THaltReturns : public TApplicationHost {
 public:
  explicit THaltReturns(TApplicationHost& inner) : I(inner) {}
  void SetTitle(const std::string& t) override { I.SetTitle(t); }
  std::string Title() const override { return I.Title(); }
  void SetEventHandler(TUIEventHandler h) override { I.SetEventHandler(std::move(h)); }
  void RunMessageLoop() override { I.RunMessageLoop(); }
  void Terminate() override { I.Terminate(); }
  bool Terminated() const override { return I.Terminated(); }
  void ProcessMessages() override { I.ProcessMessages(); }
  [[noreturn]] void Halt(int code) override { throw TProcessHalted{code}; }

 private:
  TApplicationHost& I;
};

std::uint32_t PixelAt(const TMoviePlayer& p, int x, int y) {
  const std::uint8_t* px = p.Pixels() + (static_cast<std::size_t>(y) * p.Width() + x) * 4;
  return static_cast<std::uint32_t>(px[0]) << 16 | px[1] << 8 | px[2];
}

// The tray icon's red dot (its lower right corner) is on show.
bool RedDotShown(const QSystemTrayIcon& tray) {
  const QImage icon = tray.icon().pixmap(64, 64).toImage();
  const QColor c = icon.pixelColor(49, 47);
  return c.red() > 200 && c.green() < 60 && c.blue() < 60;
}

// The tool window through Active Window, then the tray's right-click and double-click during the
// recording, each followed by a look at what Start would do; then a stop by the hot key.
TEST(X11ToolWindow, ActiveWindowAndTheTrayDuringARecording) {
  TXvfb server(400, 300);
  KESTROVA_REQUIRE_XVFB(server);
  TWindowManager manager(server.Name());
  KESTROVA_REQUIRE_WINDOW_MANAGER(manager);
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("kestrova-x11tool-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder / "runtime");
  std::filesystem::permissions(folder / "runtime", std::filesystem::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", (folder / "runtime").c_str(), 1);
  setenv("XDG_STATE_HOME", (folder / "state").c_str(), 1);
  TXClient client(server.Name());
  const Window terminal = client.MakeSolidWindow(10, 30, 150, 100, kTerminalColour);
  const Window editor = client.MakeSolidWindow(200, 30, 150, 100, kEditorColour);
  ASSERT_NE(terminal, 0u);
  ASSERT_NE(editor, 0u);

  TX11Backend backend(server.Name().c_str());
  TPlatform platform = backend.Platform();
  THaltReturns application(*platform.Application);
  platform.Application = &application;
  std::ostringstream diagnostics;
  TRecorderOptions options;
  options.MovieFactory = FlashSegmentMovieFactory();
  options.Diagnostics = &diagnostics;
  TFrmImage form(platform, options);
  const std::string output = (folder / "window.swf").string();
  QWidget* tool = backend.UserInterface().ToolWidget();
  QSystemTrayIcon* tray = backend.UserInterface().TrayWidget();
  auto click = [&](const char* name) { tool->findChild<QAbstractButton*>(name)->click(); };

  std::vector<std::string> seen;
  int step = 0;
  QElapsedTimer clock;
  QTimer user;
  user.setInterval(20);
  QObject::connect(&user, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    auto* box = qobject_cast<QMessageBox*>(modal);
    switch (step) {
      case 0:
        click("RdoActiveWindow");
        ++step;
        break;
      case 1:  // "Press Start button and activate the window to capture"
        if (box == nullptr) break;
        seen.push_back(box->text().toStdString());
        box->button(QMessageBox::Ok)->click();
        ++step;
        break;
      case 2:
        if (modal != nullptr) break;
        // The user activates the terminal; the editor was clicked last before it.
        ASSERT_TRUE(Activate(client, editor));
        ASSERT_TRUE(Activate(client, terminal));
        click("ImgBtnStartRecord");  // comes back once the recording has ended
        ++step;
        break;
      case 3:  // once the countdown (the wait to activate the window) is over
        if (!form.RecordingStarted) break;
        clock.start();
        ++step;
        break;
      case 4:  // the tray's right-click during the recording
        if (clock.elapsed() < 600) break;
        emit tray->activated(QSystemTrayIcon::Context);
        ++step;
        break;
      case 5:
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
          seen.push_back("menu");
          EXPECT_FALSE(tool->isVisible()) << "the tool window came back with the menu";
          menu->close();
          clock.start();
          ++step;
        }
        break;
      case 6:
        if (clock.elapsed() < 300) break;
        EXPECT_FALSE(tool->isVisible()) << "the tool window came back after the menu";
        EXPECT_TRUE(form.Recording);
        // The tray shows that it records, and for how long.
        EXPECT_EQ(tray->toolTip().toStdString().rfind("Kestrova: recording 0:0", 0), 0u)
            << tray->toolTip().toStdString();
        EXPECT_TRUE(RedDotShown(*tray));
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        ++step;
        break;
      case 7:  // the double-click opened the paused dialog: Continue
        if (modal != backend.UserInterface().PausedWidget()) break;
        seen.push_back("paused");
        EXPECT_FALSE(tool->isVisible());
        modal->findChild<QAbstractButton*>("ImgBtnContinue")->click();
        clock.start();
        ++step;
        break;
      case 8:
        if (clock.elapsed() < 600) break;
        EXPECT_FALSE(tool->isVisible()) << "the tool window came back after Continue";
        EXPECT_TRUE(form.Recording);
        client.PressKeys({"Control_L", "Alt_L", "s"});
        ++step;
        break;
      case 9:
        if (modal != backend.UserInterface().PausedWidget()) break;
        seen.push_back("paused");
        modal->findChild<QAbstractButton*>("ImgBtnStopRecord")->click();
        ++step;
        break;
      case 10:
        if (box == nullptr) break;
        seen.push_back(box->text().toStdString());
        box->button(QMessageBox::Yes)->click();
        ++step;
        break;
      case 11:
        if (auto* save = qobject_cast<QFileDialog*>(modal)) {
          save->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(output));
          QMetaObject::invokeMethod(save, "accept");
          ++step;
        }
        break;
      case 12:
        if (form.Recording || form.Session.LastOutput.Movies.empty()) break;
        EXPECT_EQ(tray->toolTip().toStdString(), kApplicationTitle);
        EXPECT_FALSE(RedDotShown(*tray));
        // After the recording the tool window is back, and Start is what it shows.
        EXPECT_TRUE(tool->isVisible());
        EXPECT_FALSE(tool->findChild<QWidget*>("ImgBtnStartRecord")->isHidden());
        tool->close();
        ++step;
        break;
    }
  });
  user.start();
  QTimer::singleShot(60000, &user, [&] {
    ADD_FAILURE() << "stuck at step " << step;
    tool->close();
  });
  try {
    form.Run();
  } catch (const TProcessHalted&) {
  }
  user.stop();
  EXPECT_EQ(step, 13) << diagnostics.str();
  EXPECT_EQ(seen, (std::vector<std::string>{kMsgActivateWindow, "menu", "paused", "paused",
                                            kMsgSaveRecording}));
  EXPECT_EQ(form.CaptureWindow, terminal);
  ASSERT_EQ(form.Session.LastOutput.Movies, std::vector<std::string>{output});

  // The movie shows the terminal in its frame from the stage's top-left corner; beside it, the
  // stage's black, never the editor.
  TX11Desktop desktop(backend.Display());
  const std::optional<TScreenRect> frame = desktop.WindowRect(terminal);
  ASSERT_TRUE(frame.has_value());
  const int w = frame->Right - frame->Left, h = frame->Bottom - frame->Top;
  TMoviePlayer player(output);
  int frames = 0;
  while (player.NextFrame()) {
    ++frames;
    // Away from the terminal's centre, where the activating click left the pointer: the cursor is
    // drawn into every frame there.
    EXPECT_EQ(PixelAt(player, w / 8, h * 3 / 4), kTerminalColour) << "frame " << frames;
    EXPECT_EQ(PixelAt(player, w + 20, h / 2), 0u) << "frame " << frames;
  }
  EXPECT_GE(frames, 6);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace kestrova::platform::x11
