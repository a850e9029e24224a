// The segment movie of the program: a TFlashMovie built the way the recorder builds it.
#pragma once

#include "recorder/SegmentMovie.h"

namespace kestrova {

// Movies of 12 frames a second, coordinates in pixels, compressed, on black. Each picture's
// pixel data is deflated as soon as it is added, so a segment holds only compressed pixels;
// streamed (StreamTo), it holds only the frame being built. The movies of one factory share
// the first picture of the last segment (when it holds 256 KB to 4 MB of pixels), whose data a
// later segment takes again when its first picture is the same.
TSegmentMovieFactory FlashSegmentMovieFactory();

}  // namespace kestrova
