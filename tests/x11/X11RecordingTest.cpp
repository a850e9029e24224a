// The recorder on the real backend: X on a private Xvfb, the Qt windows offscreen, every dialog
// answered by clicking it as a user would, the hot key pressed through XTest. The movie written
// is played back frame by frame with the project's player.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>
#include <sstream>

#include "XClient.h"
#include "Xvfb.h"
#include "platform/x11/X11Backend.h"
#include "player/Player.h"
#include "recorder/FlashSegmentMovie.h"
#include "recorder/Recorder.h"

namespace kestrova::platform::x11 {
namespace {

using kestrova::testing::TXClient;
using kestrova::testing::TXvfb;

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

// Exact palette colours, so the movie shows them unchanged.
constexpr std::uint32_t kDesk = 0x336699, kBefore = 0xCC3333, kAfter = 0x33CC66;

class X11Recording : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder =
        std::filesystem::temp_directory_path() / ("kestrova-x11rec-" + std::to_string(getpid()));
    std::filesystem::create_directories(Folder / "runtime");
    std::filesystem::permissions(Folder / "runtime", std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", (Folder / "runtime").c_str(), 1);
    setenv("XDG_STATE_HOME", (Folder / "state").c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(Folder); }
  std::filesystem::path Folder;
};

std::uint32_t PixelAt(const TMoviePlayer& p, int x, int y) {
  const std::uint8_t* px = p.Pixels() + (static_cast<std::size_t>(y) * p.Width() + x) * 4;
  return static_cast<std::uint32_t>(px[0]) << 16 | px[1] << 8 | px[2];
}

TEST_F(X11Recording, HotKeyOpensThePausedDialogAndTheMovieShowsWhatWasPainted) {
  TXvfb server(320, 240);
  KESTROVA_REQUIRE_XVFB(server);
  TXClient client(server.Name());
  client.MakeWindow(0, 0, 320, 240, [](int, int) { return kDesk; });
  const Window w = client.MakeWindow(40, 30, 100, 80, [](int, int) { return kBefore; });
  XWarpPointer(client.D, None, client.Root(), 0, 0, 0, 0, 300, 220);
  client.Sync();

  TX11Backend backend(server.Name().c_str());
  TPlatform platform = backend.Platform();
  THaltReturns application(*platform.Application);
  platform.Application = &application;
  std::ostringstream diagnostics;
  TRecorderOptions options;
  options.MovieFactory = FlashSegmentMovieFactory();
  options.Diagnostics = &diagnostics;
  // The steps below time the hot key from Start: no countdown before the recording.
  platform.Settings->Set("Countdown", "0");
  TFrmImage form(platform, options);
  const std::string output = (Folder / "movie.swf").string();
  QWidget* tool = backend.UserInterface().ToolWidget();

  // The user, step by step; each step waits for what the one before it brought up.
  std::vector<std::string> seen;
  int step = 0;
  QElapsedTimer clock;
  QTimer user;
  user.setInterval(20);
  QObject::connect(&user, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box != nullptr) seen.push_back(box->text().toStdString());
    switch (step) {
      case 0:  // the hot key before any recording
        client.PressKeys({"Control_L", "Alt_L", "s"});
        ++step;
        break;
      case 1:
        if (box == nullptr) break;
        box->button(QMessageBox::Ok)->click();
        ++step;
        break;
      case 2:  // the message box has closed: Start
        if (modal != nullptr) break;
        tool->findChild<QAbstractButton*>("ImgBtnStartRecord")->click();
        clock.start();
        ++step;
        break;
      case 3:
        if (clock.elapsed() < 800) break;
        client.Fill(w, 0, 0, 100, 80, kAfter);
        clock.start();
        ++step;
        break;
      case 4:
        if (clock.elapsed() < 800) break;
        client.PressKeys({"Control_L", "Alt_L", "s"});
        ++step;
        break;
      case 5:
        if (modal != backend.UserInterface().PausedWidget()) break;
        seen.push_back("paused");
        modal->findChild<QAbstractButton*>("ImgBtnStopRecord")->click();
        ++step;
        break;
      case 6:
        if (box == nullptr) break;
        box->button(QMessageBox::Yes)->click();
        ++step;
        break;
      case 7:
        if (auto* save = qobject_cast<QFileDialog*>(modal)) {
          seen.push_back("save");
          save->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(output));
          QMetaObject::invokeMethod(save, "accept");
          ++step;
        }
        break;
      case 8:
        if (form.Recording || form.Session.LastOutput.Movies.empty()) break;
        tool->close();  // ends the program
        ++step;
        break;
    }
  });
  user.start();
  // Shown on the display for the cases where no modal should be waiting forever.
  QTimer::singleShot(60000, [&] {
    ADD_FAILURE() << "stuck at step " << step;
    tool->close();
  });
  try {
    form.Run();
  } catch (const TProcessHalted&) {
  }
  user.stop();
  EXPECT_EQ(step, 9) << diagnostics.str();
  EXPECT_EQ(seen, (std::vector<std::string>{"Recording not started!", "paused",
                                            "Do you want to save Recording?", "save"}));
  ASSERT_EQ(form.Session.LastOutput.Movies, std::vector<std::string>{output});

  TMoviePlayer player(output);
  EXPECT_EQ(player.Width(), 320);
  EXPECT_EQ(player.Height(), 240);
  std::vector<std::uint32_t> inside;
  while (player.NextFrame()) {
    inside.push_back(PixelAt(player, 90, 70));
    EXPECT_EQ(PixelAt(player, 10, 200), kDesk) << "frame " << player.FrameNumber();
  }
  EXPECT_EQ(player.StopReason(), "");
  ASSERT_GE(inside.size(), 6u);
  EXPECT_EQ(inside.front(), kBefore);
  EXPECT_EQ(inside.back(), kAfter);
  // Painted once: the window shows the first colour, then the second, nothing else.
  const auto change = std::find(inside.begin(), inside.end(), kAfter);
  EXPECT_TRUE(std::all_of(inside.begin(), change, [](auto c) { return c == kBefore; }));
  EXPECT_TRUE(std::all_of(change, inside.end(), [](auto c) { return c == kAfter; }));
  EXPECT_NE(std::filesystem::file_size(std::filesystem::path(output).replace_extension(".html")),
            0u);
}

}  // namespace
}  // namespace kestrova::platform::x11
