#include <cstdio>
#include <exception>

#include "app/Commands.h"
#include "swfstreams/SWFStreams.h"

namespace kestrova {

namespace {

std::string Format(const char* format, auto... values) {
  char buf[256];
  std::snprintf(buf, sizeof buf, format, values...);
  return buf;
}

// Loads a file into the reader; on failure prints one line and returns false.
bool Load(TSWFStreamReader& reader, const std::string& fileName, std::ostream& err) {
  try {
    reader.LoadFromFile(fileName);
  } catch (const std::exception& e) {
    // File system errors name the file themselves; a damaged file's errors do not.
    const std::string what = e.what();
    err << "kestrova: ";
    if (what.find(fileName) == std::string::npos) err << "cannot read \"" << fileName << "\": ";
    err << what << "\n";
    return false;
  }
  if (!reader.IsValid) {
    err << "kestrova: \"" << fileName << "\" is not a SWF file\n";
    return false;
  }
  return true;
}

void DumpTag(const TSWFTagInfo& info, int depth, std::ostream& out) {
  const std::string indent(2 * depth, ' ');
  const TSWFObject* obj = info.Object();
  const std::uint16_t code = static_cast<std::uint16_t>(info.TagID);
  out << Format("%08X %s%3u %-20s %-5s %8d %5d", static_cast<unsigned>(info.Position),
                indent.c_str(), code, TagName(code), info.LongHeader ? "long" : "short",
                info.Length, info.FrameNum);
  TSWFDescription d;
  if (obj) obj->Describe(d);
  if (!d.Fields.empty()) out << "  " << d.Fields;
  out << "\n";
  for (const auto& [lineDepth, text] : d.Lines) {
    out << std::string(9 + 2 * (depth + lineDepth + 1), ' ') << text << "\n";
  }
  for (const auto& sub : info.SubTags) DumpTag(*sub, depth + 1, out);
}

}  // namespace

int RunDump(const std::string& fileName, std::ostream& out, std::ostream& err) {
  TSWFStreamReader reader;
  if (!Load(reader, fileName, err)) return 1;
  reader.ParseTags(true, true);
  const TRect& f = reader.FrameSize;
  out << "File:        " << fileName << "\n";
  out << "Signature:   " << std::string(reader.Signature(), 3)
      << (reader.Compressed() ? " (compressed)" : " (plain)") << "\n";
  out << "Version:     " << int(reader.Version()) << "\n";
  out << "File length: " << reader.FileLength() << "\n";
  out << Format("Frame size:  %d,%d - %d,%d twips (%g x %g pixels)\n", f.Left, f.Top, f.Right,
                f.Bottom, (double(f.Right) - f.Left) / 20.0, (double(f.Bottom) - f.Top) / 20.0);
  out << Format("Frame rate:  %g fps\n", reader.GetFPS());
  out << "Frame count: " << reader.FrameCount << "\n";
  out << "Tags:        " << reader.TagList.size() << "\n";
  if (reader.TrailingBytes() > 0) {
    out << "Trailing:    " << reader.TrailingBytes() << " byte(s) at the end form no tag\n";
  }
  out << "  offset code name                 head      body frame  fields\n";
  for (const auto& info : reader.TagList) DumpTag(*info, 0, out);
  return 0;
}

int RunRewrite(const std::string& inName, const std::string& outName, int compression,
               std::ostream& out, std::ostream& err) {
  TSWFStreamReader reader;
  if (!Load(reader, inName, err)) return 1;
  try {
    reader.ParseTags(true, true);
    // A tag that could not be read would come out as an empty error tag: its stored bytes are
    // copied unchanged instead, so the rewrite loses nothing.
    std::size_t errors = 0;
    for (auto& info : reader.TagList) {
      if (info->TagID != TSWFErrorTag::kTagID) continue;
      ++errors;
      info->TagID =
          static_cast<std::int16_t>(static_cast<const TSWFErrorTag&>(*info->SWFObject).FailedTagID);
      info->SWFObject.reset();
    }
    if (reader.TrailingBytes() > 0) {
      err << "kestrova: warning: " << reader.TrailingBytes() << " byte(s) at the end of \""
          << inName << "\" form no tag and were copied unchanged\n";
    }
    if (errors > 0) {
      err << "kestrova: warning: " << errors << " tag(s) of \"" << inName
          << "\" could not be read and were copied unchanged\n";
    }
    reader.MakeStream();
    if (compression >= 0) reader.SetCompressed(compression == 1);
    reader.SaveToFile(outName);
  } catch (const std::exception& e) {
    err << "kestrova: " << e.what() << "\n";
    return 1;
  }
  out << "Wrote " << outName << " (" << reader.TagList.size() << " tags, "
      << (reader.Compressed() ? "compressed" : "plain") << ", " << reader.FileLength()
      << " bytes uncompressed)\n";
  return 0;
}

int DumpCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1) return UsageError("dump", err);
  return RunDump(args[0], out, err);
}

int RewriteCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 2 && args.size() != 3) return UsageError("rewrite", err);
  int compression = -1;
  if (args.size() == 3) {
    if (args[2] == "--compress") {
      compression = 1;
    } else if (args[2] == "--plain") {
      compression = 0;
    } else {
      return UsageError("rewrite", err, "unknown option \"" + args[2] + "\"");
    }
  }
  return RunRewrite(args[0], args[1], compression, out, err);
}

}  // namespace kestrova
