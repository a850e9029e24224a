#include "recorder/Output.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>

#include "flashobjects/FlashMovie.h"
#include "player/WebPage.h"
#include "swfobjects/ActionTags.h"
#include "swfobjects/SoundTags.h"
#include "swfobjects/TagCatalogue.h"
#include "swfstreams/SWFStreams.h"
#include "swftools/SafeFile.h"
#include "swftools/ZStream.h"

namespace kestrova {

namespace {

bool DefinesCharacter(unsigned code) {
  const TTagCatalogueRow* row = FindTagRow(static_cast<std::uint16_t>(code));
  return row && row->Has(kDefines);
}

// A tag stored with the short header that the import writes with the long one.
bool GrowsToLongHeader(unsigned code) {
  const TTagCatalogueRow* row = FindTagRow(static_cast<std::uint16_t>(code));
  return row && row->Has(kAlwaysLong);
}

std::string Quoted(const std::string& file) {
  return "\"" + file + "\"";
}

// What a walk over an input's record headers found, without holding its body: the frames that
// are complete, where the last of them ends, and the first place the file is cut or damaged.
struct TInputScan {
  bool IsSWF = false;
  std::uint8_t Version = 0;
  std::uint32_t FileLength = 0;                         // as the header claims it
  std::int32_t XMin = 0, XMax = 0, YMin = 0, YMax = 0;  // twips
  std::uint16_t FPS = 0, HeaderFrames = 0;
  std::vector<std::uint8_t> FrameHeader;  // the stored frame size, rate and count
  std::uint64_t BodyStart = 0;            // offsets count the uncompressed file, header included
  std::uint32_t Frames = 0;               // complete ShowFrame tags
  std::uint64_t LastFrameEnd = 0;         // just after the last complete ShowFrame
  std::uint64_t End = 0;                  // just after the End tag (0: none found)
  std::uint32_t Characters = 0;
  std::uint64_t ShortHeaders = 0;  // tags the import gives the long header (4 bytes more)
  std::string Problem;             // empty: the file is whole
};

// Reads forward through the plain or inflated bytes, counting offsets in the uncompressed file.
class TForwardReader {
 public:
  TForwardReader(TStream& source, std::uint64_t offset) : FSource(&source), FOffset(offset) {}
  std::size_t Read(void* buffer, std::size_t count) {
    std::size_t got = 0;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    while (got < count) {
      const std::size_t n = FSource->Read(bytes + got, count - got);
      if (n == 0) break;
      got += n;
    }
    FOffset += got;
    return got;
  }
  std::uint64_t Skip(std::uint64_t count, TStream* copy = nullptr) {
    std::uint8_t buffer[64 * 1024];
    std::uint64_t done = 0;
    while (done < count) {
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(count - done, sizeof buffer));
      const std::size_t got = Read(buffer, want);
      if (copy) copy->Write(buffer, got);
      done += got;
      if (got < want) break;
    }
    return done;
  }
  std::uint64_t Offset() const { return FOffset; }

