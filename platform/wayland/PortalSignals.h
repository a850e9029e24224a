// Receivers for the portal's signals: Qt D-Bus delivers a signal only to a slot.
#pragma once

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QObject>
#include <QVariantMap>
#include <functional>

namespace kestrova::platform::wayland {

class TResponseReceiver : public QObject {
  Q_OBJECT
 public:
  bool Answered = false;
  uint Code = 2;
  QVariantMap Results;

 public slots:
  void OnResponse(uint code, const QVariantMap& results) {
    Answered = true;
    Code = code;
    Results = results;
    emit Done();
  }

 signals:
  void Done();
};

class TClosedReceiver : public QObject {
  Q_OBJECT
 public:
  bool Closed = false;

 public slots:
  void OnClosed(const QVariantMap&) { Closed = true; }
};

class TActivatedReceiver : public QObject {
  Q_OBJECT
 public:
  std::function<void(const QString& id)> Activated;

 public slots:
  void OnActivated(const QDBusObjectPath&, const QString& id, qulonglong, const QVariantMap&) {
    if (Activated) Activated(id);
  }
};

// One shortcut as GlobalShortcuts.BindShortcuts takes it: (sa{sv}).
struct TShortcutSpec {
  QString Id;
  QVariantMap Properties;
};

inline QDBusArgument& operator<<(QDBusArgument& arg, const TShortcutSpec& s) {
  arg.beginStructure();
  arg << s.Id << s.Properties;
  arg.endStructure();
  return arg;
}

inline const QDBusArgument& operator>>(const QDBusArgument& arg, TShortcutSpec& s) {
  arg.beginStructure();
  arg >> s.Id >> s.Properties;
  arg.endStructure();
  return arg;
}

}  // namespace kestrova::platform::wayland

Q_DECLARE_METATYPE(kestrova::platform::wayland::TShortcutSpec)
