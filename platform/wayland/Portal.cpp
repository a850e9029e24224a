#include "platform/wayland/Portal.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <cstdlib>

#include "platform/wayland/PortalSignals.h"

namespace kestrova::platform::wayland {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");

constexpr const char* kNoPortal =
    "The desktop portal (org.freedesktop.portal.Desktop) is not running: recording a Wayland "
    "desktop needs xdg-desktop-portal and the portal backend of the desktop "
    "(xdg-desktop-portal-gnome, -kde or -wlr).";
constexpr const char* kNoScreenCast =
    "The desktop portal offers no screen recording (its ScreenCast interface is missing): "
    "install the portal backend of the desktop (xdg-desktop-portal-gnome, -kde or -wlr).";
constexpr const char* kCancelled =
    "Screen recording was cancelled in the desktop's sharing dialog: nothing was recorded.";

QDBusConnection Bus() {
  if (QCoreApplication::instance() == nullptr) {
    throw EPortalError("the desktop portal is reached through Qt, which has not started");
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    throw EPortalError(std::string("There is no session bus (DBUS_SESSION_BUS_ADDRESS): ") +
                       kNoPortal);
  }
  return bus;
}

std::string Text(const QString& s) {
  return s.toStdString();
}

// A reply that is an error, said as the user should hear it.
[[noreturn]] void ThrowCallError(const QDBusMessage& reply, const char* step) {
  const QString name = reply.errorName();
  if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
      name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
    throw EPortalError(kNoPortal);
  }
  if (name == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface") ||
      name == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod") ||
      name == QLatin1String("org.freedesktop.DBus.Error.UnknownProperty") ||
      name == QLatin1String("org.freedesktop.DBus.Error.InvalidArgs")) {
    throw EPortalError(kNoScreenCast);
  }
  if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
      name == QLatin1String("org.freedesktop.DBus.Error.Timeout")) {
    throw EPortalError(std::string("The desktop portal did not answer (") + step +
                       "): it may have stopped; try again.");
  }
  throw EPortalError(std::string("The desktop portal refused ") + step + ": " +
                     Text(reply.errorMessage()) + " (" + Text(name) + ")");
}

