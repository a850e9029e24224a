// The Qt views and services on Qt's offscreen platform (no display needed), clicked with QTest.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "platform/qt/QtCountdown.h"
#include "platform/qt/QtDialogs.h"
#include "platform/qt/QtHotKeyDialog.h"
#include "platform/qt/QtPictures.h"
#include "platform/qt/QtRegionPicker.h"
#include "platform/qt/QtSettings.h"
#include "platform/qt/QtSingleInstance.h"
#include "platform/qt/QtUserInterface.h"
#include "platform/qt/QtViews.h"

namespace kestrova::platform::qt {
namespace {

// Set in the process that shows windows on a real X server for a test of this program.
constexpr const char* kDesktopDisplay = "KESTROVA_QT_TEST_DISPLAY";

// One QApplication for the whole program, made before the first test and gone after the last.
class TQtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // A test that needs a window manager's frames runs a test of this program in a process of
    // its own, on the test's X server (QtTitleUnderOpenbox).
    if (const char* display = std::getenv(kDesktopDisplay)) {
      setenv("QT_QPA_PLATFORM", "xcb", 1);
      setenv("DISPLAY", display, 1);
      App = std::make_unique<QApplication>(Argc, Argv);
      return;
    }
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
  // As wide as its title needs (never narrower than the form), one row taller for "Region" and
  // three lines taller for the countdown, the sound and the hot key.
  const int width = FittingWidth("Kestrova 1.1", 172);
  EXPECT_EQ(w->size(), QSize(width, 198 + 72));
  EXPECT_EQ(Child(w, "Panel1")->geometry(), QRect(4, 4, width - 7, 191 + 72));
  // The components keep their places in an area of the form's width, centred in the panel.
  const QWidget* content = Child(w, "Content");
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(content->geometry(), QRect((width - 7 - 165) / 2, 0, 165, 191 + 72));
  struct TRow {
    const char* Name;
    QRect Geometry;
  };
  for (const TRow& r :
       {TRow{"Image1", {42, 96, 77, 28}}, TRow{"ImgBtnStartRecord", {41, 96, 78, 28}},
        TRow{"ImgCaption", {15, 6, 137, 25}}, TRow{"ImgExit", {41, 151, 74, 27}},
        TRow{"RdoActiveWindow", {31, 55, 113, 17}}, TRow{"RdoFullScreen", {31, 37, 113, 17}},
        TRow{"RdoRegion", {31, 73, 113, 17}}, TRow{"SpnCountdown", {82, 183, 75, 21}},
        TRow{"CmbAudio", {82, 207, 75, 21}}, TRow{"BtnHotKey", {8, 231, 149, 21}}}) {
    const QWidget* c = Child(w, r.Name);
    ASSERT_NE(c, nullptr) << r.Name;
    EXPECT_EQ(c->parentWidget(), content) << r.Name;
    EXPECT_EQ(c->geometry(), r.Geometry) << r.Name;
  }
  EXPECT_EQ(Child<QLabel>(w, "Label2")->text(), "Press Ctrl+Alt+S to Stop");
  EXPECT_EQ(Child<QRadioButton>(w, "RdoActiveWindow")->toolTip(),
            "Click Start button and activate the window within 3 secs.");
  EXPECT_EQ(Child<QRadioButton>(w, "RdoRegion")->text(), "Region");
  TView& view = Ui.ToolWindow();
  EXPECT_TRUE(view.Checked("RdoFullScreen"));
  EXPECT_FALSE(view.Checked("RdoActiveWindow"));
  EXPECT_FALSE(view.Checked("RdoRegion"));
  view.SetChecked("RdoActiveWindow", true);
  EXPECT_FALSE(view.Checked("RdoFullScreen"));
  view.SetChecked("RdoRegion", true);
  EXPECT_FALSE(view.Checked("RdoActiveWindow"));
  EXPECT_FALSE(view.Checked("RdoFullScreen"));
  view.SetChecked("RdoFullScreen", true);
  view.SetComponentVisible("Image1", false);
  EXPECT_FALSE(view.ComponentVisible("Image1"));
  EXPECT_TRUE(view.ComponentVisible("ImgBtnStartRecord"));
  view.SetComponentLeft("ImgExit", 50);
  EXPECT_EQ(Child(w, "ImgExit")->x(), 50);
  view.SetComponentLeft("ImgExit", 41);
  view.SetCaption("Kestrova 1.1");
  EXPECT_EQ(view.Caption(), "Kestrova 1.1");
}

// The countdown's seconds, the sound and the labels hold values the recorder sets and reads; only
// what the user changes arrives as input (a Click on the component), and a greyed-out component
// says why in its tip.
TEST_F(QtUserInterface, ValueComponentsHoldValuesAndOnlyTheUsersChangesAreInput) {
  TView& view = Ui.ToolWindow();
  QWidget* w = Ui.ToolWidget();
  view.Show();
  Ui.Application().ProcessMessages();
  Events.clear();
  const struct {
    const char* Name;
    const char* Set;
    const char* Reads;
  } rows[] = {{"SpnCountdown", "7", "7"},
              {"SpnCountdown", "seven", "7"},
              {"SpnCountdown", "0", "0"},
              {"CmbAudio", "System", "System"},
              {"CmbAudio", "Loud", "System"},
              {"CmbAudio", "Both", "Both"},
              {"Label2", "Press Ctrl+Shift+R to Stop", "Press Ctrl+Shift+R to Stop"}};
  for (const auto& row : rows) {
    view.SetComponentValue(row.Name, row.Set);
    EXPECT_EQ(view.ComponentValue(row.Name), row.Reads) << row.Name << " set to " << row.Set;
  }
  EXPECT_EQ(Child<QSpinBox>(w, "SpnCountdown")->text(), "off");
  EXPECT_EQ(Child<QLabel>(w, "Label2")->text(), "Press Ctrl+Shift+R to Stop");
  Ui.Application().ProcessMessages();
  EXPECT_TRUE(Events.empty()) << "a value the program set is no news to it";

  Child<QSpinBox>(w, "SpnCountdown")->stepUp();
  QTest::keyClick(Child(w, "CmbAudio"), Qt::Key_Up);
  QTest::mouseClick(Child(w, "BtnHotKey"), Qt::LeftButton);
  Ui.Application().ProcessMessages();
  ASSERT_EQ(Events.size(), 3u);
  EXPECT_EQ(Events[0].Target, "SpnCountdown");
  EXPECT_EQ(Events[1].Target, "CmbAudio");
  EXPECT_EQ(Events[2].Target, "BtnHotKey");
  EXPECT_EQ(view.ComponentValue("SpnCountdown"), "1");
  EXPECT_EQ(view.ComponentValue("CmbAudio"), "System");

  view.SetComponentEnabled("CmbAudio", false, "no sound source here");
  EXPECT_FALSE(view.ComponentEnabled("CmbAudio"));
  EXPECT_EQ(Child(w, "CmbAudio")->toolTip(), "no sound source here");
  EXPECT_TRUE(view.ComponentEnabled("SpnCountdown"));
  view.SetComponentEnabled("CmbAudio", true);
  EXPECT_TRUE(view.ComponentEnabled("CmbAudio"));
  view.Hide();
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
  EXPECT_EQ(d->size(), QSize(FittingWidth("Kestrova 1.1 - PAUSED", 168), 179));
  EXPECT_EQ(Child(d, "ImgBtnStopRecord")->geometry(), QRect(45, 59, 77, 28));
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

// ---- the region picker, the countdown, the hot key dialog, the settings, the tray ----

TEST(QtRegionPicker, RectanglesBecomeTheScreensRealPixels) {
  struct TRow {
    QRect Logical, Screen;
    qreal Ratio;
    TScreenRect Expected;
  };
  const TRow rows[] = {
      {{10, 20, 100, 50}, {0, 0, 800, 600}, 1, {10, 20, 110, 70}},
      {{10, 20, 100, 50}, {0, 0, 800, 600}, 2, {20, 40, 220, 140}},
      // 1.5: edges rounded each on its own, so the width is the distance between them.
      {{1, 1, 3, 3}, {0, 0, 800, 600}, 1.5, {2, 2, 6, 6}},
      // A second screen: its top left is where its real pixels begin.
      {{1930, 10, 100, 100}, {1920, 0, 1280, 1024}, 2, {1940, 20, 2140, 220}},
  };
  for (const TRow& r : rows) {
    EXPECT_EQ(ToScreenPixels(r.Logical, r.Screen, r.Ratio), r.Expected)
        << r.Logical.x() << " at " << r.Ratio;
  }
}

TEST_F(QtUserInterface, RegionPickerCoversTheDesktopAndGivesTheRectangleDragged) {
  // What the user does on the overlay, then the answer expected.
  struct TRow {
    const char* Name;
    std::function<void(QWidget*)> Act;
    std::optional<TScreenRect> Expected;
  };
  const auto drag = [](QPoint from, QPoint to) {
    return [from, to](QWidget* o) {
      QTest::mousePress(o, Qt::LeftButton, {}, from);
      QTest::mouseMove(o, to);
      QTest::mouseRelease(o, Qt::LeftButton, {}, to);
    };
  };
  const TRow rows[] = {
      {"drag", drag({10, 20}, {110, 70}), TScreenRect{10, 20, 110, 70}},
      {"drag up and left", drag({300, 200}, {250, 120}), TScreenRect{250, 120, 300, 200}},
      {"Escape", [](QWidget* o) { QTest::keyClick(o, Qt::Key_Escape); }, std::nullopt},
      {"right button",
       [](QWidget* o) {
         QTest::mouseClick(o, Qt::RightButton, {}, {5, 5});
       },
       std::nullopt},
      {"a slip, then a drag",
       [drag](QWidget* o) {
         drag({40, 40}, {42, 41})(o);
         drag({40, 40}, {60, 70})(o);
       },
       TScreenRect{40, 40, 60, 70}},
  };
  const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
  for (const TRow& r : rows) {
    Soon([&] {
      QWidget* overlay = Ui.RegionOverlay();
      ASSERT_NE(overlay, nullptr);
      EXPECT_TRUE(overlay->isVisible());
      EXPECT_EQ(overlay->geometry(), desktop);
      r.Act(overlay);
    });
    EXPECT_EQ(Ui.RegionPicker().PickRegion(), r.Expected) << r.Name;
    EXPECT_EQ(Ui.RegionOverlay(), nullptr) << r.Name;
  }
}

TEST_F(QtUserInterface, RegionOverlayShowsTheSizeWhileDragging) {
  QImage during;
  Soon([&] {
    auto* overlay = static_cast<TRegionOverlay*>(Ui.RegionOverlay());
    ASSERT_NE(overlay, nullptr);
    QImage screen(overlay->size(), QImage::Format_ARGB32_Premultiplied);
    screen.fill(QColor(200, 200, 200));
    overlay->SetBackground(screen);  // the offscreen platform's screen holds no picture
    QTest::mousePress(overlay, Qt::LeftButton, {}, {100, 100});
    QTest::mouseMove(overlay, {260, 220});
    EXPECT_EQ(overlay->Selection(), QRect(100, 100, 160, 120));
    during = overlay->grab().toImage();
    QTest::keyClick(overlay, Qt::Key_Escape);
  });
  EXPECT_EQ(Ui.RegionPicker().PickRegion(), std::nullopt);
  ASSERT_FALSE(during.isNull());
  // The red frame around the rectangle, the label with its size above it (dark, with white
  // text), and the dimming outside.
  bool red = false;
  for (int x = 96; x <= 101 && !red; ++x) {
    const QColor c = during.pixelColor(x, 160);
    red = c.red() > 180 && c.green() < 80;
  }
  EXPECT_TRUE(red) << "no frame at the rectangle's left edge";
  EXPECT_EQ(during.pixelColor(180, 160), QColor(200, 200, 200)) << "the rectangle is not clear";
  EXPECT_LT(during.pixelColor(400, 400).lightness(), 150) << "outside is not dimmed";
  bool white = false;
  for (int x = 100; x < 180 && !white; ++x) {
    for (int y = 75; y < 98 && !white; ++y) white = during.pixelColor(x, y).lightness() > 200;
  }
  EXPECT_TRUE(white) << "no size label above the rectangle";
}

TEST_F(QtUserInterface, CountdownRunsOutOrIsCancelledByAClickAndIsGoneWhenItReturns) {
  EXPECT_TRUE(Ui.Countdown().Run(0));
  EXPECT_EQ(Ui.CountdownWidget(), nullptr);

  QElapsedTimer clock;
  int shown = -1;
  bool focusable = true;
  Soon([&] {
    auto* w = static_cast<TCountdownWidget*>(Ui.CountdownWidget());
    ASSERT_NE(w, nullptr);
    shown = w->Seconds();
    focusable = !w->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus);
  });
  clock.start();
  EXPECT_TRUE(Ui.Countdown().Run(1));
  EXPECT_GE(clock.elapsed(), 1000);
  EXPECT_EQ(shown, 1);
  EXPECT_FALSE(focusable) << "the countdown must leave the keyboard where the user is";
  EXPECT_EQ(Ui.CountdownWidget(), nullptr);
  for (QWidget* w : QApplication::topLevelWidgets()) {
    EXPECT_FALSE(w->objectName() == "Countdown" && w->isVisible());
  }

  Soon([&] {
    QTimer::singleShot(100, [&] {
      QWidget* w = Ui.CountdownWidget();
      ASSERT_NE(w, nullptr);
      QTest::mouseClick(w, Qt::LeftButton);
    });
  });
  clock.restart();
  EXPECT_FALSE(Ui.Countdown().Run(3));
  EXPECT_LT(clock.elapsed(), 1500);
  // Input meant for the recorder while it ran was dropped, as for a modal window.
  Ui.Application().ProcessMessages();
  EXPECT_TRUE(Events.empty());
}

TEST(QtHotKeyDialog, KeysBecomeHotKeysOnlyWithAModifierAndALetterOrDigit) {
  struct TRow {
    Qt::KeyboardModifiers Modifiers;
    int Key;
    const char* Expected;  // nullptr: not a hot key
  };
  const TRow rows[] = {
      {Qt::ControlModifier | Qt::AltModifier, Qt::Key_S, "Ctrl+Alt+S"},
      {Qt::ShiftModifier | Qt::ControlModifier, Qt::Key_R, "Ctrl+Shift+R"},
      {Qt::MetaModifier, Qt::Key_9, "Super+9"},
      {Qt::NoModifier, Qt::Key_A, nullptr},
      {Qt::ControlModifier, Qt::Key_F5, nullptr},
      {Qt::ControlModifier, Qt::Key_Control, nullptr},
  };
  for (const TRow& r : rows) {
    const std::optional<THotKeyChoice> k = HotKeyOfKeys(r.Modifiers, r.Key);
    if (r.Expected == nullptr) {
      EXPECT_EQ(k, std::nullopt) << r.Key;
    } else {
      ASSERT_TRUE(k.has_value()) << r.Expected;
      EXPECT_EQ(k->Name, r.Expected);
    }
  }
  EXPECT_EQ(HotKeyOfKeys(Qt::ControlModifier | Qt::AltModifier, Qt::Key_S), THotKeyChoice{});
}

TEST(QtHotKeyDialog, TheProblemNamesTheKeyAndWhoMayHoldItOrSaysItIsNotKnown) {
  const std::string named =
      TakenText(THotKeyChoice{}, {"GNOME's settings daemon (gsd-media-keys)", "xbindkeys"});
  EXPECT_NE(named.find("Ctrl+Alt+S cannot be used"), std::string::npos) << named;
  EXPECT_NE(named.find("gsd-media-keys), xbindkeys."), std::string::npos) << named;
  const std::string unknown = TakenText(THotKeyChoice{}, {});
  EXPECT_NE(unknown.find("does not say which program"), std::string::npos) << unknown;
  EXPECT_NE(unknown.find("Pick another key"), std::string::npos) << unknown;
}

TEST_F(QtUserInterface, HotKeyDialogTakesTheCombinationPressed) {
  struct TRow {
    const char* Name;
    THotKeyProblem Problem;
    std::function<void(QDialog*)> Act;
    std::optional<std::string> Expected;
  };
  const auto ok = [](QDialog* d) {
    return d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
  };
  const TRow rows[] = {
      {"Ctrl+Shift+R", THotKeyProblem::Taken,
       [ok](QDialog* d) {
         auto* problem = d->findChild<QLabel*>("HotKeyProblem");
         ASSERT_NE(problem, nullptr);
         EXPECT_TRUE(problem->text().startsWith("Ctrl+Alt+S cannot be used"))
             << problem->text().toStdString();
         QWidget* edit = d->findChild<QWidget*>("HotKeyEdit");
         EXPECT_FALSE(ok(d)->isEnabled());
         QTest::keyClick(edit, Qt::Key_Control, Qt::ControlModifier);  // not whole yet
         EXPECT_FALSE(ok(d)->isEnabled());
         QTest::keyClick(edit, Qt::Key_F5, Qt::ControlModifier);
         EXPECT_FALSE(ok(d)->isEnabled());
         EXPECT_FALSE(d->findChild<QLabel*>("HotKeyNote")->text().isEmpty());
         QTest::keyClick(edit, Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
         ASSERT_TRUE(ok(d)->isEnabled());
         ok(d)->click();
       },
       "Ctrl+Shift+R"},
      {"Escape", THotKeyProblem::Asked,
       [](QDialog* d) {
         EXPECT_EQ(d->findChild<QLabel*>("HotKeyProblem"), nullptr);
         QTest::keyClick(d->findChild<QWidget*>("HotKeyEdit"), Qt::Key_Escape);
       },
       std::nullopt},
  };
  for (const TRow& r : rows) {
    Soon([&] {
      auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(d, nullptr);
      r.Act(d);
      if (d->isVisible()) d->reject();
    });
    const std::optional<THotKeyChoice> chosen =
        Ui.HotKeyDialog().Choose(THotKeyChoice{}, r.Problem);
    EXPECT_EQ(chosen ? std::optional<std::string>(chosen->Name) : std::nullopt, r.Expected)
        << r.Name;
  }
}

TEST(QtSettings, ValuesAreKeptForTheNextStartAndABrokenFileIsNoValues) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("kestrova-settings-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "kestrova.conf").string();
  {
    TQtSettings settings(file);
    EXPECT_EQ(settings.Get("Capture"), std::nullopt);
    settings.Set("Capture", "Region");
    settings.Set("Region", "10,20,330,260");
  }
  {
    TQtSettings next(file);  // the next start
    EXPECT_EQ(next.Get("Capture"), "Region");
    EXPECT_EQ(next.Get("Region"), "10,20,330,260");
  }
  {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("\x01\xff[[[=\n==Capture\n\0\0", f);
    std::fclose(f);
    TQtSettings broken(file);
    EXPECT_EQ(broken.Get("Capture"), std::nullopt);
  }
  // Without a name: the user's configuration folder.
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string old = saved != nullptr ? saved : "";
  setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  EXPECT_EQ(TQtSettings().FileName(), (dir / "kestrova" / "kestrova.conf").string());
  if (old.empty()) {
    unsetenv("XDG_CONFIG_HOME");
  } else {
    setenv("XDG_CONFIG_HOME", old.c_str(), 1);
  }
  std::filesystem::remove_all(dir);
}

// The tray icon's red dot (its lower right corner) is on show.
bool RedDot(const QSystemTrayIcon& tray) {
  const QColor c = tray.icon().pixmap(64, 64).toImage().pixelColor(49, 47);
  return c.red() > 200 && c.green() < 60 && c.blue() < 60;
}

TEST_F(QtUserInterface, TrayShowsTheTimeAndOutputWhileRecordingAndGoesBackToIdle) {
  QSystemTrayIcon& tray = *Ui.TrayWidget();
  Ui.Tray().Add("Kestrova 1.0");
  EXPECT_FALSE(RedDot(tray));
  Ui.Tray().ShowRecording(true, "Recording 0:05 - Ctrl+Alt+S", "/home/u/Videos/a.swf");
  EXPECT_TRUE(RedDot(tray));
  EXPECT_EQ(tray.toolTip(), "Recording 0:05 - Ctrl+Alt+S\n/home/u/Videos/a.swf");
  Ui.Tray().ShowRecording(true, "Recording 0:06 - Ctrl+Alt+S");  // no name known (yet)
  EXPECT_EQ(tray.toolTip(), "Recording 0:06 - Ctrl+Alt+S");
  Ui.Tray().ShowRecording(false, "Kestrova 1.0", "/home/u/Videos/a.swf");
  EXPECT_FALSE(RedDot(tray));
  EXPECT_EQ(tray.toolTip(), "Kestrova 1.0");
}

TEST(QtPictures, PicturesAndIconsAreDrawnForTheScreensPixelRatio) {
  const QImage sharp = DrawPicture(TPicture::Start, 2);
  EXPECT_EQ(sharp.size(), QSize(156, 56));
  EXPECT_EQ(sharp.devicePixelRatio(), 2);
  EXPECT_EQ(sharp.deviceIndependentSize(), QSizeF(78, 28));
  // Drawn anew at that size, not the 1x picture blown up.
  const QImage blown = DrawPicture(TPicture::Start, 1).scaled(156, 56);
  EXPECT_NE(sharp.convertToFormat(blown.format()), blown);
  // The tool window painted at 2 device pixels to each: its start button is the picture drawn
  // at 2x, pixel for pixel.
  TInputQueue input;
  TToolWindowWidget tool(input);
  QImage window(tool.size() * 2, QImage::Format_ARGB32_Premultiplied);
  window.setDevicePixelRatio(2);
  window.fill(Qt::white);
  tool.render(&window);
  const QWidget* start = tool.findChild<QWidget*>("ImgBtnStartRecord");
  const QPoint at = start->mapTo(&tool, QPoint(0, 0)) * 2;
  const QImage drawn = window.copy(QRect(at, sharp.size())).convertToFormat(sharp.format());
  QImage expected(sharp.size(), sharp.format());  // the picture over the panel's colour
  expected.fill(tool.palette().color(QPalette::Window));
  QImage devicePixels = sharp;
  devicePixels.setDevicePixelRatio(1);
  QPainter(&expected).drawImage(0, 0, devicePixels);
  int differ = 0;
  for (int y = 0; y < drawn.height(); ++y) {
    for (int x = 0; x < drawn.width(); ++x) differ += drawn.pixel(x, y) != expected.pixel(x, y);
  }
  EXPECT_LT(differ, drawn.width() * drawn.height() / 50) << differ << " pixels differ";
  const QIcon icon = ProgramIcon();
  for (int size : {16, 32, 64, 128}) {
    EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
  }
}

}  // namespace
}  // namespace kestrova::platform::qt
