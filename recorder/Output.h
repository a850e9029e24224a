// The output files: the segments of a recording joined into a movie (or, when one movie cannot
// hold them, a movie and its continuations Name-2.swf, Name-3.swf...), and the HTML page beside
// it. The join holds one segment at a time, so a recording of any length joins in bounded memory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kestrova {

class TSWFDoAction;

// What one output movie may hold before the output goes on in the next one: character ids are
// 16 bits, the frame count is 16 bits and the file length 32 bits.
struct TOutputLimits {
  std::uint32_t MaxCharacterIds = 65535;
  std::uint32_t MaxFrames = 65535;
  std::uint64_t MaxFileLength = 0xFFFFFFFFull;
};

struct TSegmentInput {
  std::string FileName;
  // The frames the capture loop counted; when unknown the file's own frame count is used.
  std::optional<std::uint16_t> Frames;
};

// What the join does with an input it cannot take whole: RefuseDamaged (files a user names) fails
// the whole join naming the file, the offset and the reason; KeepReadable (a recording's own
// segments) keeps the complete frames of a cut segment, up to its last complete ShowFrame, skips
// one that holds none, and says so.
enum class TJoinPolicy { RefuseDamaged, KeepReadable };

// What became of one input.
struct TJoinedInput {
  std::string FileName;
  std::uint32_t FramesKept = 0, FramesDropped = 0;
  // Its frames are in an output that was written, synced to disk and read back.
  bool Joined = false;
  // Why frames were dropped or the input left out (empty when it was taken whole).
  std::string Problem;
};

struct TOutputResult {
  std::vector<std::string> Movies;  // the movie and its continuations, in order
  std::string Page;
  std::vector<std::string> Warnings;  // segments skipped or cut, and why
  std::uint32_t SegmentsJoined = 0;
  std::uint64_t Frames = 0;
  std::int32_t StageWidth = 0, StageHeight = 0;  // pixels
  std::vector<TJoinedInput> Inputs;              // one per input, in order
};

// What `kestrova join` asks of the join beyond what a recording needs.
struct TJoinOptions {
  // The rate of the first input instead of the recorder's 12 fps, with a warning for each input
  // of another rate or SWF version.
  bool RateOfFirstInput = false;
  // A stage as large as the largest input (when the given size is 0) instead of the first's.
  bool StageOfLargestInput = false;
  // Each warning and progress line as it happens (they are also kept in the result).
  std::function<void(const std::string& line)> OnMessage;
};

// What the header and tag index of a segment file tell.
struct TSegmentSummary {
  bool Valid = false;  // a SWF file
  std::uint16_t FrameCount = 0;
  std::uint32_t FileLength = 0;                  // uncompressed, from the header
  std::int32_t StageWidth = 0, StageHeight = 0;  // pixels
  std::uint32_t Characters = 0;                  // ids its definitions use
};

// Reads a segment file through the project's reader. Throws EStreamError when the file cannot be
// read whole (a segment cut off by a crash, whose data ends before its header says).
TSegmentSummary SummariseSegment(const std::string& fileName);

// The one join of the program (record, recover and join): joins the inputs, in order, each as a
// sprite shown for its frames, and writes the page (player/WebPage.h: it plays the parts in the
// web player that webPlayerURL names, and links them). Each segment's sprite is
// removed when the next one is placed, and the last one stays: the movie ends on the recording's
// last picture rather than on an empty stage. The stage is the given size (or, when 0, the first
// readable input's, or the largest input's for join). Damaged inputs are handled by the policy.
// When the output is split, the last frame of each part but the last loads the next part
// (LoadNextPartAction). The web player is the page's (player/WebPage.h); a local one is looked
// for before the join starts. The movies and the page are written to temporary files beside their
// names, synced, and the movies read back; only when all of them are complete are they renamed into
// place, so on any failure the files that were there before are as they were. Throws
// std::runtime_error naming the file, offset and reason for an input refused, std::invalid_argument
// for an output name whose page would have the same name, std::runtime_error when no input could be
// read or a local web player is not found, and EStreamError or std::runtime_error when an output
// cannot be written. The inputs are never touched.
TOutputResult WriteOutputFiles(const std::vector<TSegmentInput>& segments, std::int32_t stageWidth,
                               std::int32_t stageHeight, const std::string& outputName,
                               const TOutputLimits& limits = {},
                               const std::string& webPlayerURL = {},
                               TJoinPolicy policy = TJoinPolicy::KeepReadable,
                               const TJoinOptions& options = {});

// Name.swf for part 1, Name-2.swf, Name-3.swf... after it.
std::string PartFileName(const std::string& outputName, std::uint32_t part);

// A part's name as a URL relative to the part before it (they stand in one folder): the name
// beside the page, with the bytes a URL parser would drop or read otherwise (controls, spaces,
// '#', '?', '%', '\', '"', bytes past ASCII) percent-encoded, and "./" before a name that
// would read as a scheme.
std::string PartURL(const std::string& partFileName);

// The action on the last frame of every part but the last: load the next part into level 0, so
// that any player goes on with it as one movie, without a click.
std::unique_ptr<TSWFDoAction> LoadNextPartAction(const std::string& nextPartFileName);

// The segment files of a recording folder ("captureN.swf"), in the order of N.
std::vector<std::string> ListSegmentFiles(const std::string& folder);

}  // namespace kestrova
