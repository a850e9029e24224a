#include "swfstreams/SWFStreams.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "swfobjects/TagListReader.h"
#include "swftools/SafeFile.h"
#include "swftools/ZStream.h"

namespace kestrova {

// ---- TBasedSWFStream ----

TBasedSWFStream::TBasedSWFStream(std::int32_t xMin, std::int32_t yMin, std::int32_t xMax,
                                 std::int32_t yMax, float fps, bool inPixels) {
  SetInPixels(inPixels);
  FVersion = 5;
  auto scale = [this](std::int32_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v) * FCoordFactor);
  };
  FrameSize = {scale(xMin), scale(yMin), scale(xMax), scale(yMax)};
  SetFPS(fps);
}

void TBasedSWFStream::SetCompressed(bool v) {
  FCompressed = v;
  if (v && FVersion < 6) FVersion = 6;
}

void TBasedSWFStream::SetVersion(std::uint8_t v) {
  FVersion = (FCompressed && v < 6) ? 6 : v;
}

void TBasedSWFStream::SetInPixels(bool v) {
  FInPixels = v;
  FCoordFactor = v ? 20 : 1;
}

std::uint32_t TBasedSWFStream::HeaderSize() const {
  // Measured by writing the RECT, so it always agrees with what WriteHeader writes.
  TMemoryStream rect;
  TBitsEngine be(rect);
  be.WriteRect(FrameSize);
  return 12 + static_cast<std::uint32_t>(rect.Size());
}

void TBasedSWFStream::WriteHeader(TStream& stream, int part) {
  if (part == 0 || part == 1) {
    std::uint8_t lead[8] = {
        static_cast<std::uint8_t>(FSignature[0]),     static_cast<std::uint8_t>(FSignature[1]),
        static_cast<std::uint8_t>(FSignature[2]),     FVersion,
        static_cast<std::uint8_t>(FFileLength),       static_cast<std::uint8_t>(FFileLength >> 8),
        static_cast<std::uint8_t>(FFileLength >> 16), static_cast<std::uint8_t>(FFileLength >> 24)};
    stream.Write(lead, 8);
  }
  if (part == 0 || part == 2) {
    TBitsEngine be(stream);
    be.WriteRect(FrameSize);
    be.WriteWord(FPS);
    be.WriteWord(FrameCount);
  }
}

void TBasedSWFStream::SaveToStream(TStream& stream) {
  TMemoryStream& source = Body();
  SaveToStream(stream, source.Size(), [&source](TStream& body) {
    source.SetPosition(0);
    body.CopyRest(source);
  });
}

void TBasedSWFStream::SaveToStream(TStream& stream, std::uint64_t bodySize,
                                   const std::function<void(TStream& body)>& writeBody) {
  FFileLength = static_cast<std::uint32_t>(bodySize + HeaderSize());
  auto checked = [&](TStream& target) {
    const std::uint64_t start = target.Position();
    writeBody(target);
    if (target.Position() - start != bodySize) {
      throw std::logic_error("The body written differs from the size announced in the header");
    }
  };
  if (!FCompressed) {
    std::memcpy(FSignature, "FWS", 3);
    WriteHeader(stream, 0);
    checked(stream);
    return;
  }
  std::memcpy(FSignature, "CWS", 3);
  if (FVersion < 6) FVersion = 6;
  WriteHeader(stream, 1);
  TZCompressionStream z(stream);
  if (OnProgress) {
    // A body of 22 bytes or less would divide by zero; its progress is reported against its size.
    const auto size = static_cast<std::int64_t>(bodySize);
    const double base = static_cast<double>(size > 22 ? size - 22 : (size > 0 ? size : 1));
    z.OnProgress = [this, base](std::uint64_t consumed) {
      OnProgress(*this, static_cast<int>(std::lround(100.0 * consumed / base)), 2);
    };
  }
  WriteHeader(z, 2);
  checked(z);
  z.Finish();
}

void TBasedSWFStream::SaveToFile(const std::string& fileName) {
  SaveFileSafely(fileName, [this](TStream& file) { SaveToStream(file); });
}

// ---- TSWFTagInfo ----

TSWFTagInfo::TSWFTagInfo(std::uint16_t tagID, bool createObject)
    : TagID(static_cast<std::int16_t>(tagID)) {
  if (createObject) SWFObject = CreateTagByID(tagID);
}

