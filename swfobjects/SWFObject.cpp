#include "swfobjects/SWFObject.h"

#include <cstdio>

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

void TSWFObject::Assign(const TBasedSWFObject& source) {
  BodySize = SameClass(source, *this).BodySize;
}

void TSWFObject::WriteToStream(TBitsEngine& be) {
  TMemoryStream body;
  TBitsEngine bodyEngine(body);
  WriteTagBody(bodyEngine);
  bodyEngine.FlushLastByte(true);
  BodySize = static_cast<std::int32_t>(body.Size());
  const bool longForm = NeedsLongHeader(TagID, BodySize);
  const std::uint16_t word =
      static_cast<std::uint16_t>((TagID << 6) | (longForm ? 0x3F : BodySize));
  be.FlushLastByte(true);
  be.Stream.WriteByte(static_cast<std::uint8_t>(word));
  be.Stream.WriteByte(static_cast<std::uint8_t>(word >> 8));
  if (longForm) be.WriteDWord(static_cast<std::uint32_t>(BodySize));
  if (BodySize > 0) be.Stream.Write(body.Data(), body.Size());
}

void TSWFErrorTag::Assign(const TBasedSWFObject& source) {
  TSWFObject::Assign(source);
  const auto& s = static_cast<const TSWFErrorTag&>(source);
  FailedTagID = s.FailedTagID;
  ErrorMessage = s.ErrorMessage;
}

void TSWFErrorTag::Describe(TSWFDescription& d) const {
  d.Field("failed", FailedTagID);
  d.Field("error", QuoteText(ErrorMessage));
}

bool IsAlwaysLongHeader(std::uint16_t tagID) {
  return tagID == 20 || tagID == 36 || tagID == 60;
}

bool NeedsLongHeader(std::uint16_t tagID, std::int64_t bodySize) {
  return bodySize > 62 || IsAlwaysLongHeader(tagID);
}

void WriteRecordHeader(TStream& stream, std::uint16_t tagID, std::uint32_t bodySize) {
  const bool longForm = NeedsLongHeader(tagID, bodySize);
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
  tag.PrepareRead(context);
  tag.ReadContext = &context;
  try {
    tag.ReadFromStream(be);
  } catch (...) {
    tag.ReadContext = nullptr;
    throw;
  }
  tag.ReadContext = nullptr;
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
