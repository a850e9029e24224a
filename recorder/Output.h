// The output files: the segments of a recording joined into a movie (or, when one movie cannot
// hold them, a movie and its continuations Name-2.swf, Name-3.swf...), and the HTML page beside
// it. The join holds one segment at a time, so a recording of any length joins in bounded memory.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kestrova {

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

enum class TJoinPolicy { RefuseDamaged, KeepReadable };
struct TJoinedInput {
  std::string FileName;
  std::uint32_t FramesKept = 0, FramesDropped = 0;
  bool Joined = false;
  std::string Problem;
};

struct TOutputResult {
  std::vector<TJoinedInput> Inputs;  // one per input, in order
  std::vector<std::string> Movies;   // the movie and its continuations, in order
  std::string Page;
  std::vector<std::string> Warnings;  // segments skipped, and why
  std::uint32_t SegmentsJoined = 0;
  std::uint64_t Frames = 0;
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

// Joins the segments, in order, and writes the page (player/WebPage.h: it links the
// continuations, and carries the web player's script when webPlayerURL is given). Segments that
// cannot be read are skipped with a warning (the ones before and after are kept); the stage is the
// given size (or the first readable segment's when 0). Throws std::runtime_error or EStreamError
// when an output file cannot be written, and std::runtime_error when no segment could be read;
// files already written are then left as they are, and the segments are never touched.
TOutputResult WriteOutputFiles(const std::vector<TSegmentInput>& segments, std::int32_t stageWidth,
                               std::int32_t stageHeight, const std::string& outputName,
                               const TOutputLimits& limits = {},
                               const std::string& webPlayerURL = {},
                               TJoinPolicy policy = TJoinPolicy::KeepReadable);

// Name.swf for part 1, Name-2.swf, Name-3.swf... after it.
std::string PartFileName(const std::string& outputName, std::uint32_t part);

// The segment files of a recording folder ("captureN.swf"), in the order of N.
std::vector<std::string> ListSegmentFiles(const std::string& folder);

}  // namespace kestrova
