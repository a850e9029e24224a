// The countdown before a recording: a small window above every other with the seconds left.
#pragma once

#include <QWidget>
#include <functional>

#include "platform/Platform.h"
#include "platform/qt/QtInput.h"

namespace kestrova::platform::qt {

// Shows a number; a click on it is the user's "not now".
class TCountdownWidget : public QWidget {
 public:
  explicit TCountdownWidget(std::function<void()> cancel);
  void SetSeconds(int seconds);
  int Seconds() const { return FSeconds; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  std::function<void()> FCancel;
  int FSeconds = 0;
};

class TQtCountdown : public TCountdown {
 public:
  explicit TQtCountdown(TInputQueue& input) : FInput(input) {}
  // The window never takes the keyboard from the window the user is in (the one an Active
  // Window recording records), so a click on it is what cancels. Input for the recorder that
  // arrives meanwhile is dropped, as while any of our modal windows is open.
  bool Run(int seconds) override;
  // While Run runs: the window (for tests); else nullptr.
  TCountdownWidget* Widget() const { return FWidget; }

 private:
  TInputQueue& FInput;
  TCountdownWidget* FWidget = nullptr;
};

}  // namespace kestrova::platform::qt
