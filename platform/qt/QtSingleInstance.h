// One copy of the program per user session and display: a lock file in $XDG_RUNTIME_DIR held with
// flock (the kernel lets go of it however the process ends, so a crash leaves no stale lock), and a
// local socket beside it through which a second start asks the first to come forward, and
// `kestrova stop` asks it to stop its recording and waits for the answer.
#pragma once

#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

class QLocalServer;
class QLocalSocket;

namespace kestrova::platform::qt {

class TQtSingleInstance : public TSingleInstance {
 public:
  // applicationTitle: the title of this instance, asked when another start wants it forward;
  // bringForward: shows this instance's window; stopRequested: another program asked to stop
  // the recording (the answer follows through AnswerStop).
  TQtSingleInstance(std::function<std::string()> applicationTitle,
                    std::function<void()> bringForward, std::function<void()> stopRequested = {});
  ~TQtSingleInstance() override;

  bool Acquire(const std::string& name) override;
  // Asks the instance holding the name (through its socket) to come forward; true when it
  // answered that it did.
  bool BringForward(const std::string& applicationTitle) override;
  void Release() override;
  // Waits up to waitMs for the holder's answer: its user may first be asked where to save.
  std::optional<TStopAnswer> RequestStop() override;
  void AnswerStop(const TStopAnswer& answer) override;
  void SetStopWait(int waitMs) { FStopWaitMs = waitMs; }
  // "process 1234 (kestrova record --seconds 60)", read from the lock file the holder wrote.
  std::string Holder() const override { return FHolder; }
  // Instances on different displays (or desktops) do not exclude each other: the scope (the X
  // display's name) is part of the lock's name. Set before Acquire.
  void SetScope(const std::string& scope) { FScope = scope; }

  // The folder of the lock and the socket: $XDG_RUNTIME_DIR, else a private /tmp/kestrova-UID.
  // Throws std::runtime_error when neither can be used safely.
  static std::string RuntimeFolder();

 private:
  void Answer();

  std::function<std::string()> FTitle;
  std::function<void()> FBringForward;
  std::function<void()> FStopRequested;
  std::vector<QPointer<QLocalSocket>> FStopWaiting;
  int FStopWaitMs = 10 * 60 * 1000;
  std::string FSocketPath;
  std::string FScope, FHolder;
  int FLockFd = -1;
  std::unique_ptr<QLocalServer> FServer;
};

}  // namespace kestrova::platform::qt
