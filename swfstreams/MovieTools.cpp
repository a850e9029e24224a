#include "swfstreams/MovieTools.h"

#include <cstdio>
#include <cstring>

#include "swftools/SafeFile.h"

namespace kestrova {

namespace {

std::string Format(const char* format, auto... values) {
  char buf[256];
  std::snprintf(buf, sizeof buf, format, values...);
  return buf;
}

bool IsUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    const int extra = b < 0x80         ? 0
                      : (b >> 5) == 6  ? 1
                      : (b >> 4) == 14 ? 2
                      : (b >> 3) == 30 ? 3
                                       : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= s.size() + (extra == 0)) return false;
    for (int k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    }
    i += 1 + extra;
  }
  return true;
}

void ListTag(const TSWFTagInfo& info, int depth, bool cp1252, std::ostream& out) {
  const std::string indent(2 * depth, ' ');
  const auto code = static_cast<std::uint16_t>(info.TagID);
  out << Format("%08llX %s%3u %-20s %-5s %8lld %5lld",
                static_cast<unsigned long long>(info.Position), indent.c_str(), code, TagName(code),
                info.LongHeader ? "long" : "short", static_cast<long long>(info.Length),
                static_cast<long long>(info.FrameNum));
  TSWFDescription d;
  if (const TSWFObject* obj = info.Object()) obj->Describe(d);
  // A description may already show a name in UTF-8; only the rest is Windows-1252.
  auto text = [cp1252](const std::string& s) { return cp1252 && !IsUtf8(s) ? Cp1252ToUtf8(s) : s; };
  if (!d.Fields.empty()) out << "  " << text(d.Fields);
  out << "\n";
  for (const auto& [lineDepth, line] : d.Lines) {
    out << std::string(9 + 2 * (depth + lineDepth + 1), ' ') << text(line) << "\n";
  }
  for (const auto& sub : info.SubTags) ListTag(*sub, depth + 1, cp1252, out);
}

// Entries whose body could not be read, sprites' inner tags included.
std::size_t CountErrors(const std::vector<std::unique_ptr<TSWFTagInfo>>& list) {
  std::size_t errors = 0;
  for (const auto& info : list) errors += (info->Error() ? 1 : 0) + CountErrors(info->SubTags);
  return errors;
}

// Tags inside obj (a sprite's timeline, nested ones included) that could not be read.
std::size_t CountInnerErrors(const TSWFObject& obj) {
  std::size_t errors = 0;
  if (const TSWFObjectList* inner = obj.InnerTags()) {
    for (const auto& tag : *inner) {
      if (!tag) continue;
      const auto* error = dynamic_cast<const TSWFErrorTag*>(tag.get());
      const bool failed = error && !error->ErrorMessage.empty();
      errors += (failed ? 1 : 0) + CountInnerErrors(*tag);
    }
  }
  return errors;
}

// Warnings of a rewrite, in the order RebuildMovie gives them.
std::vector<std::string> RewriteWarnings(const TSWFStreamReader& reader, std::size_t errors) {
  std::vector<std::string> warnings = reader.Warnings;
  if (reader.TrailingBytes() > 0) {
    warnings.push_back(std::to_string(reader.TrailingBytes()) +
                       " byte(s) at the end form no tag and were copied unchanged");
  }
  if (errors > 0) {
    warnings.push_back(std::to_string(errors) +
                       " tag(s) could not be read and were copied unchanged");
  }
  return warnings;
}

void ApplyCompression(TSWFStreamReader& reader, TRewriteCompression compression) {
  if (compression != TRewriteCompression::Keep) {
    reader.SetCompressed(compression == TRewriteCompression::Compressed);
  }
}

// The stored bytes of an entry as far as the body holds them.
std::pair<std::uint64_t, std::uint64_t> StoredRange(TSWFStreamReader& reader,
                                                    const TSWFTagInfo& info) {
  const std::uint64_t size = reader.BodySize();
  const std::uint64_t start = std::min<std::uint64_t>(info.Position, size);
  return {start, std::min<std::uint64_t>(info.StoredSize(), size - start)};
}

void WriteListingHeader(const TSWFStreamReader& reader, const std::string& fileName,
                        std::ostream& out) {
  const TRect& f = reader.FrameSize;
  out << "File:        " << fileName << "\n";
  out << "Signature:   " << std::string(reader.Signature(), 3)
      << (reader.Compressed() ? " (compressed)" : " (plain)") << "\n";
  out << "Version:     " << int(reader.Version()) << "\n";
  out << "File length: " << reader.FileLength() << "\n";
  out << Format("Frame size:  %d,%d - %d,%d twips (%g x %g pixels)\n", f.Left, f.Top, f.Right,
                f.Bottom, (double(f.Right) - f.Left) / 20.0, (double(f.Bottom) - f.Top) / 20.0);
  out << Format("Frame rate:  %g fps\n", static_cast<double>(reader.GetFPS()));
  out << "Frame count: " << reader.FrameCount << "\n";
  out << "Tags:        " << reader.TagList.size() << "\n";
  if (reader.TrailingBytes() > 0) {
    out << "Trailing:    " << reader.TrailingBytes() << " byte(s) at the end form no tag\n";
  }
  out << "  offset code name                 head      body frame  fields\n";
}

}  // namespace

