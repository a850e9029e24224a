#include "flashobjects/FlashMovie.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "swftools/SafeFile.h"
#include "swftools/ZStream.h"

namespace kestrova {

namespace {

bool IsTag(const TBasedSWFObject& object, std::uint16_t code) {
  if (object.LibraryLevel() != 0) return false;
  const auto* tag = dynamic_cast<const TSWFObject*>(&object);
  return tag && tag->TagID == code;
}

// Frame counts are 16 bits in the file; a longer movie is counted as the most it can say.
std::uint16_t Saturated16(std::uint32_t v) {
  return static_cast<std::uint16_t>(std::min<std::uint32_t>(v, 65535));
}

// Chunks of a streamed body are gathered in memory up to this size before they go to the file.
constexpr std::uint64_t kStreamChunk = 4u << 20;

// Copies a movie body into the deflating stream tag by tag. Pixel data that its picture could
// hardly compress (a film, a noisy photograph: a tenth of its pixels' bytes or more) and JPEG
// data are near random: deflating them again costs much and gains nothing, so they go in stored
// blocks. Everything else is deflated at the stream's level, since the deflated data of flat
// screen content still holds repeats (a fifth of a desktop picture's, and whole pictures when
// every segment starts with the same one). The body is the movie's own, but a length that runs
// past its end ends the walk with a plain copy.
class TBodyCopy {
 public:
  TBodyCopy(TStream& body, TZCompressionStream& z, int level) : FBody(body), FZ(z), FLevel(level) {}

  void Tags(std::uint64_t end, int depth) {
    while (FPosition < end) {
      std::uint8_t head[6];
      if (end - FPosition < 2) return Copy(end - FPosition);
      Take(head, 2);
      const unsigned codeAndLength = head[0] | head[1] << 8;
      const unsigned code = codeAndLength >> 6;
      std::uint64_t length = codeAndLength & 63;
      if (length == 63) {
        if (end - FPosition < 4) return Copy(end - FPosition);
        Take(head + 2, 4);
        length = head[2] | head[3] << 8 | head[4] << 16 | std::uint64_t{head[5]} << 24;
      }
      if (length > end - FPosition) return Copy(end - FPosition);
      Body(code, FPosition + length, depth);
    }
  }

 private:
  // Data shorter than this stays in the block around it: a block of its own costs bytes.
  static constexpr std::uint64_t kStoredAtLeast = 1024;
  static constexpr int kMaxDepth = 8;

  void Body(unsigned code, std::uint64_t end, int depth) {
    std::uint64_t fields = 0;  // before the compressed data
    switch (code) {
      case 20:  // DefineBitsLossless
      case 36:  // DefineBitsLossless2: id, format, width, height (and for format 3 a colour count)
        fields = 7;
        break;
      case 6:   // DefineBits: id, JPEG data
      case 21:  // DefineBitsJPEG2
        fields = 2;
        break;
      case 35:  // DefineBitsJPEG3: id, the JPEG data's length, JPEG data and zlib alpha
        fields = 6;
        break;
      case 39:  // DefineSprite: id, frame count, then tags
        if (depth < kMaxDepth && end - FPosition >= 4) {
          Copy(4);
          Tags(end, depth + 1);
        }
        return Copy(end - FPosition);
      default:
        return Copy(end - FPosition);
    }
    if (end - FPosition < fields + 1 + kStoredAtLeast) return Copy(end - FPosition);
    std::uint8_t f[7];
    Take(f, static_cast<std::size_t>(fields));
    bool stored = true;
    if (code == 20 || code == 36) {
      if (f[2] == 3) Copy(1);
      const std::uint64_t bytesPerPixel = f[2] == 3 ? 1 : f[2] == 4 ? 2 : 4;
      const auto width = static_cast<std::uint64_t>(f[3] | f[4] << 8);
      const auto height = static_cast<std::uint64_t>(f[5] | f[6] << 8);
      const std::uint64_t pixels = width * height;
      stored = 10 * (end - FPosition) >= pixels * bytesPerPixel;
    }
    if (stored) FZ.SetLevel(0);
    Copy(end - FPosition);
    if (stored) FZ.SetLevel(FLevel);
  }

  void Take(std::uint8_t* buffer, std::size_t count) {
    FBody.ReadBuffer(buffer, count);
    FZ.Write(buffer, count);
    FPosition += count;
  }
  void Copy(std::uint64_t count) {
    if (count == 0) return;
    FZ.CopyFrom(FBody, count);
    FPosition += count;
  }

