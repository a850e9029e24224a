#include "platform/qt/QtSettings.h"

#include <QDir>
#include <QSettings>

namespace kestrova::platform::qt {

namespace {

QString UserFile() {
  // Looked up at each start rather than through QSettings' own path, which a process fixes once.
  QString folder = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
  if (folder.isEmpty() || !QDir::isAbsolutePath(folder)) folder = QDir::homePath() + "/.config";
  return folder + "/kestrova/kestrova.conf";
}

}  // namespace

TQtSettings::TQtSettings(const std::string& fileName)
    : F(std::make_unique<QSettings>(
          fileName.empty() ? UserFile() : QString::fromStdString(fileName), QSettings::IniFormat)) {
}

TQtSettings::~TQtSettings() = default;

std::optional<std::string> TQtSettings::Get(const std::string& key) {
  const QVariant value = F->value(QString::fromStdString(key));
  if (!value.isValid()) return std::nullopt;
  return value.toString().toStdString();
}

void TQtSettings::Set(const std::string& key, const std::string& value) {
  F->setValue(QString::fromStdString(key), QString::fromStdString(value));
  F->sync();  // kept at once: the program may end by Halt, which runs no destructor
}

std::string TQtSettings::FileName() const {
  return F->fileName().toStdString();
}

}  // namespace kestrova::platform::qt
