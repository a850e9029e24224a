// The one progress reporter of the commands: long work (exports, frames, recordings) reports
// through it, so every command shows progress the same way: a bar with the time left on a
// terminal, a plain line about once a second (and at each whole 10 %) otherwise, nothing when
// quiet.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace kestrova {

class TProgress {
 public:
  enum class TStyle {
    Bar,    // redrawn in place on a terminal
    Lines,  // one line per report, for logs and pipes
  };
  using TClock = std::function<std::chrono::steady_clock::time_point()>;

  // what: the work's name at the start of each report. total: units of work, 0 when unknown (a
  // recording until Ctrl+C). quiet: nothing is shown. A bar when err is std::cerr or std::clog
  // and standard error is a terminal, lines otherwise.
  TProgress(std::ostream& err, std::string what, std::uint64_t total, bool quiet = false);
  // The same in a style of the caller's choice, timed by clock (tests).
  TProgress(std::ostream& err, std::string what, std::uint64_t total, bool quiet, TStyle style,
            TClock clock = std::chrono::steady_clock::now);
  ~TProgress();
  TProgress(const TProgress&) = delete;
  TProgress& operator=(const TProgress&) = delete;
  // done units so far; detail: a short note after the figures (a file name, a size).
  void Update(std::uint64_t done, const std::string& detail = {});
  // Ends the report with a last line (nothing when empty).
  void Finish(const std::string& summary = {});

  // Whether err shows a bar: std::cerr or std::clog on a terminal.
  static bool IsTerminal(const std::ostream& err);

 private:
  std::string Figures(std::uint64_t done, const std::string& detail,
                      std::chrono::steady_clock::duration elapsed) const;

  std::ostream& FErr;
  std::string FWhat;
  std::uint64_t FTotal;
  bool FQuiet;
  TStyle FStyle;
  TClock FClock;
  std::chrono::steady_clock::time_point FStart;
  std::chrono::steady_clock::time_point FLastShown;
  int FLastStep = -1;         // the last tenth (lines) or hundredth (bar) shown
  std::size_t FBarWidth = 0;  // the columns of the bar last drawn, cleared by the next one
  bool FShown = false;
  bool FFinished = false;
};

}  // namespace kestrova
