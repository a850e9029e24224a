#include "WindowManager.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "Xvfb.h"

namespace kestrova::testing {

namespace {

// The manager announces itself with a window named on the root.
bool Managing(Display* d) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  const bool set =
      XGetWindowProperty(d, DefaultRootWindow(d), XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False),
                         0, 1, False, AnyPropertyType, &type, &format, &count, &after,
                         &data) == Success &&
      count == 1;
  if (data != nullptr) XFree(data);
  return set;
}

// The manager announces itself before it handles the windows mapped at once: it is ready when a
// window mapped now comes on the screen.
bool ShowsWindows(Display* d) {
  const Window probe = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0, 0, 0);
  XMapWindow(d, probe);
  bool shown = false;
  for (int waited = 0; waited < 500 && !shown; waited += 10) {
    XWindowAttributes a;
    shown = XGetWindowAttributes(d, probe, &a) != 0 && a.map_state == IsViewable;
    if (!shown) usleep(10000);
  }
  XDestroyWindow(d, probe);
  XSync(d, False);
  return shown;
}

}  // namespace

TWindowManager::TWindowManager(const std::string& display) {
  const std::string program = FindProgram("openbox");
  if (program.empty()) {
    FError = "the openbox program is not installed (Debian package openbox)";
    return;
  }
  Display* d = XOpenDisplay(display.c_str());
  if (d == nullptr) {
    FError = "cannot open " + display;
    return;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 1);
    dup2(null, 2);
    setenv("DISPLAY", display.c_str(), 1);
    // No user's configuration or session: the manager's defaults, the same on every machine.
    setenv("XDG_CONFIG_HOME", "/nonexistent", 1);
    execl(program.c_str(), "openbox", "--sm-disable", static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid < 0) {
    XCloseDisplay(d);
    FError = "fork failed";
    return;
  }
  FPid = pid;
  bool ready = false;
  for (int tries = 0; tries < 40 && !ready; ++tries) {
    if (waitpid(FPid, nullptr, WNOHANG) == FPid) {
      FPid = -1;
      break;
    }
    if (Managing(d)) {
      ready = ShowsWindows(d);
    } else {
      usleep(100000);
    }
  }
  if (FPid > 0 && !ready) {
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
    FPid = -1;
  }
  if (FPid <= 0) FError = "openbox did not start on " + display;
  XCloseDisplay(d);
}

TWindowManager::~TWindowManager() {
  if (FPid <= 0) return;
  kill(FPid, SIGTERM);
  waitpid(FPid, nullptr, 0);
}

}  // namespace kestrova::testing
