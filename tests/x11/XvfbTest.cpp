// The tests' own X server must not outlive a test process that crashes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

#include "Xvfb.h"

namespace kestrova::testing {
namespace {

// Waits up to timeoutMs for the child pid to end; true when it did (and was reaped).
bool Reaped(pid_t pid, int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += 20) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
    const timespec pause{0, 20 * 1000000L};
    nanosleep(&pause, nullptr);
  }
  return false;
}

TEST(Xvfb, TheServerEndsWhenTheTestThatStartedItIsKilled) {
  if (TXvfb probe(64, 48); !probe.Running()) GTEST_SKIP() << "needs Xvfb: " << probe.Error();
  // Orphans of our children come to us, so the server left by the killed child can be waited
  // for here instead of by init.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A test process that starts its server and then crashes: no destructor runs.
    close(fds[0]);
    TXvfb server(64, 48);
    const int pid = server.Pid();
    if (write(fds[1], &pid, sizeof pid) != sizeof pid) _exit(1);
    kill(getpid(), SIGKILL);
    _exit(1);
  }
  close(fds[1]);
  int server = -1;
  const bool told = read(fds[0], &server, sizeof server) == sizeof server;
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
  ASSERT_TRUE(told && server > 0) << "the child did not start a server";
  const bool ended = Reaped(server, 10000);
  if (!ended) {
    kill(server, SIGKILL);
    waitpid(server, nullptr, 0);
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0);
  EXPECT_TRUE(ended) << "Xvfb " << server << " outlived the process that started it";
}

}  // namespace
}  // namespace kestrova::testing
