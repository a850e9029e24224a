// A private X server for one test: Xvfb on a display number it picks itself (-displayfd), so
// tests running side by side never meet, stopped when the object goes.
#pragma once

#include <string>

namespace kestrova::testing {

// The full path of an executable program found on PATH, or empty.
std::string FindProgram(const char* name);

class TXvfb {
 public:
  // resetWhenIdle: the server resets whenever its last client leaves, as Xvfb does unless told
  // otherwise (a CI job's server, a kiosk); the tests' servers keep going by default.
  TXvfb(int width = 320, int height = 240, int depth = 24, bool resetWhenIdle = false);
  ~TXvfb();
  TXvfb(const TXvfb&) = delete;
  TXvfb& operator=(const TXvfb&) = delete;

  bool Running() const { return FPid > 0; }
  // The server's process; it is sent SIGTERM when the thread that started it ends, so a test
  // that crashes leaves no server behind.
  int Pid() const { return FPid; }
  // ":N", valid while Running.
  const std::string& Name() const { return FName; }
  // Why it is not running (for GTEST_SKIP).
  const std::string& Error() const { return FError; }

 private:
  int FPid = -1;
  std::string FName, FError;
};

}  // namespace kestrova::testing

// Skips the test, saying why, when the server could not start.
#define KESTROVA_REQUIRE_XVFB(server) \
  if (!(server).Running()) GTEST_SKIP() << "needs Xvfb: " << (server).Error()