const TSWFErrorTag* TSWFTagInfo::Error() const {
  // The class decides, not the code: a stored tag may carry the error tag's code.
  const auto* error = dynamic_cast<const TSWFErrorTag*>(Object());
  return error && !error->ErrorMessage.empty() ? error : nullptr;
}

// ---- TSWFStreamReader ----

TSWFStreamReader::TSWFStreamReader(const std::string& fileName) {
  if (!fileName.empty()) LoadFromFile(fileName);
}

bool TSWFStreamReader::CheckHeader(TStream& stream) {
  stream.SetPosition(0);
  char lead[4];
  IsValid = stream.Read(lead, 4) == 4 &&
            (std::memcmp(lead, "FWS", 3) == 0 || std::memcmp(lead, "CWS", 3) == 0);
  if (IsValid) FCompressed = lead[0] == 'C';
  return IsValid;
}

std::uint64_t TSWFStreamReader::ReadHeader(TStream& stream, int part) {
  const std::uint64_t start = stream.Position();
  if (part == 0 || part == 1) {
    std::uint8_t lead[8];
    stream.ReadBuffer(lead, 8);
    std::memcpy(FSignature, lead, 3);
    FVersion = FLoadedVersion = lead[3];
    FFileLength = lead[4] | (lead[5] << 8) | (lead[6] << 16) | (std::uint32_t(lead[7]) << 24);
  }
  if (part == 0 || part == 2) {
    TBitsEngine be(stream);
    FrameSize = be.ReadRect();
    FPS = be.ReadWord();
    FrameCount = be.ReadWord();
  }
  return stream.Position() - start;
}

namespace {

// Bytes the header after the first 8 takes, from its first byte (the RECT's bit count).
std::uint64_t HeaderRestSize(std::uint8_t first) {
  const unsigned bits = 5 + 4 * (first >> 3);
  return (bits + 7) / 8 + 4;
}

// The most a compressed body is inflated to: a movie's 32-bit file length cannot describe more,
// so what lies beyond is no movie (an inflating bomb) and is not worth the time.
constexpr std::uint64_t kMaxBodySize = 0xFFFFFFFFull - 8;

constexpr std::size_t kInflateChunk = 64 * 1024;

// The body of a movie file read where it lies: a plain body by seeking in the file, a compressed
// one by inflating forward, from the zlib data's start again when an earlier byte is wanted. Only
// the last chunk inflated is held, so reading a record just read again costs nothing.
class TFileBodyStream : public TStream {
 public:
  // A plain body starts at bodyStart of the file; a compressed one bodyStart bytes into the data
  // inflated from file offset 8. size: the body's bytes (for a compressed one, what inflating
  // really gave before any damage).
  TFileBodyStream(std::unique_ptr<TFileStream> file, bool compressed, std::uint64_t bodyStart,
                  std::uint64_t size)
      : FFile(std::move(file)), FCompressed(compressed), FStart(bodyStart), FSize(size) {}

  std::size_t Read(void* buffer, std::size_t count) override {
    count = static_cast<std::size_t>(
        std::min<std::uint64_t>(count, FSize - std::min(FPosition, FSize)));
    if (count == 0) return 0;
    if (!FCompressed) {
      FFile->SetPosition(FStart + FPosition);
      const std::size_t got = FFile->Read(buffer, count);
      FPosition += got;
      return got;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
      const std::uint64_t at = FStart + FPosition;
      if (at < FChunkStart) Restart();
      while (at >= FChunkStart + FChunkSize) {
        if (!NextChunk()) return done;
      }
      const std::size_t offset = static_cast<std::size_t>(at - FChunkStart);
      const std::size_t n = std::min(count - done, FChunkSize - offset);
      std::memcpy(out + done, FChunk.data() + offset, n);
      done += n;
      FPosition += n;
    }
    return done;
  }
  void Write(const void*, std::size_t) override {
    throw EStreamError("Invalid stream operation: a movie's body in its file cannot be written");
  }
  std::uint64_t Position() const override { return FPosition; }
  void SetPosition(std::uint64_t position) override { FPosition = position; }
  std::uint64_t Size() const override { return FSize; }

