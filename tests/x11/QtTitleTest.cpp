// The tool window's title under a real window manager (openbox on a private Xvfb): the caption is
// drawn whole, not cut to "Kest... 1.1". The windows are shown by this program run again in a
// process of its own with Qt on the X server (the rest of this program's Qt is offscreen).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <vector>

#include "WindowManager.h"
#include "Xvfb.h"
#include "platform/qt/QtUserInterface.h"

// Xlib last: its macros (None, Bool, Status) break the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace kestrova::platform::qt {
namespace {

using kestrova::testing::TWindowManager;
using kestrova::testing::TXvfb;

// In the process of its own: the tool window, a wide window of the same kind and title (what the
// title looks like whole), the same at the form's 172 pixels (what a cut title looks like), and a
// window that takes the focus so that all three are drawn alike, inactive. Prints their ids, then
// keeps them up until its standard input ends.
TEST(QtTitleWindows, Show) {
  if (std::getenv("KESTROVA_QT_TEST_DISPLAY") == nullptr) {
    GTEST_SKIP() << "shown by QtTitleUnderOpenbox in a process of its own";
  }
  TQtUserInterface ui;
  QWidget* tool = ui.ToolWidget();
  tool->move(10, 30);
  ui.ToolWindow().Show();
  const auto same = [tool](int width, int y) {
    auto w = std::make_unique<QWidget>();
    w->setWindowFlags(tool->windowFlags());
    w->setWindowTitle(tool->windowTitle());
    w->setFixedSize(width, 30);
    w->move(10, y);
    w->show();
    return w;
  };
  // Below the tool window (270 pixels tall with its own choices), none overlapping another.
  const auto whole = same(560, 340);
  const auto cut = same(172, 410);
  QWidget focus;
  focus.setWindowTitle("focus");
  focus.setFixedSize(100, 60);
  focus.move(400, 30);
  focus.show();
  for (QWidget* w : {tool, whole.get(), cut.get(), &focus}) {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  }
  focus.activateWindow();
  std::printf("\nwindows %lu %lu %lu\n", static_cast<unsigned long>(tool->winId()),
              static_cast<unsigned long>(whole->winId()), static_cast<unsigned long>(cut->winId()));
  std::fflush(stdout);
  for (int waited = 0; waited < 30000; waited += 50) {
    pollfd in{0, POLLIN, 0};
    if (poll(&in, 1, 0) > 0) break;  // the test is done with us
    QTest::qWait(50);
  }
}

// The process showing the windows, its output read and its input held.
class TShower {
 public:
  explicit TShower(const std::string& display) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    const pid_t parent = getpid();
    FPid = fork();
    if (FPid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent) _exit(127);
      dup2(in[0], 0);
      dup2(out[1], 1);
      setenv("KESTROVA_QT_TEST_DISPLAY", display.c_str(), 1);
      execl("/proc/self/exe", "x11_tests", "--gtest_filter=QtTitleWindows.Show",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    FInput = in[1];
    FOutput = out[0];
  }
  ~TShower() {
    if (FInput >= 0) close(FInput);
    if (FOutput >= 0) close(FOutput);
    if (FPid > 0) {
      int status = 0;
      for (int i = 0; i < 100 && waitpid(FPid, &status, WNOHANG) == 0; ++i) usleep(50000);
      if (waitpid(FPid, &status, WNOHANG) == 0) {
        kill(FPid, SIGKILL);
        waitpid(FPid, &status, 0);
      }
    }
  }
  TShower(const TShower&) = delete;
  TShower& operator=(const TShower&) = delete;

