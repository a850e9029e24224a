// `kestrova stop` against a Kestrova recording on the same display in a process of its own (the
// program as built), and the tool window on a real display answering a stop request through its
// single-instance socket: the countdown comes after the tool window has gone, and the stop goes
// through the same save flow as the hot key's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QLocalSocket>
#include <QMessageBox>
#include <QSpinBox>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "XClient.h"
#include "Xvfb.h"
#include "app/Commands.h"
#include "platform/x11/X11Backend.h"
#include "player/Player.h"
#include "recorder/FlashSegmentMovie.h"
#include "recorder/Recorder.h"

extern char** environ;

namespace kestrova::platform::x11 {
namespace {

using kestrova::testing::TXClient;
using kestrova::testing::TXvfb;

class X11Stop : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder =
        std::filesystem::temp_directory_path() / ("kestrova-x11stop-" + std::to_string(getpid()));
    std::filesystem::create_directories(Folder / "runtime");
    std::filesystem::permissions(Folder / "runtime", std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", (Folder / "runtime").c_str(), 1);
    setenv("XDG_STATE_HOME", (Folder / "state").c_str(), 1);
    if (const char* display = std::getenv("DISPLAY")) SavedDisplay = display;
  }
  void TearDown() override {
    if (SavedDisplay.empty()) {
      unsetenv("DISPLAY");
    } else {
      setenv("DISPLAY", SavedDisplay.c_str(), 1);
    }
    std::filesystem::remove_all(Folder);
  }
  std::filesystem::path Folder;
  std::string SavedDisplay;
};

std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The program recording the screen until stopped, its output in files; -1 when it cannot start.
pid_t StartRecording(const std::string& output, const std::filesystem::path& said) {
  const std::string outFile = (said.string() + ".out"), errFile = said.string() + ".err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<std::string> args = {
      KESTROVA_PROGRAM, "record", "--platform", "x11", "-q", "-o", output};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, KESTROVA_PROGRAM, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

TEST_F(X11Stop, StopsARecordingOnThisDisplayAndSaysWhereItWent) {
  TXvfb server(200, 150);
  KESTROVA_REQUIRE_XVFB(server);
  setenv("DISPLAY", server.Name().c_str(), 1);
  const std::string output = (Folder / "stopped.swf").string();

  // Nothing runs yet.
  std::ostringstream out, err;
  EXPECT_EQ(RunCommandLine({"stop", "--platform", "x11"}, out, err), 1);
  EXPECT_EQ(err.str(), "kestrova stop: no Kestrova is running on this display\n");

  const std::filesystem::path said = Folder / "record";
  const pid_t pid = StartRecording(output, said);
  ASSERT_GT(pid, 0);
  // Recording once it has said so and a few frames have gone by.
  for (int waited = 0; waited < 10000; waited += 50) {
    if (ReadAll(said.string() + ".err").find("recording the full screen") != std::string::npos) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  out.str("");
  err.str("");
  const int status = RunCommandLine({"stop", "--platform", "x11"}, out, err);
  int exit = -1;
  if (waitpid(pid, &exit, 0) != pid) exit = -1;
  EXPECT_EQ(status, 0) << err.str();
  EXPECT_EQ(out.str(),
            "kestrova stop: stopped the recording of the full screen; saved as " + output + "\n")
      << err.str();
  ASSERT_TRUE(WIFEXITED(exit)) << ReadAll(said.string() + ".err");
  EXPECT_EQ(WEXITSTATUS(exit), 0) << ReadAll(said.string() + ".err");
  EXPECT_NE(ReadAll(said.string() + ".out").find("wrote " + output), std::string::npos);
  TMoviePlayer player(output);
  int frames = 0;
  while (player.NextFrame()) ++frames;
  EXPECT_GE(frames, 12) << "about a second and a half was recorded";

  // It has gone: the display is free again.
  out.str("");
  err.str("");
  EXPECT_EQ(RunCommandLine({"stop", "--platform", "x11"}, out, err), 1);
  EXPECT_NE(err.str().find("no Kestrova is running"), std::string::npos);
}

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

constexpr std::uint32_t kDesktopColour = 0x3366CC;

// Full Screen from the tool window with a one-second countdown set in it: the countdown is
// shown once the tool window has gone (Qt is offscreen here: the order is what can be seen), and
// a stop request (as kestrova stop sends it) goes
// through the save question and the save dialog, then is answered with where the movie went.
TEST_F(X11Stop, TheToolWindowCountsDownAndAnswersAStopRequest) {
  constexpr int kW = 400, kH = 300;
  TXvfb server(kW, kH);
  KESTROVA_REQUIRE_XVFB(server);
  TXClient client(server.Name());
  ASSERT_NE(client.MakeSolidWindow(0, 0, kW, kH, kDesktopColour), 0u);
  XWarpPointer(client.D, None, client.Root(), 0, 0, 0, 0, kW - 1, kH - 1);
  client.Sync();

  TX11Backend backend(server.Name().c_str());
  TPlatform platform = backend.Platform();
  THaltReturns application(*platform.Application);
  platform.Application = &application;
  std::ostringstream diagnostics;
  TRecorderOptions options;
  options.MovieFactory = FlashSegmentMovieFactory();
  options.Diagnostics = &diagnostics;
  TFrmImage form(platform, options);
  const std::string output = (Folder / "tool.swf").string();
  QWidget* tool = backend.UserInterface().ToolWidget();
  bool toolShownWithCountdown = false;

  QLocalSocket asker;
  std::string answer, seen;
  bool countdownShown = false;
  int step = 0;
  QTimer user;
  user.setInterval(20);
  QObject::connect(&user, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    auto* box = qobject_cast<QMessageBox*>(modal);
    switch (step) {
      case 0:
        if (!tool->isVisible()) break;
        // Whatever an earlier test of this process left remembered, Full Screen is chosen.
        tool->findChild<QAbstractButton*>("RdoFullScreen")->click();
        tool->findChild<QSpinBox*>("SpnCountdown")->setValue(1);
        tool->findChild<QAbstractButton*>("ImgBtnStartRecord")->click();
        ++step;
        break;
      case 1:
        if (QWidget* countdown = backend.UserInterface().CountdownWidget()) {
          countdownShown = true;
          if (tool->isVisible() || !countdown->isVisible()) toolShownWithCountdown = true;
        }
        if (!form.RecordingStarted) break;
        QTimer::singleShot(1500, [&] {
          // The socket the instance listens on, beside its lock in the runtime folder.
          for (const auto& e : std::filesystem::directory_iterator(Folder / "runtime")) {
            if (e.path().extension() == ".socket") asker.connectToServer(e.path().c_str());
          }
          asker.write("stop\n");
        });
        ++step;
        break;
      case 2:  // "Do you want to save Recording?"
        if (box == nullptr) break;
        seen = box->text().toStdString();
        box->button(QMessageBox::Yes)->click();
        ++step;
        break;
      case 3:
        if (auto* save = qobject_cast<QFileDialog*>(modal)) {
          save->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(output));
          QMetaObject::invokeMethod(save, "accept");
          ++step;
        }
        break;
      case 4:
        if (!asker.canReadLine()) break;
        answer = asker.readLine().trimmed().toStdString();
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
  EXPECT_EQ(step, 5) << diagnostics.str();
  EXPECT_TRUE(countdownShown);
  EXPECT_FALSE(toolShownWithCountdown) << "the tool window is gone before the count starts";
  EXPECT_EQ(seen, kMsgSaveRecording);
  EXPECT_EQ(answer, "saved stopped the recording of the full screen; saved as " + output);
  EXPECT_EQ(form.CountdownSeconds(), 1);

  TMoviePlayer player(output);
  int frames = 0;
  while (player.NextFrame()) ++frames;
  EXPECT_GE(frames, 12) << "about a second and a half was recorded";
}

}  // namespace
}  // namespace kestrova::platform::x11