 private:
  void Restart() {
    FInflater.reset();
    FFile->SetPosition(8);
    FInflater = std::make_unique<TZDecompressionStream>(*FFile);
    FChunkStart = FChunkSize = 0;
  }
  bool NextChunk() {
    if (!FInflater) Restart();
    FChunkStart += FChunkSize;
    // Never past the bytes loading inflated: zlib data damaged further on would throw here and
    // take the good bytes of the same chunk with it.
    const std::uint64_t end = FStart + FSize;
    FChunk.resize(kInflateChunk);
    const auto want = static_cast<std::size_t>(
        std::min<std::uint64_t>(kInflateChunk, end - std::min(FChunkStart, end)));
    FChunkSize = want == 0 ? 0 : FInflater->Read(FChunk.data(), want);
    return FChunkSize > 0;
  }
  std::unique_ptr<TFileStream> FFile;
  bool FCompressed;
  std::uint64_t FStart, FSize;
  std::uint64_t FPosition = 0;
  std::unique_ptr<TZDecompressionStream> FInflater;
  std::vector<std::uint8_t> FChunk;
  std::uint64_t FChunkStart = 0;  // in the inflated data
  std::size_t FChunkSize = 0;
};

std::string BudgetMessage(std::uint64_t limit) {
  return "The body needs more than the memory budget of " + std::to_string(limit) + " bytes";
}

}  // namespace

void TSWFStreamReader::LoadFromFile(const std::string& fileName) {
  auto file = std::make_unique<TFileStream>(fileName, TFileStream::Mode::Read);
  // A body already begun in memory is appended to, as LoadFromStream does.
  if (FBody->Size() > 0) return LoadFromStream(*file);
  Warnings.clear();
  FSource.reset();
  const bool wasCompressed = FCompressed;
  if (!CheckHeader(*file)) return;
  file->SetPosition(0);
  std::uint8_t lead[9];
  const std::size_t got = file->Read(lead, 9);
  const bool tooShort =
      FCompressed ? file->Size() < 8 : got < 9 || file->Size() < 8 + HeaderRestSize(lead[8]);
  if (tooShort) {
    IsValid = false;
    FCompressed = wasCompressed;
    return;
  }
  file->SetPosition(0);
  if (!FCompressed) {
    const std::uint64_t bodyStart = ReadHeader(*file, 0);
    const std::uint64_t size = file->Size() - bodyStart;
    FSource = std::make_unique<TFileBodyStream>(std::move(file), false, bodyStart, size);
    return;
  }
  std::uint64_t headerRest = 0;
  const std::uint64_t size = LoadCompressed(*file, false, &headerRest);
  FSource = std::make_unique<TFileBodyStream>(std::move(file), true, headerRest, size);
}

void TSWFStreamReader::LoadFromStream(TStream& stream) {
  Warnings.clear();
  FSource.reset();
  const bool wasCompressed = FCompressed;
  if (!CheckHeader(stream)) return;
  // Too short for its own header: no SWF file, and nothing of it is taken.
  auto tooShort = [&] {
    IsValid = false;
    FCompressed = wasCompressed;
  };
  stream.SetPosition(0);
  if (!FCompressed) {
    std::uint8_t lead[9];
    const std::size_t got = stream.Read(lead, 9);
    if (got < 9 || stream.Size() < 8 + HeaderRestSize(lead[8])) return tooShort();
    stream.SetPosition(0);
    ReadHeader(stream, 0);
    if (stream.Size() - stream.Position() > MemoryLimit) {
      throw EMemoryBudgetExceeded(BudgetMessage(MemoryLimit));
    }
    // Sized once, so the body never exists twice while it grows.
    const std::uint64_t start = FBody->Size();
    const std::uint64_t rest = stream.Size() - stream.Position();
    FBody->SetSize(start + rest);
    FBody->SetPosition(start);
    try {
      stream.ReadBuffer(FBody->Data() + start, static_cast<std::size_t>(rest));
    } catch (...) {
      FBody->SetSize(start);
      throw;
    }
    return;
  }
  if (stream.Size() < 8) return tooShort();
  LoadCompressed(stream, true);
}

