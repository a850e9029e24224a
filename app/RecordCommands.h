// The record command with the segment movies made by a factory of the caller's (tests put one
// in that fails as a full disk would).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "recorder/SegmentMovie.h"

namespace kestrova {

int RecordCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                  const TSegmentMovieFactory& movieFactory);

}  // namespace kestrova
