#include "recorder/RecordingFolder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/Platform.h"
#include "swfobjects/SWFObject.h"
#include "swfstreams/SWFStreams.h"
#include "swftools/SafeFile.h"
#include "swftools/Stream.h"

namespace kestrova {

namespace fs = std::filesystem;

namespace {

// The version the recorder's segments are written at, for an unfinished segment of a recording
// with no finished one to take it from.
constexpr std::uint8_t kSegmentVersion = 6;
constexpr std::uint32_t kFramesPerSecond = 12;

// A header and nothing else: the body is copied behind it as it is.
class THeaderOnly : public TBasedSWFStream {
 public:
  using TBasedSWFStream::TBasedSWFStream;
  void MakeStream() override {}
};

std::string Seconds(std::uint64_t frames) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(frames) / kFramesPerSecond);
  return text;
}

// "captureN.swf" and "captureN.swf.body.part" give N; anything else 0.
std::int32_t SegmentNumber(const std::string& name, bool bodyPart) {
  const std::string tail = bodyPart ? std::string(".swf") + kBodyPartSuffix : ".swf";
  if (name.size() <= 7 + tail.size() || name.rfind("capture", 0) != 0 ||
      name.compare(name.size() - tail.size(), tail.size(), tail) != 0) {
    return 0;
  }
  const std::string digits = name.substr(7, name.size() - 7 - tail.size());
  if (digits.size() > 9 || digits[0] == '0' ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  return static_cast<std::int32_t>(std::stol(digits));
}

// The version byte of a finished segment of the folder, else the recorder's.
std::uint8_t SegmentVersion(const std::string& folder) {
  for (const std::string& segment : ListSegmentFiles(folder)) {
    std::ifstream in(segment, std::ios::binary);
    char lead[4] = {};
    if (in.read(lead, 4) && (lead[0] == 'F' || lead[0] == 'C') && lead[1] == 'W' &&
        lead[2] == 'S' && lead[3] > 0) {
      return static_cast<std::uint8_t>(lead[3]);
    }
  }
  return kSegmentVersion;
}

// A name beside the output that nothing has yet, for a salvaged copy of segment number.
std::string CopyName(const std::string& outputName, std::int32_t number) {
  const fs::path output = fs::absolute(outputName);
  const std::string stem =
      "." + output.filename().string() + ".capture" + std::to_string(number) + ".salvaged";
  for (int attempt = 0;; ++attempt) {
    const fs::path candidate =
        output.parent_path() / (stem + (attempt ? "-" + std::to_string(attempt) : "") + ".swf");
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate.string();
  }
}

void SalvagePiece(TRecordingPiece& piece, const std::string& body, const std::string& outputName,
                  const std::optional<TRecordingStage>& stage, std::uint8_t version,
                  TGatheredRecording& into) {
  const std::string segment = "capture" + std::to_string(piece.Number) + ".swf";
  if (!stage) {
    into.Warnings.push_back(segment +
                            " was not finished and the recording's stage size is not known: "
                            "nothing of it could be read, it is kept");
    return;
  }
  const std::string copy = CopyName(outputName, piece.Number);
  try {
    piece.Salvage = SalvageBody(body, copy, *stage, version);
  } catch (const std::exception& e) {
    into.Warnings.push_back(segment + " was not finished and could not be read (" + e.what() +
                            "): it is kept");
    return;
  }
  if (piece.Salvage.FramesKept == 0) {
    into.Warnings.push_back(segment +
                            " was not finished and holds no complete frame: nothing of it could "
                            "be read, it is kept");
    return;
  }
  into.Temporary.push_back(copy);
  piece.Input = copy;
  std::string warning = segment + " was not finished (the recording was cut off there): its " +
                        std::to_string(piece.Salvage.FramesKept) + " complete frames (" +
                        Seconds(piece.Salvage.FramesKept) + ") are kept";
  if (piece.Frames && *piece.Frames > piece.Salvage.FramesKept) {
    const std::uint32_t lost = *piece.Frames - piece.Salvage.FramesKept;
    warning +=
        "; the last " + std::to_string(lost) + " frames (" + Seconds(lost) + ") could not be read";
  } else if (!piece.Salvage.Finished) {
    warning += "; what was recorded after them could not be read";
  }
  into.Warnings.push_back(warning);
  piece.Frames.reset();  // the copy's header counts what it holds
}

}  // namespace

bool WriteRecordingStage(const std::string& folder, const TRecordingStage& stage) {
  std::ofstream out(fs::path(folder) / kStageFileName, std::ios::trunc);
  out << stage.Width << ' ' << stage.Height << '\n';
  out.close();
  return static_cast<bool>(out);
}

std::optional<TRecordingStage> ReadRecordingStage(const std::string& folder) {
  std::ifstream in(fs::path(folder) / kStageFileName);
  TRecordingStage stage;
  if (in >> stage.Width >> stage.Height && stage.Width > 0 && stage.Height > 0 &&
      stage.Width <= 0x7FFF && stage.Height <= 0x7FFF) {
    return stage;
  }
  for (const std::string& segment : ListSegmentFiles(folder)) {
    try {
      const TSegmentSummary s = SummariseSegment(segment);
      if (s.Valid && s.StageWidth > 0 && s.StageHeight > 0) {
        return TRecordingStage{s.StageWidth, s.StageHeight};
      }
    } catch (const std::exception&) {
    }
  }
  return std::nullopt;
}