std::uint64_t TSWFStreamReader::LoadCompressed(TStream& stream, bool keepBody,
                                               std::uint64_t* headerRest) {
  ReadHeader(stream, 1);
  const std::uint64_t zStart = stream.Position();
  if (keepBody && !stream.Seekable()) {
    throw EStreamError("A compressed movie is loaded from a stream that can seek");
  }
  // One pass over the zlib data from its start: at most want bytes of the body go into into (or
  // are only counted when it is null). The claimed length is only a claim: the body holds what
  // the zlib data really yields.
  struct TPass {
    std::uint64_t Body = 0;  // bytes of the body, before any damage
    std::uint64_t Inflated = 0;
    std::uint64_t HeaderRest = 0;  // the header's bytes inside the zlib data
    std::string Damage;
    bool AtEnd = false;
  };
  auto pass = [&](std::uint8_t* into, std::uint64_t want) {
    stream.SetPosition(zStart);
    TZDecompressionStream z(stream);
    TPass result;
    try {
      result.HeaderRest = ReadHeader(z, 2);
    } catch (const EZlibError&) {
      throw;
    } catch (const EStreamError&) {
      throw EStreamError("The compressed data ends inside the movie header");
    }
    std::vector<std::uint8_t> scratch(into ? 0 : kInflateChunk);
    while (result.Body < want) {
      const auto n =
          static_cast<std::size_t>(std::min<std::uint64_t>(kInflateChunk, want - result.Body));
      std::size_t got = 0;
      try {
        got = z.Read(into ? into + result.Body : scratch.data(), n);
      } catch (const EZlibError& e) {
        result.Damage = e.what();  // what came before the damage is kept
      }
      if (got == 0) break;
      result.Body += got;
    }
    result.AtEnd = z.AtEnd();
    result.Inflated = z.Position();
    return result;
  };
  // Counted first, so a body beyond the budget is refused before any of it is held, however
  // far its data would inflate; the buffer is then sized once for what is really there.
  const std::uint64_t cap = keepBody ? std::min(MemoryLimit, kMaxBodySize) : kMaxBodySize;
  TPass counted = pass(nullptr, cap + 1);
  if (headerRest) *headerRest = counted.HeaderRest;
  if (counted.Body > cap) {
    if (keepBody && cap == MemoryLimit) throw EMemoryBudgetExceeded(BudgetMessage(MemoryLimit));
    counted.Body = cap;
    counted.Damage = "it inflates to more than a movie can hold";
  }
  if (keepBody) {
    const std::uint64_t bodyStart = FBody->Size();
    FBody->SetSize(bodyStart + counted.Body);
    try {
      if (pass(FBody->Data() + bodyStart, counted.Body).Body != counted.Body) {
        throw EStreamError("The compressed data changed while it was read");
      }
    } catch (...) {
      FBody->SetSize(bodyStart);
      throw;
    }
    FBody->SetPosition(FBody->Size());
  }
  if (!counted.Damage.empty()) {
    Warnings.push_back("the compressed data is damaged after " + std::to_string(counted.Inflated) +
                       " bytes (" + counted.Damage + "); what came before is kept");
  } else if (!counted.AtEnd) {
    Warnings.push_back("the compressed data is cut short after " +
                       std::to_string(counted.Inflated) + " bytes; what it holds is kept");
  }
  const std::uint64_t real = 8 + counted.Inflated;
  if (real != FFileLength) {
    Warnings.push_back("the header claims " + std::to_string(FFileLength) +
                       " bytes uncompressed, the data holds " + std::to_string(real));
  }
  return counted.Body;
}

TMemoryStream& TSWFStreamReader::Body() {
  if (!FSource) return *FBody;
  const std::uint64_t size = FSource->Size();
  if (size > MemoryLimit) throw EMemoryBudgetExceeded(BudgetMessage(MemoryLimit));
  auto body = std::make_unique<TMemoryStream>();
  body->SetSize(size);
  FSource->SetPosition(0);
  FSource->ReadBuffer(body->Data(), static_cast<std::size_t>(size));
  FBody = std::move(body);
  FSource.reset();
  return *FBody;
}

TStream& TSWFStreamReader::BodyStream() {
  return FSource ? *FSource : static_cast<TStream&>(*FBody);
}

std::uint64_t TSWFStreamReader::BodySize() const {
  return FSource ? FSource->Size() : FBody->Size();
}

