// The capture path alone: full-screen captures of an X display at the recorder's pace, with the
// levers that make them cheap switched on or off.
//   x11_grab_bench DISPLAY SECONDS [--no-shm] [--no-damage]
// Prints one line: captures, captures per second, CPU milliseconds per capture and per recorded
// second, blocks changed and kept, and the peak resident memory.
#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/x11/X11Grabber.h"

using namespace kestrova;
using namespace kestrova::platform;
using namespace kestrova::platform::x11;

namespace {

double Seconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: x11_grab_bench DISPLAY SECONDS [--no-shm] [--no-damage]\n");
    return 2;
  }
  bool shm = true, damage = true;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-shm") == 0) shm = false;
    if (std::strcmp(argv[i], "--no-damage") == 0) damage = false;
  }
  const double seconds = std::atof(argv[2]);
  try {
    TX11Display display(argv[1]);
    TX11Grabber grabber(display, shm);
    grabber.SetUseDamage(damage);
    const TScreenRect screen{0, 0, display.Width(), display.Height()};
    TDIBitmap frame;
    TDamage changed;
    const double start = Seconds(CLOCK_MONOTONIC), cpuStart = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    // The recorder's pace: a grab, then about 100 ms of sleep.
    while (Seconds(CLOCK_MONOTONIC) - start < seconds) {
      if (!grabber.Capture(0, screen, frame, changed)) {
        std::fprintf(stderr, "x11_grab_bench: a grab failed\n");
        return 1;
      }
      timespec pause{0, 100 * 1000000L};
      nanosleep(&pause, nullptr);
    }
    const double wall = Seconds(CLOCK_MONOTONIC) - start;
    const double cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const TX11GrabStats& s = grabber.Stats();
    std::printf(
        "shm=%d damage=%d grabs=%llu grabs/s=%.2f cpu_ms/grab=%.2f "
        "cpu_s/s=%.4f changed=%llu kept=%llu skipped=%llu peak_kb=%ld\n",
        grabber.UsingShm(), grabber.UsingDamage(), static_cast<unsigned long long>(s.Grabs),
        s.Grabs / wall, cpu * 1000 / static_cast<double>(s.Grabs), cpu / wall,
        static_cast<unsigned long long>(s.BlocksChanged),
        static_cast<unsigned long long>(s.BlocksKept),
        static_cast<unsigned long long>(s.FetchesSkipped), usage.ru_maxrss);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "x11_grab_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
