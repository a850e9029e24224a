// The tool window and the paused dialog as Qt widgets, each component a child widget named as
// the recorder names it, and the TView that drives either one.
#pragma once

#include <QAbstractButton>
#include <QDialog>
#include <QImage>
#include <QWidget>
#include <string>

#include "platform/Platform.h"
#include "platform/qt/QtInput.h"
#include "platform/qt/QtPictures.h"

namespace kestrova::platform::qt {

// A clickable picture, stretched to the button's size, drawn anew for the screen's device pixel
// ratio so it stays sharp on a scaled desktop.
class TPictureButton : public QAbstractButton {
 public:
  TPictureButton(QWidget* parent, const char* name, TPicture picture, QRect geometry);
  QSize sizeHint() const override;
  // The picture as last painted (for tests).
  const QImage& Picture() const { return FPicture; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  TPicture FKind;
  QImage FPicture;
};

// The width (device-independent pixels, at least least) of a window whose title bar shows caption
// whole under the common window managers' title fonts and buttons.
int FittingWidth(const QString& caption, int least);

// The tool window: the form's components at their places, the third choice "Region" (RdoRegion)
// below the other two, on a window wide enough for its title; below them the countdown's seconds
// (SpnCountdown), the sound (CmbAudio) and the button that changes the hot key (BtnHotKey).
class TToolWindowWidget : public QWidget {
 public:
  explicit TToolWindowWidget(TInputQueue& input);

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void AddChoices(QWidget* panel);
  TInputQueue& FInput;
};

// Stop Record ends with result 1, Continue 2, Exit 3; the caption's close button with 0.
class TPausedDialogWidget : public QDialog {
 public:
  TPausedDialogWidget();
};

class TQtView : public TView {
 public:
  TQtView(QWidget& widget, TInputQueue& input) : FWidget(widget), FInput(input) {}
  void Show() override;
  void Hide() override;
  bool Visible() const override;
  void BringToFront() override;
  void SetCaption(const std::string& caption) override;
  std::string Caption() const override;
  void SetComponentVisible(const std::string& name, bool visible) override;
  bool ComponentVisible(const std::string& name) const override;
  void SetComponentLeft(const std::string& name, int left) override;
  bool Checked(const std::string& name) const override;
  void SetChecked(const std::string& name, bool checked) override;
  std::string ComponentValue(const std::string& name) const override;
  void SetComponentValue(const std::string& name, const std::string& value) override;
  void SetComponentEnabled(const std::string& name, bool enabled, const std::string& tip) override;
  bool ComponentEnabled(const std::string& name) const override;
  // A dialog: its result, the caption's close button counting as 2 (Continue). Not a dialog: 0.
  int ShowModal() override;

 private:
  QWidget* Component(const std::string& name) const;
  QWidget& FWidget;
  TInputQueue& FInput;
};

}  // namespace kestrova::platform::qt