// Entries for the tags inside a sprite, whose inner records lie in [innerStart, innerEnd) of the
// body. Positions and header forms come from the stored record headers, read from bytes, which
// hold the body from position base on (all of it, or the sprite's own record).
static void AddSubTags(TSWFTagInfo& info, TStream& bytes, std::uint64_t base,
                       std::uint64_t innerStart, std::uint64_t innerEnd, TSWFReadContext& context) {
  const TSWFObjectList* inner = info.Object() ? info.Object()->InnerTags() : nullptr;
  if (!inner) return;
  innerEnd = std::min<std::uint64_t>(innerEnd, base + bytes.Size());
  std::uint64_t position = innerStart;
  for (const auto& tag : *inner) {
    context.Charge(sizeof(TSWFTagInfo) + 32);
    const auto* error = dynamic_cast<const TSWFErrorTag*>(tag.get());
    const std::uint16_t code = error ? error->FailedTagID : tag->TagID;
    auto sub = std::make_unique<TSWFTagInfo>(code, false);
    sub->InnerObject = tag.get();
    sub->FrameNum = info.FrameNum;
    TSWFRecordHeader header;
    header.TagID = code;
    header.Length = static_cast<std::uint64_t>(std::max(tag->BodySize, 0));
    header.LongHeader = NeedsLongHeader(code, tag->BodySize);
    if (position < innerEnd) {
      TStreamWindow window(bytes, position - base, innerEnd - position);
      ReadRecordHeader(window, header);
    }
    sub->Length = static_cast<std::int64_t>(header.Length);
    sub->LongHeader = header.LongHeader;
    sub->Position = static_cast<std::int64_t>(position);
    const std::uint64_t bodyStart = position + header.Size();
    AddSubTags(*sub, bytes, base, bodyStart + 4, std::min(bodyStart + header.Length, innerEnd),
               context);
    info.SubTags.push_back(std::move(sub));
    position = bodyStart + header.Length;
  }
}

TSWFReadContext TSWFStreamReader::NewReadContext(bool parseActions) const {
  TSWFReadContext context;
  context.SWFVersion = FVersion;
  context.ParseActions = parseActions;
  context.MemoryLimit = MemoryLimit;
  return context;
}

TTagListPolicy TSWFStreamReader::IndexPolicy() {
  TTagListPolicy policy = TTagListPolicy::TopLevel();
  policy.EntryCost = sizeof(TSWFTagInfo) + 32;
  return policy;
}

void TSWFStreamReader::ParseTags(bool createObjects, bool parseActions) {
  TagList.clear();
  // Every object of the movie is held at once, so the body might as well be: sprites' inner
  // headers are then read without going back in the file.
  if (createObjects) Body();
  TStream& source = BodyStream();
  source.SetPosition(0);
  TSWFReadContext context = NewReadContext(parseActions);
  const std::uint64_t size = source.Size();
  context.Charge(BodyHeld());
  std::int64_t frame = 1;
  FTrailingSize = 0;
  try {
    TTagListReader tags(source, context, IndexPolicy());
    TTagRecord record;
    for (;;) {
      if (OnProgress && tags.Position() < size) {
        OnProgress(*this, static_cast<int>(std::lround(100.0 * tags.Position() / size)), 0);
      }
      if (!tags.NextHeader(record)) break;
      auto info = std::make_unique<TSWFTagInfo>(record.Header.TagID, false);
      info->Length = static_cast<std::int64_t>(record.Header.Length);
      info->LongHeader = record.Header.LongHeader;
      info->Position = static_cast<std::int64_t>(record.Position);
      info->FrameNum = frame;
      if (record.Header.TagID == 1) ++frame;
      bool accept = createObjects;
      if (accept && OnCreateTagObject) OnCreateTagObject(*info, accept);
      // A body cut off by the end of the file is not read: what is there belongs to no tag, and
      // the rebuild copies it as it is.
      tags.ReadBody(record, accept);
      if (record.Object) {
        info->SWFObject = std::move(record.Object);
        const std::uint64_t bodyStart = record.BodyStart();
        AddSubTags(*info, source, 0, bodyStart + 4, bodyStart + record.Header.Length, context);
      }
      TagList.push_back(std::move(info));
    }
    FTrailingSize = tags.TrailingBytes();
  } catch (...) {
    TagList.clear();
    throw;
  }
}

std::unique_ptr<TSWFObject> TSWFStreamReader::ReadTagObject(const TSWFTagInfo& info,
                                                            TSWFReadContext& context,
                                                            std::vector<std::uint8_t>* stored) {
  if (stored) stored->clear();
  TStream& body = BodyStream();
  const std::uint64_t size = body.Size();
  const auto position = static_cast<std::uint64_t>(info.Position);
  if (position >= size) return nullptr;
  const std::uint64_t length = std::min<std::uint64_t>(info.StoredSize(), size - position);
  TTagListPolicy policy = IndexPolicy();
  policy.EntryCost = 0;  // the entry is already there
  TTagRecord record;
  if (!FSource) {
    if (stored) stored->assign(FBody->Data() + position, FBody->Data() + position + length);
    TStreamWindow rest(*FBody, position, size - position);
    TTagListReader tags(rest, context, policy);
    if (!tags.Next(record)) return nullptr;
    return std::move(record.Object);
  }
  // From the file the record is read once, whole, and parsed in memory: going back in a
  // compressed file would mean inflating it again from the start.
  context.Charge(length);
  body.SetPosition(position);
  TMemoryStream bytes(body.ReadBytes(static_cast<std::size_t>(length)));
  TTagListReader tags(bytes, context, policy);
  const bool read = tags.Next(record);
  if (stored) *stored = bytes.Bytes();
  return read ? std::move(record.Object) : nullptr;
}

