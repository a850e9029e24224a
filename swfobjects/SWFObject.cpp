#include "swfobjects/SWFObject.h"

#include <cstdio>
#include <new>

#include "swfobjects/TagCatalogue.h"

namespace kestrova {

void TSWFDescription::Field(std::string_view name, std::string_view value) {
  if (!Fields.empty()) Fields += ' ';
  Fields.append(name).append("=").append(value);
}

void TSWFDescription::Field(std::string_view name, std::int64_t value) {
  Field(name, std::string_view(std::to_string(value)));
}

void TSWFDescription::Line(std::string text, int depth) {
  Lines.emplace_back(depth, std::move(text));
}

std::string QuoteText(std::string_view text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (b < 0x20 || b == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", b);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

void TSWFReadContext::Charge(std::uint64_t bytes) {
  MemoryUsed += bytes;
  if (MemoryUsed > MemoryLimit) {
    throw EMemoryBudgetExceeded("Reading needs more than the memory budget of " +
                                std::to_string(MemoryLimit) + " bytes");
  }
}

void TSWFObject::WriteToStream(TBitsEngine& be) {
  TMemoryStream body;
  TBitsEngine bodyEngine(body, be);
  WriteTagBody(bodyEngine);
  bodyEngine.FlushLastByte(true);
  if (!UnparsedBytes.empty()) body.Write(UnparsedBytes.data(), UnparsedBytes.size());
  BodySize = static_cast<std::int32_t>(body.Size());
  be.FlushLastByte(true);
  WriteRecordHeader(be.Stream, TagID, static_cast<std::uint32_t>(BodySize));
  if (BodySize > 0) be.Stream.Write(body.Data(), body.Size());
}

void TSWFErrorTag::WriteTagBody(TBitsEngine& be) const {
  be.WriteBytes(StoredBody.data(), static_cast<std::int64_t>(StoredBody.size()));
}

void TSWFErrorTag::WriteToStream(TBitsEngine& be) {
  be.FlushLastByte(true);
  BodySize = static_cast<std::int32_t>(StoredBody.size() + UnparsedBytes.size());
  WriteRecordHeader(be.Stream, FailedTagID, static_cast<std::uint32_t>(BodySize), StoredLongHeader);
  be.Stream.Write(StoredBody.data(), StoredBody.size());
  be.Stream.Write(UnparsedBytes.data(), UnparsedBytes.size());
}

void TSWFErrorTag::Describe(TSWFDescription& d) const {
  if (!ErrorMessage.empty()) d.Field("error", QuoteText(ErrorMessage));
}

bool IsAlwaysLongHeader(std::uint16_t tagID) {
  const TTagCatalogueRow* row = FindTagRow(tagID);
  return row && row->AlwaysLongHeader;
}

bool NeedsLongHeader(std::uint16_t tagID, std::int64_t bodySize) {
  return bodySize > 62 || IsAlwaysLongHeader(tagID);
}

void WriteRecordHeader(TStream& stream, std::uint16_t tagID, std::uint32_t bodySize,
                       bool longForm) {
  longForm = longForm || NeedsLongHeader(tagID, bodySize);
  const std::uint16_t word =
      static_cast<std::uint16_t>((tagID << 6) | (longForm ? 0x3F : bodySize));
  std::uint8_t header[6] = {
      static_cast<std::uint8_t>(word),           static_cast<std::uint8_t>(word >> 8),
      static_cast<std::uint8_t>(bodySize),       static_cast<std::uint8_t>(bodySize >> 8),
      static_cast<std::uint8_t>(bodySize >> 16), static_cast<std::uint8_t>(bodySize >> 24)};
  stream.Write(header, longForm ? 6 : 2);
}

void WriteTagFromStream(TStream& target, std::uint16_t tagID, TStream& body, std::uint32_t size) {
  if (size == 0) size = static_cast<std::uint32_t>(body.Size() - body.Position());
  WriteRecordHeader(target, tagID, size);
  target.CopyFrom(body, size);
}

std::int64_t TotalTagSize(const TSWFObject& tag) {
  return std::int64_t(tag.BodySize) + 2 + (tag.BodySize > 62 ? 4 : 0);
}

void ReadTagBody(TSWFObject& tag, TBitsEngine& be, TSWFReadContext& context) {
  const std::uint64_t end =
      be.Stream.Position() + static_cast<std::uint64_t>(std::max(tag.BodySize, 0));
  tag.UnparsedBytes.clear();
  try {
    tag.ReadFromStream(be, context);
  } catch (const ESWFParseError&) {
    throw;
  } catch (const EMemoryBudgetExceeded&) {
    throw;
  } catch (const EStreamError& e) {
    // A read the body's window stopped short: the same error as any other short body, with the
    // message it always had.
    throw ESWFParseError(e.what(), tag.TagID, be.Stream.Position());
  }
  // One place keeps what no class reads, so no class can drop it.
  const std::uint64_t position = be.Stream.Position();
  if (position < end) tag.UnparsedBytes = be.Stream.ReadBytes(end - position);
}

bool ReadRecordHeader(TStream& stream, TSWFRecordHeader& header) {
  const std::uint64_t position = stream.Position();
  const std::uint64_t size = stream.Size();
  const std::uint64_t left = size > position ? size - position : 0;
  if (left < 2) return false;
  std::uint8_t bytes[6];
  stream.ReadBuffer(bytes, 2);
  const std::uint16_t word = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
  header.TagID = word >> 6;
  header.Length = word & 0x3F;
  header.LongHeader = header.Length == 0x3F;
  if (header.LongHeader) {
    if (left < 6) {
      stream.SetPosition(position);
      return false;
    }
    stream.ReadBuffer(bytes + 2, 4);
    header.Length = bytes[2] | (bytes[3] << 8) | (bytes[4] << 16) | (std::uint64_t(bytes[5]) << 24);
  }
  return true;
}

namespace {

// Whether the object, as it stands, writes a non-empty body.
bool WritesABody(TSWFObject& tag) {
  TMemoryStream body;
  TBitsEngine be(body);
  tag.WriteTagBody(be);
  be.FlushLastByte(true);
  return body.Size() > 0;
}

// What an object costs besides its decoded fields: the object, its allocation, its owner's slot.
constexpr std::uint64_t kObjectCost = 128;

std::unique_ptr<TSWFObject> RawTag(const TSWFRecordHeader& header, TStream& body,
                                   std::string message, TSWFReadContext& context) {
  context.Charge(kObjectCost + header.Length);
  auto raw = std::make_unique<TSWFErrorTag>();
  raw->FailedTagID = header.TagID;
  raw->ErrorMessage = std::move(message);
  raw->StoredLongHeader = header.LongHeader;
  body.SetPosition(0);
  raw->StoredBody = body.ReadBytes(static_cast<std::size_t>(body.Size()));
  raw->BodySize = static_cast<std::int32_t>(raw->StoredBody.size());
  return raw;
}

}  // namespace

std::unique_ptr<TSWFObject> ReadStoredTag(const TSWFRecordHeader& header, TStream& body,
                                          TSWFReadContext& context, bool keepUnknown) {
  auto tag = CreateTagByID(header.TagID);
  if (!tag) return keepUnknown ? RawTag(header, body, "", context) : nullptr;
  const std::uint64_t length = body.Size();
  if (length == 0 && WritesABody(*tag)) {
    return keepUnknown ? RawTag(header, body, "", context) : nullptr;
  }
  const TTagCatalogueRow* row = FindTagRow(header.TagID);
  const std::uint64_t perByte = row ? DecodedBytesPerBodyByte(*row, context.ParseActions) : 1;
  context.Charge(kObjectCost + length * perByte);
  if (length == 0) return tag;
  tag->BodySize = static_cast<std::int32_t>(std::min<std::uint64_t>(length, INT32_MAX));
  try {
    body.SetPosition(0);
    TBitsEngine be(body);
    ReadTagBody(*tag, be, context);
    return tag;
  } catch (const EMemoryBudgetExceeded&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    return RawTag(header, body, e.what(), context);
  }
}

std::string ColorText(const TSWFRGB& c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%02X%02X%02X", c.R, c.G, c.B);
  return buf;
}

std::string ColorText(const TSWFRGBA& c, bool withAlpha) {
  if (!withAlpha) return ColorText(static_cast<const TSWFRGB&>(c));
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%02X%02X%02X%02X", c.R, c.G, c.B, c.A());
  return buf;
}

}  // namespace kestrova
