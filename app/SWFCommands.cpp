#include <exception>
#include <new>

#include "app/CommandLine.h"
#include "app/Commands.h"
#include "swfstreams/MovieTools.h"
#include "swfstreams/SWFStreams.h"

namespace kestrova {

namespace {

// Loads a file into the reader; on failure prints one line and returns false.
bool Load(TSWFStreamReader& reader, const std::string& fileName, std::ostream& err) {
  try {
    reader.LoadFromFile(fileName);
  } catch (const std::bad_alloc&) {
    err << "kestrova: cannot read \"" << fileName << "\": out of memory\n";
    return false;
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

}  // namespace

int RunDump(const std::string& fileName, std::ostream& out, std::ostream& err) {
  TSWFStreamReader reader;
  if (!Load(reader, fileName, err)) return 1;
  try {
    for (const auto& warning : reader.Warnings) {
      err << "kestrova: warning: \"" << fileName << "\": " << warning << "\n";
    }
    // Tag by tag: a long movie is listed holding its body and one tag, not every tag at once.
    WriteMovieListingTagByTag(reader, fileName, out);
  } catch (const std::bad_alloc&) {
    err << "kestrova: cannot read \"" << fileName << "\": out of memory\n";
    return 1;
  } catch (const std::exception& e) {
    err << "kestrova: cannot read \"" << fileName << "\": " << e.what() << "\n";
    return 1;
  }
  return 0;
}

int RunRewrite(const std::string& inName, const std::string& outName, int compression,
               std::ostream& out, std::ostream& err) {
  TSWFStreamReader reader;
  if (!Load(reader, inName, err)) return 1;
  TMovieRewrite plan;
  try {
    const auto choice = compression < 0    ? TRewriteCompression::Keep
                        : compression == 1 ? TRewriteCompression::Compressed
                                           : TRewriteCompression::Plain;
    // Tag by tag: the rewrite holds the movie once, not its objects and a second body besides.
    plan = PlanMovieRewrite(reader, choice);
    for (const auto& warning : plan.Warnings) {
      err << "kestrova: warning: \"" << inName << "\": " << warning << "\n";
    }
    SaveMovieRewrite(reader, plan, outName);
  } catch (const std::bad_alloc&) {
    err << "kestrova: out of memory while rewriting \"" << inName << "\"\n";
    return 1;
  } catch (const std::exception& e) {
    err << "kestrova: " << e.what() << "\n";
    return 1;
  }
  out << "Wrote " << outName << " (" << plan.TagCount << " tags, "
      << (reader.Compressed() ? "compressed" : "plain") << ", " << reader.FileLength()
      << " bytes uncompressed)\n";
  return 0;
}

namespace {

struct TDumpOptions {
  std::string File;
};

void DeclareDump(CLI::App& app, TDumpOptions& o) {
  AddArgument(app, "FILE.swf", o.File, "the movie to list")->required();
}

struct TRewriteOptions {
  std::string In, Out;
  int Compression = -1;  // -1 keep, 0 plain, 1 compressed
};

void DeclareRewrite(CLI::App& app, TRewriteOptions& o) {
  AddArgument(app, "IN.swf", o.In, "the movie read")->required();
  AddArgument(app, "OUT.swf", o.Out, "the movie written")->required();
  CLI::Option* compress = app.add_flag_callback(
      "--compress", [&o] { o.Compression = 1; }, "write the body compressed (zlib)");
  CLI::Option* plain = app.add_flag_callback(
      "--plain", [&o] { o.Compression = 0; }, "write the body uncompressed");
  compress->excludes(plain);
}

}  // namespace

std::shared_ptr<void> DumpOptions(CLI::App& app) {
  return DeclareWith<TDumpOptions, DeclareDump>(app);
}

std::shared_ptr<void> RewriteOptions(CLI::App& app) {
  return DeclareWith<TRewriteOptions, DeclareRewrite>(app);
}

int DumpCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TDumpOptions o;
  if (int status = ReadArguments("dump", DeclareDump, args, o, err); status != 0) return status;
  return RunDump(o.File, out, err);
}

int RewriteCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TRewriteOptions o;
  if (int status = ReadArguments("rewrite", DeclareRewrite, args, o, err); status != 0) {
    return status;
  }
  return RunRewrite(o.In, o.Out, o.Compression, out, err);
}

}  // namespace kestrova
