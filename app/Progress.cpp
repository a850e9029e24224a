#include "app/Progress.h"

#include <algorithm>

namespace kestrova {

TProgress::TProgress(std::ostream& err, std::string what, std::uint64_t total, bool quiet)
    : FErr(err), FWhat(std::move(what)), FTotal(total), FQuiet(quiet) {}

TProgress::~TProgress() {
  Finish();
}

void TProgress::Update(std::uint64_t done, const std::string& detail) {
  if (FQuiet) return;
  if (FTotal == 0) {
    FErr << FWhat << ": " << done << (detail.empty() ? "" : " " + detail) << "\n";
    return;
  }
  const int percent = static_cast<int>(std::min<std::uint64_t>(100, done * 100 / FTotal));
  if (percent == FLast) return;
  FLast = percent;
  const int bar = percent * 30 / 100;
  FErr << "\r" << FWhat << " [" << std::string(bar, '#') << std::string(30 - bar, ' ') << "] "
       << percent << "% (" << done << "/" << FTotal << ")" << (detail.empty() ? "" : " " + detail)
       << std::flush;
}

void TProgress::Finish(const std::string& summary) {
  if (FFinished || FQuiet) return;
  FFinished = true;
  if (FLast >= 0) FErr << "\n";
  if (!summary.empty()) FErr << summary << "\n";
}

}  // namespace kestrova