TSalvagedBody SalvageBody(const std::string& bodyFileName, const std::string& copyName,
                          const TRecordingStage& stage, std::uint8_t version) {
  TFileStream body(bodyFileName, TFileStream::Mode::Read);
  const std::uint64_t size = body.Size();
  TSalvagedBody result;
  std::uint64_t position = 0, framesEnd = 0;
  TSWFRecordHeader header;
  // Records are walked by their headers alone: a record that runs past the end of the file was
  // being written when the recording was cut off, and everything from the last whole frame on is
  // left out.
  while (result.FramesKept < 0xFFFF && ReadRecordHeader(body, header)) {
    const std::uint64_t end = position + header.Size() + header.Length;
    if (end > size) break;
    position = end;
    if (header.TagID == 0) {
      result.Finished = true;
      break;
    }
    if (header.TagID == 1) {
      ++result.FramesKept;
      framesEnd = position;
    }
    body.SetPosition(position);
  }
  result.BytesDropped = result.Finished ? 0 : size - framesEnd;
  if (result.FramesKept == 0) return result;
  THeaderOnly movie(0, 0, stage.Width * 20, stage.Height * 20, 12, false);
  movie.SetCompressed(false);
  movie.SetVersion(version);
  movie.FrameCount = static_cast<std::uint16_t>(result.FramesKept);
  SaveFileSafely(copyName, [&](TStream& out) {
    movie.SaveToStream(out, framesEnd + 2, [&](TStream& to) {
      body.SetPosition(0);
      to.CopyFrom(body, framesEnd);
      const std::uint8_t end[2] = {0, 0};
      to.Write(end, 2);
    });
  });
  return result;
}

std::vector<TSegmentInput> TGatheredRecording::Inputs() const {
  std::vector<TSegmentInput> inputs;
  for (const TRecordingPiece& piece : Pieces) {
    if (!piece.Input.empty()) inputs.push_back({piece.Input, piece.Frames});
  }
  return inputs;
}

TGatheredRecording GatherRecording(const std::string& folder, const std::string& outputName,
                                   const std::vector<std::int32_t>& countedFrames) {
  std::map<std::int32_t, TRecordingPiece> pieces;
  auto counted = [&](std::int32_t number) -> std::optional<std::uint16_t> {
    const auto index = static_cast<std::size_t>(number - 1);
    if (index >= countedFrames.size()) return std::nullopt;
    return static_cast<std::uint16_t>(countedFrames[index] & 0xFFFF);
  };
  for (const std::string& segment : ListSegmentFiles(folder)) {
    const std::int32_t number = SegmentNumber(fs::path(segment).filename().string(), false);
    TRecordingPiece& piece = pieces[number];
    piece.Number = number;
    piece.Sources.push_back(segment);
    piece.Input = segment;
    piece.Frames = counted(number);
  }
  std::map<std::int32_t, std::string> bodies;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::int32_t number = SegmentNumber(entry.path().filename().string(), true);
    if (number > 0 && entry.is_regular_file(ec)) bodies[number] = entry.path().string();
  }
  TGatheredRecording recording;
  std::optional<TRecordingStage> stage;
  std::optional<std::uint8_t> version;
  for (const auto& [number, body] : bodies) {
    TRecordingPiece& piece = pieces[number];
    piece.Number = number;
    piece.Sources.push_back(body);
    // A segment saved whole makes its body a leftover, removed with it.
    if (!piece.Input.empty()) continue;
    piece.Unfinished = true;
    piece.Frames = counted(number);
    if (!version) {
      stage = ReadRecordingStage(folder);
      version = SegmentVersion(folder);
    }
    SalvagePiece(piece, body, outputName, stage, *version, recording);
  }
  for (auto& [number, piece] : pieces) recording.Pieces.push_back(std::move(piece));
  return recording;
}

std::vector<const TRecordingPiece*> CleanUpRecording(const std::string& folder,
                                                     const TGatheredRecording& recording,
                                                     const TOutputResult* result) {
  std::error_code ec;
  for (const std::string& copy : recording.Temporary) fs::remove(copy, ec);
  auto partOfOutput = [&](const std::string& file) {
    if (result == nullptr) return false;
    std::vector<std::string> outputs = result->Movies;
    outputs.push_back(result->Page);
    return std::any_of(outputs.begin(), outputs.end(), [&](const std::string& o) {
      std::error_code e;
      return !o.empty() && fs::equivalent(file, o, e);
    });
  };
  std::vector<const TRecordingPiece*> kept;
  std::size_t input = 0;
  for (const TRecordingPiece& piece : recording.Pieces) {
    bool joined = false;
    if (!piece.Input.empty()) {
      joined = result != nullptr && input < result->Inputs.size() && result->Inputs[input].Joined &&
               result->Inputs[input].FileName == piece.Input;
      ++input;
    }
    if (!joined) {
      kept.push_back(&piece);
      continue;
    }
    for (const std::string& source : piece.Sources) {
      if (!partOfOutput(source)) fs::remove(source, ec);
    }
  }
  if (kept.empty() && result != nullptr) {
    fs::remove(fs::path(folder) / kStageFileName, ec);
    fs::remove(fs::path(folder) / platform::kFolderLockName, ec);
    fs::remove(folder, ec);  // only when nothing else is in it
  }
  return kept;
}

bool IsInsideFolder(const std::string& path, const std::string& folder) {
  std::error_code ec;
  const fs::path p = fs::weakly_canonical(fs::absolute(path), ec);
  const fs::path f = fs::weakly_canonical(fs::absolute(folder), ec);
  auto pi = p.begin();
  for (auto fi = f.begin(); fi != f.end(); ++fi, ++pi) {
    if (fi->empty()) continue;  // a trailing separator
    if (pi == p.end() || *pi != *fi) return false;
  }
  return true;
}

}  // namespace kestrova