std::uint32_t ReadProperty(QDBusConnection& bus, const char* name, int timeoutMs) {
  QDBusMessage m = QDBusMessage::createMethodCall(
      kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  m << kScreenCast << QString::fromLatin1(name);
  const QDBusMessage reply = bus.call(m, QDBus::Block, timeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    ThrowCallError(reply, name);
  }
  return reply.arguments().at(0).value<QDBusVariant>().variant().toUInt();
}

std::atomic<unsigned> GTokenCounter{0};

TScreenCastOffer ReadOffer(QDBusConnection& bus);

QString NewToken(const char* kind) {
  return QStringLiteral("kestrova_%1_%2_%3")
      .arg(QLatin1String(kind))
      .arg(static_cast<qint64>(::getpid()))
      .arg(++GTokenCounter);
}

// Calls method (whose last argument is the options map) and waits for its Response.
QVariantMap AskPortal(QDBusConnection& bus, const QString& interface, const char* method,
                      QList<QVariant> args, QVariantMap options, int callSeconds,
                      int timeoutSeconds) {
  const QString token = NewToken("request");
  options.insert(QStringLiteral("handle_token"), token);
  QString sender = bus.baseService().mid(1);
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  QString requestPath = kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
  TResponseReceiver receiver;
  // Subscribed before the call: the answer can come before the call returns.
  bus.connect(kService, requestPath, kRequest, QStringLiteral("Response"), &receiver,
              SLOT(OnResponse(uint, QVariantMap)));
  QDBusMessage m =
      QDBusMessage::createMethodCall(kService, kPath, interface, QString::fromLatin1(method));
  args.append(options);
  m.setArguments(args);
  const QDBusMessage reply = bus.call(m, QDBus::Block, callSeconds * 1000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    bus.disconnect(kService, requestPath, kRequest, QStringLiteral("Response"), &receiver,
                   SLOT(OnResponse(uint, QVariantMap)));
    ThrowCallError(reply, method);
  }
  const QString handle = reply.arguments().at(0).value<QDBusObjectPath>().path();
  if (!handle.isEmpty() && handle != requestPath) {
    // An older portal names the request its own way.
    bus.disconnect(kService, requestPath, kRequest, QStringLiteral("Response"), &receiver,
                   SLOT(OnResponse(uint, QVariantMap)));
    requestPath = handle;
    bus.connect(kService, requestPath, kRequest, QStringLiteral("Response"), &receiver,
                SLOT(OnResponse(uint, QVariantMap)));
  }
  if (!receiver.Answered) {
    QEventLoop loop;
    QObject::connect(&receiver, &TResponseReceiver::Done, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutSeconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
  }
  bus.disconnect(kService, requestPath, kRequest, QStringLiteral("Response"), &receiver,
                 SLOT(OnResponse(uint, QVariantMap)));
  if (!receiver.Answered) {
    bus.call(
        QDBusMessage::createMethodCall(kService, requestPath, kRequest, QStringLiteral("Close")),
        QDBus::Block, 2000);
    throw EPortalError(std::string("The desktop portal did not answer ") + method + " within " +
                       std::to_string(timeoutSeconds) + " seconds.");
  }
  if (receiver.Code == 1) throw EPortalError(kCancelled);
  if (receiver.Code != 0) {
    throw EPortalError(std::string("The desktop portal refused ") + method + ".");
  }
  return receiver.Results;
}

}  // namespace

TScreenCastOffer ProbeScreenCast() {
  if (QCoreApplication::instance() == nullptr) {
    // Asked before Qt starts (which backend to open): a private connection of its own, whose
    // blocking calls need no event loop, closed again before the application's own is made.
    const QString name = QStringLiteral("kestrova-probe");
    TScreenCastOffer offer;
    {
      QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
      if (!bus.isConnected()) {
        QDBusConnection::disconnectFromBus(name);
        throw EPortalError(std::string("There is no session bus (DBUS_SESSION_BUS_ADDRESS): ") +
                           kNoPortal);
      }
      try {
        offer = ReadOffer(bus);
      } catch (...) {
        QDBusConnection::disconnectFromBus(name);
        throw;
      }
    }
    QDBusConnection::disconnectFromBus(name);
    return offer;
  }
  QDBusConnection bus = Bus();
  return ReadOffer(bus);
}

namespace {

TScreenCastOffer ReadOffer(QDBusConnection& bus) {
  TScreenCastOffer offer;
  offer.Version = ReadProperty(bus, "version", 5000);
  offer.SourceTypes = ReadProperty(bus, "AvailableSourceTypes", 5000);
  offer.CursorModes = ReadProperty(bus, "AvailableCursorModes", 5000);
  if ((offer.SourceTypes & (kSourceMonitor | kSourceWindow)) == 0) {
    throw EPortalError(kNoScreenCast);
  }
  return offer;
}

}  // namespace

std::uint32_t ChooseCursorMode(std::uint32_t available) {
  for (std::uint32_t mode : {kCursorMetadata, kCursorEmbedded, kCursorHidden}) {
    if ((available & mode) != 0) return mode;
  }
  return 0;
}

struct TPortalScreenCast::TImpl {
  TPortalTimeouts Timeouts;
  QString SessionPath;
  std::uint32_t NodeId = 0;
  std::uint32_t Cursor = 0;
  std::int32_t StreamWidth = 0, StreamHeight = 0;
  std::string Token;
  int Fd = -1;
  TClosedReceiver ClosedSignal;

  void ReadStreams(const QVariantMap& results) {
    const QVariant streams = results.value(QStringLiteral("streams"));
    if (!streams.canConvert<QDBusArgument>()) {
      throw EPortalError("The desktop portal started no stream to record.");
    }
    const QDBusArgument arg = streams.value<QDBusArgument>();
    bool found = false;
    arg.beginArray();
    while (!arg.atEnd()) {
      uint node = 0;
      QVariantMap props;
      arg.beginStructure();
      arg >> node >> props;
      arg.endStructure();
      if (found) continue;  // one source was asked for: the first is it
      found = true;
      NodeId = node;
      const QVariant size = props.value(QStringLiteral("size"));
      if (size.canConvert<QDBusArgument>()) {
        const QDBusArgument s = size.value<QDBusArgument>();
        int w = 0, h = 0;
        s.beginStructure();
        s >> w >> h;
        s.endStructure();
        StreamWidth = w;
        StreamHeight = h;
      }
    }
    arg.endArray();
    if (!found) throw EPortalError("The desktop portal started no stream to record.");
  }

  void Open(const TScreenCastRequest& request) {
    const TScreenCastOffer offer = ProbeScreenCast();
    if ((offer.SourceTypes & request.SourceType) == 0) {
      throw EPortalError(request.SourceType == kSourceWindow
                             ? "The desktop portal cannot record a single window here; record "
                               "the full screen or a region instead."
                             : "The desktop portal cannot record a whole monitor here.");
    }
    QDBusConnection bus = Bus();
    QVariantMap created = AskPortal(bus, kScreenCast, "CreateSession", {},
                                    {{QStringLiteral("session_handle_token"), NewToken("session")}},
                                    Timeouts.CallSeconds, Timeouts.CallSeconds);
    SessionPath = created.value(QStringLiteral("session_handle")).toString();
    if (SessionPath.isEmpty()) throw EPortalError("The desktop portal made no session.");
    bus.connect(kService, SessionPath, kSession, QStringLiteral("Closed"), &ClosedSignal,
                SLOT(OnClosed(QVariantMap)));
    QVariantMap select{{QStringLiteral("types"), QVariant::fromValue<uint>(request.SourceType)},
                       {QStringLiteral("multiple"), false}};
    Cursor = ChooseCursorMode(offer.CursorModes);
    if (Cursor != 0)
      select.insert(QStringLiteral("cursor_mode"), QVariant::fromValue<uint>(Cursor));
    if (offer.Version >= 4) {
      // Kept until revoked: the next recording starts without the dialog.
      select.insert(QStringLiteral("persist_mode"), QVariant::fromValue<uint>(2));
      if (!request.RestoreToken.empty()) {
        select.insert(QStringLiteral("restore_token"),
                      QString::fromStdString(request.RestoreToken));
      }
    }
    const QVariant session = QVariant::fromValue(QDBusObjectPath(SessionPath));
    AskPortal(bus, kScreenCast, "SelectSources", {session}, select, Timeouts.CallSeconds,
              Timeouts.CallSeconds);
    const QVariantMap started = AskPortal(bus, kScreenCast, "Start", {session, QString()}, {},
                                          Timeouts.CallSeconds, Timeouts.DialogSeconds);
    ReadStreams(started);
    Token = Text(started.value(QStringLiteral("restore_token")).toString());
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kScreenCast,
                                                    QStringLiteral("OpenPipeWireRemote"));
    m << QVariant::fromValue(QDBusObjectPath(SessionPath)) << QVariantMap{};
    const QDBusMessage reply = bus.call(m, QDBus::Block, Timeouts.CallSeconds * 1000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
      ThrowCallError(reply, "OpenPipeWireRemote");
    }
    const auto remote = reply.arguments().at(0).value<QDBusUnixFileDescriptor>();
    if (!remote.isValid()) throw EPortalError("The desktop portal gave no PipeWire remote.");
    // Qt closes its own copy with the reply.
    Fd = ::fcntl(remote.fileDescriptor(), F_DUPFD_CLOEXEC, 3);
    if (Fd < 0) throw EPortalError("The PipeWire remote could not be kept (out of files).");
  }

  void Close() {
    if (Fd >= 0) {
      ::close(Fd);
      Fd = -1;
    }
    if (SessionPath.isEmpty()) return;
    const QString path = SessionPath;
    SessionPath.clear();
    if (QCoreApplication::instance() == nullptr) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.disconnect(kService, path, kSession, QStringLiteral("Closed"), &ClosedSignal,
                   SLOT(OnClosed(QVariantMap)));
    if (ClosedSignal.Closed) return;
    // No answer is awaited: the portal may be gone, and closing must not hold the program.
    bus.call(QDBusMessage::createMethodCall(kService, path, kSession, QStringLiteral("Close")),
             QDBus::NoBlock);
  }
};