void TSWFStreamReader::ReadEntry(TSWFTagInfo& info, TSWFReadContext& context) {
  info.SubTags.clear();
  std::vector<std::uint8_t> stored;
  info.SWFObject = ReadTagObject(info, context, FSource ? &stored : nullptr);
  if (!info.SWFObject) return;
  const auto position = static_cast<std::uint64_t>(info.Position);
  const std::uint64_t bodyStart = position + (info.LongHeader ? 6 : 2);
  const std::uint64_t bodyEnd = bodyStart + static_cast<std::uint64_t>(info.Length);
  if (!FSource) return AddSubTags(info, *FBody, 0, bodyStart + 4, bodyEnd, context);
  TMemoryStream record(std::move(stored));
  AddSubTags(info, record, position, bodyStart + 4, bodyEnd, context);
}

void TSWFStreamReader::MakeStream() {
  auto body = std::make_unique<TMemoryStream>();
  // The old body may still be in its file: the entries are copied from it in file order.
  TStream& source = BodyStream();
  TBitsEngine be(*body);
  // Tags whose layout depends on the version are written for the movie they are written into.
  be.SWFVersion = FVersion;
  be.Cp1252StringsToUtf8 = FLoadedVersion != 0 && FLoadedVersion < 6 && FVersion >= 6;
  const std::size_t count = TagList.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (OnProgress) {
      OnProgress(*this, static_cast<int>(std::lround(100.0 * (i + 1) / count)), 1);
    }
    TSWFTagInfo& info = *TagList[i];
    const std::uint64_t position = body->Size();
    if (info.SWFObject) {
      info.SWFObject->WriteToStream(be);
      TSWFRecordHeader header;
      body->SetPosition(position);
      ReadRecordHeader(*body, header);
      body->SetPosition(body->Size());
      info.Length = static_cast<std::int64_t>(header.Length);
      info.LongHeader = header.LongHeader;
    } else {
      // A tag cut short by the end of the file is copied as far as it goes.
      const std::uint64_t oldSize = source.Size();
      const std::uint64_t start = std::min<std::uint64_t>(info.Position, oldSize);
      const std::uint64_t stored = std::min<std::uint64_t>(info.StoredSize(), oldSize - start);
      source.SetPosition(start);
      body->CopyFrom(source, stored);
    }
    // Keep the index true for the new body, so a later rebuild copies the right bytes.
    info.Position = static_cast<std::int64_t>(position);
  }
  if (FTrailingSize > 0) {
    source.SetPosition(source.Size() - FTrailingSize);
    body->CopyFrom(source, FTrailingSize);
  }
  FBody = std::move(body);
  FSource.reset();
}

std::uint16_t TSWFStreamReader::ChangeCharacterIDs(std::uint16_t baseID) {
  std::vector<std::uint16_t> oldIDs;
  std::unordered_map<std::uint16_t, std::size_t> firstIndex;  // old id -> its first place in oldIDs
  std::vector<std::uint16_t*> fields;
  for (auto& info : TagList) {
    TSWFObject* obj = info->SWFObject.get();
    if (!obj) continue;
    bool accept = true;
    if (OnChangeIDFilter) OnChangeIDFilter(*obj, accept);
    if (!accept) continue;
    fields.clear();
    obj->DefinedCharacterIDs(fields);
    for (std::uint16_t* id : fields) {
      firstIndex.emplace(*id, oldIDs.size());
      oldIDs.push_back(*id);
      *id = static_cast<std::uint16_t>(baseID + oldIDs.size() - 1);
    }
  }
  for (auto& info : TagList) {
    TSWFObject* obj = info->SWFObject.get();
    if (!obj) continue;
    fields.clear();
    obj->ReferencedCharacterIDs(fields);
    for (std::uint16_t* id : fields) {
      const auto found = firstIndex.find(*id);
      if (found != firstIndex.end()) *id = static_cast<std::uint16_t>(baseID + found->second);
    }
  }
  return static_cast<std::uint16_t>(baseID + oldIDs.size());
}

}  // namespace kestrova