 private:
  TStream* FSource;
  std::uint64_t FOffset;
};

std::int32_t SignedBits(const std::vector<std::uint8_t>& bytes, std::uint32_t& bit,
                        std::uint32_t count) {
  std::uint32_t value = 0;
  for (std::uint32_t i = 0; i < count; ++i, ++bit) {
    value = (value << 1) | ((bytes[bit / 8] >> (7 - bit % 8)) & 1u);
  }
  if (count > 0 && count < 32 && (value >> (count - 1)) & 1u) value |= ~0u << count;
  return static_cast<std::int32_t>(value);
}

// The frame size, rate and count; false when the file ends inside them.
bool ReadFrameHeader(TForwardReader& in, TInputScan& scan) {
  std::uint8_t first = 0;
  if (in.Read(&first, 1) != 1) return false;
  const std::uint32_t bitsEach = first >> 3;
  const std::uint32_t rectBytes = (5 + 4 * bitsEach + 7) / 8;
  scan.FrameHeader.assign(rectBytes + 4, 0);
  scan.FrameHeader[0] = first;
  if (in.Read(scan.FrameHeader.data() + 1, rectBytes + 3) != rectBytes + 3) return false;
  std::uint32_t bit = 5;
  scan.XMin = SignedBits(scan.FrameHeader, bit, bitsEach);
  scan.XMax = SignedBits(scan.FrameHeader, bit, bitsEach);
  scan.YMin = SignedBits(scan.FrameHeader, bit, bitsEach);
  scan.YMax = SignedBits(scan.FrameHeader, bit, bitsEach);
  const std::uint8_t* tail = scan.FrameHeader.data() + rectBytes;
  scan.FPS = static_cast<std::uint16_t>(tail[0] | (tail[1] << 8));
  scan.HeaderFrames = static_cast<std::uint16_t>(tail[2] | (tail[3] << 8));
  return true;
}

// Walks the tags to the End tag; fileSize bounds the claims of a plain file before reading.
void ScanTags(TForwardReader& in, std::uint64_t fileSize, TInputScan& scan) {
  scan.LastFrameEnd = scan.BodyStart;
  for (;;) {
    const std::uint64_t at = in.Offset();
    std::uint8_t h[4];
    const std::size_t got = in.Read(h, 2);
    if (got == 0) {
      scan.Problem = "it ends at offset " + std::to_string(at) + " without an End tag";
      return;
    }
    if (got < 2) {
      scan.Problem = "cut off at offset " + std::to_string(at) + " inside a tag header";
      return;
    }
    const unsigned code = static_cast<unsigned>(h[0] | (h[1] << 8)) >> 6;
    std::uint64_t length = h[0] & 63u;
    const bool longHeader = length == 63;
    if (longHeader) {
      if (in.Read(h, 4) != 4) {
        scan.Problem = "cut off at offset " + std::to_string(at) + " inside the header of a " +
                       TagName(static_cast<std::uint16_t>(code)) + " tag";
        return;
      }
      length = h[0] | (h[1] << 8) | (h[2] << 16) | (std::uint64_t(h[3]) << 24);
    }
    const std::string tag = std::string("the ") + TagName(static_cast<std::uint16_t>(code)) +
                            " tag at offset " + std::to_string(at);
    if (fileSize != 0 && in.Offset() + length > fileSize) {
      scan.Problem = "cut off or damaged: " + tag + " claims " + std::to_string(length) +
                     " bytes, but the file ends at offset " + std::to_string(fileSize);
      return;
    }
    if (in.Skip(length) != length) {
      scan.Problem = "cut off at offset " + std::to_string(in.Offset()) + " inside " + tag +
                     " of " + std::to_string(length) + " bytes";
      return;
    }
    if (!longHeader && GrowsToLongHeader(code)) ++scan.ShortHeaders;
    if (DefinesCharacter(code)) ++scan.Characters;
    if (code == 1) {
      ++scan.Frames;
      scan.LastFrameEnd = in.Offset();
    }
    if (code == 0) {
      scan.End = in.Offset();
      return;
    }
  }
}

// Never throws for what the file holds: a file that cannot be opened or read is a problem too.
TInputScan ScanInput(const std::string& file) {
  TInputScan scan;
  try {
    TFileStream stream(file, TFileStream::Mode::Read);
    std::uint8_t head[8];
    TForwardReader plain(stream, 0);
    if (plain.Read(head, 8) != 8 || head[1] != 'W' || head[2] != 'S' ||
        (head[0] != 'F' && head[0] != 'C')) {
      scan.Problem = "not a SWF file";
      return scan;
    }
    scan.IsSWF = true;
    scan.Version = head[3];
    scan.FileLength = static_cast<std::uint32_t>(head[4] | (head[5] << 8) | (head[6] << 16) |
                                                 (std::uint32_t(head[7]) << 24));
    const bool compressed = head[0] == 'C';
    std::unique_ptr<TZDecompressionStream> z;
    TForwardReader in(stream, 8);
    try {
      if (compressed) {
        z = std::make_unique<TZDecompressionStream>(stream);
        in = TForwardReader(*z, 8);
      }
      if (!ReadFrameHeader(in, scan)) {
        scan.Problem = "cut off at offset " + std::to_string(in.Offset()) + " inside its header";
        return scan;
      }
      scan.BodyStart = in.Offset();
      ScanTags(in, compressed ? 0 : stream.Size(), scan);
      // Whole tags do not make a whole file: zlib data cut in its last block or checksum lost
      // bytes no one can tell.
      if (z && scan.Problem.empty()) {
        while (in.Skip(UINT32_MAX) == UINT32_MAX) {
        }
        if (!z->AtEnd()) {
          scan.Problem = "cut off: the compressed data ends at offset " +
                         std::to_string(in.Offset()) + " before its end";
        }
      }
    } catch (const std::exception& e) {
      scan.Problem = "the compressed data is cut off or damaged after offset " +
                     std::to_string(in.Offset()) + " (" + e.what() + ")";
    }
  } catch (const std::exception& e) {
    scan.Problem = std::string("cannot be read (") + e.what() + ")";
  }
  return scan;
}

// A plain copy of the input's complete frames, with an End tag after them: what is imported of a
// cut segment. Created exclusively beside the output; the caller removes it.
void WriteCompleteFrames(const std::string& input, const TInputScan& scan,
                         const std::string& copyName) {
  TFileStream source(input, TFileStream::Mode::Read);
  std::uint8_t head[8];
  source.ReadBuffer(head, 8);
  std::unique_ptr<TZDecompressionStream> z;
  if (head[0] == 'C') z = std::make_unique<TZDecompressionStream>(source);
  TForwardReader in(z ? static_cast<TStream&>(*z) : source, 8);
  in.Skip(scan.BodyStart - 8);
  TFileStream copy(copyName, TFileStream::Mode::CreateNew);
  const std::uint64_t length = scan.LastFrameEnd + 2;
  const std::uint8_t header[8] = {'F',
                                  'W',
                                  'S',
                                  scan.Version,
                                  static_cast<std::uint8_t>(length),
                                  static_cast<std::uint8_t>(length >> 8),
                                  static_cast<std::uint8_t>(length >> 16),
                                  static_cast<std::uint8_t>(length >> 24)};
  copy.Write(header, 8);
  std::vector<std::uint8_t> frameHeader = scan.FrameHeader;
  frameHeader[frameHeader.size() - 2] = static_cast<std::uint8_t>(scan.Frames);
  frameHeader[frameHeader.size() - 1] = static_cast<std::uint8_t>(scan.Frames >> 8);
  copy.Write(frameHeader.data(), frameHeader.size());
  const std::uint64_t body = scan.LastFrameEnd - scan.BodyStart;
  if (in.Skip(body, &copy) != body) throw EStreamError(Quoted(input) + ": changed while joined");
  const std::uint8_t end[2] = {0, 0};
  copy.Write(end, 2);
  copy.Close();
}

// One input as the join takes it.
struct TPlannedInput {
  std::size_t Index = 0;     // in the result's Inputs
  std::string Source;        // the file imported (a copy of the complete frames of a cut one)
  std::uint16_t Frames = 0;  // the main timeline's frames for it
  std::uint64_t Ids = 0, Length = 0;
  std::uint64_t BodyStart = 0;  // where its tags start in the file (and in a copy)
};

struct TPart {
  std::vector<TPlannedInput> Inputs;
  std::uint64_t Ids = 0, Frames = 0, Length = 0;
};

// The bytes of a part beside its inputs: the header with the largest frame size, the background
// colour, the stream sound's head (when there is sound), and the End tag.
constexpr std::uint64_t kPartOverhead = 8 + 17 + 4 + 5 + 2 + 8;

// Every byte the input adds to a part: its tags (some headers grow to the long form; its End
// becomes the sprite's), the sprite's header, id and frame count, the placement and the removal
// in the main timeline, and one ShowFrame there per frame.
std::uint64_t InputLength(const TInputScan& scan, std::uint64_t bodyEnd, std::uint16_t frames) {
  constexpr std::uint64_t kSprite = 6 + 4, kPlacement = 16, kRemoval = 4;
  return (bodyEnd - scan.BodyStart) + 4 * scan.ShortHeaders + kSprite + kPlacement + kRemoval +
         2 * std::uint64_t(std::max<std::uint16_t>(frames, 1));
}

// The most a part's last frame adds to load the next part (LoadNextPartAction): the DoAction's
// long header, the GetUrl record and its target, the Stop and the end of the action list.
std::uint64_t NextPartActionLength(const std::string& outputName) {
  const std::string url = PartURL(PartFileName(outputName, UINT32_MAX));
  return 6 + 1 + 2 + url.size() + 1 + sizeof "_level0" + 1 + 1;
}

// Every part is planned as though it loads a next one, so that whichever part turns out last,
// none is longer than the limit.
std::vector<TPart> Plan(const std::vector<TPlannedInput>& inputs, const TOutputLimits& limits,
                        std::uint64_t reserve) {
  std::vector<TPart> parts(1);
  for (const TPlannedInput& in : inputs) {
    const std::uint64_t frames = std::max<std::uint16_t>(in.Frames, 1);
    TPart* part = &parts.back();
    if (!part->Inputs.empty() &&
        (part->Ids + in.Ids > limits.MaxCharacterIds || part->Frames + frames > limits.MaxFrames ||
         kPartOverhead + reserve + part->Length + in.Length > limits.MaxFileLength)) {
      parts.emplace_back();
      part = &parts.back();
    }
    part->Inputs.push_back(in);
    part->Ids += in.Ids;
    part->Frames += frames;
    part->Length += in.Length;
  }
  return parts;
}

// The offset and reason of the first tag the import could not read.
std::string FirstDamagedTag(TSWFStreamReader& reader, std::uint64_t bodyStart) {
  TSWFReadContext context = reader.NewReadContext(false);
  for (const auto& info : reader.TagList) {
    const std::unique_ptr<TSWFObject> tag = reader.ReadTagObject(*info, context);
    if (tag && tag->TagID == TSWFErrorTag::kTagID) {
      const auto& error = static_cast<const TSWFErrorTag&>(*tag);
      if (error.ErrorMessage.empty()) continue;
      return std::string("damaged: the ") + TagName(error.FailedTagID) + " tag at offset " +
             std::to_string(bodyStart + std::uint64_t(info->Position)) + " cannot be read (" +
             error.ErrorMessage + ")";
    }
  }
  return "damaged: a tag cannot be read";
}

// A segment's stream sound, taken out of its timeline: the head and each frame's blocks.
struct TStreamSound {
  std::unique_ptr<TSWFSoundStreamHead> Head;
  std::vector<std::vector<std::unique_ptr<TSWFObject>>> Blocks;  // by frame
  bool Empty() const { return Head == nullptr; }
};

// Reads the stream sound of an imported file, frame by frame; frames past `frames` are not kept.
// A tag that cannot be read is left out (as the import leaves it out).
TStreamSound ReadStreamSound(TSWFStreamReader& reader, std::uint16_t frames) {
  TStreamSound sound;
  TSWFReadContext context = reader.NewReadContext(false);
  std::size_t frame = 0;
  for (const auto& info : reader.TagList) {
    if (info->TagID == 1 && ++frame >= frames) break;
    if (info->TagID != 18 && info->TagID != 19 && info->TagID != 45) continue;
    std::unique_ptr<TSWFObject> tag = reader.ReadTagObject(*info, context);
    if (!tag || tag->TagID != info->TagID) continue;
    if (info->TagID == 19) {
      if (sound.Head == nullptr) continue;  // a block without a head cannot be played
      sound.Blocks.resize(frame + 1);
      sound.Blocks[frame].push_back(std::move(tag));
    } else if (sound.Head == nullptr) {
      sound.Head.reset(static_cast<TSWFSoundStreamHead*>(tag.release()));
    }
  }
  return sound;
}

// What a stream's blocks need of its head: a block of another coding or rate cannot go on a
// stream.
struct TStreamFormat {
  std::uint8_t Compression = 0, Rate = 0;
  bool Size = false, Stereo = false;
  explicit TStreamFormat(const TSWFSoundStreamHead& h)
      : Compression(h.StreamSoundCompression),
        Rate(h.StreamSoundRate),
        Size(h.StreamSoundSize),
        Stereo(h.StreamSoundType) {}
  bool operator==(const TStreamFormat&) const = default;
};

struct TJoinContext {
  TJoinPolicy Policy;
  const TJoinOptions& Options;
  TOutputResult& Result;
  std::int32_t StageWidth = 0, StageHeight = 0;  // twips
  std::uint16_t FPS = 12 << 8;

