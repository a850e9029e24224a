// The Qt views and services on Qt's offscreen platform (no display needed), clicked with QTest.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "platform/qt/QtDialogs.h"
#include "platform/qt/QtPictures.h"
#include "platform/qt/QtSingleInstance.h"
#include "platform/qt/QtUserInterface.h"

namespace kestrova::platform::qt {
namespace {

// One QApplication for the whole program, made before the first test and gone after the last.
class TQtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The offscreen platform says for every window that it cannot raise it; that is expected.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
      if (!text.startsWith("This plugin does not support"))
        std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    App = std::make_unique<QApplication>(Argc, Argv);
  }
  void TearDown() override { App.reset(); }

 private:
  int Argc = 1;
  char Name[16] = "x11_tests";
  char* Argv[2] = {Name, nullptr};
  std::unique_ptr<QApplication> App;
};

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);  // gtest owns it

template <typename T = QWidget>
T* Child(QWidget* parent, const char* name) {
  return parent->findChild<T*>(name);
}

// Runs action on the next turn of the event loop that a modal call is about to start.
void Soon(std::function<void()> action) {
  QTimer::singleShot(0, std::move(action));
}

class QtUserInterface : public ::testing::Test {
 protected:
  void SetUp() override {
    Ui.Application().SetEventHandler([this](const TUIEvent& e) {
      Events.push_back(e);
      if (StopOnEvent) Ui.Application().Terminate();
    });
  }
  TQtUserInterface Ui;
  std::vector<TUIEvent> Events;
  bool StopOnEvent = false;
};

TEST_F(QtUserInterface, ToolWindowHasTheComponentsWhereTheRecorderLooksForThem) {
  QWidget* w = Ui.ToolWidget();
  EXPECT_EQ(w->windowTitle(), "Kestrova 1.1");
  EXPECT_EQ(w->size(), QSize(172, 180));
  struct TRow {
    const char* Name;
    QRect Geometry;
  };
  for (const TRow& r :
       {TRow{"Image1", {42, 78, 77, 28}}, TRow{"ImgBtnStartRecord", {41, 78, 78, 28}},
        TRow{"ImgCaption", {15, 6, 137, 25}}, TRow{"ImgExit", {41, 133, 74, 27}},
        TRow{"RdoActiveWindow", {31, 55, 113, 17}}, TRow{"RdoFullScreen", {31, 37, 113, 17}},
        TRow{"Panel1", {4, 4, 165, 173}}}) {
    const QWidget* c = Child(w, r.Name);
    ASSERT_NE(c, nullptr) << r.Name;
    EXPECT_EQ(c->geometry(), r.Geometry) << r.Name;
  }
  EXPECT_EQ(Child<QLabel>(w, "Label2")->text(), "Press Ctrl+Alt+S to Stop");
  EXPECT_EQ(Child<QRadioButton>(w, "RdoActiveWindow")->toolTip(),
            "Click Start button and activate the window within 3 secs.");
  TView& view = Ui.ToolWindow();
  EXPECT_TRUE(view.Checked("RdoFullScreen"));
  EXPECT_FALSE(view.Checked("RdoActiveWindow"));
  view.SetChecked("RdoActiveWindow", true);
  EXPECT_FALSE(view.Checked("RdoFullScreen"));
  view.SetComponentVisible("Image1", false);
  EXPECT_FALSE(view.ComponentVisible("Image1"));
  EXPECT_TRUE(view.ComponentVisible("ImgBtnStartRecord"));
  view.SetComponentLeft("ImgExit", 50);
  EXPECT_EQ(Child(w, "ImgExit")->x(), 50);
  view.SetCaption("Kestrova 1.1");
  EXPECT_EQ(view.Caption(), "Kestrova 1.1");
}

