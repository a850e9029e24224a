// The one progress reporter in its three ways: lines for a log, a bar on a terminal, nothing when
// quiet.
#include <gtest/gtest.h>

#include <sstream>

#include "app/Progress.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;

// A clock that moves only when told, so the reporter's pace is what is tested.
struct TFakeClock {
  std::chrono::steady_clock::time_point Now{};
  TProgress::TClock Clock() {
    return [this] { return Now; };
  }
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(Progress, AStreamThatIsNotATerminalGetsLines) {
  std::ostringstream err;
  EXPECT_FALSE(TProgress::IsTerminal(err));
  TProgress progress(err, "frames", 10);
  for (int i = 1; i <= 10; ++i) progress.Update(i);
  progress.Finish("done");
  EXPECT_EQ(err.str().find('\r'), std::string::npos) << err.str();
  EXPECT_EQ(Lines(err.str()).back(), "done");
}

// A line at each whole tenth however fast the work goes, and one a second between them.
TEST(Progress, LinesComeAtEachTenthAndOnceASecond) {
  TFakeClock clock;
  std::ostringstream err;
  {
    TProgress progress(err, "export", 1000, false, TProgress::TStyle::Lines, clock.Clock());
    for (int i = 1; i <= 1000; ++i) {
      // Frames 301 to 400 take 100 ms each: ten seconds within one tenth.
      if (i > 300 && i <= 400) clock.Now += 100ms;
      progress.Update(i, "f" + std::to_string(i));
    }
    progress.Finish("wrote it");
  }
  const std::vector<std::string> lines = Lines(err.str());
  ASSERT_EQ(lines.size(), 1u + 10 + 9 + 1) << err.str();  // 0 %, tenths, seconds, summary
  EXPECT_EQ(lines[0], "export: 0% (1/1000) f1");
  EXPECT_EQ(lines[1], "export: 10% (100/1000) f100");
  // From a second on, the rate so far gives the time left: 10 s for 400 frames, 600 to go.
  EXPECT_EQ(lines[4], "export: 31% (310/1000), 0:02 left f310");
  EXPECT_EQ(lines[12], "export: 39% (390/1000), 0:14 left f390");
  EXPECT_EQ(lines[13], "export: 40% (400/1000), 0:15 left f400");
  EXPECT_EQ(lines[19], "export: 100% (1000/1000) f1000");
  EXPECT_EQ(lines.back(), "wrote it");
}

// Work of unknown length (a recording): a line a second with the count and the time so far.
TEST(Progress, WithoutATotalLinesComeOnceASecond) {
  TFakeClock clock;
  std::ostringstream err;
  TProgress progress(err, "recording", 0, false, TProgress::TStyle::Lines, clock.Clock());
  for (int frame = 1; frame <= 30; ++frame) {
    clock.Now += 100ms;
    progress.Update(frame, "frames");
  }
  EXPECT_EQ(err.str(),
            "recording: 10 frames, 0:01\nrecording: 20 frames, 0:02\nrecording: 30 frames, 0:03\n");
}

TEST(Progress, ATerminalGetsOneBarRedrawnInPlace) {
  TFakeClock clock;
  std::ostringstream err;
  {
    TProgress progress(err, "frames", 200, false, TProgress::TStyle::Bar, clock.Clock());
    for (int i = 1; i <= 200; ++i) {
      clock.Now += 50ms;
      progress.Update(i, i < 100 ? std::string(100, 'n') + ".png" : "x");
    }
    progress.Finish("Wrote 200");
  }
  const std::string text = err.str();
  const std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), 2u) << text;  // the bar's one line, then the summary
  EXPECT_EQ(lines[1], "Wrote 200");
  // The first update and each hundredth after it redraw the bar; the last drawing is the whole
  // bar.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 101);
  const std::string last = lines[0].substr(lines[0].rfind('\r') + 1);
  EXPECT_EQ(last.rfind("frames [" + std::string(30, '#') + "] 100% (200/200) x", 0), 0u) << last;
  // A shorter drawing covers the longer one before it.
  EXPECT_EQ(last.size(), lines[0].substr(0, lines[0].rfind('\r')).size() -
                             lines[0].substr(0, lines[0].rfind('\r')).rfind('\r') - 1);
  // A long note is cut to keep the bar on one row of a terminal.
  const std::string first = lines[0].substr(1, lines[0].find('\r', 1) - 1);
  EXPECT_EQ(first.size(), 79u) << first;
  EXPECT_EQ(first.substr(first.size() - 7), "nnn.png") << first;
  // Half way, 5 s in: 5 s left.
  EXPECT_NE(text.find("frames [" + std::string(15, '#') + std::string(15, ' ') +
                      "] 50% (100/200), 0:05 left x"),
            std::string::npos)
      << text;
}

TEST(Progress, QuietShowsNothing) {
  for (const TProgress::TStyle style : {TProgress::TStyle::Bar, TProgress::TStyle::Lines}) {
    std::ostringstream err;
    {
      TProgress progress(err, "frames", 10, true, style);
      for (int i = 1; i <= 10; ++i) progress.Update(i);
      progress.Finish("done");
    }
    EXPECT_EQ(err.str(), "");
  }
}

}  // namespace
}  // namespace kestrova