  void Say(const std::string& line) const {
    if (Options.OnMessage) Options.OnMessage(line);
  }
  void Warn(const std::string& line) const {
    Result.Warnings.push_back(line);
    Say(line);
  }
};

// Writes one movie of the part into the set; returns the temporary file holding it. A part
// followed by another (nextFileName not empty) loads it on its last frame.
std::string StagePart(const TPart& part, const std::string& fileName,
                      const std::string& nextFileName, TJoinContext& c, TSafeFileSet& files) {
  TFlashMovie movie(0, 0, c.StageWidth, c.StageHeight, 12, false);
  movie.FPS = c.FPS;
  movie.SetCompressed(true);
  // Black where nothing is drawn (beside a recorded window), as in the segments, not the white
  // players show for a movie without a colour.
  movie.BackgroundColor().SetRGB(TSWFRGBRec{0, 0, 0});
  // The body is nearly all pixel data deflated already in the segments: deflating it again at
  // the default level would cost much and save next to nothing.
  movie.DeflateLevel = 1;
  movie.BeginStreaming(fileName);
  std::uint16_t depth = 1;
  std::uint16_t shown = 0;  // the depth of the input on show; inputs start at depth 1
  // The segments' stream sounds become one stream on the main timeline: a sprite's stream starts
  // and stops with the sprite, which players may hear as a gap at every segment's start.
  std::optional<TStreamFormat> partStream;
  for (const TPlannedInput& in : part.Inputs) {
    TJoinedInput& joined = c.Result.Inputs[in.Index];
    // The input before goes when the next one comes. The last one stays: after the movie's last
    // frame a removal would belong to no frame, and a web player that runs it anyway shows an
    // empty stage where the recording's last picture belongs.
    if (shown != 0) movie.RemoveObject(shown);
    TFlashExternalMovie* external = nullptr;
    try {
      external = &movie.AddExternalMovie(in.Source, TFlashExternalMovie::kModeSprite, true);
    } catch (const std::length_error& e) {
      throw std::runtime_error(Quoted(joined.FileName) + ": " + e.what());
    }
    if (const std::size_t damaged = external->DamagedTags()) {
      const std::string reason = FirstDamagedTag(*external->Reader(), in.BodyStart);
      if (c.Policy == TJoinPolicy::RefuseDamaged) {
        throw std::runtime_error(Quoted(joined.FileName) + ": " + reason);
      }
      joined.Problem = std::to_string(damaged) + " tag(s) cannot be read and are left out";
      c.Warn(Quoted(joined.FileName) + ": " + joined.Problem);
    }
    if (const std::size_t unknown = external->UnknownTags()) {
      c.Warn(joined.FileName + ": " + std::to_string(unknown) +
             " tag(s) of codes without a class are copied unchanged (not renumbered)");
    }
    TStreamSound sound;
    if (external->Reader() != nullptr) {
      sound = ReadStreamSound(*external->Reader(), in.Frames);
      external->LeaveOutStreamSound = true;
    }
    movie.PlaceObject(*external->Sprite(), depth);
    if (!sound.Empty()) {
      if (!partStream) {
        partStream.emplace(*sound.Head);
        movie.AddObject(std::move(sound.Head));
      } else if (!(*partStream == TStreamFormat(*sound.Head))) {
        c.Warn(Quoted(joined.FileName) + ": its sound is coded otherwise than the sound before " +
               "it and is left out");
        sound.Blocks.clear();
      }
    }
    const bool loadsNext = !nextFileName.empty() && &in == &part.Inputs.back();
    if (sound.Blocks.empty()) {
      // The action runs when the last frame is shown, so that frame is seen before the next
      // part replaces the movie.
      if (loadsNext && in.Frames > 1) movie.ShowFrame(static_cast<std::uint16_t>(in.Frames - 1));
      if (loadsNext) movie.AddObject(LoadNextPartAction(nextFileName));
      movie.ShowFrame(loadsNext ? 1 : in.Frames);
    } else {
      // Each frame's blocks just before its ShowFrame, as the segment had them.
      const std::uint16_t frames = std::max<std::uint16_t>(in.Frames, 1);
      for (std::uint16_t f = 0; f < frames; ++f) {
        if (f < sound.Blocks.size()) {
          for (auto& block : sound.Blocks[f]) movie.AddObject(std::move(block));
        }
        if (loadsNext && f + 1 == frames) movie.AddObject(LoadNextPartAction(nextFileName));
        movie.ShowFrame(1);
      }
    }
    shown = depth++;
  }
  movie.MakeStream();
  return files.Stage(fileName, [&](TStream& file) { movie.SaveToStream(file); });
}

// Reads a staged movie back, forward and in bounded memory as the inputs are read: the whole of
// it must be there before it counts.
void ReadBack(const std::string& staged, const std::string& shown, std::uint64_t frames,
              const TOutputLimits& limits) {
  if (staged.empty()) return;  // written into a pipe or a device: nothing to read back
  const TInputScan scan = ScanInput(staged);
  const std::string problem = [&]() -> std::string {
    if (!scan.Problem.empty()) return scan.Problem;
    if (scan.End != scan.FileLength) {
      return "its header counts " + std::to_string(scan.FileLength) + " bytes, its tags " +
             std::to_string(scan.End);
    }
    if (scan.End > limits.MaxFileLength) {
      return std::to_string(scan.End) + " bytes, more than " + std::to_string(limits.MaxFileLength);
    }
    if (scan.Frames != frames || scan.HeaderFrames != frames) {
      return std::to_string(scan.Frames) + " frames (header " + std::to_string(scan.HeaderFrames) +
             ") where " + std::to_string(frames) + " were written";
    }
    return {};
  }();
  if (!problem.empty()) {
    throw std::runtime_error(Quoted(shown) + ": the movie written reads back wrong: " + problem);
  }
}

// Copies of cut inputs, removed on every way out.
struct TCopies {
  std::vector<std::string> Names;
  ~TCopies() {
    for (const std::string& name : Names) RemoveFile(name);
  }
};

std::string FPSText(std::uint16_t fps) {
  char text[16];
  std::snprintf(text, sizeof text, "%g", fps / 256.0);
  return text;
}

// Decides what is taken of each input; fills the result's Inputs.
std::vector<TPlannedInput> TakeInputs(const std::vector<TSegmentInput>& segments,
                                      const std::string& outputName, TJoinContext& c,
                                      TCopies& copies, std::vector<TInputScan>& scans) {
  std::vector<TPlannedInput> taken;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const TSegmentInput& segment = segments[i];
    TJoinedInput& joined = c.Result.Inputs.emplace_back();
    joined.FileName = segment.FileName;
    TInputScan scan = ScanInput(segment.FileName);
    const std::uint32_t declared = segment.Frames.value_or(scan.HeaderFrames);
    if (scan.Problem.empty() && scan.Frames > 65535) {
      scan.Problem = "it holds " + std::to_string(scan.Frames) +
                     " frames; a movie joined whole holds 65535 at most";
    }
    const bool cut = !scan.Problem.empty();
    if (cut && (c.Policy == TJoinPolicy::RefuseDamaged || !scan.IsSWF || scan.Frames == 0 ||
                scan.Frames > 65535)) {
      if (c.Policy == TJoinPolicy::RefuseDamaged) {
        throw std::runtime_error(Quoted(segment.FileName) + ": " + scan.Problem);
      }
      joined.Problem = scan.Problem;
      joined.FramesDropped = declared;
      c.Warn("skipped " + Quoted(segment.FileName) + ": " + scan.Problem);
      continue;
    }
    TPlannedInput in;
    in.Index = i;
    in.Source = segment.FileName;
    std::uint64_t bodyEnd = scan.End;
    std::uint16_t frames = segment.Frames.value_or(static_cast<std::uint16_t>(scan.Frames));
    if (cut) {
      in.Source = outputName + ".input" + std::to_string(i + 1) + ".part";
      copies.Names.push_back(in.Source);
      WriteCompleteFrames(segment.FileName, scan, in.Source);
      bodyEnd = scan.LastFrameEnd + 2;
      frames = static_cast<std::uint16_t>(std::min<std::uint32_t>(frames, scan.Frames));
      joined.Problem = scan.Problem;
      joined.FramesDropped = declared > frames ? declared - frames : 0;
      c.Warn(Quoted(segment.FileName) + ": " + scan.Problem + "; kept its " +
             std::to_string(frames) + " complete frame(s), dropped " +
             std::to_string(joined.FramesDropped));
    }
    joined.FramesKept = std::max<std::uint16_t>(frames, 1);
    in.Frames = frames;
    in.Ids = scan.Characters + 2;
    in.Length = InputLength(scan, bodyEnd, frames);
    in.BodyStart = scan.BodyStart;
    taken.push_back(in);
    scans.push_back(std::move(scan));
  }
  return taken;
}