TPortalScreenCast::TPortalScreenCast(const TScreenCastRequest& request,
                                     const TPortalTimeouts& timeouts)
    : F(std::make_unique<TImpl>()) {
  F->Timeouts = timeouts;
  // For scripts and tests that answer the dialog themselves: no need to wait minutes.
  if (const char* limit = std::getenv("KESTROVA_PORTAL_TIMEOUT")) {
    const int seconds = std::atoi(limit);
    if (seconds > 0) F->Timeouts.DialogSeconds = F->Timeouts.CallSeconds = seconds;
  }
  try {
    F->Open(request);
  } catch (...) {
    F->Close();
    throw;
  }
}

TPortalScreenCast::~TPortalScreenCast() {
  F->Close();
}

int TPortalScreenCast::TakeRemoteFd() {
  const int fd = F->Fd;
  F->Fd = -1;
  return fd;
}
std::uint32_t TPortalScreenCast::Node() const {
  return F->NodeId;
}
std::uint32_t TPortalScreenCast::CursorMode() const {
  return F->Cursor;
}
std::int32_t TPortalScreenCast::Width() const {
  return F->StreamWidth;
}
std::int32_t TPortalScreenCast::Height() const {
  return F->StreamHeight;
}
const std::string& TPortalScreenCast::RestoreToken() const {
  return F->Token;
}
bool TPortalScreenCast::Closed() const {
  return F->ClosedSignal.Closed;
}
void TPortalScreenCast::Close() {
  F->Close();
}

}  // namespace kestrova::platform::wayland