void WriteMovieListing(const TSWFStreamReader& reader, const std::string& fileName,
                       std::ostream& out) {
  WriteListingHeader(reader, fileName, out);
  const bool cp1252 = reader.Version() < 6;
  for (const auto& info : reader.TagList) ListTag(*info, 0, cp1252, out);
}

void WriteMovieListingTagByTag(TSWFStreamReader& reader, const std::string& fileName,
                               std::ostream& out) {
  reader.ParseTags(false, true);
  WriteListingHeader(reader, fileName, out);
  const bool cp1252 = reader.Version() < 6;
  TSWFReadContext context = reader.NewReadContext(true);
  context.Charge(reader.BodyHeld() + reader.TagList.size() * (sizeof(TSWFTagInfo) + 32));
  for (const auto& info : reader.TagList) {
    // What one tag costs is given back once it is listed and dropped.
    const std::uint64_t used = context.MemoryUsed;
    reader.ReadEntry(*info, context);
    ListTag(*info, 0, cp1252, out);
    info->SubTags.clear();
    info->SWFObject.reset();
    context.MemoryUsed = used;
  }
}

std::vector<std::string> RebuildMovie(TSWFStreamReader& reader, TRewriteCompression compression) {
  // The version is settled before the body is made: tags are written for the movie's version.
  ApplyCompression(reader, compression);
  std::vector<std::string> warnings = RewriteWarnings(reader, CountErrors(reader.TagList));
  reader.MakeStream();
  return warnings;
}

TMovieRewrite PlanMovieRewrite(TSWFStreamReader& reader, TRewriteCompression compression) {
  // The index costs little; the tags are read one at a time below.
  reader.ParseTags(false, true);
  // The tags are read as the loaded file's version gives them, as a parse before the rewrite
  // reads them: compressing may raise the version, and a name read as version 6 would be taken
  // for UTF-8 (and then not converted when written).
  TSWFReadContext context = reader.NewReadContext(true);
  ApplyCompression(reader, compression);
  TMovieRewrite plan;
  plan.TagCount = reader.TagList.size();
  plan.Changed.resize(plan.TagCount);
  context.Charge(reader.BodyHeld() + plan.TagCount * (sizeof(TSWFTagInfo) + 32));
  TMemoryStream record;
  std::vector<std::uint8_t> storedBytes;
  TBitsEngine be(record);
  be.SWFVersion = reader.Version();
  be.Cp1252StringsToUtf8 =
      reader.LoadedVersion() != 0 && reader.LoadedVersion() < 6 && reader.Version() >= 6;
  std::size_t errors = 0;
  for (std::size_t i = 0; i < plan.TagCount; ++i) {
    const TSWFTagInfo& info = *reader.TagList[i];
    const auto [start, stored] = StoredRange(reader, info);
    // What one tag costs is given back once it is written and dropped.
    const std::uint64_t used = context.MemoryUsed;
    bool accept = true;
    if (reader.OnCreateTagObject) reader.OnCreateTagObject(reader.GetTagInfo(i), accept);
    std::unique_ptr<TSWFObject> tag =
        accept ? reader.ReadTagObject(info, context, &storedBytes) : nullptr;
    if (!tag) {
      plan.BodySize += stored;
      context.MemoryUsed = used;
      continue;
    }
    if (const auto* error = dynamic_cast<const TSWFErrorTag*>(tag.get())) {
      errors += error->ErrorMessage.empty() ? 0 : 1;
    }
    errors += CountInnerErrors(*tag);
    record.SetSize(0);
    tag->WriteToStream(be);
    tag.reset();
    context.MemoryUsed = used;
    plan.BodySize += record.Size();
    const bool same = record.Size() == stored && storedBytes.size() == stored &&
                      std::memcmp(record.Data(), storedBytes.data(), stored) == 0;
    if (!same) plan.Changed[i] = record.Bytes();
  }
  plan.BodySize += reader.TrailingBytes();
  plan.Warnings = RewriteWarnings(reader, errors);
  return plan;
}

void WriteMovieRewrite(TSWFStreamReader& reader, const TMovieRewrite& plan, TStream& stream) {
  // In file order, so a body still in its file is read forward once.
  TStream& body = reader.BodyStream();
  reader.SaveToStream(stream, plan.BodySize, [&](TStream& out) {
    for (std::size_t i = 0; i < plan.TagCount; ++i) {
      if (!plan.Changed[i].empty()) {
        out.Write(plan.Changed[i].data(), plan.Changed[i].size());
        continue;
      }
      const auto [start, stored] = StoredRange(reader, *reader.TagList[i]);
      body.SetPosition(start);
      out.CopyFrom(body, stored);
    }
    const std::uint64_t trailing = reader.TrailingBytes();
    body.SetPosition(body.Size() - trailing);
    out.CopyFrom(body, trailing);
  });
}

void SaveMovieRewrite(TSWFStreamReader& reader, const TMovieRewrite& plan,
                      const std::string& fileName) {
  SaveFileSafely(fileName, [&](TStream& file) { WriteMovieRewrite(reader, plan, file); });
}

}  // namespace kestrova