// The stage and the rate: the given size or the inputs'; warnings where the inputs differ.
void ChooseStage(std::int32_t width, std::int32_t height, const std::vector<TInputScan>& scans,
                 const std::vector<TPlannedInput>& taken, TJoinContext& c) {
  const TInputScan& first = scans.front();
  c.StageWidth = width * 20;
  c.StageHeight = height * 20;
  if (width <= 0 || height <= 0) {
    c.StageWidth = first.XMax - first.XMin;
    c.StageHeight = first.YMax - first.YMin;
    if (c.Options.StageOfLargestInput) {
      for (const TInputScan& s : scans) {
        c.StageWidth = std::max(c.StageWidth, s.XMax);
        c.StageHeight = std::max(c.StageHeight, s.YMax);
      }
    }
  }
  if (!c.Options.RateOfFirstInput) return;
  c.FPS = first.FPS;
  const std::string& firstName = c.Result.Inputs[taken.front().Index].FileName;
  for (std::size_t i = 0; i < scans.size(); ++i) {
    const std::string& name = c.Result.Inputs[taken[i].Index].FileName;
    if (scans[i].Version != first.Version) {
      c.Warn(name + " is SWF version " + std::to_string(scans[i].Version) + ", " + firstName +
             " version " + std::to_string(first.Version) + "; the output takes the highest");
    }
    if (scans[i].FPS != first.FPS) {
      c.Warn(name + " runs at " + FPSText(scans[i].FPS) + " fps; the output runs at " +
             FPSText(first.FPS) + " fps, the rate of " + firstName);
    }
  }
}

}  // namespace

