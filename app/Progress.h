// The one progress reporter of the commands: long work (exports, frames, recordings) reports
// through it, so every command shows progress the same way.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace kestrova {

class TProgress {
 public:
  // what: the work's name at the start of each report. total: units of work, 0 when unknown (a
  // recording until Ctrl+C). quiet: nothing is shown.
  TProgress(std::ostream& err, std::string what, std::uint64_t total, bool quiet = false);
  ~TProgress();
  TProgress(const TProgress&) = delete;
  TProgress& operator=(const TProgress&) = delete;
  // done units so far; detail: a short note after the figures (a file name, a size).
  void Update(std::uint64_t done, const std::string& detail = {});
  // Ends the report with a last line (nothing when empty).
  void Finish(const std::string& summary = {});

 private:
  std::ostream& FErr;
  std::string FWhat;
  std::uint64_t FTotal;
  bool FQuiet;
  int FLast = -1;
  bool FFinished = false;
};

}  // namespace kestrova
