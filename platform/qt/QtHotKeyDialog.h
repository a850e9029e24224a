// The dialog that picks another hot key: a field that takes the combination pressed, and, when
// the key in use could not be had, what is known of who holds it.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/HotKeyName.h"
#include "platform/Platform.h"
#include "platform/qt/QtInput.h"

class QLabel;
class QPushButton;

namespace kestrova::platform::qt {

// The hot key of a key press: one or more of Ctrl, Alt, Shift and Super with a letter or a digit;
// nothing for anything else (a modifier alone, a function key, a key without a modifier).
std::optional<THotKeyChoice> HotKeyOfKeys(Qt::KeyboardModifiers modifiers, int key);

// What the dialog says when current could not be registered; holders as KeyHoldingPrograms gives
// them.
std::string TakenText(const THotKeyChoice& current, const std::vector<std::string>& holders);

// A field showing the combination last pressed in it.
class TKeyGrabber : public QLineEdit {
 public:
  explicit TKeyGrabber(QWidget* parent);
  const std::optional<THotKeyChoice>& Choice() const { return FChoice; }
  std::function<void()> Changed;

 protected:
  void keyPressEvent(QKeyEvent* e) override;

 private:
  std::optional<THotKeyChoice> FChoice;
};

class THotKeyDialogWidget : public QDialog {
 public:
  THotKeyDialogWidget(const THotKeyChoice& current, const std::string& problem);
  std::optional<THotKeyChoice> Choice() const { return FGrabber->Choice(); }

 private:
  void Update();
  THotKeyChoice FCurrent;
  TKeyGrabber* FGrabber;
  QLabel* FNote;
  QPushButton* FOk;
};

class TQtHotKeyDialog : public THotKeyDialog {
 public:
  // holders: the programs that may hold a key, asked only when the dialog says so.
  TQtHotKeyDialog(TInputQueue& input, std::function<std::vector<std::string>()> holders)
      : FInput(input), FHolders(std::move(holders)) {}
  std::optional<THotKeyChoice> Choose(const THotKeyChoice& current,
                                      THotKeyProblem problem) override;

 private:
  TInputQueue& FInput;
  std::function<std::vector<std::string>()> FHolders;
};

}  // namespace kestrova::platform::qt
