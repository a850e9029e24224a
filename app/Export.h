// The export pipeline: a movie played by the project's own player into ffmpeg, with its sound
// mixed into an audio track, and GIF written through a palette made in a first pass.
#pragma once

#include <memory>
#include <ostream>
#include <string>

namespace kestrova {

class TMoviePlayer;

// Loads the movie for playing; on failure says why on err and returns null.
std::unique_ptr<TMoviePlayer> OpenMovie(const std::string& name, std::ostream& err);

struct TExportRequest {
  std::string Input, Output;
  double Scale = 1;    // 0 < Scale <= 16
  bool Quiet = false;  // no progress
};

// Writes the export; returns the exit status (2 for an output kind not written, 1 for any
// failure, said on err). A failed export leaves an earlier output whole.
int RunExport(const TExportRequest& request, std::ostream& out, std::ostream& err);

}  // namespace kestrova
