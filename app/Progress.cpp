#include "app/Progress.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#define KESTROVA_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define KESTROVA_ISATTY(fd) isatty(fd)
#endif

namespace kestrova {

namespace {

using namespace std::chrono_literals;

// "1:05" or "1:02:03".
std::string Clock(std::chrono::steady_clock::duration d) {
  const auto s = std::chrono::duration_cast<std::chrono::seconds>(d).count();
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
  }
  return text;
}

}  // namespace

bool TProgress::IsTerminal(const std::ostream& err) {
  return (&err == &std::cerr || &err == &std::clog) && KESTROVA_ISATTY(2);
}

TProgress::TProgress(std::ostream& err, std::string what, std::uint64_t total, bool quiet)
    : TProgress(err, std::move(what), total, quiet, IsTerminal(err) ? TStyle::Bar : TStyle::Lines) {
}

TProgress::TProgress(std::ostream& err, std::string what, std::uint64_t total, bool quiet,
                     TStyle style, TClock clock)
    : FErr(err),
      FWhat(std::move(what)),
      FTotal(total),
      FQuiet(quiet),
      FStyle(style),
      FClock(std::move(clock)),
      FStart(FClock()),
      FLastShown(FStart) {}

TProgress::~TProgress() {
  Finish();
}

// "45% (123/456), 0:42 left NOTE" with a total; "123 NOTE, 0:42" (the time so far) without.
std::string TProgress::Figures(std::uint64_t done, const std::string& detail,
                               std::chrono::steady_clock::duration elapsed) const {
  const std::string note = detail.empty() ? "" : " " + detail;
  if (FTotal == 0) return std::to_string(done) + note + ", " + Clock(elapsed);
  done = std::min(done, FTotal);
  std::string text = std::to_string(done * 100 / FTotal) + "% (" + std::to_string(done) + "/" +
                     std::to_string(FTotal) + ")";
  // The rate so far says how long the rest takes; under a second it is too rough to say.
  if (done > 0 && done < FTotal && elapsed >= 1s) {
    const auto left = elapsed * static_cast<double>(FTotal - done) / static_cast<double>(done);
    text += ", " + Clock(std::chrono::duration_cast<std::chrono::steady_clock::duration>(left)) +
            " left";
  }
  return text + note;
}

void TProgress::Update(std::uint64_t done, const std::string& detail) {
  if (FQuiet || FFinished) return;
  const auto now = FClock();
  const int step =
      FTotal == 0
          ? -1
          : static_cast<int>(std::min(done, FTotal) * (FStyle == TStyle::Bar ? 100 : 10) / FTotal);
  const bool stepped = FTotal != 0 && step != FLastStep;
  // Lines: a whole tenth, or a second since the last line; a bar: each hundredth, and its clock
  // a few times a second.
  const auto every = FStyle == TStyle::Bar ? 200ms : 1000ms;
  if (!stepped && !(FShown ? now - FLastShown >= every : now - FStart >= every)) return;
  FLastStep = step;
  FLastShown = now;
  FShown = true;
  const std::string figures = Figures(done, detail, now - FStart);
  if (FStyle == TStyle::Lines) {
    FErr << FWhat << ": " << figures << "\n" << std::flush;
    return;
  }
  std::string line = FWhat + " ";
  if (FTotal != 0) {
    const std::size_t filled = static_cast<std::size_t>(std::min(done, FTotal) * 30 / FTotal);
    line += "[" + std::string(filled, '#') + std::string(30 - filled, ' ') + "] ";
  }
  line += figures;
  // A line wider than the terminal would wrap, and "\r" would then redraw only its last row: a
  // long note (a file name) keeps its end.
  constexpr std::size_t kWidth = 79;
  if (line.size() > kWidth)
    line = line.substr(0, kWidth - 20) + "..." + line.substr(line.size() - 17);
  // A shorter line than the last one leaves nothing of it behind.
  const std::size_t width = line.size();
  if (width < FBarWidth) line += std::string(FBarWidth - width, ' ');
  FBarWidth = width;
  FErr << "\r" << line << std::flush;
}

void TProgress::Finish(const std::string& summary) {
  if (FFinished || FQuiet) return;
  FFinished = true;
  if (FShown && FStyle == TStyle::Bar) FErr << "\n";
  if (!summary.empty()) FErr << summary << "\n";
}

}  // namespace kestrova