TSegmentSummary SummariseSegment(const std::string& fileName) {
  const TInputScan scan = ScanInput(fileName);
  TSegmentSummary s;
  s.Valid = scan.IsSWF;
  if (!s.Valid) return s;
  // A segment whose end is missing has lost frames its header still counts.
  if (!scan.Problem.empty()) throw EStreamError(Quoted(fileName) + ": " + scan.Problem);
  s.FrameCount = scan.HeaderFrames;
  s.FileLength = static_cast<std::uint32_t>(std::min<std::uint64_t>(scan.End, UINT32_MAX));
  s.StageWidth = (scan.XMax - scan.XMin) / 20;
  s.StageHeight = (scan.YMax - scan.YMin) / 20;
  s.Characters = scan.Characters;
  return s;
}

TOutputResult WriteOutputFiles(const std::vector<TSegmentInput>& segments, std::int32_t stageWidth,
                               std::int32_t stageHeight, const std::string& outputName,
                               const TOutputLimits& limits, const std::string& webPlayerURL,
                               TJoinPolicy policy, const TJoinOptions& options) {
  if (PageNameEqualsMovie(outputName)) {
    throw std::invalid_argument(Quoted(outputName) + ": its page would be " +
                                Quoted(WebPageFileName(outputName)) +
                                ", the movie's own name; name the movie .swf");
  }
  // Before the join: a web player that cannot be found should cost no time.
  if (IsLocalWebPlayer(webPlayerURL)) FindLocalWebPlayer(webPlayerURL);
  TOutputResult result;
  TJoinContext c{policy, options, result};
  TCopies copies;
  std::vector<TInputScan> scans;
  const std::vector<TPlannedInput> taken = TakeInputs(segments, outputName, c, copies, scans);
  if (taken.empty()) throw std::runtime_error("no segment of the recording could be read");
  ChooseStage(stageWidth, stageHeight, scans, taken, c);

  TSafeFileSet files;
  std::size_t done = 0;
  const std::vector<TPart> parts = Plan(taken, limits, NextPartActionLength(outputName));
  for (std::uint32_t part = 1; part <= parts.size(); ++part) {
    const TPart& p = parts[part - 1];
    const std::string name = PartFileName(outputName, part);
    for (const TPlannedInput& in : p.Inputs) {
      c.Say("[" + std::to_string(++done) + "/" + std::to_string(taken.size()) + "] " +
            result.Inputs[in.Index].FileName + " (" + std::to_string(in.Frames) + " frames)");
    }
    const std::string next = part < parts.size() ? PartFileName(outputName, part + 1) : "";
    const std::string staged = StagePart(p, name, next, c, files);
    ReadBack(staged, name, p.Frames, limits);
    result.Movies.push_back(name);
    result.SegmentsJoined += static_cast<std::uint32_t>(p.Inputs.size());
    result.Frames += p.Frames;
  }
  TWebPageOptions page;
  page.MovieFileName = outputName;
  page.Width = c.StageWidth / 20;
  page.Height = c.StageHeight / 20;
  page.WebPlayerURL = webPlayerURL;
  page.ContinuationFileNames.assign(result.Movies.begin() + 1, result.Movies.end());
  result.Page = WebPageFileName(outputName);
  result.StageWidth = page.Width;
  result.StageHeight = page.Height;
  StageWebPage(files, result.Page, page);
  files.Commit();
  for (const TPlannedInput& in : taken) result.Inputs[in.Index].Joined = true;
  return result;
}

std::string PartURL(const std::string& partFileName) {
  static const char* hex = "0123456789ABCDEF";
  const std::string name = MovieFileNameBesidePage(partFileName);
  std::string url = name.find(':') == std::string::npos ? "" : "./";
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F || ch == '#' || ch == '?' || ch == '%' || ch == '\\' || ch == '"') {
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 15];
    } else {
      url += ch;
    }
  }
  return url;
}

std::unique_ptr<TSWFDoAction> LoadNextPartAction(const std::string& nextPartFileName) {
  auto load = std::make_unique<TSWFActionGetUrl>();
  load->URL = PartURL(nextPartFileName);
  load->Target = "_level0";
  auto action = std::make_unique<TSWFDoAction>();
  action->Actions().push_back(std::move(load));
  // The load takes a while; meanwhile the part holds its last frame instead of starting over.
  action->Actions().push_back(std::make_unique<TSWFActionStop>());
  return action;
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
