#include "recorder/Output.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "flashobjects/FlashMovie.h"
#include "player/WebPage.h"
#include "swfstreams/SWFStreams.h"

namespace kestrova {

namespace {

// Tag codes that define one character each (what the import renumbers).
bool DefinesCharacter(int code) {
  static constexpr int kCodes[] = {2,  6,  7,  10, 11, 14, 20, 21, 22, 32,
                                   33, 34, 35, 36, 37, 39, 46, 48, 60};
  return std::find(std::begin(kCodes), std::end(kCodes), code) != std::end(kCodes);
}

struct TPlannedSegment {
  std::string FileName;
  std::uint16_t Frames = 0;
  std::size_t Input = 0;
};

struct TPart {
  std::vector<TPlannedSegment> Segments;
  std::uint64_t Ids = 0, Frames = 0, Length = 0;
};

// Each imported segment costs the sprite's id, its own characters and one id left unused.
std::vector<TPart> Plan(const std::vector<std::pair<TPlannedSegment, TSegmentSummary>>& segments,
                        const TOutputLimits& limits) {
  constexpr std::uint64_t kHeaderAndEnd = 32, kPerSegment = 64;
  std::vector<TPart> parts(1);
  for (const auto& [segment, summary] : segments) {
    const std::uint64_t ids = summary.Characters + 2;
    const std::uint64_t frames = std::max<std::uint16_t>(segment.Frames, 1);
    const std::uint64_t length = summary.FileLength + kPerSegment;
    TPart* part = &parts.back();
    if (!part->Segments.empty() &&
        (part->Ids + ids > limits.MaxCharacterIds || part->Frames + frames > limits.MaxFrames ||
         kHeaderAndEnd + part->Length + length > limits.MaxFileLength)) {
      parts.emplace_back();
      part = &parts.back();
    }
    part->Segments.push_back(segment);
    part->Ids += ids;
    part->Frames += frames;
    part->Length += length;
  }
  return parts;
}

// Writes one movie of the given segments; returns how many it joined (0: nothing written).
std::uint32_t WritePart(const TPart& part, std::int32_t width, std::int32_t height,
                        const std::string& fileName, TOutputResult& result,
                        std::vector<std::size_t>& joinedInputs) {
  TFlashMovie movie(0, 0, width * 20, height * 20, 12, false);
  movie.SetCompressed(true);
  // The body is nearly all pixel data deflated already in the segments: deflating it again at
  // the default level would cost much and save next to nothing.
  movie.DeflateLevel = 1;
  movie.BeginStreaming(fileName);
  std::uint16_t depth = 1;
  std::uint32_t joined = 0;
  std::uint16_t shown = 0;  // the depth of the segment on show; segments start at depth 1
  for (const TPlannedSegment& s : part.Segments) {
    // The segment before goes when the next one comes: after the movie's last frame a removal
    // would belong to no frame, and a web player that runs it anyway shows an empty stage there.
    if (shown != 0) movie.RemoveObject(shown);
    shown = 0;
    TFlashExternalMovie* external = nullptr;
    try {
      external = &movie.AddExternalMovie(s.FileName, TFlashExternalMovie::kModeSprite, true);
    } catch (const EStreamError& e) {
      result.Warnings.push_back(std::string("skipped a damaged segment: ") + e.what());
      result.Inputs[s.Input].Problem = e.what();
      continue;
    }
    joinedInputs.push_back(s.Input);
    movie.PlaceObject(*external->Sprite(), depth);
    movie.ShowFrame(s.Frames);
    shown = depth++;
    ++joined;
    result.Frames += std::max<std::uint16_t>(s.Frames, 1);
  }
  if (joined == 0) return 0;
  movie.MakeStream();
  movie.SaveToFile(fileName);
  return joined;
}

}  // namespace

TSegmentSummary SummariseSegment(const std::string& fileName) {
  TSWFStreamReader reader(fileName);
  TSegmentSummary s;
  s.Valid = reader.IsValid;
  if (!s.Valid) return s;
  // The reader salvages what a cut file holds, but a segment whose end is missing has lost
  // frames its header still counts: it is left out whole rather than joined wrong.
  if (!reader.Warnings.empty()) throw EStreamError("\"" + fileName + "\": " + reader.Warnings[0]);
  reader.ParseTags(false, false);
  s.FrameCount = reader.FrameCount;
  s.FileLength = reader.FileLength();
  s.StageWidth = (reader.FrameSize.Right - reader.FrameSize.Left) / 20;
  s.StageHeight = (reader.FrameSize.Bottom - reader.FrameSize.Top) / 20;
  for (const auto& info : reader.TagList) {
    if (DefinesCharacter(info->TagID)) ++s.Characters;
  }
  return s;
}

TOutputResult WriteOutputFiles(const std::vector<TSegmentInput>& segments, std::int32_t stageWidth,
                               std::int32_t stageHeight, const std::string& outputName,
                               const TOutputLimits& limits, const std::string& webPlayerURL,
                               TJoinPolicy) {
  TOutputResult result;
  std::vector<std::pair<TPlannedSegment, TSegmentSummary>> readable;
  for (const TSegmentInput& in : segments) {
    result.Inputs.push_back(TJoinedInput{in.FileName, 0, 0, false, {}});
    const std::size_t index = result.Inputs.size() - 1;
    try {
      const TSegmentSummary s = SummariseSegment(in.FileName);
      if (!s.Valid) {
        result.Warnings.push_back("skipped \"" + in.FileName + "\": not a SWF file");
        result.Inputs[index].Problem = "not a SWF file";
        continue;
      }
      readable.push_back(
          {TPlannedSegment{in.FileName, in.Frames.value_or(s.FrameCount), index}, s});
    } catch (const std::exception& e) {
      result.Warnings.push_back("skipped a segment cut off or damaged: " + std::string(e.what()));
      result.Inputs[index].Problem = e.what();
    }
  }
  if (readable.empty()) throw std::runtime_error("no segment of the recording could be read");
  if (stageWidth <= 0 || stageHeight <= 0) {
    stageWidth = readable.front().second.StageWidth;
    stageHeight = readable.front().second.StageHeight;
  }
  std::uint32_t written = 0;
  std::vector<std::size_t> joinedInputs;
  for (const TPart& part : Plan(readable, limits)) {
    const std::string name = PartFileName(outputName, written + 1);
    const std::uint32_t joined =
        WritePart(part, stageWidth, stageHeight, name, result, joinedInputs);
    if (joined == 0) continue;
    ++written;
    result.SegmentsJoined += joined;
    result.Movies.push_back(name);
  }
  if (written == 0) throw std::runtime_error("no segment of the recording could be read");
  TWebPageOptions page;
  page.MovieFileName = outputName;
  page.Width = stageWidth;
  page.Height = stageHeight;
  page.WebPlayerURL = webPlayerURL;
  page.ContinuationFileNames.assign(result.Movies.begin() + 1, result.Movies.end());
  result.Page = WebPageFileName(outputName);
  WriteWebPage(result.Page, page);
  for (const auto& [planned, summary] : readable) {
    if (std::find(joinedInputs.begin(), joinedInputs.end(), planned.Input) == joinedInputs.end())
      continue;
    result.Inputs[planned.Input].Joined = true;
    result.Inputs[planned.Input].FramesKept = std::max<std::uint16_t>(planned.Frames, 1);
  }
  return result;
}

std::string PartFileName(const std::string& outputName, std::uint32_t part) {
  if (part <= 1) return outputName;
  const std::size_t slash = outputName.find_last_of("/\\");
  const std::size_t dot = outputName.find_last_of('.');
  const std::string suffix = "-" + std::to_string(part);
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return outputName + suffix;
  }
  return outputName.substr(0, dot) + suffix + outputName.substr(dot);
}

std::vector<std::string> ListSegmentFiles(const std::string& folder) {
  std::vector<std::pair<unsigned long, std::string>> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() <= 11 || name.rfind("capture", 0) != 0 ||
        name.substr(name.size() - 4) != ".swf") {
      continue;
    }
    const std::string digits = name.substr(7, name.size() - 11);
    if (digits.empty() || digits.size() > 9 || digits[0] == '0' ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    found.emplace_back(std::stoul(digits), entry.path().string());
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> out;
  for (auto& f : found) out.push_back(std::move(f.second));
  return out;
}

}  // namespace kestrova
