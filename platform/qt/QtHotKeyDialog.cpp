#include "platform/qt/QtHotKeyDialog.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrova::platform::qt {

namespace {

// Qt's modifiers with the names the hot key parser reads. On X11 Qt calls the logo key Meta.
struct TModifierName {
  Qt::KeyboardModifier Modifier;
  const char* Name;
};
constexpr TModifierName kModifierNames[] = {{Qt::ControlModifier, "Ctrl"},
                                            {Qt::AltModifier, "Alt"},
                                            {Qt::ShiftModifier, "Shift"},
                                            {Qt::MetaModifier, "Super"}};

}  // namespace

std::optional<THotKeyChoice> HotKeyOfKeys(Qt::KeyboardModifiers modifiers, int key) {
  const bool letter = key >= Qt::Key_A && key <= Qt::Key_Z;
  const bool digit = key >= Qt::Key_0 && key <= Qt::Key_9;
  if (!letter && !digit) return std::nullopt;
  std::string text;
  for (const TModifierName& m : kModifierNames) {
    if (modifiers & m.Modifier) text += std::string(m.Name) + "+";
  }
  text += static_cast<char>(key);  // Qt's letter and digit keys are their ASCII codes
  return ParseHotKey(text);
}

std::string TakenText(const THotKeyChoice& current, const std::vector<std::string>& holders) {
  std::string text = current.Name + " cannot be used: another program holds it.";
  // The X server grants a key to one program and does not say which.
  if (holders.empty()) {
    text += " The desktop does not say which program it is.";
  } else {
    text += " The desktop does not say which program it is; running here and known to take keys:";
    for (std::size_t i = 0; i < holders.size(); ++i) {
      text += (i == 0 ? " " : ", ") + holders[i];
    }
    text += ".";
  }
  return text + " Pick another key, or free this one in that program's settings.";
}

TKeyGrabber::TKeyGrabber(QWidget* parent) : QLineEdit(parent) {
  setObjectName("HotKeyEdit");
  setReadOnly(true);
  setPlaceholderText("Press the new keys");
}

void TKeyGrabber::keyPressEvent(QKeyEvent* e) {
  const Qt::KeyboardModifiers modifiers = e->modifiers() & (Qt::ControlModifier | Qt::AltModifier |
                                                            Qt::ShiftModifier | Qt::MetaModifier);
  // Plain Escape, Tab and Return keep their meaning in a dialog.
  if (modifiers == Qt::NoModifier && (e->key() == Qt::Key_Escape || e->key() == Qt::Key_Tab ||
                                      e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
    e->ignore();
    return;
  }
  switch (e->key()) {
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_Shift:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
      return;  // the combination is not whole yet
    default:
      break;
  }
  FChoice = HotKeyOfKeys(modifiers, e->key());
  QString shown;
  for (const TModifierName& m : kModifierNames) {
    if (modifiers & m.Modifier) shown += QString(m.Name) + "+";
  }
  shown += QKeySequence(e->key()).toString();
  setText(FChoice ? QString::fromStdString(FChoice->Name) : shown);
  if (Changed) Changed();
}

THotKeyDialogWidget::THotKeyDialogWidget(const THotKeyChoice& current, const std::string& problem)
    : FCurrent(current) {
  setObjectName("HotKeyDialog");
  setWindowTitle("Kestrova");
  auto* layout = new QVBoxLayout(this);  // each widget owned by the dialog
  if (!problem.empty()) {
    auto* why = new QLabel(QString::fromStdString(problem), this);
    why->setObjectName("HotKeyProblem");
    why->setWordWrap(true);
    layout->addWidget(why);
  }
  auto* ask =
      new QLabel(QString::fromStdString("The key that opens the paused dialog is " + current.Name +
                                        ". Press the keys of another combination:"),
                 this);
  ask->setWordWrap(true);
  layout->addWidget(ask);
  FGrabber = new TKeyGrabber(this);
  layout->addWidget(FGrabber);
  FNote = new QLabel(this);
  FNote->setObjectName("HotKeyNote");
  FNote->setWordWrap(true);
  layout->addWidget(FNote);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  FOk = buttons->button(QDialogButtonBox::Ok);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  FGrabber->Changed = [this] { Update(); };
  FGrabber->setFocus();
  setMinimumWidth(340);
  Update();
}

void THotKeyDialogWidget::Update() {
  const std::optional<THotKeyChoice>& choice = FGrabber->Choice();
  FOk->setEnabled(choice.has_value());
  if (choice) {
    FNote->setText(*choice == FCurrent ? "That is the key in use." : "");
  } else if (!FGrabber->text().isEmpty()) {
    FNote->setText("Use Ctrl, Alt, Shift or Super with a letter or a digit.");
  } else {
    FNote->clear();
  }
}

std::optional<THotKeyChoice> TQtHotKeyDialog::Choose(const THotKeyChoice& current,
                                                     THotKeyProblem problem) {
  const std::string why =
      problem == THotKeyProblem::Taken
          ? TakenText(current, FHolders ? FHolders() : std::vector<std::string>{})
          : "";
  THotKeyDialogWidget dialog(current, why);
  TInputQueue::TModalScope modal(FInput);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Choice();
}

}  // namespace kestrova::platform::qt
