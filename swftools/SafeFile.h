// Saving a file so that a failed or interrupted save never leaves a half-written file, never
// writes through a link someone planted beside the target, and never turns a device or a pipe
// into a regular file. The movie writer, the file rewriter and the recorder's output all save
// through it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "swftools/Stream.h"

namespace kestrova {

// Saves the bytes that write puts into the stream it is given as the file at path:
// - no file at path, or a regular file: the bytes go to a new temporary file in the same folder,
//   created exclusively under an unpredictable name without following links, flushed to disk and
//   then renamed over path. A replaced regular file keeps its permission bits (and, where the
//   caller may, its owner); a new file gets the usual mode (0666 less the umask). If write throws
//   or anything fails, the temporary file is removed and any earlier file at path is untouched.
// - a symbolic link: the rules apply to the file it finally points at (the link stays a link).
// - a pipe (FIFO) or a character device (/dev/null, a terminal): the bytes are written into it
//   directly; it is not replaced.
// - anything else (a folder, a block device, a socket): refused, nothing is written.
// The stream handed to write is write-only and goes forward only (Position counts the bytes
// written; reading or seeking throws EStreamError).
// Throws EStreamError whose message names path (never the temporary file) and the reason; an
// exception thrown by write itself propagates unchanged once the temporary file is removed.
void SaveFileSafely(const std::string& path, const std::function<void(TStream&)>& write);

// Files that are saved together or not at all (a movie and its page): Stage writes each one as
// SaveFileSafely does but stops before the rename, so the targets are untouched until Commit puts
// every staged file in place. A failure in Commit puts back what was there before (a target that
// did not exist is removed again), as far as the file system allows a second name for the old
// file. Destroyed before Commit, the set removes its temporary files and changes nothing.
class TSafeFileSet {
 public:
  TSafeFileSet() = default;
  TSafeFileSet(const TSafeFileSet&) = delete;
  TSafeFileSet& operator=(const TSafeFileSet&) = delete;
  ~TSafeFileSet();

  // Throws as SaveFileSafely does. Returns the temporary file that holds the bytes until Commit
  // (for reading them back), or an empty string for a pipe or a device, which is written at once.
  std::string Stage(const std::string& path, const std::function<void(TStream&)>& write);
  // Throws EStreamError naming the target that could not be replaced.
  void Commit();

 private:
  struct TStaged {
    std::string Shown, Target, Temporary;
    bool Existed = false;  // a file was there to be replaced
  };
  std::vector<TStaged> FStaged;
};

}  // namespace kestrova
