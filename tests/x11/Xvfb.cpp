#include "Xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace kestrova::testing {

std::string FindProgram(const char* name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

TXvfb::TXvfb(int width, int height, int depth, bool resetWhenIdle) {
  const std::string program = FindProgram("Xvfb");
  if (program.empty()) {
    FError = "the Xvfb program is not installed (Debian package xvfb)";
    return;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    FError = "pipe failed";
    return;
  }
  const std::string screen =
      std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // The server dies with the test: a test that crashes (or is killed by a time-out) never
    // runs the destructor, and a server left behind would hold its display for good. Asked
    // for before the exec, and the parent checked after, in case it died in between.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    // The writing end must survive exec: Xvfb writes the display number into it.
    const int out = dup(fds[1]);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 1);
    dup2(null, 2);
    const std::string fd = std::to_string(out);
    execl(program.c_str(), "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
          "-nolisten", "tcp", resetWhenIdle ? "-reset" : "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    FError = "fork failed";
    return;
  }
  FPid = pid;
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  char c = 0;
  while (poll(&p, 1, 20000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty()) {
    FError = "Xvfb did not start";
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
    FPid = -1;
    return;
  }
  FName = ":" + number;
}

TXvfb::~TXvfb() {
  if (FPid <= 0) return;
  kill(FPid, SIGTERM);
  waitpid(FPid, nullptr, 0);
}

}  // namespace kestrova::testing
