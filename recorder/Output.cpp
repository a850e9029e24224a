#include "recorder/Output.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "flashobjects/FlashMovie.h"
#include "swfstreams/SWFStreams.h"
#include "swftools/SafeFile.h"

namespace kestrova {

namespace {

// Tag codes that define one character each (what the import renumbers).
bool DefinesCharacter(int code) {
  static constexpr int kCodes[] = {2,  6,  7,  10, 11, 14, 20, 21, 22, 32,
                                   33, 34, 35, 36, 37, 39, 46, 48, 60};
  return std::find(std::begin(kCodes), std::end(kCodes), code) != std::end(kCodes);
}

// The player installer's location (the lowest player version the movie asks for) and the
// player's download page.
constexpr const char* kCodebase =
    "https://download.macromedia.com/pub/shockwave/cabs/flash/swflash.cab#version=6,0,29,0";
constexpr const char* kPluginsPage = "https://www.macromedia.com/go/getflashplayer";

struct TPlannedSegment {
  std::string FileName;
  std::uint16_t Frames = 0;
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
                        const std::string& fileName, TOutputResult& result) {
  TFlashMovie movie(0, 0, width * 20, height * 20, 12, false);
  movie.SetCompressed(true);
  // The body is nearly all pixel data deflated already in the segments: deflating it again at
  // the default level would cost much and save next to nothing.
  movie.DeflateLevel = 1;
  movie.BeginStreaming(fileName);
  std::uint16_t depth = 1;
  std::uint32_t joined = 0;
  for (const TPlannedSegment& s : part.Segments) {
    TFlashExternalMovie* external = nullptr;
    try {
      external = &movie.AddExternalMovie(s.FileName, TFlashExternalMovie::kModeSprite, true);
    } catch (const EStreamError& e) {
      result.Warnings.push_back(std::string("skipped a damaged segment: ") + e.what());
      continue;
    }
    movie.PlaceObject(*external->Sprite(), depth);
    movie.ShowFrame(s.Frames);
    movie.RemoveObject(depth);
    ++depth;
    ++joined;
    result.Frames += std::max<std::uint16_t>(s.Frames, 1);
  }
  if (joined == 0) return 0;
  movie.MakeStream();
  movie.SaveToFile(fileName);
  return joined;
}

void WriteTextFile(const std::string& fileName, const std::string& text) {
  SaveFileSafely(fileName, [&](TStream& out) { out.Write(text.data(), text.size()); });
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
                               char separator, const TOutputLimits& limits) {
  TOutputResult result;
  std::vector<std::pair<TPlannedSegment, TSegmentSummary>> readable;
  for (const TSegmentInput& in : segments) {
    try {
      const TSegmentSummary s = SummariseSegment(in.FileName);
      if (!s.Valid) {
        result.Warnings.push_back("skipped \"" + in.FileName + "\": not a SWF file");
        continue;
      }
      readable.push_back({TPlannedSegment{in.FileName, in.Frames.value_or(s.FrameCount)}, s});
    } catch (const std::exception& e) {
      result.Warnings.push_back("skipped a segment cut off or damaged: " + std::string(e.what()));
    }
  }
  if (readable.empty()) throw std::runtime_error("no segment of the recording could be read");
  if (stageWidth <= 0 || stageHeight <= 0) {
    stageWidth = readable.front().second.StageWidth;
    stageHeight = readable.front().second.StageHeight;
  }
  std::uint32_t written = 0;
  for (const TPart& part : Plan(readable, limits)) {
    const std::string name = PartFileName(outputName, written + 1);
    const std::uint32_t joined = WritePart(part, stageWidth, stageHeight, name, result);
    if (joined == 0) continue;
    ++written;
    result.SegmentsJoined += joined;
    result.Movies.push_back(name);
  }
  if (written == 0) throw std::runtime_error("no segment of the recording could be read");
  std::vector<std::string> continuations;
  for (std::size_t i = 1; i < result.Movies.size(); ++i) {
    continuations.push_back(MovieFileName(result.Movies[i], separator));
  }
  result.Page = PageFileName(outputName);
  WriteTextFile(result.Page, HtmlPage(MovieFileName(outputName, separator), stageWidth, stageHeight,
                                      continuations));
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

std::string PageFileName(const std::string& outputName) {
  const std::size_t slash = outputName.find_last_of("/\\");
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = outputName.find_last_of('.');
  if (dot != std::string::npos && dot > base) {
    return outputName.substr(0, dot) + ".html";
  }
  return outputName + ".html";
}

std::string MovieFileName(const std::string& outputName, char separator) {
  const std::size_t sep = outputName.find_last_of(separator);
  std::string name = sep == std::string::npos ? outputName : outputName.substr(sep + 1);
  auto trimmed = [](unsigned char c) { return c <= ' ' || c == 127; };
  while (!name.empty() && trimmed(static_cast<unsigned char>(name.back()))) name.pop_back();
  std::size_t lead = 0;
  while (lead < name.size() && trimmed(static_cast<unsigned char>(name[lead]))) ++lead;
  return name.substr(lead);
}

std::string EscapeHtml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      // In a URL these would start a fragment or a query, or an escape.
      case '#':
        out += "%23";
        break;
      case '?':
        out += "%3F";
        break;
      case '%':
        out += "%25";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string HtmlPage(const std::string& movieName, std::int32_t width, std::int32_t height,
                     const std::vector<std::string>& continuationNames) {
  const std::string name = EscapeHtml(movieName);
  const std::string w = std::to_string(width), h = std::to_string(height);
  std::string page =
      "<html><object classid=\"clsid:D27CDB6E-AE6D-11cf-96B8-444553540000\" codebase=\"";
  page += kCodebase;
  page += "\" width=\"" + w + "\" height=\"" + h + "\"><param name=\"movie\" value=\"" + name +
          "\"><param name=quality value=\"high\">";
  page += "<embed src=\"" + name + "\" quality=\"high\" pluginspage=\"" + kPluginsPage +
          "\" type=\"application/x-shockwave-flash\" width=\"" + w + "\" height=\"" + h +
          "\"></embed></object>";
  for (std::size_t i = 0; i < continuationNames.size(); ++i) {
    const std::string n = EscapeHtml(continuationNames[i]);
    page += "<p><a href=\"" + n + "\">Part " + std::to_string(i + 2) + ": " + n + "</a></p>";
  }
  page += "</html>";
  return page;
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