namespace kestrova::platform::wayland {

namespace {
const QString kShortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
}  // namespace

bool HasGlobalShortcuts() {
  if (QCoreApplication::instance() == nullptr) return false;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage m = QDBusMessage::createMethodCall(
      kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  m << kShortcuts << QStringLiteral("version");
  const QDBusMessage reply = bus.call(m, QDBus::Block, 5000);
  return reply.type() == QDBusMessage::ReplyMessage;
}

struct TPortalShortcut::TImpl {
  QString SessionPath;
  TActivatedReceiver Receiver;

  void Close() {
    if (SessionPath.isEmpty() || QCoreApplication::instance() == nullptr) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.disconnect(kService, kPath, kShortcuts, QStringLiteral("Activated"), &Receiver,
                   SLOT(OnActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    bus.call(
        QDBusMessage::createMethodCall(kService, SessionPath, kSession, QStringLiteral("Close")),
        QDBus::NoBlock);
    SessionPath.clear();
  }
};

TPortalShortcut::TPortalShortcut(const std::string& id, const std::string& description,
                                 const std::string& preferredTrigger,
                                 std::function<void()> activated)
    : F(std::make_unique<TImpl>()) {
  qDBusRegisterMetaType<TShortcutSpec>();
  qDBusRegisterMetaType<QList<TShortcutSpec>>();
  QDBusConnection bus = Bus();
  const QString wanted = QString::fromStdString(id);
  F->Receiver.Activated = [wanted, activated = std::move(activated)](const QString& got) {
    if (got == wanted && activated) activated();
  };
  try {
    const QVariantMap created =
        AskPortal(bus, kShortcuts, "CreateSession", {},
                  {{QStringLiteral("session_handle_token"), NewToken("shortcuts")}}, 30, 30);
    F->SessionPath = created.value(QStringLiteral("session_handle")).toString();
    if (F->SessionPath.isEmpty()) throw EPortalError("The desktop portal made no session.");
    bus.connect(kService, kPath, kShortcuts, QStringLiteral("Activated"), &F->Receiver,
                SLOT(OnActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    const QList<TShortcutSpec> shortcuts{
        {wanted,
         {{QStringLiteral("description"), QString::fromStdString(description)},
          {QStringLiteral("preferred_trigger"), QString::fromStdString(preferredTrigger)}}}};
    // The desktop may ask the user to confirm or change the key: the dialog's time.
    AskPortal(bus, kShortcuts, "BindShortcuts",
              {QVariant::fromValue(QDBusObjectPath(F->SessionPath)), QVariant::fromValue(shortcuts),
               QString()},
              {}, 30, 300);
  } catch (...) {
    F->Close();
    throw;
  }
}

TPortalShortcut::~TPortalShortcut() {
  F->Close();
}

}  // namespace kestrova::platform::wayland
