// Receivers for the portal's signals: Qt D-Bus delivers a signal only to a slot.
#pragma once

#include <QObject>
#include <QVariantMap>

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

}  // namespace kestrova::platform::wayland
