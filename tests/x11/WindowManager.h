// A small window manager (openbox, from Debian) on a test's private display, started once by the
// test and stopped with it: what a user's desktop adds to a bare X server (frames, placement,
// activation on click, _NET_ACTIVE_WINDOW and the stacking list).
#pragma once

#include <string>

namespace kestrova::testing {

class TWindowManager {
 public:
  explicit TWindowManager(const std::string& display);
  ~TWindowManager();
  TWindowManager(const TWindowManager&) = delete;
  TWindowManager& operator=(const TWindowManager&) = delete;

  // Running and managing the display: it shows the windows mapped from now on.
  bool Running() const { return FPid > 0; }
  const std::string& Error() const { return FError; }

 private:
  int FPid = -1;
  std::string FError;
};

}  // namespace kestrova::testing

#define KESTROVA_REQUIRE_WINDOW_MANAGER(manager) \
  if (!(manager).Running()) GTEST_SKIP() << "needs openbox: " << (manager).Error()
