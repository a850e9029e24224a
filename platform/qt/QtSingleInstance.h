// One copy of the program per user session and display: a lock file in $XDG_RUNTIME_DIR held with
// flock (the kernel lets go of it however the process ends, so a crash leaves no stale lock), and a
// local socket beside it through which a second start asks the first to come forward.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Platform.h"

class QLocalServer;

namespace kestrova::platform::qt {

class TQtSingleInstance : public TSingleInstance {
 public:
  // applicationTitle: the title of this instance, asked when another start wants it forward;
  // bringForward: shows this instance's window.
  TQtSingleInstance(std::function<std::string()> applicationTitle,
                    std::function<void()> bringForward);
  ~TQtSingleInstance() override;

  bool Acquire(const std::string& name) override;
  // Asks the instance holding the name (through its socket) to come forward; true when it
  // answered that it did.
  bool BringForward(const std::string& applicationTitle) override;
  void Release() override;
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
  std::string FSocketPath;
  std::string FScope, FHolder;
  int FLockFd = -1;
  std::unique_ptr<QLocalServer> FServer;
};

}  // namespace kestrova::platform::qt
