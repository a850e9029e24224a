#include "swfstreams/SWFStreams.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>

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
  FFileLength = static_cast<std::uint32_t>(FBody->Size() + HeaderSize());
  FBody->SetPosition(0);
  if (!FCompressed) {
    std::memcpy(FSignature, "FWS", 3);
    WriteHeader(stream, 0);
    stream.CopyAll(*FBody);
    return;
  }
  std::memcpy(FSignature, "CWS", 3);
  if (FVersion < 6) FVersion = 6;
  WriteHeader(stream, 1);
  TZCompressionStream z(stream);
  if (OnProgress) {
    // A body of 22 bytes or less would divide by zero; its progress is reported against its size.
    const std::int64_t size = static_cast<std::int64_t>(FBody->Size());
    const double base = static_cast<double>(size > 22 ? size - 22 : (size > 0 ? size : 1));
    z.OnProgress = [this, base](std::uint64_t consumed) {
      OnProgress(*this, static_cast<int>(std::lround(100.0 * consumed / base)), 2);
    };
  }
  WriteHeader(z, 2);
  z.CopyAll(*FBody);
  z.Finish();
}

void TBasedSWFStream::SaveToFile(const std::string& fileName) {
  // Written beside the target and renamed over it, so that a failed save leaves any earlier file
  // whole instead of half-written.
  const std::string partName = fileName + ".part";
  try {
    TFileStream file(partName, TFileStream::Mode::Create);
    SaveToStream(file);
    file.Close();
    ReplaceFile(partName, fileName);
  } catch (...) {
    RemoveFile(partName);
    throw;
  }
}

// ---- TSWFTagInfo ----