  TStream& FBody;
  TZCompressionStream& FZ;
  int FLevel;
  std::uint64_t FPosition = 0;
};

}  // namespace

TFlashMovie::TFlashMovie(std::int32_t xMin, std::int32_t yMin, std::int32_t xMax, std::int32_t yMax,
                         float fps, bool inPixels)
    : TBasedSWFStream(xMin, yMin, xMax, yMax, fps, inPixels) {}

TFlashMovie::~TFlashMovie() {
  // Objects go before the lists that refer to them; the temporary body file goes with the movie.
  FObjectList.clear();
  if (FBodyFile) {
    FBodyFile.reset();
    std::remove(FBodyFileName.c_str());
  }
}

TSWFRGB& TFlashMovie::BackgroundColor() {
  if (!FBackgroundColor) FBackgroundColor = std::make_unique<TSWFRGB>();
  FHasBackground = true;
  return *FBackgroundColor;
}

void TFlashMovie::AppendObject(std::unique_ptr<TBasedSWFObject> object) {
  if (FStreamEnded) throw std::logic_error("the movie has been finished; nothing can be added");
  FObjectList.push_back(std::move(object));
}

void TFlashMovie::Register(TFlashIDObject& object) {
  if (CurrentObjID == 0) {
    throw std::length_error("the movie has no character ids left (65535 at most)");
  }
  object.SetCharacterId(CurrentObjID);
}

TFlashImage& TFlashMovie::AddImage(const std::string& fileName) {
  auto image = std::make_unique<TFlashImage>(this, fileName);
  Register(*image);
  TFlashImage& added = AddObject(std::move(image));
  FImages.Add(&added);
  ++CurrentObjID;
  return added;
}

TFlashShape& TFlashMovie::AddShape(std::unique_ptr<TFlashShape> shape) {
  if (!shape) shape = std::make_unique<TFlashShape>(this);
  shape->SetOwner(this);
  Register(*shape);
  TFlashShape& added = AddObject(std::move(shape));
  FShapes.Add(&added);
  ++CurrentObjID;
  return added;
}

TFlashShape& TFlashMovie::AddRectangle(std::int32_t xMin, std::int32_t yMin, std::int32_t xMax,
                                       std::int32_t yMax) {
  TFlashShape& shape = AddShape();
  shape.SetShapeBound(xMin, yMin, xMax, yMax);
  shape.Edges().MoveTo(xMin, yMin);
  shape.Edges().MakeRectangle(xMax - xMin, yMax - yMin);
  shape.Edges().EndEdges();
  return shape;
}

TFlashShape& TFlashMovie::AddImageShape(TFlashImage& image) {
  // As wide and as tall as the picture: a rectangle a column short would squeeze the fill,
  // dropping a column and moving everything right of it by a pixel.
  TFlashShape& shape = AddRectangle(0, 0, std::int32_t(image.Width), std::int32_t(image.Height));
  shape.AddImageFill(image);
  return shape;
}

TFlashExternalMovie& TFlashMovie::AddExternalMovie(const std::string& fileName, std::uint8_t mode,
                                                   bool renumber) {
  if (mode != TFlashExternalMovie::kModeSprite) {
    throw std::invalid_argument("external movies are imported as sprites (mode 3) only");
  }
  if (FStreamEnded) throw std::logic_error("the movie has been finished; nothing can be added");
  // The movie streams: what came before is final, so it is written out and freed before the
  // next file is held in memory.
  Flush();
  auto external = std::make_unique<TFlashExternalMovie>(this, fileName);
  external->Mode = mode;
  external->ScanTags();
  // The sprite takes the next id and the imported characters the ids after it; all of them must
  // fit in 16 bits before anything is added.
  const std::uint32_t id = CurrentObjID;
  const std::uint32_t count = std::max(external->CharacterCount(), external->DefinedCount());
  if (id == 0 || id + count > 65535) {
    throw std::length_error("\"" + fileName + "\": the movie has no character ids left for its " +
                            std::to_string(count) + " characters (65535 at most)");
  }
  if (renumber) external->RenumberFrom(static_cast<std::uint16_t>(id + 1));
  external->SetCharacterId(static_cast<std::uint16_t>(id));
  TFlashExternalMovie& added = AddObject(std::move(external));
  // One id after the imported ones is left unused; 0 when none are left.
  CurrentObjID = static_cast<std::uint16_t>(std::min<std::uint32_t>(id + count + 2, 65536));
  FSprites.Add(&added.MakeSprite());
  return added;
}

TFlashPlaceObject& TFlashMovie::PlaceObject(TFlashVisualObject& object, std::uint16_t depth) {
  return AddObject(std::make_unique<TFlashPlaceObject>(this, &object, depth));
}

void TFlashMovie::RemoveObject(std::uint16_t depth) {
  auto remove = std::make_unique<TSWFRemoveObject2>();
  remove->Depth = depth;
  AddObject(std::move(remove));
}

void TFlashMovie::ShowFrame(std::uint16_t count) {
  if (count == 0) count = 1;
  for (std::uint16_t i = 0; i < count; ++i) {
    AddObject(std::make_unique<TSWFShowFrame>());
    FrameCount = static_cast<std::uint16_t>(FrameCount + 1);
  }
  CurrentFrameNum = std::int32_t(FrameCount) - 1;
}

void TFlashMovie::MoveBefore(const TBasedSWFObject& object, const TBasedSWFObject& before) {
  auto at = [this](const TBasedSWFObject& o) {
    return std::find_if(FObjectList.begin(), FObjectList.end(),
                        [&](const auto& p) { return p.get() == &o; });
  };
  const auto from = at(object), to = at(before);
  if (from == FObjectList.end() || to == FObjectList.end() || from < to) return;
  std::rotate(to, from, from + 1);
}

void TFlashMovie::WriteBackground(TBitsEngine& be) {
  if (!FHasBackground) return;
  TSWFSetBackgroundColor tag;
  tag.BackgroundColor().Assign(*FBackgroundColor);
  tag.WriteToStream(be);
}

void TFlashMovie::WriteObject(TBasedSWFObject& object, TBitsEngine& be, std::uint8_t& version,
                              std::uint32_t& frames, const std::function<void()>& afterTag) {
  version = static_cast<std::uint8_t>(std::max<std::uint16_t>(version, object.MinVersion()));
  if (IsTag(object, 1)) ++frames;
  if (object.LibraryLevel() == 1) {
    if (auto* place = dynamic_cast<TFlashPlaceObject*>(&object)) {
      place->PlaceTag().SWFVersion = version;
    } else if (auto* external = dynamic_cast<TFlashExternalMovie*>(&object)) {
      external->WriteToStream(be, afterTag);
      return;
    }
  }
  object.WriteToStream(be);
}

void TFlashMovie::RaiseVersion(std::uint8_t v) {
  if (v > Version()) SetVersion(v);
}

void TFlashMovie::MakeStream() {
  if (Streaming()) {
    if (FStreamEnded) return;
    const bool empty = FObjectList.empty() && FStreamedSize == 0;
    Flush();
    if (empty) throw std::out_of_range("List index out of bounds (-1)");
    if (!FStreamedEnd) {
      const std::uint8_t end[2] = {0, 0};
      FBodyFile->Write(end, 2);
      FStreamedSize += 2;
    }
    FStreamEnded = true;
    FrameCount = Saturated16(FStreamedFrames);
    RaiseVersion(FStreamedVersion);
    return;
  }
  FBody->Clear();
  std::uint8_t v = Version();
  TBitsEngine be(*FBody);
  WriteBackground(be);
  if (FObjectList.empty()) throw std::out_of_range("List index out of bounds (-1)");
  std::uint32_t frames = 0;
  const std::size_t n = FObjectList.size();
  for (std::size_t j = 0; j < n; ++j) {
    if (OnProgress) OnProgress(*this, static_cast<int>(std::lround(100.0 * (j + 1) / n)), 1);
    WriteObject(*FObjectList[j], be, v, frames);
  }
  if (!IsTag(*FObjectList.back(), 0)) {
    be.FlushLastByte(true);
    be.WriteWord(0);
  }
  FrameCount = Saturated16(frames);
  RaiseVersion(v);
}

std::uint16_t TFlashMovie::CalcFrameCount() {
  std::uint32_t frames = FStreamedFrames;
  for (const auto& object : FObjectList) {
    if (IsTag(*object, 1)) ++frames;
  }
  const std::uint16_t result = Saturated16(frames);
  if (result != FrameCount) FrameCount = result;
  return result;
}

void TFlashMovie::BeginStreaming(const std::string& fileName) {
  if (!FObjectList.empty() || Streaming()) {
    throw std::logic_error("a movie starts streaming before anything is added to it");
  }
  // Created exclusively: a file already there is someone's (a link planted to have the body
  // written over its target, or the body of a recording a crash left behind), never ours to
  // overwrite. It is removed with the movie, so every failure takes it away.
  FBodyFileName = fileName + ".body.part";
  FBodyFile = std::make_unique<TFileStream>(FBodyFileName, TFileStream::Mode::CreateNew);
  FStreamedVersion = Version();
}

void TFlashMovie::Unlist(const TBasedSWFObject& object) {
  if (const auto* image = dynamic_cast<const TFlashImage*>(&object)) FImages.Remove(image);
  if (const auto* shape = dynamic_cast<const TFlashShape*>(&object)) FShapes.Remove(shape);
  if (const auto* external = dynamic_cast<const TFlashExternalMovie*>(&object)) {
    FSprites.Remove(external->Sprite());
  }
}

void TFlashMovie::Flush() {
  if (!Streaming() || FObjectList.empty()) return;
  TMemoryStream chunk;
  TBitsEngine be(chunk);
  if (FStreamedSize == 0) WriteBackground(be);
  auto drain = [&] {
    be.FlushLastByte(true);
    FBodyFile->Write(chunk.Data(), chunk.Size());
    FStreamedSize += chunk.Size();
    chunk.Clear();
  };
  // An imported file's definitions go to disk one by one, so the engine never holds a whole
  // segment's pictures.
  for (auto& object : FObjectList) {
    WriteObject(*object, be, FStreamedVersion, FStreamedFrames, drain);
    FStreamedEnd = IsTag(*object, 0);
    if (chunk.Size() >= kStreamChunk) drain();
  }
  drain();
  for (const auto& object : FObjectList) Unlist(*object);
  FObjectList.clear();
}

void TFlashMovie::FlushToDisk() {
  Flush();
  if (FBodyFile) FBodyFile->Sync();
}

void TFlashMovie::SaveToStream(TStream& stream) {
  if (Streaming()) {
    SaveStreamed(stream);
    return;
  }
  FFileLength = static_cast<std::uint32_t>(FBody->Size() + HeaderSize());
  if (!FCompressed) {
    std::memcpy(FSignature, "FWS", 3);
    WriteHeader(stream, 0);
    stream.Write(FBody->Data(), FBody->Size());
    return;
  }
  std::memcpy(FSignature, "CWS", 3);
  if (FVersion < 6) FVersion = 6;
  WriteHeader(stream, 1);
  // The frame size, rate and count are compressed together with the body: one buffer for both.
  TMemoryStream plain;
  WriteHeader(plain, 2);
  plain.Write(FBody->Data(), FBody->Size());
  std::vector<std::uint8_t> packed;
  ZlibCompress(plain.Data(), plain.Size(), packed, DeflateLevel, DeflateWriter);
  if (OnProgress) OnProgress(*this, 100, 2);
  stream.Write(packed.data(), packed.size());
}

void TFlashMovie::SaveStreamed(TStream& stream) {
  if (!FStreamEnded)
    throw std::logic_error("MakeStream finishes a streamed movie before it is saved");
  const std::uint64_t length = FStreamedSize + HeaderSize();
  if (length > UINT32_MAX) throw std::length_error("a SWF file holds 4 GB at most");
  // A header that counted fewer frames than the timeline holds would stop players early.
  if (FStreamedFrames > 65535) throw std::length_error("a SWF movie holds 65535 frames at most");
  FFileLength = static_cast<std::uint32_t>(length);
  FBodyFile->SetPosition(0);
  if (!FCompressed) {
    std::memcpy(FSignature, "FWS", 3);
    WriteHeader(stream, 0);
    stream.CopyFrom(*FBodyFile, FStreamedSize);
    return;
  }
  std::memcpy(FSignature, "CWS", 3);
  if (FVersion < 6) FVersion = 6;
  WriteHeader(stream, 1);
  // The body is not held in memory, so it is deflated as a stream.
  TZCompressionStream z(stream, DeflateLevel);
  if (OnProgress) {
    const double total = static_cast<double>(std::max<std::uint64_t>(FStreamedSize, 1));
    z.OnProgress = [this, total](std::uint64_t consumed) {
      OnProgress(*this, static_cast<int>(std::lround(100.0 * consumed / total)), 2);
    };
  }
  WriteHeader(z, 2);
  if (DeflateLevel == 0) {
    z.CopyFrom(*FBodyFile, FStreamedSize);
  } else {
    TBodyCopy(*FBodyFile, z, DeflateLevel).Tags(FStreamedSize, 0);
  }
  z.Finish();
}

void TFlashMovie::SaveToFile(const std::string& fileName) {
  SaveFileSafely(fileName, [this](TStream& file) { SaveToStream(file); });
}

}  // namespace kestrova
