#include "platform/qt/QtUserInterface.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QMenu>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <stdexcept>

#include "platform/KeyHolders.h"
#include "platform/qt/QtCountdown.h"
#include "platform/qt/QtDialogs.h"
#include "platform/qt/QtHotKeyDialog.h"
#include "platform/qt/QtPictures.h"
#include "platform/qt/QtRegionPicker.h"
#include "platform/qt/QtSettings.h"
#include "platform/qt/QtSingleInstance.h"
#include "platform/qt/QtViews.h"

namespace kestrova::platform::qt {

namespace {

// QApplication keeps argc and argv for its whole life.
int gArgc = 1;
char gProgramName[] = "kestrova";
char* gArgv[] = {gProgramName, nullptr};

class TApplicationImpl : public TApplicationHost {
 public:
  TApplicationImpl(TInputQueue& input, std::function<void()> drainSources)
      : FInput(input), FDrain(std::move(drainSources)) {}
  // Kept for the single instance's question only: Qt's application name stays "kestrova", the
  // window class a desktop matches against the desktop entry.
  void SetTitle(const std::string& title) override { FTitle = title; }
  std::string Title() const override { return FTitle; }
  void SetEventHandler(TUIEventHandler handler) override { FHandler = std::move(handler); }
  // As on the simulated desktop, a Terminate made before the loop starts ends it at once.
  void RunMessageLoop() override {
    while (!FTerminated) {
      if (!FInput.Empty()) {
        Deliver(FInput.Take());
        continue;
      }
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
      FDrain();
    }
  }
  void Terminate() override { FTerminated = true; }
  bool Terminated() const override { return FTerminated; }
  void ProcessMessages() override {
    QCoreApplication::processEvents();
    FDrain();
    while (!FInput.Empty()) Deliver(FInput.Take());
  }
  [[noreturn]] void Halt(int exitCode) override {
    std::fflush(nullptr);
    std::_Exit(exitCode);
  }

 private:
  void Deliver(const TUIEvent& e) {
    if (FHandler) FHandler(e);
  }
  TInputQueue& FInput;
  std::function<void()> FDrain;
  TUIEventHandler FHandler;
  std::string FTitle;
  bool FTerminated = false;
};

class TMessageBoxesImpl : public TMessageBoxes {
 public:
  explicit TMessageBoxesImpl(TInputQueue& input) : FInput(input) {}
  int Show(const std::string& text, const std::string& caption, std::uint32_t flags) override {
    const std::unique_ptr<QMessageBox> box = MakeMessageBox(text, caption, flags);
    TInputQueue::TModalScope modal(FInput);
    box->exec();
    return MessageBoxResult(*box);
  }

 private:
  TInputQueue& FInput;
};

class TSaveDialogImpl : public TSaveDialog {
 public:
  explicit TSaveDialogImpl(TInputQueue& input) : FInput(input) {}
  std::optional<std::string> Execute(const TSaveDialogOptions& options) override {
    const std::unique_ptr<QFileDialog> dialog = MakeSaveDialog(options);
    TInputQueue::TModalScope modal(FInput);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
      return std::nullopt;
    }
    return dialog->selectedFiles().first().toStdString();
  }

 private:
  TInputQueue& FInput;
};

class TTrayImpl : public TTrayIcon {
 public:
  explicit TTrayImpl(TInputQueue& input) : FInput(input) {
    FIcon.setIcon(ProgramIcon());
    QObject::connect(&FIcon, &QSystemTrayIcon::activated, &FIcon,
                     [this](QSystemTrayIcon::ActivationReason reason) { Activated(reason); });
  }
  bool Add(const std::string& tip) override {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
    FIcon.setToolTip(QString::fromStdString(tip));
    FIcon.show();
    return true;
  }
  void Remove() override { FIcon.hide(); }
  bool Present() const override { return FIcon.isVisible(); }
  int PopupMenu(int x, int y, const std::vector<std::string>& items) override {
    QMenu menu;
    std::vector<QAction*> actions;
    for (const std::string& item : items) {
      actions.push_back(menu.addAction(QString::fromStdString(item)));
    }
    TInputQueue::TModalScope modal(FInput);
    const QAction* chosen = menu.exec(QPoint(x, y));
    for (std::size_t i = 0; i < actions.size(); ++i) {
      if (actions[i] == chosen) return static_cast<int>(i);
    }
    return -1;
  }
  void ShowRecording(bool recording, const std::string& tip, const std::string& output) override {
    if (recording != FRecording) {
      FIcon.setIcon(recording ? RecordingIcon() : ProgramIcon());
      FRecording = recording;
    }
    QString text = QString::fromStdString(tip);
    if (recording && !output.empty()) text += "\n" + QString::fromStdString(output);
    if (FIcon.toolTip() != text) FIcon.setToolTip(text);
  }
  void Notify(const std::string& title, const std::string& text) override {
    // On a Linux desktop Qt hands the message to org.freedesktop.Notifications when there is
    // one, else shows it as a balloon by the icon.
    if (!FIcon.isVisible() || !QSystemTrayIcon::supportsMessages()) return;
    FIcon.showMessage(QString::fromStdString(title), QString::fromStdString(text),
                      QSystemTrayIcon::Information, 10000);
  }
  bool ShowsRecording() const { return FRecording; }
  QSystemTrayIcon& Icon() { return FIcon; }

