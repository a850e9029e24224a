// The recorder's user interface in Qt 6 Widgets: the tool window and the paused dialog, message
// boxes, the save dialog, the tray icon, single instance, the message pump, the region picker,
// the countdown, the hot key dialog and the settings, behind the same interfaces as the simulated
// desktop.
//
// Input (clicks, the tray icon, activation, closing, and whatever an added input source such as
// the X connection of the hot key reports) is queued while Qt runs and handed to the recorder's
// handler from the pump (RunMessageLoop, ProcessMessages), one event at a time, so a handler
// that runs a whole recording is never called from inside a widget's own event handling. Input
// that arrives while one of these modal windows is open is dropped: the user is busy with it.
// The end of the session (SIGTERM or SIGHUP while the interface exists) arrives as the tool
// window's destruction (TUIEventKind::Destroy) and is never dropped.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

class QApplication;
class QDialog;
class QSystemTrayIcon;
class QWidget;

namespace kestrova::platform::qt {

class TQtUserInterface {
 public:
  // Uses the QApplication there is, or makes one (and then owns it). Throws std::runtime_error
  // when Qt cannot start.
  TQtUserInterface();
  ~TQtUserInterface();
  TQtUserInterface(const TQtUserInterface&) = delete;
  TQtUserInterface& operator=(const TQtUserInterface&) = delete;

  TApplicationHost& Application();
  TView& ToolWindow();
  TView& PausedDialog();
  TMessageBoxes& MessageBoxes();
  TSaveDialog& SaveDialog();
  TTrayIcon& Tray();
  TSingleInstance& Instance();
  TRegionPicker& RegionPicker();
  TCountdown& Countdown();
  TSettings& Settings();
  THotKeyDialog& HotKeyDialog();
  // The single instance's scope (the display): copies on other displays may run side by side.
  void SetInstanceScope(const std::string& scope);

  // Another source of input: when fd becomes readable (and every 100 ms, since a library may
  // have read the bytes already into its own queue), drain is called and its events queued.
  void AddInputSource(int fd, std::function<std::vector<TUIEvent>()> drain);

  // For tests: the widgets behind the interfaces.
  QWidget* ToolWidget() const;
  QDialog* PausedWidget() const;
  QSystemTrayIcon* TrayWidget() const;
  // While PickRegion or Run is under way: the overlay or the countdown's window; else nullptr.
  QWidget* RegionOverlay() const;
  QWidget* CountdownWidget() const;

  struct TImpl;

 private:
  std::unique_ptr<TImpl> F;
};

}  // namespace kestrova::platform::qt