TEST_F(QtUserInterface, ClicksReachTheHandlerFromThePumpNotFromInsideTheWidget) {
  TView& view = Ui.ToolWindow();
  view.Show();
  EXPECT_TRUE(view.Visible());
  Ui.Application().ProcessMessages();
  Events.clear();
  QTest::mouseClick(Child(Ui.ToolWidget(), "ImgBtnStartRecord"), Qt::LeftButton);
  QTest::mouseClick(Child(Ui.ToolWidget(), "RdoActiveWindow"), Qt::LeftButton);
  EXPECT_TRUE(Events.empty());  // queued until the recorder pumps
  Ui.Application().ProcessMessages();
  ASSERT_EQ(Events.size(), 2u);
  EXPECT_EQ(Events[0].Kind, TUIEventKind::Click);
  EXPECT_EQ(Events[0].Target, "ImgBtnStartRecord");
  EXPECT_EQ(Events[1].Target, "RdoActiveWindow");
  EXPECT_TRUE(view.Checked("RdoActiveWindow"));

  // The message loop runs until a handler terminates it.
  Events.clear();
  StopOnEvent = true;
  Soon([&] { QTest::mouseClick(Child(Ui.ToolWidget(), "ImgExit"), Qt::LeftButton); });
  Ui.Application().RunMessageLoop();
  EXPECT_TRUE(Ui.Application().Terminated());
  ASSERT_FALSE(Events.empty());
  EXPECT_EQ(Events.back().Target, "ImgExit");

  Events.clear();
  Ui.ToolWidget()->close();
  Ui.Application().ProcessMessages();
  ASSERT_EQ(Events.size(), 1u);
  EXPECT_EQ(Events[0].Kind, TUIEventKind::Close);
  EXPECT_FALSE(view.Visible());
}

TEST_F(QtUserInterface, PausedDialogResultsAndItsCloseButtonCountsAsContinue) {
  QDialog* d = Ui.PausedWidget();
  EXPECT_EQ(d->windowTitle(), "Kestrova 1.1 - PAUSED");
  EXPECT_EQ(d->size(), QSize(168, 179));
  const std::pair<const char*, int> rows[] = {
      {"ImgBtnStopRecord", 1}, {"ImgBtnContinue", 2}, {"ImgBtnExit", 3}, {nullptr, 2}};
  for (const auto& [button, result] : rows) {
    Soon([&, button = button] {
      if (button != nullptr) {
        QTest::mouseClick(Child(d, button), Qt::LeftButton);
      } else {
        d->close();
      }
    });
    EXPECT_EQ(Ui.PausedDialog().ShowModal(), result) << (button ? button : "close");
  }
}

TEST_F(QtUserInterface, InputWhileAModalWindowIsOpenIsDropped) {
  Soon([&] {
    emit Ui.TrayWidget()->activated(QSystemTrayIcon::DoubleClick);
    QTest::mouseClick(Child(Ui.PausedWidget(), "ImgBtnContinue"), Qt::LeftButton);
  });
  EXPECT_EQ(Ui.PausedDialog().ShowModal(), 2);
  Ui.Application().ProcessMessages();
  EXPECT_TRUE(Events.empty());
}

// Pumps until the handler has had an event, for at most a second (the pipe's notifier fires
// on a later turn of the event loop than the signal).
void PumpUntil(TQtUserInterface& ui, const std::vector<TUIEvent>& events) {
  for (int i = 0; i < 100 && events.empty(); ++i) {
    ui.Application().ProcessMessages();
    if (events.empty()) QTest::qWait(10);
  }
}

TEST_F(QtUserInterface, TheSessionEndingIsTheToolWindowsDestruction) {
  ASSERT_EQ(raise(SIGTERM), 0);  // handled: the process goes on
  PumpUntil(Ui, Events);
  ASSERT_EQ(Events.size(), 1u);
  EXPECT_EQ(Events[0].Kind, TUIEventKind::Destroy);

  // A hang-up while the paused dialog is open is kept for after it, not dropped.
  Events.clear();
  Soon([&] {
    raise(SIGHUP);
    QTimer::singleShot(100, [&] {
      QTest::mouseClick(Child(Ui.PausedWidget(), "ImgBtnContinue"), Qt::LeftButton);
    });
  });
  EXPECT_EQ(Ui.PausedDialog().ShowModal(), 2);
  PumpUntil(Ui, Events);
  ASSERT_EQ(Events.size(), 1u);
  EXPECT_EQ(Events[0].Kind, TUIEventKind::Destroy);
}