TSWFTagInfo::TSWFTagInfo(std::uint16_t tagID, bool createObject)
    : TagID(static_cast<std::int16_t>(tagID)) {
  if (createObject) SWFObject = CreateTagByID(tagID);
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
    FVersion = lead[3];
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

void TSWFStreamReader::LoadFromStream(TStream& stream) {
  if (!CheckHeader(stream)) return;
  stream.SetPosition(0);
  if (!FCompressed) {
    ReadHeader(stream, 0);
    FBody->CopyRest(stream);
    return;
  }
  ReadHeader(stream, 1);
  TZDecompressionStream z(stream);
  // The claimed length is only a claim: the body grows with the bytes the zlib data really
  // yields, and a shortfall is the stream read error (and loads nothing).
  const std::uint64_t expected = FFileLength >= 8 ? FFileLength - 8 : 0;
  const std::uint64_t bodyStart = FBody->Size();
  try {
    const std::uint64_t header = ReadHeader(z, 2);
    if (header > expected) throw EStreamError(kStreamReadError);
    FBody->SetPosition(bodyStart);
    FBody->CopyFrom(z, expected - header);
  } catch (...) {
    FBody->SetSize(bodyStart);
    throw;
  }
}

// Entries for the tags inside a sprite, whose inner records lie in [innerStart, innerEnd) of the
// body. Positions and header forms come from the stored record headers, so a file that frames
// short inner bodies with the long header is listed as it really is.
static void AddSubTags(TSWFTagInfo& info, const TMemoryStream& body, std::uint64_t innerStart,
                       std::uint64_t innerEnd) {
  const TSWFObjectList* inner = info.Object() ? info.Object()->InnerTags() : nullptr;
  if (!inner) return;
  const std::uint8_t* data = body.Data();
  innerEnd = std::min<std::uint64_t>(innerEnd, body.Size());
  std::uint64_t position = innerStart;
  for (const auto& tag : *inner) {
    auto sub = std::make_unique<TSWFTagInfo>(tag->TagID, false);
    sub->InnerObject = tag.get();
    sub->FrameNum = info.FrameNum;
    std::uint64_t length = static_cast<std::uint64_t>(std::max(tag->BodySize, 0));
    bool longHeader = NeedsLongHeader(tag->TagID, tag->BodySize);
    if (position + 2 <= innerEnd) {
      length = data[position] & 0x3F;
      longHeader = length == 0x3F && position + 6 <= innerEnd;
      if (longHeader) {
        length = data[position + 2] | (data[position + 3] << 8) | (data[position + 4] << 16) |
                 (std::uint64_t(data[position + 5]) << 24);
      }
    }
    sub->Length = static_cast<std::int32_t>(std::min<std::uint64_t>(length, INT32_MAX));
    sub->LongHeader = longHeader;
    sub->Position = static_cast<std::int32_t>(position);
    const std::uint64_t bodyStart = position + (longHeader ? 6 : 2);
    AddSubTags(*sub, body, bodyStart + 4, std::min(bodyStart + length, innerEnd));
    info.SubTags.push_back(std::move(sub));
    position = bodyStart + length;
  }
}

// Whether the object, as it stands, writes a non-empty body.
static bool WritesABody(TSWFObject& tag) {
  TMemoryStream body;
  TBitsEngine be(body);
  tag.WriteTagBody(be);
  be.FlushLastByte(true);
  return body.Size() > 0;
}

void TSWFStreamReader::ParseTags(bool createObjects, bool parseActions) {
  TagList.clear();
  FBody->SetPosition(0);
  TBitsEngine be(*FBody);
  TSWFReadContext context;
  context.SWFVersion = FVersion;
  context.ParseActions = parseActions;
  std::int16_t frame = 1;
  const std::uint64_t size = FBody->Size();
  FTrailingSize = 0;
  while (FBody->Position() < size) {
    const std::uint64_t position = FBody->Position();
    if (OnProgress) OnProgress(*this, static_cast<int>(std::lround(100.0 * position / size)), 0);
    // A header cut by the end of the body is not a tag: the body ends there, and the rebuild
    // keeps those bytes.
    if (size - position < 2) {
      FTrailingSize = size - position;
      break;
    }
    const std::uint16_t word = be.ReadWord();
    std::uint64_t length = word & 0x3F;
    bool longHeader = false;
    if (length == 0x3F) {
      if (size - FBody->Position() < 4) {
        FTrailingSize = size - position;
        break;
      }
      length = be.ReadDWord();
      longHeader = true;
    }
    const std::uint64_t bodyStart = FBody->Position();
    auto info = std::make_unique<TSWFTagInfo>(word >> 6, false);
    // Lengths are unsigned in the file; one above 2^31 cannot fit in this body anyway.
    info->Length = static_cast<std::int32_t>(std::min<std::uint64_t>(length, INT32_MAX));
    info->LongHeader = longHeader;
    info->Position = static_cast<std::int32_t>(position);
    info->FrameNum = frame;
    if (info->TagID == 1) ++frame;
    if (createObjects) {
      bool accept = true;
      if (OnCreateTagObject) OnCreateTagObject(*info, accept);
      if (accept) info->SWFObject = CreateTagByID(static_cast<std::uint16_t>(info->TagID));
    }
    if (info->Length == 0 && info->SWFObject && WritesABody(*info->SWFObject)) {
      // An empty body is not read, and the object's defaults would write a body the file never
      // had: the entry keeps its stored bytes instead.
      info->SWFObject.reset();
    }
    if (info->Length > 0 && info->SWFObject) {
      info->SWFObject->BodySize = info->Length;
      try {
        // A body cut off by the end of the file is not read: what is there belongs to no tag.
        if (length > size - bodyStart) throw EStreamError("Tag body runs past the end of the file");
        // Each body is read through a window of its own length, so a damaged tag can neither
        // read the next tag's bytes nor be disturbed by them.
        TStreamWindow window(*FBody, bodyStart, length);
        TBitsEngine tagEngine(window);
        ReadTagBody(*info->SWFObject, tagEngine, context);
        AddSubTags(*info, *FBody, bodyStart + 4, bodyStart + length);
      } catch (const std::exception& e) {
        auto error = std::make_unique<TSWFErrorTag>();
        error->ErrorMessage = e.what();
        error->FailedTagID = static_cast<std::uint16_t>(info->TagID);
        error->BodySize = info->Length;
        info->SubTags.clear();
        info->SWFObject = std::move(error);
        info->TagID = TSWFErrorTag::kTagID;
      }
    }
    FBody->SetPosition(bodyStart + length);
    TagList.push_back(std::move(info));
  }
}

void TSWFStreamReader::MakeStream() {
  auto body = std::make_unique<TMemoryStream>();
  TBitsEngine be(*body);
  const std::size_t count = TagList.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (OnProgress) {
      OnProgress(*this, static_cast<int>(std::lround(100.0 * (i + 1) / count)), 1);
    }
    TSWFTagInfo& info = *TagList[i];
    const std::uint64_t position = body->Size();
    if (info.SWFObject) {
      info.SWFObject->WriteToStream(be);
      info.Length = info.SWFObject->BodySize;
      info.LongHeader = NeedsLongHeader(info.SWFObject->TagID, info.Length);
    } else {
      // A tag cut short by the end of the file is copied as far as it goes.
      const std::uint64_t oldSize = FBody->Size();
      const std::uint64_t start = std::min<std::uint64_t>(info.Position, oldSize);
      const std::uint64_t stored = std::min<std::uint64_t>(info.StoredSize(), oldSize - start);
      FBody->SetPosition(start);
      body->CopyFrom(*FBody, stored);
    }
    // Keep the index true for the new body, so a later rebuild copies the right bytes.
    info.Position = static_cast<std::int32_t>(position);
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
