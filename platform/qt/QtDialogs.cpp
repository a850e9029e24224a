#include "platform/qt/QtDialogs.h"

#include <QAbstractButton>
#include <cstdlib>
#include <ctime>

#include "platform/PosixFiles.h"
#include "platform/UserDirs.h"

namespace kestrova::platform::qt {

QStringList NameFilters(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|');
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    out << parts[i] + " (" + patterns.simplified() + ")";
  }
  return out;
}

std::unique_ptr<QFileDialog> MakeSaveDialog(const TSaveDialogOptions& options) {
  auto dialog = std::make_unique<QFileDialog>(nullptr, QString::fromStdString(options.Title),
                                              QString::fromStdString(options.InitialDir));
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  // A movie that is there already is replaced only when the user confirms it.
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  const QStringList filters = NameFilters(options.Filter);
  if (!filters.isEmpty()) {
    dialog->setNameFilters(filters);
    const int index = options.FilterIndex >= 1 && options.FilterIndex <= filters.size()
                          ? options.FilterIndex - 1
                          : 0;
    dialog->selectNameFilter(filters[index]);
  }
  dialog->setDefaultSuffix(QString::fromStdString(options.DefaultExtension));
  // Suggested: Kestrova-<date>_<time>.swf in the videos folder, a name nothing holds yet.
  try {
    const std::string home = TPosixFileLocations().Home();
    dialog->selectFile(QString::fromStdString(TimestampedRecordingName(
        VideosFolder(home, [](const char* name) { return std::getenv(name); }),
        std::time(nullptr))));
  } catch (const std::exception&) {
    // Without a home folder the dialog opens where it was asked to, with no name in it.
  }
  return dialog;
}

std::unique_ptr<QMessageBox> MakeMessageBox(const std::string& text, const std::string& caption,
                                            std::uint32_t flags) {
  QMessageBox::StandardButtons buttons;
  switch (flags & 0x0F) {
    case 0x1:
      buttons = QMessageBox::Ok | QMessageBox::Cancel;
      break;
    case kMbYesNoCancel:
      buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      break;
    case 0x4:
      buttons = QMessageBox::Yes | QMessageBox::No;
      break;
    default:
      buttons = QMessageBox::Ok;
      break;
  }
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (flags & 0xF0) {
    case 0x10:
      icon = QMessageBox::Critical;
      break;
    case kMbIconQuestion:
      icon = QMessageBox::Question;
      break;
    case kMbIconExclamation:
      icon = QMessageBox::Warning;
      break;
    case 0x40:
      icon = QMessageBox::Information;
      break;
  }
  auto box = std::make_unique<QMessageBox>(icon, QString::fromStdString(caption),
                                           QString::fromStdString(text), buttons);
  if (buttons & QMessageBox::Yes) box->setDefaultButton(QMessageBox::Yes);
  return box;
}

int MessageBoxResult(const QMessageBox& box) {
  switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok:
      return kIdOk;
    case QMessageBox::Yes:
      return kIdYes;
    case QMessageBox::No:
      return kIdNo;
    default:
      // Cancel, or closed without a button of its own (Escape, the caption's close button).
      return (box.standardButtons() & (QMessageBox::Cancel | QMessageBox::No)) ? kIdCancel : kIdOk;
  }
}

}  // namespace kestrova::platform::qt
