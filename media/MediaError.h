// The one error type of the image and sound readers.
#pragma once

#include <stdexcept>

namespace kestrova {

// A file (or an in-memory bitmap) that the media readers cannot take: the message says what is
// wrong and where (the file offset or the field). Errors of the stream layer (a file that cannot
// be opened or read) arrive as EStreamError instead.
class EMediaError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace kestrova
