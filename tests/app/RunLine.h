// Runs a command line as the program would and keeps what it said, for the app's tests.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "app/Commands.h"

namespace kestrova {

struct TRun {
  int Status;
  std::string Out, Err;
};

inline TRun RunLine(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = RunCommandLine(args, out, err);
  return {status, out.str(), err.str()};
}

}  // namespace kestrova