 private:
  void Activated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) {
      FInput.Push(TUIEvent{TUIEventKind::TrayNotify, "", kTrayLeftDoubleClick});
    } else if (reason == QSystemTrayIcon::Context) {
      FInput.Push(TUIEvent{TUIEventKind::TrayNotify, "", kTrayRightButtonDown});
    }
  }
  TInputQueue& FInput;
  QSystemTrayIcon FIcon;
  bool FRecording = false;
};

// The session ending under the program (SIGTERM from the session's end, SIGHUP from a closed
// terminal) is the tool window's destruction: the handler may only write a byte to a pipe, which
// the event loop reads and turns into TUIEventKind::Destroy.
int gSessionEndPipe[2] = {-1, -1};

// The paused dialog's result for Stop Record.
constexpr int kPausedStopRecord = 1;

extern "C" void OnSessionEnd(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(gSessionEndPipe[1], &byte, 1);
  errno = saved;
}

class TSessionEnd {
 public:
  explicit TSessionEnd(TInputQueue& input) {
    if (gSessionEndPipe[0] >= 0 || pipe2(gSessionEndPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    FNotifier = std::make_unique<QSocketNotifier>(gSessionEndPipe[0], QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, FNotifier.get(), [&input] {
      char bytes[16];
      if (read(gSessionEndPipe[0], bytes, sizeof bytes) > 0) {
        input.Push(TUIEvent{TUIEventKind::Destroy, "", 0});
      }
    });
    struct sigaction action {};
    action.sa_handler = OnSessionEnd;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
      sigaction(kSignals[i], &action, &FPrevious[i]);
    }
    FInstalled = true;
  }
  ~TSessionEnd() {
    if (!FInstalled) return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
      sigaction(kSignals[i], &FPrevious[i], nullptr);
    }
    FNotifier.reset();
    close(gSessionEndPipe[0]);
    close(gSessionEndPipe[1]);
    gSessionEndPipe[0] = gSessionEndPipe[1] = -1;
  }
  TSessionEnd(const TSessionEnd&) = delete;
  TSessionEnd& operator=(const TSessionEnd&) = delete;

 private:
  static constexpr int kSignals[] = {SIGTERM, SIGHUP};
  struct sigaction FPrevious[std::size(kSignals)]{};
  std::unique_ptr<QSocketNotifier> FNotifier;
  bool FInstalled = false;
};

struct TInputSource {
  std::function<std::vector<TUIEvent>()> Drain;
  std::unique_ptr<QSocketNotifier> Notifier;
};

}  // namespace

struct TQtUserInterface::TImpl {
  std::unique_ptr<QApplication> OwnedApplication;
  TInputQueue Input;
  std::vector<TInputSource> Sources;
  std::unique_ptr<QTimer> SourceTimer;
  std::unique_ptr<TApplicationImpl> Application;
  std::unique_ptr<TToolWindowWidget> ToolWidget;
  std::unique_ptr<TPausedDialogWidget> PausedWidget;
  std::unique_ptr<TQtView> ToolView, PausedView;
  std::unique_ptr<TMessageBoxesImpl> MessageBoxes;
  std::unique_ptr<TSaveDialogImpl> SaveDialog;
  std::unique_ptr<TTrayImpl> Tray;
  std::unique_ptr<TQtSingleInstance> Instance;
  std::unique_ptr<TSessionEnd> SessionEnd;
  std::unique_ptr<TQtRegionPicker> RegionPicker;
  std::unique_ptr<TQtCountdown> Countdown;
  std::unique_ptr<TQtSettings> Settings;
  std::unique_ptr<TQtHotKeyDialog> HotKeyDialog;

  void DrainSources() {
    for (TInputSource& s : Sources) {
      for (TUIEvent& e : s.Drain()) Input.Push(std::move(e));
    }
  }
};

