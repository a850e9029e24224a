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
  SaveToStream(stream, FBody->Size(), [this](TStream& body) {
    FBody->SetPosition(0);
    body.CopyRest(*FBody);
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
  const TSWFObject* obj = Object();
  if (!obj || obj->TagID != TSWFErrorTag::kTagID) return nullptr;
  const auto* error = static_cast<const TSWFErrorTag*>(obj);
  return error->ErrorMessage.empty() ? nullptr : error;
}

// ---- TSWFStreamReader ----

TSWFStreamReader::TSWFStreamReader(const std::string& fileName) {
  if (!fileName.empty()) LoadFromFile(fileName);
}

void TSWFStreamReader::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, TFileStream::Mode::Read);
  LoadFromStream(file);
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

// How far the body is sized ahead from a compressed file's claimed length, per compressed byte.
// Screen recordings compress well below this; a claim beyond it is sized as it really grows, so
// a small file with a lying header cannot make loading touch much memory.
constexpr std::uint64_t kPresizePerPackedByte = 64;

std::string BudgetMessage(std::uint64_t limit) {
  return "The body needs more than the memory budget of " + std::to_string(limit) + " bytes";
}

}  // namespace

void TSWFStreamReader::LoadFromStream(TStream& stream) {
  Warnings.clear();
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
  LoadCompressed(stream);
}

void TSWFStreamReader::LoadCompressed(TStream& stream) {
  ReadHeader(stream, 1);
  TZDecompressionStream z(stream);
  // The claimed length is only a claim: the body holds what the zlib data really yields.
  const std::uint64_t bodyStart = FBody->Size();
  std::string damage;
  try {
    try {
      ReadHeader(z, 2);
    } catch (const EZlibError&) {
      throw;
    } catch (const EStreamError&) {
      throw EStreamError("The compressed data ends inside the movie header");
    }
    // The body is sized once for what the header claims, so it never exists twice while it
    // grows; the claim is only believed within the budget and a plausible ratio.
    const std::uint64_t packed = stream.Size() - std::min(stream.Position(), stream.Size());
    const std::uint64_t claimed =
        FFileLength > z.Position() + 8 ? FFileLength - z.Position() - 8 : 0;
    FBody->SetSize(bodyStart + std::min({claimed, MemoryLimit, packed * kPresizePerPackedByte}));
    FBody->SetPosition(bodyStart);
    std::uint8_t buffer[64 * 1024];
    for (;;) {
      std::size_t got = 0;
      try {
        got = z.Read(buffer, sizeof buffer);
      } catch (const EZlibError& e) {
        damage = e.what();  // what came before the damage is kept
      }
      if (got == 0) break;
      if (FBody->Position() - bodyStart + got > MemoryLimit) {
        throw EMemoryBudgetExceeded(BudgetMessage(MemoryLimit));
      }
      FBody->Write(buffer, got);
    }
    FBody->SetSize(FBody->Position());
  } catch (...) {
    FBody->SetSize(bodyStart);
    throw;
  }
  if (!damage.empty()) {
    Warnings.push_back("the compressed data is damaged after " + std::to_string(z.Position()) +
                       " bytes (" + damage + "); what came before is kept");
  } else if (!z.AtEnd()) {
    Warnings.push_back("the compressed data is cut short after " + std::to_string(z.Position()) +
                       " bytes; what it holds is kept");
  }
  const std::uint64_t real = 8 + z.Position();
  if (real != FFileLength) {
    Warnings.push_back("the header claims " + std::to_string(FFileLength) +
                       " bytes uncompressed, the data holds " + std::to_string(real));
  }
}

// Entries for the tags inside a sprite, whose inner records lie in [innerStart, innerEnd) of the
// body. Positions and header forms come from the stored record headers.
static void AddSubTags(TSWFTagInfo& info, TMemoryStream& body, std::uint64_t innerStart,
                       std::uint64_t innerEnd, TSWFReadContext& context) {
  const TSWFObjectList* inner = info.Object() ? info.Object()->InnerTags() : nullptr;
  if (!inner) return;
  innerEnd = std::min<std::uint64_t>(innerEnd, body.Size());
  std::uint64_t position = innerStart;
  for (const auto& tag : *inner) {
    context.Charge(sizeof(TSWFTagInfo) + 32);
    const std::uint16_t code = tag->TagID == TSWFErrorTag::kTagID
                                   ? static_cast<const TSWFErrorTag&>(*tag).FailedTagID
                                   : tag->TagID;
    auto sub = std::make_unique<TSWFTagInfo>(code, false);
    sub->InnerObject = tag.get();
    sub->FrameNum = info.FrameNum;
    TSWFRecordHeader header;
    header.TagID = code;
    header.Length = static_cast<std::uint64_t>(std::max(tag->BodySize, 0));
    header.LongHeader = NeedsLongHeader(code, tag->BodySize);
    if (position < innerEnd) {
      TStreamWindow window(body, position, innerEnd - position);
      ReadRecordHeader(window, header);
    }
    sub->Length = static_cast<std::int64_t>(header.Length);
    sub->LongHeader = header.LongHeader;
    sub->Position = static_cast<std::int64_t>(position);
    const std::uint64_t bodyStart = position + header.Size();
    AddSubTags(*sub, body, bodyStart + 4, std::min(bodyStart + header.Length, innerEnd), context);
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
  FBody->SetPosition(0);
  TSWFReadContext context = NewReadContext(parseActions);
  const std::uint64_t size = FBody->Size();
  context.Charge(size);
  std::int64_t frame = 1;
  FTrailingSize = 0;
  try {
    TTagListReader tags(*FBody, context, IndexPolicy());
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
        AddSubTags(*info, *FBody, bodyStart + 4, bodyStart + record.Header.Length, context);
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
                                                            TSWFReadContext& context) {
  const std::uint64_t size = FBody->Size();
  const auto position = static_cast<std::uint64_t>(info.Position);
  if (position >= size) return nullptr;
  TStreamWindow rest(*FBody, position, size - position);
  TTagListPolicy policy = IndexPolicy();
  policy.EntryCost = 0;  // the entry is already there
  TTagListReader tags(rest, context, policy);
  TTagRecord record;
  if (!tags.Next(record)) return nullptr;
  return std::move(record.Object);
}

void TSWFStreamReader::ReadEntry(TSWFTagInfo& info, TSWFReadContext& context) {
  info.SubTags.clear();
  info.SWFObject = ReadTagObject(info, context);
  if (!info.SWFObject) return;
  const std::uint64_t bodyStart =
      static_cast<std::uint64_t>(info.Position) + (info.LongHeader ? 6 : 2);
  AddSubTags(info, *FBody, bodyStart + 4, bodyStart + static_cast<std::uint64_t>(info.Length),
             context);
}

void TSWFStreamReader::MakeStream() {
  auto body = std::make_unique<TMemoryStream>();
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
      const std::uint64_t oldSize = FBody->Size();
      const std::uint64_t start = std::min<std::uint64_t>(info.Position, oldSize);
      const std::uint64_t stored = std::min<std::uint64_t>(info.StoredSize(), oldSize - start);
      FBody->SetPosition(start);
      body->CopyFrom(*FBody, stored);
    }
    // Keep the index true for the new body, so a later rebuild copies the right bytes.
    info.Position = static_cast<std::int64_t>(position);
  }
  if (FTrailingSize > 0) {
    FBody->SetPosition(FBody->Size() - FTrailingSize);
    body->CopyFrom(*FBody, FTrailingSize);
  }
  FBody = std::move(body);
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