  // The window ids it printed; nothing when it printed none in 20 s.
  std::optional<std::vector<unsigned long>> Windows() {
    std::string text;
    char buffer[4096];
    for (int waited = 0; waited < 20000;) {
      pollfd p{FOutput, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) {
        waited += 100;
        continue;
      }
      const ssize_t n = read(FOutput, buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
      const std::size_t at = text.find("\nwindows ");
      if (at != std::string::npos && text.find('\n', at + 1) != std::string::npos) {
        std::istringstream line(text.substr(at + 9));
        std::vector<unsigned long> ids(3);
        if (line >> ids[0] >> ids[1] >> ids[2]) return ids;
        break;
      }
    }
    return std::nullopt;
  }

 private:
  pid_t FPid = -1;
  int FInput = -1, FOutput = -1;
};

// A column of a window's title bar: its pixels from top to bottom.
using TColumn = std::vector<unsigned long>;

// The columns of the title bar (the frame above the client, borders left out) of the window
// as the screen shows it now.
std::vector<TColumn> TitleColumns(Display* d, Window w) {
  Window child = 0;
  int x = 0, y = 0;
  XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &x, &y, &child);
  XWindowAttributes a{};
  XGetWindowAttributes(d, w, &a);
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  long extents[4] = {0, 0, 0, 0};  // left, right, top, bottom
  if (XGetWindowProperty(d, w, XInternAtom(d, "_NET_FRAME_EXTENTS", False), 0, 4, False,
                         XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
      count == 4) {
    for (int i = 0; i < 4; ++i) extents[i] = reinterpret_cast<long*>(data)[i];
  }
  if (data != nullptr) XFree(data);
  const int left = x - static_cast<int>(extents[0]) + 1;
  const int right = x + a.width + static_cast<int>(extents[1]) - 1;
  const int top = y - static_cast<int>(extents[2]) + 1;
  if (extents[2] < 4 || right <= left) return {};
  XImage* image = XGetImage(d, DefaultRootWindow(d), left, top, static_cast<unsigned>(right - left),
                            static_cast<unsigned>(y - top), AllPlanes, ZPixmap);
  if (image == nullptr) return {};
  std::vector<TColumn> columns(static_cast<std::size_t>(right - left));
  for (int cx = 0; cx < right - left; ++cx) {
    for (int cy = 0; cy < y - top; ++cy) columns[cx].push_back(XGetPixel(image, cx, cy));
  }
  XDestroyImage(image);
  return columns;
}

// The columns of the title's text in the wide window: those that differ from the plain title
// bar, looked for in its middle, far from the buttons.
std::vector<TColumn> TextColumns(const std::vector<TColumn>& wide) {
  const std::size_t middle = wide.size() / 2;
  if (middle < 150) return {};
  const TColumn& plain = wide[middle - 150];
  std::size_t first = 0, last = 0;
  for (std::size_t c = middle - 150; c < middle + 150; ++c) {
    if (wide[c] == plain) continue;
    if (first == 0) first = c;
    last = c;
  }
  if (first == 0) return {};
  return {wide.begin() + static_cast<std::ptrdiff_t>(first),
          wide.begin() + static_cast<std::ptrdiff_t>(last) + 1};
}

// The whole title drawn somewhere in the title bar.
bool ShowsWhole(const std::vector<TColumn>& bar, const std::vector<TColumn>& text) {
  if (text.empty() || bar.size() < text.size()) return false;
  for (std::size_t at = 0; at + text.size() <= bar.size(); ++at) {
    if (std::equal(text.begin(), text.end(), bar.begin() + static_cast<std::ptrdiff_t>(at))) {
      return true;
    }
  }
  return false;
}

TEST(QtTitleUnderOpenbox, TheToolWindowShowsItsWholeTitle) {
  TXvfb server(640, 480);
  KESTROVA_REQUIRE_XVFB(server);
  TWindowManager manager(server.Name());
  KESTROVA_REQUIRE_WINDOW_MANAGER(manager);
  TShower shower(server.Name());
  const std::optional<std::vector<unsigned long>> ids = shower.Windows();
  ASSERT_TRUE(ids.has_value()) << "the windows were not shown";
  Display* d = XOpenDisplay(server.Name().c_str());
  ASSERT_NE(d, nullptr);
  // The manager draws its frames in its own time.
  std::vector<TColumn> tool, whole, cut, text;
  for (int waited = 0; waited < 5000 && (text.empty() || tool.empty()); waited += 100) {
    usleep(100000);
    tool = TitleColumns(d, (*ids)[0]);
    whole = TitleColumns(d, (*ids)[1]);
    cut = TitleColumns(d, (*ids)[2]);
    text = TextColumns(whole);
  }
  XCloseDisplay(d);
  ASSERT_FALSE(text.empty()) << "no title found in the wide window's title bar";
  // The check tells a cut title: at the form's 172 pixels openbox writes "Kest... 1.1".
  EXPECT_FALSE(ShowsWhole(cut, text));
  EXPECT_TRUE(ShowsWhole(tool, text)) << "the tool window's title is cut at " << tool.size()
                                      << " pixels; it needs " << text.size() << " for the text";
}

}  // namespace
}  // namespace kestrova::platform::qt
