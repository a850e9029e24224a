#include "platform/qt/QtSingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace kestrova::platform::qt {

namespace {

std::string SafeName(const std::string& name) {
  std::string out = "kestrova-";
  for (char c : name) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.';
    out += plain ? c : '_';
  }
  return out;
}

bool PrivateFolder(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
         (st.st_mode & 077) == 0;
}

constexpr int kAnswerMs = 5000;

// This process and its command line, for a second copy to name it.
std::string DescribeSelf() {
  std::string command;
  const int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    char buffer[1024];
    const ssize_t n = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    for (ssize_t i = 0; i < n; ++i) command += buffer[i] == '\0' ? ' ' : buffer[i];
    while (!command.empty() && command.back() == ' ') command.pop_back();
  }
  return std::to_string(getpid()) + "\n" + command + "\n";
}

// What the holder wrote: "process PID (COMMAND)", or empty.
std::string ReadHolder(int fd) {
  char buffer[1100];
  const ssize_t n = pread(fd, buffer, sizeof buffer - 1, 0);
  if (n <= 0) return {};
  const std::string text(buffer, static_cast<std::size_t>(n));
  const std::size_t line = text.find('\n');
  if (line == std::string::npos || line == 0) return {};
  const std::string pid = text.substr(0, line);
  if (pid.find_first_not_of("0123456789") != std::string::npos) return {};
  std::string command = text.substr(line + 1);
  command = command.substr(0, command.find('\n'));
  for (char& c : command) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return "process " + pid + (command.empty() ? "" : " (" + command + ")");
}

}  // namespace

TQtSingleInstance::TQtSingleInstance(std::function<std::string()> applicationTitle,
                                     std::function<void()> bringForward,
                                     std::function<void()> stopRequested)
    : FTitle(std::move(applicationTitle)),
      FBringForward(std::move(bringForward)),
      FStopRequested(std::move(stopRequested)) {}

TQtSingleInstance::~TQtSingleInstance() {
  Release();
}

std::string TQtSingleInstance::RuntimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime == '/' && PrivateFolder(runtime)) return runtime;
  // Without a runtime folder: one of our own in /tmp, refused when someone else made it.
  const std::string folder = "/tmp/kestrova-" + std::to_string(getuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    throw std::runtime_error("cannot make " + folder + ": " + std::strerror(errno));
  }
  if (!PrivateFolder(folder)) {
    throw std::runtime_error(folder + " is not a private folder of this user");
  }
  return folder;
}

bool TQtSingleInstance::Acquire(const std::string& name) {
  Release();
  FHolder.clear();
  const std::string base =
      RuntimeFolder() + "/" + SafeName(FScope.empty() ? name : name + "-" + FScope);
  FSocketPath = base + ".socket";
  const int fd = open((base + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) throw std::runtime_error("cannot open " + base + ".lock: " + std::strerror(errno));
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    FHolder = ReadHolder(fd);
    close(fd);
    return false;
  }
  FLockFd = fd;
  const std::string self = DescribeSelf();
  if (ftruncate(fd, 0) != 0 || pwrite(fd, self.data(), self.size(), 0) < 0) {
    // Only the second copy's message loses its detail.
  }
  // Whoever held the lock before is gone, so a socket left behind is stale.
  QLocalServer::removeServer(QString::fromStdString(FSocketPath));
  FServer = std::make_unique<QLocalServer>();
  FServer->setSocketOptions(QLocalServer::UserAccessOption);
  if (FServer->listen(QString::fromStdString(FSocketPath))) {
    QObject::connect(FServer.get(), &QLocalServer::newConnection, FServer.get(),
                     [this] { Answer(); });
  }
  return true;
}

void TQtSingleInstance::Answer() {
  while (QLocalSocket* socket = FServer->nextPendingConnection()) {
    QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
      if (!socket->canReadLine()) return;
      const std::string line = socket->readLine(4096).trimmed().toStdString();
      if (line == "stop" && FStopRequested) {
        // Answered once the recording has ended, or at once when there is none.
        FStopWaiting.emplace_back(socket);
        FStopRequested();
        return;
      }
      const std::string prefix = "forward ";
      const bool ours = line.rfind(prefix, 0) == 0 && line.substr(prefix.size()) == FTitle();
      if (ours) FBringForward();
      socket->write(ours ? "ok\n" : "no\n");
      socket->flush();
      socket->disconnectFromServer();
    });
  }
}

bool TQtSingleInstance::BringForward(const std::string& applicationTitle) {
  if (FSocketPath.empty()) return false;
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(FSocketPath));
  if (!socket.waitForConnected(kAnswerMs)) return false;
  socket.write(QByteArray::fromStdString("forward " + applicationTitle + "\n"));
  if (!socket.waitForBytesWritten(kAnswerMs)) return false;
  while (!socket.canReadLine()) {
    if (!socket.waitForReadyRead(kAnswerMs)) return false;
  }
  return socket.readLine(16).trimmed() == "ok";
}

std::optional<TStopAnswer> TQtSingleInstance::RequestStop() {
  if (FSocketPath.empty()) return std::nullopt;
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(FSocketPath));
  if (!socket.waitForConnected(kAnswerMs)) return std::nullopt;
  socket.write("stop\n");
  if (!socket.waitForBytesWritten(kAnswerMs)) return std::nullopt;
  while (!socket.canReadLine()) {
    if (!socket.waitForReadyRead(FStopWaitMs)) return std::nullopt;
  }
  // "saved TEXT" or "not-saved TEXT"; anything else is an instance that does not know the word.
  const std::string line = socket.readLine(4096).trimmed().toStdString();
  const std::size_t space = line.find(' ');
  const std::string word = line.substr(0, space);
  if (word != "saved" && word != "not-saved") return std::nullopt;
  return TStopAnswer{word == "saved", space == std::string::npos ? "" : line.substr(space + 1)};
}

void TQtSingleInstance::AnswerStop(const TStopAnswer& answer) {
  std::string text = answer.Text;
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  const QByteArray line =
      QByteArray::fromStdString((answer.Saved ? "saved " : "not-saved ") + text + "\n");
  for (const QPointer<QLocalSocket>& socket : FStopWaiting) {
    if (socket.isNull()) continue;
    socket->write(line);
    // The program may end at once after answering (the tool window's Exit): the line must be on
    // its way first.
    socket->waitForBytesWritten(kAnswerMs);
    socket->disconnectFromServer();
  }
  FStopWaiting.clear();
}

void TQtSingleInstance::Release() {
  FServer.reset();
  if (FLockFd >= 0) {
    close(FLockFd);
    FLockFd = -1;
  }
}

}  // namespace kestrova::platform::qt