TQtUserInterface::TQtUserInterface() : F(std::make_unique<TImpl>()) {
  if (QApplication::instance() == nullptr) {
    // Qt 6 scales to the desktop's factor as it is (1.25, 1.5...) rather than rounding it to a
    // whole number: the windows keep the size the user chose for everything else. Said here
    // since it must be said before the application exists; a user's QT_* variables still win.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    F->OwnedApplication = std::make_unique<QApplication>(gArgc, gArgv);
  } else if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    throw std::runtime_error("the user interface needs a QApplication");
  }
  QApplication::setQuitOnLastWindowClosed(false);
  QCoreApplication::setApplicationName("kestrova");
  QApplication::setWindowIcon(ProgramIcon());
  F->Application = std::make_unique<TApplicationImpl>(F->Input, [this] { F->DrainSources(); });
  F->ToolWidget = std::make_unique<TToolWindowWidget>(F->Input);
  F->PausedWidget = std::make_unique<TPausedDialogWidget>();
  F->ToolView = std::make_unique<TQtView>(*F->ToolWidget, F->Input);
  F->PausedView = std::make_unique<TQtView>(*F->PausedWidget, F->Input);
  F->MessageBoxes = std::make_unique<TMessageBoxesImpl>(F->Input);
  F->SaveDialog = std::make_unique<TSaveDialogImpl>(F->Input);
  F->Tray = std::make_unique<TTrayImpl>(F->Input);
  F->Instance = std::make_unique<TQtSingleInstance>(
      [this] { return F->Application->Title(); }, [this] { F->ToolView->BringToFront(); },
      [this] {
        // Paused: the paused dialog is closed as by its Stop Record, and the recorder told so.
        const bool paused = F->PausedWidget->isVisible();
        if (paused) F->PausedWidget->done(kPausedStopRecord);
        F->Input.Push(TUIEvent{TUIEventKind::StopRequest, "", paused ? 1 : 0});
      });
  F->SessionEnd = std::make_unique<TSessionEnd>(F->Input);
  F->RegionPicker = std::make_unique<TQtRegionPicker>(F->Input);
  F->Countdown = std::make_unique<TQtCountdown>(F->Input);
  F->Settings = std::make_unique<TQtSettings>();
  F->HotKeyDialog =
      std::make_unique<TQtHotKeyDialog>(F->Input, [] { return KeyHoldingPrograms(); });
  F->SourceTimer = std::make_unique<QTimer>();
  F->SourceTimer->setInterval(200);
  QObject::connect(F->SourceTimer.get(), &QTimer::timeout, F->SourceTimer.get(),
                   [this] { F->DrainSources(); });
}

TQtUserInterface::~TQtUserInterface() {
  // Widgets and notifiers go before the application that owns their platform resources.
  F->Sources.clear();
  F->HotKeyDialog.reset();
  F->Settings.reset();
  F->Countdown.reset();
  F->RegionPicker.reset();
  F->SessionEnd.reset();
  F->SourceTimer.reset();
  F->Instance.reset();
  F->Tray.reset();
  F->PausedView.reset();
  F->ToolView.reset();
  F->PausedWidget.reset();
  F->ToolWidget.reset();
  F->OwnedApplication.reset();
}

void TQtUserInterface::AddInputSource(int fd, std::function<std::vector<TUIEvent>()> drain) {
  TInputSource source;
  source.Drain = std::move(drain);
  source.Notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(source.Notifier.get(), &QSocketNotifier::activated, source.Notifier.get(),
                   [this] { F->DrainSources(); });
  F->Sources.push_back(std::move(source));
  F->SourceTimer->start();
}

TApplicationHost& TQtUserInterface::Application() {
  return *F->Application;
}
TView& TQtUserInterface::ToolWindow() {
  return *F->ToolView;
}
TView& TQtUserInterface::PausedDialog() {
  return *F->PausedView;
}
TMessageBoxes& TQtUserInterface::MessageBoxes() {
  return *F->MessageBoxes;
}
TSaveDialog& TQtUserInterface::SaveDialog() {
  return *F->SaveDialog;
}
TTrayIcon& TQtUserInterface::Tray() {
  return *F->Tray;
}
TSingleInstance& TQtUserInterface::Instance() {
  return *F->Instance;
}
void TQtUserInterface::SetInstanceScope(const std::string& scope) {
  F->Instance->SetScope(scope);
}
TRegionPicker& TQtUserInterface::RegionPicker() {
  return *F->RegionPicker;
}
TCountdown& TQtUserInterface::Countdown() {
  return *F->Countdown;
}
TSettings& TQtUserInterface::Settings() {
  return *F->Settings;
}
THotKeyDialog& TQtUserInterface::HotKeyDialog() {
  return *F->HotKeyDialog;
}
QWidget* TQtUserInterface::RegionOverlay() const {
  return F->RegionPicker->Overlay();
}
QWidget* TQtUserInterface::CountdownWidget() const {
  return F->Countdown->Widget();
}
QWidget* TQtUserInterface::ToolWidget() const {
  return F->ToolWidget.get();
}
QDialog* TQtUserInterface::PausedWidget() const {
  return F->PausedWidget.get();
}
QSystemTrayIcon* TQtUserInterface::TrayWidget() const {
  return &F->Tray->Icon();
}

}  // namespace kestrova::platform::qt
