// A recording's folder as recovery sees it: the finished segments (captureN.swf), the segment a
// crash or a failed write left unfinished (captureN.swf.body.part, its frames without a header),
// the stage the recording was made on, and the clean-up that removes a segment only once its
// frames are in an output that was written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recorder/Output.h"

namespace kestrova {

// Kept in the folder from the recording's first frame on: an unfinished segment has no header
// of its own to tell its stage.
inline constexpr const char* kStageFileName = "stage.txt";
inline constexpr const char* kBodyPartSuffix = ".body.part";

struct TRecordingStage {
  std::int32_t Width = 0, Height = 0;  // pixels
};

// Writes the stage file; false when it cannot be written (recovery then falls back to the stage
// of a finished segment).
bool WriteRecordingStage(const std::string& folder, const TRecordingStage& stage);
// The stage file's stage, else a finished segment's, else nothing.
std::optional<TRecordingStage> ReadRecordingStage(const std::string& folder);

// What was made of an unfinished segment's body.
struct TSalvagedBody {
  std::uint32_t FramesKept = 0;    // complete frames copied
  std::uint64_t BytesDropped = 0;  // of the frame a crash or a failed write cut off
  bool Finished = false;           // the body ended with its End tag
};

// Copies the complete frames of a body (the tags a streamed segment wrote before it was cut off)
// into copyName as a plain movie of its own, behind a header for the stage at 12 frames a
// second and the given version. Throws EStreamError when the body cannot be read or the copy
// cannot be written; a body holding no complete frame writes no copy.
TSalvagedBody SalvageBody(const std::string& bodyFileName, const std::string& copyName,
                          const TRecordingStage& stage, std::uint8_t version);

// One segment of a recording, finished or not, as the join is to be given it.
struct TRecordingPiece {
  std::int32_t Number = 0;
  std::vector<std::string> Sources;  // its files in the folder, removed once it is joined
  std::string Input;                 // what the join reads (empty: nothing readable)
  std::optional<std::uint16_t> Frames;
  bool Unfinished = false;
  TSalvagedBody Salvage;
};

struct TGatheredRecording {
  std::vector<TRecordingPiece> Pieces;  // in the order of their numbers
  std::vector<std::string> Temporary;   // salvaged copies beside the output, removed afterwards
  std::vector<std::string> Warnings;    // one per unfinished segment, what it kept and lost
  // The join's inputs: the pieces with something readable.
  std::vector<TSegmentInput> Inputs() const;
};

// The segments of the folder, in the order of their numbers; unfinished ones are salvaged into
// temporary copies beside outputName (never inside the folder, whose disk may be the full one).
// countedFrames[N-1], when given, is the number of frames the capture loop counted for
// segment N.
TGatheredRecording GatherRecording(const std::string& folder, const std::string& outputName,
                                   const std::vector<std::int32_t>& countedFrames = {});

// After a join of recording.Inputs() (result: its result; none when it failed): removes the
// temporary copies, and the files of each piece the join says it joined, and the folder once
// nothing of the recording is left in it. Files the output consists of are never removed.
// Returns the pieces kept (not joined, or holding nothing readable).
std::vector<const TRecordingPiece*> CleanUpRecording(const std::string& folder,
                                                     const TGatheredRecording& recording,
                                                     const TOutputResult* result);

// Whether path names something inside folder (or folder itself), links resolved.
bool IsInsideFolder(const std::string& path, const std::string& folder);

}  // namespace kestrova