TEST(QtUserInterfaceSignals, TheSignalsAreTheirOldSelvesOnceTheInterfaceIsGone) {
  struct sigaction before {
  }, during{}, after{};
  sigaction(SIGTERM, nullptr, &before);
  {
    TQtUserInterface ui;
    sigaction(SIGTERM, nullptr, &during);
    EXPECT_NE(during.sa_handler, before.sa_handler);
  }
  sigaction(SIGTERM, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

TEST_F(QtUserInterface, TrayDoubleClickAndRightClickBecomeTheNotifications) {
  emit Ui.TrayWidget()->activated(QSystemTrayIcon::DoubleClick);
  emit Ui.TrayWidget()->activated(QSystemTrayIcon::Trigger);  // a single click: nothing
  emit Ui.TrayWidget()->activated(QSystemTrayIcon::Context);
  Ui.Application().ProcessMessages();
  ASSERT_EQ(Events.size(), 2u);
  EXPECT_EQ(Events[0].Kind, TUIEventKind::TrayNotify);
  EXPECT_EQ(Events[0].Param, kTrayLeftDoubleClick);
  EXPECT_EQ(Events[1].Param, kTrayRightButtonDown);
  // No notification area on the offscreen platform: the recorder is told so.
  EXPECT_EQ(Ui.Tray().Add("Kestrova 1.0"), QSystemTrayIcon::isSystemTrayAvailable());
}

TEST_F(QtUserInterface, TrayMenuReturnsTheItemChosenOrMinusOne) {
  const auto choose = [&](int downs) {
    Soon([downs] {
      QWidget* menu = QApplication::activePopupWidget();
      ASSERT_NE(menu, nullptr);
      for (int i = 0; i < downs; ++i) QTest::keyClick(menu, Qt::Key_Down);
      QTest::keyClick(menu, downs == 0 ? Qt::Key_Escape : Qt::Key_Return);
    });
    return Ui.Tray().PopupMenu(10, 10, {"&Open", "&Exit"});
  };
  EXPECT_EQ(choose(1), 0);
  EXPECT_EQ(choose(2), 1);
  EXPECT_EQ(choose(0), -1);
}

TEST_F(QtUserInterface, MessageBoxesHaveTheCaptionButtonsAndIconAsked) {
  struct TRow {
    std::uint32_t Flags;
    QMessageBox::StandardButtons Buttons;
    QMessageBox::Icon Icon;
  };
  for (const TRow& r :
       {TRow{0x30, QMessageBox::Ok, QMessageBox::Warning},
        TRow{0x23, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Question},
        TRow{0x33, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Warning},
        TRow{0x00, QMessageBox::Ok, QMessageBox::NoIcon}}) {
    const auto box = MakeMessageBox("Recording not started!", "Kestrova", r.Flags);
    EXPECT_EQ(box->windowTitle(), "Kestrova");
    EXPECT_EQ(box->text(), "Recording not started!");
    EXPECT_EQ(box->standardButtons(), r.Buttons) << r.Flags;
    EXPECT_EQ(box->icon(), r.Icon) << r.Flags;
  }
  const std::pair<QMessageBox::StandardButton, int> answers[] = {
      {QMessageBox::Yes, kIdYes},
      {QMessageBox::No, kIdNo},
      {QMessageBox::Cancel, kIdCancel},
      {QMessageBox::NoButton, kIdCancel}};  // NoButton: Escape
  for (const auto& [button, id] : answers) {
    Soon([button = button] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      if (button == QMessageBox::NoButton) {
        QTest::keyClick(box, Qt::Key_Escape);
      } else {
        box->button(button)->click();
      }
    });
    EXPECT_EQ(Ui.MessageBoxes().Show("Do you want to save Recording?", "Kestrova", 0x33), id);
  }
  Soon([] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
  EXPECT_EQ(Ui.MessageBoxes().Show("Recording not started!", "Kestrova", 0x30), kIdOk);
}

TEST_F(QtUserInterface, SaveDialogFiltersOnFlashFilesAndAddsTheExtension) {
  EXPECT_EQ(NameFilters("Flash File|*.swf"), QStringList{"Flash File (*.swf)"});
  EXPECT_EQ(NameFilters("A|*.a;*.b|B"), QStringList{"A (*.a *.b)"});
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("kestrova-save-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  // A home without a videos folder: the suggestion goes to home.
  const char* savedHome = std::getenv("HOME");
  const std::string oldHome = savedHome != nullptr ? savedHome : "";
  setenv("HOME", dir.c_str(), 1);
  const TSaveDialogOptions options{"Kestrova", dir.string(), "Flash File|*.swf", "swf", 1};
  const auto dialog = MakeSaveDialog(options);
  EXPECT_EQ(dialog->windowTitle(), "Kestrova");
  EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
  EXPECT_EQ(dialog->selectedNameFilter(), "Flash File (*.swf)");
  EXPECT_EQ(dialog->defaultSuffix(), "swf");
  // Replacing a movie takes the user's word; the name offered is a fresh one of date and time.
  EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
  ASSERT_EQ(dialog->selectedFiles().size(), 1);
  const std::string offered = dialog->selectedFiles().first().toStdString();
  EXPECT_EQ(offered.rfind((dir / "Kestrova-").string(), 0), 0u) << offered;
  EXPECT_EQ(offered.substr(offered.size() - 4), ".swf");

  const auto type = [](const char* name) {
    Soon([name] {
      auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(d, nullptr);
      if (name == nullptr) {
        d->reject();
        return;
      }
      QLineEdit* edit = d->findChild<QLineEdit*>("fileNameEdit");
      ASSERT_NE(edit, nullptr);
      edit->setText(name);
      QMetaObject::invokeMethod(d, "accept");
    });
  };
  type("movie");
  EXPECT_EQ(Ui.SaveDialog().Execute(options), (dir / "movie.swf").string());
  type(nullptr);
  EXPECT_EQ(Ui.SaveDialog().Execute(options), std::nullopt);
  if (oldHome.empty()) {
    unsetenv("HOME");
  } else {
    setenv("HOME", oldHome.c_str(), 1);
  }
  std::filesystem::remove_all(dir);
}

TEST(QtPictures, EveryPictureHasItsSizeAndIsDrawn) {
  const std::pair<TPicture, QSize> rows[] = {{TPicture::Caption, {137, 25}},
                                             {TPicture::Start, {78, 28}},
                                             {TPicture::Stop, {77, 28}},
                                             {TPicture::Exit, {74, 27}},
                                             {TPicture::Continue, {74, 27}}};
  for (const auto& [picture, size] : rows) {
    const QImage image = DrawPicture(picture);
    EXPECT_EQ(image.size(), size);
    EXPECT_NE(image.pixel(size.width() / 2, size.height() / 2), 0u) << "blank in the middle";
  }
  EXPECT_EQ(DrawIcon(48).size(), QSize(48, 48));
}

class QtSingleInstance : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder =
        std::filesystem::temp_directory_path() / ("kestrova-runtime-" + std::to_string(getpid()));
    std::filesystem::create_directories(Folder);
    std::filesystem::permissions(Folder, std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", Folder.c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(Folder); }
  std::filesystem::path Folder;
};

TEST_F(QtSingleInstance, ASecondStartIsRefusedAndBringsTheFirstForward) {
  int forwarded = 0;
  TQtSingleInstance first([] { return std::string("Kestrova 1.0"); }, [&] { ++forwarded; });
  ASSERT_TRUE(first.Acquire("MysampleAppMutex"));
  EXPECT_EQ(Folder.string(), TQtSingleInstance::RuntimeFolder());
  // The second start runs beside this thread, which keeps the first one's events going.
  bool acquired = true, broughtForward = false, wrongTitle = true;
  std::atomic<bool> done{false};
  std::thread second([&] {
    TQtSingleInstance other([] { return std::string(); }, [] {});
    acquired = other.Acquire("MysampleAppMutex");
    broughtForward = other.BringForward("Kestrova 1.0");
    wrongTitle = other.BringForward("Another 1.0");
    done = true;
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 20000));
  second.join();
  EXPECT_FALSE(acquired);
  EXPECT_TRUE(broughtForward);
  EXPECT_FALSE(wrongTitle);
  EXPECT_EQ(forwarded, 1);
  // Released, the name can be had again.
  first.Release();
  TQtSingleInstance again([] { return std::string(); }, [] {});
  EXPECT_TRUE(again.Acquire("MysampleAppMutex"));
}

}  // namespace
}  // namespace kestrova::platform::qt
